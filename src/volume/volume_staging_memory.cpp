// Staging memory for loads into board buffers.
#include "volume/volume_staging_memory.h"

#include <new>

#include "volume/sub_volume.h"

namespace ulm3 {

namespace {

constexpr int64_t kPageBytes = 4096;

char* AlignToPage(char* inAddress) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(inAddress);
    return inAddress + ((kPageBytes - static_cast<int64_t>(a % kPageBytes)) % kPageBytes);
}

}  // namespace

ULMStatus ULMStagingMemory::ReserveBox(const ULMVolumeRange& inRange, int inVoxelBytes) {
    if (inRange.IsEmpty()) return kULMOK;
    int64_t bytes = 0;
    if (!BoxBytes(inRange, inVoxelBytes, bytes) || bytes > INT32_MAX) return kULMErrTooLarge;
    return Reserve(bytes);
}

// Memory that is large enough is reused; new memory is taken only once no
// load reads the old.
ULMStatus ULMStagingMemory::Reserve(int64_t inBytes) {
    m_lastReader.Wait(-1);
    m_lastReader = ULMSyncEvent(kULMOK);
    if (inBytes < 0) return kULMErrArgument;
    const int64_t need = inBytes + kPageBytes;
    if (need > INT32_MAX) return kULMErrTooLarge;
    if (m_size >= inBytes && m_base != nullptr) return kULMOK;
    m_base.reset();
    m_address = nullptr;
    m_size = 0;
    m_base.reset(new (std::nothrow) char[static_cast<size_t>(need)]);
    if (m_base == nullptr) return kULMErrAlloc;
    m_address = AlignToPage(m_base.get());
    m_size = need - (m_address - m_base.get());
    return kULMOK;
}

void ULMStagingMemory::Free() {
    m_lastReader.Wait(-1);
    m_base.reset();
    m_address = nullptr;
    m_size = 0;
}

}  // namespace ulm3
