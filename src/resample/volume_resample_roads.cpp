// The public resample of a volume's board buffer into another volume's: the
// direct pass, the halving pass on boards that halve Z, or Z resampled as X
// through a sideways temporary, in sections of up to 64 output slices.
#include <algorithm>
#include <cstdint>
#include <new>

#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/fixed_point.h"
#include "foundation/message_log.h"
#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "resample/volume_resample_pass.h"
#include "resample/volume_resample_roads.h"
#include "ulm3/classifier.h"
#include "volume/buffer_lock_pair.h"
#include "volume/sub_volume.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

constexpr int kSectionSlices = 64;
constexpr int kMinSectionSlices = 12;
// The fewest voxels a pass writes in X and Y.
constexpr int kMinPassSide = 12;
constexpr uint64_t kPlaneMask = 0xFFFFFFFFFF800000;

int64_t Pack(double inValue) {
    return static_cast<int64_t>(
        static_cast<uint64_t>(ULMRationalPackFixedPoint<int64_t>(inValue, 40, 0, kULMTrunc)) & kPlaneMask);
}

// The sections of a destination Z: n of 64 slices, the last of `last`
// slices starting `overlap` slices early so that it has at least 12 (the
// pass's least) and an even overlap.
struct Sections {
    int count;
    int last;
    int overlap;
};

Sections SectionsOf(int inSlices) {
    Sections s{inSlices / kSectionSlices, kSectionSlices, 0};
    if (s.count * kSectionSlices != inSlices) {
        s.last = inSlices - s.count * kSectionSlices;
        ++s.count;
    }
    if (s.last < kMinSectionSlices) {
        s.overlap = kMinSectionSlices - s.last;
        s.last = kMinSectionSlices;
        if (s.overlap % 2 != 0) {
            ++s.overlap;
            ++s.last;
        }
    }
    return s;
}

// The ranges of a resample, checked as the image pass checks its
// rectangles, before anything is made: no negative size, each box that
// holds a voxel inside its volume and the board's signed 16-bit
// coordinates, and something to read wherever there is something to write.
// outNothing when the destination holds no voxel, which is done at once.
ULMStatus CheckRanges(const ULMVolume& inSource, const ULMVolumeRange& inSourceRange, const ULMVolume& inDestination,
                      const ULMVolumeRange& inDestinationRange, bool& outNothing) {
    const ULMVolumeRange* boxes[2] = {&inSourceRange, &inDestinationRange};
    const ULMVolumeRange wholes[2] = {inSource.GetRange(), inDestination.GetRange()};
    for (int i = 0; i < 2; ++i) {
        const ULMVolumeRange& box = *boxes[i];
        if (HasNegativeSize(box)) return kULMErrArgument;
        if (box.IsEmpty()) continue;
        if (!wholes[i].Contains(box)) return kULMErrArgument;
        for (int axis = 0; axis < 3; ++axis) {
            const int64_t first = box.m_origin[axis], last = first + box.m_size[axis] - 1;
            if (first < INT16_MIN || last > INT16_MAX) return kULMErrArgument;
        }
    }
    outNothing = inDestinationRange.IsEmpty();
    return !outNothing && inSourceRange.IsEmpty() ? kULMErrArgument : kULMOK;
}

// Whether board b halves Z in one pass.
bool BoardHalves(ULMLocation inBoard) {
    return inBoard >= 0 && static_cast<unsigned>(inBoard) < gULMControl.m_KWBBoardCount &&
           gULMControl.m_board[inBoard].m_minor == 1;
}

// One pass, its failures as an event: what ULMVolumeInternal's pass slot
// gives, with the Y' sampling it cannot take.
ULMSyncEvent Pass(ULMVolumeInternal& ioSource, ULMVolume* pDestination, const ULMVolumeRange& inSourceRange,
                  const ULMVolumeRange& inDestinationRange, const ULMClassifier& inClassifier, int inSideways,
                  int64_t inOriginX, int64_t inSpacingX, int64_t inOriginY, int64_t inSpacingY) {
    try {
        ULMClassifier classifier = inClassifier;
        return ULMVolumeResamplePass(ioSource, pDestination, inSourceRange, inDestinationRange, classifier,
                                     inSideways, inOriginX, inSpacingX, inOriginY, inSpacingY);
    } catch (ULMStatus status) {
        return ULMSyncEvent(status);
    } catch (const std::bad_alloc&) {
        return ULMSyncEvent(kULMErrAlloc);
    }
}

// A volume resampled into its own buffer on the sectioned road: into a
// temporary of the destination's size beside it, then copied in.
ULMSyncEvent ResampleThroughCopy(ULMVolumeInternal& ioVolume, const ULMVolumeRange& inSourceRange,
                                 const ULMVolumeRange& inDestinationRange, const ULMClassifier& inClassifier) {
    ULMFieldDescriptor fields[4];
    for (int f = 0; f < 4; ++f) fields[f] = ioVolume.GetFieldDescriptor(static_cast<ULMFieldNumber>(f));
    const ULMVolumeRange box(inDestinationRange.XSize(), inDestinationRange.YSize(), inDestinationRange.ZSize(), 0,
                             0, 0);
    ReleasablePointer<ULMVolumeInternal> copy(
        ULMVolumeInternal::CreateSimpleVolume(ioVolume.GetVoxelSize(), box, 4, fields, nullptr));
    if (copy.GetPointer() == nullptr) return ULMSyncEvent(kULMErrAlloc);
    const ULMLocation board = ioVolume.GetBufferLocation();
    const ULMStatus locked = copy->LockVolume(board != kULMNoBufferAttached ? board : kULMAnyBoard);
    if (locked != kULMOK) return ULMSyncEvent(locked);
    const ULMSyncEvent resampled = ULMStartVolumeResample(ioVolume, copy.GetPointer(), inSourceRange, box, inClassifier);
    if (ULMFailed(resampled.Status())) return resampled;
    return ULMFollowedBy(resampled, UpdateFromBuffer(ioVolume, copy.GetPointer(), inDestinationRange));
}

// A part of a larger resample that is narrower in X or Y than a pass
// writes: into a temporary wide enough, from its first voxel, then copied
// into the destination's part.
ULMSyncEvent ResampleNarrowPart(ULMVolumeInternal& ioSource, ULMVolume* pDestination,
                                const ULMVolumeRange& inSourceRange, const ULMVolumeRange& inDestinationRange,
                                const ULMClassifier& inClassifier, const ULMResamplePlane& inPlane) {
    const ULMLocation board = ioSource.GetBufferLocation();
    // The copy below writes the destination's buffer: a plain destination
    // without one gets it beside the source first, as a pass gives it.
    if (IsObjectType(pDestination, kObjectTypeULMVolumeInternal) &&
        pDestination->GetBufferLocation() == kULMNoBufferAttached)
        if (const ULMStatus s = pDestination->CreateBuffer(board != kULMNoBufferAttached ? board : kULMAnyBoard);
            s != kULMOK)
            return ULMSyncEvent(s);
    ULMFieldDescriptor fields[4];
    for (int f = 0; f < 4; ++f) fields[f] = ioSource.GetFieldDescriptor(static_cast<ULMFieldNumber>(f));
    const ULMVolumeRange box(std::max(inDestinationRange.XSize(), kMinPassSide),
                             std::max(inDestinationRange.YSize(), kMinPassSide), inDestinationRange.ZSize(), 0, 0, 0);
    ReleasablePointer<ULMVolumeInternal> copy(
        ULMVolumeInternal::CreateSimpleVolume(ioSource.GetVoxelSize(), box, 4, fields, nullptr));
    if (copy.GetPointer() == nullptr) return ULMSyncEvent(kULMErrAlloc);
    const ULMStatus locked = copy->LockVolume(board != kULMNoBufferAttached ? board : kULMAnyBoard);
    if (locked != kULMOK) return ULMSyncEvent(locked);
    ULMResamplePlane shifted = inPlane;
    for (int a = 0; a < 2; ++a) shifted.origin[a] += int64_t{inDestinationRange.m_origin[a]} * inPlane.spacing[a];
    const ULMSyncEvent resampled =
        ULMStartVolumeResample(ioSource, copy.GetPointer(), inSourceRange, box, inClassifier, &shifted);
    if (ULMFailed(resampled.Status())) return resampled;
    return ULMFollowedBy(resampled, UpdateFromBuffer(*pDestination, copy.GetPointer(), inDestinationRange));
}

// Z resampled as X through a sideways temporary T, in sections of up to 64
// destination slices: each section's source slices sampled into T's X, then
// T into the destination's slices.
ULMSyncEvent ResampleInSections(ULMVolumeInternal& ioSource, ULMVolume* pDestination,
                                const ULMVolumeRange& inSourceRange, const ULMVolumeRange& inDestinationRange,
                                const ULMClassifier& inClassifier, ULMLocation inBoard,
                                const ULMResamplePlane* inPlane) {
    const int sourceZ = inSourceRange.ZSize(), destinationZ = inDestinationRange.ZSize();
    double s = static_cast<double>(sourceZ) / destinationZ;
    if (s > 2.0) s = static_cast<double>(sourceZ - 1) / destinationZ;
    if (s > 2.0) return ULMSyncEvent(kULMErrCantSubsample);
    const int64_t spacing = Pack(s);
    s = static_cast<double>(spacing) / kULMFixedScale2340;
    ULM_ASSERT(s <= 2.0);
    const int64_t origin = Pack(((sourceZ - 1.0) - (destinationZ - 1.0) * s) * 0.5 + inSourceRange.ZOrigin());

    // T's X holds up to 64 destination slices, its Y the destination's rows,
    // its Z the source's columns.
    ULMFieldDescriptor fields[4];
    for (int f = 0; f < 4; ++f) fields[f] = ioSource.GetFieldDescriptor(static_cast<ULMFieldNumber>(f));
    ULMVolumeRange sideways(kSectionSlices, inDestinationRange.YSize(), inSourceRange.XSize(), 0, 0, 0);
    ReleasablePointer<ULMVolumeInternal> temporary(
        ULMVolumeInternal::CreateSimpleVolume(ioSource.GetVoxelSize(), sideways, 4, fields, nullptr));
    if (temporary.GetPointer() == nullptr) return ULMSyncEvent(kULMErrAlloc);
    // Without a buffer here, the first pass gives T one.
    temporary->LockVolume(inBoard != kULMNoBufferAttached ? inBoard : kULMAnyBoard);

    ULMClassifier direct = ULMClassifier::DirectRGBA(kULMField0, kULMField1, kULMField2, kULMField3);
    for (int f = 0; f < 4; ++f) {
        const auto field = static_cast<ULMFieldNumber>(f);
        direct.SetInterpolationMode(field, inClassifier.GetInterpolationMode(field));
    }
    ULMVolumeRange slab = inSourceRange;
    std::swap(slab.m_origin[0], slab.m_origin[2]);
    std::swap(slab.m_size[0], slab.m_size[2]);
    const int64_t sourceEnd = int64_t{inSourceRange.ZOrigin()} + sourceZ;
    const Sections sections = SectionsOf(destinationZ);
    // Part of a larger resample: T's rows are the destination's rows from
    // its first, T's Z the source's columns from the part's first.
    int64_t rowsOrigin = 0, rowsSpacing = 0, columnsOrigin = 0, columnsSpacing = 0;
    if (inPlane != nullptr) {
        rowsOrigin = inPlane->origin[1] + int64_t{inDestinationRange.YOrigin()} * inPlane->spacing[1];
        rowsSpacing = inPlane->spacing[1];
        columnsOrigin = inPlane->origin[0] - int64_t{inSourceRange.XOrigin()} * kULMFixedOne2340;
        columnsSpacing = inPlane->spacing[0];
    }
    // Each pass runs whatever became of the one it reads: the handle
    // answers for them all.
    ULMEventJoin passes;
    for (int k = 0; k < sections.count; ++k) {
        const bool last = k == sections.count - 1;
        const int zSize = last ? sections.last : kSectionSlices;
        const int zStart = kSectionSlices * k - (last ? sections.overlap : 0);
        const int64_t sectionOrigin = origin + zStart * spacing;
        // The source slices the section reads, with a slice of slack each
        // side, cut at the source range's end.
        const int64_t first = sectionOrigin / kULMFixedOne2340;
        int64_t count = (sectionOrigin + zSize * spacing) / kULMFixedOne2340 - first + 2;
        count = std::min(count, sourceEnd - first);
        slab.m_origin[0] = static_cast<int32_t>(first);
        slab.m_size[0] = static_cast<int32_t>(count);
        sideways.m_size[0] = zSize;
        ULMSyncEvent event = Pass(ioSource, temporary.GetPointer(), slab, sideways, direct,
                                  ULMVolumeInternal::kSideways, sectionOrigin, spacing, rowsOrigin, rowsSpacing);
        if (ULMFailed(event.Status())) return event;
        passes.Add(event);
        const ULMVolumeRange from(inSourceRange.XSize(), inDestinationRange.YSize(), zSize, 0, 0, 0);
        const ULMVolumeRange to(inDestinationRange.XSize(), inDestinationRange.YSize(), zSize,
                                inDestinationRange.XOrigin(), inDestinationRange.YOrigin(),
                                inDestinationRange.ZOrigin() + zStart);
        event = Pass(*temporary, pDestination, from, to, inClassifier, ULMVolumeInternal::kSideways, columnsOrigin,
                     columnsSpacing, 0, 0);
        if (ULMFailed(event.Status())) return event;
        passes.Add(event);
    }
    return sections.count > 0 ? passes.Result() : ULMSyncEvent(kULMErrArgument);
}

// Refused before anything is made: what CheckRanges refuses, and an odd
// destination slice count that does not end at the volume's end (a pass
// writes slices in pairs, and the extra one must fall outside it). Then the
// destination as the passes write it: told of the change, a mipmap volume
// through its level 0.
ULMStatus ResolveDestination(ULMVolumeInternal& ioSource, const ULMVolumeRange& inSourceRange,
                             ULMVolume*& ioDestination, const ULMVolumeRange& inDestinationRange, bool& outNothing) {
    if (ioDestination == nullptr) return kULMErrVolume;
    if (const ULMStatus s = CheckRanges(ioSource, inSourceRange, *ioDestination, inDestinationRange, outNothing);
        s != kULMOK || outNothing)
        return s;
    const ULMVolumeRange whole = ioDestination->GetRange();
    if (inDestinationRange.ZSize() % 2 != 0 &&
        inDestinationRange.ZOrigin() + inDestinationRange.ZSize() < whole.ZOrigin() + whole.ZSize())
        return kULMErrArgument;
    if (const ULMStatus s = ULMPassDestinationHeld(*ioDestination, "ULMVolume::StartResampleBuffer"); s != kULMOK)
        return s;
    ioDestination->Update(static_cast<const void*>(nullptr), ULMVolumeRange());
    if (IsObjectType(ioDestination, kObjectTypeULMMipmapVolume) && ioDestination->GetMipmapLevel(0) != nullptr)
        ioDestination = ioDestination->GetMipmapLevel(0);
    return kULMOK;
}

}  // namespace

ULMStatus ULMPassDestinationHeld(ULMVolume& inDestination, const char* inWho) {
    ULMVolume* written = &inDestination;
    if (IsObjectType(written, kObjectTypeULMMipmapVolume) && written->GetMipmapLevel(0) != nullptr)
        written = written->GetMipmapLevel(0);
    if (IsObjectType(written, kObjectTypeULMVolumeInternal) || written->IsLocked() ||
        written->GetBufferID() != kULMNoBuffer)
        return kULMOK;
    ULMOutputMessage("%s: the destination is a multiboard volume that is not locked and has no board buffers; "
                     "the result would be lost. Lock it first.\n",
                     inWho);
    return kULMErrVolume;
}

ULMStatus ULMResamplePlaneOf(const ULMVolumeRange& inSource, const ULMVolumeRange& inDestination,
                             ULMResamplePlane& outPlane) {
    for (int a = 0; a < 2; ++a) {
        const ULMStatus s = ULMResampleAxis(inSource.m_origin[a], inSource.m_size[a], inDestination.m_origin[a],
                                            inDestination.m_size[a], outPlane.origin[a], outPlane.spacing[a]);
        if (s != kULMOK) return s;
    }
    return kULMOK;
}

ULMVolumeRange ULMResampleReach(const ULMResamplePlane& inPlane, const ULMVolumeRange& inSourceBox,
                                const ULMVolumeRange& inCandidate, const ULMVolumeRange* inFirstIn) {
    ULMVolumeRange reach = inCandidate;
    for (int a = 0; a < 2; ++a) {
        const int64_t first = inSourceBox.m_origin[a], last = first + inSourceBox.m_size[a] - 1;
        const ULMVolumeRange& lows = inFirstIn != nullptr ? *inFirstIn : inSourceBox;
        const int64_t lowFirst = lows.m_origin[a], lowLast = lowFirst + lows.m_size[a] - 1;
        int lo = 0, count = 0;
        for (int i = 0; i < inCandidate.m_size[a]; ++i) {
            const int64_t q = int64_t{inCandidate.m_origin[a]} + i;
            // The chip's position at 1/256 voxel, and the voxels it reads.
            const int64_t at256 = (inPlane.origin[a] + q * inPlane.spacing[a]) >> 32;
            const int64_t low = at256 >> 8, high = low + ((at256 & 255) != 0 ? 1 : 0);
            if (low < first || high > last || low < lowFirst || low > lowLast) continue;
            if (count == 0) lo = static_cast<int>(q);
            count = static_cast<int>(q) - lo + 1;
        }
        reach.m_origin[a] = lo;
        reach.m_size[a] = count;
    }
    return reach;
}

ULMSyncEvent ULMStartVolumeResample(ULMVolumeInternal& ioSource, ULMVolume* pDestination,
                                    const ULMVolumeRange& inSourceRange, const ULMVolumeRange& inDestinationRange,
                                    const ULMClassifier& inClassifier, const ULMResamplePlane* inPlane) {
    // The source's and the destination's locks (a wrapper's and those of
    // the volumes it holds) are held through every pass of the road, before
    // the temporary's and before the destination is told: each pass takes
    // them again beside the temporary, in the same order, and another
    // thread's road the other way round waits for this one.
    const ULMBufferLockPair bufferHold(ioSource, pDestination);
    bool nothing = false;
    if (const ULMStatus s = ResolveDestination(ioSource, inSourceRange, pDestination, inDestinationRange, nothing);
        s != kULMOK || nothing)
        return ULMSyncEvent(s);
    const ULMLocation sourceLocation = ioSource.GetBufferLocation();
    const ULMLocation destinationLocation = pDestination->GetBufferLocation();
    if (const ULMStatus status = ioSource.BoardCopy().WriteBackSlab(); ULMFailed(status)) return ULMSyncEvent(status);
    // A destination the application holds mapped, or otherwise keeps
    // writers out of, is refused as an update of it would be.
    if (IsObjectType(pDestination, kObjectTypeULMVolumeInternal))
        if (const ULMStatus s = static_cast<ULMVolumeInternal*>(pDestination)->ProbeWriteAccess(); s != kULMOK)
            return ULMSyncEvent(s);
    // Into its own buffer: a volume without one would be read from a buffer
    // the pass lends it and takes back with what was written into it.
    const unsigned long long id = ioSource.GetBufferID();
    const bool ownBuffer = pDestination == &ioSource || (id != kULMNoBuffer && pDestination->GetBufferID() == id);
    if (ownBuffer && id == kULMNoBuffer) return ULMSyncEvent(kULMErrVolume);
    if (ownBuffer && inPlane != nullptr) return ULMSyncEvent(kULMErrArgument);
    if (inPlane != nullptr && (inDestinationRange.XSize() < kMinPassSide || inDestinationRange.YSize() < kMinPassSide))
        return ResampleNarrowPart(ioSource, pDestination, inSourceRange, inDestinationRange, inClassifier, *inPlane);

    const bool inPlace = (sourceLocation == destinationLocation || destinationLocation == kULMNoBufferAttached) &&
                         IsObjectType(pDestination, kObjectTypeULMVolumeInternal);
    const int sourceZ = inSourceRange.ZSize(), destinationZ = inDestinationRange.ZSize();
    const ULMLocation board = sourceLocation != kULMNoBufferAttached ? sourceLocation : destinationLocation;
    const bool inSections = inPlane != nullptr && inPlane->inSections;
    if (inPlace && !inSections && (destinationZ == sourceZ || (destinationZ == sourceZ / 2 && BoardHalves(board)))) {
        if (inPlane != nullptr)
            return Pass(ioSource, pDestination, inSourceRange, inDestinationRange, inClassifier,
                        ULMVolumeInternal::kOneToOne, inPlane->origin[0], inPlane->spacing[0], inPlane->origin[1],
                        inPlane->spacing[1]);
        return ioSource.DoStartResampleBuffer(pDestination, inSourceRange, inDestinationRange, inClassifier,
                                              ULMVolumeInternal::kOneToOne, 0, 0);
    }
    // The sectioned road. Below 12 slices the one section would start
    // before the destination range and write there.
    if (destinationZ < kMinSectionSlices) return ULMSyncEvent(kULMErrArgument);
    // Into its own buffer, a section would overwrite slices that later
    // sections read: the resample goes into a temporary, copied in whole.
    if (ownBuffer) return ResampleThroughCopy(ioSource, inSourceRange, inDestinationRange, inClassifier);
    return ResampleInSections(ioSource, pDestination, inSourceRange, inDestinationRange, inClassifier, board, inPlane);
}

}  // namespace ulm3
