// What a multiboard volume reaches of the volumes it keeps on the boards
// beyond their public interface: the plain volume behind one, and the loads
// it started without waiting.
#pragma once

#include "ulm3/volume.h"

namespace ulm3 {

class ULMVolumeInternal;

// inVolume as the plain volume it is; with inThroughMipmap also the level 0
// of a mipmap volume when that is plain. Null for anything else.
ULMVolumeInternal* ULMPlainVolumeOf(ULMVolume* inVolume, bool inThroughMipmap);
// Waits for the loads the plain volume behind ioVolume started without
// waiting, and gives back the source memory they read; nothing for a
// volume that is not plain behind.
void ULMSettleLoads(ULMVolume& ioVolume);

}  // namespace ulm3
