// The render benchmarks' dense volume: a soft ball of 8-bit voxels in a
// side^3 box, slightly off centre so that no view is symmetric.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/shareable.h"
#include "ulm3.h"
#include "volume/volume_internal.h"

inline std::vector<uint8_t> BlobVoxels(int inSide) {
    const double centre[3] = {inSide * 0.5, inSide * 0.46875, inSide * 0.5078125};
    std::vector<uint8_t> voxels(size_t(inSide) * inSide * inSide);
    for (int z = 0; z < inSide; ++z)
        for (int y = 0; y < inSide; ++y)
            for (int x = 0; x < inSide; ++x)
                voxels[(size_t(z) * inSide + y) * inSide + x] = static_cast<uint8_t>(
                    std::max(0.0, 255 - 2 * std::hypot(x - centre[0], y - centre[1], z - centre[2])));
    return voxels;
}

// The image format the render benchmarks draw into: 8-bit red, green, blue
// and alpha.
inline const ulm3::ULMFieldDescriptor kBlobImageFields[4] = {
    {0, 8, ulm3::kULMUnsignedFraction}, {8, 8, ulm3::kULMUnsignedFraction}, {16, 8, ulm3::kULMUnsignedFraction},
    {24, 8, ulm3::kULMUnsignedFraction}};

// The table the blob is drawn with: opacity rising to 0.3 over the voxel
// values. One reference for the caller.
inline ulm3::ULMLookupTable* BlobTable() {
    ulm3::ULMLookupTable* table = ulm3::ULMLookupTable::Create(256);
    if (table != nullptr) table->SetRamp(ulm3::kULMChannelAlpha, 0, 255, 0.0, 0.3);
    return table;
}

// The plain volume that draws a volume from the public creators: a volume
// with a side of 256 or more comes wrapped in a mipmap volume, whose level 0
// it is; a smaller one is plain itself. Null for any other kind.
inline ulm3::ULMVolumeInternal* PlainVolumeOf(ulm3::ULMVolume* inVolume) {
    using namespace ulm3;
    if (IsObjectType(inVolume, kObjectTypeULMMipmapVolume)) inVolume = inVolume->GetMipmapLevel(0);
    return IsObjectType(inVolume, kObjectTypeULMVolumeInternal) ? static_cast<ULMVolumeInternal*>(inVolume) : nullptr;
}
