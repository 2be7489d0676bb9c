// The multiboard volumes volume creation wraps a new volume in.
#include "multiboard/multiboard_volume_factory.h"

#include "multiboard/multiboard_volume_phase2.h"

namespace ulm3 {

namespace {

// Mode 2 cuts the volume into bricks over the boards; mode 1 is not part of
// the library yet and leaves the volume unwrapped.
ULMVolume* MakeMultiboardVolume(int inMode, ULMVolume* inVolume, ULMVolumeSource* inSource, int inNumberOfSubVolumes,
                                const ULMVolumeRange& inFullRange) {
    if (inMode == 2) return ULMMultiboardVolumePhase2::Create(inVolume, inSource, inNumberOfSubVolumes, inFullRange);
    return nullptr;
}

[[maybe_unused]] const bool gRegistered = (ULMRegisterMultiboardVolumeFactory(MakeMultiboardVolume), true);

}  // namespace

void SetMultiboardVolumeFactory(MultiboardVolumeFactory inFactory) {
    ULMRegisterMultiboardVolumeFactory(inFactory != nullptr ? inFactory : MakeMultiboardVolume);
}

}  // namespace ulm3
