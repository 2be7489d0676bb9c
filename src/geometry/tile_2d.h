// A screen or base-plane rectangle kept both as continuous double edges and
// as inclusive integer pixel indices.
#pragma once

#include "geometry/boxes.h"

namespace ulm3 {

// Two conventions live in one type. Built from doubles the upper edge is
// exclusive (last index = Round(max) - 1); built from ints the double maximum
// is the inclusive last index and the double size is the pixel count.
class Tile2D {
public:
    Tile2D() = default;
    Tile2D(double inMinX, double inMinY, double inMaxX, double inMaxY);
    Tile2D(int inMinX, int inMinY, int inMaxX, int inMaxY);
    Tile2D(const Point2D& min, const Point2D& max) : Tile2D(min.x, min.y, max.x, max.y) {}
    Tile2D(const Point2Di& min, const Point2Di& max) : Tile2D(min.x, min.y, max.x, max.y) {}
    Tile2D(const Point2Di& origin, int inDimX, int inDimY);
    Tile2D(int inDimX, int inDimY) : Tile2D(Point2Di{0, 0}, inDimX, inDimY) {}
    explicit Tile2D(const BoxST& box) : Tile2D(box.m_min.s, box.m_min.t, box.m_max.s, box.m_max.t) {}
    Tile2D(const BoxST& box, const Point3D& scale)
        : Tile2D(box.m_min.s * scale.x, box.m_min.t * scale.y, box.m_max.s * scale.x,
                 box.m_max.t * scale.y) {}

    void ScaleUp(const Point3D& s);
    // An axis whose factor is not above 1e-5 is left alone.
    void ScaleDown(const Point3D& s);

    Box2D GetBox2D() const { return {mDminX, mDminY, mDmaxX, mDmaxY}; }
    double GetDminX() const { return mDminX; }
    double GetDminY() const { return mDminY; }
    double GetDmaxX() const { return mDmaxX; }
    double GetDmaxY() const { return mDmaxY; }
    double GetDdimX() const { return mDdimX; }
    double GetDdimY() const { return mDdimY; }

    // Truncation of x + 0.5 (so -1.5 gives -1), and floor and ceiling, all
    // saturated to the int range.
    static int Round(double x);
    static int Floor(double x);
    static int Ceiling(double x);

    void Print() const;

    int dimX = 0, dimY = 0;
    int minX = 0, minY = 0, maxX = 0, maxY = 0;
    double mDdimX = 0.0, mDdimY = 0.0;
    double mDminX = 0.0, mDminY = 0.0, mDmaxX = 0.0, mDmaxY = 0.0;

private:
    void UpdateInternal();
    void SetDoubleInternal();
};

}  // namespace ulm3
