// Faces, near/far order and clip slabs of the volume's box.
#include "geometry/cube_st3h.h"

#include <cmath>
#include <initializer_list>

#include "foundation/message_log.h"

namespace ulm3 {
namespace {

double Axis(const PointST3H& p, int a) { return a == 0 ? p.x : (a == 1 ? p.y : p.z); }
double& Axis(PointST3H& p, int a) { return a == 0 ? p.x : (a == 1 ? p.y : p.z); }

}  // namespace

CubeST3H::CubeST3H(const PointST3H& min, const PointST3H& max) : mDimMin(min), mDimMax(max) {
    const double xl = min.x, yl = min.y, zl = min.z, xh = max.x, yh = max.y, zh = max.z;
    // Face coordinates are the volume coordinates themselves, so they survive
    // every later transform: s = z, t = y on x faces; x, z on y faces; x, y on
    // z faces.
    auto onX = [](double x, double y, double z) { return PointST3H(x, y, z, 1.0, z, y); };
    auto onY = [](double x, double y, double z) { return PointST3H(x, y, z, 1.0, x, z); };
    auto onZ = [](double x, double y, double z) { return PointST3H(x, y, z, 1.0, x, y); };
    m_poly[eXPos] = {onX(xh, yl, zh), onX(xh, yh, zh), onX(xh, yh, zl), onX(xh, yl, zl)};
    m_poly[eXNeg] = {onX(xl, yl, zl), onX(xl, yh, zl), onX(xl, yh, zh), onX(xl, yl, zh)};
    m_poly[eYPos] = {onY(xh, yh, zl), onY(xh, yh, zh), onY(xl, yh, zh), onY(xl, yh, zl)};
    m_poly[eYNeg] = {onY(xl, yl, zl), onY(xl, yl, zh), onY(xh, yl, zh), onY(xh, yl, zl)};
    m_poly[eZPos] = {onZ(xl, yl, zh), onZ(xl, yh, zh), onZ(xh, yh, zh), onZ(xh, yl, zh)};
    m_poly[eZNeg] = {onZ(xh, yl, zl), onZ(xh, yh, zl), onZ(xl, yh, zl), onZ(xl, yl, zl)};
}

void CubeST3H::Transform(const Mat44& m) {
    for (PolygonST3H& p : m_poly) p.Transform(m);
}

void CubeST3H::TransformAxis(const Mat44& m) {
    for (PointST3H* p : {&m_orig, &m_xaxis, &m_yaxis, &m_zaxis}) p->Transform(m);
}

void CubeST3H::DivideW() {
    for (PolygonST3H& p : m_poly) p.DivideW();
}

void CubeST3H::DivideWAxis() {
    for (PointST3H* p : {&m_orig, &m_xaxis, &m_yaxis, &m_zaxis}) p->DivideW();
}

PolygonST3H CubeST3H::GetPolygon(int index) const {
    return index >= 0 && index < 6 ? m_poly[index] : PolygonST3H();
}

void CubeST3H::SortAxis(double vx, double vy, double vz) {
    auto dot = [&](const PointST3H& a) {
        return (a.x - m_orig.x) * vx + (a.y - m_orig.y) * vy + (a.z - m_orig.z) * vz;
    };
    const double dx = dot(m_xaxis), dy = dot(m_yaxis), dz = dot(m_zaxis);
    const int nx = dx < 0 ? eXPos : eXNeg;
    const int ny = dy < 0 ? eYPos : eYNeg;
    const int nz = dz < 0 ? eZPos : eZNeg;
    const double ax = std::fabs(dx), ay = std::fabs(dy), az = std::fabs(dz);
    int order[3];
    if (ax >= ay && ax >= az) {
        order[0] = nx;
        order[1] = ay >= az ? ny : nz;
        order[2] = ay >= az ? nz : ny;
    } else if (ay >= ax && ay >= az) {
        order[0] = ny;
        order[1] = ax >= az ? nx : nz;
        order[2] = ax >= az ? nz : nx;
    } else {
        order[0] = nz;
        order[1] = ax >= ay ? nx : ny;
        order[2] = ax >= ay ? ny : nx;
    }
    for (int i = 0; i < 3; ++i) {
        orderNear[i] = order[i];
        orderFar[i] = order[i] ^ 1;
    }
}

PolygonST3H CubeST3H::GetNearPoly(int index, double vx, double vy, double vz) {
    SortAxis(vx, vy, vz);
    return index >= 0 && index < 3 ? m_poly[orderNear[index]] : PolygonST3H();
}

PolygonST3H CubeST3H::GetFarPoly(int index, double vx, double vy, double vz) {
    SortAxis(vx, vy, vz);
    if (index < 0 || index >= 3) return PolygonST3H();
    const PolygonST3H& f = m_poly[orderFar[index]];
    return {f[3], f[2], f[1], f[0]};
}

BoxST3H CubeST3H::GetBoxXYZ() const {
    BoxST3H box(m_poly[0][0]);
    UpdBoxXYZ(box);
    return box;
}

void CubeST3H::UpdBoxXYZ(BoxST3H& box) const {
    for (const PolygonST3H& p : m_poly) p.UpdBoxXYZ(box);
}

int CubeST3H::GetFrontFacing() const {
    int n = 0;
    for (const PolygonST3H& p : m_poly) n += p.FrontFacing() ? 1 : 0;
    return n;
}

void CubeST3H::Print() const {
    ULMOutputMessage(" CubeST3H: Sides: 6\n");
    for (int i = 0; i < 6; ++i) {
        ULMOutputMessage(" Side: %d\n", i);
        m_poly[i].Print();
    }
}

double ClipCubeST3H::GetCubeDist(int side) const {
    if (side < 0 || side > 5) return 0.0;
    const int a = side / 2;
    return side % 2 == 0 ? Axis(mViewpoint, a) - Axis(mDimMax, a)
                         : Axis(mDimMin, a) - Axis(mViewpoint, a);
}

double ClipCubeST3H::GetFarCubeDist(int side) const {
    if (side < 0 || side > 5) return 0.0;
    const int a = side / 2;
    return side % 2 == 0 ? Axis(mViewpoint, a) - Axis(mDimMin, a)
                         : Axis(mDimMax, a) - Axis(mViewpoint, a);
}

bool ClipCubeST3H::SetClipCube(int side, double inMinDist, double inMaxDist) {
    mClipMin = mDimMin;
    mClipMax = mDimMax;
    if (side < 0 || side > 5) return false;
    const int a = side / 2;
    const double eye = Axis(mViewpoint, a);
    double& lo = Axis(mClipMin, a);
    double& hi = Axis(mClipMax, a);
    if (side % 2 == 0) {
        const double nearA = eye - inMinDist, farA = eye - inMaxDist;
        if (!(nearA > lo && farA < hi)) return false;
        hi = nearA;  // not limited by the cube
        lo = std::fmax(lo, farA);
    } else {
        const double nearA = eye + inMinDist, farA = eye + inMaxDist;
        if (!(nearA < hi && farA > lo)) return false;
        lo = nearA;
        hi = std::fmin(hi, farA);
    }
    return true;
}

PolygonST3H ClipCubeST3H::FacePoly(int side, double f, const PointST3H& lo,
                                   const PointST3H& hi) const {
    switch (side / 2) {
        case 0:
            return {{f, lo.y, lo.z, lo.z, lo.y},
                    {f, hi.y, lo.z, lo.z, hi.y},
                    {f, hi.y, hi.z, hi.z, hi.y},
                    {f, lo.y, hi.z, hi.z, lo.y}};
        case 1:
            return {{lo.x, f, lo.z, lo.x, lo.z},
                    {lo.x, f, hi.z, lo.x, hi.z},
                    {hi.x, f, hi.z, hi.x, hi.z},
                    {hi.x, f, lo.z, hi.x, lo.z}};
        default:
            return {{lo.x, lo.y, f, lo.x, lo.y},
                    {lo.x, hi.y, f, lo.x, hi.y},
                    {hi.x, hi.y, f, hi.x, hi.y},
                    {hi.x, lo.y, f, hi.x, lo.y}};
    }
}

PolygonST3H ClipCubeST3H::GetNearClipPoly(int side) const {
    if (side < 0 || side > 5) return {PointST3H(), PointST3H(), PointST3H(), PointST3H()};
    return FacePoly(side, GetNearClipPolyDist(side), mClipMin, mClipMax);
}

PolygonST3H ClipCubeST3H::GetFarPoly(int side) const {
    if (side < 0 || side > 5) return {PointST3H(), PointST3H(), PointST3H(), PointST3H()};
    return FacePoly(side, GetFarPolyDist(side), mDimMin, mDimMax);
}

double ClipCubeST3H::GetNearClipPolyDist(int side) const {
    if (side < 0 || side > 5) return 0.0;
    return side % 2 == 0 ? Axis(mClipMax, side / 2) : Axis(mClipMin, side / 2);
}

double ClipCubeST3H::GetFarPolyDist(int side) const {
    if (side < 0 || side > 5) return 0.0;
    return side % 2 == 0 ? Axis(mDimMin, side / 2) : Axis(mDimMax, side / 2);
}

}  // namespace ulm3
