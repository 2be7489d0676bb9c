// Every blend mode on either compositing road of a bricked volume: a render
// that answers OK has written the pixels the one-board render writes, and
// one that cannot composite its blend answers a failure and leaves the
// image as it was. A sum and count forced onto the board road, which cannot
// add partial sums and counts, is refused up front; left to choose, the
// road gives the one-board sums and counts.
#include <gtest/gtest.h>

#include "foundation/control.h"
#include "multiboard/phase2_fixture.h"

namespace ulm3 {
namespace {

using testing::kRGBA8;
using testing::kUF;

const ULMFieldDescriptor kSumAndCount[4] = {{0, 12, kUF}, {12, 12, kUF}, {}, {}};
constexpr int kSide = 96;

class Phase2BlendRoads : public testing::Phase2Test {
protected:
    Phase2BlendRoads() : Phase2Test(3) {}

    // A pattern no render writes, to tell written pixels from kept ones.
    static std::vector<uint32_t> Marker() {
        std::vector<uint32_t> held(size_t(kSide) * kSide);
        for (size_t i = 0; i < held.size(); ++i) held[i] = 0x01020304u * uint32_t(i % 61 + 1);
        return held;
    }

    // inVolume's render into an image at inWhere holding the marker, answered
    // as the application's render call answers it; the pixels after.
    ULMStatus RenderOverMarker(ULMVolume* inVolume, ULMLocation inWhere, std::vector<uint32_t>& outPixels,
                               const ULMFieldDescriptor* inFields = kRGBA8) {
        ReleasablePointer<ULMImageBuffer> image(Image(inWhere, kSide, 32, inFields));
        EXPECT_NE(image, nullptr);
        if (image == nullptr) return kULMErrAlloc;
        const std::vector<uint32_t> held = Marker();
        EXPECT_EQ(image->Update(held.data(), ULMImageRange(kSide, kSide, 0, 0), kSide), kULMOK);
        const ULMStatus status = inVolume->Render(context, image, nullptr, nullptr, nullptr);
        outPixels = Pixels(image);
        return status;
    }
    ULMStatus BricksOverMarker(ULMVolume* inVolume, std::vector<uint32_t>& outPixels,
                               const ULMFieldDescriptor* inFields = kRGBA8) {
        return RenderOverMarker(inVolume, kULMMultiBoardMode2, outPixels, inFields);
    }
    std::vector<uint32_t> OneBoardOverMarker(const ULMFieldDescriptor* inFields = kRGBA8) {
        ReleasablePointer<ULMVolumeInternal> plain(Plain());
        EXPECT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
        std::vector<uint32_t> pixels;
        EXPECT_EQ(RenderOverMarker(plain, kULMBoard0, pixels, inFields), kULMOK);
        return pixels;
    }
};

TEST_F(Phase2BlendRoads, EveryBlendEitherWritesItsPictureOrIsRefused) {
    Aim(30, 40, kSide);
    const std::vector<uint32_t> marker = Marker();
    // The one-board pictures first: the bricks then hold the boards' memory.
    std::vector<std::vector<uint32_t>> pictures;
    for (int m = kULMBlendNone; m <= kULMBlendMaxAlpha; ++m) {
        ASSERT_EQ(context->SetBlendMode(static_cast<ULMBlendMode>(m)), kULMOK);
        pictures.push_back(OneBoardOverMarker());
    }
    for (const int road : {1, 2}) {
        gULMControl.m_multiboard2ForceRender = road;
        for (const int bricks : {2, 3}) {
            ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(bricks));
            ASSERT_NE(bricked, nullptr);
            for (int m = kULMBlendNone; m <= kULMBlendMaxAlpha; ++m) {
                const auto mode = static_cast<ULMBlendMode>(m);
                SCOPED_TRACE(::testing::Message() << "road " << road << ", " << bricks << " bricks, blend " << m);
                ASSERT_EQ(context->SetBlendMode(mode), kULMOK);
                const std::vector<uint32_t>& want = pictures[size_t(m)];
                std::vector<uint32_t> got;
                const ULMStatus status = BricksOverMarker(bricked, got);
                if (ULMFailed(status)) {
                    EXPECT_EQ(got, marker) << "a refused render wrote into the image";
                    continue;
                }
                size_t drawn = 0, kept = 0;
                for (size_t i = 0; i < want.size(); ++i) {
                    if (want[i] == marker[i]) continue;
                    ++drawn;
                    kept += got[i] == marker[i];
                }
                if (mode != kULMBlendNone) {
                    EXPECT_GT(drawn, size_t(kSide) * kSide / 8) << "the view shows the volume";
                }
                EXPECT_EQ(kept, 0u) << "of " << drawn << " pixels one board draws, the bricks left these unwritten";
            }
        }
    }
}

TEST_F(Phase2BlendRoads, SumAndCountIsRefusedOnTheBoardRoadAndExactOtherwise) {
    Aim(25, 35, kSide);
    Grey(0.01);
    ASSERT_EQ(context->SetBlendMode(kULMBlendSumAndCount), kULMOK);
    const std::vector<uint32_t> want = OneBoardOverMarker(kSumAndCount);
    for (const int bricks : {2, 3}) {
        SCOPED_TRACE(::testing::Message() << bricks << " bricks");
        ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(bricks));
        ASSERT_NE(bricked, nullptr);
        std::vector<uint32_t> got;
        gULMControl.m_multiboard2ForceRender = 1;
        EXPECT_EQ(BricksOverMarker(bricked, got, kSumAndCount), kULMErrUnimplemented);
        EXPECT_EQ(got, Marker());
        // Sums and counts as last blend, after front to back: the board's
        // composite cannot add them either.
        ASSERT_EQ(context->SetBlendMode(kULMBlendFTB), kULMOK);
        ASSERT_EQ(context->SetLastBlendMode(kULMBlendSumAndCount), kULMOK);
        EXPECT_EQ(BricksOverMarker(bricked, got, kSumAndCount), kULMErrUnimplemented);
        EXPECT_EQ(got, Marker());
        ASSERT_EQ(context->SetLastBlendMode(kULMBlendFTB), kULMOK);
        ASSERT_EQ(context->SetBlendMode(kULMBlendSumAndCount), kULMOK);

        gULMControl.m_multiboard2ForceRender = 0;
        ASSERT_EQ(BricksOverMarker(bricked, got, kSumAndCount), kULMOK);
        EXPECT_EQ(got, want);
    }
}

}  // namespace
}  // namespace ulm3
