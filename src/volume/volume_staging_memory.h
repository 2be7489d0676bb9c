// Page-aligned host memory that loads into a board buffer are staged in,
// kept and reused between loads while it is large enough.
#pragma once

#include <cstdint>
#include <memory>

#include "ulm3/ranges.h"
#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// Loads read the memory on the board's own time: it is touched again, or
// freed, only once the newest load that reads it has completed.
class ULMStagingMemory {
public:
    ULMStagingMemory() = default;
    ~ULMStagingMemory() { Free(); }
    ULMStagingMemory(const ULMStagingMemory&) = delete;
    ULMStagingMemory& operator=(const ULMStagingMemory&) = delete;

    // At least inBytes usable bytes from a page boundary, after the last
    // load that reads the memory; kULMErrTooLarge past 2 GB, kULMErrAlloc
    // when none is left.
    ULMStatus Reserve(int64_t inBytes);
    // The bytes of a box of inVoxelBytes-byte voxels; an empty box needs
    // none and waits for nothing.
    ULMStatus ReserveBox(const ULMVolumeRange& inRange, int inVoxelBytes);
    char* Address() const { return m_address; }
    // The loads that read the memory, joined: an abort may drop the newest
    // while an older one still reads.
    void SetLastReader(const ULMSyncEvent& inLoad) { m_lastReader = inLoad; }
    // Waits for the last reader and gives the memory back.
    void Free();

private:
    // As allocated, its first page-aligned byte, and the usable bytes from
    // there.
    std::unique_ptr<char[]> m_base;
    char* m_address = nullptr;
    int64_t m_size = 0;
    ULMSyncEvent m_lastReader{kULMOK};
};

}  // namespace ulm3
