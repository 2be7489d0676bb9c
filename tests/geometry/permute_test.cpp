// The axis permutation and the tiler, as invariants over random directions
// and random perspective areas.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geometry/ormik_permute.h"
#include "geometry/permute_tiler.h"

using namespace ulm3;

namespace {

TEST(OrmikPermute, TransformValuesOfTheConventionalDirections) {
    const struct {
        Point3D sight;
        int reg;
    } cases[] = {{{0, 0, 5}, 576}, {{0, 0, -5}, 532}, {{3, -3, 1}, 98}};
    for (const auto& c : cases) EXPECT_EQ(OrmikPermute({0, 0, 0}, c.sight).GetTransformReg(), c.reg);
}

TEST(OrmikPermute, PutsTheViewingDirectionOnPositiveSampleZWithAFixedHandedness) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int round = 0; round < 400; ++round) {
        const bool topLeft = round % 2 == 0;
        const Point3D eye{10 * u(rng), 10 * u(rng), 10 * u(rng)};
        const Point3D d{u(rng), u(rng), u(rng)};
        OrmikPermute perm({eye.x, eye.y, eye.z}, {eye.x + d.x, eye.y + d.y, eye.z + d.z}, topLeft);
        // The signed permutation as a matrix, from the images of the axes.
        double m[3][3];
        Point3D o{0, 0, 0};
        perm.PermuteToXYZ(o);
        for (int a = 0; a < 3; ++a) {
            Point3D e{a == 0 ? 1.0 : 0.0, a == 1 ? 1.0 : 0.0, a == 2 ? 1.0 : 0.0};
            perm.PermuteToXYZ(e);
            m[0][a] = e.x - o.x, m[1][a] = e.y - o.y, m[2][a] = e.z - o.z;
        }
        const double md[3] = {m[0][0] * d.x + m[0][1] * d.y + m[0][2] * d.z,
                              m[1][0] * d.x + m[1][1] * d.y + m[1][2] * d.z,
                              m[2][0] * d.x + m[2][1] * d.y + m[2][2] * d.z};
        EXPECT_GE(md[0], 0.0);
        EXPECT_GE(md[1], 0.0);
        EXPECT_GE(md[2], md[0]);
        EXPECT_GE(md[2], md[1]);
        const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
        EXPECT_EQ(det, topLeft ? 1.0 : -1.0);
        // A negated axis maps voxel i to -i - 1.
        for (int a = 0; a < 3; ++a) EXPECT_EQ(a == 0 ? o.x : (a == 1 ? o.y : o.z), -perm.GetNeg(a));

        Point3D p{std::round(u(rng) * 50), std::round(u(rng) * 50), std::round(u(rng) * 50)};
        const Point3D q = p;
        perm.PermuteToXYZ(p);
        perm.PermuteToUVW(p);
        EXPECT_EQ(p.x, q.x);
        EXPECT_EQ(p.y, q.y);
        EXPECT_EQ(p.z, q.z);
        // Base plane to volume puts the depth on the dominant axis.
        Point3D pst{1, 2, 3};
        perm.PermutePSTtoUVW(pst);
        EXPECT_EQ(perm.GetSelect(2) == 0 ? pst.x : (perm.GetSelect(2) == 1 ? pst.y : pst.z), 3);

        OrmikPermute copy(topLeft);
        ASSERT_TRUE(copy.SetTransformReg(perm.GetTransformReg()));
        EXPECT_EQ(copy.GetCombinedCase(), perm.GetCombinedCase());
        for (int a = 0; a < 3; ++a) {
            EXPECT_EQ(copy.GetSelect(a), perm.GetSelect(a));
            EXPECT_EQ(copy.GetNeg(a), perm.GetNeg(a));
        }
    }
}

TEST(OrmikPermute, RefusesTransformValuesOutsideTheCaseTable) {
    // Select 3 on z; x and y both from volume axis 0; a swapped pair whose
    // handedness contradicts the signs.
    for (int bad : {0x300 | 0x10 | 0x80, 0x200, 0x200 | 0x10 | 0x00 | 0x40 | 0x1}) {
        OrmikPermute perm;
        EXPECT_FALSE(perm.SetTransformReg(bad)) << bad;
        EXPECT_EQ(perm.GetTransformReg(), OrmikPermute::kDefaultTransformReg);
    }
}

// The area's corners on the near face and their images on a far face at
// depth D, seen from an eye at (es, et) at distance h before the near face.
void PerspectiveArea(double s0, double t0, double s1, double t1, double es, double et, double h,
                     double D, PolygonST3H& nearPoly, PolygonST3H& farPoly) {
    const double st[4][2] = {{s0, t0}, {s0, t1}, {s1, t1}, {s1, t0}};
    nearPoly = farPoly = PolygonST3H();
    for (const auto& c : st) {
        nearPoly.AddVert(PointST3H(0, 0, 0, 1, c[0], c[1]));
        const double r = (h + D) / h;
        farPoly.AddVert(PointST3H(0, 0, 0, 1, es + (c[0] - es) * r, et + (c[1] - et) * r));
    }
}

TEST(PermuteTiler, CutsTheAreaAtTheRaysOfFortyFiveDegrees) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> u(0, 1);
    for (int round = 0; round < 300; ++round) {
        const double s0 = 100 * u(rng), t0 = 100 * u(rng);
        const double s1 = s0 + 1 + 100 * u(rng), t1 = t0 + 1 + 100 * u(rng);
        const double es = -50 + 250 * u(rng), et = -50 + 250 * u(rng);
        const double h = 1 + 80 * u(rng), D = 1 + 60 * u(rng);
        PolygonST3H nearPoly, farPoly;
        PerspectiveArea(s0, t0, s1, t1, es, et, h, D, nearPoly, farPoly);
        PermuteTiler tiler(Tile2D(s0, t0, s1, t1), nearPoly, farPoly, Point3D{D, D, D}, round % 6);
        // Rays lean 45 degrees at distance h from the eye's foot point.
        auto clamp = [](double v, double lo, double hi) { return std::fmin(std::fmax(v, lo), hi); };
        double n45, np, p45;
        tiler.GetKeyLinesS(n45, np, p45);
        EXPECT_NEAR(n45, clamp(es - h, s0, s1), 1e-6);
        EXPECT_NEAR(np, clamp(es, s0, s1), 1e-6);
        EXPECT_NEAR(p45, clamp(es + h, s0, s1), 1e-6);
        const double ds = clamp(es + h, s0, s1) - clamp(es - h, s0, s1);
        const double dt = clamp(et + h, t0, t1) - clamp(et - h, t0, t1);

        Tile2D ext, tile;
        double area = 0;
        int count = 0;
        while (tiler.GetExtendedTile(ext, 0.5, 0.25)) {
            ASSERT_TRUE(tiler.GetNextTile(tile));
            // Widened only outwards, by the given amounts.
            EXPECT_TRUE(ext.mDminX == tile.mDminX || ext.mDminX == tile.mDminX - 0.5);
            EXPECT_TRUE(ext.mDmaxX == tile.mDmaxX || ext.mDmaxX == tile.mDmaxX + 0.5);
            EXPECT_TRUE(ext.mDminY == tile.mDminY || ext.mDminY == tile.mDminY - 0.25);
            EXPECT_NEAR(ext.mDdimX - tile.mDdimX + ext.mDdimY - tile.mDdimY, 0.75, 1e-12);
            EXPECT_GE(tile.mDminX, s0);
            EXPECT_LE(tile.mDmaxY, t1);
            area += tile.mDdimX * tile.mDdimY;
            ++count;
        }
        EXPECT_FALSE(tiler.GetNextTile(tile));
        EXPECT_LE(count, 4);
        EXPECT_NEAR(area, ds * dt, 1e-6 * (1 + ds * dt));
    }
}

TEST(PermuteTiler, RaysOfOneLeanPutTheKeyLinesOnTheEdges) {
    // No perspective: the shift is the same everywhere, 0.5 D in s and 2 D
    // in t, so the whole s range is one interval and no t interval is open.
    PolygonST3H nearPoly(PointST3H(0, 0, 0, 1, 0, 0), PointST3H(0, 0, 0, 1, 0, 10),
                         PointST3H(0, 0, 0, 1, 10, 10), PointST3H(0, 0, 0, 1, 10, 0));
    PolygonST3H farPoly = nearPoly;
    for (int i = 0; i < 4; ++i) {
        PointST3H p = farPoly[i];
        p.s += 2, p.t += 8;
        farPoly.ReplaceVert(p, i);
    }
    PermuteTiler tiler(Tile2D(0.0, 0.0, 10.0, 10.0), nearPoly, farPoly, Point3D{4, 4, 4}, 4);
    double n45, np, p45;
    tiler.GetKeyLinesS(n45, np, p45);
    EXPECT_EQ(n45, 0);
    EXPECT_EQ(np, 0);
    EXPECT_EQ(p45, 10);
    Tile2D tile;
    EXPECT_FALSE(tiler.GetNextTile(tile));
}

}  // namespace
