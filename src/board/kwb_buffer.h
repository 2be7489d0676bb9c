// The library's descriptor of one buffer in a board's memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "board/kwb_range.h"
#include "ulm3/permission.h"
#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// Whether x is 0 or a power of two.
inline bool KWBIsPowerOf2(uint64_t x) { return ((x - 1) & x) == 0; }

// Elements per axis the board allocates for a buffer of the given sizes: the
// sizes rounded up to the tiles the chip stores, by dimension (1..3) and
// element bytes. Absent axes (and sizes of 0) stay 0.
void KWBAllocatedSizes(int dimension, uint32_t elementBytes, const uint32_t inSizes[3],
                       uint32_t outSizes[3]);

// Sharing permission in the driver's bits (read 1, write 2, always 4,
// resize 8) and back.
int32_t KWBPermission(ULMPermission p);
ULMPermission ConvertPermission(int32_t driverBits);

// The newest of the events recorded into it, kept atomically so that
// several threads may record at once; copies take its value.
class KWBNewestEvent {
public:
    explicit KWBNewestEvent(ULMSyncEvent inEvent);
    KWBNewestEvent(const KWBNewestEvent& other) : KWBNewestEvent(other.Get()) {}
    KWBNewestEvent& operator=(const KWBNewestEvent& other);

    ULMSyncEvent Get() const;
    // A board event replaces the held one unless that is newer; any other
    // event replaces it.
    void Record(ULMSyncEvent inEvent);
    // Back to a finished event, unless another has been recorded since
    // inEvent.
    void Forget(ULMSyncEvent inEvent);

private:
    std::atomic<uint64_t> m_word;
};

// A flag that stays set once set, by whichever thread; copies take its value.
class KWBStickyFlag {
public:
    KWBStickyFlag() = default;
    KWBStickyFlag(const KWBStickyFlag& other) : m_set(other.IsSet()) {}
    KWBStickyFlag& operator=(const KWBStickyFlag& other) {
        m_set.store(other.IsSet(), std::memory_order_release);
        return *this;
    }
    void Set() { m_set.store(true, std::memory_order_release); }
    bool IsSet() const { return m_set.load(std::memory_order_acquire); }

private:
    std::atomic<bool> m_set{false};
};

// A count that several threads may advance at once; copies take its value.
class KWBCounter {
public:
    KWBCounter() = default;
    KWBCounter(const KWBCounter& other) : m_count(other.Get()) {}
    KWBCounter& operator=(const KWBCounter& other) {
        m_count.store(other.Get(), std::memory_order_relaxed);
        return *this;
    }
    void Increment() { m_count.fetch_add(1, std::memory_order_relaxed); }
    uint32_t Get() const { return m_count.load(std::memory_order_relaxed); }

private:
    std::atomic<uint32_t> m_count{0};
};

// What is queued on one buffer's memory, shared by every descriptor of it
// (the one that made the buffer and those attached to it since): work given
// to the board through one descriptor must follow work queued through the
// others.
struct KWBQueuedWork {
    // Loads of different fields of one buffer may be queued from several
    // threads; each keeps the newest load, as later work must wait for all.
    KWBNewestEvent load{ULMSyncEvent(kULMErrArgument)};
    // Moves on when the buffer is read (an unload, or the source side of a
    // copy), which callers do through a const descriptor and may do from
    // several threads.
    KWBNewestEvent unload{ULMSyncEvent(kULMErrArgument)};
    // Renders of different volumes share some buffers (a lookup table's,
    // say) and record themselves on them from their own threads: the newest
    // render is kept, and a buffer once written stays an output.
    KWBNewestEvent render{ULMSyncEvent(kULMErrArgument)};
    KWBStickyFlag isRenderOutput;
    // Settled by whichever thread uses the buffer first.
    KWBNewestEvent deferredWriter{ULMSyncEvent(kULMOK)};
};

// A buffer is an array of one to three axes (U fastest, then V, then W) of
// elements of 1, 2, 4 or 8 bytes, addressed either at an even offset or by
// power-of-two wrap-around. Sizes and bytes are stored minus one, as the
// chip takes them. The three events order every later transfer and render
// on the buffer after the work already queued on it; a copy of a descriptor
// shares them, as it describes the same memory.
//
// The fields are public: the render and resampling passes set the valid
// range around a render and read the addressing directly.
class KWBBuffer {
public:
    // An empty descriptor: id 0, everything 0, and events that have already
    // completed (with kULMErrArgument), so waiting on them returns at once.
    KWBBuffer();

    // Describes a buffer of the given sizes rounded up to the board's
    // allocation granularity, without asking the driver; id all ones. Sizes
    // of 0 on the first axis or above 32768, element sizes other than 8, 16,
    // 32 or 64 bits, and 64-bit elements in three dimensions are refused
    // with kULMErrArgument.
    KWBBuffer(uint32_t inU, uint32_t inV, uint32_t inW, uint32_t inElementBits,
              ULMStatus& outStatus);

    uint64_t GetID() const { return m_id; }
    void SetID(uint64_t inID) { m_id = inID; }
    // The id the driver knows the buffer by.
    uint32_t GetDriverID() const { return static_cast<uint32_t>(m_id); }

    // Returns the number of axes; absent axes give 0.
    int GetSizes(uint32_t& outU, uint32_t& outV, uint32_t& outW, uint32_t& outElementBits) const;
    // The axis count follows the sizes: V 0 means one axis, W 0 two.
    void SetSizes(uint32_t inU, uint32_t inV, uint32_t inW, uint32_t inElementBits);
    int GetDimension() const { return m_dimension + 1; }
    uint32_t GetElementBytes() const { return static_cast<uint32_t>(m_elementSize) + 1; }
    uint32_t GetElementBits() const { return GetElementBytes() * 8; }

    void SetRange(const KWBRange& inRange);
    KWBRange GetRange() const;
    // The valid range; an all-zero range of a buffer that does not wrap
    // stands for the single element at the offset.
    void GetAdjustedRange(KWBRange& outRange) const;

    // Wrap moduli must be 0 or powers of two, offsets even; otherwise
    // kULMErrArgument and nothing changes. A deferred writer runs first.
    ULMStatus SetOffsetOrWrap(bool inWrap, int inU, int inV, int inW);
    // The offsets, or under wrap the moduli.
    void GetOffsetOrWrap(bool& outWrap, int& outU, int& outV, int& outW) const;
    bool IsWrapped() const { return m_wrap != 0; }

    void IncrementSequenceNumber() { m_sequenceNumber.Increment(); }
    uint32_t GetSequenceNumber() const { return m_sequenceNumber.Get(); }

    void SetLoadEvent(ULMSyncEvent inEvent) { m_work->load.Record(inEvent); }
    // Several threads may read one buffer at once, each recording its
    // unload: the newest of them is kept, as later work must wait for all.
    void SetUnloadEvent(ULMSyncEvent inEvent) const { m_work->unload.Record(inEvent); }
    void SetRenderEvent(ULMSyncEvent inEvent, bool inIsOutput);
    // Work that will write the buffer from a host step deferred behind board
    // work (a blend on the host, loaded here once it is done): the driver
    // cannot order later work after a step it never sees, so the getters
    // below and maps run that step first, and later work follows what it
    // queued.
    void SetDeferredWriter(ULMSyncEvent inEvent) { m_work->deferredWriter.Record(inEvent); }
    // The step recorded last, if it has not been settled: one that replaces
    // it must run it first.
    ULMSyncEvent GetDeferredWriter() const { return m_work->deferredWriter.Get(); }
    void SettleDeferredWriter() const;
    ULMSyncEvent GetLoadEvent() const {
        SettleDeferredWriter();
        return m_work->load.Get();
    }
    ULMSyncEvent GetUnloadEvent() const {
        SettleDeferredWriter();
        return m_work->unload.Get();
    }
    // What new work must wait for: a reader waits only for a render that
    // writes the buffer, a writer for any render that uses it.
    ULMSyncEvent GetRenderEvent(bool inForWrite) const;
    // Records work a pass queued on the buffer: a render becomes the render
    // event (and marks the buffer written), a load the load event. Events
    // that are no longer pending are ignored.
    void SetLoadOrRenderEvent(ULMSyncEvent inEvent);

    // The record of queued work, to be shared by another descriptor of the
    // same buffer.
    std::shared_ptr<KWBQueuedWork> GetQueuedWork() const { return m_work; }
    void ShareQueuedWork(std::shared_ptr<KWBQueuedWork> inWork) { m_work = std::move(inWork); }

    ULMPermission GetPermission() const { return m_permission_share; }
    void SetPermission(ULMPermission inPermission) { m_permission_share = inPermission; }

    uint64_t m_id = 0;
    int16_t m_size_U = 0, m_size_V = 0, m_size_W = 0;
    int16_t m_offset_U = 0, m_offset_V = 0, m_offset_W = 0;
    int8_t m_elementSize = 0;
    int8_t m_dimension = 0;
    int8_t m_wrap = 0;
    int8_t m_swizzles = 0, m_alignment = 0, m_hostSize = 0;
    int16_t m_min_U = 0, m_min_V = 0, m_min_W = 0;
    int16_t m_max_U = 0, m_max_V = 0, m_max_W = 0;
    KWBCounter m_sequenceNumber;
    ULMPermission m_permission_share = kULMPermissionNotShared;

private:
    std::shared_ptr<KWBQueuedWork> m_work = std::make_shared<KWBQueuedWork>();
};

}  // namespace ulm3
