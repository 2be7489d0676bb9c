// Render-and-warp: a view on the volume's own grid against the plain render,
// and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "context/classifier_internal.h"
#include "foundation/log_capture.h"
#include "resample/render_and_warp.h"
#include "support/rendered_pixels.h"
#include "volume/volume_fixture.h"

namespace ulm3::testing {
namespace {

using RenderAndWarpTest = VolumePassTest;
const ULMFieldDescriptor kRGBA[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                     {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};
constexpr int kSide = 48;

ULMImageBuffer* Image(ULMLocation inWhere) { return ULMImageBuffer::Create(inWhere, kSide, kSide, 32, 4, kRGBA); }

// An n x n x 2 volume, red and green ramping along X and Y, one voxel per
// pixel, centred in the viewport.
struct Scene {
    std::vector<uint32_t> voxels;
    Held<ULMVolumeInternal> volume;
    Held<ULMContext> context{ULMContext::Create()};
    Scene(int n, uint32_t a, ULMBlendMode inMode) : voxels(size_t(n) * n * 2) {
        for (size_t i = 0; i < voxels.size(); ++i) voxels[i] = uint32_t(6 * (i % n) | 6 * (i / n % n) << 8) | a << 24;
        volume.Assign(ULMVolumeInternal::CreateSimpleVolume(32, {n, n, 2, 0, 0, 0}, 4, kRGBA, voxels.data()));
        context->SetClassifier(ULMClassifierInternal::DirectRGBAClassifier());
        context->SetBlendMode(inMode);
        const double s = 2.0 / (kSide - 1), c = (n - 1) / 2.0;
        const ULMMatrix m = ULMMatrix::Translate(-c * s, -c * s, -0.25) * ULMMatrix::Scale(s, s, 0.5);
        context->GetCamera().SetProjectionMatrix(m);
    }
};

// Translucent voxels in a plain mode keep their colour through the warp.
TEST_F(RenderAndWarpTest, AnUnrotatedViewWarpsToThePlainRender) {
    for (const auto& [alpha, mode] : {std::pair{255u, kULMBlendFTBPreWeighted}, std::pair{128u, kULMBlendFTB}}) {
        Scene scene(40, alpha, mode);
        Held<ULMImageBuffer> plain(Image(kULMBoard0)), warped(Image(kULMBoard0));
        ASSERT_EQ(scene.volume->StartRender(scene.context, plain, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        const size_t buffers = LiveBuffers();
        const ULMSyncEvent event = ULMStartRenderAndWarp(*scene.volume, scene.context, warped, nullptr, nullptr, nullptr);
        ASSERT_EQ(event.Wait(-1), kULMOK);
        EXPECT_EQ(LiveBuffers(), buffers) << "the temporary outlived its passes";
        std::vector<uint8_t> want(kSide * kSide * 4), got(want.size());
        ASSERT_TRUE(plain->Unload(want.data(), {kSide, kSide, 0, 0}, 0) == kULMOK &&
                    warped->Unload(got.data(), {kSide, kSide, 0, 0}, 0) == kULMOK);
        for (size_t i = 0; i < want.size(); ++i) ASSERT_NEAR(got[i], want[i], 1) << mode << " at " << i / 4;
    }
}

// What a pass leaves in the volume's render state: the next plain render of
// the same volume with the same context gives the plain image, byte for
// byte, after each of them.
TEST_F(RenderAndWarpTest, EveryPassLeavesTheNextPlainRenderAsItWas) {
    Scene scene(40, 160, kULMBlendFTB);
    ASSERT_EQ(scene.volume->LockVolume(kULMBoard0), kULMOK);
    const auto plain = [&] { return test_support::RenderedPixels(scene.volume, scene.context, kSide); };
    const std::vector<uint32_t> before = plain();
    // Seen from six times as far: more voxels per pixel than the chip subsamples.
    Held<ULMContext> far(CloneContext(scene.context)), perspective(CloneContext(scene.context)),
        cube(CloneContext(scene.context));
    far->GetCamera().SetProjectionMatrix(ULMMatrix::Scale(1 / 6.0, 1 / 6.0, 1) *
                                         scene.context->GetCamera().GetProjectionMatrix());
    perspective->GetCamera().SetProjectionMatrix(ULMMatrix::Perspective(40, 1, 1, 200));
    perspective->GetCamera().SetModelMatrix(ULMMatrix::Translate(-19.5, -19.5, -70));
    cube->GetCamera().SetProjectionMatrix(ULMMatrix::Translate(-1, -1, -1) * ULMMatrix::Scale(2 / 39.0, 2 / 39.0, 2));
    Held<ULMVolumeInternal> target(ULMVolumeInternal::CreateSimpleVolume(32, {40, 40, 2, 0, 0, 0}, 4, kRGBA, nullptr));
    ASSERT_EQ(target->LockVolume(kULMBoard0), kULMOK);
    Held<ULMImageBuffer> image(Image(kULMBoard0));
    const struct {
        const char* what;
        std::function<ULMStatus()> pass;
    } passes[] = {
        {"render-and-warp",
         [&] { return ULMStartRenderAndWarp(*scene.volume, scene.context, image, nullptr, nullptr, nullptr).Wait(-1); }},
        {"render-and-resize",
         [&] {
             gULMControl.m_resizeImage = true;
             const ULMStatus status = scene.volume->StartRender(far, image, nullptr, nullptr, nullptr).Wait(-1);
             gULMControl.m_resizeImage = false;
             return status;
         }},
        {"render to volume",
         [&] { return scene.volume->RenderToVolume(cube, target, ULMVolume::kOutputGradientAndMagnitude); }},
        {"perspective frame",
         [&] { return scene.volume->StartRender(perspective, image, nullptr, nullptr, nullptr).Wait(-1); }},
    };
    for (const auto& p : passes) {
        const size_t renders = Renders();
        EXPECT_EQ(p.pass(), kULMOK) << p.what;
        EXPECT_GT(Renders(), renders) << p.what;
        EXPECT_EQ(plain(), before) << "after " << p.what;
    }
}

TEST_F(RenderAndWarpTest, RefusalsSubmitNothingAndLeaveNoBuffer) {
    Scene scene(40, 255, kULMBlendFTBPreWeighted), tiny(8, 255, kULMBlendFTBPreWeighted);
    ASSERT_TRUE(scene.volume->LockVolume(kULMBoard0) == kULMOK && tiny.volume->LockVolume(kULMBoard0) == kULMOK);
    Held<ULMImageBuffer> image(Image(kULMBoard0)), other(Image(kULMBoard1)), bands(Image(kULMMultiBoardMode1));
    using C = ULMContext;
    constexpr ULMStatus kCant = kULMErrCantSubsample;
    struct Row {
        std::function<void(C&)> change;
        ULMVolumeInternal* volume;
        ULMImageBuffer* output;
        ULMStatus expected;
    };
    const Row cases[] = {
        {[](C& c) { c.SetDepthCombineFunction(C::kDepthCombineXor); }, scene.volume, image, kCant},
        {[](C& c) { c.SetBlendMode(kULMBlendSumAndCount); }, scene.volume, image, kCant},
        {[](C&) {}, tiny.volume, image, kCant},
        {[](C& c) { c.GetCamera().SetProjectionMatrix(ULMMatrix::Frustum(-1, 1, -1, 1, 1, 9)); }, scene.volume, image,
         kULMErrTransform},
        {[](C&) {}, scene.volume, other, kULMErrBuffer},
        {[](C&) {}, scene.volume, bands, kULMErrArgument},
    };
    const size_t buffers = LiveBuffers();
    tulx7sim::ClearRequestLog();
    for (const auto& c : cases) {
        Held<C> context(CloneContext(scene.context));
        c.change(*context);
        EXPECT_EQ(ULMStartRenderAndWarp(*c.volume, context, c.output, nullptr, nullptr, nullptr).Status(), c.expected);
    }
    EXPECT_EQ(LiveBuffers(), buffers);
    // The pass alone, into an image on another board than its source.
    EXPECT_EQ(ULMWarp3DImage(*scene.volume, scene.context, other, nullptr, {4, 4, 0, 0}, image, {4, 4, 0, 0}).Status(),
              kULMErrBuffer);
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
}

// The warp writes its whole viewport: into a wrapped image whose wrap holds
// the volume's footprint but not the viewport, it is refused and the image
// keeps every pixel; with the viewport inside one period it is drawn.
TEST_F(RenderAndWarpTest, AWrappedImageTakesTheWholeViewportApartOrIsRefused) {
    Scene scene(20, 255, kULMBlendFTBPreWeighted);
    ASSERT_EQ(scene.volume->LockVolume(kULMBoard0), kULMOK);
    constexpr uint32_t kHeld = 0x5A3C5A3Cu;
    for (const int viewportHeight : {96, 48}) {
        SCOPED_TRACE(viewportHeight);
        Held<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, 64, 64, 32, 4, kRGBA));
        ASSERT_EQ(image->SetWrap(64, 64), kULMOK);
        ASSERT_EQ(image->Clear({64, 64, 0, 0}, kHeld), kULMOK);
        Held<ULMContext> context(CloneContext(scene.context));
        ASSERT_EQ(context->GetCamera().SetViewport(0, 0, kSide, viewportHeight), kULMOK);
        ULMStatus status = kULMOK;
        std::string logged;
        {
            testing_support::LogToFile log;
            status = ULMStartRenderAndWarp(*scene.volume, context, image, nullptr, nullptr, nullptr).Wait(-1);
            logged = log.Contents();
        }
        std::vector<uint32_t> pixels(64 * 64);
        ASSERT_EQ(image->Unload(pixels.data(), {64, 64, 0, 0}, 0), kULMOK);
        const auto held = std::count(pixels.begin(), pixels.end(), kHeld);
        if (viewportHeight > 64) {
            EXPECT_EQ(status, kULMErrBuffer);
            EXPECT_NE(logged.find("wrap-addressed"), std::string::npos) << logged;
            EXPECT_EQ(held, 64 * 64);
        } else {
            EXPECT_EQ(status, kULMOK);
            EXPECT_LE(held, 64 * 64 - kSide * viewportHeight) << "the viewport is written whole";
        }
    }
}

}  // namespace
}  // namespace ulm3::testing
