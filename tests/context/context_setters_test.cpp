// Every setter of the context: a new value reads back and advances the
// serial once, the same value again leaves it, and each bad value is refused
// with its status and changes nothing.
#include <array>
#include <functional>
#include <limits>
#include <memory>
#include <tuple>
#include <vector>

#include "support/context_fixture.h"

namespace ulm3::testing {
namespace {

using C = ULMContext;
using IB = C::ImageBufferNumber;
using RA = C::RenderArea;
using BM = ULMBlendMode;
using PF = ULMPixelFormat;
using DC = C::DepthCombineFunction;
using Values = std::vector<double>;
using Setter = std::function<ULMStatus(C&)>;
using Getter = std::function<Values(const C&)>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kTable[8] = {1, 1, 1, 1, 0, 0, 0, 0};
const double kBadTable[8] = {0, 0, 0, kNaN, 0, 0, 0, 0};

#define SET(call) [](C& c) { return c.call; }
#define GET(...) [](const C& c) { return Values{__VA_ARGS__}; }

// The getters that hand their values back through references.
template <class... D>
Getter Outs(void (C::*get)(D...) const) {
    return [get](const C& c) {
        std::array<double, sizeof...(D)> v{};
        std::apply([&](auto&... x) { (c.*get)(x...); }, v);
        return Values(v.begin(), v.end());
    };
}

struct SetterCase {
    const char* name;
    Setter set;  // a value other than the default
    Getter get;
    Values expected;
    std::vector<std::pair<ULMStatus, Setter>> bad;
};

std::vector<SetterCase> Cases() {
    const ULMStatus arg = kULMErrArgument;
    const auto direct = std::make_shared<ULMClassifier>(
        ULMClassifier::DirectRGBA(kULMField1, kULMField1, kULMField1, kULMField1));
    ULMCamera camera;
    camera.SetViewport(1, 2, 30, 40);
    ULMCrop crop;
    crop.SetFlags(ULMCrop::kEnableX0 | ULMCrop::kInvertOutput);
    return {
        {"ImageOutputBuffer", SET(SetImageOutputBuffer(IB(2))), GET(double(c.GetImageOutputBuffer())), {2},
         {{arg, SET(SetImageOutputBuffer(IB(3)))}, {arg, SET(SetImageOutputBuffer(IB(-1)))}}},
        {"RenderArea", SET(SetRenderArea(RA(1))), GET(double(c.GetRenderArea())), {1},
         {{arg, SET(SetRenderArea(RA(2)))}}},
        {"BlendMode", SET(SetBlendMode(BM(15))), GET(double(c.GetBlendMode())), {15},
         {{arg, SET(SetBlendMode(BM(16)))}, {arg, SET(SetBlendMode(BM(-1)))}}},
        {"LastBlendMode", SET(SetLastBlendMode(BM(6))), GET(double(c.GetLastBlendMode())), {6},
         {{arg, SET(SetLastBlendMode(BM(16)))}}},
        {"BasePlanePixelFormat", SET(SetBasePlanePixelFormat(PF(13))),
         GET(double(c.GetBasePlanePixelFormat())),
         {13}, {{arg, SET(SetBasePlanePixelFormat(PF(14)))}}},
        {"DepthTest", SET(SetDepthTest(C::kDepthBuffer1, C::kDepthTestLess)),
         GET(double(c.GetDepthTest(C::kDepthBuffer0)), double(c.GetDepthTest(C::kDepthBuffer1)),
             double(c.GetDepthTest(C::DepthBufferNumber(2)))),
         {7, 1, 0},
         {{arg, SET(SetDepthTest(C::DepthBufferNumber(2), C::kDepthTestLess))},
          {arg, SET(SetDepthTest(C::kDepthBuffer0, C::DepthTest(8)))}}},
        {"DepthUpdateFilter", SET(SetDepthUpdateFilter(C::kDepthBuffer0, C::kTestSampleAlpha)),
         GET(double(c.GetDepthUpdateFilter(C::kDepthBuffer0)),
             double(c.GetDepthUpdateFilter(C::kDepthBuffer1))),
         {8, 3},
         {{arg, SET(SetDepthUpdateFilter(C::kDepthBuffer0, C::FilterTest(32)))},
          {arg, SET(SetDepthUpdateFilter(C::DepthBufferNumber(-1), C::kFilterNone))}}},
        {"DepthCombineFunction", SET(SetDepthCombineFunction(DC(3))),
         GET(double(c.GetDepthCombineFunction())),
         {3}, {{arg, SET(SetDepthCombineFunction(DC(4)))}}},
        {"SamplingLimits", SET(SetSamplingLimits(1.5, 2, 1, 4)), Outs(&C::GetSamplingLimits), {1.5, 2, 1, 4},
         {{arg, SET(SetSamplingLimits(0.5, 2, 1, 4))}, {arg, SET(SetSamplingLimits(2, 1.5, 1, 4))},
          {arg, SET(SetSamplingLimits(1, 2, 3, 2))}, {arg, SET(SetSamplingLimits(1, kNaN, 1, 2))}}},
        {"SamplingFactor", SET(SetSamplingFactor(0.5)), GET(c.GetSamplingFactor()), {0.5},
         {{arg, SET(SetSamplingFactor(0))}, {arg, SET(SetSamplingFactor(kInf))}}},
        {"MinViewingDistance", SET(SetMinViewingDistance(2)), GET(c.GetMinViewingDistance()), {2},
         {{arg, SET(SetMinViewingDistance(kNaN))}}},
        {"TrimPlanes", SET(SetTrimPlanes(1, 2, 3, 4, 5, 6)), Outs(&C::GetTrimPlanes), {1, 2, 3, 4, 5, 6},
         {{arg, SET(SetTrimPlanes(1, 2, 3, -kInf, 5, 6))}}},
        {"ReflectionProperties", SET(SetReflectionProperties(0.5, 0.25, 0.125, 3)),
         Outs(&C::GetReflectionProperties), {0.5, 0.25, 0.125, 3},
         {{arg, SET(SetReflectionProperties(1.5, 0, 0, 1))},
          {arg, SET(SetReflectionProperties(0, 0, 0, -1))}}},
        {"RayTermination", SET(SetRayTermination(0.75, true)),
         GET(c.GetRayTerminationThreshold(), double(c.GetRayTerminationEnabled())), {0.75, 1},
         {{arg, SET(SetRayTermination(kNaN, true))}}},
        {"SampleAlphaRange", SET(SetSampleAlphaRange(0.25, 0.5)), Outs(&C::GetSampleAlphaRange), {0.25, 0.5},
         {{arg, SET(SetSampleAlphaRange(0.5, 0.25))}}},
        {"AccumulatedAlphaRange", SET(SetAccumulatedAlphaRange(0, 0.5)), Outs(&C::GetAccumulatedAlphaRange),
         {0, 0.5}, {{arg, SET(SetAccumulatedAlphaRange(-0.5, 0.5))}}},
        {"GradientMagnitudeRange", SET(SetGradientMagnitudeRange(0.5, 1)),
         Outs(&C::GetGradientMagnitudeRange),
         {0.5, 1}, {{arg, SET(SetGradientMagnitudeRange(0.5, 2))}}},
        {"GradientTable", SET(SetGradientTable(kTable)),
         [](const C& c) {
             double t[8];
             c.GetGradientTable(t);
             return Values(t, t + 8);
         },
         Values(kTable, kTable + 8),
         {{arg, SET(SetGradientTable(nullptr))}, {arg, SET(SetGradientTable(kBadTable))}}},
        {"GradientModulation", SET(SetGradientModulation(C::kModulateOpacity | C::kModulateSpecular)),
         GET(double(c.GetGradientModulation())), {9}, {{arg, SET(SetGradientModulation(16))}}},
        {"Camera", [camera](C& c) { return c.SetCamera(camera); },
         GET(double(c.GetCamera().GetViewportOriginY()), double(c.GetCamera().GetViewportHeight())),
         {2, 40}, {}},
        {"Crop", [crop](C& c) { return c.SetCrop(crop); }, GET(double(c.GetCrop().GetFlags())), {0x2001}, {}},
        {"Classifier", [direct](C& c) { return c.SetClassifier(*direct); },
         GET(double(c.GetClassifier().GetLookupTableSource(0))), {1},
         {{kULMErrClassifier,
           SET(SetClassifier(
               ULMClassifier::DirectRGBA(kULMField0, kULMField1, kULMField2, ULMFieldNumber(4))))}}},
    };
}

class ContextSetters : public ContextTest {};

TEST_F(ContextSetters, ChangeOnceKeepTheSameAndRefuseBadValues) {
    ULMContext* c = ULMContext::Create();
    ASSERT_NE(c, nullptr);
    for (const SetterCase& s : Cases()) {
        SCOPED_TRACE(s.name);
        const uint64_t serial = c->GetSerial();
        EXPECT_EQ(s.set(*c), kULMOK);
        EXPECT_EQ(s.get(*c), s.expected);
        EXPECT_EQ(s.set(*c), kULMOK);
        EXPECT_EQ(c->GetSerial(), serial + 1);
        for (const auto& [status, set] : s.bad) {
            EXPECT_EQ(set(*c), status);
            EXPECT_EQ(s.get(*c), s.expected);
        }
        EXPECT_EQ(c->GetSerial(), serial + 1);
    }
    EXPECT_EQ(c->Release(), 0);
}

TEST_F(ContextSetters, StateObjectsRefuseBadNumbers) {
    ULMCamera camera;
    EXPECT_EQ(camera.SetViewport(0, 0, -1, 10), kULMErrArgument);
    EXPECT_EQ(camera, ULMCamera());
    EXPECT_EQ(ULMLight::Create(ULMVector3D(0, 0, 0)), nullptr);
    EXPECT_EQ(ULMCutPlane::Create(ULMVector4D(0, 0, 0, 1), 0, 1), nullptr);
    EXPECT_EQ(ULMCutPlane::Create(ULMVector4D(0, 0, 1, 0), 1, 0), nullptr);
}

}  // namespace
}  // namespace ulm3::testing
