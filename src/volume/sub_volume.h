// Box arithmetic shared by the volume sources, done in 64 bits.
#pragma once

#include <cstdint>

#include "ulm3/ranges.h"

namespace ulm3 {

// Whether a box may be served by a source whose voxels fill inWhole. Boxes
// with a negative size never are. A box that is empty on some axis holds no
// voxel, yet its origin is still turned into an address, so that origin
// must be a voxel of inWhole.
inline bool IsInsideVolume(const ULMVolumeRange& inWhole, const ULMVolumeRange& inBox) {
    bool empty = false;
    for (int a = 0; a < 3; ++a) {
        if (inBox.m_size[a] < 0 || inWhole.m_size[a] < 0) return false;
        empty = empty || inBox.m_size[a] == 0;
    }
    for (int a = 0; a < 3; ++a) {
        const int64_t wholeStart = inWhole.m_origin[a];
        const int64_t wholeEnd = wholeStart + inWhole.m_size[a];
        const int64_t start = inBox.m_origin[a];
        const int64_t end = start + inBox.m_size[a];
        if (inBox.m_size[a] != 0 && (start < wholeStart || end > wholeEnd)) return false;
        if (empty && (start < wholeStart || start >= wholeEnd)) return false;
    }
    return true;
}

// Whether origin + size stays a 32-bit number on every axis, as the range
// operations compute it.
inline bool EndsFitInt32(const ULMVolumeRange& inRange) {
    for (int a = 0; a < 3; ++a) {
        if (int64_t{inRange.m_origin[a]} + inRange.m_size[a] > INT32_MAX) return false;
    }
    return true;
}

// A size below 0 on some axis: no box, and unlike an empty one no request
// that can be done by doing nothing.
inline bool HasNegativeSize(const ULMVolumeRange& inBox) {
    return inBox.m_size[0] < 0 || inBox.m_size[1] < 0 || inBox.m_size[2] < 0;
}

inline bool HoldsNoVoxel(const ULMVolumeRange& inBox) {
    return inBox.m_size[0] <= 0 || inBox.m_size[1] <= 0 || inBox.m_size[2] <= 0;
}

// Bytes of a box of voxels of inVoxelBytes bytes, 0 when it is empty; false
// when the count does not fit in 63 bits, which no block of memory or file
// can hold.
inline bool BoxBytes(const ULMVolumeRange& inBox, int64_t inVoxelBytes, int64_t& outBytes) {
    outBytes = 0;
    if (HoldsNoVoxel(inBox)) return true;
    int64_t n = 0;
    return !__builtin_mul_overflow(int64_t{inBox.m_size[0]}, int64_t{inBox.m_size[1]}, &n) &&
           !__builtin_mul_overflow(n, int64_t{inBox.m_size[2]}, &n) &&
           !__builtin_mul_overflow(n, inVoxelBytes, &outBytes);
}

// Index of voxel (x, y, z) in the dense block of inRange, X fastest; the
// block's size must fit in 63 bits (BoxBytes).
inline int64_t VoxelIndex(const ULMVolumeRange& inRange, int64_t inX, int64_t inY, int64_t inZ) {
    return ((inZ - inRange.m_origin[2]) * inRange.m_size[1] + (inY - inRange.m_origin[1])) * inRange.m_size[0] +
           (inX - inRange.m_origin[0]);
}

}  // namespace ulm3
