// The shading stages of one sample: voxel fetch with border and edge
// addressing, interpolation, the lookup stage, the ALUs and lighting.
#pragma once

#include <cstdint>

#include "chip_setup.h"

namespace tulx7sim::chip {

class Shader {
public:
    Shader(const Setup& setup, ChipDiagnostics& counts) : m_setup(setup), m_counts(counts) {}

    // The classified, shaded sample at a position in volume space, in 1/256
    // voxel.
    Rgba Classify(const int64_t (&position)[3]);

private:
    // The voxel word at integer coordinates: edge-clamped or border outside
    // VolumeRange, border outside storage.
    uint64_t Voxel(int64_t u, int64_t v, int64_t w);
    static int32_t Lerp(int32_t a, int32_t b, int64_t f);
    static Rgba Alu(uint32_t word, const Rgba& a, const Rgba& b);

    const Setup& m_setup;
    ChipDiagnostics& m_counts;
};

}  // namespace tulx7sim::chip
