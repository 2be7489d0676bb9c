// The slab volume a volume keeps on its board so that YZ slices, which are
// scattered single voxels in the buffer, move as contiguous slab slices.
#pragma once

#include "foundation/shareable.h"
#include "volume/volume_internal.h"

namespace ulm3 {

// The slab is a data-less volume of its own with its axes exchanged: slab
// X, Y, Z are the volume's Y, Z, X. It is made on the first slice, and made
// again, or resized, when the board, voxel size or needed size changes.
class ULMVolumeInternal::VolumeCacheForYZSlices {
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

}  // namespace ulm3
