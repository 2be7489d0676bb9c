// The AVX2 steps the vector rows share. Lanes hold eight neighbouring rays
// of a row; every integer step is the scalar one in 32-bit lanes, and float
// steps keep the scalar order of operations (no fused multiply-adds: the
// functions target AVX2 alone). Include only from files of AVX2 kernels.
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "chip_arithmetic.h"
#include "chip_kernels.h"
#include "chip_vector_rows.h"

// The chip's internals bind inside the library, so its calls inline.
#pragma GCC visibility push(hidden)

namespace tulx7sim::chip::lanes {

#define CHIP_AVX2 __attribute__((target("avx2"))) inline

// n d modulo 2^64, for n below 2^32.
CHIP_AVX2 __m256i Times(__m256i n, __m256i d) {
    const __m256i low = _mm256_mul_epu32(n, d);
    const __m256i high = _mm256_slli_epi64(_mm256_mul_epu32(n, _mm256_srli_epi64(d, 32)), 32);
    return _mm256_add_epi64(low, high);
}

// The raw positions of eight neighbouring samples of a row, stepped in
// 64-bit lanes: they wrap exactly as the scalar sums do.
class PositionLanes {
public:
    CHIP_AVX2 PositionLanes(uint64_t x, uint64_t y, uint64_t dx, uint64_t dy) {
        const __m256i lane = _mm256_setr_epi64x(0, 1, 2, 3), four = _mm256_set1_epi64x(4);
        const __m256i stepX = _mm256_set1_epi64x(static_cast<int64_t>(dx));
        const __m256i stepY = _mm256_set1_epi64x(static_cast<int64_t>(dy));
        m_x[0] = _mm256_add_epi64(_mm256_set1_epi64x(static_cast<int64_t>(x)), Times(lane, stepX));
        m_x[1] = _mm256_add_epi64(m_x[0], Times(four, stepX));
        m_y[0] = _mm256_add_epi64(_mm256_set1_epi64x(static_cast<int64_t>(y)), Times(lane, stepY));
        m_y[1] = _mm256_add_epi64(m_y[0], Times(four, stepY));
        m_stepX = Times(_mm256_set1_epi64x(8), stepX);
        m_stepY = Times(_mm256_set1_epi64x(8), stepY);
    }
    // The floors in 1/256 voxel of the next eight samples (which the kernel
    // has checked to fit in 32 bits), then a step of eight.
    CHIP_AVX2 void Next(__m256i& px, __m256i& py) {
        px = HighHalves(m_x[0], m_x[1]);
        py = HighHalves(m_y[0], m_y[1]);
        for (int k = 0; k < 2; ++k) {
            m_x[k] = _mm256_add_epi64(m_x[k], m_stepX);
            m_y[k] = _mm256_add_epi64(m_y[k], m_stepY);
        }
    }

private:
    // The high halves of the eight 64-bit positions in `low` (lanes 0-3)
    // and `high` (lanes 4-7).
    CHIP_AVX2 static __m256i HighHalves(__m256i low, __m256i high) {
        const __m256 mixed = _mm256_shuffle_ps(_mm256_castsi256_ps(low), _mm256_castsi256_ps(high), 0xDD);
        return _mm256_permute4x64_epi64(_mm256_castps_si256(mixed), 0xD8);
    }

    __m256i m_x[2], m_y[2], m_stepX, m_stepY;
};

// P in 1/256 voxel after the axis's mirror: ~P - 255 where `flip` is -1.
CHIP_AVX2 __m256i Mirror(__m256i p, int64_t flip) {
    const __m256i mask = _mm256_set1_epi32(static_cast<int>(flip));
    return _mm256_add_epi32(_mm256_xor_si256(p, mask), _mm256_and_si256(mask, _mm256_set1_epi32(-255)));
}

// a + (((b - a) f + 128) >> 8), as Shader::Lerp; the product fits in 32 bits.
CHIP_AVX2 __m256i Lerp(__m256i a, __m256i b, __m256i f) {
    const __m256i product = _mm256_mullo_epi32(_mm256_sub_epi32(b, a), f);
    return _mm256_add_epi32(a, _mm256_srai_epi32(_mm256_add_epi32(product, _mm256_set1_epi32(128)), 8));
}

CHIP_AVX2 void Decode(__m256i e0, __m256i e1, const FieldDecode& decode, __m256i& v0, __m256i& v1);

// The field's values in the two- or four-byte voxels at `at` plus each
// lane's byte offset and in their neighbours along u, the next elements in
// storage, loaded lane by lane (one-byte voxels: VoxelPairs).
template <int Bytes>
CHIP_AVX2 void VoxelPair(const uint8_t* at, const int32_t (&offset)[8], const FieldDecode& decode, __m256i& v0,
                         __m256i& v1) {
    static_assert(Bytes == 2 || Bytes == 4);
    __m256i e0, e1;
    if constexpr (Bytes == 2) {
        uint32_t pair[8];
#pragma GCC unroll 8
        for (int l = 0; l < 8; ++l) std::memcpy(&pair[l], at + offset[l], 4);
        const __m256i word = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pair));
        e0 = _mm256_and_si256(word, _mm256_set1_epi32(0xFFFF));
        e1 = _mm256_srli_epi32(word, 16);
    } else {
        uint64_t pair[8];
#pragma GCC unroll 8
        for (int l = 0; l < 8; ++l) std::memcpy(&pair[l], at + offset[l], 8);
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pair));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pair + 4));
        // Even dwords are the voxels, odd ones their neighbours.
        const __m256 even = _mm256_shuffle_ps(_mm256_castsi256_ps(low), _mm256_castsi256_ps(high), 0x88);
        const __m256 odd = _mm256_shuffle_ps(_mm256_castsi256_ps(low), _mm256_castsi256_ps(high), 0xDD);
        e0 = _mm256_permute4x64_epi64(_mm256_castps_si256(even), 0xD8);
        e1 = _mm256_permute4x64_epi64(_mm256_castps_si256(odd), 0xD8);
    }
    Decode(e0, e1, decode, v0, v1);
}

// The field's values in two vectors of elements, as a voxel pair's.
CHIP_AVX2 void Decode(__m256i e0, __m256i e1, const FieldDecode& decode, __m256i& v0, __m256i& v1) {
    if (decode.byteValue != nullptr) {
        v0 = _mm256_i32gather_epi32(decode.byteValue, e0, 4);
        v1 = _mm256_i32gather_epi32(decode.byteValue, e1, 4);
        return;
    }
    const __m256i shift = _mm256_set1_epi32(static_cast<int>(decode.shift));
    const __m256i mask = _mm256_set1_epi32(static_cast<int>((1u << decode.bits) - 1));
    const __m256i factor = _mm256_set1_epi32(decode.factor);
    v0 = _mm256_mullo_epi32(_mm256_and_si256(_mm256_srlv_epi32(e0, shift), mask), factor);
    v1 = _mm256_mullo_epi32(_mm256_and_si256(_mm256_srlv_epi32(e1, shift), mask), factor);
}

// The field's values in the eight neighbours of one-byte voxels at `at`
// plus each lane's byte offset, as four voxel pairs along u (corners from
// `corner`): each pair's two bytes loaded lane by lane and packed in
// general registers, which costs fewer cycles than gathers where those are
// microcoded.
CHIP_AVX2 void VoxelPairs(const uint8_t* at, const int32_t (&corner)[8], const int32_t (&offset)[8],
                          const FieldDecode& decode, __m256i (&v)[8]) {
    uint64_t packed[2][4];
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
        uint64_t word[4] = {};
#pragma GCC unroll 4
        for (int l = 0; l < 4; ++l) {
            const uint8_t* voxel = at + offset[4 * h + l];
#pragma GCC unroll 4
            for (int k = 0; k < 4; ++k) {
                uint16_t pair;
                std::memcpy(&pair, voxel + corner[2 * k], 2);
                word[k] |= uint64_t{pair} << (16 * l);
            }
        }
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) packed[h][k] = word[k];
    }
    if (decode.byteValue != nullptr) {
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            const __m256i pairs = _mm256_cvtepu16_epi32(
                _mm_set_epi64x(static_cast<int64_t>(packed[1][k]), static_cast<int64_t>(packed[0][k])));
            Decode(_mm256_and_si256(pairs, _mm256_set1_epi32(255)), _mm256_srli_epi32(pairs, 8), decode, v[2 * k],
                   v[2 * k + 1]);
        }
        return;
    }
    // A field of up to 8 bits of a byte, replicated, is at most 65535: the
    // decoding fits the pairs' 16-bit halves, before they are widened.
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(decode.shift));
    const __m128i mask = _mm_set1_epi16(static_cast<int16_t>((1u << std::min(decode.bits, 8u)) - 1));
    const __m128i factor = _mm_set1_epi16(static_cast<int16_t>(decode.factor));
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        const __m128i pairs = _mm_set_epi64x(static_cast<int64_t>(packed[1][k]), static_cast<int64_t>(packed[0][k]));
        const __m128i e0 = _mm_and_si128(pairs, _mm_set1_epi16(255)), e1 = _mm_srli_epi16(pairs, 8);
        v[2 * k] = _mm256_cvtepu16_epi32(_mm_mullo_epi16(_mm_and_si128(_mm_srl_epi16(e0, shift), mask), factor));
        v[2 * k + 1] = _mm256_cvtepu16_epi32(_mm_mullo_epi16(_mm_and_si128(_mm_srl_epi16(e1, shift), mask), factor));
    }
}

// The trilinear value of eight voxels: pairs along u in v[0..7] (corner c
// one up along axis k when bit k of c is set), weights f along u, v, w.
CHIP_AVX2 __m256i Trilinear(const __m256i (&v)[8], const __m256i (&f)[3]) {
    const __m256i u0 = Lerp(v[0], v[1], f[0]), u1 = Lerp(v[2], v[3], f[0]);
    const __m256i u2 = Lerp(v[4], v[5], f[0]), u3 = Lerp(v[6], v[7], f[0]);
    return Lerp(Lerp(u0, u1, f[1]), Lerp(u2, u3, f[1]), f[2]);
}

// 4 x 4 transposes in each 128-bit half: r[l] holds lane l in its low half
// and lane l + 4 in its high half, c[k] channel k of lanes 0-7; and back.
CHIP_AVX2 void Columns(const __m256 (&r)[4], __m256 (&c)[4]) {
    const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    c[0] = _mm256_shuffle_ps(t0, t2, 0x44);
    c[1] = _mm256_shuffle_ps(t0, t2, 0xEE);
    c[2] = _mm256_shuffle_ps(t1, t3, 0x44);
    c[3] = _mm256_shuffle_ps(t1, t3, 0xEE);
}
CHIP_AVX2 void Rows(const __m256 (&c)[4], __m256 (&r)[4]) { Columns(c, r); }

// Four channels of eight colours, one 16-byte colour per lane, as one
// vector per channel.
CHIP_AVX2 void Gather(const float* const (&at)[8], __m256 (&c)[4]) {
    __m256 r[4];
#pragma GCC unroll 4
    for (int l = 0; l < 4; ++l)
        r[l] = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(at[l])), _mm_loadu_ps(at[l + 4]), 1);
    Columns(r, c);
}

// The lanes of a bit mask as all-ones lanes.
CHIP_AVX2 __m256i LaneMask(int mask) {
    const __m256i bit = _mm256_sllv_epi32(_mm256_set1_epi32(1), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(mask), bit), bit);
}

// Which of the n rays from `ray` sample: not done nor, under early
// termination, terminated here.
inline int LiveLanes(Ray* ray, uint32_t n, bool earlyTermination, float threshold) {
    int live = (1 << n) - 1;
    if (!earlyTermination) return live;
    for (uint32_t l = 0; l < n; ++l) {
        Ray& r = ray[l];
        if (!r.done && r.accum.c[3] >= threshold) r.done = true;
        if (r.done) live &= ~(1 << l);
    }
    return live;
}

// Accum of the mode, as Blend, on the lanes of `live` (on all of them
// unless `Masked`).
template <uint32_t Mode, bool Masked = true>
CHIP_AVX2 void BlendLanes(__m256 (&acc)[4], const __m256 (&in)[4], __m256 live) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 alpha = in[3];
    __m256 out[4];
    if constexpr (Mode == NKW7_Code(NKW7_BlendMode::BackToFront) ||
                  Mode == NKW7_Code(NKW7_BlendMode::BackToFrontPreWeighted)) {
        const __m256 keep = _mm256_sub_ps(one, alpha);
#pragma GCC unroll 3
        for (int k = 0; k < 3; ++k) {
            const __m256 front = Mode == NKW7_Code(NKW7_BlendMode::BackToFront) ? _mm256_mul_ps(alpha, in[k]) : in[k];
            out[k] = _mm256_add_ps(front, _mm256_mul_ps(keep, acc[k]));
        }
        out[3] = _mm256_add_ps(alpha, _mm256_mul_ps(keep, acc[3]));
    } else {
        const __m256 remaining = _mm256_sub_ps(one, acc[3]);
#pragma GCC unroll 3
        for (int k = 0; k < 3; ++k) {
            const __m256 added = _mm256_mul_ps(remaining, in[k]);
            out[k] = _mm256_add_ps(acc[k], Mode == NKW7_Code(NKW7_BlendMode::FrontToBack) ? _mm256_mul_ps(added, alpha)
                                                                                          : added);
        }
        out[3] = _mm256_add_ps(acc[3], _mm256_mul_ps(remaining, alpha));
    }
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) acc[k] = Masked ? _mm256_blendv_ps(acc[k], out[k], live) : out[k];
}

// Blends the colours `in` into the accumulators of the n rays from `ray`,
// on the lanes of `blend` (a bit mask, and the same as lanes).
template <uint32_t Mode>
CHIP_AVX2 void BlendIntoRays(Ray* ray, uint32_t n, int blend, __m256i blendLanes, const __m256 (&in)[4]) {
    if (blend == 0xFF) {
        // Eight rays, all blending: nothing to keep or to leave unwritten.
        const float* accAt[8];
#pragma GCC unroll 8
        for (uint32_t l = 0; l < 8; ++l) accAt[l] = ray[l].accum.c;
        __m256 acc[4], out[4];
        Gather(accAt, acc);
        BlendLanes<Mode, false>(acc, in, _mm256_castsi256_ps(blendLanes));
        Rows(acc, out);
#pragma GCC unroll 8
        for (uint32_t l = 0; l < 8; ++l)
            _mm_storeu_ps(ray[l].accum.c, l < 4 ? _mm256_castps256_ps128(out[l & 3]) : _mm256_extractf128_ps(out[l & 3], 1));
        return;
    }
    static const float kNone[4] = {};
    const float* accAt[8];
#pragma GCC unroll 8
    for (uint32_t l = 0; l < 8; ++l) accAt[l] = l < n ? ray[l].accum.c : kNone;
    __m256 acc[4];
    Gather(accAt, acc);
    BlendLanes<Mode>(acc, in, _mm256_castsi256_ps(blendLanes));
    __m256 out[4];
    Rows(acc, out);
#pragma GCC unroll 8
    for (uint32_t l = 0; l < 8; ++l) {
        if ((blend & (1 << l)) == 0) continue;
        const __m256 pair = out[l & 3];
        _mm_storeu_ps(ray[l].accum.c, l < 4 ? _mm256_castps256_ps128(pair) : _mm256_extractf128_ps(pair, 1));
    }
}

// The row kernel of a blend mode: `Kernel<Mode>` for the four plain modes.
template <template <uint32_t> class Kernel, typename... Args>
auto OfMode(uint32_t mode, Args&&... args) {
    constexpr uint32_t kBackToFront = NKW7_Code(NKW7_BlendMode::BackToFront);
    constexpr uint32_t kBackToFrontPreWeighted = NKW7_Code(NKW7_BlendMode::BackToFrontPreWeighted);
    constexpr uint32_t kFrontToBack = NKW7_Code(NKW7_BlendMode::FrontToBack);
    constexpr uint32_t kFrontToBackPreWeighted = NKW7_Code(NKW7_BlendMode::FrontToBackPreWeighted);
    switch (mode) {
        case kBackToFront: return Kernel<kBackToFront>::Run(args...);
        case kBackToFrontPreWeighted: return Kernel<kBackToFrontPreWeighted>::Run(args...);
        case kFrontToBack: return Kernel<kFrontToBack>::Run(args...);
        default: return Kernel<kFrontToBackPreWeighted>::Run(args...);
    }
}

}  // namespace tulx7sim::chip::lanes

#pragma GCC visibility pop
