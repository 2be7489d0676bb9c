// Critical sections, counting semaphores with time-outs, and sleeping.
#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <initializer_list>
#include <iterator>
#include <new>
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

#if defined(__SANITIZE_THREAD__)
// The test below inverts an order on purpose, to see the check report it;
// the thread sanitizer's own check would halt on it.
extern "C" const char* __tsan_default_suppressions() {
    return "deadlock:LockOrder_AnOrderSeenBothWaysIsAnInversionOnOneThread_Test\n";
}
#endif

// The lock-order check, on one thread: an order seen both ways, directly or
// through a third lock, is an inversion however the threads happen to run;
// taking a held lock again, or a lock in the order already seen, is not.
TEST(LockOrder, AnOrderSeenBothWaysIsAnInversionOnOneThread) {
    ULMClearLockOrder();
    ULMSetLockOrderChecking(true);
    const auto takeInOrder = [](std::initializer_list<ULMOrderedMutex*> inLocks) {
        for (ULMOrderedMutex* m : inLocks) m->lock();
        for (auto it = std::rbegin(inLocks); it != std::rend(inLocks); ++it) (*it)->unlock();
    };
    {
        ULMOrderedMutex a, b, c;
        takeInOrder({&a, &b, &a, &b});  // again while held: no order of its own
        takeInOrder({&a, &b});
        takeInOrder({&b, &c});
        EXPECT_EQ(ULMLockOrderInversions(), 0u) << ULMFirstLockOrderInversion();
        takeInOrder({&c, &a});  // closes a -> b -> c -> a
        EXPECT_EQ(ULMLockOrderInversions(), 1u);
        EXPECT_NE(ULMFirstLockOrderInversion(), "");
        takeInOrder({&b, &a});
        EXPECT_EQ(ULMLockOrderInversions(), 2u);
    }
    ULMClearLockOrder();
    {
        // A lock's recorded order goes with it: a new lock at the same
        // address starts without one.
        alignas(ULMOrderedMutex) unsigned char storage[sizeof(ULMOrderedMutex)];
        ULMOrderedMutex b;
        auto* a = new (storage) ULMOrderedMutex;
        takeInOrder({a, &b});
        a->~ULMOrderedMutex();
        a = new (storage) ULMOrderedMutex;
        takeInOrder({&b, a});
        EXPECT_EQ(ULMLockOrderInversions(), 0u) << ULMFirstLockOrderInversion();
        a->~ULMOrderedMutex();
    }
    ULMSetLockOrderChecking(false);
    ULMClearLockOrder();
}
