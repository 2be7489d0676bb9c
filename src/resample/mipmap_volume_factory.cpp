// The mipmap-volume stand-in of volume creation.
#include "resample/mipmap_volume_factory.h"

namespace ulm3 {

namespace {

// Mipmap volumes are not part of the library yet: volumes stay unwrapped.
ULMVolume* MakeNoMipmapVolume(ULMVolume*, ULMVolumeSource*) { return nullptr; }

[[maybe_unused]] const bool gRegistered = (ULMRegisterMipmapVolumeFactory(MakeNoMipmapVolume), true);

}  // namespace

void SetMipmapVolumeFactory(MipmapVolumeFactory inFactory) {
    ULMRegisterMipmapVolumeFactory(inFactory != nullptr ? inFactory : MakeNoMipmapVolume);
}

}  // namespace ulm3
