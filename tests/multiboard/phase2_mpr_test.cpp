// MPR renders of the bricked volume against the MPR of the same voxels on
// one board: both modes, on both compositing roads, over two and three
// bricks. RGBA within one 8-bit step per brick; alpha, an average over the
// samples near the plane, exactly: the bricks' sums and counts are added
// before the mean is taken, also where a ray's samples fall in two bricks.
#include <gtest/gtest.h>

#include <cstdlib>

#include "foundation/control.h"
#include "multiboard/phase2_fixture.h"

namespace ulm3 {
namespace {

class Phase2MPRTest : public testing::Phase2Test {
protected:
    Phase2MPRTest() : Phase2Test(2) {}

    // inBorder: every channel of the image's border.
    std::vector<uint32_t> OneBoardMPR(int inSide, ULMVolume::MPRMode inMode, double inDistance, int inQuality,
                                      double inBorder = 0.0) {
        ReleasablePointer<ULMVolumeInternal> plain(Plain());
        EXPECT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
        ReleasablePointer<ULMImageBuffer> image(Image(kULMBoard0, inSide));
        image->SetBorderValue(inBorder, inBorder, inBorder, inBorder);
        EXPECT_EQ(plain->StartRenderMPR(context, inDistance, inQuality, inMode, image).Wait(-1), kULMOK);
        return Pixels(image);
    }
    std::vector<uint32_t> BricksMPR(ULMVolume* inVolume, int inSide, ULMVolume::MPRMode inMode, double inDistance,
                                    int inQuality, double inBorder = 0.0) {
        ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, inSide));
        image->SetBorderValue(inBorder, inBorder, inBorder, inBorder);
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
        {"alpha, board, 2", ULMVolume::kMPRAlpha, 1, 2, 30, 40, 2.0, 2, 0},
        {"alpha, host, 3", ULMVolume::kMPRAlpha, 2, 3, -20, 70, 3.0, 4, 0},
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

// Where a ray's samples around the plane fall in two bricks, its mean alpha
// is the mean of all of them, as on one board: each brick sums and counts
// the samples of its share, every sample in one share, and the sums and
// counts are added before the mean is taken. Voxels that change sharply
// from one to the next make the mean of one brick's share differ from the
// whole's by far more than a rounding; both roads, two and three bricks,
// 1 to 4 samples a ray, planes ahead of the volume's centre and behind it.
// Where a ray takes no sample the image's border shows, as on one board.
TEST_F(Phase2MPRTest, AMeanAlphaAcrossASeamIsTheMeanOfAllTheRaysSamples) {
    for (size_t i = 0; i < voxels.size(); ++i) {
        const size_t x = i % size_t(size[0]), y = i / size_t(size[0]) % size_t(size[1]),
                     z = i / size_t(size[0]) / size_t(size[1]);
        voxels[i] = uint8_t((x * 7 + y * 3 + z * 5) % 11 * 23 + 10);
    }
    const struct {
        const char* name;
        int road;  // Multiboard2ForceRender: 1 board, 2 host
        int bricks;
        double tx, ty, distance;
        int quality;
        double border;
    } cases[] = {
        {"board, 2, 4 samples", 1, 2, 30, 40, 2.0, 4, 0.0},
        {"host, 3, 3 samples", 2, 3, -20, 70, 3.0, 3, 0.0},
        {"board, 3, 2 samples", 1, 3, 10, 100, -4.0, 2, 0.0},
        {"host, 2, 1 sample", 2, 2, 45, 15, 1.0, 1, 0.0},
        {"host, 3, 4 samples, behind the centre", 2, 3, 20, 60, -6.0, 4, 0.0},
        {"board, 2, 3 samples, ahead of the centre", 1, 2, -35, 30, 5.0, 3, 0.0},
        {"board, 3, 4 samples, a border", 1, 3, 30, 40, 2.0, 4, 0.4},
        {"host, 2, 2 samples, a border", 2, 2, -20, 70, 1.0, 2, 0.4},
    };
    constexpr int kSide = 80;
    Grey(0.5);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gULMControl.m_multiboard2ForceRender = c.road;
        Aim(c.tx, c.ty, kSide);
        ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(c.bricks));
        ASSERT_NE(bricked, nullptr);
        const std::vector<uint32_t> got =
            BricksMPR(bricked, kSide, ULMVolume::kMPRAlpha, c.distance, c.quality, c.border);
        const std::vector<uint32_t> want = OneBoardMPR(kSide, ULMVolume::kMPRAlpha, c.distance, c.quality, c.border);
        const uint32_t none = c.border == 0.0 ? 0u : 0x66666666u;
        int lit = 0, differ = 0, worst = 0, border = 0;
        for (size_t i = 0; i < want.size(); ++i) {
            lit += (want[i] & 0xFFFFFF) != 0 && want[i] != none;
            border += want[i] == none;
            differ += got[i] != want[i];
            for (int b = 0; b < 32; b += 8)
                worst = std::max(worst, std::abs(int(got[i] >> b & 0xFF) - int(want[i] >> b & 0xFF)));
        }
        EXPECT_GT(lit, kSide * kSide / 8);
        EXPECT_GT(border, kSide * kSide / 8) << "the border shows around the plane";
        EXPECT_EQ(differ, 0) << "worst " << worst;
    }
}

}  // namespace
}  // namespace ulm3
