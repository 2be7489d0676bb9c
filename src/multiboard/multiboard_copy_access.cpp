// The plain volumes behind a multiboard volume's copies.
#include "multiboard/multiboard_copy_access.h"

#include "foundation/locks.h"
#include "foundation/shareable.h"
#include "volume/volume_internal.h"

namespace ulm3 {

ULMVolumeInternal* ULMPlainVolumeOf(ULMVolume* inVolume, bool inThroughMipmap) {
    if (IsObjectType(inVolume, kObjectTypeULMVolumeInternal)) return static_cast<ULMVolumeInternal*>(inVolume);
    if (!inThroughMipmap || !IsObjectType(inVolume, kObjectTypeULMMipmapVolume)) return nullptr;
    ULMVolume* level0 = inVolume->GetMipmapLevel(0);
    return IsObjectType(level0, kObjectTypeULMVolumeInternal) ? static_cast<ULMVolumeInternal*>(level0) : nullptr;
}

void ULMSettleLoads(ULMVolume& ioVolume) {
    ULMVolumeInternal* plain = ULMPlainVolumeOf(&ioVolume, true);
    if (plain == nullptr) return;
    ULMRecursiveLock hold(plain->BoardCopy().Lock());
    plain->BoardCopy().WaitForLoad();
}

}  // namespace ulm3
