// One load into a board buffer cut into chunks of whole slices over one or
// two slots, so that the host fills one slot while the board loads the
// other.
#pragma once

#include <algorithm>
#include <cstdint>

#include "board/board_range.h"
#include "board/kwb_board.h"
#include "foundation/sync_event.h"
#include "ulm3/ranges.h"
#include "ulm3/sync_event.h"
#include "ulm3/volume_source.h"
#include "volume/volume_staging_memory.h"

namespace ulm3 {

class KWBBuffer;

// The buffer a load writes and the size of its voxels.
struct ULMLoadTarget {
    KWBBoard* board = nullptr;
    KWBBuffer* buffer = nullptr;
    int voxelBytes = 0;
};

// A slot's load reads the caller's memory (or a source mapping), or staged
// memory: staging memory and source mappings are touched again only once the
// slot's previous load has completed.
class ULMChunkedLoad {
public:
    enum Kind { kEmpty, kDirect, kStaged };
    struct Slot {
        Kind kind = kEmpty;
        char* memory = nullptr;  // driver host memory of the slot
        ULMSyncEvent event{kULMOK};
        void* mapping = nullptr;  // a source mapping the load reads
        int hostBufferId = -1;
    };
    // What a chunk's load reads.
    struct Host {
        const void* address = nullptr;
        uint32_t row = 0;
        uint32_t slice = 0;
    };

    // Slices per chunk: half the slices (rounded up) from 11 slices on, and
    // no more than inLimit bytes (a driver request's most through driver
    // host buffers, inKernel). Mappings handed to the slots are inSource's.
    ULMChunkedLoad(const ULMLoadTarget& inTarget, ULMStagingMemory& ioStaging, const ULMVolumeRange& inDestination,
                   int64_t inLimit, bool inKernel, ULMVolumeSource* inSource);
    // Driver host memory is freed only once every load that reads it has
    // completed.
    ~ULMChunkedLoad();
    ULMChunkedLoad(const ULMChunkedLoad&) = delete;
    ULMChunkedLoad& operator=(const ULMChunkedLoad&) = delete;

    ULMStatus PlanStatus() const { return m_status; }
    bool Empty() const { return m_slotCount == 0; }

    ULMStatus MakeKernelBuffers();
    // The slot's staging memory; the staging memory is reserved for every
    // slot at the first need.
    char* Staging(int inSlot, ULMStatus& outStatus);

    // Runs the chunks; fill(slot index, slot, first slice, slices, host)
    // prepares what a chunk's load reads. Returns the join of every chunk's
    // load, so that an abort reaches them all and a wait covers them all;
    // or the first failure, once the chunks already queued are aborted or
    // over.
    template <typename Fill>
    ULMSyncEvent Run(Fill fill) {
        ULMEventJoin all;
        int first = 0;
        for (int n = 0; first < m_destination.ZSize(); ++n) {
            const int index = n % m_slotCount;
            Slot& slot = m_slots[index];
            const int slices = std::min(m_slicesPerChunk, m_destination.ZSize() - first);
            if (slot.kind == kStaged || slot.mapping != nullptr) {
                const ULMStatus waited = slot.event.Wait(-1);
                ReleaseMapping(slot);
                if (waited != kULMOK) return ULMSyncEvent(ULMSettleRefusedParts(all.Result(), waited));
            }
            slot.kind = kEmpty;
            Host host;
            const ULMStatus filled = fill(index, slot, first, slices, host);
            if (filled != kULMOK) return ULMSyncEvent(ULMSettleRefusedParts(all.Result(), filled));
            slot.event = m_target.board->StartLoadBuffer(m_target.buffer, host.address,
                                                         ULMRange(Chunk(first, slices)), host.row, host.slice,
                                                         slot.hostBufferId);
            if (ULMFailed(slot.event.Status()))
                return ULMSyncEvent(ULMSettleRefusedParts(all.Result(), slot.event.Status()));
            all.Add(slot.event);
            m_lastSlot = index;
            first += slices;
        }
        m_lastStarted = all.Result();
        return m_lastStarted;
    }

    // Ends the load: the staging memory learns its last reader, and every
    // source mapping goes back once its load has completed, except the one
    // the last load of a load that succeeded reads of inKept (the volume's
    // own source), which is returned for the volume to keep.
    void* Finish(bool inSucceeded, const ULMVolumeSource* inKept);

    // The source box of a chunk, for a load from inSource's (x, y, z).
    ULMVolumeRange ChunkOfSource(int inX, int inY, int inZ, int inFirst, int inSlices) const {
        return ULMVolumeRange(m_destination.XSize(), m_destination.YSize(), inSlices, inX, inY, inZ + inFirst);
    }

private:
    ULMVolumeRange Chunk(int inFirst, int inSlices) const {
        return ULMVolumeRange(m_destination.XSize(), m_destination.YSize(), inSlices, m_destination.XOrigin(),
                              m_destination.YOrigin(), m_destination.ZOrigin() + inFirst);
    }
    void ReleaseMapping(Slot& ioSlot);

    const ULMLoadTarget m_target;
    ULMStagingMemory& m_staging;
    const ULMVolumeRange m_destination;
    ULMVolumeSource* const m_source;
    const bool m_kernel;
    ULMStatus m_status = kULMOK;
    int64_t m_sliceBytes = 0;
    int m_slicesPerChunk = 0;
    int m_slotCount = 0;
    int64_t m_stagingBytes = 0;
    bool m_staged = false;
    Slot m_slots[2];
    ULMSyncEvent m_lastStarted{kULMOK};
    int m_lastSlot = -1;
};

}  // namespace ulm3
