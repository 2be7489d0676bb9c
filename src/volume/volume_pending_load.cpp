// The lazy load a render waits for, and the source mapping it keeps.
#include "volume/volume_pending_load.h"

#include "foundation/diagnostics.h"

namespace ulm3 {

void ULMPendingLoad::KeepMapping(ULMVolumeSource* inSource, void* inAddress) {
    ULM_ASSERT(inSource != nullptr && !KeepsMapping());
    m_source = inSource;
    m_address = inAddress;
}

ULMStatus ULMPendingLoad::Wait() {
    const ULMStatus status = m_load.Wait(-1);
    m_load = ULMSyncEvent(kULMOK);
    ReleaseMapping();
    return status;
}

void ULMPendingLoad::ReleaseMapping() {
    if (m_source == nullptr) return;
    m_source->ReleaseVoxels(m_address);
    m_source = nullptr;
    m_address = nullptr;
}

}  // namespace ulm3
