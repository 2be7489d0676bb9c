// Renders of the bricked volume against the one-board render of the same
// voxels: maximum and minimum of a grey classification byte for byte on
// both compositing roads, sums and counts exactly on the host road, and
// front to back within one 8-bit step per brick; one volume rendered in
// turn by either road, blend and layout; extremes of keys that tie at
// 8 bits but not at 12; and a brick's render that fails on its board.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#include "foundation/control.h"
#include "multiboard/phase2_fixture.h"
#include "support/control_snapshot.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"

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

namespace ulm3 {
namespace {

// The largest difference between two pictures over the fields of inFields,
// in units of each field's own bits.
int Worst(const std::vector<uint32_t>& inGot, const std::vector<uint32_t>& inWant, const ULMFieldDescriptor* inFields) {
    int worst = 0;
    for (size_t i = 0; i < inWant.size(); ++i)
        for (int k = 0; k < 4; ++k)
            if (inFields[k].m_size > 0)
                worst = std::max(worst, std::abs(Channel(inGot[i], inFields[k].m_position, inFields[k].m_size) -
                                                 Channel(inWant[i], inFields[k].m_position, inFields[k].m_size)));
    return worst;
}

// One volume rendered in turn by either road, in several blends and pixel
// layouts, each render waited for: whatever the render before it left to
// reuse (a frame made for the other road, for 8-bit or 12-bit partial
// images, for another layout), each picture is its own one-board picture.
TEST_F(Phase2RenderTest, RendersInTurnOfEveryRoadBlendAndLayoutEachGiveTheOneBoardPicture) {
    struct Turn {
        const char* name;
        ULMBlendMode mode;
        const ULMFieldDescriptor* fields;
        int tolerance;  // per brick
    };
    const Turn turns[] = {
        {"front to back, board road", kULMBlendFTB, kRGBA8, 1},
        {"sums and counts in 8 bits, host road", kULMBlendSumAndCount, kRGBA8, 1},
        {"front to back, board road again", kULMBlendFTB, kRGBA8, 1},
        {"sums and counts in 12 bits", kULMBlendSumAndCount, kSumAndCount, 0},
        {"maximum, host road with 12-bit partials", kULMBlendMaxRed, kRGBA8, 0},
        {"sums and counts in 8 bits after 12-bit partials", kULMBlendSumAndCount, kRGBA8, 1},
        {"minimum, host road", kULMBlendMinAlpha, kRGBA8, 0},
        {"front to back, board road last", kULMBlendFTB, kRGBA8, 1},
    };
    constexpr int kSide = 80;
    gULMControl.m_multiboard2ForceRender = 0;
    for (const int bricks : {2, 3}) {
        ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(bricks));
        ASSERT_NE(bricked, nullptr);
        Aim(30, 40, kSide);
        for (const Turn& t : turns) {
            SCOPED_TRACE(::testing::Message() << bricks << " bricks, " << t.name);
            ASSERT_EQ(context->SetBlendMode(t.mode), kULMOK);
            if (t.mode == kULMBlendSumAndCount)
                Grey(0.01);
            else if (t.mode == kULMBlendFTB)
                Grey(0.2);
            else
                PureGrey(t.mode <= kULMBlendMinAlpha ? 0 : 30);
            const double start = t.mode == kULMBlendMinAlpha ? 1.0 : 0.0;
            const std::vector<uint32_t> want = OneBoard(kSide, start, 32, t.fields);
            const std::vector<uint32_t> got = Bricks(bricked, kSide, start, 32, t.fields);
            const uint32_t blank = start == 0.0 ? 0u : 0xFFFFFFFFu;
            EXPECT_GT(std::count_if(want.begin(), want.end(), [blank](uint32_t p) { return p != blank; }),
                      kSide * kSide / 8);
            EXPECT_LE(Worst(got, want, t.fields), t.tolerance * bricks);
        }
    }
}

// A brick's render that fails on its board (a hardware error) fails the
// whole render, on either road, as a failed render on one board does,
// although the composite after it runs; the next render is whole again.
TEST_F(Phase2RenderTest, ABricksFailedRenderFailsTheRenderOnEitherRoad) {
    constexpr int kSide = 96;
    Aim(30, 40, kSide);
    Grey(0.2);
    ASSERT_EQ(context->SetBlendMode(kULMBlendFTB), kULMOK);
    for (const int road : {1, 2}) {
        // The bricks render in their order, each on its own board, before
        // the composite: the nth render request is brick n - 1's.
        for (const int brick : {0, 1}) {
            SCOPED_TRACE(::testing::Message() << "road " << road << ", brick " << brick << " fails");
            gULMControl.m_multiboard2ForceRender = road;
            ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(2));
            ASSERT_NE(bricked, nullptr);
            const std::vector<uint32_t> want = Bricks(bricked, kSide);
            tulx7sim::InjectCompletionFailure(TULX7_DR_RENDER, brick + 1);
            ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, kSide));
            EXPECT_EQ(bricked->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMErrHardware);
            EXPECT_EQ(Bricks(bricked, kSide), want);
        }
    }
}

// Minimum and maximum on every channel, of samples whose key rises by less
// than an 8-bit step from one voxel value to the next while the other
// channels rise and fall steeply: keys of different bricks that tie once
// rounded to 8 bits do not tie in the chip's 12, and the sample one board
// takes is the one every brick's composite must take, on whichever road
// the mode goes by itself.
TEST_F(Phase2RenderTest, ExtremesOfKeysThatTieAtEightBitsButNotAtTwelveAreTheOneBoardPicture) {
    constexpr int kSide = 80;
    gULMControl.m_multiboard2ForceRender = 0;
    for (int mode = kULMBlendMinRed; mode <= kULMBlendMaxAlpha; ++mode) {
        const bool minimum = mode <= kULMBlendMinAlpha;
        const int key = minimum ? mode - kULMBlendMinRed : mode - kULMBlendMaxRed;
        for (int i = 0; i < 256; ++i) {
            const float v = float(i) / 255.0f;
            // Key: 0.3 + 0.0009 i, some four 12-bit steps a value but an
            // 8-bit step only every four or five values; the others: up,
            // down and zigzag.
            float c[4] = {v, 1.0f - v, float(i % 7) / 6.0f, 0.5f + 0.5f * v};
            c[key] = 0.3f + 0.0009f * float(i);
            table->SetEntry(unsigned(i), ULMRGBAFloat(c[0], c[1], c[2], c[3]));
        }
        ASSERT_EQ(context->SetBlendMode(ULMBlendMode(mode)), kULMOK);
        const double start = minimum ? 1.0 : 0.0;
        for (const int bricks : {2, 3}) {
            SCOPED_TRACE(::testing::Message() << "mode " << mode << ", " << bricks << " bricks");
            ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(bricks));
            ASSERT_NE(bricked, nullptr);
            Aim(20 + 15 * bricks, 30, kSide);
            const std::vector<uint32_t> want = OneBoard(kSide, start);
            const std::vector<uint32_t> got = Bricks(bricked, kSide, start);
            int differ = 0;
            for (size_t p = 0; p < want.size(); ++p) differ += got[p] != want[p];
            EXPECT_EQ(differ, 0) << "pixels of " << want.size();
        }
    }
}

}  // namespace
}  // namespace ulm3
