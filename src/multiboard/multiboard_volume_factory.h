// The multiboard volumes that volume creation wraps a new volume in,
// registered with the volume while the library loads.
#pragma once

#include "volume/volume_upper_layers.h"

namespace ulm3 {

// Makes a multiboard volume over inVolume (ULMMultiboardVolumeFactory).
using MultiboardVolumeFactory = ULMMultiboardVolumeFactory;

// The library's own: the phase-1 volume (a copy on every board) for render
// mode 1, the bricked volume for mode 2; none for any other mode.
ULMVolume* ULMMakeMultiboardVolume(int inMode, ULMVolume* inVolume, ULMVolumeSource* inSource,
                                   int inNumberOfSubVolumes, const ULMVolumeRange& inFullRange);

// Puts another factory in place (tests use fakes); null restores the
// library's own.
void SetMultiboardVolumeFactory(MultiboardVolumeFactory inFactory);

}  // namespace ulm3
