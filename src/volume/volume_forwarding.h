// How a volume that wraps other volumes (a mipmap volume's levels, a
// multiboard volume's copies or bricks) hands one call of the volume
// interface on to them: a setter in turn until the first failure, a start
// into a table of eight slots whose events are joined.
#pragma once

#include <span>

#include "foundation/sync_event.h"
#include "ulm3/status.h"
#include "ulm3/sync_event.h"
#include "ulm3/volume.h"

namespace ulm3 {

// Most volumes (or boards) one forwarded call reaches.
inline constexpr int kULMMaxForwardedVolumes = 8;

// inSet(volume, index) on each volume in turn. The first failure ends the
// walk and is returned; otherwise the last volume's status; inIfNone when
// there is no volume to ask.
template <typename Set>
ULMStatus ULMForwardSetter(std::span<ULMVolume* const> inVolumes, ULMStatus inIfNone, Set&& inSet) {
    if (inVolumes.empty()) return inIfNone;
    ULMStatus status = kULMOK;
    for (size_t i = 0; i < inVolumes.size(); ++i) {
        status = inSet(*inVolumes[i], static_cast<int>(i));
        if (ULMFailed(status)) return status;
    }
    return status;
}

// The events of work started on up to eight volumes or boards. A slot
// first holds a finished kULMErrArgument, as work nobody started there.
// Work put in a slot that already holds some is kept beside it, not in its
// place: a board does not fail a job because an earlier one failed, so an
// event dropped for a later one could hide a failure.
class ULMEventTable {
public:
    // inEvent joins slot inSlot (0..7); a slot outside the table is a
    // programming error.
    void Put(int inSlot, const ULMSyncEvent& inEvent);
    // The newest event put in the slot, or the slot's finished
    // kULMErrArgument.
    ULMSyncEvent Last(int inSlot) const;
    bool Used(int inSlot) const;
    // One event over everything put in the table: finished kULMOK when
    // nothing was, a finished failure as soon as one is known.
    ULMSyncEvent Join() const;

private:
    ULMEventJoin m_slots[kULMMaxForwardedVolumes];
    ULMSyncEvent m_last[kULMMaxForwardedVolumes] = {
        ULMSyncEvent(kULMErrArgument), ULMSyncEvent(kULMErrArgument), ULMSyncEvent(kULMErrArgument),
        ULMSyncEvent(kULMErrArgument), ULMSyncEvent(kULMErrArgument), ULMSyncEvent(kULMErrArgument),
        ULMSyncEvent(kULMErrArgument), ULMSyncEvent(kULMErrArgument)};
    bool m_used[kULMMaxForwardedVolumes] = {};
};

// inStart(volume, index) on each volume, volume i into slot i. A start that
// fails at once is returned once the work already started on the others is
// aborted or over; otherwise the join of every start. inIfNone when there
// is no volume to ask.
template <typename Start>
ULMSyncEvent ULMForwardStart(std::span<ULMVolume* const> inVolumes, ULMStatus inIfNone, Start&& inStart) {
    if (inVolumes.empty()) return ULMSyncEvent(inIfNone);
    ULMEventTable table;
    for (size_t i = 0; i < inVolumes.size() && i < size_t{kULMMaxForwardedVolumes}; ++i) {
        const ULMSyncEvent event = inStart(*inVolumes[i], static_cast<int>(i));
        if (ULMFailed(event.Status())) return ULMSyncEvent(ULMSettleRefusedParts(table.Join(), event.Status()));
        table.Put(static_cast<int>(i), event);
    }
    return table.Join();
}

}  // namespace ulm3
