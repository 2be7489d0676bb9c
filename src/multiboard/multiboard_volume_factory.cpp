// The multiboard-volume seam of volume creation.
#include "multiboard/multiboard_volume_factory.h"

#include <atomic>

namespace ulm3 {

namespace {

// Multiboard volumes are not part of the library yet: volumes stay unwrapped.
ULMVolume* MakeNoMultiboardVolume(int, ULMVolume*, ULMVolumeSource*, int, const ULMVolumeRange&) {
    return nullptr;
}

std::atomic<MultiboardVolumeFactory> sFactory{MakeNoMultiboardVolume};

}  // namespace

ULMVolume* CreateMultiboardVolume(int inMode, ULMVolume* inVolume, ULMVolumeSource* inSource,
                                  int inNumberOfSubVolumes, const ULMVolumeRange& inFullRange) {
    return sFactory.load()(inMode, inVolume, inSource, inNumberOfSubVolumes, inFullRange);
}

void SetMultiboardVolumeFactory(MultiboardVolumeFactory inFactory) {
    sFactory.store(inFactory != nullptr ? inFactory : MakeNoMultiboardVolume);
}

}  // namespace ulm3
