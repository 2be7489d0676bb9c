// A board's transfers between host memory and its buffers, its clears and
// its copies between buffers: the helper KWBBoard hands them to.
#pragma once

#include <cstdint>
#include <vector>

#include "board/kwb_range.h"
#include "tulx7/driver_requests.h"
#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

class KWBBoard;
class KWBBuffer;

// The host side of a transfer: the memory (read by a load, written by an
// unload), its rows of `row` elements and slices of `slice` rows (0: the
// box's own extents), and the driver host buffer it lies in, or none for
// plain memory.
struct KWBHostWindow {
    const void* memory = nullptr;
    uint32_t row = 0;
    uint32_t slice = 0;
    int hostBufferId = TULX7_DR_PLAIN_HOST_MEMORY;
};

// The part of each board element a transfer moves: `sizeBits` starting at
// `positionBits`, both whole bytes.
struct KWBField {
    uint32_t sizeBits = 0;
    uint32_t positionBits = 0;
};

class KWBTransfers {
public:
    explicit KWBTransfers(KWBBoard& board) : m_board(board) {}
    // The board has closed once its last transfers were over: host memory
    // its copies still held is given back.
    ~KWBTransfers();
    KWBTransfers(const KWBTransfers&) = delete;
    KWBTransfers& operator=(const KWBTransfers&) = delete;

    // A load into `loaded` (then the same as `buffer`) or an unload from
    // `buffer` (`loaded` null), cut into pieces the driver accepts. Everything
    // is checked before the first request: a refused transfer moves nothing.
    ULMSyncEvent Start(KWBBuffer* loaded, const KWBBuffer* buffer, const KWBField& field,
                       const KWBRange& range, const KWBHostWindow& host);
    // The same as one driver request (two for a wrapped run the driver
    // cannot take whole); the box must fit one request.
    ULMSyncEvent StartOne(KWBBuffer* loaded, const KWBBuffer* buffer, const KWBField& field,
                          const KWBRange& range, const KWBHostWindow& host);
    ULMSyncEvent Clear(KWBBuffer* buffer, uint64_t value, const KWBRange& range);
    ULMSyncEvent Copy(const KWBBuffer* source, KWBBuffer* destination,
                      const KWBRange& sourceRange, const KWBRange& destinationRange);

private:
    struct Outcome {
        ULMStatus status = kULMOK;
        uint32_t queuedID = 0;  // the last request the driver accepted, 0 for none
        // The requests before the last of a run the driver takes in pieces:
        // each touches the host memory, so the handle stands for all.
        std::vector<uint32_t> earlierIDs;
    };
    // `host` has its pitches resolved.
    Outcome Send(bool load, const KWBBuffer& buffer, const KWBField& field, const KWBRange& range,
                 const KWBHostWindow& host);
    ULMSyncEvent Finish(bool load, const KWBBuffer& buffer, KWBBuffer* loaded,
                        const Outcome& outcome);
    // The two roads of a copy of checked boxes: the driver's board-to-board
    // request (false when it is refused), and pieces through host memory,
    // loaded by a host step deferred behind their unloads and recorded on
    // the destination as a writer still to come.
    bool CopyBetweenPeers(const KWBBuffer* source, KWBBuffer* destination, const KWBRange& sourceBox,
                          const KWBRange& destinationBox, ULMSyncEvent& outEvent);
    ULMSyncEvent CopyThroughHost(const KWBBuffer* source, KWBBuffer* destination, KWBBoard& destinationBoard,
                                 const KWBRange& sourceBox, const KWBRange& destinationBox);

    KWBBoard& m_board;
};

}  // namespace ulm3
