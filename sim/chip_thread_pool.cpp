// The shared render thread pool and its sizing from the environment.
#include "chip_thread_pool.h"

#include <algorithm>
#include <cstdlib>

namespace tulx7sim::chip {

namespace {

// A thread count from the environment, or 0 when unset or malformed.
int ThreadsFrom(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value >= 1 && value <= 1024 ? static_cast<int>(value) : 0;
}

int DefaultThreads() {
    const int configured = ThreadsFrom("TULX7SIM_THREADS");
    if (configured > 0) return configured;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

}  // namespace

ChipThreadPool& ChipThreadPool::Instance() {
    static ChipThreadPool pool;
    return pool;
}

ChipThreadPool::ChipThreadPool() { Start(DefaultThreads()); }

ChipThreadPool::~ChipThreadPool() { Stop(); }

void ChipThreadPool::Start(int threads) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_size = threads;
    m_stopping = false;
    // The caller computes too: a pool of n runs n - 1 helpers.
    for (int i = 1; i < threads; ++i) m_threads.emplace_back([this] { Work(); });
}

void ChipThreadPool::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread& thread : m_threads) thread.join();
    m_threads.clear();
}

void ChipThreadPool::Override(int threads) {
    Stop();
    Start(threads > 0 ? threads : DefaultThreads());
}

int ChipThreadPool::RenderThreads() const {
    int threads = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads = m_size;
    }
    const int cap = ThreadsFrom("TULX7SIM_BOARD_THREADS");
    return cap > 0 ? std::min(threads, cap) : threads;
}

void ChipThreadPool::Drain(Batch& batch) {
    for (size_t tile = batch.next++; tile < batch.count; tile = batch.next++) (*batch.run)(tile);
}

void ChipThreadPool::Run(size_t count, int threads, const std::function<void(size_t)>& run) {
    Batch batch;
    batch.count = count;
    batch.run = &run;
    batch.helpersAllowed = threads - 1;
    const bool shared = batch.helpersAllowed > 0 && count > 1;
    if (shared) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_batches.push_back(&batch);
    }
    if (shared) m_changed.notify_all();
    ++m_computing;
    Drain(batch);
    --m_computing;
    if (!shared) return;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_batches.erase(std::find(m_batches.begin(), m_batches.end(), &batch));
    m_changed.notify_all();  // a computing thread fewer
    m_changed.wait(lock, [&] { return batch.helpers == 0; });
}

void ChipThreadPool::Work() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        Batch* batch = nullptr;
        m_changed.wait(lock, [&] {
            if (m_stopping) return true;
            if (m_computing.load() >= m_size) return false;
            for (Batch* candidate : m_batches)
                if (candidate->helpers < candidate->helpersAllowed && candidate->next.load() < candidate->count) {
                    batch = candidate;
                    return true;
                }
            return false;
        });
        if (m_stopping) return;
        ++batch->helpers;
        ++m_computing;
        lock.unlock();
        Drain(*batch);
        lock.lock();
        --m_computing;
        --batch->helpers;
        m_changed.notify_all();
    }
}

}  // namespace tulx7sim::chip
