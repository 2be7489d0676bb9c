// Mipmap generation: the voxels of generated levels against the analytic
// mean of a ramp, one queued pass per level, a level made again when its
// range changes, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "mipmap_fixture.h"
#include "support/resample_reference.h"

namespace ulm3::testing {
namespace {

using MipmapGenerationTest = MipmapTest;
const ULMFieldDescriptor kWord{0, 16, kULMUnsignedFraction};
const ULMFieldDescriptor kByte{0, 8, kULMUnsignedFraction};

// 16-bit voxels rising by 64 a voxel along X: a level of factor 1/2^k holds
// the means 64 (2^k i + (2^k - 1) / 2), exact in 16 bits. Y and Z are at the
// minimum dimension and keep their size, so each level is one pass.
struct Ramp {
    static constexpr int kX = 256, kY = 12, kZ = 12;
    std::vector<uint16_t> voxels = std::vector<uint16_t>(size_t(kX) * kY * kZ);
    Held<ULMVolume> volume;
    Ramp() {
        for (size_t i = 0; i < voxels.size(); ++i) voxels[i] = uint16_t(64 * (i % kX));
        volume.Assign(ULMVolume::Create(16, ULMVolumeRange(kX, kY, kZ, 0, 0, 0), 1, &kWord, voxels.data()));
    }
    // The level's voxels from its board buffer.
    static std::vector<uint16_t> Voxels(ULMVolume* inLevel) {
        const ULMVolumeRange r = inLevel->GetRange();
        std::vector<uint16_t> out(size_t(r.XSize()) * r.YSize() * r.ZSize());
        EXPECT_EQ(inLevel->Unload(out.data(), r, kULMUseBuffer), kULMOK);
        return out;
    }
};

TEST_F(MipmapGenerationTest, EachLevelHoldsTheMeansOfTheLevelBelowInOnePass) {
    Ramp ramp;
    ASSERT_NE(Mipmap(ramp.volume), nullptr);
    tulx7sim::ClearRequestLog();
    ULMVolume* level3 = ramp.volume->GetMipmapLevel(3);
    ASSERT_NE(level3, nullptr);
    EXPECT_EQ(Passes(), 3u) << "levels 1, 2 and 3, queued without waiting";
    for (int k = 1; k <= 3; ++k) {
        ULMVolume* level = ramp.volume->GetMipmapLevel(k);
        EXPECT_EQ(level->GetRange(), ULMVolumeRange(Ramp::kX >> k, Ramp::kY, Ramp::kZ, 0, 0, 0));
        const std::vector<uint16_t> got = Ramp::Voxels(level);
        const int width = Ramp::kX >> k;
        for (size_t i = 0; i < got.size(); ++i) {
            const double want = 64 * ((1 << k) * double(i % width) + ((1 << k) - 1) / 2.0);
            ASSERT_NEAR(got[i], want, 1.0) << "level " << k << " voxel " << i;
        }
    }
    EXPECT_EQ(Passes(), 3u) << "fresh levels are not made again";
}

// New factors change level 1's range: it is made again at its new size into
// a new volume, the old one released, and resampled at the new ratio.
TEST_F(MipmapGenerationTest, NewFactorsRemakeTheLevelAtItsNewSize) {
    Ramp ramp;
    ULMMipmapVolume* m = Mipmap(ramp.volume);
    ASSERT_NE(m, nullptr);
    ASSERT_NE(ramp.volume->GetMipmapLevel(1), nullptr);
    const int objects = gULMControl.m_shareableObjectsCreated - gULMControl.m_shareableObjectsDestroyed;
    const size_t buffers = LiveBuffers();
    ASSERT_EQ(ramp.volume->SetMipmapShrinkFactors(0.75, 0.75, 0.75), kULMOK);
    ULMVolume* level1 = ramp.volume->GetMipmapLevel(1);
    ASSERT_NE(level1, nullptr);
    EXPECT_EQ(level1->GetRange(), ULMVolumeRange(192, 12, 12, 0, 0, 0));
    const RefAxis ax = RefAxisOf(0, Ramp::kX, 0, 192);
    const std::vector<uint16_t> got = Ramp::Voxels(level1);
    EXPECT_EQ(gULMControl.m_shareableObjectsCreated - gULMControl.m_shareableObjectsDestroyed, objects)
        << "the old level went when the new one came";
    EXPECT_EQ(LiveBuffers(), buffers);
    for (size_t i = 0; i < got.size(); ++i) {
        const double want = RefLinear([](int u) { return 64.0 * std::clamp(u, 0, Ramp::kX - 1); }, ax.At(int(i % 192)));
        ASSERT_NEAR(got[i], want, 1.0) << i;
    }
}

// Explicit generation from any finer level with the caller's factors (one
// under 0.5 taken as the wrapper's), and every refusal: nothing is made.
TEST_F(MipmapGenerationTest, ExplicitGenerationTakesAnyFinerLevelAndRefusesBadRequests) {
    Ramp ramp;
    std::vector<uint8_t> cube(size_t(12) * 12 * 12, 5);
    gULMControl.m_mipmapMinVolumeSize = 12;
    Held<ULMVolume> small(ULMVolume::Create(8, ULMVolumeRange(12, 12, 12, 0, 0, 0), 1, &kByte, cube.data()));
    ULMVolume* v = ramp.volume;
    ASSERT_NE(Mipmap(small), nullptr);
    const struct {
        std::function<ULMStatus()> call;
        ULMStatus status;
    } steps[] = {
        {[&] { return v->GenerateMipmapLevel(0, -1, 0.5, 0.5, 0.5); }, kULMErrArgument},
        {[&] { return v->GenerateMipmapLevel(33, -1, 0.5, 0.5, 0.5); }, kULMErrArgument},
        {[&] { return v->GenerateMipmapLevel(2, 2, 0.5, 0.5, 0.5); }, kULMErrArgument},
        {[&] { return v->GenerateMipmapLevel(1, 0, 1.5, 0.5, 0.5); }, kULMErrArgument},
        {[&] { return v->GenerateMipmapLevel(2, -1, 0, 0, 0); }, kULMErrVolume},  // level 1 never made
        {[&] { return small->GenerateMipmapLevel(1, -1, 0.5, 0.5, 0.5); }, kULMErrTooSmall},
        {[&] { return small->StartGenerateMipmapLevel(1, 0, 1, 1, 1).Wait(-1); }, kULMErrTooSmall},
        {[&] { return v->CreateMipmapLevel(0, kULMBoard0, {10, 10, 10, 0, 0, 0}); }, kULMErrArgument},
        {[&] { return v->CreateMipmapLevel(1, kULMBoard0, ULMVolumeRange()); }, kULMErrArgument},
        {[&] { return v->CreateMipmapLevel(1, ULMLocation(7), {10, 10, 10, 0, 0, 0}); }, kULMErrArgument},
        // A level in bricks over the boards is made, and so is one in bands
        // in its place; neither makes a pass.
        {[&] { return v->CreateMipmapLevel(1, kULMMultiBoardMode2, {10, 10, 10, 0, 0, 0}); }, kULMOK},
        {[&] { return v->CreateMipmapLevel(1, kULMMultiBoardMode1, {10, 10, 10, 0, 0, 0}); }, kULMOK},
    };
    for (size_t i = 0; i < std::size(steps); ++i) EXPECT_EQ(steps[i].call(), steps[i].status) << "step " << i;
    EXPECT_EQ(Passes(), 0u);
    EXPECT_EQ(Mipmap(v)->GetLevelInfo(1).volume->GetBufferLocation(), kULMMultiBoardMode1);
    for (int l = 2; l < 33; ++l) EXPECT_EQ(Mipmap(v)->GetLevelInfo(l).volume, nullptr) << l;
    EXPECT_EQ(small->GetMipmapLevel(1), nullptr) << "a level that would not shrink is not made";
    EXPECT_EQ(v->GetMipmapLevel(-1), nullptr);
    EXPECT_EQ(v->GetMipmapLevel(33), nullptr);

    // Level 3 from level 0 at a half (0.125 stands for the wrapper's 0.5 on Z).
    ASSERT_EQ(v->GenerateMipmapLevel(3, 0, 0.5, 0.75, 0.125), kULMOK);
    EXPECT_EQ(Mipmap(v)->GetLevelInfo(3).range, ULMVolumeRange(128, 12, 12, 0, 0, 0));
    EXPECT_EQ(Mipmap(v)->GetLevelInfo(3).volumeSerial, Mipmap(v)->GetLevelInfo(0).volumeSerial);
    // Level 4 from level 3 with the wrapper's factors.
    ASSERT_EQ(v->GenerateMipmapLevel(4, -1, 0, 0, 0), kULMOK);
    const std::vector<uint16_t> got = Ramp::Voxels(Mipmap(v)->GetLevelInfo(4).volume);
    for (size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], 64 * (4 * double(i % 64) + 1.5), 1.0) << i;

    // Without auto-generation a level never made stays absent.
    ASSERT_EQ(v->SetMipmapAutoGenerate(0), kULMOK);
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(v->GetMipmapLevel(2), nullptr);
    EXPECT_EQ(v->GetMipmapLevel(4), Mipmap(v)->GetLevelInfo(4).volume);
    EXPECT_EQ(Passes(), 0u);
}

}  // namespace
}  // namespace ulm3::testing
