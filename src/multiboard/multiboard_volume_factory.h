// The multiboard volumes that volume creation wraps a new volume in,
// registered with the volume while the library loads.
#pragma once

#include "volume/volume_upper_layers.h"

namespace ulm3 {

// Makes a multiboard volume over inVolume (ULMMultiboardVolumeFactory).
using MultiboardVolumeFactory = ULMMultiboardVolumeFactory;

// Puts another factory in place (tests use fakes); null restores the
// library's own.
void SetMultiboardVolumeFactory(MultiboardVolumeFactory inFactory);

}  // namespace ulm3
