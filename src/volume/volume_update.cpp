// Writing voxels into a volume and reading them back. Not offered yet:
// every form answers kULMErrUnimplemented (the Start forms as a finished
// event).
#include "volume/volume_internal.h"

namespace ulm3 {

ULMStatus ULMVolumeInternal::Update(const void*, const ULMVolumeRange&) { return kULMErrUnimplemented; }

ULMStatus ULMVolumeInternal::Update(const ULMVolume*, const ULMVolumeRange&, int, int, int, ULMSource) {
    return kULMErrUnimplemented;
}

ULMStatus ULMVolumeInternal::UpdateField(const void*, const ULMVolumeRange&, const ULMFieldDescriptor&) {
    return kULMErrUnimplemented;
}

ULMSyncEvent ULMVolumeInternal::StartUpdate(const void*, const ULMVolumeRange&) {
    return ULMSyncEvent(kULMErrUnimplemented);
}

ULMSyncEvent ULMVolumeInternal::StartUpdate(const ULMVolume*, const ULMVolumeRange&, int, int, int, ULMSource) {
    return ULMSyncEvent(kULMErrUnimplemented);
}

ULMSyncEvent ULMVolumeInternal::StartUpdateField(const void*, const ULMVolumeRange&, const ULMFieldDescriptor&) {
    return ULMSyncEvent(kULMErrUnimplemented);
}

ULMStatus ULMVolumeInternal::UpdateVolume(unsigned int, const void*, unsigned, unsigned, unsigned, unsigned,
                                          unsigned, unsigned, Layout) {
    return kULMErrUnimplemented;
}

ULMStatus ULMVolumeInternal::Unload(void*, const ULMVolumeRange&, ULMSource) const { return kULMErrUnimplemented; }

ULMStatus ULMVolumeInternal::UnloadField(void*, const ULMVolumeRange&, const ULMFieldDescriptor&, ULMSource) const {
    return kULMErrUnimplemented;
}

ULMSyncEvent ULMVolumeInternal::StartUnload(void*, const ULMVolumeRange&, ULMSource) const {
    return ULMSyncEvent(kULMErrUnimplemented);
}

ULMSyncEvent ULMVolumeInternal::StartUnloadField(void*, const ULMVolumeRange&, const ULMFieldDescriptor&,
                                                 ULMSource) const {
    return ULMSyncEvent(kULMErrUnimplemented);
}

}  // namespace ulm3
