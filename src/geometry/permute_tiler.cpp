// Tiling of a near side's base-plane area by the lean of its viewing rays.
#include "geometry/permute_tiler.h"

#include <cmath>

#include "foundation/message_log.h"

namespace ulm3 {
namespace {

// Below this growth of the ray shift per unit of the area, the shift counts
// as constant over the area.
constexpr double kFlat = 1e-12;

double Clamp(double v, double lo, double hi) {
    if (!(v > lo)) return lo;  // also a NaN
    if (v >= hi) return hi;
    return v;
}

// Key lines where the rays' shift across the depth D, modelled as
// shift(p) = dZ + k (p - p0), is -D, 0 and +D, clamped to [lo, hi]. With no
// growth the shift is the same everywhere: each line then lies at the edge
// that keeps the whole area on the side of it that the constant shift is on.
void KeyLines(double p0, double dZ, double k, double D, double lo, double hi, double& n45,
              double& np, double& p45) {
    if (std::fabs(k) < kFlat) {
        n45 = dZ > -D ? lo : hi;
        np = dZ > 0.0 ? lo : hi;
        p45 = dZ < D ? hi : lo;
        return;
    }
    n45 = Clamp(p0 + (-D - dZ) / k, lo, hi);
    np = Clamp(p0 + (-dZ) / k, lo, hi);
    p45 = Clamp(p0 + (D - dZ) / k, lo, hi);
}

}  // namespace

PermuteTiler::PermuteTiler(const Tile2D& scr, const PolygonST3H& nearPoly,
                           const PolygonST3H& farPoly, const PointST3H& volMin,
                           const PointST3H& volMax, int nearSide)
    : PermuteTiler(scr, nearPoly, farPoly,
                   Point3D{volMax.x - volMin.x, volMax.y - volMin.y, volMax.z - volMin.z},
                   nearSide) {}

PermuteTiler::PermuteTiler(const Tile2D& scr, const PolygonST3H& nearPoly,
                           const PolygonST3H& farPoly, const Point3D& volDepth, int nearSide)
    : mScrSize(scr), mNearPoly(nearPoly), mFarPoly(farPoly), mVolDepth(volDepth),
      mNearSide(nearSide) {
    InitTiling();
}

void PermuteTiler::CalcDeltas() {
    const PolygonST3H& n = mNearPoly;
    const PolygonST3H& f = mFarPoly;
    Xv0 = n[0].s;
    dXv_dXs = n[3].s - n[0].s;
    dXv_dYs = n[1].s - n[0].s;
    dXv_dZs = f[0].s - n[0].s;
    d_dXv_dXs_dZs = f[3].s - (f[0].s + dXv_dXs);
    d_dXv_dYs_dZs = f[1].s - (f[0].s + dXv_dYs);
    Yv0 = n[0].t;
    dYv_dXs = n[3].t - n[0].t;
    dYv_dYs = n[1].t - n[0].t;
    dYv_dZs = f[0].t - n[0].t;
    d_dYv_dXs_dZs = f[3].t - (f[0].t + dYv_dXs);
    d_dYv_dYs_dZs = f[1].t - (f[0].t + dYv_dYs);
}

void PermuteTiler::InitTiling() {
    mTileNo = 0;
    const double D = mNearSide < 2 ? mVolDepth.x : (mNearSide < 4 ? mVolDepth.y : mVolDepth.z);
    CalcDeltas();
    double kx = d_dXv_dXs_dZs;
    if (mScrSize.mDdimX > 0.0) kx /= mScrSize.mDdimX;
    double ky = d_dYv_dYs_dZs;
    if (mScrSize.mDdimY > 0.0) ky /= mScrSize.mDdimY;
    KeyLines(Xv0, dXv_dZs, kx, D, mScrSize.mDminX, mScrSize.mDmaxX, n45Xs, npXs, p45Xs);
    KeyLines(Yv0, dYv_dZs, ky, D, mScrSize.mDminY, mScrSize.mDmaxY, n45Ys, npYs, p45Ys);
}

bool PermuteTiler::FindQuadrant() {
    for (; mTileNo >= 0 && mTileNo < 4; ++mTileNo) {
        const bool hiS = mTileNo & 1, hiT = mTileNo & 2;
        const bool sOpen = hiS ? npXs < p45Xs : n45Xs < npXs;
        const bool tOpen = hiT ? npYs < p45Ys : n45Ys < npYs;
        if (sOpen && tOpen) return true;
    }
    return false;
}

bool PermuteTiler::GetNextTile(Tile2D& out) {
    if (!FindQuadrant()) return false;
    const bool hiS = mTileNo & 1, hiT = mTileNo & 2;
    out = Tile2D(hiS ? npXs : n45Xs, hiT ? npYs : n45Ys, hiS ? p45Xs : npXs, hiT ? p45Ys : npYs);
    ++mTileNo;
    return true;
}

bool PermuteTiler::GetExtendedTile(Tile2D& out, double dx, double dy) {
    if (!FindQuadrant()) return false;
    const bool hiS = mTileNo & 1, hiT = mTileNo & 2;
    out = Tile2D(hiS ? npXs : n45Xs - dx, hiT ? npYs : n45Ys - dy, hiS ? p45Xs + dx : npXs,
                 hiT ? p45Ys + dy : npYs);
    return true;
}

void PermuteTiler::Print() const {
    ULMOutputMessage("KeyXs: %12.6g %12.6g %12.6g\n", n45Xs, npXs, p45Xs);
    ULMOutputMessage("KeyYs: %12.6g %12.6g %12.6g\n", n45Ys, npYs, p45Ys);
}

}  // namespace ulm3
