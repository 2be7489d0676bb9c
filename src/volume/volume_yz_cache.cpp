// The cache of YZ slices: a slab 32 voxels thick in X, kept on the volume's
// board with its axes exchanged, filled from the buffer and written back to
// it by board passes that copy the fields as they stand.
#include "volume/volume_yz_cache.h"

#include "foundation/diagnostics.h"
#include "volume/volume_board_copy.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

// Slab thickness in X: neighbouring slices hit the same slab.
constexpr int kSlabSize = 32;

}  // namespace

void ULMYZSlab::SetVoxelSize(int inVoxelSize) {
    ULM_ASSERT(inVoxelSize == 8 || inVoxelSize == 16 || inVoxelSize == 32);
    if (inVoxelSize != m_voxelSize) m_mustResize = true;
    m_voxelSize = inVoxelSize;
}

void ULMYZSlab::SetLocation(ULMLocation inLocation) {
    if (inLocation != m_location) m_mustResize = true;
    m_location = inLocation;
}

ULMStatus ULMYZSlab::SetFieldDescriptors(const ULMFieldDescriptor* inFields) {
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

ULMStatus ULMYZSlab::Resize(ULMVolumeRange inVolumeRange, bool& outResize) {
    outResize = m_mustResize;
    if (!m_volumeRange.Contains(inVolumeRange)) {
        m_volumeRange = inVolumeRange;
        m_mustResize = outResize = true;
    }
    return m_mustResize ? DoResize() : kULMOK;
}

ULMStatus ULMYZSlab::DoResize() {
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
        m_volume.Assign(
            ULMVolumeInternal::CreateSimpleVolume(m_voxelSize, m_volumeRange, 4, m_fieldDescriptor, nullptr));
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

bool ULMYZSliceCache::Serves(const ULMVolumeRange& inSlice, const ULMVolumeRange& inWhole) {
    // A volume narrower than the slab would make a slab reaching outside it.
    return inSlice.XSize() == 1 && inSlice.YSize() >= kSlabSize && inSlice.ZSize() >= kSlabSize &&
           inWhole.XSize() >= kSlabSize;
}

ULMVolumeRange ULMYZSliceCache::SlabBoxOf(const ULMVolumeRange& inSlice) const {
    return ULMVolumeRange(inSlice.YSize(), inSlice.ZSize(), inSlice.XSize(), inSlice.YOrigin() - m_range.YOrigin(),
                          inSlice.ZOrigin() - m_range.ZOrigin(), inSlice.XOrigin() - m_range.XOrigin());
}

ULMSyncEvent ULMYZSliceCache::Fill(const ULMVolumeRange& inSlice) {
    if (!m_slab) m_slab = std::make_unique<ULMYZSlab>();
    ULMYZSlab& slab = *m_slab;
    const ULMLocation location = m_copy.Location();
    const int voxelSize = m_volume.GetVoxelSize();
    if (slab.GetVolume() != nullptr && m_holdsLatest) {
        const bool same = slab.GetVolume()->GetBufferLocation() == location &&
                          slab.GetVolume()->GetVoxelSize() == voxelSize && m_range.Contains(inSlice);
        if (!same) {
            const ULMStatus written = WriteBack();
            if (ULMFailed(written)) return ULMSyncEvent(written);
        }
    }
    slab.SetLocation(location);
    slab.SetVoxelSize(voxelSize);
    ULMFieldDescriptor fields[4];
    for (int i = 0; i < 4; ++i) fields[i] = m_volume.GetFieldDescriptor(static_cast<ULMFieldNumber>(i));
    ULMStatus status = slab.SetFieldDescriptors(fields);
    bool resized = false;
    if (status == kULMOK)
        status = slab.Resize(ULMVolumeRange(inSlice.YSize(), inSlice.ZSize(), kSlabSize, 0, 0, 0), resized);
    if (status != kULMOK) return ULMSyncEvent(status);
    if (m_serial == m_copy.Serial() && m_range.Contains(inSlice) && !resized) return ULMSyncEvent(kULMOK);

    // The slab starts at a multiple of its size from the volume's own X
    // origin, and stays inside the volume.
    const ULMVolumeRange whole = m_volume.GetRange();
    const int xOrigin = whole.XOrigin();
    int xStart = xOrigin + (inSlice.XOrigin() - xOrigin) / kSlabSize * kSlabSize;
    if (xStart + kSlabSize > xOrigin + whole.XSize()) xStart = xOrigin + whole.XSize() - kSlabSize;
    m_range = ULMVolumeRange(kSlabSize, inSlice.YSize(), inSlice.ZSize(), xStart, inSlice.YOrigin(), inSlice.ZOrigin());
    m_serial = m_copy.Serial();
    const ULMVolumeRange source(inSlice.YSize(), inSlice.ZSize(), kSlabSize, inSlice.YOrigin(), inSlice.ZOrigin(),
                                xStart);
    const ULMVolumeRange slabBox(inSlice.YSize(), inSlice.ZSize(), kSlabSize, 0, 0, 0);
    // The fill reads the buffer; its contents stay what they were.
    return m_volume.DoStartFieldCopy(slab.GetVolume(), source, slabBox, ULMVolumeInternal::kUnload);
}

ULMSyncEvent ULMYZSliceCache::WriteSlice(const void* inVoxels, const ULMVolumeRange& inSlice) {
    const ULMSyncEvent filled = Fill(inSlice);
    if (ULMFailed(filled.Status())) return filled;
    const ULMSyncEvent event = m_slab->GetVolume()->StartUpdate(inVoxels, SlabBoxOf(inSlice));
    if (ULMFailed(event.Status())) return event;
    m_holdsLatest = true;
    return event;
}

ULMSyncEvent ULMYZSliceCache::ReadSlice(void* outVoxels, const ULMVolumeRange& inSlice, ULMSource inSource) {
    const ULMSyncEvent filled = Fill(inSlice);
    if (ULMFailed(filled.Status())) return filled;
    return m_slab->GetVolume()->StartUnload(outVoxels, SlabBoxOf(inSlice), inSource);
}

void ULMYZSliceCache::MatchBuffer() { m_serial = m_copy.Serial(); }

ULMStatus ULMYZSliceCache::WriteBack() {
    if (!m_holdsLatest || !m_slab || m_slab->GetVolume() == nullptr) return kULMOK;
    // Cleared while the pass is set up, so that the pass's own write-backs
    // of this volume find nothing to do; back again if it did not start,
    // so that the slab's voxels are not lost.
    m_holdsLatest = false;
    const ULMSyncEvent event = m_slab->GetVolume()->DoStartFieldCopy(
        &m_volume, ULMVolumeRange(m_range.XSize(), m_range.YSize(), m_range.ZSize(), 0, 0, 0), m_range,
        ULMVolumeInternal::kUpdate);
    const ULMStatus status = event.Status();
    if (ULMFailed(status)) {
        m_holdsLatest = true;
        return status;
    }
    m_serial = m_copy.Serial();
    return status;
}

void ULMYZSliceCache::Drop() {
    m_holdsLatest = false;
    m_slab.reset();
}

}  // namespace ulm3
