// One simulated board: its memory, its buffers, its queues of work and its
// register file.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>

#include "sim_job.h"
#include "sim_resources.h"
#include "tulx7sim/render_engine.h"

namespace tulx7sim {

struct SimBoard {
    static constexpr int kQueues = 3;  // DMA in, DMA out, render

    int index = 0;
    uint64_t totalBytes = 0;
    uint64_t allocatedBytes = 0;
    std::map<uint32_t, std::shared_ptr<SimBuffer>> buffers;  // live ids only
    // In serial mode everything goes through queue 0.
    std::deque<std::shared_ptr<Job>> queues[kQueues];
    bool paused = false;
    // Each queue's worker waits here for its front job to become ready:
    // work queued, a dependency met, the board resumed or the workers
    // stopped.
    std::condition_variable work[kQueues];
    void WakeWorkers() {
        for (auto& queue : work) queue.notify_all();
    }
    // A job of the queue is running, on a worker or on a client that waits
    // for it: each queue runs one job at a time, in order.
    bool running[kQueues] = {};
    int clients = 0;
    RegisterFile registers;  // touched only by the board's render jobs

    uint64_t FreeBytes() const { return totalBytes - allocatedBytes; }
};

}  // namespace tulx7sim
