// Screen-space geometry of the volume box for the perspective planner.
#include "geometry/clip_sample_space.h"

#include <cmath>

namespace ulm3 {

SampleSpace::SampleSpace(const Point3D& min, const Point3D& max, const Mat44& pmv,
                         const Mat44& invPmv)
    : mVolMin(min), mVolMax(max), mPmvMat(pmv), mInvPmvMat(invPmv) {
    CalcSampSpaceCube();
}

void SampleSpace::CalcSampSpaceCube() {
    mVolCube = CubeST3H(MinCorner(), MaxCorner());
    mVolCube.Transform(mPmvMat);
    mVolCube.DivideW();
}

DualHyper SampleSpace::GetNearHyper() {
    mNearPoly = mVolCube.GetNearPoly(0, mViewVect);
    mNearHyper = DualHyper(mNearPoly);
    return mNearHyper;
}

DualHyper SampleSpace::GetFarHyper() {
    mFarPoly = mVolCube.GetFarPoly(0, mViewVect);
    mFarHyper = DualHyper(mFarPoly);
    return mFarHyper;
}

BoxST3H SampleSpace::GetFullSTBox() {
    auto throughNear = [this](PolygonST3H poly) {
        for (int i = 0; i < poly.GetNumbVerts(); ++i) poly.ReplaceVert(mNearHyper.EvalST(poly[i]), i);
        return poly;
    };
    mN1Poly = throughNear(mVolCube.GetNearPoly(1, mViewVect));
    mN2Poly = throughNear(mVolCube.GetNearPoly(2, mViewVect));
    BoxST3H box = mNearPoly.GetBoxXYZ();
    mN1Poly.UpdBoxXYZ(box);
    mN2Poly.UpdBoxXYZ(box);
    return box;
}

ClipSampleSpace::ClipSampleSpace(const Point3D& min, const Point3D& max, const Mat44& pmv,
                                 const Mat44& invPmv, const Clipper3H& clipper)
    : SampleSpace(min, max, pmv, invPmv), mClipper3H(&clipper) {
    CalcSampSpaceClipCube();
}

PointST3H ClipSampleSpace::CalcViewpoint() const {
    PointST3H p(0.0, 0.0, 0.0);
    p.Transform(mInvPmvMat);
    p.DivideW();
    return p;
}

double ClipSampleSpace::GetClipDist(double minDist) const {
    double d = minDist;
    for (int side = 0; side < 6; ++side) d = std::fmax(d, mClipCube.GetCubeDist(side));
    return d;
}

double ClipSampleSpace::GetClipDist(int side, double minDist) const {
    return std::fmax(minDist, mClipCube.GetCubeDist(side));
}

double ClipSampleSpace::GetFarClipDist(double maxDist) const {
    double d = 0.0;
    for (int side = 0; side < 6; ++side) d = std::fmax(d, mClipCube.GetFarCubeDist(side));
    return std::fmin(maxDist, d);
}

void ClipSampleSpace::ProjectFace(PolygonST3H face, PolygonST3H& divided, PolygonST3H& projected,
                                  PolygonST3H& clipped, bool& valid) const {
    face.Transform(mPmvMat);
    projected = face;
    clipped = face;
    valid = mClipper3H->ClipPolyST3H(clipped);
    if (valid) clipped.DivideW();
    face.DivideW();
    divided = face;
}

DualHyper ClipSampleSpace::GetNearHyper(int side) {
    ProjectFace(mClipCube.GetNearClipPoly(side), mNearPoly, mTranNearPoly, mNearClipPoly, mNearValid);
    mNearHyper = DualHyper(mInvPmvMat, side, mClipCube.GetNearClipPolyDist(side));
    return mNearHyper;
}

DualHyper ClipSampleSpace::GetFarHyper(int side) {
    ProjectFace(mClipCube.GetFarPoly(side), mFarPoly, mTranFarPoly, mFarClipPoly, mFarValid);
    mFarHyper = DualHyper(mInvPmvMat, side, mClipCube.GetFarPolyDist(side));
    return mFarHyper;
}

BoxST3H ClipSampleSpace::GetClipSTBox() const {
    BoxST3H box;
    bool have = false;
    auto take = [&](const PolygonST3H& poly) {
        if (!have) {
            box = poly.GetBoxXYZ();
            have = true;
        } else {
            poly.UpdBoxXYZ(box);
        }
    };
    auto throughNear = [this](PolygonST3H poly) {
        for (int i = 0; i < poly.GetNumbVerts(); ++i) poly.ReplaceVert(mNearHyper.EvalST(poly[i]), i);
        return poly;
    };
    if (mNearValid) take(mNearClipPoly);
    if (mFarValid) take(throughNear(mFarClipPoly));
    for (int i = 0; i < 4; ++i) {
        const int j = (i + 1) % 4;
        PolygonST3H quad(mTranNearPoly[i], mTranFarPoly[i], mTranFarPoly[j], mTranNearPoly[j]);
        if (!mClipper3H->ClipPolyST3H(quad)) continue;
        quad.DivideW();
        take(throughNear(quad));
    }
    return box;
}

}  // namespace ulm3
