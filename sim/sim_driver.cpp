#include "sim_driver.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "tulx7/register_map.h"
#include "tulx7sim/command_executor.h"

namespace tulx7sim {

namespace {

constexpr int kBackDoorWaitMs = 5000;
constexpr int kRegisterWaitMs = 5000;

devreg::Result Fail(devreg::Result result, int error) {
    errno = error;
    return result;
}

}  // namespace

// The engine that comes with the driver executes the command blocks on the
// board's register file and hands renders to the platform's chip model.
std::shared_ptr<RenderEngine> SimDriver::DefaultEngine() {
    return std::make_shared<CommandBlockEngine>();
}

SimDriver& SimDriver::Instance() {
    // Never destroyed: a program that ends with clients open still has
    // worker threads parked on the driver's condition variable.
    static SimDriver* driver = new SimDriver();
    return *driver;
}

SimDriver::SimDriver() {
    m_state.engine = DefaultEngine();
    ConfigParseResult parsed = ConfigFromEnvironment();
    for (const std::string& warning : parsed.warnings) std::fprintf(stderr, "tulx7sim: %s\n", warning.c_str());
    m_state.config = parsed.config;
    BuildBoards();
}

void SimDriver::BuildBoards() {
    m_state.boards.clear();
    for (int i = 0; i < m_state.config.boards; ++i) {
        auto board = std::make_unique<SimBoard>();
        board->index = i;
        board->totalBytes = static_cast<uint64_t>(m_state.config.memoryMB) << 20;
        m_state.boards.push_back(std::move(board));
    }
    m_state.log.CopyTo(m_state.config.logPath);
}

void SimDriver::Reset(const SimConfig& config) {
    SimLock lock(m_state.mutex);
    for (auto& board : m_state.boards) board->paused = false;
    m_state.changed.notify_all();
    while (!m_state.clients.Empty()) {
        const uint32_t id = m_state.clients.FirstId();
        CloseClient(lock, id);
        // A client another thread is already closing goes away by itself.
        m_state.changed.wait(lock, [&] { return m_state.clients.Find(id) == nullptr; });
    }
    m_scheduler.Stop(lock);

    m_state.registry.Clear();
    m_state.clients.ClearHoldings();
    m_state.faults.Clear();
    m_state.log.Clear();
    m_state.stats = Stats{};
    m_state.engine = DefaultEngine();
    ClearChipDiagnostics();
    m_state.config = config;
    BuildBoards();
}

bool SimDriver::Configure(const SimConfig& config) {
    SimLock lock(m_state.mutex);
    if (!m_state.clients.Empty()) return false;
    m_state.config = config;
    BuildBoards();
    return true;
}

SimConfig SimDriver::Config() {
    SimLock lock(m_state.mutex);
    return m_state.config;
}

// ---------------------------------------------------------------------------
// The registry.

devreg::Result SimDriver::GetRegistryPort(devreg::Object* port) {
    SimLock lock(m_state.mutex);
    return m_state.registry.GetPort(port);
}

devreg::Result SimDriver::GetMatchingServices(devreg::Object port, const char* className,
                                              devreg::Object* iterator) {
    SimLock lock(m_state.mutex);
    return m_state.registry.MatchServices(port, className, m_state.BoardCount(), iterator);
}

devreg::Object SimDriver::IteratorNext(devreg::Object iterator) {
    SimLock lock(m_state.mutex);
    return m_state.registry.Next(iterator);
}

devreg::Result SimDriver::ReleaseObject(devreg::Object object) {
    SimLock lock(m_state.mutex);
    return m_state.registry.Release(object);
}

devreg::Result SimDriver::OpenService(devreg::Object service, devreg::Connection* connection) {
    SimLock lock(m_state.mutex);
    return m_state.registry.OpenService(service, m_state.BoardCount(), connection);
}

devreg::Result SimDriver::CloseService(devreg::Connection connection) {
    SimLock lock(m_state.mutex);
    if (m_state.registry.BoardOf(connection) < 0) return Fail(devreg::kErrorNotFound, ENOENT);
    // Clients the program left open go with their connection.
    for (uint32_t id : m_state.clients.IdsOf(connection)) CloseClient(lock, id);
    m_state.registry.Forget(connection);
    return devreg::kSuccess;
}

devreg::Result SimDriver::CallMethod(devreg::Connection connection, uint32_t selector,
                                     const uint64_t* input, uint32_t inputCount,
                                     uint64_t* output, uint32_t outputCount) {
    SimLock lock(m_state.mutex);
    if (m_state.registry.BoardOf(connection) < 0) return Fail(devreg::kErrorNotFound, ENXIO);
    switch (selector) {
        case TULX7_DR_SELECTOR_OPEN_CLIENT: {
            if (inputCount != 0 || outputCount != 1 || output == nullptr)
                return Fail(devreg::kErrorBadArgument, EINVAL);
            const devreg::Result result = OpenClient(connection, output);
            return result == devreg::kSuccess ? result : Fail(result, EACCES);
        }
        case TULX7_DR_SELECTOR_CLOSE_CLIENT: {
            if (inputCount != 1 || input == nullptr) return Fail(devreg::kErrorBadArgument, EINVAL);
            const SimClientState* state = input[0] > UINT32_MAX
                                              ? nullptr
                                              : m_state.clients.Find(static_cast<uint32_t>(input[0]));
            if (state == nullptr || state->client.connection != connection)
                return Fail(devreg::kErrorNotFound, ENOENT);
            CloseClient(lock, static_cast<uint32_t>(input[0]));
            return devreg::kSuccess;
        }
        case TULX7_DR_SELECTOR_REQUEST:
            if (inputCount != 3 || input == nullptr || input[0] > UINT32_MAX || input[1] > UINT32_MAX)
                return Fail(devreg::kErrorBadArgument, EINVAL);
            return Request(lock, connection, static_cast<uint32_t>(input[0]),
                           static_cast<uint32_t>(input[1]), input[2]);
        default:
            return Fail(devreg::kErrorUnsupported, ENOTSUP);
    }
}

// ---------------------------------------------------------------------------
// Clients.

devreg::Result SimDriver::OpenClient(devreg::Connection connection, uint64_t* clientId) {
    const int boardIndex = m_state.registry.BoardOf(connection);
    if (boardIndex < 0 || boardIndex >= m_state.BoardCount()) return devreg::kErrorNotFound;
    if (m_state.clients.OpenRefused(boardIndex)) return devreg::kErrorNotPermitted;

    const SimClientState& state = m_state.clients.Add(connection, boardIndex);
    SimBoard& board = *m_state.boards[boardIndex];
    if (board.clients++ == 0) m_state.engine->ResetRegisters(boardIndex, board.registers);
    *clientId = state.client.id;
    m_scheduler.Start();
    return devreg::kSuccess;
}

void SimDriver::CloseClient(SimLock& lock, uint32_t clientId) {
    SimClientState* state = m_state.clients.Find(clientId);
    if (state == nullptr || state->closing) return;
    state->closing = true;
    m_state.changed.wait(lock, [&] {
        return state->client.pendingJobs == 0 && state->activeRequests == 0;
    });

    SimClient& client = state->client;
    int buffers = 0;
    while (!client.attachments.empty()) {
        m_state.DropAttachment(client, client.attachments.begin()->first);
        ++buffers;
    }
    const int hostBuffers = static_cast<int>(client.hostBuffers.size());
    for (int32_t id : std::vector<int32_t>(client.hostBuffers.begin(), client.hostBuffers.end()))
        m_state.clients.FreeHostBuffer(client, id);
    const int mappings = static_cast<int>(client.mappings.size());
    for (uint32_t id : std::vector<uint32_t>(client.mappings.begin(), client.mappings.end()))
        m_state.clients.ReleaseMapping(id);

    if (buffers + hostBuffers + mappings > 0) {
        m_state.log.Log(
            "client %u of board %d closed with %d buffer(s), %d host buffer(s) and %d mapping(s) "
            "still open; freed",
            clientId, client.board, buffers, hostBuffers, mappings);
    }
    m_state.stats.leakedBuffers += buffers;
    m_state.stats.leakedHostBuffers += hostBuffers;
    m_state.stats.leakedMappings += mappings;
    if (client.board < m_state.BoardCount()) --m_state.boards[client.board]->clients;
    m_state.clients.Erase(clientId);
    m_state.changed.notify_all();
    if (m_state.clients.Empty()) m_scheduler.Stop(lock);
}

// ---------------------------------------------------------------------------
// Requests.

devreg::Result SimDriver::Request(SimLock& lock, devreg::Connection connection, uint32_t clientId,
                                  uint32_t code, uint64_t address) {
    SimClientState* state = m_state.clients.Find(clientId);
    if (state == nullptr || state->client.connection != connection || state->closing)
        return Fail(devreg::kErrorNotFound, ENOENT);
    if (address == 0) return Fail(devreg::kErrorBadArgument, EFAULT);

    RequestLogEntry entry;
    entry.code = code;
    entry.board = state->client.board;
    entry.client = clientId;
    if (m_state.faults.FireTransport(code)) {
        entry.reachedDriver = false;
        m_state.log.Record(std::move(entry));
        return Fail(devreg::kErrorUnavailable, EIO);
    }

    void* data = reinterpret_cast<void*>(static_cast<uintptr_t>(address));
    int32_t status = TULX7_DR_STATUS_SUCCESS;
    if (!m_state.faults.FireSubmit(code, status)) {
        ++state->activeRequests;
        status = Dispatch(lock, state->client, code, data, entry);
        --state->activeRequests;
        m_state.changed.notify_all();
    }
    *static_cast<int32_t*>(data) = status;
    entry.status = status;
    m_state.log.Record(std::move(entry));
    return devreg::kSuccess;
}

int32_t SimDriver::Dispatch(SimLock& lock, SimClient& client, uint32_t code, void* record,
                            RequestLogEntry& entry) {
    SimBufferRequests& buffers = m_bufferRequests;
    SimTransferRequests& transfers = m_transferRequests;
    SimEventRequests& events = m_eventRequests;
    switch (code) {
        case TULX7_DR_GET_CONFIGURATION:
            return buffers.GetConfiguration(client, *static_cast<Tulx7_dr_configuration*>(record));
        case TULX7_DR_GET_BOARD_PEERS:
            return buffers.GetBoardPeers(*static_cast<Tulx7_dr_board_peers*>(record));
        case TULX7_DR_BUFFER_ALLOCATE:
            return buffers.AllocateBuffer(client, *static_cast<Tulx7_dr_buffer_attach*>(record),
                                          entry);
        case TULX7_DR_BUFFER_ATTACH:
            return buffers.AttachBuffer(client, *static_cast<Tulx7_dr_buffer_attach*>(record), entry);
        case TULX7_DR_BUFFER_SET_PERMISSION:
            return buffers.SetBufferPermission(
                lock, client, *static_cast<Tulx7_dr_buffer_attach*>(record), entry);
        case TULX7_DR_BUFFER_DETACH:
            return buffers.DetachBuffer(client, *static_cast<Tulx7_dr_buffer_detach*>(record), entry);
        case TULX7_DR_HOST_BUFFER_ALLOC:
            return buffers.AllocateHostBuffer(
                client, *static_cast<Tulx7_dr_host_buffer_alloc*>(record), entry);
        case TULX7_DR_HOST_BUFFER_FREE:
            return buffers.FreeHostBuffer(client, *static_cast<Tulx7_dr_host_buffer_free*>(record),
                                          entry);
        case TULX7_DR_BUFFER_LOAD:
            return transfers.Transfer(client, *static_cast<Tulx7_dr_buffer_load*>(record), true,
                                      entry);
        case TULX7_DR_BUFFER_UNLOAD:
            return transfers.Transfer(client, *static_cast<Tulx7_dr_buffer_load*>(record), false,
                                      entry);
        case TULX7_DR_BUFFER_BOARD2BOARD:
            return transfers.BoardToBoard(
                client, *static_cast<Tulx7_dr_buffer_board2board*>(record), entry);
        case TULX7_DR_BUFFER_MAP:
            return transfers.MapBuffer(lock, client, *static_cast<Tulx7_dr_buffer_map*>(record),
                                       entry);
        case TULX7_DR_BUFFER_UNMAP:
            return transfers.UnmapBuffer(lock, client, *static_cast<Tulx7_dr_buffer_unmap*>(record),
                                         entry);
        case TULX7_DR_RENDER:
            return events.Render(client, *static_cast<Tulx7_dr_render*>(record), entry);
        case TULX7_DR_SYNC:
            return events.Sync(lock, *static_cast<Tulx7_dr_sync*>(record), entry);
        case TULX7_DR_ABORT:
            return events.Abort(*static_cast<Tulx7_dr_abort*>(record), entry);
        case TULX7_DR_DEBUG_CQUEUE_DUMP:
            return events.DumpQueue(client, *static_cast<Tulx7_dr_debug_data*>(record));
        default:
            return TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED;
    }
}

// ---------------------------------------------------------------------------
// The test API.

void SimDriver::SetPaused(int board, bool paused) {
    SimLock lock(m_state.mutex);
    if (board < 0 || board >= m_state.BoardCount()) return;
    m_state.boards[board]->paused = paused;
    m_state.boards[board]->WakeWorkers();
    m_state.WakeHelpers();
    m_state.changed.notify_all();
}

void SimDriver::InjectSubmitFailure(uint32_t code, int nth, int32_t status) {
    SimLock lock(m_state.mutex);
    m_state.faults.AddSubmitFailure(code, nth, status);
}

void SimDriver::InjectCompletionFailure(uint32_t code, int nth, int32_t status) {
    SimLock lock(m_state.mutex);
    m_state.faults.AddCompletionFailure(code, nth, status);
}

void SimDriver::InjectTransportFailure(uint32_t code, int nth) {
    SimLock lock(m_state.mutex);
    m_state.faults.AddTransportFailure(code, nth);
}

void SimDriver::SetRegistryPortUnavailable(bool unavailable) {
    SimLock lock(m_state.mutex);
    m_state.registry.SetPortUnavailable(unavailable);
}

void SimDriver::SetDriverPresent(bool present) {
    SimLock lock(m_state.mutex);
    m_state.registry.SetDriverPresent(present);
}

void SimDriver::SetServiceOpenFailure(int board, bool fails) {
    SimLock lock(m_state.mutex);
    m_state.registry.SetServiceOpenFailure(board, fails);
}

void SimDriver::SetClientOpenRefused(int board, bool refused) {
    SimLock lock(m_state.mutex);
    m_state.clients.SetOpenRefused(board, refused);
}

void SimDriver::SetHostBufferGrantLimit(uint64_t bytes) {
    SimLock lock(m_state.mutex);
    m_state.clients.SetHostGrantLimit(bytes);
}

std::vector<RequestLogEntry> SimDriver::RequestLog() {
    SimLock lock(m_state.mutex);
    return m_state.log.Requests();
}

void SimDriver::ClearRequestLog() {
    SimLock lock(m_state.mutex);
    m_state.log.ClearRequests();
}

std::vector<std::string> SimDriver::DriverLog() {
    SimLock lock(m_state.mutex);
    return m_state.log.Messages();
}

Stats SimDriver::GetStats() {
    SimLock lock(m_state.mutex);
    Stats stats = m_state.stats;
    stats.openConnections = m_state.registry.Connections();
    stats.openClients = m_state.clients.Count();
    stats.liveRegistryObjects = m_state.registry.Objects();
    stats.liveHostBuffers = m_state.clients.HostBufferCount();
    stats.liveMappings = m_state.clients.MappingCount();
    stats.workerThreads = m_scheduler.WorkerCount();
    for (const auto& board : m_state.boards) {
        stats.liveBuffers += static_cast<int>(board->buffers.size());
        stats.boardBytesAllocated[board->index] = board->allocatedBytes;
    }
    stats.pendingJobs = m_state.events.OpenJobs();
    return stats;
}

bool SimDriver::WaitForIdle(int timeoutMs) {
    SimLock lock(m_state.mutex);
    return m_state.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return m_state.events.AllComplete(); });
}

bool SimDriver::GetBufferInfo(uint32_t bufferId, BufferInfo& info) {
    SimLock lock(m_state.mutex);
    const std::shared_ptr<SimBuffer> buffer =
        m_state.FindBuffer(static_cast<int>(bufferId >> 28), bufferId);
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
    SimLock lock(m_state.mutex);
    std::shared_ptr<SimBuffer> buffer = m_state.FindBuffer(static_cast<int>(bufferId >> 28), bufferId);
    if (!buffer || bytes == nullptr) return false;
    if (!m_state.WaitUntilIdleFor(lock, *buffer, kBackDoorWaitMs)) return false;
    std::vector<uint8_t>& storage = buffer->storage->bytes;
    if (byteOffset > storage.size() || count > storage.size() - byteOffset) return false;
    if (write)
        std::memcpy(storage.data() + byteOffset, bytes, count);
    else
        std::memcpy(bytes, storage.data() + byteOffset, count);
    return true;
}

void SimDriver::SetRenderEngine(std::shared_ptr<RenderEngine> engine) {
    SimLock lock(m_state.mutex);
    if (engine)
        m_state.engine = std::move(engine);
    else
        m_state.engine = DefaultEngine();
}

// The register file is touched by the board's render jobs without the
// driver lock; reading it once none is queued or running, under the lock
// that saw them finish, orders the read after their writes.
bool SimDriver::ReadRegister(int boardIndex, uint32_t address, uint64_t& value) {
    value = 0;
    const int width = NKW7_RegisterWidth(address);
    SimLock lock(m_state.mutex);
    if (width == 0 || boardIndex < 0 || boardIndex >= m_state.BoardCount()) return false;
    const bool idle = m_state.changed.wait_for(lock, std::chrono::milliseconds(kRegisterWaitMs), [&] {
        const auto& open = m_state.events.OpenIds();
        return std::none_of(open.begin(), open.end(), [&](const auto& entry) {
            return entry.second->board == boardIndex && entry.second->code == TULX7_DR_RENDER;
        });
    });
    if (!idle) return false;
    const RegisterFile& registers = m_state.boards[boardIndex]->registers;
    if (width == 64) return registers.Read64(address, value);
    uint32_t low = 0;
    const bool read = registers.Read32(address, low);
    value = low;
    return read;
}

}  // namespace tulx7sim
