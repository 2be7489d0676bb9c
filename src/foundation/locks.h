// Mutexes, counting semaphores and sleep over POSIX threads.
#pragma once

namespace ulm3 {

struct CriticalSection;
struct Semaphore;

CriticalSection* THRCreateCriticalSection();
void THRDestroyCriticalSection(CriticalSection* cs);
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

Semaphore* THRInitializeSemaphore(unsigned int initial);
void THRDestroySemaphore(Semaphore* s);
void THRPostSemaphore(Semaphore* s);
// 1 when a post was consumed, 0 when the time ran out, -1 on a wait error.
// A negative time-out waits without limit; 0 polls.
int THRWaitSemaphore(Semaphore* s, long milliseconds);
int THRTestSemaphore(Semaphore* s);
int THRSleep(unsigned int milliseconds);

}  // namespace ulm3
