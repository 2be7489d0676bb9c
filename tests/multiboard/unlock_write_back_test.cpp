// A lock, an update and UnlockVolume(1) keep what the boards held on every
// kind of volume: the application's voxels get the update, and the next
// render, at every level, is the render of a volume made over those voxels.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "multiboard/phase1_fixture.h"
#include "ulm3.h"

namespace ulm3::testing {
namespace {

class UnlockWriteBackTest : public Phase1Test {
protected:
    UnlockWriteBackTest() : Phase1Test(2) {}

    struct Kind {
        const char* name;
        bool mipmap;
        int mode;    // 0 plain, 1 bands, 2 bricks
        int levels;  // rendered and compared
    };

    // A volume of the kind over inVoxels, which it keeps as its own.
    ULMVolume* Make(const Kind& inKind, std::vector<uint8_t>& inVoxels) {
        ULMSetParameter("MipmapMinVolumeSize", inKind.mipmap ? 32 : 1 << 24);
        ULMSetParameter("MipmapMultiboard", 1);
        ULMSetParameter("MultiboardMinVolumeSize", 2);
        ULMSetParameter("MultiboardRenderMode", inKind.mode == 2 ? 2 : 1);
        ULMSetParameter("MultiboardForceNumberOfVolumes", 0);
        ULMSetParameter("MultiboardRenderEnable", inKind.mode != 0 ? 1 : 0);
        ULMVolume* v = ULMVolume::Create(1u, inVoxels.data(), unsigned(m_size[0]), unsigned(m_size[1]),
                                         unsigned(m_size[2]), ULMVolume::kSliced);
        ULMSetParameter("MultiboardRenderEnable", 0);
        EXPECT_NE(v, nullptr) << inKind.name;
        if (v != nullptr) {
            const ULMObjectType types[] = {kObjectTypeULMVolumeInternal, kObjectTypeULMMultiboardVolumePhase1,
                                           kObjectTypeULMMultiboardVolumePhase2};
            EXPECT_EQ(IsObjectType(v, kObjectTypeULMMipmapVolume), inKind.mipmap) << inKind.name;
            EXPECT_TRUE(IsObjectType(inKind.mipmap ? v->GetMipmapLevel(0) : v, types[inKind.mode])) << inKind.name;
        }
        return v;
    }

    Pixels Picture(ULMVolume* inVolume, int inLevel, bool inMipmap) {
        if (inMipmap) {
            EXPECT_EQ(inVolume->SetMipmapRange(inLevel, inLevel), kULMOK);
        }
        ReleasablePointer<ULMImageBuffer> image(NewImage(kULMBoard0));
        EXPECT_EQ(inVolume->StartRender(m_context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        return Read(image.GetPointer());
    }
};

TEST_F(UnlockWriteBackTest, AnUpdateThenUnlockWithWriteBackKeepsTheBoardsVoxelsOnEveryKind) {
    const UnlockWriteBackTest::Kind kinds[] = {
        {"plain", false, 0, 1},  {"mipmap", true, 0, 3},           {"bands", false, 1, 1},
        {"bricks", false, 2, 1}, {"mipmap over bands", true, 1, 3}, {"mipmap over bricks", true, 2, 2},
    };
    const ULMVolumeRange box(8, 8, 8, 10, 12, 14);
    std::vector<uint8_t> boxVoxels(512);
    for (size_t i = 0; i < boxVoxels.size(); ++i) boxVoxels[i] = uint8_t(255 - i % 13);
    // The host reference: the application's voxels with the box written.
    std::vector<uint8_t> expected = m_voxels;
    for (int z = 0; z < 8; ++z)
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                expected[(size_t(z + 14) * m_size[1] + (y + 12)) * m_size[0] + (x + 10)] =
                    boxVoxels[(size_t(z) * 8 + y) * 8 + x];
    ASSERT_NE(expected, m_voxels);

    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        std::vector<uint8_t> voxels = m_voxels, reference = expected;
        ReleasablePointer<ULMVolume> edited(Make(kind, voxels)), made(Make(kind, reference));
        ASSERT_TRUE(edited != nullptr && made != nullptr);
        ASSERT_EQ(edited->LockVolume(kULMAnyBoard), kULMOK);
        ASSERT_EQ(edited->Update(boxVoxels.data(), box), kULMOK);
        const ULMStatus unlocked = edited->UnlockVolume(1);
        EXPECT_EQ(unlocked, kULMOK);
        if (unlocked != kULMOK) continue;
        EXPECT_FALSE(edited->IsLocked());
        int lost = 0;
        for (size_t i = 0; i < voxels.size(); ++i) lost += voxels[i] != expected[i];
        EXPECT_EQ(lost, 0) << "voxels the application's array does not hold";
        for (int level = 0; level < kind.levels; ++level) {
            SCOPED_TRACE("level " + std::to_string(level));
            const Pixels picture = Picture(edited, level, kind.mipmap);
            EXPECT_GT(Lit(picture), 100);
            EXPECT_EQ(picture, Picture(made, level, kind.mipmap));
        }
    }
}

// A locked mipmap volume whose buffer was given up: level 0 renders, and
// every coarser level is either made and drawn or refused, all alike.
TEST_F(UnlockWriteBackTest, ALockedMipmapVolumeWithoutItsBufferTreatsEveryCoarserLevelAlike) {
    std::vector<uint8_t> voxels = m_voxels;
    ReleasablePointer<ULMVolume> mipmap(Make({"mipmap", true, 0, 3}, voxels));
    ASSERT_NE(mipmap, nullptr);
    ASSERT_EQ(mipmap->LockVolume(kULMAnyBoard), kULMOK);
    ASSERT_EQ(mipmap->ReleaseBuffer(), kULMOK);
    ULMStatus answers[3];
    for (int level = 0; level < 3; ++level) {
        EXPECT_EQ(mipmap->SetMipmapRange(level, level), kULMOK);
        ReleasablePointer<ULMImageBuffer> image(NewImage(kULMBoard0));
        answers[level] = mipmap->StartRender(m_context, image, nullptr, nullptr, nullptr).Wait(-1);
    }
    EXPECT_EQ(answers[0], kULMOK);
    EXPECT_EQ(answers[1], answers[2]);
    EXPECT_EQ(mipmap->GenerateMipmapLevel(1, 0, 0.5, 0.5, 0.5), answers[1]);
    if (answers[1] != kULMOK) {
        EXPECT_EQ(answers[1], kULMErrVolume) << "refused as a volume in the wrong state";
    }
    // Locked again with a buffer, every level is made.
    ASSERT_EQ(mipmap->UnlockVolume(0), kULMOK);
    ASSERT_EQ(mipmap->LockVolume(kULMAnyBoard), kULMOK);
    for (int level = 1; level < 3; ++level) {
        EXPECT_EQ(mipmap->SetMipmapRange(level, level), kULMOK);
        ReleasablePointer<ULMImageBuffer> image(NewImage(kULMBoard0));
        EXPECT_EQ(mipmap->StartRender(m_context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK) << level;
        EXPECT_GT(Lit(Read(image.GetPointer())), 100) << level;
    }
}

}  // namespace
}  // namespace ulm3::testing
