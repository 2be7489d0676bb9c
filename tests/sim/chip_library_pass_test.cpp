// The chip reached the way the library reaches it: a pass programme
// encoded into a command block, submitted with StartRender on a simulated
// board, and the result read back from board memory.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "board/board_buffer_fixture.h"
#include "board/kwb_command_buffer.h"
#include "tulx7/chip_codes.h"
#include "tulx7/register_map.h"
#include "tulx7sim/rendering_chip.h"

namespace ulm3 {
namespace {

constexpr int64_t kOne = int64_t{1} << 40;

using Op = NKW7_AluOp;
constexpr uint32_t kUnsigned = NKW7_Code(NKW7_FieldControl::UnsignedFraction);
// Four 8-bit fields at bits 0, 8, 16 and 24.
constexpr uint32_t kByteFields = NKW7_FieldCodeAt(NKW7_FieldCode(kUnsigned, 8, 0), 0) |
                                 NKW7_FieldCodeAt(NKW7_FieldCode(kUnsigned, 8, 8), 1) |
                                 NKW7_FieldCodeAt(NKW7_FieldCode(kUnsigned, 8, 16), 2) |
                                 NKW7_FieldCodeAt(NKW7_FieldCode(kUnsigned, 8, 24), 3);
constexpr uint32_t kTwelveBitTables = NKW7_SameFieldCodes(NKW7_FieldCode(kUnsigned, 12, 0));
constexpr uint32_t kTrilinear = NKW7_FIELD(InterpolateControl, interpolate0, NKW7_Interpolation::Trilinear) |
                                NKW7_FIELD(InterpolateControl, interpolate1, NKW7_Interpolation::Trilinear) |
                                NKW7_FIELD(InterpolateControl, interpolate2, NKW7_Interpolation::Trilinear) |
                                NKW7_FIELD(InterpolateControl, interpolate3, NKW7_Interpolation::Trilinear);
constexpr uint32_t kNoDepth = NKW7_FIELD(DepthControl, testFirst, NKW7_DepthTest::Pass) |
                              NKW7_FIELD(DepthControl, testLast, NKW7_DepthTest::Pass) |
                              NKW7_FIELD(DepthControl, updateFirst_direction, NKW7_DirectionFilter::RejectAll) |
                              NKW7_FIELD(DepthControl, updateLast_direction, NKW7_DirectionFilter::RejectAll);
constexpr uint32_t kBypassAll = NKW7_FIELD(RenderOperation, bypass0, NKW7_TableBypass::Bypass) |
                                NKW7_FIELD(RenderOperation, bypass1, NKW7_TableBypass::Bypass) |
                                NKW7_FIELD(RenderOperation, bypass2, NKW7_TableBypass::Bypass) |
                                NKW7_FIELD(RenderOperation, bypass3, NKW7_TableBypass::Bypass);

class ChipLibraryPassTest : public test_support::BoardBufferTest {
protected:
    void SetPixel(const KWBBuffer* buffer, int x, int y, std::array<uint8_t, 4> rgba) {
        const tulx7sim::BufferInfo info = Info(buffer);
        ASSERT_TRUE(tulx7sim::WriteBufferMemory(buffer->GetDriverID(), StorageIndex(info, x, y),
                                                rgba.data(), 4));
    }
    std::array<uint8_t, 4> Pixel(const KWBBuffer* buffer, int x, int y) {
        const std::vector<uint8_t> bytes = Storage(buffer);
        std::array<uint8_t, 4> rgba{};
        std::memcpy(rgba.data(), bytes.data() + StorageIndex(Info(buffer), x, y), 4);
        return rgba;
    }
};

// Boards 0 and 1 each resample a 4 x 2 source to 2 x 1 at once, so that the
// two boards' workers render side by side.
TEST_F(ChipLibraryPassTest, AHalvingResamplePassWritesTheBoxMeans) {
    KWBBuffer* sources[2] = {Make(0, 4, 2, 0, 32), Make(1, 4, 2, 0, 32)};
    KWBBuffer* targets[2] = {Make(0, 2, 1, 0, 32), Make(1, 2, 1, 0, 32)};
    const std::array<uint8_t, 4> row0[4] = {{10, 0, 0, 255}, {20, 100, 0, 255}, {30, 50, 7, 0}, {40, 51, 8, 0}};
    const std::array<uint8_t, 4> row1[4] = {{30, 200, 0, 255}, {40, 100, 0, 255}, {50, 52, 9, 0}, {60, 54, 10, 0}};
    for (KWBBuffer* source : sources) {
        for (int x = 0; x < 4; ++x) {
            SetPixel(source, x, 0, row0[x]);
            SetPixel(source, x, 1, row1[x]);
        }
        source->SetRange(KWBRange(0, 0, 3, 1));
    }

    // Pixel centres two source pixels apart from (0.5, 0.5), bilinear,
    // the four 8-bit fields straight through to the target's.
    const std::vector<std::pair<uint32_t, uint64_t>> writes = {
        {NKW7_Scratch7_Addr, 0},
        {NKW7_ViewFrustumRangeMin_Addr, 0},
        {NKW7_ViewFrustumRangeMax_Addr, 1},
        {NKW7_Transform_Addr,
         NKW7_FIELD(Transform, selectX, 0) | NKW7_FIELD(Transform, selectY, 1) | NKW7_FIELD(Transform, selectZ, 2)},
        {NKW7_Image0FieldSel_Addr, kByteFields},
        {NKW7_Image1FieldSel_Addr, 0},
        {NKW7_CutPlaneControl_Addr, 0},
        {NKW7_CropControl_Addr, 0},
        {NKW7_TrimRangeXmin_Addr, static_cast<uint32_t>(-128)},
        {NKW7_TrimRangeXmax_Addr, 3 * 256 + 128},
        {NKW7_TrimRangeYmin_Addr, static_cast<uint32_t>(-128)},
        {NKW7_TrimRangeYmax_Addr, 256 + 128},
        {NKW7_TrimRangeZmin_Addr, 0},
        {NKW7_TrimRangeZmax_Addr, 0},
        {NKW7_OriginXv8_Addr, kOne / 2},
        {NKW7_OriginYv8_Addr, kOne / 2},
        {NKW7_OriginZv8_Addr, 0},
        {NKW7_dXv8_dXs_Addr, 2 * kOne},
        {NKW7_dYv8_dYs_Addr, 2 * kOne},
        {NKW7_dZv8_dZs_Addr, kOne},
        {NKW7_VoxelFormat_Addr, kByteFields},
        {NKW7_VoxelBorder_Addr, 0},
        {NKW7_LookupTableFormat0_Addr, kTwelveBitTables},
        {NKW7_LookupTableFormat1_Addr, kTwelveBitTables},
        {NKW7_LookupTableFormat2_Addr, kTwelveBitTables},
        {NKW7_LookupTableFormat3_Addr, kTwelveBitTables},
        {NKW7_Alu0_Addr, NKW7_AluWord(Op::A, Op::B, Op::Zero, Op::Zero)},
        {NKW7_Alu1_Addr, NKW7_AluWord(Op::Zero, Op::Zero, Op::A, Op::B)},
        {NKW7_Alu2_Addr, NKW7_AluWord(Op::A, Op::A, Op::B, Op::B)},
        {NKW7_EyeVector_Addr, NKW7_FIELD(EyeVector, w, 511)},
        {NKW7_LightingCoefficient_Addr, NKW7_FIELD(LightingCoefficient, kEmissive, 255)},
        {NKW7_GradientMagnitudeModulation_Addr, NKW7_FIELD(GradientMagnitudeModulation, upperRangeDefault, 1)},
        {NKW7_ImageAccumValue_Addr, 0},
        {NKW7_ImageLastValue_Addr, 0},
        {NKW7_InterpolateControl_Addr, kTrilinear},
        {NKW7_GradientControl_Addr, NKW7_FIELD(GradientControl, estimationFunction, NKW7_GradientEstimation::Central)},
        {NKW7_DepthControl_Addr, kNoDepth},
        {NKW7_ImageControl_Addr, NKW7_FIELD(ImageControl, write, NKW7_ImageWrite::Image0) |
                                     NKW7_FIELD(ImageControl, blendAccum, NKW7_BlendMode::Replace)},
        {NKW7_RenderOperation_Addr, kBypassAll | NKW7_FIELD(RenderOperation, opcode, NKW7_RenderOpcode::Render) |
                                        NKW7_FIELD(RenderOperation, incrOnDone, NKW7_IncrOnDoneScratch(7))},
    };
    tulx7sim::ClearChipDiagnostics();
    ULMSyncEvent done[2];
    for (int b = 0; b < 2; ++b) {
        std::unique_ptr<KWBCommandBuffer> commands(Board(b)->CreateCommandBuffer(1000));
        uint32_t id = 0, size = 0;
        ASSERT_EQ(commands->StartBlock(id), kULMOK);
        for (const auto& [address, value] : writes) {
            const ULMStatus status = NKW7_RegisterWidth(address) == 64
                                         ? commands->WriteRegister64(address, value)
                                         : commands->WriteRegister32(address, static_cast<uint32_t>(value));
            ASSERT_EQ(status, kULMOK) << std::hex << address;
        }
        ASSERT_EQ(commands->Sync(NKW7_Scratch7_Addr, NKW7_CommandHeader_test_greater, 0, false), kULMOK);
        ASSERT_EQ(commands->FinishBlock(size), kULMOK);
        done[b] = Board(b)->StartRender(ULMSyncEvent(), commands.get(), id, size, nullptr, 0, 0, sources[b],
                                        targets[b], nullptr, nullptr, nullptr, 1, nullptr, nullptr, nullptr,
                                        nullptr, nullptr);
    }
    for (int b = 0; b < 2; ++b) {
        SCOPED_TRACE(b);
        ASSERT_EQ(done[b].Wait(-1), kULMOK);
        // Means of the 2 x 2 boxes, halves rounded up: green (50 + 51 + 52 + 54) / 4
        // = 51.75 and blue (7 + 8 + 9 + 10) / 4 = 8.5.
        EXPECT_EQ(Pixel(targets[b], 0, 0), (std::array<uint8_t, 4>{25, 100, 0, 255}));
        EXPECT_EQ(Pixel(targets[b], 1, 0), (std::array<uint8_t, 4>{45, 52, 9, 0}));
        EXPECT_EQ(tulx7sim::GetChipDiagnostics(b).Total(), 0u);
    }
}


}  // namespace
}  // namespace ulm3
