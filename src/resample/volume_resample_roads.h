// The public resample of a volume's board buffer into another volume's:
// the direct pass, the halving pass on boards that halve Z, or Z resampled
// as X through a sideways temporary, in sections of up to 64 output slices.
#pragma once

#include <cstdint>

#include "ulm3/classifier.h"
#include "ulm3/ranges.h"
#include "ulm3/sync_event.h"
#include "ulm3/volume.h"

namespace ulm3 {

class ULMVolumeInternal;

// How one resample of a whole box into another samples X and Y: output
// voxel i of axis a (in the output volume's coordinates) at origin[a] + i x
// spacing[a] in source voxels (S23.40). Parts of the resample done apart,
// each from the voxels one volume holds, keep it, so that every output
// voxel is what the whole resample makes of it. Z is not in it: each part
// takes it from its own boxes, so a part carries the whole's Z ranges.
struct ULMResamplePlane {
    int64_t origin[2] = {0, 0};
    int64_t spacing[2] = {0, 0};
    // Every part takes Z through X in sections, as the whole resample does
    // between two boards, even where one pass could do its part.
    bool inSections = false;
};

// The plane of resampling inSource into inDestination, as one pass over
// both takes it; kULMErrCantSubsample as the pass refuses.
ULMStatus ULMResamplePlaneOf(const ULMVolumeRange& inSource, const ULMVolumeRange& inDestination,
                             ULMResamplePlane& outPlane);

// The output voxels of inCandidate whose X and Y samples read only voxels
// of inSourceBox (both neighbours of a position between two) and, with
// inFirstIn, whose lower neighbour lies in *inFirstIn; Z as it is. Empty
// when none does.
ULMVolumeRange ULMResampleReach(const ULMResamplePlane& inPlane, const ULMVolumeRange& inSourceBox,
                                const ULMVolumeRange& inCandidate, const ULMVolumeRange* inFirstIn = nullptr);

// kULMOK for a destination a pass may write: a plain volume, locked or not
// (one without a buffer gets one beside the source, which keeps the result
// until it is locked and unlocked), or a multiboard volume with board
// buffers (locked, or given them, as mipmap levels are), a mipmap volume
// judged by its level 0. A multiboard volume without them is refused with
// kULMErrVolume and the reason logged as inWho's: the pass would give
// buffers to the volumes it holds, which its next lock loads over from
// its source, so the result would be lost.
ULMStatus ULMPassDestinationHeld(ULMVolume& inDestination, const char* inWho);

// ULMVolume::StartResampleBuffer of a plain volume: one pass when the board
// can, else Z through X in sections, none waited for. With inPlane the
// destination range is a part of a larger resample, sampled as that one
// samples it; the destination must then be another volume.
ULMSyncEvent ULMStartVolumeResample(ULMVolumeInternal& ioSource, ULMVolume* pDestination,
                                    const ULMVolumeRange& inSourceRange, const ULMVolumeRange& inDestinationRange,
                                    const ULMClassifier& inClassifier, const ULMResamplePlane* inPlane = nullptr);

}  // namespace ulm3
