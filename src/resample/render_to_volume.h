// Renders a volume, as a context's camera sees it, into another volume on
// the same board.
#pragma once

#include "ulm3/context.h"
#include "ulm3/sync_event.h"
#include "ulm3/volume.h"

namespace ulm3 {

class ULMVolumeInternal;

// ULMVolume::StartRenderToVolume of a plain volume: one render when the
// destination's Z follows one source axis one to one, else two through a
// temporary whose X is the destination's Z, so that each render's slices
// move along one axis only. Not waited for.
ULMSyncEvent ULMStartRenderIntoVolume(ULMVolumeInternal& ioSource, const ULMContext* inContext,
                                      ULMVolume* ioOutVolume, ULMVolume::RenderToVolumeMode inMode);

}  // namespace ulm3
