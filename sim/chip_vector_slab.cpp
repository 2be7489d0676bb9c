// The slab's rows in AVX2 lanes. The fraction of a byte is its field's
// value over full scale, a correctly rounded float division; where the
// value is the field's bits times a divisor of full scale, the bits over
// the quotient are the same number correctly rounded, the same float. The
// differences and halvings keep the scalar order.
#include "chip_vector_slab.h"

#include "chip_lanes_avx2.h"

namespace tulx7sim::chip {

FractionLanes FractionLanesFor(const Setup& s, const float (&fraction)[3][256], const bool (&component)[3]) {
    FractionLanes lanes;
    lanes.exact = true;
    for (int k = 0; k < 3; ++k) {
        lanes.table[k] = fraction[k];
        if (!component[k]) continue;
        const FieldCode& code = s.voxelFields.code[s.gradientField[k]];
        // Unsigned fields whose value is their bits times a whole number:
        // their bits over full scale over that number, one division.
        const int32_t scale = !code.present || code.isSigned ? 0
                              : code.bits == 4               ? 4369
                              : code.bits == 8               ? 257
                              : code.bits == 16              ? 1
                                                             : 0;
        if (scale == 0) {
            lanes.exact = false;
            continue;
        }
        lanes.shift[k] = code.shift;
        lanes.mask[k] = static_cast<int32_t>(code.Mask());
        lanes.divisor[k] = static_cast<float>(kFull / scale);
        for (uint32_t b = 0; b < 256; ++b) {
            const int32_t value = static_cast<int32_t>(code.shift < 32 ? b >> code.shift : 0) & lanes.mask[k];
            const float lane = static_cast<float>(value) / lanes.divisor[k];
            if (lane != fraction[k][b]) lanes.exact = false;
        }
    }
    return lanes;
}

namespace {

using namespace lanes;

// One neighbour's fractions: computed from eight bytes, or one value.
struct NeighbourLanes {
    bool computed;
    int64_t step;
    __m128i shift;
    __m256i mask;
    __m256 divisor, value;

    CHIP_AVX2 NeighbourLanes(const EntryReads& reads, const FractionLanes& lanes, int s, int k)
        : computed(reads.component[k].table[s] == lanes.table[k]),
          step(reads.component[k].step[s]),
          shift(_mm_cvtsi32_si128(lanes.shift[k])),
          mask(_mm256_set1_epi32(lanes.mask[k])),
          divisor(_mm256_set1_ps(lanes.divisor[k])),
          value(_mm256_set1_ps(reads.component[k].table[s][0])) {}

    CHIP_AVX2 __m256 At(const uint8_t* at) const {
        if (!computed) return value;
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at + step));
        const __m256i raw = _mm256_and_si256(_mm256_srl_epi32(_mm256_cvtepu8_epi32(bytes), shift), mask);
        return _mm256_div_ps(_mm256_cvtepi32_ps(raw), divisor);
    }
};

// Eight entries {g0, g1, g2, 0} from the components in lanes.
CHIP_AVX2 void StoreEntries(__m256 g0, __m256 g1, __m256 g2, Float4* out) {
    const __m256 channels[4] = {g0, g1, g2, _mm256_setzero_ps()};
    __m256 r[4];  // voxels 0 and 4, 1 and 5, 2 and 6, 3 and 7
    Rows(channels, r);
    const __m256 r0 = r[0], r1 = r[1], r2 = r[2], r3 = r[3];
    auto* to = reinterpret_cast<float*>(out);
    _mm256_storeu_ps(to, _mm256_permute2f128_ps(r0, r1, 0x20));
    _mm256_storeu_ps(to + 8, _mm256_permute2f128_ps(r2, r3, 0x20));
    _mm256_storeu_ps(to + 16, _mm256_permute2f128_ps(r0, r1, 0x31));
    _mm256_storeu_ps(to + 24, _mm256_permute2f128_ps(r2, r3, 0x31));
}

template <bool Central>
CHIP_AVX2 void EntryStep(const uint8_t* at, const NeighbourLanes (&n)[2][3], Float4* out) {
    __m256 g[3];
    for (int k = 0; k < 3; ++k) {
        const __m256 difference = _mm256_sub_ps(n[0][k].At(at), n[1][k].At(at));
        g[k] = Central ? _mm256_mul_ps(difference, _mm256_set1_ps(0.5f)) : difference;
    }
    StoreEntries(g[0], g[1], g[2], out);
}

template <bool Central>
CHIP_AVX2 void EntryRowAs(const uint8_t* at, const EntryReads& reads, const FractionLanes& lanes, Float4* row,
                          int64_t count) {
    const NeighbourLanes n[2][3] = {{{reads, lanes, 0, 0}, {reads, lanes, 0, 1}, {reads, lanes, 0, 2}},
                                    {{reads, lanes, 1, 0}, {reads, lanes, 1, 1}, {reads, lanes, 1, 2}}};
    int64_t a = 0;
    for (; a + 8 <= count; a += 8) EntryStep<Central>(at + a, n, row + a);
    // The last few again with the eight before them: the same entries.
    if (a < count) EntryStep<Central>(at + count - 8, n, row + count - 8);
}

}  // namespace

void EntryRowLanes(bool central, const uint8_t* at, const EntryReads& reads, const FractionLanes& lanes, Float4* row,
                   int64_t count) {
    if (central)
        EntryRowAs<true>(at, reads, lanes, row, count);
    else
        EntryRowAs<false>(at, reads, lanes, row, count);
}

}  // namespace tulx7sim::chip
