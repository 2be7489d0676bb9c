// The perspective planner's box routines against geometry worked out here
// on its own: the faces a view meets first and last, down each axis and
// obliquely, through a turn of the box; the box of the transformed faces;
// how many faces an eye outside the box sees; the viewpoint found back
// through the projection, the eye inside the box and outside; the integer
// rounding of the tiles; the maps from the screen to the faces seen and
// the box of what they cover; the clip distances; the mini-frustums' near
// and far polygons; the supersampling scale by area; a box of integer
// corners.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <vector>

#include "foundation/control.h"
#include "geometry/clip_sample_space.h"
#include "geometry/cube_st3h.h"
#include "geometry/obl_persp_frustum.h"
#include "geometry/ormik_persp.h"
#include "geometry/tile_2d.h"
#include "support/control_snapshot.h"

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

// A camera at `eye` looking along the unit vector `f`, `focal` the cotangent
// of half its field of view: points at depth d along f go to x = focal *
// (r . p) / d, y = focal * (u . p) / d on the screen, -1 to 1 across.
struct Camera {
    Point3D eye;
    double f[3], r[3], u[3];
    double focal;
    // The view (eye at the origin, looking down -z) and the projection.
    Mat44 View() const {
        Mat44 m;
        const double* rows[3] = {r, u, f};
        for (int i = 0; i < 3; ++i) {
            const double sign = i == 2 ? -1 : 1;
            for (int c = 0; c < 3; ++c) m(i, c) = sign * rows[i][c];
            m(i, 3) = -sign * (rows[i][0] * eye.x + rows[i][1] * eye.y + rows[i][2] * eye.z);
        }
        m(3, 3) = 1;
        return m;
    }
    Mat44 Projection() const {
        Mat44 m;
        m(0, 0) = focal;
        m(1, 1) = focal;
        m(2, 2) = -1.001, m(2, 3) = -2.0;
        m(3, 2) = -1;
        return m;
    }
    Mat44 Pmv() const {
        Mat44 pmv;
        const Mat44 view = View(), projection = Projection();
        MatMultiply(&pmv, &projection, &view);
        return pmv;
    }
    // The screen position of a point in front of the eye.
    std::array<double, 2> Screen(double x, double y, double z) const {
        const double p[3] = {x - eye.x, y - eye.y, z - eye.z};
        const double depth = f[0] * p[0] + f[1] * p[1] + f[2] * p[2];
        return {focal * (r[0] * p[0] + r[1] * p[1] + r[2] * p[2]) / depth,
                focal * (u[0] * p[0] + u[1] * p[1] + u[2] * p[2]) / depth};
    }
};

// The camera at `eye` looking along `d`, its up as near the volume's y (or z,
// looking along y) as that allows.
Camera Looking(Point3D eye, std::array<double, 3> d, double focal = 1.5) {
    Camera c{eye, {}, {}, {}, focal};
    const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (int a = 0; a < 3; ++a) c.f[a] = d[a] / n;
    const double up[3] = {0, std::fabs(c.f[1]) > 0.9 ? 0.0 : 1.0, std::fabs(c.f[1]) > 0.9 ? 1.0 : 0.0};
    // r = f x up, u = r x f, both unit.
    double r[3] = {c.f[1] * up[2] - c.f[2] * up[1], c.f[2] * up[0] - c.f[0] * up[2], c.f[0] * up[1] - c.f[1] * up[0]};
    const double rn = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    for (int a = 0; a < 3; ++a) c.r[a] = r[a] / rn;
    c.u[0] = c.r[1] * c.f[2] - c.r[2] * c.f[1];
    c.u[1] = c.r[2] * c.f[0] - c.r[0] * c.f[2];
    c.u[2] = c.r[0] * c.f[1] - c.r[1] * c.f[0];
    return c;
}

double At(const Point3D& p, int a) { return a == 0 ? p.x : a == 1 ? p.y : p.z; }

// A point's face coordinates on a face across `axis`: (z, y) across x,
// (x, z) across y, (x, y) across z.
std::array<double, 2> FaceST(int axis, const Point3D& p) {
    return axis == 0 ? std::array<double, 2>{p.z, p.y}
                     : axis == 1 ? std::array<double, 2>{p.x, p.z} : std::array<double, 2>{p.x, p.y};
}

// The point of face coordinates (s, t) on the plane across `axis` at `level`.
Point3D OnFace(int axis, double level, double s, double t) {
    return axis == 0 ? Point3D{level, t, s} : axis == 1 ? Point3D{s, level, t} : Point3D{s, t, level};
}

// A box of unequal sides away from the origin, and views of it from outside:
// down each axis over the middle of a face, obliquely over a corner, and
// nearly down an axis from beside the box.
const Point3D kLow{4, -6, 10}, kHigh{44, 24, 60};
struct View {
    const char* name;
    Point3D eye;
    std::array<double, 3> look;
};
const View kViews[] = {
    {"down -x", {120, 9, 35}, {-1, 0, 0}},   {"down +x", {-70, 9, 35}, {1, 0, 0}},
    {"down -y", {24, 90, 35}, {0, -1, 0}},   {"down +y", {24, -80, 35}, {0, 1, 0}},
    {"down -z", {24, 9, 130}, {0, 0, -1}},   {"down +z", {24, 9, -60}, {0, 0, 1}},
    {"oblique", {110, 70, 140}, {-0.5, -0.35, -0.8}}, {"other oblique", {-40, -60, -30}, {0.45, 0.5, 0.6}},
    // Nearly down -z from beside the minimum x face, leaning the other way:
    // the third face seen widens what the first two cover.
    {"down -z from beside", {-6, 9, 130}, {-0.05, -0.02, -1}},
};

// The face the view looks at first: the one whose outward normal points most
// against it.
int NearestFace(const std::array<double, 3>& look) {
    int best = 0;
    double most = 1e300;
    for (int face = 0; face < 6; ++face) {
        const double along = (face % 2 == 0 ? 1 : -1) * look[size_t(face / 2)];
        if (along < most) most = along, best = face;
    }
    return best;
}

Mat44 Inverse(const Mat44& m) {
    Mat44 inverse;
    EXPECT_EQ(MatInvert(&inverse, &m), 1);
    return inverse;
}

// The near and far maps from the screen to the face coordinates of the
// faces a view meets first and last, checked at points of those faces; the
// box of what the nearest three faces cover, through the near map, against
// the box's corners carried along their lines of sight onto the nearest
// face's plane.
TEST(PlannerStages, TheNearAndFarMapsTakeTheScreenToTheFacesSeen) {
    const double fractions[][2] = {{0.25, 0.5}, {0.7, 0.3}, {0.5, 0.9}, {0.1, 0.1}};
    for (const View& view : kViews) {
        SCOPED_TRACE(view.name);
        const Camera camera = Looking(view.eye, view.look, 3.0);
        const Mat44 pmv = camera.Pmv();
        SampleSpace space(kLow, kHigh, pmv, Inverse(pmv));
        space.SetSpaceNumb(ULMVector3D(view.look[0], view.look[1], view.look[2]));
        const int nearFace = NearestFace(view.look), farFace = nearFace ^ 1;
        const DualHyper nearMap = space.GetNearHyper(), farMap = space.GetFarHyper();
        for (const auto& [face, map] : {std::pair{nearFace, nearMap}, std::pair{farFace, farMap}}) {
            const int axis = face / 2;
            const double level = face % 2 == 0 ? At(kHigh, axis) : At(kLow, axis);
            const int sAxis = axis == 0 ? 2 : 0, tAxis = axis == 1 ? 2 : 1;
            for (const auto& fr : fractions) {
                const double s = At(kLow, sAxis) + fr[0] * (At(kHigh, sAxis) - At(kLow, sAxis));
                const double t = At(kLow, tAxis) + fr[1] * (At(kHigh, tAxis) - At(kLow, tAxis));
                const Point3D p = OnFace(axis, level, s, t);
                const auto screen = camera.Screen(p.x, p.y, p.z);
                const PointST st = map.Eval(screen[0], screen[1]);
                EXPECT_NEAR(st.s, s, 1e-6) << "face " << face;
                EXPECT_NEAR(st.t, t, 1e-6) << "face " << face;
            }
        }
        // Every corner along its line of sight onto the nearest face's plane.
        const int axis = nearFace / 2;
        const double level = nearFace % 2 == 0 ? At(kHigh, axis) : At(kLow, axis);
        double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
        for (int c = 0; c < 8; ++c) {
            const Point3D corner{c & 1 ? kHigh.x : kLow.x, c & 2 ? kHigh.y : kLow.y, c & 4 ? kHigh.z : kLow.z};
            const double k = (level - At(view.eye, axis)) / (At(corner, axis) - At(view.eye, axis));
            const Point3D on{view.eye.x + k * (corner.x - view.eye.x), view.eye.y + k * (corner.y - view.eye.y),
                             view.eye.z + k * (corner.z - view.eye.z)};
            const auto st = FaceST(axis, on);
            for (int i = 0; i < 2; ++i) lo[i] = std::min(lo[i], st[size_t(i)]), hi[i] = std::max(hi[i], st[size_t(i)]);
        }
        const BoxST box = space.GetFullSTBox().GetBoxST();
        EXPECT_NEAR(box.m_min.s, lo[0], 1e-6);
        EXPECT_NEAR(box.m_min.t, lo[1], 1e-6);
        EXPECT_NEAR(box.m_max.s, hi[0], 1e-6);
        EXPECT_NEAR(box.m_max.t, hi[1], 1e-6);
    }
}

// The eye's distance beyond each side's near face, at least the least
// asked: positive only for the faces whose planes it lies outside of.
TEST(PlannerStages, TheClipDistanceOfASideIsTheEyesDistanceBeyondItsNearFace) {
    const Point3D eyes[] = {{120, 9, 35}, {-70, -60, 35}, {24, 9, 130}, {110, 70, -140}, {20, 10, 30}};
    for (const Point3D& eye : eyes)
        for (const double least : {0.0, 5.0, 200.0}) {
            SCOPED_TRACE(::testing::Message() << eye.x << " " << eye.y << " " << eye.z << ", least " << least);
            const Mat44 pmv = Looking(eye, {0.1, 0.2, -1}).Pmv();
            Clipper3H clipper;
            ClipSampleSpace space(kLow, kHigh, pmv, Inverse(pmv), clipper);
            space.SetViewpoint(PointST3H(eye.x, eye.y, eye.z));
            double farthest = least;
            for (int side = 0; side < 6; ++side) {
                // Even sides look down the axis from beyond the maximum face.
                const int axis = side / 2;
                const double beyond = side % 2 == 0 ? At(eye, axis) - At(kHigh, axis) : At(kLow, axis) - At(eye, axis);
                EXPECT_DOUBLE_EQ(space.GetClipDist(side, least), std::max(least, beyond)) << "side " << side;
                farthest = std::max(farthest, beyond);
            }
            EXPECT_DOUBLE_EQ(space.GetClipDist(least), farthest);
        }
}

// A tile's rectangle on a side's near face of the box from the origin to
// volDim: the maximum face for even sides, the minimum for odd ones, its
// corners (x0, y0), (x0, y1), (x1, y1), (x1, y0) in face coordinates; no
// side beyond the six gives four points at the origin.
TEST(PlannerStages, ATilesNearPolygonLiesOnItsSidesNearFace) {
    const Point3D volDim{40, 30, 50};
    const Tile2D tiles[] = {Tile2D(2.0, 3.0, 5.5, 4.25), Tile2D(0.0, 0.0, 40.0, 50.0)};
    for (const Tile2D& tile : tiles)
        for (int side = -1; side <= 6; ++side) {
            SCOPED_TRACE(::testing::Message() << "side " << side << ", tile to " << tile.mDmaxX);
            OblPerspFrustum frustum;
            frustum.CreateNearPoly(tile, volDim, side);
            const PolygonST3H poly = frustum.GetNearPoly();
            ASSERT_EQ(poly.GetNumbVerts(), 4);
            const double corners[4][2] = {{tile.mDminX, tile.mDminY},
                                          {tile.mDminX, tile.mDmaxY},
                                          {tile.mDmaxX, tile.mDmaxY},
                                          {tile.mDmaxX, tile.mDminY}};
            for (int i = 0; i < 4; ++i) {
                const PointST3H p = poly[i];
                if (side < 0 || side > 5) {
                    EXPECT_TRUE(p.x == 0 && p.y == 0 && p.z == 0 && p.s == 0 && p.t == 0) << i;
                    continue;
                }
                const int axis = side / 2;
                const Point3D expected = OnFace(axis, side % 2 == 0 ? At(volDim, axis) : 0.0, corners[i][0], corners[i][1]);
                EXPECT_EQ(p.x, expected.x) << i;
                EXPECT_EQ(p.y, expected.y) << i;
                EXPECT_EQ(p.z, expected.z) << i;
                EXPECT_EQ(p.w, 1.0) << i;
                EXPECT_EQ(p.s, corners[i][0]) << i;
                EXPECT_EQ(p.t, corners[i][1]) << i;
            }
        }
}

// Seen from an eye, a tile on the near face and its image on the far face
// along the lines of sight: parallel planes, so the far one is the near
// one widened by the ratio of their distances from the eye, in s and t
// alike, for small tiles and large, down each axis and obliquely, and with
// the near plane cutting into the box.
TEST(PlannerStages, TheFarPolygonIsTheNearOneWidenedByTheRatioOfDistances) {
    const Point3D volDim{40, 30, 50};
    const Point3D origin{0, 0, 0};
    const struct {
        const char* name;
        Point3D eye;
        std::array<double, 3> look;
        int side;
        double cut;  // how far into the box the near plane lies
    } cases[] = {
        {"down -x", {100, 15, 25}, {-1, 0, 0}, 0, 0},  {"down +x", {-60, 15, 25}, {1, 0, 0}, 1, 0},
        {"down -y", {20, 90, 25}, {0, -1, 0}, 2, 0},   {"down +y", {20, -45, 25}, {0, 1, 0}, 3, 0},
        {"down -z", {20, 15, 95}, {0, 0, -1}, 4, 0},   {"down +z", {20, 15, -70}, {0, 0, 1}, 5, 0},
        {"oblique", {60, 45, 120}, {-0.3, -0.25, -1}, 4, 0},
        {"oblique, cut", {60, 45, 120}, {-0.3, -0.25, -1}, 4, 20},
        {"down -x, cut", {100, 15, 25}, {-1, 0, 0}, 0, 12.5},
    };
    for (const auto& c : cases) {
        const Camera camera = Looking(c.eye, c.look);
        const Mat44 pmv = camera.Pmv();
        Clipper3H clipper;
        ClipSampleSpace space(origin, volDim, pmv, Inverse(pmv), clipper);
        space.SetViewpoint(PointST3H(c.eye.x, c.eye.y, c.eye.z));
        space.SetSpaceNumb(OrmikPersp::sViewVectors[c.side]);
        const int axis = c.side / 2;
        const double toNear = c.side % 2 == 0 ? At(c.eye, axis) - At(volDim, axis) : -At(c.eye, axis);
        const double toFar = c.side % 2 == 0 ? At(c.eye, axis) : At(volDim, axis) - At(c.eye, axis);
        ASSERT_EQ(space.SetClipCube(c.side, toNear + c.cut, 1e6), 1) << c.name;
        PointST3H clipMin, clipMax;
        space.GetClipCube(clipMin, clipMax);
        const DualHyper nearMap = space.GetNearHyper(c.side), farMap = space.GetFarHyper(c.side);
        const Tile2D tiles[] = {Tile2D(10.0, 8.0, 11.0, 9.0), Tile2D(1.0, 2.0, 29.0, 27.0)};
        for (const Tile2D& tile : tiles) {
            SCOPED_TRACE(::testing::Message() << c.name << ", tile " << tile.mDdimX);
            OblPerspFrustum frustum(nearMap, farMap, pmv);
            if (c.cut == 0)
                frustum.CreateNearPoly(tile, volDim, c.side);
            else
                frustum.CreateNearPoly(tile, clipMin, clipMax, c.side);
            frustum.Transform();
            frustum.DivideW();
            frustum.CalcFarXYZ();
            double scaleX = 0, scaleY = 0;
            frustum.CalcScaleXY(scaleX, scaleY);
            const double ratio = toFar / (toNear + c.cut);
            EXPECT_NEAR(scaleX, ratio, 1e-9 * ratio);
            EXPECT_NEAR(scaleY, ratio, 1e-9 * ratio);
        }
    }
}

// Stages that, at the first mini-frustum of a frame, have the planner
// rework its scales by area and note them.
class IsotropicStages : public PerspectiveStages {
public:
    explicit IsotropicStages(OrmikPersp& planner) : m_planner(planner) {}
    int PrepareRender(const Polygon3D& nearPoly, const Polygon3D& farPoly, const Point3D&, const Point3D&, int, int,
                      int dimZs, int, int, int, const DualHyper&, const Point2D (&)[4]) override {
        if (minis++ == 0) {
            m_planner.CalcIsotropicScale();
            scale = m_planner.GetSampScale();
            slices = dimZs;
        }
        nears.push_back(nearPoly);
        fars.push_back(farPoly);
        return 0;
    }
    int PreResample(const PolygonST3H&) override { return 0; }
    void DistortDepthIn(const PolygonST3H&, const PolygonST3H&) override {}
    int LoadBuffers() override { return 0; }
    int RenderMiniFrustum() override { return 0; }
    int UnloadBuffers() override { return 0; }
    int DistortDepthOut(const PolygonST3H&, const PolygonST3H&) override { return 0; }
    int PostResample(const PolygonST3H&) override { return 0; }
    void SetStatus(ULMStatus) override {}

    int minis = 0, slices = 0;
    Point3D scale;
    std::vector<Polygon3D> nears, fars;

private:
    OrmikPersp& m_planner;
};

// The planner for a camera over a viewport of 200 x 120 pixels.
void Configure(OrmikPersp& planner, const Camera& camera) {
    planner.SetViewport(0, 0, 199, 119);
    planner.SetWriteport(0, 0, 199, 119);
    planner.SetCorrMatrix(ULMMatrix());
    planner.SetModelMatrix(ULMMatrix());
    planner.SetViewMatrix(Mat44ToULMMat(camera.View()));
    planner.SetProjMatrix(Mat44ToULMMat(camera.Projection()));
    planner.SetSamplingFactor(1.0);
}

// The scale by area: the near face seen squarely at distance d covers 100
// focal / d pixels a voxel across and 60 focal / d up (the screen 2 units
// across, 200 x 120 pixels), so the scale is their geometric mean times
// the sampling factor, between the limits times the near/far ratio
// (d + depth) / d, or the fixed factor times the ratio, at most 256; along
// z the scale over the ratio within its own limits, or its fixed factor.
// Down each axis, and with the near or the far plane cutting into the box
// (the depth the whole voxels between them).
TEST(PlannerStages, TheIsotropicScaleIsThePixelsAVoxelOfTheNearFaceCovers) {
    test_support::ControlSnapshot snapshot;
    const Point3D volDim{40, 30, 50};
    const struct {
        const char* name;
        Point3D eye;
        std::array<double, 3> look;
        double least, sampling, minXY, maxXY, minZ, maxZ;
        int fixedXY, fixedZ;
        double most = 65536;
    } cases[] = {
        {"down -z", {20, 15, 90}, {0, 0, -1}, 5, 1, 0.01, 100, 0.01, 100, 0, 0},
        {"down +z", {20, 15, -30}, {0, 0, 1}, 5, 1.5, 0.01, 100, 0.01, 100, 0, 0},
        {"down -x", {70, 15, 25}, {-1, 0, 0}, 5, 1, 0.01, 100, 0.01, 100, 0, 0},
        {"down +y", {20, -40, 25}, {0, 1, 0}, 5, 0.5, 0.01, 100, 0.01, 100, 0, 0},
        {"near plane cutting in", {20, 15, 60}, {0, 0, -1}, 25, 1, 0.01, 100, 0.01, 100, 0, 0},
        {"far plane cutting in", {20, 15, 90}, {0, 0, -1}, 5, 1, 0.01, 100, 0.01, 100, 0, 0, 70.5},
        {"both cutting in", {20, 15, -20}, {0, 0, 1}, 30, 1, 0.01, 100, 0.01, 100, 0, 0, 55},
        {"clamped above", {20, 15, 90}, {0, 0, -1}, 5, 1, 0.01, 0.5, 1, 1.2, 0, 0},
        {"clamped below", {20, 15, 90}, {0, 0, -1}, 5, 1, 4, 8, 3, 5, 0, 0},
        {"fixed", {20, 15, 90}, {0, 0, -1}, 5, 1, 0.01, 100, 0.01, 100, 2, 3},
        {"fixed past 256", {20, 15, 90}, {0, 0, -1}, 5, 1, 0.01, 100, 0.01, 100, 200, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gULMControl.m_fixedXYSupersampleFactor = c.fixedXY;
        gULMControl.m_fixedZSupersampleFactor = c.fixedZ;
        const Camera camera = Looking(c.eye, c.look, 1.5);
        OrmikPersp planner;
        Configure(planner, camera);
        planner.SetVolDim(Point3D{0, 0, 0}, volDim);
        planner.SetSamplingFactor(c.sampling);
        planner.SetSampMultLimits(c.minXY, c.maxXY, c.minZ, c.maxZ);
        planner.SetMinVoxDist(c.least);
        planner.SetMaxVoxDist(c.most);
        IsotropicStages stages(planner);
        ASSERT_EQ(planner.RendPerspFrustum(&stages), 0);
        ASSERT_GT(stages.minis, 0);
        // The side looked down: its near face, or the near plane inside.
        int axis = 0;
        while (c.look[size_t(axis)] == 0) ++axis;
        const double beyond = c.look[size_t(axis)] < 0 ? At(c.eye, axis) - At(volDim, axis) : -At(c.eye, axis);
        const double toNear = std::max(beyond, c.least);
        const double toFar = std::min(beyond + At(volDim, axis), c.most);
        const double depth = std::floor(toFar - toNear);
        const double ratio = (depth + toNear) / toNear;
        double xy = std::sqrt(100.0 * 60.0) * 1.5 / toNear * c.sampling;
        xy = std::min(std::max(xy, c.minXY * ratio), c.maxXY * ratio);
        if (c.fixedXY != 0) xy = c.fixedXY * ratio;
        xy = std::min(xy, 256.0);
        const double z = c.fixedZ != 0 ? c.fixedZ : std::min(std::max(xy / ratio, c.minZ), c.maxZ);
        EXPECT_NEAR(stages.scale.x, xy, 1e-9 * xy);
        EXPECT_NEAR(stages.scale.y, xy, 1e-9 * xy);
        EXPECT_NEAR(stages.scale.z, z, 1e-9 * z);
    }
}

// A box given by integer corners plans as the same box given by doubles:
// unequal sides away from the origin, seen obliquely.
TEST(PlannerStages, ABoxOfIntegerCornersPlansAsTheSameBox) {
    const Camera camera = Looking({30, 20, 110}, {-0.1, -0.05, -1});
    OrmikPersp byInts, byDoubles;
    Configure(byInts, camera);
    Configure(byDoubles, camera);
    byInts.SetSize(4, -6, 10, 44, 24, 60);
    byDoubles.SetVolDim(kLow, kHigh);
    IsotropicStages ints(byInts), doubles(byDoubles);
    ASSERT_EQ(byInts.RendPerspFrustum(&ints), 0);
    ASSERT_EQ(byDoubles.RendPerspFrustum(&doubles), 0);
    ASSERT_GT(ints.minis, 0);
    ASSERT_EQ(ints.minis, doubles.minis);
    for (size_t m = 0; m < ints.nears.size(); ++m)
        for (int i = 0; i < 4; ++i) {
            for (int a = 0; a < 3; ++a) {
                EXPECT_EQ(At(ints.nears[m][i], a), At(doubles.nears[m][i], a));
                EXPECT_EQ(At(ints.fars[m][i], a), At(doubles.fars[m][i], a));
            }
        }
}

}  // namespace
}  // namespace ulm3
