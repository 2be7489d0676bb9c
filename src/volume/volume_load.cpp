// Every transfer of voxels into a volume's board buffer: the update methods
// chosen by configuration, the cutting of large loads into chunks of whole
// slices loaded over two slots, and the page-aligned staging memory.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "board/board_range.h"
#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/shareable.h"
#include "volume/sub_volume.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

constexpr int64_t kPageBytes = 4096;
// The most host bytes one driver request moves, and so the chunk size of
// loads through driver host buffers.
constexpr int64_t kKernelChunkLimit = 0xEF000;

int64_t RoundToFullPages(int64_t inBytes) { return (inBytes + kPageBytes - 1) & ~(kPageBytes - 1); }

char* AlignToPage(char* inAddress) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(inAddress);
    return inAddress + ((kPageBytes - static_cast<int64_t>(a % kPageBytes)) % kPageBytes);
}

bool IsPageAligned(const void* inAddress) { return reinterpret_cast<uintptr_t>(inAddress) % kPageBytes == 0; }

// INT64_MAX for a box whose bytes cannot be counted, which every limit
// on the bytes refuses.
int64_t BoxBytes(const ULMVolumeRange& inRange, int inVoxelBytes) {
    int64_t bytes = 0;
    return ulm3::BoxBytes(inRange, inVoxelBytes, bytes) ? bytes : INT64_MAX;
}

ULMVolumeRange Slices(const ULMVolumeRange& inRange, int inFirst, int inCount) {
    return ULMVolumeRange(inRange.XSize(), inRange.YSize(), inCount, inRange.XOrigin(), inRange.YOrigin(),
                          inRange.ZOrigin() + inFirst);
}

UpdateMethod MethodForSource(const ULMVolumeSource* inSource) {
    if (IsObjectType(inSource, kObjectTypeULMVolumeSourceMemory)) return gULMControl.m_UpdateMethodMemory;
    if (IsObjectType(inSource, kObjectTypeULMVoxFileReader)) return gULMControl.m_UpdateMethodFile;
    return gULMControl.m_UpdateMethodSource;
}

}  // namespace

// ---- Chunking ----

// A slot's load reads the caller's memory (or a source mapping), or memory
// this volume staged: staging memory and source mappings are touched again
// only once the slot's previous load has completed.
class ULMVolumeInternal::ChunkedLoad {
public:
    enum Kind { kEmpty, kDirect, kStaged };
    struct Slot {
        Kind kind = kEmpty;
        char* memory = nullptr;  // staging or driver host memory of the slot
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

    // Slices per chunk: half the slices (rounded up) from 11 slices on, so
    // that the host fills one slot while the board loads the other, and no
    // more than inLimit bytes.
    ChunkedLoad(ULMVolumeInternal& inVolume, const ULMVolumeRange& inDestination, int64_t inLimit,
                bool inKernel, ULMVolumeSource* inSource)
        : m_volume(inVolume), m_destination(inDestination), m_source(inSource), m_kernel(inKernel) {
        m_sliceBytes = int64_t{inDestination.XSize()} * inDestination.YSize() * inVolume.m_voxelSizeBytes;
        const int z = inDestination.ZSize();
        if (m_sliceBytes <= 0 || z <= 0) return;
        const int64_t limit = inKernel ? kKernelChunkLimit : inLimit;
        if (inKernel && m_sliceBytes > kKernelChunkLimit) {
            m_status = kULMErrTooLarge;
            return;
        }
        int64_t perChunk = z > 10 ? (int64_t{z} + 1) / 2 : z;
        if (perChunk * m_sliceBytes > limit) perChunk = std::max<int64_t>(1, limit / m_sliceBytes);
        m_slicesPerChunk = static_cast<int>(perChunk);
        m_slotCount = static_cast<int>(std::min<int64_t>(2, (z + perChunk - 1) / perChunk));
        m_stagingBytes = RoundToFullPages(perChunk * m_sliceBytes);
    }

    ~ChunkedLoad() {
        // Driver host memory is freed only once every load that reads it
        // has completed.
        for (Slot& slot : m_slots) {
            if (slot.hostBufferId < 0) continue;
            slot.event.Wait(-1);
            m_volume.m_board->DestroyKernelBuffer(slot.hostBufferId, static_cast<uint32_t>(m_stagingBytes),
                                                  slot.memory);
        }
    }

    ChunkedLoad(const ChunkedLoad&) = delete;
    ChunkedLoad& operator=(const ChunkedLoad&) = delete;

    ULMStatus PlanStatus() const { return m_status; }
    bool Empty() const { return m_slotCount == 0; }
    int64_t SliceBytes() const { return m_sliceBytes; }

    ULMStatus MakeKernelBuffers() {
        for (int i = 0; i < m_slotCount; ++i) {
            uint32_t granted = 0;
            void* address = nullptr;
            int id = -1;
            const uint32_t wanted = static_cast<uint32_t>(m_stagingBytes);
            if (m_volume.m_board->CreateKernelBuffer(wanted, granted, address, id) != kULMOK)
                return kULMErrAlloc;
            m_slots[i].hostBufferId = id;
            m_slots[i].memory = static_cast<char*>(address);
            if (granted < wanted) return kULMErrAlloc;
        }
        return kULMOK;
    }

    // The slot's staging memory; the volume's staging memory is set up for
    // every slot at the first need.
    char* Staging(int inSlot, ULMStatus& outStatus) {
        if (m_kernel) return m_slots[inSlot].memory;
        if (!m_staged) {
            outStatus = m_volume.AllocateHostBuffer(m_stagingBytes * m_slotCount);
            if (outStatus != kULMOK) return nullptr;
            m_staged = true;
        }
        return m_volume.m_hostBufferAddress + inSlot * m_stagingBytes;
    }

    // Runs the chunks; fill(slot index, slot, first slice, slices, host)
    // prepares what a chunk's load reads. Returns the last load's event, or
    // the first failure.
    template <typename Fill>
    ULMSyncEvent Run(Fill fill) {
        ULMSyncEvent last(kULMOK);
        int first = 0;
        for (int n = 0; first < m_destination.ZSize(); ++n) {
            const int index = n % m_slotCount;
            Slot& slot = m_slots[index];
            const int slices = std::min(m_slicesPerChunk, m_destination.ZSize() - first);
            if (slot.kind == kStaged || slot.mapping != nullptr) {
                const ULMStatus waited = slot.event.Wait(-1);
                ReleaseMapping(slot);
                if (waited != kULMOK) return ULMSyncEvent(waited);
            }
            slot.kind = kEmpty;
            Host host;
            const ULMStatus filled = fill(index, slot, first, slices, host);
            if (filled != kULMOK) return ULMSyncEvent(filled);
            slot.event = m_volume.m_board->StartLoadBuffer(m_volume.m_buffer, host.address,
                                                           ULMRange(Slices(m_destination, first, slices)),
                                                           host.row, host.slice, slot.hostBufferId);
            last = slot.event;
            if (ULMFailed(last.Status())) return last;
            m_lastStarted = last;
            m_lastSlot = index;
            first += slices;
        }
        return last;
    }

    // Records what the volume must remember after the loads: the last load
    // that reads its staging memory, and the mapping of its own source the
    // last load reads (released by WaitForVolumeLoaded). Other mappings are
    // released once their loads have completed.
    void Finish(bool inSucceeded) {
        if (m_staged) m_volume.m_hostBufferEvent = m_lastStarted;
        for (int i = 0; i < m_slotCount; ++i) {
            Slot& slot = m_slots[i];
            if (slot.mapping == nullptr) continue;
            if (inSucceeded && i == m_lastSlot && m_source == m_volume.m_volumeSource) {
                m_volume.m_mapAddress = slot.mapping;
                m_volume.m_releaseMapping = true;
                slot.mapping = nullptr;
                continue;
            }
            slot.event.Wait(-1);
            ReleaseMapping(slot);
        }
    }

    ULMVolumeRange ChunkOfSource(int inX, int inY, int inZ, int inFirst, int inSlices) const {
        return ULMVolumeRange(m_destination.XSize(), m_destination.YSize(), inSlices, inX, inY, inZ + inFirst);
    }

private:
    void ReleaseMapping(Slot& ioSlot) {
        if (ioSlot.mapping == nullptr) return;
        m_source->ReleaseVoxels(ioSlot.mapping);
        ioSlot.mapping = nullptr;
    }

    ULMVolumeInternal& m_volume;
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

// ---- From caller memory ----

ULMSyncEvent ULMVolumeInternal::StartUpdateBuffer(const ULMVolumeRange& inDestinationRange, const void* inVoxels,
                                                  int inAllocatedSizeX, int inAllocatedSizeY) {
    ULM_ASSERT(m_board != nullptr);
    ULM_ASSERT(m_bufferValid);
    if (inDestinationRange.IsEmpty()) return ULMSyncEvent(kULMOK);
    const int rowLength = inAllocatedSizeX != 0 ? inAllocatedSizeX : inDestinationRange.XSize();
    const int rowsPerSlice = inAllocatedSizeY != 0 ? inAllocatedSizeY : inDestinationRange.YSize();
    // Pitches narrower than the box would read outside the caller's block.
    if (inVoxels == nullptr || rowLength < inDestinationRange.XSize() || rowsPerSlice < inDestinationRange.YSize())
        return ULMSyncEvent(kULMErrArgument);
    const ULMVolumeRange& r = inDestinationRange;
    ULMSyncEvent event(kULMOK);
    switch (gULMControl.m_UpdateMethodMemory) {
        case eMethodMap: event = StartUpdateBufferMap(r, inVoxels, rowLength, rowsPerSlice, false); break;
        case eMethodCopy: return StartUpdateBufferCopy(r, inVoxels, rowLength, rowsPerSlice);
        case eMethodMapCopy: event = StartUpdateBufferMap(r, inVoxels, rowLength, rowsPerSlice, true); break;
        case eMethodKernel: event = StartUpdateBufferKernel(r, inVoxels, rowLength, rowsPerSlice); break;
        case eMethodOneMap: return StartUpdateBufferDirect(r, inVoxels, rowLength, rowsPerSlice);
        case eMethodOneCopy: event = StartUpdateBufferOneCopy(r, inVoxels, rowLength, rowsPerSlice); break;
        default: UlmAssert("(\"Bad UpdateMethod\", false)", __FILE__, __LINE__, nullptr);
    }
    if (!ULMFailed(event.Status())) return event;
    return StartUpdateBufferCopy(r, inVoxels, rowLength, rowsPerSlice);
}

ULMSyncEvent ULMVolumeInternal::StartUpdateBufferMap(const ULMVolumeRange& inRange, const void* inVoxels,
                                                     int inRowLength, int inRowsPerSlice, bool inCopyUnaligned) {
    ChunkedLoad load(*this, inRange, gULMControl.m_MaxUpdateSizeMemory, false, nullptr);
    if (load.Empty()) return ULMSyncEvent(load.PlanStatus());
    const char* const voxels = static_cast<const char*>(inVoxels);
    const int64_t slicePitch = int64_t{inRowLength} * inRowsPerSlice * m_voxelSizeBytes;
    const ULMSyncEvent event = load.Run([&](int index, ChunkedLoad::Slot& slot, int first, int slices,
                                            ChunkedLoad::Host& host) {
        const char* chunk = voxels + first * slicePitch;
        if (!inCopyUnaligned || IsPageAligned(chunk)) {
            slot.kind = ChunkedLoad::kDirect;
            host = {chunk, static_cast<uint32_t>(inRowLength), static_cast<uint32_t>(inRowsPerSlice)};
            return kULMOK;
        }
        ULMStatus status = kULMOK;
        char* staging = load.Staging(index, status);
        if (staging == nullptr) return status;
        PackVoxels(chunk, ULMVolumeRange(inRange.XSize(), inRange.YSize(), slices, 0, 0, 0), inRowLength,
                   inRowsPerSlice, m_voxelSizeBytes, staging);
        slot.kind = ChunkedLoad::kStaged;
        host = {staging, static_cast<uint32_t>(inRange.XSize()), static_cast<uint32_t>(inRange.YSize())};
        return kULMOK;
    });
    load.Finish(!ULMFailed(event.Status()));
    return event;
}

ULMSyncEvent ULMVolumeInternal::StartStagedChunks(const ULMVolumeRange& inRange, int64_t inLimit, bool inKernel,
                                                  const SlabFiller& inFill) {
    ChunkedLoad load(*this, inRange, inLimit, inKernel, nullptr);
    if (load.Empty()) return ULMSyncEvent(load.PlanStatus());
    if (inKernel) {
        const ULMStatus made = load.MakeKernelBuffers();
        if (made != kULMOK) return ULMSyncEvent(made);
    }
    const ULMSyncEvent event = load.Run([&](int index, ChunkedLoad::Slot& slot, int first, int slices,
                                            ChunkedLoad::Host& host) {
        ULMStatus status = kULMOK;
        char* staging = load.Staging(index, status);
        if (staging == nullptr) return status;
        slot.kind = ChunkedLoad::kStaged;
        host = {staging, static_cast<uint32_t>(inRange.XSize()), static_cast<uint32_t>(inRange.YSize())};
        return inFill(first, slices, staging);
    });
    load.Finish(!ULMFailed(event.Status()));
    return event;
}

ULMSyncEvent ULMVolumeInternal::StartUpdateBufferCopy(const ULMVolumeRange& inRange, const void* inVoxels,
                                                      int inRowLength, int inRowsPerSlice) {
    return StartStagedChunks(inRange, gULMControl.m_MaxUpdateSizeMemory, false, [&](int first, int slices, char* out) {
        PackVoxels(inVoxels, ULMVolumeRange(inRange.XSize(), inRange.YSize(), slices, 0, 0, first), inRowLength,
                   inRowsPerSlice, m_voxelSizeBytes, out);
        return kULMOK;
    });
}

ULMSyncEvent ULMVolumeInternal::StartUpdateBufferKernel(const ULMVolumeRange& inRange, const void* inVoxels,
                                                        int inRowLength, int inRowsPerSlice) {
    return StartStagedChunks(inRange, kKernelChunkLimit, true, [&](int first, int slices, char* out) {
        PackVoxels(inVoxels, ULMVolumeRange(inRange.XSize(), inRange.YSize(), slices, 0, 0, first), inRowLength,
                   inRowsPerSlice, m_voxelSizeBytes, out);
        return kULMOK;
    });
}

// One load straight from the caller's memory with the caller's pitches.
ULMSyncEvent ULMVolumeInternal::StartUpdateBufferDirect(const ULMVolumeRange& inRange, const void* inVoxels,
                                                        int inRowLength, int inRowsPerSlice) {
    return m_board->StartLoadBuffer(m_buffer, inVoxels, ULMRange(inRange), static_cast<uint32_t>(inRowLength),
                                    static_cast<uint32_t>(inRowsPerSlice), -1);
}

ULMSyncEvent ULMVolumeInternal::StartStagedLoad(const ULMVolumeRange& inRange, int64_t inSlabLimit,
                                                const SlabFiller& inFill) {
    const ULMStatus allocated = AllocateHostBuffer(inRange);
    if (allocated != kULMOK) return ULMSyncEvent(allocated);
    const int64_t sliceBytes = int64_t{inRange.XSize()} * inRange.YSize() * m_voxelSizeBytes;
    const int perSlab = static_cast<int>(std::clamp<int64_t>(inSlabLimit / sliceBytes, 1, inRange.ZSize()));
    ULMSyncEvent event(kULMOK);
    for (int first = 0; first < inRange.ZSize(); first += perSlab) {
        const int slices = std::min(perSlab, inRange.ZSize() - first);
        char* staging = m_hostBufferAddress + first * sliceBytes;
        const ULMStatus filled = inFill(first, slices, staging);
        if (filled != kULMOK) return ULMSyncEvent(filled);
        event = m_board->StartLoadBuffer(m_buffer, staging, ULMRange(Slices(inRange, first, slices)),
                                         static_cast<uint32_t>(inRange.XSize()),
                                         static_cast<uint32_t>(inRange.YSize()), -1);
        if (ULMFailed(event.Status())) return event;
        // Each load is queued behind the one before, so the newest one
        // completes last.
        m_hostBufferEvent = event;
    }
    return event;
}

// The whole box staged at once; only for a tight block.
ULMSyncEvent ULMVolumeInternal::StartUpdateBufferOneCopy(const ULMVolumeRange& inRange, const void* inVoxels,
                                                         int inRowLength, int inRowsPerSlice) {
    if (inRowLength != inRange.XSize() || inRowsPerSlice != inRange.YSize())
        return ULMSyncEvent(kULMErrArgument);
    const int64_t sliceBytes = int64_t{inRange.XSize()} * inRange.YSize() * m_voxelSizeBytes;
    return StartStagedLoad(inRange, gULMControl.m_MaxUpdateSizeMemory, [&](int first, int slices, char* staging) {
        std::memcpy(staging, static_cast<const char*>(inVoxels) + first * sliceBytes,
                    static_cast<size_t>(slices * sliceBytes));
        return kULMOK;
    });
}

// ---- From a volume source ----

ULMSyncEvent ULMVolumeInternal::StartUpdateBufferFromSource(const ULMVolumeRange& inDestinationRange,
                                                            ULMVolumeSource* pSource, int inSourceX,
                                                            int inSourceY, int inSourceZ) {
    ULM_ASSERT(m_board != nullptr);
    ULM_ASSERT(m_bufferValid);
    if (pSource == nullptr) pSource = m_volumeSource;
    if (inDestinationRange.IsEmpty()) return ULMSyncEvent(kULMOK);
    // Only one mapping of the own source is kept at a time: the one an
    // earlier load kept goes once that load is over.
    if (pSource == m_volumeSource && m_releaseMapping) WaitForVolumeLoaded();
    const ULMVolumeRange& r = inDestinationRange;
    const int x = inSourceX, y = inSourceY, z = inSourceZ;
    ULMSyncEvent event(kULMOK);
    switch (MethodForSource(pSource)) {
        case eMethodMap: event = StartUpdateBufferMapFromSource(r, pSource, x, y, z, false); break;
        case eMethodCopy: return StartUpdateBufferCopyFromSource(r, pSource, x, y, z);
        case eMethodMapCopy: event = StartUpdateBufferMapFromSource(r, pSource, x, y, z, true); break;
        case eMethodKernel: event = StartUpdateBufferKernelFromSource(r, pSource, x, y, z); break;
        case eMethodOneMap:
            event = StartUpdateBufferOneMapFromSource(r, pSource, x, y, z);
            if (ULMFailed(event.Status())) event = StartUpdateBufferMapFromSource(r, pSource, x, y, z, true);
            break;
        case eMethodOneCopy: event = StartUpdateBufferOneCopyFromSource(r, pSource, x, y, z); break;
        default: UlmAssert("(\"Bad UpdateMethod\", false)", __FILE__, __LINE__, nullptr);
    }
    if (!ULMFailed(event.Status())) return event;
    return StartUpdateBufferCopyFromSource(r, pSource, x, y, z);
}

ULMSyncEvent ULMVolumeInternal::StartUpdateBufferMapFromSource(const ULMVolumeRange& inRange, ULMVolumeSource* pSource,
                                                               int inX, int inY, int inZ, bool inCopyUnaligned) {
    ChunkedLoad load(*this, inRange, gULMControl.m_MaxUpdateSizeSource, false, pSource);
    if (load.Empty()) return ULMSyncEvent(load.PlanStatus());
    const ULMSyncEvent event = load.Run([&](int index, ChunkedLoad::Slot& slot, int first, int slices,
                                            ChunkedLoad::Host& host) {
        const ULMVolumeRange box = load.ChunkOfSource(inX, inY, inZ, first, slices);
        void* mapped = nullptr;
        unsigned row = 0, slice = 0;
        const bool isMapped = pSource->MapVoxels(box, 0, &mapped, &row, &slice) == kULMOK;
        if (isMapped && mapped != nullptr && (IsPageAligned(mapped) || !inCopyUnaligned)) {
            slot.kind = ChunkedLoad::kDirect;
            slot.mapping = mapped;
            host = {mapped, row, slice};
            return kULMOK;
        }
        ULMStatus status = kULMOK;
        char* staging = load.Staging(index, status);
        if (staging != nullptr && isMapped && mapped != nullptr) {
            PackVoxels(mapped, ULMVolumeRange(box.XSize(), box.YSize(), box.ZSize(), 0, 0, 0),
                       static_cast<int>(row), static_cast<int>(slice), m_voxelSizeBytes, staging);
        } else if (staging != nullptr) {
            status = pSource->UnloadVoxels(staging, box);
        }
        if (isMapped && mapped != nullptr) pSource->ReleaseVoxels(mapped);
        if (status != kULMOK) return status;
        slot.kind = ChunkedLoad::kStaged;
        host = {staging, static_cast<uint32_t>(box.XSize()), static_cast<uint32_t>(box.YSize())};
        return kULMOK;
    });
    load.Finish(!ULMFailed(event.Status()));
    return event;
}

ULMSyncEvent ULMVolumeInternal::StartUpdateBufferCopyFromSource(const ULMVolumeRange& inRange,
                                                                ULMVolumeSource* pSource, int inX, int inY, int inZ) {
    return StartStagedChunks(inRange, gULMControl.m_MaxUpdateSizeSource, false, [&](int first, int slices, char* out) {
        return pSource->UnloadVoxels(out, ULMVolumeRange(inRange.XSize(), inRange.YSize(), slices, inX, inY, inZ + first));
    });
}

ULMSyncEvent ULMVolumeInternal::StartUpdateBufferKernelFromSource(const ULMVolumeRange& inRange,
                                                                  ULMVolumeSource* pSource, int inX, int inY,
                                                                  int inZ) {
    return StartStagedChunks(inRange, kKernelChunkLimit, true, [&](int first, int slices, char* out) {
        return pSource->UnloadVoxels(out, ULMVolumeRange(inRange.XSize(), inRange.YSize(), slices, inX, inY, inZ + first));
    });
}

// The whole box in one mapping and one load, waited for before the
// mapping is given back.
ULMSyncEvent ULMVolumeInternal::StartUpdateBufferOneMapFromSource(const ULMVolumeRange& inRange,
                                                                  ULMVolumeSource* pSource, int inX, int inY,
                                                                  int inZ) {
    if (BoxBytes(inRange, m_voxelSizeBytes) >= (int64_t{1} << 31)) return ULMSyncEvent(kULMErrTooLarge);
    const ULMVolumeRange box(inRange.XSize(), inRange.YSize(), inRange.ZSize(), inX, inY, inZ);
    void* mapped = nullptr;
    unsigned row = 0, slice = 0;
    const ULMStatus status = pSource->MapVoxels(box, 0, &mapped, &row, &slice);
    if (status != kULMOK) return ULMSyncEvent(status);
    // An application source that maps without an address has mapped
    // nothing the board could read.
    if (mapped == nullptr) {
        pSource->ReleaseVoxels(mapped);
        return ULMSyncEvent(kULMErrInternal);
    }
    const ULMStatus loaded = m_board->StartLoadBuffer(m_buffer, mapped, ULMRange(inRange), row, slice, -1).Wait(-1);
    pSource->ReleaseVoxels(mapped);
    return ULMSyncEvent(loaded);
}

ULMSyncEvent ULMVolumeInternal::StartUpdateBufferOneCopyFromSource(const ULMVolumeRange& inRange,
                                                                   ULMVolumeSource* pSource, int inX, int inY,
                                                                   int inZ) {
    return StartStagedLoad(inRange, gULMControl.m_MaxUpdateSizeSource, [&](int first, int slices, char* staging) {
        return pSource->UnloadVoxels(
            staging, ULMVolumeRange(inRange.XSize(), inRange.YSize(), slices, inX, inY, inZ + first));
    });
}

// ---- Host memory ----

void ULMVolumeInternal::PackVoxels(const void* inVoxels, const ULMVolumeRange& inRange, int inAllocatedSizeX,
                                   int inAllocatedSizeY, int inSizeBytes, void* outVoxels) {
    const int64_t rowPitch = int64_t{inAllocatedSizeX} * inSizeBytes;
    const int64_t slicePitch = rowPitch * inAllocatedSizeY;
    const int64_t rowBytes = int64_t{inRange.XSize()} * inSizeBytes;
    const int64_t sliceBytes = rowBytes * inRange.YSize();
    const char* in = static_cast<const char*>(inVoxels) +
                     (int64_t{inRange.ZOrigin()} * inAllocatedSizeY + inRange.YOrigin()) * rowPitch +
                     int64_t{inRange.XOrigin()} * inSizeBytes;
    char* out = static_cast<char*>(outVoxels);
    if (rowBytes != rowPitch) {
        for (int z = 0; z < inRange.ZSize(); ++z)
            for (int y = 0; y < inRange.YSize(); ++y, out += rowBytes)
                std::memcpy(out, in + z * slicePitch + y * rowPitch, static_cast<size_t>(rowBytes));
    } else if (sliceBytes != slicePitch) {
        for (int z = 0; z < inRange.ZSize(); ++z, out += sliceBytes)
            std::memcpy(out, in + z * slicePitch, static_cast<size_t>(sliceBytes));
    } else {
        std::memcpy(out, in, static_cast<size_t>(sliceBytes * inRange.ZSize()));
    }
}

ULMStatus ULMVolumeInternal::AllocateHostBuffer(const ULMVolumeRange& inRange) {
    if (inRange.IsEmpty()) return kULMOK;
    const int64_t bytes = BoxBytes(inRange, m_voxelSizeBytes);
    if (bytes > INT32_MAX) return kULMErrTooLarge;
    return AllocateHostBuffer(bytes);
}

// Memory that is large enough is reused; new memory is taken only once no
// load reads the old.
ULMStatus ULMVolumeInternal::AllocateHostBuffer(int64_t inBytes) {
    m_hostBufferEvent.Wait(-1);
    m_hostBufferEvent = ULMSyncEvent(kULMOK);
    if (inBytes < 0) return kULMErrArgument;
    const int64_t need = inBytes + kPageBytes;
    if (need > INT32_MAX) return kULMErrTooLarge;
    if (m_hostBufferSize >= inBytes && m_hostBufferBase != nullptr) return kULMOK;
    m_hostBufferBase.reset();
    m_hostBufferAddress = nullptr;
    m_hostBufferSize = 0;
    m_hostBufferBase.reset(new (std::nothrow) char[static_cast<size_t>(need)]);
    if (m_hostBufferBase == nullptr) return kULMErrAlloc;
    m_hostBufferAddress = AlignToPage(m_hostBufferBase.get());
    m_hostBufferSize = need - (m_hostBufferAddress - m_hostBufferBase.get());
    return kULMOK;
}

}  // namespace ulm3
