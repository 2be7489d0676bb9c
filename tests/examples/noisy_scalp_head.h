// A head as a noisy MRI scan shows it, for ulm3_render's window and framing:
// an ellipsoid of scalp (about 60), a skull-like shell (about 190) and brain
// (70..120), in air whose magnitude noise (Rayleigh, of scale sigma) reaches
// about 5 sigma. Along x through the head's middle the air holds a ghost,
// as a head that moved leaves along one direction: noise from 2 to 4.5 sigma,
// within the air's own reach, but dense enough that above the window's
// lower end it joins the scalp to both sides of the volume. Random, seeded.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "ulm3/ranges.h"

namespace ulm3::testing {

struct NoisyScalpHead {
    int size[3];
    double sigma;
    uint32_t seed;

    // The voxels, x fastest.
    std::vector<uint8_t> Voxels() const {
        uint32_t state = seed;
        const auto uniform = [&state] {
            state = state * 1664525u + 1013904223u;
            return ((state >> 8) + 0.5) / 16777216.0;
        };
        // One normal deviate from two uniform ones.
        const auto normal = [&uniform] {
            return std::sqrt(-2.0 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
        };
        const double centre[3] = {size[0] / 2.0, size[1] * 0.45, size[2] / 2.0};
        const double semi[3] = {size[0] * 0.36, size[1] * 0.42, size[2] * 0.45};
        const double ghost = std::max(3.0, size[1] / 32.0);
        std::vector<uint8_t> voxels;
        voxels.reserve(static_cast<size_t>(size[0]) * size[1] * size[2]);
        for (int z = 0; z < size[2]; ++z)
            for (int y = 0; y < size[1]; ++y)
                for (int x = 0; x < size[0]; ++x) {
                    const double d[3] = {(x - centre[0]) / semi[0], (y - centre[1]) / semi[1],
                                         (z - centre[2]) / semi[2]};
                    const double r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
                    double value = 0;
                    if (r <= 1.0) {
                        value = r > 0.94   ? 60 + 4 * normal()
                                : r > 0.86 ? 190 + 5 * normal()
                                           : 95 + 25 * std::sin(0.4 * x) * std::cos(0.3 * y) + 4 * normal();
                    } else if (std::hypot(y - centre[1], z - centre[2]) <= ghost) {
                        value = sigma * (2.0 + 2.5 * uniform());
                    } else {
                        value = sigma * std::hypot(normal(), normal());
                    }
                    voxels.push_back(static_cast<uint8_t>(std::clamp(std::round(value), 0.0, 255.0)));
                }
        return voxels;
    }

    // The box of the voxels above inLevel.
    ULMVolumeRange BoxAbove(const std::vector<uint8_t>& inVoxels, unsigned inLevel) const {
        int lo[3] = {size[0], size[1], size[2]}, hi[3] = {-1, -1, -1};
        size_t i = 0;
        for (int z = 0; z < size[2]; ++z)
            for (int y = 0; y < size[1]; ++y)
                for (int x = 0; x < size[0]; ++x, ++i) {
                    if (inVoxels[i] <= inLevel) continue;
                    const int at[3] = {x, y, z};
                    for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], at[a]), hi[a] = std::max(hi[a], at[a]);
                }
        return ULMVolumeRange(hi[0] - lo[0] + 1, hi[1] - lo[1] + 1, hi[2] - lo[2] + 1, lo[0], lo[1], lo[2]);
    }
};

}  // namespace ulm3::testing
