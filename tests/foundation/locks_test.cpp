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

void IgnoreAlarm(int) {}

}  // namespace

TEST(CriticalSection, ExcludesOtherThreadsAndTheHandlerReleasesOnScopeExit) {
    std::unique_ptr<CriticalSection, CriticalSectionDeleter> cs(THRCreateCriticalSection());
    ASSERT_NE(cs, nullptr);
    // Read-modify-write in separate steps: any overlap would lose updates
    // (and the thread sanitizer would name the race). Each round's handler
    // must give the lock back, or the other threads would never get it.
    long counter = 0;
    constexpr int kThreads = 4, kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                CriticalSectionHandler lock(cs.get());
                const long seen = counter;
                counter = seen + 1;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(counter, kThreads * kRounds);
    // Null is an error, not a crash.
    { CriticalSectionHandler nothing(nullptr); }
    EXPECT_NE(THREnterCriticalSection(nullptr), 0);
    THRDestroyCriticalSection(nullptr);
}

TEST(Semaphore, CountsPostsAndPolls) {
    SemaphorePtr s(THRInitializeSemaphore(0));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(THRWaitSemaphore(s.get(), 0), 0);
    THRPostSemaphore(s.get());
    THRPostSemaphore(s.get());
    EXPECT_EQ(THRWaitSemaphore(s.get(), 10), 1);
    EXPECT_EQ(THRTestSemaphore(s.get()), 1);
    EXPECT_EQ(THRTestSemaphore(s.get()), 0);
    EXPECT_EQ(THRWaitSemaphore(s.get(), 10), 0);
    SemaphorePtr two(THRInitializeSemaphore(2));
    EXPECT_EQ(THRWaitSemaphore(two.get(), 0), 1);
    EXPECT_EQ(THRWaitSemaphore(two.get(), -1), 1);
    EXPECT_EQ(THRWaitSemaphore(two.get(), 0), 0);
    // A null semaphore is an error, not a crash.
    EXPECT_EQ(THRWaitSemaphore(nullptr, 0), -1);
    EXPECT_EQ(THRTestSemaphore(nullptr), -1);
    THRPostSemaphore(nullptr);
    THRDestroySemaphore(nullptr);
}

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

TEST(Semaphore, DeadlineNanosecondsStayBelowOneSecond) {
    const struct {
        timespec now;
        long milliseconds;
        timespec deadline;
    } cases[] = {
        {{100, 500000000}, 1999, {102, 499000000}}, {{7, 0}, 3000, {10, 0}}, {{7, 999000000}, 1, {8, 0}},
        // A poll lies just after now, even at the very end of a second.
        {{42, 123}, 0, {42, 133}}, {{42, 999999995}, 0, {43, 5}},
    };
    for (const auto& c : cases) {
        const timespec d = THRDeadlineAfter(c.now, c.milliseconds);
        EXPECT_TRUE(d.tv_sec == c.deadline.tv_sec && d.tv_nsec == c.deadline.tv_nsec)
            << c.now.tv_sec << "." << c.now.tv_nsec << " + " << c.milliseconds << " ms gave " << d.tv_sec << "."
            << d.tv_nsec;
    }
}

TEST(Sleep, SleepsTheWholeTimeAcrossSecondsAndSignals) {
    // Interrupt the sleep twice; it must go on for what is left each time.
    struct sigaction action {};
    action.sa_handler = IgnoreAlarm;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    itimerval timer{};
    timer.it_value.tv_usec = timer.it_interval.tv_usec = 300000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(THRSleep(1100), 0);
    const Clock::duration slept = Clock::now() - start;
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_GE(slept, milliseconds(1100));
}
