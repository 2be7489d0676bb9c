// The typed map overloads of the volumes, written once for every class
// that implements them.
#pragma once

#include "ulm3/volume.h"

namespace ulm3 {

// Maps a box of `volume` as voxels of T: refused with kULMErrArgument unless
// a voxel is exactly T wide; otherwise what the untyped MapSubVolume gives.
template <typename T>
ULMStatus MapVoxelsAs(ULMVolume& volume, ULMAccessType inAccess, const ULMVolumeRange& inRange, T*& outBaseAddress,
                      unsigned& outSx, unsigned& outSy, ULMSource inSource) {
    outBaseAddress = nullptr;
    if (volume.GetVoxelSize() != static_cast<int>(8 * sizeof(T))) return kULMErrArgument;
    void* address = nullptr;
    const ULMStatus status = volume.MapSubVolume(inAccess, inRange, address, outSx, outSy, inSource);
    outBaseAddress = static_cast<T*>(address);
    return status;
}

}  // namespace ulm3
