// The driver state's queries over boards and buffers.
#include "sim_state.h"

#include <algorithm>
#include <chrono>

namespace tulx7sim {

int SimState::PeerOf(int board) const {
    if (board < 0 || board >= config.boards) return -1;
    const int peer = config.peers[board];
    if (peer < 0 || peer >= config.boards || peer == board) return -1;
    return peer;
}

std::shared_ptr<SimBuffer> SimState::FindBuffer(int board, uint32_t id) const {
    if (board < 0 || board >= BoardCount() || static_cast<int>(id >> 28) != board) return nullptr;
    const auto& buffers = boards[board]->buffers;
    const auto found = buffers.find(id);
    return found == buffers.end() ? nullptr : found->second;
}

void SimState::DropAttachment(SimClient& client, uint32_t bufferId) {
    const auto held = client.attachments.find(bufferId);
    if (held == client.attachments.end()) return;
    if (--held->second == 0) client.attachments.erase(held);
    const int boardIndex = static_cast<int>(bufferId >> 28);
    const std::shared_ptr<SimBuffer> buffer = FindBuffer(boardIndex, bufferId);
    if (!buffer || --buffer->attachments > 0) return;
    // The id is gone now; queued jobs keep the storage until they end.
    SimBoard& board = *boards[boardIndex];
    board.allocatedBytes -= buffer->chargedBytes;
    board.buffers.erase(bufferId);
}

void SimState::Completed(const Job& job, int quietQueue) {
    for (EventWaiter* waiter : eventWaiters) {
        const uint32_t* end = waiter->ids + waiter->count;
        if (waiter->helps || std::any_of(job.ids.begin(), job.ids.end(),
                                         [&](uint32_t id) { return std::find(waiter->ids, end, id) != end; }))
            waiter->wake.notify_one();
    }
    WakeQueuedWorkers(quietQueue);
    changed.notify_all();
}

void SimState::WakeQueuedWorkers(int quietQueue) {
    for (const auto& board : boards)
        for (int queue = 0; queue < SimBoard::kQueues; ++queue)
            if (!board->queues[queue].empty() && board->index * SimBoard::kQueues + queue != quietQueue)
                board->work[queue].notify_all();
}

void SimState::WakeHelpers() {
    for (EventWaiter* waiter : eventWaiters)
        if (waiter->helps) waiter->wake.notify_one();
}

void SimState::WaitUntilIdle(SimLock& lock, const SimBuffer& buffer) {
    changed.wait(lock, [&] { return buffer.pendingJobs == 0; });
}

bool SimState::WaitUntilIdleFor(SimLock& lock, const SimBuffer& buffer, int timeoutMs) {
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return buffer.pendingJobs == 0; });
}

}  // namespace tulx7sim
