// Host access to a volume's voxels through maps. Not offered yet: every
// form answers kULMErrUnimplemented.
#include "volume/volume_internal.h"

namespace ulm3 {

ULMStatus ULMVolumeInternal::MapVolume(ULMAccessType, unsigned char*&, unsigned&, unsigned&, ULMSource) {
    return kULMErrUnimplemented;
}

ULMStatus ULMVolumeInternal::MapVolume(ULMAccessType, unsigned short*&, unsigned&, unsigned&, ULMSource) {
    return kULMErrUnimplemented;
}

ULMStatus ULMVolumeInternal::MapVolume(ULMAccessType, unsigned int*&, unsigned&, unsigned&, ULMSource) {
    return kULMErrUnimplemented;
}

ULMStatus ULMVolumeInternal::MapVolume(ULMAccessType, void*&, unsigned&, unsigned&, ULMSource) {
    return kULMErrUnimplemented;
}

ULMStatus ULMVolumeInternal::MapSubVolume(ULMAccessType, const ULMVolumeRange&, unsigned char*&, unsigned&,
                                          unsigned&, ULMSource) {
    return kULMErrUnimplemented;
}

ULMStatus ULMVolumeInternal::MapSubVolume(ULMAccessType, const ULMVolumeRange&, unsigned short*&, unsigned&,
                                          unsigned&, ULMSource) {
    return kULMErrUnimplemented;
}

ULMStatus ULMVolumeInternal::MapSubVolume(ULMAccessType, const ULMVolumeRange&, unsigned int*&, unsigned&,
                                          unsigned&, ULMSource) {
    return kULMErrUnimplemented;
}

ULMStatus ULMVolumeInternal::MapSubVolume(ULMAccessType, const ULMVolumeRange&, void*&, unsigned&, unsigned&,
                                          ULMSource) {
    return kULMErrUnimplemented;
}

ULMStatus ULMVolumeInternal::UnmapVolume() { return kULMErrUnimplemented; }

ULMStatus ULMVolumeInternal::MapSubVolume(ULMAccessType, unsigned, unsigned, unsigned, unsigned, unsigned,
                                          unsigned, void*&, unsigned&, unsigned&, ULMSource) {
    return kULMErrUnimplemented;
}

}  // namespace ulm3
