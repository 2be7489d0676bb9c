// How a box of voxels is cut into chunks of whole Z slices, so that one
// chunk's transfer, and the host memory staged for it, stays bounded.
#pragma once

#include <algorithm>
#include <cstdint>

#include "ulm3/ranges.h"

namespace ulm3 {

// The bytes of one Z slice of inBox, of inElementBytes-byte elements, in 64
// bits; 0 for a box without voxels.
inline int64_t ULMSliceBytes(const ULMVolumeRange& inBox, int64_t inElementBytes) {
    if (inBox.XSize() <= 0 || inBox.YSize() <= 0) return 0;
    return inElementBytes * inBox.XSize() * inBox.YSize();
}

// Slices per chunk: all of inBox's when its bytes are at most inLimitBytes,
// else as many as inLimitBytes holds, and one when a single slice is more.
inline int ULMSlicesPerChunk(const ULMVolumeRange& inBox, int64_t inElementBytes, int64_t inLimitBytes) {
    const int64_t slice = ULMSliceBytes(inBox, inElementBytes);
    const int slices = std::max(inBox.ZSize(), 1);
    if (slice == 0 || slice * slices <= inLimitBytes) return slices;
    return static_cast<int>(std::clamp<int64_t>(inLimitBytes / slice, 1, slices));
}

}  // namespace ulm3
