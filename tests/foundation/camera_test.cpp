// The camera value: what it refuses, and that a refusal changes nothing.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "ulm3/camera.h"

using namespace ulm3;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

ULMMatrix WithEntry(double inValue) {
    ULMMatrix m;
    m[1][2] = inValue;
    return m;
}

TEST(Camera, BadValuesAreRefusedAndChangeNothing) {
    const struct {
        const char* what;
        ULMStatus (*apply)(ULMCamera&);
    } refusals[] = {
        {"a negative width", [](ULMCamera& c) { return c.SetViewport(0, 0, -1, 10); }},
        {"a negative height", [](ULMCamera& c) { return c.SetViewport(0, 0, 10, -1); }},
        {"a NaN near plane", [](ULMCamera& c) { return c.SetDepthRange(kNaN, 1.0); }},
        {"an infinite far plane", [](ULMCamera& c) { return c.SetDepthRange(0.0, kInf); }},
        {"a NaN in the model", [](ULMCamera& c) { return c.SetModelMatrix(WithEntry(kNaN)); }},
        {"an infinity in the view", [](ULMCamera& c) { return c.SetViewMatrix(WithEntry(-kInf)); }},
        {"a NaN in the projection", [](ULMCamera& c) { return c.SetProjectionMatrix(WithEntry(kNaN)); }},
    };
    for (const auto& refusal : refusals) {
        ULMCamera camera;
        EXPECT_EQ(refusal.apply(camera), kULMErrArgument) << refusal.what;
        EXPECT_EQ(camera, ULMCamera()) << refusal.what;
    }
    // The same calls with finite numbers are taken.
    ULMCamera camera;
    EXPECT_EQ(camera.SetViewport(1, 2, 0, 10), kULMOK);
    EXPECT_EQ(camera.SetDepthRange(0.25, 0.5), kULMOK);
    EXPECT_EQ(camera.SetViewMatrix(WithEntry(3.0)), kULMOK);
    int x = 0, y = 0, w = 0, h = 0;
    camera.GetViewport(x, y, w, h);
    double nearZ = 0, farZ = 0;
    camera.GetDepthRange(nearZ, farZ);
    EXPECT_EQ((std::vector<int>{x, y, w, h}), (std::vector<int>{1, 2, 0, 10}));
    EXPECT_EQ((std::vector<double>{nearZ, farZ}), (std::vector<double>{0.25, 0.5}));
    EXPECT_EQ(camera.GetViewMatrix()[1][2], 3.0);
}

}  // namespace
