// The mipmap-volume seam of volume creation.
#include "resample/mipmap_volume_factory.h"

#include <atomic>

namespace ulm3 {

namespace {

// Mipmap volumes are not part of the library yet: volumes stay unwrapped.
ULMVolume* MakeNoMipmapVolume(ULMVolume*, ULMVolumeSource*) { return nullptr; }

std::atomic<MipmapVolumeFactory> sFactory{MakeNoMipmapVolume};

}  // namespace

ULMVolume* CreateMipmapVolume(ULMVolume* inVolume, ULMVolumeSource* inSource) {
    return sFactory.load()(inVolume, inSource);
}

void SetMipmapVolumeFactory(MipmapVolumeFactory inFactory) {
    sFactory.store(inFactory != nullptr ? inFactory : MakeNoMipmapVolume);
}

}  // namespace ulm3
