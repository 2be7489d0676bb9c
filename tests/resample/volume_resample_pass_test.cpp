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

std::map<uint32_t, uint64_t> Registers(const ULMVolumePassSetup& setup) {
    ULMImagePassValues values;
    EXPECT_EQ(VolumeResampleValues(setup, values), kULMOK);
    std::map<uint32_t, uint64_t> regs;
    for (const ULMPassRegister& r : ULMImagePassProgramme(values)) regs[r.address] = r.value;
    EXPECT_EQ(regs.size(), 57u);
    return regs;
}

uint64_t Xyz(uint64_t x, uint64_t y, uint64_t z) { return x | y << 16 | z << 32; }

TEST(VolumeResampleProgramme, AYZSlabFillCopiesBytesThroughExchangedAxes) {
    ULMVolumePassSetup setup;
    // Volume Y 2..37, Z 4..37, X 32..63 into a slab of 36 x 34 x 32.
    setup.source = ULMVolumeRange(36, 34, 32, 2, 4, 32);
    setup.output = ULMVolumeRange(36, 34, 32, 0, 0, 0);
    setup.sideways = ULMVolumeInternal::kUnload;
    setup.voxelFormat = 0x0F0F0F10;
    setup.lutFormat[0] = 0x29262320;
    setup.border = 0x55;
    auto regs = Registers(setup);
    EXPECT_EQ(regs[NKW7_ViewFrustumRangeMin_Addr], 0u);
    EXPECT_EQ(regs[NKW7_ViewFrustumRangeMax_Addr], Xyz(35, 33, 31));
    EXPECT_EQ(regs[NKW7_Transform_Addr], 0x090u);
    EXPECT_EQ(regs[NKW7_Image0FieldSel_Addr], 0x16141210u);
    EXPECT_EQ(regs[NKW7_VoxelFormat_Addr], 0x16141210u) << "the classifier's format gives way to whole bytes";
    EXPECT_EQ(regs[NKW7_LookupTableFormat0_Addr], 0x20202020u);
    EXPECT_EQ(regs[NKW7_TrimRangeXmin_Addr], 2u * 256 - 128);
    EXPECT_EQ(regs[NKW7_TrimRangeXmax_Addr], 37u * 256 + 128);
    EXPECT_EQ(regs[NKW7_TrimRangeYmax_Addr], 37u * 256 + 128);
    EXPECT_EQ(regs[NKW7_TrimRangeZmin_Addr], 32u * 256);
    EXPECT_EQ(regs[NKW7_TrimRangeZmax_Addr], 63u * 256);
    EXPECT_EQ(regs[NKW7_OriginXv8_Addr], uint64_t(2 * kOne));
    EXPECT_EQ(regs[NKW7_OriginYv8_Addr], uint64_t(4 * kOne));
    EXPECT_EQ(regs[NKW7_OriginZv8_Addr], uint64_t(32 * kOne));
    EXPECT_EQ(regs[NKW7_dXv8_dXs_Addr], uint64_t(kOne));
    EXPECT_EQ(regs[NKW7_dZv8_dZs_Addr], uint64_t(kOne));
    EXPECT_EQ(regs[NKW7_VoxelBorder_Addr], 0x55u);
    EXPECT_EQ(regs[NKW7_Section_Addr], 0x505u) << "24 samples a side at one voxel apart";
    EXPECT_EQ(regs[NKW7_ImageControl_Addr], 0x18040000u);
    EXPECT_EQ(regs[NKW7_RenderOperation_Addr], 0x1F550000u);
}

TEST(VolumeResampleProgramme, HalvingXAndZSamplesBetweenVoxelPairs) {
    ULMVolumePassSetup setup;
    setup.source = ULMVolumeRange(100, 24, 8, 0, 0, 0);
    setup.output = ULMVolumeRange(50, 24, 4, 0, 0, 0);
    setup.sideways = ULMVolumeInternal::kOneToOne;
    setup.voxelFormat = 0x0F0F0F10;
    setup.image0Fields = 0x0F0F0F31;
    setup.lutFormat[2] = 0x29262320;
    setup.interpolateControl = 0x1110;
    setup.bypass = 0x5;  // tables 1 and 3 are on the board
    auto regs = Registers(setup);
    EXPECT_EQ(regs[NKW7_ViewFrustumRangeMax_Addr], Xyz(49, 23, 3));
    EXPECT_EQ(regs[NKW7_Transform_Addr], 0x240u);
    EXPECT_EQ(regs[NKW7_Image0FieldSel_Addr], 0x0F0F0F31u);
    EXPECT_EQ(regs[NKW7_VoxelFormat_Addr], 0x0F0F0F10u);
    EXPECT_EQ(regs[NKW7_LookupTableFormat2_Addr], 0x29262320u);
    EXPECT_EQ(regs[NKW7_InterpolateControl_Addr], 0x1110u);
    EXPECT_EQ(regs[NKW7_dXv8_dXs_Addr], uint64_t(2 * kOne));
    EXPECT_EQ(regs[NKW7_OriginXv8_Addr], uint64_t(kOne / 2));
    EXPECT_EQ(regs[NKW7_dZv8_dZs_Addr], uint64_t(2 * kOne));
    EXPECT_EQ(regs[NKW7_OriginZv8_Addr], uint64_t(kOne / 2));
    EXPECT_EQ(regs[NKW7_TrimRangeXmin_Addr], 0xFFFFFF80u);
    EXPECT_EQ(regs[NKW7_TrimRangeZmax_Addr], 7u * 256);
    EXPECT_EQ(regs[NKW7_Section_Addr], 0x503u) << "17 samples at two voxels apart, 24 at one";
    EXPECT_EQ(regs[NKW7_RenderOperation_Addr], 0x1F110000u);
}

using VolumeResamplePassTest = VolumePassTest;

TEST_F(VolumeResamplePassTest, RefusalsQueueNothing) {
    LockedVolume a;
    Lock(a, 8, ULMVolumeRange(102, 24, 8, 0, 0, 0), kULMBoard0, 1);
    Held<ULMVolumeInternal> d(ULMVolumeInternal::CreateSimpleVolume(8, ULMVolumeRange(50, 24, 8, 0, 0, 0), 0, nullptr,
                                                                    nullptr));
    const ULMVolumeRange all(102, 24, 8, 0, 0, 0), out(50, 24, 8, 0, 0, 0);
    const ULMClassifier invalid = ULMClassifier::DirectRGBA(kULMField0, static_cast<ULMFieldNumber>(9), kULMField2,
                                                            kULMField3);
    tulx7sim::ClearRequestLog();
    auto pass = [&](ULMVolume* dest, const ULMVolumeRange& from, const ULMVolumeRange& to, const ULMClassifier& c) {
        return a.volume->DoStartResampleBuffer(dest, from, to, c, ULMVolumeInternal::kOneToOne, 0, 0).Wait(-1);
    };
    EXPECT_EQ(pass(nullptr, all, out, Direct()), kULMErrVolume);
    EXPECT_EQ(pass(d, all, out, invalid), kULMErrClassifier);
    EXPECT_EQ(pass(d, all, ULMVolumeRange(11, 24, 8, 0, 0, 0), Direct()), kULMErrArgument);
    EXPECT_EQ(pass(d, ULMVolumeRange(102, 24, 0, 0, 0, 0), ULMVolumeRange(50, 24, 0, 0, 0, 0), Direct()),
              kULMErrArgument);
    EXPECT_EQ(pass(d, ULMVolumeRange(0, 24, 8, 0, 0, 0), out, Direct()), kULMErrArgument);
    EXPECT_EQ(pass(d, all, out, Direct()), kULMErrCantSubsample) << "102 into 50, even as 101 into 50";
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
    EXPECT_EQ(d->GetBufferLocation(), kULMNoBufferAttached);
}

TEST_F(VolumeResamplePassTest, SlabRoundTripIsBitExact) {
    for (int bits : {8, 16, 32}) {
        SCOPED_TRACE(bits);
        const ULMVolumeRange whole(40, 36, 34, 0, 0, 0);
        LockedVolume a, b;
        Lock(a, bits, whole, kULMBoard0, 2);
        Lock(b, bits, whole, kULMBoard0, 3);
        Held<ULMVolumeInternal> slab(
            ULMVolumeInternal::CreateSimpleVolume(bits, ULMVolumeRange(36, 34, 32, 0, 0, 0), 0, nullptr, nullptr));
        ASSERT_EQ(slab->CreateBuffer(kULMBoard0), kULMOK);
        ASSERT_EQ(a.volume->DoStartResampleBuffer(slab, ULMVolumeRange(36, 34, 32, 0, 0, 8), slab->GetRange(),
                                                  Direct(), ULMVolumeInternal::kUnload, 0, 0).Wait(-1), kULMOK);
        const ULMVolumeRange box(32, 36, 34, 8, 0, 0);
        ASSERT_EQ(slab->DoStartResampleBuffer(b.volume, ULMVolumeRange(32, 36, 34, 0, 0, 0), box, Direct(),
                                              ULMVolumeInternal::kUpdate, 0, 0).Wait(-1), kULMOK);
        EXPECT_EQ(BoardVoxels(*b.volume, box), BoardVoxels(*a.volume, box));
    }
}

// 64 x 16 x 32 voxels into 32 x 16 x 16: each output voxel is the mean of
// a pair in X and a pair in Z, whichever board the destination is on.
TEST_F(VolumeResamplePassTest, HalvingGivesPairMeansOnEitherBoard) {
    const ULMFieldDescriptor byte{0, 8, kULMUnsignedFraction};
    LockedVolume a;
    Lock(a, 8, ULMVolumeRange(64, 16, 32, 0, 0, 0), kULMBoard0, 4);
    const size_t buffersBefore = LiveBuffers();
    for (ULMLocation board : {kULMBoard0, kULMBoard1}) {
        Held<ULMVolumeInternal> d(
            ULMVolumeInternal::CreateSimpleVolume(8, ULMVolumeRange(32, 16, 16, 0, 0, 0), 1, &byte, nullptr));
        ASSERT_EQ(d->CreateBuffer(board), kULMOK);
        ASSERT_EQ(a.volume->DoStartResampleBuffer(d, a.volume->GetRange(), d->GetRange(), Direct(),
                                                  ULMVolumeInternal::kOneToOne, 0, 0).Wait(-1), kULMOK);
        const std::vector<uint8_t> got = BoardVoxels(*d, d->GetRange());
        auto in = [&](int x, int y, int z) { return int(a.host[(size_t(z) * 16 + y) * 64 + x]); };
        int worst = 0;
        for (int z = 0; z < 16; ++z)
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 32; ++x) {
                    const double mean =
                        (in(2 * x, y, 2 * z) + in(2 * x + 1, y, 2 * z) + in(2 * x, y, 2 * z + 1) + in(2 * x + 1, y, 2 * z + 1)) / 4.0;
                    worst = std::max(worst, int(std::abs(got[(size_t(z) * 16 + y) * 32 + x] - mean) + 0.5));
                }
        EXPECT_LE(worst, 1) << "board " << board;
    }
    EXPECT_EQ(LiveBuffers(), buffersBefore) << "no temporary is left";
    EXPECT_EQ(a.volume->GetAccessControl(), kULMAccessNoControl);
}

// An enlargement's first and last voxels sample just outside the source
// box and must still be written.
TEST_F(VolumeResamplePassTest, EnlargementKeepsItsEdgeVoxels) {
    const ULMFieldDescriptor byte{0, 8, kULMUnsignedFraction};
    std::vector<uint8_t> flat(16 * 16 * 2, 200);
    Held<ULMVolumeInternal> a(ULMVolumeInternal::CreateSimpleVolume(8, ULMVolumeRange(16, 16, 2, 0, 0, 0), 1, &byte,
                                                                    flat.data()));
    ASSERT_EQ(a->SetExtendMode(ULMVolume::kExtendWithEdge), kULMOK);
    ASSERT_EQ(a->LockVolume(kULMBoard0), kULMOK);
    Held<ULMVolumeInternal> d(
        ULMVolumeInternal::CreateSimpleVolume(8, ULMVolumeRange(30, 24, 2, 0, 0, 0), 1, &byte, nullptr));
    ASSERT_EQ(d->CreateBuffer(kULMBoard0), kULMOK);
    ASSERT_EQ(a->DoStartResampleBuffer(d, a->GetRange(), d->GetRange(), Direct(), ULMVolumeInternal::kOneToOne, 0, 0)
                  .Wait(-1),
              kULMOK);
    EXPECT_EQ(BoardVoxels(*d, d->GetRange()), std::vector<uint8_t>(30 * 24 * 2, 200));
}

}  // namespace
}  // namespace ulm3::testing
