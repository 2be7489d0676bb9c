// The event table of work forwarded to several volumes or boards.
#include "volume/volume_forwarding.h"

#include "foundation/diagnostics.h"

namespace ulm3 {

void ULMEventTable::Put(int inSlot, const ULMSyncEvent& inEvent) {
    ULM_ASSERT(inSlot >= 0 && inSlot < kULMMaxForwardedVolumes);
    m_slots[inSlot].Add(inEvent);
    m_last[inSlot] = inEvent;
    m_used[inSlot] = true;
}

ULMSyncEvent ULMEventTable::Last(int inSlot) const {
    ULM_ASSERT(inSlot >= 0 && inSlot < kULMMaxForwardedVolumes);
    return m_last[inSlot];
}

bool ULMEventTable::Used(int inSlot) const {
    ULM_ASSERT(inSlot >= 0 && inSlot < kULMMaxForwardedVolumes);
    return m_used[inSlot];
}

ULMSyncEvent ULMEventTable::Join() const {
    ULMEventJoin all;
    for (int i = 0; i < kULMMaxForwardedVolumes; ++i)
        if (m_used[i]) all.Add(m_slots[i].Result());
    return all.Result();
}

}  // namespace ulm3
