// Host access to a box of a volume's voxels in place: the source's memory,
// or the board buffer mapped by the board layer. A map holds an access on
// the volume until its unmap, which keeps renders and other writers out.
#include <new>

#include "board/board_range.h"
#include "board/kwb_board.h"
#include "foundation/diagnostics.h"
#include "foundation/shareable.h"
#include "volume/sub_volume.h"
#include "volume/typed_volume_map.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

bool IsWriteAccess(ULMAccessType inAccess) { return inAccess >= kULMAccessWrite; }

}  // namespace

ULMStatus ULMVolumeInternal::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                          void*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                          ULMSource inSource) {
    outBaseAddress = nullptr;
    if (HoldsNoVoxel(inVolumeRange) || !IsInsideVolume(m_wholeVolume, inVolumeRange)) return kULMErrArgument;
    if (inAccess < kULMAccessReadExclusive || inAccess > kULMAccessWriteOnlyExclusive) return kULMErrArgument;
    if (inSource != kULMUseTarget && inSource != kULMUseSource && inSource != kULMUseBuffer)
        return kULMErrArgument;
    if (IsWriteAccess(inAccess) && m_readOnly) return kULMErrReadOnly;
    // A render of a volume without a buffer may be making or dropping one.
    ULMRecursiveLock hold(m_boardCopy.Lock());
    const ULMStatus granted = AddAccess(inAccess);
    if (granted != kULMOK) return granted;
    if (inSource == kULMUseTarget) inSource = m_target == kULMBuffer ? kULMUseBuffer : kULMUseSource;

    ULMStatus status = kULMErrVolume;
    try {
        if (inSource == kULMUseSource) {
            if (m_hasData) {
                void* address = nullptr;
                status = m_volumeSource->MapVoxels(inVolumeRange, IsWriteAccess(inAccess), &address, &outSx, &outSy);
                if (status == kULMOK) {
                    m_sourceMaps.push_back(address);
                    ++m_mapCount;
                    outBaseAddress = address;
                }
            }
        } else {
            status = m_boardCopy.Map(inAccess, inVolumeRange, outBaseAddress, outSx, outSy);
            if (status == kULMOK) {
                ++m_mapCount;
                // The application may write any voxel of the box from now on.
                if (IsWriteAccess(inAccess)) NoteBufferWrite(inVolumeRange);
            }
        }
    } catch (ULMStatus thrown) {
        status = thrown;
    } catch (const std::bad_alloc&) {
        status = kULMErrAlloc;
    }
    if (status != kULMOK) {
        outBaseAddress = nullptr;
        ReleaseAccess();
    }
    return status;
}

ULMStatus ULMVolumeInternal::UnmapVolume() {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    if (m_mapCount == 0) return kULMErrVolume;
    ULMStatus status = kULMOK;
    if (m_boardCopy.IsMapped()) {
        status = m_boardCopy.Unmap();
    } else {
        status = m_volumeSource->ReleaseVoxels(m_sourceMaps.back());
        m_sourceMaps.pop_back();
    }
    --m_mapCount;
    const ULMStatus released = ReleaseAccess();
    return ULMFailed(status) ? status : released;
}

void ULMVolumeInternal::EndMaps() {
    while (m_mapCount > 0) UnmapVolume();
}

namespace {

// The typed maps need a board buffer of their element size, whatever the
// map reads. A render in another thread may be making or dropping the
// buffer of a volume that holds none, so it is looked at under the lock.
template <typename T>
ULMStatus MapTyped(ULMVolumeInternal& inVolume, ULMAccessType inAccess, const ULMVolumeRange& inRange,
                   T*& outBaseAddress, unsigned& outSx, unsigned& outSy, ULMSource inSource) {
    outBaseAddress = nullptr;
    ULMRecursiveLock hold(inVolume.BoardCopy().Lock());
    if (inVolume.BoardCopy().Buffer() == nullptr) return kULMErrVolume;
    return MapVoxelsAs(inVolume, inAccess, inRange, outBaseAddress, outSx, outSy, inSource);
}

}  // namespace

ULMStatus ULMVolumeInternal::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                          unsigned char*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                          ULMSource inSource) {
    return MapTyped(*this, inAccess, inVolumeRange, outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMVolumeInternal::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                          unsigned short*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                          ULMSource inSource) {
    return MapTyped(*this, inAccess, inVolumeRange, outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMVolumeInternal::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                          unsigned int*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                          ULMSource inSource) {
    return MapTyped(*this, inAccess, inVolumeRange, outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMVolumeInternal::MapVolume(ULMAccessType inAccess, unsigned char*& outBaseAddress, unsigned& outSx,
                                       unsigned& outSy, ULMSource inSource) {
    return MapSubVolume(inAccess, m_wholeVolume, outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMVolumeInternal::MapVolume(ULMAccessType inAccess, unsigned short*& outBaseAddress, unsigned& outSx,
                                       unsigned& outSy, ULMSource inSource) {
    return MapSubVolume(inAccess, m_wholeVolume, outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMVolumeInternal::MapVolume(ULMAccessType inAccess, unsigned int*& outBaseAddress, unsigned& outSx,
                                       unsigned& outSy, ULMSource inSource) {
    return MapSubVolume(inAccess, m_wholeVolume, outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMVolumeInternal::MapVolume(ULMAccessType inAccess, void*& outBaseAddress, unsigned& outSx,
                                       unsigned& outSy, ULMSource inSource) {
    return MapSubVolume(inAccess, m_wholeVolume, outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMVolumeInternal::MapSubVolume(ULMAccessType inAccess, unsigned inAtX, unsigned inAtY, unsigned inAtZ,
                                          unsigned inNx, unsigned inNy, unsigned inNz, void*& outBaseAddress,
                                          unsigned& outSx, unsigned& outSy, ULMSource inSource) {
    outBaseAddress = nullptr;
    const unsigned values[6] = {inAtX, inAtY, inAtZ, inNx, inNy, inNz};
    for (unsigned v : values)
        if (v > INT32_MAX) return kULMErrArgument;
    const ULMVolumeRange range(static_cast<int>(inNx), static_cast<int>(inNy), static_cast<int>(inNz),
                               static_cast<int>(inAtX), static_cast<int>(inAtY), static_cast<int>(inAtZ));
    return MapSubVolume(inAccess, range, outBaseAddress, outSx, outSy, inSource);
}

}  // namespace ulm3
