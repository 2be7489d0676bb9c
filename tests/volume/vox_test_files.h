// Helpers of the volume tests: hand-made volume files, in memory and on disk.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "volume/vox_byte_reader.h"
#include "volume/vox_byte_source.h"
#include "volume/vox_file_format.h"

namespace ulm3::testing {

// Parses a file held in memory as a host of the given byte order would.
inline bool ParseVox(const std::string& inBytes, int inVolume, VoxFileDescription& outDescription,
                     char inHostOrder = 'L') {
    VoxMemoryByteSource source(inBytes.data(), inBytes.size());
    VoxByteReader reader(source);
    VoxFileParser parser(reader, inHostOrder);
    return parser.Parse(inVolume, outDescription);
}

inline bool ParsesAsVolume(const std::string& inBytes, int inVolume = 0) {
    VoxFileDescription d;
    return ParseVox(inBytes, inVolume, d);
}

// A "Vox1997a" file: the 248 header bytes are the fields padded with spaces
// and closed by ':'.
inline std::string Vox97(const std::string& inFields, const std::string& inVoxels = std::string()) {
    std::string header = inFields;
    header.resize(247, ' ');
    return "Vox1997a" + header + ":" + inVoxels;
}

// Bytes in the given order: big-endian 16-bit words.
inline std::string Be16(std::initializer_list<uint16_t> values) {
    std::string s;
    for (uint16_t v : values) {
        s.push_back(static_cast<char>(v >> 8));
        s.push_back(static_cast<char>(v & 0xFF));
    }
    return s;
}

// A file in a private temporary directory, removed with the object.
class TempFile {
public:
    TempFile() {
        char dir[] = "/tmp/ulm3voxXXXXXX";
        const char* made = mkdtemp(dir);
        EXPECT_NE(made, nullptr);
        m_dir = made ? made : "/tmp";
        m_path = m_dir + "/volume.vox";
    }
    ~TempFile() {
        unlink(m_path.c_str());
        rmdir(m_dir.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const char* Path() const { return m_path.c_str(); }
    void Write(const std::string& inBytes) const {
        std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
        out.write(inBytes.data(), static_cast<std::streamsize>(inBytes.size()));
        ASSERT_TRUE(out.good());
    }
    std::string Read() const {
        std::ifstream in(m_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string m_dir;
    std::string m_path;
};

}  // namespace ulm3::testing
