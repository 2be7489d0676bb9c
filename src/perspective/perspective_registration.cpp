// The perspective frame driver registered with the render engine while the
// library loads: the engine makes one per volume and frees it with the
// volume's render state.
#include <new>

#include "perspective/persp_interf.h"
#include "render/perspective_frame_driver.h"

namespace ulm3 {
namespace {

class FrameDriver final : public ULMPerspectiveFrameDriver {
public:
    PerspInterf* Create() override { return new (std::nothrow) PerspInterf(); }
    void Destroy(PerspInterf* inDriver) override { delete inDriver; }
    ULMSyncEvent RenderFrame(PerspInterf& ioDriver, ULMVolumeInternal& ioVolume, const ULMContext* inContext,
                             ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                             ULMDepthBuffer* ioDepth1) override {
        return ioDriver.RenderOrmikPersp(&ioVolume, inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
    }
};

FrameDriver gDriver;
[[maybe_unused]] const bool gRegistered = (ULMRegisterPerspectiveFrameDriver(&gDriver), true);

}  // namespace
}  // namespace ulm3
