// The cache of YZ slices: a slab 32 voxels thick in X, kept on the volume's
// board with its axes exchanged, filled from the buffer and written back to
// it by board passes.
#include "volume/volume_yz_cache.h"

#include "foundation/diagnostics.h"

namespace ulm3 {

namespace {

// Slab thickness in X: neighbouring slices hit the same slab.
constexpr int kSlabSize = 32;

}  // namespace

// ---- The slab volume ----

void ULMVolumeInternal::VolumeCacheForYZSlices::SetVoxelSize(int inVoxelSize) {
    ULM_ASSERT(inVoxelSize == 8 || inVoxelSize == 16 || inVoxelSize == 32);
    if (inVoxelSize != m_voxelSize) m_mustResize = true;
    m_voxelSize = inVoxelSize;
}

void ULMVolumeInternal::VolumeCacheForYZSlices::SetLocation(ULMLocation inLocation) {
    if (inLocation != m_location) m_mustResize = true;
    m_location = inLocation;
}

ULMStatus ULMVolumeInternal::VolumeCacheForYZSlices::SetFieldDescriptors(const ULMFieldDescriptor* inFields) {
    for (int i = 0; i < 4; ++i) m_fieldDescriptor[i] = inFields[i];
    if (m_volume.GetPointer() == nullptr) return kULMOK;
    if (m_volume->GetVoxelSize() != m_voxelSize) {
        const ULMStatus status = DoResize();
        if (status != kULMOK) return status;
    }
    for (int i = 0; i < 4; ++i) {
        const ULMStatus status = m_volume->SetFieldDescriptor(static_cast<ULMFieldNumber>(i), inFields[i]);
        if (status != kULMOK) return status;
    }
    return kULMOK;
}

ULMStatus ULMVolumeInternal::VolumeCacheForYZSlices::Resize(ULMVolumeRange inVolumeRange, bool& outResize) {
    outResize = m_mustResize;
    if (!m_volumeRange.Contains(inVolumeRange)) {
        m_volumeRange = inVolumeRange;
        m_mustResize = outResize = true;
    }
    return m_mustResize ? DoResize() : kULMOK;
}

ULMStatus ULMVolumeInternal::VolumeCacheForYZSlices::DoResize() {
    ULM_ASSERT(m_location != kULMNoBufferAttached);
    // The board addresses a buffer at even offsets only.
    for (int axis = 0; axis < 2; ++axis) {
        if (m_volumeRange.m_origin[axis] > 0 && m_volumeRange.m_origin[axis] % 2 != 0) {
            m_volumeRange.m_origin[axis] -= 1;
            m_volumeRange.m_size[axis] += 1;
        }
    }
    if (m_volume.GetPointer() != nullptr) {
        if (m_volume->GetVoxelSize() != m_voxelSize) {
            m_volume.Assign(nullptr);
        } else if (m_volume->GetBufferLocation() != m_location) {
            m_volume->ReleaseBuffer();
        }
    }
    if (m_volume.GetPointer() != nullptr && !(m_volume->GetRange() == m_volumeRange)) {
        m_volume->ReleaseBuffer();
        if (m_volume->Resize(m_volumeRange, 0) != kULMOK) m_volume.Assign(nullptr);
    }
    if (m_volume.GetPointer() == nullptr) {
        m_volume.Assign(CreateSimpleVolume(m_voxelSize, m_volumeRange, 4, m_fieldDescriptor, nullptr));
        if (m_volume.GetPointer() == nullptr) return kULMErrAlloc;
        m_volume->SetTarget(kULMBuffer);
    }
    if (m_volume->GetBufferLocation() != m_location) {
        if (m_volume->CreateBuffer(m_location, m_volumeRange) != kULMOK) return kULMErrAlloc;
        ULM_ASSERT(m_volume->GetBufferLocation() == m_location);
    }
    m_mustResize = false;
    return kULMOK;
}

// ---- The volume's side ----

bool ULMVolumeInternal::IsCachedYZSlice(const ULMVolumeRange& inRange) const {
    // A volume narrower than the slab would make a slab reaching outside it.
    return inRange.XSize() == 1 && inRange.YSize() >= kSlabSize && inRange.ZSize() >= kSlabSize &&
           m_wholeVolume.XSize() >= kSlabSize;
}

ULMVolumeRange ULMVolumeInternal::SlabBoxOf(const ULMVolumeRange& inSlice) const {
    return ULMVolumeRange(inSlice.YSize(), inSlice.ZSize(), inSlice.XSize(),
                          inSlice.YOrigin() - m_cacheRange.YOrigin(), inSlice.ZOrigin() - m_cacheRange.ZOrigin(),
                          inSlice.XOrigin() - m_cacheRange.XOrigin());
}

ULMSyncEvent ULMVolumeInternal::UnloadVolumeToCache(ULMVolumeRange inVolumeRange) const {
    if (!m_cacheForYZSlices) m_cacheForYZSlices = std::make_unique<VolumeCacheForYZSlices>();
    VolumeCacheForYZSlices& cache = *m_cacheForYZSlices;
    if (cache.GetVolume() != nullptr && m_cacheHasLatestData) {
        const bool same = cache.GetVolume()->GetBufferLocation() == GetBufferLocation() &&
                          cache.GetVolume()->GetVoxelSize() == GetVoxelSize() && m_cacheRange.Contains(inVolumeRange);
        if (!same) {
            const ULMStatus written = UpdateVolumeFromCache();
            if (ULMFailed(written)) return ULMSyncEvent(written);
        }
    }
    cache.SetLocation(GetBufferLocation());
    cache.SetVoxelSize(GetVoxelSize());
    ULMStatus status = cache.SetFieldDescriptors(m_fields);
    bool resized = false;
    if (status == kULMOK)
        status = cache.Resize(ULMVolumeRange(inVolumeRange.YSize(), inVolumeRange.ZSize(), kSlabSize, 0, 0, 0), resized);
    if (status != kULMOK) return ULMSyncEvent(status);
    if (m_cacheSerialNumber == m_bufferSerial && m_cacheRange.Contains(inVolumeRange) && !resized)
        return ULMSyncEvent(kULMOK);

    // The slab starts at a multiple of its size from the volume's own X
    // origin, and stays inside the volume.
    const int xOrigin = m_wholeVolume.XOrigin();
    int xStart = xOrigin + (inVolumeRange.XOrigin() - xOrigin) / kSlabSize * kSlabSize;
    if (xStart + kSlabSize > xOrigin + m_wholeVolume.XSize()) xStart = xOrigin + m_wholeVolume.XSize() - kSlabSize;
    m_cacheRange = ULMVolumeRange(kSlabSize, inVolumeRange.YSize(), inVolumeRange.ZSize(), xStart,
                                  inVolumeRange.YOrigin(), inVolumeRange.ZOrigin());
    m_cacheSerialNumber = m_bufferSerial;
    const ULMVolumeRange source(inVolumeRange.YSize(), inVolumeRange.ZSize(), kSlabSize, inVolumeRange.YOrigin(),
                                inVolumeRange.ZOrigin(), xStart);
    const ULMVolumeRange slab(inVolumeRange.YSize(), inVolumeRange.ZSize(), kSlabSize, 0, 0, 0);
    // The fill reads the buffer; its contents stay what they were.
    return const_cast<ULMVolumeInternal*>(this)->DoStartFieldCopy(cache.GetVolume(), source, slab, kUnload);
}

ULMSyncEvent ULMVolumeInternal::UpdateOptimizedYZSlice(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                                                       ULMTarget) {
    // The caller's plain write would keep the fill's read out; it is shared
    // for the rest of the update, in place, so that no reader comes between.
    if (GetAccessMode() == kULMAccessWriteExclusive) {
        const ULMStatus shared = ShareExclusiveWrite();
        if (shared != kULMOK) return ULMSyncEvent(shared);
    }
    const ULMSyncEvent filled = UnloadVolumeToCache(inVolumeRange);
    if (ULMFailed(filled.Status())) return filled;
    const ULMSyncEvent event = m_cacheForYZSlices->GetVolume()->StartUpdate(inVoxels, SlabBoxOf(inVolumeRange));
    if (ULMFailed(event.Status())) return event;
    m_cacheHasLatestData = true;
    return event;
}

ULMSyncEvent ULMVolumeInternal::UnloadOptimizedYZSlice(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                                       ULMSource inSource) const {
    const ULMSyncEvent filled = UnloadVolumeToCache(inVolumeRange);
    if (ULMFailed(filled.Status())) return filled;
    return m_cacheForYZSlices->GetVolume()->StartUnload(outVoxels, SlabBoxOf(inVolumeRange), inSource);
}

ULMStatus ULMVolumeInternal::UpdateVolumeFromCache() const {
    if (!m_cacheHasLatestData || !m_cacheForYZSlices || m_cacheForYZSlices->GetVolume() == nullptr)
        return kULMOK;
    // Cleared while the pass is set up, so that the pass's own write-backs
    // of this volume find nothing to do; back again if it did not start,
    // so that the slab's voxels are not lost.
    m_cacheHasLatestData = false;
    ULMVolumeInternal* self = const_cast<ULMVolumeInternal*>(this);
    const ULMSyncEvent event = m_cacheForYZSlices->GetVolume()->DoStartFieldCopy(
        self, ULMVolumeRange(m_cacheRange.XSize(), m_cacheRange.YSize(), m_cacheRange.ZSize(), 0, 0, 0),
        m_cacheRange, kUpdate);
    const ULMStatus status = event.Status();
    if (ULMFailed(status)) {
        m_cacheHasLatestData = true;
        return status;
    }
    m_cacheSerialNumber = m_bufferSerial;
    return status;
}

}  // namespace ulm3
