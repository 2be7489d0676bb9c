// The mipmap volume's answers to the rest of the volume interface: the
// wrapper's own copy of the volume's properties, level 0 (which makes the
// levels stale when its voxels or buffer may change), every level, and the
// passes of level 0 into other volumes.
#include <cmath>

#include "foundation/enumeration_checks.h"
#include "foundation/field_conversions.h"
#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "resample/mipmap_volume.h"
#include "volume/volume_forwarding.h"

namespace ulm3 {

namespace {

bool ValidExtendMode(ULMVolume::ExtendMode inMode) {
    return inMode == ULMVolume::kExtendWithBorder || inMode == ULMVolume::kExtendWithEdge;
}

}  // namespace

std::span<ULMVolume* const> ULMMipmapVolume::Level0() const {
    // Level 0's volume is fixed from construction on: no lock needed.
    if (m_level[0].volume == nullptr) return {};
    return {&m_level[0].volume, 1};
}

ULMStatus ULMMipmapVolume::Level0UpToDate(ULMVolume*& outLevel0) {
    ULMRecursiveLock hold(m_lock);
    outLevel0 = m_level[0].volume;
    if (outLevel0 == nullptr) return kULMErrVolume;
    return m_level[0].stateSerial == m_stateSerial ? kULMOK : SetLevelState(0);
}

template <class T>
ULMStatus ULMMipmapVolume::StoreState(T& ioStored, const T& inValue) {
    if (ioStored == inValue) return kULMOK;
    ioStored = inValue;
    m_stateSerial = NextSerial(m_stateSerial);
    return kULMOK;
}

ULMSource ULMMipmapVolume::ResolveSource(ULMSource inSource) const {
    if (inSource != kULMUseTarget) return inSource;
    return GetTarget() == kULMBuffer ? kULMUseBuffer : kULMUseSource;
}

template <typename Change>
ULMStatus ULMMipmapVolume::ChangeLevel0(Change&& inChange) {
    const ULMStatus status = ULMForwardSetter(Level0(), kULMErrVolume, inChange);
    StaleLevels();
    return status;
}

// ---- From the wrapper's copy ----

bool ULMMipmapVolume::IsReadOnly() const { return m_readOnly; }
unsigned int ULMMipmapVolume::GetFormat() const { return m_format; }
ULMVolume::Layout ULMMipmapVolume::GetLayout() const { return m_layout; }

ULMVolumeRange ULMMipmapVolume::GetRange() const {
    ULMRecursiveLock hold(m_lock);
    return m_range;
}

void ULMMipmapVolume::GetSize(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    const ULMVolumeRange range = GetRange();
    outX = static_cast<unsigned>(range.XSize());
    outY = static_cast<unsigned>(range.YSize());
    outZ = static_cast<unsigned>(range.ZSize());
}

unsigned ULMMipmapVolume::GetSizeX() const { return static_cast<unsigned>(GetRange().XSize()); }
unsigned ULMMipmapVolume::GetSizeY() const { return static_cast<unsigned>(GetRange().YSize()); }
unsigned ULMMipmapVolume::GetSizeZ() const { return static_cast<unsigned>(GetRange().ZSize()); }
int ULMMipmapVolume::GetVoxelSize() const { return m_voxelSize; }

ULMFieldDescriptor ULMMipmapVolume::GetFieldDescriptor(ULMFieldNumber inField) const {
    if (inField < 0 || inField > 3) return ULMFieldDescriptor();
    ULMRecursiveLock hold(m_lock);
    return m_fields[inField];
}

ULMMatrix ULMMipmapVolume::GetCorrectionMatrix() const {
    ULMRecursiveLock hold(m_lock);
    return m_correctionMatrix;
}

ULMMatrix ULMMipmapVolume::GetModelMatrix() const { return GetCorrectionMatrix(); }

ULMVolumeRange ULMMipmapVolume::GetActiveSubVolume() const {
    ULMRecursiveLock hold(m_lock);
    return m_activeSubvolume;
}

unsigned ULMMipmapVolume::GetActiveSubVolumeSizeX() const { return static_cast<unsigned>(GetActiveSubVolume().XSize()); }
unsigned ULMMipmapVolume::GetActiveSubVolumeSizeY() const { return static_cast<unsigned>(GetActiveSubVolume().YSize()); }
unsigned ULMMipmapVolume::GetActiveSubVolumeSizeZ() const { return static_cast<unsigned>(GetActiveSubVolume().ZSize()); }
unsigned ULMMipmapVolume::GetActiveSubVolumeOriginX() const {
    return static_cast<unsigned>(GetActiveSubVolume().XOrigin());
}
unsigned ULMMipmapVolume::GetActiveSubVolumeOriginY() const {
    return static_cast<unsigned>(GetActiveSubVolume().YOrigin());
}
unsigned ULMMipmapVolume::GetActiveSubVolumeOriginZ() const {
    return static_cast<unsigned>(GetActiveSubVolume().ZOrigin());
}

void ULMMipmapVolume::GetActiveSubVolumeSize(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    const ULMVolumeRange active = GetActiveSubVolume();
    outX = static_cast<unsigned>(active.XSize());
    outY = static_cast<unsigned>(active.YSize());
    outZ = static_cast<unsigned>(active.ZSize());
}

void ULMMipmapVolume::GetActiveSubVolumeOrigin(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    const ULMVolumeRange active = GetActiveSubVolume();
    outX = static_cast<unsigned>(active.XOrigin());
    outY = static_cast<unsigned>(active.YOrigin());
    outZ = static_cast<unsigned>(active.ZOrigin());
}

unsigned ULMMipmapVolume::GetBorderValue() const {
    ULMRecursiveLock hold(m_lock);
    return m_border;
}

void ULMMipmapVolume::GetExtendModes(ExtendMode& outX, ExtendMode& outY, ExtendMode& outZ) const {
    ULMRecursiveLock hold(m_lock);
    outX = m_extendModes[0];
    outY = m_extendModes[1];
    outZ = m_extendModes[2];
}

ULMVolume::ExtendMode ULMMipmapVolume::GetExtendModeX() const {
    ULMRecursiveLock hold(m_lock);
    return m_extendModes[0];
}

ULMVolume::ExtendMode ULMMipmapVolume::GetExtendModeY() const {
    ULMRecursiveLock hold(m_lock);
    return m_extendModes[1];
}

ULMVolume::ExtendMode ULMMipmapVolume::GetExtendModeZ() const {
    ULMRecursiveLock hold(m_lock);
    return m_extendModes[2];
}

// Level 0's target is the one its updates go to: a multiboard level 0 puts
// its copies on the boards, and takes its buffer as target, on its first
// render, which the wrapper does not see. Unloads from the target must read
// where those updates went, as IsLocked answers for level 0.
ULMTarget ULMMipmapVolume::GetTarget() const {
    const std::span<ULMVolume* const> level0 = Level0();
    if (!level0.empty()) return level0[0]->GetTarget();
    ULMRecursiveLock hold(m_lock);
    return m_target;
}

void ULMMipmapVolume::GetSpaceLeapingParameters(SpaceLeapingMode& outMode, double& outRed, double& outGreen,
                                                double& outBlue, double& outAlpha) const {
    ULMRecursiveLock hold(m_lock);
    outMode = m_spaceLeapingMode;
    outRed = m_spaceLeapingThreshold[0];
    outGreen = m_spaceLeapingThreshold[1];
    outBlue = m_spaceLeapingThreshold[2];
    outAlpha = m_spaceLeapingThreshold[3];
}

// ---- Setters of the copied state: checked, then stored on a change ----

ULMStatus ULMMipmapVolume::SetFieldDescriptor(ULMFieldNumber inField, const ULMFieldDescriptor& inDescriptor) {
    if (inField < 0 || inField > 3) return kULMErrArgument;
    if (!IsValidFieldDescriptor(inDescriptor, m_voxelSize, 16)) return kULMErrFormat;
    ULMRecursiveLock hold(m_lock);
    return StoreState(m_fields[inField], inDescriptor);
}

// As the plain volume: a matrix that is singular or not finite would only
// fail later, in every render of every level.
ULMStatus ULMMipmapVolume::SetCorrectionMatrix(const ULMMatrix& inMatrix) {
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            if (!std::isfinite(inMatrix[row][column])) return kULMErrArgument;
    if (inMatrix.IsSingular()) return kULMErrArgument;
    ULMRecursiveLock hold(m_lock);
    return StoreState(m_correctionMatrix, inMatrix);
}

ULMStatus ULMMipmapVolume::SetModelMatrix(const ULMMatrix& inMatrix) { return SetCorrectionMatrix(inMatrix); }

ULMStatus ULMMipmapVolume::SetActiveSubVolume(const ULMVolumeRange& inRange) {
    ULMRecursiveLock hold(m_lock);
    if (!m_range.Contains(inRange)) return kULMErrArgument;
    return StoreState(m_activeSubvolume, inRange);
}

// Sizes 0 reset the sub-volume to the whole volume; the levels are told as
// of any other change, or they would keep drawing the old sub-volume.
ULMStatus ULMMipmapVolume::SetActiveSubVolumeSize(unsigned inX, unsigned inY, unsigned inZ) {
    ULMRecursiveLock hold(m_lock);
    ULMVolumeRange active = m_activeSubvolume;
    if (inX == 0 && inY == 0 && inZ == 0) {
        active.Reset();
    } else {
        if (inX == 0 || inX > GetSizeX() || inY == 0 || inY > GetSizeY() || inZ == 0 || inZ > GetSizeZ())
            return kULMErrArgument;
        active.XSize() = static_cast<int32_t>(inX);
        active.YSize() = static_cast<int32_t>(inY);
        active.ZSize() = static_cast<int32_t>(inZ);
    }
    return StoreState(m_activeSubvolume, active);
}

ULMStatus ULMMipmapVolume::SetActiveSubVolumeOrigin(unsigned inX, unsigned inY, unsigned inZ) {
    ULMRecursiveLock hold(m_lock);
    ULMVolumeRange active = m_activeSubvolume;
    if (inX == GetActiveSubVolumeOriginX() && inY == GetActiveSubVolumeOriginY() && inZ == GetActiveSubVolumeOriginZ())
        return kULMOK;
    if (inX >= static_cast<unsigned>(active.XSize()) || inY >= static_cast<unsigned>(active.YSize()) ||
        inZ >= static_cast<unsigned>(active.ZSize()))
        return kULMErrArgument;
    active.XOrigin() = static_cast<int32_t>(inX);
    active.YOrigin() = static_cast<int32_t>(inY);
    active.ZOrigin() = static_cast<int32_t>(inZ);
    return StoreState(m_activeSubvolume, active);
}

ULMStatus ULMMipmapVolume::SetBorderValue(unsigned inValue) {
    ULMRecursiveLock hold(m_lock);
    return StoreState(m_border, inValue);
}

ULMStatus ULMMipmapVolume::SetExtendMode(ExtendMode inMode) { return SetExtendModes(inMode, inMode, inMode); }

ULMStatus ULMMipmapVolume::SetExtendModes(ExtendMode inX, ExtendMode inY, ExtendMode inZ) {
    if (!ValidExtendMode(inX) || !ValidExtendMode(inY) || !ValidExtendMode(inZ)) return kULMErrArgument;
    ULMRecursiveLock hold(m_lock);
    bool changed = false;
    const ExtendMode modes[3] = {inX, inY, inZ};
    for (int a = 0; a < 3; ++a) changed = changed || m_extendModes[a] != modes[a];
    if (!changed) return kULMOK;
    for (int a = 0; a < 3; ++a) m_extendModes[a] = modes[a];
    m_stateSerial = NextSerial(m_stateSerial);
    return kULMOK;
}

// The plain volume's checks: a mode of 0 or 1, no threshold above 1.0 and
// none that is not a number.
ULMStatus ULMMipmapVolume::SetSpaceLeapingParameters(SpaceLeapingMode inMode, double inRed, double inGreen,
                                                     double inBlue, double inAlpha) {
    const double thresholds[4] = {inRed, inGreen, inBlue, inAlpha};
    if (inMode != kSpaceLeapingNone && inMode != kSpaceLeapingOn) return kULMErrArgument;
    for (const double t : thresholds)
        if (!(t <= 1.0)) return kULMErrArgument;
    ULMRecursiveLock hold(m_lock);
    bool changed = inMode != m_spaceLeapingMode;
    for (int i = 0; i < 4; ++i) changed = changed || thresholds[i] != m_spaceLeapingThreshold[i];
    if (!changed) return kULMOK;
    m_spaceLeapingMode = inMode;
    for (int i = 0; i < 4; ++i) m_spaceLeapingThreshold[i] = thresholds[i];
    m_stateSerial = NextSerial(m_stateSerial);
    return kULMOK;
}

// Level 0's own target follows the wrapper's, so that every update, map and
// unload of level 0 goes where the wrapper's target says.
ULMStatus ULMMipmapVolume::SetTarget(ULMTarget inTarget) {
    if (inTarget != kULMSource && inTarget != kULMBuffer) return kULMErrArgument;
    ULMRecursiveLock hold(m_lock);
    m_target = inTarget;
    return ULMForwardSetter(Level0(), kULMOK, [&](ULMVolume& level0, int) { return level0.SetTarget(inTarget); });
}

// ---- Level 0, which then holds other voxels or another buffer ----

ULMStatus ULMMipmapVolume::LockVolume(ULMLocation inLocation) {
    if (Level0().empty() || IsLocked()) return kULMErrVolume;
    const ULMStatus status =
        ULMForwardSetter(Level0(), kULMErrVolume, [&](ULMVolume& level0, int) { return level0.LockVolume(inLocation); });
    if (ULMFailed(status)) return status;
    ULMRecursiveLock hold(m_lock);
    StaleLevels();
    m_target = kULMBuffer;
    return status;
}

ULMStatus ULMMipmapVolume::Update(const void* inVoxels, const ULMVolumeRange& inDestinationRange) {
    return StartUpdate(inVoxels, inDestinationRange).Wait(-1);
}

ULMStatus ULMMipmapVolume::Update(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange, int inSourceX,
                                  int inSourceY, int inSourceZ, ULMSource inSource) {
    return StartUpdate(inVolume, inDestinationRange, inSourceX, inSourceY, inSourceZ, inSource).Wait(-1);
}

ULMStatus ULMMipmapVolume::UpdateField(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                                       const ULMFieldDescriptor& inDestinationField) {
    return StartUpdateField(inVoxels, inVolumeRange, inDestinationField).Wait(-1);
}

// Whatever the target, level 0's voxels change (in its source, which its
// next load reads, or in its buffer), and so do the levels made from them.
// The serial advances once the update is queued: a level generated before
// that is stale, one generated after reads the new voxels.
ULMSyncEvent ULMMipmapVolume::StartUpdate(const void* inVoxels, const ULMVolumeRange& inDestinationRange) {
    const ULMSyncEvent event = ULMForwardStart(
        Level0(), kULMErrVolume, [&](ULMVolume& level0, int) { return level0.StartUpdate(inVoxels, inDestinationRange); });
    StaleLevels();
    return event;
}

ULMSyncEvent ULMMipmapVolume::StartUpdate(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange,
                                          int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource) {
    const ULMVolume* from = inVolume == this && !Level0().empty() ? Level0()[0] : inVolume;
    const ULMSyncEvent event = ULMForwardStart(Level0(), kULMErrVolume, [&](ULMVolume& level0, int) {
        return level0.StartUpdate(from, inDestinationRange, inSourceX, inSourceY, inSourceZ, inSource);
    });
    StaleLevels();
    return event;
}

ULMSyncEvent ULMMipmapVolume::StartUpdateField(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                                               const ULMFieldDescriptor& inDestinationField) {
    const ULMSyncEvent event = ULMForwardStart(Level0(), kULMErrVolume, [&](ULMVolume& level0, int) {
        return level0.StartUpdateField(inVoxels, inVolumeRange, inDestinationField);
    });
    StaleLevels();
    return event;
}

ULMStatus ULMMipmapVolume::UpdateVolume(unsigned int inFormat, const void* inVoxels, unsigned inTargetX,
                                        unsigned inTargetY, unsigned inTargetZ, unsigned inSizeX, unsigned inSizeY,
                                        unsigned inSizeZ, Layout inLayout) {
    return ChangeLevel0([&](ULMVolume& level0, int) {
        return level0.UpdateVolume(inFormat, inVoxels, inTargetX, inTargetY, inTargetZ, inSizeX, inSizeY, inSizeZ,
                                   inLayout);
    });
}

ULMStatus ULMMipmapVolume::AfterMap(ULMAccessType inAccess, ULMStatus inStatus) {
    if (!ULMAccessIsWrite(inAccess)) return inStatus;
    ULMRecursiveLock hold(m_lock);
    StaleLevels();
    if (ULMSucceeded(inStatus)) ++m_openWriteMaps;
    return inStatus;
}

#define ULM_MIPMAP_MAP(call)                                                                                  \
    AfterMap(inAccess, ULMForwardSetter(Level0(), kULMErrVolume, [&](ULMVolume& level0, int) { return call; }))

ULMStatus ULMMipmapVolume::MapVolume(ULMAccessType inAccess, unsigned char*& outBaseAddress, unsigned& outSx,
                                     unsigned& outSy, ULMSource inSource) {
    const ULMSource source = ResolveSource(inSource);
    return ULM_MIPMAP_MAP(level0.MapVolume(inAccess, outBaseAddress, outSx, outSy, source));
}

ULMStatus ULMMipmapVolume::MapVolume(ULMAccessType inAccess, unsigned short*& outBaseAddress, unsigned& outSx,
                                     unsigned& outSy, ULMSource inSource) {
    const ULMSource source = ResolveSource(inSource);
    return ULM_MIPMAP_MAP(level0.MapVolume(inAccess, outBaseAddress, outSx, outSy, source));
}

ULMStatus ULMMipmapVolume::MapVolume(ULMAccessType inAccess, unsigned int*& outBaseAddress, unsigned& outSx,
                                     unsigned& outSy, ULMSource inSource) {
    const ULMSource source = ResolveSource(inSource);
    return ULM_MIPMAP_MAP(level0.MapVolume(inAccess, outBaseAddress, outSx, outSy, source));
}

ULMStatus ULMMipmapVolume::MapVolume(ULMAccessType inAccess, void*& outBaseAddress, unsigned& outSx,
                                     unsigned& outSy, ULMSource inSource) {
    const ULMSource source = ResolveSource(inSource);
    return ULM_MIPMAP_MAP(level0.MapVolume(inAccess, outBaseAddress, outSx, outSy, source));
}

ULMStatus ULMMipmapVolume::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                        unsigned char*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                        ULMSource inSource) {
    const ULMSource source = ResolveSource(inSource);
    return ULM_MIPMAP_MAP(level0.MapSubVolume(inAccess, inVolumeRange, outBaseAddress, outSx, outSy, source));
}

ULMStatus ULMMipmapVolume::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                        unsigned short*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                        ULMSource inSource) {
    const ULMSource source = ResolveSource(inSource);
    return ULM_MIPMAP_MAP(level0.MapSubVolume(inAccess, inVolumeRange, outBaseAddress, outSx, outSy, source));
}

ULMStatus ULMMipmapVolume::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                        unsigned int*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                        ULMSource inSource) {
    const ULMSource source = ResolveSource(inSource);
    return ULM_MIPMAP_MAP(level0.MapSubVolume(inAccess, inVolumeRange, outBaseAddress, outSx, outSy, source));
}

ULMStatus ULMMipmapVolume::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                        void*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                        ULMSource inSource) {
    const ULMSource source = ResolveSource(inSource);
    return ULM_MIPMAP_MAP(level0.MapSubVolume(inAccess, inVolumeRange, outBaseAddress, outSx, outSy, source));
}

ULMStatus ULMMipmapVolume::MapSubVolume(ULMAccessType inAccess, unsigned inAtX, unsigned inAtY, unsigned inAtZ,
                                        unsigned inNx, unsigned inNy, unsigned inNz, void*& outBaseAddress,
                                        unsigned& outSx, unsigned& outSy, ULMSource inSource) {
    const ULMSource source = ResolveSource(inSource);
    return ULM_MIPMAP_MAP(
        level0.MapSubVolume(inAccess, inAtX, inAtY, inAtZ, inNx, inNy, inNz, outBaseAddress, outSx, outSy, source));
}

#undef ULM_MIPMAP_MAP

// A writing map's voxels are written while it is open: its end makes the
// levels stale again.
ULMStatus ULMMipmapVolume::UnmapVolume() {
    const ULMStatus status =
        ULMForwardSetter(Level0(), kULMErrVolume, [](ULMVolume& level0, int) { return level0.UnmapVolume(); });
    ULMRecursiveLock hold(m_lock);
    if (ULMSucceeded(status) && m_openWriteMaps > 0) {
        --m_openWriteMaps;
        StaleLevels();
    }
    return status;
}

// The wrapper's range follows level 0's.
ULMStatus ULMMipmapVolume::Resize(unsigned inX, unsigned inY, unsigned inZ, int inResizeBuffer) {
    const ULMStatus status =
        ChangeLevel0([&](ULMVolume& level0, int) { return level0.Resize(inX, inY, inZ, inResizeBuffer); });
    if (ULMSucceeded(status)) {
        ULMRecursiveLock hold(m_lock);
        m_range = m_level[0].range = m_level[0].volume->GetRange();
    }
    return status;
}

ULMStatus ULMMipmapVolume::Resize(const ULMVolumeRange& inNewRange, int inResizeBuffer) {
    const ULMStatus status =
        ChangeLevel0([&](ULMVolume& level0, int) { return level0.Resize(inNewRange, inResizeBuffer); });
    if (ULMSucceeded(status)) {
        ULMRecursiveLock hold(m_lock);
        m_range = m_level[0].range = m_level[0].volume->GetRange();
    }
    return status;
}

ULMStatus ULMMipmapVolume::CreateBuffer(ULMLocation inLocation) {
    return ChangeLevel0([&](ULMVolume& level0, int) { return level0.CreateBuffer(inLocation); });
}

ULMStatus ULMMipmapVolume::CreateBuffer(ULMLocation inLocation, unsigned inSizeX, unsigned inSizeY,
                                        unsigned inSizeZ) {
    return ChangeLevel0(
        [&](ULMVolume& level0, int) { return level0.CreateBuffer(inLocation, inSizeX, inSizeY, inSizeZ); });
}

ULMStatus ULMMipmapVolume::CreateBuffer(ULMLocation inLocation, const ULMVolumeRange& inRange) {
    return ChangeLevel0([&](ULMVolume& level0, int) { return level0.CreateBuffer(inLocation, inRange); });
}

ULMStatus ULMMipmapVolume::AttachBuffer(unsigned long long inBufferID) {
    return ChangeLevel0([&](ULMVolume& level0, int) { return level0.AttachBuffer(inBufferID); });
}

ULMStatus ULMMipmapVolume::ResizeBuffer(unsigned inX, unsigned inY, unsigned inZ) {
    return ChangeLevel0([&](ULMVolume& level0, int) { return level0.ResizeBuffer(inX, inY, inZ); });
}

ULMStatus ULMMipmapVolume::ResizeBuffer(const ULMVolumeRange& inRange) {
    return ChangeLevel0([&](ULMVolume& level0, int) { return level0.ResizeBuffer(inRange); });
}

ULMStatus ULMMipmapVolume::SetBufferWrap(int inModulusX, int inModulusY, int inModulusZ) {
    return ChangeLevel0(
        [&](ULMVolume& level0, int) { return level0.SetBufferWrap(inModulusX, inModulusY, inModulusZ); });
}

ULMStatus ULMMipmapVolume::SetBufferOffset(int inOffsetX, int inOffsetY, int inOffsetZ) {
    return ChangeLevel0(
        [&](ULMVolume& level0, int) { return level0.SetBufferOffset(inOffsetX, inOffsetY, inOffsetZ); });
}

ULMStatus ULMMipmapVolume::SetBufferAddressParameters(ULMAddressMode inMode, int inX, int inY, int inZ) {
    return ChangeLevel0(
        [&](ULMVolume& level0, int) { return level0.SetBufferAddressParameters(inMode, inX, inY, inZ); });
}

// ---- Level 0 as it is ----

bool ULMMipmapVolume::IsLocked() const { return !Level0().empty() && Level0()[0]->IsLocked(); }
bool ULMMipmapVolume::IsLoaded() const { return !Level0().empty() && Level0()[0]->IsLoaded(); }

ULMAccessType ULMMipmapVolume::GetAccessControl() const {
    return Level0().empty() ? kULMAccessNoControl : Level0()[0]->GetAccessControl();
}

ULMStatus ULMMipmapVolume::Unload(void* outVoxels, const ULMVolumeRange& inVolumeRange, ULMSource inSource) const {
    const ULMSource source = ResolveSource(inSource);
    return ULMForwardSetter(Level0(), kULMErrVolume, [&](ULMVolume& level0, int) {
        return level0.Unload(outVoxels, inVolumeRange, source);
    });
}

ULMStatus ULMMipmapVolume::UnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                       const ULMFieldDescriptor& inField, ULMSource inSource) const {
    const ULMSource source = ResolveSource(inSource);
    return ULMForwardSetter(Level0(), kULMErrVolume, [&](ULMVolume& level0, int) {
        return level0.UnloadField(outVoxels, inVolumeRange, inField, source);
    });
}

ULMSyncEvent ULMMipmapVolume::StartUnload(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                          ULMSource inSource) const {
    const ULMSource source = ResolveSource(inSource);
    return ULMForwardStart(Level0(), kULMErrVolume, [&](ULMVolume& level0, int) {
        return level0.StartUnload(outVoxels, inVolumeRange, source);
    });
}

ULMSyncEvent ULMMipmapVolume::StartUnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                               const ULMFieldDescriptor& inField, ULMSource inSource) const {
    const ULMSource source = ResolveSource(inSource);
    return ULMForwardStart(Level0(), kULMErrVolume, [&](ULMVolume& level0, int) {
        return level0.StartUnloadField(outVoxels, inVolumeRange, inField, source);
    });
}

unsigned long long ULMMipmapVolume::GetBufferID() const {
    return Level0().empty() ? kULMNoBuffer : Level0()[0]->GetBufferID();
}

void ULMMipmapVolume::GetBufferSize(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    outX = outY = outZ = 0;
    if (!Level0().empty()) Level0()[0]->GetBufferSize(outX, outY, outZ);
}

unsigned ULMMipmapVolume::GetBufferSizeX() const { return Level0().empty() ? 0 : Level0()[0]->GetBufferSizeX(); }
unsigned ULMMipmapVolume::GetBufferSizeY() const { return Level0().empty() ? 0 : Level0()[0]->GetBufferSizeY(); }
unsigned ULMMipmapVolume::GetBufferSizeZ() const { return Level0().empty() ? 0 : Level0()[0]->GetBufferSizeZ(); }

ULMVolumeRange ULMMipmapVolume::GetBufferRange() const {
    return Level0().empty() ? ULMVolumeRange() : Level0()[0]->GetBufferRange();
}

ULMStatus ULMMipmapVolume::ReleaseBuffer() {
    return ULMForwardSetter(Level0(), kULMErrVolume, [](ULMVolume& level0, int) { return level0.ReleaseBuffer(); });
}

ULMStatus ULMMipmapVolume::SetBufferPermission(ULMPermission inPermission) {
    return ULMForwardSetter(Level0(), kULMErrVolume,
                            [&](ULMVolume& level0, int) { return level0.SetBufferPermission(inPermission); });
}

ULMPermission ULMMipmapVolume::GetBufferPermission() const {
    return Level0().empty() ? ULMPermission(0) : Level0()[0]->GetBufferPermission();
}

ULMLocation ULMMipmapVolume::GetBufferLocation() const {
    return Level0().empty() ? kULMNoBufferAttached : Level0()[0]->GetBufferLocation();
}

void ULMMipmapVolume::GetBufferAddressParameters(ULMAddressMode& outMode, int& outX, int& outY, int& outZ) const {
    outMode = ULMAddressMode(0);
    outX = outY = outZ = 0;
    if (!Level0().empty()) Level0()[0]->GetBufferAddressParameters(outMode, outX, outY, outZ);
}

ULMAddressMode ULMMipmapVolume::GetBufferAddressMode() const {
    return Level0().empty() ? ULMAddressMode(0) : Level0()[0]->GetBufferAddressMode();
}

int ULMMipmapVolume::GetBufferAddressParameterX() const {
    return Level0().empty() ? 0 : Level0()[0]->GetBufferAddressParameterX();
}

int ULMMipmapVolume::GetBufferAddressParameterY() const {
    return Level0().empty() ? 0 : Level0()[0]->GetBufferAddressParameterY();
}

int ULMMipmapVolume::GetBufferAddressParameterZ() const {
    return Level0().empty() ? 0 : Level0()[0]->GetBufferAddressParameterZ();
}

// ---- Every level ----

// Level 0 is always unlocked, with the caller's inUnload, and its status
// counts; a level above 0 is unlocked only when something locked it, since
// generation gives levels a buffer without locking them and an unlocked
// volume refuses the unlock. Such a level gives its buffer, all it holds, up
// with the lock: it goes, to be made again when next wanted.
ULMStatus ULMMipmapVolume::UnlockVolume(int inUnload) {
    ULMRecursiveLock hold(m_lock);
    ULMStatus last = kULMOK, first = kULMOK;
    for (int l = 0; l < m_levelSize; ++l) {
        LevelInfo& level = m_level[l];
        if (level.volume == nullptr || (l > 0 && !level.volume->IsLocked())) continue;
        last = level.volume->UnlockVolume(l == 0 ? inUnload : 0);
        if (ULMFailed(last) && !ULMFailed(first)) first = last;
        if (l > 0 && level.volume->GetBufferID() == kULMNoBuffer) {
            level.volume->Release();
            level = LevelInfo{0, 0, nullptr, level.range};
        }
    }
    m_target = kULMSource;
    return ULMFailed(first) ? first : last;
}

// ---- Passes of level 0 into other volumes ----

ULMStatus ULMMipmapVolume::ResampleBuffer(ULMVolume* ioDestination, const ULMVolumeRange& inSourceRange,
                                          const ULMVolumeRange& inDestinationRange,
                                          const ULMClassifier& inClassifier) {
    return StartResampleBuffer(ioDestination, inSourceRange, inDestinationRange, inClassifier).Wait(-1);
}

ULMSyncEvent ULMMipmapVolume::StartResampleBuffer(ULMVolume* ioDestination, const ULMVolumeRange& inSourceRange,
                                                  const ULMVolumeRange& inDestinationRange,
                                                  const ULMClassifier& inClassifier) {
    ULMVolume* level0 = nullptr;
    const ULMStatus ready = Level0UpToDate(level0);
    if (ULMFailed(ready)) return ULMSyncEvent(ready);
    return level0->StartResampleBuffer(ioDestination, inSourceRange, inDestinationRange, inClassifier);
}

ULMStatus ULMMipmapVolume::RenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume,
                                          RenderToVolumeMode inMode) {
    return ULMStatusOnceQueued(StartRenderToVolume(inContext, ioOutVolume, inMode));
}

ULMSyncEvent ULMMipmapVolume::StartRenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume,
                                                  RenderToVolumeMode inMode) {
    ULMVolume* level0 = nullptr;
    const ULMStatus ready = Level0UpToDate(level0);
    if (ULMFailed(ready)) return ULMSyncEvent(ready);
    return level0->StartRenderToVolume(inContext, ioOutVolume, inMode);
}

}  // namespace ulm3
