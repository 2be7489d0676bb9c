// A double-precision model of a parallel-projection volume render, written
// from the camera conventions alone: each pixel's ray, sampled where it
// crosses planes of constant principal-axis coordinate, k per voxel.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "ulm3/matrix.h"

namespace ulm3::test_support {

struct ReferenceScene {
    std::vector<uint8_t> voxels;  // X fastest, one 8-bit field
    int size[3] = {0, 0, 0};
    ULMMatrix projection, model;  // the view matrix is the identity
    int viewport[4] = {0, 0, 0, 0};  // x, y, width, height
    int k = 1;                       // slices per voxel along the principal axis
    std::array<std::array<double, 4>, 256> table{};  // RGBA per entry
    int blendMode = 4;
    unsigned cropFlags = 0;  // as the crop's flags, its slabs X min, X max, Y min, ...
    std::array<double, 6> cropSlabs{};
    struct Cut { ULMVector4D plane; double min, max; bool keepInside; };  // over world points
    std::vector<Cut> cuts;
    double termination = 2;  // rays of modes 4 and 5 stop once their alpha reaches it
    int depthTest = 7; std::vector<uint32_t> depthIn;  // depth 0's test of each sample's window depth against it (0xFFFFFF if empty)
    // Lights (world direction towards it, intensity): colour x (emissive + diffuse x sum of I |N.L|), N from the central differences.
    std::vector<std::array<double, 4>> lights; double emissive = 1, diffuse = 0;
    bool modulateOpacity = false;  // alpha x the 0..1 ramp read at the gradient magnitude, 64 steps from 0 to 1 voxel^-1
};

// RGBA in 0..1 per pixel, rows from y = 0; 0 outside the viewport.
std::vector<std::array<double, 4>> ReferenceRender(const ReferenceScene& inScene, int inWidth, int inHeight);

}  // namespace ulm3::test_support
