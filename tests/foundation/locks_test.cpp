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

SemaphorePtr MakeSemaphore(unsigned int initial) {
    return SemaphorePtr(THRInitializeSemaphore(initial));
}

struct CriticalSectionDeleter {
    void operator()(CriticalSection* cs) const { THRDestroyCriticalSection(cs); }
};
using CriticalSectionPtr = std::unique_ptr<CriticalSection, CriticalSectionDeleter>;

}  // namespace

TEST(CriticalSection, ExcludesOtherThreads) {
    CriticalSectionPtr cs(THRCreateCriticalSection());
    ASSERT_NE(cs, nullptr);
    // Read-modify-write in separate steps: any overlap would lose updates
    // (and the thread sanitizer would name the race).
    long counter = 0;
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
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
}

TEST(CriticalSection, HandlerReleasesOnScopeExitAndIgnoresNull) {
    CriticalSectionPtr cs(THRCreateCriticalSection());
    ASSERT_NE(cs, nullptr);
    { CriticalSectionHandler lock(cs.get()); }
    // Another thread can take the lock once the handler is gone.
    std::atomic<bool> entered{false};
    std::thread other([&] {
        CriticalSectionHandler lock(cs.get());
        entered = true;
    });
    other.join();
    EXPECT_TRUE(entered);
    { CriticalSectionHandler nothing(nullptr); }
    EXPECT_NE(THREnterCriticalSection(nullptr), 0);
    THRDestroyCriticalSection(nullptr);
}

TEST(SemaphoreCounting, PostThenPollTakesOneThenTimesOut) {
    SemaphorePtr s = MakeSemaphore(0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(THRWaitSemaphore(s.get(), 0), 0);
    THRPostSemaphore(s.get());
    EXPECT_EQ(THRWaitSemaphore(s.get(), 0), 1);
    EXPECT_EQ(THRWaitSemaphore(s.get(), 0), 0);
    THRPostSemaphore(s.get());
    EXPECT_EQ(THRTestSemaphore(s.get()), 1);
    EXPECT_EQ(THRTestSemaphore(s.get()), 0);
}

TEST(SemaphoreCounting, TwoPostsServeTwoOfThreeWaits) {
    SemaphorePtr s = MakeSemaphore(0);
    ASSERT_NE(s, nullptr);
    THRPostSemaphore(s.get());
    THRPostSemaphore(s.get());
    EXPECT_EQ(THRWaitSemaphore(s.get(), 10), 1);
    EXPECT_EQ(THRWaitSemaphore(s.get(), 10), 1);
    EXPECT_EQ(THRWaitSemaphore(s.get(), 10), 0);
}

TEST(SemaphoreCounting, InitialCountAllowsThatManyWaits) {
    SemaphorePtr s = MakeSemaphore(2);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(THRWaitSemaphore(s.get(), 0), 1);
    EXPECT_EQ(THRWaitSemaphore(s.get(), -1), 1);
    EXPECT_EQ(THRWaitSemaphore(s.get(), 0), 0);
}

TEST(SemaphoreCounting, NullSemaphoreIsAnErrorNotACrash) {
    EXPECT_EQ(THRWaitSemaphore(nullptr, 0), -1);
    EXPECT_EQ(THRTestSemaphore(nullptr), -1);
    THRPostSemaphore(nullptr);
    THRDestroySemaphore(nullptr);
}

TEST(SemaphoreTiming, TimedWaitRunsItsFullTime) {
    SemaphorePtr s = MakeSemaphore(0);
    ASSERT_NE(s, nullptr);
    for (long ms : {30L, 1020L}) {
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(THRWaitSemaphore(s.get(), ms), 0);
        EXPECT_GE(Clock::now() - start, milliseconds(ms)) << ms;
    }
}

TEST(SemaphoreTiming, UnlimitedWaitWakesOnAnotherThreadsPost) {
    SemaphorePtr s = MakeSemaphore(0);
    ASSERT_NE(s, nullptr);
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

TEST(SemaphoreTiming, NoPostIsLostBetweenProducersAndConsumers) {
    SemaphorePtr s = MakeSemaphore(0);
    ASSERT_NE(s, nullptr);
    constexpr int kProducers = 3;
    constexpr int kPostsEach = 2000;
    constexpr int kConsumers = 3;
    std::atomic<int> consumed{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < kConsumers; ++c) {
        threads.emplace_back([&] {
            while (consumed.load() < kProducers * kPostsEach) {
                if (THRWaitSemaphore(s.get(), 5) == 1) ++consumed;
            }
        });
    }
    for (int p = 0; p < kProducers; ++p) {
        threads.emplace_back([&] {
            for (int i = 0; i < kPostsEach; ++i) THRPostSemaphore(s.get());
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(consumed.load(), kProducers * kPostsEach);
    EXPECT_EQ(THRTestSemaphore(s.get()), 0);
}

TEST(SemaphoreDeadline, NanosecondsStayBelowOneSecond) {
    struct Case {
        timespec now;
        long milliseconds;
        timespec deadline;
    };
    const Case cases[] = {
        {{100, 500000000}, 1999, {102, 499000000}},
        {{7, 0}, 3000, {10, 0}},
        {{7, 999000000}, 1, {8, 0}},
        // A poll lies just after now, even at the very end of a second.
        {{42, 123}, 0, {42, 133}},
        {{42, 999999995}, 0, {43, 5}},
    };
    for (const Case& c : cases) {
        const timespec d = THRDeadlineAfter(c.now, c.milliseconds);
        EXPECT_EQ(d.tv_sec, c.deadline.tv_sec) << c.now.tv_nsec << " + " << c.milliseconds;
        EXPECT_EQ(d.tv_nsec, c.deadline.tv_nsec) << c.now.tv_nsec << " + " << c.milliseconds;
    }
}

namespace {
void IgnoreAlarm(int) {}
}  // namespace

TEST(Sleep, SleepsTheWholeTimeAcrossSecondsAndSignals) {
    // Interrupt the sleep twice; it must go on for what is left each time.
    struct sigaction action {};
    action.sa_handler = IgnoreAlarm;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    itimerval timer{};
    timer.it_value.tv_usec = 300000;
    timer.it_interval.tv_usec = 300000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);

    const Clock::time_point start = Clock::now();
    EXPECT_EQ(THRSleep(1100), 0);
    const Clock::duration slept = Clock::now() - start;

    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_GE(slept, milliseconds(1100));
}
