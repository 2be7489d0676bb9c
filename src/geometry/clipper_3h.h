// Sutherland-Hodgman clipping of homogeneous polygons against up to six
// planes, carrying the face coordinates along.
#pragma once

#include "geometry/polygons.h"

namespace ulm3 {

class Clipper3H {
public:
    static constexpr int kMaxPlanes = 6;

    void Reset() { mNumClip = 0; }
    // False when the plane was added; true, and ignored, when six are held.
    bool AddClipPlane(const Plane3H& plane);
    int GetNumPlanes() const { return mNumClip; }
    // Keeps the part of the polygon on the kept side of every plane. False,
    // with the polygon emptied, when fewer than three vertices are left
    // after some plane (an input below three vertices included).
    bool ClipPolyST3H(PolygonST3H& poly) const;

private:
    int mNumClip = 0;
    Plane3H mClipPlane[kMaxPlanes];
};

}  // namespace ulm3
