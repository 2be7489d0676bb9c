// Where a parallel view of a volume puts its base plane: the plane, sheared
// along the rays, that a render samples at one pixel per voxel and an affine
// warp takes to the window. The render engine and the base-plane slots of a
// context both use it.
#pragma once

#include "ulm3/camera.h"
#include "ulm3/matrix.h"
#include "ulm3/status.h"
#include "ulm3/vectors.h"
#include "ulm3/volume.h"

namespace ulm3 {

class ULMContext;

// A view factored into a base plane: pixel (i, j) of the plane is the ray
// through plane point (i, j), pixel centres at whole numbers.
struct ULMBasePlaneGeometry {
    static constexpr int kMaxSide = 32768;
    int width = 0, height = 0;
    // The context's camera with projection, viewport and depth range
    // replaced: through it a render's window is the base plane.
    ULMCamera camera;
    // The corners of the sampled box in the asked-for window and on the plane.
    ULMVector2D window[8], plane[8];
};

// Voxel position to window position through the camera and the viewport
// (x, y, w, h).
ULMMatrix VoxelToWindow(const ULMCamera& inCamera, const ULMVolume& inVolume, int vx, int vy, int vw, int vh);

// Factors the context's parallel view of inVolume into a base plane
// sheared along the rays with one pixel per voxel, so that a render of
// any zoom samples it at unit spacing and an affine warp takes it to the
// window. A viewport of zero size is the plane's own extent.
// kULMErrUnimplemented for a perspective projection, kULMErrTransform for a
// singular view or one whose plane the numbers cannot hold,
// kULMErrEmptyRender when the trims leave nothing,
// kULMErrBasePlaneTooLarge beyond 32768 pixels.
ULMStatus ULMFactorBasePlane(const ULMContext* inContext, const ULMVolume* inVolume,
                             ULMBasePlaneGeometry& outGeometry);

}  // namespace ulm3
