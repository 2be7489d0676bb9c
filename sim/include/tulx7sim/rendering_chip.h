// The rendering chip the simulated boards come with, from the sample grid
// through classification, shading, depth and compositing to the encoded
// writes (sim/CHIP.md says what it models).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

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

// Test control: the instruction set of the tiled kernels. kDefault is
// TULX7SIM_ISA ("scalar" forces the scalar kernels), else the best the CPU
// has; kAvx2 falls back to scalar on a CPU without AVX2. The bytes are the
// same whichever runs.
enum class ChipInstructionSet { kDefault, kScalar, kAvx2 };
void SetChipInstructionSet(ChipInstructionSet set);
// The instruction set renders now use: "avx2" or "scalar".
const char* ChipInstructionSetName();

// Test observation: the voxels the shaded rows' gradient slab computes of a
// plane that the samples of a tile on several slices read: columns x rows
// samples on each, at raw positions origin + i step[0] + j step[1] (i <
// columns, j < rows; each a pair along the volume axes of Xv and Yv in
// 1/2^32 of 1/256 voxel, mirrored along an axis where `mirror` says),
// within voxels low..high on each axis. One inclusive run along the first
// axis for each voxel of the second from `firstRow` on, empty where its
// low exceeds its high.
struct SlabSlice {
    int64_t origin[2] = {};
    int64_t step[2][2] = {};
};
struct SlabRun {
    int64_t low = 0, high = -1;
};
struct SlabPlane {
    int64_t firstRow = 0;
    std::vector<SlabRun> runs;
};
SlabPlane SlabFootprint(const std::vector<SlabSlice>& slices, uint32_t columns, uint32_t rows, const bool (&mirror)[2],
                        const int64_t (&low)[2], const int64_t (&high)[2]);

// Test observation: the gradients the shaded rows' slab computes for every
// voxel of plane `w` (along the third axis) of a one-byte volume of
// size[0] x size[1] x size[2] voxels (the first axis fastest) that fills
// its storage, its rows along the first axis; each component of the
// unsigned field `fieldBits` wide from bit `fieldShift`, by central or
// `forward` differences, past the volume's edge along each axis its edge
// voxel where `extend` says, else the `border` word. The instruction set is
// the one renders use. Each voxel's three components, the first axis
// fastest. With `runs` (one per row of the plane), the slab computes only
// those, as it does a plane cut to a tile's footprint, and the gradients
// outside them are not defined.
struct SlabVolume {
    std::vector<uint8_t> voxels;
    int64_t size[3] = {};
    int fieldBits = 8, fieldShift = 0;
    bool forward = false;
    bool extend[3] = {};
    uint64_t border = 0;
    std::vector<SlabRun> runs;
};
std::vector<std::array<float, 3>> SlabGradients(const SlabVolume& volume, int64_t w);

// A reflectance map laid out as the chip reads it: 6 faces (the dominant
// axis and its sign) of 8 x 8 cells over the other two axes, each cell grey
// at `value` of the unit direction through its centre, clamped to [0, 1],
// as 12-bit fractions in lanes 0..2.
std::vector<uint64_t> MakeReflectanceMap(const std::function<double(const double (&)[3])>& value);

}  // namespace tulx7sim
