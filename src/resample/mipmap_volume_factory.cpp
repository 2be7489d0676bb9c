// The mipmap volume's factory of volume creation.
#include "resample/mipmap_volume_factory.h"

#include "resample/mipmap_volume.h"
#include "volume/volume_upper_layers.h"

namespace ulm3 {

namespace {

[[maybe_unused]] const bool gRegistered = (ULMRegisterMipmapVolumeFactory(ULMMipmapVolume::Create),
                                           ULMRegisterWrapperParts(kObjectTypeULMMipmapVolume, ULMMipmapVolume::LockParts),
                                           true);

}  // namespace

void ULMMipmapVolume::LockParts(const ULMVolume& inWrapper, ULMWrapperParts& outParts) {
    const auto& mipmap = static_cast<const ULMMipmapVolume&>(inWrapper);
    outParts.lock = &mipmap.m_lock;
    outParts.parts[0] = mipmap.m_level[0].volume;
    outParts.count = 1;
}

void SetMipmapVolumeFactory(MipmapVolumeFactory inFactory) {
    ULMRegisterMipmapVolumeFactory(inFactory != nullptr ? inFactory : ULMMipmapVolume::Create);
}

}  // namespace ulm3
