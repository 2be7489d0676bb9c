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

INSTANTIATE_TEST_SUITE_P(Bricks, Phase2ForwardingTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "mipmaps" : "plain"; });

}  // namespace
}  // namespace ulm3
