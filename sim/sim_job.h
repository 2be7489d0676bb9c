// One piece of queued board work: a transfer, a board-to-board copy or a
// render, with the event ids it completes and the ids it waits for.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim_resources.h"

namespace tulx7sim {

struct Job {
    enum class State { kQueued, kRunning, kDone };

    uint32_t code = 0;
    int board = 0;
    int queueTag = 0;  // the driver queue it stands for: DMA in, DMA out, render
    uint32_t client = 0;
    std::vector<uint32_t> ids;           // completed together
    std::vector<uint32_t> dependencies;  // starts when each has finished
    // The work itself, run on the board's worker thread without the driver
    // lock; returns a driver status and adds the bytes it moved.
    std::function<int32_t(uint64_t& bytesMoved)> run;
    // Buffers and host buffers in use until the job ends (kept alive, and
    // counted so that resizes, maps and frees can tell).
    std::vector<std::shared_ptr<SimBuffer>> buffers;
    std::vector<std::shared_ptr<HostBlock>> hostBlocks;
    int32_t injectedFailure = 0;  // completes with this status, moving nothing
    std::string diagnostic;       // why the job failed, written by run
    State state = State::kQueued;
};

}  // namespace tulx7sim
