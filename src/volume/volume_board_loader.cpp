// Every transfer of voxels into a volume's board buffer: the update methods
// chosen by configuration, and the staged loads behind them.
#include "volume/volume_board_loader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "board/board_range.h"
#include "board/kwb_board.h"
#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "volume/sub_volume.h"

namespace ulm3 {

namespace {

constexpr int64_t kPageBytes = 4096;

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

int64_t ULMBoardLoader::RoundToFullPages(int64_t inBytes) { return (inBytes + kPageBytes - 1) & ~(kPageBytes - 1); }

void ULMBoardLoader::Finish(ULMChunkedLoad& ioLoad, const ULMSyncEvent& inLast) {
    if (void* kept = ioLoad.Finish(!ULMFailed(inLast.Status()), m_ownSource)) m_pending.KeepMapping(m_ownSource, kept);
}

// ---- From caller memory ----

ULMSyncEvent ULMBoardLoader::FromMemory(const ULMVolumeRange& inDestinationRange, const void* inVoxels,
                                        int inAllocatedSizeX, int inAllocatedSizeY) {
    if (inDestinationRange.IsEmpty()) return ULMSyncEvent(kULMOK);
    const int rowLength = inAllocatedSizeX != 0 ? inAllocatedSizeX : inDestinationRange.XSize();
    const int rowsPerSlice = inAllocatedSizeY != 0 ? inAllocatedSizeY : inDestinationRange.YSize();
    // Pitches narrower than the box would read outside the caller's block.
    if (inVoxels == nullptr || rowLength < inDestinationRange.XSize() || rowsPerSlice < inDestinationRange.YSize())
        return ULMSyncEvent(kULMErrArgument);
    const ULMVolumeRange& r = inDestinationRange;
    ULMSyncEvent event(kULMOK);
    switch (gULMControl.m_UpdateMethodMemory) {
        case eMethodMap: event = Map(r, inVoxels, rowLength, rowsPerSlice, false); break;
        case eMethodCopy: return Copy(r, inVoxels, rowLength, rowsPerSlice);
        case eMethodMapCopy: event = Map(r, inVoxels, rowLength, rowsPerSlice, true); break;
        case eMethodKernel: event = Kernel(r, inVoxels, rowLength, rowsPerSlice); break;
        case eMethodOneMap: return Direct(r, inVoxels, rowLength, rowsPerSlice);
        case eMethodOneCopy: event = OneCopy(r, inVoxels, rowLength, rowsPerSlice); break;
        default: UlmAssert("(\"Bad UpdateMethod\", false)", __FILE__, __LINE__, nullptr);
    }
    if (!ULMFailed(event.Status())) return event;
    return Copy(r, inVoxels, rowLength, rowsPerSlice);
}

ULMSyncEvent ULMBoardLoader::Map(const ULMVolumeRange& inRange, const void* inVoxels, int inRowLength,
                                 int inRowsPerSlice, bool inCopyUnaligned) {
    ULMChunkedLoad load(m_target, m_staging, inRange, gULMControl.m_MaxUpdateSizeMemory, false, nullptr);
    if (load.Empty()) return ULMSyncEvent(load.PlanStatus());
    const char* const voxels = static_cast<const char*>(inVoxels);
    const int voxelBytes = m_target.voxelBytes;
    const int64_t slicePitch = int64_t{inRowLength} * inRowsPerSlice * voxelBytes;
    const ULMSyncEvent event = load.Run([&](int index, ULMChunkedLoad::Slot& slot, int first, int slices,
                                            ULMChunkedLoad::Host& host) {
        const char* chunk = voxels + first * slicePitch;
        if (!inCopyUnaligned || IsPageAligned(chunk)) {
            slot.kind = ULMChunkedLoad::kDirect;
            host = {chunk, static_cast<uint32_t>(inRowLength), static_cast<uint32_t>(inRowsPerSlice)};
            return kULMOK;
        }
        ULMStatus status = kULMOK;
        char* staging = load.Staging(index, status);
        if (staging == nullptr) return status;
        PackVoxels(chunk, ULMVolumeRange(inRange.XSize(), inRange.YSize(), slices, 0, 0, 0), inRowLength,
                   inRowsPerSlice, voxelBytes, staging);
        slot.kind = ULMChunkedLoad::kStaged;
        host = {staging, static_cast<uint32_t>(inRange.XSize()), static_cast<uint32_t>(inRange.YSize())};
        return kULMOK;
    });
    Finish(load, event);
    return event;
}

ULMSyncEvent ULMBoardLoader::StagedChunks(const ULMVolumeRange& inRange, int64_t inLimit, bool inKernel,
                                          const SlabFiller& inFill) {
    ULMChunkedLoad load(m_target, m_staging, inRange, inLimit, inKernel, nullptr);
    if (load.Empty()) return ULMSyncEvent(load.PlanStatus());
    if (inKernel) {
        const ULMStatus made = load.MakeKernelBuffers();
        if (made != kULMOK) return ULMSyncEvent(made);
    }
    const ULMSyncEvent event = load.Run([&](int index, ULMChunkedLoad::Slot& slot, int first, int slices,
                                            ULMChunkedLoad::Host& host) {
        ULMStatus status = kULMOK;
        char* staging = load.Staging(index, status);
        if (staging == nullptr) return status;
        slot.kind = ULMChunkedLoad::kStaged;
        host = {staging, static_cast<uint32_t>(inRange.XSize()), static_cast<uint32_t>(inRange.YSize())};
        return inFill(first, slices, staging);
    });
    Finish(load, event);
    return event;
}

ULMSyncEvent ULMBoardLoader::Copy(const ULMVolumeRange& inRange, const void* inVoxels, int inRowLength,
                                  int inRowsPerSlice) {
    return StagedChunks(inRange, gULMControl.m_MaxUpdateSizeMemory, false, [&](int first, int slices, char* out) {
        PackVoxels(inVoxels, ULMVolumeRange(inRange.XSize(), inRange.YSize(), slices, 0, 0, first), inRowLength,
                   inRowsPerSlice, m_target.voxelBytes, out);
        return kULMOK;
    });
}

ULMSyncEvent ULMBoardLoader::Kernel(const ULMVolumeRange& inRange, const void* inVoxels, int inRowLength,
                                    int inRowsPerSlice) {
    return StagedChunks(inRange, kKernelChunkLimit, true, [&](int first, int slices, char* out) {
        PackVoxels(inVoxels, ULMVolumeRange(inRange.XSize(), inRange.YSize(), slices, 0, 0, first), inRowLength,
                   inRowsPerSlice, m_target.voxelBytes, out);
        return kULMOK;
    });
}

// One load straight from the caller's memory with the caller's pitches.
ULMSyncEvent ULMBoardLoader::Direct(const ULMVolumeRange& inRange, const void* inVoxels, int inRowLength,
                                    int inRowsPerSlice) {
    return m_target.board->StartLoadBuffer(m_target.buffer, inVoxels, ULMRange(inRange),
                                           static_cast<uint32_t>(inRowLength), static_cast<uint32_t>(inRowsPerSlice),
                                           -1);
}

ULMSyncEvent ULMBoardLoader::StagedLoad(const ULMVolumeRange& inRange, int64_t inSlabLimit, const SlabFiller& inFill) {
    const ULMStatus allocated = m_staging.ReserveBox(inRange, m_target.voxelBytes);
    if (allocated != kULMOK) return ULMSyncEvent(allocated);
    const int64_t sliceBytes = int64_t{inRange.XSize()} * inRange.YSize() * m_target.voxelBytes;
    const int perSlab = static_cast<int>(std::clamp<int64_t>(inSlabLimit / sliceBytes, 1, inRange.ZSize()));
    // Every slab's load is joined: an abort of the whole must reach them all,
    // and the staging memory is free again only once all have read it.
    ULMEventJoin all;
    for (int first = 0; first < inRange.ZSize(); first += perSlab) {
        const int slices = std::min(perSlab, inRange.ZSize() - first);
        char* staging = m_staging.Address() + first * sliceBytes;
        const ULMStatus filled = inFill(first, slices, staging);
        if (filled != kULMOK) return ULMSyncEvent(ULMSettleRefusedParts(all.Result(), filled));
        const ULMSyncEvent event = m_target.board->StartLoadBuffer(
            m_target.buffer, staging, ULMRange(Slices(inRange, first, slices)), static_cast<uint32_t>(inRange.XSize()),
            static_cast<uint32_t>(inRange.YSize()), -1);
        if (ULMFailed(event.Status())) return ULMSyncEvent(ULMSettleRefusedParts(all.Result(), event.Status()));
        all.Add(event);
    }
    const ULMSyncEvent loaded = all.Result();
    m_staging.SetLastReader(loaded);
    return loaded;
}

// The whole box staged at once; only for a tight block.
ULMSyncEvent ULMBoardLoader::OneCopy(const ULMVolumeRange& inRange, const void* inVoxels, int inRowLength,
                                     int inRowsPerSlice) {
    if (inRowLength != inRange.XSize() || inRowsPerSlice != inRange.YSize()) return ULMSyncEvent(kULMErrArgument);
    const int64_t sliceBytes = int64_t{inRange.XSize()} * inRange.YSize() * m_target.voxelBytes;
    return StagedLoad(inRange, gULMControl.m_MaxUpdateSizeMemory, [&](int first, int slices, char* staging) {
        std::memcpy(staging, static_cast<const char*>(inVoxels) + first * sliceBytes,
                    static_cast<size_t>(slices * sliceBytes));
        return kULMOK;
    });
}

// ---- From a volume source ----

ULMSyncEvent ULMBoardLoader::FromSource(const ULMVolumeRange& inDestinationRange, ULMVolumeSource* pSource,
                                        int inSourceX, int inSourceY, int inSourceZ) {
    if (pSource == nullptr) pSource = m_ownSource;
    if (inDestinationRange.IsEmpty()) return ULMSyncEvent(kULMOK);
    // Only one mapping of the own source is kept at a time: the one an
    // earlier load kept goes once that load is over.
    if (pSource == m_ownSource && m_pending.KeepsMapping()) m_pending.Wait();
    const ULMVolumeRange& r = inDestinationRange;
    const int x = inSourceX, y = inSourceY, z = inSourceZ;
    ULMSyncEvent event(kULMOK);
    switch (MethodForSource(pSource)) {
        case eMethodMap: event = MapFromSource(r, pSource, x, y, z, false); break;
        case eMethodCopy: return CopyFromSource(r, pSource, x, y, z);
        case eMethodMapCopy: event = MapFromSource(r, pSource, x, y, z, true); break;
        case eMethodKernel: event = KernelFromSource(r, pSource, x, y, z); break;
        case eMethodOneMap:
            event = OneMapFromSource(r, pSource, x, y, z);
            if (ULMFailed(event.Status())) event = MapFromSource(r, pSource, x, y, z, true);
            break;
        case eMethodOneCopy: event = OneCopyFromSource(r, pSource, x, y, z); break;
        default: UlmAssert("(\"Bad UpdateMethod\", false)", __FILE__, __LINE__, nullptr);
    }
    if (!ULMFailed(event.Status())) return event;
    return CopyFromSource(r, pSource, x, y, z);
}

ULMSyncEvent ULMBoardLoader::MapFromSource(const ULMVolumeRange& inRange, ULMVolumeSource* pSource, int inX, int inY,
                                           int inZ, bool inCopyUnaligned) {
    ULMChunkedLoad load(m_target, m_staging, inRange, gULMControl.m_MaxUpdateSizeSource, false, pSource);
    if (load.Empty()) return ULMSyncEvent(load.PlanStatus());
    const int voxelBytes = m_target.voxelBytes;
    const ULMSyncEvent event = load.Run([&](int index, ULMChunkedLoad::Slot& slot, int first, int slices,
                                            ULMChunkedLoad::Host& host) {
        const ULMVolumeRange box = load.ChunkOfSource(inX, inY, inZ, first, slices);
        void* mapped = nullptr;
        unsigned row = 0, slice = 0;
        const bool isMapped = pSource->MapVoxels(box, 0, &mapped, &row, &slice) == kULMOK;
        if (isMapped && mapped != nullptr && (IsPageAligned(mapped) || !inCopyUnaligned)) {
            slot.kind = ULMChunkedLoad::kDirect;
            slot.mapping = mapped;
            host = {mapped, row, slice};
            return kULMOK;
        }
        ULMStatus status = kULMOK;
        char* staging = load.Staging(index, status);
        if (staging != nullptr && isMapped && mapped != nullptr) {
            PackVoxels(mapped, ULMVolumeRange(box.XSize(), box.YSize(), box.ZSize(), 0, 0, 0),
                       static_cast<int>(row), static_cast<int>(slice), voxelBytes, staging);
        } else if (staging != nullptr) {
            status = pSource->UnloadVoxels(staging, box);
        }
        if (isMapped && mapped != nullptr) pSource->ReleaseVoxels(mapped);
        if (status != kULMOK) return status;
        slot.kind = ULMChunkedLoad::kStaged;
        host = {staging, static_cast<uint32_t>(box.XSize()), static_cast<uint32_t>(box.YSize())};
        return kULMOK;
    });
    Finish(load, event);
    return event;
}

ULMSyncEvent ULMBoardLoader::CopyFromSource(const ULMVolumeRange& inRange, ULMVolumeSource* pSource, int inX, int inY,
                                            int inZ) {
    return StagedChunks(inRange, gULMControl.m_MaxUpdateSizeSource, false, [&](int first, int slices, char* out) {
        return pSource->UnloadVoxels(out, ULMVolumeRange(inRange.XSize(), inRange.YSize(), slices, inX, inY, inZ + first));
    });
}

ULMSyncEvent ULMBoardLoader::KernelFromSource(const ULMVolumeRange& inRange, ULMVolumeSource* pSource, int inX,
                                              int inY, int inZ) {
    return StagedChunks(inRange, kKernelChunkLimit, true, [&](int first, int slices, char* out) {
        return pSource->UnloadVoxels(out, ULMVolumeRange(inRange.XSize(), inRange.YSize(), slices, inX, inY, inZ + first));
    });
}

// The whole box in one mapping and one load, waited for before the
// mapping is given back.
ULMSyncEvent ULMBoardLoader::OneMapFromSource(const ULMVolumeRange& inRange, ULMVolumeSource* pSource, int inX,
                                              int inY, int inZ) {
    if (BoxBytes(inRange, m_target.voxelBytes) >= (int64_t{1} << 31)) return ULMSyncEvent(kULMErrTooLarge);
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
    const ULMStatus loaded =
        m_target.board->StartLoadBuffer(m_target.buffer, mapped, ULMRange(inRange), row, slice, -1).Wait(-1);
    pSource->ReleaseVoxels(mapped);
    return ULMSyncEvent(loaded);
}

ULMSyncEvent ULMBoardLoader::OneCopyFromSource(const ULMVolumeRange& inRange, ULMVolumeSource* pSource, int inX,
                                               int inY, int inZ) {
    return StagedLoad(inRange, gULMControl.m_MaxUpdateSizeSource, [&](int first, int slices, char* staging) {
        return pSource->UnloadVoxels(
            staging, ULMVolumeRange(inRange.XSize(), inRange.YSize(), slices, inX, inY, inZ + first));
    });
}

// ---- Host memory ----

void ULMBoardLoader::PackVoxels(const void* inVoxels, const ULMVolumeRange& inRange, int inAllocatedSizeX,
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

}  // namespace ulm3
