// Phase-1 volumes with mipmap volumes: inside one (the default road), with
// coarser levels that are phase-1 volumes made one pass per board; and
// around one, with a mipmap volume as every copy. Either way the picture is
// the one-board picture at the same level.
#include <gtest/gtest.h>

#include "multiboard/phase1_fixture.h"
#include "resample/mipmap_volume.h"
#include "tulx7/driver_requests.h"

namespace ulm3::testing {
namespace {

class Phase1MipmapTest : public Phase1Test {
protected:
    Phase1MipmapTest() : Phase1Test(3) {}

    // A volume made with mipmap volumes from 32 voxels on, banded or not,
    // the multiboard volume inside the mipmap volume or around it.
    ULMVolume* NewWrapped(bool inBanded, bool inMultiboardInside) {
        Banded(inBanded);
        ULMSetParameter("MipmapMinVolumeSize", 32);
        ULMSetParameter("MipmapMultiboard", inMultiboardInside ? 1 : 0);
        ULMVolume* v = NewVolume();
        ULMSetParameter("MultiboardRenderEnable", 0);
        ULMSetParameter("MipmapMultiboard", 1);
        return v;
    }

    Pixels Picture(ULMVolume* inVolume, int inLevel) {
        EXPECT_EQ(inVolume->SetMipmapRange(inLevel, inLevel), kULMOK);
        ReleasablePointer<ULMImageBuffer> image(NewImage(kULMBoard0));
        EXPECT_EQ(inVolume->StartRender(m_context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        return Read(image.GetPointer());
    }

    static std::vector<int> PassesPerBoard() {
        std::vector<int> passes(3, 0);
        for (const auto& e : tulx7sim::RequestLog())
            if (e.code == TULX7_DR_RENDER && e.board >= 0 && e.board < 3) ++passes[e.board];
        return passes;
    }
};

TEST_F(Phase1MipmapTest, InsideAMipmapVolumeItsLevelsAreBandedAndMadeOnEveryBoard) {
    ReleasablePointer<ULMVolume> plain(NewWrapped(false, true)), banded(NewWrapped(true, true));
    ASSERT_TRUE(IsObjectType(banded, kObjectTypeULMMipmapVolume));
    ULMVolume* level0 = banded->GetMipmapLevel(0);
    ASSERT_TRUE(IsObjectType(level0, kObjectTypeULMMultiboardVolumePhase1));
    const Pixels finest = Picture(plain, 0);
    EXPECT_GT(Lit(finest), 100);
    EXPECT_EQ(Picture(banded, 0), finest);

    const Pixels coarser = Picture(plain, 1);
    EXPECT_NE(coarser, finest);
    tulx7sim::ClearRequestLog();
    ASSERT_EQ(banded->GenerateMipmapLevel(1, 0, 0.5, 0.5, 0.5), kULMOK);
    EXPECT_EQ(PassesPerBoard(), (std::vector<int>{1, 1, 1})) << "each board makes its copy of the level";
    ULMVolume* level1 = banded->GetMipmapLevel(1);
    ASSERT_TRUE(IsObjectType(level1, kObjectTypeULMMultiboardVolumePhase1));
    EXPECT_EQ(static_cast<ULMMultiboardVolumePhase1*>(level1)->GetNumberOfVolumes(),
              static_cast<ULMMultiboardVolumePhase1*>(level0)->GetNumberOfVolumes());
    EXPECT_EQ(Picture(banded, 1), coarser);
}

TEST_F(Phase1MipmapTest, AroundAMipmapVolumeEveryCopyIsOne) {
    ReleasablePointer<ULMVolume> plain(NewWrapped(false, false)), made(NewWrapped(true, false));
    ASSERT_TRUE(IsObjectType(made, kObjectTypeULMMultiboardVolumePhase1));
    auto* banded = static_cast<ULMMultiboardVolumePhase1*>(made.GetPointer());
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(IsObjectType(banded->GetSubvolume(i).GetVolume(), kObjectTypeULMMipmapVolume)) << i;
    EXPECT_NE(banded->GetSubvolume(1).GetVolume(), banded->GetSubvolume(0).GetVolume());
    const Pixels finest = Picture(plain, 0);
    EXPECT_EQ(Picture(made, 0), finest);
    EXPECT_EQ(Picture(made, 1), Picture(plain, 1));
}

}  // namespace
}  // namespace ulm3::testing
