// Everything the simulated driver keeps, guarded by its one mutex: the
// configuration, the boards, the render engine and the collaborators that
// keep the registry, the clients, the events, the injected faults and the
// logs. Jobs run on the boards' worker threads without the mutex, on data
// the driver captured for them at submission.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sim_board.h"
#include "sim_client_table.h"
#include "sim_driver_log.h"
#include "sim_event_table.h"
#include "sim_fault_injection.h"
#include "sim_registry.h"
#include "tulx7sim/config.h"
#include "tulx7sim/render_engine.h"
#include "tulx7sim/test_api.h"

namespace tulx7sim {

using SimLock = std::unique_lock<std::mutex>;

struct SimState {
    std::mutex mutex;
    std::condition_variable changed;  // any job finished, any queue or knob changed
    // A wait request's events and where it sleeps: woken only when one of
    // its events completes, not by every job of every board.
    // A waiter that runs jobs itself is woken by every job that ends.
    struct EventWaiter {
        const uint32_t* ids;
        int count;
        bool helps;
        std::condition_variable wake;
    };
    std::vector<EventWaiter*> eventWaiters;
    // Wakes the waiters of the job's events, the waiters that help and the
    // workers (that of `quietQueue`, board * queues + queue, aside) whose
    // front job may now be ready.
    void Completed(const Job& job, int quietQueue = -1);
    // Wakes the workers of the queues that hold jobs (that of `quietQueue`
    // aside); an idle worker has nothing to wake for.
    void WakeQueuedWorkers(int quietQueue = -1);
    // Wakes every waiter that helps: a board resumed or a queued job left.
    void WakeHelpers();

    SimConfig config;
    std::vector<std::unique_ptr<SimBoard>> boards;
    std::shared_ptr<RenderEngine> engine;
    SimRegistry registry;
    SimClientTable clients;
    SimEventTable events;
    SimFaultInjection faults;
    SimDriverLog log;
    Stats stats;
    uint32_t nextBufferNumber[kMaxBoards] = {1, 1, 1, 1, 1, 1, 1, 1};

    int BoardCount() const { return static_cast<int>(boards.size()); }
    // Capabilities that follow from the driver's minor version.
    bool SupportsPeer() const { return config.minor != 1 && config.minor != 2; }
    bool SupportsAbort() const { return config.minor != 1; }
    bool SupportsDump() const { return config.minor != 1; }
    // The peer of a board, -1 for none.
    int PeerOf(int board) const;

    // A live buffer of `board`; null when the id is not one of its buffers.
    std::shared_ptr<SimBuffer> FindBuffer(int board, uint32_t id) const;
    // Drops one of the client's attachments; the id goes with the last.
    void DropAttachment(SimClient& client, uint32_t bufferId);
    // Until no queued or running job uses the buffer.
    void WaitUntilIdle(SimLock& lock, const SimBuffer& buffer);
    bool WaitUntilIdleFor(SimLock& lock, const SimBuffer& buffer, int timeoutMs);
};

}  // namespace tulx7sim
