// Depth between a frame and a mini-frustum: the round trip, the faces'
// depths, the clamps and the pixels nothing was rendered in.
#include <gtest/gtest.h>

#include "geometry/polygons.h"
#include "perspective/depth_distortion.h"

namespace ulm3 {
namespace {

TEST(DepthDistortion, RoundTripsWithinTwoUnitsKeepsFacesAndClampsEveryWord) {
    constexpr uint32_t kMax = 0xFFFFFF;
    // A frustum seen from the eye: the near face 10 to 12 units away, the far face 30 to 36, as a projection with near
    // 1 and far 100 gives them (z and w of the homogeneous corners).
    const auto corner = [](double distance) {
        return PointST3H(0, 0, (101 * distance - 200) / 99, distance, 0, 0);
    };
    const PolygonST3H nearHom(corner(10), corner(11), corner(12), corner(11));
    const PolygonST3H farHom(corner(30), corner(33), corner(36), corner(33));
    const auto window = [](double distance) { return ((101 - 200 / distance) / 99 + 1) / 2 * kMax; };
    ULMDepthDistortion d;
    for (const int mask : {0, 3}) {
        d.Set(nearHom, farHom, mask, 20, 10, 0.25, 0.75, 0.0, 1.0);
        const double nearAt[2] = {mask == 0 ? 10.0 : 11.0, mask == 0 ? 11.0 : 10.0};  // pixels (0, 0), (20, 0)
        EXPECT_NEAR(d.In(0, 0, uint32_t(window(nearAt[0]))), 0.25 * kMax, 8) << mask;
        // One frame step spans several mini steps out there.
        EXPECT_NEAR(d.In(20, 0, uint32_t(window(3 * nearAt[1]))), 0.75 * kMax, 32) << mask;
        for (int x = 0; x <= 21; x += 3)
            for (const double distance : {10.5, 15.0, 31.0, 38.0}) {
                const uint32_t frame = uint32_t(window(distance));
                const uint32_t mini = d.In(x, 5, frame);
                EXPECT_NEAR(d.Out(x, 5, mini), frame, 2) << mask << " " << x << " " << distance;
            }
        // Nearer than the eye's near plane and beyond the far one: clamped, never 0.
        for (const uint32_t word : {0u, 1u, kMax, 0xFF000000u | kMax})
            for (const uint32_t out : {d.In(3, 3, word), d.Out(3, 3, word | 1)}) EXPECT_TRUE(out >= 1 && out <= kMax);
        EXPECT_EQ(d.Out(4, 4, 0), 0u);  // nothing rendered there
    }
    // A pixel whose near and far corners coincide has no depth along its ray.
    const PolygonST3H flat(corner(10), corner(10), corner(10), corner(10));
    d.Set(flat, flat, 0, 20, 10, 0.25, 0.75, 0.0, 1.0);
    EXPECT_EQ(d.In(2, 2, uint32_t(window(10))), kMax);
}

}  // namespace
}  // namespace ulm3
