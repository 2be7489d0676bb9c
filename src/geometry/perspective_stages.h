// The eight per-mini-frustum stages of a perspective frame, as the planner
// calls them. The frame driver implements them; tests put a recording fake
// in its place.
#pragma once

#include "geometry/dual_hyper.h"
#include "geometry/polygons.h"
#include "ulm3/status.h"

namespace ulm3 {

class PerspectiveStages {
public:
    virtual ~PerspectiveStages() = default;

    // The polygons handed to PreResample and PostResample have at most this
    // many corners (a quad clipped by the four write-port planes), so a stage
    // may copy them into arrays of this size.
    static constexpr int kMaxStageCorners = 8;

    // The stages return 0 when the frame went on and 1 when the stage failed
    // (having stored its status with SetStatus); the planner drops the rest
    // of the mini-frustum when PrepareRender, LoadBuffers, RenderMiniFrustum
    // or UnloadBuffers fails and ignores the other results.

    // nearPoly, farPoly: corners in the chip's permuted sample space; eye and
    // sight in voxel space; dimXs x dimYs the supersampled base plane, dimZs
    // its slices; stCorners the mini-frustum's rectangle in base-plane (s, t).
    virtual int PrepareRender(const Polygon3D& nearPoly, const Polygon3D& farPoly,
                              const Point3D& eye, const Point3D& sight, int dimXs, int dimYs,
                              int dimZs, int sectionX, int sectionY, int transformReg,
                              const DualHyper& nearHyper, const Point2D (&stCorners)[4]) = 0;
    // The widened tile's near polygon, clipped to the write port, in
    // normalised device coordinates.
    virtual int PreResample(const PolygonST3H& ndcPoly) = 0;
    // The near and far corners in homogeneous screen space (not divided).
    virtual void DistortDepthIn(const PolygonST3H& nearHom, const PolygonST3H& farHom) = 0;
    virtual int LoadBuffers() = 0;
    virtual int RenderMiniFrustum() = 0;
    virtual int UnloadBuffers() = 0;
    virtual int DistortDepthOut(const PolygonST3H& nearHom, const PolygonST3H& farHom) = 0;
    // The tile's own near polygon, clipped to the write port, in normalised
    // device coordinates: the part of the frame the mini-frustum fills.
    virtual int PostResample(const PolygonST3H& clipPoly) = 0;

    // Whether the frame needs the mini-frustum whose near polygon, clipped
    // to the write port, is clipPoly (normalised device coordinates); asked
    // before PrepareRender. A frame that writes only part of its write port
    // skips those that fill none of that part.
    virtual bool WantsTile(const PolygonST3H& clipPoly) {
        (void)clipPoly;
        return true;
    }

    // The frame's failure status (the driver's mStatus).
    virtual void SetStatus(ULMStatus status) = 0;
};

}  // namespace ulm3
