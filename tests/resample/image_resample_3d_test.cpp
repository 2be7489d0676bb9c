// The image resample pass: its pixels against the host reference, blended
// over what the output holds, its registers, and its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "buffers/pass_test_support.h"
#include "foundation/field_conversions.h"
#include "resample/image_resample_3d.h"
#include "resample_reference.h"
#include "tulx7/chip_codes.h"
#include "tulx7sim/test_api.h"

namespace ulm3::testing {
namespace {

using test_support::Channel;
using test_support::Held;
using ImageResample3DTest = test_support::PassTest;
const ULMImageRange kAll(40, 24, 0, 0);

ULMContext* ContextFor(ULMBlendMode mode, ULMContext::RenderArea area = ULMContext::kVolume) {
    ULMContext* c = ULMContext::Create();
    c->GetCamera().SetViewport(0, 0, 40, 24);
    c->SetBlendMode(mode);
    c->SetRenderArea(area);
    return c;
}

// The chip's blends of a sample over the pixel, colours in 0..1.
double Blend(ULMBlendMode mode, const double acc[4], const double in[4], int ch) {
    if (mode == kULMBlendBTFPreWeighted) return (ch == 3 ? in[3] : in[ch]) + (1 - in[3]) * acc[ch];
    if (mode == kULMBlendFTBPreWeighted) return acc[ch] + (1 - acc[3]) * (ch == 3 ? in[3] : in[ch]);
    if (mode == kULMBlendMaxAlpha) return in[3] > acc[3] ? in[ch] : acc[ch];
    return in[ch];
}

TEST_F(ImageResample3DTest, PassesMatchTheHostReferenceAndBlendOverTheOutput) {
    struct Case {
        ULMImageRange source, destination;
        ULMBlendMode mode;
        int tolerance;
    } cases[] = {
        {{20, 12, 3, 5}, {20, 12, 11, 1}, kULMBlendReplace, 0},
        {{32, 16, 0, 2}, {16, 8, 4, 4}, kULMBlendReplace, 1},
        {{8, 6, 2, 2}, {16, 12, 20, 10}, kULMBlendReplace, 1},
        {{20, 12, 0, 0}, {20, 12, 5, 5}, kULMBlendBTFPreWeighted, 1},
        {{20, 12, 0, 0}, {20, 12, 5, 5}, kULMBlendFTBPreWeighted, 1},
        {{20, 12, 0, 0}, {20, 12, 5, 5}, kULMBlendMaxAlpha, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << c.mode << " into " << c.destination.XSize());
        Held<ULMImageBufferInternal> source(ULMImageBufferInternal::Create3D(kULMBoard0, 40, 24, 32, 4,
                                                                             test_support::kRGBA8Fields, 1));
        Held<ULMImageBufferInternal> target(MakeImage(kULMBoard0, 40, 24));
        const std::vector<uint32_t> pixels = Random<uint32_t>(40 * 24, 3), before = Random<uint32_t>(40 * 24, 4);
        Load(source, kAll, pixels);
        Load(target, kAll, before);
        ASSERT_EQ(target->SetInputLimits(kAll), kULMOK);
        Held<ULMContext> context(ContextFor(c.mode));
        ASSERT_EQ(ULMResample3DImage(context, target, nullptr, c.destination, source, c.source).Wait(-1), kULMOK);
        EXPECT_EQ(target->GetOutputLimits(), c.destination);
        const ULMImageRange &s = c.source, &d = c.destination;
        const RefAxis ax = RefAxisOf(s.XOrigin(), s.XSize(), d.XOrigin(), d.XSize());
        const RefAxis ay = RefAxisOf(s.YOrigin(), s.YSize(), d.YOrigin(), d.YSize());
        const std::vector<uint32_t> after = Read(target, kAll);
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 40; ++x) {
                const size_t i = size_t(y) * 40 + x;
                if (x < d.XOrigin() || x >= d.XOrigin() + d.XSize() || y < d.YOrigin() ||
                    y >= d.YOrigin() + d.YSize()) {
                    ASSERT_EQ(after[i], before[i]) << x << "," << y;
                    continue;
                }
                double in[4], acc[4];
                for (int ch = 0; ch < 4; ++ch) {
                    // The whole source image is the volume; outside it, the border 0.
                    auto row = [&](int v) {
                        auto at = [&](int u) {
                            return u < 0 || u >= 40 || v < 0 || v >= 24 ? 0.0 : Channel(pixels[size_t(v) * 40 + u], ch);
                        };
                        return RefSample(at, ax.At(x), false);
                    };
                    in[ch] = RefSample(row, ay.At(y), false) / 255;
                    acc[ch] = Channel(before[i], ch) / 255.0;
                }
                for (int ch = 0; ch < 4; ++ch)
                    ASSERT_NEAR(Channel(after[i], ch), std::min(1.0, Blend(c.mode, acc, in, ch)) * 255,
                                c.tolerance + 0.5) << x << "," << y << " ch " << ch;
            }
    }
}

// Without a source the frustum (the viewport under kViewport) takes the
// output's border. A field of no bits is coded as none, not into its
// neighbours' codes.
TEST_F(ImageResample3DTest, WithoutASourceTheFrustumTakesTheBorder) {
    Held<ULMImageBufferInternal> target(MakeImage(kULMBoard0, 40, 24));
    ASSERT_EQ(target->SetBorderValue(0, 1, 0, 1), kULMOK);
    Load(target, kAll, std::vector<uint32_t>(40 * 24, 0));
    Held<ULMContext> context(ContextFor(kULMBlendReplace, ULMContext::kViewport));
    context->GetCamera().SetViewport(2, 3, 50, 10);
    ASSERT_EQ(ULMResample3DImage(context, target, nullptr, {8, 8, 20, 4}, nullptr, {8, 8, 4, 6}).Wait(-1), kULMOK);
    EXPECT_EQ(target->GetOutputLimits(), ULMImageRange(38, 10, 2, 3));
    const std::vector<uint32_t> after = Read(target, kAll);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(after[size_t(y) * 40 + x], x >= 2 && y >= 3 && y < 13 ? test_support::Rgba(0, 255, 0, 255) : 0u) << x << "," << y;
    const std::pair<uint32_t, uint64_t> words[] = {
        {NKW7_VolumeArraySize_Addr, 0x0000000700070007}, {NKW7_TrimRangeXmin_Addr, 12 * 256},
        {NKW7_TrimRangeYmax_Addr, 14 * 256},             {NKW7_OriginXv8_Addr, uint64_t(4 - 20) << 40},
        {NKW7_Alu1_Addr, 0x05030000},                    {NKW7_ImageAccumValue_Addr, 0xFFF00000FFF00000},
        {NKW7_ImageControl_Addr, 0x10040000},            {NKW7_RenderOperation_Addr, 0x1F550000},
    };
    uint64_t value = 0;
    for (const auto& [address, want] : words) {
        ASSERT_TRUE(tulx7sim::ReadBoardRegister(0, address, value));
        EXPECT_EQ(value, want) << std::hex << address;
    }
    EXPECT_EQ(HWFieldFormat(ULMFieldDescriptor{24, 0, kULMUnsignedFraction}), NKW7_NoFieldCode);
}

TEST_F(ImageResample3DTest, RefusalsSubmitNothing) {
    Held<ULMImageBufferInternal> source(ULMImageBufferInternal::Create3D(kULMBoard0, 40, 24, 32, 4,
                                                                         test_support::kRGBA8Fields, 1));
    Held<ULMImageBufferInternal> flat(MakeImage(kULMBoard0, 40, 24)), target(MakeImage(kULMBoard0, 40, 24));
    Held<ULMImageBufferInternal> elsewhere(MakeImage(kULMBoard1, 40, 24));
    Held<ULMContext> context(ContextFor(kULMBlendReplace)), toImage1(ContextFor(kULMBlendReplace));
    toImage1->SetImageOutputBuffer(ULMContext::kImageBuffer1);
    const ULMImageRange r(20, 12, 0, 0);
    struct Case {
        const ULMContext* context;
        ULMImageBuffer *image0, *image1;
        ULMImageRange destination;
        const ULMImageBuffer* source;
        ULMImageRange sourceRange;
        ULMStatus status;
    } cases[] = {
        {context, nullptr, nullptr, r, nullptr, r, kULMErrArgument},  // no image at all
        {toImage1, target, nullptr, r, source, r, kULMErrArgument},  // the output image not given
        {context, target, nullptr, {20, 6, 0, 0}, source, {20, 13, 0, 0}, kULMErrArgument},  // a step above 2
        {context, target, nullptr, {0, 12, 0, 0}, source, r, kULMErrArgument},               // empty destination
        {context, target, nullptr, r, flat, r, kULMErrArgument},                              // a flat source
        {context, target, elsewhere, r, source, r, kULMErrBuffer},                            // another board
    };
    const uint64_t buffers = tulx7sim::GetStats().liveBuffers;
    tulx7sim::ClearRequestLog();
    for (const Case& c : cases)
        EXPECT_EQ(ULMResample3DImage(c.context, c.image0, c.image1, c.destination, c.source, c.sourceRange).Wait(-1),
                  c.status) << &c - cases;
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffers);
}

}  // namespace
}  // namespace ulm3::testing
