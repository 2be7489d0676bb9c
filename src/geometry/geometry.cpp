// Operations of the points, boxes and polygons of the perspective geometry.
#include "geometry/boxes.h"
#include "geometry/polygons.h"

#include <utility>

#include "foundation/message_log.h"

namespace ulm3 {

void PointST3H::Transform(const Mat44& m) {
    const Vect4 in{x, y, z, w};
    Vect4 out;
    VectMultiply(&out, &m, &in);
    x = out.x, y = out.y, z = out.z, w = out.w;
}

void PointST3H::DivideW() {
    if (w == 0.0) return;
    const double r = 1.0 / w;
    x *= r, y *= r, z *= r;
}

void PointST3H::Print() const {
    ULMOutputMessage(" PointST3H: x: %12.6g y: %12.6g z: %12.6g w: %12.6g s: %12.6g t: %12.6g\n",
                     x, y, z, w, s, t);
}

// Strict comparisons: a value equal to a bound changes nothing.
namespace {
void Grow(double v, double& lo, double& hi) {
    if (v < lo) lo = v;
    if (v > hi) hi = v;
}
}  // namespace

void Box2D::Update(double inX, double inY) {
    Grow(inX, m_min.x, m_max.x);
    Grow(inY, m_min.y, m_max.y);
}

void Box2D::Update(const Box2D& b) {
    if (b.m_min.x < m_min.x) m_min.x = b.m_min.x;
    if (b.m_min.y < m_min.y) m_min.y = b.m_min.y;
    if (b.m_max.x > m_max.x) m_max.x = b.m_max.x;
    if (b.m_max.y > m_max.y) m_max.y = b.m_max.y;
}

void Box2D::Limit(const Box2D& b) {
    if (b.m_min.x > m_min.x) m_min.x = b.m_min.x;
    if (b.m_min.y > m_min.y) m_min.y = b.m_min.y;
    if (b.m_max.x < m_max.x) m_max.x = b.m_max.x;
    if (b.m_max.y < m_max.y) m_max.y = b.m_max.y;
}

void Box3D::Update(const Point3D& p) {
    Grow(p.x, m_min.x, m_max.x);
    Grow(p.y, m_min.y, m_max.y);
    Grow(p.z, m_min.z, m_max.z);
}

void BoxST::Update(double inS, double inT) {
    Grow(inS, m_min.s, m_max.s);
    Grow(inT, m_min.t, m_max.t);
}

void BoxST::Print() const {
    ULMOutputMessage("Min BoxST: %12.6g, %12.6g\n", m_min.s, m_min.t);
    ULMOutputMessage("Max BoxST: %12.6g, %12.6g\n", m_max.s, m_max.t);
}

void BoxST3H::Update(double inX, double inY, double inZ) {
    Grow(inX, m_min.x, m_max.x);
    Grow(inY, m_min.y, m_max.y);
    Grow(inZ, m_min.z, m_max.z);
}

void BoxST3H::Update(double inS, double inT) {
    Grow(inS, m_min.s, m_max.s);
    Grow(inT, m_min.t, m_max.t);
}

void BoxST3H::Update(const PointST3H& p) {
    Update(p.x, p.y, p.z);
    Grow(p.w, m_min.w, m_max.w);
    Update(p.s, p.t);
}

void BoxST3H::Print() const {
    for (const auto& [label, p] : {std::pair{"Min", m_min}, std::pair{"Max", m_max}})
        ULMOutputMessage("%s BoxST3H: %12.6g, %12.6g, %12.6g, %12.6g, %12.6g, %12.6g\n", label, p.x,
                         p.y, p.z, p.w, p.s, p.t);
}

void Polygon3D::Scale3D(const Point3D& m) {
    for (int i = 0; i < m_verts; ++i) {
        m_vert[i].x *= m.x;
        m_vert[i].y *= m.y;
        m_vert[i].z *= m.z;
    }
}

Box3D Polygon3D::GetBoxXYZ() const {
    if (m_verts == 0) return Box3D();
    Box3D box(m_vert[0]);
    UpdBoxXYZ(box);
    return box;
}

void Polygon3D::UpdBoxXYZ(Box3D& box) const {
    for (int i = 0; i < m_verts; ++i) box.Update(m_vert[i]);
}

void Polygon3D::Print() const {
    ULMOutputMessage(" Polygon3D: Verts: %d\n", m_verts);
    for (int i = 0; i < m_verts; ++i)
        ULMOutputMessage("  X: %12.6g  Y: %12.6g  Z: %12.6g\n", m_vert[i].x, m_vert[i].y,
                         m_vert[i].z);
}

void PolygonST3H::ScaleST(const Point3D& m) {
    for (int i = 0; i < m_verts; ++i) m_vert[i].ScaleST(m);
}

void PolygonST3H::Transform(const Mat44& m) {
    for (int i = 0; i < m_verts; ++i) m_vert[i].Transform(m);
}

void PolygonST3H::DivideW() {
    for (int i = 0; i < m_verts; ++i) m_vert[i].DivideW();
}

bool PolygonST3H::CentroidST3H(PointST3H& out) const {
    if (m_verts <= 2) return false;
    PointST3H c(0, 0, 0, 0, 0, 0);
    for (int i = 0; i < m_verts; ++i) {
        const PointST3H& p = m_vert[i];
        c = {c.x + p.x, c.y + p.y, c.z + p.z, c.w + p.w, c.s + p.s, c.t + p.t};
    }
    const double n = m_verts;
    out = {c.x / n, c.y / n, c.z / n, c.w / n, c.s / n, c.t / n};
    return true;
}

namespace {
template <class GetA, class GetB>
double SignedArea(const PointST3H* v, int n, GetA a, GetB b) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += a(v[i]) * (b(v[(i + 1) % n]) - b(v[(i + n - 1) % n]));
    return 0.5 * sum;
}
}  // namespace

double PolygonST3H::CalcAreaXY() const {
    return SignedArea(m_vert, m_verts, [](const PointST3H& p) { return p.x; },
                      [](const PointST3H& p) { return p.y; });
}

double PolygonST3H::CalcAreaST() const {
    return SignedArea(m_vert, m_verts, [](const PointST3H& p) { return p.s; },
                      [](const PointST3H& p) { return p.t; });
}

Polygon3D PolygonST3H::GetPolygonST(double inZ) const {
    Polygon3D out;
    for (int i = 0; i < m_verts; ++i) out.AddVert({m_vert[i].s, m_vert[i].t, inZ});
    return out;
}

BoxST3H PolygonST3H::GetBoxXYZ() const {
    if (m_verts == 0) return BoxST3H();
    BoxST3H box(m_vert[0]);
    UpdBoxXYZ(box);
    return box;
}

void PolygonST3H::UpdBoxXYZ(BoxST3H& box) const {
    for (int i = 0; i < m_verts; ++i) box.Update(m_vert[i]);
}

void PolygonST3H::Print() const {
    ULMOutputMessage(" PolygonST3H: Verts: %d\n", m_verts);
    for (int i = 0; i < m_verts; ++i) m_vert[i].Print();
}

}  // namespace ulm3
