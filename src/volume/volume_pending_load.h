// The newest lazy load of a volume's own source into its board buffer: the
// render that prepared it waits for it, and the mapping of the source that
// it reads goes back to the source once it has completed.
#pragma once

#include "ulm3/status.h"
#include "ulm3/sync_event.h"
#include "ulm3/volume_source.h"

namespace ulm3 {

class ULMPendingLoad {
public:
    ULMPendingLoad() = default;
    ULMPendingLoad(const ULMPendingLoad&) = delete;
    ULMPendingLoad& operator=(const ULMPendingLoad&) = delete;

    void Keep(const ULMSyncEvent& inLoad) { m_load = inLoad; }
    // The mapping of inSource that the newest load reads; one at a time.
    void KeepMapping(ULMVolumeSource* inSource, void* inAddress);
    bool KeepsMapping() const { return m_source != nullptr; }
    // Waits for the load, forgets it and gives the mapping back; the load's
    // status.
    ULMStatus Wait();
    // Gives the mapping back now: the load that read it is over, or never
    // started.
    void ReleaseMapping();

private:
    ULMSyncEvent m_load{kULMOK};
    ULMVolumeSource* m_source = nullptr;
    void* m_address = nullptr;
};

}  // namespace ulm3
