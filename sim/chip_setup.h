// The registers of a render decoded once into flat state: the array slots,
// the sample grid, field codes, expanded tables and the stages' controls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chip_arithmetic.h"
#include "chip_array.h"
#include "tulx7sim/chip_model.h"

namespace tulx7sim::chip {

using Wide = __int128;

struct Fields {
    FieldCode code[4];
    explicit Fields(uint32_t word = 0x0F0F0F0F) {
        for (int k = 0; k < 4; ++k) code[k] = FieldCode::Decode(word >> (8 * k));
    }
};

// The positions of one sample slice zs: Zv is constant on it, Xv and Yv
// affine in (xs, ys). Raw values are S23.40 counts of 1/256 voxel.
struct Slice {
    bool live = false;
    int64_t z256 = 0;
    Wide x0 = 0, xx = 0, xy = 0;
    Wide y0 = 0, yx = 0, yy = 0;
};

// The registers of a render, decoded once.
struct Setup {
    ChipArray volume, image[2];
    std::vector<uint8_t> snapshot;  // the volume's bytes when the render also writes them

    uint32_t frustumMin[3] = {}, frustumMax[3] = {};
    int select[3] = {};  // volume axis of Xv, Yv, Zv
    bool negate[3] = {};
    int32_t trimMin[3] = {}, trimMax[3] = {};
    std::vector<Slice> slices;  // frustum z order

    Fields voxelFields;
    uint64_t voxelBorder = 0;
    bool trilinear[4] = {};
    bool extend[3] = {};  // u, v, w
    bool anyNearest = false, anyTrilinear = false;

    bool bypass[4] = {};
    std::vector<Rgba> table[4];
    size_t tableValid[4] = {};
    uint32_t alu[3] = {};
    float emissive = 1.0f;
    bool opacityWeight = false;

    bool initAccum = false, initLast = false;
    Rgba accumValue, lastValue;
    Fields imageFields[2];
    uint32_t write = 0;
    bool volumeOutput = false;  // dimensions 1
    uint32_t blendAccum = 0, blendLast = 0;
    uint32_t writeMask = 0;
};

// Reads the registers. Returns an empty string, or why the chip cannot
// render them; reserved and unmodelled codes are counted in `counts`.
std::string Decode(const RenderJob& job, const RegisterFile& registers, Setup& setup,
                   ChipDiagnostics& counts);

}  // namespace tulx7sim::chip
