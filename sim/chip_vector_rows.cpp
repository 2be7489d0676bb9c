// The AVX2 rows and the run-time choice of instruction set. Lanes hold eight
// neighbouring rays of a row; every integer step is the scalar one in 32-bit
// lanes, and the float blend keeps the scalar order of operations (no fused
// multiply-adds: the target is AVX2 alone).
#include "chip_vector_rows.h"

#include <immintrin.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "chip_kernels.h"

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

// The high halves of the eight 64-bit positions in `low` (lanes 0-3) and
// `high` (lanes 4-7): each floor(P / 2^32), which the kernel has checked to
// fit in 32 bits.
__attribute__((target("avx2"))) inline __m256i HighHalves(__m256i low, __m256i high) {
    const __m256 mixed = _mm256_shuffle_ps(_mm256_castsi256_ps(low), _mm256_castsi256_ps(high), 0xDD);
    return _mm256_permute4x64_epi64(_mm256_castps_si256(mixed), 0xD8);
}

// n d modulo 2^64, for n below 2^32.
__attribute__((target("avx2"))) inline __m256i Times(__m256i n, __m256i d) {
    const __m256i low = _mm256_mul_epu32(n, d);
    const __m256i high = _mm256_slli_epi64(_mm256_mul_epu32(n, _mm256_srli_epi64(d, 32)), 32);
    return _mm256_add_epi64(low, high);
}

// a + (((b - a) f + 128) >> 8), as Shader::Lerp; the product fits in 32 bits.
__attribute__((target("avx2"))) inline __m256i Lerp(__m256i a, __m256i b, __m256i f) {
    const __m256i product = _mm256_mullo_epi32(_mm256_sub_epi32(b, a), f);
    return _mm256_add_epi32(a, _mm256_srai_epi32(_mm256_add_epi32(product, _mm256_set1_epi32(128)), 8));
}

// The field's values in the voxels at each lane's byte offset plus `corner`
// and in their neighbours along u, the next elements in storage: one
// gather of both for one-byte voxels, lane by lane loads for wider ones.
template <int Bytes>
__attribute__((target("avx2"))) inline void Pair(const TabledRow& row, const int32_t (&offset)[8], int32_t corner,
                                                 __m256i& v0, __m256i& v1) {
    const uint8_t* at = row.first + corner;
    __m256i e0, e1;
    if constexpr (Bytes == 1) {
        const __m256i word = _mm256_i32gather_epi32(reinterpret_cast<const int*>(at - 2),
                                                    _mm256_load_si256(reinterpret_cast<const __m256i*>(offset)), 1);
        e0 = _mm256_and_si256(_mm256_srli_epi32(word, 16), _mm256_set1_epi32(255));
        e1 = _mm256_srli_epi32(word, 24);
    } else if constexpr (Bytes == 2) {
        uint32_t pair[8];
        for (int l = 0; l < 8; ++l) std::memcpy(&pair[l], at + offset[l], 4);
        const __m256i word = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pair));
        e0 = _mm256_and_si256(word, _mm256_set1_epi32(0xFFFF));
        e1 = _mm256_srli_epi32(word, 16);
    } else {
        uint64_t pair[8];
        for (int l = 0; l < 8; ++l) std::memcpy(&pair[l], at + offset[l], 8);
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pair));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pair + 4));
        // Even dwords are the voxels, odd ones their neighbours.
        const __m256 even = _mm256_shuffle_ps(_mm256_castsi256_ps(low), _mm256_castsi256_ps(high), 0x88);
        const __m256 odd = _mm256_shuffle_ps(_mm256_castsi256_ps(low), _mm256_castsi256_ps(high), 0xDD);
        e0 = _mm256_permute4x64_epi64(_mm256_castps_si256(even), 0xD8);
        e1 = _mm256_permute4x64_epi64(_mm256_castps_si256(odd), 0xD8);
    }
    if (row.byteValue != nullptr) {
        v0 = _mm256_i32gather_epi32(row.byteValue, e0, 4);
        v1 = _mm256_i32gather_epi32(row.byteValue, e1, 4);
        return;
    }
    const __m256i shift = _mm256_set1_epi32(static_cast<int>(row.shift));
    const __m256i mask = _mm256_set1_epi32(static_cast<int>((1u << row.bits) - 1));
    const __m256i factor = _mm256_set1_epi32(row.factor);
    v0 = _mm256_mullo_epi32(_mm256_and_si256(_mm256_srlv_epi32(e0, shift), mask), factor);
    v1 = _mm256_mullo_epi32(_mm256_and_si256(_mm256_srlv_epi32(e1, shift), mask), factor);
}

// Four channels of eight colours, one 16-byte colour per lane, to one
// vector per channel, and back.
__attribute__((target("avx2"))) inline void Columns(const float* const (&at)[8], __m256 (&c)[4]) {
    __m256 r[4];
    for (int l = 0; l < 4; ++l)
        r[l] = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(at[l])), _mm_loadu_ps(at[l + 4]), 1);
    const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    c[0] = _mm256_shuffle_ps(t0, t2, 0x44);
    c[1] = _mm256_shuffle_ps(t0, t2, 0xEE);
    c[2] = _mm256_shuffle_ps(t1, t3, 0x44);
    c[3] = _mm256_shuffle_ps(t1, t3, 0xEE);
}

__attribute__((target("avx2"))) inline void Rows(const __m256 (&c)[4], __m256 (&r)[4]) {
    const __m256 t0 = _mm256_unpacklo_ps(c[0], c[1]), t1 = _mm256_unpackhi_ps(c[0], c[1]);
    const __m256 t2 = _mm256_unpacklo_ps(c[2], c[3]), t3 = _mm256_unpackhi_ps(c[2], c[3]);
    r[0] = _mm256_shuffle_ps(t0, t2, 0x44);  // lanes 0 and 4
    r[1] = _mm256_shuffle_ps(t0, t2, 0xEE);  // 1 and 5
    r[2] = _mm256_shuffle_ps(t1, t3, 0x44);  // 2 and 6
    r[3] = _mm256_shuffle_ps(t1, t3, 0xEE);  // 3 and 7
}

// Accum of the mode, as Blend, on the lanes of `live`.
template <uint32_t Mode>
__attribute__((target("avx2"))) inline void BlendLanes(__m256 (&acc)[4], const __m256 (&in)[4], __m256 live) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 alpha = in[3];
    __m256 out[4];
    if constexpr (Mode == NKW7_Code(NKW7_BlendMode::BackToFront) || Mode == NKW7_Code(NKW7_BlendMode::BackToFrontPreWeighted)) {
        const __m256 keep = _mm256_sub_ps(one, alpha);
        for (int k = 0; k < 3; ++k) {
            const __m256 front = Mode == NKW7_Code(NKW7_BlendMode::BackToFront) ? _mm256_mul_ps(alpha, in[k]) : in[k];
            out[k] = _mm256_add_ps(front, _mm256_mul_ps(keep, acc[k]));
        }
        out[3] = _mm256_add_ps(alpha, _mm256_mul_ps(keep, acc[3]));
    } else {
        const __m256 remaining = _mm256_sub_ps(one, acc[3]);
        for (int k = 0; k < 3; ++k) {
            const __m256 added = _mm256_mul_ps(remaining, in[k]);
            out[k] = _mm256_add_ps(acc[k], Mode == NKW7_Code(NKW7_BlendMode::FrontToBack) ? _mm256_mul_ps(added, alpha) : added);
        }
        out[3] = _mm256_add_ps(acc[3], _mm256_mul_ps(remaining, alpha));
    }
    for (int k = 0; k < 4; ++k) acc[k] = _mm256_blendv_ps(acc[k], out[k], live);
}

template <int Bytes, uint32_t Mode>
__attribute__((target("avx2"))) RowOutcome Row(const TabledRow& row, Ray* ray, uint32_t width) {
    RowOutcome outcome;
    const __m256i lane = _mm256_setr_epi64x(0, 1, 2, 3);
    const __m256i four = _mm256_set1_epi64x(4);
    // Positions wrap in 64 bits exactly as the scalar sums do.
    const __m256i dx = _mm256_set1_epi64x(static_cast<int64_t>(row.dx));
    const __m256i dy = _mm256_set1_epi64x(static_cast<int64_t>(row.dy));
    __m256i xLow = _mm256_add_epi64(_mm256_set1_epi64x(static_cast<int64_t>(row.x)), Times(lane, dx));
    __m256i xHigh = _mm256_add_epi64(xLow, Times(four, dx));
    __m256i yLow = _mm256_add_epi64(_mm256_set1_epi64x(static_cast<int64_t>(row.y)), Times(lane, dy));
    __m256i yHigh = _mm256_add_epi64(yLow, Times(four, dy));
    const __m256i stepX = Times(_mm256_set1_epi64x(8), dx), stepY = Times(_mm256_set1_epi64x(8), dy);
    const __m256i flipX = _mm256_set1_epi32(static_cast<int>(row.flipX));
    const __m256i flipY = _mm256_set1_epi32(static_cast<int>(row.flipY));
    const __m256i flipXAdd = _mm256_and_si256(flipX, _mm256_set1_epi32(-255));
    const __m256i flipYAdd = _mm256_and_si256(flipY, _mm256_set1_epi32(-255));
    const __m256i firstX = _mm256_set1_epi32(row.firstX), firstY = _mm256_set1_epi32(row.firstY);
    const __m256i strideX = _mm256_set1_epi32(row.strideX), strideY = _mm256_set1_epi32(row.strideY);
    const __m256i byteMask = _mm256_set1_epi32(255);
    const __m256i valid = _mm256_set1_epi32(static_cast<int>(row.valid));
    const __m256i laneIndex = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    static const float kNone[4] = {};
    for (uint32_t i = 0; i < width; i += 8) {
        const uint32_t n = width - i < 8 ? width - i : 8;
        // Which lanes sample: present and, under early termination, not
        // done nor terminated here.
        int liveMask = (1 << n) - 1;
        if (row.earlyTermination) {
            for (uint32_t l = 0; l < n; ++l) {
                Ray& r = ray[i + l];
                if (!r.done && r.accum.c[3] >= row.threshold) r.done = true;
                if (r.done) liveMask &= ~(1 << l);
            }
        }
        const __m256i px = HighHalves(xLow, xHigh), py = HighHalves(yLow, yHigh);
        xLow = _mm256_add_epi64(xLow, stepX);
        xHigh = _mm256_add_epi64(xHigh, stepX);
        yLow = _mm256_add_epi64(yLow, stepY);
        yHigh = _mm256_add_epi64(yHigh, stepY);
        if (liveMask == 0) continue;
        outcome.anyLeft = true;
        const __m256i bit = _mm256_sllv_epi32(_mm256_set1_epi32(1), laneIndex);
        const __m256i liveInt = _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(liveMask), bit), bit);
        const __m256i qx = _mm256_add_epi32(_mm256_xor_si256(px, flipX), flipXAdd);
        const __m256i qy = _mm256_add_epi32(_mm256_xor_si256(py, flipY), flipYAdd);
        // Lanes that do not sample read sample 0's voxels, which exist.
        const __m256i alongX = _mm256_mullo_epi32(_mm256_sub_epi32(_mm256_srai_epi32(qx, 8), firstX), strideX);
        const __m256i alongY = _mm256_mullo_epi32(_mm256_sub_epi32(_mm256_srai_epi32(qy, 8), firstY), strideY);
        alignas(32) int32_t offset[8];
        const __m256i offsets = _mm256_and_si256(_mm256_add_epi32(alongX, alongY), liveInt);
        _mm256_store_si256(reinterpret_cast<__m256i*>(offset), offsets);
        if (row.ahead != 0) {
            // Fetched while this slice computes, so the next finds them in
            // cache; the addresses are only hints.
            const uint8_t* ahead = row.first + row.ahead;
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
        for (int c = 0; c < 8; c += 2) Pair<Bytes>(row, offset, row.corner[c], v[c], v[c + 1]);
        const __m256i u0 = Lerp(v[0], v[1], f[0]), u1 = Lerp(v[2], v[3], f[0]);
        const __m256i u2 = Lerp(v[4], v[5], f[0]), u3 = Lerp(v[6], v[7], f[0]);
        const __m256i value = Lerp(Lerp(u0, u1, f[1]), Lerp(u2, u3, f[1]), f[2]);
        const __m256i index = _mm256_and_si256(_mm256_srli_epi32(value, 8), liveInt);
        const __m256i past = _mm256_cmpgt_epi32(_mm256_add_epi32(index, _mm256_set1_epi32(1)), valid);
        const int unbound = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_and_si256(past, liveInt)));
        outcome.unboundReads += static_cast<uint64_t>(__builtin_popcount(unbound));
        outcome.samples += static_cast<uint64_t>(__builtin_popcount(liveMask));
        alignas(32) int32_t entry[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(entry), index);
        const float* inAt[8];
        const float* accAt[8];
        for (int l = 0; l < 8; ++l) {
            inAt[l] = row.emitted[entry[l]].c;
            accAt[l] = l < static_cast<int>(n) ? ray[i + static_cast<uint32_t>(l)].accum.c : kNone;
        }
        __m256 in[4], acc[4];
        Columns(inAt, in);
        Columns(accAt, acc);
        BlendLanes<Mode>(acc, in, _mm256_castsi256_ps(liveInt));
        __m256 out[4];
        Rows(acc, out);
        for (int l = 0; l < 8; ++l) {
            if ((liveMask & (1 << l)) == 0) continue;
            const __m256 pair = out[l & 3];
            _mm_storeu_ps(ray[i + static_cast<uint32_t>(l)].accum.c,
                          l < 4 ? _mm256_castps256_ps128(pair) : _mm256_extractf128_ps(pair, 1));
        }
    }
    return outcome;
}

template <int Bytes>
RowOutcome RowOfMode(const TabledRow& row, Ray* ray, uint32_t width) {
    constexpr uint32_t kBackToFront = NKW7_Code(NKW7_BlendMode::BackToFront);
    constexpr uint32_t kBackToFrontPreWeighted = NKW7_Code(NKW7_BlendMode::BackToFrontPreWeighted);
    constexpr uint32_t kFrontToBack = NKW7_Code(NKW7_BlendMode::FrontToBack);
    constexpr uint32_t kFrontToBackPreWeighted = NKW7_Code(NKW7_BlendMode::FrontToBackPreWeighted);
    switch (row.mode) {
        case kBackToFront: return Row<Bytes, kBackToFront>(row, ray, width);
        case kBackToFrontPreWeighted: return Row<Bytes, kBackToFrontPreWeighted>(row, ray, width);
        case kFrontToBack: return Row<Bytes, kFrontToBack>(row, ray, width);
        default: return Row<Bytes, kFrontToBackPreWeighted>(row, ray, width);
    }
}

}  // namespace

RowOutcome TabledRowAvx2(const TabledRow& row, Ray* ray, uint32_t width) {
    switch (row.bytes) {
        case 1: return RowOfMode<1>(row, ray, width);
        case 2: return RowOfMode<2>(row, ray, width);
        default: return RowOfMode<4>(row, ray, width);
    }
}

}  // namespace tulx7sim::chip
