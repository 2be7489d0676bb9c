// A set of a volume's voxels kept as disjoint boxes: what a board buffer
// holds of its volume, which loads, writes and readdressing grow and cut
// voxel by voxel rather than to a box around them.
#pragma once

#include <vector>

#include "ulm3/ranges.h"

namespace ulm3 {

class ULMVoxelRegion {
public:
    ULMVoxelRegion() = default;
    explicit ULMVoxelRegion(const ULMVolumeRange& inBox) { Add(inBox); }

    bool IsEmpty() const { return m_boxes.empty(); }
    const std::vector<ULMVolumeRange>& Boxes() const { return m_boxes; }
    // The smallest box around every voxel; empty for an empty region.
    ULMVolumeRange Bounds() const;
    // Every voxel of inBox is in the region (an empty box always is).
    bool Contains(const ULMVolumeRange& inBox) const;
    // The voxels of inBox outside the region, as disjoint boxes.
    std::vector<ULMVolumeRange> Missing(const ULMVolumeRange& inBox) const;

    void Clear() { m_boxes.clear(); }
    void Add(const ULMVolumeRange& inBox);
    void Remove(const ULMVolumeRange& inBox);
    void Intersect(const ULMVolumeRange& inBox);

    // The voxels of inBox outside inOther, as at most six boxes: the slabs
    // before and after inOther along X, then along Y and Z of what is left.
    static std::vector<ULMVolumeRange> Outside(const ULMVolumeRange& inBox, const ULMVolumeRange& inOther);

private:
    // Boxes that meet face to face with the same extent across the face
    // become one, so that a region written in pieces stays a few boxes.
    void Merge();

    std::vector<ULMVolumeRange> m_boxes;
};

}  // namespace ulm3
