// Where the render engine finds the perspective frame driver, and the
// engine's side of a perspective render.
#include "render/perspective_frame_driver.h"

#include "render/volume_render_state.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

ULMPerspectiveFrameDriver* gDriver = nullptr;

}  // namespace

ULMPerspectiveFrameDriver* ULMGetPerspectiveFrameDriver() { return gDriver; }

void ULMRegisterPerspectiveFrameDriver(ULMPerspectiveFrameDriver* inDriver) { gDriver = inDriver; }

ULMOwnedFrameDriver::~ULMOwnedFrameDriver() {
    if (m_driver != nullptr) m_registry->Destroy(m_driver);
}

PerspInterf* ULMOwnedFrameDriver::Get(ULMPerspectiveFrameDriver& inRegistry) {
    if (m_driver != nullptr) return m_driver;
    m_driver = inRegistry.Create();
    m_registry = &inRegistry;
    return m_driver;
}

ULMSyncEvent ULMStartPerspectiveFrame(ULMVolumeInternal& ioVolume, const ULMContext* inContext,
                                      ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                      ULMDepthBuffer* ioDepth1) {
    ULMPerspectiveFrameDriver* driver = gDriver;
    if (driver == nullptr) return ULMSyncEvent(kULMErrUnimplemented);
    PerspInterf* frame = ULMRenderStateOf(ioVolume).m_perspective.Get(*driver);
    if (frame == nullptr) return ULMSyncEvent(kULMErrAlloc);
    return driver->RenderFrame(*frame, ioVolume, inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
}

}  // namespace ulm3
