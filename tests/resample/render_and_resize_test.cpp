// Render-and-resize: views the chip cannot subsample against a host shrink
// of the large render, MPR grey, the sums' host step and the refusals.
#include <gtest/gtest.h>

#include <vector>

#include "context/classifier_internal.h"
#include "resample/render_and_resize.h"
#include "support/resample_reference.h"
#include "tulx7/driver_requests.h"
#include "volume/volume_fixture.h"

namespace ulm3::testing {
namespace {

using RenderAndResizeTest = VolumePassTest;
const ULMFieldDescriptor kRGBA[4] = {
    {0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction}, {16, 8, kULMUnsignedFraction},
    {24, 8, kULMUnsignedFraction}};
constexpr int kSmall = 21, kLarge = 101;  // the large view: 5 of its pixels per small one

ULMImageBuffer* Image(int inSide) { return ULMImageBuffer::Create(kULMBoard0, inSide, inSide, 32, 4, kRGBA); }

std::vector<uint32_t> Read(ULMImageBuffer* inImage, int inSide) {
    std::vector<uint32_t> pixels(size_t(inSide) * inSide);
    EXPECT_EQ(inImage->Unload(pixels.data(), {inSide, inSide, 0, 0}, 0), kULMOK);
    return pixels;
}

// A 256 x 256 x 2 volume whose red and green ramp along X and Y, seen through
// a viewport of inSide pixels at (inAt, inAt) that spans (kSmall - 1) x
// inVoxels voxels, one slice per voxel however near.
struct Scene {
    std::vector<uint32_t> voxels = std::vector<uint32_t>(256 * 256 * 2);
    Held<ULMVolumeInternal> volume;
    Held<ULMContext> context{ULMContext::Create()};
    Scene(double inVoxels, int inSide, uint32_t inAlpha, ULMBlendMode inMode, int inAt = 0) {
        for (size_t i = 0; i < voxels.size(); ++i)
            voxels[i] = uint32_t((i % 256) | (i / 256 % 256) << 8) | inAlpha << 24;
        volume.Assign(ULMVolumeInternal::CreateSimpleVolume(32, {256, 256, 2, 0, 0, 0}, 4, kRGBA, voxels.data()));
        volume->SetCorrectionMatrix(ULMMatrix::Identity());
        context->SetClassifier(ULMClassifierInternal::DirectRGBAClassifier());
        context->SetBlendMode(inMode);
        context->SetSamplingLimits(1, 3, 1, 1);
        const double s = 2 / ((kSmall - 1) * inVoxels);
        context->GetCamera().SetProjectionMatrix(ULMMatrix::Translate(-127.5 * s, -127.5 * s, -0.25) *
                                                 ULMMatrix::Scale(s, s, 0.5));
        context->GetCamera().SetViewport(inAt, inAt, inSide, inSide);
    }
    ULMStatus Render(ULMImageBuffer* ioImage) {
        return volume->StartRender(context, ioImage, nullptr, nullptr, nullptr).Wait(-1);
    }
};

// Scales from just above the chip's limit, where the enlarged size comes out
// odd or even and the shrink takes one, two or three passes, to eight voxels
// a pixel; views at the image's corner, and at origins the enlargement makes
// odd.
TEST_F(RenderAndResizeTest, ResizedViewsMatchAHostShrinkOfTheLargeRender) {
    struct Case {
        double voxelsPerPixel;
        uint32_t alpha;
        ULMBlendMode mode;
        int at = 0;  // the small view's origin
    } cases[] = {{2.05, 255, kULMBlendFTBPreWeighted},    {2.3, 255, kULMBlendFTBPreWeighted, 1},
                 {2.6, 255, kULMBlendFTBPreWeighted},     {3.3, 255, kULMBlendFTBPreWeighted},
                 {3.3, 255, kULMBlendFTBPreWeighted, 3},  {4.4, 255, kULMBlendFTBPreWeighted},
                 {5.0, 255, kULMBlendFTBPreWeighted},     {5.2, 255, kULMBlendFTBPreWeighted, 5},
                 {6.0, 255, kULMBlendFTBPreWeighted},     {6.0, 128, kULMBlendFTB},
                 {7.1, 128, kULMBlendFTB},                {8.0, 255, kULMBlendFTBPreWeighted}};
    for (const Case& c : cases) {
        Scene small(c.voxelsPerPixel, kSmall, c.alpha, c.mode, c.at), large(c.voxelsPerPixel, kLarge, c.alpha, c.mode);
        const int side = kSmall + c.at;
        Held<ULMImageBuffer> image(Image(side)), big(Image(kLarge));
        ASSERT_EQ(small.Render(image), kULMErrCantSubsample);
        ASSERT_EQ(large.Render(big), kULMOK);
        const size_t buffers = LiveBuffers();
        gULMControl.m_resizeImage = true;
        const ULMStatus resized = small.Render(image);
        gULMControl.m_resizeImage = false;
        ASSERT_EQ(resized, kULMOK) << c.voxelsPerPixel;
        const std::vector<uint32_t> got = Read(image, side), want = Read(big, kLarge);
        EXPECT_EQ(LiveBuffers(), buffers) << "a temporary outlived its passes";
        const double step = (kLarge - 1.0) / (kSmall - 1);
        for (int i = 0; i < kSmall * kSmall; ++i)
            for (int ch = 0; ch < 4; ++ch) {
                auto at = [&](int u, int v, int) { return double(want[size_t(v) * kLarge + u] >> 8 * ch & 255); };
                const double ref = RefSample(at, {step, 0}, {step, 0}, {1, 0}, i % kSmall, i / kSmall, 0);
                const uint32_t pixel = got[size_t(i / kSmall + c.at) * side + i % kSmall + c.at];
                ASSERT_NEAR(pixel >> 8 * ch & 255, ref, 1.0) << c.voxelsPerPixel << " at " << i << " channel " << ch;
            }
    }
}

TEST_F(RenderAndResizeTest, AResizedMPRKeepsTheUnzoomedGrey) {
    Scene far(6.0, kSmall, 200, kULMBlendFTB), near(1.0, kSmall, 200, kULMBlendFTB);
    Held<ULMImageBuffer> zoomed(Image(kSmall)), plain(Image(kSmall));
    ASSERT_EQ(near.volume->StartRenderMPR(near.context, 0, 2, ULMVolume::kMPRAlpha, plain).Wait(-1), kULMOK);
    gULMControl.m_resizeImage = true;
    const ULMStatus resized = far.volume->StartRenderMPR(far.context, 0, 2, ULMVolume::kMPRAlpha, zoomed).Wait(-1);
    gULMControl.m_resizeImage = false;
    ASSERT_EQ(resized, kULMOK);
    const std::vector<uint32_t> got = Read(zoomed, kSmall), want = Read(plain, kSmall);
    for (int i = 0; i < kSmall * kSmall; ++i) ASSERT_NEAR(got[i] & 255, want[kSmall * kSmall / 2] & 255, 2.0) << i;
}

// The enlarged render fails on its board (a hardware error): the shrink
// queued behind it runs all the same, and the render answers the failure,
// in a plain render and in an MPR; the next render is whole again.
TEST_F(RenderAndResizeTest, AnEnlargedRenderThatFailsOnItsBoardFailsTheResize) {
    Scene far(6.0, kSmall, 200, kULMBlendFTB);
    Held<ULMImageBuffer> image(Image(kSmall));
    gULMControl.m_resizeImage = true;
    ASSERT_EQ(far.Render(image), kULMOK);
    const std::vector<uint32_t> want = Read(image, kSmall);
    for (const bool mpr : {false, true}) {
        SCOPED_TRACE(mpr ? "MPR" : "render");
        const auto render = [&] {
            return mpr ? far.volume->StartRenderMPR(far.context, 0, 2, ULMVolume::kMPRAlpha, image).Wait(-1)
                       : far.Render(image);
        };
        tulx7sim::InjectCompletionFailure(TULX7_DR_RENDER, 1);
        EXPECT_EQ(render(), kULMErrHardware);
        EXPECT_EQ(render(), kULMOK);
    }
    EXPECT_EQ(far.Render(image), kULMOK);
    EXPECT_EQ(Read(image, kSmall), want);
    gULMControl.m_resizeImage = false;
}

TEST_F(RenderAndResizeTest, SumsScaleAloneAndRefusalsSubmitNothing) {
    unsigned words[3] = {3000 | 7u << 12, 1000 | 4095u << 12, 0};
    ScaleMPRAlpha(2.0, {1, 1, 0, 0}, words);
    ScaleMPRAlpha(0.5, {2, 1, 0, 0}, words + 1);
    EXPECT_EQ(words[0], 4095 | 7u << 12);
    EXPECT_EQ(words[1], 500 | 4095u << 12);

    Scene tiny(0.5, 3, 255, kULMBlendFTBPreWeighted), summed(6.0, kSmall, 255, kULMBlendSumAndCount);
    Held<ULMImageBuffer> image(Image(kSmall));
    Held<ULMContext> depthTested(CloneContext(summed.context));
    depthTested->SetBlendMode(kULMBlendFTBPreWeighted);
    depthTested->SetDepthUpdateFilter(ULMContext::kDepthBuffer0, ULMContext::kFilterNone);
    double mprScale = 1.0;
    const auto noRender = [](const ULMContext*, ULMImageBuffer*) { return ULMSyncEvent(kULMErrInternal); };
    gULMControl.m_resizeImage = true;
    tulx7sim::ClearRequestLog();
    // Enlarged to under ten pixels; sums the volume did not ask for.
    EXPECT_EQ(tiny.Render(image), kULMErrCantSubsample);
    EXPECT_EQ(summed.Render(image), kULMErrCantSubsample);
    const ULMResizeView view{{kSmall, kSmall, 0, 0}, 12.0, 12.0}, off{{4, 4, 30, 30}, 12.0, 12.0};
    for (const ULMContext* refused : {depthTested.GetPointer(), tiny.context.GetPointer()}) {
        const ULMResizeView& seen = refused == tiny.context ? off : view;
        const ULMSyncEvent event =
            DoStartRenderAndResize(noRender, kULMBoard0, refused, seen, false, mprScale, image, nullptr);
        EXPECT_EQ(event.Status(), refused == tiny.context ? kULMErrArgument : kULMErrCantSubsample);
    }
    gULMControl.m_resizeImage = false;
    EXPECT_EQ(Renders(), 0u);
}

}  // namespace
}  // namespace ulm3::testing
