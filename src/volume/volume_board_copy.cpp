// A volume's board copy: how the buffer is made, kept, re-attached,
// readdressed and given up, made ready for a render, and how voxels move
// into and out of it.
#include "volume/volume_board_copy.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "board/board_range.h"
#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/message_log.h"
#include "foundation/shareable.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

constexpr int kAllPermissionBits = 15;

const KWBRange kNothingValid(0, 0, 0, -1, -1, -1);

}  // namespace

ULMVolumeBoardCopy::ULMVolumeBoardCopy(ULMVolumeInternal& inVolume) : m_volume(inVolume), m_yzCache(inVolume, *this) {}

ULMVolumeBoardCopy::~ULMVolumeBoardCopy() = default;

bool ULMVolumeBoardCopy::Addressable(const ULMVolumeRange& inRange) {
    for (int axis = 0; axis < 3; ++axis)
        if (inRange.m_origin[axis] % 2 != 0) return false;
    return ULMRange(inRange).IsValid();
}

int ULMVolumeBoardCopy::VoxelBytes() const { return m_volume.GetVoxelSize() / 8; }

unsigned long long ULMVolumeBoardCopy::ID() const { return m_buffer != nullptr ? m_id : kULMNoBuffer; }

ULMVolumeRange ULMVolumeBoardCopy::Range() const { return m_buffer != nullptr ? m_window : ULMVolumeRange(); }

bool ULMVolumeBoardCopy::HoldsTheHostData() const {
    return m_volume.HasData() && m_sourceSerial != 0 && m_sourceSerial == m_serial &&
           m_addressMode == kULMOffsetAddress;
}

// ---- Allocation ----

KWBBuffer* ULMVolumeBoardCopy::CreateOn(int inBoard, const ULMVolumeRange& inBox, ULMStatus& outStatus) {
    KWBBoard* board = KWBBoard::GetBoard(inBoard);
    if (board == nullptr) {
        outStatus = kULMErrHardware;
        return nullptr;
    }
    KWBBuffer* buffer = board->CreateBuffer(
        static_cast<uint32_t>(inBox.XSize()), static_cast<uint32_t>(inBox.YSize()),
        static_cast<uint32_t>(inBox.ZSize()), static_cast<uint32_t>(m_volume.GetVoxelSize()), outStatus);
    if (buffer != nullptr) {
        m_board = board;
        m_location = static_cast<ULMLocation>(inBoard);
    }
    return buffer;
}

ULMStatus ULMVolumeBoardCopy::Allocate(ULMLocation inLocation, const ULMVolumeRange& inSubVolume) {
    // Refused before anything is made: a box at an odd origin, or one whose
    // bounds the chip's 16-bit coordinates cannot hold.
    if (!Addressable(inSubVolume)) return kULMErrArgument;
    if (m_buffer == nullptr && m_id != 0) {
        if (Attach(m_id) != kULMOK) m_held.Clear();
    }
    if (m_buffer != nullptr) {
        const bool fits = inSubVolume.XSize() <= m_window.XSize() && inSubVolume.YSize() <= m_window.YSize() &&
                          inSubVolume.ZSize() <= m_window.ZSize();
        if (!fits || (inLocation != kULMAnyBoard && inLocation != m_location)) Release();
    }
    if (m_buffer != nullptr) {
        if (Relocate(kULMOffsetAddress, inSubVolume.XOrigin(), inSubVolume.YOrigin(), inSubVolume.ZOrigin(),
                     nullptr) == kULMOK)
            return kULMOK;
        Release();
    }
    m_serial = NextSerial(m_serial);
    ULMStatus status = kULMErrArgument;
    KWBBuffer* buffer = nullptr;
    const int boardCount = static_cast<int>(gULMControl.m_KWBBoardCount);
    if (inLocation != kULMAnyBoard) {
        if (inLocation < 0 || inLocation >= boardCount) return kULMErrArgument;
        buffer = CreateOn(inLocation, inSubVolume, status);
    } else {
        // Consecutive volumes spread over the boards; the turn is shared by
        // every thread, so it is read and moved under the global lock.
        int start = 0;
        {
            CriticalSectionHandler lock(gULMControl.m_globalCriticalSection);
            start = static_cast<int>(gULMControl.m_nextBoard);
        }
        int board = start;
        for (int tried = 0; tried < boardCount && buffer == nullptr; ++tried) {
            board = (start + tried) % boardCount;
            if (KWBBoard::GetBoard(board) == nullptr) continue;
            ULMStatus attempt = kULMErrArgument;
            buffer = CreateOn(board, inSubVolume, attempt);
            status = attempt;
        }
        if (boardCount > 0) {
            CriticalSectionHandler lock(gULMControl.m_globalCriticalSection);
            gULMControl.m_nextBoard = static_cast<unsigned>((board + 1) % boardCount);
        }
    }
    if (buffer == nullptr) return status;

    uint32_t sizes[3] = {};
    uint32_t elementBits = 0;
    buffer->GetSizes(sizes[0], sizes[1], sizes[2], elementBits);
    for (int axis = 0; axis < 3; ++axis) m_window.m_size[axis] = static_cast<int32_t>(sizes[axis]);
    ULM_ASSERT(m_window.XSize() >= inSubVolume.XSize());
    ULM_ASSERT(m_window.YSize() >= inSubVolume.YSize());
    ULM_ASSERT(m_window.ZSize() >= inSubVolume.ZSize());
    ULM_ASSERT(static_cast<int>(elementBits) == m_volume.GetVoxelSize());
    m_buffer = buffer;
    m_valid = true;
    status = buffer->SetOffsetOrWrap(false, inSubVolume.XOrigin(), inSubVolume.YOrigin(), inSubVolume.ZOrigin());
    if (status != kULMOK) {
        Release();
        return status;
    }
    m_held.Clear();
    m_sourceSerial = m_serial;
    m_id = buffer->GetID();
    for (int axis = 0; axis < 3; ++axis) m_window.m_origin[axis] = inSubVolume.m_origin[axis];
    m_addressMode = kULMOffsetAddress;
    if (m_permission != KWBBoard::GetBufferPermission(buffer)) SetPermission(m_permission);
    return kULMOK;
}

ULMStatus ULMVolumeBoardCopy::CreateLoaded(ULMLocation inLocation, const ULMVolumeRange& inRange) {
    return Create(inLocation, inRange, true);
}

ULMStatus ULMVolumeBoardCopy::CreateRecorded(ULMLocation inLocation, const ULMVolumeRange& inRange) {
    return Create(inLocation, inRange, false);
}

ULMStatus ULMVolumeBoardCopy::Create(ULMLocation inLocation, const ULMVolumeRange& inRange, bool inLoad) {
    ULMStatus status = Allocate(inLocation, inRange);
    if (status != kULMOK) return status;
    const ULMVolumeRange load = ULMVolumeRange::Intersect(inRange, m_volume.GetRange());
    if (inLoad && m_volume.HasData() && !load.IsEmpty()) status = LoadFromSourceNow(load);
    if (status != kULMOK) {
        Release();
        return status;
    }
    m_held.Add(inRange);
    m_volume.GetSource()->ResetChangedRange();
    return kULMOK;
}

// What the buffer holds stays: some of it may have been written there and
// be newer than the volume's own voxels. The rest is loaded, and what the
// source changed.
ULMStatus ULMVolumeBoardCopy::LoadWhole(ULMLocation inLocation) {
    const ULMVolumeRange whole = m_volume.GetRange();
    ULMStatus status = Allocate(inLocation, whole);
    if (status != kULMOK) return status;
    if (m_volume.HasData()) {
        ULMVolumeSource* source = m_volume.GetSource();
        std::vector<ULMVolumeRange> loads = HeldVoxels().Missing(whole);
        const ULMVolumeRange changed = source->ChangedRange(whole);
        const auto holdsChanged = [&](const ULMVolumeRange& inLoad) { return inLoad.Contains(changed); };
        if (!changed.IsEmpty() && std::none_of(loads.begin(), loads.end(), holdsChanged)) loads.push_back(changed);
        source->ResetChangedRange();
        for (const ULMVolumeRange& load : loads) {
            status = LoadFromSourceNow(load);
            if (status == kULMOK) continue;
            m_held.Clear();
            Release();
            return status;
        }
    }
    m_held.Add(whole);
    return kULMOK;
}

ULMStatus ULMVolumeBoardCopy::Attach(unsigned long long inBufferID) {
    if (inBufferID == kULMNoBuffer) return Release();
    if (inBufferID == kMultiboardBufferID) return kULMErrUnimplemented;
    const int boardNumber = KWBBoard::GetBoardNumberFromObjectID(inBufferID);
    if (boardNumber < 0 || boardNumber >= static_cast<int>(gULMControl.m_KWBBoardCount)) return kULMErrArgument;
    KWBBoard* board = KWBBoard::GetBoard(boardNumber);
    if (board == nullptr) return kULMErrArgument;
    ULMStatus status = kULMOK;
    KWBBuffer* attached = board->AttachBuffer(inBufferID, status);
    if (attached == nullptr || status != kULMOK) return kULMErrArgument;
    ULM_ASSERT(attached->GetID() == inBufferID);
    uint32_t sizes[3] = {};
    uint32_t elementBits = 0;
    attached->GetSizes(sizes[0], sizes[1], sizes[2], elementBits);
    if (static_cast<int>(elementBits) != m_volume.GetVoxelSize()) {
        board->ReleaseBuffer(attached, false);
        return kULMErrArgument;
    }
    // The volume's own buffer again: its voxels lie as they were laid when it
    // let the buffer go, and an addressing set since then moves them.
    const bool again = m_buffer == nullptr && inBufferID == m_id;
    const ULMAddressMode wanted = m_addressMode;
    const int32_t wantedAddress[3] = {m_window.m_origin[0], m_window.m_origin[1], m_window.m_origin[2]};
    Release();
    m_sourceSerial = 0;
    m_board = board;
    m_buffer = attached;
    m_id = inBufferID;
    m_location = static_cast<ULMLocation>(boardNumber);
    for (int axis = 0; axis < 3; ++axis) m_window.m_size[axis] = static_cast<int32_t>(sizes[axis]);
    if (again) {
        m_addressMode = m_releasedMode;
        for (int axis = 0; axis < 3; ++axis) m_window.m_origin[axis] = m_releasedAddress[axis];
    }
    // The addressing the volume had is kept for the buffer it now uses.
    status = attached->SetOffsetOrWrap(m_addressMode == kULMWrapAddress, m_window.XOrigin(), m_window.YOrigin(),
                                       m_window.ZOrigin());
    if (m_permission != KWBBoard::GetBufferPermission(attached)) SetPermission(m_permission);
    m_valid = true;
    if (status == kULMOK && again)
        status = Relocate(wanted, wantedAddress[0], wantedAddress[1], wantedAddress[2], nullptr);
    return status;
}

ULMStatus ULMVolumeBoardCopy::Adopt(unsigned long long inBufferID) {
    const ULMStatus status = Attach(inBufferID);
    if (status != kULMOK || m_buffer == nullptr) return status == kULMOK ? kULMErrArgument : status;
    m_held = ULMVoxelRegion(m_volume.GetRange());
    return kULMOK;
}

ULMStatus ULMVolumeBoardCopy::Release() {
    const ULMStatus written = WriteBackSlab();
    if (m_buffer != nullptr) {
        ULM_ASSERT(m_board != nullptr);
        m_releasedMode = m_addressMode;
        for (int axis = 0; axis < 3; ++axis) m_releasedAddress[axis] = m_window.m_origin[axis];
        m_board->ReleaseBuffer(m_buffer, false);
        m_buffer = nullptr;
        m_valid = false;
        m_board = nullptr;
    }
    return ULMFailed(written) ? written : kULMOK;
}

ULMStatus ULMVolumeBoardCopy::SetPermission(ULMPermission inPermission) {
    if (inPermission < 0 || inPermission > kAllPermissionBits) return kULMErrArgument;
    if (m_buffer == nullptr) {
        m_permission = inPermission;
        return kULMOK;
    }
    const ULMStatus status = m_board->SetBufferPermission(m_buffer, inPermission);
    if (status != kULMOK) return status;
    m_permission = KWBBoard::GetBufferPermission(m_buffer);
    return kULMOK;
}

void ULMVolumeBoardCopy::Close() {
    // A lazy load may still read the source's memory, or the staging memory.
    WaitForLoad();
    // Nothing is written back into a buffer that goes with the volume.
    m_yzCache.Drop();
    Release();
    m_staging.Free();
}

// ---- Prepare and finish ----

// A lazy load that failed left its box as it was: the buffer does not hold
// it.
ULMStatus ULMVolumeBoardCopy::WaitForLoad() {
    const ULMStatus status = m_pendingLoad.Wait();
    if (ULMFailed(status))
        for (const ULMVolumeRange& box : m_loading) m_held.Remove(box);
    m_loading.clear();
    return status;
}

ULMStatus ULMVolumeBoardCopy::LoadFromSourceNow(const ULMVolumeRange& inRange) {
    // A lazy load still in flight keeps a source mapping; it goes first.
    WaitForLoad();
    const ULMStatus status =
        StartLoadFromSource(inRange, m_volume.GetSource(), inRange.XOrigin(), inRange.YOrigin(), inRange.ZOrigin())
            .Wait(-1);
    m_pendingLoad.ReleaseMapping();
    return status;
}

ULMStatus ULMVolumeBoardCopy::Prepare(ULMLocation inWhere) { return PrepareFor(inWhere, nullptr); }

ULMStatus ULMVolumeBoardCopy::PrepareToRead(const ULMVolumeRange& inBox) { return PrepareFor(kULMAnyBoard, &inBox); }

// A render reads the active sub-volume, in an offset window the part the
// window holds; a pass reads its box, which the buffer must hold.
ULMStatus ULMVolumeBoardCopy::PrepareFor(ULMLocation inWhere, const ULMVolumeRange* inReads) {
    if (!m_volume.HasData() && m_buffer == nullptr) return kULMErrVolume;
    // Whatever reads the buffer next must see the YZ slices written to the
    // slab: renders of every kind and board passes come through here.
    const ULMStatus written = WriteBackSlab();
    if (ULMFailed(written)) return written;
    m_releaseAfterRender = m_buffer == nullptr;
    m_currentSubVolume = m_volume.GetRange();
    const ULMVolumeRange active = m_volume.GetActiveSubVolume();
    if (inReads != nullptr)
        m_currentSubVolume = *inReads;
    else if (!active.IsReset())
        m_currentSubVolume.Intersect(active);
    if (m_buffer == nullptr) {
        const ULMStatus status = Allocate(inWhere, m_volume.GetRange());
        if (status != kULMOK) return status;
    } else if (inReads == nullptr && m_addressMode == kULMOffsetAddress) {
        m_currentSubVolume.Intersect(m_window);
    }
    if (m_currentSubVolume.IsEmpty()) {
        m_buffer->SetRange(kNothingValid);
        return kULMOK;
    }
    // What the buffer lacks of the box, and what changed in the source. The
    // voxels it holds stay: some may have been written there, and are newer
    // than the volume's own.
    std::vector<ULMVolumeRange> loads;
    const ULMStatus lacking = Lacking(m_currentSubVolume, loads);
    if (lacking != kULMOK) {
        Finish();
        return lacking;
    }
    m_buffer->SetRange(ULMRange(m_currentSubVolume));
    ULMVolumeSource* source = m_volume.GetSource();
    const ULMVolumeRange changed = source->ChangedRange(m_currentSubVolume);
    const auto holdsChanged = [&](const ULMVolumeRange& inLoad) { return inLoad.Contains(changed); };
    if (!changed.IsEmpty() && std::none_of(loads.begin(), loads.end(), holdsChanged)) loads.push_back(changed);
    source->ResetChangedRange();
    if (loads.empty() || !m_volume.HasData()) return kULMOK;

    // The previous load's source mapping is let go before a new one is kept.
    WaitForLoad();
    for (const ULMVolumeRange& load : loads) {
        const ULMSyncEvent event = StartLoadFromSource(load, source, load.XOrigin(), load.YOrigin(), load.ZOrigin());
        if (ULMFailed(event.Status())) {
            m_pendingLoad.ReleaseMapping();
            return event.Status();
        }
        // Kept before the next load starts, which waits for it before it
        // gives its source mapping back.
        m_pendingLoad.Keep(event);
        NoteHeld(load);
        m_loading.push_back(load);
    }
    return kULMOK;
}

ULMStatus ULMVolumeBoardCopy::Finish() {
    if (!m_releaseAfterRender) return kULMOK;
    m_releaseAfterRender = false;
    return Release();
}

void ULMVolumeBoardCopy::NarrowTo(const ULMVolumeRange& inBox) { m_buffer->SetRange(ULMRange(inBox)); }

void ULMVolumeBoardCopy::OpenWhole() { m_buffer->SetRange(KWBRange()); }

// ---- Voxels in and out ----

ULMLoadTarget ULMVolumeBoardCopy::Target() const { return ULMLoadTarget{m_board, m_buffer, VoxelBytes()}; }

ULMBoardLoader ULMVolumeBoardCopy::Loader() {
    return ULMBoardLoader(Target(), m_staging, m_pendingLoad, m_volume.GetSource());
}

ULMSyncEvent ULMVolumeBoardCopy::StartLoad(const ULMVolumeRange& inRange, const void* inVoxels, int inRowLength,
                                           int inRowsPerSlice) {
    ULM_ASSERT(m_board != nullptr);
    ULM_ASSERT(m_valid);
    return Loader().FromMemory(inRange, inVoxels, inRowLength, inRowsPerSlice);
}

ULMSyncEvent ULMVolumeBoardCopy::StartLoadFromSource(const ULMVolumeRange& inRange, ULMVolumeSource* inSource, int inX,
                                                     int inY, int inZ) {
    ULM_ASSERT(m_board != nullptr);
    ULM_ASSERT(m_valid);
    return Loader().FromSource(inRange, inSource, inX, inY, inZ);
}

ULMSyncEvent ULMVolumeBoardCopy::StartReload(const ULMVolumeRange& inRange) {
    if (m_buffer == nullptr || !m_volume.HasData()) return ULMSyncEvent(kULMErrVolume);
    if (!Takes(inRange)) return ULMSyncEvent(kULMErrArgument);
    // Voxels the slab holds would be written over the reloaded ones later.
    const ULMStatus written = WriteBackSlab();
    if (ULMFailed(written)) return ULMSyncEvent(written);
    ULMVolumeSource* source = m_volume.GetSource();
    void* mapped = nullptr;
    unsigned row = 0, slice = 0;
    if (source->MapVoxels(inRange, 0, &mapped, &row, &slice) == kULMOK) {
        if (mapped == nullptr) {
            source->ReleaseVoxels(mapped);
        } else {
            const ULMSyncEvent event = m_board->StartLoadBuffer(m_buffer, mapped, ULMRange(inRange), row, slice, -1);
            if (ULMFailed(event.Status())) {
                source->ReleaseVoxels(mapped);
                return event;
            }
            m_pendingLoad.KeepReading(event, source, mapped);
            NoteReload(inRange);
            m_loading.push_back(inRange);
            return event;
        }
    }
    // The loader may wait between its chunks; its last one is kept pending.
    const ULMSyncEvent event = StartLoadFromSource(inRange, source, inRange.XOrigin(), inRange.YOrigin(),
                                                   inRange.ZOrigin());
    if (ULMFailed(event.Status())) return event;
    m_pendingLoad.Keep(event);
    NoteReload(inRange);
    m_loading.push_back(inRange);
    return event;
}

// Voxels the buffer was recorded to hold keep that record; elsewhere the
// buffer now holds what it was not made with, as after any write.
void ULMVolumeBoardCopy::NoteReload(const ULMVolumeRange& inRange) {
    if (!HeldVoxels().Contains(inRange)) NoteWrite(inRange);
}

void ULMVolumeBoardCopy::NoteWrite(const ULMVolumeRange& inRange) {
    NoteHeld(inRange);
    m_serial = NextSerial(m_serial);
}

ULMSyncEvent ULMVolumeBoardCopy::StartWrite(const void* inVoxels, const ULMVolumeRange& inRange, int inRowLength,
                                            int inRowsPerSlice) {
    if (!Takes(inRange)) return ULMSyncEvent(kULMErrArgument);
    const ULMStatus written = WriteBackSlab();
    if (ULMFailed(written)) return ULMSyncEvent(written);
    const ULMSyncEvent event = StartLoad(inRange, inVoxels, inRowLength, inRowsPerSlice);
    if (ULMFailed(event.Status())) return event;
    NoteWrite(inRange);
    return event;
}

ULMSyncEvent ULMVolumeBoardCopy::StartWriteYZSlice(const void* inVoxels, const ULMVolumeRange& inSlice) {
    const ULMSyncEvent event = m_yzCache.WriteSlice(inVoxels, inSlice);
    if (ULMFailed(event.Status())) return event;
    NoteWrite(inSlice);
    // The slab holds this write already.
    m_yzCache.MatchBuffer();
    return event;
}

ULMSyncEvent ULMVolumeBoardCopy::StartWriteField(const void* inVoxels, const ULMVolumeRange& inRange,
                                                 const ULMFieldDescriptor& inField) {
    if (m_buffer == nullptr) return ULMSyncEvent(kULMErrVolume);
    if (!Takes(inRange)) return ULMSyncEvent(kULMErrArgument);
    const ULMStatus written = WriteBackSlab();
    if (ULMFailed(written)) return ULMSyncEvent(written);
    // The other fields of the voxels stay what they are: the buffer must
    // hold them first.
    const ULMStatus filled = Fill(inRange);
    if (filled != kULMOK) return ULMSyncEvent(filled);
    const ULMSyncEvent event = m_board->StartLoadBufferField(
        m_buffer, inVoxels, static_cast<uint32_t>(inField.m_size), static_cast<uint32_t>(inField.m_position),
        ULMRange(inRange), static_cast<uint32_t>(inRange.XSize()), static_cast<uint32_t>(inRange.YSize()),
        KWBBoard::kPlainHostMemory);
    if (!ULMFailed(event.Status())) NoteWrite(inRange);
    return event;
}

ULMSyncEvent ULMVolumeBoardCopy::StartRead(void* outVoxels, const ULMVolumeRange& inRange) {
    if (m_buffer == nullptr) return ULMSyncEvent(kULMErrVolume);
    const ULMStatus filled = Fill(inRange);
    if (filled != kULMOK) return ULMSyncEvent(filled);
    // A slice the slab cannot serve (its pass refused) is read straight.
    if (ServesYZSlice(inRange)) {
        const ULMSyncEvent slice = m_yzCache.ReadSlice(outVoxels, inRange, kULMUseBuffer);
        if (!ULMFailed(slice.Status())) return slice;
    }
    const ULMStatus written = WriteBackSlab();
    if (ULMFailed(written)) return ULMSyncEvent(written);
    return m_board->StartUnloadBuffer(m_buffer, outVoxels, ULMRange(inRange), static_cast<uint32_t>(inRange.XSize()),
                                      static_cast<uint32_t>(inRange.YSize()), KWBBoard::kPlainHostMemory);
}

ULMSyncEvent ULMVolumeBoardCopy::StartReadField(void* outVoxels, const ULMVolumeRange& inRange,
                                                const ULMFieldDescriptor& inField) {
    if (m_buffer == nullptr) return ULMSyncEvent(kULMErrVolume);
    const ULMStatus filled = Fill(inRange);
    if (filled != kULMOK) return ULMSyncEvent(filled);
    const ULMStatus written = WriteBackSlab();
    if (ULMFailed(written)) return ULMSyncEvent(written);
    return m_board->StartUnloadBufferField(
        m_buffer, outVoxels, static_cast<uint32_t>(inField.m_size), static_cast<uint32_t>(inField.m_position),
        ULMRange(inRange), static_cast<uint32_t>(inRange.XSize()), static_cast<uint32_t>(inRange.YSize()),
        KWBBoard::kPlainHostMemory);
}

ULMSyncEvent ULMVolumeBoardCopy::StartCopyFrom(const ULMVolume* inVolume, const ULMVolumeRange& inRange,
                                               const ULMVolumeRange& inSourceBox, bool& outTried) {
    outTried = true;
    if (m_buffer == nullptr) return ULMSyncEvent(kULMErrVolume);
    if (!Takes(inRange)) return ULMSyncEvent(kULMErrArgument);
    const ULMStatus written = WriteBackSlab();
    if (ULMFailed(written)) return ULMSyncEvent(written);
    const ULMLocation location = inVolume->GetBufferLocation();
    KWBBoard* board = location >= 0 && location < KWBBoard::kMaxBoards ? KWBBoard::GetBoard(location) : nullptr;
    if (board == nullptr) {
        outTried = false;
        return ULMSyncEvent(kULMOK);
    }
    const ULMVolumeInternal* plain = IsObjectType(inVolume, kObjectTypeULMVolumeInternal)
                                         ? static_cast<const ULMVolumeInternal*>(inVolume)
                                         : nullptr;
    KWBBuffer* source = nullptr;
    bool attached = false;
    // A box the other buffer does not hold whole goes through that volume's
    // unload, which loads what it lacks or refuses.
    const bool held = plain != nullptr ? plain->BoardCopy().HeldVoxels().Contains(inSourceBox)
                                       : inVolume->IsLoaded() && inVolume->GetBufferAddressMode() == kULMOffsetAddress &&
                                             inVolume->GetBufferRange().Contains(inSourceBox);
    if (!held) {
        outTried = false;
        return ULMSyncEvent(kULMOK);
    }
    if (plain != nullptr) {
        // Its slab may hold newer voxels than its buffer.
        const ULMStatus otherWritten = plain->BoardCopy().WriteBackSlab();
        if (ULMFailed(otherWritten)) return ULMSyncEvent(otherWritten);
        source = plain->BoardCopy().Buffer();
    } else {
        const unsigned long long id = inVolume->GetBufferID();
        if (id == kULMNoBuffer) return ULMSyncEvent(kULMErrVolume);
        ULMStatus status = kULMOK;
        source = board->AttachBuffer(id, status);
        if (source == nullptr) return ULMSyncEvent(status != kULMOK ? status : kULMErrVolume);
        if (status != kULMOK) {
            board->ReleaseBuffer(source, false);
            return ULMSyncEvent(status);
        }
        attached = true;
        source->SetOffsetOrWrap(inVolume->GetBufferAddressMode() == kULMWrapAddress,
                                inVolume->GetBufferAddressParameterX(), inVolume->GetBufferAddressParameterY(),
                                inVolume->GetBufferAddressParameterZ());
    }
    if (source == nullptr) return ULMSyncEvent(kULMErrVolume);
    ULMSyncEvent event(kULMErrVolume);
    if (static_cast<int>(source->GetElementBits()) == m_volume.GetVoxelSize())
        event = board->StartCopyBuffer(source, m_buffer, ULMRange(inSourceBox), ULMRange(inRange));
    if (attached) board->ReleaseBuffer(source, false);
    if (!ULMFailed(event.Status())) NoteWrite(inRange);
    return event;
}

// ---- The map of the buffer ----

ULMStatus ULMVolumeBoardCopy::Map(ULMAccessType inAccess, const ULMVolumeRange& inRange, void*& outBaseAddress,
                                  unsigned& outSx, unsigned& outSy) {
    if (m_buffer == nullptr) return kULMErrVolume;
    const ULMStatus written = WriteBackSlab();
    if (ULMFailed(written)) return written;
    if (m_mappedSize != 0) return kULMErrTooMany;
    // The map shows the buffer's voxels and writes them all back, so it
    // must hold them all, unless the application writes every one.
    const ULMStatus ready = inAccess == kULMAccessWriteOnlyExclusive ? CanWrite(inRange) : Fill(inRange);
    if (ready != kULMOK) return ready;
    // The board knows a plain write only as the exclusive write it is held
    // as here.
    const ULMAccessType boardAccess = inAccess == kULMAccessWrite ? kULMAccessWriteExclusive : inAccess;
    void* address = nullptr;
    const ULMStatus status = m_board->MapBuffer(m_buffer, address, ULMRange(inRange), boardAccess, outSx, outSy);
    if (status != kULMOK) {
        m_mappedVoxelMemory = nullptr;
        m_mappedSize = 0;
        return status;
    }
    m_mappedSize = uint64_t{outSx} * outSy * static_cast<uint64_t>(inRange.ZSize());
    ULM_ASSERT(m_mappedSize > 0);
    m_mappedVoxelMemory = address;
    outBaseAddress = address;
    return kULMOK;
}

ULMStatus ULMVolumeBoardCopy::Unmap() {
    ULM_ASSERT(m_board != nullptr);
    const ULMStatus status = m_board->UnmapBuffer(m_buffer, m_mappedVoxelMemory);
    m_mappedSize = 0;
    m_mappedVoxelMemory = nullptr;
    return status;
}

// ---- The YZ slab ----

bool ULMVolumeBoardCopy::ServesYZSlice(const ULMVolumeRange& inRange) const {
    return ULMYZSliceCache::Serves(inRange, m_volume.GetRange());
}

}  // namespace ulm3
