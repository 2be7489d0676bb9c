// The multiboard-volume factory of volume creation.
#include "multiboard/multiboard_volume_factory.h"

#include "multiboard/multiboard_volume_phase1.h"
#include "multiboard/multiboard_volume_phase2.h"
#include "volume/volume_upper_layers.h"

namespace ulm3 {

ULMVolume* ULMMakeMultiboardVolume(int inMode, ULMVolume* inVolume, ULMVolumeSource* inSource,
                                   int inNumberOfSubVolumes, const ULMVolumeRange& inFullRange) {
    if (inMode == 1) return ULMMultiboardVolumePhase1::Create(inVolume, inSource, inNumberOfSubVolumes);
    if (inMode == 2) return ULMMultiboardVolumePhase2::Create(inVolume, inSource, inNumberOfSubVolumes, inFullRange);
    return nullptr;
}

namespace {

[[maybe_unused]] const bool gRegistered =
    (ULMRegisterMultiboardVolumeFactory(ULMMakeMultiboardVolume),
     ULMRegisterWrapperParts(kObjectTypeULMMultiboardVolumePhase1, ULMMultiboardVolumePhase1::LockParts),
     ULMRegisterWrapperParts(kObjectTypeULMMultiboardVolumePhase2, ULMMultiboardVolumePhase2::LockParts), true);

}  // namespace

void ULMMultiboardVolumePhase1::LockParts(const ULMVolume& inWrapper, ULMWrapperParts& outParts) {
    const auto& banded = static_cast<const ULMMultiboardVolumePhase1&>(inWrapper);
    outParts.lock = &banded.m_lock;
    for (ULMVolume* copy : banded.Copies()) outParts.parts[outParts.count++] = copy;
}

void ULMMultiboardVolumePhase2::LockParts(const ULMVolume& inWrapper, ULMWrapperParts& outParts) {
    const auto& bricked = static_cast<const ULMMultiboardVolumePhase2&>(inWrapper);
    outParts.lock = &bricked.m_lock;
    outParts.parts[outParts.count++] = bricked.m_baseVolume;
    for (ULMVolume* brick : bricked.Bricks()) outParts.parts[outParts.count++] = brick;
}

void SetMultiboardVolumeFactory(MultiboardVolumeFactory inFactory) {
    ULMRegisterMultiboardVolumeFactory(inFactory != nullptr ? inFactory : ULMMakeMultiboardVolume);
}

}  // namespace ulm3
