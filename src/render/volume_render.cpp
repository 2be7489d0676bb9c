// The render entry points of a plain volume. The engine that programs the
// chip for a volume is not part of the library yet, so both starts answer
// with a finished kULMErrUnimplemented event.
#include "volume/volume_internal.h"

namespace ulm3 {

ULMSyncEvent ULMVolumeInternal::StartRender(const ULMContext*, ULMImageBuffer*, ULMDepthBuffer*,
                                            ULMImageBuffer*, ULMDepthBuffer*) {
    return ULMSyncEvent(kULMErrUnimplemented);
}

ULMSyncEvent ULMVolumeInternal::StartRenderMPR(const ULMContext*, double, int, MPRMode,
                                               ULMImageBuffer*) {
    return ULMSyncEvent(kULMErrUnimplemented);
}

}  // namespace ulm3
