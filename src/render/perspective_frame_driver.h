// The perspective frame driver as the render engine reaches it. The driver
// lives in a folder above the engine, so it registers itself here while the
// library loads; the engine renders a perspective camera only through it.
#pragma once

#include "ulm3/context.h"
#include "ulm3/depth_buffer.h"
#include "ulm3/image_buffer.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

class PerspInterf;
class ULMVolumeInternal;

class ULMPerspectiveFrameDriver {
public:
    // A new driver, or null when there is no memory for one; the volume's
    // render state holds it (ULMOwnedFrameDriver).
    virtual PerspInterf* Create() = 0;
    // Waits for the driver's last frame and frees it.
    virtual void Destroy(PerspInterf* inDriver) = 0;
    // One frame, run under the volume's render lock with the volume on its
    // board: the driver renders it as one ULMVolumeFrame whose sub-frames are
    // its mini-frustums.
    virtual ULMSyncEvent RenderFrame(PerspInterf& ioDriver, ULMVolumeInternal& ioVolume, const ULMContext* inContext,
                                     ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                     ULMDepthBuffer* ioDepth1) = 0;

protected:
    ~ULMPerspectiveFrameDriver() = default;
};

// Null until a driver registers. The last registration holds; run while the
// library loads, before any thread can ask (tests may swap a fake in and
// restore the previous one).
ULMPerspectiveFrameDriver* ULMGetPerspectiveFrameDriver();
void ULMRegisterPerspectiveFrameDriver(ULMPerspectiveFrameDriver* inDriver);

// A volume's driver, made on its first perspective render and freed by the
// registered driver when the volume's render state goes.
class ULMOwnedFrameDriver {
public:
    ULMOwnedFrameDriver() = default;
    ~ULMOwnedFrameDriver();
    ULMOwnedFrameDriver(const ULMOwnedFrameDriver&) = delete;
    ULMOwnedFrameDriver& operator=(const ULMOwnedFrameDriver&) = delete;
    // The driver, made now when there is none; null without memory.
    PerspInterf* Get(ULMPerspectiveFrameDriver& inRegistry);
    // The driver if one was made.
    PerspInterf* Made() const { return m_driver; }

private:
    ULMPerspectiveFrameDriver* m_registry = nullptr;  // the one that made it
    PerspInterf* m_driver = nullptr;
};

// The perspective road of a volume's render: the volume's driver, made on
// its first perspective render, renders the frame. Called under the
// volume's render lock after the volume was prepared.
ULMSyncEvent ULMStartPerspectiveFrame(ULMVolumeInternal& ioVolume, const ULMContext* inContext,
                                      ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                      ULMDepthBuffer* ioDepth1);

}  // namespace ulm3
