// The AVX2 rows and the run-time choice of instruction set. Lanes hold eight
// neighbouring rays of a row; every integer step is the scalar one in 32-bit
// lanes, and the float blend keeps the scalar order of operations (no fused
// multiply-adds: the target is AVX2 alone).
#include "chip_vector_rows.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "chip_lanes_avx2.h"

namespace tulx7sim::chip {

namespace {

bool CpuHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}

ChipIsa DefaultIsa() {
    const char* text = std::getenv("TULX7SIM_ISA");
    if (text != nullptr && std::strcmp(text, "scalar") == 0) return ChipIsa::kScalar;
    return CpuHasAvx2() ? ChipIsa::kAvx2 : ChipIsa::kScalar;
}

// -1 while no test forces one.
std::atomic<int> gForced{-1};

}  // namespace

ChipIsa ActiveIsa() {
    static const ChipIsa kDefault = DefaultIsa();
    const int forced = gForced.load(std::memory_order_relaxed);
    return forced < 0 ? kDefault : static_cast<ChipIsa>(forced);
}

void ForceIsa(ChipIsa isa) {
    static const bool kAvx2 = CpuHasAvx2();
    gForced.store(static_cast<int>(isa == ChipIsa::kAvx2 && !kAvx2 ? ChipIsa::kScalar : isa));
}

void RestoreIsa() { gForced.store(-1); }

namespace {

using namespace lanes;

// Which of the n rays from `ray` sample: under early termination, those
// whose alpha has not reached the threshold (ordered: an alpha that is not
// a number stops no ray, as in the scalar test).
CHIP_AVX2 int LiveAccums(const RayAccums& ray, uint32_t n, bool earlyTermination, __m256 threshold) {
    const int all = (1 << n) - 1;
    if (!earlyTermination) return all;
    return all & ~_mm256_movemask_ps(_mm256_cmp_ps(_mm256_loadu_ps(ray.c[3]), threshold, _CMP_GE_OQ));
}

// Blends the colours `in` into the accumulators of the eight rays from
// `ray` on the lanes of `blend` (a bit mask, and the same as lanes); the
// others keep their bits, the rays past the row's end among them.
template <uint32_t Mode>
CHIP_AVX2 void BlendIntoAccums(const RayAccums& ray, int blend, __m256i blendLanes, const __m256 (&in)[4]) {
    __m256 acc[4];
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) acc[k] = _mm256_loadu_ps(ray.c[k]);
    if (blend == 0xFF)
        BlendLanes<Mode, false>(acc, in, _mm256_castsi256_ps(blendLanes));
    else
        BlendLanes<Mode>(acc, in, _mm256_castsi256_ps(blendLanes));
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) _mm256_storeu_ps(ray.c[k], acc[k]);
}

template <int Bytes>
struct TabledLanes {
    template <uint32_t Mode>
    struct OfMode {
        CHIP_AVX2 static RowOutcome Run(const TabledRow& row, RayAccums ray, uint32_t width);
    };
};

template <int Bytes>
template <uint32_t Mode>
CHIP_AVX2 RowOutcome TabledLanes<Bytes>::OfMode<Mode>::Run(const TabledRow& row, RayAccums ray, uint32_t width) {
    RowOutcome outcome;
    const __m256 threshold = _mm256_set1_ps(row.threshold);
    const __m256i firstX = _mm256_set1_epi32(row.firstX), firstY = _mm256_set1_epi32(row.firstY);
    const __m256i strideX = _mm256_set1_epi32(row.strideX), strideY = _mm256_set1_epi32(row.strideY);
    const __m256i byteMask = _mm256_set1_epi32(255);
    const __m256i valid = _mm256_set1_epi32(static_cast<int>(row.valid));
    for (uint32_t j = 0; j < row.rows; ++j, ray = ray.From(width)) {
    const uint32_t begin = row.spans != nullptr ? row.spans[j][0] : 0;
    const uint32_t end = row.spans != nullptr ? row.spans[j][1] : width;
    PositionLanes positions(row.x + j * row.rowDx + begin * row.dx, row.y + j * row.rowDy + begin * row.dy, row.dx,
                            row.dy);
    for (uint32_t i = begin; i < end; i += 8) {
        const uint32_t n = end - i < 8 ? end - i : 8;
        const int liveMask = LiveAccums(ray.From(i), n, row.earlyTermination, threshold);
        __m256i px, py;
        positions.Next(px, py);
        if (liveMask == 0) continue;
        outcome.anyLeft = true;
        const __m256i liveInt = LaneMask(liveMask);
        const __m256i qx = Mirror(px, row.flipX), qy = Mirror(py, row.flipY);
        // Lanes that do not sample read sample 0's voxels, which exist.
        const __m256i alongX = _mm256_mullo_epi32(_mm256_sub_epi32(_mm256_srai_epi32(qx, 8), firstX), strideX);
        const __m256i alongY = _mm256_mullo_epi32(_mm256_sub_epi32(_mm256_srai_epi32(qy, 8), firstY), strideY);
        alignas(32) int32_t offset[8];
        const __m256i offsets = _mm256_and_si256(_mm256_add_epi32(alongX, alongY), liveInt);
        _mm256_store_si256(reinterpret_cast<__m256i*>(offset), offsets);
        // Read back lane by lane from memory: one load each, where the
        // compiler would extract them from the vector in two steps.
        asm("" : "+m"(offset));
        if (row.ahead != 0) {
            // Fetched while this slice computes, so the next finds them in
            // cache; the addresses are only hints.
            const uint8_t* ahead = row.first + row.ahead;
#pragma GCC unroll 4
            for (const int32_t corner : row.planeCorner) {
                __builtin_prefetch(ahead + corner + offset[0]);
                __builtin_prefetch(ahead + corner + offset[n - 1]);
            }
        }
        __m256i f[3];
        f[row.laneOfX] = _mm256_and_si256(qx, byteMask);
        f[row.laneOfY] = _mm256_and_si256(qy, byteMask);
        f[row.laneOfZ] = _mm256_set1_epi32(row.fz);
        __m256i v[8];
        if constexpr (Bytes == 1) {
            VoxelPairs(row.first, row.corner, offset, row.decode, v);
        } else {
#pragma GCC unroll 4
            for (int c = 0; c < 8; c += 2)
                VoxelPair<Bytes>(row.first + row.corner[c], offset, row.decode, v[c], v[c + 1]);
        }
        const __m256i index = _mm256_and_si256(_mm256_srli_epi32(Trilinear(v, f), 8), liveInt);
        // An index is at most 255: a table of 256 entries counts no read.
        if (row.valid < 256) {
            const __m256i past = _mm256_cmpgt_epi32(_mm256_add_epi32(index, _mm256_set1_epi32(1)), valid);
            const int unbound = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_and_si256(past, liveInt)));
            outcome.unboundReads += static_cast<uint64_t>(__builtin_popcount(unbound));
        }
        outcome.samples += static_cast<uint64_t>(__builtin_popcount(liveMask));
        alignas(32) int32_t entry[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(entry), index);
        asm("" : "+m"(entry));  // as the offsets
        const float* inAt[8];
#pragma GCC unroll 8
        for (int l = 0; l < 8; ++l) inAt[l] = row.emitted[entry[l]].c;
        __m256 in[4];
        Gather(inAt, in);
        BlendIntoAccums<Mode>(ray.From(i), liveMask, liveInt, in);
    }
    }
    return outcome;
}

// A placement's voxel axes and strides, from the voxel at `first`, whose
// coordinates along the axes the rows span are (firstX, firstY).
void PlaceAt(const Setup& s, int64_t qz, int64_t firstX, int64_t firstY, const uint8_t* first, RowVoxels& row) {
    const DirectBox& box = s.voxels;
    row.flipX = s.negate[0] ? -1 : 0;
    row.flipY = s.negate[1] ? -1 : 0;
    row.firstX = static_cast<int32_t>(firstX);
    row.firstY = static_cast<int32_t>(firstY);
    row.laneOfX = s.select[0];
    row.laneOfY = s.select[1];
    row.laneOfZ = s.select[2];
    row.fz = static_cast<int32_t>(qz & 255);
    row.first = first;
    row.strideX = static_cast<int32_t>(box.stride[s.select[0]]);
    row.strideY = static_cast<int32_t>(box.stride[s.select[1]]);
    int64_t corner[8];
    box.Corners(corner);
    for (int c = 0; c < 8; ++c) row.corner[c] = static_cast<int32_t>(corner[c]);
}

// The steps of a tile's rays along its rows and from row to row.
void TileSteps(const Slice& slice, uint32_t height, RowVoxels& row) {
    row.dx = static_cast<uint64_t>(slice.xx);
    row.dy = static_cast<uint64_t>(slice.yx);
    row.rows = height;
    row.rowDx = static_cast<uint64_t>(slice.xy);
    row.rowDy = static_cast<uint64_t>(slice.yy);
}

}  // namespace

bool PlaceRow(const Setup& s, int64_t qz, uint64_t x, uint64_t y, uint64_t dx, uint64_t dy, uint32_t width,
              RowVoxels& row) {
    const uint64_t span = width - 1;
    const uint64_t xs[4] = {x, x + span * dx, x, x}, ys[4] = {y, y + span * dy, y, y};
    row.dx = dx;
    row.dy = dy;
    return PlaceSamples(s, qz, xs, ys, row);
}

bool PlaceSamples(const Setup& s, int64_t qz, const uint64_t (&x)[4], const uint64_t (&y)[4], RowVoxels& row) {
    const DirectBox& box = s.voxels;
    row.x = x[0];
    row.y = y[0];
    const int ax = s.select[0], ay = s.select[1], az = s.select[2];
    row.flipX = s.negate[0] ? -1 : 0;
    row.flipY = s.negate[1] ? -1 : 0;
    auto voxel = [](uint64_t raw, int64_t flip) {
        const int64_t p = static_cast<int64_t>(raw) >> 32;
        return ((p ^ flip) + (flip & -255)) >> 8;
    };
    // The voxel coordinates of sample 0 and how far the others reach from
    // it; those between lie within them.
    const int64_t x0 = voxel(x[0], row.flipX), y0 = voxel(y[0], row.flipY);
    const int64_t strideX = box.stride[ax], strideY = box.stride[ay];
    int64_t corner[8];
    box.Corners(corner);
    int64_t reach[2] = {}, lowest[2] = {};
    for (int c = 1; c < 4; ++c) {
        const int64_t along[2] = {(voxel(x[c], row.flipX) - x0) * strideX, (voxel(y[c], row.flipY) - y0) * strideY};
        for (int k = 0; k < 2; ++k) {
            reach[k] = std::max(reach[k], std::abs(along[k]));
            lowest[k] = std::min(lowest[k], along[k]);
        }
    }
    // Lane offsets from sample 0 and the corners must fit in 32 bits, and
    // the word read before a narrow voxel must start inside storage.
    constexpr int64_t kLimit = int64_t{1} << 30;
    if (strideX >= kLimit || strideY >= kLimit || corner[7] >= kLimit || reach[0] + reach[1] + corner[7] >= kLimit)
        return false;
    const int64_t firstOffset = ((qz >> 8) - box.origin[az]) * box.stride[az] + (x0 - box.origin[ax]) * strideX +
                                (y0 - box.origin[ay]) * strideY;
    if (firstOffset + lowest[0] + lowest[1] < (box.bytes == 1 ? 2 : 0)) return false;
    PlaceAt(s, qz, x0, y0, box.data + firstOffset, row);
    return true;
}

bool PlaceTile(const Setup& s, const Slice& slice, const TileCorners& corners, uint32_t height, RowVoxels& row) {
    uint64_t x[4], y[4];
    for (int c = 0; c < 4; ++c) {
        x[c] = static_cast<uint64_t>(corners.x[c]);
        y[c] = static_cast<uint64_t>(corners.y[c]);
    }
    if (!PlaceSamples(s, s.negate[2] ? -slice.z256 - 256 : slice.z256, x, y, row)) return false;
    TileSteps(slice, height, row);
    return true;
}

bool PlaceTileInStorage(const Setup& s, const Slice& slice, const TileCorners& corners, uint32_t height,
                        RowVoxels& row) {
    const DirectBox& box = s.voxels;
    const int ax = s.select[0], ay = s.select[1], az = s.select[2];
    // Offsets from the storage's first voxel of the plane reach at most
    // the last voxel of the box along the two axes the rows span.
    constexpr int64_t kLimit = int64_t{1} << 30;
    int64_t corner[8];
    box.Corners(corner);
    const int64_t reach =
        (box.high[ax] - box.origin[ax]) * box.stride[ax] + (box.high[ay] - box.origin[ay]) * box.stride[ay];
    if (box.stride[ax] >= kLimit || box.stride[ay] >= kLimit || corner[7] >= kLimit || reach + corner[7] >= kLimit)
        return false;
    const int64_t qz = s.negate[2] ? -slice.z256 - 256 : slice.z256;
    row.x = static_cast<uint64_t>(corners.x[0]);
    row.y = static_cast<uint64_t>(corners.y[0]);
    PlaceAt(s, qz, box.origin[ax], box.origin[ay], box.data + ((qz >> 8) - box.origin[az]) * box.stride[az], row);
    TileSteps(slice, height, row);
    return true;
}

RowOutcome TabledRowAvx2(const TabledRow& row, RayAccums ray, uint32_t width) {
    switch (row.bytes) {
        case 1: return OfMode<TabledLanes<1>::OfMode>(row.mode, row, ray, width);
        case 2: return OfMode<TabledLanes<2>::OfMode>(row.mode, row, ray, width);
        default: return OfMode<TabledLanes<4>::OfMode>(row.mode, row, ray, width);
    }
}

}  // namespace tulx7sim::chip
