// The mipmap volume's factory of volume creation.
#include "resample/mipmap_volume_factory.h"

#include "resample/mipmap_volume.h"

namespace ulm3 {

namespace {

[[maybe_unused]] const bool gRegistered = (ULMRegisterMipmapVolumeFactory(ULMMipmapVolume::Create), true);

}  // namespace

void SetMipmapVolumeFactory(MipmapVolumeFactory inFactory) {
    ULMRegisterMipmapVolumeFactory(inFactory != nullptr ? inFactory : ULMMipmapVolume::Create);
}

}  // namespace ulm3
