// What a mipmap volume needs to know of a level 0 that is spread over
// several boards, and how it makes a coarser level of the same kind. The
// multiboard volumes live above this folder: they register here while the
// library loads. Until they do, every level 0 counts as a plain volume, and
// a level asked for on the multiboard locations is not made.
#pragma once

#include "ulm3/location.h"
#include "ulm3/ranges.h"
#include "ulm3/status.h"
#include "ulm3/volume.h"

namespace ulm3 {

class ULMMipmapLevelKinds {
public:
    // 0 when inLevel0 is not a multiboard volume; else its phase (1: a copy
    // of the whole volume on each board, 2: bricks) with outCount its number
    // of copies or bricks.
    virtual int MultiboardMode(const ULMVolume& inLevel0, int& outCount) = 0;
    // A level of the multiboard kind that inLocation names
    // (kULMMultiBoardMode1 or kULMMultiBoardMode2) over the plain volume
    // inPlain, on which it takes its own reference: inCount copies or
    // bricks, the bricks laid out over inFullRange (level 0's whole range
    // in the level's voxels). One voxel of the level spans inVoxelSpan
    // voxels of level 0 on each axis; the kind passes that on to the plain
    // volumes it renders (ULMSampleSpace::SetVoxelSpan), so that their
    // opacity matches level 0's. The result holds one reference for the
    // caller; null with outStatus set when none is made.
    virtual ULMVolume* MakeLevel(ULMLocation inLocation, ULMVolume* inPlain, int inCount,
                                 const ULMVolumeRange& inFullRange, const double (&inVoxelSpan)[3],
                                 ULMStatus& outStatus) = 0;

protected:
    ~ULMMipmapLevelKinds() = default;
};

// The registered kinds; until one registers, a stand-in that knows no
// multiboard volume and makes no level (kULMErrUnimplemented).
ULMMipmapLevelKinds& ULMGetMipmapLevelKinds();
// The last registration holds. Run while the library loads, before any
// thread can ask.
void ULMRegisterMipmapLevelKinds(ULMMipmapLevelKinds& inKinds);

}  // namespace ulm3
