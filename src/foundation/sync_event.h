// Sync-event words and the table of combined events.
#pragma once

#include <cstdint>
#include <functional>

#include "ulm3/sync_event.h"

namespace ulm3 {

// Top bytes of the kinds of handle that are not board events.
inline constexpr uint64_t kSyncKindMask = 0xFF00000000000000ull;
inline constexpr uint64_t kSyncCompletedKind = 0xF100000000000000ull;
inline constexpr uint64_t kSyncCombinedKind = 0xCC00000000000000ull;
inline constexpr uint64_t kSyncDeferredKind = 0xDE00000000000000ull;

// Combined events in flight at once before their slots are reused.
inline constexpr int kMultiEventSlots = 256;
// Most events one combination accepts.
inline constexpr int kMaxCombinedInputs = 8;
// Most board events one slot holds once nested combinations are flattened:
// eight inputs of eight board events each always fit.
inline constexpr int kMaxSlotBoardEvents = 64;

uint64_t SyncEventWord(const ULMSyncEvent& event);
ULMSyncEvent SyncEventFromWord(uint64_t word);

constexpr bool IsStatusCode(uint64_t word) { return (word & kSyncKindMask) == kSyncCompletedKind; }
constexpr bool IsMultiEvent(uint64_t word) { return (word & kSyncKindMask) == kSyncCombinedKind; }
constexpr bool IsDeferredEvent(uint64_t word) { return (word & kSyncKindMask) == kSyncDeferredKind; }
constexpr bool IsValidSyncID(uint64_t word) {
    const uint64_t kind = word & kSyncKindMask;
    return kind != 0 && kind != kSyncKindMask;
}
constexpr uint64_t MultiSync_make_ID(uint32_t sequence) { return kSyncCombinedKind | sequence; }
constexpr int MultiSync_index_from_ID(uint64_t sequence) {
    return static_cast<int>(sequence % kMultiEventSlots);
}

// The handle of the combination numbered n.
class ULMMultiSyncEvent : public ULMSyncEvent {
public:
    explicit ULMMultiSyncEvent(uint32_t n) { m_private = MultiSync_make_ID(n); }
};

// Joins `count` (0..8) events into one that completes when all of them have.
// Finished successful inputs are dropped and a failed one makes the result
// that failure; with fewer than two events still pending no combined handle
// is made. Nested combined handles are flattened into their board events.
// The caller's array may be reused at once.
ULMSyncEvent CombineMultipleEvents(int count, const ULMSyncEvent* events);

// Joins any number of events into one that completes when all have: eight
// at a time, each full group folded into one combined event.
class ULMEventJoin {
public:
    void Add(const ULMSyncEvent& inEvent) {
        if (m_count == kMaxCombinedInputs) {
            const ULMSyncEvent folded = CombineMultipleEvents(m_count, m_events);
            m_events[0] = folded;
            m_count = 1;
        }
        m_events[m_count++] = inEvent;
    }
    ULMSyncEvent Result() const { return CombineMultipleEvents(m_count, m_events); }

private:
    ULMSyncEvent m_events[kMaxCombinedInputs];
    int m_count = 0;
};

// The handle of work in two steps, the later queued to follow the earlier
// on the boards, which run it whatever became of the earlier: the later
// step's failure to start as it is, else both, so that a failure of either
// reaches whoever waits.
inline ULMSyncEvent ULMFollowedBy(const ULMSyncEvent& inEarlier, const ULMSyncEvent& inLater) {
    if (ULMFailed(inLater.Status()) || inEarlier.Status() == kULMOK) return inLater;
    const ULMSyncEvent both[2] = {inEarlier, inLater};
    return CombineMultipleEvents(2, both);
}

// The status a call that only queues its work answers with: OK while the
// work runs, the failure of work that already failed.
inline ULMStatus ULMStatusOnceQueued(const ULMSyncEvent& inEvent) {
    const ULMStatus status = inEvent.Status();
    return status == kULMInProgress ? kULMOK : status;
}

// A call made of parts that answers a failure after queuing some of them
// hands their event here: the parts are aborted and whatever of them could
// not be stopped is waited for, so that once the call has answered none of
// its work still reads or writes the caller's memory. Returns inFailure.
ULMStatus ULMSettleRefusedParts(const ULMSyncEvent& inQueued, ULMStatus inFailure);

// ---- Host steps deferred behind board work ----
//
// The library has no thread of its own to run host work once board work it
// reads has completed: such a step is registered with the event of that
// work and runs, once, on the first caller thread that waits on, polls,
// combines or aborts its handle, or that settles it before work that must
// follow it (see RunDeferredStep). From then on the handle stands for the
// event the step returned, the work it queued.

// The step is told how its inputs ended (kULMOK, their failure, or
// kULMErrAborted when its handle was aborted first); it returns the event
// of what it queued, or its failure. It runs on no lock of the table.
using ULMDeferredStep = std::function<ULMSyncEvent(ULMStatus inInputs)>;

// Deferred steps not yet run, or whose work has not yet completed, before
// their slots are reused (a new step then runs the old one first).
inline constexpr int kDeferredStepSlots = 256;

// The handle of inStep deferred until inInputs completes, and until
// inAfter does: an earlier deferred write that must come first, whose
// failure is not this step's (the step is told of its inputs only). Put in
// the inputs' place, not run from inside the step, it keeps a poll of this
// handle from waiting on the earlier step's inputs. An input already
// finished, with no step still to run before it, leaves nothing to defer:
// the step runs at once.
ULMSyncEvent DeferHostStep(const ULMSyncEvent& inInputs, ULMDeferredStep inStep,
                           const ULMSyncEvent& inAfter = ULMSyncEvent(kULMOK));

// Runs the step of a deferred handle if nobody has yet, after waiting for
// its inputs, or waits while another thread runs it; it does not wait for
// the work the step queued. True once the step has run (or for any handle
// that is not a pending deferred step); false on the thread running that
// step, from inside it.
bool RunDeferredStep(const ULMSyncEvent& inEvent);

// True on a thread while it runs a deferred step. A step's own work on
// what it writes needs no earlier step settled (it runs the one it
// follows itself), and must not settle a later one recorded there.
bool InDeferredStep();

// Prepares the table (the first combination does so when it is not
// prepared); kULMOK.
ULMStatus InitializeMultipleEventDatabase();
// Forgets every combination, as the library's close does once the boards'
// work is over; the next combination prepares the table again. kULMOK.
ULMStatus CleanupMultipleEventDatabase();

}  // namespace ulm3
