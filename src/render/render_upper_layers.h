// What the render engine asks of the layers above it. The render folder
// includes nothing above itself, so the resample folder registers its
// render-and-resize here while the library loads. (The perspective frame
// driver has its own registry, perspective_frame_driver.h.)
#pragma once

#include <functional>

#include "foundation/thread_scope_flag.h"
#include "ulm3/context.h"
#include "ulm3/image_buffer.h"
#include "ulm3/location.h"
#include "ulm3/ranges.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// Render-and-resize: what a render the chip could not subsample kept of
// its sample space (the box's footprint in the viewport, whatever the
// render area, and the voxels one pixel step covers), and the render of the
// enlarged view into a temporary image as its image 0.
struct ULMResizeView {
    ULMImageRange footprint;
    double testX = 0.0, testY = 0.0;
};
using ULMEnlargedRender = std::function<ULMSyncEvent(const ULMContext* inEnlarged, ULMImageBuffer* ioTemporary)>;
// Renders the view enlarged on inBoard and shrinks it into the context's
// output image; inOutMPRScale is the factor still owed to MPR sums.
// Until one registers, kULMErrCantSubsample.
using ULMRenderAndResize = ULMSyncEvent (*)(const ULMEnlargedRender& inRender, ULMLocation inBoard,
                                            const ULMContext* inContext, const ULMResizeView& inView,
                                            bool inEnableSumAndCount, double& inOutMPRScale,
                                            ULMImageBuffer* ioColor0, ULMImageBuffer* ioColor1);
ULMRenderAndResize ULMGetRenderAndResize();
void ULMRegisterRenderAndResize(ULMRenderAndResize resize);
// While one lives, renders on this thread do not fall back to a resize:
// the enlarged render itself, and renders made while a caller resizes.
class ULMResizeSuppression : public ULMThreadScopeFlag<ULMResizeSuppression> {};

}  // namespace ulm3
