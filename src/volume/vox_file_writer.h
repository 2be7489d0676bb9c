// Makes "Vox1999a" volume files: a header, then each volume's description,
// its voxels in the declared byte order and its trailing data blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ulm3/status.h"
#include "volume/vox_file_format.h"

namespace ulm3 {

// A trailing data block: its name and its bytes.
struct VoxDataBlock {
    std::string m_name;
    std::string m_bytes;
};

// One volume to write. The voxels are packed (X fastest, then Y, then Z) in
// this host's byte order; they are stored in m_endian order.
struct VoxVolumeToWrite {
    int32_t m_sizeX = 0, m_sizeY = 0, m_sizeZ = 0;
    int m_voxelBits = 8;  // 8, 16, 32 or 64
    char m_endian = 'B';  // 'B' or 'L'
    std::vector<VoxfFieldSpecifier> m_fields;  // field 0 is needed
    bool m_hasModelMatrix = false;
    double m_modelMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  // column order
    std::string m_title;      // may hold several lines
    std::string m_copyright;  // may hold several lines
    std::vector<VoxfAttribute> m_attributes;
    std::vector<VoxDataBlock> m_data;
    const void* m_voxels = nullptr;

    int64_t VoxelBytes() const;
};

class VoxFileWriter {
public:
    // Receives the file's bytes in order; false stops the writing.
    using Sink = std::function<bool(const void* inBytes, size_t inSize)>;

    void SetTitle(std::string inTitle) { m_title = std::move(inTitle); }
    void SetCopyright(std::string inCopyright) { m_copyright = std::move(inCopyright); }
    // Writes a "VolumeCount" line with the number of volumes added.
    void SetDeclareVolumeCount(bool inDeclare) { m_declareVolumeCount = inDeclare; }
    void AddAttribute(std::string inName, std::string inValue);
    void AddData(std::string inName, std::string inBytes);
    // The volume is copied, its voxels are not: they must stay valid until
    // the file is written.
    void AddVolume(const VoxVolumeToWrite& inVolume) { m_volumes.push_back(inVolume); }

    // kULMErrArgument for something a file cannot say (no field 0, a voxel
    // size other than 8, 16, 32 or 64, a name or value holding a quote or a
    // newline, no voxels for a non-empty volume), kULMErrWrite when the sink
    // or the file refuses the bytes.
    ULMStatus Write(const Sink& inSink) const;
    // Writes under a new name beside the file and renames it over the file
    // once whole, so that a write that fails (a full disk, a size limit)
    // leaves no partial file and an existing one as it was. On kULMErrWrite
    // outReason, when given, says why in words.
    ULMStatus WriteToFile(const char* inFileName, std::string* outReason = nullptr) const;
    ULMStatus WriteToString(std::string& outBytes) const;

private:
    ULMStatus Check() const;

    std::string m_title;
    std::string m_copyright;
    bool m_declareVolumeCount = true;
    std::vector<VoxfAttribute> m_attributes;
    std::vector<VoxDataBlock> m_data;
    std::vector<VoxVolumeToWrite> m_volumes;
};

}  // namespace ulm3
