// The seam through which volume creation wraps a new volume in a multiboard
// volume.
#pragma once

#include "ulm3/ranges.h"
#include "ulm3/volume.h"
#include "ulm3/volume_source.h"

namespace ulm3 {

// Makes a multiboard volume of render mode inMode (1: the whole volume on
// every board; 2: bricks of inFullRange over the boards) over inVolume,
// taking its own reference on inVolume; the result holds one reference for
// the caller. Null when none is made.
using MultiboardVolumeFactory = ULMVolume* (*)(int inMode, ULMVolume* inVolume,
                                               ULMVolumeSource* inSource,
                                               int inNumberOfSubVolumes,
                                               const ULMVolumeRange& inFullRange);

ULMVolume* CreateMultiboardVolume(int inMode, ULMVolume* inVolume, ULMVolumeSource* inSource,
                                  int inNumberOfSubVolumes, const ULMVolumeRange& inFullRange);

// Puts another factory in place (tests use fakes); null restores the
// library's own, which makes none.
void SetMultiboardVolumeFactory(MultiboardVolumeFactory inFactory);

}  // namespace ulm3
