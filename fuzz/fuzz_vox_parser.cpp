// Feeds arbitrary bytes to the volume file parser, as volumes 0 to 2 and on
// hosts of both byte orders. Any crash, sanitizer report, unbounded
// allocation or hang is a finding; so is a parse that succeeds with a
// description the reader could not trust.
#include <cstddef>
#include <cstdint>

#include "volume/vox_byte_reader.h"
#include "volume/vox_byte_source.h"
#include "volume/vox_file_format.h"

using namespace ulm3;

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

void CheckDescription(const VoxFileDescription& d, size_t fileSize) {
    Check(d.m_version == 1997 || d.m_version == 1999);
    Check(d.m_sizeX >= 0 && d.m_sizeY >= 0 && d.m_sizeZ >= 0);
    Check(d.m_voxelSizeBytes == 1 || d.m_voxelSizeBytes == 2 || d.m_voxelSizeBytes == 4 || d.m_voxelSizeBytes == 8);
    Check(d.m_endian == 'B' || d.m_endian == 'L');
    const int64_t block = d.VoxelBlockBytes();
    Check(block >= 0);
    Check(d.m_startOfVolume >= 8 && d.m_startOfVolume <= INT64_MAX - block);
    // The description's terminator was read, so the voxels start within
    // the file (or right at its end).
    Check(d.m_startOfVolume <= static_cast<int64_t>(fileSize));
    Check(d.FindField(0) != nullptr);
    for (size_t i = 1; i < d.m_fieldSpecifiers.size(); ++i) {
        Check(d.m_fieldSpecifiers[i - 1].m_fieldId <= d.m_fieldSpecifiers[i].m_fieldId);
    }
    if (d.m_voxelSizeBytes == 1) Check(!d.m_convertEndian);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VoxMemoryByteSource source(data, size);
    for (int volume = 0; volume < 3; ++volume) {
        for (char host : {'L', 'B'}) {
            VoxByteReader reader(source);
            VoxFileParser parser(reader, host);
            VoxFileDescription description;
            if (parser.Parse(volume, description)) CheckDescription(description, size);
        }
    }
    return 0;
}
