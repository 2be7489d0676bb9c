// Waits, aborts and queue dumps of board events.
#include <climits>

#include "board/kwb_board.h"
#include "foundation/message_log.h"
#include "foundation/sync_event.h"

namespace ulm3 {

namespace {

// The driver's time-out field is 32 bits; any negative value waits without
// limit.
int32_t DriverTimeout(long timeoutMs) {
    if (timeoutMs < 0) return -1;
    return timeoutMs > INT32_MAX ? INT32_MAX : static_cast<int32_t>(timeoutMs);
}

// Clears `field` when it still holds `word`; a newer event stored meanwhile
// stays.
void ResetIfStill(std::atomic<uint64_t>& field, uint64_t word) {
    field.compare_exchange_strong(word, SyncEventWord(ULMSyncEvent(kULMOK)),
                                  std::memory_order_acq_rel);
}

}  // namespace

KWBBoard* KWBBoard::BoardOfEvent(const ULMSyncEvent& event, ULMStatus& outStatus) {
    const KWBSyncEvent view(event);
    // A word from a closed board, or garbage naming boards 8..15, has no
    // board to ask.
    KWBBoard* board = view.IsHardwareSync() ? GetBoard(view.GetBoardNumber()) : nullptr;
    outStatus = board != nullptr ? kULMOK : kULMErrArgument;
    return board;
}

void KWBBoard::ForgetCompletedLastEvent(const KWBSyncEvent& event) {
    const uint64_t word = SyncEventWord(event);
    ResetIfStill(m_lastLoadEvent, word);
    ResetIfStill(m_lastUnloadEvent, word);
    ResetIfStill(m_lastRenderEvent, word);
}

ULMStatus KWBBoard::WaitForEvents(int selection, int count, const ULMSyncEvent* events,
                                  long timeoutMs) {
    if (count <= 0) return kULMOK;
    if (count > TULX7_DR_MAX_SYNC_EVENTS || events == nullptr) return kULMErrArgument;

    Tulx7_dr_sync record;
    record.selection = selection;
    record.timeout = DriverTimeout(timeoutMs);
    record.event_count = count;
    for (int i = 0; i < count; ++i) {
        const KWBSyncEvent view(events[i]);
        if (!IsStatusCode(SyncEventWord(view))) {
            ULMStatus status = kULMOK;
            if (BoardOfEvent(view, status) == nullptr) return status;
        }
        // A finished event goes as "no event", which the driver counts as
        // occurred.
        record.event_list[i].event_id = view.GetDriverEventID();
    }

    const ULMStatus status = Request(TULX7_DR_SYNC, record);
    if (status != kULMOK) return status;

    for (int i = 0; i < count; ++i) {
        if (record.event_list[i].event_occurred == 0) continue;
        const KWBSyncEvent view(events[i]);
        if (!view.IsHardwareSync()) continue;
        // The board named by the event keeps the last-event field, not
        // necessarily the board the wait went through.
        if (KWBBoard* owner = GetBoard(view.GetBoardNumber())) owner->ForgetCompletedLastEvent(view);
    }
    return record.wait_status == 1 ? kULMOK : kULMTimeout;
}

ULMStatus KWBBoard::WaitForAny(int count, const ULMSyncEvent* events, long timeoutMs) {
    return WaitForEvents(TULX7_DR_WAIT_ANY, count, events, timeoutMs);
}

ULMStatus KWBBoard::WaitForAll(int count, const ULMSyncEvent* events, long timeoutMs) {
    return WaitForEvents(TULX7_DR_WAIT_ALL, count, events, timeoutMs);
}

ULMStatus KWBBoard::WaitForSync(const ULMSyncEvent& event, long timeoutMs) {
    ULMStatus status = kULMOK;
    KWBBoard* board = BoardOfEvent(event, status);
    if (board == nullptr) return status;
    return board->WaitForAny(1, &event, timeoutMs);
}

ULMStatus KWBBoard::AbortEvent(const ULMSyncEvent& event) {
    if (!m_configuration.dwSupportsAbort) return kULMErrUnimplemented;
    Tulx7_dr_abort record;
    record.event_id = KWBSyncEvent(event).GetDriverEventID();
    const ULMStatus status = Request(TULX7_DR_ABORT, record);
    // The driver cannot stop work that is already running: it goes on.
    if (record.status == TULX7_DR_STATUS_SUB_FUNCT_NOT_IMPLEMENTED) return kULMInProgress;
    return status;
}

ULMStatus KWBBoard::commonAbort(const ULMSyncEvent& event) {
    ULMStatus status = kULMOK;
    KWBBoard* board = BoardOfEvent(event, status);
    if (board == nullptr) return status;
    return board->AbortEvent(event);
}

void KWBBoard::DumpQueues() {
    if (!m_configuration.dwSupportsDump) {
        ULMOutputMessage("DumpQueues called but driver does not support DEBUG_CQUEUE_DUMP\n");
        return;
    }
    ULMOutputMessage("DumpQueues called -- driver queues dumped to tulx7log.txt\n");
    for (uint32_t queue : {TULX7_DR_QUEUE_DMA_IN, TULX7_DR_QUEUE_DMA_OUT, TULX7_DR_QUEUE_RENDER}) {
        Tulx7_dr_debug_data record;
        record.count = 12;
        record.data_array[0] = queue;
        Request(TULX7_DR_DEBUG_CQUEUE_DUMP, record);
    }
}

}  // namespace ulm3
