// The registers of a render decoded once into flat state: the array slots,
// the sample grid, field codes, expanded tables and the stages' controls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chip_arithmetic.h"
#include "chip_array.h"
#include "tulx7sim/chip_model.h"

// The chip's internals bind inside the library, so its calls inline.
#pragma GCC visibility push(hidden)

namespace tulx7sim::chip {

using Wide = __int128;

struct Fields {
    FieldCode code[4];
    explicit Fields(uint32_t word = NKW7_NoFields) {
        for (int k = 0; k < 4; ++k) code[k] = FieldCode::Decode(NKW7_FieldCodeOf(word, k));
    }
};

// A table of entries as the stages read them; entries past `valid` (all of
// an unbound table's) read 0 and are counted by the reader.
struct Table {
    std::vector<Rgba> entries;
    size_t valid = 0;
};

// The positions of one sample slice zs: Zv is constant on it, Xv and Yv
// affine in (xs, ys). Raw values are S23.40 counts of 1/256 voxel; the
// depth and cut-plane terms of zs and Zv are folded in once per slice.
struct Slice {
    bool live = false;
    uint32_t zs = 0;
    int64_t z256 = 0;
    Wide x0 = 0, xx = 0, xy = 0;
    Wide y0 = 0, yx = 0, yy = 0;
    Wide depth = 0;     // S31.32: OriginDepth + the zs and Zv terms
    Wide cut[4] = {};   // S15.16: each plane's zs and Zv terms
};

// A tile's rays: width x height from (x0, y0).
struct TileRect {
    uint32_t x0 = 0, y0 = 0, width = 0, height = 0;
};

// The raw positions of a tile's four corner samples on a slice (bit 0 of the
// index the last column, bit 1 the last row), and whether all fit in 64
// bits; positions are affine over the tile, so every sample's lies between.
struct TileCorners {
    Wide x[4] = {}, y[4] = {};
    bool fit = true;

    TileCorners() = default;
    TileCorners(const Slice& slice, const TileRect& tile);
    // Whether the four fail one trim of Xv or Yv on the same side, and so
    // does every sample of the tile.
    bool Trimmed(const int32_t (&trimMin)[3], const int32_t (&trimMax)[3]) const;
};

// Narrows the steps [first, last] of positions start + i * step, each of
// which fits in 64 bits, to those within [low, high]: one run of them,
// empty when first > last.
void AffineRun(int64_t start, Wide step, int64_t low, int64_t high, int64_t& first, int64_t& last);

// The tests an image filter or a depth update criterion applies to a sample.
struct SampleTests {
    uint32_t direction = 0;  // bit 0 rejects front-facing, bit 1 back-facing samples
    bool sampleAlpha = false, accumulatedAlpha = false, gradientMagnitude = false;
    bool Any() const { return direction != 0 || sampleAlpha || accumulatedAlpha || gradientMagnitude; }
};

// A plane's value is its rates over the grid (xs, ys and the slice's terms),
// or with `positional` over the sample's permuted position in 1/256 voxel,
// where it is compared at 256 times the slab's bounds.
struct CutPlane {
    bool enabled = false, soft = false, visibility = false, positional = false;
    int64_t dXs = 0, dYs = 0, dZs = 0;
    int32_t min = 0, max = 0;
};

// The registers of a render, decoded once.
struct Setup {
    ChipArray volume, image[2], depth[2];
    DirectBox voxels;  // the volume's, once the snapshot is taken
    std::vector<uint8_t> snapshot;  // the volume's bytes when the render also writes them

    uint32_t frustumMin[3] = {}, frustumMax[3] = {};
    int select[3] = {};  // volume axis of Xv, Yv, Zv
    bool negate[3] = {};
    int32_t trimMin[3] = {}, trimMax[3] = {};
    std::vector<Slice> slices;  // frustum z order

    // Which samples exist: crop groups (permuted axes, 1/256 voxel), cut planes.
    bool cropOn = false, cropOr = false, cropInvertOut = false;
    bool cropEnable[3][3] = {};  // group, axis
    bool cropInvert[3] = {};
    int32_t cropMin[3] = {}, cropMax[3] = {};
    CutPlane cut[4];
    bool anyCut = false;

    Fields voxelFields;
    uint64_t voxelBorder = 0;
    bool trilinear[4] = {};
    bool classifyFirst[4] = {};  // interpolation code 3
    bool extend[3] = {};  // u, v, w
    bool anyNearest = false, anyTrilinear = false;

    bool bypass[4] = {};
    Table table[4];
    uint32_t alu[3] = {};
    // ALUs that only route or set constants, resolved per channel: the
    // table whose channel it is, or -1 for `constant`. `fieldUsed` says
    // which looked-up fields reach the sample; a field that does not is
    // skipped only when its lookup cannot count a diagnostic.
    bool routed = false;
    int route[4] = {};
    float constant[4] = {};
    bool fieldNeeded[4] = {};

    // Gradients, computed only when a stage consumes them.
    bool gradient = false;
    bool forward = false, zeroGradient = false, interpolateGradient = false;
    int gradientField[3] = {-1, -1, -1};  // field of each component, -1 for 0
    bool correct = false;
    float correction[3][3] = {};
    uint32_t magnitudeMin = 0, magnitudeMax = 0;  // |g|^2 in 1/511^2

    // Magnitude modulation.
    bool modulate[4] = {};  // opacity, emissive, diffuse, specular
    bool hiPassDiffuse = false, hiPassSpecular = false;
    uint32_t hiPassStart = 0, base = 0, grain = 0;
    bool squaredIndex = false, lowerDefault = false, upperDefault = false;
    Table magnitudeTable;

    // Lighting.
    float emissive = 1.0f, diffuse = 0.0f, specular = 0.0f;
    Table diffuseMap, specularMap;
    float eye[3] = {};
    bool bypassReflection = false, specularFrontOnly = false;
    Rgba specularColour;
    bool opacityWeight = false, opacityWeightSpecular = false;

    bool alphaCorrection = false;
    // The blend takes the sample's colour as already weighted by its alpha
    // (modes 3 and 5, opacity weighting off): a correction of that alpha
    // scales the colour with it.
    bool correctColour = false;
    Table alphaTable;

    bool spaceLeaping = false, earlyTermination = false;
    float emptyThreshold = 0.0f, terminationThreshold = 0.0f;
    SampleTests filter, updateFirst, updateLast;
    uint32_t sampleAlphaMin = 0, sampleAlphaMax = 0, accumAlphaMin = 0, accumAlphaMax = 0;

    // Depth: tests against the initial values, updates, writes.
    bool depthUsed = false;
    uint32_t testFirst = NKW7_Code(NKW7_DepthTest::Pass), testLast = NKW7_Code(NKW7_DepthTest::Pass);
    uint32_t depthAction = NKW7_Code(NKW7_DepthCombine::Off);
    bool initDepth[2] = {}, writeDepth[2] = {};
    uint32_t depthInitValue[2] = {};
    Wide dDepthX = 0, dDepthY = 0;

    bool outputGradient = false, outputMagnitude = false;

    // Emissive, trilinear, routed samples with no optional stage between
    // classification and the blend, which the tiles take straight from
    // storage where they can.
    bool plain = false;
    bool gradientCache = true;  // voxel gradients kept between samples
    // The volume's range lies in its storage: no voxel read counts, at the
    // edges neither.
    bool quietReads = false;

    bool initAccum = false, initLast = false;
    Rgba accumValue, lastValue;
    Fields imageFields[2];
    uint32_t write = 0;
    bool volumeOutput = false;  // dimensions 1
    uint32_t blendAccum = 0, blendLast = 0;
    uint32_t writeMask = 0;
};

// The floors along permuted axis a that pass the trims and whose voxel,
// and its neighbour up, lie in first..last + 1 along the axis's volume
// axis: a mirrored floor P takes voxel (-P - 256) >> 8.
void InteriorFloors(const Setup& s, int a, int64_t first, int64_t last, int64_t& low, int64_t& high);

// Reads the registers. Returns an empty string, or why the chip cannot
// render them; reserved codes are counted in `counts`.
std::string Decode(const RenderJob& job, const RegisterFile& registers, Setup& setup,
                   ChipDiagnostics& counts);

}  // namespace tulx7sim::chip

#pragma GCC visibility pop
