// Axis-aligned boxes of the perspective geometry: screen rectangles, voxel
// boxes and boxes over face coordinates and homogeneous points.
#pragma once

#include "geometry/point_st3h.h"
#include "geometry/points.h"

namespace ulm3 {

// No validity flag: an inverted box (minimum above maximum) is empty.
class Box2D {
public:
    Box2D() : m_min{-1.0, -1.0}, m_max{1.0, 1.0} {}
    explicit Box2D(const Point2D& p) : m_min(p), m_max(p) {}
    Box2D(const Point2D& inMin, const Point2D& inMax) : m_min(inMin), m_max(inMax) {}
    Box2D(double minX, double minY, double maxX, double maxY)
        : m_min{minX, minY}, m_max{maxX, maxY} {}

    // Inverted, ready to be grown.
    void InitMaxMin() {
        m_min = {1e9, 1e9};
        m_max = {-1e9, -1e9};
    }
    void Update(double inX, double inY);
    void Update(const Box2D& inBox2D);
    void Limit(const Box2D& inLimit);
    bool NonNull() const { return m_min.x < m_max.x && m_min.y < m_max.y; }

    Point2D GetMin() const { return m_min; }
    Point2D GetMax() const { return m_max; }

    Point2D m_min;
    Point2D m_max;
};

class Box3D {
public:
    Box3D() = default;
    explicit Box3D(const Point3D& p) : m_min(p), m_max(p) {}
    Box3D(const Point3D& inMin, const Point3D& inMax) : m_min(inMin), m_max(inMax) {}

    void Update(const Point3D& p);
    Point3D GetMin() const { return m_min; }
    Point3D GetMax() const { return m_max; }

    Point3D m_min;
    Point3D m_max;
};

class BoxST {
public:
    BoxST() = default;
    explicit BoxST(const PointST& p) : m_min(p), m_max(p) {}
    BoxST(const PointST& inMin, const PointST& inMax) : m_min(inMin), m_max(inMax) {}
    BoxST(double minS, double minT, double maxS, double maxT)
        : m_min{minS, minT}, m_max{maxS, maxT} {}
    explicit BoxST(const Box2D& b) : m_min{b.m_min.x, b.m_min.y}, m_max{b.m_max.x, b.m_max.y} {}

    void Update(double inS, double inT);
    void Update(const PointST& p) { Update(p.s, p.t); }
    // A point on the border is inside.
    bool OutSide(double inS, double inT) const {
        return inS < m_min.s || inS > m_max.s || inT < m_min.t || inT > m_max.t;
    }
    Box2D GetBox2D() const { return {m_min.s, m_min.t, m_max.s, m_max.t}; }
    void Print() const;

    PointST m_min;
    PointST m_max;
};

// Bounds of all six coordinates of homogeneous points.
class BoxST3H {
public:
    BoxST3H() = default;
    explicit BoxST3H(const PointST3H& p) : m_min(p), m_max(p) {}
    BoxST3H(const PointST3H& inMin, const PointST3H& inMax) : m_min(inMin), m_max(inMax) {}

    void Update(double inX, double inY, double inZ);
    void Update(double inS, double inT);
    void Update(const PointST3H& p);
    bool OutSide(double inX, double inY) const {
        return inX < m_min.x || inX > m_max.x || inY < m_min.y || inY > m_max.y;
    }
    Box2D GetBox2D() const { return {m_min.x, m_min.y, m_max.x, m_max.y}; }
    BoxST GetBoxST() const { return {m_min.s, m_min.t, m_max.s, m_max.t}; }
    void Print() const;

    PointST3H m_min;
    PointST3H m_max;
};

}  // namespace ulm3
