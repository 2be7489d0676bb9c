#include "sim_addressing.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "chip_vector_rows.h"

namespace tulx7sim {

namespace {

int32_t Component(const Tulx7_dr_buffer_element& e, int axis) {
    return axis == 0 ? e.x : axis == 1 ? e.y : e.z;
}

bool IsWrapModulusMask(int32_t mask) {
    return mask >= 0 && (int64_t{mask} & (int64_t{mask} + 1)) == 0;
}

uint64_t StorageByteIndex(const StorageShape& shape, int64_t qx, int64_t qy, int64_t qz) {
    return ((static_cast<uint64_t>(qz) * static_cast<uint64_t>(shape.size[1]) +
             static_cast<uint64_t>(qy)) *
                static_cast<uint64_t>(shape.size[0]) +
            static_cast<uint64_t>(qx)) *
           static_cast<uint64_t>(shape.elementBytes);
}

bool InStorage(const StorageShape& shape, int axis, int64_t q) {
    return q >= 0 && q < shape.size[axis];
}

}  // namespace

uint64_t BoardBox::ElementCount() const {
    constexpr unsigned __int128 kLimit = static_cast<unsigned __int128>(1) << 56;
    const unsigned __int128 count = static_cast<unsigned __int128>(Extent(0)) *
                                    static_cast<unsigned __int128>(Extent(1)) *
                                    static_cast<unsigned __int128>(Extent(2));
    return static_cast<uint64_t>(count < kLimit ? count : kLimit);
}

int32_t ReadBoardBox(const Tulx7_dr_array_addressing& addressing, const StorageShape& shape,
                     BoardBox& box) {
    if (addressing.wrap != 0 && addressing.wrap != 1) return TULX7_DR_STATUS_ARG_BAD;
    box = BoardBox{};
    box.wrap = addressing.wrap == 1;
    for (int axis = 0; axis < 3; ++axis) {
        const int32_t lo = Component(addressing.subbuffer_min, axis);
        const int32_t hi = Component(addressing.subbuffer_max, axis);
        if (!shape.HasAxis(axis)) {
            if (lo != 0 || hi != 0) return TULX7_DR_STATUS_HW_RANGE_BAD;
            continue;
        }
        if (lo > hi) return TULX7_DR_STATUS_HW_RANGE_BAD;
        const int32_t om = Component(addressing.offset_modulus, axis);
        if (box.wrap && om != -1 && !IsWrapModulusMask(om)) return TULX7_DR_STATUS_ARG_BAD;
        box.min[axis] = lo;
        box.max[axis] = hi;
        box.offsetModulus[axis] = om;
    }
    return TULX7_DR_STATUS_SUCCESS;
}

int64_t StorageCoordinate(const BoardBox& box, const StorageShape& shape, int axis, int64_t p) {
    if (!shape.HasAxis(axis)) return 0;
    const int32_t om = box.offsetModulus[axis];
    if (!box.wrap) return p - om;
    if (om == -1) return p;
    return p & om;
}

bool BoxInsideStorage(const BoardBox& box, const StorageShape& shape) {
    for (int axis = 0; axis <= shape.dimension; ++axis) {
        const int32_t om = box.offsetModulus[axis];
        int64_t lowest = 0;
        int64_t highest = 0;
        if (!box.wrap || om == -1) {
            lowest = StorageCoordinate(box, shape, axis, box.min[axis]);
            highest = StorageCoordinate(box, shape, axis, box.max[axis]);
        } else {
            // Coordinates modulo om+1: the box reaches om unless it stays
            // inside one period.
            const int64_t start = box.min[axis] & om;
            const bool staysInPeriod =
                box.Extent(axis) <= int64_t{om} + 1 && start + box.Extent(axis) - 1 <= om;
            lowest = staysInPeriod ? start : 0;
            highest = staysInPeriod ? start + box.Extent(axis) - 1 : om;
        }
        if (!InStorage(shape, axis, lowest) || !InStorage(shape, axis, highest)) return false;
    }
    return true;
}

int64_t ContiguousRun(const BoardBox& box, int64_t p, int64_t n) {
    const int32_t om = box.offsetModulus[0];
    if (!box.wrap || om == -1) return n;
    return std::min<int64_t>(n, int64_t{om} + 1 - (p & om));
}

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

// A field of `bytes` bytes at byte `alignment` of `element`-byte elements,
// moved 32 bytes of elements at a time: a byte shuffle inside each 16-byte
// half, then the halves' dwords side by side. Fields of 4 or 8 bytes per
// half only; `Fits` says which.
class FieldShuffle {
public:
    static bool Fits(int64_t element, int64_t bytes) {
        const int64_t perHalf = 16 / element * bytes;
        return element <= 8 && bytes < element && (perHalf == 4 || perHalf == 8);
    }

    FieldShuffle(int64_t element, int64_t bytes, int64_t alignment)
        : m_elements(32 / element), m_fieldBytes(32 / element * bytes) {
        const int64_t perHalf = 16 / element;
        for (int half = 0; half < 2; ++half)
            for (int64_t b = 0; b < 16; ++b) {
                // Extraction: byte b of a half's packed fields comes from...
                const int64_t j = b / bytes, k = b % bytes;
                m_pack[half * 16 + b] = static_cast<int8_t>(j < perHalf ? j * element + alignment + k : -1);
                // Insertion: byte b of a half's elements takes...
                const int64_t e = b / element, offset = b % element;
                const bool field = offset >= alignment && offset < alignment + bytes;
                m_unpack[half * 16 + b] = static_cast<int8_t>(field ? e * bytes + offset - alignment : -1);
                m_field[half * 16 + b] = static_cast<int8_t>(field ? -1 : 0);
            }
        const int dwords = static_cast<int>(perHalf * bytes / 4);
        for (int i = 0; i < 8; ++i) {
            const int half = i / 4, within = i % 4;
            m_join[i] = i < dwords ? i : i < 2 * dwords ? 4 + i - dwords : 0;  // halves' fields together
            m_split[i] = within < dwords ? half * dwords + within : 0;  // and apart again
        }
    }

    int64_t Elements() const { return m_elements; }

    // `count` elements: the fields to `to`, packed; returns how many it
    // moved (a whole number of 32-byte groups), the rest being the caller's.
    __attribute__((target("avx2"))) int64_t Extract(uint8_t* to, const uint8_t* from, int64_t count,
                                                    int64_t element) const {
        const __m256i pack = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m_pack));
        const __m256i join = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m_join));
        // Locals, so that the stores (which may alias the members) leave them
        // in registers, and no division is left in the loop.
        const int64_t elements = m_elements, fieldBytes = m_fieldBytes, bytes = fieldBytes / elements;
        int64_t i = 0;
        for (; i + elements <= count; i += elements) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i * element));
            const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, pack), join);
            uint8_t* out = to + i * bytes;
            if (fieldBytes == 8)
                _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
            else
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
        }
        return i;
    }

    // The reverse: packed fields from `from` into the elements at `to`,
    // whose other bytes stay.
    __attribute__((target("avx2"))) int64_t Insert(uint8_t* to, const uint8_t* from, int64_t count,
                                                   int64_t element) const {
        const __m256i unpack = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m_unpack));
        const __m256i field = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m_field));
        const __m256i split = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m_split));
        const int64_t elements = m_elements, fieldBytes = m_fieldBytes, bytes = fieldBytes / elements;
        int64_t i = 0;
        for (; i + elements <= count; i += elements) {
            const uint8_t* in = from + i * bytes;
            const __m128i packed = fieldBytes == 8 ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in))
                                                   : _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
            const __m256i spread =
                _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(_mm256_castsi128_si256(packed), split), unpack);
            auto* at = reinterpret_cast<__m256i*>(to + i * element);
            _mm256_storeu_si256(at, _mm256_blendv_epi8(_mm256_loadu_si256(at), spread, field));
        }
        return i;
    }

private:
    int64_t m_elements, m_fieldBytes;
    int8_t m_pack[32] = {}, m_unpack[32] = {}, m_field[32] = {};
    int32_t m_join[8] = {}, m_split[8] = {};
};

// A run of whole elements, or of one field of each, between board and
// host: pieces of contiguous bytes on both sides are gathered into one copy.
class RunMover {
public:
    RunMover(int64_t element, int64_t bytes, int64_t alignment, bool toBoard)
        : m_element(element), m_bytes(bytes), m_alignment(alignment), m_toBoard(toBoard),
          m_vector(chip::ActiveIsa() == chip::ChipIsa::kAvx2 && FieldShuffle::Fits(element, bytes)),
          m_shuffle(element, m_vector ? bytes : 1, m_vector ? alignment : 0) {}
    ~RunMover() { Flush(); }

    // `board` is the field of the run's first element.
    void Move(uint8_t* board, uint8_t* host, int64_t count) {
        if (m_count > 0 && board == m_board + m_count * m_element && host == m_host + m_count * m_bytes) {
            m_count += count;
            return;
        }
        Flush();
        m_board = board;
        m_host = host;
        m_count = count;
    }

    void Flush() {
        if (m_count == 0) return;
        uint8_t* board = m_board;
        uint8_t* host = m_host;
        int64_t count = m_count;
        m_count = 0;
        if (m_bytes == m_element) {
            if (m_toBoard)
                std::memcpy(board, host, static_cast<size_t>(count * m_bytes));
            else
                std::memcpy(host, board, static_cast<size_t>(count * m_bytes));
            return;
        }
        int64_t done = 0;
        uint8_t* elements = board - m_alignment;
        if (m_vector)
            done = m_toBoard ? m_shuffle.Insert(elements, host, count, m_element)
                             : m_shuffle.Extract(host, elements, count, m_element);
        board += done * m_element;
        host += done * m_bytes;
        count -= done;
        if (m_toBoard)
            CopyStrided(board, m_element, host, m_bytes, m_bytes, count);
        else
            CopyStrided(host, m_bytes, board, m_element, m_bytes, count);
    }

private:
    int64_t m_element, m_bytes, m_alignment;
    bool m_toBoard, m_vector;
    FieldShuffle m_shuffle;
    // The pending run.
    uint8_t* m_board = nullptr;
    uint8_t* m_host = nullptr;
    int64_t m_count = 0;
};

}  // namespace

uint64_t MoveElements(const BoardBox& box, const StorageShape& shape, uint8_t* storage,
                      int32_t alignment, const HostLayout& host, MoveDirection direction,
                      bool clip) {
    const int64_t h = host.elementBytes;
    const int64_t eb = shape.elementBytes;
    const bool toBoard = direction == MoveDirection::kHostToBoard;
    RunMover mover(eb, h, alignment, toBoard);
    uint64_t moved = 0;
    if (!box.wrap && !clip) {
        // Inside storage and unwrapped: rows step by fixed strides on both
        // sides.
        const int64_t n = box.Extent(0);
        const auto boardRow = static_cast<int64_t>(StorageByteIndex(shape, 0, 1, 0));
        const auto boardSlice = static_cast<int64_t>(StorageByteIndex(shape, 0, 0, 1));
        uint8_t* boardFirst = storage + alignment +
                              StorageByteIndex(shape, StorageCoordinate(box, shape, 0, box.min[0]),
                                               StorageCoordinate(box, shape, 1, box.min[1]),
                                               StorageCoordinate(box, shape, 2, box.min[2]));
        uint8_t* hostFirst =
            host.base + ((host.first[2] * host.slice + host.first[1]) * host.row + host.first[0]) * h;
        for (int64_t k = 0; k < box.Extent(2); ++k)
            for (int64_t j = 0; j < box.Extent(1); ++j)
                mover.Move(boardFirst + k * boardSlice + j * boardRow,
                           hostFirst + (k * host.slice + j) * host.row * h, n);
        mover.Flush();
        return static_cast<uint64_t>(box.Extent(2) * box.Extent(1) * n * h);
    }
    for (int64_t z = box.min[2]; z <= box.max[2]; ++z) {
        const int64_t qz = StorageCoordinate(box, shape, 2, z);
        const int64_t hz = host.first[2] + (z - box.min[2]);
        for (int64_t y = box.min[1]; y <= box.max[1]; ++y) {
            const int64_t qy = StorageCoordinate(box, shape, 1, y);
            const int64_t hy = host.first[1] + (y - box.min[1]);
            uint8_t* hostRow = host.base + ((hz * host.slice + hy) * host.row + host.first[0]) * h;
            const bool rowInStorage = InStorage(shape, 1, qy) && InStorage(shape, 2, qz);
            if (!rowInStorage) {
                // Only a clipped move gets here.
                mover.Flush();
                if (!toBoard) std::memset(hostRow, 0, static_cast<size_t>(box.Extent(0) * h));
                continue;
            }
            int64_t x = box.min[0];
            while (x <= box.max[0]) {
                const int64_t n = ContiguousRun(box, x, box.max[0] - x + 1);
                const int64_t qx = StorageCoordinate(box, shape, 0, x);
                uint8_t* hostRun = hostRow + (x - box.min[0]) * h;
                if (clip && (!InStorage(shape, 0, qx) || !InStorage(shape, 0, qx + n - 1))) {
                    mover.Flush();  // in order, should the box alias itself
                    for (int64_t i = 0; i < n; ++i) {
                        uint8_t* hostElement = hostRun + i * h;
                        if (!InStorage(shape, 0, qx + i)) {
                            if (!toBoard) std::memset(hostElement, 0, static_cast<size_t>(h));
                            continue;
                        }
                        uint8_t* boardElement =
                            storage + StorageByteIndex(shape, qx + i, qy, qz) + alignment;
                        if (toBoard)
                            std::memcpy(boardElement, hostElement, static_cast<size_t>(h));
                        else
                            std::memcpy(hostElement, boardElement, static_cast<size_t>(h));
                    }
                } else {
                    mover.Move(storage + StorageByteIndex(shape, qx, qy, qz) + alignment, hostRun, n);
                }
                moved += static_cast<uint64_t>(n * h);
                x += n;
            }
        }
    }
    mover.Flush();
    return moved;
}

uint64_t CopyBetweenBoxes(const BoardBox& source, const StorageShape& sourceShape,
                          const uint8_t* sourceData, const BoardBox& destination,
                          const StorageShape& destinationShape, uint8_t* destinationData,
                          const int64_t extent[3]) {
    const int64_t eb = sourceShape.elementBytes;
    uint64_t moved = 0;
    for (int64_t k = 0; k < extent[2]; ++k) {
        const int64_t sz = StorageCoordinate(source, sourceShape, 2, source.min[2] + k);
        const int64_t dz = StorageCoordinate(destination, destinationShape, 2, destination.min[2] + k);
        for (int64_t j = 0; j < extent[1]; ++j) {
            const int64_t sy = StorageCoordinate(source, sourceShape, 1, source.min[1] + j);
            const int64_t dy =
                StorageCoordinate(destination, destinationShape, 1, destination.min[1] + j);
            int64_t i = 0;
            while (i < extent[0]) {
                const int64_t sp = source.min[0] + i;
                const int64_t dp = destination.min[0] + i;
                const int64_t n =
                    ContiguousRun(destination, dp, ContiguousRun(source, sp, extent[0] - i));
                const int64_t sx = StorageCoordinate(source, sourceShape, 0, sp);
                const int64_t dx = StorageCoordinate(destination, destinationShape, 0, dp);
                std::memcpy(destinationData + StorageByteIndex(destinationShape, dx, dy, dz),
                            sourceData + StorageByteIndex(sourceShape, sx, sy, sz),
                            static_cast<size_t>(n * eb));
                moved += static_cast<uint64_t>(n * eb);
                i += n;
            }
        }
    }
    return moved;
}

bool HostSpan(const BoardBox& box, const HostLayout& host, uint64_t& first, uint64_t& end) {
    using Wide = unsigned __int128;
    const Wide h = static_cast<Wide>(host.elementBytes);
    const Wide row = static_cast<Wide>(host.row);
    const Wide slice = static_cast<Wide>(host.slice);
    const Wide lastX = static_cast<Wide>(host.first[0] + box.Extent(0) - 1);
    const Wide lastY = static_cast<Wide>(host.first[1] + box.Extent(1) - 1);
    const Wide lastZ = static_cast<Wide>(host.first[2] + box.Extent(2) - 1);
    const Wide lo = ((static_cast<Wide>(host.first[2]) * slice + static_cast<Wide>(host.first[1])) *
                         row +
                     static_cast<Wide>(host.first[0])) *
                    h;
    const Wide hi = ((lastZ * slice + lastY) * row + lastX + 1) * h;
    constexpr Wide kLimit = Wide{1} << 47;
    if (hi > kLimit) return false;
    first = static_cast<uint64_t>(lo);
    end = static_cast<uint64_t>(hi);
    return true;
}

}  // namespace tulx7sim
