// The mipmap volume that volume creation wraps a new volume with,
// registered with the volume while the library loads.
#pragma once

#include "volume/volume_upper_layers.h"

namespace ulm3 {

// Makes a mipmap volume whose level 0 is inVolume (ULMMipmapVolumeFactory).
using MipmapVolumeFactory = ULMMipmapVolumeFactory;

// Puts another factory in place (tests use fakes); null restores the
// library's own.
void SetMipmapVolumeFactory(MipmapVolumeFactory inFactory);

}  // namespace ulm3
