// Sync events and the table of combined events.
#include "foundation/sync_event.h"

#include <algorithm>
#include <vector>

#include "foundation/deadline.h"
#include "foundation/locks.h"
#include "foundation/upper_layers.h"

namespace ulm3 {

namespace {

struct MultiEvent {
    ULMSyncEvent multipleEvent{kULMErrArgument};  // the combined handle owning the slot
    int active = 0;                               // board events still to wait for
    ULMStatus failure = kULMOK;                   // an input that had already failed
    ULMSyncEvent driverEvents[kMaxSlotBoardEvents] = {};
};

// The table lives for the whole process and is ready before any
// initialiser runs: the mutex is never destroyed, so a close that forgets
// the combinations cannot pull the lock from under a late waiter.
struct MultiDatabase {
    bool initialized = false;
    ULMMutex criticalSection;
    uint32_t lastIndex = 0;
    MultiEvent array[kMultiEventSlots];
};

constinit MultiDatabase g_multiData;

using EventList = std::vector<ULMSyncEvent>;

bool IsBoardWord(uint64_t word) { return !IsStatusCode(word) && !IsMultiEvent(word); }

// Lock held. The board events a combined handle still stands for (none when
// its slot was reused or its wait already succeeded), and the failure of an
// input that had failed before it was combined.
ULMStatus AppendPendingEvents(uint64_t handleWord, EventList& out) {
    const MultiEvent& slot = g_multiData.array[MultiSync_index_from_ID(handleWord)];
    if (SyncEventWord(slot.multipleEvent) != handleWord) return kULMOK;
    out.insert(out.end(), slot.driverEvents, slot.driverEvents + slot.active);
    return slot.failure;
}

// The first failure of the two.
ULMStatus FirstFailure(ULMStatus inFirst, ULMStatus inSecond) {
    return ULMFailed(inFirst) ? inFirst : inSecond;
}

// Lock held.
void PrepareTable() {
    for (MultiEvent& slot : g_multiData.array) {
        slot.active = 0;
        slot.failure = kULMOK;
        slot.multipleEvent = ULMSyncEvent(kULMOK);
    }
    g_multiData.initialized = true;
}

// Waits until every board event of `events` completed, within one deadline
// for the whole list.
ULMStatus WaitForAllBoardEvents(const EventList& events, long milliseconds) {
    return ULMGetBoardServices().WaitForAll(static_cast<int>(events.size()), events.data(),
                                            milliseconds);
}

ULMStatus WaitCombined(uint64_t word, long milliseconds) {
    EventList pending;
    ULMStatus failed = kULMOK;
    {
        ULMScopedLock lock(g_multiData.criticalSection);
        failed = AppendPendingEvents(word, pending);
    }
    if (pending.empty()) return failed;
    // The boards are waited for outside the lock, so a long wait holds up
    // no other combination or combined wait.
    const ULMStatus status = WaitForAllBoardEvents(pending, milliseconds);
    if (status == kULMOK) {
        ULMScopedLock lock(g_multiData.criticalSection);
        MultiEvent& slot = g_multiData.array[MultiSync_index_from_ID(word)];
        if (SyncEventWord(slot.multipleEvent) == word) slot.active = 0;
    }
    // Only a wait that ran its course may report an earlier failure: a
    // time-out still says the work goes on.
    return status == kULMTimeout || status == kULMInProgress ? status : FirstFailure(failed, status);
}

ULMStatus AbortCombined(uint64_t word) {
    EventList pending;
    {
        ULMScopedLock lock(g_multiData.criticalSection);
        AppendPendingEvents(word, pending);
    }
    if (pending.empty()) return kULMAlreadyComplete;
    ULMStatus status = kULMOK;
    for (auto it = pending.rbegin(); it != pending.rend(); ++it) {
        status = ULMGetBoardServices().Abort(*it);
    }
    return status;
}

// Lock held on entry and on return. Takes the next number and its slot; a
// slot whose events may still be running is waited for first, so the old
// handle never reports success while its boards still work.
MultiEvent& ClaimSlot(ULMLock& lock, ULMSyncEvent& outHandle) {
    const uint32_t n = ++g_multiData.lastIndex;
    outHandle = ULMMultiSyncEvent(n);
    MultiEvent& slot = g_multiData.array[MultiSync_index_from_ID(n)];
    while (slot.active > 0) {
        const ULMSyncEvent previous = slot.multipleEvent;
        const EventList stillRunning(slot.driverEvents, slot.driverEvents + slot.active);
        lock.unlock();
        WaitForAllBoardEvents(stillRunning, -1);
        lock.lock();
        if (slot.multipleEvent == previous) slot.active = 0;
    }
    return slot;
}

}  // namespace

uint64_t SyncEventWord(const ULMSyncEvent& event) { return event.m_private; }

ULMSyncEvent SyncEventFromWord(uint64_t word) {
    ULMSyncEvent event;
    event.m_private = word;
    return event;
}

bool ULMSyncEvent::IsDone() const {
    if (IsStatusCode(m_private)) return true;
    return Wait(0) != kULMTimeout;
}

ULMStatus ULMSyncEvent::Wait(long milliseconds) const {
    if (IsStatusCode(m_private)) return Status();
    if (IsMultiEvent(m_private)) return WaitCombined(m_private, milliseconds);
    return ULMGetBoardServices().Wait(*this, milliseconds);
}

ULMStatus ULMSyncEvent::WaitForAny(int count, ULMSyncEvent* events, long milliseconds) {
    if (count < 1 || count > kMaxCombinedInputs || events == nullptr) return kULMErrArgument;
    for (int i = 0; i < count; ++i) {
        if (IsStatusCode(events[i].m_private)) return kULMOK;
    }
    const bool anyCombined = std::any_of(events, events + count, [](const ULMSyncEvent& e) {
        return IsMultiEvent(e.m_private);
    });
    if (!anyCombined) return ULMGetBoardServices().WaitForAny(count, events, milliseconds);

    // A combined event cannot go to the driver as one id: poll every event,
    // and between polls give the first a short wait, until the time is up.
    const ULMDeadline deadline(milliseconds);
    for (;;) {
        for (int i = 0; i < count; ++i) {
            if (events[i].Wait(0) != kULMTimeout) return kULMOK;
        }
        if (deadline.RemainingMs() == 0) return kULMInProgress;
        if (events[0].Wait(1) != kULMTimeout) return kULMOK;
    }
}

ULMStatus ULMSyncEvent::Abort() const {
    if (IsStatusCode(m_private)) return kULMErrArgument;
    if (IsMultiEvent(m_private)) return AbortCombined(m_private);
    return ULMGetBoardServices().Abort(*this);
}

ULMSyncEvent CombineMultipleEvents(int count, const ULMSyncEvent* events) {
    if (count > kMaxCombinedInputs || count < 0 || (count > 0 && events == nullptr)) {
        return ULMSyncEvent(kULMErrArgument);
    }
    if (count == 0) return ULMSyncEvent(kULMOK);
    if (count == 1) return events[0];

    ULMLock lock(g_multiData.criticalSection);
    if (!g_multiData.initialized) PrepareTable();

    // A failed input fails the whole, but only once the work of the others
    // is over too: a caller that frees what that work reads when the wait
    // fails must not free it under a board still running. Finished
    // successes need no wait.
    EventList pending;
    ULMStatus failed = kULMOK;
    for (int i = 0; i < count; ++i) {
        const uint64_t word = SyncEventWord(events[i]);
        if (IsStatusCode(word)) {
            failed = FirstFailure(failed, events[i].Status());
        } else if (IsMultiEvent(word)) {
            failed = FirstFailure(failed, AppendPendingEvents(word, pending));
        } else if (IsBoardWord(word)) {
            pending.push_back(events[i]);
        }
    }
    // One event reached through two inputs is waited for once.
    EventList unique;
    for (const ULMSyncEvent& event : pending) {
        if (std::find(unique.begin(), unique.end(), event) == unique.end()) unique.push_back(event);
    }

    if (unique.empty()) return ULMFailed(failed) ? ULMSyncEvent(failed) : events[0];
    if (unique.size() == 1 && !ULMFailed(failed)) return unique[0];

    if (unique.size() > static_cast<size_t>(kMaxSlotBoardEvents)) {
        // Nested combinations, or a transfer of many pieces: wait for the
        // oldest now rather than drop them.
        const EventList surplus(unique.begin(), unique.end() - kMaxSlotBoardEvents);
        lock.unlock();
        failed = FirstFailure(failed, WaitForAllBoardEvents(surplus, -1));
        lock.lock();
        unique.erase(unique.begin(), unique.end() - kMaxSlotBoardEvents);
    }

    ULMSyncEvent handle;
    MultiEvent& slot = ClaimSlot(lock, handle);
    slot.multipleEvent = handle;
    slot.failure = failed;
    slot.active = static_cast<int>(unique.size());
    std::copy(unique.begin(), unique.end(), slot.driverEvents);
    return handle;
}

ULMStatus InitializeMultipleEventDatabase() {
    ULMScopedLock lock(g_multiData.criticalSection);
    PrepareTable();
    return kULMOK;
}

ULMStatus CleanupMultipleEventDatabase() {
    ULMScopedLock lock(g_multiData.criticalSection);
    for (MultiEvent& slot : g_multiData.array) slot.active = 0;
    g_multiData.initialized = false;
    return kULMOK;
}

}  // namespace ulm3
