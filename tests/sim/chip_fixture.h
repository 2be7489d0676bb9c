// The rendering chip driven directly: host-owned arrays bound as a render
// job, the slots' array registers set as the board's driver sets them, and
// a register programme on top, shaped like the board's image passes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tulx7/chip_codes.h"
#include "tulx7/driver_requests.h"
#include "tulx7/register_map.h"
#include "tulx7sim/command_executor.h"
#include "tulx7sim/rendering_chip.h"

namespace tulx7sim::test {

inline constexpr int64_t kOne = int64_t{1} << 40;  // 1.0 voxel in an S23.40 register

// An array in host memory: storage of size[0] x size[1] x size[2] elements.
struct HostArray {
    HostArray(int axes, int32_t su, int32_t sv, int32_t sw, int bytes, uint32_t id)
        : data(static_cast<size_t>(su) * sv * sw * bytes) {
        bound.bound = true;
        bound.bufferId = id;
        bound.dimension = axes - 1;
        bound.elementBytes = bytes;
        bound.size[0] = su;
        bound.size[1] = sv;
        bound.size[2] = sw;
        bound.rangeMax[0] = su - 1;
        bound.rangeMax[1] = axes > 1 ? sv - 1 : 0;
        bound.rangeMax[2] = axes > 2 ? sw - 1 : 0;
    }
    size_t Offset(int qu, int qv = 0, int qw = 0) const {
        return ((static_cast<size_t>(qw) * bound.size[1] + qv) * bound.size[0] + qu) * bound.elementBytes;
    }
    uint64_t Get(int qu, int qv = 0, int qw = 0) const {
        uint64_t word = 0;
        std::memcpy(&word, data.data() + Offset(qu, qv, qw), static_cast<size_t>(bound.elementBytes));
        return word;
    }
    void Set(int qu, int qv, int qw, uint64_t word) {
        std::memcpy(data.data() + Offset(qu, qv, qw), &word, static_cast<size_t>(bound.elementBytes));
    }
    void SetRange(int32_t u0, int32_t v0, int32_t w0, int32_t u1, int32_t v1, int32_t w1) {
        const int32_t lo[3] = {u0, v0, w0}, hi[3] = {u1, v1, w1};
        for (int a = 0; a < 3; ++a) {
            bound.rangeMin[a] = lo[a];
            bound.rangeMax[a] = hi[a];
        }
    }
    // Attaches the bytes; call once the array has its final place.
    BoundArray& Bind() {
        bound.data = data.data();
        bound.byteCount = data.size();
        return bound;
    }

    std::vector<uint8_t> data;
    BoundArray bound;
};

// Three values packed as the 16-bit axes of a frustum or range register.
constexpr uint64_t Axes(uint64_t x, uint64_t y, uint64_t z) {
    return (x & 0xFFFF) | (y & 0xFFFF) << 16 | (z & 0xFFFF) << 32;
}

class ChipTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearChipDiagnostics();
        m_job.board = 0;
        m_job.writeMask = 0xF;
        PassProgramme();
    }

    // The fixed words of the board's image resample: identity transform,
    // one slice at Zv 0, bypassed tables routed field i -> channel i,
    // emissive 1, trilinear with border, replace into image 0.
    void PassProgramme() {
        Set(NKW7_Transform_Addr, NKW7_FIELD(Transform, selectX, 0) | NKW7_FIELD(Transform, selectY, 1) |
                                     NKW7_FIELD(Transform, selectZ, 2));
        Set(NKW7_Image1FieldSel_Addr, NKW7_NoFields);
        Set(NKW7_dXv8_dXs_Addr, kOne);
        Set(NKW7_dYv8_dYs_Addr, kOne);
        Set(NKW7_dZv8_dZs_Addr, kOne);
        const uint32_t twelveBits = NKW7_FieldCode(NKW7_Code(NKW7_FieldControl::UnsignedFraction), 12, 0);
        for (uint32_t a = NKW7_LookupTableFormat0_Addr; a <= NKW7_LookupTableFormat3_Addr; a += 4)
            Set(a, NKW7_SameFieldCodes(twelveBits));
        using Op = NKW7_AluOp;
        Set(NKW7_Alu0_Addr, NKW7_AluWord(Op::A, Op::B, Op::Zero, Op::Zero));
        Set(NKW7_Alu1_Addr, NKW7_AluWord(Op::Zero, Op::Zero, Op::A, Op::B));
        Set(NKW7_Alu2_Addr, NKW7_AluWord(Op::A, Op::A, Op::B, Op::B));
        Set(NKW7_EyeVector_Addr, NKW7_FIELD(EyeVector, w, 511));
        Set(NKW7_LightingCoefficient_Addr, NKW7_FIELD(LightingCoefficient, kEmissive, 255));
        Set(NKW7_GradientMagnitudeModulation_Addr, NKW7_FIELD(GradientMagnitudeModulation, upperRangeDefault, 1));
        uint32_t interpolate = 0;
        for (int i = 0; i < 4; ++i)
            interpolate |=
                NKW7_FIELD_AT(InterpolateControl, interpolate0, interpolate1, i, NKW7_Interpolation::Trilinear);
        Set(NKW7_InterpolateControl_Addr, interpolate);
        Set(NKW7_GradientControl_Addr,
            NKW7_FIELD(GradientControl, estimationFunction, NKW7_GradientEstimation::Central));
        Set(NKW7_DepthControl_Addr,
            NKW7_FIELD(DepthControl, testFirst, NKW7_DepthTest::Pass) |
                NKW7_FIELD(DepthControl, testLast, NKW7_DepthTest::Pass) |
                NKW7_FIELD(DepthControl, updateFirst_direction, NKW7_DirectionFilter::RejectAll) |
                NKW7_FIELD(DepthControl, updateLast_direction, NKW7_DirectionFilter::RejectAll));
        ImageControl(NKW7_ImageWrite::Image0, NKW7_BlendMode::Replace);
        uint32_t operation = NKW7_FIELD(RenderOperation, opcode, NKW7_RenderOpcode::Render) |
                             NKW7_FIELD(RenderOperation, incrOnDone, NKW7_IncrOnDoneScratch(7));
        for (int i = 0; i < 4; ++i)
            operation |= NKW7_FIELD_AT(RenderOperation, bypass0, bypass1, i, NKW7_TableBypass::Bypass);
        Set(NKW7_RenderOperation_Addr, operation);
    }

    void Set(uint32_t address, uint64_t value) { m_writes[address] = value; }
    uint64_t Get(uint32_t address) const {
        const auto found = m_writes.find(address);
        return found == m_writes.end() ? 0 : found->second;
    }

    // The frustum, inclusive; trims in 1/256 voxel, inclusive.
    void Frustum(uint32_t x0, uint32_t y0, uint32_t z0, uint32_t x1, uint32_t y1, uint32_t z1) {
        Set(NKW7_ViewFrustumRangeMin_Addr, Axes(x0, y0, z0));
        Set(NKW7_ViewFrustumRangeMax_Addr, Axes(x1, y1, z1));
    }
    void Trims(int32_t x0, int32_t x1, int32_t y0, int32_t y1, int32_t z0, int32_t z1) {
        const int32_t values[6] = {x0, x1, y0, y1, z0, z1};
        for (int i = 0; i < 6; ++i)
            Set(NKW7_TrimRangeXmin_Addr + 4 * static_cast<uint32_t>(i), static_cast<uint32_t>(values[i]));
    }
    // Codes beyond the named ones (the reserved blend modes) pass as
    // static_cast<NKW7_BlendMode>(code).
    void ImageControl(NKW7_ImageWrite write, NKW7_BlendMode blendAccum, NKW7_BlendMode blendLast = NKW7_BlendMode::None,
                      bool initAccum = false, bool initLast = false, bool volumeOutput = false) {
        Set(NKW7_ImageControl_Addr, NKW7_FIELD(ImageControl, initLast, initLast) |
                                        NKW7_FIELD(ImageControl, initAccum, initAccum) |
                                        NKW7_FIELD(ImageControl, write, write) |
                                        NKW7_FIELD(ImageControl, dimensions, volumeOutput) |
                                        NKW7_FIELD(ImageControl, blendAccum, blendAccum) |
                                        NKW7_FIELD(ImageControl, blendLast, blendLast));
    }

    // Sets the slots' array registers from the job, as the board's driver
    // does, then the programme, then renders.
    int32_t Render() {
        m_registers.Clear();
        ResetChipRegisters(m_registers);
        CommandExecutor(m_registers, *m_chip, m_job).LoadArrayRegisters();
        for (const auto& [address, value] : m_writes) {
            if (NKW7_RegisterWidth(address) == 64)
                m_registers.Write64(address, value);
            else
                m_registers.Write32(address, static_cast<uint32_t>(value));
        }
        m_diagnostic.clear();
        ChipDiagnostics counts;
        const int32_t status = m_chip->Render(m_job, m_registers, counts, m_diagnostic);
        AddChipDiagnostics(m_job.board, counts);
        return status;
    }

    void RenderOk() { ASSERT_EQ(Render(), TULX7_DR_STATUS_SUCCESS) << m_diagnostic; }

    static ChipDiagnostics Diagnostics() { return GetChipDiagnostics(0); }

    std::shared_ptr<ChipModel> m_chip = MakeRenderingChip();
    RenderJob m_job;
    RegisterFile m_registers;
    std::map<uint32_t, uint64_t> m_writes;
    std::string m_diagnostic;
};

}  // namespace tulx7sim::test
