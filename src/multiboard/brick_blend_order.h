// The order in which the bricks' partial images composite: from the brick
// nearest the viewer to the farthest, for a view direction or an eye point.
#pragma once

#include "multiboard/subvolume_division.h"

namespace ulm3 {

// Fills outBlendIndex (position -> brick) and outSoftwBlendIndex, its
// inverse (brick -> position). With inPerspective, inVector is the eye in
// the volume's voxel coordinates; otherwise the viewing direction there,
// pointing away from the eye.
void GenerateBrickBlendOrder(const ULMSubVolumeDivision& inDivision, bool inPerspective, const double (&inVector)[3],
                             int (&outBlendIndex)[kMultiboardMaxBricks],
                             int (&outSoftwBlendIndex)[kMultiboardMaxBricks]);

}  // namespace ulm3
