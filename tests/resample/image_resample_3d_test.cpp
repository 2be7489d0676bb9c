// The image resample pass: its pixels against the host reference, blended
// over what the output holds, its registers, and its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "buffers/pass_test_support.h"
#include "foundation/field_conversions.h"
#include "resample/image_resample_3d.h"
#include "support/resample_reference.h"
#include "tulx7/chip_codes.h"
#include "tulx7sim/test_api.h"

namespace ulm3::testing {
namespace {

using test_support::Channel;
using test_support::Held;
using ImageResample3DTest = test_support::PassTest;
const ULMImageRange kAll(40, 24, 0, 0);

ULMContext* ContextFor(ULMBlendMode mode) {
    ULMContext* c = ULMContext::Create();
    c->GetCamera().SetViewport(0, 0, 40, 24);
    c->SetBlendMode(mode);
    c->SetRenderArea(ULMContext::kVolume);
    return c;
}

TEST_F(ImageResample3DTest, PassesMatchTheHostReferenceAndBlendOverTheOutput) {
    struct Case {
        ULMImageRange source, destination;
        ULMBlendMode mode;
    } cases[] = {
        {{20, 12, 3, 5}, {20, 12, 11, 1}, kULMBlendReplace}, {{32, 16, 0, 2}, {16, 8, 4, 4}, kULMBlendReplace},
        {{8, 6, 2, 2}, {16, 12, 20, 10}, kULMBlendReplace},  {{9, 7, 0, 0}, {9, 7, 5, 5}, kULMBlendFTBPreWeighted},
    };
    for (const Case& c : cases) {
        Held<ULMImageBufferInternal> source(ULMImageBufferInternal::Create3D(kULMBoard0, 40, 24, 32, 4,
                                                                             test_support::kRGBA8Fields, 1)),
            target(MakeImage(kULMBoard0, 40, 24));
        const std::vector<uint32_t> pixels = Random<uint32_t>(40 * 24, 3), before = Random<uint32_t>(40 * 24, 4);
        Load(source, kAll, pixels);
        Load(target, kAll, before);
        ASSERT_EQ(target->SetInputLimits(kAll), kULMOK);
        Held<ULMContext> context(ContextFor(c.mode));
        ASSERT_EQ(ULMResample3DImage(context, target, nullptr, c.destination, source, c.source).Wait(-1), kULMOK);
        EXPECT_EQ(target->GetOutputLimits(), c.destination);
        const ULMImageRange &s = c.source, &d = c.destination;
        const RefAxis ax = RefAxisOf(s.XOrigin(), s.XSize(), d.XOrigin(), d.XSize()),
                      ay = RefAxisOf(s.YOrigin(), s.YSize(), d.YOrigin(), d.YSize());
        const std::vector<uint32_t> after = Read(target, kAll);
        for (int i = 0; i < 40 * 24; ++i) {
            const int x = i % 40, y = i / 40;
            const bool inside = Contains(d, ULMImageRange(1, 1, x, y));
            // Front to back, pre-weighted: the sample under what the pixel holds.
            const bool over = c.mode != kULMBlendReplace;
            for (int ch = 0; ch < 4; ++ch) {
                // The whole source image is the volume; outside it, the border 0.
                auto at = [&](int u, int v, int) {
                    return u < 0 || u >= 40 || v < 0 || v >= 24 ? 0.0 : Channel(pixels[size_t(v) * 40 + u], ch);
                };
                const double held = Channel(before[i], ch), cover = over ? Channel(before[i], 3) / 255.0 : 0;
                const double in = inside ? RefSample(at, ax, ay, {1, 0}, x, y, 0) : 0;
                const double want = inside ? std::min(255.0, (over ? held : 0) + (1 - cover) * in) : held;
                ASSERT_NEAR(Channel(after[i], ch), want, inside ? 1.5 : 0.5) << c.mode << " at " << x << "," << y;
            }
        }
    }
}

// A viewport of no size is the whole output image, as renders take it: the
// pass writes what it writes with that viewport given, at the image's
// offset too, and over the whole image where the render area is the
// viewport.
TEST_F(ImageResample3DTest, AViewportOfNoSizeIsTheWholeOutputImage) {
    for (const ULMImageRange whole : {kAll, ULMImageRange(40, 24, 6, 4)}) {
        const ULMImageRange destination(16, 8, whole.XOrigin() + 11, whole.YOrigin() + 5), source(32, 16, 2, 3);
        for (const ULMContext::RenderArea area : {ULMContext::kVolume, ULMContext::kViewport}) {
            SCOPED_TRACE(::testing::Message() << "offset " << whole.XOrigin() << ", area " << area);
            std::vector<uint32_t> after[2];
            for (const bool given : {true, false}) {
                Held<ULMImageBufferInternal> from(ULMImageBufferInternal::Create3D(kULMBoard0, 40, 24, 32, 4,
                                                                                   test_support::kRGBA8Fields, 1)),
                    target(MakeImage(kULMBoard0, 40, 24));
                ASSERT_EQ(target->SetOffset(whole.XOrigin(), whole.YOrigin()), kULMOK);
                Load(from, kAll, Random<uint32_t>(40 * 24, 5));
                Load(target, whole, Random<uint32_t>(40 * 24, 6));
                Held<ULMContext> context(ContextFor(kULMBlendReplace));
                ASSERT_EQ(context->SetRenderArea(area), kULMOK);
                ASSERT_EQ(context->GetCamera().SetViewport(given ? whole.XOrigin() : 0, given ? whole.YOrigin() : 0,
                                                           given ? 40 : 0, given ? 24 : 0),
                          kULMOK);
                ASSERT_EQ(ULMResample3DImage(context, target, nullptr, destination, from, source).Wait(-1), kULMOK);
                EXPECT_EQ(target->GetOutputLimits(), area == ULMContext::kVolume ? destination : whole);
                after[given] = Read(target, whole);
            }
            EXPECT_EQ(after[false], after[true]);
            EXPECT_NE(after[false], Random<uint32_t>(40 * 24, 6)) << "the pass wrote nothing";
        }
    }
}

TEST_F(ImageResample3DTest, RefusalsSubmitNothing) {
    Held<ULMImageBufferInternal> target(MakeImage(kULMBoard0, 40, 24)), elsewhere(MakeImage(kULMBoard1, 40, 24));
    Held<ULMContext> context(ContextFor(kULMBlendReplace));
    const ULMImageRange r(20, 12, 0, 0), tall(20, 25, 0, 0);
    const uint64_t buffers = tulx7sim::GetStats().liveBuffers;
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(ULMResample3DImage(context, nullptr, nullptr, r, nullptr, r).Wait(-1), kULMErrArgument);
    EXPECT_EQ(ULMResample3DImage(context, nullptr, target, r, nullptr, r).Wait(-1), kULMErrArgument);
    EXPECT_EQ(ULMResample3DImage(context, target, nullptr, r, nullptr, tall).Wait(-1), kULMErrArgument);
    EXPECT_EQ(ULMResample3DImage(context, target, nullptr, r, target, r).Wait(-1), kULMErrArgument);
    EXPECT_EQ(ULMResample3DImage(context, target, elsewhere, r, nullptr, r).Wait(-1), kULMErrBuffer);
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffers);
    // A field of no bits codes as none, not into its neighbours' codes.
    EXPECT_EQ(HWFieldFormat(ULMFieldDescriptor{24, 0, kULMUnsignedFraction}), NKW7_NoFieldCode);
}

}  // namespace
}  // namespace ulm3::testing
