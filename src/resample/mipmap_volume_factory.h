// The seam through which volume creation wraps a new volume in a mipmap
// volume.
#pragma once

#include "ulm3/volume.h"
#include "ulm3/volume_source.h"

namespace ulm3 {

// Makes a mipmap volume whose level 0 is inVolume, taking its own reference
// on inVolume; the result holds one reference for the caller. Null when no
// mipmap volume is made.
using MipmapVolumeFactory = ULMVolume* (*)(ULMVolume* inVolume, ULMVolumeSource* inSource);

ULMVolume* CreateMipmapVolume(ULMVolume* inVolume, ULMVolumeSource* inSource);

// Puts another factory in place (tests use fakes); null restores the
// library's own, which makes none.
void SetMipmapVolumeFactory(MipmapVolumeFactory inFactory);

}  // namespace ulm3
