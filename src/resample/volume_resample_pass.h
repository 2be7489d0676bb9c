// The board pass that samples a box of one volume's board buffer into a box
// of another's (ULMVolumeInternal::DoStartResampleBuffer), and its register
// values.
#pragma once

#include <cstdint>

#include "board/board_pass_block.h"
#include "ulm3/classifier.h"
#include "ulm3/ranges.h"
#include "ulm3/status.h"
#include "ulm3/sync_event.h"
#include "volume/volume_internal.h"
#include "ulm3/sync_event.h"
#include "ulm3/volume.h"

namespace ulm3 {

// What one pass samples and how it classifies. The source box is in the
// pass's sample frame (X', Y', Z'); the output box is in the output
// volume's own axes.
struct ULMVolumePassSetup {
    ULMVolumeRange source;
    ULMVolumeRange output;
    int sideways = 0;          // ULMVolumeInternal::sideways
    int64_t originX = 0;       // S23.40; both 0: computed from the boxes
    int64_t spacingX = 0;
    int64_t originY = 0;       // likewise for Y'
    int64_t spacingY = 0;
    uint64_t voxelFormat = 0;  // the classifier's registers
    uint32_t interpolateControl = 0;
    uint32_t lutFormat[4] = {};
    uint32_t alu[3] = {};
    uint32_t image0Fields = 0;  // the destination's field codes
    uint64_t border = 0;        // the source's border voxel
    uint32_t bypass = 0xF;      // bit i: table i has no board buffer
};

// The programme's values. kULMErrCantSubsample when X' or Y' would take
// more than two source voxels per output voxel; kULMErrArgument for an
// empty source box or a Z' relation other than 1:1 or 2:1.
ULMStatus VolumeResampleValues(const ULMVolumePassSetup& inSetup, ULMImagePassValues& outValues);

// The destination's box loaded from a temporary's buffer (its box from the
// origin), whatever the destination's own target.
ULMSyncEvent UpdateFromBuffer(ULMVolume& ioDestination, const ULMVolume* inTemporary, const ULMVolumeRange& inBox);

// The last slice a Z range of the chip covers: its ranges span an even
// number of slices.
int64_t EvenCountEnd(int64_t inOrigin, int64_t inSize);

// Samples inSourceRange of ioSource's board buffer into inDestinationRange
// of pDestination's through ioClassifier (the pass's own copy, which it may
// change), in one board pass that is not waited for; inSideways is one of
// ULMVolumeInternal::sideways, and originX and spacingX (S23.40) set the X'
// sampling when either is non-zero, originY and spacingY the Y': output voxel
// q, in the destination's coordinates, at origin + q x spacing, as
// ULMResampleAxis gives them, whether or not the pass writes through a
// temporary. Throws the statuses of what it makes.
ULMSyncEvent ULMVolumeResamplePass(ULMVolumeInternal& ioSource, ULMVolume* pDestination,
                                   const ULMVolumeRange& inSourceRange, const ULMVolumeRange& inDestinationRange,
                                   ULMClassifier& ioClassifier, int inSideways, long long originX,
                                   long long spacingX, long long originY = 0, long long spacingY = 0);

// Where output voxel i of one axis samples: origin + i x spacing (S23.40),
// so that the first and last output voxels of inNewSize lie symmetrically
// about the centre of the inSourceSize source voxels from inSourceOrigin;
// i counts from the output axis's 0, not from inOutputOrigin.
// kULMErrCantSubsample beyond two source voxels per output voxel.
ULMStatus ULMResampleAxis(int64_t inSourceOrigin, int64_t inSourceSize, int64_t inOutputOrigin, int64_t inNewSize,
                          int64_t& outOrigin, int64_t& outSpacing);

}  // namespace ulm3
