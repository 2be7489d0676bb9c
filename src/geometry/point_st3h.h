// A homogeneous point that carries the face (base-plane) coordinates s and t
// of where it lies on the face being rendered, and the plain (s, t) pair.
#pragma once

#include "geometry/points.h"
#include "geometry/transform_3d.h"

namespace ulm3 {

struct PointST {
    double s = 0.0;
    double t = 0.0;
};

class PointST3H {
public:
    PointST3H() = default;
    PointST3H(double inX, double inY, double inZ, double inW, double inS, double inT)
        : x(inX), y(inY), z(inZ), w(inW), s(inS), t(inT) {}
    PointST3H(double inX, double inY, double inZ, double inS, double inT)
        : x(inX), y(inY), z(inZ), s(inS), t(inT) {}
    PointST3H(double inX, double inY, double inZ) : x(inX), y(inY), z(inZ) {}

    void ScaleST(const Point3D& inSampMult) {
        s *= inSampMult.x;
        t *= inSampMult.y;
    }
    // (x, y, z, w) = M * (x, y, z, w); s and t stay.
    void Transform(const Mat44& inMat);
    // Divides x, y, z by w and keeps w: the dual hyperbola reads it later.
    void DivideW();

    PointST3H operator-(const PointST3H& o) const {
        return {x - o.x, y - o.y, z - o.z, w - o.w, s - o.s, t - o.t};
    }

    Point3D GetXYZ() const { return {x, y, z}; }
    PointST GetST() const { return {s, t}; }
    void SetXYZ(double inX, double inY, double inZ) { x = inX, y = inY, z = inZ; }
    void SetST(double inS, double inT) { s = inS, t = inT; }

    void Print() const;

    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double w = 1.0;
    double s = 0.0;
    double t = 0.0;
};

// A homogeneous plane; a point is kept by a clipper when PerpDist >= 0.
struct Plane3H {
    Plane3H() = default;
    Plane3H(double inX, double inY, double inZ, double inW) : mX(inX), mY(inY), mZ(inZ), mW(inW) {}
    explicit Plane3H(const Vect4& v) : mX(v.x), mY(v.y), mZ(v.z), mW(v.w) {}

    // Not normalised and not divided by w.
    double PerpDist(const PointST3H& p) const { return mX * p.x + mY * p.y + mZ * p.z + mW * p.w; }
    double PerpDist(const Vect4& p) const { return mX * p.x + mY * p.y + mZ * p.z + mW * p.w; }

    double mX = 0.0;
    double mY = 0.0;
    double mZ = 0.0;
    double mW = 0.0;
};

}  // namespace ulm3
