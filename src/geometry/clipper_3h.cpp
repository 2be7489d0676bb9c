// Polygon clipping against homogeneous planes.
#include "geometry/clipper_3h.h"

namespace ulm3 {

bool Clipper3H::AddClipPlane(const Plane3H& plane) {
    if (mNumClip >= kMaxPlanes) return true;
    mClipPlane[mNumClip++] = plane;
    return false;
}

namespace {

PointST3H Intersect(const PointST3H& a, const PointST3H& b, double da, double db) {
    const double f = da / (da - db);
    return {a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f,
            a.w + (b.w - a.w) * f, a.s + (b.s - a.s) * f, a.t + (b.t - a.t) * f};
}

}  // namespace

bool Clipper3H::ClipPolyST3H(PolygonST3H& poly) const {
    if (poly.GetNumbVerts() < 3) {
        poly.SetNumbVerts(0);
        return false;
    }
    PolygonST3H in = poly;
    for (int k = 0; k < mNumClip; ++k) {
        const Plane3H& plane = mClipPlane[k];
        PolygonST3H out;
        // Counts every vertex the plane produces, also those a full polygon
        // drops, for the three-vertex test.
        int produced = 0;
        const int n = in.GetNumbVerts();
        PointST3H prev = in[n - 1];
        double dPrev = plane.PerpDist(prev);
        for (int i = 0; i < n; ++i) {
            const PointST3H cur = in[i];
            const double dCur = plane.PerpDist(cur);
            const bool prevKept = dPrev >= 0.0, curKept = dCur >= 0.0;
            // A vertex exactly on the plane is its own intersection point.
            if (prevKept && !curKept && dPrev != 0.0) {
                out.AddVert(Intersect(prev, cur, dPrev, dCur));
                ++produced;
            } else if (!prevKept && curKept && dCur != 0.0) {
                out.AddVert(Intersect(prev, cur, dPrev, dCur));
                ++produced;
            }
            if (curKept) {
                out.AddVert(cur);
                ++produced;
            }
            prev = cur;
            dPrev = dCur;
        }
        if (produced < 3) {
            poly.SetNumbVerts(0);
            return false;
        }
        in = out;
    }
    poly = in;
    return true;
}

}  // namespace ulm3
