// Fixed-capacity polygons: corners in volume or sample space (Polygon3D) and
// homogeneous corners with face coordinates (PolygonST3H).
#pragma once

#include "geometry/boxes.h"

namespace ulm3 {

// What both polygon kinds share. Every vertex slot is value-initialised, so
// vertex 0 of an empty polygon reads as a default point.
template <class V>
class PolygonOf {
public:
    static constexpr int kMaxVerts = 16;

    PolygonOf() = default;
    PolygonOf(const V& a, const V& b, const V& c) : m_verts(3), m_vert{a, b, c} {}
    PolygonOf(const V& a, const V& b, const V& c, const V& d) : m_verts(4), m_vert{a, b, c, d} {}

    // Any index outside the held vertices yields vertex 0.
    V operator[](int i) const { return i >= 0 && i < m_verts ? m_vert[i] : m_vert[0]; }
    // The count afterwards; a full polygon drops the vertex and returns 16.
    int AddVert(const V& v) {
        if (m_verts < kMaxVerts) m_vert[m_verts++] = v;
        return m_verts;
    }
    // 1 and nothing changed for an index outside the held vertices.
    int ReplaceVert(const V& v, int i) {
        if (i < 0 || i >= m_verts) return 1;
        m_vert[i] = v;
        return 0;
    }
    // Negated z of the cross product of the first two edges, in x and y.
    double FacingTerm() const {
        const V p0 = (*this)[0], p1 = (*this)[1], p2 = (*this)[2];
        const double e1x = p1.x - p0.x, e1y = p1.y - p0.y;
        const double e2x = p2.x - p1.x, e2y = p2.y - p1.y;
        return e1y * e2x - e1x * e2y;
    }
    bool FrontFacing() const { return FacingTerm() >= 0.0; }
    bool EdgeOn() const { return (FacingTerm() < 0 ? -FacingTerm() : FacingTerm()) < 0.2; }
    void Reverse() {
        if (m_verts <= 2) return;
        for (int i = 0; i < m_verts / 2; ++i) {
            const V tmp = m_vert[i];
            m_vert[i] = m_vert[m_verts - 1 - i];
            m_vert[m_verts - 1 - i] = tmp;
        }
    }
    bool Centroid3D(Point3D& out) const {
        if (m_verts < 3) return false;
        Point3D c;
        for (int i = 0; i < m_verts; ++i) {
            c.x += m_vert[i].x;
            c.y += m_vert[i].y;
            c.z += m_vert[i].z;
        }
        out = {c.x / m_verts, c.y / m_verts, c.z / m_verts};
        return true;
    }
    int GetNumbVerts() const { return m_verts; }
    // Kept within the capacity so that no later loop runs off the array.
    void SetNumbVerts(int n) { m_verts = n < 0 ? 0 : (n > kMaxVerts ? kMaxVerts : n); }
    bool NonNull() const { return m_verts > 0; }

protected:
    int m_verts = 0;
    V m_vert[kMaxVerts] = {};
};

class Polygon3D : public PolygonOf<Point3D> {
public:
    using PolygonOf::PolygonOf;

    void Scale3D(const Point3D& m);
    Box3D GetBoxXYZ() const;
    void UpdBoxXYZ(Box3D& box) const;
    void Print() const;
};

class PolygonST3H : public PolygonOf<PointST3H> {
public:
    using PolygonOf::PolygonOf;

    void ScaleST(const Point3D& m);
    void Transform(const Mat44& m);
    void DivideW();
    // The mean of all six coordinates; false below three vertices.
    bool CentroidST3H(PointST3H& out) const;
    // Signed areas, 1/2 sum x_i (y_{i+1} - y_{i-1}).
    double CalcAreaXY() const;
    double CalcAreaST() const;
    // Vertices (s_i, t_i, inZ).
    Polygon3D GetPolygonST(double inZ) const;
    BoxST3H GetBoxXYZ() const;
    void UpdBoxXYZ(BoxST3H& box) const;
    void Print() const;
};

}  // namespace ulm3
