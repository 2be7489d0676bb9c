// The render road of a plain volume, the render engine's: the volume is
// prepared on its board, and a parallel view rendered there (or a
// perspective frame handed to the frame driver).
#pragma once

#include "ulm3/context.h"
#include "ulm3/depth_buffer.h"
#include "ulm3/image_buffer.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

class ULMVolumeInternal;
struct ULMMPRSlab;

// A render of the volume: the checks, the board copy prepared under its
// lock and the render state's, the render, and render-and-resize when the
// chip cannot subsample the view. ioMPR, when given, is an MPR render's
// slab (mpr.cpp), which the render reads while the render state's lock is
// held.
ULMSyncEvent ULMStartVolumeRender(ULMVolumeInternal& ioVolume, const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                  ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1,
                                  ULMMPRSlab* ioMPR = nullptr);

// The render itself, on a volume whose board copy is prepared: the output
// buffers move to the volume's board, and the event of the render is
// returned once it is queued. The caller holds the render state's lock.
ULMSyncEvent ULMRenderPreparedVolume(ULMVolumeInternal& ioVolume, const ULMContext* inContext,
                                     ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                     ULMDepthBuffer* ioDepth1);

}  // namespace ulm3
