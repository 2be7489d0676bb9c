#include "sim_resources.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace tulx7sim {

namespace {

constexpr uint64_t kPageBytes = 4096;

// Page-aligned, zeroed memory; a zero-byte request still gets one page so
// the address is never null.
uint8_t* AllocatePages(uint64_t bytes) {
    const uint64_t rounded = bytes == 0 ? kPageBytes : (bytes + kPageBytes - 1) / kPageBytes * kPageBytes;
    void* memory = std::aligned_alloc(kPageBytes, static_cast<size_t>(rounded));
    if (memory == nullptr) throw std::bad_alloc();
    std::memset(memory, 0, static_cast<size_t>(rounded));
    return static_cast<uint8_t*>(memory);
}

}  // namespace

PageMemory::PageMemory(uint64_t bytes) : m_bytes(bytes), m_data(AllocatePages(bytes)) {}

PageMemory::~PageMemory() { std::free(m_data); }

}  // namespace tulx7sim
