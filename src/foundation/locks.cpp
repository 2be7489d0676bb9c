// Mutexes, counting semaphores and sleep over POSIX threads.
#include "foundation/locks.h"

#include <pthread.h>

#include <cerrno>
#include <climits>
#include <new>

namespace ulm3 {

struct CriticalSection {
    pthread_mutex_t m_mutex;
};

struct Semaphore {
    pthread_cond_t m_cond;
    pthread_mutex_t m_mutex;
    int m_counter;
};

namespace {

constexpr long kNanosecondsPerSecond = 1000000000L;
constexpr long kNanosecondsPerMillisecond = 1000000L;

// Deadlines run on the monotonic clock so that a change of the wall clock
// neither stretches nor cuts a wait.
bool InitializeMonotonicCondition(pthread_cond_t* cond) {
    pthread_condattr_t attributes;
    if (pthread_condattr_init(&attributes) != 0) return false;
    const bool ok = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) == 0 &&
                    pthread_cond_init(cond, &attributes) == 0;
    pthread_condattr_destroy(&attributes);
    return ok;
}

}  // namespace

CriticalSection* THRCreateCriticalSection() {
    CriticalSection* cs = new (std::nothrow) CriticalSection;
    if (cs == nullptr) return nullptr;
    if (pthread_mutex_init(&cs->m_mutex, nullptr) != 0) {
        delete cs;
        return nullptr;
    }
    return cs;
}

void THRDestroyCriticalSection(CriticalSection* cs) {
    if (cs == nullptr) return;
    pthread_mutex_destroy(&cs->m_mutex);
    delete cs;
}

int THREnterCriticalSection(CriticalSection* cs) {
    return cs != nullptr ? pthread_mutex_lock(&cs->m_mutex) : EINVAL;
}

int THRLeaveCriticalSection(CriticalSection* cs) {
    return cs != nullptr ? pthread_mutex_unlock(&cs->m_mutex) : EINVAL;
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
    if (pthread_mutex_init(&s->m_mutex, nullptr) != 0) {
        delete s;
        return nullptr;
    }
    if (!InitializeMonotonicCondition(&s->m_cond)) {
        pthread_mutex_destroy(&s->m_mutex);
        delete s;
        return nullptr;
    }
    return s;
}

void THRDestroySemaphore(Semaphore* s) {
    if (s == nullptr) return;
    pthread_mutex_destroy(&s->m_mutex);
    pthread_cond_destroy(&s->m_cond);
    delete s;
}

void THRPostSemaphore(Semaphore* s) {
    if (s == nullptr) return;
    pthread_mutex_lock(&s->m_mutex);
    ++s->m_counter;
    pthread_cond_signal(&s->m_cond);
    pthread_mutex_unlock(&s->m_mutex);
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
    timespec deadline{};
    if (milliseconds >= 0) {
        timespec now;
        if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return -1;
        deadline = THRDeadlineAfter(now, milliseconds);
    }

    pthread_mutex_lock(&s->m_mutex);
    while (s->m_counter == 0) {
        const int rc = milliseconds < 0 ? pthread_cond_wait(&s->m_cond, &s->m_mutex)
                                        : pthread_cond_timedwait(&s->m_cond, &s->m_mutex, &deadline);
        if (rc == ETIMEDOUT) {
            // A post that landed together with the time-out is still taken.
            if (s->m_counter != 0) break;
            pthread_mutex_unlock(&s->m_mutex);
            return 0;
        }
        if (rc != 0 && rc != EINTR) {
            pthread_mutex_unlock(&s->m_mutex);
            return -1;
        }
    }
    --s->m_counter;
    pthread_mutex_unlock(&s->m_mutex);
    return 1;
}

int THRTestSemaphore(Semaphore* s) { return THRWaitSemaphore(s, 0); }

int THRSleep(unsigned int milliseconds) {
    timespec remaining;
    remaining.tv_sec = milliseconds / 1000;
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * kNanosecondsPerMillisecond;
    // A signal cuts nanosleep short; go on sleeping for what is left.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
    return 0;
}

}  // namespace ulm3
