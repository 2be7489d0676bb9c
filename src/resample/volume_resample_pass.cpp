// One board pass that samples a box of a volume's board buffer into a box of
// another volume's buffer: X and Y at up to two source voxels per output
// voxel, Z one to one or halved, the axes optionally exchanged on the way.
#include "resample/volume_resample_pass.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "board/board_range.h"
#include "board/board_pass_block.h"
#include "board/kwb_board.h"
#include "context/classifier_internal.h"
#include "foundation/diagnostics.h"
#include "foundation/field_conversions.h"
#include "foundation/fixed_point.h"
#include "foundation/scope_guard.h"
#include "foundation/transform_register.h"
#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "render/volume_render_access.h"
#include "tulx7/chip_codes.h"
#include "ulm3/classifier.h"
#include "volume/buffer_lock_pair.h"
#include "volume/volume_internal.h"
#include "volume/volume_upper_layers.h"

namespace ulm3 {

namespace {

// X' and Y' keep 17 fraction bits, the Z' origin 8.
constexpr uint64_t kPlaneMask = 0xFFFFFFFFFF800000;
constexpr uint64_t kSliceMask = 0xFFFFFFFF00000000;
constexpr int kMinSection = 12;
constexpr int kMaxSection = 24;
// Four fields of `inSizeBits` unsigned bits, field i at bit inStride x i.
constexpr uint32_t FourFields(uint32_t inSizeBits, int32_t inStride) {
    uint32_t codes = 0;
    for (int i = 0; i < 4; ++i)
        codes |= NKW7_FieldCodeAt(
            NKW7_FieldCode(NKW7_Code(NKW7_FieldControl::UnsignedFraction), inSizeBits, inStride * i), i);
    return codes;
}
// Four 8-bit unsigned fields at bits 0, 8, 16 and 24, which copies every bit
// of an 8-, 16- or 32-bit voxel.
constexpr uint64_t kByteFields = FourFields(8, 8);
constexpr uint32_t kTwelveBitTables = FourFields(12, 0);
// Write image 0, one element per sample, each sample replacing the last.
constexpr uint32_t kImageControl = NKW7_FIELD(ImageControl, write, NKW7_ImageWrite::Image0) |
                                   NKW7_FIELD(ImageControl, dimensions, 1) |
                                   NKW7_FIELD(ImageControl, blendAccum, NKW7_BlendMode::Replace);
// Run, then add 1 to Scratch7.
constexpr uint32_t kRenderOperation = NKW7_FIELD(RenderOperation, opcode, NKW7_RenderOpcode::Render) |
                                      NKW7_FIELD(RenderOperation, incrOnDone, NKW7_IncrOnDoneScratch(7));
constexpr const char* kWriteFailure = "WriteRegister %s failed: %d\n";

// The Transform word of each mode: selectX, selectY, selectZ name the
// volume axes that feed X', Y', Z'.
constexpr uint32_t kTransform[4] = {
    ULMTransformWord({{0, 1, 2}, {0, 0, 0}}), ULMTransformWord({{2, 1, 0}, {0, 0, 0}}),
    ULMTransformWord({{1, 2, 0}, {0, 0, 0}}), ULMTransformWord({{2, 0, 1}, {0, 0, 0}})};

int64_t Pack(double inValue, uint64_t inMask) {
    const uint64_t packed = static_cast<uint64_t>(ULMRationalPackFixedPoint<int64_t>(inValue, 40, 0, kULMTrunc));
    return static_cast<int64_t>(packed & inMask);
}

struct Axis {
    int64_t spacing = 0;
    int64_t origin = 0;
};

// Output voxel i samples origin + i x spacing; with the computed values the
// first and last output voxels lie symmetrically about the source's centre.
ULMStatus PlaneAxis(int64_t inSourceOrigin, int64_t inSourceSize, int64_t inOutputOrigin, int64_t inNewSize,
                    Axis& outAxis) {
    double s = static_cast<double>(inSourceSize) / static_cast<double>(inNewSize);
    if (s > 2.0) s = static_cast<double>(inSourceSize - 1) / static_cast<double>(inNewSize);
    if (s > 2.0) return kULMErrCantSubsample;
    outAxis.spacing = Pack(s, kPlaneMask);
    s = static_cast<double>(outAxis.spacing) / kULMFixedScale2340;
    ULM_ASSERT(s <= 2.0);
    outAxis.origin = Pack(((static_cast<double>(inSourceSize) - 1.0) - (static_cast<double>(inNewSize) - 1.0) * s) * 0.5 +
                              static_cast<double>(inSourceOrigin) - static_cast<double>(inOutputOrigin) * s,
                          kPlaneMask);
    return kULMOK;
}

// 33 / spacing + 1 samples, limited to 12..24 and the output size, as the
// Section register's size / 4 - 1.
uint32_t SectionCode(int64_t inSpacing, int64_t inNewSize) {
    const int64_t wanted = std::clamp<int64_t>(
        static_cast<int64_t>(33.0 * kULMFixedScale2340 / static_cast<double>(inSpacing) + 1.0), kMinSection, kMaxSection);
    const int64_t size = std::min(inNewSize, wanted);
    return static_cast<uint32_t>(std::max<int64_t>(size / 4 - 1, 0));
}

// A trim in 1/256 voxel, a signed S23.8 word.
uint32_t Trim(int64_t inVoxels256) { return static_cast<uint32_t>(static_cast<int32_t>(inVoxels256)); }

// The source box of the sample frame in the source volume's axes: the
// order the board range of the pass takes.
ULMVolumeRange ToVolumeAxes(const ULMVolumeRange& inFrame, int inSideways) {
    static constexpr int kFrameAxisOf[4][3] = {{0, 1, 2}, {2, 1, 0}, {2, 0, 1}, {1, 2, 0}};
    ULMVolumeRange box;
    for (int axis = 0; axis < 3; ++axis) {
        box.m_origin[axis] = inFrame.m_origin[kFrameAxisOf[inSideways][axis]];
        box.m_size[axis] = inFrame.m_size[kFrameAxisOf[inSideways][axis]];
    }
    return box;
}

// A box the chip can address: sizes not negative, every bound 16-bit.
// Whether a buffer holds it under its addressing is the board copy's to
// say (CanRead, CanWrite).
bool Addressable(const ULMVolumeRange& inBox) {
    for (int axis = 0; axis < 3; ++axis) {
        const int64_t origin = inBox.m_origin[axis];
        const int64_t end = origin + inBox.m_size[axis] - 1;
        if (inBox.m_size[axis] < 0 || origin < -32768 || origin > 32767 || end < -32768 || end > 32767) return false;
    }
    return true;
}

// Locks a volume without a buffer for the length of the pass.
class LockAndUnlockVolume {
public:
    LockAndUnlockVolume(ULMVolume* inVolume, ULMLocation inLocation, ULMStatus& outStatus) {
        outStatus = kULMOK;
        if (inVolume->GetBufferID() != kULMNoBuffer) return;
        outStatus = inVolume->LockVolume(inLocation);
        if (outStatus == kULMOK) m_volume = inVolume;
    }
    ~LockAndUnlockVolume() {
        if (m_volume != nullptr) m_volume->UnlockVolume(0);
    }
    LockAndUnlockVolume(const LockAndUnlockVolume&) = delete;
    LockAndUnlockVolume& operator=(const LockAndUnlockVolume&) = delete;

private:
    ULMVolume* m_volume = nullptr;
};

// An access on the source, and its preparation, for the length of the pass;
// the source's buffer lock too, so that no application call takes its
// buffer before the pass is queued.
class AddAccessAndRelease {
public:
    AddAccessAndRelease(ULMVolumeInternal* inVolume, const ULMVolumeRange& inReads, ULMAccessType inType,
                        ULMStatus& outStatus)
        : m_bufferHold(inVolume->BoardCopy().Lock()), m_volume(inVolume), m_reads(inReads) {
        outStatus = inVolume->AddAccess(inType);
        m_held = outStatus == kULMOK;
    }
    ~AddAccessAndRelease() {
        if (m_prepared) m_volume->BoardCopy().Finish();
        if (m_held) m_volume->ReleaseAccess();
    }
    AddAccessAndRelease(const AddAccessAndRelease&) = delete;
    AddAccessAndRelease& operator=(const AddAccessAndRelease&) = delete;

    ULMStatus DoPrepareVolume() {
        if (!m_held) return kULMErrArgument;
        const ULMStatus status = m_volume->BoardCopy().PrepareToRead(m_reads);
        m_prepared = status == kULMOK;
        return status;
    }

private:
    ULMRecursiveLock m_bufferHold;
    ULMVolumeInternal* m_volume;
    // The box the pass reads.
    ULMVolumeRange m_reads;
    bool m_held = false;
    bool m_prepared = false;
};

}  // namespace

ULMSyncEvent UpdateFromBuffer(ULMVolume& ioDestination, const ULMVolume* inTemporary, const ULMVolumeRange& inBox) {
    const ULMTarget target = ioDestination.GetTarget();
    ioDestination.SetTarget(kULMBuffer);
    const ULMSyncEvent copied = ioDestination.StartUpdate(inTemporary, inBox, 0, 0, 0, kULMUseBuffer);
    ioDestination.SetTarget(target);
    return copied;
}

int64_t EvenCountEnd(int64_t inOrigin, int64_t inSize) {
    const int64_t last = inOrigin + inSize - 1;
    return inOrigin % 2 == 0 ? (last | 1) : ((last + 1) & ~int64_t{1});
}

ULMStatus VolumeResampleValues(const ULMVolumePassSetup& in, ULMImagePassValues& out) {
    const ULMVolumeRange& src = in.source;
    const ULMVolumeRange& box = in.output;
    for (int axis = 0; axis < 3; ++axis)
        if (src.m_size[axis] <= 0) return kULMErrArgument;
    int64_t zSpacing = kULMFixedOne2340;
    if (box.ZSize() != src.ZSize()) {
        if (box.ZSize() != src.ZSize() / 2) return kULMErrArgument;
        zSpacing = 2 * kULMFixedOne2340;
    }
    Axis x, y;
    if (in.originX == 0 && in.spacingX == 0) {
        if (const ULMStatus s = PlaneAxis(src.XOrigin(), src.XSize(), box.XOrigin(), box.XSize(), x); s != kULMOK)
            return s;
    } else {
        x.origin = in.originX;
        x.spacing = in.spacingX;
    }
    if (in.originY == 0 && in.spacingY == 0) {
        if (const ULMStatus s = PlaneAxis(src.YOrigin(), src.YSize(), box.YOrigin(), box.YSize(), y); s != kULMOK)
            return s;
    } else {
        y.origin = in.originY;
        y.spacing = in.spacingY;
    }
    const double sz = static_cast<double>(zSpacing) / kULMFixedScale2340;
    const int64_t originZ = Pack(((src.ZSize() - 1.0) - (box.ZSize() - 1.0) * sz) * 0.5 + src.ZOrigin() - box.ZOrigin() * sz,
                                 kSliceMask);

    out = ULMImagePassValues{};
    out.frustumMin = ULMPassCoordinates(box.XOrigin(), box.YOrigin(), box.ZOrigin());
    out.frustumMax = ULMPassCoordinates(box.XOrigin() + box.XSize() - 1, box.YOrigin() + box.YSize() - 1,
                                        EvenCountEnd(box.ZOrigin(), box.ZSize()));
    out.transform = kTransform[in.sideways];
    const bool copiesBytes = in.sideways == ULMVolumeInternal::kUnload || in.sideways == ULMVolumeInternal::kUpdate;
    out.image0Fields = copiesBytes ? static_cast<uint32_t>(kByteFields) : in.image0Fields;
    // Half a voxel beyond the box in X' and Y', so that an enlargement's
    // edge voxels, which sample just outside it, are still written.
    const int64_t xEnd = src.XOrigin() + src.XSize() - 1, yEnd = src.YOrigin() + src.YSize() - 1;
    out.trims[0] = Trim(int64_t{src.XOrigin()} * 256 - 128);
    out.trims[1] = Trim(xEnd * 256 + 128);
    out.trims[2] = Trim(int64_t{src.YOrigin()} * 256 - 128);
    out.trims[3] = Trim(yEnd * 256 + 128);
    out.trims[4] = Trim(int64_t{src.ZOrigin()} * 256);
    out.trims[5] = Trim(EvenCountEnd(src.ZOrigin(), src.ZSize()) * 256);
    out.origin[0] = x.origin;
    out.origin[1] = y.origin;
    out.origin[2] = originZ;
    out.step[0] = x.spacing;
    out.step[1] = y.spacing;
    out.step[2] = zSpacing;
    out.voxelFormat = copiesBytes ? kByteFields : in.voxelFormat;
    out.voxelBorder = in.border & 0xFFFFFFFF;
    for (int i = 0; i < 4; ++i) out.lookupTableFormat[i] = copiesBytes ? kTwelveBitTables : in.lutFormat[i];
    for (int i = 0; i < 3; ++i) out.alu[i] = in.alu[i];
    const uint32_t sectionX = SectionCode(x.spacing, box.XSize());
    const uint32_t sectionY = SectionCode(y.spacing, box.YSize());
    out.section = NKW7_FIELD(Section, sizeY, sectionY) | NKW7_FIELD(Section, sizeX, sectionX);
    out.interpolateControl = in.interpolateControl;
    out.imageControl = kImageControl;
    uint32_t operation = kRenderOperation;
    for (int i = 0; i < 4; ++i)
        if (in.bypass & (1u << i))
            operation |= NKW7_FIELD_AT(RenderOperation, bypass0, bypass1, i, NKW7_TableBypass::Bypass);
    out.renderOperation = operation;
    return kULMOK;
}

namespace {

// Refused before anything is locked, made or queued: no destination, an
// invalid classifier, an unknown orientation, an output under 12 x 12 x 1.
ULMStatus CheckPassArguments(const ULMVolume* inDestination, const ULMClassifier& inClassifier, int inSideways,
                             const ULMVolumeRange& inDestinationRange) {
    if (inDestination == nullptr) return kULMErrVolume;
    if (!inClassifier.IsValid()) return kULMErrClassifier;
    if (inSideways < ULMVolumeInternal::kOneToOne || inSideways > ULMVolumeInternal::kUpdate) return kULMErrArgument;
    if (inDestinationRange.XSize() < 12 || inDestinationRange.YSize() < 12 || inDestinationRange.ZSize() < 1)
        return kULMErrArgument;
    return kULMOK;
}

// The pass classifies after sampling; a classifier that asks for the other
// order samples its fields nearest instead.
void SampleNearestWhenClassifyingFirst(ULMClassifier& ioClassifier) {
    if (ioClassifier.GetInterpolationOrder() != ULMClassifier::kClassifyFirst) return;
    ioClassifier.SetInterpolationOrder(ULMClassifier::kInterpolateFirst);
    for (int f = 0; f < 4; ++f) ioClassifier.SetInterpolationMode(static_cast<ULMFieldNumber>(f), kULMNearestNeighbor);
}

ULMVolumePassSetup PassSetup(const ULMVolumeRange& inSourceRange, const ULMVolumeRange& inDestinationRange,
                             int inSideways, long long inOriginX, long long inSpacingX, long long inOriginY,
                             long long inSpacingY) {
    ULMVolumePassSetup setup;
    setup.source = inSourceRange;
    setup.output = inDestinationRange;
    setup.sideways = inSideways;
    setup.originX = inOriginX;
    setup.spacingX = inSpacingX;
    setup.originY = inOriginY;
    setup.spacingY = inSpacingY;
    return setup;
}

// The chip writes an even number of output slices; an odd count would
// overwrite the slice after the box, so it goes through a temporary whose Z
// holds the extra slice. Negative coordinates cannot be written at all (the
// chip's grid is unsigned), so they do too, as does a destination the pass
// cannot write in place.
bool NeedsTemporary(bool inNotInPlace, const ULMVolumeRange& inDestinationRange) {
    const bool oddSlices = inDestinationRange.ZSize() % 2 != 0;
    const bool negative =
        inDestinationRange.XOrigin() < 0 || inDestinationRange.YOrigin() < 0 || inDestinationRange.ZOrigin() < 0;
    return inNotInPlace || oddSlices || negative;
}

// A temporary of the destination's size, rounded up to whole slice pairs,
// with a buffer beside the source.
ULMStatus MakeTemporaryOutput(const ULMVolumeRange& inDestinationRange, int inVoxelSize,
                              const ULMFieldDescriptor inFields[4], ULMLocation inLocation,
                              ReleasablePointer<ULMVolumeInternal>& outTemporary) {
    const bool oddSlices = inDestinationRange.ZSize() % 2 != 0;
    const ULMVolumeRange temporaryRange(inDestinationRange.XSize(), inDestinationRange.YSize(),
                                        inDestinationRange.ZSize() + (oddSlices ? 1 : 0), 0, 0, 0);
    outTemporary.Assign(ULMVolumeInternal::CreateSimpleVolume(inVoxelSize, temporaryRange, 4, inFields, nullptr));
    if (outTemporary.GetPointer() == nullptr) return kULMErrAlloc;
    return outTemporary->CreateBuffer(inLocation);
}

// The source's classifier registers, border and the destination's field codes.
ULMStatus ClassifierRegisters(ULMVolumeInternal* inSource, const ULMClassifier& inClassifier,
                              const ULMVolume& inDestination, ULMLookupTable* outLuts[4], ULMVolumePassSetup& ioSetup) {
    ULMFieldNumber gradientFields[3] = {kULMField0, kULMField0, kULMField0};
    const ULMStatus status = ULMClassifierInternal(inClassifier).ComputeHardwareRegisters(
        inSource, ioSetup.voxelFormat, ioSetup.interpolateControl, outLuts, ioSetup.lutFormat, ioSetup.alu,
        gradientFields);
    if (status != kULMOK) return status;
    uint32_t codes = 0;
    for (int i = 0; i < 4; ++i)
        codes |= NKW7_FieldCodeAt(HWFieldFormat(inDestination.GetFieldDescriptor(static_cast<ULMFieldNumber>(i))), i);
    ioSetup.image0Fields = codes;
    ioSetup.border = inSource->GetBorderValue();
    return kULMOK;
}

// Slabs may hold newer voxels than the buffers the pass reads and writes.
ULMStatus UpdateFromCaches(ULMVolumeInternal& ioSource, ULMVolumeInternal* ioPlainDestination) {
    const ULMStatus status = ioSource.BoardCopy().WriteBackSlab();
    if (ULMFailed(status) || ioPlainDestination == nullptr || ioPlainDestination == &ioSource) return status;
    return ioPlainDestination->BoardCopy().WriteBackSlab();
}

ULMStatus WritePassBlock(const ULMImagePassValues& inValues, ULMBoardPassBlock& ioBlock) {
    const ULMStatus status = ioBlock.Open();
    if (status != kULMOK) return status;
    ioBlock.Write(ULMImagePassProgramme(inValues), ULMBoardPassBlock::FailureArguments::kNumber);
    return ioBlock.Close();
}

// Where a pass writes: the destination, or a temporary beside the source
// whose box is copied into the destination once the pass is queued.
struct PassOutput {
    ULMVolumeInternal* plainDestination = nullptr;
    ULMVolumeInternal* volume = nullptr;
    ReleasablePointer<ULMVolumeInternal> temporary;
};

// The destination's buffer, made beside the source when it has none, both
// boxes checked, and the temporary where the pass cannot write in place.
ULMStatus PlaceOutput(ULMVolumeInternal& ioSource, ULMVolume& ioDestination, ULMLocation inDestinationLocation,
                      const ULMVolumeRange& inSourceBox, const ULMVolumeRange& inDestinationRange,
                      ULMVolumePassSetup& ioSetup, PassOutput& ioOutput) {
    const ULMLocation sourceLocation = ioSource.GetBufferLocation();
    ULMLocation destinationLocation = inDestinationLocation;
    if (destinationLocation == kULMNoBufferAttached) {
        const ULMStatus status = ioDestination.CreateBuffer(sourceLocation);
        if (status != kULMOK) return status;
        destinationLocation = ioDestination.GetBufferLocation();
    }
    if (!Addressable(inSourceBox) || !Addressable(inDestinationRange)) return kULMErrArgument;
    // The result lands at elements of its own in a plain destination, in
    // place or through the temporary.
    if (ioOutput.plainDestination != nullptr) {
        const ULMStatus status = ioOutput.plainDestination->BoardCopy().CanWrite(inDestinationRange);
        if (status != kULMOK) return status;
    }
    ioOutput.volume = ioOutput.plainDestination;
    if (!NeedsTemporary(ioOutput.plainDestination == nullptr || destinationLocation != sourceLocation,
                        inDestinationRange))
        return kULMOK;
    ULMFieldDescriptor fields[4];
    for (int f = 0; f < 4; ++f) fields[f] = ioSource.GetFieldDescriptor(static_cast<ULMFieldNumber>(f));
    const ULMStatus status = MakeTemporaryOutput(inDestinationRange, ioSource.GetVoxelSize(), fields, sourceLocation,
                                                 ioOutput.temporary);
    if (status != kULMOK) return status;
    ioSetup.output =
        ULMVolumeRange(inDestinationRange.XSize(), inDestinationRange.YSize(), inDestinationRange.ZSize(), 0, 0, 0);
    // A given plane counts output voxels in the destination's coordinates,
    // as a computed one does; the temporary's voxel 0 is the box's first.
    if (ioSetup.originX != 0 || ioSetup.spacingX != 0)
        ioSetup.originX += int64_t{inDestinationRange.XOrigin()} * ioSetup.spacingX;
    if (ioSetup.originY != 0 || ioSetup.spacingY != 0)
        ioSetup.originY += int64_t{inDestinationRange.YOrigin()} * ioSetup.spacingY;
    ioOutput.volume = ioOutput.temporary.GetPointer();
    return kULMOK;
}

// The tables and the programme of the pass, queued on the output's board,
// and the temporary's box copied into the destination.
ULMSyncEvent SubmitPass(ULMVolumeInternal& ioSource, ULMVolume& ioDestination, const ULMVolumeRange& inSourceBox,
                        const ULMVolumeRange& inDestinationRange, const ULMClassifier& inClassifier,
                        ULMVolumePassSetup& ioSetup, PassOutput& ioOutput) {
    ULMLookupTable* luts[4] = {};
    ULMStatus status = ClassifierRegisters(&ioSource, inClassifier, ioDestination, luts, ioSetup);
    if (status != kULMOK) return ULMSyncEvent(status);
    ULMVolumeInternal& output = *ioOutput.volume;
    KWBBoard* board = KWBBoard::GetBoard(output.GetBufferLocation());
    ULM_ASSERT(board != nullptr);
    ULMRenderCache& cache = ULMVolumeRenderCache(ioSource);
    cache.Clear(board);
    status = cache.SetupLookupTables(nullptr, luts, nullptr, 0, 0.0, false);
    if (status != kULMOK) return ULMSyncEvent(status);
    ULMScopeGuard releaseTables([&cache] { cache.ReleaseLUT(); });
    KWBBuffer* tables[4] = {};
    cache.GetLutBuffers(tables);
    ioSetup.bypass = 0;
    for (int i = 0; i < 4; ++i)
        if (tables[i] == nullptr) ioSetup.bypass |= 1u << i;
    ULMImagePassValues values;
    status = VolumeResampleValues(ioSetup, values);
    if (status != kULMOK) return ULMSyncEvent(status);
    ULMBoardPassBlock block(board->CreateCommandBuffer(ULMBoardPassBlock::kCommandWords), kWriteFailure);
    status = WritePassBlock(values, block);
    if (status != kULMOK) return ULMSyncEvent(status);

    ULMVolumeBoardCopy& source = ioSource.BoardCopy();
    source.NarrowTo(inSourceBox);
    KWBBuffer* outputBuffer = output.BoardCopy().Buffer();
    ULM_ASSERT(outputBuffer != nullptr);
    output.BoardCopy().NoteBoardWrite(ioSetup.output);
    if (outputBuffer != source.Buffer()) output.BoardCopy().OpenWhole();
    ULMBoardRenderBuffers read;
    read.volume = source.Buffer();
    std::copy(tables, tables + 4, read.luts);
    const ULMSyncEvent rendered =
        ULMWithInputLoads(block.Submit(board, source.Buffer(), outputBuffer, nullptr, kKWBWritesImage0, tables,
                                       ULMVolumeLastRenderEvent(ioSource)),
                          read);
    releaseTables.RunNow();
    if (ULMFailed(rendered.Status()) || ioOutput.temporary.GetPointer() == nullptr) return rendered;

    // The exact box out of the temporary, from its origin.
    const ULMVolumeRange written(inDestinationRange.XSize(), inDestinationRange.YSize(), inDestinationRange.ZSize(),
                                 0, 0, 0);
    if (ioOutput.plainDestination != nullptr) {
        bool tried = false;
        const ULMSyncEvent copied =
            ioOutput.plainDestination->CopyBoardBuffer(&output, inDestinationRange, written, tried);
        if (tried) return ULMFollowedBy(rendered, copied);
    }
    return ULMFollowedBy(rendered, UpdateFromBuffer(ioDestination, &output, inDestinationRange));
}

}  // namespace

ULMStatus ULMResampleAxis(int64_t inSourceOrigin, int64_t inSourceSize, int64_t inOutputOrigin, int64_t inNewSize,
                          int64_t& outOrigin, int64_t& outSpacing) {
    if (inSourceSize <= 0 || inNewSize <= 0) return kULMErrArgument;
    Axis axis;
    if (const ULMStatus s = PlaneAxis(inSourceOrigin, inSourceSize, inOutputOrigin, inNewSize, axis); s != kULMOK)
        return s;
    outOrigin = axis.origin;
    outSpacing = axis.spacing;
    return kULMOK;
}

ULMSyncEvent ULMVolumeResamplePass(ULMVolumeInternal& ioSource, ULMVolume* pDestination,
                                   const ULMVolumeRange& inSourceRange, const ULMVolumeRange& inDestinationRange,
                                   ULMClassifier& ioClassifier, int inSideways, long long originX,
                                   long long spacingX, long long originY, long long spacingY) {
    const ULMStatus refused = CheckPassArguments(pDestination, ioClassifier, inSideways, inDestinationRange);
    if (refused != kULMOK) return ULMSyncEvent(refused);
    SampleNearestWhenClassifyingFirst(ioClassifier);
    const ULMVolumeRange sourceBox = ToVolumeAxes(inSourceRange, inSideways);
    ULMVolumePassSetup setup =
        PassSetup(inSourceRange, inDestinationRange, inSideways, originX, spacingX, originY, spacingY);
    ULMImagePassValues values;
    if (const ULMStatus s = VolumeResampleValues(setup, values); s != kULMOK) return ULMSyncEvent(s);

    // Both buffers are held from here until the pass is queued: no other
    // thread frees or re-addresses either, and a pass the other way round
    // waits instead of holding the other lock. The slabs go back into their
    // buffers first, and that write-back takes the slab's lock after these,
    // as updates do.
    const ULMBufferLockPair bufferHold(ioSource, pDestination);
    const bool destinationPlain = IsObjectType(pDestination, kObjectTypeULMVolumeInternal);
    PassOutput output;
    output.plainDestination = destinationPlain ? static_cast<ULMVolumeInternal*>(pDestination) : nullptr;
    if (const ULMStatus s = UpdateFromCaches(ioSource, output.plainDestination); ULMFailed(s))
        return ULMSyncEvent(s);
    const ULMLocation destinationLocation = destinationPlain ? pDestination->GetBufferLocation() : kULMAnyBoard;
    ULMStatus status = kULMOK;
    LockAndUnlockVolume lock(&ioSource,
                             destinationLocation == kULMNoBufferAttached ? kULMAnyBoard : destinationLocation, status);
    if (status != kULMOK) return ULMSyncEvent(status);
    // A box the source's buffer cannot hold is refused before anything is
    // made or queued; what it lacks and can hold is loaded by the prepare.
    status = ioSource.BoardCopy().CanRead(sourceBox);
    if (status != kULMOK) return ULMSyncEvent(status);
    status = PlaceOutput(ioSource, *pDestination, destinationLocation, sourceBox, inDestinationRange, setup, output);
    if (status != kULMOK) return ULMSyncEvent(status);
    AddAccessAndRelease access(&ioSource, sourceBox, kULMAccessReadShared, status);
    if (status != kULMOK) return ULMSyncEvent(status);
    status = access.DoPrepareVolume();
    if (status != kULMOK) return ULMSyncEvent(status);
    return SubmitPass(ioSource, *pDestination, sourceBox, inDestinationRange, ioClassifier, setup, output);
}

}  // namespace ulm3
