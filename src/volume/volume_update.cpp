// Writing voxels into a volume and reading them back: from host memory, from
// another volume, one field at a time, and the legacy UpdateVolume. Where
// they go follows the volume's target: the source while unlocked, the board
// buffer while locked.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "board/board_range.h"
#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "foundation/control.h"
#include "foundation/field_conversions.h"
#include "foundation/shareable.h"
#include "volume/buffer_lock_pair.h"
#include "volume/sub_volume.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

// Holds one access of a volume for the length of a call.
class AccessHold {
public:
    AccessHold(ULMAccessInternal& inAccess, ULMAccessType inType)
        : m_access(inAccess), m_status(inAccess.AddAccess(inType)) {}
    ~AccessHold() {
        if (m_status == kULMOK) m_access.ReleaseAccess();
    }
    AccessHold(const AccessHold&) = delete;
    AccessHold& operator=(const AccessHold&) = delete;
    ULMStatus Status() const { return m_status; }

private:
    ULMAccessInternal& m_access;
    ULMStatus m_status;
};

// Runs a start so that a status thrown deep inside, or exhausted memory,
// comes back as a finished event.
template <typename Start>
ULMSyncEvent Guarded(Start start) {
    try {
        return start();
    } catch (ULMStatus status) {
        return ULMSyncEvent(status);
    } catch (const std::bad_alloc&) {
        return ULMSyncEvent(kULMErrAlloc);
    }
}

ULMSyncEvent Finished(ULMStatus inStatus) { return ULMSyncEvent(inStatus); }

bool ValidSource(ULMSource inSource) {
    return inSource == kULMUseTarget || inSource == kULMUseSource || inSource == kULMUseBuffer;
}

ULMVolumeRange Slices(const ULMVolumeRange& inRange, int inFirst, int inCount) {
    return ULMVolumeRange(inRange.XSize(), inRange.YSize(), inCount, inRange.XOrigin(), inRange.YOrigin(),
                          inRange.ZOrigin() + inFirst);
}

}  // namespace

void ULMVolumeInternal::NoteBufferWrite(const ULMVolumeRange& inRange) {
    m_boardCopy.NoteWrite(inRange);
    IncSerial();
}

// ---- From host memory ----

ULMStatus ULMVolumeInternal::Update(const void* inVoxels, const ULMVolumeRange& inDestinationRange) {
    return StartUpdate(inVoxels, inDestinationRange).Wait(-1);
}

ULMSyncEvent ULMVolumeInternal::StartUpdate(const void* inVoxels, const ULMVolumeRange& inDestinationRange) {
    // An empty range is done before anything else is looked at: callers
    // pass one with no voxels at all. A negative size is refused, as an
    // unload refuses it.
    if (HasNegativeSize(inDestinationRange)) return Finished(kULMErrArgument);
    if (inDestinationRange.IsEmpty()) return Finished(kULMOK);
    if (!IsInsideVolume(m_wholeVolume, inDestinationRange) || inVoxels == nullptr)
        return Finished(kULMErrArgument);
    if (m_readOnly) return Finished(kULMErrReadOnly);
    return Guarded([&] {
        // Unloads, maps and renders touch the buffer and the YZ cache under
        // the buffer lock too.
        ULMRecursiveLock bufferHold(m_boardCopy.Lock());
        AccessHold hold(*this, kULMAccessWrite);
        if (hold.Status() != kULMOK) return Finished(hold.Status());
        return StartUpdateInternal(inVoxels, inDestinationRange, 0, 0);
    });
}

ULMSyncEvent ULMVolumeInternal::StartUpdateInternal(const void* inVoxels, const ULMVolumeRange& inRange,
                                                    int inAllocatedSizeX, int inAllocatedSizeY) {
    const int rowLength = inAllocatedSizeX != 0 ? inAllocatedSizeX : inRange.XSize();
    const int rowsPerSlice = inAllocatedSizeY != 0 ? inAllocatedSizeY : inRange.YSize();
    if (m_target == kULMSource) {
        if (!m_hasData) return Finished(kULMErrVolume);
        const int64_t row = int64_t{rowLength} * m_voxelSizeBytes;
        const int64_t slice = row * rowsPerSlice;
        const char* voxels = static_cast<const char*>(inVoxels);
        ULMStatus status = kULMOK;
        if (rowLength != inRange.XSize()) {
            for (int z = 0; z < inRange.ZSize() && status == kULMOK; ++z)
                for (int y = 0; y < inRange.YSize() && status == kULMOK; ++y)
                    status = m_volumeSource->UpdateVoxels(
                        ULMVolumeRange(inRange.XSize(), 1, 1, inRange.XOrigin(), inRange.YOrigin() + y,
                                       inRange.ZOrigin() + z),
                        voxels + z * slice + y * row);
        } else if (rowsPerSlice != inRange.YSize()) {
            for (int z = 0; z < inRange.ZSize() && status == kULMOK; ++z)
                status = m_volumeSource->UpdateVoxels(Slices(inRange, z, 1), voxels + z * slice);
        } else {
            status = m_volumeSource->UpdateVoxels(inRange, voxels);
        }
        if (status == kULMOK) IncSerial();
        return Finished(status);
    }

    if (m_boardCopy.Buffer() == nullptr) return Finished(kULMErrVolume);
    if (rowLength == 1 && rowsPerSlice == inRange.YSize() && m_boardCopy.ServesYZSlice(inRange)) {
        const ULMSyncEvent slice = UpdateOptimizedYZSlice(inVoxels, inRange);
        if (!ULMFailed(slice.Status())) {
            IncSerial();
            return slice;
        }
    }
    const ULMSyncEvent event = m_boardCopy.StartWrite(inVoxels, inRange, rowLength, rowsPerSlice);
    if (!ULMFailed(event.Status())) IncSerial();
    return event;
}

ULMSyncEvent ULMVolumeInternal::UpdateOptimizedYZSlice(const void* inVoxels, const ULMVolumeRange& inVolumeRange) {
    // The caller's plain write would keep the fill's read out; it is shared
    // for the rest of the update, in place, so that no reader comes between.
    if (GetAccessMode() == kULMAccessWriteExclusive) {
        const ULMStatus shared = ShareExclusiveWrite();
        if (shared != kULMOK) return ULMSyncEvent(shared);
    }
    return m_boardCopy.StartWriteYZSlice(inVoxels, inVolumeRange);
}

// ---- From another volume ----

ULMStatus ULMVolumeInternal::Update(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange,
                                    int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource) {
    return StartUpdate(inVolume, inDestinationRange, inSourceX, inSourceY, inSourceZ, inSource).Wait(-1);
}

ULMSyncEvent ULMVolumeInternal::StartUpdate(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange,
                                            int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource) {
    if (HasNegativeSize(inDestinationRange)) return Finished(kULMErrArgument);
    if (inDestinationRange.IsEmpty()) return Finished(kULMOK);
    if (!IsInsideVolume(m_wholeVolume, inDestinationRange) || inVolume == nullptr || !ValidSource(inSource))
        return Finished(kULMErrArgument);
    if (inVolume->GetVoxelSize() != GetVoxelSize()) return Finished(kULMErrArgument);
    // Both volumes' buffers are read or written: their locks are taken
    // together, so that two threads copying each into the other cannot wait
    // on each other.
    return Guarded([&] {
        const ULMBufferLockPair bufferHold(*this, inVolume);
        const bool reloadsItself = inVolume == this && inSource == kULMUseSource && m_target == kULMBuffer &&
                                   inSourceX == inDestinationRange.XOrigin() &&
                                   inSourceY == inDestinationRange.YOrigin() &&
                                   inSourceZ == inDestinationRange.ZOrigin();
        if (!reloadsItself) {
            if (m_readOnly) return Finished(kULMErrReadOnly);
            if (const ULMStatus granted = ProbeWriteAccess(); granted != kULMOK) return Finished(granted);
        }
        // Held through the whole copy, shared so that a map of this very
        // volume and the passes of the YZ-slice cache can join it.
        AccessHold hold(*this, kULMAccessWriteShared);
        if (hold.Status() != kULMOK) return Finished(hold.Status());
        if (reloadsItself) return StartReload(inDestinationRange);
        return CopyFromVolume(inVolume, inDestinationRange, inSourceX, inSourceY, inSourceZ, inSource);
    });
}

ULMSyncEvent ULMVolumeInternal::StartReloadFromSource(const ULMVolumeRange& inRange) {
    if (HasNegativeSize(inRange) || !IsInsideVolume(m_wholeVolume, inRange)) return Finished(kULMErrArgument);
    if (inRange.IsEmpty()) return Finished(kULMOK);
    return Guarded([&] {
        ULMRecursiveLock bufferHold(m_boardCopy.Lock());
        AccessHold hold(*this, kULMAccessWriteShared);
        if (hold.Status() != kULMOK) return Finished(hold.Status());
        return StartReload(inRange);
    });
}

// The source's voxels are the volume's own: the buffer holding them again
// is a load, not a write, and what the buffer held counts as loaded still.
ULMSyncEvent ULMVolumeInternal::StartReload(const ULMVolumeRange& inRange) {
    if (!m_hasData) return Finished(kULMErrVolume);
    const ULMSyncEvent event = m_boardCopy.StartReload(inRange);
    if (!ULMFailed(event.Status())) IncSerial();
    return event;
}

ULMStatus ULMVolumeInternal::ProbeWriteAccess() {
    const ULMStatus granted = AddAccess(kULMAccessWrite);
    if (granted == kULMOK) ReleaseAccess();
    return granted;
}

ULMSyncEvent ULMVolumeInternal::CopyFromVolume(const ULMVolume* inVolume, const ULMVolumeRange& inRange,
                                               int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource) {
    const ULMVolumeRange sourceBox(inRange.XSize(), inRange.YSize(), inRange.ZSize(), inSourceX, inSourceY,
                                   inSourceZ);
    if (inSource == kULMUseTarget) inSource = inVolume->GetTarget() == kULMBuffer ? kULMUseBuffer : kULMUseSource;

    // A box copied onto an overlapping place of the same volume would read
    // voxels it has already overwritten: it goes through host memory whole.
    ULMVolumeRange overlap = sourceBox;
    overlap.Intersect(inRange);
    if (inVolume == this && !overlap.IsEmpty() && !(sourceBox == inRange)) {
        int64_t bytes = 0;
        if (!BoxBytes(inRange, m_voxelSizeBytes, bytes)) return Finished(kULMErrArgument);
        std::unique_ptr<char[]> copy(new (std::nothrow) char[static_cast<size_t>(bytes)]);
        if (copy == nullptr) return Finished(kULMErrAlloc);
        ULMStatus status = Unload(copy.get(), sourceBox, inSource);
        if (status == kULMOK) status = StartUpdateInternal(copy.get(), inRange, 0, 0).Wait(-1);
        return Finished(status);
    }

    // Into the buffer in chunks: a box it cannot take is refused before
    // the first chunk is written.
    if (m_target != kULMSource && m_boardCopy.Buffer() != nullptr && !m_boardCopy.Takes(inRange))
        return Finished(kULMErrArgument);
    if (m_target == kULMBuffer && inSource == kULMUseBuffer) {
        bool tried = false;
        const ULMSyncEvent copied = CopyBoardBuffer(inVolume, inRange, sourceBox, tried);
        if (tried) return copied;
    } else if (inSource == kULMUseSource) {
        ULMVolume* other = const_cast<ULMVolume*>(inVolume);
        const ULMAccessType access =
            inVolume == this && m_target == kULMSource ? kULMAccessWriteShared : kULMAccessReadShared;
        void* mapped = nullptr;
        unsigned row = 0, rows = 0;
        if (other->MapSubVolume(access, sourceBox, mapped, row, rows, kULMUseSource) == kULMOK) {
            const ULMStatus status =
                StartUpdateInternal(mapped, inRange, static_cast<int>(row), static_cast<int>(rows)).Wait(-1);
            other->UnmapVolume();
            if (status == kULMOK) return Finished(status);
        }
    }
    if (m_target != kULMSource)
        return StartUpdateVolumeBuffer(inVolume, inRange, inSourceX, inSourceY, inSourceZ, inSource);
    if (!m_hasData) return Finished(kULMErrVolume);
    return StartUpdateVolumeSource(inVolume, inRange, inSourceX, inSourceY, inSourceZ, inSource);
}

// Board to board (ULMVolumeBoardCopy::StartCopyFrom).
ULMSyncEvent ULMVolumeInternal::CopyBoardBuffer(const ULMVolume* inVolume, const ULMVolumeRange& inRange,
                                                const ULMVolumeRange& inSourceBox, bool& outTried) {
    const ULMSyncEvent event = m_boardCopy.StartCopyFrom(inVolume, inRange, inSourceBox, outTried);
    if (outTried && !ULMFailed(event.Status())) IncSerial();
    return event;
}
ULMSyncEvent ULMVolumeInternal::StartUpdateVolumeBuffer(const ULMVolume* inVolume,
                                                        const ULMVolumeRange& inDestinationRange, int inSourceX,
                                                        int inSourceY, int inSourceZ, ULMSource inSource) {
    return ChunkedVolumeCopy(inVolume, inDestinationRange, inSourceX, inSourceY, inSourceZ, inSource, true);
}

ULMSyncEvent ULMVolumeInternal::StartUpdateVolumeSource(const ULMVolume* inVolume,
                                                        const ULMVolumeRange& inDestinationRange, int inSourceX,
                                                        int inSourceY, int inSourceZ, ULMSource inSource) {
    return ChunkedVolumeCopy(inVolume, inDestinationRange, inSourceX, inSourceY, inSourceZ, inSource, false);
}

// Each chunk is unloaded from the other volume and written here before the
// next one starts, so one chunk of host memory serves them all. It is the
// copy's own memory: the load methods may stage through the volume's.
ULMSyncEvent ULMVolumeInternal::ChunkedVolumeCopy(const ULMVolume* inVolume, const ULMVolumeRange& inRange,
                                                  int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource,
                                                  bool inIntoBuffer) {
    const int64_t sliceBytes = int64_t{inRange.XSize()} * inRange.YSize() * m_voxelSizeBytes;
    if (sliceBytes == 0 || inRange.ZSize() == 0) return Finished(kULMOK);
    int64_t limit = gULMControl.m_MaxUpdateSizeMemory;
    if (inSource == kULMUseSource) {
        const ULMVolumeInternal* plain = IsObjectType(inVolume, kObjectTypeULMVolumeInternal)
                                             ? static_cast<const ULMVolumeInternal*>(inVolume)
                                             : nullptr;
        limit = plain != nullptr && IsObjectType(plain->GetSource(), kObjectTypeULMVoxFileReader)
                    ? gULMControl.m_MaxUpdateSizeFile
                    : gULMControl.m_MaxUpdateSizeSource;
    }
    const int slices = sliceBytes * inRange.ZSize() <= limit
                           ? inRange.ZSize()
                           : static_cast<int>(std::max<int64_t>(1, limit / sliceBytes));
    std::unique_ptr<char[]> staging(new (std::nothrow) char[static_cast<size_t>(sliceBytes * slices)]);
    if (staging == nullptr) return Finished(kULMErrAlloc);
    ULMStatus status = kULMOK;
    for (int first = 0; first < inRange.ZSize() && status == kULMOK; first += slices) {
        const int count = std::min(slices, inRange.ZSize() - first);
        const ULMVolumeRange from(inRange.XSize(), inRange.YSize(), count, inSourceX, inSourceY, inSourceZ + first);
        const ULMVolumeRange to = Slices(inRange, first, count);
        status = inVolume->Unload(staging.get(), from, inSource);
        if (status != kULMOK) break;
        if (inIntoBuffer) {
            status = StartUpdateInternal(staging.get(), to, 0, 0).Wait(-1);
        } else {
            status = m_volumeSource->UpdateVoxels(to, staging.get());
        }
    }
    if (status == kULMOK && !inIntoBuffer) IncSerial();
    return Finished(status);
}

// ---- One field ----

ULMStatus ULMVolumeInternal::UpdateField(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                                         const ULMFieldDescriptor& inDestinationField) {
    return StartUpdateField(inVoxels, inVolumeRange, inDestinationField).Wait(-1);
}

ULMSyncEvent ULMVolumeInternal::StartUpdateField(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                                                 const ULMFieldDescriptor& inDestinationField) {
    if (inVolumeRange.IsReset()) return Finished(kULMOK);
    if (!IsInsideVolume(m_wholeVolume, inVolumeRange) || inVoxels == nullptr) return Finished(kULMErrArgument);
    if (!IsValidFieldDescriptorDMA(inDestinationField, GetVoxelSize())) return Finished(kULMErrFormat);
    if (m_readOnly) return Finished(kULMErrReadOnly);
    return Guarded([&] {
        ULMRecursiveLock bufferHold(m_boardCopy.Lock());
        AccessHold hold(*this, kULMAccessWrite);
        if (hold.Status() != kULMOK) return Finished(hold.Status());
        if (m_target == kULMSource && m_hasData) {
            const ULMStatus status = m_volumeSource->UpdateVoxelField(inVoxels, inVolumeRange, inDestinationField);
            if (status == kULMOK) IncSerial();
            return Finished(status);
        }
        if (m_target != kULMBuffer) return Finished(kULMErrVolume);
        const ULMSyncEvent event = m_boardCopy.StartWriteField(inVoxels, inVolumeRange, inDestinationField);
        if (!ULMFailed(event.Status())) IncSerial();
        return event;
    });
}

ULMStatus ULMVolumeInternal::UpdateVolume(unsigned int inFormat, const void* inVoxels, unsigned inTargetX,
                                          unsigned inTargetY, unsigned inTargetZ, unsigned inSizeX,
                                          unsigned inSizeY, unsigned inSizeZ, Layout inLayout) {
    const unsigned values[6] = {inTargetX, inTargetY, inTargetZ, inSizeX, inSizeY, inSizeZ};
    for (unsigned v : values)
        if (v > INT32_MAX) return kULMErrArgument;
    const ULMVolumeRange range(static_cast<int>(inSizeX), static_cast<int>(inSizeY), static_cast<int>(inSizeZ),
                               static_cast<int>(inTargetX), static_cast<int>(inTargetY),
                               static_cast<int>(inTargetZ));
    if (inFormat != m_format) {
        if (inFormat == kULMVoxelFormatUINT8 && m_voxelSizeBytes != 1) return kULMErrArgument;
        if ((inFormat == kULMVoxelFormatUINT12L || inFormat == kULMVoxelFormatUINT12U) && m_voxelSizeBytes != 2)
            return kULMErrArgument;
    }
    if (inLayout != kSliced || !IsInsideVolume(m_wholeVolume, range)) return kULMErrArgument;
    return Update(inVoxels, range);
}

// ---- Unloads ----

ULMStatus ULMVolumeInternal::Unload(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                    ULMSource inSource) const {
    return StartUnload(outVoxels, inVolumeRange, inSource).Wait(-1);
}

ULMStatus ULMVolumeInternal::UnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                         const ULMFieldDescriptor& inField, ULMSource inSource) const {
    return StartUnloadField(outVoxels, inVolumeRange, inField, inSource).Wait(-1);
}

ULMSyncEvent ULMVolumeInternal::StartUnload(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                            ULMSource inSource) const {
    if (outVoxels == nullptr || !IsInsideVolume(m_wholeVolume, inVolumeRange)) return Finished(kULMErrArgument);
    return Guarded([&] {
        // Unloads hold no access; the buffer stays until the unload is queued.
        // A lock or unlock in another thread moves the target, so it is read
        // under the same lock.
        ULMRecursiveLock hold(m_boardCopy.Lock());
        if (inSource == kULMUseTarget) inSource = m_target == kULMBuffer ? kULMUseBuffer : kULMUseSource;
        if (inSource == kULMUseSource)
            return Finished(m_hasData ? m_volumeSource->UnloadVoxels(outVoxels, inVolumeRange) : kULMErrVolume);
        if (inSource != kULMUseBuffer) return Finished(kULMErrArgument);
        // A read loads what the buffer lacks from the volume's own voxels,
        // as a render does: the volume's voxels stay what they are.
        return const_cast<ULMVolumeBoardCopy&>(m_boardCopy).StartRead(outVoxels, inVolumeRange);
    });
}

ULMSyncEvent ULMVolumeInternal::StartUnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                                 const ULMFieldDescriptor& inField, ULMSource inSource) const {
    if (outVoxels == nullptr || !IsInsideVolume(m_wholeVolume, inVolumeRange)) return Finished(kULMErrArgument);
    if (!IsValidFieldDescriptorDMA(inField, GetVoxelSize())) return Finished(kULMErrFormat);
    return Guarded([&] {
        ULMRecursiveLock hold(m_boardCopy.Lock());
        if (inSource == kULMUseTarget) inSource = m_target == kULMBuffer ? kULMUseBuffer : kULMUseSource;
        if (inSource == kULMUseSource)
            return Finished(m_hasData ? m_volumeSource->UnloadVoxelField(outVoxels, inVolumeRange, inField)
                                      : kULMErrVolume);
        if (inSource != kULMUseBuffer) return Finished(kULMErrArgument);
        return const_cast<ULMVolumeBoardCopy&>(m_boardCopy).StartReadField(outVoxels, inVolumeRange, inField);
    });
}

}  // namespace ulm3
