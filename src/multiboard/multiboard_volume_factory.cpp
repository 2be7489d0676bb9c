// The multiboard-volume stand-in of volume creation.
#include "multiboard/multiboard_volume_factory.h"

namespace ulm3 {

namespace {

// Multiboard volumes are not part of the library yet: volumes stay unwrapped.
ULMVolume* MakeNoMultiboardVolume(int, ULMVolume*, ULMVolumeSource*, int, const ULMVolumeRange&) {
    return nullptr;
}

[[maybe_unused]] const bool gRegistered = (ULMRegisterMultiboardVolumeFactory(MakeNoMultiboardVolume), true);

}  // namespace

void SetMultiboardVolumeFactory(MultiboardVolumeFactory inFactory) {
    ULMRegisterMultiboardVolumeFactory(inFactory != nullptr ? inFactory : MakeNoMultiboardVolume);
}

}  // namespace ulm3
