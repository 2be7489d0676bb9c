// The AVX2 shaded rows. Colours and gradients are four channels per lane
// where they come from memory (a table entry, a slab entry, a map cell),
// two lanes to a register, then transposed to one register per channel.
// The one place the lanes differ from the scalar row: a weight of 0 still
// blends its corner's gradient, which can change only the sign of a zero
// component, and a zero of either sign quantises to 0.
#include "chip_vector_lit_rows.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>

#include "chip_lanes_avx2.h"

namespace tulx7sim::chip {

namespace {

using namespace lanes;

// What a group of eight samples carries from their positions on.
struct Group {
    int liveMask = 0;
    __m256i live;
    __m256i f[3];                     // weights along u, v, w
    alignas(32) int32_t voxel[8];     // bytes from sample 0's voxel
    alignas(32) int32_t entry[8];     // slab entries from sample 0's, in bytes
};

// The four floats `bytes` bytes past `at`: tables and the slab read at byte
// offsets, which their loads take as they stand.
CHIP_AVX2 const float* At(const void* at, intptr_t bytes) {
    return reinterpret_cast<const float*>(static_cast<const char*>(at) + bytes);
}

// The slab's corners of sample 0's entry, one pointer each, so that a
// lane's corner loads at its pointer plus the lane's entry in bytes.
struct SlabCorners {
    const char* at[8];
    explicit SlabCorners(const LitRow& row) {
        static_assert(sizeof(Float4) == 16);
        for (int k = 0; k < 8; ++k) at[k] = reinterpret_cast<const char*>(row.slab + row.slabCorner[k]);
    }
};

CHIP_AVX2 void Locate(const LitRow& row, __m256i px, __m256i py, Group& g) {
    const __m256i qx = Mirror(px, row.flipX), qy = Mirror(py, row.flipY);
    const __m256i byteMask = _mm256_set1_epi32(255);
    g.f[row.laneOfX] = _mm256_and_si256(qx, byteMask);
    g.f[row.laneOfY] = _mm256_and_si256(qy, byteMask);
    g.f[row.laneOfZ] = _mm256_set1_epi32(row.fz);
    // Lanes that do not sample read sample 0's voxels, which exist.
    const __m256i alongX = _mm256_sub_epi32(_mm256_srai_epi32(qx, 8), _mm256_set1_epi32(row.firstX));
    const __m256i alongY = _mm256_sub_epi32(_mm256_srai_epi32(qy, 8), _mm256_set1_epi32(row.firstY));
    const __m256i voxel = _mm256_add_epi32(_mm256_mullo_epi32(alongX, _mm256_set1_epi32(row.strideX)),
                                           _mm256_mullo_epi32(alongY, _mm256_set1_epi32(row.strideY)));
    const __m256i entry = _mm256_add_epi32(alongX, _mm256_mullo_epi32(alongY, _mm256_set1_epi32(row.slabStrideY)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(g.voxel), _mm256_and_si256(voxel, g.live));
    _mm256_store_si256(reinterpret_cast<__m256i*>(g.entry), _mm256_slli_epi32(_mm256_and_si256(entry, g.live), 4));
    // Read back lane by lane from memory: one load each, where the compiler
    // would extract them from the vectors in two steps.
    asm("" : "+m"(g.voxel), "+m"(g.entry));
}

// The classified colours of the live lanes; counts entries past the table.
CHIP_AVX2 void ClassifyLanes(const LitRow& row, const Group& g, __m256 (&colour)[4], uint64_t& unbound) {
    __m256i v[8];
    VoxelPairs(row.first, row.corner, g.voxel, row.decode, v);
    const __m256i index = _mm256_and_si256(_mm256_srli_epi32(Trilinear(v, g.f), 8), g.live);
    const __m256i valid = _mm256_set1_epi32(static_cast<int>(row.valid));
    const __m256i past = _mm256_cmpgt_epi32(_mm256_add_epi32(index, _mm256_set1_epi32(1)), valid);
    unbound += static_cast<uint64_t>(
        __builtin_popcount(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_and_si256(past, g.live)))));
    alignas(32) int32_t entry[8];  // in bytes
    _mm256_store_si256(reinterpret_cast<__m256i*>(entry), _mm256_slli_epi32(index, 4));
    asm("" : "+m"(entry));  // as the offsets
    const float* at[8];
#pragma GCC unroll 8
    for (int l = 0; l < 8; ++l) at[l] = At(row.colours, entry[l]);
    Gather(at, colour);
}

// Lanes l and l + 4 of a vector, each across its half: element l of each
// half, which an in-half permute reaches without crossing halves. The
// permute reads the low two bits of each selector: the others make each
// row of selectors a constant the permute reads from memory as it stands,
// where a broadcast would be built in three steps.
CHIP_AVX2 __m256 PairOf(__m256 v, int l) {
    alignas(32) static constexpr int32_t kPair[4][8] = {{0, 4, 8, 12, 16, 20, 24, 28},
                                                        {1, 5, 9, 13, 17, 21, 25, 29},
                                                        {2, 6, 10, 14, 18, 22, 26, 30},
                                                        {3, 7, 11, 15, 19, 23, 27, 31}};
    return _mm256_permutevar_ps(v, _mm256_load_si256(reinterpret_cast<const __m256i*>(kPair[l])));
}

// Lanes l and l + 4 of four-float entries.
CHIP_AVX2 __m256 Entries(const float* low, const float* high) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(low)), _mm_loadu_ps(high), 1);
}

// a + (b - a) w, as LerpFloat4.
CHIP_AVX2 __m256 Blend(__m256 a, __m256 b, __m256 w) { return _mm256_add_ps(a, _mm256_mul_ps(_mm256_sub_ps(b, a), w)); }

// The gradient at each lane's position: the slab's eight corners blended,
// or its nearest voxel's.
__attribute__((always_inline)) CHIP_AVX2 void GradientLanes(const LitRow& row, const SlabCorners& corners,
                                                            const Group& g, __m256 (&gradient)[3]) {
    __m256 pair[4];
    if (row.interpolate) {
        const __m256 scale = _mm256_set1_ps(1.0f / 256.0f);  // f / 256 exactly
        const __m256 w[3] = {_mm256_mul_ps(_mm256_cvtepi32_ps(g.f[0]), scale),
                             _mm256_mul_ps(_mm256_cvtepi32_ps(g.f[1]), scale),
                             _mm256_mul_ps(_mm256_cvtepi32_ps(g.f[2]), scale)};
#pragma GCC unroll 4
        for (int l = 0; l < 4; ++l) {
            const intptr_t low = g.entry[l], high = g.entry[l + 4];
            __m256 c[8];
#pragma GCC unroll 8
            for (int k = 0; k < 8; ++k) c[k] = Entries(At(corners.at[k], low), At(corners.at[k], high));
            const __m256 w0 = PairOf(w[0], l), w1 = PairOf(w[1], l);
            const __m256 v0 = Blend(Blend(c[0], c[1], w0), Blend(c[2], c[3], w0), w1);
            const __m256 v1 = Blend(Blend(c[4], c[5], w0), Blend(c[6], c[7], w0), w1);
            pair[l] = Blend(v0, v1, PairOf(w[2], l));
        }
    } else {
        // One up along each axis whose weight rounds up.
        __m256i offset = _mm256_setzero_si256();
        for (int a = 0; a < 3; ++a) {
            const __m256i up = _mm256_cmpgt_epi32(g.f[a], _mm256_set1_epi32(127));
            offset = _mm256_add_epi32(offset, _mm256_and_si256(up, _mm256_set1_epi32(16 * row.slabCorner[1 << a])));
        }
        alignas(32) int32_t nearest[8];  // each lane's entry, in bytes from sample 0's
        _mm256_store_si256(reinterpret_cast<__m256i*>(nearest), _mm256_add_epi32(offset, _mm256_load_si256(
                                                                     reinterpret_cast<const __m256i*>(g.entry))));
        asm("" : "+m"(nearest));  // as the offsets
#pragma GCC unroll 4
        for (int l = 0; l < 4; ++l) pair[l] = Entries(At(row.slab, nearest[l]), At(row.slab, nearest[l + 4]));
    }
    __m256 c[4];
    Columns(pair, c);
    for (int a = 0; a < 3; ++a) gradient[a] = c[a];
}

// g * 511 rounded half away from zero and clamped to 9 bits, as Quantise9,
// exactly in float lanes. g * 512 is exact, so the product g * 512 - g is
// its rounding s plus the error e = (g * 512 - s) - g, exactly (Dekker's
// sum: |g * 512| >= |g|). The magnitude t of s has ulp u; its floor k and
// fraction r = t - k are exact, and |e| <= u / 2. Below 512, r and a half
// are both multiples of u (beyond, r is 0 and the result 511), so the
// product's magnitude rounds up where r passes a half, down where r falls
// short of it, and where r is a half exactly, up unless e points towards
// zero. A NaN comes out -511, infinities and overflows 511 of their sign.
// (Every float gives what the products in doubles give.)
CHIP_AVX2 __m256i Quantise9Lanes(__m256 g) {
    const __m256 sign = _mm256_set1_ps(-0.0f), half = _mm256_set1_ps(0.5f);
    const __m256 scaled512 = _mm256_mul_ps(g, _mm256_set1_ps(512.0f));
    const __m256 s = _mm256_sub_ps(scaled512, g);
    const __m256 e = _mm256_sub_ps(_mm256_sub_ps(scaled512, s), g);
    const __m256 t = _mm256_andnot_ps(sign, s);
    const __m256 k = _mm256_round_ps(t, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    const __m256 r = _mm256_sub_ps(t, k);
    const __m256i along = _mm256_cmpgt_epi32(_mm256_castps_si256(_mm256_xor_ps(e, s)), _mm256_set1_epi32(-1));
    const __m256 outward = _mm256_or_ps(_mm256_castsi256_ps(along), _mm256_cmp_ps(e, _mm256_setzero_ps(), _CMP_EQ_OQ));
    const __m256 up = _mm256_or_ps(_mm256_cmp_ps(r, half, _CMP_GT_OQ),
                                   _mm256_and_ps(_mm256_cmp_ps(r, half, _CMP_EQ_OQ), outward));
    const __m256 rounded = _mm256_add_ps(k, _mm256_and_ps(up, _mm256_set1_ps(1.0f)));
    const __m256 clamped = _mm256_min_ps(rounded, _mm256_set1_ps(511.0f));  // 511 for a NaN
    const __m256 positive = _mm256_cmp_ps(g, _mm256_setzero_ps(), _CMP_GE_OQ);
    return _mm256_cvttps_epi32(_mm256_or_ps(clamped, _mm256_andnot_ps(positive, sign)));
}

// The corrected gradient quantised to 9 bits a component, and its squared
// length.
CHIP_AVX2 void QuantiseLanes(const LitRow& row, const __m256 (&gradient)[3], __m256i (&g9)[3], __m256i& m2) {
    __m256 g[3] = {gradient[0], gradient[1], gradient[2]};
    if (row.correct)
        for (int a = 0; a < 3; ++a) {
            const __m256 sum = _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(row.correction[a][0]), gradient[0]),
                                             _mm256_mul_ps(_mm256_set1_ps(row.correction[a][1]), gradient[1]));
            g[a] = _mm256_add_ps(sum, _mm256_mul_ps(_mm256_set1_ps(row.correction[a][2]), gradient[2]));
        }
    m2 = _mm256_setzero_si256();
    for (int a = 0; a < 3; ++a) {
        g9[a] = Quantise9Lanes(g[a]);
        m2 = _mm256_add_epi32(m2, _mm256_mullo_epi32(g9[a], g9[a]));
    }
}

// The lanes whose quantised gradient is not zero: those that have a normal.
CHIP_AVX2 __m256 HasNormal(__m256i m2) {
    return _mm256_castsi256_ps(_mm256_xor_si256(_mm256_cmpeq_epi32(m2, _mm256_setzero_si256()), _mm256_set1_epi32(-1)));
}

// The quantised gradient's outward normal and N.E.
CHIP_AVX2 void NormalLanes(const LitRow& row, const __m256i (&g9)[3], __m256i m2, __m256 (&normal)[3],
                           __m256& facing) {
    const __m256 length = _mm256_sqrt_ps(_mm256_cvtepi32_ps(m2));
    const __m256 sign = _mm256_set1_ps(-0.0f);
    for (int a = 0; a < 3; ++a) normal[a] = _mm256_div_ps(_mm256_xor_ps(_mm256_cvtepi32_ps(g9[a]), sign), length);
    const __m256 sum = _mm256_add_ps(_mm256_mul_ps(normal[0], _mm256_set1_ps(row.eye[0])),
                                     _mm256_mul_ps(normal[1], _mm256_set1_ps(row.eye[1])));
    facing = _mm256_add_ps(sum, _mm256_mul_ps(normal[2], _mm256_set1_ps(row.eye[2])));
}

// The face of a map a direction reads: its dominant component (the first
// of the largest magnitudes), that component's magnitude, and the other two
// components in face order. `read` loses the lanes of zero length.
CHIP_AVX2 __m256i Face(const __m256 (&d)[3], __m256& read, __m256& dominant, __m256 (&other)[2]) {
    const __m256 sign = _mm256_set1_ps(-0.0f);
    const __m256 m[3] = {_mm256_andnot_ps(sign, d[0]), _mm256_andnot_ps(sign, d[1]), _mm256_andnot_ps(sign, d[2])};
    const __m256 over0 = _mm256_cmp_ps(m[1], m[0], _CMP_GT_OQ);
    dominant = _mm256_blendv_ps(m[0], m[1], over0);
    const __m256 over = _mm256_cmp_ps(m[2], dominant, _CMP_GT_OQ);
    dominant = _mm256_blendv_ps(dominant, m[2], over);
    read = _mm256_and_ps(read, _mm256_cmp_ps(dominant, _mm256_setzero_ps(), _CMP_GT_OQ));
    const __m256 isX = _mm256_andnot_ps(over, _mm256_andnot_ps(over0, _mm256_castsi256_ps(_mm256_set1_epi32(-1))));
    const __m256 along = _mm256_blendv_ps(_mm256_blendv_ps(d[1], d[0], isX), d[2], over);
    const __m256i axis = _mm256_blendv_epi8(_mm256_and_si256(_mm256_castps_si256(over0), _mm256_set1_epi32(1)),
                                            _mm256_set1_epi32(2), _mm256_castps_si256(over));
    const __m256 below = _mm256_cmp_ps(along, _mm256_setzero_ps(), _CMP_LT_OQ);
    const __m256i negative = _mm256_srli_epi32(_mm256_castps_si256(below), 31);
    other[0] = _mm256_blendv_ps(d[0], d[1], isX);
    other[1] = _mm256_blendv_ps(d[2], d[1], over);
    return _mm256_add_epi32(_mm256_slli_epi32(axis, 1), negative);
}

// A reflectance map at each lane's direction, as Shader::Map, on the lanes
// of `read`; black on the others. Counts the entries past the map.
CHIP_AVX2 void MapLanes(const Rgba* map, uint32_t valid, const __m256 (&d)[3], __m256 read, __m256 (&out)[3],
                        uint64_t& unbound) {
    // Flat voxels have no normal: often no lane of a group reads at all.
    if (_mm256_movemask_ps(read) == 0) {
        for (__m256& channel : out) channel = _mm256_setzero_ps();
        return;
    }
    __m256 dominant, other[2];
    const __m256i face = Face(d, read, dominant, other);
    // A lane that reads nothing divides by 1 and reads entry 0.
    const __m256 divisor = _mm256_blendv_ps(_mm256_set1_ps(1.0f), dominant, read);
    __m256i low[2], high[2];
    __m256 weight[2];
#pragma GCC unroll 2
    for (int k = 0; k < 2; ++k) {
        const __m256 q = _mm256_div_ps(other[k], divisor);
        const __m256 scaled = _mm256_sub_ps(_mm256_mul_ps(_mm256_add_ps(q, _mm256_set1_ps(1.0f)), _mm256_set1_ps(4.0f)),
                                            _mm256_set1_ps(0.5f));
        const __m256 cell = _mm256_min_ps(_mm256_max_ps(scaled, _mm256_setzero_ps()), _mm256_set1_ps(7.0f));
        low[k] = _mm256_cvttps_epi32(cell);
        high[k] = _mm256_min_epi32(_mm256_add_epi32(low[k], _mm256_set1_epi32(1)), _mm256_set1_epi32(7));
        weight[k] = _mm256_sub_ps(cell, _mm256_cvtepi32_ps(low[k]));
    }
    const __m256i readInt = _mm256_castps_si256(read);
    const __m256i base = _mm256_slli_epi32(face, 6);
    const __m256i rows[2] = {_mm256_add_epi32(base, _mm256_slli_epi32(low[1], 3)),
                             _mm256_add_epi32(base, _mm256_slli_epi32(high[1], 3))};
    alignas(32) int32_t at[4][8];  // in bytes
    const __m256i last = _mm256_set1_epi32(static_cast<int>(valid) - 1);
#pragma GCC unroll 4
    for (int e = 0; e < 4; ++e) {
        const __m256i index = _mm256_and_si256(_mm256_add_epi32(rows[e >> 1], e & 1 ? high[0] : low[0]), readInt);
        if (valid < 6 * 64)
            unbound += static_cast<uint64_t>(__builtin_popcount(
                _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_and_si256(_mm256_cmpgt_epi32(index, last), readInt)))));
        _mm256_store_si256(reinterpret_cast<__m256i*>(at[e]), _mm256_slli_epi32(index, 4));
    }
    asm("" : "+m"(at));  // as the offsets
    static_assert(sizeof(Rgba) == 16);
    __m256 pair[4];
#pragma GCC unroll 4
    for (int l = 0; l < 4; ++l) {
        __m256 e[4];
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) e[k] = Entries(At(map, at[k][l]), At(map, at[k][l + 4]));
        const __m256 w0 = PairOf(weight[0], l);
        pair[l] = Blend(Blend(e[0], e[1], w0), Blend(e[2], e[3], w0), PairOf(weight[1], l));
    }
    __m256 c[4];
    Columns(pair, c);
    for (int k = 0; k < 3; ++k) out[k] = _mm256_and_ps(c[k], read);
}

// What the two reflectance maps give each lane: black where a map is not
// read.
struct MapLight {
    __m256 diffuse[3], specular[3];
};

// The diffuse map at the normal and the specular map at the reflected eye,
// as Shader::Reflect, on the lanes of `lit`.
__attribute__((always_inline)) CHIP_AVX2 void MapsLanes(const LitRow& row, const __m256 (&normal)[3], __m256 lit, __m256 facing, MapLight& light,
                         uint64_t& unbound) {
    for (int k = 0; k < 3; ++k) light.diffuse[k] = light.specular[k] = _mm256_setzero_ps();
    if (row.diffuse != 0.0f) MapLanes(row.diffuseMap, row.diffuseValid, normal, lit, light.diffuse, unbound);
    if (row.specular != 0.0f) {
        __m256 read = lit;
        if (row.specularFrontOnly) read = _mm256_and_ps(read, _mm256_cmp_ps(facing, _mm256_setzero_ps(), _CMP_GT_OQ));
        __m256 direction[3];
        const __m256 twice = _mm256_mul_ps(_mm256_set1_ps(2.0f), facing);
        for (int a = 0; a < 3; ++a)
            direction[a] = row.bypassReflection
                               ? normal[a]
                               : _mm256_sub_ps(_mm256_mul_ps(twice, normal[a]), _mm256_set1_ps(row.eye[a]));
        MapLanes(row.specularMap, row.specularValid, direction, read, light.specular, unbound);
    }
}

// The lit colour of each lane from its classified colour and its maps' light:
// emissive, diffuse, specular and opacity weighting, as Shader::Reflect and
// LightAs. Inline, though long: as a call it measured slower.
__attribute__((always_inline)) CHIP_AVX2 void LightLanes(const LitRow& row, __m256 (&colour)[4], const MapLight& maps, __m256 lit) {
    __m256 diff[3], spec[3] = {};
    for (int k = 0; k < 3; ++k) diff[k] = _mm256_mul_ps(colour[k], _mm256_set1_ps(row.emissive));
    if (row.diffuse != 0.0f)
        for (int k = 0; k < 3; ++k) {
            const __m256 added = _mm256_mul_ps(_mm256_mul_ps(colour[k], _mm256_set1_ps(row.diffuse)), maps.diffuse[k]);
            diff[k] = _mm256_blendv_ps(diff[k], _mm256_add_ps(diff[k], added), lit);
        }
    const bool specular = row.specular != 0.0f;
    if (specular)
        for (int k = 0; k < 3; ++k)
            spec[k] = _mm256_mul_ps(_mm256_mul_ps(_mm256_set1_ps(row.specular), maps.specular[k]),
                                    _mm256_set1_ps(row.specularColour[k]));
    const __m256 alpha = colour[3];
    for (int k = 0; k < 3; ++k) {
        if (row.weighted) {
            const __m256 light = row.weightedSpecular ? _mm256_mul_ps(spec[k], alpha) : spec[k];
            colour[k] = specular ? _mm256_add_ps(_mm256_mul_ps(diff[k], alpha), light) : _mm256_mul_ps(diff[k], alpha);
        } else {
            colour[k] = specular ? _mm256_add_ps(diff[k], spec[k]) : diff[k];
        }
    }
}

// The memo's key of each lane's quantised gradient (its components' low 10
// bits, which hold them whole, below bit 31, which no empty slot has) and
// the byte offset of its slot.
template <bool Grey>
CHIP_AVX2 __m256i MemoKey(const __m256i (&g9)[3], __m256i& offset) {
    const __m256i bits = _mm256_set1_epi32(1023);
    const __m256i key = _mm256_or_si256(
        _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(g9[0], bits), 20),
                        _mm256_slli_epi32(_mm256_and_si256(g9[1], bits), 10)),
        _mm256_or_si256(_mm256_and_si256(g9[2], bits), _mm256_set1_epi32(INT32_MIN)));
    const __m256i hash = _mm256_mullo_epi32(key, _mm256_set1_epi32(static_cast<int>(0x9E3779B1u)));
    offset = _mm256_slli_epi32(_mm256_srli_epi32(hash, 32 - LightMemo::kSlotBits), Grey ? 4 : 5);
    return key;
}

// Eight rows of eight floats as eight columns.
CHIP_AVX2 void Transpose8(const __m256 (&r)[8], __m256 (&c)[8]) {
    __m256 t[8], u[8];
    for (int k = 0; k < 8; k += 2) {
        t[k] = _mm256_unpacklo_ps(r[k], r[k + 1]);
        t[k + 1] = _mm256_unpackhi_ps(r[k], r[k + 1]);
    }
    for (int k = 0; k < 8; k += 4) {
        u[k] = _mm256_shuffle_ps(t[k], t[k + 2], 0x44);
        u[k + 1] = _mm256_shuffle_ps(t[k], t[k + 2], 0xEE);
        u[k + 2] = _mm256_shuffle_ps(t[k + 1], t[k + 3], 0x44);
        u[k + 3] = _mm256_shuffle_ps(t[k + 1], t[k + 3], 0xEE);
    }
    for (int k = 0; k < 4; ++k) {
        c[k] = _mm256_permute2f128_ps(u[k], u[k + 4], 0x20);
        c[k + 4] = _mm256_permute2f128_ps(u[k], u[k + 4], 0x31);
    }
}

// The maps' light of every lane of `lanes` from the memo, if it holds all
// their gradients.
template <bool Grey>
CHIP_AVX2 bool Recall(const LightMemo& memo, __m256i key, __m256i offset, int lanes, MapLight& light) {
    alignas(32) int32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), offset);
    asm("" : "+m"(at));  // as the offsets
    const char* slots = memo.Slots();
    if constexpr (Grey) {
        const float* slot[8];
#pragma GCC unroll 8
        for (int l = 0; l < 8; ++l) slot[l] = reinterpret_cast<const float*>(slots + at[l]);
        __m256 c[4];
        Gather(slot, c);
        const int found = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_castps_si256(c[3]), key)));
        if ((found & lanes) != lanes) return false;
        for (int k = 0; k < 3; ++k) {
            light.diffuse[k] = c[0];
            light.specular[k] = c[1];
        }
    } else {
        __m256 r[8], c[8];
#pragma GCC unroll 8
        for (int l = 0; l < 8; ++l) r[l] = _mm256_load_ps(reinterpret_cast<const float*>(slots + at[l]));
        Transpose8(r, c);
        const int found = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_castps_si256(c[7]), key)));
        if ((found & lanes) != lanes) return false;
        for (int k = 0; k < 3; ++k) {
            light.diffuse[k] = c[k];
            light.specular[k] = c[3 + k];
        }
    }
    return true;
}

// Keeps the maps' light of the lanes of `lanes` in the memo.
template <bool Grey>
CHIP_AVX2 void Remember(LightMemo& memo, __m256i key, __m256i offset, int lanes, const MapLight& light) {
    constexpr int kValues = Grey ? 2 : 6;
    alignas(32) int32_t at[8], keys[8];
    alignas(32) float value[6][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), offset);
    _mm256_store_si256(reinterpret_cast<__m256i*>(keys), key);
    for (int k = 0; k < kValues / 2; ++k) {
        _mm256_store_ps(value[k], light.diffuse[k]);
        _mm256_store_ps(value[kValues / 2 + k], light.specular[k]);
    }
    char* slots = memo.Slots();
    for (; lanes != 0; lanes &= lanes - 1) {
        const int l = __builtin_ctz(static_cast<unsigned>(lanes));
        auto* slot = reinterpret_cast<float*>(slots + at[l]);
        for (int k = 0; k < kValues; ++k) slot[k] = value[k][l];
        std::memcpy(slot + (Grey ? 3 : 7), &keys[l], 4);
    }
}

// The lanes of alpha 0, as a bit mask.
CHIP_AVX2 int ClearLanes(__m256 alpha) {
    return _mm256_movemask_ps(_mm256_cmp_ps(alpha, _mm256_setzero_ps(), _CMP_EQ_OQ));
}

template <uint32_t Mode>
struct LitLanes {
    static constexpr int kAtOnce = 4;
    CHIP_AVX2 static RowOutcome Run(const LitRow& row, Ray* ray, uint32_t width) {
        RowOutcome outcome;
        // A sample of alpha 0 adds the same zeros in the modes that weight
        // by alpha whatever its light (lit colours are never negative, so
        // black gives the same signs): a group of them need not be lit,
        // unless a map that may be read past its entries counts the reads.
        constexpr bool kWeighting = Mode == NKW7_Code(NKW7_BlendMode::FrontToBack) ||
                                    Mode == NKW7_Code(NKW7_BlendMode::BackToFront);
        const bool darkClear = kWeighting && row.mapsWhole;
        const SlabCorners corners(row);
        for (uint32_t j = 0; j < row.rows; ++j, ray += width) {
            PositionLanes positions(row.x + j * row.rowDx, row.y + j * row.rowDy, row.dx, row.dy);
            Run(row, corners, darkClear, positions, ray, width, outcome);
        }
        return outcome;
    }

    // The lit colours of the groups that are not dark, each stage of all
    // of them before the next; their maps' light from the memo where it
    // holds a group's gradients, else worked out and left there.
    template <int Groups, bool Grey>
    CHIP_AVX2 static void LightRecalled(const LitRow& row, const Group (&g)[kAtOnce], const bool (&dark)[Groups],
                                        const __m256 (&gradient)[Groups][3], __m256 (&colour)[Groups][4],
                                        RowOutcome& outcome) {
        LightMemo& memo = *row.memo;
        __m256i g9[Groups][3], m2[Groups], key[Groups], offset[Groups];
        __m256 lit[Groups], normal[Groups][3], facing[Groups];
        MapLight maps[Groups];
        // Groups of no normal read no map: their light is black.
        bool found[Groups], flat[Groups];
        uint32_t groups = 0, recalled = 0;
        for (int k = 0; k < Groups; ++k) {
            found[k] = flat[k] = true;
            // What the compiler cannot tell the groups that skip these
            // never read.
            lit[k] = facing[k] = _mm256_setzero_ps();
            m2[k] = key[k] = offset[k] = _mm256_setzero_si256();
            if (dark[k]) continue;
            ++groups;
            QuantiseLanes(row, gradient[k], g9[k], m2[k]);
            lit[k] = _mm256_and_ps(HasNormal(m2[k]), _mm256_castsi256_ps(g[k].live));
            flat[k] = _mm256_movemask_ps(lit[k]) == 0;
            if (flat[k]) {
                for (int c = 0; c < 3; ++c) maps[k].diffuse[c] = maps[k].specular[c] = _mm256_setzero_ps();
                continue;
            }
            key[k] = MemoKey<Grey>(g9[k], offset[k]);
            found[k] = Recall<Grey>(memo, key[k], offset[k], g[k].liveMask, maps[k]);
            recalled += found[k] ? 1 : 0;
        }
        memo.Lit(groups, recalled);
        for (int k = 0; k < Groups; ++k)
            if (!found[k]) NormalLanes(row, g9[k], m2[k], normal[k], facing[k]);
        for (int k = 0; k < Groups; ++k)
            if (!found[k]) MapsLanes(row, normal[k], lit[k], facing[k], maps[k], outcome.unboundReads);
        for (int k = 0; k < Groups; ++k) {
            if (dark[k]) continue;
            if (!found[k]) Remember<Grey>(memo, key[k], offset[k], g[k].liveMask, maps[k]);
            LightLanes(row, colour[k], maps[k], lit[k]);
        }
    }

    // The lit colours of the groups that are not dark, each stage of all
    // of them before the next, worked out.
    template <int Groups>
    __attribute__((always_inline)) CHIP_AVX2 static void LightWorkedOut(const LitRow& row, const Group (&g)[kAtOnce],
                                                                         const bool (&dark)[Groups],
                                                                         const __m256 (&gradient)[Groups][3],
                                                                         __m256 (&colour)[Groups][4],
                                                                         RowOutcome& outcome) {
        __m256 normal[Groups][3], facing[Groups], lit[Groups];
        for (int k = 0; k < Groups; ++k) {
            if (dark[k]) continue;
            __m256i g9[3], m2;
            QuantiseLanes(row, gradient[k], g9, m2);
            NormalLanes(row, g9, m2, normal[k], facing[k]);
            lit[k] = _mm256_and_ps(HasNormal(m2), _mm256_castsi256_ps(g[k].live));
        }
        for (int k = 0; k < Groups; ++k) {
            if (dark[k]) continue;
            MapLight maps;
            MapsLanes(row, normal[k], lit[k], facing[k], maps, outcome.unboundReads);
            LightLanes(row, colour[k], maps, lit[k]);
        }
    }

    // The groups of a row up to four at a time, each stage of all of them
    // before the next: one group's work is a long chain, and the others'
    // fill its waits.
    CHIP_AVX2 static void Run(const LitRow& row, const SlabCorners& corners, bool darkClear, PositionLanes& positions,
                              Ray* ray, uint32_t width, RowOutcome& outcome) {
        Group g[kAtOnce];
        Ray* at[kAtOnce];
        uint32_t count[kAtOnce];
        int pending = 0;
        for (uint32_t i = 0; i < width; i += 8) {
            const uint32_t n = width - i < 8 ? width - i : 8;
            Group& next = g[pending];
            next.liveMask = LiveLanes(ray + i, n, row.earlyTermination, row.threshold);
            __m256i px, py;
            positions.Next(px, py);
            if (next.liveMask == 0) continue;
            outcome.anyLeft = true;
            next.live = LaneMask(next.liveMask);
            Locate(row, px, py, next);
            at[pending] = ray + i;
            count[pending] = n;
            if (++pending == kAtOnce) {
                Shade<kAtOnce>(row, corners, darkClear, g, at, count, outcome);
                pending = 0;
            }
        }
        if (pending == 1) Shade<1>(row, corners, darkClear, g, at, count, outcome);
        if (pending == 2) Shade<2>(row, corners, darkClear, g, at, count, outcome);
        if (pending == 3) Shade<3>(row, corners, darkClear, g, at, count, outcome);
    }

    // The first `Groups` groups of `g`, located already, shaded and
    // blended into the rays at `at`.
    template <int Groups>
    CHIP_AVX2 static void Shade(const LitRow& row, const SlabCorners& corners, bool darkClear,
                                const Group (&g)[kAtOnce], Ray* const (&at)[kAtOnce], const uint32_t (&count)[kAtOnce],
                                RowOutcome& outcome) {
        __m256 colour[Groups][4], gradient[Groups][3];
        bool dark[Groups];
        for (int k = 0; k < Groups; ++k) ClassifyLanes(row, g[k], colour[k], outcome.unboundReads);
        for (int k = 0; k < Groups; ++k)
            dark[k] = darkClear && (ClearLanes(colour[k][3]) & g[k].liveMask) == g[k].liveMask;
        for (int k = 0; k < Groups; ++k)
            if (!dark[k]) GradientLanes(row, corners, g[k], gradient[k]);
        if (row.memo != nullptr && row.memo->Looking()) {
            if (row.memo->Grey())
                LightRecalled<Groups, true>(row, g, dark, gradient, colour, outcome);
            else
                LightRecalled<Groups, false>(row, g, dark, gradient, colour, outcome);
        } else {
            LightWorkedOut<Groups>(row, g, dark, gradient, colour, outcome);
        }
        for (int k = 0; k < Groups; ++k)
            if (dark[k])
                for (int c = 0; c < 3; ++c) colour[k][c] = _mm256_setzero_ps();
        for (int k = 0; k < Groups; ++k) BlendGroup(row, g[k], at[k], count[k], colour[k], dark[k], outcome);
    }

    // A group's shaded colours blended into its rays, but for those space
    // leaping passes over. A dark group's samples are counted but change no
    // ray: in the two modes that weight by alpha, a colour and alpha of 0
    // add zeros (or keep the whole accumulator, times 1) to accumulators
    // that are finite and never -0, as they start from fields read as
    // integers and every blend before added to them; each stays as it was.
    CHIP_AVX2 static void BlendGroup(const LitRow& row, const Group& g, Ray* ray, uint32_t n, const __m256 (&colour)[4],
                                     bool dark, RowOutcome& outcome) {
        __m256i blend = g.live;
        if (row.leaping) {
            const __m256 empty = _mm256_cmp_ps(colour[3], _mm256_set1_ps(row.emptyThreshold), _CMP_LE_OQ);
            blend = _mm256_andnot_si256(_mm256_castps_si256(empty), blend);
        }
        const int blendMask = _mm256_movemask_ps(_mm256_castsi256_ps(blend));
        outcome.samples += static_cast<uint64_t>(__builtin_popcount(blendMask));
        if (blendMask != 0 && !dark) BlendIntoRays<Mode>(ray, n, blendMask, blend, colour);
    }
};

}  // namespace

namespace {

// Slots of a memo for 2^kSlotBits gradients, of each layout.
size_t SlotBytes(bool grey) { return grey ? 16 : 32; }

// Memos renders gave back, the newest last: at most a few, one for each
// thread of a render or two, so that frames of the same lighting find
// their memos filled.
struct KeptMemos {
    static constexpr size_t kMost = 16;
    std::mutex mutex;
    std::vector<std::unique_ptr<LightMemo>> memos;
};
KeptMemos& Kept() {
    static KeptMemos* const kept = new KeptMemos;  // for every thread until the process ends
    return *kept;
}

bool SameFloats(const std::vector<Rgba>& a, const std::vector<Rgba>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Rgba)) == 0);
}

}  // namespace

bool LightInputs::Grey() const {
    for (const std::vector<Rgba>* map : {&diffuseMap, &specularMap})
        for (const Rgba& e : *map)
            if (std::memcmp(&e.c[0], &e.c[1], sizeof(float)) != 0 || std::memcmp(&e.c[0], &e.c[2], sizeof(float)) != 0)
                return false;
    return true;
}

bool LightInputs::Same(const LightInputs& other) const {
    return diffuse == other.diffuse && specular == other.specular && bypassReflection == other.bypassReflection &&
           specularFrontOnly == other.specularFrontOnly && std::memcmp(eye, other.eye, sizeof eye) == 0 &&
           SameFloats(diffuseMap, other.diffuseMap) && SameFloats(specularMap, other.specularMap);
}

LightMemo::LightMemo(const LightInputs& inputs) : m_inputs(inputs), m_grey(inputs.Grey()) {
    // calloc leaves the pages it maps untouched until used, and zeroed:
    // empty slots. One slot more, to align them.
    const size_t size = SlotBytes(m_grey);
    m_block = std::calloc((size_t{1} << kSlotBits) + 1, size);
    if (m_block == nullptr) return;
    const auto at = reinterpret_cast<uintptr_t>(m_block);
    m_slots = reinterpret_cast<char*>((at + size - 1) / size * size);
}

LightMemo::~LightMemo() { std::free(m_block); }

void LightMemo::Empty(const LightInputs& inputs) {
    m_inputs = inputs;
    std::memset(m_slots, 0, SlotBytes(m_grey) << kSlotBits);
}

void LightMemo::Restart() {
    m_groups = m_found = m_pause = m_wait = 0;
    m_looking = true;
    m_missing = false;
}

LightMemo* LightMemo::Take(const LightInputs& inputs) {
    const bool grey = inputs.Grey();
    std::unique_ptr<LightMemo> memo;
    {
        KeptMemos& kept = Kept();
        const std::lock_guard<std::mutex> lock(kept.mutex);
        std::vector<std::unique_ptr<LightMemo>>& memos = kept.memos;
        auto found = std::find_if(memos.rbegin(), memos.rend(), [&](const auto& m) { return m->m_inputs.Same(inputs); });
        if (found == memos.rend())
            found = std::find_if(memos.rbegin(), memos.rend(), [&](const auto& m) { return m->m_grey == grey; });
        if (found != memos.rend()) {
            memo = std::move(*found);
            memos.erase(std::next(found).base());
        }
    }
    if (memo && !memo->m_inputs.Same(inputs)) memo->Empty(inputs);
    if (!memo) {
        memo.reset(new (std::nothrow) LightMemo(inputs));
        if (memo == nullptr || memo->m_slots == nullptr) return nullptr;
    }
    memo->Restart();
    return memo.release();
}

void LightMemo::Give(LightMemo* memo) {
    std::unique_ptr<LightMemo> given(memo);
    KeptMemos& kept = Kept();
    const std::lock_guard<std::mutex> lock(kept.mutex);
    kept.memos.push_back(std::move(given));
    if (kept.memos.size() > KeptMemos::kMost) kept.memos.erase(kept.memos.begin());
}

RowOutcome LitRowAvx2(const LitRow& row, Ray* ray, uint32_t width) {
    return OfMode<LitLanes>(row.mode, row, ray, width);
}

}  // namespace tulx7sim::chip
