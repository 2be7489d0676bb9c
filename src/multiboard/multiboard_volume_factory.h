// The multiboard-volume stand-in that volume creation wraps a new volume
// with, registered with the volume while the library loads.
#pragma once

#include "volume/volume_upper_layers.h"

namespace ulm3 {

// Makes a multiboard volume over inVolume (ULMMultiboardVolumeFactory).
using MultiboardVolumeFactory = ULMMultiboardVolumeFactory;

// Puts another factory in place (tests use fakes); null restores the
// library's own, which makes none.
void SetMultiboardVolumeFactory(MultiboardVolumeFactory inFactory);

}  // namespace ulm3
