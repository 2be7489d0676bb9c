// Control and observation of the simulated platform, for tests and for
// debugging sessions. Nothing here is part of what a program sees of a real
// platform; the library never calls it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tulx7sim/config.h"

namespace tulx7sim {

// ---------------------------------------------------------------------------
// Platform life.

// Tears the platform down and builds it again from `config`: every open
// client is closed (its queued work finished, paused boards resumed, its
// resources counted as leaks), the worker threads are joined, and knobs,
// logs and counters are cleared. Event, buffer and host-buffer ids keep
// counting, so an id is never reused within a process.
void ResetPlatform(const SimConfig& config);
// The same with the configuration read from the environment.
void ResetPlatform();

// Changes the configuration while no client is open; false otherwise.
bool Configure(const SimConfig& config);
SimConfig CurrentConfig();

// ---------------------------------------------------------------------------
// Faults.

// A paused board starts no queued job; jobs already running finish.
void PauseBoard(int board);
void ResumeBoard(int board);

// The nth request (1 = the next) of `code` from now on is answered with
// `status` at submission and has no effect.
void InjectSubmitFailure(uint32_t code, int nth, int32_t status);
// The nth request of `code` from now on that the driver accepts completes
// with `status` (6, a hardware error, by default) without moving any data.
void InjectCompletionFailure(uint32_t code, int nth, int32_t status = 6);
// The nth request of `code` from now on never reaches the driver: the
// registry call fails and the record is not touched.
void InjectTransportFailure(uint32_t code, int nth);

// Steps of a client open that can be made to fail.
void SetRegistryPortUnavailable(bool unavailable);    // the registry port cannot be had
void SetDriverPresent(bool present);                   // the service class is not registered
void SetServiceOpenFailure(int board, bool fails);     // opening the board's service fails
void SetClientOpenRefused(int board, bool refused);    // the driver refuses the client

// Host-buffer allocations grant at most this many bytes (0 refuses them);
// UINT64_MAX lifts the limit.
void SetHostBufferGrantLimit(uint64_t bytes);

// ---------------------------------------------------------------------------
// Observation.

struct RequestLogEntry {
    uint32_t code = 0;
    int board = -1;
    uint32_t client = 0;
    bool reachedDriver = true;  // false for an injected transport failure
    int32_t status = 0;         // the status answered at submission
    uint32_t bufferId = 0xFFFFFFFFu;      // the buffer named (a copy's source)
    uint32_t otherBufferId = 0xFFFFFFFFu;  // a copy's destination
    std::vector<uint32_t> events;        // event ids issued
    std::vector<uint32_t> dependencies;  // event ids the record named
    uint64_t hostBytes = 0;              // host bytes a transfer or mapping covers
    uint64_t hostAddress = 0;
    int32_t boxMin[3] = {};  // board box of a transfer or mapping
    int32_t boxMax[3] = {};
};

// Every request since the last reset or clear, in arrival order.
std::vector<RequestLogEntry> RequestLog();
void ClearRequestLog();

// The driver's own log: queue dumps, failed jobs, leaks at close.
std::vector<std::string> DriverLog();

struct Stats {
    int openConnections = 0;
    int openClients = 0;
    int liveRegistryObjects = 0;  // iterators and services not yet released
    int liveBuffers = 0;
    int liveHostBuffers = 0;
    int liveMappings = 0;
    int leakedBuffers = 0;      // still attached when their client closed
    int leakedHostBuffers = 0;  // still allocated when their client closed
    int leakedMappings = 0;     // still mapped when their client closed
    int hostBuffersFreedInUse = 0;  // freed while a queued transfer still used them
    int pendingJobs = 0;        // queued or running
    int workerThreads = 0;
    uint64_t jobsCompleted = 0;
    uint64_t jobsFailed = 0;
    uint64_t jobsAborted = 0;
    uint64_t bytesMoved = 0;
    uint64_t boardBytesAllocated[kMaxBoards] = {};
};

Stats GetStats();

// Waits until no queued or running job is left; false when the time runs
// out (a paused board never gets idle).
bool WaitForIdle(int timeoutMs);

// ---------------------------------------------------------------------------
// The back door to board memory. Each call first waits (up to a few seconds)
// for the queued work on the buffer to finish and fails if it does not.

struct BufferInfo {
    int board = -1;
    int dimension = 0;      // axes - 1
    int elementBytes = 0;
    int32_t reportedSize[3] = {};  // sizes the driver reports (0 for an absent axis)
    int32_t storageSize[3] = {};   // elements allocated per axis (1 for an absent axis)
    int attachments = 0;
    uint32_t ownerClient = 0;
    int32_t share = 0;
};

// False for an id that is not live.
bool GetBufferInfo(uint32_t bufferId, BufferInfo& info);
// Bytes of the buffer's storage, element (u, v, w) at
// ((w * storageSize[1] + v) * storageSize[0] + u) * elementBytes.
bool ReadBufferMemory(uint32_t bufferId, uint64_t byteOffset, void* destination, size_t bytes);
bool WriteBufferMemory(uint32_t bufferId, uint64_t byteOffset, const void* source, size_t bytes);

// The value of one of a board's chip registers, 32 or 64 bits wide as the
// chip's register map has it, once the board's queued renders have finished.
// False for an address that holds no register, a board that does not exist,
// or renders that do not finish within a few seconds.
bool ReadBoardRegister(int board, uint32_t address, uint64_t& value);

}  // namespace tulx7sim
