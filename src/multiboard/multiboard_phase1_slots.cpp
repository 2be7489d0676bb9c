// The phase-1 volume's answers to the rest of the volume interface: queries
// the base volume answers, changes forwarded to every copy (with the
// serials they advance), fixed answers, and the passes that pair each copy
// with the destination's copy on the same board.
#include "context/render_context.h"
#include "foundation/diagnostics.h"
#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "multiboard/multiboard_volume_phase1.h"
#include "resample/volume_resample_roads.h"
#include "volume/buffer_lock_pair.h"
#include "volume/volume_board_copy.h"
#include "volume/volume_forwarding.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

// Paired passes compare the two volumes' tables: made under one
// configuration, copy i of each lies on the same board.
void AssertSameLocation(bool inSame, const char* inText) {
    if (!inSame) UlmAssert(inText, __FILE__, __LINE__, nullptr);
}

// A mipmap destination is written at level 0, after it has been told that
// its levels are stale.
ULMVolume* WrittenVolume(ULMVolume* ioDestination) {
    if (!IsObjectType(ioDestination, kObjectTypeULMMipmapVolume)) return ioDestination;
    ioDestination->Update(static_cast<const void*>(nullptr), ULMVolumeRange());
    return ioDestination->GetMipmapLevel(0);
}

}  // namespace

// ---- Queries the base volume answers ----

bool ULMMultiboardVolumePhase1::IsReadOnly() const { return m_baseVolume == nullptr || m_baseVolume->IsReadOnly(); }

unsigned int ULMMultiboardVolumePhase1::GetFormat() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetFormat() : kULMVoxelFormatOther;
}

ULMVolume::Layout ULMMultiboardVolumePhase1::GetLayout() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetLayout() : kSliced;
}

ULMVolumeRange ULMMultiboardVolumePhase1::GetRange() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetRange() : ULMVolumeRange();
}

void ULMMultiboardVolumePhase1::GetSize(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    outX = outY = outZ = 0;
    if (m_baseVolume != nullptr) m_baseVolume->GetSize(outX, outY, outZ);
}

unsigned ULMMultiboardVolumePhase1::GetSizeX() const { return m_baseVolume != nullptr ? m_baseVolume->GetSizeX() : 0; }
unsigned ULMMultiboardVolumePhase1::GetSizeY() const { return m_baseVolume != nullptr ? m_baseVolume->GetSizeY() : 0; }
unsigned ULMMultiboardVolumePhase1::GetSizeZ() const { return m_baseVolume != nullptr ? m_baseVolume->GetSizeZ() : 0; }

ULMFieldDescriptor ULMMultiboardVolumePhase1::GetFieldDescriptor(ULMFieldNumber inField) const {
    return m_baseVolume != nullptr ? m_baseVolume->GetFieldDescriptor(inField) : ULMFieldDescriptor();
}

ULMMatrix ULMMultiboardVolumePhase1::GetCorrectionMatrix() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetCorrectionMatrix() : ULMMatrix::Identity();
}

ULMMatrix ULMMultiboardVolumePhase1::GetModelMatrix() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetModelMatrix() : ULMMatrix::Identity();
}

ULMVolumeRange ULMMultiboardVolumePhase1::GetActiveSubVolume() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetActiveSubVolume() : ULMVolumeRange();
}

unsigned ULMMultiboardVolumePhase1::GetActiveSubVolumeSizeX() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetActiveSubVolumeSizeX() : 0;
}
unsigned ULMMultiboardVolumePhase1::GetActiveSubVolumeSizeY() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetActiveSubVolumeSizeY() : 0;
}
unsigned ULMMultiboardVolumePhase1::GetActiveSubVolumeSizeZ() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetActiveSubVolumeSizeZ() : 0;
}
unsigned ULMMultiboardVolumePhase1::GetActiveSubVolumeOriginX() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetActiveSubVolumeOriginX() : 0;
}
unsigned ULMMultiboardVolumePhase1::GetActiveSubVolumeOriginY() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetActiveSubVolumeOriginY() : 0;
}
unsigned ULMMultiboardVolumePhase1::GetActiveSubVolumeOriginZ() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetActiveSubVolumeOriginZ() : 0;
}

void ULMMultiboardVolumePhase1::GetActiveSubVolumeSize(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    outX = outY = outZ = 0;
    if (m_baseVolume != nullptr) m_baseVolume->GetActiveSubVolumeSize(outX, outY, outZ);
}

void ULMMultiboardVolumePhase1::GetActiveSubVolumeOrigin(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    outX = outY = outZ = 0;
    if (m_baseVolume != nullptr) m_baseVolume->GetActiveSubVolumeOrigin(outX, outY, outZ);
}

unsigned ULMMultiboardVolumePhase1::GetBorderValue() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetBorderValue() : 0;
}

void ULMMultiboardVolumePhase1::GetExtendModes(ExtendMode& outX, ExtendMode& outY, ExtendMode& outZ) const {
    outX = outY = outZ = kExtendWithBorder;
    if (m_baseVolume != nullptr) m_baseVolume->GetExtendModes(outX, outY, outZ);
}

ULMVolume::ExtendMode ULMMultiboardVolumePhase1::GetExtendModeX() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetExtendModeX() : kExtendWithBorder;
}
ULMVolume::ExtendMode ULMMultiboardVolumePhase1::GetExtendModeY() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetExtendModeY() : kExtendWithBorder;
}
ULMVolume::ExtendMode ULMMultiboardVolumePhase1::GetExtendModeZ() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetExtendModeZ() : kExtendWithBorder;
}

ULMAccessType ULMMultiboardVolumePhase1::GetAccessControl() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetAccessControl() : kULMAccessNoControl;
}

void ULMMultiboardVolumePhase1::GetBufferSize(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    outX = outY = outZ = 0;
    if (m_baseVolume != nullptr) m_baseVolume->GetBufferSize(outX, outY, outZ);
}

unsigned ULMMultiboardVolumePhase1::GetBufferSizeX() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetBufferSizeX() : 0;
}
unsigned ULMMultiboardVolumePhase1::GetBufferSizeY() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetBufferSizeY() : 0;
}
unsigned ULMMultiboardVolumePhase1::GetBufferSizeZ() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetBufferSizeZ() : 0;
}

ULMVolumeRange ULMMultiboardVolumePhase1::GetBufferRange() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetBufferRange() : ULMVolumeRange();
}

ULMPermission ULMMultiboardVolumePhase1::GetBufferPermission() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetBufferPermission() : kULMPermissionNotShared;
}

void ULMMultiboardVolumePhase1::GetBufferAddressParameters(ULMAddressMode& outMode, int& outX, int& outY,
                                                           int& outZ) const {
    outMode = kULMOffsetAddress;
    outX = outY = outZ = 0;
    if (m_baseVolume != nullptr) m_baseVolume->GetBufferAddressParameters(outMode, outX, outY, outZ);
}

ULMAddressMode ULMMultiboardVolumePhase1::GetBufferAddressMode() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetBufferAddressMode() : kULMOffsetAddress;
}
int ULMMultiboardVolumePhase1::GetBufferAddressParameterX() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetBufferAddressParameterX() : 0;
}
int ULMMultiboardVolumePhase1::GetBufferAddressParameterY() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetBufferAddressParameterY() : 0;
}
int ULMMultiboardVolumePhase1::GetBufferAddressParameterZ() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetBufferAddressParameterZ() : 0;
}

ULMTarget ULMMultiboardVolumePhase1::GetTarget() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetTarget() : kULMSource;
}

int ULMMultiboardVolumePhase1::GetMipmapAutoGenerate() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetMipmapAutoGenerate() : 1;
}

int ULMMultiboardVolumePhase1::GetMipmapMinDimension() const {
    return m_baseVolume != nullptr ? m_baseVolume->GetMipmapMinDimension() : 0;
}

void ULMMultiboardVolumePhase1::GetMipmapShrinkFactors(double& outX, double& outY, double& outZ) const {
    outX = outY = outZ = 0.0;
    if (m_baseVolume != nullptr) m_baseVolume->GetMipmapShrinkFactors(outX, outY, outZ);
}

ULMInterpolationMode ULMMultiboardVolumePhase1::GetMipmapInterpolationMode(ULMFieldNumber inField) const {
    return m_baseVolume != nullptr ? m_baseVolume->GetMipmapInterpolationMode(inField) : kULMNearestNeighbor;
}

void ULMMultiboardVolumePhase1::GetMipmapRange(int& outMinLevel, int& outMaxLevel) const {
    outMinLevel = outMaxLevel = 0;
    if (m_baseVolume != nullptr) m_baseVolume->GetMipmapRange(outMinLevel, outMaxLevel);
}

int ULMMultiboardVolumePhase1::ChooseMipmapLevel(const ULMContext* inContext) const {
    return m_baseVolume != nullptr ? m_baseVolume->ChooseMipmapLevel(inContext) : -1;
}

int ULMMultiboardVolumePhase1::ChooseMipmapLevel(const ULMContext* inContext, int inMinLevel, int inMaxLevel) const {
    return m_baseVolume != nullptr ? m_baseVolume->ChooseMipmapLevel(inContext, inMinLevel, inMaxLevel) : -1;
}

void ULMMultiboardVolumePhase1::GetSpaceLeapingParameters(SpaceLeapingMode& outMode, double& outRed,
                                                          double& outGreen, double& outBlue,
                                                          double& outAlpha) const {
    outMode = kSpaceLeapingNone;
    outRed = outGreen = outBlue = outAlpha = -1.0;
    if (m_baseVolume != nullptr) m_baseVolume->GetSpaceLeapingParameters(outMode, outRed, outGreen, outBlue, outAlpha);
}

// ---- The buffers on the boards, as one ----

// The copies' buffers are several: the id that stands for them all.
unsigned long long ULMMultiboardVolumePhase1::GetBufferID() const {
    if (m_baseVolume == nullptr || m_baseVolume->GetBufferID() == kULMNoBuffer) return kULMNoBuffer;
    return kMultiboardBufferID;
}

ULMLocation ULMMultiboardVolumePhase1::GetBufferLocation() const {
    if (m_baseVolume == nullptr || m_baseVolume->GetBufferLocation() == kULMNoBufferAttached)
        return kULMNoBufferAttached;
    return kULMMultiBoardMode1;
}

ULMStatus ULMMultiboardVolumePhase1::AttachBuffer(unsigned long long) { return kULMErrUnimplemented; }

ULMVolume* ULMMultiboardVolumePhase1::GetMipmapLevel(int) { return nullptr; }

ULMStatus ULMMultiboardVolumePhase1::CreateMipmapLevel(int, ULMLocation, ULMVolumeRange) {
    return kULMErrUnimplemented;
}

// ---- Changes forwarded to every copy ----

// Both serials move only when the descriptor really changes, and not when a
// field without a format stays without one.
ULMStatus ULMMultiboardVolumePhase1::SetFieldDescriptor(ULMFieldNumber inField, const ULMFieldDescriptor& inDescriptor) {
    if (m_baseVolume == nullptr) return kULMErrVolume;
    const ULMFieldDescriptor old = m_baseVolume->GetFieldDescriptor(inField);
    if (old.m_position == inDescriptor.m_position && old.m_size == inDescriptor.m_size &&
        old.m_format == inDescriptor.m_format)
        return kULMOK;
    const bool bothUnknown = old.m_format == kULMUnknownFormat && inDescriptor.m_format == kULMUnknownFormat;
    return ForwardSetter(bothUnknown ? Serials::kNone : Serials::kBoth,
                         [&](ULMVolume& copy, int) { return copy.SetFieldDescriptor(inField, inDescriptor); });
}

ULMStatus ULMMultiboardVolumePhase1::SetCorrectionMatrix(const ULMMatrix& inMatrix) {
    return ForwardSetter(Serials::kState, [&](ULMVolume& copy, int) { return copy.SetCorrectionMatrix(inMatrix); });
}

ULMStatus ULMMultiboardVolumePhase1::SetModelMatrix(const ULMMatrix& inMatrix) {
    return ForwardSetter(Serials::kState, [&](ULMVolume& copy, int) { return copy.SetModelMatrix(inMatrix); });
}

ULMStatus ULMMultiboardVolumePhase1::SetActiveSubVolume(const ULMVolumeRange& inRange) {
    return ForwardSetter(Serials::kState, [&](ULMVolume& copy, int) { return copy.SetActiveSubVolume(inRange); });
}

ULMStatus ULMMultiboardVolumePhase1::SetActiveSubVolumeSize(unsigned inX, unsigned inY, unsigned inZ) {
    return ForwardSetter(Serials::kState,
                         [&](ULMVolume& copy, int) { return copy.SetActiveSubVolumeSize(inX, inY, inZ); });
}

ULMStatus ULMMultiboardVolumePhase1::SetActiveSubVolumeOrigin(unsigned inX, unsigned inY, unsigned inZ) {
    return ForwardSetter(Serials::kState,
                         [&](ULMVolume& copy, int) { return copy.SetActiveSubVolumeOrigin(inX, inY, inZ); });
}

ULMStatus ULMMultiboardVolumePhase1::SetBorderValue(unsigned inValue) {
    return ForwardSetter(Serials::kState, [&](ULMVolume& copy, int) { return copy.SetBorderValue(inValue); });
}

ULMStatus ULMMultiboardVolumePhase1::SetExtendMode(ExtendMode inMode) {
    return ForwardSetter(Serials::kState, [&](ULMVolume& copy, int) { return copy.SetExtendMode(inMode); });
}

ULMStatus ULMMultiboardVolumePhase1::SetExtendModes(ExtendMode inX, ExtendMode inY, ExtendMode inZ) {
    return ForwardSetter(Serials::kState, [&](ULMVolume& copy, int) { return copy.SetExtendModes(inX, inY, inZ); });
}

ULMStatus ULMMultiboardVolumePhase1::Resize(unsigned inX, unsigned inY, unsigned inZ, int inResizeBuffer) {
    return ForwardBufferSetter(Serials::kVolume,
                         [&](ULMVolume& copy, int) { return copy.Resize(inX, inY, inZ, inResizeBuffer); });
}

ULMStatus ULMMultiboardVolumePhase1::Resize(const ULMVolumeRange& inNewRange, int inResizeBuffer) {
    return ForwardBufferSetter(Serials::kVolume,
                         [&](ULMVolume& copy, int) { return copy.Resize(inNewRange, inResizeBuffer); });
}

// Each copy's buffer goes on the board of its own sub-volume, wherever the
// caller asked.
ULMStatus ULMMultiboardVolumePhase1::CreateBuffer(ULMLocation) {
    return ForwardBufferSetter(Serials::kVolume,
                         [&](ULMVolume& copy, int i) { return copy.CreateBuffer(m_subvolume[i].m_location); });
}

ULMStatus ULMMultiboardVolumePhase1::CreateBuffer(ULMLocation, unsigned inSizeX, unsigned inSizeY, unsigned inSizeZ) {
    return ForwardBufferSetter(Serials::kVolume, [&](ULMVolume& copy, int i) {
        return copy.CreateBuffer(m_subvolume[i].m_location, inSizeX, inSizeY, inSizeZ);
    });
}

ULMStatus ULMMultiboardVolumePhase1::CreateBuffer(ULMLocation, const ULMVolumeRange& inRange) {
    return ForwardBufferSetter(Serials::kVolume,
                         [&](ULMVolume& copy, int i) { return copy.CreateBuffer(m_subvolume[i].m_location, inRange); });
}

ULMStatus ULMMultiboardVolumePhase1::ReleaseBuffer() {
    return ForwardBufferSetter(Serials::kState, [](ULMVolume& copy, int) { return copy.ReleaseBuffer(); });
}

ULMStatus ULMMultiboardVolumePhase1::SetBufferPermission(ULMPermission inPermission) {
    return ForwardSetter(Serials::kState,
                         [&](ULMVolume& copy, int) { return copy.SetBufferPermission(inPermission); });
}

ULMStatus ULMMultiboardVolumePhase1::ResizeBuffer(unsigned inX, unsigned inY, unsigned inZ) {
    return ForwardBufferSetter(Serials::kState, [&](ULMVolume& copy, int) { return copy.ResizeBuffer(inX, inY, inZ); });
}

ULMStatus ULMMultiboardVolumePhase1::ResizeBuffer(const ULMVolumeRange& inRange) {
    return ForwardBufferSetter(Serials::kState, [&](ULMVolume& copy, int) { return copy.ResizeBuffer(inRange); });
}

ULMStatus ULMMultiboardVolumePhase1::SetBufferWrap(int inModulusX, int inModulusY, int inModulusZ) {
    return ForwardBufferSetter(Serials::kBoth, [&](ULMVolume& copy, int) {
        return copy.SetBufferWrap(inModulusX, inModulusY, inModulusZ);
    });
}

ULMStatus ULMMultiboardVolumePhase1::SetBufferOffset(int inOffsetX, int inOffsetY, int inOffsetZ) {
    return ForwardBufferSetter(Serials::kBoth, [&](ULMVolume& copy, int) {
        return copy.SetBufferOffset(inOffsetX, inOffsetY, inOffsetZ);
    });
}

ULMStatus ULMMultiboardVolumePhase1::SetBufferAddressParameters(ULMAddressMode inMode, int inX, int inY, int inZ) {
    return ForwardBufferSetter(Serials::kBoth, [&](ULMVolume& copy, int) {
        return copy.SetBufferAddressParameters(inMode, inX, inY, inZ);
    });
}

ULMStatus ULMMultiboardVolumePhase1::SetTarget(ULMTarget inTarget) {
    return ForwardSetter(Serials::kState, [&](ULMVolume& copy, int) { return copy.SetTarget(inTarget); });
}

ULMStatus ULMMultiboardVolumePhase1::SetMipmapAutoGenerate(int inOn) {
    return ForwardSetter(Serials::kBoth, [&](ULMVolume& copy, int) { return copy.SetMipmapAutoGenerate(inOn); });
}

ULMStatus ULMMultiboardVolumePhase1::SetMipmapMinDimension(int inDimension) {
    return ForwardSetter(Serials::kBoth,
                         [&](ULMVolume& copy, int) { return copy.SetMipmapMinDimension(inDimension); });
}

ULMStatus ULMMultiboardVolumePhase1::SetMipmapShrinkFactors(double inX, double inY, double inZ) {
    return ForwardSetter(Serials::kBoth,
                         [&](ULMVolume& copy, int) { return copy.SetMipmapShrinkFactors(inX, inY, inZ); });
}

ULMStatus ULMMultiboardVolumePhase1::SetMipmapInterpolationMode(ULMFieldNumber inField, ULMInterpolationMode inMode) {
    return ForwardSetter(Serials::kBoth,
                         [&](ULMVolume& copy, int) { return copy.SetMipmapInterpolationMode(inField, inMode); });
}

ULMStatus ULMMultiboardVolumePhase1::GenerateMipmapLevel(int inLevelToGenerate, int inSourceLevel, double inShrinkX,
                                                         double inShrinkY, double inShrinkZ) {
    return ForwardSetter(Serials::kBoth, [&](ULMVolume& copy, int) {
        return copy.GenerateMipmapLevel(inLevelToGenerate, inSourceLevel, inShrinkX, inShrinkY, inShrinkZ);
    });
}

ULMSyncEvent ULMMultiboardVolumePhase1::StartGenerateMipmapLevel(int inLevelToGenerate, int inSourceLevel,
                                                                 double inShrinkX, double inShrinkY,
                                                                 double inShrinkZ) {
    return ForwardStart(Serials::kBoth, [&](ULMVolume& copy, int) {
        return copy.StartGenerateMipmapLevel(inLevelToGenerate, inSourceLevel, inShrinkX, inShrinkY, inShrinkZ);
    });
}

ULMStatus ULMMultiboardVolumePhase1::SetMipmapRange(int inMinLevel, int inMaxLevel) {
    return ForwardSetter(Serials::kBoth,
                         [&](ULMVolume& copy, int) { return copy.SetMipmapRange(inMinLevel, inMaxLevel); });
}

ULMStatus ULMMultiboardVolumePhase1::SetSpaceLeapingParameters(SpaceLeapingMode inMode, double inRed,
                                                               double inGreen, double inBlue, double inAlpha) {
    return ForwardSetter(Serials::kState, [&](ULMVolume& copy, int) {
        return copy.SetSpaceLeapingParameters(inMode, inRed, inGreen, inBlue, inAlpha);
    });
}

// ---- Passes into other volumes ----

ULMStatus ULMMultiboardVolumePhase1::ResampleBuffer(ULMVolume* ioDestination, const ULMVolumeRange& inSourceRange,
                                                    const ULMVolumeRange& inDestinationRange,
                                                    const ULMClassifier& inClassifier) {
    return StartResampleBuffer(ioDestination, inSourceRange, inDestinationRange, inClassifier).Wait(-1);
}

// Into a phase-1 volume of as many copies, each board resamples its own
// copy into the destination's copy there; into anything else one copy
// does the work, the one on the destination's board when there is one.
ULMSyncEvent ULMMultiboardVolumePhase1::StartResampleBuffer(ULMVolume* ioDestination,
                                                            const ULMVolumeRange& inSourceRange,
                                                            const ULMVolumeRange& inDestinationRange,
                                                            const ULMClassifier& inClassifier) {
    if (inSourceRange.IsEmpty() || inDestinationRange.IsEmpty()) return ULMSyncEvent(kULMOK);
    if (m_baseVolume == nullptr) return ULMSyncEvent(kULMErrVolume);
    // Both volumes' locks, this one's among them, before anything is told:
    // the destination's wrappers are driven under them.
    const ULMBufferLockPair hold(*this, ioDestination);
    if (ioDestination != nullptr)
        if (const ULMStatus s = ULMPassDestinationHeld(*ioDestination, "MB1::StartResampleBuffer"); s != kULMOK)
            return ULMSyncEvent(s);
    ULMVolume* destination = WrittenVolume(ioDestination);
    if (const ULMStatus caught = CatchUpWithSource(); ULMFailed(caught)) return ULMSyncEvent(caught);
    if (IsObjectType(destination, kObjectTypeULMMultiboardVolumePhase1)) {
        auto* paired = static_cast<ULMMultiboardVolumePhase1*>(destination);
        if (paired->m_numberRealVolumes == m_numberRealVolumes) {
            paired->Advance(Serials::kVolume);
            return ULMForwardStart(Copies(), kULMErrVolume, [&](ULMVolume& copy, int v) {
                AssertSameLocation(paired->m_subvolume[v].m_location == m_subvolume[v].m_location,
                                   "pDestMB1->m_subvolume[v].m_location == m_subvolume[v].m_location");
                return copy.StartResampleBuffer(paired->m_copies[v], inSourceRange, inDestinationRange, inClassifier);
            });
        }
    }
    int which = 0;
    if (IsObjectType(destination, kObjectTypeULMVolumeInternal)) {
        const ULMLocation at = destination->GetBufferLocation();
        if (at >= 0 && at < m_numberRealVolumes) which = at;
    }
    return m_copies[which]->StartResampleBuffer(destination, inSourceRange, inDestinationRange, inClassifier);
}

ULMStatus ULMMultiboardVolumePhase1::RenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume,
                                                    RenderToVolumeMode inMode) {
    return ULMStatusOnceQueued(StartRenderToVolume(inContext, ioOutVolume, inMode));
}

// Into a plain volume the copy on its board renders; into a phase-1 volume
// of no more copies, each copy renders into the destination's copy on its
// board.
ULMSyncEvent ULMMultiboardVolumePhase1::StartRenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume,
                                                            RenderToVolumeMode inMode) {
    if (m_baseVolume == nullptr) return ULMSyncEvent(kULMErrVolume);
    // Every copy of the destination is written from the same state of the
    // context, or they would hold different voxels.
    const ULMRenderContext renderContext(inContext);
    if (renderContext.Status() != kULMOK) return ULMSyncEvent(renderContext.Status());
    inContext = renderContext.Get();
    const ULMBufferLockPair hold(*this, ioOutVolume);
    ULMVolume* destination = WrittenVolume(ioOutVolume);
    if (const ULMStatus caught = CatchUpWithSource(); ULMFailed(caught)) return ULMSyncEvent(caught);
    if (IsObjectType(destination, kObjectTypeULMVolumeInternal)) {
        const ULMLocation at = destination->GetBufferLocation();
        const int which = at == kULMNoBufferAttached ? 0 : static_cast<int>(at);
        if (which < 0 || which >= m_numberRealVolumes) return ULMSyncEvent(kULMErrVolume);
        return m_copies[which]->StartRenderToVolume(inContext, destination, inMode);
    }
    if (!IsObjectType(destination, kObjectTypeULMMultiboardVolumePhase1)) return ULMSyncEvent(kULMErrVolume);
    auto* paired = static_cast<ULMMultiboardVolumePhase1*>(destination);
    if (paired->m_numberRealVolumes > m_numberRealVolumes) return ULMSyncEvent(kULMErrVolume);
    paired->Advance(Serials::kVolume);
    return ULMForwardStart(paired->Copies(), kULMErrVolume, [&](ULMVolume& target, int v) {
        AssertSameLocation(paired->m_subvolume[v].m_location == m_subvolume[v].m_location,
                           "pDest->m_subvolume[v].m_location == m_subvolume[v].m_location");
        return m_copies[v]->StartRenderToVolume(inContext, &target, inMode);
    });
}

}  // namespace ulm3
