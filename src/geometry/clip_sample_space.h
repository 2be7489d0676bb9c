// The planner's view of the volume box in homogeneous screen space: the maps
// from screen to its near and far faces, and (ClipSampleSpace) the clip cube,
// the clip distances and the base-plane box of everything visible.
#pragma once

#include "geometry/clipper_3h.h"
#include "geometry/cube_st3h.h"
#include "geometry/dual_hyper.h"

namespace ulm3 {

class SampleSpace {
public:
    SampleSpace() = default;
    SampleSpace(const Point3D& min, const Point3D& max, const Mat44& pmv, const Mat44& invPmv);

    void CalcSampSpaceCube();
    void SetVolDimen(const Point3D& min, const Point3D& max) {
        mVolMin = min;
        mVolMax = max;
    }
    void SetPmvMat(const Mat44& m) {
        mPmvMat = m;
        CalcSampSpaceCube();
    }
    void SetInvPmvMat(const Mat44& m) {
        mInvPmvMat = m;
        CalcSampSpaceCube();
    }
    int SetSpaceNumb(const ULMVector3D& v) {
        mViewVect = v;
        return 0;
    }
    DualHyper GetNearHyper();
    DualHyper GetFarHyper();
    // After GetNearHyper: the nearest face and the next two seen through the
    // near map.
    BoxST3H GetFullSTBox();

protected:
    // The volume's corners as homogeneous points whose (s, t) are x, y.
    PointST3H MinCorner() const { return {mVolMin.x, mVolMin.y, mVolMin.z, 1.0, mVolMin.x, mVolMin.y}; }
    PointST3H MaxCorner() const { return {mVolMax.x, mVolMax.y, mVolMax.z, 1.0, mVolMax.x, mVolMax.y}; }

    Point3D mVolMin;
    Point3D mVolMax;
    Mat44 mPmvMat;
    Mat44 mInvPmvMat;
    CubeST3H mVolCube;
    ULMVector3D mViewVect{0.0, 0.0, 1.0};
    PolygonST3H mNearPoly;
    PolygonST3H mFarPoly;
    PolygonST3H mN1Poly;
    PolygonST3H mN2Poly;
    DualHyper mNearHyper;
    DualHyper mFarHyper;
};

class ClipSampleSpace : public SampleSpace {
public:
    // The clipper is borrowed and must outlive this object.
    ClipSampleSpace(const Point3D& min, const Point3D& max, const Mat44& pmv, const Mat44& invPmv,
                    const Clipper3H& clipper);

    void CalcSampSpaceClipCube() { mClipCube = ClipCubeST3H(MinCorner(), MaxCorner()); }
    void SetViewpoint(const PointST3H& eye) { mClipCube.SetViewpoint(eye); }
    // The origin of screen space in voxel space.
    PointST3H CalcViewpoint() const;
    // At least minDist, and beyond the eye's distance to every face plane it
    // is outside of.
    double GetClipDist(double minDist) const;
    double GetClipDist(int side, double minDist) const;
    // At most maxDist: the farthest face distance of any side.
    double GetFarClipDist(double maxDist) const;
    int SetClipCube(int side, double nearDist, double farDist) {
        return mClipCube.SetClipCube(side, nearDist, farDist) ? 1 : 0;
    }
    void GetClipCube(PointST3H& outMin, PointST3H& outMax) const {
        mClipCube.GetClipCube(outMin, outMax);
    }
    PointST3H GetClipMin() const { return mClipCube.GetClipMin(); }
    PointST3H GetClipMax() const { return mClipCube.GetClipMax(); }
    DualHyper GetNearHyper(int side);
    DualHyper GetFarHyper(int side);
    // After GetNearHyper and GetFarHyper of one side: the box of the visible
    // near face, far face and side faces, all through the near map.
    BoxST3H GetClipSTBox() const;

private:
    // The face in screen space: divided by w, before the division, and
    // clipped (valid when something is left) and divided.
    void ProjectFace(PolygonST3H face, PolygonST3H& divided, PolygonST3H& projected,
                     PolygonST3H& clipped, bool& valid) const;

    ClipCubeST3H mClipCube;
    const Clipper3H* mClipper3H = nullptr;
    PolygonST3H mTranNearPoly;
    PolygonST3H mTranFarPoly;
    PolygonST3H mNearClipPoly;
    PolygonST3H mFarClipPoly;
    bool mNearValid = false;
    bool mFarValid = false;
};

}  // namespace ulm3
