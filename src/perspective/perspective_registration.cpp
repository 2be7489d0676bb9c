// The perspective frame driver registered with the render engine and the
// volume while the library loads: the engine makes one per volume, the
// volume frees it.
#include <new>

#include "perspective/persp_interf.h"
#include "render/perspective_frame_driver.h"
#include "volume/volume_upper_layers.h"

namespace ulm3 {
namespace {

class FrameDriver final : public ULMPerspectiveFrameDriver {
public:
    PerspInterf* Create() override { return new (std::nothrow) PerspInterf(); }
    const ULMMiniFrustum& MiniFrustum(PerspInterf& inDriver) override { return inDriver.GetMiniFrustum(); }
    ULMSyncEvent RenderFrame(PerspInterf& ioDriver, ULMVolumeInternal& ioVolume, const ULMContext* inContext,
                             ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                             ULMDepthBuffer* ioDepth1) override {
        return ioDriver.RenderOrmikPersp(&ioVolume, inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
    }
};

void DeleteFrameDriver(PerspInterf* inDriver) { delete inDriver; }

FrameDriver gDriver;
[[maybe_unused]] const bool gRegistered = (ULMRegisterPerspectiveFrameDriver(&gDriver),
                                           ULMRegisterPerspectiveDriverDeleter(DeleteFrameDriver), true);

}  // namespace
}  // namespace ulm3
