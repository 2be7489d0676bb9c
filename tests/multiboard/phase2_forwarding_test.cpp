// Every setter the bricked volume forwards reaches every brick: the bricked
// volume and a plain volume of the same voxels get the same call, then
// answer the same, each brick answers the same (its active sub-volume its
// own share of the wrapper's), and their pictures agree within a step per
// brick. With mipmaps on, the bricks are mipmap volumes and their mipmap
// properties and levels are forwarded too.
#include <gtest/gtest.h>

#include <cstdlib>

#include "multiboard/phase2_fixture.h"
#include "support/forwarding_rows.h"
#include "ulm3/library.h"

namespace ulm3 {
namespace {

constexpr int kBricks = 3;

class Phase2ForwardingTest : public testing::Phase2Test, public ::testing::WithParamInterface<bool> {
protected:
    Phase2ForwardingTest() : Phase2Test(2) {}

    // A volume over its own copy of the voxels: bricked or plain, over
    // mipmap volumes or not.
    ULMVolume* Make(std::vector<uint8_t>& ioVoxels, bool inBricked) {
        ULMSetParameter("MipmapMinVolumeSize", GetParam() ? 16 : 16384);
        ULMSetParameter("MipmapMultiboard", 0);
        ULMSetParameter("MultiboardMinVolumeSize", 2);
        ULMSetParameter("MultiboardRenderMode", 2);
        ULMSetParameter("MultiboardForceNumberOfVolumes", kBricks);
        ULMSetParameter("MultiboardRenderEnable", inBricked ? 1 : 0);
        ULMVolume* v = ULMVolume::Create(1u, ioVoxels.data(), unsigned(size[0]), unsigned(size[1]),
                                         unsigned(size[2]), ULMVolume::kSliced);
        ULMSetParameter("MultiboardRenderEnable", 0);
        ULMSetParameter("MipmapMinVolumeSize", 256);
        ULMSetParameter("MipmapMultiboard", 1);
        return v;
    }
    std::vector<uint32_t> Picture(ULMVolume* inVolume, bool inBricked) {
        constexpr int kSide = 96;
        ReleasablePointer<ULMImageBuffer> image(Image(inBricked ? kULMMultiBoardMode2 : kULMBoard0, kSide));
        EXPECT_EQ(inVolume->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        return Pixels(image);
    }
};

TEST_P(Phase2ForwardingTest, EverySetterReachesEveryBrick) {
    const bool mipmaps = GetParam();
    Aim(30, 40, 96);
    Grey(0.2);
    ASSERT_EQ(context->SetBlendMode(kULMBlendFTB), kULMOK);
    std::vector<uint8_t> fresh(voxels.size());
    for (size_t i = 0; i < fresh.size(); ++i) fresh[i] = uint8_t(255 - voxels[i]);
    std::vector<test_support::ForwardingRow> rows = test_support::ForwardingRows(size, fresh);
    rows.push_back({"buffer permission", [](ULMVolume& v) { return v.SetBufferPermission(kULMPermissionRead); },
                    [](const ULMVolume& v) { return std::to_string(v.GetBufferPermission()); }, true, false});
    // Each brick's buffer offset moves with the wrapper's from where the
    // brick's own lies; wrapped addressing the bricks refuse.
    for (auto& row : test_support::BufferRows(size, false)) rows.push_back(row);
    if (mipmaps)
        for (auto& row : test_support::MipmapPropertyRows()) rows.push_back(row);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> own[2] = {voxels, voxels};
        ReleasablePointer<ULMVolume> plain(Make(own[0], false));
        ReleasablePointer<ULMVolume> bricked(Make(own[1], true));
        ASSERT_TRUE(IsObjectType(bricked, kObjectTypeULMMultiboardVolumePhase2));
        EXPECT_EQ(IsObjectType(plain, kObjectTypeULMMipmapVolume), mipmaps);
        ASSERT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
        ASSERT_EQ(bricked->LockVolume(kULMAnyBoard), kULMOK);
        const ULMStatus status = row.set(*plain);
        EXPECT_EQ(status, kULMOK);
        EXPECT_EQ(row.set(*bricked), status);
        const std::string want = row.state(*plain);
        EXPECT_EQ(row.state(*bricked), want);
        const auto* phase2 = static_cast<ULMMultiboardVolumePhase2*>(bricked.GetPointer());
        ASSERT_EQ(phase2->GetNumberOfVolumes(), kBricks);
        const ULMVolumeRange active = plain->GetActiveSubVolume();
        for (int b = 0; b < kBricks; ++b) {
            const ULMVolume* brick = phase2->Brick(b).GetVolume();
            EXPECT_EQ(IsObjectType(brick, kObjectTypeULMMipmapVolume), mipmaps) << b;
            if (row.everyPart) {
                EXPECT_EQ(row.state(*brick), want) << "brick " << b;
            }
            const ULMVolumeRange share =
                active.IsReset() ? active : ULMVolumeRange::Intersect(phase2->Brick(b).m_loadRange, active);
            EXPECT_TRUE(brick->GetActiveSubVolume() == share) << "brick " << b;
        }
        const std::vector<uint32_t> want2 = Picture(plain, false), got = Picture(bricked, true);
        int worst = 0, lit = 0;
        for (size_t i = 0; i < want2.size(); ++i) {
            lit += (want2[i] & 0xFFFFFF) != 0;
            for (int s = 0; s < 32; s += 8)
                worst = std::max(worst, std::abs(int(got[i] >> s & 0xFF) - int(want2[i] >> s & 0xFF)));
        }
        EXPECT_GT(lit, 200);
        EXPECT_LE(worst, kBricks);
    }
}

// The same volume over mipmap bricks, for tests of one configuration.
class Phase2LevelForwardingTest : public Phase2ForwardingTest {
protected:
    Phase2LevelForwardingTest() = default;
    bool GetParam() const { return true; }
};

// Over mipmap bricks, a level made through the bricked volume, at once or
// started (here with shrinks that differ by axis, as no level made for a
// render has),
// is made in every brick, each from its own voxels: as a mipmap
// volume over the same voxels makes it.
TEST_P(Phase2ForwardingTest, LevelsAreMadeInEveryBrickAsFromItsOwnVoxels) {
    if (!GetParam()) GTEST_SKIP() << "plain bricks have no levels";
    std::vector<uint8_t> own = voxels;
    ReleasablePointer<ULMVolume> bricked(Make(own, true));
    ASSERT_TRUE(IsObjectType(bricked, kObjectTypeULMMultiboardVolumePhase2));
    ASSERT_EQ(bricked->LockVolume(kULMAnyBoard), kULMOK);
    ASSERT_EQ(bricked->GenerateMipmapLevel(1, 0, 0.5, 0.5, 1.0), kULMOK);
    ASSERT_EQ(bricked->StartGenerateMipmapLevel(2, 1, 0.5, 1.0, 1.0).Wait(-1), kULMOK);
    const auto* phase2 = static_cast<ULMMultiboardVolumePhase2*>(bricked.GetPointer());
    ASSERT_EQ(phase2->GetNumberOfVolumes(), kBricks);
    for (int b = 0; b < kBricks; ++b) {
        SCOPED_TRACE(::testing::Message() << "brick " << b);
        ULMVolume* brick = phase2->Brick(b).GetVolume();
        ASSERT_TRUE(IsObjectType(brick, kObjectTypeULMMipmapVolume));
        const ULMVolumeRange box = phase2->Brick(b).m_loadRange;
        std::vector<uint8_t> part(size_t(box.XSize()) * box.YSize() * box.ZSize());
        for (int z = 0; z < box.ZSize(); ++z)
            for (int y = 0; y < box.YSize(); ++y)
                for (int x = 0; x < box.XSize(); ++x)
                    part[(size_t(z) * box.YSize() + y) * box.XSize() + x] =
                        voxels[(size_t(box.ZOrigin() + z) * size[1] + box.YOrigin() + y) * size[0] + box.XOrigin() + x];
        ULMSetParameter("MipmapMinVolumeSize", 16);
        ReleasablePointer<ULMVolume> alone(ULMVolume::Create(1u, part.data(), unsigned(box.XSize()),
                                                             unsigned(box.YSize()), unsigned(box.ZSize()),
                                                             ULMVolume::kSliced));
        ULMSetParameter("MipmapMinVolumeSize", 256);
        ASSERT_TRUE(IsObjectType(alone, kObjectTypeULMMipmapVolume));
        ASSERT_EQ(alone->LockVolume(brick->GetBufferLocation()), kULMOK);
        ASSERT_EQ(alone->GenerateMipmapLevel(1, 0, 0.5, 0.5, 1.0), kULMOK);
        ASSERT_EQ(alone->GenerateMipmapLevel(2, 1, 0.5, 1.0, 1.0), kULMOK);
        for (int l = 1; l <= 2; ++l) {
            SCOPED_TRACE(::testing::Message() << "level " << l);
            ULMVolume* got = brick->GetMipmapLevel(l);
            ULMVolume* want = alone->GetMipmapLevel(l);
            ASSERT_NE(got, nullptr);
            ASSERT_NE(want, nullptr);
            // The brick's level lies where its part of the volume does.
            const ULMVolumeRange r = want->GetRange(), at = got->GetRange();
            ASSERT_EQ(at.XSize(), r.XSize());
            ASSERT_EQ(at.YSize(), r.YSize());
            ASSERT_EQ(at.ZSize(), r.ZSize());
            std::vector<uint8_t> a(size_t(r.XSize()) * r.YSize() * r.ZSize(), 1), c(a.size(), 2);
            ASSERT_EQ(got->Unload(a.data(), at, kULMUseBuffer), kULMOK);
            ASSERT_EQ(want->Unload(c.data(), r, kULMUseBuffer), kULMOK);
            size_t differ = 0;
            for (size_t i = 0; i < a.size(); ++i) differ += a[i] != c[i];
            EXPECT_EQ(differ, 0u) << "of " << a.size() << " voxels";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Bricks, Phase2ForwardingTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "mipmaps" : "plain"; });

}  // namespace
}  // namespace ulm3
