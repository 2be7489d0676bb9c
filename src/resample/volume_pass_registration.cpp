// The board passes over volumes and the roads built on them, registered
// with the volume while the library loads: the volume's resample and
// render-to-volume slots and its YZ slab reach them only through this.
#include <new>

#include "context/classifier_internal.h"
#include "resample/render_to_volume.h"
#include "resample/volume_resample_pass.h"
#include "resample/volume_resample_roads.h"
#include "volume/volume_internal.h"
#include "volume/volume_upper_layers.h"

namespace ulm3 {
namespace {

class VolumePasses final : public ULMVolumePasses {
public:
    // The pass, on its own copy of the classifier (the direct one when none
    // is given), with what it throws turned into an event.
    ULMSyncEvent Pass(ULMVolumeInternal& ioSource, ULMVolume* pDestination, const ULMVolumeRange& inSourceRange,
                      const ULMVolumeRange& inDestinationRange, const ULMClassifier* inClassifier, int inSideways,
                      long long originX, long long spacingX) override {
        try {
            ULMClassifier classifier =
                inClassifier != nullptr ? *inClassifier : ULMClassifierInternal::DirectRGBAClassifier();
            return ULMVolumeResamplePass(ioSource, pDestination, inSourceRange, inDestinationRange, classifier,
                                         inSideways, originX, spacingX);
        } catch (ULMStatus status) {
            return ULMSyncEvent(status);
        } catch (const std::bad_alloc&) {
            return ULMSyncEvent(kULMErrAlloc);
        }
    }

    ULMSyncEvent StartResample(ULMVolumeInternal& ioSource, ULMVolume* pDestination,
                               const ULMVolumeRange& inSourceRange, const ULMVolumeRange& inDestinationRange,
                               const ULMClassifier& inClassifier) override {
        return ULMStartVolumeResample(ioSource, pDestination, inSourceRange, inDestinationRange, inClassifier);
    }

    ULMSyncEvent StartRenderToVolume(ULMVolumeInternal& ioSource, const ULMContext* inContext, ULMVolume* ioOutVolume,
                                     ULMVolume::RenderToVolumeMode inMode) override {
        return ULMStartRenderIntoVolume(ioSource, inContext, ioOutVolume, inMode);
    }
};

VolumePasses gPasses;
[[maybe_unused]] const bool gRegistered = (ULMRegisterVolumePasses(gPasses), true);

}  // namespace
}  // namespace ulm3
