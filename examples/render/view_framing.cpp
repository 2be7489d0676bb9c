// Framing of ulm3_render's camera.
#include "render/view_framing.h"

#include <algorithm>
#include <cmath>

using namespace ulm3;

namespace ulm3_render {

namespace {

// The box's eight corners, half a voxel past the outer voxel centres, as
// inToEye takes them.
void EyeCorners(const ULMVolumeRange& inBox, const ULMMatrix& inToEye, ULMVector3D outCorners[8]) {
    const double lo[3] = {inBox.XOrigin() - 0.5, inBox.YOrigin() - 0.5, inBox.ZOrigin() - 0.5};
    const double hi[3] = {lo[0] + inBox.XSize(), lo[1] + inBox.YSize(), lo[2] + inBox.ZSize()};
    for (int corner = 0; corner < 8; ++corner) {
        const ULMVector3D p(corner & 1 ? hi[0] : lo[0], corner & 2 ? hi[1] : lo[1], corner & 4 ? hi[2] : lo[2]);
        inToEye.TransformPoint(p, outCorners[corner]);
    }
}

}  // namespace

void FrameVolume(const ULMVolume& inVolume, const ULMVolumeRange& inBox, double inTurnX, double inTurnY,
                 ULMMatrix& outModel, ULMMatrix& outProjection) {
    const ULMVolumeRange& range = inBox;
    const ULMMatrix correction = inVolume.GetCorrectionMatrix();
    ULMVector3D centre;
    correction.TransformPoint(ULMVector3D(range.XOrigin() - 0.5 + range.XSize() / 2.0,
                                          range.YOrigin() - 0.5 + range.YSize() / 2.0,
                                          range.ZOrigin() - 0.5 + range.ZSize() / 2.0),
                              centre);
    outModel = ULMMatrix::Rotate(inTurnX, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(inTurnY, ULMVector3D(0, 1, 0)) *
               ULMMatrix::Translate(-centre[0], -centre[1], -centre[2]);
    ULMVector3D corners[8];
    EyeCorners(inBox, outModel * correction, corners);
    double half = 0.0;
    double depth = 0.0;
    for (const ULMVector3D& q : corners) {
        half = std::max({half, std::fabs(q[0]), std::fabs(q[1])});
        depth = std::max(depth, std::fabs(q[2]));
    }
    half /= 1.0 - 2.0 * kFrameMargin;
    // Near and far planes a little outside the box, so that no corner is clipped.
    depth = depth * 1.1 + 1.0;
    outProjection = ULMMatrix::Ortho(-half, half, -half, half, -depth, depth);
}

void FrameVolumePerspective(const ULMVolume& inVolume, const ULMVolumeRange& inBox, double inTurnX, double inTurnY,
                            double inFieldOfView, ULMMatrix& outModel, ULMMatrix& outProjection) {
    ULMMatrix orthographic;
    FrameVolume(inVolume, inBox, inTurnX, inTurnY, outModel, orthographic);
    // The eye on the view axis as near as every corner lets it come: a corner
    // (x, y, z) of the centred box, d - z in front of the eye, is seen at
    // max(|x|, |y|) / ((d - z) tan(fov / 2)) of the half frame, which must
    // not pass the margin.
    const double slope = std::tan(inFieldOfView * 3.14159265358979323846 / 360.0) * (1.0 - 2.0 * kFrameMargin);
    ULMVector3D corners[8];
    EyeCorners(inBox, outModel * inVolume.GetCorrectionMatrix(), corners);
    double distance = 0.0, front = -1e300, back = 1e300;
    for (const ULMVector3D& q : corners) {
        distance = std::max(distance, q[2] + std::max(std::fabs(q[0]), std::fabs(q[1])) / slope);
        front = std::max(front, q[2]);
        back = std::min(back, q[2]);
    }
    outModel = ULMMatrix::Translate(0, 0, -distance) * outModel;
    // Near and far planes a little outside the box, so that no corner is clipped.
    const double nearest = distance - front, farthest = distance - back;
    outProjection = ULMMatrix::Perspective(inFieldOfView, 1.0, std::max(nearest * 0.9, 1e-3), farthest * 1.1 + 1.0);
}

}  // namespace ulm3_render
