// The render cache's process-wide table of shared lookup-table caches.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

#include "foundation/shareable.h"

namespace ulm3 {

// Lookup-table caches shared by every volume, keyed by the render engine;
// each entry holds one reference on its cache.
using ULMLookupTablesMap = std::map<uint64_t, ReleasablePointer<ULMShareable>>;

class ULMRenderCache {
public:
    // Empties the shared table; a close step of the library, run once the
    // combined events are forgotten and before the boards close.
    static void Cleanup();

    // The shared table and the one lock that guards it.
    static std::mutex& LookupTablesLock();
    static ULMLookupTablesMap& LookupTablesMap();
};

}  // namespace ulm3
