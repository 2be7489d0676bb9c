// The rendering chip the simulated boards come with, from the sample grid
// through classification, shading, depth and compositing to the encoded
// writes (sim/CHIP.md says what it models).
#pragma once

#include <cstdint>
#include <memory>

#include "tulx7sim/chip_model.h"

namespace tulx7sim {

// The chip the platform's render engine uses unless a test installs
// another one.
std::shared_ptr<ChipModel> MakeRenderingChip();

// Test controls. The threads the boards' renders share (0 restores
// TULX7SIM_THREADS or the hardware's concurrency); call while no render
// runs. And the reference path: every element on its own, one after
// another, with closed-form positions, which the tiled path must match
// byte for byte.
void SetChipThreads(int threads);
void UseChipReferencePath(bool reference);

}  // namespace tulx7sim
