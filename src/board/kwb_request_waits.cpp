// The events one driver request waits for, fitted into its event fields.
#include "board/kwb_request_waits.h"

#include "foundation/diagnostics.h"

namespace ulm3 {
namespace {

bool SameQueue(const KWBSyncEvent& a, const KWBSyncEvent& b) {
    return a.GetBoardNumber() == b.GetBoardNumber() && a.GetQueueNumber() == b.GetQueueNumber();
}

// a and b are board events of one queue, and a is at least as new.
bool AtLeastAsNew(const KWBSyncEvent& a, const KWBSyncEvent& b) {
    return SameQueue(a, b) && a.Latest(b).GetSequenceNumber() == a.GetSequenceNumber();
}

}  // namespace

KWBRequestWaits::KWBRequestWaits(int inBoard, KWBSyncEvent::QueueNumber inQueue, int inFields)
    : m_board(inBoard),
      m_queue(inQueue),
      m_fieldCount(inFields),
      m_fields{KWBSyncEvent(kULMOK), KWBSyncEvent(kULMOK), KWBSyncEvent(kULMOK), KWBSyncEvent(kULMOK)} {
    ULM_ASSERT(inFields >= 1 && inFields <= kMaxFields);
}

void KWBRequestWaits::Name(int inField, const ULMSyncEvent& inEvent) {
    ULM_ASSERT(inField >= 0 && inField < m_fieldCount);
    m_fields[inField] = KWBSyncEvent(inEvent);
    Follow(inEvent);
}

void KWBRequestWaits::Follow(const ULMSyncEvent& inEvent) {
    const KWBSyncEvent event(inEvent);
    if (!event.IsHardwareSync() || OnOwnQueue(event)) return;
    for (KWBSyncEvent& kept : m_follow) {
        if (!SameQueue(kept, event)) continue;
        kept = kept.Latest(event);
        return;
    }
    m_follow.push_back(event);
}

bool KWBRequestWaits::OnOwnQueue(const KWBSyncEvent& inEvent) const {
    return inEvent.GetBoardNumber() == m_board && inEvent.GetQueueNumber() == m_queue;
}

bool KWBRequestWaits::Covered(const KWBSyncEvent& inEvent, int inExcept) const {
    for (int f = 0; f < m_fieldCount; ++f) {
        if (f == inExcept || !m_fields[f].IsHardwareSync()) continue;
        if (AtLeastAsNew(m_fields[f], inEvent)) return true;
    }
    return false;
}

int KWBRequestWaits::SpareField() const {
    for (int f = 0; f < m_fieldCount; ++f) {
        const KWBSyncEvent& held = m_fields[f];
        if (!held.IsHardwareSync() || OnOwnQueue(held)) return f;
    }
    // Two fields on one queue: the older one is waited for through the
    // newer. Equal events are one wait, whichever field goes.
    for (int f = 0; f < m_fieldCount; ++f)
        if (m_fields[f].IsHardwareSync() && Covered(m_fields[f], f)) return f;
    return -1;
}

void KWBRequestWaits::Resolve(uint32_t* const outIds[]) {
    for (const KWBSyncEvent& event : m_follow) {
        if (Covered(event, -1)) continue;
        const int spare = SpareField();
        if (spare >= 0) {
            m_fields[spare] = event;
            continue;
        }
        // More queues than fields: rare (copies into the buffers from
        // several other boards at once), and the request may not start
        // before this work is over, whatever it costs the caller. Its
        // status is the work's own to report.
        event.Wait(-1);
    }
    for (int f = 0; f < m_fieldCount; ++f) *outIds[f] = m_fields[f].GetDriverEventID();
}

}  // namespace ulm3
