// The library's one locking vocabulary: thin names over the standard
// primitives, and the THR functions (mutexes, counting semaphores, sleep)
// built on them. Every lock in the library is one of these; data shared
// between threads is owned by one of them or is atomic.
#pragma once

#include <condition_variable>
#include <ctime>
#include <mutex>

namespace ulm3 {

using ULMMutex = std::mutex;
// A hold for one scope.
using ULMScopedLock = std::lock_guard<ULMMutex>;
// A hold that can be let go and taken again, as a condition's wait does.
using ULMLock = std::unique_lock<ULMMutex>;
// Waits with a deadline run on the monotonic clock.
using ULMCondition = std::condition_variable;
// For state whose owner's entry points also call one another while holding
// it (a volume's buffer bookkeeping); prefer ULMMutex everywhere else.
using ULMRecursiveMutex = std::recursive_mutex;
using ULMRecursiveLock = std::lock_guard<ULMRecursiveMutex>;

struct CriticalSection;
struct Semaphore;

// Null when the mutex cannot be made.
CriticalSection* THRCreateCriticalSection();
void THRDestroyCriticalSection(CriticalSection* cs);
// 0, or EINVAL for a null critical section. The mutex is not recursive.
int THREnterCriticalSection(CriticalSection* cs);
int THRLeaveCriticalSection(CriticalSection* cs);

// Scoped lock; a null critical section makes it do nothing.
class CriticalSectionHandler {
public:
    explicit CriticalSectionHandler(CriticalSection* cs);
    ~CriticalSectionHandler();
    CriticalSectionHandler(const CriticalSectionHandler&) = delete;
    CriticalSectionHandler& operator=(const CriticalSectionHandler&) = delete;

private:
    CriticalSection* m_criticalSection;
};

// Null when the semaphore cannot be made.
Semaphore* THRInitializeSemaphore(unsigned int initial);
void THRDestroySemaphore(Semaphore* s);
void THRPostSemaphore(Semaphore* s);
// 1 when a post was consumed, 0 when the time ran out, -1 for a null
// semaphore. A negative time-out waits without limit; 0 polls.
int THRWaitSemaphore(Semaphore* s, long milliseconds);
int THRTestSemaphore(Semaphore* s);
int THRSleep(unsigned int milliseconds);

// The deadline of a wait of `milliseconds` (not negative) begun at `now` on
// the monotonic clock, with its nanoseconds below one second. A poll (0)
// lies 10 ns after `now`.
timespec THRDeadlineAfter(const timespec& now, long milliseconds);

}  // namespace ulm3
