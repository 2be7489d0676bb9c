#include "foundation/event_queue.h"

#include "foundation/locks.h"

namespace ulm3 {

// A ring needs one free slot besides the events it holds, so a queue of one
// slot holds nothing; fewer slots than that are taken as one.
ULMEventQueue::ULMEventQueue(int size)
    : m_queueSize(size < 1 ? 1 : size),
      m_queue(new EventDataPair[m_queueSize]),
      m_criticalSection(THRCreateCriticalSection()),
      m_semaphore(THRInitializeSemaphore(0)) {}

ULMEventQueue::~ULMEventQueue() {
    for (int i = m_front; i != m_back; i = Next(i)) delete m_queue[i].m_event;
    delete[] m_queue;
    if (m_criticalSection) THRDestroyCriticalSection(m_criticalSection);
    if (m_semaphore) THRDestroySemaphore(m_semaphore);
}

ULMStatus ULMEventQueue::AddEvent(ULMEventBase* event, void* data) {
    if (!m_criticalSection || !m_semaphore) return kULMErrAlloc;
    CriticalSectionHandler lock(m_criticalSection);
    if (Next(m_back) == m_front) return kULMErrAlloc;
    m_queue[m_back].m_event = event;
    m_queue[m_back].m_data = data;
    m_back = Next(m_back);
    THRPostSemaphore(m_semaphore);
    return kULMOK;
}

ULMStatus ULMEventQueue::RemoveFirstEvent(long milliseconds, ULMEventBase*& event, void*& data) {
    if (!m_criticalSection || !m_semaphore) return kULMErrInternal;
    for (;;) {
        const int waited = THRWaitSemaphore(m_semaphore, milliseconds);
        if (waited < 0) return kULMErrInternal;
        if (waited == 0) return kULMTimeout;
        CriticalSectionHandler lock(m_criticalSection);
        if (m_front == m_back) continue;
        event = m_queue[m_front].m_event;
        data = m_queue[m_front].m_data;
        m_queue[m_front] = EventDataPair{};
        m_front = Next(m_front);
        return kULMOK;
    }
}

}  // namespace ulm3
