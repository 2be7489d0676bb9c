// How a volume gets, keeps, re-attaches, resizes and gives up its board
// buffer, locks onto a board, and is made ready for a render.
#include <cstdint>

#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "board/board_range.h"
#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/locks.h"
#include "foundation/shareable.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

// The id no application may attach: it stands for a multiboard buffer.
constexpr unsigned long long kMultiboardBufferID = 0xFFFFFFFFFFFFFFFEull;
constexpr int kAllPermissionBits = 15;

bool IsPowerOfTwo(int inValue) { return inValue >= 1 && (inValue & (inValue - 1)) == 0; }

// A box the board can hold at an offset: even origins, and bounds that fit
// the chip's non-negative 16-bit coordinates.
bool BoardAddressable(const ULMVolumeRange& inRange) {
    for (int axis = 0; axis < 3; ++axis)
        if (inRange.m_origin[axis] % 2 != 0) return false;
    return ULMRange(inRange).IsValid();
}

const KWBRange kNothingValid(0, 0, 0, -1, -1, -1);

}  // namespace

// ---- Allocation ----

KWBBuffer* ULMVolumeInternal::CreateBoardBuffer(int inBoard, const ULMVolumeRange& inSubVolume,
                                                ULMStatus& outStatus) {
    KWBBoard* board = KWBBoard::GetBoard(inBoard);
    if (board == nullptr) {
        outStatus = kULMErrHardware;
        return nullptr;
    }
    KWBBuffer* buffer = board->CreateBuffer(
        static_cast<uint32_t>(inSubVolume.XSize()), static_cast<uint32_t>(inSubVolume.YSize()),
        static_cast<uint32_t>(inSubVolume.ZSize()), static_cast<uint32_t>(GetVoxelSize()), outStatus);
    if (buffer != nullptr) {
        m_board = board;
        m_bufferLocation = static_cast<ULMLocation>(inBoard);
    }
    return buffer;
}

ULMStatus ULMVolumeInternal::AllocateBuffer(ULMLocation inLocation, const ULMVolumeRange& inSubVolume) {
    // Refused before anything is made: a box at an odd origin, or one whose
    // bounds the chip's 16-bit coordinates cannot hold.
    if (!BoardAddressable(inSubVolume)) return kULMErrArgument;
    if (m_buffer == nullptr && m_bufferID != 0) {
        if (AttachBoardBuffer(m_bufferID) != kULMOK) m_fullyLoaded = m_partlyLoaded = false;
    }
    if (m_buffer != nullptr) {
        const bool fits = inSubVolume.XSize() <= m_bufferRange.XSize() &&
                          inSubVolume.YSize() <= m_bufferRange.YSize() &&
                          inSubVolume.ZSize() <= m_bufferRange.ZSize();
        if (!fits || (inLocation != kULMAnyBoard && inLocation != m_bufferLocation)) ReleaseBoardBuffer();
    }
    if (m_buffer != nullptr) {
        if (m_buffer->SetOffsetOrWrap(false, inSubVolume.XOrigin(), inSubVolume.YOrigin(),
                                      inSubVolume.ZOrigin()) == kULMOK) {
            m_bufferAddressMode = kULMOffsetAddress;
            for (int axis = 0; axis < 3; ++axis) m_bufferRange.m_origin[axis] = inSubVolume.m_origin[axis];
            return kULMOK;
        }
        ReleaseBoardBuffer();
    }
    m_bufferSerial = NextSerial(m_bufferSerial);
    ULMStatus status = kULMErrArgument;
    KWBBuffer* buffer = nullptr;
    const int boardCount = static_cast<int>(gULMControl.m_KWBBoardCount);
    if (inLocation != kULMAnyBoard) {
        if (inLocation < 0 || inLocation >= boardCount) return kULMErrArgument;
        buffer = CreateBoardBuffer(inLocation, inSubVolume, status);
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
            buffer = CreateBoardBuffer(board, inSubVolume, attempt);
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
    for (int axis = 0; axis < 3; ++axis) m_bufferRange.m_size[axis] = static_cast<int32_t>(sizes[axis]);
    ULM_ASSERT(m_bufferRange.XSize() >= inSubVolume.XSize());
    ULM_ASSERT(m_bufferRange.YSize() >= inSubVolume.YSize());
    ULM_ASSERT(m_bufferRange.ZSize() >= inSubVolume.ZSize());
    ULM_ASSERT(static_cast<int>(elementBits) == m_voxelSizeBytes << 3);
    m_buffer = buffer;
    m_bufferValid = true;
    status = buffer->SetOffsetOrWrap(false, inSubVolume.XOrigin(), inSubVolume.YOrigin(),
                                     inSubVolume.ZOrigin());
    if (status != kULMOK) {
        ReleaseBoardBuffer();
        return status;
    }
    m_fullyLoaded = m_partlyLoaded = false;
    m_sourceBufferSerial = m_bufferSerial;
    m_bufferID = buffer->GetID();
    for (int axis = 0; axis < 3; ++axis) m_bufferRange.m_origin[axis] = inSubVolume.m_origin[axis];
    m_bufferAddressMode = kULMOffsetAddress;
    if (m_bufferPermission != KWBBoard::GetBufferPermission(buffer)) ApplyBufferPermission(m_bufferPermission);
    return kULMOK;
}

ULMStatus ULMVolumeInternal::ChangeBuffer(const std::function<ULMStatus()>& inChange) {
    ULMRecursiveLock hold(m_bufferLock);
    const ULMStatus granted = AddAccess(kULMAccessWriteExclusive);
    if (granted != kULMOK) return granted;
    const ULMStatus status = inChange();
    ReleaseAccess();
    return status;
}

ULMStatus ULMVolumeInternal::CreateBuffer(ULMLocation inLocation) {
    return CreateBuffer(inLocation, m_wholeVolume);
}

ULMStatus ULMVolumeInternal::CreateBuffer(ULMLocation inLocation, unsigned inSizeX, unsigned inSizeY,
                                          unsigned inSizeZ) {
    if (inSizeX > INT32_MAX || inSizeY > INT32_MAX || inSizeZ > INT32_MAX) return kULMErrArgument;
    return CreateBuffer(inLocation, ULMVolumeRange(static_cast<int>(inSizeX), static_cast<int>(inSizeY),
                                                   static_cast<int>(inSizeZ), m_wholeVolume.XOrigin(),
                                                   m_wholeVolume.YOrigin(), m_wholeVolume.ZOrigin()));
}

// The range counts as loaded afterwards. A volume with voxels of its own
// has them loaded now, so that the buffer holds what it claims to; without
// them the caller fills the buffer.
ULMStatus ULMVolumeInternal::CreateBuffer(ULMLocation inLocation, const ULMVolumeRange& inRange) {
    return ChangeBuffer([&] { return CreateLoadedBuffer(inLocation, inRange); });
}

ULMStatus ULMVolumeInternal::CreateLoadedBuffer(ULMLocation inLocation, const ULMVolumeRange& inRange) {
    ULMStatus status = AllocateBuffer(inLocation, inRange);
    if (status != kULMOK) return status;
    const ULMVolumeRange load = ULMVolumeRange::Intersect(inRange, m_wholeVolume);
    if (m_hasData && !load.IsEmpty()) status = LoadFromSourceNow(load);
    if (status != kULMOK) {
        ReleaseBoardBuffer();
        return status;
    }
    m_loadedVolume = inRange;
    m_partlyLoaded = true;
    m_fullyLoaded = inRange.Contains(m_wholeVolume);
    m_volumeSource->ResetChangedRange();
    return kULMOK;
}

ULMStatus ULMVolumeInternal::AttachBuffer(unsigned long long inBufferID) {
    return ChangeBuffer([&] { return AttachBoardBuffer(inBufferID); });
}

ULMStatus ULMVolumeInternal::AttachBoardBuffer(unsigned long long inBufferID) {
    if (inBufferID == kULMNoBuffer) return ReleaseBoardBuffer();
    if (inBufferID == kMultiboardBufferID) return kULMErrUnimplemented;
    const int boardNumber = KWBBoard::GetBoardNumberFromObjectID(inBufferID);
    if (boardNumber < 0 || boardNumber >= static_cast<int>(gULMControl.m_KWBBoardCount))
        return kULMErrArgument;
    KWBBoard* board = KWBBoard::GetBoard(boardNumber);
    if (board == nullptr) return kULMErrArgument;
    ULMStatus status = kULMOK;
    KWBBuffer* attached = board->AttachBuffer(inBufferID, status);
    if (attached == nullptr || status != kULMOK) return kULMErrArgument;
    ULM_ASSERT(attached->GetID() == inBufferID);
    uint32_t sizes[3] = {};
    uint32_t elementBits = 0;
    attached->GetSizes(sizes[0], sizes[1], sizes[2], elementBits);
    if (static_cast<int>(elementBits) != GetVoxelSize()) {
        board->ReleaseBuffer(attached, false);
        return kULMErrArgument;
    }
    for (int axis = 0; axis < 3; ++axis)
        if (static_cast<int32_t>(sizes[axis]) != m_bufferRange.m_size[axis]) m_fullyLoaded = false;
    ReleaseBoardBuffer();
    m_sourceBufferSerial = 0;
    m_board = board;
    m_buffer = attached;
    m_bufferID = inBufferID;
    m_bufferLocation = static_cast<ULMLocation>(boardNumber);
    for (int axis = 0; axis < 3; ++axis) m_bufferRange.m_size[axis] = static_cast<int32_t>(sizes[axis]);
    // The addressing the volume had is kept for the buffer it now uses.
    status = attached->SetOffsetOrWrap(m_bufferAddressMode == kULMWrapAddress, m_bufferRange.XOrigin(),
                                       m_bufferRange.YOrigin(), m_bufferRange.ZOrigin());
    if (m_bufferPermission != KWBBoard::GetBufferPermission(attached)) ApplyBufferPermission(m_bufferPermission);
    m_bufferValid = true;
    return status;
}

ULMStatus ULMVolumeInternal::AdoptBuffer(unsigned long long inBufferID) {
    return ChangeBuffer([&] {
        const ULMStatus status = AttachBoardBuffer(inBufferID);
        if (status != kULMOK || m_buffer == nullptr) return status == kULMOK ? kULMErrArgument : status;
        m_loadedVolume = m_wholeVolume;
        m_partlyLoaded = m_fullyLoaded = true;
        m_target = kULMBuffer;
        return kULMOK;
    });
}

// The buffer goes even when the cache cannot be written back, so that no
// board memory is lost; the write-back's failure is still reported. The id
// and location stay for a later re-attachment.
ULMStatus ULMVolumeInternal::ReleaseBuffer() {
    return ChangeBuffer([&] { return ReleaseBoardBuffer(); });
}

ULMStatus ULMVolumeInternal::ReleaseBoardBuffer() {
    const ULMStatus written = UpdateVolumeFromCache();
    if (m_buffer != nullptr) {
        ULM_ASSERT(m_board != nullptr);
        m_board->ReleaseBuffer(m_buffer, false);
        m_buffer = nullptr;
        m_bufferValid = false;
        m_board = nullptr;
    }
    return ULMFailed(written) ? written : kULMOK;
}

unsigned long long ULMVolumeInternal::GetBufferID() const {
    ULMRecursiveLock hold(m_bufferLock);
    return m_buffer != nullptr ? m_bufferID : kULMNoBuffer;
}

void ULMVolumeInternal::GetBufferSize(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    outX = GetBufferSizeX();
    outY = GetBufferSizeY();
    outZ = GetBufferSizeZ();
}

unsigned ULMVolumeInternal::GetBufferSizeX() const {
    ULMRecursiveLock hold(m_bufferLock);
    return m_buffer != nullptr ? static_cast<unsigned>(m_bufferRange.XSize()) : 0;
}
unsigned ULMVolumeInternal::GetBufferSizeY() const {
    ULMRecursiveLock hold(m_bufferLock);
    return m_buffer != nullptr ? static_cast<unsigned>(m_bufferRange.YSize()) : 0;
}
unsigned ULMVolumeInternal::GetBufferSizeZ() const {
    ULMRecursiveLock hold(m_bufferLock);
    return m_buffer != nullptr ? static_cast<unsigned>(m_bufferRange.ZSize()) : 0;
}

ULMVolumeRange ULMVolumeInternal::GetBufferRange() const {
    ULMRecursiveLock hold(m_bufferLock);
    return m_buffer != nullptr ? m_bufferRange : ULMVolumeRange();
}

// The getters read under the buffer lock, so that another thread's lock,
// unlock, resize or addressing change is seen whole or not at all.
bool ULMVolumeInternal::IsLocked() const {
    ULMRecursiveLock hold(m_bufferLock);
    return m_locked;
}

bool ULMVolumeInternal::IsLoaded() const {
    ULMRecursiveLock hold(m_bufferLock);
    return m_bufferValid && m_fullyLoaded;
}

ULMPermission ULMVolumeInternal::GetBufferPermission() const {
    ULMRecursiveLock hold(m_bufferLock);
    return m_bufferPermission;
}

ULMAddressMode ULMVolumeInternal::GetBufferAddressMode() const {
    ULMRecursiveLock hold(m_bufferLock);
    return m_bufferAddressMode;
}

int ULMVolumeInternal::GetBufferAddressParameterX() const {
    ULMRecursiveLock hold(m_bufferLock);
    return m_bufferRange.XOrigin();
}

int ULMVolumeInternal::GetBufferAddressParameterY() const {
    ULMRecursiveLock hold(m_bufferLock);
    return m_bufferRange.YOrigin();
}

int ULMVolumeInternal::GetBufferAddressParameterZ() const {
    ULMRecursiveLock hold(m_bufferLock);
    return m_bufferRange.ZOrigin();
}

ULMLocation ULMVolumeInternal::GetBufferLocation() const {
    ULMRecursiveLock hold(m_bufferLock);
    return m_buffer != nullptr ? m_bufferLocation : kULMNoBufferAttached;
}

ULMStatus ULMVolumeInternal::SetBufferPermission(ULMPermission inPermission) {
    return ChangeBuffer([&] { return ApplyBufferPermission(inPermission); });
}

ULMStatus ULMVolumeInternal::ApplyBufferPermission(ULMPermission inPermission) {
    if (inPermission < 0 || inPermission > kAllPermissionBits) return kULMErrArgument;
    if (m_buffer == nullptr) {
        m_bufferPermission = inPermission;
        return kULMOK;
    }
    const ULMStatus status = m_board->SetBufferPermission(m_buffer, inPermission);
    if (status != kULMOK) return status;
    m_bufferPermission = KWBBoard::GetBufferPermission(m_buffer);
    return kULMOK;
}

// ---- Addressing and size ----

// The YZ cache is written back under the old addressing before the new one
// is stored, so that its voxels land where they belong.
ULMStatus ULMVolumeInternal::ApplyAddressing(ULMAddressMode inMode, int inX, int inY, int inZ) {
    const ULMStatus written = UpdateVolumeFromCache();
    if (ULMFailed(written)) return written;
    m_bufferAddressMode = inMode;
    m_bufferRange.XOrigin() = inX;
    m_bufferRange.YOrigin() = inY;
    m_bufferRange.ZOrigin() = inZ;
    if (m_buffer == nullptr) return kULMOK;
    return m_buffer->SetOffsetOrWrap(inMode == kULMWrapAddress, inX, inY, inZ);
}

ULMStatus ULMVolumeInternal::SetBufferWrap(int inModulusX, int inModulusY, int inModulusZ) {
    if (!IsPowerOfTwo(inModulusX) || !IsPowerOfTwo(inModulusY) || !IsPowerOfTwo(inModulusZ))
        return kULMErrArgument;
    return ChangeBuffer([&] { return ApplyAddressing(kULMWrapAddress, inModulusX, inModulusY, inModulusZ); });
}

ULMStatus ULMVolumeInternal::SetBufferOffset(int inOffsetX, int inOffsetY, int inOffsetZ) {
    if (inOffsetX % 2 != 0 || inOffsetY % 2 != 0 || inOffsetZ % 2 != 0) return kULMErrArgument;
    return ChangeBuffer([&] { return ApplyAddressing(kULMOffsetAddress, inOffsetX, inOffsetY, inOffsetZ); });
}

ULMStatus ULMVolumeInternal::SetBufferAddressParameters(ULMAddressMode inMode, int inX, int inY, int inZ) {
    if (inMode == kULMOffsetAddress) return SetBufferOffset(inX, inY, inZ);
    if (inMode == kULMWrapAddress) return SetBufferWrap(inX, inY, inZ);
    return kULMErrArgument;
}

void ULMVolumeInternal::GetBufferAddressParameters(ULMAddressMode& outMode, int& outX, int& outY,
                                                   int& outZ) const {
    ULMRecursiveLock hold(m_bufferLock);
    outMode = m_bufferAddressMode;
    outX = m_bufferRange.XOrigin();
    outY = m_bufferRange.YOrigin();
    outZ = m_bufferRange.ZOrigin();
}

ULMStatus ULMVolumeInternal::ResizeBuffer(const ULMVolumeRange& inRange) {
    return ChangeBuffer([&] { return ResizeBoardBuffer(inRange); });
}

ULMStatus ULMVolumeInternal::ResizeBoardBuffer(const ULMVolumeRange& inRange) {
    const ULMStatus written = UpdateVolumeFromCache();
    if (ULMFailed(written)) return written;
    if (m_buffer != nullptr) {
        if (inRange.XSize() <= 0 || inRange.YSize() <= 0 || inRange.ZSize() <= 0) return kULMErrArgument;
        const ULMStatus status =
            m_board->ResizeBuffer(m_buffer, static_cast<uint32_t>(inRange.XSize()),
                                  static_cast<uint32_t>(inRange.YSize()), static_cast<uint32_t>(inRange.ZSize()));
        if (status != kULMOK) return status;
        for (int axis = 0; axis < 3; ++axis) m_bufferRange.m_size[axis] = inRange.m_size[axis];
    }
    if (inRange.XOrigin() % 2 != 0 || inRange.YOrigin() % 2 != 0 || inRange.ZOrigin() % 2 != 0)
        return kULMErrArgument;
    return ApplyAddressing(kULMOffsetAddress, inRange.XOrigin(), inRange.YOrigin(), inRange.ZOrigin());
}

ULMStatus ULMVolumeInternal::ResizeBuffer(unsigned inX, unsigned inY, unsigned inZ) {
    return ChangeBuffer([&] { return ResizeBoardBuffer(inX, inY, inZ); });
}

ULMStatus ULMVolumeInternal::ResizeBoardBuffer(unsigned inX, unsigned inY, unsigned inZ) {
    const ULMStatus written = UpdateVolumeFromCache();
    if (ULMFailed(written)) return written;
    if (m_buffer == nullptr) return kULMErrVolume;
    if (inX > INT32_MAX || inY > INT32_MAX || inZ > INT32_MAX) return kULMErrArgument;
    const ULMStatus status = m_board->ResizeBuffer(m_buffer, inX, inY, inZ);
    if (status != kULMOK) return status;
    m_bufferRange.XSize() = static_cast<int32_t>(inX);
    m_bufferRange.YSize() = static_cast<int32_t>(inY);
    m_bufferRange.ZSize() = static_cast<int32_t>(inZ);
    return kULMOK;
}

ULMStatus ULMVolumeInternal::ResizeSource(const ULMVolumeRange& inNewRange) {
    if (!m_volumeSource->CanResize() || m_volumeSource->Resize(inNewRange) != kULMOK) return kULMErrCantResize;
    if (!m_wholeVolume.Contains(inNewRange)) m_fullyLoaded = false;
    m_loadedVolume.Intersect(inNewRange);
    m_wholeVolume = inNewRange;
    return kULMOK;
}

ULMStatus ULMVolumeInternal::Resize(const ULMVolumeRange& inNewRange, int inResizeBuffer) {
    return ChangeBuffer([&] {
        const ULMStatus status = ResizeSource(inNewRange);
        return status == kULMOK && inResizeBuffer ? ResizeBoardBuffer(inNewRange) : status;
    });
}

ULMStatus ULMVolumeInternal::Resize(unsigned inX, unsigned inY, unsigned inZ, int inResizeBuffer) {
    if (inX > INT32_MAX || inY > INT32_MAX || inZ > INT32_MAX) return kULMErrCantResize;
    return ChangeBuffer([&] {
        const ULMStatus status = ResizeSource(ULMVolumeRange(static_cast<int>(inX), static_cast<int>(inY),
                                                             static_cast<int>(inZ), m_wholeVolume.XOrigin(),
                                                             m_wholeVolume.YOrigin(), m_wholeVolume.ZOrigin()));
        return status == kULMOK && inResizeBuffer ? ResizeBoardBuffer(inX, inY, inZ) : status;
    });
}

// ---- Lock, prepare, finish ----

void ULMVolumeInternal::ReleaseKeptMapping() {
    if (!m_releaseMapping) return;
    m_volumeSource->ReleaseVoxels(m_mapAddress);
    m_releaseMapping = false;
    m_mapAddress = nullptr;
}

ULMStatus ULMVolumeInternal::WaitForVolumeLoaded() {
    const ULMStatus status = m_waitForLoad.Wait(-1);
    m_waitForLoad = ULMSyncEvent(kULMOK);
    ReleaseKeptMapping();
    return status;
}

ULMStatus ULMVolumeInternal::LoadFromSourceNow(const ULMVolumeRange& inRange) {
    // A lazy load still in flight keeps a source mapping; it goes first.
    WaitForVolumeLoaded();
    const ULMStatus status = StartUpdateBufferFromSource(inRange, m_volumeSource, inRange.XOrigin(),
                                                         inRange.YOrigin(), inRange.ZOrigin())
                                 .Wait(-1);
    ReleaseKeptMapping();
    return status;
}

ULMStatus ULMVolumeInternal::LockVolume(ULMLocation inLocation) {
    ULMRecursiveLock hold(m_bufferLock);
    if (m_mapCount > 0 || m_locked) return kULMErrVolume;
    return ChangeBuffer([&] { return LockOnBoard(inLocation); });
}

ULMStatus ULMVolumeInternal::LockOnBoard(ULMLocation inLocation) {
    ULMStatus status = AllocateBuffer(inLocation, m_wholeVolume);
    if (status != kULMOK) return status;
    if (m_hasData) {
        const bool allThere = m_partlyLoaded && m_loadedVolume.Contains(m_wholeVolume);
        const ULMVolumeRange load = allThere ? m_volumeSource->ChangedRange(m_wholeVolume) : m_wholeVolume;
        m_volumeSource->ResetChangedRange();
        status = LoadFromSourceNow(load);
        if (status != kULMOK) {
            m_fullyLoaded = m_partlyLoaded = false;
            ReleaseBoardBuffer();
            return status;
        }
    }
    m_locked = m_fullyLoaded = m_partlyLoaded = true;
    m_loadedVolume = m_wholeVolume;
    m_target = kULMBuffer;
    IncSerial();
    return kULMOK;
}

ULMStatus ULMVolumeInternal::UnlockVolume(int) {
    ULMRecursiveLock hold(m_bufferLock);
    if (m_mapCount > 0 || !m_locked) return kULMErrVolume;
    return ChangeBuffer([&] {
        ReleaseBoardBuffer();
        m_locked = false;
        m_target = kULMSource;
        IncSerial();
        return kULMOK;
    });
}

ULMStatus ULMVolumeInternal::PrepareVolume(ULMLocation inWhere) {
    if (!m_hasData && m_buffer == nullptr) return kULMErrVolume;
    m_FinishWithVolumeShouldReleaseVolume = m_buffer == nullptr;
    m_currentSubVolume = m_wholeVolume;
    if (!m_renderFullVolume) m_currentSubVolume.Intersect(m_userSubVolume);
    if (m_buffer == nullptr) {
        const ULMStatus status = AllocateBuffer(inWhere, m_wholeVolume);
        if (status != kULMOK) return status;
    } else if (m_bufferAddressMode == kULMOffsetAddress) {
        m_currentSubVolume.Intersect(m_bufferRange);
    }
    if (m_currentSubVolume.IsEmpty()) {
        m_buffer->SetRange(kNothingValid);
        return kULMOK;
    }
    m_buffer->SetRange(ULMRange(m_currentSubVolume));
    ULMVolumeRange load;
    if (!(m_partlyLoaded && m_loadedVolume.Contains(m_currentSubVolume))) load = m_currentSubVolume;
    const ULMVolumeRange changed = m_volumeSource->ChangedRange(m_currentSubVolume);
    if (!changed.IsEmpty()) load.Union(changed);
    m_volumeSource->ResetChangedRange();
    if (load.IsEmpty()) return kULMOK;

    m_partlyLoaded = m_fullyLoaded = false;
    // The previous load's source mapping is let go before a new one is kept.
    WaitForVolumeLoaded();
    if (m_hasData) {
        const ULMSyncEvent event =
            StartUpdateBufferFromSource(load, m_volumeSource, load.XOrigin(), load.YOrigin(), load.ZOrigin());
        if (ULMFailed(event.Status())) {
            ReleaseKeptMapping();
            return event.Status();
        }
        m_waitForLoad = event;
    }
    m_loadedVolume = m_currentSubVolume;
    m_partlyLoaded = true;
    m_fullyLoaded = m_currentSubVolume.Contains(m_wholeVolume);
    return kULMOK;
}

ULMStatus ULMVolumeInternal::FinishWithVolume() {
    if (!m_FinishWithVolumeShouldReleaseVolume) return kULMOK;
    m_FinishWithVolumeShouldReleaseVolume = false;
    return ReleaseBoardBuffer();
}

// ---- Render entry points ----

ULMStatus ULMVolumeInternal::Render(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                    ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                    ULMDepthBuffer* ioDepth1) {
    const ULMStatus status = StartRender(inContext, ioColor0, ioDepth0, ioColor1, ioDepth1).Status();
    return status == kULMInProgress ? kULMOK : status;
}

ULMStatus ULMVolumeInternal::RenderMPR(const ULMContext* inContext, double inNegativeDistance, int inQuality,
                                       MPRMode inMode, ULMImageBuffer* ioImage) {
    const ULMStatus status =
        StartRenderMPR(inContext, inNegativeDistance, inQuality, inMode, ioImage).Status();
    return status == kULMInProgress ? kULMOK : status;
}

}  // namespace ulm3
