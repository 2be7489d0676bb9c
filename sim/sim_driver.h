// The simulated platform as one process-wide object: the device registry
// that lists the boards' services, the kernel driver behind them, and the
// boards. One mutex guards all of it (SimState); the driver takes it at
// every entry and hands the work to the collaborators it owns: the
// scheduler of the boards' queues and the three groups of requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim_buffer_requests.h"
#include "sim_event_requests.h"
#include "sim_scheduler.h"
#include "sim_state.h"
#include "sim_transfer_requests.h"
#include "tulx7/device_registry.h"
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
    SimDriver();
    static std::shared_ptr<RenderEngine> DefaultEngine();
    void BuildBoards();

    // Clients: the first starts the workers, the last to close joins them.
    devreg::Result OpenClient(devreg::Connection connection, uint64_t* clientId);
    void CloseClient(SimLock& lock, uint32_t clientId);

    // Requests. Each answers the driver status in the record's first word;
    // outputs are written only on success (a wait reports its events
    // whatever happens).
    devreg::Result Request(SimLock& lock, devreg::Connection connection, uint32_t clientId,
                           uint32_t code, uint64_t address);
    int32_t Dispatch(SimLock& lock, SimClient& client, uint32_t code, void* record,
                     RequestLogEntry& entry);

    SimState m_state;
    SimScheduler m_scheduler{m_state};
    SimBufferRequests m_bufferRequests{m_state};
    SimTransferRequests m_transferRequests{m_state, m_scheduler};
    SimEventRequests m_eventRequests{m_state, m_scheduler};
};

}  // namespace tulx7sim
