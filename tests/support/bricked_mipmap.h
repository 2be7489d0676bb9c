// The mipmap volume over bricks that the bricked tests draw.
#pragma once

#include <cstdint>

#include "ulm3/library.h"
#include "ulm3/volume.h"

namespace ulm3::testing {

// A mipmap volume over the 8-bit voxels of inSize, cut into inBricks bricks
// (0: on one board). Only the creation sees the multiboard parameters.
inline ULMVolume* NewMipmapOverBricks(uint8_t* inVoxels, const int inSize[3], int inBricks) {
    ULMSetParameter("MipmapMinVolumeSize", 32);
    ULMSetParameter("MultiboardMinVolumeSize", 2);
    ULMSetParameter("MultiboardRenderMode", 2);
    ULMSetParameter("MultiboardForceNumberOfVolumes", uint64_t(inBricks));
    ULMSetParameter("MultiboardRenderEnable", inBricks > 0 ? 1 : 0);
    ULMVolume* volume = ULMVolume::Create(1u, inVoxels, unsigned(inSize[0]), unsigned(inSize[1]),
                                          unsigned(inSize[2]), ULMVolume::kSliced);
    ULMSetParameter("MultiboardRenderEnable", 0);
    return volume;
}

}  // namespace ulm3::testing
