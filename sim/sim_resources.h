// What the driver hands out: board buffers with their storage, driver host
// buffers and mappings, and the clients that hold them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "device_registry.h"
#include "driver_requests.h"
#include "sim_addressing.h"

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

// A driver host buffer: page-aligned host memory the driver owns.
struct HostBlock {
    explicit HostBlock(uint64_t bytes);
    ~HostBlock();
    HostBlock(const HostBlock&) = delete;
    HostBlock& operator=(const HostBlock&) = delete;

    int32_t id = 0;
    uint32_t client = 0;
    uint64_t asked = 0;
    uint64_t granted = 0;
    uint8_t* memory = nullptr;
    int pendingJobs = 0;
};

// A live mapping: a shadow copy of a box of a buffer's field.
struct Mapping {
    explicit Mapping(uint64_t bytes);
    ~Mapping();
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    uint32_t id = 0;
    uint32_t client = 0;
    std::shared_ptr<SimBuffer> buffer;
    int32_t access = 0;
    BoardBox box;
    int32_t hostElementBytes = 1;
    int32_t alignment = 0;
    uint64_t bytes = 0;
    uint8_t* memory = nullptr;
};

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
