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
    // it held; the worker of `quietQueue` (board * queues + queue) is not
    // woken.
    void Finish(Job& job, int32_t status, bool aborted = false, int quietQueue = -1);
    // Lock held (let go while the job runs). Runs on the calling thread the
    // front job of a queue holding one of the events, when it may start
    // and lies not behind that event's job: a client waiting for its
    // transfer moves the data itself, where the board's worker would have
    // to wake first. Whether a job ran.
    bool HelpWith(SimLock& lock, const uint32_t* ids, int count);
    // Lock held. Takes a job that has not started off its queue.
    bool RemoveQueued(const std::shared_ptr<Job>& job);

private:
    void WorkerLoop(int board, int queue, uint64_t generation);
    // Lock held (let go while the job runs): takes the queue's front job,
    // runs it and finishes it.
    void RunFront(SimLock& lock, int board, int queue, bool wakeBoard);
    // Whether the queue's front job may start: the board runs, no job of
    // the queue runs, its dependencies are met.
    bool FrontReady(const SimBoard& board, int queue) const;
    int QueueOf(const Job& job) const;

    SimState& m_state;
    std::vector<std::thread> m_workers;
    uint64_t m_generation = 0;
    bool m_running = false;
};

}  // namespace tulx7sim
