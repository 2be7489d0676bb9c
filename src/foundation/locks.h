// The library's one locking vocabulary: thin names over the standard
// primitives, and the THR functions (mutexes, counting semaphores, sleep)
// built on them. Every lock in the library is one of these; data shared
// between threads is owned by one of them or is atomic.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

namespace ulm3 {

using ULMMutex = std::mutex;
// A hold for one scope.
using ULMScopedLock = std::lock_guard<ULMMutex>;
// A hold that can be let go and taken again, as a condition's wait does.
using ULMLock = std::unique_lock<ULMMutex>;
// Waits with a deadline run on the monotonic clock.
using ULMCondition = std::condition_variable;

// A recursive mutex whose acquisitions the lock-order check sees. The locks
// of volumes are these: a wrapper's (mipmap, banded, bricked) and a plain
// volume's buffer lock, which passes between volumes take two or more of at
// once. The library's one order: wrappers' locks before buffer locks, each
// pair by a fixed order; the check proves a run kept it without waiting for
// two threads to meet.
class ULMOrderedMutex {
public:
    ULMOrderedMutex() = default;
    ~ULMOrderedMutex();
    ULMOrderedMutex(const ULMOrderedMutex&) = delete;
    ULMOrderedMutex& operator=(const ULMOrderedMutex&) = delete;
    void lock();
    // Never blocks, so it adds no order.
    bool try_lock();
    void unlock();

private:
    std::recursive_mutex m_mutex;
};

// For state whose owner's entry points also call one another while holding
// it (a volume's buffer bookkeeping); prefer ULMMutex everywhere else.
using ULMRecursiveMutex = ULMOrderedMutex;
using ULMRecursiveLock = std::lock_guard<ULMRecursiveMutex>;

// The lock-order check, off until turned on (it costs a global lock per
// acquisition). While on, every acquisition of a lock the thread does not
// hold yet records "each held lock before it"; one that some earlier
// acquisition, of any thread, saw the other way round (directly or through
// other locks) is an inversion: two threads could each hold one part and
// wait for the other. Inversions are counted and the first one described;
// the acquisition goes on. A lock's recorded order goes with it.
void ULMSetLockOrderChecking(bool inOn);
bool ULMLockOrderChecking();
uint64_t ULMLockOrderInversions();
// Which two locks the first inversion since the last clear took, with the
// locks the thread held; empty without one.
std::string ULMFirstLockOrderInversion();
// Forgets every recorded order and inversion.
void ULMClearLockOrder();

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
