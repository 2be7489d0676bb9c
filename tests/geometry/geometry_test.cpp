// Clipping, screen-to-face maps and the conventions of the perspective
// geometry, checked as invariants over random polygons and cameras.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geometry/clipper_3h.h"
#include "geometry/dual_hyper.h"
#include "geometry/obl_persp_frustum.h"
#include "geometry/tile_2d.h"
#include "random_camera.h"

using namespace ulm3;

namespace {

// Inside a convex polygon of either winding, by more than eps.
bool Inside(const PolygonST3H& p, double x, double y, double eps) {
    int pos = 0, neg = 0, n = p.GetNumbVerts(), edges = 0;
    for (int i = 0; i < n; ++i) {
        const PointST3H a = p[i], b = p[(i + 1) % n];
        const double c = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
        const double len = std::hypot(b.x - a.x, b.y - a.y);
        if (len < 1e-12) continue;  // a repeated corner
        ++edges;
        if (c > eps * len) ++pos;
        else if (c < -eps * len) ++neg;
        else return false;
    }
    return edges >= 3 && (pos == edges || neg == edges);
}

double S(double x, double y) { return 2 * x - y + 3; }
double T(double x, double y) { return x + 4 * y - 1; }

TEST(Clipper3H, KeepsExactlyThePartOnTheKeptSideOfEveryPlane) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int round = 0; round < 200; ++round) {
        // A convex polygon: corners on an ellipse at sorted angles.
        const int n = 3 + round % 10;
        double angles[16];
        for (int i = 0; i < n; ++i) angles[i] = (u(rng) + 1) * M_PI;
        std::sort(angles, angles + n);
        PolygonST3H poly;
        for (int i = 0; i < n; ++i) {
            const double x = 0.9 * std::cos(angles[i]), y = 0.6 * std::sin(angles[i]);
            poly.AddVert(PointST3H(x, y, 0.0, 1.0, S(x, y), T(x, y)));
        }
        Clipper3H clipper;
        const int planes = 1 + round % 6;
        Plane3H plane[6];
        for (int k = 0; k < planes; ++k) {
            plane[k] = Plane3H(u(rng), u(rng), 0.0, 0.3 * u(rng));
            clipper.AddClipPlane(plane[k]);
        }
        if (planes == 6) {
            EXPECT_TRUE(clipper.AddClipPlane(Plane3H(1, 0, 0, 0)));  // ignored
        }
        PolygonST3H clipped = poly;
        const bool kept = clipper.ClipPolyST3H(clipped);
        for (int i = 0; i < clipped.GetNumbVerts(); ++i) {
            const PointST3H v = clipped[i];
            for (int k = 0; k < planes; ++k) EXPECT_GE(plane[k].PerpDist(v), -1e-12);
            EXPECT_NEAR(v.s, S(v.x, v.y), 1e-9);
            EXPECT_NEAR(v.t, T(v.x, v.y), 1e-9);
        }
        for (int probe = 0; probe < 100; ++probe) {
            const double x = u(rng), y = u(rng);
            bool want = Inside(poly, x, y, 1e-7);
            bool onPlane = false;
            for (int k = 0; k < planes; ++k) {
                const double d = plane[k].PerpDist(PointST3H(x, y, 0.0));
                onPlane |= std::fabs(d) < 1e-7;
                want &= d > 0;
            }
            if (onPlane || (!want && Inside(poly, x, y, -1e-7) && !Inside(poly, x, y, 1e-7)))
                continue;
            EXPECT_EQ(kept && Inside(clipped, x, y, 0.0), want) << round << ": " << x << ", " << y;
        }
    }
}

TEST(Clipper3H, VertexOnAPlaneOnceAndTooFewVerticesEmpty) {
    Clipper3H clipper;
    clipper.AddClipPlane(Plane3H(1, 0, 0, 0));  // x >= 0
    PolygonST3H tri(PointST3H(0, 0, 0), PointST3H(1, 0, 0), PointST3H(0, 1, 0));
    EXPECT_TRUE(clipper.ClipPolyST3H(tri));
    EXPECT_EQ(tri.GetNumbVerts(), 3);
    PolygonST3H flat;
    flat.AddVert(PointST3H(1, 1, 0));
    flat.AddVert(PointST3H(2, 1, 0));
    EXPECT_FALSE(clipper.ClipPolyST3H(flat));
    EXPECT_EQ(flat.GetNumbVerts(), 0);
    EXPECT_EQ(PolygonST3H()[0].w, 1.0);  // an empty polygon's vertex 0 is a default point
}

// A point on face side's plane at coordinate c, with face coordinates (s, t).
PointST3H OnFace(int side, double c, double s, double t) {
    switch (side / 2) {
        case 0: return {c, t, s, s, t};
        case 1: return {s, c, t, s, t};
        default: return {s, t, c, s, t};
    }
}

TEST(DualHyper, MapsScreenPointsBackToFaceCoordinatesOnEverySide) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(0, 1);
    for (int cam = 0; cam < 12; ++cam) {
        const auto c = test_support::MakeCamera(rng, test_support::EyeAt::kOutsideFace, cam % 6);
        const Mat44 pmv = c.Pmv();
        ULMMatrix inv;
        ASSERT_TRUE(InvertHomogeneous(Mat44ToULMMat(pmv), inv));
        const Mat44 invPmv = ULMMatToMat44(inv);
        const double size[3] = {c.volMax.x, c.volMax.y, c.volMax.z};
        for (int side = 0; side < 6; ++side) {
            const double slice = u(rng) * size[side / 2];
            const DualHyper hyper(invPmv, side, slice);
            PolygonST3H screen;
            for (int k = 0; k < 4; ++k) {
                PointST3H p = OnFace(side, slice, 100 * u(rng), 100 * u(rng));
                const PointST3H voxel = p;
                p.Transform(pmv);
                if (p.w <= 0) continue;
                p.DivideW();
                screen.AddVert(p);
                const PointST st = hyper.Eval(p.x, p.y);
                EXPECT_NEAR(st.s, voxel.s, 1e-6 * (1 + std::fabs(voxel.s)));
                EXPECT_NEAR(st.t, voxel.t, 1e-6 * (1 + std::fabs(voxel.t)));
                // The matrix form, divided by its fourth coordinate.
                const ULMVector4D m = ULMMatrix(hyper) * ULMVector4D(p.x, p.y, p.z, 1.0);
                EXPECT_NEAR(m[0] / m[3], st.s, 1e-6 * (1 + std::fabs(st.s)));
                EXPECT_NEAR(m[1] / m[3], st.t, 1e-6 * (1 + std::fabs(st.t)));
                // The gradient against central differences, per pixel.
                const double h = 1e-6, sx = c.viewW / 2.0, sy = c.viewH / 2.0;
                const PointST dx1 = hyper.Eval(p.x + h, p.y), dx0 = hyper.Eval(p.x - h, p.y);
                const PointST dy1 = hyper.Eval(p.x, p.y + h), dy0 = hyper.Eval(p.x, p.y - h);
                auto combine = [](double a, double b) {
                    return std::fmax(std::fabs(a), std::fabs(b)) +
                           0.5 * std::fmin(std::fabs(a), std::fabs(b));
                };
                double gs = 0, gt = 0;
                hyper.GradST(p.x, p.y, gs, gt, sx, sy);
                EXPECT_NEAR(gs, combine((dx1.s - dx0.s) / (2 * h * sx), (dy1.s - dy0.s) / (2 * h * sy)),
                            1e-4 * gs + 1e-9);
                EXPECT_NEAR(gt, combine((dx1.t - dx0.t) / (2 * h * sx), (dy1.t - dy0.t) / (2 * h * sy)),
                            1e-4 * gt + 1e-9);
            }
            // Fitted to three of the points, the map agrees with the fourth.
            if (screen.GetNumbVerts() < 4) continue;
            const DualHyper fitted(screen);
            if (fitted.skipFace) continue;
            const PointST st = fitted.Eval(screen[3].x, screen[3].y);
            EXPECT_NEAR(st.s, screen[3].s, 1e-5 * (1 + std::fabs(st.s)));
            EXPECT_NEAR(st.t, screen[3].t, 1e-5 * (1 + std::fabs(st.t)));
        }
    }
}

TEST(DualHyper, CollinearPointsGiveTheZeroMapInsteadOfADivisionByZero) {
    const DualHyper h(PolygonST3H(PointST3H(0, 0, 0, 1, 5, 5), PointST3H(1, 1, 0, 1, 6, 6),
                                  PointST3H(2, 2, 0, 1, 7, 7)));
    EXPECT_TRUE(h.skipFace);
    EXPECT_EQ(h.Eval(3.0, 1.0).s, 0.0);
}

TEST(InvertHomogeneous, InvertsTinyButRegularMapsAndRefusesSingularOnes) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-1, 1);
    ULMMatrix a;
    for (auto& row : a.m_matrix)
        for (double& x : row) x = 1e-4 * u(rng);
    ULMMatrix inv;
    ASSERT_TRUE(InvertHomogeneous(a, inv));
    const ULMMatrix id = a * inv;
    for (int r = 0; r < 4; ++r)
        for (int q = 0; q < 4; ++q) EXPECT_NEAR(id[r][q], r == q, 1e-9);
    for (int q = 0; q < 4; ++q) a[3][q] = 2 * a[0][q] - a[1][q];
    ULMMatrix untouched;
    EXPECT_FALSE(InvertHomogeneous(a, untouched));
    EXPECT_EQ(untouched, ULMMatrix());
}

TEST(PerspectiveConventions, TileRoundingAndDepthSteps) {
    const Tile2D t(0.4, 0.4, 10.6, 10.6);
    EXPECT_EQ(t.minX, 0);
    EXPECT_EQ(t.maxX, 10);
    EXPECT_EQ(t.dimX, 11);
    double nearZ = 0, farZ = 0;
    int steps = 0;
    const PointST3H lo(0, 0, 10), hi(0, 0, 73.5);
    OblPerspFrustum::CalcStepsZ(lo, hi, 4, 1.0, nearZ, farZ, steps);
    EXPECT_EQ(steps, 63);
    EXPECT_EQ(nearZ, 73.5);
    EXPECT_EQ(farZ, 10);
    OblPerspFrustum::CalcStepsZ(lo, hi, 5, 1.0, nearZ, farZ, steps);
    EXPECT_EQ(nearZ, 10);
    EXPECT_EQ(farZ, 73.5);
}

}  // namespace
