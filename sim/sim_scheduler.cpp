// Queued board work and the worker threads that run it.
#include "sim_scheduler.h"

#include <algorithm>
#include <chrono>

namespace tulx7sim {

void SimScheduler::Start() {
    if (m_running) return;
    m_running = true;
    const uint64_t generation = ++m_generation;
    const int queues = m_state.config.mode == QueueMode::kThreeQueues ? SimBoard::kQueues : 1;
    for (int b = 0; b < m_state.BoardCount(); ++b)
        for (int q = 0; q < queues; ++q)
            m_workers.emplace_back(&SimScheduler::WorkerLoop, this, b, q, generation);
}

void SimScheduler::Stop(SimLock& lock) {
    if (!m_running) return;
    m_running = false;
    ++m_generation;
    std::vector<std::thread> workers = std::move(m_workers);
    m_workers.clear();
    for (const auto& board : m_state.boards) board->WakeWorkers();
    m_state.changed.notify_all();
    lock.unlock();
    for (std::thread& worker : workers) worker.join();
    lock.lock();
}

void SimScheduler::WorkerLoop(int boardIndex, int queue, uint64_t generation) {
    SimLock lock(m_state.mutex);
    for (;;) {
        m_state.boards[boardIndex]->work[queue].wait(lock, [&] {
            return m_generation != generation || FrontReady(*m_state.boards[boardIndex], queue);
        });
        if (m_generation != generation) return;
        RunFront(lock, boardIndex, queue, true);
    }
}

void SimScheduler::RunFront(SimLock& lock, int boardIndex, int queue, bool wakeBoard) {
    SimBoard& board = *m_state.boards[boardIndex];
    std::shared_ptr<Job> job = board.queues[queue].front();
    board.queues[queue].pop_front();
    board.running[queue] = true;
    job->state = Job::State::kRunning;
    const int latency = m_state.config.latencyMicroseconds;
    lock.unlock();

    if (latency > 0) std::this_thread::sleep_for(std::chrono::microseconds(latency));
    uint64_t moved = 0;
    const int32_t status = job->injectedFailure != 0 ? job->injectedFailure : job->run(moved);

    lock.lock();
    m_state.stats.bytesMoved += moved;
    board.running[queue] = false;
    Finish(*job, status, false, wakeBoard ? -1 : boardIndex * SimBoard::kQueues + queue);
}

bool SimScheduler::HelpWith(SimLock& lock, const uint32_t* ids, int count) {
    for (int i = 0; i < count; ++i) {
        const std::shared_ptr<Job> job = m_state.events.JobOf(ids[i]);
        if (!job) continue;
        const int queue = QueueOf(*job);
        const SimBoard& board = *m_state.boards[job->board];
        // The jobs ahead of it in its queue run first whoever runs them.
        if (!FrontReady(board, queue) || board.queues[queue].front()->ids.front() > job->ids.front()) continue;
        RunFront(lock, job->board, queue, false);
        return true;
    }
    return false;
}

int SimScheduler::QueueOf(const Job& job) const {
    return m_state.config.mode == QueueMode::kThreeQueues ? job.queueTag : 0;
}

bool SimScheduler::FrontReady(const SimBoard& board, int queue) const {
    if (board.paused || board.running[queue] || board.queues[queue].empty()) return false;
    const Job& job = *board.queues[queue].front();
    return std::all_of(job.dependencies.begin(), job.dependencies.end(),
                       [this](uint32_t id) { return m_state.events.DependencyMet(id); });
}

int32_t SimScheduler::Enqueue(const std::shared_ptr<Job>& job, int idCount) {
    if (!m_state.events.Issue(job, idCount)) return TULX7_DR_STATUS_MISC_ERROR;
    for (const auto& buffer : job->buffers) ++buffer->pendingJobs;
    for (const auto& block : job->hostBlocks) ++block->pendingJobs;
    if (SimClientState* client = m_state.clients.Find(job->client)) ++client->client.pendingJobs;
    int32_t failure = 0;
    if (m_state.faults.FireCompletion(job->code, failure)) job->injectedFailure = failure;
    const int queue = QueueOf(*job);
    m_state.boards[job->board]->queues[queue].push_back(job);
    m_state.boards[job->board]->work[queue].notify_all();
    return TULX7_DR_STATUS_SUCCESS;
}

void SimScheduler::Finish(Job& job, int32_t status, bool aborted, int quietQueue) {
    m_state.events.Finish(job, status);
    for (const auto& buffer : job.buffers) --buffer->pendingJobs;
    for (const auto& block : job.hostBlocks) --block->pendingJobs;
    if (SimClientState* client = m_state.clients.Find(job.client)) --client->client.pendingJobs;
    if (aborted) {
        ++m_state.stats.jobsAborted;
    } else if (status != TULX7_DR_STATUS_SUCCESS) {
        ++m_state.stats.jobsFailed;
        m_state.log.Log("board %d: request 0x%08X (event %u) failed: %s%s%s", job.board, job.code,
                        job.ids.empty() ? 0u : job.ids.front(),
                        status >= 0 && status < TULX7_DR_STATUS_COUNT
                            ? tulx7_dr_status_strings[status]
                            : "?",
                        job.diagnostic.empty() ? "" : ": ", job.diagnostic.c_str());
    } else {
        ++m_state.stats.jobsCompleted;
        if (!job.diagnostic.empty())
            m_state.log.Log("board %d: request 0x%08X (event %u): %s", job.board, job.code,
                            job.ids.empty() ? 0u : job.ids.front(), job.diagnostic.c_str());
    }
    job.state = Job::State::kDone;
    job.run = nullptr;
    job.buffers.clear();
    job.hostBlocks.clear();
    m_state.Completed(job, quietQueue);
}

bool SimScheduler::RemoveQueued(const std::shared_ptr<Job>& job) {
    for (auto& queue : m_state.boards[job->board]->queues) {
        const auto found = std::find(queue.begin(), queue.end(), job);
        if (found != queue.end()) {
            queue.erase(found);
            m_state.boards[job->board]->WakeWorkers();  // the next may be the front now
            m_state.WakeHelpers();
            return true;
        }
    }
    return false;
}

}  // namespace tulx7sim
