// Bricks composited on a board into a viewport that starts at an odd pixel
// of the image: the board's stack starts on an even pixel, the picture must
// not. Against the one-board render of the same view, within one 8-bit step
// per brick front to back.
#include <gtest/gtest.h>

#include <cstdlib>

#include "foundation/control.h"
#include "multiboard/phase2_fixture.h"

namespace ulm3 {
namespace {

struct Viewport {
    int x, y, width, height;
};
void PrintTo(const Viewport& v, std::ostream* out) { *out << v.width << "x" << v.height << " at " << v.x << "," << v.y; }

class Phase2OddOriginTest : public testing::Phase2Test, public ::testing::WithParamInterface<Viewport> {
protected:
    Phase2OddOriginTest() : Phase2Test(2) {}
};

TEST_P(Phase2OddOriginTest, BoardCompositeLandsWhereOneBoardDraws) {
    constexpr int kSide = 96;
    const Viewport v = GetParam();
    gULMControl.m_multiboard2ForceRender = 1;  // composite on a board
    Grey(0.2);
    ASSERT_EQ(context->SetBlendMode(kULMBlendFTB), kULMOK);
    for (const int bricks : {2, 3}) {
        SCOPED_TRACE(bricks);
        Aim(30, 40, kSide);
        context->GetCamera().SetViewport(v.x, v.y, v.width, v.height);
        ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(bricks));
        ASSERT_NE(bricked, nullptr);
        const std::vector<uint32_t> got = Bricks(bricked, kSide);
        const std::vector<uint32_t> want = OneBoard(kSide);
        int worst = 0, lit = 0;
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                const size_t i = size_t(y) * kSide + x;
                const bool in = x >= v.x && x < v.x + v.width && y >= v.y && y < v.y + v.height;
                lit += in && want[i] != 0;
                for (int b = 0; b < 32; b += 8)
                    worst = std::max(worst, std::abs(int(got[i] >> b & 0xFF) - int(want[i] >> b & 0xFF)));
            }
        EXPECT_GT(lit, v.width * v.height / 8);
        EXPECT_LE(worst, bricks);
    }
}

INSTANTIATE_TEST_SUITE_P(Viewports, Phase2OddOriginTest,
                         ::testing::Values(Viewport{3, 5, 81, 77}, Viewport{1, 0, 95, 96}, Viewport{0, 7, 96, 89},
                                           Viewport{12, 10, 70, 70}));

}  // namespace
}  // namespace ulm3
