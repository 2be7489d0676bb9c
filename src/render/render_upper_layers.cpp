// The registrations of the layers above the render engine.
#include "render/render_upper_layers.h"

namespace ulm3 {

namespace {

ULMSyncEvent NoResize(const ULMEnlargedRender&, ULMLocation, const ULMContext*, const ULMResizeView&, bool, double&,
                      ULMImageBuffer*, ULMImageBuffer*) {
    return ULMSyncEvent(kULMErrCantSubsample);
}

// Written only while the library loads, before any thread of the
// application exists; read freely afterwards.
constinit ULMRenderAndResize gRenderAndResize = nullptr;

}  // namespace

ULMRenderAndResize ULMGetRenderAndResize() { return gRenderAndResize != nullptr ? gRenderAndResize : NoResize; }

void ULMRegisterRenderAndResize(ULMRenderAndResize resize) { gRenderAndResize = resize; }

}  // namespace ulm3
