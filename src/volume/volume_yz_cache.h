// The cache of YZ slices a volume keeps on its board, so that YZ slices,
// which are scattered single voxels in the buffer, move as contiguous slab
// slices.
#pragma once

#include <memory>

#include "foundation/shareable.h"
#include "ulm3/ranges.h"
#include "ulm3/sync_event.h"
#include "ulm3/volume.h"

namespace ulm3 {

class ULMVolumeBoardCopy;
class ULMVolumeInternal;

// The slab is a data-less volume of its own with its axes exchanged: slab
// X, Y, Z are the volume's Y, Z, X. It is made on the first slice, and made
// again, or resized, when the board, voxel size or needed size changes.
class ULMYZSlab {
public:
    ULMVolumeInternal* GetVolume() const { return m_volume.GetPointer(); }
    void SetVoxelSize(int inVoxelSize);
    void SetLocation(ULMLocation inLocation);
    ULMStatus SetFieldDescriptors(const ULMFieldDescriptor* inFields);
    // Grows the slab to hold inVolumeRange; outResize tells that it was
    // (re)made, so that its voxels are not current.
    ULMStatus Resize(ULMVolumeRange inVolumeRange, bool& outResize);
    ULMStatus DoResize();

private:
    bool m_mustResize = true;
    ReleasablePointer<ULMVolumeInternal> m_volume;
    ULMVolumeRange m_volumeRange;
    int m_voxelSize = 0;
    ULMLocation m_location = kULMNoBufferAttached;
    ULMFieldDescriptor m_fieldDescriptor[4];
};

// The slab 32 voxels thick in X around the last YZ slice, filled from the
// board copy's buffer and written back to it by board passes. Unloads go
// through it without holding an access, so it changes under const calls of
// the volume; the board copy's lock guards it.
class ULMYZSliceCache {
public:
    ULMYZSliceCache(ULMVolumeInternal& inVolume, const ULMVolumeBoardCopy& inCopy)
        : m_volume(inVolume), m_copy(inCopy) {}
    ULMYZSliceCache(const ULMYZSliceCache&) = delete;
    ULMYZSliceCache& operator=(const ULMYZSliceCache&) = delete;

    // Whether a box goes through the slab: one voxel thick in X, at least
    // 32 x 32 in Y and Z, in a volume (inWhole) at least as wide as the slab.
    static bool Serves(const ULMVolumeRange& inSlice, const ULMVolumeRange& inWhole);
    // A YZ slice written into the slab, filled first unless it holds the
    // slice's neighbourhood already; the caller holds a shared write access.
    ULMSyncEvent WriteSlice(const void* inVoxels, const ULMVolumeRange& inSlice);
    ULMSyncEvent ReadSlice(void* outVoxels, const ULMVolumeRange& inSlice, ULMSource inSource);
    // The slab holds the buffer's latest write (a slice just written).
    void MatchBuffer();
    // Writes the slab back into the buffer when it holds newer voxels;
    // kULMInProgress while the write-back runs.
    ULMStatus WriteBack();
    // Forgets the slab and its voxels: the buffer goes with the volume.
    void Drop();

private:
    // Fills the slab around inSlice from the buffer, unless it holds it.
    ULMSyncEvent Fill(const ULMVolumeRange& inSlice);
    // The slab's box of a YZ slice, in the slab's own axes.
    ULMVolumeRange SlabBoxOf(const ULMVolumeRange& inSlice) const;

    ULMVolumeInternal& m_volume;
    const ULMVolumeBoardCopy& m_copy;
    std::unique_ptr<ULMYZSlab> m_slab;
    // The slab in the volume's axes, the buffer serial the slab matches, and
    // whether the slab holds voxels the buffer lacks.
    ULMVolumeRange m_range;
    uint64_t m_serial = 0;
    bool m_holdsLatest = false;
};

}  // namespace ulm3
