// How a volume gets, keeps, re-attaches, resizes and gives up its board
// buffer, locks onto a board, and is made ready for a render.
#include <cstdint>
#include <new>
#include <vector>

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
        if (Relocate(kULMOffsetAddress, inSubVolume.XOrigin(), inSubVolume.YOrigin(), inSubVolume.ZOrigin(),
                     nullptr) == kULMOK)
            return kULMOK;
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
    // The volume's own buffer again: its voxels lie as they were laid when it
    // let the buffer go, and an addressing set since then moves them.
    const bool again = m_buffer == nullptr && inBufferID == m_bufferID;
    const ULMAddressMode wanted = m_bufferAddressMode;
    const int32_t wantedAddress[3] = {m_bufferRange.m_origin[0], m_bufferRange.m_origin[1], m_bufferRange.m_origin[2]};
    ReleaseBoardBuffer();
    m_sourceBufferSerial = 0;
    m_board = board;
    m_buffer = attached;
    m_bufferID = inBufferID;
    m_bufferLocation = static_cast<ULMLocation>(boardNumber);
    for (int axis = 0; axis < 3; ++axis) m_bufferRange.m_size[axis] = static_cast<int32_t>(sizes[axis]);
    if (again) {
        m_bufferAddressMode = m_releasedAddressMode;
        for (int axis = 0; axis < 3; ++axis) m_bufferRange.m_origin[axis] = m_releasedAddress[axis];
    }
    // The addressing the volume had is kept for the buffer it now uses.
    status = attached->SetOffsetOrWrap(m_bufferAddressMode == kULMWrapAddress, m_bufferRange.XOrigin(),
                                       m_bufferRange.YOrigin(), m_bufferRange.ZOrigin());
    if (m_bufferPermission != KWBBoard::GetBufferPermission(attached)) ApplyBufferPermission(m_bufferPermission);
    m_bufferValid = true;
    if (status == kULMOK && again)
        status = Relocate(wanted, wantedAddress[0], wantedAddress[1], wantedAddress[2], nullptr);
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
        m_releasedAddressMode = m_bufferAddressMode;
        for (int axis = 0; axis < 3; ++axis) m_releasedAddress[axis] = m_bufferRange.m_origin[axis];
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

namespace {

// The voxels a buffer of inSizes can hold without two of them sharing an
// element: in offset mode the box of its sizes from the offsets, in wrap
// mode inWanted itself when it lies within one period per axis and the
// elements it takes exist. Empty when it cannot hold inWanted whole.
ULMVolumeRange Holdable(ULMAddressMode inMode, const int32_t inParameters[3], const int32_t inSizes[3],
                        const ULMVolumeRange& inWanted) {
    if (inMode == kULMOffsetAddress)
        return ULMVolumeRange(inSizes[0], inSizes[1], inSizes[2], inParameters[0], inParameters[1], inParameters[2]);
    for (int axis = 0; axis < 3; ++axis) {
        const int64_t modulus = inParameters[axis];
        const int64_t start = inWanted.m_origin[axis] & (modulus - 1);
        const int64_t extent = inWanted.m_size[axis];
        const bool inPeriod = start + extent <= modulus;
        if (extent > modulus || (inPeriod ? start + extent : modulus) > inSizes[axis]) return ULMVolumeRange();
    }
    return inWanted;
}

// Positive sizes, and a last voxel the 32-bit coordinates still hold.
bool IsVolumeRange(const ULMVolumeRange& inRange) {
    for (int axis = 0; axis < 3; ++axis)
        if (inRange.m_size[axis] <= 0 || int64_t{inRange.m_origin[axis]} + inRange.m_size[axis] - 1 > INT32_MAX)
            return false;
    return true;
}

bool Overlaps(const ULMVolumeRange& inA, const ULMVolumeRange& inB) {
    return !inA.IsEmpty() && !inB.IsEmpty() && !ULMVolumeRange::Intersect(inA, inB).IsEmpty();
}

}  // namespace

// The voxels of the volume the buffer holds now: what was loaded or
// written there, as far as the current addressing holds it.
ULMVolumeRange ULMVolumeInternal::HeldVoxels() const {
    if (m_buffer == nullptr) return ULMVolumeRange();
    ULMVolumeRange held = m_partlyLoaded ? m_loadedVolume : ULMVolumeRange();
    if (!m_changedBuffer.IsEmpty()) held = held.IsEmpty() ? m_changedBuffer : held.Union(m_changedBuffer);
    held.Intersect(m_wholeVolume);
    if (held.IsEmpty()) return ULMVolumeRange();
    return ULMVolumeRange::Intersect(held, Holdable(m_bufferAddressMode, m_bufferRange.m_origin, m_bufferRange.m_size,
                                                    held));
}

// A new addressing (and size) moves the board's elements under the voxel
// coordinates, so the voxels the buffer holds go through host memory and
// come back at their own coordinates, as far as the new addressing holds
// them. A wrap that cannot hold them all is refused with nothing changed;
// an offset window keeps the part inside it. The YZ cache is written back
// under the old addressing first.
ULMStatus ULMVolumeInternal::Relocate(ULMAddressMode inMode, int inX, int inY, int inZ, const int32_t* inSizes) {
    const ULMStatus written = UpdateVolumeFromCache();
    if (ULMFailed(written)) return written;
    const int32_t parameters[3] = {inX, inY, inZ};
    if (m_buffer == nullptr) {
        m_bufferAddressMode = inMode;
        for (int axis = 0; axis < 3; ++axis) m_bufferRange.m_origin[axis] = parameters[axis];
        return kULMOK;
    }
    const int32_t* sizes = inSizes != nullptr ? inSizes : m_bufferRange.m_size;
    bool same = inMode == m_bufferAddressMode;
    for (int axis = 0; axis < 3; ++axis)
        same = same && parameters[axis] == m_bufferRange.m_origin[axis] && sizes[axis] == m_bufferRange.m_size[axis];
    if (same) return m_buffer->SetOffsetOrWrap(inMode == kULMWrapAddress, inX, inY, inZ);
    const ULMVolumeRange held = HeldVoxels();
    const ULMVolumeRange kept =
        held.IsEmpty() ? ULMVolumeRange() : ULMVolumeRange::Intersect(held, Holdable(inMode, parameters, sizes, held));
    if (inMode == kULMWrapAddress && !held.IsEmpty() && kept.IsEmpty()) return kULMErrArgument;

    std::vector<char> saved;
    const uint32_t bytes = static_cast<uint32_t>(m_voxelSizeBytes);
    if (!kept.IsEmpty()) {
        try {
            saved.resize(size_t(held.XSize()) * size_t(held.YSize()) * size_t(held.ZSize()) * bytes);
        } catch (const std::bad_alloc&) {
            return kULMErrAlloc;
        }
        const ULMStatus unloaded = m_board->UnloadBuffer(m_buffer, saved.data(), ULMRange(held), 0, 0,
                                                         KWBBoard::kPlainHostMemory);
        if (unloaded != kULMOK) return unloaded;
    }
    if (inSizes != nullptr) {
        const ULMStatus resized = m_board->ResizeBuffer(m_buffer, static_cast<uint32_t>(inSizes[0]),
                                                        static_cast<uint32_t>(inSizes[1]),
                                                        static_cast<uint32_t>(inSizes[2]));
        if (resized != kULMOK) return resized;
        for (int axis = 0; axis < 3; ++axis) m_bufferRange.m_size[axis] = inSizes[axis];
    }
    const ULMStatus addressed = m_buffer->SetOffsetOrWrap(inMode == kULMWrapAddress, inX, inY, inZ);
    if (addressed != kULMOK) return addressed;
    const bool hostMatched = HostDataMatchesBuffer();
    m_bufferAddressMode = inMode;
    for (int axis = 0; axis < 3; ++axis) m_bufferRange.m_origin[axis] = parameters[axis];
    m_bufferSerial = NextSerial(m_bufferSerial);
    if (hostMatched) m_sourceBufferSerial = m_bufferSerial;
    m_loadedVolume = kept;
    m_changedBuffer = Overlaps(m_changedBuffer, kept) ? ULMVolumeRange::Intersect(m_changedBuffer, kept)
                                                       : ULMVolumeRange();
    m_partlyLoaded = !kept.IsEmpty();
    m_fullyLoaded = m_partlyLoaded && kept.Contains(m_wholeVolume);
    if (kept.IsEmpty()) return kULMOK;
    const size_t skip = ((size_t(kept.ZOrigin() - held.ZOrigin()) * size_t(held.YSize()) +
                          size_t(kept.YOrigin() - held.YOrigin())) * size_t(held.XSize()) +
                         size_t(kept.XOrigin() - held.XOrigin())) * bytes;
    const ULMStatus loaded = m_board->LoadBuffer(m_buffer, saved.data() + skip, ULMRange(kept),
                                                 static_cast<uint32_t>(held.XSize()),
                                                 static_cast<uint32_t>(held.YSize()), KWBBoard::kPlainHostMemory);
    if (loaded != kULMOK) {
        m_loadedVolume = ULMVolumeRange();
        m_partlyLoaded = m_fullyLoaded = false;
    }
    return loaded;
}

ULMStatus ULMVolumeInternal::SetBufferWrap(int inModulusX, int inModulusY, int inModulusZ) {
    if (!IsPowerOfTwo(inModulusX) || !IsPowerOfTwo(inModulusY) || !IsPowerOfTwo(inModulusZ))
        return kULMErrArgument;
    return ChangeBuffer([&] { return Relocate(kULMWrapAddress, inModulusX, inModulusY, inModulusZ, nullptr); });
}

ULMStatus ULMVolumeInternal::SetBufferOffset(int inOffsetX, int inOffsetY, int inOffsetZ) {
    if (inOffsetX % 2 != 0 || inOffsetY % 2 != 0 || inOffsetZ % 2 != 0) return kULMErrArgument;
    return ChangeBuffer([&] { return Relocate(kULMOffsetAddress, inOffsetX, inOffsetY, inOffsetZ, nullptr); });
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

// Checked whole before anything changes: positive sizes, even origins, and
// bounds the board's coordinates hold.
ULMStatus ULMVolumeInternal::ResizeBuffer(const ULMVolumeRange& inRange) {
    if (inRange.IsEmpty() || !BoardAddressable(inRange)) return kULMErrArgument;
    return ChangeBuffer([&] { return ResizeBoardBuffer(inRange); });
}

ULMStatus ULMVolumeInternal::ResizeBoardBuffer(const ULMVolumeRange& inRange) {
    if (inRange.IsEmpty() || !BoardAddressable(inRange)) return kULMErrArgument;
    return Relocate(kULMOffsetAddress, inRange.XOrigin(), inRange.YOrigin(), inRange.ZOrigin(),
                    m_buffer != nullptr ? inRange.m_size : nullptr);
}

ULMStatus ULMVolumeInternal::ResizeBuffer(unsigned inX, unsigned inY, unsigned inZ) {
    return ChangeBuffer([&] { return ResizeBoardBuffer(inX, inY, inZ); });
}

ULMStatus ULMVolumeInternal::ResizeBoardBuffer(unsigned inX, unsigned inY, unsigned inZ) {
    const ULMStatus written = UpdateVolumeFromCache();
    if (ULMFailed(written)) return written;
    if (m_buffer == nullptr) return kULMErrVolume;
    if (inX == 0 || inY == 0 || inZ == 0 || inX > INT16_MAX + 1u || inY > INT16_MAX + 1u || inZ > INT16_MAX + 1u)
        return kULMErrArgument;
    const int32_t sizes[3] = {static_cast<int32_t>(inX), static_cast<int32_t>(inY), static_cast<int32_t>(inZ)};
    return Relocate(m_bufferAddressMode, m_bufferRange.XOrigin(), m_bufferRange.YOrigin(), m_bufferRange.ZOrigin(),
                    sizes);
}

ULMStatus ULMVolumeInternal::ResizeSource(const ULMVolumeRange& inNewRange) {
    if (!m_volumeSource->CanResize() || m_volumeSource->Resize(inNewRange) != kULMOK) return kULMErrCantResize;
    if (!m_wholeVolume.Contains(inNewRange)) m_fullyLoaded = false;
    m_loadedVolume.Intersect(inNewRange);
    m_wholeVolume = inNewRange;
    return kULMOK;
}

// A range that is no volume (a size of 0 or less, a bound past the 32-bit
// coordinates) is refused before the source sees it; so is a buffer range
// the board could not take, before the source changes.
ULMStatus ULMVolumeInternal::Resize(const ULMVolumeRange& inNewRange, int inResizeBuffer) {
    if (!IsVolumeRange(inNewRange) || (inResizeBuffer && !BoardAddressable(inNewRange))) return kULMErrArgument;
    return ChangeBuffer([&] {
        const ULMVolumeRange old = m_wholeVolume;
        ULMStatus status = ResizeSource(inNewRange);
        if (status != kULMOK || !inResizeBuffer) return status;
        // A buffer that cannot follow takes the source back with it.
        status = ResizeBoardBuffer(inNewRange);
        if (ULMFailed(status)) ResizeSource(old);
        return status;
    });
}

ULMStatus ULMVolumeInternal::Resize(unsigned inX, unsigned inY, unsigned inZ, int inResizeBuffer) {
    if (inX > INT32_MAX || inY > INT32_MAX || inZ > INT32_MAX) return kULMErrArgument;
    return ChangeBuffer([&] {
        const ULMVolumeRange range(static_cast<int>(inX), static_cast<int>(inY), static_cast<int>(inZ),
                                   m_wholeVolume.XOrigin(), m_wholeVolume.YOrigin(), m_wholeVolume.ZOrigin());
        if (!IsVolumeRange(range)) return kULMErrArgument;
        const ULMVolumeRange old = m_wholeVolume;
        ULMStatus status = ResizeSource(range);
        if (status != kULMOK || !inResizeBuffer) return status;
        status = ResizeBoardBuffer(inX, inY, inZ);
        if (ULMFailed(status)) ResizeSource(old);
        return status;
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

// Asked to, the buffer's voxels go back into the volume's own first (where
// it has writable ones); a failed unload keeps the lock and the buffer, so
// that the board's updates are not lost. The unload runs before the
// exclusive access, which would shut out its own reads of the buffer.
ULMStatus ULMVolumeInternal::UnlockVolume(int inUnload) {
    ULMRecursiveLock hold(m_bufferLock);
    if (m_mapCount > 0 || !m_locked) return kULMErrVolume;
    const ULMVolumeRange held = inUnload != 0 && m_hasData && !m_readOnly ? HeldVoxels() : ULMVolumeRange();
    if (!held.IsEmpty()) {
        const ULMStatus unloaded =
            StartUpdateVolumeSource(this, held, held.XOrigin(), held.YOrigin(), held.ZOrigin(), kULMUseBuffer)
                .Wait(-1);
        if (unloaded != kULMOK) return unloaded;
    }
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
    // Whatever reads the buffer next must see the YZ slices written to the
    // slab: renders of every kind and board passes come through here.
    const ULMStatus written = UpdateVolumeFromCache();
    if (ULMFailed(written)) return written;
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
