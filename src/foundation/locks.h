// Mutexes, counting semaphores and sleep over POSIX threads.
#pragma once

#include <ctime>

namespace ulm3 {

struct CriticalSection;
struct Semaphore;

// Null when the mutex cannot be made.
CriticalSection* THRCreateCriticalSection();
void THRDestroyCriticalSection(CriticalSection* cs);
// Return the POSIX result. The mutex is not recursive.
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
// 1 when a post was consumed, 0 when the time ran out, -1 on a wait error.
// A negative time-out waits without limit; 0 polls.
int THRWaitSemaphore(Semaphore* s, long milliseconds);
int THRTestSemaphore(Semaphore* s);
int THRSleep(unsigned int milliseconds);

// The deadline of a wait of `milliseconds` (not negative) begun at `now` on
// the monotonic clock, with its nanoseconds below one second. A poll (0)
// lies 10 ns after `now`.
timespec THRDeadlineAfter(const timespec& now, long milliseconds);

}  // namespace ulm3
