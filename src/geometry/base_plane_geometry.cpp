// A parallel view factored into a base plane sheared along the rays.
#include "geometry/base_plane_geometry.h"

#include <algorithm>
#include <cmath>

#include "ulm3/context.h"

namespace ulm3 {
namespace {

ULMMatrix ViewportMatrix(int x, int y, int w, int h, double n, double f) {
    return ULMMatrix((w - 1) / 2.0, 0, 0, (w - 1) / 2.0 + x, 0, (h - 1) / 2.0, 0, (h - 1) / 2.0 + y,
                     0, 0, (f - n) / 2.0, (f + n) / 2.0, 0, 0, 0, 1);
}

}  // namespace

ULMMatrix VoxelToWindow(const ULMCamera& inCamera, const ULMVolume& inVolume, int vx, int vy, int vw, int vh) {
    double nearZ = 0.0, farZ = 1.0;
    inCamera.GetDepthRange(nearZ, farZ);
    return ViewportMatrix(vx, vy, vw, vh, nearZ, farZ) * inCamera.GetProjectionMatrix() * inCamera.GetViewMatrix() *
           inCamera.GetModelMatrix() * inVolume.GetCorrectionMatrix();
}

namespace {

ULMStatus FactorBasePlaneIn(const ULMContext* inContext, const ULMVolume* inVolume, int vx, int vy, int vw, int vh,
                            ULMBasePlaneGeometry& outGeometry) {
    const ULMCamera& camera = inContext->GetCamera();
    const ULMMatrix a = VoxelToWindow(camera, *inVolume, vx, vy, vw, vh);
    if (IsPerspectiveMatrix(a)) return kULMErrUnimplemented;
    if (a.IsSingular()) return kULMErrTransform;

    // The sampled box: the volume's voxel cells within the context's trims.
    const ULMVolumeRange range = inVolume->GetRange();
    const int origin[3] = {range.XOrigin(), range.YOrigin(), range.ZOrigin()};
    const int size[3] = {range.XSize(), range.YSize(), range.ZSize()};
    double trims[6], lo[3], hi[3];
    inContext->GetTrimPlanes(trims[0], trims[1], trims[2], trims[3], trims[4], trims[5]);
    for (int i = 0; i < 3; ++i) {
        lo[i] = std::max(origin[i] - 0.5, trims[2 * i]);
        hi[i] = std::min(origin[i] + (size[i] - 0.5), trims[2 * i + 1]);
        if (!(lo[i] <= hi[i])) return kULMErrEmptyRender;
    }

    // Rays run along d; the plane spans the two axes other than d's dominant
    // one (p), each shifted by the ray's slope over p, so that a step along
    // the plane is one voxel whatever the zoom. Either of two equally
    // dominant axes serves: the other slicing of the same plane steps at
    // most two voxels per pixel.
    const ULMVector4D d = a.Inverse() * ULMVector4D(0, 0, 1, 0);
    int p = 2;
    for (int i = 0; i < 2; ++i)
        if (std::fabs(d[i]) > std::fabs(d[p])) p = i;
    const int u = (p + 1) % 3, v = (p + 2) % 3;
    const double slopeU = d[u] / d[p], slopeV = d[v] / d[p];
    // V runs so that the plane is not mirrored in the window.
    const double flip = a[0][u] * a[1][v] - a[0][v] * a[1][u] < 0.0 ? -1.0 : 1.0;

    double low[2] = {1e300, 1e300}, high[2] = {-1e300, -1e300};
    for (int c = 0; c < 8; ++c) {
        const double corner[3] = {c & 1 ? hi[0] : lo[0], c & 2 ? hi[1] : lo[1], c & 4 ? hi[2] : lo[2]};
        const ULMVector4D w = a * ULMVector4D(corner[0], corner[1], corner[2], 1.0);
        outGeometry.window[c] = ULMVector2D(w[0], w[1]);
        const double plane[2] = {corner[u] - slopeU * corner[p], flip * (corner[v] - slopeV * corner[p])};
        outGeometry.plane[c] = ULMVector2D(plane[0], plane[1]);
        for (int i = 0; i < 2; ++i) low[i] = std::min(low[i], plane[i]), high[i] = std::max(high[i], plane[i]);
    }
    // A view the numbers cannot hold (overflowing to infinity or NaN) has
    // no plane to size.
    for (int i = 0; i < 2; ++i)
        if (!std::isfinite(low[i]) || !std::isfinite(high[i]) || low[i] > high[i]) return kULMErrTransform;
    // One pixel of margin each way: a warp interpolating at the box's edge
    // reads rays beside it.
    const double shift[2] = {std::floor(low[0]) - 1.0, std::floor(low[1]) - 1.0};
    const double side[2] = {std::ceil(high[0]) + 2.0 - shift[0], std::ceil(high[1]) + 2.0 - shift[1]};
    if (!(side[0] <= ULMBasePlaneGeometry::kMaxSide && side[1] <= ULMBasePlaneGeometry::kMaxSide))
        return kULMErrBasePlaneTooLarge;
    outGeometry.width = static_cast<int>(side[0]);
    outGeometry.height = static_cast<int>(side[1]);
    for (ULMVector2D& c : outGeometry.plane) c = ULMVector2D(c[0] - shift[0], c[1] - shift[1]);

    // Voxel to (plane U, plane V, window depth), and the projection that
    // gives it through the base plane's own viewport and depth range.
    ULMMatrix toPlane(0, 0, 0, -shift[0], 0, 0, 0, -shift[1], a[2][0], a[2][1], a[2][2], a[2][3], 0, 0, 0, 1);
    toPlane[0][u] = 1.0, toPlane[0][p] = -slopeU;
    toPlane[1][v] = flip, toPlane[1][p] = -flip * slopeV;
    const ULMMatrix toEye = camera.GetViewMatrix() * camera.GetModelMatrix() * inVolume->GetCorrectionMatrix();
    ULMMatrix projection =
        ViewportMatrix(0, 0, outGeometry.width, outGeometry.height, 0.0, 1.0).Inverse() * toPlane * toEye.Inverse();
    // Exactly parallel, whatever the inverses rounded.
    projection[3][0] = projection[3][1] = projection[3][2] = 0.0, projection[3][3] = 1.0;
    outGeometry.camera = camera;
    outGeometry.camera.SetViewport(0, 0, outGeometry.width, outGeometry.height);
    outGeometry.camera.SetDepthRange(0.0, 1.0);
    outGeometry.camera.SetProjectionMatrix(projection);
    return kULMOK;
}

}  // namespace

// A viewport of zero size is the whole output, as for a render; a base
// plane's output is the plane itself, whose extent does not depend on the
// viewport, so it is found through any viewport first.
ULMStatus ULMFactorBasePlane(const ULMContext* inContext, const ULMVolume* inVolume,
                             ULMBasePlaneGeometry& outGeometry) {
    const ULMCamera& camera = inContext->GetCamera();
    int vx = 0, vy = 0, vw = 0, vh = 0;
    camera.GetViewport(vx, vy, vw, vh);
    if (vw > 0 && vh > 0) return FactorBasePlaneIn(inContext, inVolume, vx, vy, vw, vh, outGeometry);
    const ULMStatus status = FactorBasePlaneIn(inContext, inVolume, 0, 0, 2, 2, outGeometry);
    if (status != kULMOK) return status;
    return FactorBasePlaneIn(inContext, inVolume, 0, 0, outGeometry.width, outGeometry.height, outGeometry);
}

}  // namespace ulm3
