// The perspective planner's box routines against geometry worked out here
// on its own: the faces a view meets first and last, down each axis and
// obliquely, through a turn of the box; the box of the transformed faces;
// how many faces an eye outside the box sees; the viewpoint found back
// through the projection, the eye inside the box and outside; and the
// integer rounding of the tiles.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <vector>

#include "geometry/clip_sample_space.h"
#include "geometry/cube_st3h.h"
#include "geometry/tile_2d.h"

namespace ulm3 {
namespace {

Mat44 Identity() {
    Mat44 m;
    for (int i = 0; i < 4; ++i) m(i, i) = 1;
    return m;
}

// A proper turn that takes x to y, y to z and z to x.
Mat44 Cycle() {
    Mat44 m;
    m(1, 0) = 1;
    m(2, 1) = 1;
    m(0, 2) = 1;
    m(3, 3) = 1;
    return m;
}

// inTurn, then moved by (x, y, z).
Mat44 Moved(Mat44 inTurn, double x, double y, double z) {
    inTurn(0, 3) += x;
    inTurn(1, 3) += y;
    inTurn(2, 3) += z;
    return inTurn;
}

std::array<double, 4> Apply(const Mat44& m, double x, double y, double z, double w = 1) {
    std::array<double, 4> out{};
    const double in[4] = {x, y, z, w};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out[r] += m(r, c) * in[c];
    return out;
}

// The faces' outward normals in the box's own axes, by face number.
constexpr double kNormal[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};

bool SameCorners(const PolygonST3H& a, const PolygonST3H& b) {
    if (a.GetNumbVerts() != b.GetNumbVerts()) return false;
    for (int i = 0; i < a.GetNumbVerts(); ++i)
        if (std::fabs(a[i].x - b[i].x) > 1e-12 || std::fabs(a[i].y - b[i].y) > 1e-12 ||
            std::fabs(a[i].z - b[i].z) > 1e-12)
            return false;
    return true;
}

// The box [-1, 1]^3 seen along v, turned or not: the three faces nearest
// the eye are those whose turned outward normals point most against v, in
// that order; the far faces are their opposites, wound the other way.
TEST(PlannerStages, NearAndFarFacesFollowTheView) {
    const struct {
        const char* name;
        double v[3];
    } views[] = {
        {"down -z", {0, 0, -1}}, {"down +z", {0, 0, 1}},         {"down -x", {-1, 0, 0}},
        {"down +x", {1, 0, 0}},  {"down -y", {0, -1, 0}},        {"down +y", {0, 1, 0}},
        {"oblique", {-0.7, 0.4, -0.2}}, {"other oblique", {0.1, -0.3, 0.9}},
    };
    const struct {
        const char* name;
        Mat44 m;
    } turns[] = {{"as it is", Identity()}, {"cycled", Cycle()}, {"cycled and moved", Moved(Cycle(), 5, -3, 2)}};
    for (const auto& turn : turns)
        for (const auto& view : views) {
            SCOPED_TRACE(::testing::Message() << turn.name << ", " << view.name);
            CubeST3H cube(PointST3H(-1, -1, -1), PointST3H(1, 1, 1));
            const CubeST3H untouched = cube;
            cube.TransformAll(turn.m);
            cube.DivideWAll();
            // Faces ordered by how squarely they face the eye.
            std::array<int, 6> order = {0, 1, 2, 3, 4, 5};
            const auto facing = [&](int f) {
                const auto n = Apply(turn.m, kNormal[f][0], kNormal[f][1], kNormal[f][2], 0);
                return n[0] * view.v[0] + n[1] * view.v[1] + n[2] * view.v[2];
            };
            std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return facing(a) < facing(b); });
            // Faces edge-on to a view down an axis tie: either of a tied
            // pair may come, but never a face that faces the eye less, and
            // the three come from the three axes.
            int axes = 0;
            for (int i = 0; i < 3; ++i) {
                const PolygonST3H near = cube.GetNearPoly(i, view.v[0], view.v[1], view.v[2]);
                int face = -1;
                for (int f = 0; f < 6; ++f)
                    if (SameCorners(near, cube.GetPolygon(f))) face = f;
                ASSERT_GE(face, 0) << "near " << i << " is no face";
                EXPECT_NEAR(facing(face), facing(order[size_t(i)]), 1e-12) << "near " << i << " is face " << face;
                axes |= 1 << (face / 2);
                PolygonST3H far = cube.GetPolygon(face ^ 1);
                far.Reverse();
                EXPECT_TRUE(SameCorners(cube.GetFarPoly(i, view.v[0], view.v[1], view.v[2]), far)) << "far " << i;
            }
            EXPECT_EQ(axes, 7);
            EXPECT_EQ(cube.GetNearPoly(3, view.v[0], view.v[1], view.v[2]).GetNumbVerts(), 0);
            EXPECT_EQ(cube.GetPolygon(6).GetNumbVerts(), 0);
            // Every face holds the turned corners of the untouched one.
            for (int f = 0; f < 6; ++f) {
                const PolygonST3H before = untouched.GetPolygon(f), after = cube.GetPolygon(f);
                for (int k = 0; k < 4; ++k) {
                    const auto p = Apply(turn.m, before[k].x, before[k].y, before[k].z);
                    EXPECT_NEAR(after[k].x, p[0], 1e-12);
                    EXPECT_NEAR(after[k].y, p[1], 1e-12);
                    EXPECT_NEAR(after[k].z, p[2], 1e-12);
                }
            }
        }
}

// The projection of an eye at e looking down -z of a turned frame, and
// the box's corners through it: the box of the faces is the box of the
// eight projected corners, and the faces turned towards the eye are those
// whose planes the eye lies outside of.
TEST(PlannerStages, FacesSeenFromOutsideAndTheirBox) {
    const struct {
        const char* name;
        double e[3];  // in the turned frame, looking down -z
        int seen;
    } eyes[] = {
        {"above a face", {0.3, -0.2, 6}, 1},
        {"off an edge", {3.5, 0.2, 5}, 2},
        {"off a corner", {3, -4, 6}, 3},
    };
    for (const Mat44& turn : {Identity(), Cycle()})
        for (const auto& eye : eyes) {
            SCOPED_TRACE(eye.name);
            // x' = x - ex, y' = y - ey, w' = ez - z after the turn.
            Mat44 view;
            view(0, 0) = 1, view(0, 3) = -eye.e[0];
            view(1, 1) = 1, view(1, 3) = -eye.e[1];
            view(2, 2) = 1, view(2, 3) = -eye.e[2];
            view(3, 2) = -1, view(3, 3) = eye.e[2];
            Mat44 pmv;
            MatMultiply(&pmv, &view, &turn);
            CubeST3H cube(PointST3H(-1, -1, -1), PointST3H(1, 1, 1));
            cube.Transform(pmv);
            cube.DivideW();
            double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
            for (int c = 0; c < 8; ++c) {
                const auto p = Apply(pmv, c & 1 ? 1 : -1, c & 2 ? 1 : -1, c & 4 ? 1 : -1);
                const double q[3] = {p[0] / p[3], p[1] / p[3], p[2] / p[3]};
                for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], q[a]), hi[a] = std::max(hi[a], q[a]);
            }
            const BoxST3H box = cube.GetBoxXYZ();
            EXPECT_NEAR(box.m_min.x, lo[0], 1e-12);
            EXPECT_NEAR(box.m_min.y, lo[1], 1e-12);
            EXPECT_NEAR(box.m_min.z, lo[2], 1e-12);
            EXPECT_NEAR(box.m_max.x, hi[0], 1e-12);
            EXPECT_NEAR(box.m_max.y, hi[1], 1e-12);
            EXPECT_NEAR(box.m_max.z, hi[2], 1e-12);
            // The eye in the box's own axes: the faces whose planes it lies
            // outside of.
            int outside = 0;
            for (int f = 0; f < 6; ++f) {
                const auto n = Apply(turn, kNormal[f][0], kNormal[f][1], kNormal[f][2], 0);
                outside += n[0] * eye.e[0] + n[1] * eye.e[1] + n[2] * eye.e[2] > 1;
            }
            EXPECT_EQ(outside, eye.seen) << "the case itself";
            EXPECT_EQ(cube.GetFrontFacing(), eye.seen);
        }
}

// The viewpoint found back through the inverse projection, wherever the
// eye lies: inside the box, outside, down each axis.
TEST(PlannerStages, TheViewpointLiesOnTheCentralLineOfSight) {
    const double eyes[][3] = {{0.2, 0.3, 0.1}, {0, 0, 9}, {-7, 0.5, 0.5}, {0.5, 8, -0.5}, {4, -5, 6}};
    for (const auto& e : eyes) {
        SCOPED_TRACE(::testing::Message() << e[0] << " " << e[1] << " " << e[2]);
        Mat44 pmv;
        pmv(0, 0) = 2, pmv(0, 3) = -2 * e[0];
        pmv(1, 1) = 2, pmv(1, 3) = -2 * e[1];
        pmv(2, 2) = 0.5, pmv(2, 3) = 1 - 0.5 * e[2];
        pmv(3, 2) = -1, pmv(3, 3) = e[2];
        Mat44 inverse;
        ASSERT_EQ(MatInvert(&inverse, &pmv), 1);
        Clipper3H clipper;
        ClipSampleSpace space(Point3D{-1, -1, -1}, Point3D{1, 1, 1}, pmv, inverse, clipper);
        // The point the projection takes to the screen's origin: on the
        // line of sight through the frame's centre, the eye's x and y.
        const PointST3H eye = space.CalcViewpoint();
        EXPECT_NEAR(eye.x, e[0], 1e-9);
        EXPECT_NEAR(eye.y, e[1], 1e-9);
        const auto back = Apply(pmv, eye.x, eye.y, eye.z);
        EXPECT_NEAR(back[0] / back[3], 0, 1e-9);
        EXPECT_NEAR(back[1] / back[3], 0, 1e-9);
        EXPECT_NEAR(back[2] / back[3], 0, 1e-9);
    }
}

// Floor and ceiling of the tiles' edges, saturated to the int range, and
// a tile from an origin and a size, scaled down and back.
TEST(PlannerStages, TileEdgesRoundOutward) {
    const double values[] = {-2.5, -2.0, -0.25, 0.0, 0.25, 2.0, 2.5, 1e12, -1e12};
    for (const double x : values) {
        SCOPED_TRACE(x);
        const double f = std::floor(x), c = std::ceil(x);
        EXPECT_EQ(Tile2D::Floor(x), f > INT_MAX ? INT_MAX : f < INT_MIN ? INT_MIN : int(f));
        EXPECT_EQ(Tile2D::Ceiling(x), c > INT_MAX ? INT_MAX : c < INT_MIN ? INT_MIN : int(c));
    }
    Tile2D tile(Point2Di{3, -2}, 10, 4);
    EXPECT_EQ(tile.minX, 3);
    EXPECT_EQ(tile.maxX, 12);
    EXPECT_EQ(tile.minY, -2);
    EXPECT_EQ(tile.maxY, 1);
    EXPECT_EQ(tile.dimX, 10);
    EXPECT_EQ(tile.dimY, 4);
    const double minX = tile.GetDminX(), maxY = tile.GetDmaxY();
    tile.ScaleDown(Point3D{2, 0, 1});  // a factor of 0 leaves its axis
    EXPECT_DOUBLE_EQ(tile.GetDminX(), minX / 2);
    EXPECT_DOUBLE_EQ(tile.GetDmaxY(), maxY);
}

}  // namespace
}  // namespace ulm3
