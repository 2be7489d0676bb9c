// MPR renders of the bricked volume against the MPR of the same voxels on
// one board, byte for byte: both modes, on both compositing roads, over two
// and three bricks. Alpha, an average over the samples near the plane: the
// bricks' sums and counts are added before the mean is taken, also where a
// ray's samples fall in two bricks. RGBA, the one sample nearest the plane
// over the image's border (or over what the image holds within its input
// limits): the brick that takes it draws it over what one board starts
// from, and the others leave that start as it was. Through a mipmap volume
// over the bricks too, in any pixel layout, and where a view the chip
// cannot subsample is rendered large and shrunk, on two and three boards.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/control.h"
#include "multiboard/phase2_fixture.h"
#include "support/bricked_mipmap.h"
#include "support/rendered_pixels.h"
#include "ulm3/library.h"

namespace ulm3 {
namespace {

class Phase2MPRTest : public testing::Phase2Test {
protected:
    explicit Phase2MPRTest(int inBoards = 2) : Phase2Test(inBoards) {}

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

// What an MPR is drawn over: the image's border, and, when a rectangle is
// given, the image's own pixels within it as its input limits.
struct MPRStart {
    std::array<double, 4> border;
    ULMImageRange input;
};

// The pixels an MPR leaves and the rectangle it says it wrote.
struct MPRPicture {
    std::vector<uint32_t> pixels;
    ULMImageRange limits;
};

class Phase2MPRBorderTest : public Phase2MPRTest, public ::testing::WithParamInterface<int> {
protected:
    Phase2MPRBorderTest() : Phase2MPRTest(GetParam()) {}

    // A mipmap volume over the voxels, over inBricks bricks (0: on one board).
    ULMVolume* MipmapVolume(int inBricks) { return testing::NewMipmapOverBricks(voxels.data(), size, inBricks); }

    // The MPR of inVolume into a fresh image at inWhere that holds a
    // pattern and starts as inStart says.
    MPRPicture Picture(ULMVolume* inVolume, ULMLocation inWhere, int inSide, ULMVolume::MPRMode inMode,
                       double inDistance, int inQuality, const MPRStart& inStart) {
        MPRPicture picture;
        ReleasablePointer<ULMImageBuffer> image(Image(inWhere, inSide));
        const ULMImageRange whole(inSide, inSide, 0, 0);
        std::vector<uint32_t> pattern(size_t(inSide) * size_t(inSide));
        for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = uint32_t(i * 2654435761u) | 0x40000000u;
        EXPECT_EQ(image->Update(pattern.data(), whole, 0), kULMOK);
        const auto& b = inStart.border;
        EXPECT_EQ(image->SetBorderValue(b[0], b[1], b[2], b[3]), kULMOK);
        EXPECT_EQ(image->SetInputLimits(inStart.input), kULMOK);
        EXPECT_EQ(inVolume->StartRenderMPR(context, inDistance, inQuality, inMode, image).Wait(-1), kULMOK);
        picture.pixels = Pixels(image);
        picture.limits = image->GetOutputLimits();
        return picture;
    }

    // The RGBA MPR of inVolume into a fresh inSide x (inSide + 3) image at
    // inWhere of inBits a pixel and inFields, over inBorder: its pixels.
    std::vector<uint64_t> Words(ULMVolume* inVolume, ULMLocation inWhere, int inSide, unsigned inBits,
                                const ULMFieldDescriptor (&inFields)[4], const std::array<double, 4>& inBorder) {
        const ULMImageRange whole(inSide, inSide + 3, 0, 0);
        ReleasablePointer<ULMImageBuffer> image(
            ULMImageBuffer::Create(inWhere, unsigned(inSide), unsigned(inSide + 3), inBits, 4, inFields));
        EXPECT_NE(image, nullptr);
        if (image == nullptr) return {};
        EXPECT_EQ(image->SetBorderValue(inBorder[0], inBorder[1], inBorder[2], inBorder[3]), kULMOK);
        EXPECT_EQ(inVolume->StartRenderMPR(context, 1.5, 1, ULMVolume::kMPRRGBA, image).Wait(-1), kULMOK);
        const size_t bytes = inBits / 8, count = size_t(whole.XSize()) * size_t(whole.YSize());
        std::vector<unsigned char> raw(count * bytes);
        EXPECT_EQ(image->Unload(raw.data(), whole, 0), kULMOK);
        std::vector<uint64_t> words(count, 0);
        for (size_t i = 0; i < count; ++i) std::memcpy(&words[i], &raw[i * bytes], bytes);
        return words;
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
        {"rgba, board, 3", ULMVolume::kMPRRGBA, 1, 3, 10, 100, 2.0, 2, 0},
        {"rgba, host, 2", ULMVolume::kMPRRGBA, 2, 2, 45, 15, 1.0, 1, 0},
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
        int lit = 0;
        for (const uint32_t pixel : want) lit += (pixel & 0xFFFFFF) != 0;
        EXPECT_GT(lit, kSide * kSide / 8);
        EXPECT_LE(test_support::WorstChannelDifference(got, want), c.tolerance);
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
        int lit = 0, differ = 0, border = 0;
        for (size_t i = 0; i < want.size(); ++i) {
            lit += (want[i] & 0xFFFFFF) != 0 && want[i] != none;
            border += want[i] == none;
            differ += got[i] != want[i];
        }
        const int worst = test_support::WorstChannelDifference(got, want);
        EXPECT_GT(lit, kSide * kSide / 8);
        EXPECT_GT(border, kSide * kSide / 8) << "the border shows around the plane";
        EXPECT_EQ(differ, 0) << "worst " << worst;
    }
}

// An MPR over a border that is not 0, or over what the image holds within
// its input limits, gives the one-board MPR byte for byte: in both modes,
// whatever road Multiboard2ForceRender names (0 the volume's choice, 1 a
// board, 2 the host), over two and three bricks, through a mipmap volume
// over the bricks at its finest level and at a coarser one. The border
// shows where the plane misses the volume; in RGBA it lies in front of the
// sample, so a colour with no opacity adds to it and an opaque border
// hides it.
TEST_P(Phase2MPRBorderTest, AnMPROverABorderOrTheImageEqualsTheOneBoardMPR) {
    constexpr ULMVolume::MPRMode kRGBA = ULMVolume::kMPRRGBA, kAlpha = ULMVolume::kMPRAlpha;
    const std::array<double, 4> tinted = {0.2, 0.4, 0.6, 0.3}, clear = {0.5, 0.25, 0.1, 0.0},
                                grey = {0.4, 0.4, 0.4, 0.4}, opaque = {0.1, 0.7, 0.3, 1.0};
    const ULMImageRange held(41, 30, 17, 23);
    const struct {
        const char* name;
        ULMVolume::MPRMode mode;
        int road;   // Multiboard2ForceRender
        int bricks;
        int level;  // the mipmap level drawn; -1: the bricked volume itself
        double tx, ty, distance;
        int quality;
        MPRStart start;
    } cases[] = {
        {"rgba, board, 2 bricks, tinted", kRGBA, 1, 2, -1, 30, 40, 2.0, 1, {tinted, {}}},
        {"rgba, host, 3 bricks, tinted", kRGBA, 2, 3, -1, -20, 70, 3.0, 2, {tinted, {}}},
        {"rgba, chosen, 3 bricks, clear", kRGBA, 0, 3, -1, 10, 100, -4.0, 1, {clear, {}}},
        {"rgba, board, 2 bricks, opaque", kRGBA, 1, 2, -1, 45, 15, 1.0, 2, {opaque, {}}},
        {"rgba, board, 3 bricks, over the image", kRGBA, 1, 3, -1, 45, 15, 1.0, 2, {grey, held}},
        {"rgba, host, 2 bricks, over the image", kRGBA, 2, 2, -1, 30, 40, 2.0, 1, {tinted, held}},
        {"rgba, board, 2 bricks, mipmap level 0", kRGBA, 1, 2, 0, -35, 30, 2.0, 1, {tinted, {}}},
        {"rgba, host, 3 bricks, mipmap level 1", kRGBA, 2, 3, 1, 20, 60, -1.0, 1, {grey, {}}},
        {"rgba, chosen, 2 bricks, mipmap level 1", kRGBA, 0, 2, 1, 30, 40, 1.0, 2, {clear, held}},
        {"alpha, board, 3 bricks, mipmap level 1", kAlpha, 1, 3, 1, 30, 40, 2.0, 2, {tinted, {}}},
        {"alpha, host, 2 bricks, over the image", kAlpha, 2, 2, -1, -20, 70, 1.0, 3, {grey, held}},
        {"alpha, chosen, 3 bricks, mipmap level 0", kAlpha, 0, 3, 0, 10, 100, -2.0, 4, {opaque, {}}},
    };
    constexpr int kSide = 77;
    Grey(0.5);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.name << ", " << GetParam() << " boards");
        gULMControl.m_multiboard2ForceRender = c.road;
        Aim(c.tx, c.ty, kSide);
        ReleasablePointer<ULMVolume> one, bricked;
        if (c.level < 0) {
            one.Assign(Plain());
            ASSERT_EQ(one->LockVolume(kULMBoard0), kULMOK);
            bricked.Assign(Bricked(c.bricks));
        } else {
            one.Assign(MipmapVolume(0));
            bricked.Assign(MipmapVolume(c.bricks));
            ASSERT_NE(one, nullptr);
            ASSERT_NE(bricked, nullptr);
            ASSERT_EQ(one->SetMipmapRange(c.level, c.level), kULMOK);
            ASSERT_EQ(bricked->SetMipmapRange(c.level, c.level), kULMOK);
        }
        ASSERT_NE(bricked, nullptr);
        const MPRPicture want = Picture(one, kULMBoard0, kSide, c.mode, c.distance, c.quality, c.start);
        const MPRPicture got = Picture(bricked, kULMMultiBoardMode2, kSide, c.mode, c.distance, c.quality, c.start);
        EXPECT_EQ(bricked->GetBufferLocation(), kULMMultiBoardMode2);
        // Where no sample is taken one board writes the same word all over.
        std::vector<uint32_t> sorted = want.pixels;
        std::sort(sorted.begin(), sorted.end());
        uint32_t none = sorted[0];
        size_t most = 0;
        for (size_t i = 0, run = 0; i < sorted.size(); ++i) {
            run = i > 0 && sorted[i] == sorted[i - 1] ? run + 1 : 1;
            if (run > most) most = run, none = sorted[i];
        }
        int sampled = 0, differ = 0;
        for (size_t i = 0; i < want.pixels.size(); ++i) {
            sampled += want.pixels[i] != none;
            differ += got.pixels[i] != want.pixels[i];
        }
        const int worst = test_support::WorstChannelDifference(got.pixels, want.pixels);
        if (c.start.border[3] < 1.0) {
            EXPECT_GT(sampled, kSide * kSide / 8) << "the plane crosses the view";
        }
        EXPECT_GT(most, size_t(kSide * kSide / 10)) << "the plane misses part of the view";
        EXPECT_EQ(differ, 0) << "worst " << worst << " steps";
        EXPECT_TRUE(got.limits == want.limits);
    }
}

// The brick that takes a ray's sample writes what one board writes in any
// layout of the image, fields of 4 to 16 bits, signed, with no alpha: the
// RGBA MPR equals the one-board MPR byte for byte in each, whatever the
// road, over two and three bricks.
TEST_P(Phase2MPRBorderTest, AnRGBAMPRIsTheOneBoardMPRInEveryPixelLayout) {
    using testing::kUF;
    constexpr ULMFieldFormat kSF = kULMSignedFraction;
    const struct {
        const char* name;
        unsigned bits;
        ULMFieldDescriptor fields[4];
    } layouts[] = {
        {"8-bit RGBA", 32, {{0, 8, kUF}, {8, 8, kUF}, {16, 8, kUF}, {24, 8, kUF}}},
        {"16-bit RGBA", 64, {{0, 16, kUF}, {16, 16, kUF}, {32, 16, kUF}, {48, 16, kUF}}},
        {"12-bit RGBA", 64, {{0, 12, kUF}, {12, 12, kUF}, {24, 12, kUF}, {36, 12, kUF}}},
        {"4-bit RGBA", 16, {{0, 4, kUF}, {4, 4, kUF}, {8, 4, kUF}, {12, 4, kUF}}},
        {"no alpha, signed green", 16, {{0, 4, kUF}, {4, 8, kSF}, {12, 4, kUF}, {}}},
    };
    const std::array<double, 4> border = {0.3, 0.6, 0.1, 0.2};
    constexpr int kSide = 83;
    Grey(0.7);
    for (const auto& layout : layouts) {
        for (const int road : {0, 1, 2}) {
            for (const int bricks : {2, 3}) {
                SCOPED_TRACE(::testing::Message() << layout.name << ", road " << road << ", " << bricks << " bricks, "
                                                  << GetParam() << " boards");
                gULMControl.m_multiboard2ForceRender = road;
                Aim(20 + 35 * road, -50 + 40 * bricks, kSide);
                ReleasablePointer<ULMVolume> one(Plain());
                ASSERT_EQ(one->LockVolume(kULMBoard0), kULMOK);
                ReleasablePointer<ULMVolume> bricked(Bricked(bricks));
                ASSERT_NE(bricked, nullptr);
                const std::vector<uint64_t> want = Words(one, kULMBoard0, kSide, layout.bits, layout.fields, border);
                const std::vector<uint64_t> got =
                    Words(bricked, kULMMultiBoardMode2, kSide, layout.bits, layout.fields, border);
                ASSERT_EQ(got.size(), want.size());
                int differ = 0, sampled = 0;
                for (size_t i = 0; i < want.size(); ++i) {
                    differ += got[i] != want[i];
                    sampled += want[i] != want[0];
                }
                EXPECT_GT(sampled, kSide * kSide / 8);
                EXPECT_EQ(differ, 0);
            }
        }
    }
}

// A view the chip cannot subsample, with ResizeImage on, is rendered large
// and shrunk as one board's MPR is: through the MPR's own settings, not the
// caller's blending (a maximum, a last blend) or depth filters, and a mean
// alpha shrunk as its sums and counts before the mean is taken. Both modes
// give the one-board MPR byte for byte, over a border or the image.
TEST_P(Phase2MPRBorderTest, AnMPRRenderedLargeAndShrunkEqualsTheOneBoardMPR) {
    constexpr ULMVolume::MPRMode kRGBA = ULMVolume::kMPRRGBA, kAlpha = ULMVolume::kMPRAlpha;
    const std::array<double, 4> tinted = {0.2, 0.4, 0.6, 0.3};
    const ULMImageRange held(11, 9, 5, 7);
    const struct {
        const char* name;
        ULMVolume::MPRMode mode;
        int road;  // Multiboard2ForceRender
        int bricks;
        ULMBlendMode blend, last;  // the caller's
        int quality;
        MPRStart start;
    } cases[] = {
        {"alpha, board, 2 bricks", kAlpha, 1, 2, kULMBlendFTB, kULMBlendNone, 2, {{}, {}}},
        {"alpha, host, 3 bricks, over the image", kAlpha, 2, 3, kULMBlendFTB, kULMBlendNone, 3, {tinted, held}},
        {"alpha, chosen, 2 bricks, a maximum", kAlpha, 0, 2, kULMBlendMaxRed, kULMBlendNone, 1, {tinted, {}}},
        {"rgba, board, 3 bricks, a maximum", kRGBA, 1, 3, kULMBlendMaxRed, kULMBlendNone, 1, {tinted, {}}},
        {"rgba, host, 2 bricks, a last blend", kRGBA, 2, 2, kULMBlendFTB, kULMBlendReplace, 2, {tinted, held}},
        {"rgba, chosen, 3 bricks", kRGBA, 0, 3, kULMBlendBTF, kULMBlendNone, 1, {{}, {}}},
    };
    constexpr int kSide = 24;
    Grey(0.5);
    gULMControl.m_resizeImage = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.name << ", " << GetParam() << " boards");
        gULMControl.m_multiboard2ForceRender = c.road;
        Aim(30, 40, kSide);
        ASSERT_EQ(context->SetBlendMode(c.blend), kULMOK);
        ASSERT_EQ(context->SetLastBlendMode(c.last), kULMOK);
        ReleasablePointer<ULMVolume> one(Plain());
        ASSERT_EQ(one->LockVolume(kULMBoard0), kULMOK);
        ReleasablePointer<ULMVolume> bricked(Bricked(c.bricks));
        ASSERT_NE(bricked, nullptr);
        const MPRPicture want = Picture(one, kULMBoard0, kSide, c.mode, 1.0, c.quality, c.start);
        const MPRPicture got = Picture(bricked, kULMMultiBoardMode2, kSide, c.mode, 1.0, c.quality, c.start);
        int differ = 0, sampled = 0;
        for (size_t i = 0; i < want.pixels.size(); ++i) {
            differ += got.pixels[i] != want.pixels[i];
            sampled += (want.pixels[i] & 0xFFFFFF) != (want.pixels[0] & 0xFFFFFF);
        }
        const int worst = test_support::WorstChannelDifference(got.pixels, want.pixels);
        EXPECT_GT(sampled, kSide * kSide / 8) << "the plane crosses the view";
        EXPECT_EQ(differ, 0) << "worst " << worst << " steps";
        EXPECT_TRUE(got.limits == want.limits);
    }
    // Without ResizeImage such a view is refused, as on one board.
    gULMControl.m_resizeImage = false;
    ReleasablePointer<ULMVolume> bricked(Bricked(2));
    ASSERT_NE(bricked, nullptr);
    ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, kSide));
    EXPECT_EQ(bricked->StartRenderMPR(context, 1.0, 1, kRGBA, image).Wait(-1), kULMErrCantSubsample);
}

INSTANTIATE_TEST_SUITE_P(Boards, Phase2MPRBorderTest, ::testing::Values(2, 3));

}  // namespace
}  // namespace ulm3
