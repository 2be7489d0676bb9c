#include "board/kwb_sync_event.h"

#include "foundation/diagnostics.h"
#include "foundation/sync_event.h"

namespace ulm3 {

namespace {

constexpr unsigned kBoardShift = 52;
constexpr unsigned kQueueShift = 48;

}  // namespace

KWBSyncEvent::KWBSyncEvent(int board, QueueNumber queue, uint64_t sequence) {
    m_private = kHardwareTag | (static_cast<uint64_t>(board & 0xF) << kBoardShift) |
                (static_cast<uint64_t>(queue & 0x3) << kQueueShift) | (sequence & kSequenceMask);
}

bool KWBSyncEvent::IsHardwareSync() const { return (m_private & kSyncKindMask) == kHardwareTag; }

int KWBSyncEvent::GetBoardNumber() const {
    ULM_ASSERT(IsHardwareSync());
    return static_cast<int>((m_private >> kBoardShift) & 0xF);
}

KWBSyncEvent::QueueNumber KWBSyncEvent::GetQueueNumber() const {
    ULM_ASSERT(IsHardwareSync());
    return static_cast<QueueNumber>((m_private >> kQueueShift) & 0x3);
}

uint64_t KWBSyncEvent::GetSequenceNumber() const {
    return IsHardwareSync() ? (m_private & kSequenceMask) : kNoSequence;
}

KWBSyncEvent KWBSyncEvent::Latest(const KWBSyncEvent& other) const {
    if (!other.IsHardwareSync()) return *this;
    if (!IsHardwareSync()) return other;
    // Sequence numbers never wrap, so "ahead by less than 2^31" modulo 2^48
    // is exact: an equal number counts as newer and keeps `other`.
    const uint64_t ahead = (other.GetSequenceNumber() - GetSequenceNumber()) & kSequenceMask;
    return ahead < (uint64_t{1} << 31) ? other : *this;
}

}  // namespace ulm3
