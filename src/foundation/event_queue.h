// The queue through which a rendering context hands events to application
// threads that wait for them.
#pragma once

#include "ulm3/events.h"
#include "ulm3/status.h"

namespace ulm3 {

struct CriticalSection;
struct Semaphore;

// A ring of (event, user data) pairs; one slot stays free, so a queue of n
// slots holds n - 1 events. Any number of threads may add and take; each
// event goes to exactly one taker.
class ULMEventQueue {
public:
    explicit ULMEventQueue(int size);
    // Events nobody took are deleted with the queue.
    ~ULMEventQueue();
    ULMEventQueue(const ULMEventQueue&) = delete;
    ULMEventQueue& operator=(const ULMEventQueue&) = delete;

    // kULMErrAlloc when the ring is full: the event stays with the caller.
    ULMStatus AddEvent(ULMEventBase* event, void* data);
    // Waits up to the time-out (negative: without limit, 0: polls) for the
    // oldest event, which then belongs to the caller. kULMTimeout leaves the
    // out-arguments unchanged; a failed wait gives kULMErrInternal.
    ULMStatus RemoveFirstEvent(long milliseconds, ULMEventBase*& event, void*& data);

private:
    struct EventDataPair {
        ULMEventBase* m_event = nullptr;
        void* m_data = nullptr;
    };

    int Next(int index) const { return index + 1 == m_queueSize ? 0 : index + 1; }

    int m_queueSize;
    EventDataPair* m_queue;
    CriticalSection* m_criticalSection;
    Semaphore* m_semaphore;
    int m_front = 0;
    int m_back = 0;
};

}  // namespace ulm3
