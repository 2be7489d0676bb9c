// The volume's box as six homogeneous faces with a near/far face order for a
// view direction, and the same box with a clip range along one near side.
#pragma once

#include "geometry/polygons.h"
#include "ulm3/vectors.h"

namespace ulm3 {

// Faces and near sides share these numbers: side 0 means the face at
// maximum x is the one nearest the viewer. Opposite faces differ in bit 0.
class CubeST3H {
public:
    enum PolyLabel { eXPos = 0, eXNeg = 1, eYPos = 2, eYNeg = 3, eZPos = 4, eZNeg = 5 };

    CubeST3H() = default;
    CubeST3H(const PointST3H& min, const PointST3H& max);

    void Transform(const Mat44& m);
    void TransformAxis(const Mat44& m);
    void TransformAll(const Mat44& m) {
        Transform(m);
        TransformAxis(m);
    }
    void DivideW();
    void DivideWAxis();
    void DivideWAll() {
        DivideW();
        DivideWAxis();
    }

    // Face index 0..5; any other index gives an empty polygon.
    PolygonST3H GetPolygon(int index) const;
    // The index-th nearest face (0..2) for the view vector; the far form
    // gives the opposite face with its winding reversed.
    PolygonST3H GetNearPoly(int index, double vx, double vy, double vz);
    PolygonST3H GetNearPoly(int index, const ULMVector3D& v) {
        return GetNearPoly(index, v.X(), v.Y(), v.Z());
    }
    PolygonST3H GetFarPoly(int index, double vx, double vy, double vz);
    PolygonST3H GetFarPoly(int index, const ULMVector3D& v) {
        return GetFarPoly(index, v.X(), v.Y(), v.Z());
    }
    BoxST3H GetBoxXYZ() const;
    void UpdBoxXYZ(BoxST3H& box) const;
    int GetFrontFacing() const;
    void SortAxis(double vx, double vy, double vz);
    void Print() const;

protected:
    PointST3H m_orig{0, 0, 0, 1, 0, 0};
    PointST3H m_xaxis{1, 0, 0, 1, 1, 0};
    PointST3H m_yaxis{0, 1, 0, 1, 0, 1};
    PointST3H m_zaxis{0, 0, 1, 1, 0, 0};
    PointST3H mDimMin;
    PointST3H mDimMax;
    PolygonST3H m_poly[6];
    int orderNear[3] = {eXNeg, eYNeg, eZNeg};
    int orderFar[3] = {eXPos, eYPos, eZPos};
};

// The cube in voxel space with a slab along one near side's axis cut out
// between a near and a far distance from the eye.
class ClipCubeST3H : public CubeST3H {
public:
    ClipCubeST3H() = default;
    ClipCubeST3H(const PointST3H& min, const PointST3H& max)
        : CubeST3H(min, max), mClipMin(min), mClipMax(max) {}

    void SetViewpoint(const PointST3H& vp) { mViewpoint = vp; }
    // Distance from the eye to the side's near face, and to its far face.
    double GetCubeDist(int side) const;
    double GetCubeDist(int side, const PointST3H& vp) {
        mViewpoint = vp;
        return GetCubeDist(side);
    }
    double GetFarCubeDist(int side) const;
    // False when the slab misses the cube; the clip box is reset either way.
    bool SetClipCube(int side, double inMinDist, double inMaxDist);
    // The near face of the clip box and the far face of the whole cube.
    PolygonST3H GetNearClipPoly(int side) const;
    PolygonST3H GetFarPoly(int side) const;
    double GetNearClipPolyDist(int side) const;
    double GetFarPolyDist(int side) const;
    void GetClipCube(PointST3H& outMin, PointST3H& outMax) const {
        outMin = mClipMin;
        outMax = mClipMax;
    }
    PointST3H GetClipMin() const { return mClipMin; }
    PointST3H GetClipMax() const { return mClipMax; }

private:
    PolygonST3H FacePoly(int side, double fixed, const PointST3H& lo, const PointST3H& hi) const;

    PointST3H mClipMin;
    PointST3H mClipMax;
    PointST3H mViewpoint;
};

}  // namespace ulm3
