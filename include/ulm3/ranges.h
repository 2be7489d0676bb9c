// Sub-boxes of volumes and sub-rectangles of images.
#pragma once

#include <cstdint>

namespace ulm3 {

// A box of voxels: a first voxel and a count per axis. The end of an axis
// (origin + size) is exclusive; origins may be negative. A size of 0 or less
// on any axis makes the box empty.
class ULMVolumeRange {
public:
    ULMVolumeRange() { Reset(); }
    // Sizes come first, then origins.
    ULMVolumeRange(int inSizeX, int inSizeY, int inSizeZ, int inOriginX, int inOriginY,
                   int inOriginZ)
        : m_origin{inOriginX, inOriginY, inOriginZ}, m_size{inSizeX, inSizeY, inSizeZ} {}

    int32_t& XOrigin() { return m_origin[0]; }
    int32_t& YOrigin() { return m_origin[1]; }
    int32_t& ZOrigin() { return m_origin[2]; }
    int32_t& XSize() { return m_size[0]; }
    int32_t& YSize() { return m_size[1]; }
    int32_t& ZSize() { return m_size[2]; }
    int32_t XOrigin() const { return m_origin[0]; }
    int32_t YOrigin() const { return m_origin[1]; }
    int32_t ZOrigin() const { return m_origin[2]; }
    int32_t XSize() const { return m_size[0]; }
    int32_t YSize() const { return m_size[1]; }
    int32_t ZSize() const { return m_size[2]; }

    void Reset();
    // All sizes 0; the origins are not looked at.
    bool IsReset() const;
    bool IsEmpty() const;

    bool operator==(const ULMVolumeRange& other) const;
    bool operator!=(const ULMVolumeRange& other) const { return !(*this == other); }

    // Grow or cut this range in place. On an axis where both ranges are
    // empty, Union keeps this range's origin.
    ULMVolumeRange& Union(const ULMVolumeRange& other);
    ULMVolumeRange& Intersect(const ULMVolumeRange& other);
    // An axis on which other is empty is not tested.
    bool Contains(const ULMVolumeRange& other) const;

    static ULMVolumeRange Union(const ULMVolumeRange& inA, const ULMVolumeRange& inB);
    static ULMVolumeRange Intersect(const ULMVolumeRange& inA, const ULMVolumeRange& inB);

    int32_t m_origin[3];
    int32_t m_size[3];
};

// A rectangle of pixels, laid out like ULMVolumeRange on x and y.
class ULMImageRange {
public:
    ULMImageRange() { Reset(); }
    // Sizes come first, then origins.
    ULMImageRange(int inSizeX, int inSizeY, int inOriginX, int inOriginY)
        : m_origin{inOriginX, inOriginY}, m_size{inSizeX, inSizeY} {}

    int32_t& XOrigin() { return m_origin[0]; }
    int32_t& YOrigin() { return m_origin[1]; }
    int32_t& XSize() { return m_size[0]; }
    int32_t& YSize() { return m_size[1]; }
    int32_t XOrigin() const { return m_origin[0]; }
    int32_t YOrigin() const { return m_origin[1]; }
    int32_t XSize() const { return m_size[0]; }
    int32_t YSize() const { return m_size[1]; }

    void Reset();
    bool IsReset() const;
    bool IsEmpty() const;

    bool operator==(const ULMImageRange& other) const;
    bool operator!=(const ULMImageRange& other) const { return !(*this == other); }

    int32_t m_origin[2];
    int32_t m_size[2];
};

// True when b lies inside a; an axis on which b is empty is not tested.
bool Contains(const ULMImageRange& a, const ULMImageRange& b);
// The smallest rectangle holding both. On an axis where both are empty the
// result is empty at inB's origin.
ULMImageRange Union(const ULMImageRange& inA, const ULMImageRange& inB);
// The overlap; an axis without overlap gets size 0 at the larger origin.
ULMImageRange Intersect(const ULMImageRange& inA, const ULMImageRange& inB);

}  // namespace ulm3
