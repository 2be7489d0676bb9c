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

ULMRenderCache::ULMRenderCache() = default;

ULMRenderCache::~ULMRenderCache() = default;

void ULMRenderCache::Clear(KWBBoard* inBoard) {
    if (inBoard != m_board) ReleaseLUT();
    m_board = inBoard;
}

ULMStatus ULMRenderCache::SetupLookupTables(const ULMContext*, ULMLookupTable* const[4],
                                            const ULMLookupTable*, double, double, bool) {
    return m_board != nullptr ? kULMOK : kULMErrArgument;
}

void ULMRenderCache::GetLutBuffers(KWBBuffer* outBuffers[4]) const {
    for (int i = 0; i < 4; ++i) outBuffers[i] = m_lutBuffers[i];
}

void ULMRenderCache::ReleaseLUT() {
    for (KWBBuffer*& buffer : m_lutBuffers) buffer = nullptr;
}

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
