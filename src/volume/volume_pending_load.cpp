// The lazy loads a render waits for, and the source mappings they keep.
#include "volume/volume_pending_load.h"

#include "foundation/diagnostics.h"

namespace ulm3 {

void ULMPendingLoad::KeepMapping(ULMVolumeSource* inSource, void* inAddress) {
    ULM_ASSERT(inSource != nullptr && m_source == nullptr);
    m_source = inSource;
    m_address = inAddress;
}

void ULMPendingLoad::Keep(const ULMSyncEvent& inLoad) { Add(inLoad, nullptr, nullptr); }

void ULMPendingLoad::KeepReading(const ULMSyncEvent& inLoad, ULMVolumeSource* inSource, void* inAddress) {
    ULM_ASSERT(inSource != nullptr);
    Add(inLoad, inSource, inAddress);
}

// Whoever started a load holds its event: a failure is not lost here when
// the loads kept, this one among them (its mapping may be the one kept
// alone), are waited for to make room.
void ULMPendingLoad::Add(const ULMSyncEvent& inLoad, ULMVolumeSource* inSource, void* inAddress) {
    m_reads.push_back(Read{inLoad, inSource, inAddress});
    if (m_reads.size() > kMostKept) Wait();
}

bool ULMPendingLoad::KeepsMapping() const {
    if (m_source != nullptr) return true;
    for (const Read& read : m_reads)
        if (read.source != nullptr) return true;
    return false;
}

ULMStatus ULMPendingLoad::Wait() {
    ULMStatus status = kULMOK;
    // Every load is waited for and every mapping goes back, whatever the
    // loads before it answered.
    for (const Read& read : m_reads) {
        const ULMStatus waited = read.load.Wait(-1);
        if (!ULMFailed(status)) status = waited;
        if (read.source != nullptr) read.source->ReleaseVoxels(read.address);
    }
    ReleaseMapping();
    m_reads.clear();
    return status;
}

void ULMPendingLoad::ReleaseMapping() {
    if (m_source == nullptr) return;
    m_source->ReleaseVoxels(m_address);
    m_source = nullptr;
    m_address = nullptr;
}

}  // namespace ulm3
