// The bricked volume's answers to the rest of the volume interface: the
// base volume's description, setters handed to the base and then to every
// brick, the bricks' buffers seen as one, and the passes each brick makes
// on its own board.
#include <algorithm>

#include "foundation/scope_guard.h"
#include "foundation/sync_event.h"
#include "multiboard/multiboard_copy_access.h"
#include "multiboard/multiboard_volume_phase2.h"
#include "resample/volume_resample_roads.h"
#include "volume/buffer_lock_pair.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

// Id of the buffers of a volume spread over several boards: every bit set
// but the lowest.
constexpr unsigned long long kMultipleBuffersID = 0xFFFFFFFFFFFFFFFEull;

ULMVolumeRange WithSizes(ULMVolumeRange inRange, unsigned inX, unsigned inY, unsigned inZ) {
    inRange.XSize() = static_cast<int>(inX);
    inRange.YSize() = static_cast<int>(inY);
    inRange.ZSize() = static_cast<int>(inZ);
    return inRange;
}

ULMVolumeRange WithOrigins(ULMVolumeRange inRange, unsigned inX, unsigned inY, unsigned inZ) {
    inRange.XOrigin() = static_cast<int>(inX);
    inRange.YOrigin() = static_cast<int>(inY);
    inRange.ZOrigin() = static_cast<int>(inZ);
    return inRange;
}

}  // namespace

template <typename Set>
ULMStatus ULMMultiboardVolumePhase2::ForwardSetter(Set&& inSet, bool inAdvanceState, bool inAdvanceVolume) {
    ULM_ASSERT(m_baseVolume != nullptr);
    ULMRecursiveLock hold(m_lock);
    const ULMStatus base = inSet(*m_baseVolume);
    if (ULMFailed(base)) return base;
    if (inAdvanceState) AdvanceState();
    if (inAdvanceVolume) AdvanceVolume();
    for (ULMVolume* brick : Bricks()) {
        const ULMStatus status = inSet(*brick);
        if (ULMFailed(status)) return status;
    }
    return kULMOK;
}

ULMSource ULMMultiboardVolumePhase2::ResolveSource(ULMSource inSource) const {
    if (inSource != kULMUseTarget) return inSource;
    return GetTarget() == kULMBuffer ? kULMUseBuffer : kULMUseSource;
}

// ---- The base volume's description ----

bool ULMMultiboardVolumePhase2::IsReadOnly() const { return m_baseVolume == nullptr || m_baseVolume->IsReadOnly(); }
unsigned int ULMMultiboardVolumePhase2::GetFormat() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetFormat() : kULMVoxelFormatOther;
}
ULMVolume::Layout ULMMultiboardVolumePhase2::GetLayout() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetLayout() : kSliced;
}
ULMVolumeRange ULMMultiboardVolumePhase2::GetRange() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetRange() : ULMVolumeRange();
}
void ULMMultiboardVolumePhase2::GetSize(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    outX = outY = outZ = 0;
    if (m_baseVolume != nullptr) m_baseVolume->GetSize(outX, outY, outZ);
}
unsigned ULMMultiboardVolumePhase2::GetSizeX() const { return m_baseVolume != nullptr ? m_baseVolume->GetSizeX() : 0; }
unsigned ULMMultiboardVolumePhase2::GetSizeY() const { return m_baseVolume != nullptr ? m_baseVolume->GetSizeY() : 0; }
unsigned ULMMultiboardVolumePhase2::GetSizeZ() const { return m_baseVolume != nullptr ? m_baseVolume->GetSizeZ() : 0; }
int ULMMultiboardVolumePhase2::GetVoxelSize() const { return m_voxelSize; }
ULMFieldDescriptor ULMMultiboardVolumePhase2::GetFieldDescriptor(ULMFieldNumber inField) const {
    return m_baseVolume != nullptr ? m_baseVolume->GetFieldDescriptor(inField) : ULMFieldDescriptor();
}
ULMMatrix ULMMultiboardVolumePhase2::GetCorrectionMatrix() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetCorrectionMatrix() : ULMMatrix();
}
ULMMatrix ULMMultiboardVolumePhase2::GetModelMatrix() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetModelMatrix() : ULMMatrix();
}
ULMVolumeRange ULMMultiboardVolumePhase2::GetActiveSubVolume() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetActiveSubVolume() : ULMVolumeRange();
}
unsigned ULMMultiboardVolumePhase2::GetActiveSubVolumeSizeX() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetActiveSubVolumeSizeX() : 0;
}
unsigned ULMMultiboardVolumePhase2::GetActiveSubVolumeSizeY() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetActiveSubVolumeSizeY() : 0;
}
unsigned ULMMultiboardVolumePhase2::GetActiveSubVolumeSizeZ() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetActiveSubVolumeSizeZ() : 0;
}
unsigned ULMMultiboardVolumePhase2::GetActiveSubVolumeOriginX() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetActiveSubVolumeOriginX() : 0;
}
unsigned ULMMultiboardVolumePhase2::GetActiveSubVolumeOriginY() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetActiveSubVolumeOriginY() : 0;
}
unsigned ULMMultiboardVolumePhase2::GetActiveSubVolumeOriginZ() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetActiveSubVolumeOriginZ() : 0;
}
void ULMMultiboardVolumePhase2::GetActiveSubVolumeSize(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    outX = outY = outZ = 0;
    if (m_baseVolume != nullptr) m_baseVolume->GetActiveSubVolumeSize(outX, outY, outZ);
}
void ULMMultiboardVolumePhase2::GetActiveSubVolumeOrigin(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    outX = outY = outZ = 0;
    if (m_baseVolume != nullptr) m_baseVolume->GetActiveSubVolumeOrigin(outX, outY, outZ);
}
unsigned ULMMultiboardVolumePhase2::GetBorderValue() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetBorderValue() : 0;
}
void ULMMultiboardVolumePhase2::GetExtendModes(ExtendMode& outX, ExtendMode& outY, ExtendMode& outZ) const {
    outX = outY = outZ = kExtendWithBorder;
    if (m_baseVolume != nullptr) m_baseVolume->GetExtendModes(outX, outY, outZ);
}
ULMVolume::ExtendMode ULMMultiboardVolumePhase2::GetExtendModeX() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetExtendModeX() : kExtendWithBorder;
}
ULMVolume::ExtendMode ULMMultiboardVolumePhase2::GetExtendModeY() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetExtendModeY() : kExtendWithBorder;
}
ULMVolume::ExtendMode ULMMultiboardVolumePhase2::GetExtendModeZ() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetExtendModeZ() : kExtendWithBorder;
}
ULMAccessType ULMMultiboardVolumePhase2::GetAccessControl() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetAccessControl() : kULMAccessNoControl;
}
void ULMMultiboardVolumePhase2::GetBufferAddressParameters(ULMAddressMode& outMode, int& outX, int& outY,
                                                           int& outZ) const {
    outMode = kULMOffsetAddress;
    outX = outY = outZ = 0;
    if (m_baseVolume != nullptr) m_baseVolume->GetBufferAddressParameters(outMode, outX, outY, outZ);
}
ULMAddressMode ULMMultiboardVolumePhase2::GetBufferAddressMode() const { return kULMOffsetAddress; }
int ULMMultiboardVolumePhase2::GetBufferAddressParameterX() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetBufferAddressParameterX() : 0;
}
int ULMMultiboardVolumePhase2::GetBufferAddressParameterY() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetBufferAddressParameterY() : 0;
}
int ULMMultiboardVolumePhase2::GetBufferAddressParameterZ() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetBufferAddressParameterZ() : 0;
}
void ULMMultiboardVolumePhase2::GetSpaceLeapingParameters(SpaceLeapingMode& outMode, double& outRed,
                                                          double& outGreen, double& outBlue, double& outAlpha) const {
    outMode = kSpaceLeapingNone;
    outRed = outGreen = outBlue = outAlpha = -1.0;
    if (m_baseVolume != nullptr) m_baseVolume->GetSpaceLeapingParameters(outMode, outRed, outGreen, outBlue, outAlpha);
}

ULMTarget ULMMultiboardVolumePhase2::GetTarget() const {
    ULMRecursiveLock hold(m_lock);
    return m_target;
}

// ---- Setters: the base, then every brick ----

ULMStatus ULMMultiboardVolumePhase2::SetFieldDescriptor(ULMFieldNumber inField,
                                                        const ULMFieldDescriptor& inDescriptor) {
    if (m_baseVolume == nullptr) return kULMErrVolume;
    ULMRecursiveLock hold(m_lock);
    const ULMFieldDescriptor old = m_baseVolume->GetFieldDescriptor(inField);
    if (old == inDescriptor) return kULMOK;
    const bool bothUnknown = old.m_format == kULMUnknownFormat && inDescriptor.m_format == kULMUnknownFormat;
    if (!bothUnknown) AdvanceState(), AdvanceVolume();
    return ForwardSetter([&](ULMVolume& v) { return v.SetFieldDescriptor(inField, inDescriptor); }, false, false);
}

// The serial moves whatever the base says: a refused matrix may still have
// reached bricks that a retry must find stale.
ULMStatus ULMMultiboardVolumePhase2::SetCorrectionMatrix(const ULMMatrix& inMatrix) {
    ULM_ASSERT(m_baseVolume != nullptr);
    ULMRecursiveLock hold(m_lock);
    AdvanceState();
    return ForwardSetter([&](ULMVolume& v) { return v.SetCorrectionMatrix(inMatrix); }, false, false);
}

ULMStatus ULMMultiboardVolumePhase2::SetModelMatrix(const ULMMatrix& inMatrix) { return SetCorrectionMatrix(inMatrix); }

ULMStatus ULMMultiboardVolumePhase2::SetActiveSubVolume(const ULMVolumeRange& inRange) {
    ULM_ASSERT(m_baseVolume != nullptr);
    ULMRecursiveLock hold(m_lock);
    const ULMStatus base = m_baseVolume->SetActiveSubVolume(inRange);
    if (ULMFailed(base)) return base;
    AdvanceState();
    for (int i = 0; i < m_numSubVolumes; ++i) {
        ULMVolumeRange part = inRange;
        if (!inRange.IsReset()) {
            part = ULMVolumeRange::Intersect(m_subvolume[i].m_loadRange, inRange);
            // Empty, yet not the reset range that would mean the whole brick.
            if (part.IsReset()) part.ZSize() = 1;
        }
        const ULMStatus status = m_subvolume[i]->SetActiveSubVolume(part);
        if (ULMFailed(status)) return status;
    }
    return kULMOK;
}

ULMStatus ULMMultiboardVolumePhase2::SetActiveSubVolumeSize(unsigned inX, unsigned inY, unsigned inZ) {
    ULM_ASSERT(m_baseVolume != nullptr);
    return SetActiveSubVolume(WithSizes(m_baseVolume->GetActiveSubVolume(), inX, inY, inZ));
}

ULMStatus ULMMultiboardVolumePhase2::SetActiveSubVolumeOrigin(unsigned inX, unsigned inY, unsigned inZ) {
    ULM_ASSERT(m_baseVolume != nullptr);
    return SetActiveSubVolume(WithOrigins(m_baseVolume->GetActiveSubVolume(), inX, inY, inZ));
}

ULMStatus ULMMultiboardVolumePhase2::SetBorderValue(unsigned inValue) {
    return ForwardSetter([&](ULMVolume& v) { return v.SetBorderValue(inValue); }, true, false);
}

ULMStatus ULMMultiboardVolumePhase2::SetExtendMode(ExtendMode inMode) {
    return ForwardSetter([&](ULMVolume& v) { return v.SetExtendMode(inMode); }, true, false);
}

ULMStatus ULMMultiboardVolumePhase2::SetExtendModes(ExtendMode inX, ExtendMode inY, ExtendMode inZ) {
    return ForwardSetter([&](ULMVolume& v) { return v.SetExtendModes(inX, inY, inZ); }, true, false);
}

ULMStatus ULMMultiboardVolumePhase2::SetSpaceLeapingParameters(SpaceLeapingMode inMode, double inRed,
                                                               double inGreen, double inBlue, double inAlpha) {
    return ForwardSetter(
        [&](ULMVolume& v) { return v.SetSpaceLeapingParameters(inMode, inRed, inGreen, inBlue, inAlpha); }, true,
        false);
}

// The bricks only: the base volume holds the application's voxels and no
// buffer, and the writes into them that go through it (an update while the
// target is the source, the unlock's write-back) take its target, which
// so stays the source whatever the bricks' is.
ULMStatus ULMMultiboardVolumePhase2::SetTarget(ULMTarget inTarget) {
    ULM_ASSERT(m_baseVolume != nullptr);
    if (inTarget != kULMSource && inTarget != kULMBuffer) return kULMErrArgument;
    ULMRecursiveLock hold(m_lock);
    AdvanceState();
    for (ULMVolume* brick : Bricks())
        if (const ULMStatus status = brick->SetTarget(inTarget); ULMFailed(status)) return status;
    m_target = inTarget;
    return kULMOK;
}

ULMStatus ULMMultiboardVolumePhase2::UpdateVolume(unsigned int inFormat, const void* inVoxels, unsigned inTargetX,
                                                  unsigned inTargetY, unsigned inTargetZ, unsigned inSizeX,
                                                  unsigned inSizeY, unsigned inSizeZ, Layout inLayout) {
    ULM_ASSERT(m_baseVolume != nullptr);
    const ULMVolumeRange range(static_cast<int>(inSizeX), static_cast<int>(inSizeY), static_cast<int>(inSizeZ),
                               static_cast<int>(inTargetX), static_cast<int>(inTargetY), static_cast<int>(inTargetZ));
    if (inFormat != m_baseVolume->GetFormat()) {
        const bool fits = (inFormat == kULMVoxelFormatUINT8 && m_voxelSize == 8) ||
                          ((inFormat == kULMVoxelFormatUINT12L || inFormat == kULMVoxelFormatUINT12U) &&
                           m_voxelSize == 16) ||
                          inFormat > kULMVoxelFormatUINT12U;
        if (!fits) return kULMErrArgument;
    }
    if (inLayout != kSliced || !GetRange().Contains(range)) return kULMErrArgument;
    return Update(inVoxels, range);
}

// ---- The bricks' buffers as one ----

bool ULMMultiboardVolumePhase2::IsLoaded() const {
    for (ULMVolume* brick : Bricks())
        if (!brick->IsLoaded()) return false;
    return true;
}

ULMStatus ULMMultiboardVolumePhase2::Resize(unsigned, unsigned, unsigned, int) {
    ULM_ASSERT(m_baseVolume != nullptr);
    return kULMErrUnimplemented;
}

ULMStatus ULMMultiboardVolumePhase2::Resize(const ULMVolumeRange&, int) {
    ULM_ASSERT(m_baseVolume != nullptr);
    return kULMErrUnimplemented;
}

// Each brick's buffer goes to the brick's own board, whatever board is
// asked for.
ULMStatus ULMMultiboardVolumePhase2::CreateBuffer(ULMLocation) {
    ULM_ASSERT(m_baseVolume != nullptr);
    ULMRecursiveLock hold(m_lock);
    AdvanceVolume();
    for (int i = 0; i < m_numSubVolumes; ++i) {
        SubvolumeInfo& brick = m_subvolume[i];
        const ULMStatus status = brick->CreateBuffer(brick.m_location);
        if (ULMFailed(status)) return status;
        brick.m_bufferID = brick->GetBufferID();
    }
    m_bufferValid = 1;
    return LoadNewBuffers();
}

ULMStatus ULMMultiboardVolumePhase2::CreateBuffer(ULMLocation inLocation, unsigned inSizeX, unsigned inSizeY,
                                                  unsigned inSizeZ) {
    ULM_ASSERT(m_baseVolume != nullptr);
    if (inSizeX != GetSizeX() || inSizeY != GetSizeY() || inSizeZ != GetSizeZ()) return kULMErrUnimplemented;
    return CreateBuffer(inLocation, GetRange());
}

ULMStatus ULMMultiboardVolumePhase2::CreateBuffer(ULMLocation, const ULMVolumeRange& inRange) {
    ULM_ASSERT(m_baseVolume != nullptr);
    if (inRange != GetRange()) return kULMErrUnimplemented;
    ULMRecursiveLock hold(m_lock);
    AdvanceVolume();
    for (int i = 0; i < m_numSubVolumes; ++i) {
        SubvolumeInfo& brick = m_subvolume[i];
        const ULMStatus status = brick->CreateBuffer(brick.m_location, brick.m_loadRange);
        if (ULMFailed(status)) return status;
        brick.m_bufferID = brick->GetBufferID();
    }
    m_bufferValid = 1;
    return LoadNewBuffers();
}

// The bricks hold no voxels of their own: a locked volume with voxels has
// them loaded into the new buffers, as a plain volume has, so that the
// buffers its renders read hold what they claim to. An unlocked one loads
// them when it is locked.
ULMStatus ULMMultiboardVolumePhase2::LoadNewBuffers() {
    return m_locked && m_volumeSource->HasData() ? LoadFromSource() : kULMOK;
}

unsigned long long ULMMultiboardVolumePhase2::GetBufferID() const {
    ULMRecursiveLock hold(m_lock);
    return m_bufferValid ? kMultipleBuffersID : kULMNoBuffer;
}

void ULMMultiboardVolumePhase2::GetBufferSize(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    outX = outY = outZ = 0;
    ULMRecursiveLock hold(m_lock);
    if (m_bufferValid) GetSize(outX, outY, outZ);
}

unsigned ULMMultiboardVolumePhase2::GetBufferSizeX() const {
    ULMRecursiveLock hold(m_lock);
    return m_bufferValid ? GetSizeX() : 0;
}

unsigned ULMMultiboardVolumePhase2::GetBufferSizeY() const {
    ULMRecursiveLock hold(m_lock);
    return m_bufferValid ? GetSizeY() : 0;
}

unsigned ULMMultiboardVolumePhase2::GetBufferSizeZ() const {
    ULMRecursiveLock hold(m_lock);
    return m_bufferValid ? GetSizeZ() : 0;
}

ULMVolumeRange ULMMultiboardVolumePhase2::GetBufferRange() const {
    ULMRecursiveLock hold(m_lock);
    return m_bufferValid ? GetRange() : ULMVolumeRange();
}

ULMStatus ULMMultiboardVolumePhase2::AttachBuffer(unsigned long long) { return kULMErrUnimplemented; }

// Every brick lets go of its buffer even when one refuses.
ULMStatus ULMMultiboardVolumePhase2::ReleaseBuffer() {
    ULM_ASSERT(m_baseVolume != nullptr);
    ULMRecursiveLock hold(m_lock);
    AdvanceState();
    ULMStatus first = kULMOK;
    for (int i = 0; i < m_numSubVolumes; ++i) {
        SubvolumeInfo& brick = m_subvolume[i];
        const ULMStatus status = brick->ReleaseBuffer();
        if (ULMFailed(status) && !ULMFailed(first)) first = status;
        brick.m_bufferID = brick->GetBufferID();
    }
    m_bufferValid = 0;
    return first;
}

ULMStatus ULMMultiboardVolumePhase2::SetBufferPermission(ULMPermission inPermission) {
    ULM_ASSERT(m_baseVolume != nullptr);
    ULMRecursiveLock hold(m_lock);
    for (int i = 0; i < m_numSubVolumes; ++i) {
        const ULMStatus status = m_subvolume[i]->SetBufferPermission(inPermission);
        if (ULMFailed(status)) return status;
        if (i == 0) AdvanceState();
    }
    return kULMOK;
}

ULMPermission ULMMultiboardVolumePhase2::GetBufferPermission() const {
    return m_subvolume[0].GetVolume() != nullptr ? m_subvolume[0]->GetBufferPermission() : kULMPermissionNotShared;
}

ULMLocation ULMMultiboardVolumePhase2::GetBufferLocation() const {
    ULMRecursiveLock hold(m_lock);
    return m_bufferValid ? kULMMultiBoardMode2 : kULMNoBufferAttached;
}

ULMStatus ULMMultiboardVolumePhase2::ResizeBuffer(unsigned, unsigned, unsigned) {
    ULM_ASSERT(m_baseVolume != nullptr);
    return kULMErrUnimplemented;
}

ULMStatus ULMMultiboardVolumePhase2::ResizeBuffer(const ULMVolumeRange&) {
    ULM_ASSERT(m_baseVolume != nullptr);
    return kULMErrUnimplemented;
}

ULMStatus ULMMultiboardVolumePhase2::SetBufferWrap(int, int, int) {
    ULM_ASSERT(m_baseVolume != nullptr);
    return kULMErrUnimplemented;
}

// Every brick's offset moves by as much as the base volume's.
ULMStatus ULMMultiboardVolumePhase2::SetBufferOffset(int inOffsetX, int inOffsetY, int inOffsetZ) {
    ULM_ASSERT(m_baseVolume != nullptr);
    ULMRecursiveLock hold(m_lock);
    const int d[3] = {inOffsetX - m_baseVolume->GetBufferAddressParameterX(),
                      inOffsetY - m_baseVolume->GetBufferAddressParameterY(),
                      inOffsetZ - m_baseVolume->GetBufferAddressParameterZ()};
    const ULMStatus base = m_baseVolume->SetBufferOffset(inOffsetX, inOffsetY, inOffsetZ);
    if (ULMFailed(base)) return base;
    AdvanceState();
    AdvanceVolume();
    for (ULMVolume* brick : Bricks()) {
        ULMAddressMode mode = kULMOffsetAddress;
        int p[3] = {0, 0, 0};
        brick->GetBufferAddressParameters(mode, p[0], p[1], p[2]);
        const ULMStatus status = brick->SetBufferOffset(p[0] + d[0], p[1] + d[1], p[2] + d[2]);
        if (ULMFailed(status)) return status;
    }
    return kULMOK;
}

ULMStatus ULMMultiboardVolumePhase2::SetBufferAddressParameters(ULMAddressMode inMode, int inX, int inY, int inZ) {
    ULM_ASSERT(m_baseVolume != nullptr);
    if (inMode != kULMOffsetAddress) return kULMErrUnimplemented;
    return SetBufferOffset(inX, inY, inZ);
}

// ---- Mipmap operations: bricks are mipmap volumes exactly when the base is ----

namespace {

// Once the base accepted, the bricks are told; what they answer is not
// looked at.
template <typename Set>
ULMStatus BaseDecides(ULMVolume* inBase, std::span<ULMVolume* const> inBricks, Set&& inSet) {
    const ULMStatus base = inSet(*inBase);
    if (ULMFailed(base)) return base;
    for (ULMVolume* brick : inBricks) inSet(*brick);
    return kULMOK;
}

}  // namespace

// Both serials move once the base accepted.
template <typename Set>
ULMStatus ULMMultiboardVolumePhase2::SetMipmapProperty(Set&& inSet) {
    ULM_ASSERT(m_baseVolume != nullptr);
    ULMRecursiveLock hold(m_lock);
    const ULMStatus status = BaseDecides(m_baseVolume, Bricks(), inSet);
    if (status == kULMOK) AdvanceState(), AdvanceVolume();
    return status;
}

ULMStatus ULMMultiboardVolumePhase2::SetMipmapAutoGenerate(int inOn) {
    return SetMipmapProperty([&](ULMVolume& v) { return v.SetMipmapAutoGenerate(inOn); });
}

int ULMMultiboardVolumePhase2::GetMipmapAutoGenerate() const {
    ULM_ASSERT(m_baseVolume != nullptr);
    return m_baseVolume->GetMipmapAutoGenerate();
}

ULMStatus ULMMultiboardVolumePhase2::SetMipmapMinDimension(int inDimension) {
    return SetMipmapProperty([&](ULMVolume& v) { return v.SetMipmapMinDimension(inDimension); });
}

int ULMMultiboardVolumePhase2::GetMipmapMinDimension() const {
    ULM_ASSERT(m_baseVolume != nullptr);
    return m_baseVolume->GetMipmapMinDimension();
}

ULMStatus ULMMultiboardVolumePhase2::SetMipmapShrinkFactors(double inX, double inY, double inZ) {
    return SetMipmapProperty([&](ULMVolume& v) { return v.SetMipmapShrinkFactors(inX, inY, inZ); });
}

void ULMMultiboardVolumePhase2::GetMipmapShrinkFactors(double& outX, double& outY, double& outZ) const {
    ULM_ASSERT(m_baseVolume != nullptr);
    m_baseVolume->GetMipmapShrinkFactors(outX, outY, outZ);
}

ULMStatus ULMMultiboardVolumePhase2::SetMipmapInterpolationMode(ULMFieldNumber inField, ULMInterpolationMode inMode) {
    return SetMipmapProperty([&](ULMVolume& v) { return v.SetMipmapInterpolationMode(inField, inMode); });
}

ULMInterpolationMode ULMMultiboardVolumePhase2::GetMipmapInterpolationMode(ULMFieldNumber inField) const {
    ULM_ASSERT(m_baseVolume != nullptr);
    return m_baseVolume->GetMipmapInterpolationMode(inField);
}

ULMStatus ULMMultiboardVolumePhase2::GenerateMipmapLevel(int inLevelToGenerate, int inSourceLevel, double inShrinkX,
                                                         double inShrinkY, double inShrinkZ) {
    ULM_ASSERT(m_baseVolume != nullptr);
    ULMRecursiveLock hold(m_lock);
    AdvanceState();
    AdvanceVolume();
    for (ULMVolume* brick : Bricks()) {
        const ULMStatus status =
            brick->GenerateMipmapLevel(inLevelToGenerate, inSourceLevel, inShrinkX, inShrinkY, inShrinkZ);
        if (ULMFailed(status)) return status;
    }
    return kULMOK;
}

// Every brick makes its level on its own board at once; a start that fails
// is told once the others' work is aborted or over.
ULMSyncEvent ULMMultiboardVolumePhase2::StartGenerateMipmapLevel(int inLevelToGenerate, int inSourceLevel,
                                                                 double inShrinkX, double inShrinkY,
                                                                 double inShrinkZ) {
    ULM_ASSERT(m_baseVolume != nullptr);
    ULMRecursiveLock hold(m_lock);
    AdvanceState();
    AdvanceVolume();
    ULMEventJoin started;
    for (ULMVolume* brick : Bricks()) {
        const ULMSyncEvent event =
            brick->StartGenerateMipmapLevel(inLevelToGenerate, inSourceLevel, inShrinkX, inShrinkY, inShrinkZ);
        if (ULMFailed(event.Status())) return ULMSyncEvent(ULMSettleRefusedParts(started.Result(), event.Status()));
        started.Add(event);
    }
    return started.Result();
}

ULMStatus ULMMultiboardVolumePhase2::SetMipmapRange(int inMinLevel, int inMaxLevel) {
    ULM_ASSERT(m_baseVolume != nullptr);
    ULMRecursiveLock hold(m_lock);
    const ULMStatus status = m_baseVolume->SetMipmapRange(inMinLevel, inMaxLevel);
    if (ULMFailed(status)) return status;
    AdvanceState();
    AdvanceVolume();
    return status;
}

void ULMMultiboardVolumePhase2::GetMipmapRange(int& outMinLevel, int& outMaxLevel) const {
    ULM_ASSERT(m_baseVolume != nullptr);
    m_baseVolume->GetMipmapRange(outMinLevel, outMaxLevel);
}

int ULMMultiboardVolumePhase2::ChooseMipmapLevel(const ULMContext* inContext) const {
    ULM_ASSERT(m_baseVolume != nullptr);
    return m_baseVolume->ChooseMipmapLevel(inContext);
}

int ULMMultiboardVolumePhase2::ChooseMipmapLevel(const ULMContext* inContext, int inMinLevel, int inMaxLevel) const {
    ULM_ASSERT(m_baseVolume != nullptr);
    return m_baseVolume->ChooseMipmapLevel(inContext, inMinLevel, inMaxLevel);
}

ULMVolume* ULMMultiboardVolumePhase2::GetMipmapLevel(int) { return nullptr; }

ULMStatus ULMMultiboardVolumePhase2::CreateMipmapLevel(int, ULMLocation, ULMVolumeRange) {
    return kULMErrUnimplemented;
}

// ---- Resampling: each brick its own part ----

ULMStatus ULMMultiboardVolumePhase2::ResampleBuffer(ULMVolume* ioDestination, const ULMVolumeRange& inSourceRange,
                                                    const ULMVolumeRange& inDestinationRange,
                                                    const ULMClassifier& inClassifier) {
    return StartResampleBuffer(ioDestination, inSourceRange, inDestinationRange, inClassifier).Wait(-1);
}

ULMSyncEvent ULMMultiboardVolumePhase2::StartResampleBuffer(ULMVolume* ioDestination,
                                                            const ULMVolumeRange& inSourceRange,
                                                            const ULMVolumeRange& inDestinationRange,
                                                            const ULMClassifier& inClassifier) {
    if (inSourceRange.IsEmpty() || inDestinationRange.IsEmpty()) return ULMSyncEvent(kULMOK);
    if (ioDestination == nullptr) return ULMSyncEvent(kULMErrVolume);
    // Both volumes' locks, this one's among them, before the destination is
    // told: its wrappers are driven under them.
    const ULMBufferLockPair hold(*this, ioDestination);
    if (const ULMStatus s = ULMPassDestinationHeld(*ioDestination, "MB2::StartResampleBuffer"); s != kULMOK)
        return ULMSyncEvent(s);
    if (IsObjectType(ioDestination, kObjectTypeULMMipmapVolume)) {
        ULMVolume* level0 = ioDestination->GetMipmapLevel(0);
        if (level0 == nullptr) return ULMSyncEvent(kULMErrVolume);
        // The wrapper learns that its levels above 0 are stale.
        ioDestination->Update(static_cast<const void*>(nullptr), ULMVolumeRange());
        ioDestination = level0;
    }
    double scale[3];
    for (int a = 0; a < 3; ++a) {
        const double source = inSourceRange.m_size[a], destination = inDestinationRange.m_size[a];
        scale[a] = destination / source;
        if (scale[a] < 0.5) scale[a] = source > 1 ? destination / (source - 1) : scale[a];
        if (scale[a] < 0.5) return ULMSyncEvent(kULMErrCantSubsample);
    }
    // Without buffers the bricks hold no voxels to read: the whole volume
    // is locked for the length of the passes, as a plain source without a
    // buffer is, and unlocked once they are queued (the boards keep what
    // they read until they have read it).
    const bool lockHere = !m_locked && !m_bufferValid;
    if (lockHere)
        if (const ULMStatus s = LockVolume(kULMAnyBoard); s != kULMOK) return ULMSyncEvent(s);
    ULMScopeGuard unlockAfter([this, lockHere] {
        if (lockHere) UnlockVolume(0);
    });
    auto* paired = IsObjectType(ioDestination, kObjectTypeULMMultiboardVolumePhase2)
                       ? static_cast<ULMMultiboardVolumePhase2*>(ioDestination)
                       : nullptr;
    if (paired != nullptr && paired->GetNumberOfVolumes() == m_numSubVolumes)
        return ResampleIntoBricks(*paired, inSourceRange, inDestinationRange, inClassifier);
    // Into one volume: each output voxel from the brick that owns the
    // first voxel its sample reads, sampled where the resample of the whole
    // range samples it.
    ULMResamplePlane plane;
    if (const ULMStatus s = ULMResamplePlaneOf(inSourceRange, inDestinationRange, plane); s != kULMOK)
        return ULMSyncEvent(s);
    // Bricks on other boards than the destination's take the road of a
    // resample between boards, and so does every other.
    for (int i = 0; i < m_numSubVolumes; ++i)
        plane.inSections = plane.inSections || m_subvolume[i].m_location != ioDestination->GetBufferLocation();
    // An enlargement's edge voxels sample beyond the source range, where a
    // brick at its edge reads what one board reads there.
    const auto edged = [&inSourceRange](ULMVolumeRange inBox) {
        for (int a = 0; a < 2; ++a) {
            const int end = inBox.m_origin[a] + inBox.m_size[a];
            if (inBox.m_origin[a] == inSourceRange.m_origin[a]) --inBox.m_origin[a], ++inBox.m_size[a];
            if (end == inSourceRange.m_origin[a] + inSourceRange.m_size[a]) ++inBox.m_size[a];
        }
        return inBox;
    };
    ULMEventJoin started;
    for (int i = 0; i < m_numSubVolumes; ++i) {
        const ULMVolumeRange s = ULMVolumeRange::Intersect(inSourceRange, m_subvolume[i].m_loadRange);
        const ULMVolumeRange owned = ULMVolumeRange::Intersect(inSourceRange, m_subvolume[i].m_unloadRange);
        if (s.IsEmpty() || owned.IsEmpty()) continue;
        const ULMVolumeRange firsts = edged(owned);
        const ULMVolumeRange d = ULMResampleReach(plane, edged(s), inDestinationRange, &firsts);
        if (d.IsEmpty()) continue;
        ULMVolumeInternal* source = ULMPlainVolumeOf(m_subvolume[i].GetVolume(), true);
        const ULMSyncEvent event = source == nullptr
                                       ? ULMSyncEvent(kULMErrUnimplemented)
                                       : ULMStartVolumeResample(*source, ioDestination, s, d, inClassifier, &plane);
        if (ULMFailed(event.Status())) {
            started.Result().Wait(-1);
            return event;
        }
        started.Add(event);
    }
    return started.Result();
}

// Brick i fills its pair from the voxels it holds, each voxel sampled where
// the resample of the whole range samples it, so that the bricks of the
// destination hold what one resample of the whole volume makes. A pair's
// overlap may reach past what brick i holds; those voxels come from the
// destination brick that owns them, once every pass has run.
ULMSyncEvent ULMMultiboardVolumePhase2::ResampleIntoBricks(ULMMultiboardVolumePhase2& ioPaired,
                                                           const ULMVolumeRange& inSourceRange,
                                                           const ULMVolumeRange& inDestinationRange,
                                                           const ULMClassifier& inClassifier) {
    ULMResamplePlane plane;
    if (const ULMStatus s = ULMResamplePlaneOf(inSourceRange, inDestinationRange, plane); s != kULMOK)
        return ULMSyncEvent(s);
    ULMEventJoin started;
    const auto fail = [&started](ULMSyncEvent inEvent) {
        started.Result().Wait(-1);
        return inEvent;
    };
    bool shortOfOverlap = false;
    for (int i = 0; i < m_numSubVolumes; ++i) {
        const SubvolumeInfo& into = ioPaired.m_subvolume[i];
        const ULMVolumeRange wanted = ULMVolumeRange::Intersect(inDestinationRange, into.m_loadRange);
        if (wanted.IsEmpty()) continue;
        const ULMVolumeRange owned = ULMVolumeRange::Intersect(inDestinationRange, into.m_unloadRange);
        const ULMVolumeRange from = ULMVolumeRange::Intersect(inSourceRange, m_subvolume[i].m_loadRange);
        const ULMVolumeRange reach = from.IsEmpty() ? ULMVolumeRange() : ULMResampleReach(plane, from, wanted);
        // The voxels a brick owns are read from it alone: its pair must
        // reach all of them.
        if (!owned.IsEmpty() && (reach.IsEmpty() || !reach.Contains(owned)))
            return fail(ULMSyncEvent(kULMErrCantSubsample));
        shortOfOverlap = shortOfOverlap || reach != wanted;
        if (reach.IsEmpty()) continue;
        ULMVolumeInternal* source = ULMPlainVolumeOf(m_subvolume[i].GetVolume(), true);
        if (source == nullptr) return fail(ULMSyncEvent(kULMErrUnimplemented));
        const ULMSyncEvent event =
            ULMStartVolumeResample(*source, into.GetVolume(), from, reach, inClassifier, &plane);
        if (ULMFailed(event.Status())) return fail(event);
        started.Add(event);
    }
    if (!shortOfOverlap) return started.Result();
    if (const ULMStatus status = started.Result().Wait(-1); ULMFailed(status)) return ULMSyncEvent(status);
    return ULMSyncEvent(ioPaired.CopyOverlapsFromOwners(inDestinationRange));
}

}  // namespace ulm3
