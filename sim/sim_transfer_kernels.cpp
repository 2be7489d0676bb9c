#include "sim_transfer_kernels.h"

#include <immintrin.h>

#include <cstring>

#include "chip_vector_rows.h"

namespace tulx7sim {

namespace {

template <int64_t kBytes>
void CopyStridedFixed(uint8_t* to, int64_t toStride, const uint8_t* from, int64_t fromStride,
                      int64_t count) {
    for (int64_t i = 0; i < count; ++i)
        std::memcpy(to + i * toStride, from + i * fromStride, kBytes);
}

// Copies `count` pieces of `bytes` bytes between two strided runs. Field
// transfers move one small piece per element, so the common sizes get a copy
// whose length the compiler knows.
void CopyStrided(uint8_t* to, int64_t toStride, const uint8_t* from, int64_t fromStride,
                 int64_t bytes, int64_t count) {
    switch (bytes) {
        case 1: return CopyStridedFixed<1>(to, toStride, from, fromStride, count);
        case 2: return CopyStridedFixed<2>(to, toStride, from, fromStride, count);
        case 4: return CopyStridedFixed<4>(to, toStride, from, fromStride, count);
        case 8: return CopyStridedFixed<8>(to, toStride, from, fromStride, count);
        default:
            for (int64_t i = 0; i < count; ++i)
                std::memcpy(to + i * toStride, from + i * fromStride, static_cast<size_t>(bytes));
    }
}

// One row of `bytes` bytes, 128 at a time while they last, then 32, then
// the last 32 again (overlapping what went before) or, for a row shorter
// than a vector, a plain copy. The inlined loop costs no call per row.
__attribute__((target("avx2"))) inline void CopyRowAvx2(uint8_t* to, const uint8_t* from,
                                                        int64_t bytes) {
    if (bytes < 32) {
        std::memcpy(to, from, static_cast<size_t>(bytes));
        return;
    }
    int64_t i = 0;
    for (; i + 128 <= bytes; i += 128) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i + 32));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i + 64));
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i + 96));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i + 32), b);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i + 64), c);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i + 96), d);
    }
    for (; i + 32 <= bytes; i += 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i)));
    if (i < bytes)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + bytes - 32),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + bytes - 32)));
}

__attribute__((target("avx2"))) void CopyRowsAvx2(uint8_t* to, int64_t toStride, const uint8_t* from,
                                                  int64_t fromStride, int64_t bytes, int64_t rows) {
    for (int64_t r = 0; r < rows; ++r) CopyRowAvx2(to + r * toStride, from + r * fromStride, bytes);
}

}  // namespace

// A field of `bytes` bytes at byte `alignment` of `element`-byte elements,
// moved 32 bytes of packed fields at a time. Each 32 bytes of elements (a
// group) holds 4 or 8 bytes of fields in each 16-byte half; a byte shuffle
// gathers them, group g's to chunk g of each half, and the groups of one
// output are OR-ed together and their chunks put in order by one dword
// permutation. Insertion runs the same steps backwards and blends each
// group's fields into the elements, whose other bytes stay. `Fits` says
// which layouts it serves.
class FieldShuffle {
public:
    static bool Fits(int64_t element, int64_t bytes) {
        const int64_t perHalf = 16 / element * bytes;
        return element <= 8 && bytes < element && (perHalf == 4 || perHalf == 8);
    }

    FieldShuffle(int64_t element, int64_t bytes, int64_t alignment)
        : m_element(element), m_bytes(bytes), m_groupElements(32 / element),
          m_groups(4 / (16 / element * bytes / 4)) {
        const int64_t perHalf = 16 / element * bytes;
        for (int g = 0; g < m_groups; ++g)
            for (int half = 0; half < 2; ++half)
                for (int64_t b = 0; b < 16; ++b) {
                    const int64_t at = g * 32 + half * 16 + b;
                    // Extraction: byte b of a half's chunk g comes from...
                    const int64_t packed = b - g * perHalf;
                    const bool inChunk = packed >= 0 && packed < perHalf;
                    const int64_t j = packed / bytes, k = packed % bytes;
                    m_pack[at] = static_cast<int8_t>(inChunk ? j * element + alignment + k : -1);
                    // Insertion: byte b of a half's elements takes...
                    const int64_t e = b / element, offset = b % element;
                    const bool field = offset >= alignment && offset < alignment + bytes;
                    m_unpack[at] =
                        static_cast<int8_t>(field ? g * perHalf + e * bytes + offset - alignment : -1);
                    if (g == 0) m_field[at] = static_cast<int8_t>(field ? -1 : 0);
                }
        // Output dword o holds dword d of chunk g of a half; `m_split` is
        // the inverse, taking the chunks back to their halves.
        const int chunkDwords = static_cast<int>(perHalf / 4);
        for (int o = 0; o < 8; ++o) {
            const int g = o / (2 * chunkDwords), half = o % (2 * chunkDwords) / chunkDwords,
                      d = o % chunkDwords;
            const int from = half * 4 + g * chunkDwords + d;
            m_join[o] = from;
            m_split[from] = o;
        }
    }

    // `count` elements: the fields to `to`, packed; returns how many it
    // moved (a whole number of outputs), the rest being the caller's.
    __attribute__((target("avx2"))) int64_t Extract(uint8_t* to, const uint8_t* from, int64_t count) const {
        return m_groups == 4 ? ExtractGroups<4>(to, from, count) : ExtractGroups<2>(to, from, count);
    }

    // The reverse: packed fields from `from` into the elements at `to`.
    __attribute__((target("avx2"))) int64_t Insert(uint8_t* to, const uint8_t* from, int64_t count) const {
        return m_groups == 4 ? InsertGroups<4>(to, from, count) : InsertGroups<2>(to, from, count);
    }

private:
    // The fields of the first `groups` groups of elements at `in`, packed
    // into `groups` chunks of 32 / (groups a step) bytes, the rest 0.
    __attribute__((target("avx2"))) static __m256i Pack(const uint8_t* in, int groups, const __m256i* pack,
                                                        __m256i join) {
        __m256i packed = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in)), pack[0]);
        for (int g = 1; g < groups; ++g)
            packed = _mm256_or_si256(
                packed, _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32 * g)), pack[g]));
        return _mm256_permutevar8x32_epi32(packed, join);
    }

    // The reverse: packed fields into the first `groups` groups of elements
    // at `out`, whose other bytes stay.
    __attribute__((target("avx2"))) static void Unpack(uint8_t* out, __m256i packed, int groups,
                                                       const __m256i* unpack, __m256i field, __m256i split) {
        const __m256i halves = _mm256_permutevar8x32_epi32(packed, split);
        for (int g = 0; g < groups; ++g) {
            auto* at = reinterpret_cast<__m256i*>(out + 32 * g);
            _mm256_storeu_si256(at,
                                _mm256_blendv_epi8(_mm256_loadu_si256(at), _mm256_shuffle_epi8(halves, unpack[g]), field));
        }
    }

    // Whole steps of kGroups groups, then the groups left over through a
    // 32-byte buffer; the elements after the last whole group are the
    // caller's.
    template <int kGroups>
    __attribute__((target("avx2"))) int64_t ExtractGroups(uint8_t* to, const uint8_t* from,
                                                          int64_t count) const {
        __m256i pack[kGroups];
        for (int g = 0; g < kGroups; ++g)
            pack[g] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m_pack + 32 * g));
        const __m256i join = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m_join));
        // Locals, so that the stores (which may alias the members) leave them
        // in registers.
        const int64_t group = m_groupElements, step = group * kGroups, element = m_element, bytes = m_bytes;
        int64_t i = 0;
        for (; i + step <= count; i += step)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i * bytes),
                                Pack(from + i * element, kGroups, pack, join));
        const auto rest = static_cast<int>((count - i) / group);
        if (rest > 0) {
            alignas(32) uint8_t packed[32];
            _mm256_store_si256(reinterpret_cast<__m256i*>(packed), Pack(from + i * element, rest, pack, join));
            std::memcpy(to + i * bytes, packed, static_cast<size_t>(rest * group * bytes));
            i += rest * group;
        }
        return i;
    }

    template <int kGroups>
    __attribute__((target("avx2"))) int64_t InsertGroups(uint8_t* to, const uint8_t* from,
                                                         int64_t count) const {
        __m256i unpack[kGroups];
        for (int g = 0; g < kGroups; ++g)
            unpack[g] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m_unpack + 32 * g));
        const __m256i field = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m_field));
        const __m256i split = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m_split));
        const int64_t group = m_groupElements, step = group * kGroups, element = m_element, bytes = m_bytes;
        int64_t i = 0;
        for (; i + step <= count; i += step)
            Unpack(to + i * element, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i * bytes)),
                            kGroups, unpack, field, split);
        const auto rest = static_cast<int>((count - i) / group);
        if (rest > 0) {
            alignas(32) uint8_t packed[32] = {};
            std::memcpy(packed, from + i * bytes, static_cast<size_t>(rest * group * bytes));
            Unpack(to + i * element, _mm256_load_si256(reinterpret_cast<const __m256i*>(packed)), rest,
                            unpack, field, split);
            i += rest * group;
        }
        return i;
    }

    int64_t m_element, m_bytes, m_groupElements;
    int m_groups;  // groups of elements per 32 bytes of fields
    int8_t m_pack[128] = {}, m_unpack[128] = {}, m_field[32] = {};
    int32_t m_join[8] = {}, m_split[8] = {};
};

RowKernel::RowKernel(const FieldLayout& field)
    : m_field(field),
      m_vector(chip::ActiveIsa() == chip::ChipIsa::kAvx2),
      m_shuffle(m_vector && FieldShuffle::Fits(field.elementBytes, field.fieldBytes)
                    ? std::make_unique<FieldShuffle>(field.elementBytes, field.fieldBytes, field.alignment)
                    : nullptr) {}

RowKernel::~RowKernel() = default;

void RowKernel::Move(const RowsOfElements& plane, bool toBoard) const {
    const int64_t e = m_field.elementBytes, h = m_field.fieldBytes;
    if (m_field.Whole()) {
        const int64_t bytes = plane.count * e;
        uint8_t* to = toBoard ? plane.board : plane.host;
        const uint8_t* from = toBoard ? plane.host : plane.board;
        const int64_t toStride = toBoard ? plane.boardStride : plane.hostStride;
        const int64_t fromStride = toBoard ? plane.hostStride : plane.boardStride;
        if (m_vector) return CopyRowsAvx2(to, toStride, from, fromStride, bytes, plane.rows);
        for (int64_t r = 0; r < plane.rows; ++r)
            std::memcpy(to + r * toStride, from + r * fromStride, static_cast<size_t>(bytes));
        return;
    }
    for (int64_t r = 0; r < plane.rows; ++r) {
        uint8_t* elements = plane.board + r * plane.boardStride;
        uint8_t* host = plane.host + r * plane.hostStride;
        int64_t done = 0;
        if (m_shuffle)
            done = toBoard ? m_shuffle->Insert(elements, host, plane.count)
                           : m_shuffle->Extract(host, elements, plane.count);
        uint8_t* board = elements + m_field.alignment + done * e;
        host += done * h;
        if (toBoard)
            CopyStrided(board, e, host, h, h, plane.count - done);
        else
            CopyStrided(host, h, board, e, h, plane.count - done);
    }
}

}  // namespace tulx7sim
