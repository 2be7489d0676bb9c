// Render-and-warp: a volume rendered on its own unrotated unit grid into a
// temporary board image, and the board pass that warps that image into the
// caller's view.
#pragma once

#include "ulm3/context.h"
#include "ulm3/depth_buffer.h"
#include "ulm3/image_buffer.h"
#include "ulm3/ranges.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

class ULMVolumeInternal;

// The view rendered on the volume's own unit grid into a temporary image on
// its board, which a board pass then warps into the context's output image.
// The depth buffers are not used; neither pass is waited for.
ULMSyncEvent ULMStartRenderAndWarp(ULMVolumeInternal& ioVolume, const ULMContext* inContext,
                                   ULMImageBuffer* inOutColor0, ULMDepthBuffer* inOutDepth0,
                                   ULMImageBuffer* inOutColor1, ULMDepthBuffer* inOutDepth1);

// The warp pass alone: inSourceRange of the board image inSource, read
// through the warp of the volume's last object grid, into the context's
// output image. Not waited for.
ULMSyncEvent ULMWarp3DImage(ULMVolumeInternal& ioVolume, const ULMContext* inContext, ULMImageBuffer* inOutColor0,
                            ULMImageBuffer* inOutColor1, const ULMImageRange& inRange, const ULMImageBuffer* inSource,
                            const ULMImageRange& inSourceRange);

}  // namespace ulm3
