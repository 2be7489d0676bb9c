// The board view of a sync event: one event of a board's driver queue.
#pragma once

#include <cstdint>

#include "ulm3/sync_event.h"

namespace ulm3 {

// Word of a board event: 0x8F in bits 63..56, the board in 55..52, 0 in
// 51..50, the queue in 49..48 and the driver's sequence number in 47..0.
class KWBSyncEvent : public ULMSyncEvent {
public:
    enum QueueNumber : int { kDmaInQueue = 0, kDmaOutQueue = 1, kRenderQueue = 2 };

    static constexpr uint64_t kHardwareTag = 0x8F00000000000000ull;
    static constexpr uint64_t kSequenceMask = (uint64_t{1} << 48) - 1;
    // What a driver record reads as "no event".
    static constexpr uint64_t kNoSequence = 0xFFFFFFFFull;

    explicit KWBSyncEvent(ULMStatus status) : ULMSyncEvent(status) {}
    KWBSyncEvent(int board, QueueNumber queue, uint64_t sequence);
    // Views any handle as a board event; the word is not changed.
    explicit KWBSyncEvent(const ULMSyncEvent& event) : ULMSyncEvent(event) {}

    bool IsHardwareSync() const;
    // Both assert that the word is a board event.
    int GetBoardNumber() const;
    QueueNumber GetQueueNumber() const;
    // 0xFFFFFFFF for a word that is not a board event.
    uint64_t GetSequenceNumber() const;
    // The sequence number as a driver record carries it.
    uint32_t GetDriverEventID() const { return static_cast<uint32_t>(GetSequenceNumber()); }

    // The newer of this event and `other`. A side that is not a board event
    // gives way to one that is; of two board events `other` wins unless it
    // lies more than 2^31 sequence numbers behind (board and queue are not
    // compared). Folds the events of many buffers into the one a request
    // must wait for.
    KWBSyncEvent Latest(const KWBSyncEvent& other) const;
    KWBSyncEvent Latest(const ULMSyncEvent& other) const { return Latest(KWBSyncEvent(other)); }
};

}  // namespace ulm3
