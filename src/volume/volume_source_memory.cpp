#include "volume/volume_source_memory.h"

#include <cstring>

#include "foundation/diagnostics.h"
#include "foundation/shareable.h"
#include "volume/sub_volume.h"

namespace ulm3 {

ULMVolumeSourceMemory::ULMVolumeSourceMemory(int inVoxelSize, void* pVoxels, ULMVolumeRange inRange)
    : m_baseAddress(static_cast<uint8_t*>(pVoxels)),
      m_range(inRange),
      m_modifiedRange(inRange),
      m_voxelSizeBits(inVoxelSize),
      m_voxelSizeBytes(inVoxelSize / 8) {
    SetObjectType(this, kObjectTypeULMVolumeSourceMemory);
}

ULMStatus ULMVolumeSourceMemory::CheckAccess(const ULMVolumeRange& inSubVol, const void* inBuffer,
                                             bool inNeedsBuffer) const {
    if (!IsInsideVolume(m_range, inSubVol) || (inNeedsBuffer && inBuffer == nullptr)) return kULMErrArgument;
    if (m_baseAddress == nullptr) return kULMErrVolume;
    // A block whose size does not fit in 63 bits cannot be memory; no
    // address inside it could be computed.
    int64_t bytes = 0;
    if (m_voxelSizeBytes < 0 || !BoxBytes(m_range, m_voxelSizeBytes, bytes) || !EndsFitInt32(m_range)) {
        return kULMErrArgument;
    }
    return kULMOK;
}

uint8_t* ULMVolumeSourceMemory::GetVoxelAddress(int inX, int inY, int inZ) const {
    ULM_ASSERT(inX >= m_range.XOrigin() && inX < m_range.XOrigin() + m_range.XSize());
    ULM_ASSERT(inY >= m_range.YOrigin() && inY < m_range.YOrigin() + m_range.YSize());
    ULM_ASSERT(inZ >= m_range.ZOrigin() && inZ < m_range.ZOrigin() + m_range.ZSize());
    return m_baseAddress + VoxelIndex(m_range, inX, inY, inZ) * m_voxelSizeBytes;
}

void ULMVolumeSourceMemory::MarkChanged(const ULMVolumeRange& inSubVol) {
    m_modifiedRange.Union(inSubVol);
    IncSerial();
}

ULMStatus ULMVolumeSourceMemory::UnloadVoxels(void* outVoxels, const ULMVolumeRange& inSubVol) {
    const ULMStatus status = CheckAccess(inSubVol, outVoxels, true);
    if (status != kULMOK) return status;
    if (HoldsNoVoxel(inSubVol)) return kULMOK;

    const uint8_t* src = GetVoxelAddress(inSubVol.XOrigin(), inSubVol.YOrigin(), inSubVol.ZOrigin());
    auto* out = static_cast<uint8_t*>(outVoxels);
    const size_t voxel = static_cast<size_t>(m_voxelSizeBytes);
    const size_t rowBytes = static_cast<size_t>(inSubVol.XSize()) * voxel;
    const size_t blockRow = static_cast<size_t>(m_range.XSize()) * voxel;
    const size_t blockSlice = blockRow * static_cast<size_t>(m_range.YSize());
    const size_t rows = static_cast<size_t>(inSubVol.YSize());
    const size_t slices = static_cast<size_t>(inSubVol.ZSize());
    if (inSubVol.XSize() != m_range.XSize()) {
        for (size_t k = 0; k < slices; ++k) {
            for (size_t j = 0; j < rows; ++j) {
                memcpy(out, src + k * blockSlice + j * blockRow, rowBytes);
                out += rowBytes;
            }
        }
    } else if (inSubVol.YSize() != m_range.YSize()) {
        for (size_t k = 0; k < slices; ++k) {
            memcpy(out, src + k * blockSlice, rowBytes * rows);
            out += rowBytes * rows;
        }
    } else {
        memcpy(out, src, rowBytes * rows * slices);
    }
    return kULMOK;
}

ULMStatus ULMVolumeSourceMemory::UpdateVoxels(const ULMVolumeRange& inSubVol, const void* inVoxels) {
    const ULMStatus status = CheckAccess(inSubVol, inVoxels, true);
    if (status != kULMOK) return status;
    if (!HoldsNoVoxel(inSubVol)) {
        uint8_t* dst = GetVoxelAddress(inSubVol.XOrigin(), inSubVol.YOrigin(), inSubVol.ZOrigin());
        const auto* in = static_cast<const uint8_t*>(inVoxels);
        const size_t voxel = static_cast<size_t>(m_voxelSizeBytes);
        const size_t rowBytes = static_cast<size_t>(inSubVol.XSize()) * voxel;
        const size_t blockRow = static_cast<size_t>(m_range.XSize()) * voxel;
        const size_t blockSlice = blockRow * static_cast<size_t>(m_range.YSize());
        for (size_t k = 0; k < static_cast<size_t>(inSubVol.ZSize()); ++k) {
            for (size_t j = 0; j < static_cast<size_t>(inSubVol.YSize()); ++j) {
                memcpy(dst + k * blockSlice + j * blockRow, in, rowBytes);
                in += rowBytes;
            }
        }
    }
    MarkChanged(inSubVol);
    return kULMOK;
}

ULMStatus ULMVolumeSourceMemory::MapVoxels(const ULMVolumeRange& inSubVol, int inMayWrite, void** outVoxels,
                                           unsigned* outYStride, unsigned* outZStride) {
    const ULMStatus status = CheckAccess(inSubVol, nullptr, false);
    if (status != kULMOK) return status;
    if (outVoxels == nullptr || outYStride == nullptr || outZStride == nullptr) return kULMErrArgument;
    *outYStride = static_cast<unsigned>(m_range.XSize());
    *outZStride = static_cast<unsigned>(m_range.YSize());
    *outVoxels = GetVoxelAddress(inSubVol.XOrigin(), inSubVol.YOrigin(), inSubVol.ZOrigin());
    if (inMayWrite) MarkChanged(inSubVol);
    return kULMOK;
}

ULMStatus ULMVolumeSourceMemory::Resize(const ULMVolumeRange& inNewRange) {
    if (m_baseAddress != nullptr) return kULMErrCantResize;
    m_range = inNewRange;
    IncSerial();
    return kULMOK;
}

ULMVolumeRange ULMVolumeSourceMemory::ChangedRange(const ULMVolumeRange& inVolumeRange) const {
    return ULMVolumeRange::Intersect(m_modifiedRange, inVolumeRange);
}

}  // namespace ulm3
