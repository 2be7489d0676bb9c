// Framing of ulm3_render's camera.
#include "render/view_framing.h"

#include <algorithm>
#include <cmath>

using namespace ulm3;

namespace ulm3_render {

void FrameVolume(const ULMVolume& inVolume, const ULMVolumeRange& inBox, double inTurnX, double inTurnY,
                 ULMMatrix& outModel, ULMMatrix& outProjection) {
    const ULMVolumeRange& range = inBox;
    // The box reaches half a voxel past the outer voxel centres.
    const double lo[3] = {range.XOrigin() - 0.5, range.YOrigin() - 0.5, range.ZOrigin() - 0.5};
    const double hi[3] = {lo[0] + range.XSize(), lo[1] + range.YSize(), lo[2] + range.ZSize()};
    const ULMMatrix correction = inVolume.GetCorrectionMatrix();
    ULMVector3D centre;
    correction.TransformPoint(ULMVector3D((lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, (lo[2] + hi[2]) / 2), centre);
    outModel = ULMMatrix::Rotate(inTurnX, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(inTurnY, ULMVector3D(0, 1, 0)) *
               ULMMatrix::Translate(-centre[0], -centre[1], -centre[2]);
    const ULMMatrix toEye = outModel * correction;
    double half = 0.0;
    double depth = 0.0;
    for (int corner = 0; corner < 8; ++corner) {
        const ULMVector3D p(corner & 1 ? hi[0] : lo[0], corner & 2 ? hi[1] : lo[1], corner & 4 ? hi[2] : lo[2]);
        ULMVector3D q;
        toEye.TransformPoint(p, q);
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
    // The orthographic window's half width holds the box with the margin:
    // the eye sees that half width at its distance.
    const double half = 1.0 / orthographic[0][0];
    const double depth = 1.0 / std::fabs(orthographic[2][2]);
    const double distance = half / std::tan(inFieldOfView * 3.14159265358979323846 / 360.0) + depth;
    outModel = ULMMatrix::Translate(0, 0, -distance) * outModel;
    outProjection = ULMMatrix::Perspective(inFieldOfView, 1.0, std::max(distance - depth, 1e-3), distance + depth);
}

}  // namespace ulm3_render
