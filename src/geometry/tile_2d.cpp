// Rectangles of the perspective planner.
#include "geometry/tile_2d.h"

#include <climits>
#include <cmath>

#include "foundation/message_log.h"

namespace ulm3 {
namespace {

// Truncation toward zero that saturates instead of overflowing; NaN gives 0.
int Trunc(double x) {
    if (!(x == x)) return 0;
    if (x >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (x <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(x);
}

}  // namespace

Tile2D::Tile2D(double inMinX, double inMinY, double inMaxX, double inMaxY)
    : mDminX(inMinX), mDminY(inMinY), mDmaxX(inMaxX), mDmaxY(inMaxY) {
    UpdateInternal();
}

Tile2D::Tile2D(int inMinX, int inMinY, int inMaxX, int inMaxY)
    : dimX(inMaxX - inMinX + 1),
      dimY(inMaxY - inMinY + 1),
      minX(inMinX),
      minY(inMinY),
      maxX(inMaxX),
      maxY(inMaxY) {
    SetDoubleInternal();
}

Tile2D::Tile2D(const Point2Di& origin, int inDimX, int inDimY)
    : dimX(inDimX),
      dimY(inDimY),
      minX(origin.x),
      minY(origin.y),
      maxX(origin.x + inDimX - 1),
      maxY(origin.y + inDimY - 1) {
    SetDoubleInternal();
}

void Tile2D::UpdateInternal() {
    mDdimX = mDmaxX - mDminX;
    mDdimY = mDmaxY - mDminY;
    minX = Round(mDminX);
    minY = Round(mDminY);
    maxX = Round(mDmaxX) - 1;
    maxY = Round(mDmaxY) - 1;
    dimX = Trunc(static_cast<double>(maxX) - minX + 1.0);
    dimY = Trunc(static_cast<double>(maxY) - minY + 1.0);
}

void Tile2D::SetDoubleInternal() {
    mDminX = minX;
    mDminY = minY;
    mDmaxX = maxX;
    mDmaxY = maxY;
    mDdimX = dimX;
    mDdimY = dimY;
}

void Tile2D::ScaleUp(const Point3D& s) {
    mDminX *= s.x;
    mDmaxX *= s.x;
    mDminY *= s.y;
    mDmaxY *= s.y;
    UpdateInternal();
}

void Tile2D::ScaleDown(const Point3D& s) {
    if (s.x > 1e-5) {
        mDminX /= s.x;
        mDmaxX /= s.x;
    }
    if (s.y > 1e-5) {
        mDminY /= s.y;
        mDmaxY /= s.y;
    }
    UpdateInternal();
}

// Rounding near INT_MAX must not wrap when 1 is subtracted or added later,
// so the saturation keeps a margin.
int Tile2D::Round(double x) {
    const int i = Trunc(x + 0.5);
    return i == INT_MAX ? INT_MAX - 1 : (i == INT_MIN ? INT_MIN + 1 : i);
}

int Tile2D::Floor(double x) {
    const int i = Trunc(x);
    return (x < 0 && x - i < 0 && i > INT_MIN) ? i - 1 : i;
}

int Tile2D::Ceiling(double x) {
    const int i = Trunc(x);
    return (x >= 0 && x - i > 0 && i < INT_MAX) ? i + 1 : i;
}

void Tile2D::Print() const {
    ULMOutputMessage("Tile2D (Double): Min X,Y: %12.6g, %12.6g Max X,Y: %12.6g, %12.6g\n", mDminX,
                     mDminY, mDmaxX, mDmaxY);
    ULMOutputMessage(" Dim X,Y: %12.6g, %12.6g\n", mDdimX, mDdimY);
    ULMOutputMessage("Tile2D (Int)   : Min X,Y: %d, %d Max X,Y: %d, %d\n", minX, minY, maxX, maxY);
    ULMOutputMessage(" Dim X,Y: %d, %d\n", dimX, dimY);
}

}  // namespace ulm3
