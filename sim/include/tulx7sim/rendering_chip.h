// The rendering chip the simulated boards come with: ray grid and sample
// positions, trims, voxel fetch with border and edge addressing, nearest
// and trilinear interpolation, the lookup stage and its ALUs, emissive
// shading, compositing in every blend mode but sum-and-count, and the
// encoded writes into image 0 and image 1 (sim/CHIP.md says what is and is
// not modelled).
#pragma once

#include <cstdint>
#include <memory>

#include "tulx7sim/chip_model.h"

namespace tulx7sim {

// The chip the platform's render engine uses unless a test installs
// another one.
std::shared_ptr<ChipModel> MakeRenderingChip();

}  // namespace tulx7sim
