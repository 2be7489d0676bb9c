// The public resample of a volume's board buffer into another volume's:
// the direct pass, the halving pass on boards that halve Z, or Z resampled
// as X through a sideways temporary, in sections of up to 64 output slices.
#pragma once

#include "ulm3/classifier.h"
#include "ulm3/ranges.h"
#include "ulm3/sync_event.h"
#include "ulm3/volume.h"

namespace ulm3 {

class ULMVolumeInternal;

// ULMVolume::StartResampleBuffer of a plain volume: one pass when the board
// can, else Z through X in sections, none waited for.
ULMSyncEvent ULMStartVolumeResample(ULMVolumeInternal& ioSource, ULMVolume* pDestination,
                                    const ULMVolumeRange& inSourceRange, const ULMVolumeRange& inDestinationRange,
                                    const ULMClassifier& inClassifier);

}  // namespace ulm3
