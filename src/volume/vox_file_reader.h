// The volume source behind a volume read from a volume file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ulm3/volume.h"
#include "ulm3/volume_source.h"
#include "volume/vox_byte_source.h"
#include "volume/vox_file_format.h"

namespace ulm3 {

// Serves one volume of a volume file, straight from the file or from a copy
// in memory depending on the read mode; in read-write mode the changed
// voxels are written back, in the file's byte order, when the reader goes.
//
// A construction that fails (bad mode, no file, a file that is not a valid
// volume file, no such volume, too little memory, unreadable voxels) leaves
// a reader whose GetVoxelSize is 0.
//
// The boards read fields 4, 8, 12 or 16 bits wide at positions that are
// multiples of 4. An unsigned field of another width at such a position is
// served as the next wider field they read (11 bits as 12), provided the
// widened field stays inside the voxel and clear of the other fields: the
// bits it gains read 0, and a write-back leaves them in the file as they
// were.
class ULMVoxFileReader : public ULMVolumeSource {
public:
    // kReadOnly .. kReadWriteBuffer name the read modes here too.
    using enum ULMVolume::ReadMode;

    ULMVoxFileReader(const char* fname, ULMVolume::ReadMode inReadMode, int inVolumeNumber);

    ULMVolumeRange GetVolumeSize() const override { return m_wholeRange; }
    bool IsReadOnly() const override { return m_readOnly; }
    bool HasData() const override { return true; }
    bool CanResize() const override { return false; }
    ULMMatrix GetInitialCorrectionMatrix() const override { return m_modelMatrix; }
    int GetVoxelSize() const override { return m_voxelSizeBits; }
    ULMFieldDescriptor GetFieldDescriptor(ULMFieldNumber inField) const override;

    ULMStatus UnloadVoxels(void* outVoxels, const ULMVolumeRange& inSubVol) override;
    ULMStatus MapVoxels(const ULMVolumeRange& inSubVol, int inMayWrite, void** outVoxels, unsigned* outYStride,
                        unsigned* outZStride) override;
    ULMStatus ReleaseVoxels(void* inVoxels) override;
    ULMStatus UpdateVoxels(const ULMVolumeRange& inSubVol, const void* inVoxels) override;
    ULMStatus Resize(const ULMVolumeRange&) override { return kULMErrCantResize; }
    ULMVolumeRange ChangedRange(const ULMVolumeRange& inVolumeRange) const override;
    void ResetChangedRange() override { m_modifiedRange.Reset(); }

    // What the file said: titles, attributes, data blocks, fields.
    const VoxFileDescription& GetDescription() const { return m_description; }
    ULMVolume::ReadMode GetReadMode() const { return m_readMode; }
    // The voxel bits a read returns as the file holds them: all but those
    // a widened field gained, which read 0.
    uint64_t GetDeclaredBits() const { return m_declaredBits; }

protected:
    ~ULMVoxFileReader() override;

private:
    bool Construct(const char* fname, int inVolumeNumber);
    // The fields as the boards read them, and the bits the file declares.
    void WidenFields();
    // Clears the bits of inCount host-order voxels that no field declares
    // but a widened field covers.
    void ClearUndeclaredBits(uint8_t* ioVoxels, int64_t inCount) const;
    // Host-order voxels: inSaved's declared bits with ioFile's other bits.
    void KeepUndeclaredBits(const uint8_t* inSaved, uint8_t* ioFile, int64_t inCount) const;
    ULMStatus ReadVoxels(const ULMVolumeRange& inRange, uint8_t* outBuffer);
    ULMStatus WriteVoxels();
    // Whether the box's voxels lie inside the file as it is now.
    bool BoxInFile(const ULMVolumeRange& inBox);
    bool AllocateLoaded(int64_t inBytes);
    void ConvertEndian(uint8_t* ioBuffer, int64_t inCount) const;
    void ConvertEndian(const uint8_t* inSource, uint8_t* outDestination, int64_t inCount) const;
    int64_t GetVoxelOffset(const ULMVolumeRange& inRange, int inX, int inY, int inZ) const;
    int64_t GetRangeSizeBytes(const ULMVolumeRange& inRange) const;
    void MarkChanged(const ULMVolumeRange& inSubVol);

    VoxFileByteSource m_file;
    std::string m_filename;
    VoxFileDescription m_description;
    ULMVolume::ReadMode m_readMode;
    bool m_readOnly = true;
    bool m_writeToFile = false;
    bool m_convertEndian = false;
    int64_t m_startOfVolume = 0;
    ULMMatrix m_modelMatrix;
    ULMVolumeRange m_wholeRange;
    ULMVolumeRange m_modifiedRange;
    ULMVolumeRange m_writeRange;
    int m_voxelSizeBits = 0;
    int m_voxelSizeBytes = 0;
    static constexpr int kServedFields = 4;
    ULMFieldDescriptor m_fields[kServedFields];
    // The voxel bits a read keeps: all but those a widening added.
    uint64_t m_declaredBits = ~uint64_t{0};
    bool m_fullyLoaded = false;
    std::unique_ptr<uint8_t[]> m_loadedBase;
    int64_t m_loadedSize = 0;
    ULMVolumeRange m_loadedRange;
    int m_mappedCount = 0;
};

}  // namespace ulm3
