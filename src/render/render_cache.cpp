// The process-wide table of shared lookup-table caches, emptied by the
// library's close.
#include "render/render_cache.h"

#include "foundation/upper_layers.h"

namespace ulm3 {

namespace {

// Built on first use so that a close run late in the process (from another
// static destructor) still finds the table.
struct LookupTables {
    std::mutex lock;
    ULMLookupTablesMap map;
};

LookupTables& Tables() {
    static LookupTables* const sTables = new LookupTables;
    return *sTables;
}

[[maybe_unused]] const bool gRegistered = (ULMRegisterCloseStep(&ULMRenderCache::Cleanup), true);

}  // namespace

std::mutex& ULMRenderCache::LookupTablesLock() { return Tables().lock; }

ULMLookupTablesMap& ULMRenderCache::LookupTablesMap() { return Tables().map; }

void ULMRenderCache::Cleanup() {
    ULMLookupTablesMap released;
    {
        std::lock_guard<std::mutex> lock(Tables().lock);
        released.swap(Tables().map);
    }
    // The references go back outside the lock: a cache's destructor may
    // itself reach for the table.
}

}  // namespace ulm3
