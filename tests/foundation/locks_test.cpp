// Critical sections, counting semaphores with time-outs, and sleeping.
#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/locks.h"

using namespace ulm3;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

struct SemaphoreDeleter {
    void operator()(Semaphore* s) const { THRDestroySemaphore(s); }
};
using SemaphorePtr = std::unique_ptr<Semaphore, SemaphoreDeleter>;

struct CriticalSectionDeleter {
    void operator()(CriticalSection* cs) const { THRDestroyCriticalSection(cs); }
};

}  // namespace

TEST(Semaphore, TimedWaitsRunTheirFullTimeAndUnlimitedOnesWakeOnAPost) {
    SemaphorePtr s(THRInitializeSemaphore(0));
    ASSERT_NE(s, nullptr);
    for (long ms : {30L, 1020L}) {
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(THRWaitSemaphore(s.get(), ms), 0);
        EXPECT_GE(Clock::now() - start, milliseconds(ms)) << ms;
    }
    std::atomic<bool> posted{false};
    std::thread poster([&] {
        std::this_thread::sleep_for(milliseconds(50));
        posted = true;
        THRPostSemaphore(s.get());
    });
    EXPECT_EQ(THRWaitSemaphore(s.get(), -1), 1);
    EXPECT_TRUE(posted);
    poster.join();
}

TEST(Semaphore, NoPostIsLostBetweenProducersAndConsumers) {
    SemaphorePtr s(THRInitializeSemaphore(0));
    ASSERT_NE(s, nullptr);
    constexpr int kThreads = 3, kPostsEach = 2000;
    std::atomic<int> consumed{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < kThreads; ++c) {
        threads.emplace_back([&] {
            while (consumed.load() < kThreads * kPostsEach) {
                if (THRWaitSemaphore(s.get(), 5) == 1) ++consumed;
            }
        });
    }
    for (int p = 0; p < kThreads; ++p) {
        threads.emplace_back([&] {
            for (int i = 0; i < kPostsEach; ++i) THRPostSemaphore(s.get());
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(consumed.load(), kThreads * kPostsEach);
    EXPECT_EQ(THRTestSemaphore(s.get()), 0);
}
