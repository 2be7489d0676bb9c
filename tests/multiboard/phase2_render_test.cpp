// Renders of the bricked volume against the one-board render of the same
// voxels: maximum and minimum of a grey classification byte for byte on
// both compositing roads, sums and counts exactly on the host road, and
// front to back within one 8-bit step per brick.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "foundation/control.h"
#include "multiboard/phase2_fixture.h"
#include "support/control_snapshot.h"

namespace ulm3 {
namespace {

using testing::kRGBA8;
using testing::kUF;

// Sum in red, count in green: the host road's 12-bit layout.
const ULMFieldDescriptor kSumAndCount[4] = {{0, 12, kUF}, {12, 12, kUF}, {}, {}};

int Channel(uint32_t inPixel, int inShift, int inBits) { return int(inPixel >> inShift) & ((1 << inBits) - 1); }

struct Case {
    const char* name;
    ULMBlendMode mode;
    int road;    // Multiboard2ForceRender: 1 board, 2 host
    int bricks;  // on two boards
    double tx, ty;
    int tolerance;  // in 8-bit steps per brick
};

class Phase2RenderTest : public testing::Phase2Test {
protected:
    Phase2RenderTest() : Phase2Test(2) {}
};

// Every case renders the same view of the same voxels once through the
// bricks and once on one board.
TEST_F(Phase2RenderTest, BricksRenderAsOneBoard) {
    const Case cases[] = {
        {"max, board", kULMBlendMaxRed, 1, 2, 30, 40, 0},   {"max, host", kULMBlendMaxRed, 2, 2, 30, 40, 0},
        {"min, board", kULMBlendMinAlpha, 1, 2, -20, 125, 0}, {"min, host", kULMBlendMinAlpha, 2, 2, -20, 125, 0},
        {"max, 4 on board", kULMBlendMaxRed, 1, 4, 70, 10, 0}, {"max, 3 on host", kULMBlendMaxRed, 2, 3, 10, -80, 0},
        {"ftb, board", kULMBlendFTB, 1, 2, 30, 40, 1},      {"ftb, host", kULMBlendFTB, 2, 2, 30, 40, 1},
        {"ftb, 4 on board", kULMBlendFTB, 1, 4, 200, 60, 1}, {"btf, 3 on host", kULMBlendBTF, 2, 3, 45, 160, 1},
        {"ftb, 8 on host", kULMBlendFTB, 2, 8, 10, 100, 1},  {"ftb, 8 on board", kULMBlendFTB, 1, 8, 10, 100, 1},
    };
    constexpr int kSide = 96;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gULMControl.m_multiboard2ForceRender = c.road;
        Aim(c.tx, c.ty, kSide);
        ASSERT_EQ(context->SetBlendMode(c.mode), kULMOK);
        const bool extreme = c.mode >= kULMBlendMinRed;
        if (extreme)
            PureGrey(c.mode <= kULMBlendMinAlpha ? 0 : 30);
        else
            Grey(0.2);
        // A minimum starts from white: pixels no sample reaches keep it.
        const double start = c.mode <= kULMBlendMinAlpha && extreme ? 1.0 : 0.0;
        ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(c.bricks));
        ASSERT_NE(bricked, nullptr);
        const std::vector<uint32_t> got = Bricks(bricked, kSide, start);
        const std::vector<uint32_t> want = OneBoard(kSide, start);
        int worst = 0, lit = 0;
        const uint32_t blank = start == 0.0 ? 0u : 0xFFFFFFFFu;
        for (size_t i = 0; i < want.size(); ++i) {
            lit += want[i] != blank;
            for (int b = 0; b < 4; ++b)
                worst = std::max(worst, std::abs(Channel(got[i], 8 * b, 8) - Channel(want[i], 8 * b, 8)));
        }
        EXPECT_GT(lit, kSide * kSide / 8);  // the volume fills a good part of the view
        EXPECT_LE(worst, c.tolerance * c.bricks);
        if (c.bricks == 8) {  // the nearest brick's position is not its number
            int order[8], position[8];
            bricked->GetBlendOrder(order, position);
            EXPECT_NE(order[0], position[0]);
        }
    }
}

// Sums of alpha and counts of samples, on the host road that adds them:
// a sample on a seam counted by no brick or by two shows in the counts.
TEST_F(Phase2RenderTest, SumsAndCountsAreExact) {
    constexpr int kSide = 96;
    Grey(0.01);
    for (const int bricks : {2, 3, 4}) {
        SCOPED_TRACE(bricks);
        Aim(25 * bricks, 35, kSide);
        ASSERT_EQ(context->SetBlendMode(kULMBlendSumAndCount), kULMOK);
        ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(bricks));
        ASSERT_NE(bricked, nullptr);
        const std::vector<uint32_t> got = Bricks(bricked, kSide, 0.0, 32, kSumAndCount);
        const std::vector<uint32_t> want = OneBoard(kSide, 0.0, 32, kSumAndCount);
        int counted = 0;
        for (size_t i = 0; i < want.size(); ++i) {
            counted += Channel(want[i], 12, 12) > 0;
            ASSERT_EQ(Channel(got[i], 0, 12), Channel(want[i], 0, 12)) << i;
            ASSERT_EQ(Channel(got[i], 12, 12), Channel(want[i], 12, 12)) << i;
        }
        EXPECT_GT(counted, kSide * kSide / 8);
    }
}

}  // namespace
}  // namespace ulm3

namespace ulm3 {
namespace {

// A picture some hundreds of pixels wide, composited on a board: every
// pixel is written, up to the last row and column, as one board writes it.
TEST_F(Phase2RenderTest, LargePicturesAreCompositedToTheirLastPixel) {
    gULMControl.m_multiboard2ForceRender = 1;
    constexpr int kSide = 300;
    Aim(25, 35, kSide);
    PureGrey(30);
    ASSERT_EQ(context->SetBlendMode(kULMBlendMaxRed), kULMOK);
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(2));
    ASSERT_NE(bricked, nullptr);
    EXPECT_EQ(Bricks(bricked, kSide), OneBoard(kSide));
}

}  // namespace
}  // namespace ulm3
