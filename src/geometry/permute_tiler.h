// Cuts a near side's base-plane area into at most four tiles around the key
// lines where the viewing rays lean -45, 0 and +45 degrees in s and in t.
#pragma once

#include "geometry/polygons.h"
#include "geometry/tile_2d.h"

namespace ulm3 {

class PermuteTiler {
public:
    // near and far: the area's corners on the near face and their images on
    // the far face, corners (min s, min t), (min s, max t), (max s, max t),
    // (max s, min t).
    PermuteTiler(const Tile2D& scr, const PolygonST3H& nearPoly, const PolygonST3H& farPoly,
                 const PointST3H& volMin, const PointST3H& volMax, int nearSide);
    PermuteTiler(const Tile2D& scr, const PolygonST3H& nearPoly, const PolygonST3H& farPoly,
                 const Point3D& volDepth, int nearSide);

    // The next non-empty quadrant; false when none is left.
    bool GetNextTile(Tile2D& out);
    // The same quadrant widened by dx, dy on its 45-degree sides, without
    // passing it: the next GetNextTile returns it unwidened.
    bool GetExtendedTile(Tile2D& out, double dx, double dy);

    // The key lines: -45 degrees, perpendicular, +45 degrees.
    void GetKeyLinesS(double& n45, double& np, double& p45) const {
        n45 = n45Xs, np = npXs, p45 = p45Xs;
    }
    void GetKeyLinesT(double& n45, double& np, double& p45) const {
        n45 = n45Ys, np = npYs, p45 = p45Ys;
    }
    void Print() const;

private:
    void InitTiling();
    void CalcDeltas();
    // Moves mTileNo to the next non-empty quadrant; false when none is left.
    bool FindQuadrant();

    Tile2D mScrSize;
    PolygonST3H mNearPoly;
    PolygonST3H mFarPoly;
    Point3D mVolDepth;
    int mNearSide = 0;
    double Xv0 = 0, dXv_dXs = 0, dXv_dYs = 0, dXv_dZs = 0, d_dXv_dXs_dZs = 0, d_dXv_dYs_dZs = 0;
    double Yv0 = 0, dYv_dXs = 0, dYv_dYs = 0, dYv_dZs = 0, d_dYv_dXs_dZs = 0, d_dYv_dYs_dZs = 0;
    double n45Xs = 0, npXs = 0, p45Xs = 0;
    double n45Ys = 0, npYs = 0, p45Ys = 0;
    int mTileNo = 0;
};

}  // namespace ulm3
