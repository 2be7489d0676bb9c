// The volume-buffer resample pass: its register programme, its voxels
// against host references, and its refusals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <vector>

#include "context/classifier_internal.h"
#include "resample/volume_resample_pass.h"
#include "ulm3/classifier.h"
#include "volume/volume_fixture.h"

namespace ulm3::testing {
namespace {

constexpr int64_t kOne = int64_t{1} << 40;
const ULMClassifier& Direct() { return ULMClassifierInternal::DirectRGBAClassifier(); }

// The registers of a programme that differ from the expected values.
std::map<uint32_t, uint64_t> Mismatches(const ULMVolumePassSetup& setup, const std::map<uint32_t, uint64_t>& expected) {
    ULMImagePassValues values;
    EXPECT_EQ(VolumeResampleValues(setup, values), kULMOK);
    std::map<uint32_t, uint64_t> wrong;
    for (const ULMPassRegister& r : ULMImagePassProgramme(values))
        if (expected.count(r.address) && expected.at(r.address) != r.value) wrong[r.address] = r.value;
    return wrong;
}

uint64_t Xyz(uint64_t x, uint64_t y, uint64_t z) { return x | y << 16 | z << 32; }

TEST(VolumeResampleProgramme, ASlabFillCopiesBytesThroughExchangedAxes) {
    ULMVolumePassSetup setup;
    // Volume Y 2..37, Z 4..37, X 32..63 into a slab of 36 x 34 x 32; the
    // classifier's formats give way to whole bytes. The X' and Y' trims
    // reach half a voxel beyond the box, where an enlargement's edge
    // voxels sample.
    setup.source = ULMVolumeRange(36, 34, 32, 2, 4, 32);
    setup.output = ULMVolumeRange(36, 34, 32, 0, 0, 0);
    setup.sideways = ULMVolumeInternal::kUnload;
    setup.voxelFormat = 0x0F0F0F10;
    setup.lutFormat[0] = 0x29262320;
    setup.border = 0x55;
    EXPECT_TRUE(Mismatches(setup, {{NKW7_ViewFrustumRangeMin_Addr, 0}, {NKW7_ViewFrustumRangeMax_Addr, Xyz(35, 33, 31)},
                                   {NKW7_Transform_Addr, 0x090}, {NKW7_Image0FieldSel_Addr, 0x16141210},
                                   {NKW7_VoxelFormat_Addr, 0x16141210}, {NKW7_LookupTableFormat0_Addr, 0x20202020},
                                   {NKW7_TrimRangeXmin_Addr, 2 * 256 - 128}, {NKW7_TrimRangeXmax_Addr, 37 * 256 + 128},
                                   {NKW7_TrimRangeZmax_Addr, 63 * 256}, {NKW7_OriginXv8_Addr, 2 * kOne},
                                   {NKW7_OriginZv8_Addr, 32 * kOne}, {NKW7_VoxelBorder_Addr, 0x55},
                                   {NKW7_Section_Addr, 0x505}, {NKW7_ImageControl_Addr, 0x18040000},
                                   {NKW7_RenderOperation_Addr, 0x1F550000}})
                    .empty());
}

TEST(VolumeResampleProgramme, HalvingXAndZSamplesBetweenVoxelPairs) {
    ULMVolumePassSetup setup;
    setup.source = ULMVolumeRange(100, 24, 8, 0, 0, 0);
    setup.output = ULMVolumeRange(50, 24, 4, 0, 0, 0);
    setup.voxelFormat = 0x0F0F0F10;
    setup.lutFormat[2] = 0x29262320;
    setup.interpolateControl = 0x1110;
    setup.bypass = 0x5;  // tables 1 and 3 are on the board
    // 17 samples a section at two voxels apart, 24 at one.
    EXPECT_TRUE(Mismatches(setup, {{NKW7_ViewFrustumRangeMax_Addr, Xyz(49, 23, 3)}, {NKW7_Transform_Addr, 0x240},
                                   {NKW7_LookupTableFormat2_Addr, 0x29262320}, {NKW7_InterpolateControl_Addr, 0x1110},
                                   {NKW7_dXv8_dXs_Addr, 2 * kOne}, {NKW7_OriginXv8_Addr, kOne / 2},
                                   {NKW7_dZv8_dZs_Addr, 2 * kOne}, {NKW7_OriginZv8_Addr, kOne / 2},
                                   {NKW7_TrimRangeXmin_Addr, 0xFFFFFF80}, {NKW7_TrimRangeZmax_Addr, 7 * 256},
                                   {NKW7_Section_Addr, 0x503}, {NKW7_RenderOperation_Addr, 0x1F110000}})
                    .empty());
}

using VolumeResamplePassTest = VolumePassTest;
using Mode = ULMVolumeInternal::sideways;

ULMStatus Pass(ULMVolumeInternal* from, ULMVolume* to, const ULMVolumeRange& source, const ULMVolumeRange& dest,
               Mode mode = ULMVolumeInternal::kOneToOne, const ULMClassifier& c = Direct()) {
    return from->DoStartResampleBuffer(to, source, dest, c, mode, 0, 0).Wait(-1);
}

// A volume of 8-bit field 0 and no voxels, with a buffer on a board unless
// none is asked for.
ULMVolumeInternal* Blank(int bits, const ULMVolumeRange& range, ULMLocation board) {
    const ULMFieldDescriptor byte{0, 8, kULMUnsignedFraction};
    ULMVolumeInternal* v = ULMVolumeInternal::CreateSimpleVolume(bits, range, 1, &byte, nullptr);
    EXPECT_TRUE(board == kULMNoBufferAttached || v->CreateBuffer(board) == kULMOK);
    return v;
}

TEST_F(VolumeResamplePassTest, RefusalsQueueNothing) {
    LockedVolume a;
    Lock(a, 8, ULMVolumeRange(102, 24, 8, 0, 0, 0), kULMBoard0, 1);
    Held<ULMVolumeInternal> d(Blank(8, ULMVolumeRange(50, 24, 8, 0, 0, 0), kULMNoBufferAttached));
    const ULMVolumeRange all(102, 24, 8, 0, 0, 0), out(50, 24, 8, 0, 0, 0);
    const ULMClassifier invalid = ULMClassifier::DirectRGBA(kULMField0, ULMFieldNumber(9), kULMField2, kULMField3);
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(Pass(a.volume, nullptr, all, out), kULMErrVolume);
    EXPECT_EQ(Pass(a.volume, d, all, out, ULMVolumeInternal::kOneToOne, invalid), kULMErrClassifier);
    EXPECT_EQ(Pass(a.volume, d, all, ULMVolumeRange(11, 24, 8, 0, 0, 0)), kULMErrArgument);
    EXPECT_EQ(Pass(a.volume, d, ULMVolumeRange(0, 24, 8, 0, 0, 0), out), kULMErrArgument);
    EXPECT_EQ(Pass(a.volume, d, all, out), kULMErrCantSubsample) << "102 into 50, even as 101 into 50";
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
}

TEST_F(VolumeResamplePassTest, SlabRoundTripIsBitExact) {
    for (int bits : {8, 16, 32}) {
        LockedVolume a, b;
        Lock(a, bits, ULMVolumeRange(40, 36, 34, 0, 0, 0), kULMBoard0, 2);
        Lock(b, bits, ULMVolumeRange(40, 36, 34, 0, 0, 0), kULMBoard0, 3);
        Held<ULMVolumeInternal> slab(Blank(bits, ULMVolumeRange(36, 34, 32, 0, 0, 0), kULMBoard0));
        const ULMVolumeRange box(32, 36, 34, 8, 0, 0);
        ASSERT_EQ(Pass(a.volume, slab, ULMVolumeRange(36, 34, 32, 0, 0, 8), slab->GetRange(), ULMVolumeInternal::kUnload),
                  kULMOK);
        ASSERT_EQ(Pass(slab, b.volume, ULMVolumeRange(32, 36, 34, 0, 0, 0), box, ULMVolumeInternal::kUpdate), kULMOK);
        EXPECT_EQ(BoardVoxels(*b.volume, box), BoardVoxels(*a.volume, box)) << bits << " bits";
    }
}

// 64 x 16 x 32 voxels into 32 x 16 x 16: each output voxel is the mean of
// a pair in X and a pair in Z, whichever board the destination is on.
TEST_F(VolumeResamplePassTest, HalvingGivesPairMeansOnEitherBoard) {
    LockedVolume a;
    Lock(a, 8, ULMVolumeRange(64, 16, 32, 0, 0, 0), kULMBoard0, 4);
    auto in = [&](int x, int y, int z) { return double(a.host[(size_t(z) * 16 + y) * 64 + x]); };
    const size_t buffersBefore = LiveBuffers();
    for (ULMLocation board : {kULMBoard0, kULMBoard1}) {
        Held<ULMVolumeInternal> d(Blank(8, ULMVolumeRange(32, 16, 16, 0, 0, 0), board));
        ASSERT_EQ(Pass(a.volume, d, a.volume->GetRange(), d->GetRange()), kULMOK);
        const std::vector<uint8_t> got = BoardVoxels(*d, d->GetRange());
        double worst = 0;
        for (int z = 0; z < 16; ++z)
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 32; ++x) {
                    const double mean = (in(2 * x, y, 2 * z) + in(2 * x + 1, y, 2 * z) + in(2 * x, y, 2 * z + 1) +
                                         in(2 * x + 1, y, 2 * z + 1)) / 4;
                    worst = std::max(worst, std::abs(got[(size_t(z) * 16 + y) * 32 + x] - mean));
                }
        EXPECT_LE(worst, 1.0) << "board " << board;
    }
    EXPECT_EQ(LiveBuffers(), buffersBefore) << "no temporary is left";
    EXPECT_EQ(a.volume->GetAccessControl(), kULMAccessNoControl);
}

}  // namespace
}  // namespace ulm3::testing
