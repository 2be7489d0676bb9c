// One oblique mini-frustum: a base-plane tile on the near face, its image on
// the far face along the viewing rays, and the depth steps between the faces.
#pragma once

#include "geometry/dual_hyper.h"
#include "geometry/tile_2d.h"

namespace ulm3 {

class OblPerspFrustum {
public:
    OblPerspFrustum() = default;
    OblPerspFrustum(const DualHyper& nearHyper, const DualHyper& farHyper, const Mat44& pmv)
        : mNearHyper(nearHyper), mFarHyper(farHyper), mPmvMat(pmv) {}

    // The tile's rectangle on the side's near face, in voxel space, corners
    // (x0, y0), (x0, y1), (x1, y1), (x1, y0) in (s, t).
    void CreateNearPoly(const Tile2D& tile, const PointST3H& clipMin, const PointST3H& clipMax,
                        int side);
    void CreateNearPoly(const Tile2D& tile, const Point3D& volDim, int side);
    void Transform() { mNearPoly.Transform(mPmvMat); }
    void DivideW() { mNearPoly.DivideW(); }
    // The far polygon: each near corner's screen position through the far map.
    void CalcFarXYZ(int verbose = 0);
    PolygonST3H GetNearPoly() const { return mNearPoly; }
    PolygonST3H GetFarPoly() const { return mFarPoly; }

    // Whole unit steps between the side's two faces (truncated), and the
    // near and far face coordinates on its axis.
    static void CalcStepsZ(const PointST3H& min, const PointST3H& max, int side, double scaleZ,
                           double& nearZ, double& farZ, int& stepsZ);
    // How much wider the far polygon is than the near one, in s and in t.
    void CalcScaleXY(double& outScaleX, double& outScaleY) const;

private:
    PolygonST3H mNearPoly;
    PolygonST3H mFarPoly;
    DualHyper mNearHyper;
    DualHyper mFarHyper;
    Mat44 mPmvMat;
};

}  // namespace ulm3
