// Sync events and the table of combined events.
#include "foundation/sync_event.h"

#include <algorithm>
#include <array>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/deadline.h"
#include "foundation/diagnostics.h"
#include "foundation/locks.h"
#include "foundation/sync_event_outcomes.h"
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
// input that had failed before it was combined, or of its work once its
// slot was reused.
ULMStatus AppendPendingEvents(uint64_t handleWord, EventList& out) {
    const MultiEvent& slot = g_multiData.array[MultiSync_index_from_ID(handleWord)];
    if (SyncEventWord(slot.multipleEvent) != handleWord) return ULMRememberedOutcome(handleWord);
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

// The abort of an operation made of parts, told the answer of each part's
// abort: a part's refusal of the abort itself (no abort on its board, a
// bad handle) first; else kULMOK when any part was dropped, for its wait
// then answers kULMErrAborted; else kULMInProgress when a part goes on;
// kULMAlreadyComplete only when every part had completed.
class ULMAbortOutcome {
public:
    void Add(ULMStatus inPart) {
        if (inPart == kULMOK) m_dropped = true;
        else if (inPart == kULMInProgress) m_running = true;
        else if (inPart != kULMAlreadyComplete && m_refused == kULMOK) m_refused = inPart;
    }
    ULMStatus Answer() const {
        if (m_refused != kULMOK) return m_refused;
        if (m_dropped) return kULMOK;
        return m_running ? kULMInProgress : kULMAlreadyComplete;
    }

private:
    bool m_dropped = false;
    bool m_running = false;
    ULMStatus m_refused = kULMOK;
};

ULMStatus AbortCombined(uint64_t word) {
    EventList pending;
    {
        ULMScopedLock lock(g_multiData.criticalSection);
        AppendPendingEvents(word, pending);
    }
    if (pending.empty()) return kULMAlreadyComplete;
    // The newest first, so that an older event's work cannot start the
    // newer one's. The answer is the whole's: complete only when every
    // part was, aborted when any part was dropped.
    ULMAbortOutcome outcome;
    for (auto it = pending.rbegin(); it != pending.rend(); ++it) outcome.Add(ULMGetBoardServices().Abort(*it));
    return outcome.Answer();
}

// Lock held on entry and on return. Takes the next number and its slot; a
// slot whose events may still be running is waited for first, so the old
// handle never reports success while its boards still work.
MultiEvent& ClaimSlot(ULMLock& lock, ULMSyncEvent& outHandle) {
    const uint32_t n = ++g_multiData.lastIndex;
    outHandle = ULMMultiSyncEvent(n);
    MultiEvent& slot = g_multiData.array[MultiSync_index_from_ID(n)];
    ULMStatus ended = kULMOK;
    while (slot.active > 0) {
        const ULMSyncEvent previous = slot.multipleEvent;
        const EventList stillRunning(slot.driverEvents, slot.driverEvents + slot.active);
        lock.unlock();
        const ULMStatus waited = WaitForAllBoardEvents(stillRunning, -1);
        lock.lock();
        if (slot.multipleEvent == previous) {
            slot.active = 0;
            ended = waited;
        }
    }
    // The old handle answers its failure from now on, not a success.
    if (IsMultiEvent(SyncEventWord(slot.multipleEvent)))
        ULMRememberFailure(SyncEventWord(slot.multipleEvent), FirstFailure(slot.failure, ended));
    return slot;
}

// ---- Deferred host steps ----

struct DeferredEntry {
    enum class State { kPending, kRunning, kRan };
    uint64_t word = 0;  // the handle owning the slot; 0 while it is free
    State state = State::kRan;
    bool aborted = false;
    ULMSyncEvent inputs{kULMOK};
    ULMSyncEvent after{kULMOK};  // what must complete before the step runs, its failure aside
    ULMDeferredStep step;
    std::thread::id runner;         // while kRunning
    ULMSyncEvent result{kULMOK};    // once kRan: what the step queued
};

struct DeferredTable {
    ULMMutex lock;
    ULMCondition ran;  // a step has run
    uint32_t lastNumber = 0;
    DeferredEntry entries[kDeferredStepSlots];
};

// Never destroyed, like the combined table's lock: a waiter late in the
// process's end still finds its lock.
DeferredTable& Deferred() {
    static DeferredTable* const table = new DeferredTable();
    return *table;
}

// Steps this thread is running, one inside another when a step runs the
// one it follows, innermost last.
thread_local std::vector<uint64_t> tRunningWords;

// True when this thread is inside the step of inWord.
bool RunningHere(uint64_t inWord) {
    return std::find(tRunningWords.begin(), tRunningWords.end(), inWord) != tRunningWords.end();
}

// The event of inWork that answers kULMErrAborted once that work is over.
ULMSyncEvent AbortedAfter(const ULMSyncEvent& inWork) {
    if (IsStatusCode(SyncEventWord(inWork))) return ULMSyncEvent(kULMErrAborted);
    const ULMSyncEvent both[] = {ULMSyncEvent(kULMErrAborted), inWork};
    return CombineMultipleEvents(2, both);
}

DeferredEntry& EntryOf(DeferredTable& ioTable, uint64_t inWord) {
    return ioTable.entries[static_cast<uint32_t>(inWord) % kDeferredStepSlots];
}

// Table lock held on entry and on return (it is let go while inputs are
// waited for and while the step runs). Runs the step of inWord once its
// inputs end within the deadline, or waits while another thread runs it.
// kULMOK once it has run (or its slot moved on), kULMTimeout when time ran
// out first, kULMInProgress on the thread that is running it.
ULMStatus SettleDeferred(DeferredTable& ioTable, ULMLock& ioLock, uint64_t inWord, const ULMDeadline& inDeadline) {
    DeferredEntry& entry = EntryOf(ioTable, inWord);
    for (;;) {
        if (entry.word != inWord || entry.state == DeferredEntry::State::kRan) return kULMOK;
        if (entry.state == DeferredEntry::State::kRunning) {
            if (entry.runner == std::this_thread::get_id()) return kULMInProgress;
            const long ms = inDeadline.RemainingMs();
            if (ms < 0) {
                ioTable.ran.wait(ioLock);
            } else if (ms == 0 || ioTable.ran.wait_for(ioLock, std::chrono::milliseconds(ms)) ==
                                      std::cv_status::timeout) {
                if (entry.word == inWord && entry.state == DeferredEntry::State::kRunning) return kULMTimeout;
            }
            continue;
        }
        // Pending: its inputs are waited for outside the lock, so that other
        // steps and their waiters go on meanwhile.
        const ULMSyncEvent inputs = entry.inputs;
        const ULMSyncEvent after = entry.after;
        ioLock.unlock();
        ULMStatus ended = inputs.Wait(inDeadline.RemainingMs());
        const auto pending = [](ULMStatus inStatus) { return inStatus == kULMTimeout || inStatus == kULMInProgress; };
        const bool ready = !pending(ended) && !pending(after.Wait(inDeadline.RemainingMs()));
        ioLock.lock();
        if (entry.word != inWord || entry.state != DeferredEntry::State::kPending) continue;
        if (!ready) return kULMTimeout;
        const bool dropped = entry.aborted;
        if (dropped) ended = kULMErrAborted;
        entry.state = DeferredEntry::State::kRunning;
        entry.runner = std::this_thread::get_id();
        ULMDeferredStep step = std::move(entry.step);
        entry.step = nullptr;
        ioLock.unlock();
        tRunningWords.push_back(inWord);
        ULMSyncEvent result = step(ended);
        // What the step holds is given back before anyone learns it ran.
        step = nullptr;
        tRunningWords.pop_back();
        // A step dropped by an abort did not do its work, whatever it
        // answers: its handle answers kULMErrAborted once what it may
        // still have queued is over.
        if (dropped) result = AbortedAfter(result);
        ioLock.lock();
        // An abort that came while the step ran reaches what it queued.
        if (entry.aborted && !dropped) {
            ioLock.unlock();
            if (!IsStatusCode(SyncEventWord(result))) result.Abort();
            ioLock.lock();
        }
        entry.result = result;
        entry.inputs = ULMSyncEvent(kULMOK);
        entry.after = ULMSyncEvent(kULMOK);
        entry.state = DeferredEntry::State::kRan;
        ioTable.ran.notify_all();
        return kULMOK;
    }
}

// The event a deferred handle stands for once its step has run: what the
// step queued, or kULMOK once its slot moved on. Runs the step first.
ULMSyncEvent SettledEvent(uint64_t inWord) {
    DeferredTable& table = Deferred();
    ULMLock lock(table.lock);
    const ULMStatus settled = SettleDeferred(table, lock, inWord, ULMDeadline(-1));
    ULM_ASSERT(settled == kULMOK);
    const DeferredEntry& entry = EntryOf(table, inWord);
    return entry.word == inWord ? entry.result : ULMSyncEvent(ULMRememberedOutcome(inWord));
}

ULMStatus WaitDeferred(uint64_t inWord, long milliseconds) {
    const ULMDeadline deadline(milliseconds);
    DeferredTable& table = Deferred();
    ULMSyncEvent result;
    {
        ULMLock lock(table.lock);
        // Asked from inside its own step, the step is not over.
        if (SettleDeferred(table, lock, inWord, deadline) != kULMOK) return kULMTimeout;
        const DeferredEntry& entry = EntryOf(table, inWord);
        if (entry.word != inWord) return ULMRememberedOutcome(inWord);
        result = entry.result;
    }
    return result.Wait(deadline.RemainingMs());
}

// The step is work not yet started, so it is dropped: it runs told it was
// aborted, which leaves out what it would queue.
ULMStatus AbortDeferred(uint64_t inWord) {
    DeferredTable& table = Deferred();
    ULMSyncEvent inputs;
    ULMSyncEvent after;
    {
        ULMLock lock(table.lock);
        DeferredEntry& entry = EntryOf(table, inWord);
        if (entry.word != inWord) return kULMAlreadyComplete;
        // The step goes on; what it queues is aborted once it returns.
        if (entry.state == DeferredEntry::State::kRunning) {
            entry.aborted = true;
            return kULMInProgress;
        }
        if (entry.state == DeferredEntry::State::kRan) {
            const ULMSyncEvent result = entry.result;
            lock.unlock();
            return IsStatusCode(SyncEventWord(result)) ? kULMAlreadyComplete : result.Abort();
        }
        entry.aborted = true;
        inputs = entry.inputs;
        after = entry.after;
    }
    const ULMStatus status = inputs.Abort();
    // Once the inputs are over the dropped step is settled here, so that
    // what it holds is given back without a wait.
    if (inputs.Wait(0) != kULMTimeout && after.Wait(0) != kULMTimeout) RunDeferredStep(SyncEventFromWord(inWord));
    return status == kULMInProgress ? kULMInProgress : kULMOK;
}

// Lock held on entry and on return. The handle of two or more distinct
// board events, or of one with an earlier failure. More than one slot
// holds: the oldest take a slot, and the others are combined by a step
// deferred behind them, so that combining never waits for a board.
ULMSyncEvent CombineUnique(ULMLock& lock, EventList unique, ULMStatus failed) {
    if (unique.size() > static_cast<size_t>(kMaxSlotBoardEvents)) {
        const EventList rest(unique.begin() + kMaxSlotBoardEvents, unique.end());
        unique.resize(kMaxSlotBoardEvents);
        const ULMSyncEvent oldest = CombineUnique(lock, std::move(unique), failed);
        // The step may run at once, and a slot the deferral reuses may run
        // an earlier step: neither under this lock.
        lock.unlock();
        const ULMSyncEvent combined = DeferHostStep(oldest, [rest](ULMStatus inOldest) {
            // An abort of the whole reaches the newer events too.
            if (inOldest == kULMErrAborted)
                for (auto it = rest.rbegin(); it != rest.rend(); ++it) ULMGetBoardServices().Abort(*it);
            ULMLock inner(g_multiData.criticalSection);
            if (rest.size() == 1 && !ULMFailed(inOldest)) return rest[0];
            return CombineUnique(inner, rest, ULMFailed(inOldest) ? inOldest : kULMOK);
        });
        lock.lock();
        return combined;
    }
    ULMSyncEvent handle;
    MultiEvent& slot = ClaimSlot(lock, handle);
    slot.multipleEvent = handle;
    slot.failure = failed;
    slot.active = static_cast<int>(unique.size());
    std::copy(unique.begin(), unique.end(), slot.driverEvents);
    return handle;
}

// True for a deferred handle whose step has not yet run.
bool IsUnsettledDeferred(uint64_t inWord) {
    if (!IsDeferredEvent(inWord)) return false;
    DeferredTable& table = Deferred();
    ULMLock lock(table.lock);
    const DeferredEntry& entry = EntryOf(table, inWord);
    return entry.word == inWord && entry.state != DeferredEntry::State::kRan;
}

// The combination of inEvents, whose input inStep is a step still to run,
// as a step deferred behind that one's work: it then combines that work's
// end with the other inputs. An abort of the whole reaches every input.
ULMSyncEvent CombineBehindStep(int inCount, const ULMSyncEvent* inEvents, int inStep) {
    std::array<ULMSyncEvent, kMaxCombinedInputs> others;
    int n = 0;
    for (int i = 0; i < inCount; ++i)
        if (i != inStep) others[static_cast<size_t>(n++)] = inEvents[i];
    return DeferHostStep(inEvents[inStep], [others, n](ULMStatus inEnded) mutable {
        if (inEnded == kULMErrAborted)
            for (int i = 0; i < n; ++i) others[static_cast<size_t>(i)].Abort();
        others[static_cast<size_t>(n)] = ULMSyncEvent(inEnded);
        return CombineMultipleEvents(n + 1, others.data());
    });
}

}  // namespace

uint64_t SyncEventWord(const ULMSyncEvent& event) { return event.m_private; }

ULMSyncEvent SyncEventFromWord(uint64_t word) {
    ULMSyncEvent event;
    event.m_private = word;
    return event;
}

ULMSyncEvent DeferHostStep(const ULMSyncEvent& inInputs, ULMDeferredStep inStep, const ULMSyncEvent& inAfter) {
    // Work a step queues comes after that step without being told: made to
    // wait for it, the step's handle would stand for work that waits for
    // the handle.
    const bool afterSelf = RunningHere(SyncEventWord(inAfter));
    const ULMSyncEvent after = afterSelf ? ULMSyncEvent(kULMOK) : inAfter;
    if (IsStatusCode(SyncEventWord(inInputs)) && !IsUnsettledDeferred(SyncEventWord(after)))
        return inStep(inInputs.Status());
    DeferredTable& table = Deferred();
    ULMLock lock(table.lock);
    const uint64_t word = kSyncDeferredKind | ++table.lastNumber;
    DeferredEntry& entry = EntryOf(table, word);
    // A slot still in use is settled first: its step run and its work
    // waited for, so that its old handle never reports success too early.
    while (entry.word != 0) {
        const uint64_t old = entry.word;
        if (entry.state != DeferredEntry::State::kRan) {
            const ULMStatus settled = SettleDeferred(table, lock, old, ULMDeadline(-1));
            ULM_ASSERT(settled == kULMOK);
            continue;
        }
        const ULMSyncEvent result = entry.result;
        lock.unlock();
        const ULMStatus ended = result.Wait(-1);
        lock.lock();
        if (entry.word == old && entry.state == DeferredEntry::State::kRan) {
            // The old handle answers its failure from now on, not a success.
            ULMRememberFailure(old, ended);
            entry.word = 0;
        }
    }
    entry.word = word;
    entry.state = DeferredEntry::State::kPending;
    entry.aborted = false;
    entry.inputs = inInputs;
    entry.after = after;
    entry.step = std::move(inStep);
    entry.result = ULMSyncEvent(kULMOK);
    return SyncEventFromWord(word);
}

bool InDeferredStep() { return !tRunningWords.empty(); }

bool RunDeferredStep(const ULMSyncEvent& inEvent) {
    const uint64_t word = SyncEventWord(inEvent);
    if (!IsDeferredEvent(word)) return true;
    DeferredTable& table = Deferred();
    ULMLock lock(table.lock);
    return SettleDeferred(table, lock, word, ULMDeadline(-1)) == kULMOK;
}

bool ULMSyncEvent::IsDone() const {
    if (IsStatusCode(m_private)) return true;
    return Wait(0) != kULMTimeout;
}

ULMStatus ULMSyncEvent::Wait(long milliseconds) const {
    if (IsStatusCode(m_private)) return Status();
    if (IsMultiEvent(m_private)) return WaitCombined(m_private, milliseconds);
    if (IsDeferredEvent(m_private)) return WaitDeferred(m_private, milliseconds);
    return ULMGetBoardServices().Wait(*this, milliseconds);
}

ULMStatus ULMSyncEvent::WaitForAny(int count, ULMSyncEvent* events, long milliseconds) {
    if (count < 1 || count > kMaxCombinedInputs || events == nullptr) return kULMErrArgument;
    for (int i = 0; i < count; ++i) {
        if (IsStatusCode(events[i].m_private)) return kULMOK;
    }
    const bool anyCombined = std::any_of(events, events + count, [](const ULMSyncEvent& e) {
        return IsMultiEvent(e.m_private) || IsDeferredEvent(e.m_private);
    });
    if (!anyCombined) return ULMGetBoardServices().WaitForAny(count, events, milliseconds);

    // A combined event or a deferred step cannot go to the driver as one
    // id: poll every event (which runs a step whose inputs are over),
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
    if (IsDeferredEvent(m_private)) return AbortDeferred(m_private);
    return ULMGetBoardServices().Abort(*this);
}

ULMSyncEvent CombineMultipleEvents(int count, const ULMSyncEvent* events) {
    if (count > kMaxCombinedInputs || count < 0 || (count > 0 && events == nullptr)) {
        return ULMSyncEvent(kULMErrArgument);
    }
    if (count == 0) return ULMSyncEvent(kULMOK);
    if (count == 1) return events[0];

    // A deferred step is no board event to wait for. One still to run
    // (its inputs may be a paused board away) makes the combination a step
    // deferred behind it, so that combining never waits; one that has run
    // stands for the work it queued.
    for (int i = 0; i < count; ++i)
        if (IsUnsettledDeferred(SyncEventWord(events[i]))) return CombineBehindStep(count, events, i);
    ULMSyncEvent inputs[kMaxCombinedInputs];
    for (int i = 0; i < count; ++i) {
        const uint64_t word = SyncEventWord(events[i]);
        inputs[i] = IsDeferredEvent(word) ? SettledEvent(word) : events[i];
    }
    events = inputs;

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

    return CombineUnique(lock, std::move(unique), failed);
}

ULMStatus ULMSettleRefusedParts(const ULMSyncEvent& inQueued, ULMStatus inFailure) {
    if (!IsStatusCode(SyncEventWord(inQueued))) {
        inQueued.Abort();
        inQueued.Wait(-1);
    }
    return inFailure;
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
