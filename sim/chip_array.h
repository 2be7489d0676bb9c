// One of the chip's array slots (volume, image 0, image 1) as a render sees
// it: the slot's array registers over the bound buffer's bytes. Every access
// is bounded by the buffer's real storage, whatever the registers claim.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tulx7sim/render_engine.h"

// The chip's internals bind inside the library, so its calls inline.
#pragma GCC visibility push(hidden)

namespace tulx7sim::chip {

inline uint32_t Reg32(const RegisterFile& registers, uint32_t address) {
    uint32_t value = 0;
    registers.Read32(address, value);
    return value;
}
inline uint64_t Reg64(const RegisterFile& registers, uint32_t address) {
    uint64_t value = 0;
    registers.Read64(address, value);
    return value;
}

struct ArrayRegisterAddresses {
    uint32_t size, offsetModulus, dimensions, rangeMin, rangeMax;
};

// The box of coordinates an array reads straight from storage: inside its
// bound range and its storage on every axis, unwrapped.
struct DirectBox {
    bool valid = false;
    int64_t low[3] = {}, high[3] = {};
    int64_t origin[3] = {};  // the coordinate of storage element 0 per axis
    int64_t stride[3] = {};  // bytes
    const uint8_t* data = nullptr;
    const uint8_t* end = nullptr;  // one past the last byte of storage
    int bytes = 1;

    bool Contains(int64_t u, int64_t v, int64_t w) const {
        return valid && u >= low[0] && u <= high[0] && v >= low[1] && v <= high[1] && w >= low[2] && w <= high[2];
    }
    const uint8_t* At(int64_t u, int64_t v, int64_t w) const {
        return data + (u - origin[0]) * stride[0] + (v - origin[1]) * stride[1] + (w - origin[2]) * stride[2];
    }
    // The byte offsets of a voxel's neighbours up along u, v and w: corner
    // c is one up along axis k when bit k of c is set.
    void Corners(int64_t (&corner)[8]) const {
        for (int c = 0; c < 8; ++c)
            corner[c] = (c & 1) * stride[0] + ((c >> 1) & 1) * stride[1] + (c >> 2) * stride[2];
    }
};

// The samples in [from, to) that `within` holds for, which must be
// consecutive (a convex test of positions affine along a row), as [begin,
// end); begin == end == to when there are none.
template <typename Within>
void ConsecutiveRun(uint32_t from, uint32_t to, Within within, uint32_t& begin, uint32_t& end) {
    begin = end = to;
    uint32_t first = from;
    while (first < to && !within(first)) ++first;
    if (first == to) return;
    uint32_t last = to - 1;
    while (!within(last)) --last;
    begin = first;
    end = last + 1;
}

class ChipArray {
public:
    // Reads the slot's registers. False when the slot is bound and its
    // element size is not 1, 2, 4 or 8 bytes.
    bool Load(const RegisterFile& registers, const ArrayRegisterAddresses& addresses,
              const BoundArray& array);

    // Reads from `bytes` (a snapshot of the storage) instead of the buffer.
    void ReadFrom(const uint8_t* bytes) { m_read = bytes; }

    bool Bound() const { return m_bound; }
    int ElementBits() const { return 8 * m_elementBytes; }
    bool ReservedDimension() const { return m_reservedDimension; }
    const BoundArray* Source() const { return m_source; }
    int Axes() const { return m_axes; }
    bool Wrapped() const { return m_wrap; }
    // The longest run of coordinates a wrapped axis maps to distinct
    // storage: 2 to the number of low one bits of its mask.
    uint32_t ModulusSpan(int axis) const {
        const uint32_t mask = static_cast<uint16_t>(m_offsetModulus[axis]);
        return (mask + 1) & ~mask;
    }

    // The bound range (VolumeRange, or the init range of an image), signed.
    int32_t RangeMin(int axis) const { return m_rangeMin[axis]; }
    int32_t RangeMax(int axis) const { return m_rangeMax[axis]; }
    bool InRange(const int64_t (&p)[3]) const {
        for (int a = 0; a < m_axes; ++a)
            if (p[a] < m_rangeMin[a] || p[a] > m_rangeMax[a]) return false;
        return true;
    }

    // Byte offset of element p in storage, or -1 outside it. An axis the
    // array lacks has one element, at coordinate 0.
    int64_t Locate(const int64_t (&p)[3]) const {
        if (!m_bound) return -1;
        int64_t q[3];
        for (int a = 0; a < 3; ++a) {
            if (a >= m_axes)
                q[a] = p[a];
            else if (m_wrap)
                q[a] = p[a] & static_cast<uint16_t>(m_offsetModulus[a]);
            else
                q[a] = p[a] - m_offsetModulus[a];
            if (q[a] < 0 || q[a] >= m_size[a]) return -1;
        }
        const int64_t offset = ((q[2] * m_size[1] + q[1]) * m_size[0] + q[0]) * m_elementBytes;
        if (offset + m_elementBytes > static_cast<int64_t>(m_byteCount)) return -1;
        return offset;
    }

    DirectBox Direct() const {
        DirectBox box;
        if (!m_bound || m_wrap) return box;
        if (m_size[0] * m_size[1] * m_size[2] * m_elementBytes > static_cast<int64_t>(m_byteCount)) return box;
        for (int a = 0; a < 3; ++a) {
            box.origin[a] = a < m_axes ? m_offsetModulus[a] : 0;
            box.low[a] = std::max<int64_t>(box.origin[a], m_rangeMin[a]);
            box.high[a] = std::min<int64_t>(box.origin[a] + m_size[a] - 1, m_rangeMax[a]);
            if (box.low[a] > box.high[a]) return box;
        }
        box.stride[0] = m_elementBytes;
        box.stride[1] = m_elementBytes * m_size[0];
        box.stride[2] = box.stride[1] * m_size[1];
        box.data = m_read;
        box.end = m_read + m_byteCount;
        box.bytes = m_elementBytes;
        box.valid = true;
        return box;
    }

    // The little-endian element at `at`, zero-extended.
    static uint64_t ReadAt(const uint8_t* at, int bytes) {
        switch (bytes) {
            case 1: return *at;
            case 2: { uint16_t v; std::memcpy(&v, at, 2); return v; }
            case 4: { uint32_t v; std::memcpy(&v, at, 4); return v; }
            default: { uint64_t v; std::memcpy(&v, at, 8); return v; }
        }
    }

    // The little-endian element at `offset`, zero-extended.
    // Fixed-size copies, so that no element access becomes a call.
    uint64_t Read(int64_t offset) const { return ReadAt(m_read + offset, m_elementBytes); }
    void Write(int64_t offset, uint64_t word) const {
        uint8_t* at = m_write + offset;
        switch (m_elementBytes) {
            case 1: *at = static_cast<uint8_t>(word); break;
            case 2: { const auto v = static_cast<uint16_t>(word); std::memcpy(at, &v, 2); break; }
            case 4: { const auto v = static_cast<uint32_t>(word); std::memcpy(at, &v, 4); break; }
            default: std::memcpy(at, &word, 8); break;
        }
    }

private:
    bool m_bound = false;
    bool m_wrap = false;
    bool m_reservedDimension = false;
    int m_axes = 1;
    int m_elementBytes = 1;
    int64_t m_size[3] = {1, 1, 1};
    int32_t m_offsetModulus[3] = {};
    int32_t m_rangeMin[3] = {};
    int32_t m_rangeMax[3] = {};
    const uint8_t* m_read = nullptr;
    uint8_t* m_write = nullptr;
    size_t m_byteCount = 0;
    const BoundArray* m_source = nullptr;
};

}  // namespace tulx7sim::chip

#pragma GCC visibility pop
