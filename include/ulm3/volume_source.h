// Where a volume's voxels come from. Applications may implement this
// interface and hand their object to ULMVolume::CreateFromSource.
#pragma once

#include "ulm3/fields.h"
#include "ulm3/matrix.h"
#include "ulm3/ranges.h"
#include "ulm3/shareable.h"
#include "ulm3/status.h"

namespace ulm3 {

// A source says how large its volume is and how wide a voxel is, and copies,
// maps and updates boxes of voxels on request.
//
// Boxes are ULMVolumeRange values in the coordinates of GetVolumeSize (the
// origin need not be 0). Packed voxels, as the Unload and Update operations
// exchange them, hold the box with X varying fastest, then Y, then Z, and no
// gaps: voxel (x0 + i, y0 + j, z0 + k) is element (k * sizeY + j) * sizeX + i.
//
// MapVoxels hands out the box's first voxel in storage that may be wider
// than the box: voxel (x0 + i, y0 + j, z0 + k) lies at element
// (k * outZStride + j) * outYStride + i, outYStride counting voxels per row
// and outZStride rows per slice. Every successful MapVoxels is paired with
// one ReleaseVoxels. A non-zero inMayWrite announces that the caller may
// write through the pointer, which counts the box as changed.
//
// The changed range is a bounding box: each change widens it to its union
// with the changed box; ResetChangedRange empties it. Changes also advance
// the source's serial.
class ULMVolumeSource : public ULMShareable {
public:
    virtual ULMVolumeRange GetVolumeSize() const = 0;
    virtual bool IsReadOnly() const = 0;
    // Voxels can be read.
    virtual bool HasData() const = 0;
    virtual bool CanResize() const = 0;
    // The correction matrix that a new volume over this source starts with.
    virtual ULMMatrix GetInitialCorrectionMatrix() const = 0;
    // Bits per voxel; 0 means that the source is unusable.
    virtual int GetVoxelSize() const = 0;
    virtual ULMFieldDescriptor GetFieldDescriptor(ULMFieldNumber inField) const = 0;

    virtual ULMStatus UnloadVoxels(void* outVoxels, const ULMVolumeRange& inSubVol) = 0;
    // One field of each voxel, packed as bytes (8-bit fields) or as 16-bit
    // words in host order (16-bit fields); a field as wide as the voxel is
    // UnloadVoxels. Built on the other operations, so every source has it.
    virtual ULMStatus UnloadVoxelField(void* outVoxels, const ULMVolumeRange& inSubVol,
                                       const ULMFieldDescriptor& inVolumeField);
    virtual ULMStatus MapVoxels(const ULMVolumeRange& inSubVol, int inMayWrite, void** outVoxels,
                                unsigned* outYStride, unsigned* outZStride) = 0;
    // Takes the pointer that MapVoxels gave.
    virtual ULMStatus ReleaseVoxels(void* inVoxels) = 0;
    virtual ULMStatus UpdateVoxels(const ULMVolumeRange& inSubVol, const void* inVoxels) = 0;
    // Stores one field of each voxel and leaves the voxel's other bits alone;
    // the input is packed like UnloadVoxelField's output.
    virtual ULMStatus UpdateVoxelField(const void* inVoxels, const ULMVolumeRange& inSubVol,
                                       const ULMFieldDescriptor& inVolumeField);
    virtual ULMStatus Resize(const ULMVolumeRange& inNewRange) = 0;
    // The part of inVolumeRange changed since the last reset.
    virtual ULMVolumeRange ChangedRange(const ULMVolumeRange& inVolumeRange) const = 0;
    virtual void ResetChangedRange() = 0;

    // Room for later operations; each returns kULMErrUnimplemented.
    virtual ULMStatus Reserved00();
    virtual ULMStatus Reserved01();
    virtual ULMStatus Reserved02();
    virtual ULMStatus Reserved03();
    virtual ULMStatus Reserved04();
    virtual ULMStatus Reserved05();
    virtual ULMStatus Reserved06();
    virtual ULMStatus Reserved07();
    virtual ULMStatus Reserved08();
    virtual ULMStatus Reserved09();

protected:
    // Sources are destroyed through Release.
    ~ULMVolumeSource() override;
};

}  // namespace ulm3
