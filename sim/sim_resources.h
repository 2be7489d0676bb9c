// What the driver hands out: board buffers with their storage, driver host
// buffers and mappings, and the clients that hold them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <vector>

#include "sim_addressing.h"
#include "tulx7/device_registry.h"
#include "tulx7/driver_requests.h"

namespace tulx7sim {

// The bytes of one board buffer. A resize makes a new Storage, so a job that
// captured the old one keeps it whole until the job ends.
struct Storage {
    StorageShape shape;
    std::vector<uint8_t> bytes;
};

struct SimBuffer {
    uint32_t id = 0;
    int board = 0;
    int32_t reportedSize[3] = {};  // the sizes the driver answers with
    std::shared_ptr<Storage> storage;
    uint64_t chargedBytes = 0;     // board memory counted against the board
    uint32_t ownerClient = 0;
    int32_t share = 0;             // permission bits other clients are given
    int attachments = 0;           // over all clients
    int pendingJobs = 0;           // queued or running jobs that use it
};

// Page-aligned, zeroed host memory the driver owns; even a request for 0
// bytes gets an address.
class PageMemory {
public:
    explicit PageMemory(uint64_t bytes);  // throws std::bad_alloc
    ~PageMemory();
    PageMemory(const PageMemory&) = delete;
    PageMemory& operator=(const PageMemory&) = delete;

    uint8_t* Data() const { return m_data; }
    uint64_t Bytes() const { return m_bytes; }
    uint64_t Address() const { return reinterpret_cast<uintptr_t>(m_data); }

private:
    uint64_t m_bytes;
    uint8_t* m_data;
};

// A driver host buffer.
struct HostBlock {
    explicit HostBlock(uint64_t bytes) : memory(bytes) {}

    PageMemory memory;  // the bytes granted
    int32_t id = 0;
    uint32_t client = 0;
    uint64_t asked = 0;
    int pendingJobs = 0;
};

// A live mapping: a shadow copy of a box of a buffer's field.
struct Mapping {
    explicit Mapping(uint64_t bytes) : memory(bytes) {}

    PageMemory memory;
    uint32_t id = 0;
    uint32_t client = 0;
    std::shared_ptr<SimBuffer> buffer;
    int32_t access = 0;
    BoardBox box;
    int32_t hostElementBytes = 1;
    int32_t alignment = 0;
};

// A new HostBlock or Mapping of `bytes`, or null when the host has no memory
// left for it.
template <typename T>
std::shared_ptr<T> MakeWithMemory(uint64_t bytes) {
    try {
        return std::make_shared<T>(bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

struct SimClient {
    uint32_t id = 0;
    devreg::Connection connection = 0;
    int board = 0;
    std::map<uint32_t, int> attachments;  // buffer id -> attachments held
    std::set<int32_t> hostBuffers;
    std::set<uint32_t> mappings;
    int pendingJobs = 0;
};

}  // namespace tulx7sim
