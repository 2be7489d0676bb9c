// Completion handles of asynchronous operations.
#pragma once

#include <cstdint>

#include "ulm3/status.h"

namespace ulm3 {

// Returned by every Start operation (loads, unloads, renders, resamples,
// migrations). A handle is a 64-bit word that is either a finished result
// carrying its status, one event of a board's driver queue, a combined
// event standing for several board events, or a step on the host deferred
// until board work it reads is done (a blend of partial images). The
// library has no thread of its own to run such a step: the first thread
// that waits on, polls, combines or aborts the handle, or queues other work
// on what the step writes, runs it, and the handle then stands for the
// work the step queued. Handles are plain values: copy them freely, wait
// on any copy.
class ULMSyncEvent {
public:
    // A finished event that succeeded: nothing to wait for.
    constexpr ULMSyncEvent() : m_private(kCompletedTag | 0u) {}
    // A finished event carrying `status`.
    constexpr explicit ULMSyncEvent(ULMStatus status)
        : m_private(kCompletedTag | static_cast<uint32_t>(status)) {}

    // A word that names nothing (a zero or all-ones top byte) never survives
    // a copy: it becomes a finished event with kULMErrArgument.
    ULMSyncEvent(const ULMSyncEvent& other) : m_private(ValidWord(other.m_private)) {}
    ULMSyncEvent& operator=(const ULMSyncEvent& other) {
        m_private = ValidWord(other.m_private);
        return *this;
    }

    bool operator==(const ULMSyncEvent& other) const { return m_private == other.m_private; }
    bool operator!=(const ULMSyncEvent& other) const { return m_private != other.m_private; }

    // The status of a finished event. Board and combined events answer
    // kULMInProgress without asking the board, even once they completed;
    // Wait(0) tells whether one finished and how.
    ULMStatus Status() const {
        return (m_private & kKindMask) == kCompletedTag
                   ? static_cast<ULMStatus>(static_cast<int32_t>(static_cast<uint32_t>(m_private)))
                   : kULMInProgress;
    }

    // True for a finished event, and for any other whose Wait(0) does not
    // time out.
    bool IsDone() const;

    // Waits at most `milliseconds` (a negative value waits without limit)
    // and returns the outcome: the status of a finished event, kULMOK when
    // the board work completed, kULMErrAborted when an abort dropped it
    // before it ran, kULMTimeout when the time ran out, or the board's
    // error.
    ULMStatus Wait(long milliseconds) const;

    // Waits until one of `count` (1..8) events completes: kULMOK at once when
    // one is already finished, kULMTimeout (board events only) or
    // kULMInProgress (with a combined event among them) when the time runs
    // out, kULMErrArgument for a bad count.
    static ULMStatus WaitForAny(int count, ULMSyncEvent* events, long milliseconds);

    // Asks the boards to drop the work not yet started; a wait on the handle
    // then answers kULMErrAborted. kULMErrArgument for a finished event,
    // kULMAlreadyComplete for work that is done (it stays a success),
    // kULMInProgress when work already running goes on. A handle of several
    // parts answers for them all: kULMOK when any part was dropped,
    // kULMAlreadyComplete only when every part was done. Its wait answers
    // only once no part still runs, and kULMErrAborted unless every part
    // completed.
    ULMStatus Abort() const;

protected:
    static constexpr uint64_t kKindMask = 0xFF00000000000000ull;
    static constexpr uint64_t kCompletedTag = 0xF100000000000000ull;

    static constexpr uint64_t ValidWord(uint64_t word) {
        const uint64_t kind = word & kKindMask;
        return kind != 0 && kind != kKindMask
                   ? word
                   : kCompletedTag | static_cast<uint32_t>(kULMErrArgument);
    }

    uint64_t m_private;

    // The library's own code reads and builds raw words through these.
    friend uint64_t SyncEventWord(const ULMSyncEvent& event);
    friend ULMSyncEvent SyncEventFromWord(uint64_t word);
};

}  // namespace ulm3
