// The simulated platform as one process-wide object: the device registry
// that lists the boards' services, the kernel driver behind them, and the
// boards. One mutex guards all of it; jobs run on the boards' worker threads
// without it, on data the driver captured for them at submission.
#pragma once

#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim_board.h"
#include "sim_job.h"
#include "sim_resources.h"
#include "tulx7/device_registry.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/config.h"
#include "tulx7sim/render_engine.h"
#include "tulx7sim/test_api.h"

namespace tulx7sim {

class SimDriver {
public:
    static SimDriver& Instance();

    // The registry (device_registry.h).
    devreg::Result GetRegistryPort(devreg::Object* port);
    devreg::Result GetMatchingServices(devreg::Object port, const char* className,
                                       devreg::Object* iterator);
    devreg::Object IteratorNext(devreg::Object iterator);
    devreg::Result ReleaseObject(devreg::Object object);
    devreg::Result OpenService(devreg::Object service, devreg::Connection* connection);
    devreg::Result CloseService(devreg::Connection connection);
    devreg::Result CallMethod(devreg::Connection connection, uint32_t selector,
                              const uint64_t* input, uint32_t inputCount, uint64_t* output,
                              uint32_t outputCount);

    // The test API (test_api.h, render_engine.h).
    void Reset(const SimConfig& config);
    bool Configure(const SimConfig& config);
    SimConfig Config();
    void SetPaused(int board, bool paused);
    void InjectSubmitFailure(uint32_t code, int nth, int32_t status);
    void InjectCompletionFailure(uint32_t code, int nth, int32_t status);
    void InjectTransportFailure(uint32_t code, int nth);
    void SetRegistryPortUnavailable(bool unavailable);
    void SetDriverPresent(bool present);
    void SetServiceOpenFailure(int board, bool fails);
    void SetClientOpenRefused(int board, bool refused);
    void SetHostBufferGrantLimit(uint64_t bytes);
    std::vector<RequestLogEntry> RequestLog();
    void ClearRequestLog();
    std::vector<std::string> DriverLog();
    Stats GetStats();
    bool WaitForIdle(int timeoutMs);
    bool GetBufferInfo(uint32_t bufferId, BufferInfo& info);
    bool AccessBufferMemory(uint32_t bufferId, uint64_t byteOffset, void* bytes, size_t count,
                            bool write);
    void SetRenderEngine(std::shared_ptr<RenderEngine> engine);
    bool ReadRegister(int board, uint32_t address, uint64_t& value);

private:
    using Lock = std::unique_lock<std::mutex>;

    struct RegistryObject {
        bool isIterator = false;
        int board = -1;                 // a service's board
        std::vector<int> services;      // an iterator's boards, in order
        size_t next = 0;
    };
    struct Injection {
        uint32_t code = 0;
        int remaining = 0;
        int32_t status = 0;
    };
    struct ClientState {
        SimClient client;
        int activeRequests = 0;
        bool closing = false;
    };

    SimDriver();
    static std::shared_ptr<RenderEngine> DefaultEngine();

    // Lifecycle of clients and workers.
    devreg::Result OpenClient(Lock& lock, devreg::Connection connection, uint64_t* clientId);
    void CloseClient(Lock& lock, uint32_t clientId);
    void StartWorkers();
    void StopWorkers(Lock& lock);
    void WorkerLoop(int board, int queue, uint64_t generation);
    void BuildBoards();

    // Requests. Each returns the driver status; outputs are written only on
    // success (a wait reports its events whatever happens).
    devreg::Result Request(Lock& lock, devreg::Connection connection, uint32_t clientId,
                           uint32_t code, uint64_t address);
    int32_t Dispatch(Lock& lock, SimClient& client, uint32_t code, void* record,
                     RequestLogEntry& entry);
    int32_t GetConfiguration(SimClient& client, Tulx7_dr_configuration& r);
    int32_t GetBoardPeers(Tulx7_dr_board_peers& r);
    int32_t AllocateBuffer(SimClient& client, Tulx7_dr_buffer_attach& r, RequestLogEntry& entry);
    int32_t AttachBuffer(SimClient& client, Tulx7_dr_buffer_attach& r, RequestLogEntry& entry);
    int32_t SetBufferPermission(Lock& lock, SimClient& client, Tulx7_dr_buffer_attach& r,
                                RequestLogEntry& entry);
    int32_t DetachBuffer(SimClient& client, Tulx7_dr_buffer_detach& r, RequestLogEntry& entry);
    int32_t AllocateHostBuffer(SimClient& client, Tulx7_dr_host_buffer_alloc& r,
                               RequestLogEntry& entry);
    int32_t FreeHostBuffer(SimClient& client, Tulx7_dr_host_buffer_free& r,
                           RequestLogEntry& entry);
    int32_t Transfer(SimClient& client, Tulx7_dr_buffer_load& r, bool load,
                     RequestLogEntry& entry);
    int32_t BoardToBoard(SimClient& client, Tulx7_dr_buffer_board2board& r,
                         RequestLogEntry& entry);
    int32_t Render(SimClient& client, Tulx7_dr_render& r, RequestLogEntry& entry);
    int32_t Sync(Lock& lock, Tulx7_dr_sync& r, RequestLogEntry& entry);
    int32_t Abort(Tulx7_dr_abort& r, RequestLogEntry& entry);
    int32_t MapBuffer(Lock& lock, SimClient& client, Tulx7_dr_buffer_map& r,
                      RequestLogEntry& entry);
    int32_t UnmapBuffer(Lock& lock, SimClient& client, Tulx7_dr_buffer_unmap& r,
                        RequestLogEntry& entry);
    int32_t DumpQueue(SimClient& client, Tulx7_dr_debug_data& r);

    // Buffers.
    std::shared_ptr<SimBuffer> FindBuffer(int board, uint32_t id) const;
    void DropAttachment(SimClient& client, uint32_t bufferId);
    void WaitUntilIdle(Lock& lock, const SimBuffer& buffer);
    bool WaitUntilIdleFor(Lock& lock, const SimBuffer& buffer, int timeoutMs);
    void ReleaseMapping(uint32_t mapId);

    // Events and queues.
    bool KnownEvent(uint32_t id) const;
    bool EventComplete(uint32_t id) const;
    bool DependencyMet(uint32_t id) const;
    bool FrontReady(const SimBoard& board, int queue) const;
    int32_t Enqueue(const std::shared_ptr<Job>& job, int idCount);
    void FinishJob(Job& job, int32_t status, bool aborted = false);
    bool RemoveQueued(const std::shared_ptr<Job>& job);

    // Capabilities that follow from the driver's minor version.
    bool SupportsPeer() const { return m_config.minor != 1 && m_config.minor != 2; }
    bool SupportsAbort() const { return m_config.minor != 1; }
    bool SupportsDump() const { return m_config.minor != 1; }
    int PeerOf(int board) const;

    static bool FireInjection(std::vector<Injection>& injections, uint32_t code,
                              int32_t* status);
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    std::mutex m_mutex;
    std::condition_variable m_changed;  // any job finished, any queue or knob changed

    SimConfig m_config;
    std::vector<std::unique_ptr<SimBoard>> m_boards;
    std::shared_ptr<RenderEngine> m_engine;

    // Registry.
    std::map<devreg::Object, RegistryObject> m_objects;
    std::map<devreg::Connection, int> m_connections;  // connection -> board
    devreg::Object m_nextObject = 0x100;
    devreg::Connection m_nextConnection = 1;
    bool m_portUnavailable = false;
    bool m_driverAbsent = false;
    bool m_serviceOpenFails[kMaxBoards] = {};
    bool m_clientRefused[kMaxBoards] = {};

    // Clients and what they hold.
    std::map<uint32_t, std::unique_ptr<ClientState>> m_clients;
    uint32_t m_nextClientId = 1;
    std::map<int32_t, std::shared_ptr<HostBlock>> m_hostBuffers;
    std::set<int32_t> m_freedHostBuffers;
    int32_t m_nextHostBufferId = 1;
    uint64_t m_hostGrantLimit = UINT64_MAX;
    uint64_t m_hostBytesLive = 0;
    std::map<uint32_t, std::shared_ptr<Mapping>> m_mappings;
    uint32_t m_nextMapId = 1;
    uint32_t m_nextBufferNumber[kMaxBoards] = {1, 1, 1, 1, 1, 1, 1, 1};

    // Events. Ids are never reused, across resets too.
    uint32_t m_lastIssued = 0;
    std::set<uint32_t> m_incomplete;
    std::map<uint32_t, int32_t> m_failed;
    std::map<uint32_t, std::shared_ptr<Job>> m_jobsByEvent;

    // Workers.
    std::vector<std::thread> m_workers;
    uint64_t m_generation = 0;
    bool m_workersRunning = false;

    // Faults and observation.
    std::vector<Injection> m_submitFailures;
    std::vector<Injection> m_completionFailures;
    std::vector<Injection> m_transportFailures;
    std::vector<RequestLogEntry> m_requestLog;
    std::vector<std::string> m_driverLog;
    FILE* m_logFile = nullptr;
    Stats m_stats;
};

}  // namespace tulx7sim
