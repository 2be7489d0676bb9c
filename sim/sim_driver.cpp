#include "sim_driver.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "tulx7sim/command_executor.h"

namespace tulx7sim {

namespace {

constexpr size_t kDriverLogLimit = 10000;

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

SimDriver::SimDriver() : m_engine(DefaultEngine()) {
    ConfigParseResult parsed = ConfigFromEnvironment();
    for (const std::string& warning : parsed.warnings) std::fprintf(stderr, "tulx7sim: %s\n", warning.c_str());
    m_config = parsed.config;
    BuildBoards();
}

void SimDriver::BuildBoards() {
    m_boards.clear();
    for (int i = 0; i < m_config.boards; ++i) {
        auto board = std::make_unique<SimBoard>();
        board->index = i;
        board->totalBytes = static_cast<uint64_t>(m_config.memoryMB) << 20;
        m_boards.push_back(std::move(board));
    }
    if (m_logFile != nullptr && m_logFile != stderr) std::fclose(m_logFile);
    m_logFile = nullptr;
    if (m_config.logPath == "stderr")
        m_logFile = stderr;
    else if (!m_config.logPath.empty())
        m_logFile = std::fopen(m_config.logPath.c_str(), "a");
}

void SimDriver::Reset(const SimConfig& config) {
    Lock lock(m_mutex);
    for (auto& board : m_boards) board->paused = false;
    m_changed.notify_all();
    while (!m_clients.empty()) {
        const uint32_t id = m_clients.begin()->first;
        CloseClient(lock, id);
        // A client another thread is already closing goes away by itself.
        m_changed.wait(lock, [&] { return m_clients.find(id) == m_clients.end(); });
    }
    StopWorkers(lock);

    m_objects.clear();
    m_connections.clear();
    m_hostBuffers.clear();
    m_hostBytesLive = 0;
    m_mappings.clear();
    m_portUnavailable = false;
    m_driverAbsent = false;
    std::fill(std::begin(m_serviceOpenFails), std::end(m_serviceOpenFails), false);
    std::fill(std::begin(m_clientRefused), std::end(m_clientRefused), false);
    m_hostGrantLimit = UINT64_MAX;
    m_submitFailures.clear();
    m_completionFailures.clear();
    m_transportFailures.clear();
    m_requestLog.clear();
    m_driverLog.clear();
    m_stats = Stats{};
    m_engine = DefaultEngine();
    ClearChipDiagnostics();
    m_config = config;
    BuildBoards();
}

bool SimDriver::Configure(const SimConfig& config) {
    Lock lock(m_mutex);
    if (!m_clients.empty()) return false;
    m_config = config;
    BuildBoards();
    return true;
}

SimConfig SimDriver::Config() {
    Lock lock(m_mutex);
    return m_config;
}

// ---------------------------------------------------------------------------
// Clients and workers.

devreg::Result SimDriver::OpenClient(Lock&, devreg::Connection connection, uint64_t* clientId) {
    const auto found = m_connections.find(connection);
    if (found == m_connections.end()) return devreg::kErrorNotFound;
    const int boardIndex = found->second;
    if (boardIndex >= static_cast<int>(m_boards.size())) return devreg::kErrorNotFound;
    if (m_clientRefused[boardIndex]) return devreg::kErrorNotPermitted;

    auto state = std::make_unique<ClientState>();
    state->client.id = m_nextClientId++;
    if (m_nextClientId == 0) m_nextClientId = 1;
    state->client.connection = connection;
    state->client.board = boardIndex;
    SimBoard& board = *m_boards[boardIndex];
    if (board.clients++ == 0) m_engine->ResetRegisters(boardIndex, board.registers);
    *clientId = state->client.id;
    m_clients[state->client.id] = std::move(state);
    StartWorkers();
    return devreg::kSuccess;
}

void SimDriver::CloseClient(Lock& lock, uint32_t clientId) {
    const auto found = m_clients.find(clientId);
    if (found == m_clients.end() || found->second->closing) return;
    ClientState& state = *found->second;
    state.closing = true;
    m_changed.wait(lock, [&] { return state.client.pendingJobs == 0 && state.activeRequests == 0; });

    SimClient& client = state.client;
    int buffers = 0;
    while (!client.attachments.empty()) {
        DropAttachment(client, client.attachments.begin()->first);
        ++buffers;
    }
    const int hostBuffers = static_cast<int>(client.hostBuffers.size());
    for (int32_t id : client.hostBuffers) {
        const auto block = m_hostBuffers.find(id);
        if (block == m_hostBuffers.end()) continue;
        m_hostBytesLive -= block->second->memory.Bytes();
        m_hostBuffers.erase(block);
        m_freedHostBuffers.insert(id);
    }
    client.hostBuffers.clear();
    const int mappings = static_cast<int>(client.mappings.size());
    for (uint32_t id : std::vector<uint32_t>(client.mappings.begin(), client.mappings.end()))
        ReleaseMapping(id);

    if (buffers + hostBuffers + mappings > 0) {
        Log("client %u of board %d closed with %d buffer(s), %d host buffer(s) and %d mapping(s) "
            "still open; freed",
            clientId, client.board, buffers, hostBuffers, mappings);
    }
    m_stats.leakedBuffers += buffers;
    m_stats.leakedHostBuffers += hostBuffers;
    m_stats.leakedMappings += mappings;
    if (client.board < static_cast<int>(m_boards.size())) --m_boards[client.board]->clients;
    m_clients.erase(found);
    m_changed.notify_all();
    if (m_clients.empty()) StopWorkers(lock);
}

void SimDriver::StartWorkers() {
    if (m_workersRunning) return;
    m_workersRunning = true;
    const uint64_t generation = ++m_generation;
    const int queues = m_config.mode == QueueMode::kThreeQueues ? SimBoard::kQueues : 1;
    for (size_t b = 0; b < m_boards.size(); ++b)
        for (int q = 0; q < queues; ++q)
            m_workers.emplace_back(&SimDriver::WorkerLoop, this, static_cast<int>(b), q, generation);
}

void SimDriver::StopWorkers(Lock& lock) {
    if (!m_workersRunning) return;
    m_workersRunning = false;
    ++m_generation;
    std::vector<std::thread> workers = std::move(m_workers);
    m_workers.clear();
    m_changed.notify_all();
    lock.unlock();
    for (std::thread& worker : workers) worker.join();
    lock.lock();
}

void SimDriver::WorkerLoop(int boardIndex, int queue, uint64_t generation) {
    Lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] {
            return m_generation != generation || FrontReady(*m_boards[boardIndex], queue);
        });
        if (m_generation != generation) return;
        SimBoard& board = *m_boards[boardIndex];
        std::shared_ptr<Job> job = board.queues[queue].front();
        board.queues[queue].pop_front();
        job->state = Job::State::kRunning;
        const int latency = m_config.latencyMicroseconds;
        lock.unlock();

        if (latency > 0) std::this_thread::sleep_for(std::chrono::microseconds(latency));
        uint64_t moved = 0;
        const int32_t status = job->injectedFailure != 0 ? job->injectedFailure : job->run(moved);

        lock.lock();
        m_stats.bytesMoved += moved;
        FinishJob(*job, status);
    }
}

// ---------------------------------------------------------------------------
// Events and queues.

bool SimDriver::KnownEvent(uint32_t id) const {
    return id == 0 || id == TULX7_DR_NO_EVENT || id <= m_lastIssued;
}

bool SimDriver::EventComplete(uint32_t id) const {
    if (id == 0 || id == TULX7_DR_NO_EVENT) return true;
    return id <= m_lastIssued && m_incomplete.count(id) == 0;
}

bool SimDriver::DependencyMet(uint32_t id) const {
    // Everything issued up to the id must have finished, on every board.
    if (id == 0 || id == TULX7_DR_NO_EVENT) return true;
    return m_incomplete.empty() || *m_incomplete.begin() > id;
}

bool SimDriver::FrontReady(const SimBoard& board, int queue) const {
    if (board.paused || board.queues[queue].empty()) return false;
    const Job& job = *board.queues[queue].front();
    return std::all_of(job.dependencies.begin(), job.dependencies.end(),
                       [this](uint32_t id) { return DependencyMet(id); });
}

int32_t SimDriver::Enqueue(const std::shared_ptr<Job>& job, int idCount) {
    if (m_lastIssued >= TULX7_DR_NO_EVENT - 1 - static_cast<uint32_t>(idCount))
        return TULX7_DR_STATUS_MISC_ERROR;
    for (int i = 0; i < idCount; ++i) {
        const uint32_t id = ++m_lastIssued;
        job->ids.push_back(id);
        m_incomplete.insert(id);
        m_jobsByEvent[id] = job;
    }
    for (const auto& buffer : job->buffers) ++buffer->pendingJobs;
    for (const auto& block : job->hostBlocks) ++block->pendingJobs;
    const auto client = m_clients.find(job->client);
    if (client != m_clients.end()) ++client->second->client.pendingJobs;
    int32_t failure = 0;
    if (FireInjection(m_completionFailures, job->code, &failure)) job->injectedFailure = failure;
    const int queue = m_config.mode == QueueMode::kThreeQueues ? job->queueTag : 0;
    m_boards[job->board]->queues[queue].push_back(job);
    m_changed.notify_all();
    return TULX7_DR_STATUS_SUCCESS;
}

void SimDriver::FinishJob(Job& job, int32_t status, bool aborted) {
    for (uint32_t id : job.ids) {
        m_incomplete.erase(id);
        m_jobsByEvent.erase(id);
        if (status != TULX7_DR_STATUS_SUCCESS) m_failed[id] = status;
    }
    for (const auto& buffer : job.buffers) --buffer->pendingJobs;
    for (const auto& block : job.hostBlocks) --block->pendingJobs;
    const auto client = m_clients.find(job.client);
    if (client != m_clients.end()) --client->second->client.pendingJobs;
    if (status != TULX7_DR_STATUS_SUCCESS) {
        ++m_stats.jobsFailed;
        Log("board %d: request 0x%08X (event %u) failed: %s%s%s", job.board, job.code,
            job.ids.empty() ? 0u : job.ids.front(),
            status >= 0 && status < TULX7_DR_STATUS_COUNT ? tulx7_dr_status_strings[status] : "?",
            job.diagnostic.empty() ? "" : ": ", job.diagnostic.c_str());
    } else if (aborted) {
        ++m_stats.jobsAborted;
    } else {
        ++m_stats.jobsCompleted;
        if (!job.diagnostic.empty())
            Log("board %d: request 0x%08X (event %u): %s", job.board, job.code,
                job.ids.empty() ? 0u : job.ids.front(), job.diagnostic.c_str());
    }
    job.state = Job::State::kDone;
    job.run = nullptr;
    job.buffers.clear();
    job.hostBlocks.clear();
    m_changed.notify_all();
}

bool SimDriver::RemoveQueued(const std::shared_ptr<Job>& job) {
    for (auto& queue : m_boards[job->board]->queues) {
        const auto found = std::find(queue.begin(), queue.end(), job);
        if (found != queue.end()) {
            queue.erase(found);
            return true;
        }
    }
    return false;
}

int SimDriver::PeerOf(int board) const {
    if (board < 0 || board >= m_config.boards) return -1;
    const int peer = m_config.peers[board];
    if (peer < 0 || peer >= m_config.boards || peer == board) return -1;
    return peer;
}

bool SimDriver::FireInjection(std::vector<Injection>& injections, uint32_t code, int32_t* status) {
    bool fired = false;
    for (auto it = injections.begin(); it != injections.end();) {
        if (it->code == code && --it->remaining <= 0) {
            if (!fired && status != nullptr) *status = it->status;
            fired = true;
            it = injections.erase(it);
        } else {
            ++it;
        }
    }
    return fired;
}

void SimDriver::Log(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (m_driverLog.size() < kDriverLogLimit) m_driverLog.emplace_back(line);
    if (m_logFile != nullptr) {
        std::fprintf(m_logFile, "tulx7sim: %s\n", line);
        std::fflush(m_logFile);
    }
}

}  // namespace tulx7sim
