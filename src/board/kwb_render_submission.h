// The records a render submission hands the driver for each buffer and
// lookup table it names.
#pragma once

#include "board/kwb_sync_event.h"
#include "tulx7/driver_requests.h"

namespace ulm3 {

class KWBBuffer;

// Fills a volume, image or depth slot: the buffer's id, its valid range,
// offsets (or moduli - 1) and wrap; no buffer is the id of none. Folds the
// buffer's load event into ioLoadEvent and, for an output, its unload event
// into ioUnloadEvent.
void SetupDriverBufferData(Tulx7_dr_volimgdepth_entry& entry, KWBBuffer* buffer,
                           KWBSyncEvent& ioLoadEvent, KWBSyncEvent& ioUnloadEvent, int isOutput);

// Fills a table slot of inLUTSize 64-bit entries: id, load count and entries;
// no buffer is the id of none. The buffer must have one axis of exactly
// inLUTSize * 64 bits (asserted). Folds its load event into ioEvent.
void SetupDriverLutData(Tulx7_dr_lut_cache& entry, KWBBuffer* buffer, int inLUTSize,
                        KWBSyncEvent& ioEvent);

}  // namespace ulm3
