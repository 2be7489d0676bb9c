// A volume's board copy: what the buffer holds of the volume under its
// addressing, whether a read or write of a box can be done there, and the
// changes of addressing and size that keep the voxels it holds at their own
// coordinates.
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "board/board_range.h"
#include "board/buffer_addressing.h"
#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "foundation/message_log.h"
#include "ulm3/status.h"
#include "volume/volume_board_copy.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

int64_t End(const ULMVolumeRange& inBox, int inAxis) { return int64_t{inBox.m_origin[inAxis]} + inBox.m_size[inAxis]; }

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

// What a write of inBox leaves in a wrapped buffer: on an axis longer than
// its modulus only the last modulus voxels, as the board moves only those.
ULMVolumeRange WrittenUnderWrap(const int32_t inModuli[3], const ULMVolumeRange& inBox) {
    ULMVolumeRange written = inBox;
    for (int axis = 0; axis < 3; ++axis) {
        if (written.m_size[axis] <= inModuli[axis]) continue;
        written.m_origin[axis] += written.m_size[axis] - inModuli[axis];
        written.m_size[axis] = inModuli[axis];
    }
    return written;
}

// The runs of [inHeld, inHeldEnd) whose coordinates are those of
// [inWritten, inWrittenEnd), at most a modulus long, modulo inModulus: the
// voxels there share their elements with the written ones. A run of more
// periods than a held box can span counts as shared whole.
std::vector<std::pair<int64_t, int64_t>> SharedRuns(int64_t inHeld, int64_t inHeldEnd, int64_t inWritten,
                                                    int64_t inWrittenEnd, int64_t inModulus) {
    const auto floorDiv = [](int64_t a, int64_t b) { return a / b - (a % b != 0 && a < 0 ? 1 : 0); };
    const int64_t first = floorDiv(inHeld - inWrittenEnd, inModulus) + 1;
    const int64_t last = floorDiv(inHeldEnd - 1 - inWritten, inModulus);
    if (last - first > 3) return {{inHeld, inHeldEnd}};
    std::vector<std::pair<int64_t, int64_t>> runs;
    for (int64_t k = first; k <= last; ++k) {
        const int64_t start = std::max(inHeld, inWritten + k * inModulus);
        const int64_t end = std::min(inHeldEnd, inWrittenEnd + k * inModulus);
        if (start < end) runs.emplace_back(start, end);
    }
    return runs;
}

// Some voxel of inA and some other voxel of inB share an element under
// inModuli; each box spans at most one period per axis.
bool ShareElements(const ULMVolumeRange& inA, const ULMVolumeRange& inB, const int32_t inModuli[3]) {
    for (int axis = 0; axis < 3; ++axis)
        if (SharedRuns(inA.m_origin[axis], End(inA, axis), inB.m_origin[axis], End(inB, axis), inModuli[axis]).empty())
            return false;
    return true;
}

// The boxes, which do not overlap, under a wrap: each at elements the
// storage has, and no two voxels on one element.
bool WrapHoldsApart(const std::vector<ULMVolumeRange>& inBoxes, const int32_t inModuli[3], const int32_t inSizes[3]) {
    for (size_t i = 0; i < inBoxes.size(); ++i) {
        if (Holdable(kULMWrapAddress, inModuli, inSizes, inBoxes[i]).IsEmpty()) return false;
        for (size_t j = 0; j < i; ++j)
            if (ShareElements(inBoxes[i], inBoxes[j], inModuli)) return false;
    }
    return true;
}

// A refusal of a read or write the buffer cannot hold, named with its box.
ULMStatus NotOnTheBoard(const ULMVolumeRange& inBox, const char* inWhy, ULMStatus inRefusal = kULMErrVolume) {
    ULMOutputMessage("Volume buffer: voxels (%d..%d, %d..%d, %d..%d) are not on the board: %s; refused (%s)\n",
                     inBox.XOrigin(), inBox.XOrigin() + inBox.XSize() - 1, inBox.YOrigin(),
                     inBox.YOrigin() + inBox.YSize() - 1, inBox.ZOrigin(), inBox.ZOrigin() + inBox.ZSize() - 1, inWhy,
                     UlmGetStatusString(inRefusal));
    return inRefusal;
}

// The voxels of inRegion, box by box, into host memory and back: what the
// buffer holds goes through the host while its addressing changes.
ULMStatus SaveVoxels(KWBBoard& ioBoard, KWBBuffer* inBuffer, const ULMVoxelRegion& inRegion, size_t inBytes,
                     std::vector<std::vector<char>>& outSaved) {
    try {
        outSaved.resize(inRegion.Boxes().size());
        for (size_t i = 0; i < outSaved.size(); ++i) {
            const ULMVolumeRange& box = inRegion.Boxes()[i];
            outSaved[i].resize(size_t(box.XSize()) * size_t(box.YSize()) * size_t(box.ZSize()) * inBytes);
        }
    } catch (const std::bad_alloc&) {
        return kULMErrAlloc;
    }
    for (size_t i = 0; i < outSaved.size(); ++i) {
        const ULMVolumeRange& box = inRegion.Boxes()[i];
        const ULMStatus status =
            ioBoard.UnloadBuffer(inBuffer, outSaved[i].data(), ULMRange(box), static_cast<uint32_t>(box.XSize()),
                                 static_cast<uint32_t>(box.YSize()), KWBBoard::kPlainHostMemory);
        if (status != kULMOK) return status;
    }
    return kULMOK;
}

ULMStatus RestoreVoxels(KWBBoard& ioBoard, KWBBuffer* inBuffer, const ULMVoxelRegion& inRegion,
                        const std::vector<std::vector<char>>& inSaved) {
    for (size_t i = 0; i < inSaved.size(); ++i) {
        const ULMVolumeRange& box = inRegion.Boxes()[i];
        const ULMStatus status =
            ioBoard.LoadBuffer(inBuffer, inSaved[i].data(), ULMRange(box), static_cast<uint32_t>(box.XSize()),
                               static_cast<uint32_t>(box.YSize()), KWBBoard::kPlainHostMemory);
        if (status != kULMOK) return status;
    }
    return kULMOK;
}

}  // namespace

// What was loaded or written, inside the volume, as far as the addressing
// holds it: an offset window drops what lies outside it; under wrap the
// record never keeps two voxels of one element, and a box whose elements the
// storage lacks (a smaller buffer attached since) is not held.
ULMVoxelRegion ULMVolumeBoardCopy::HeldVoxels() const {
    if (m_buffer == nullptr) return ULMVoxelRegion();
    ULMVoxelRegion held = m_held;
    held.Intersect(m_volume.GetRange());
    if (m_addressMode == kULMOffsetAddress) {
        held.Intersect(Holdable(kULMOffsetAddress, m_window.m_origin, m_window.m_size, ULMVolumeRange()));
        return held;
    }
    ULMVoxelRegion kept;
    for (const ULMVolumeRange& box : held.Boxes())
        if (!Holdable(kULMWrapAddress, m_window.m_origin, m_window.m_size, box).IsEmpty()) kept.Add(box);
    return kept;
}

bool ULMVolumeBoardCopy::IsLoaded() const { return m_valid && HeldVoxels().Contains(m_volume.GetRange()); }

ULMStatus ULMVolumeBoardCopy::Lacking(const ULMVolumeRange& inBox, std::vector<ULMVolumeRange>& outLoads) const {
    outLoads.clear();
    if (inBox.IsEmpty()) return kULMOK;
    if (m_buffer == nullptr) return kULMErrVolume;
    const ULMVoxelRegion held = HeldVoxels();
    std::vector<ULMVolumeRange> missing = held.Missing(inBox);
    if (missing.empty()) return kULMOK;
    if (!m_volume.GetRange().Contains(inBox)) return NotOnTheBoard(inBox, "they lie outside the volume");
    if (m_addressMode == kULMOffsetAddress) {
        if (!m_window.Contains(inBox)) return NotOnTheBoard(inBox, "the buffer's offset window does not reach them");
    } else {
        if (Holdable(kULMWrapAddress, m_window.m_origin, m_window.m_size, inBox).IsEmpty())
            return NotOnTheBoard(inBox, "the buffer's wrap cannot hold them apart");
        // Loaded, they must take no element of a voxel the buffer holds.
        for (const ULMVolumeRange& piece : missing)
            for (const ULMVolumeRange& box : held.Boxes())
                if (ShareElements(piece, box, m_window.m_origin))
                    return NotOnTheBoard(inBox, "under the wrap they would take the elements of voxels the buffer holds");
    }
    if (!m_volume.HasData())
        return NotOnTheBoard(inBox, "the buffer lacks some of them, and the volume has no voxels of its own to load");
    outLoads = std::move(missing);
    return kULMOK;
}

ULMStatus ULMVolumeBoardCopy::CanRead(const ULMVolumeRange& inBox) const {
    std::vector<ULMVolumeRange> loads;
    return Lacking(inBox, loads);
}

ULMStatus ULMVolumeBoardCopy::CanWrite(const ULMVolumeRange& inBox) const {
    if (inBox.IsEmpty()) return kULMOK;
    if (m_buffer == nullptr) return kULMErrVolume;
    if (Holdable(m_addressMode, m_window.m_origin, m_window.m_size, inBox).Contains(inBox)) return kULMOK;
    return NotOnTheBoard(inBox, m_addressMode == kULMOffsetAddress ? "the buffer's offset window does not reach them"
                                                                   : "the buffer's wrap cannot hold them apart");
}

// The board's storage is allocated in whole blocks and takes elements past
// an offset window's edge, but nothing reads them back there: a voxel
// written past the edge would be lost to the unlock's write-back and every
// later read.
bool ULMVolumeBoardCopy::Takes(const ULMVolumeRange& inBox) const {
    const ULMRange box(inBox);
    if (m_buffer == nullptr || !box.IsValid() || !KWBStorageHolds(*m_buffer, box)) return false;
    if (m_addressMode == kULMWrapAddress || m_window.Contains(inBox)) return true;
    NotOnTheBoard(inBox, "the buffer's offset window does not reach them", kULMErrArgument);
    return false;
}

ULMStatus ULMVolumeBoardCopy::Fill(const ULMVolumeRange& inBox) {
    std::vector<ULMVolumeRange> loads;
    const ULMStatus status = Lacking(inBox, loads);
    if (status != kULMOK) return status;
    for (const ULMVolumeRange& load : loads) {
        const ULMStatus loaded = LoadFromSourceNow(load);
        if (loaded != kULMOK) return loaded;
        NoteHeld(load);
    }
    return kULMOK;
}

void ULMVolumeBoardCopy::NoteHeld(const ULMVolumeRange& inBox) {
    if (inBox.IsEmpty()) return;
    if (m_addressMode == kULMOffsetAddress) {
        m_held.Add(ULMVolumeRange::Intersect(inBox, m_window));
        return;
    }
    const ULMVolumeRange written = WrittenUnderWrap(m_window.m_origin, inBox);
    const std::vector<ULMVolumeRange> before = m_held.Boxes();
    for (const ULMVolumeRange& held : before) {
        std::vector<std::pair<int64_t, int64_t>> runs[3];
        for (int axis = 0; axis < 3; ++axis)
            runs[axis] = SharedRuns(held.m_origin[axis], End(held, axis), written.m_origin[axis], End(written, axis),
                                    m_window.m_origin[axis]);
        for (const auto& x : runs[0])
            for (const auto& y : runs[1])
                for (const auto& z : runs[2])
                    m_held.Remove(ULMVolumeRange(static_cast<int>(x.second - x.first), static_cast<int>(y.second - y.first),
                                                 static_cast<int>(z.second - z.first), static_cast<int>(x.first),
                                                 static_cast<int>(y.first), static_cast<int>(z.first)));
    }
    m_held.Add(written);
}

bool ULMVolumeBoardCopy::Keeps(ULMAddressMode inMode, const int32_t inParameters[3], const int32_t inSizes[3],
                               ULMVoxelRegion& outKept) const {
    outKept = HeldVoxels();
    if (outKept.IsEmpty()) return true;
    if (inMode == kULMOffsetAddress) {
        outKept.Intersect(Holdable(kULMOffsetAddress, inParameters, inSizes, ULMVolumeRange()));
        return true;
    }
    return WrapHoldsApart(outKept.Boxes(), inParameters, inSizes);
}

// A new addressing (and size) moves the board's elements under the voxel
// coordinates, so the voxels the buffer holds go through host memory and
// come back at their own coordinates, as far as the new addressing holds
// them. A wrap that cannot hold them all is refused with nothing changed;
// an offset window keeps the part inside it. The YZ slab is written back
// under the old addressing first.
ULMStatus ULMVolumeBoardCopy::Relocate(ULMAddressMode inMode, int inX, int inY, int inZ, const int32_t* inSizes) {
    const ULMStatus written = WriteBackSlab();
    if (ULMFailed(written)) return written;
    const int32_t parameters[3] = {inX, inY, inZ};
    if (m_buffer == nullptr) {
        m_addressMode = inMode;
        for (int axis = 0; axis < 3; ++axis) m_window.m_origin[axis] = parameters[axis];
        return kULMOK;
    }
    const int32_t* sizes = inSizes != nullptr ? inSizes : m_window.m_size;
    bool same = inMode == m_addressMode;
    for (int axis = 0; axis < 3; ++axis)
        same = same && parameters[axis] == m_window.m_origin[axis] && sizes[axis] == m_window.m_size[axis];
    if (same) return m_buffer->SetOffsetOrWrap(inMode == kULMWrapAddress, inX, inY, inZ);
    ULMVoxelRegion kept;
    if (!Keeps(inMode, parameters, sizes, kept)) return kULMErrArgument;
    std::vector<std::vector<char>> saved;
    const ULMStatus unloaded = SaveVoxels(*m_board, m_buffer, kept, static_cast<size_t>(VoxelBytes()), saved);
    if (unloaded != kULMOK) return unloaded;
    if (inSizes != nullptr) {
        const ULMStatus resized = m_board->ResizeBuffer(m_buffer, static_cast<uint32_t>(inSizes[0]),
                                                        static_cast<uint32_t>(inSizes[1]),
                                                        static_cast<uint32_t>(inSizes[2]));
        if (resized != kULMOK) return resized;
        for (int axis = 0; axis < 3; ++axis) m_window.m_size[axis] = inSizes[axis];
    }
    const ULMStatus addressed = m_buffer->SetOffsetOrWrap(inMode == kULMWrapAddress, inX, inY, inZ);
    if (addressed != kULMOK) {
        // A resized buffer holds nothing the record can vouch for.
        if (inSizes != nullptr) m_held.Clear();
        return addressed;
    }
    const bool hostMatched = HoldsTheHostData();
    m_addressMode = inMode;
    for (int axis = 0; axis < 3; ++axis) m_window.m_origin[axis] = parameters[axis];
    m_serial = NextSerial(m_serial);
    if (hostMatched) m_sourceSerial = m_serial;
    m_held = kept;
    const ULMStatus loaded = RestoreVoxels(*m_board, m_buffer, kept, saved);
    if (loaded != kULMOK) m_held.Clear();
    return loaded;
}

ULMStatus ULMVolumeBoardCopy::ResizeTo(const ULMVolumeRange& inRange) {
    if (inRange.IsEmpty() || !Addressable(inRange)) return kULMErrArgument;
    return Relocate(kULMOffsetAddress, inRange.XOrigin(), inRange.YOrigin(), inRange.ZOrigin(),
                    m_buffer != nullptr ? inRange.m_size : nullptr);
}

ULMStatus ULMVolumeBoardCopy::ResizeTo(unsigned inX, unsigned inY, unsigned inZ) {
    const ULMStatus written = WriteBackSlab();
    if (ULMFailed(written)) return written;
    if (m_buffer == nullptr) return kULMErrVolume;
    if (inX == 0 || inY == 0 || inZ == 0 || inX > INT16_MAX + 1u || inY > INT16_MAX + 1u || inZ > INT16_MAX + 1u)
        return kULMErrArgument;
    const int32_t sizes[3] = {static_cast<int32_t>(inX), static_cast<int32_t>(inY), static_cast<int32_t>(inZ)};
    return Relocate(m_addressMode, m_window.XOrigin(), m_window.YOrigin(), m_window.ZOrigin(), sizes);
}

void ULMVolumeBoardCopy::SourceResized(const ULMVolumeRange& inNew) { m_held.Intersect(inNew); }

}  // namespace ulm3
