// A double-precision model of a volume render, written from the camera
// conventions alone: each pixel's ray, sampled where it crosses planes of
// constant principal-axis coordinate, k per voxel (a perspective ray along
// its own principal axis, between the near and far planes).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "ulm3/matrix.h"

namespace ulm3::test_support {

struct ReferenceScene {
    std::vector<uint8_t> voxels;  // X fastest, one 8-bit field
    int size[3] = {0, 0, 0};
    ULMMatrix projection, model;                     // the view matrix is the identity
    int viewport[4] = {0, 0, 0, 0};                  // x, y, width, height
    int k = 1;                                       // slices per voxel along the principal axis
    std::array<std::array<double, 4>, 256> table{};  // RGBA per entry
    int blendMode = 4;
    unsigned cropFlags = 0;  // as the crop's flags, its slabs X min, X max, Y min, ...
    std::array<double, 6> cropSlabs{};
    struct Cut {
        ULMVector4D plane;
        double min, max;
        bool keepInside;
    };  // over world points
    std::vector<Cut> cuts;
    double termination = 2;  // rays of modes 4 and 5 stop once their alpha reaches it
    // Each buffer's test of a sample's window depth against its input (0xFFFFFF if empty), combined as the context's
    // function (0 none).
    int depthTest[2] = {7, 7}, combine = 0;
    std::vector<uint32_t> depthIn[2];
    // Update filters (3 none): depth 0 takes the nearest sample passing its filter, depth 1 the farthest.
    int filter[2] = {3, 3};
    std::array<double, 2> sampleAlpha{0, 1}, accumAlpha{0, 1}, magnitude{0, 1};
    // Lights (world direction towards it, intensity): colour x (emissive + diffuse x sum of I |N.L|) + specular x sum
    // of I max(0, R.L)^exponent, N from the central differences; unidirectional (light mode 2) takes max(0, N.L), and
    // only light mode 0 lights back faces specularly.
    std::vector<std::array<double, 4>> lights;
    double emissive = 1, diffuse = 0, specular = 0, exponent = 1;
    int lightMode = 0;
    // Alpha x the 0..1 ramp read at the gradient magnitude, 64 steps from 0 to 1 voxel^-1.
    bool modulateOpacity = false;
    // What a render leaves in depths 0 and 1 per pixel (0xFFFFFF outside the viewport).
    mutable std::vector<std::array<uint32_t, 2>> depthOut;
};

// RGBA in 0..1 per pixel, rows from y = 0; 0 outside the viewport.
std::vector<std::array<double, 4>> ReferenceRender(const ReferenceScene& inScene, int inWidth, int inHeight);

}  // namespace ulm3::test_support
