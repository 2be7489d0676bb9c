// Mutexes, counting semaphores and sleep, built on the standard primitives.
#include "foundation/locks.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <new>
#include <thread>

namespace ulm3 {

struct CriticalSection {
    ULMMutex m_mutex;
};

// m_counter is owned by m_mutex.
struct Semaphore {
    ULMMutex m_mutex;
    ULMCondition m_cond;
    int m_counter = 0;
};

namespace {

constexpr long kNanosecondsPerSecond = 1000000000L;
constexpr long kNanosecondsPerMillisecond = 1000000L;

using Clock = std::chrono::steady_clock;

// The monotonic clock is the steady clock's, so a deadline taken from one
// serves the other; a change of the wall clock neither stretches nor cuts a
// wait.
Clock::time_point SteadyTime(const timespec& t) {
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(
        std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec)));
}

}  // namespace

CriticalSection* THRCreateCriticalSection() { return new (std::nothrow) CriticalSection; }

void THRDestroyCriticalSection(CriticalSection* cs) { delete cs; }

int THREnterCriticalSection(CriticalSection* cs) {
    if (cs == nullptr) return EINVAL;
    cs->m_mutex.lock();
    return 0;
}

int THRLeaveCriticalSection(CriticalSection* cs) {
    if (cs == nullptr) return EINVAL;
    cs->m_mutex.unlock();
    return 0;
}

CriticalSectionHandler::CriticalSectionHandler(CriticalSection* cs) : m_criticalSection(cs) {
    if (m_criticalSection != nullptr) THREnterCriticalSection(m_criticalSection);
}

CriticalSectionHandler::~CriticalSectionHandler() {
    if (m_criticalSection != nullptr) THRLeaveCriticalSection(m_criticalSection);
}

Semaphore* THRInitializeSemaphore(unsigned int initial) {
    Semaphore* s = new (std::nothrow) Semaphore;
    if (s == nullptr) return nullptr;
    s->m_counter = initial > static_cast<unsigned int>(INT_MAX) ? INT_MAX : static_cast<int>(initial);
    return s;
}

void THRDestroySemaphore(Semaphore* s) { delete s; }

void THRPostSemaphore(Semaphore* s) {
    if (s == nullptr) return;
    ULMScopedLock lock(s->m_mutex);
    ++s->m_counter;
    s->m_cond.notify_one();
}

timespec THRDeadlineAfter(const timespec& now, long milliseconds) {
    timespec deadline;
    deadline.tv_sec = now.tv_sec + milliseconds / 1000;
    long nanoseconds = now.tv_nsec + (milliseconds % 1000) * kNanosecondsPerMillisecond;
    // Without the extra moment a poll could hand the wait a deadline equal to
    // the time it was taken at.
    if (milliseconds == 0) nanoseconds += 10;
    deadline.tv_sec += nanoseconds / kNanosecondsPerSecond;
    deadline.tv_nsec = nanoseconds % kNanosecondsPerSecond;
    return deadline;
}

int THRWaitSemaphore(Semaphore* s, long milliseconds) {
    if (s == nullptr) return -1;
    ULMLock lock(s->m_mutex);
    const auto posted = [s] { return s->m_counter != 0; };
    if (milliseconds < 0) {
        s->m_cond.wait(lock, posted);
    } else {
        timespec now;
        if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return -1;
        // A post that lands together with the time-out is still taken.
        if (!s->m_cond.wait_until(lock, SteadyTime(THRDeadlineAfter(now, milliseconds)), posted))
            return 0;
    }
    --s->m_counter;
    return 1;
}

int THRTestSemaphore(Semaphore* s) { return THRWaitSemaphore(s, 0); }

int THRSleep(unsigned int milliseconds) {
    // The standard sleep goes on after a signal for what is left.
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return 0;
}

}  // namespace ulm3
