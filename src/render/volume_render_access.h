// What the passes above the render engine use of a volume's render state:
// the volume's tables on its board, and the last board pass on it, after
// which the next one runs.
#pragma once

#include "render/render_cache.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

class ULMVolumeInternal;

ULMRenderCache& ULMVolumeRenderCache(const ULMVolumeInternal& inVolume);
ULMSyncEvent& ULMVolumeLastRenderEvent(const ULMVolumeInternal& inVolume);

}  // namespace ulm3
