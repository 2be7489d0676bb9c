// The boards' queues of work and the worker threads that run them: one
// queue per board, or DMA in, DMA out and render side by side. Each queue
// runs in submission order; its front job starts once the event table's
// dependency rule lets it.
#pragma once

#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "sim_job.h"
#include "sim_state.h"

namespace tulx7sim {

class SimScheduler {
public:
    explicit SimScheduler(SimState& state) : m_state(state) {}
    SimScheduler(const SimScheduler&) = delete;
    SimScheduler& operator=(const SimScheduler&) = delete;

    // Lock held. Workers start with the first client and are joined (with
    // the lock let go meanwhile) when the last closes.
    void Start();
    void Stop(SimLock& lock);
    int WorkerCount() const { return static_cast<int>(m_workers.size()); }

    // Lock held. Issues the job's ids and queues it; a driver status.
    int32_t Enqueue(const std::shared_ptr<Job>& job, int idCount);
    // Lock held. Completes the job's ids with `status` and lets go of what
    // it held.
    void Finish(Job& job, int32_t status, bool aborted = false);
    // Lock held. Takes a job that has not started off its queue.
    bool RemoveQueued(const std::shared_ptr<Job>& job);

private:
    void WorkerLoop(int board, int queue, uint64_t generation);
    bool FrontReady(const SimBoard& board, int queue) const;

    SimState& m_state;
    std::vector<std::thread> m_workers;
    uint64_t m_generation = 0;
    bool m_running = false;
};

}  // namespace tulx7sim
