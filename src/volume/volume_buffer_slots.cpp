// The volume's slots for its board buffer: making, attaching, readdressing,
// resizing and giving it up, locking onto a board, and the getters. Each
// slot takes the board copy's lock; the work is the board copy's.
#include <cstdint>

#include "foundation/locks.h"
#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

bool IsPowerOfTwo(int inValue) { return inValue >= 1 && (inValue & (inValue - 1)) == 0; }

// Positive sizes, and a last voxel the 32-bit coordinates still hold.
bool IsVolumeRange(const ULMVolumeRange& inRange) {
    for (int axis = 0; axis < 3; ++axis)
        if (inRange.m_size[axis] <= 0 || int64_t{inRange.m_origin[axis]} + inRange.m_size[axis] - 1 > INT32_MAX)
            return false;
    return true;
}

}  // namespace

ULMStatus ULMVolumeInternal::ChangeBuffer(const std::function<ULMStatus()>& inChange) {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    const ULMStatus granted = AddAccess(kULMAccessWriteExclusive);
    if (granted != kULMOK) return granted;
    const ULMStatus status = inChange();
    ReleaseAccess();
    return status;
}

// ---- Making and giving up ----

ULMStatus ULMVolumeInternal::CreateBuffer(ULMLocation inLocation) { return CreateBuffer(inLocation, m_wholeVolume); }

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
    return ChangeBuffer([&] { return m_boardCopy.CreateLoaded(inLocation, inRange); });
}

ULMStatus ULMVolumeInternal::AllocateBuffer(ULMLocation inLocation) {
    return ChangeBuffer([&] { return m_boardCopy.CreateRecorded(inLocation, m_wholeVolume); });
}

ULMStatus ULMVolumeInternal::AttachBuffer(unsigned long long inBufferID) {
    return ChangeBuffer([&] { return m_boardCopy.Attach(inBufferID); });
}

ULMStatus ULMVolumeInternal::AdoptBuffer(unsigned long long inBufferID) {
    return ChangeBuffer([&] {
        const ULMStatus status = m_boardCopy.Adopt(inBufferID);
        if (status == kULMOK) m_target = kULMBuffer;
        return status;
    });
}

ULMStatus ULMVolumeInternal::ReleaseBuffer() {
    return ChangeBuffer([&] { return m_boardCopy.Release(); });
}

ULMStatus ULMVolumeInternal::SetBufferPermission(ULMPermission inPermission) {
    return ChangeBuffer([&] { return m_boardCopy.SetPermission(inPermission); });
}

// ---- The getters ----

// The getters read under the buffer lock, so that another thread's lock,
// unlock, resize or addressing change is seen whole or not at all.
unsigned long long ULMVolumeInternal::GetBufferID() const {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    return m_boardCopy.ID();
}

void ULMVolumeInternal::GetBufferSize(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    outX = GetBufferSizeX();
    outY = GetBufferSizeY();
    outZ = GetBufferSizeZ();
}

unsigned ULMVolumeInternal::GetBufferSizeX() const { return static_cast<unsigned>(GetBufferRange().XSize()); }
unsigned ULMVolumeInternal::GetBufferSizeY() const { return static_cast<unsigned>(GetBufferRange().YSize()); }
unsigned ULMVolumeInternal::GetBufferSizeZ() const { return static_cast<unsigned>(GetBufferRange().ZSize()); }

ULMVolumeRange ULMVolumeInternal::GetBufferRange() const {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    return m_boardCopy.Range();
}

bool ULMVolumeInternal::IsLocked() const {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    return m_locked;
}

bool ULMVolumeInternal::IsLoaded() const {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    return m_boardCopy.IsLoaded();
}

ULMPermission ULMVolumeInternal::GetBufferPermission() const {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    return m_boardCopy.Permission();
}

ULMAddressMode ULMVolumeInternal::GetBufferAddressMode() const {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    return m_boardCopy.AddressMode();
}

int ULMVolumeInternal::GetBufferAddressParameterX() const {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    return m_boardCopy.Window().XOrigin();
}

int ULMVolumeInternal::GetBufferAddressParameterY() const {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    return m_boardCopy.Window().YOrigin();
}

int ULMVolumeInternal::GetBufferAddressParameterZ() const {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    return m_boardCopy.Window().ZOrigin();
}

void ULMVolumeInternal::GetBufferAddressParameters(ULMAddressMode& outMode, int& outX, int& outY, int& outZ) const {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    outMode = m_boardCopy.AddressMode();
    outX = m_boardCopy.Window().XOrigin();
    outY = m_boardCopy.Window().YOrigin();
    outZ = m_boardCopy.Window().ZOrigin();
}

ULMLocation ULMVolumeInternal::GetBufferLocation() const {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    return m_boardCopy.Location();
}

// ---- Addressing and size ----

ULMStatus ULMVolumeInternal::SetBufferWrap(int inModulusX, int inModulusY, int inModulusZ) {
    if (!IsPowerOfTwo(inModulusX) || !IsPowerOfTwo(inModulusY) || !IsPowerOfTwo(inModulusZ))
        return kULMErrArgument;
    return ChangeBuffer(
        [&] { return m_boardCopy.Relocate(kULMWrapAddress, inModulusX, inModulusY, inModulusZ, nullptr); });
}

ULMStatus ULMVolumeInternal::SetBufferOffset(int inOffsetX, int inOffsetY, int inOffsetZ) {
    if (inOffsetX % 2 != 0 || inOffsetY % 2 != 0 || inOffsetZ % 2 != 0) return kULMErrArgument;
    return ChangeBuffer(
        [&] { return m_boardCopy.Relocate(kULMOffsetAddress, inOffsetX, inOffsetY, inOffsetZ, nullptr); });
}

ULMStatus ULMVolumeInternal::SetBufferAddressParameters(ULMAddressMode inMode, int inX, int inY, int inZ) {
    if (inMode == kULMOffsetAddress) return SetBufferOffset(inX, inY, inZ);
    if (inMode == kULMWrapAddress) return SetBufferWrap(inX, inY, inZ);
    return kULMErrArgument;
}

// Checked whole before anything changes: positive sizes, even origins, and
// bounds the board's coordinates hold.
ULMStatus ULMVolumeInternal::ResizeBuffer(const ULMVolumeRange& inRange) {
    if (inRange.IsEmpty() || !ULMVolumeBoardCopy::Addressable(inRange)) return kULMErrArgument;
    return ChangeBuffer([&] { return m_boardCopy.ResizeTo(inRange); });
}

ULMStatus ULMVolumeInternal::ResizeBuffer(unsigned inX, unsigned inY, unsigned inZ) {
    return ChangeBuffer([&] { return m_boardCopy.ResizeTo(inX, inY, inZ); });
}

ULMStatus ULMVolumeInternal::ResizeSource(const ULMVolumeRange& inNewRange) {
    if (!m_volumeSource->CanResize() || m_volumeSource->Resize(inNewRange) != kULMOK) return kULMErrCantResize;
    m_boardCopy.SourceResized(inNewRange);
    m_wholeVolume = inNewRange;
    return kULMOK;
}

// A range that is no volume (a size of 0 or less, a bound past the 32-bit
// coordinates) is refused before the source sees it; so is a buffer range
// the board could not take, before the source changes.
ULMStatus ULMVolumeInternal::Resize(const ULMVolumeRange& inNewRange, int inResizeBuffer) {
    if (!IsVolumeRange(inNewRange) || (inResizeBuffer && !ULMVolumeBoardCopy::Addressable(inNewRange)))
        return kULMErrArgument;
    return ChangeBuffer([&] {
        const ULMVolumeRange old = m_wholeVolume;
        ULMStatus status = ResizeSource(inNewRange);
        if (status != kULMOK || !inResizeBuffer) return status;
        // A buffer that cannot follow takes the source back with it.
        status = m_boardCopy.ResizeTo(inNewRange);
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
        status = m_boardCopy.ResizeTo(inX, inY, inZ);
        if (ULMFailed(status)) ResizeSource(old);
        return status;
    });
}

// ---- Lock ----

ULMStatus ULMVolumeInternal::LockVolume(ULMLocation inLocation) {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    if (m_mapCount > 0 || m_locked) return kULMErrVolume;
    return ChangeBuffer([&] { return LockOnBoard(inLocation); });
}

ULMStatus ULMVolumeInternal::LockOnBoard(ULMLocation inLocation) {
    const ULMStatus status = m_boardCopy.LoadWhole(inLocation);
    if (status != kULMOK) return status;
    m_locked = true;
    m_target = kULMBuffer;
    IncSerial();
    return kULMOK;
}

// Asked to, the buffer's voxels go back into the volume's own first (where
// it has writable ones); a failed unload keeps the lock and the buffer, so
// that the board's updates are not lost. The unload runs before the
// exclusive access, which would shut out its own reads of the buffer.
ULMStatus ULMVolumeInternal::UnlockVolume(int inUnload) {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    if (m_mapCount > 0 || !m_locked) return kULMErrVolume;
    const ULMVoxelRegion held = inUnload != 0 && m_hasData && !m_readOnly ? m_boardCopy.HeldVoxels() : ULMVoxelRegion();
    for (const ULMVolumeRange& box : held.Boxes()) {
        const ULMStatus unloaded =
            StartUpdateVolumeSource(this, box, box.XOrigin(), box.YOrigin(), box.ZOrigin(), kULMUseBuffer).Wait(-1);
        if (unloaded != kULMOK) return unloaded;
    }
    return ChangeBuffer([&] {
        m_boardCopy.Release();
        m_locked = false;
        m_target = kULMSource;
        IncSerial();
        return kULMOK;
    });
}

// ---- Render entry points ----

ULMStatus ULMVolumeInternal::Render(const ULMContext* inContext, ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0,
                                    ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1) {
    return ULMStatusOnceQueued(StartRender(inContext, ioColor0, ioDepth0, ioColor1, ioDepth1));
}

ULMStatus ULMVolumeInternal::RenderMPR(const ULMContext* inContext, double inNegativeDistance, int inQuality,
                                       MPRMode inMode, ULMImageBuffer* ioImage) {
    return ULMStatusOnceQueued(StartRenderMPR(inContext, inNegativeDistance, inQuality, inMode, ioImage));
}

}  // namespace ulm3
