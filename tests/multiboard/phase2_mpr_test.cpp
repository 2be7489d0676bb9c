// MPR renders of the bricked volume against the MPR of the same voxels on
// one board: both modes, on both compositing roads, over two and three
// bricks. RGBA within one 8-bit step per brick; alpha, an average over the
// samples near the plane, within a few steps where a ray's samples fall in
// two bricks, each of which averages its own share.
#include <gtest/gtest.h>

#include <cstdlib>

#include "foundation/control.h"
#include "multiboard/phase2_fixture.h"

namespace ulm3 {
namespace {

class Phase2MPRTest : public testing::Phase2Test {
protected:
    Phase2MPRTest() : Phase2Test(2) {}

    std::vector<uint32_t> OneBoardMPR(int inSide, ULMVolume::MPRMode inMode, double inDistance, int inQuality) {
        ReleasablePointer<ULMVolumeInternal> plain(Plain());
        EXPECT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
        ReleasablePointer<ULMImageBuffer> image(Image(kULMBoard0, inSide));
        EXPECT_EQ(plain->StartRenderMPR(context, inDistance, inQuality, inMode, image).Wait(-1), kULMOK);
        return Pixels(image);
    }
    std::vector<uint32_t> BricksMPR(ULMVolume* inVolume, int inSide, ULMVolume::MPRMode inMode, double inDistance,
                                    int inQuality) {
        ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, inSide));
        EXPECT_EQ(inVolume->StartRenderMPR(context, inDistance, inQuality, inMode, image).Wait(-1), kULMOK);
        EXPECT_EQ(image->GetLastVolumeRendered(), inVolume->GetObjectID());
        return Pixels(image);
    }
};

TEST_F(Phase2MPRTest, BrickedMPREqualsTheOneBoardMPR) {
    const struct {
        const char* name;
        ULMVolume::MPRMode mode;
        int road;  // Multiboard2ForceRender: 1 board, 2 host
        int bricks;
        double tx, ty, distance;
        int quality;
        int tolerance;  // in 8-bit steps
    } cases[] = {
        {"alpha, board, 2", ULMVolume::kMPRAlpha, 1, 2, 30, 40, 2.0, 2, 8},
        {"alpha, host, 3", ULMVolume::kMPRAlpha, 2, 3, -20, 70, 3.0, 4, 8},
        {"rgba, board, 3", ULMVolume::kMPRRGBA, 1, 3, 10, 100, 2.0, 2, 3},
        {"rgba, host, 2", ULMVolume::kMPRRGBA, 2, 2, 45, 15, 1.0, 1, 2},
    };
    constexpr int kSide = 80;
    Grey(0.5);
    // The context's blend mode is a render's: an MPR composites as it
    // always does.
    ASSERT_EQ(context->SetBlendMode(kULMBlendMaxRed), kULMOK);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gULMControl.m_multiboard2ForceRender = c.road;
        Aim(c.tx, c.ty, kSide);
        ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(c.bricks));
        ASSERT_NE(bricked, nullptr);
        const std::vector<uint32_t> got = BricksMPR(bricked, kSide, c.mode, c.distance, c.quality);
        const std::vector<uint32_t> want = OneBoardMPR(kSide, c.mode, c.distance, c.quality);
        int worst = 0, lit = 0;
        for (size_t i = 0; i < want.size(); ++i) {
            lit += (want[i] & 0xFFFFFF) != 0;
            for (int b = 0; b < 32; b += 8)
                worst = std::max(worst, std::abs(int(got[i] >> b & 0xFF) - int(want[i] >> b & 0xFF)));
        }
        EXPECT_GT(lit, kSide * kSide / 8);
        EXPECT_LE(worst, c.tolerance);
    }
}

}  // namespace
}  // namespace ulm3
