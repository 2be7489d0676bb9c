// The process-wide pool the boards' renders share. A render cuts its work
// into tiles taken from an atomic counter; the calling thread (the board's
// worker) takes tiles too, so renders of busy boards never wait on each
// other, and pool threads join only while fewer threads than the pool's
// size are computing, so eight busy boards do not oversubscribe the cores.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The chip's internals bind inside the library, so its calls inline.
#pragma GCC visibility push(hidden)

namespace tulx7sim::chip {

class ChipThreadPool {
public:
    static ChipThreadPool& Instance();
    ~ChipThreadPool();

    // Threads one render may compute on: the pool's size (TULX7SIM_THREADS,
    // else the hardware's concurrency, unless overridden), capped per board
    // by TULX7SIM_BOARD_THREADS.
    int RenderThreads() const;
    // Replaces the pool's size; 0 restores the default. Call while no
    // render runs.
    void Override(int threads);

    // Calls run(tile) once for every tile in [0, count), on the calling
    // thread and on at most threads - 1 pool threads; returns when all have
    // finished.
    void Run(size_t count, int threads, const std::function<void(size_t)>& run);

private:
    struct Batch {
        size_t count = 0;
        std::atomic<size_t> next{0};
        int helpersAllowed = 0;
        int helpers = 0;  // guarded by m_mutex
        const std::function<void(size_t)>* run = nullptr;
    };

    ChipThreadPool();
    void Start(int threads);
    void Stop();
    void Work();
    void Drain(Batch& batch);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch*> m_batches;
    std::vector<std::thread> m_threads;
    int m_size = 1;
    bool m_stopping = false;
    std::atomic<int> m_computing{0};
};

}  // namespace tulx7sim::chip

#pragma GCC visibility pop
