// The cameras of ulm3_render: the volume turned as asked and the
// window fitted to its box.
#pragma once

#include "ulm3.h"

namespace ulm3_render {

// The share of the frame's width left free on each side of the volume box.
inline constexpr double kFrameMargin = 0.05;

// Model and projection for a square image: the centre of inBox (voxels of
// the volume) at the origin, turned by inTurnX degrees about x after inTurnY
// about y, and a square window that holds the projection of the box's eight
// corners (through the volume's correction matrix) with kFrameMargin to
// spare.
void FrameVolume(const ulm3::ULMVolume& inVolume, const ulm3::ULMVolumeRange& inBox, double inTurnX, double inTurnY,
                 ulm3::ULMMatrix& outModel, ulm3::ULMMatrix& outProjection);

// The same turn seen through a perspective camera of inFieldOfView degrees
// (vertically), the eye on the view axis just far enough for the box's
// corners to lie inside the frame with kFrameMargin to spare.
void FrameVolumePerspective(const ulm3::ULMVolume& inVolume, const ulm3::ULMVolumeRange& inBox, double inTurnX,
                            double inTurnY, double inFieldOfView, ulm3::ULMMatrix& outModel,
                            ulm3::ULMMatrix& outProjection);

}  // namespace ulm3_render
