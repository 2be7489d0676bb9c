// The events one driver request waits for, fitted into the few event fields
// its record has.
#pragma once

#include <cstdint>
#include <vector>

#include "board/kwb_sync_event.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// A job starts once the events its record names have finished and every
// job queued before it on its own queue has. So the newest event of one
// queue stands for every earlier event of that queue, but for nothing
// queued on another queue or board: folding the events of several buffers
// into the newest of them would drop work of the other queues (a copy from
// another board into one of a render's buffers, behind a newer load into
// another).
//
// Each field first takes the event the caller names for it. Every event
// the request must follow is then checked: one on the request's own queue,
// or one that a named event of its queue is newer than, is waited for
// already; any other takes a field whose event is waited for already, and
// when none is left it is waited for here, before the request is sent.
class KWBRequestWaits {
public:
    static constexpr int kMaxFields = 4;

    // The request runs on inQueue of inBoard and has inFields event fields.
    KWBRequestWaits(int inBoard, KWBSyncEvent::QueueNumber inQueue, int inFields);

    // The event field inField names, which the request must also follow.
    void Name(int inField, const ULMSyncEvent& inEvent);
    // Work the request must follow. Events that are not board events are
    // over and ignored.
    void Follow(const ULMSyncEvent& inEvent);
    // The driver ids for the fields, in order; events that found no field
    // are waited for first.
    void Resolve(uint32_t* const outIds[]);

private:
    bool OnOwnQueue(const KWBSyncEvent& inEvent) const;
    // A named field other than inExcept holds an event at least as new on
    // the same queue.
    bool Covered(const KWBSyncEvent& inEvent, int inExcept) const;
    // A field whose event is waited for without it, or -1.
    int SpareField() const;

    int m_board;
    KWBSyncEvent::QueueNumber m_queue;
    int m_fieldCount;
    KWBSyncEvent m_fields[kMaxFields];
    // The newest event of each queue to follow.
    std::vector<KWBSyncEvent> m_follow;
};

}  // namespace ulm3
