// The newest lazy load of a volume's own source into its board buffer: the
// render that prepared it waits for it, and the mapping of the source that
// it reads goes back to the source once it has completed. Beside it, loads
// started without a wait that read the source in place, each keeping its
// mapping until it has completed.
#pragma once

#include <vector>

#include "ulm3/status.h"
#include "ulm3/sync_event.h"
#include "ulm3/volume_source.h"

namespace ulm3 {

class ULMPendingLoad {
public:
    ULMPendingLoad() = default;
    ULMPendingLoad(const ULMPendingLoad&) = delete;
    ULMPendingLoad& operator=(const ULMPendingLoad&) = delete;

    // A load that reads nothing of the source's any more once started.
    void Keep(const ULMSyncEvent& inLoad);
    // The mapping of inSource that the newest load reads; one at a time.
    void KeepMapping(ULMVolumeSource* inSource, void* inAddress);
    // A load that reads inAddress of inSource where it lies: the mapping
    // goes back once the load has completed. Any number at once.
    void KeepReading(const ULMSyncEvent& inLoad, ULMVolumeSource* inSource, void* inAddress);
    bool KeepsMapping() const;
    // Waits for every load kept, forgets them and gives their mappings
    // back; the first failure among them, else kULMOK.
    ULMStatus Wait();
    // Gives the newest load's mapping back now: that load is over, or never
    // started.
    void ReleaseMapping();

private:
    // Loads kept at most before the next one waits for them all, so that
    // loads started again and again without a render keep no more.
    static constexpr size_t kMostKept = 64;

    void Add(const ULMSyncEvent& inLoad, ULMVolumeSource* inSource, void* inAddress);

    struct Read {
        ULMSyncEvent load;
        ULMVolumeSource* source;  // null: the load keeps no mapping
        void* address;
    };

    ULMVolumeSource* m_source = nullptr;
    void* m_address = nullptr;
    std::vector<Read> m_reads;
};

}  // namespace ulm3
