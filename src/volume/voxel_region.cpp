// Sets of voxels as disjoint boxes.
#include "volume/voxel_region.h"

#include <algorithm>
#include <cstdint>

namespace ulm3 {

namespace {

bool Overlaps(const ULMVolumeRange& inA, const ULMVolumeRange& inB) {
    return !inA.IsEmpty() && !inB.IsEmpty() && !ULMVolumeRange::Intersect(inA, inB).IsEmpty();
}

int64_t End(const ULMVolumeRange& inBox, int inAxis) { return int64_t{inBox.m_origin[inAxis]} + inBox.m_size[inAxis]; }

// inA and inB, which share two axes and meet along the third, as one box.
bool Joined(const ULMVolumeRange& inA, const ULMVolumeRange& inB, ULMVolumeRange& outJoined) {
    int along = -1;
    for (int axis = 0; axis < 3; ++axis) {
        if (inA.m_origin[axis] == inB.m_origin[axis] && inA.m_size[axis] == inB.m_size[axis]) continue;
        if (along >= 0) return false;
        along = axis;
    }
    if (along < 0) return false;
    if (End(inA, along) != inB.m_origin[along] && End(inB, along) != inA.m_origin[along]) return false;
    outJoined = inA;
    outJoined.m_origin[along] = std::min(inA.m_origin[along], inB.m_origin[along]);
    outJoined.m_size[along] = inA.m_size[along] + inB.m_size[along];
    return true;
}

}  // namespace

std::vector<ULMVolumeRange> ULMVoxelRegion::Outside(const ULMVolumeRange& inBox, const ULMVolumeRange& inOther) {
    if (inBox.IsEmpty()) return {};
    if (!Overlaps(inBox, inOther)) return {inBox};
    std::vector<ULMVolumeRange> parts;
    ULMVolumeRange rest = inBox;
    for (int axis = 0; axis < 3; ++axis) {
        const int64_t start = rest.m_origin[axis], end = start + rest.m_size[axis];
        const int64_t otherStart = std::max<int64_t>(start, inOther.m_origin[axis]);
        const int64_t otherEnd = std::min<int64_t>(end, End(inOther, axis));
        ULMVolumeRange part = rest;
        if (otherStart > start) {
            part.m_size[axis] = static_cast<int32_t>(otherStart - start);
            parts.push_back(part);
        }
        if (end > otherEnd) {
            part.m_origin[axis] = static_cast<int32_t>(otherEnd);
            part.m_size[axis] = static_cast<int32_t>(end - otherEnd);
            parts.push_back(part);
        }
        rest.m_origin[axis] = static_cast<int32_t>(otherStart);
        rest.m_size[axis] = static_cast<int32_t>(otherEnd - otherStart);
    }
    return parts;
}

ULMVolumeRange ULMVoxelRegion::Bounds() const {
    ULMVolumeRange bounds;
    for (const ULMVolumeRange& box : m_boxes) bounds = bounds.IsEmpty() ? box : bounds.Union(box);
    return bounds;
}

std::vector<ULMVolumeRange> ULMVoxelRegion::Missing(const ULMVolumeRange& inBox) const {
    std::vector<ULMVolumeRange> pieces;
    if (!inBox.IsEmpty()) pieces.push_back(inBox);
    for (const ULMVolumeRange& held : m_boxes) {
        std::vector<ULMVolumeRange> rest;
        for (const ULMVolumeRange& piece : pieces) {
            const std::vector<ULMVolumeRange> outside = Outside(piece, held);
            rest.insert(rest.end(), outside.begin(), outside.end());
        }
        pieces.swap(rest);
        if (pieces.empty()) break;
    }
    return pieces;
}

bool ULMVoxelRegion::Contains(const ULMVolumeRange& inBox) const { return Missing(inBox).empty(); }

void ULMVoxelRegion::Add(const ULMVolumeRange& inBox) {
    const std::vector<ULMVolumeRange> pieces = Missing(inBox);
    if (pieces.empty()) return;
    m_boxes.insert(m_boxes.end(), pieces.begin(), pieces.end());
    Merge();
}

void ULMVoxelRegion::Remove(const ULMVolumeRange& inBox) {
    if (inBox.IsEmpty()) return;
    std::vector<ULMVolumeRange> kept;
    for (const ULMVolumeRange& held : m_boxes) {
        const std::vector<ULMVolumeRange> outside = Outside(held, inBox);
        kept.insert(kept.end(), outside.begin(), outside.end());
    }
    m_boxes.swap(kept);
    Merge();
}

void ULMVoxelRegion::Intersect(const ULMVolumeRange& inBox) {
    std::vector<ULMVolumeRange> kept;
    for (const ULMVolumeRange& held : m_boxes)
        if (Overlaps(held, inBox)) kept.push_back(ULMVolumeRange::Intersect(held, inBox));
    m_boxes.swap(kept);
}

void ULMVoxelRegion::Merge() {
    for (bool merged = true; merged;) {
        merged = false;
        for (size_t i = 0; i < m_boxes.size() && !merged; ++i)
            for (size_t j = i + 1; j < m_boxes.size() && !merged; ++j) {
                ULMVolumeRange joined;
                if (!Joined(m_boxes[i], m_boxes[j], joined)) continue;
                m_boxes[i] = joined;
                m_boxes.erase(m_boxes.begin() + static_cast<std::ptrdiff_t>(j));
                merged = true;
            }
    }
}

}  // namespace ulm3
