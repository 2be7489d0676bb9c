// The projective map from a screen position to face coordinates (s, t) and
// to the reciprocal of the homogeneous w: s = S / D, t = T / D.
#pragma once

#include "geometry/polygons.h"
#include "ulm3/matrix.h"

namespace ulm3 {

class DualHyper {
public:
    // Zero forms with D = 1: every point maps to (0, 0).
    DualHyper() { D.c = 1.0; }
    // From M, which takes homogeneous screen points to homogeneous volume
    // points, for the face at volume coordinate inSlice on the side's axis.
    DualHyper(const Mat44& M, int inSide, double inSlice);
    // Fitted to the first three vertices of a polygon divided by w (w still
    // held). Collinear vertices set skipFace and give the zero map.
    explicit DualHyper(const PolygonST3H& inPoly);

    // Rows (S.x, S.y, 0, S.c), (T.x, T.y, 0, T.c), (0, 0, 1, 0), (D.x, D.y, 0, D.c).
    operator ULMMatrix() const;

    PointST3H EvalST(const PointST3H& p) const;
    PointST Eval(const PointST3H& p) const { return Eval(p.x, p.y); }
    PointST Eval(const Point2D& p) const { return Eval(p.x, p.y); }
    PointST Eval(double x, double y) const;
    double EvalS(double x, double y) const { return Eval(x, y).s; }
    double EvalT(double x, double y) const { return Eval(x, y).t; }
    // The rate of change of s and t per screen step (scale = screen units
    // per step), each as max + half of min of the two directions.
    void GradST(double inX, double inY, double& outGradS, double& outGradT, double inScaleX,
                double inScaleY) const;

    bool backFacing = false;
    bool skipFace = false;
    Linear2D S;
    Linear2D T;
    Linear2D D;
};

}  // namespace ulm3
