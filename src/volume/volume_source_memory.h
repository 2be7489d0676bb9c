// A volume source over one dense block of voxels in the caller's memory.
#pragma once

#include <cstdint>

#include "ulm3/volume_source.h"

namespace ulm3 {

// The block is the caller's: never allocated, copied or freed here, and it
// must stay valid for the life of the source. A null block makes a source
// without voxels, which can be resized.
class ULMVolumeSourceMemory : public ULMVolumeSource {
public:
    ULMVolumeSourceMemory(int inVoxelSize, void* pVoxels, ULMVolumeRange inRange);

    ULMVolumeRange GetVolumeSize() const override { return m_range; }
    bool IsReadOnly() const override { return false; }
    bool HasData() const override { return m_baseAddress != nullptr; }
    bool CanResize() const override { return m_baseAddress == nullptr; }
    ULMMatrix GetInitialCorrectionMatrix() const override { return ULMMatrix::Identity(); }
    int GetVoxelSize() const override { return m_voxelSizeBits; }
    // The volume keeps its own field descriptors.
    ULMFieldDescriptor GetFieldDescriptor(ULMFieldNumber) const override { return ULMFieldDescriptor(); }

    ULMStatus UnloadVoxels(void* outVoxels, const ULMVolumeRange& inSubVol) override;
    ULMStatus MapVoxels(const ULMVolumeRange& inSubVol, int inMayWrite, void** outVoxels, unsigned* outYStride,
                        unsigned* outZStride) override;
    ULMStatus ReleaseVoxels(void*) override { return kULMOK; }
    ULMStatus UpdateVoxels(const ULMVolumeRange& inSubVol, const void* inVoxels) override;
    ULMStatus Resize(const ULMVolumeRange& inNewRange) override;
    ULMVolumeRange ChangedRange(const ULMVolumeRange& inVolumeRange) const override;
    void ResetChangedRange() override { m_modifiedRange.Reset(); }

protected:
    ~ULMVolumeSourceMemory() override = default;

private:
    // The checks every access makes: kULMOK, or the status to return.
    ULMStatus CheckAccess(const ULMVolumeRange& inSubVol, const void* inBuffer, bool inNeedsBuffer) const;
    uint8_t* GetVoxelAddress(int inX, int inY, int inZ) const;
    void MarkChanged(const ULMVolumeRange& inSubVol);

    uint8_t* m_baseAddress;
    ULMVolumeRange m_range;
    ULMVolumeRange m_modifiedRange;
    int m_voxelSizeBits;
    int m_voxelSizeBytes;
};

}  // namespace ulm3
