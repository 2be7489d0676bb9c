// The multiboard-volume factory of volume creation.
#include "multiboard/multiboard_volume_factory.h"

#include "multiboard/multiboard_volume_phase1.h"
#include "multiboard/multiboard_volume_phase2.h"

namespace ulm3 {

ULMVolume* ULMMakeMultiboardVolume(int inMode, ULMVolume* inVolume, ULMVolumeSource* inSource,
                                   int inNumberOfSubVolumes, const ULMVolumeRange& inFullRange) {
    if (inMode == 1) return ULMMultiboardVolumePhase1::Create(inVolume, inSource, inNumberOfSubVolumes);
    if (inMode == 2) return ULMMultiboardVolumePhase2::Create(inVolume, inSource, inNumberOfSubVolumes, inFullRange);
    return nullptr;
}

namespace {

[[maybe_unused]] const bool gRegistered = (ULMRegisterMultiboardVolumeFactory(ULMMakeMultiboardVolume), true);

}  // namespace

void SetMultiboardVolumeFactory(MultiboardVolumeFactory inFactory) {
    ULMRegisterMultiboardVolumeFactory(inFactory != nullptr ? inFactory : ULMMakeMultiboardVolume);
}

}  // namespace ulm3
