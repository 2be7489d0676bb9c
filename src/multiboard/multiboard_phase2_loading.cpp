// The bricked volume's voxels: the lock that fills every brick from the
// base volume in chunks, updates that reach every brick loading a voxel,
// unloads that read each voxel from the brick owning it, and maps.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "foundation/control.h"
#include "foundation/field_conversions.h"
#include "foundation/sync_event.h"
#include "multiboard/multiboard_volume_phase2.h"
#include "multiboard/slice_chunks.h"
#include "volume/buffer_lock_pair.h"
#include "volume/sub_volume.h"

namespace ulm3 {

namespace {

// Loads never move more than this in one step.
constexpr int64_t kLoadChunkBytes = 16 * 1024 * 1024;

ULMSyncEvent Finished(ULMStatus inStatus) { return ULMSyncEvent(inStatus); }

// The part of a host block (rows of inStrideX elements, inStrideY rows a
// slice, the block's first element at inBlock's corner) that lies in
// inPart, as few pieces as its layout allows: the whole part when it is
// contiguous, else a slice, else a row at a time. inPiece(range, offset in
// bytes) for each piece in turn; the first failure ends the walk.
template <typename Piece>
ULMStatus ForEachPiece(const ULMVolumeRange& inBlock, const ULMVolumeRange& inPart, int inStrideX, int inStrideY,
                       int64_t inElementBytes, Piece&& inPiece) {
    const int64_t row = inElementBytes * inStrideX;
    const int64_t slice = row * inStrideY;
    const auto offset = [&](int64_t y, int64_t z) {
        return (z - inBlock.ZOrigin()) * slice + (y - inBlock.YOrigin()) * row +
               (inPart.XOrigin() - inBlock.XOrigin()) * inElementBytes;
    };
    if (inPart.XSize() == inStrideX && inPart.YSize() == inStrideY)
        return inPiece(inPart, offset(inPart.YOrigin(), inPart.ZOrigin()));
    for (int z = inPart.ZOrigin(); z < inPart.ZOrigin() + inPart.ZSize(); ++z) {
        if (inPart.XSize() == inStrideX) {
            const ULMVolumeRange piece(inPart.XSize(), inPart.YSize(), 1, inPart.XOrigin(), inPart.YOrigin(), z);
            const ULMStatus status = inPiece(piece, offset(inPart.YOrigin(), z));
            if (ULMFailed(status)) return status;
            continue;
        }
        for (int y = inPart.YOrigin(); y < inPart.YOrigin() + inPart.YSize(); ++y) {
            const ULMVolumeRange piece(inPart.XSize(), 1, 1, inPart.XOrigin(), y, z);
            const ULMStatus status = inPiece(piece, offset(y, z));
            if (ULMFailed(status)) return status;
        }
    }
    return kULMOK;
}

// Every event started, joined; on a failure the work already started is
// aborted, or waited for where it runs, before the failure is returned, so
// that nothing still runs into the caller's memory.
class StartedWork {
public:
    // kULMOK, or the failure the event already carries.
    ULMStatus Add(const ULMSyncEvent& inEvent) {
        const ULMStatus status = inEvent.Status();
        if (ULMFailed(status)) return status;
        m_join.Add(inEvent);
        return kULMOK;
    }
    ULMSyncEvent Finish(ULMStatus inStatus) const {
        if (!ULMFailed(inStatus)) return m_join.Result();
        return Finished(ULMSettleRefusedParts(m_join.Result(), inStatus));
    }

private:
    ULMEventJoin m_join;
};

bool IsReadAccess(ULMAccessType inAccess) {
    return inAccess == kULMAccessReadExclusive || inAccess == kULMAccessReadShared;
}

}  // namespace

// ---- Lock ----

ULMStatus ULMMultiboardVolumePhase2::LockVolume(ULMLocation) {
    ULMRecursiveLock hold(m_lock);
    if (m_mapped || m_locked) return kULMErrVolume;
    ULM_ASSERT(m_baseVolume != nullptr);
    const ULMTarget target = m_target;
    AdvanceVolume();
    ULMStatus status = kULMOK;
    for (int i = 0; i < m_numSubVolumes && status == kULMOK; ++i) {
        SubvolumeInfo& brick = m_subvolume[i];
        status = brick->LockVolume(brick.m_location);
        if (status != kULMOK) break;
        brick.m_locked = 1;
        brick.m_bufferID = brick->GetBufferID();
    }
    if (status == kULMOK) {
        m_target = kULMBuffer;
        if (m_volumeSource->HasData()) status = LoadFromSource();
    }
    if (status != kULMOK) {
        UndoLock(target);
        return status;
    }
    // Every brick holds the source as it stands.
    if (m_volumeSource->HasData()) m_volumeSource->ResetChangedRange();
    m_locked = 1;
    m_bufferValid = 1;
    return kULMOK;
}

ULMStatus ULMMultiboardVolumePhase2::CatchUpWithSource() {
    if (!m_locked || !m_volumeSource->HasData()) return kULMOK;
    const ULMVolumeRange changed = m_volumeSource->ChangedRange(m_baseVolume->GetRange());
    if (changed.IsEmpty()) return kULMOK;
    m_volumeSource->ResetChangedRange();
    const ULMSyncEvent reloaded = StartCopyFromVolume(this, changed, changed.XOrigin(), changed.YOrigin(),
                                                      changed.ZOrigin(), kULMUseSource);
    return ULMFailed(reloaded.Status()) ? reloaded.Status() : kULMOK;
}

ULMStatus ULMMultiboardVolumePhase2::LoadFromSource() {
    const ULMVolumeRange whole = m_baseVolume->GetRange();
    const int64_t voxelBytes = m_voxelSize / 8;
    const int slices = ULMSlicesPerChunk(whole, voxelBytes, kLoadChunkBytes);
    const int64_t chunkBytes = ULMSliceBytes(whole, voxelBytes) * slices;
    ULM_ASSERT_TEXT(chunkBytes == static_cast<int64_t>(static_cast<uint32_t>(chunkBytes)),
                    "chunkSize == bigChunkSize");
    bool mapped = false;
    ULMSyncEvent last(kULMOK);
    ULMStatus status = kULMOK;
    StartedWork started;
    for (int z = whole.ZOrigin(); z < whole.ZOrigin() + whole.ZSize() && status == kULMOK; z += slices) {
        const ULMVolumeRange chunk(whole.XSize(), whole.YSize(), std::min(slices, whole.ZOrigin() + whole.ZSize() - z),
                                   whole.XOrigin(), whole.YOrigin(), z);
        if (mapped) {
            status = last.Wait(-1);
            UnmapVolume();
            mapped = false;
            if (ULMFailed(status)) break;
        }
        void* data = nullptr;
        unsigned rowLength = 0, rows = 0;
        if (MapSubVolume(kULMAccessReadShared, chunk, data, rowLength, rows, kULMUseSource) == kULMOK) {
            mapped = true;
            last = StartUpdateAlways(data, &chunk, nullptr, static_cast<int>(rowLength), static_cast<int>(rows));
        } else {
            last = StartUpdate(this, chunk, chunk.XOrigin(), chunk.YOrigin(), chunk.ZOrigin(), kULMUseSource);
        }
        status = started.Add(last);
    }
    // Every chunk's loads are waited for: a chunk that failed on a board
    // fails the lock even when a later one there succeeded.
    const ULMStatus waited = started.Finish(status).Wait(-1);
    if (mapped) UnmapVolume();
    return ULMFailed(status) ? status : ULMFailed(waited) ? waited : kULMOK;
}

void ULMMultiboardVolumePhase2::UndoLock(ULMTarget inTarget) {
    while (m_mapped && UnmapVolume() == kULMOK) {
    }
    m_target = inTarget;
    for (int i = 0; i < m_numSubVolumes; ++i) {
        SubvolumeInfo& brick = m_subvolume[i];
        if (brick->IsLocked()) brick->UnlockVolume(0);
        brick.m_locked = 0;
    }
}

bool ULMMultiboardVolumePhase2::IsLocked() const {
    ULMRecursiveLock hold(m_lock);
    return m_locked != 0;
}

// Every brick is unlocked even when one refuses, so that no board keeps a
// buffer of a volume that counts as unlocked; the first refusal is told.
ULMStatus ULMMultiboardVolumePhase2::UnlockVolume(int inUnload) {
    ULMRecursiveLock hold(m_lock);
    if (!m_locked || m_mapped) return kULMErrVolume;
    ULM_ASSERT(m_baseVolume != nullptr);
    // The bricks' voxels, each from the brick that owns it, go back into the
    // application's a chunk of whole slices at a time; when that fails the
    // volume stays locked, bricks and all, as a plain volume does.
    if (inUnload != 0 && m_volumeSource->HasData() && !m_baseVolume->IsReadOnly()) {
        const ULMVolumeRange whole = m_baseVolume->GetRange();
        const int64_t voxelBytes = m_voxelSize / 8;
        const int slices = ULMSlicesPerChunk(whole, voxelBytes, kLoadChunkBytes);
        const std::unique_ptr<char[]> chunkVoxels(
            new (std::nothrow) char[static_cast<size_t>(ULMSliceBytes(whole, voxelBytes) * slices)]);
        if (chunkVoxels == nullptr) return kULMErrAlloc;
        const int end = whole.ZOrigin() + whole.ZSize();
        for (int z = whole.ZOrigin(); z < end; z += slices) {
            const ULMVolumeRange chunk(whole.XSize(), whole.YSize(), std::min(slices, end - z), whole.XOrigin(),
                                       whole.YOrigin(), z);
            ULMStatus status = StartUnloadBricks(chunkVoxels.get(), chunk, nullptr).Wait(-1);
            if (status == kULMOK)
                status = StartUpdateTo(kULMSource, chunkVoxels.get(), &chunk, nullptr, chunk.XSize(), chunk.YSize())
                             .Wait(-1);
            if (status != kULMOK) return status;
        }
    }
    ULMStatus first = kULMOK;
    for (int i = 0; i < m_numSubVolumes; ++i) {
        SubvolumeInfo& brick = m_subvolume[i];
        const ULMStatus status = brick->UnlockVolume(0);
        if (ULMFailed(status) && !ULMFailed(first)) first = status;
        brick.m_locked = 0;
    }
    m_locked = 0;
    m_bufferValid = 0;
    m_target = kULMSource;
    return first;
}

// ---- Updates from memory ----

ULMStatus ULMMultiboardVolumePhase2::Update(const void* inVoxels, const ULMVolumeRange& inDestinationRange) {
    return StartUpdate(inVoxels, inDestinationRange).Wait(-1);
}

ULMStatus ULMMultiboardVolumePhase2::UpdateField(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                                                 const ULMFieldDescriptor& inDestinationField) {
    return StartUpdateField(inVoxels, inVolumeRange, inDestinationField).Wait(-1);
}

ULMSyncEvent ULMMultiboardVolumePhase2::StartUpdate(const void* inVoxels, const ULMVolumeRange& inDestinationRange) {
    return StartUpdateAlways(inVoxels, &inDestinationRange, nullptr, inDestinationRange.XSize(),
                             inDestinationRange.YSize());
}

ULMSyncEvent ULMMultiboardVolumePhase2::StartUpdateField(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                                                         const ULMFieldDescriptor& inDestinationField) {
    return StartUpdateAlways(inVoxels, &inVolumeRange, &inDestinationField, inVolumeRange.XSize(),
                             inVolumeRange.YSize());
}

ULMSyncEvent ULMMultiboardVolumePhase2::StartUpdateAlways(const void* inData, const ULMVolumeRange* inDestinationRange,
                                                          const ULMFieldDescriptor* inField, int inStrideX,
                                                          int inStrideY) {
    ULMRecursiveLock hold(m_lock);
    return StartUpdateTo(m_target, inData, inDestinationRange, inField, inStrideX, inStrideY);
}

ULMSyncEvent ULMMultiboardVolumePhase2::StartUpdateTo(ULMTarget inTarget, const void* inData,
                                                      const ULMVolumeRange* inDestinationRange,
                                                      const ULMFieldDescriptor* inField, int inStrideX,
                                                      int inStrideY) {
    if (inDestinationRange == nullptr || inData == nullptr) return Finished(kULMErrArgument);
    const ULMVolumeRange& range = *inDestinationRange;
    if (HasNegativeSize(range)) return Finished(kULMErrArgument);
    // A field the boards cannot take is refused before any brick is written.
    if (inField != nullptr && !IsValidFieldDescriptorDMA(*inField, m_voxelSize)) return Finished(kULMErrFormat);
    if (range.IsEmpty()) {
        AdvanceVolume();
        return Finished(kULMOK);
    }
    if (!IsInsideVolume(m_baseVolume->GetRange(), range) || inStrideX < range.XSize() || inStrideY < range.YSize())
        return Finished(kULMErrArgument);
    AdvanceVolume();
    const bool wholeVoxel = inField == nullptr || inField->m_size == m_voxelSize;
    if (inTarget == kULMSource) {
        // The base volume takes packed voxels only.
        if (inStrideX != range.XSize() || inStrideY != range.YSize()) return Finished(kULMErrArgument);
        return wholeVoxel ? m_baseVolume->StartUpdate(inData, range)
                          : m_baseVolume->StartUpdateField(inData, range, *inField);
    }
    const int64_t elementBytes = (wholeVoxel ? m_voxelSize : inField->m_size) / 8;
    const char* data = static_cast<const char*>(inData);
    StartedWork started;
    ULMStatus status = kULMOK;
    for (int i = 0; i < m_numSubVolumes && !ULMFailed(status); ++i) {
        ULMVolume* brick = m_subvolume[i].GetVolume();
        const ULMVolumeRange part = ULMVolumeRange::Intersect(range, m_subvolume[i].m_loadRange);
        if (part.IsEmpty()) continue;
        status = ForEachPiece(range, part, inStrideX, inStrideY, elementBytes,
                              [&](const ULMVolumeRange& inPiece, int64_t inOffset) {
                                  const void* at = data + inOffset;
                                  return started.Add(wholeVoxel ? brick->StartUpdate(at, inPiece)
                                                                : brick->StartUpdateField(at, inPiece, *inField));
                              });
    }
    return started.Finish(status);
}

// ---- Copies from a volume ----

ULMStatus ULMMultiboardVolumePhase2::Update(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange,
                                            int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource) {
    return StartUpdate(inVolume, inDestinationRange, inSourceX, inSourceY, inSourceZ, inSource).Wait(-1);
}

ULMSyncEvent ULMMultiboardVolumePhase2::StartUpdate(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange,
                                                    int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource) {
    // Both volumes' locks, this one's among them, in the one order: the
    // bricks read the other volume under them.
    const ULMBufferLockPair hold(*this, inVolume);
    return StartCopyFromVolume(inVolume, inDestinationRange, inSourceX, inSourceY, inSourceZ, inSource);
}

ULMSyncEvent ULMMultiboardVolumePhase2::StartCopyFromVolume(const ULMVolume* inVolume, const ULMVolumeRange& inRange,
                                                            int inSourceX, int inSourceY, int inSourceZ,
                                                            ULMSource inSource) {
    if (inVolume == nullptr || HasNegativeSize(inRange)) return Finished(kULMErrArgument);
    if (inRange.IsEmpty()) return Finished(kULMOK);
    const ULMVolumeRange sourceBox(inRange.XSize(), inRange.YSize(), inRange.ZSize(), inSourceX, inSourceY,
                                   inSourceZ);
    if (!IsInsideVolume(m_baseVolume->GetRange(), inRange) || inVolume->GetVoxelSize() != m_voxelSize ||
        !IsInsideVolume(inVolume->GetRange(), sourceBox) ||
        (inSource != kULMUseTarget && inSource != kULMUseSource && inSource != kULMUseBuffer))
        return Finished(kULMErrArgument);
    if (inSource == kULMUseTarget) inSource = inVolume->GetTarget() == kULMBuffer ? kULMUseBuffer : kULMUseSource;
    const bool itself = inVolume == this;
    const bool reloadsItself =
        itself && inSource == kULMUseSource && m_target == kULMBuffer && sourceBox == inRange;
    if (m_baseVolume->IsReadOnly() && !reloadsItself) return Finished(kULMErrReadOnly);
    AdvanceVolume();
    if (m_target == kULMSource)
        return m_baseVolume->StartUpdate(itself ? m_baseVolume : inVolume, inRange, inSourceX, inSourceY, inSourceZ,
                                         inSource);
    if (itself && inSource == kULMUseBuffer) {
        // Between places of this volume: read from the owners first, then
        // written to every brick, so that no brick reads a voxel that the
        // same copy has already overwritten in another.
        return Finished(CopyBetweenBricks(sourceBox, inRange));
    }
    const ULMVolume* source = itself ? m_baseVolume : inVolume;
    StartedWork started;
    ULMStatus status = kULMOK;
    for (int i = 0; i < m_numSubVolumes && !ULMFailed(status); ++i) {
        const ULMVolumeRange part = ULMVolumeRange::Intersect(inRange, m_subvolume[i].m_loadRange);
        if (part.IsEmpty()) continue;
        status = started.Add(m_subvolume[i]->StartUpdate(source, part, inSourceX + part.XOrigin() - inRange.XOrigin(),
                                                         inSourceY + part.YOrigin() - inRange.YOrigin(),
                                                         inSourceZ + part.ZOrigin() - inRange.ZOrigin(), inSource));
    }
    return started.Finish(status);
}

ULMStatus ULMMultiboardVolumePhase2::CopyBetweenBricks(const ULMVolumeRange& inFrom, const ULMVolumeRange& inTo) {
    int64_t bytes = 0;
    if (!BoxBytes(inTo, m_voxelSize / 8, bytes)) return kULMErrArgument;
    std::unique_ptr<char[]> copy(new (std::nothrow) char[static_cast<size_t>(bytes)]);
    if (copy == nullptr) return kULMErrAlloc;
    ULMStatus status = StartUnloadBricks(copy.get(), inFrom, nullptr).Wait(-1);
    if (status == kULMOK)
        status = StartUpdateTo(kULMBuffer, copy.get(), &inTo, nullptr, inTo.XSize(), inTo.YSize()).Wait(-1);
    return status;
}

ULMStatus ULMMultiboardVolumePhase2::CopyOverlapsFromOwners(const ULMVolumeRange& inRange) {
    ULMRecursiveLock hold(m_lock);
    return CopyBetweenBricks(inRange, inRange);
}

// ---- Unloads ----

ULMStatus ULMMultiboardVolumePhase2::Unload(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                            ULMSource inSource) const {
    return StartUnload(outVoxels, inVolumeRange, inSource).Wait(-1);
}

ULMStatus ULMMultiboardVolumePhase2::UnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                                 const ULMFieldDescriptor& inField, ULMSource inSource) const {
    return StartUnloadField(outVoxels, inVolumeRange, inField, inSource).Wait(-1);
}

ULMSyncEvent ULMMultiboardVolumePhase2::StartUnload(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                                    ULMSource inSource) const {
    ULM_ASSERT(m_baseVolume != nullptr);
    ULMRecursiveLock hold(m_lock);
    if (ResolveSource(inSource) == kULMUseSource || ReadsTheSource())
        return m_baseVolume->StartUnload(outVoxels, inVolumeRange, kULMUseSource);
    if (!BricksInStep(inVolumeRange)) return Finished(kULMErrVolume);
    return StartUnloadBricks(outVoxels, inVolumeRange, nullptr);
}

ULMSyncEvent ULMMultiboardVolumePhase2::StartUnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                                         const ULMFieldDescriptor& inField,
                                                         ULMSource inSource) const {
    ULM_ASSERT(m_baseVolume != nullptr);
    ULMRecursiveLock hold(m_lock);
    if (ResolveSource(inSource) == kULMUseSource || ReadsTheSource())
        return m_baseVolume->StartUnloadField(outVoxels, inVolumeRange, inField, kULMUseSource);
    if (!IsValidFieldDescriptorDMA(inField, m_voxelSize)) return Finished(kULMErrFormat);
    if (!BricksInStep(inVolumeRange)) return Finished(kULMErrVolume);
    return StartUnloadBricks(outVoxels, inVolumeRange, &inField);
}

// Unlocked with the source as its target, the volume's voxels are the
// source's: a brick's buffer may hold older ones, or none.
bool ULMMultiboardVolumePhase2::ReadsTheSource() const {
    return !m_locked && m_target == kULMSource && m_volumeSource->HasData();
}

// Locked, each brick that owns voxels of inRange must still hold what the
// volume's lock and updates put there: one locked or unlocked on its own
// holds other voxels, and no other brick has them.
bool ULMMultiboardVolumePhase2::BricksInStep(const ULMVolumeRange& inRange) const {
    for (int i = 0; i < m_numSubVolumes && m_locked; ++i) {
        const SubvolumeInfo& brick = m_subvolume[i];
        const bool inStep = brick.m_locked != 0 && brick->IsLocked() && brick->GetBufferID() == brick.m_bufferID;
        if (!inStep && !ULMVolumeRange::Intersect(inRange, brick.m_unloadRange).IsEmpty()) return false;
    }
    return true;
}

ULMSyncEvent ULMMultiboardVolumePhase2::StartUnloadBricks(void* outVoxels, const ULMVolumeRange& inRange,
                                                          const ULMFieldDescriptor* inField) const {
    if (HasNegativeSize(inRange)) return Finished(kULMErrArgument);
    if (inRange.IsEmpty()) return Finished(kULMOK);
    if (outVoxels == nullptr || !IsInsideVolume(m_baseVolume->GetRange(), inRange)) return Finished(kULMErrArgument);
    const bool wholeVoxel = inField == nullptr || inField->m_size == m_voxelSize;
    const int64_t elementBytes = (wholeVoxel ? m_voxelSize : inField->m_size) / 8;
    char* data = static_cast<char*>(outVoxels);
    StartedWork started;
    ULMStatus status = kULMOK;
    for (int i = 0; i < m_numSubVolumes && !ULMFailed(status); ++i) {
        ULMVolume* brick = m_subvolume[i].GetVolume();
        // Each voxel from the one brick that owns it.
        const ULMVolumeRange part = ULMVolumeRange::Intersect(inRange, m_subvolume[i].m_unloadRange);
        if (part.IsEmpty()) continue;
        status = ForEachPiece(inRange, part, inRange.XSize(), inRange.YSize(), elementBytes,
                              [&](const ULMVolumeRange& inPiece, int64_t inOffset) {
                                  void* at = data + inOffset;
                                  return started.Add(
                                      wholeVoxel ? brick->StartUnload(at, inPiece, kULMUseBuffer)
                                                 : brick->StartUnloadField(at, inPiece, *inField, kULMUseBuffer));
                              });
    }
    return started.Finish(status);
}

// ---- Maps ----

ULMStatus ULMMultiboardVolumePhase2::MapVolume(ULMAccessType inAccess, unsigned char*& outBaseAddress,
                                               unsigned& outSx, unsigned& outSy, ULMSource inSource) {
    return MapSubVolume(inAccess, GetRange(), outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMMultiboardVolumePhase2::MapVolume(ULMAccessType inAccess, unsigned short*& outBaseAddress,
                                               unsigned& outSx, unsigned& outSy, ULMSource inSource) {
    return MapSubVolume(inAccess, GetRange(), outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMMultiboardVolumePhase2::MapVolume(ULMAccessType inAccess, unsigned int*& outBaseAddress,
                                               unsigned& outSx, unsigned& outSy, ULMSource inSource) {
    return MapSubVolume(inAccess, GetRange(), outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMMultiboardVolumePhase2::MapVolume(ULMAccessType inAccess, void*& outBaseAddress, unsigned& outSx,
                                               unsigned& outSy, ULMSource inSource) {
    return MapSubVolume(inAccess, GetRange(), outBaseAddress, outSx, outSy, inSource);
}

namespace {

template <typename T>
ULMStatus MapTyped(ULMVolume& ioVolume, int inBits, ULMAccessType inAccess, const ULMVolumeRange& inRange,
                   T*& outBaseAddress, unsigned& outSx, unsigned& outSy, ULMSource inSource) {
    if (ioVolume.GetVoxelSize() != inBits) return kULMErrArgument;
    void* address = nullptr;
    const ULMStatus status = ioVolume.MapSubVolume(inAccess, inRange, address, outSx, outSy, inSource);
    outBaseAddress = static_cast<T*>(address);
    return status;
}

}  // namespace

ULMStatus ULMMultiboardVolumePhase2::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                                  unsigned char*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                                  ULMSource inSource) {
    return MapTyped(*this, 8, inAccess, inVolumeRange, outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMMultiboardVolumePhase2::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                                  unsigned short*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                                  ULMSource inSource) {
    return MapTyped(*this, 16, inAccess, inVolumeRange, outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMMultiboardVolumePhase2::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                                  unsigned int*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                                  ULMSource inSource) {
    return MapTyped(*this, 32, inAccess, inVolumeRange, outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMMultiboardVolumePhase2::MapSubVolume(ULMAccessType inAccess, unsigned inAtX, unsigned inAtY,
                                                  unsigned inAtZ, unsigned inNx, unsigned inNy, unsigned inNz,
                                                  void*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                                  ULMSource inSource) {
    const ULMVolumeRange range(static_cast<int>(inNx), static_cast<int>(inNy), static_cast<int>(inNz),
                               static_cast<int>(inAtX), static_cast<int>(inAtY), static_cast<int>(inAtZ));
    return MapSubVolume(inAccess, range, outBaseAddress, outSx, outSy, inSource);
}

// The map state is looked at before anything of it changes: a second map
// of another kind, or a second host copy, is refused and the open map keeps
// its write-back.
ULMStatus ULMMultiboardVolumePhase2::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                                  void*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                                  ULMSource inSource) {
    ULM_ASSERT(m_baseVolume != nullptr);
    ULMRecursiveLock hold(m_lock);
    outBaseAddress = nullptr;
    const ULMSource source = ResolveSource(inSource);
    const MapType type =
        source == kULMUseSource ? eSimpleMap : gULMControl.m_simulateMap ? eSimulatedMap : eNotImplementedMap;
    if (type == eNotImplementedMap) return kULMErrUnimplemented;
    if (m_mapped && (type != m_mapType || type == eSimulatedMap)) return kULMErrTooMany;
    if (type == eSimpleMap) {
        const ULMStatus status =
            m_baseVolume->MapSubVolume(inAccess, inVolumeRange, outBaseAddress, outSx, outSy, kULMUseSource);
        if (status != kULMOK) return status;
        m_mapType = eSimpleMap;
        m_mappedSource = source;
        ++m_numberMappedVolumes;
        m_mapped = 1;
        return kULMOK;
    }
    if (inVolumeRange.XSize() < 1 || inVolumeRange.YSize() < 1 || inVolumeRange.ZSize() < 1 ||
        inAccess < kULMAccessReadExclusive || inAccess > kULMAccessWriteOnlyExclusive ||
        (inSource != kULMUseTarget && inSource != kULMUseSource && inSource != kULMUseBuffer))
        return kULMErrArgument;
    if (!IsReadAccess(inAccess) && m_baseVolume->IsReadOnly()) return kULMErrReadOnly;
    int64_t bytes = 0;
    if (!BoxBytes(inVolumeRange, m_voxelSize / 8, bytes)) return kULMErrArgument;
    std::unique_ptr<char[]> copy(new (std::nothrow) char[static_cast<size_t>(bytes)]);
    if (copy == nullptr) return kULMErrAlloc;
    const ULMStatus unloaded = Unload(copy.get(), inVolumeRange, source);
    if (unloaded != kULMOK) return unloaded;
    m_mapType = eSimulatedMap;
    m_mappedSource = source;
    m_mappedVolumeRange = inVolumeRange;
    m_mappedAccess = inAccess;
    m_tmpBuff = std::move(copy);
    ++m_numberMappedVolumes;
    m_mapped = 1;
    outBaseAddress = m_tmpBuff.get();
    outSx = static_cast<unsigned>(inVolumeRange.XSize());
    outSy = static_cast<unsigned>(inVolumeRange.YSize());
    return kULMOK;
}

ULMStatus ULMMultiboardVolumePhase2::UnmapVolume() {
    ULMRecursiveLock hold(m_lock);
    if (!m_mapped) return kULMErrVolume;
    if (--m_numberMappedVolumes <= 0) m_numberMappedVolumes = 0, m_mapped = 0;
    if (m_mapType == eSimpleMap) return m_baseVolume->UnmapVolume();
    // The host copy goes back where it was read from.
    ULMStatus status = kULMOK;
    if (!IsReadAccess(m_mappedAccess))
        status = StartUpdateTo(m_mappedSource == kULMUseBuffer ? kULMBuffer : kULMSource, m_tmpBuff.get(),
                               &m_mappedVolumeRange, nullptr, m_mappedVolumeRange.XSize(),
                               m_mappedVolumeRange.YSize())
                     .Wait(-1);
    m_tmpBuff.reset();
    return status;
}

}  // namespace ulm3
