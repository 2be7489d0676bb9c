// Render-and-resize: a view the chip cannot subsample is rendered enlarged
// into a temporary board image and shrunk into the caller's output image by
// image resample passes.
#pragma once

#include "render/render_upper_layers.h"
#include "ulm3/context.h"
#include "ulm3/image_buffer.h"
#include "ulm3/ranges.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// Renders inView's enlargement through inRender on inBoard and shrinks it
// into the context's output image. kULMErrCantSubsample when the view cannot
// be resized (depth tests or updates, sums the caller did not allow, no
// output image, an enlargement under 10 pixels), kULMErrArgument for an
// empty footprint, kULMErrAlloc when nothing can be made. Not waited for,
// except for MPR sums that still owe inOutMPRScale (reset to 1.0).
ULMSyncEvent DoStartRenderAndResize(const ULMEnlargedRender& inRender, ULMLocation inBoard,
                                    const ULMContext* inContext, const ULMResizeView& inView,
                                    bool inEnableSumAndCount, double& inOutMPRScale, ULMImageBuffer* ioColor0,
                                    ULMImageBuffer* ioColor1);

// Shrinks in3DImage's output limits into inDestRange of the real context's
// output image: halving-ish steps into fresh images on ioTempContext, then
// one pass with the real context's blending. Sums and counts stay two
// 12-bit fields throughout.
ULMSyncEvent Resample3DImage(const ULMContext* inRealContext, ULMImageBuffer* ioColor0, ULMImageBuffer* ioColor1,
                             ULMContext* ioTempContext, const ULMImageRange& inDestRange, ULMImageBuffer* in3DImage,
                             bool inMPRSumAndCount);

// Replaces a location-independent image by its board image, moved to
// desiredBoard unless that is kULMAnyBoard; kULMErrBuffer for other images.
ULMSyncEvent GetRealImageBuffer(ULMImageBuffer*& ioBuffer, ULMLocation desiredBoard);

// Scales the 12-bit sums (bits 0..11) of a host copy of sum-and-count pixels,
// saturating at 4095; the counts above them are kept.
void ScaleMPRAlpha(double scaleFactor, const ULMImageRange& range, unsigned int* sumBuffer);

}  // namespace ulm3
