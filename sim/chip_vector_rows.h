// Eight samples of a plain row at once, in 32-bit integer lanes with the
// scalar row's arithmetic step for step, so the bytes do not depend on the
// instruction set; and the choice of instruction set from the CPU.
#pragma once

#include <cstddef>
#include <cstdint>

#include "chip_arithmetic.h"
#include "chip_setup.h"

// The chip's internals bind inside the library, so its calls inline.
#pragma GCC visibility push(hidden)

namespace tulx7sim::chip {

struct Ray;

namespace lanes {

// How a field's value comes from an element: through a table of each byte
// (a 12-bit field in one-byte voxels), else its raw bits (4, 8 or 16)
// times `factor`.
struct FieldDecode {
    const int32_t* byteValue = nullptr;
    uint32_t shift = 0, bits = 8;
    int32_t factor = 1;
};

// The decoding of a field whose value of each byte is `byteValue`.
inline FieldDecode FieldDecodeOf(const FieldCode& code, const int32_t* byteValue) {
    FieldDecode decode;
    decode.byteValue = code.bits == 12 ? byteValue : nullptr;
    decode.shift = code.shift;
    decode.bits = code.bits;
    decode.factor = !code.present ? 0 : code.bits == 4 ? 4369 : code.bits == 8 ? 257 : 1;  // bit replication
    return decode;
}

}  // namespace lanes

enum class ChipIsa { kScalar, kAvx2 };

// The instruction set the kernels use: the best the CPU has, unless
// TULX7SIM_ISA=scalar asks for the scalar kernels or a test forced one.
ChipIsa ActiveIsa();
// Forces `isa` (kAvx2 only where the CPU has it); Restore undoes it.
void ForceIsa(ChipIsa isa);
void RestoreIsa();

// Where the voxels of a row of samples lie, for lanes that address them by
// 32-bit offsets from sample 0's voxel: raw positions, mirrors, weights.
struct RowVoxels {
    uint64_t x = 0, y = 0, dx = 0, dy = 0;  // raw positions, low 64 bits
    int64_t flipX = 0, flipY = 0;           // -1 mirrors the axis
    int32_t firstX = 0, firstY = 0;         // voxel coordinates of sample 0
    int laneOfX = 0, laneOfY = 0, laneOfZ = 0;  // 0, 1, 2: the u, v, w weight each gives
    int32_t fz = 0;
    const uint8_t* first = nullptr;         // the voxel of sample 0
    int32_t strideX = 0, strideY = 0;
    int32_t corner[8] = {};
    // Rows of a tile: each starts a row step on from the last, its rays
    // the row's width on from the last's; with `spans`, row j runs only
    // its rays from spans[j][0] up to spans[j][1].
    uint32_t rows = 1;
    uint64_t rowDx = 0, rowDy = 0;
    const uint32_t (*spans)[2] = nullptr;
};

// Places a row of `width` samples of a slice whose plane is qz (1/256
// voxel, mirrored) from raw positions (x, y) stepping by (dx, dy). False
// when an offset would not fit 32 bits or the word read before a one-byte
// voxel would start before storage.
bool PlaceRow(const Setup& setup, int64_t qz, uint64_t x, uint64_t y, uint64_t dx, uint64_t dy, uint32_t width,
              RowVoxels& row);
// Places samples from raw positions (x[0], y[0]) whose voxels lie within
// those of the four samples given (a row's ends, a tile's corners); the
// steps are the caller's.
bool PlaceSamples(const Setup& setup, int64_t qz, const uint64_t (&x)[4], const uint64_t (&y)[4], RowVoxels& row);
// Places the rows of a tile (`height` of them) on a slice, from its four
// corner samples.
bool PlaceTile(const Setup& setup, const Slice& slice, const TileCorners& corners, uint32_t height, RowVoxels& row);
// The same for a tile some of whose samples do not read their voxels from
// storage: lane offsets count from the storage's first voxel of the slice's
// plane, so that only the samples run need lie in storage.
bool PlaceTileInStorage(const Setup& setup, const Slice& slice, const TileCorners& corners, uint32_t height,
                        RowVoxels& row);

// An interior row of a plain render whose one unsigned field is looked up in
// a 256-entry table: every sample reads its eight neighbours from storage,
// and every voxel offset fits in 32 bits (the kernel checks both).
struct TabledRow : RowVoxels {
    // Bytes from a voxel to the same voxel of the plane the next slice
    // reads first (0: none), and the corners within one plane.
    int64_t ahead = 0;
    int32_t planeCorner[4] = {};
    int bytes = 1;                          // 1, 2 or 4
    lanes::FieldDecode decode;              // the field's value from a voxel
    const Rgba* emitted = nullptr;          // the routed colour of each table entry
    uint32_t valid = 0;
    uint32_t mode = NKW7_Code(NKW7_BlendMode::FrontToBack);  // the plain modes only
    bool earlyTermination = false;
    float threshold = 0.0f;
};

// The accumulators of a plain tile's rays channel by channel: ray k's
// channel c is c[c][k]. Eight neighbouring rays' channel is one load, where
// `Ray` spreads their 128 bytes of accumulators over ten cache lines, and a
// tile's fit the L1 cache beside the voxels its slices read. Every array
// is readable (and writable with what it holds) eight rays past its last.
// A plain ray needs no mark of its early stop: once its alpha reaches the
// threshold it blends no more, so its alpha stays where it stopped it.
struct RayAccums {
    float* c[4] = {};

    // The rays from ray k on.
    RayAccums From(size_t k) const { return {{c[0] + k, c[1] + k, c[2] + k, c[3] + k}}; }
    Rgba Get(size_t k) const { return {{c[0][k], c[1][k], c[2][k], c[3][k]}}; }
    void Set(size_t k, const Rgba& v) const {
        for (int n = 0; n < 4; ++n) c[n][k] = v.c[n];
    }
};

struct RowOutcome {
    uint64_t samples = 0, unboundReads = 0;
    bool anyLeft = false;
};

// The row of `width` rays, eight at a time. Needs AVX2.
RowOutcome TabledRowAvx2(const TabledRow& row, RayAccums ray, uint32_t width);

}  // namespace tulx7sim::chip

#pragma GCC visibility pop
