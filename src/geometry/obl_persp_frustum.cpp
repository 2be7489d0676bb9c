// Mini-frustum polygons of the perspective planner.
#include "geometry/obl_persp_frustum.h"

#include <climits>
#include <cmath>

#include "foundation/message_log.h"

namespace ulm3 {

void OblPerspFrustum::CreateNearPoly(const Tile2D& tile, const PointST3H& clipMin,
                                     const PointST3H& clipMax, int side) {
    const double st[4][2] = {{tile.mDminX, tile.mDminY},
                             {tile.mDminX, tile.mDmaxY},
                             {tile.mDmaxX, tile.mDmaxY},
                             {tile.mDmaxX, tile.mDminY}};
    mNearPoly = PolygonST3H(PointST3H(), PointST3H(), PointST3H(), PointST3H());
    if (side < 0 || side > 5) return;
    for (int i = 0; i < 4; ++i) {
        const double s = st[i][0], t = st[i][1];
        const PointST3H& face = side % 2 == 0 ? clipMax : clipMin;
        PointST3H p;
        switch (side / 2) {
            case 0: p = {face.x, t, s, s, t}; break;
            case 1: p = {s, face.y, t, s, t}; break;
            default: p = {s, t, face.z, s, t}; break;
        }
        mNearPoly.ReplaceVert(p, i);
    }
}

void OblPerspFrustum::CreateNearPoly(const Tile2D& tile, const Point3D& volDim, int side) {
    CreateNearPoly(tile, PointST3H(0.0, 0.0, 0.0), PointST3H(volDim.x, volDim.y, volDim.z), side);
}

void OblPerspFrustum::CalcFarXYZ(int verbose) {
    mFarPoly = PolygonST3H();
    for (int i = 0; i < mNearPoly.GetNumbVerts(); ++i) mFarPoly.AddVert(mFarHyper.EvalST(mNearPoly[i]));
    if (verbose > 1) mFarPoly.Print();
}

void OblPerspFrustum::CalcStepsZ(const PointST3H& min, const PointST3H& max, int side,
                                 double scaleZ, double& nearZ, double& farZ, int& stepsZ) {
    const int a = side < 2 ? 0 : (side < 4 ? 1 : 2);
    const double lo = a == 0 ? min.x : (a == 1 ? min.y : min.z);
    const double hi = a == 0 ? max.x : (a == 1 ? max.y : max.z);
    const double steps = (hi - lo) * scaleZ;
    // Saturated: a frustum of no depth (or a NaN) has no steps.
    stepsZ = steps > 0.0 ? (steps < INT_MAX ? static_cast<int>(steps) : INT_MAX) : 0;
    nearZ = side % 2 == 1 ? lo : hi;
    farZ = side % 2 == 1 ? hi : lo;
}

void OblPerspFrustum::CalcScaleXY(double& outScaleX, double& outScaleY) const {
    const PolygonST3H& n = mNearPoly;
    const PolygonST3H& f = mFarPoly;
    outScaleX = std::fabs(f[3].s - f[0].s);
    const double nearS = std::fabs(n[3].s - n[0].s);
    if (nearS > 0.01) outScaleX /= nearS;
    outScaleY = std::fabs(f[1].t - f[0].t);
    const double nearT = std::fabs(n[1].t - n[0].t);
    if (nearT > 0.01) outScaleY /= nearT;
    auto check = [](double a, double b, const char* format, double v0, double v1, double v2,
                    double v3) {
        if (std::fabs(a - b) > 0.01) ULMOutputMessage(format, v0, v1, v2, v3);
    };
    check(f[1].s - f[0].s, f[2].s - f[3].s, " S: Delta left != right  %12.6g, %12.6g, %12.6g, %12.6g\n",
          f[0].s, f[1].s, f[2].s, f[3].s);
    check(f[1].t - f[0].t, f[2].t - f[3].t, " T: Delta left != right  %12.6g, %12.6g, %12.6g, %12.6g\n",
          f[0].t, f[1].t, f[2].t, f[3].t);
    check(f[2].s - f[1].s, f[3].s - f[0].s, " S: Delta top != bottom  %12.6g, %12.6g, %12.6g, %12.6g\n",
          f[0].s, f[1].s, f[2].s, f[3].s);
    check(f[2].t - f[1].t, f[3].t - f[0].t, " T: Delta top != bottom  %12.6g, %12.6g, %12.6g, %12.6g\n",
          f[0].t, f[1].t, f[2].t, f[3].t);
}

}  // namespace ulm3
