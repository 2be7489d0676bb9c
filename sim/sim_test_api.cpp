// The platform's controls for tests and debugging sessions.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "sim_driver.h"
#include "tulx7sim/test_api.h"

namespace tulx7sim {

namespace {

constexpr int kBackDoorWaitMs = 5000;

bool ValidBoard(int board) { return board >= 0 && board < kMaxBoards; }

}  // namespace

void SimDriver::SetPaused(int board, bool paused) {
    Lock lock(m_mutex);
    if (board < 0 || board >= static_cast<int>(m_boards.size())) return;
    m_boards[board]->paused = paused;
    m_changed.notify_all();
}

void SimDriver::InjectSubmitFailure(uint32_t code, int nth, int32_t status) {
    Lock lock(m_mutex);
    m_submitFailures.push_back({code, std::max(nth, 1), status});
}

void SimDriver::InjectCompletionFailure(uint32_t code, int nth, int32_t status) {
    Lock lock(m_mutex);
    m_completionFailures.push_back({code, std::max(nth, 1), status});
}

void SimDriver::InjectTransportFailure(uint32_t code, int nth) {
    Lock lock(m_mutex);
    m_transportFailures.push_back({code, std::max(nth, 1), 0});
}

void SimDriver::SetRegistryPortUnavailable(bool unavailable) {
    Lock lock(m_mutex);
    m_portUnavailable = unavailable;
}

void SimDriver::SetDriverPresent(bool present) {
    Lock lock(m_mutex);
    m_driverAbsent = !present;
}

void SimDriver::SetServiceOpenFailure(int board, bool fails) {
    Lock lock(m_mutex);
    if (ValidBoard(board)) m_serviceOpenFails[board] = fails;
}

void SimDriver::SetClientOpenRefused(int board, bool refused) {
    Lock lock(m_mutex);
    if (ValidBoard(board)) m_clientRefused[board] = refused;
}

void SimDriver::SetHostBufferGrantLimit(uint64_t bytes) {
    Lock lock(m_mutex);
    m_hostGrantLimit = bytes;
}

std::vector<RequestLogEntry> SimDriver::RequestLog() {
    Lock lock(m_mutex);
    return m_requestLog;
}

void SimDriver::ClearRequestLog() {
    Lock lock(m_mutex);
    m_requestLog.clear();
}

std::vector<std::string> SimDriver::DriverLog() {
    Lock lock(m_mutex);
    return m_driverLog;
}

Stats SimDriver::GetStats() {
    Lock lock(m_mutex);
    Stats stats = m_stats;
    stats.openConnections = static_cast<int>(m_connections.size());
    stats.openClients = static_cast<int>(m_clients.size());
    stats.liveRegistryObjects = static_cast<int>(m_objects.size());
    stats.liveHostBuffers = static_cast<int>(m_hostBuffers.size());
    stats.liveMappings = static_cast<int>(m_mappings.size());
    stats.workerThreads = static_cast<int>(m_workers.size());
    for (const auto& board : m_boards) {
        stats.liveBuffers += static_cast<int>(board->buffers.size());
        stats.boardBytesAllocated[board->index] = board->allocatedBytes;
    }
    // A copy counts once although it holds two ids.
    std::set<const Job*> jobs;
    for (const auto& [id, job] : m_jobsByEvent) jobs.insert(job.get());
    stats.pendingJobs = static_cast<int>(jobs.size());
    return stats;
}

bool SimDriver::WaitForIdle(int timeoutMs) {
    Lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_incomplete.empty(); });
}

bool SimDriver::GetBufferInfo(uint32_t bufferId, BufferInfo& info) {
    Lock lock(m_mutex);
    const std::shared_ptr<SimBuffer> buffer = FindBuffer(static_cast<int>(bufferId >> 28), bufferId);
    if (!buffer) return false;
    const StorageShape& shape = buffer->storage->shape;
    info.board = buffer->board;
    info.dimension = shape.dimension;
    info.elementBytes = shape.elementBytes;
    std::copy(buffer->reportedSize, buffer->reportedSize + 3, info.reportedSize);
    std::copy(shape.size, shape.size + 3, info.storageSize);
    info.attachments = buffer->attachments;
    info.ownerClient = buffer->ownerClient;
    info.share = buffer->share;
    return true;
}

bool SimDriver::AccessBufferMemory(uint32_t bufferId, uint64_t byteOffset, void* bytes,
                                   size_t count, bool write) {
    Lock lock(m_mutex);
    std::shared_ptr<SimBuffer> buffer = FindBuffer(static_cast<int>(bufferId >> 28), bufferId);
    if (!buffer || bytes == nullptr) return false;
    if (!WaitUntilIdleFor(lock, *buffer, kBackDoorWaitMs)) return false;
    std::vector<uint8_t>& storage = buffer->storage->bytes;
    if (byteOffset > storage.size() || count > storage.size() - byteOffset) return false;
    if (write)
        std::memcpy(storage.data() + byteOffset, bytes, count);
    else
        std::memcpy(bytes, storage.data() + byteOffset, count);
    return true;
}

void SimDriver::SetRenderEngine(std::shared_ptr<RenderEngine> engine) {
    Lock lock(m_mutex);
    if (engine)
        m_engine = std::move(engine);
    else
        m_engine = DefaultEngine();
}

// ---------------------------------------------------------------------------
// The public functions.

void ResetPlatform(const SimConfig& config) { SimDriver::Instance().Reset(config); }

void ResetPlatform() {
    const ConfigParseResult parsed = ConfigFromEnvironment();
    SimDriver::Instance().Reset(parsed.config);
}

bool Configure(const SimConfig& config) { return SimDriver::Instance().Configure(config); }
SimConfig CurrentConfig() { return SimDriver::Instance().Config(); }
void PauseBoard(int board) { SimDriver::Instance().SetPaused(board, true); }
void ResumeBoard(int board) { SimDriver::Instance().SetPaused(board, false); }

void InjectSubmitFailure(uint32_t code, int nth, int32_t status) {
    SimDriver::Instance().InjectSubmitFailure(code, nth, status);
}
void InjectCompletionFailure(uint32_t code, int nth, int32_t status) {
    SimDriver::Instance().InjectCompletionFailure(code, nth, status);
}
void InjectTransportFailure(uint32_t code, int nth) {
    SimDriver::Instance().InjectTransportFailure(code, nth);
}
void SetRegistryPortUnavailable(bool unavailable) {
    SimDriver::Instance().SetRegistryPortUnavailable(unavailable);
}
void SetDriverPresent(bool present) { SimDriver::Instance().SetDriverPresent(present); }
void SetServiceOpenFailure(int board, bool fails) {
    SimDriver::Instance().SetServiceOpenFailure(board, fails);
}
void SetClientOpenRefused(int board, bool refused) {
    SimDriver::Instance().SetClientOpenRefused(board, refused);
}
void SetHostBufferGrantLimit(uint64_t bytes) { SimDriver::Instance().SetHostBufferGrantLimit(bytes); }
std::vector<RequestLogEntry> RequestLog() { return SimDriver::Instance().RequestLog(); }
void ClearRequestLog() { SimDriver::Instance().ClearRequestLog(); }
std::vector<std::string> DriverLog() { return SimDriver::Instance().DriverLog(); }
Stats GetStats() { return SimDriver::Instance().GetStats(); }
bool WaitForIdle(int timeoutMs) { return SimDriver::Instance().WaitForIdle(timeoutMs); }
bool GetBufferInfo(uint32_t bufferId, BufferInfo& info) {
    return SimDriver::Instance().GetBufferInfo(bufferId, info);
}
bool ReadBufferMemory(uint32_t bufferId, uint64_t byteOffset, void* destination, size_t bytes) {
    return SimDriver::Instance().AccessBufferMemory(bufferId, byteOffset, destination, bytes, false);
}
bool WriteBufferMemory(uint32_t bufferId, uint64_t byteOffset, const void* source, size_t bytes) {
    return SimDriver::Instance().AccessBufferMemory(bufferId, byteOffset, const_cast<void*>(source),
                                                    bytes, true);
}

}  // namespace tulx7sim
