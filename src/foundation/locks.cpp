// Mutexes, counting semaphores and sleep, built on the standard primitives.
#include "foundation/locks.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <new>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

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

// The lock-order record. gOrderLock guards the rest; it is a plain mutex,
// outside the record, and never held while a recorded lock is waited for.
std::atomic<bool> gChecking{false};
std::atomic<bool> gEverChecked{false};
std::atomic<uint64_t> gInversions{0};
std::mutex gOrderLock;
std::unordered_map<const void*, std::unordered_set<const void*>> gAfter;   // lock -> locks taken after it
std::unordered_map<const void*, std::unordered_set<const void*>> gBefore;  // lock -> locks taken before it
std::string gFirstInversion;

// The recorded locks this thread holds, with their depth of recursion.
thread_local std::vector<std::pair<const void*, int>> tHeld;

std::string Name(const void* inLock) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", inLock);
    return text;
}

// Whether inTo was recorded after inFrom, directly or through other locks.
bool Reaches(const void* inFrom, const void* inTo) {
    std::vector<const void*> pending{inFrom};
    std::unordered_set<const void*> seen{inFrom};
    while (!pending.empty()) {
        const void* at = pending.back();
        pending.pop_back();
        const auto next = gAfter.find(at);
        if (next == gAfter.end()) continue;
        for (const void* n : next->second) {
            if (n == inTo) return true;
            if (seen.insert(n).second) pending.push_back(n);
        }
    }
    return false;
}

// Before inLock is waited for: a lock already held deepens; a new one is
// checked against every held lock and recorded after each.
void BeforeAcquire(const void* inLock) {
    for (auto& held : tHeld)
        if (held.first == inLock) return;
    if (tHeld.empty()) return;
    std::lock_guard<std::mutex> hold(gOrderLock);
    for (const auto& held : tHeld) {
        if (Reaches(inLock, held.first)) {
            if (gInversions++ == 0) {
                gFirstInversion = Name(inLock) + " taken after " + Name(held.first) +
                                  ", which an earlier hold took after it; held:";
                for (const auto& h : tHeld) gFirstInversion += " " + Name(h.first);
            }
        }
        gAfter[held.first].insert(inLock);
        gBefore[inLock].insert(held.first);
    }
}

void Acquired(const void* inLock) {
    for (auto& held : tHeld)
        if (held.first == inLock) {
            ++held.second;
            return;
        }
    tHeld.emplace_back(inLock, 1);
}

void Released(const void* inLock) {
    for (auto it = tHeld.rbegin(); it != tHeld.rend(); ++it)
        if (it->first == inLock) {
            if (--it->second == 0) tHeld.erase(std::next(it).base());
            return;
        }
}

}  // namespace

ULMOrderedMutex::~ULMOrderedMutex() {
    if (!gEverChecked.load(std::memory_order_relaxed)) return;
    std::lock_guard<std::mutex> hold(gOrderLock);
    for (auto* map : {&gAfter, &gBefore}) {
        auto* other = map == &gAfter ? &gBefore : &gAfter;
        const auto node = map->find(this);
        if (node == map->end()) continue;
        for (const void* n : node->second) {
            const auto back = other->find(n);
            if (back != other->end()) back->second.erase(this);
        }
        map->erase(node);
    }
}

void ULMOrderedMutex::lock() {
    const bool checking = gChecking.load(std::memory_order_relaxed);
    if (checking) BeforeAcquire(this);
    m_mutex.lock();
    if (checking) Acquired(this);
}

bool ULMOrderedMutex::try_lock() {
    if (!m_mutex.try_lock()) return false;
    if (gChecking.load(std::memory_order_relaxed)) Acquired(this);
    return true;
}

void ULMOrderedMutex::unlock() {
    // A hold recorded before the check was turned off is still let go.
    if (!tHeld.empty()) Released(this);
    m_mutex.unlock();
}

void ULMSetLockOrderChecking(bool inOn) {
    if (inOn) gEverChecked = true;
    gChecking = inOn;
}

bool ULMLockOrderChecking() { return gChecking.load(); }

uint64_t ULMLockOrderInversions() { return gInversions.load(); }

std::string ULMFirstLockOrderInversion() {
    std::lock_guard<std::mutex> hold(gOrderLock);
    return gFirstInversion;
}

void ULMClearLockOrder() {
    std::lock_guard<std::mutex> hold(gOrderLock);
    gAfter.clear();
    gBefore.clear();
    gFirstInversion.clear();
    gInversions = 0;
}

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
