// Writes the seed corpus of the volume file fuzzers: small valid files of
// both versions, made by the writer or spelled out by hand. Usage:
//   vox_make_seeds <corpus folder>   (writes <folder>/vox_parser and <folder>/vox_reader)
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "volume/vox_file_writer.h"

using namespace ulm3;

namespace {

std::vector<uint8_t> Bytes(size_t n, unsigned seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 29 + seed);
    return v;
}

VoxVolumeToWrite Volume(int x, int y, int z, int bits, char endian, const std::vector<uint8_t>& voxels) {
    VoxVolumeToWrite v;
    v.m_sizeX = x;
    v.m_sizeY = y;
    v.m_sizeZ = z;
    v.m_voxelBits = bits;
    v.m_endian = endian;
    v.m_fields = {VoxfFieldSpecifier(0, 0, bits > 16 ? 16 : bits, 0, "density")};
    v.m_voxels = voxels.data();
    return v;
}

std::string Written(const VoxFileWriter& w) {
    std::string s;
    if (ULMFailed(w.WriteToString(s))) {
        fprintf(stderr, "vox_make_seeds: a seed could not be written\n");
        exit(1);
    }
    return s;
}

std::string Vox97(const std::string& fields, size_t voxelBytes) {
    std::string header = fields;
    header.resize(247, ' ');
    std::string s = "Vox1997a" + header + ":";
    for (size_t i = 0; i < voxelBytes; ++i) s.push_back(static_cast<char>(i * 13 + 1));
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    std::vector<std::pair<std::string, std::string>> seeds;
    const auto v8 = Bytes(24, 1), v16 = Bytes(48, 2), v32 = Bytes(48, 3), v64 = Bytes(16, 4);

    {
        VoxFileWriter w;
        w.AddVolume(Volume(4, 3, 2, 8, 'L', v8));
        seeds.emplace_back("minimal_8bit", Written(w));
    }
    {
        VoxFileWriter w;
        VoxVolumeToWrite v = Volume(4, 3, 2, 16, 'B', v16);
        v.m_fields.push_back(VoxfFieldSpecifier(1, 12, 4, 2, "tag"));
        v.m_hasModelMatrix = true;
        const double m[16] = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1};
        std::copy(m, m + 16, v.m_modelMatrix);
        v.m_title = "big-endian sixteen";
        v.m_attributes = {{"unit", "mm"}};
        w.SetTitle("seed");
        w.SetCopyright("none");
        w.AddVolume(v);
        seeds.emplace_back("big_endian_16bit", Written(w));
    }
    {
        VoxFileWriter w;
        VoxVolumeToWrite v = Volume(3, 2, 2, 32, 'L', v32);
        v.m_fields.push_back(VoxfFieldSpecifier(1, 16, 8, 1, "gradient"));
        v.m_fields.push_back(VoxfFieldSpecifier(2, 24, 8, 3, "label"));
        w.AddVolume(v);
        seeds.emplace_back("little_endian_32bit", Written(w));
    }
    {
        VoxFileWriter w;
        VoxVolumeToWrite v = Volume(2, 1, 1, 64, 'B', v64);
        v.m_fields = {VoxfFieldSpecifier(0, 0, 64, 17, "value")};
        w.AddVolume(v);
        seeds.emplace_back("wide_64bit", Written(w));
    }
    {
        VoxFileWriter w;
        w.AddData("header block", "HEADER");
        w.AddAttribute("site", "lab");
        VoxVolumeToWrite a = Volume(2, 2, 2, 8, 'L', v8);
        a.m_data = {{"a", "aaaa"}};
        VoxVolumeToWrite b = Volume(2, 2, 2, 16, 'B', v16);
        b.m_data = {{"b", "bb"}, {"empty", ""}};
        VoxVolumeToWrite c = Volume(2, 2, 1, 32, 'B', v32);
        w.AddVolume(a);
        w.AddVolume(b);
        w.AddVolume(c);
        seeds.emplace_back("three_volumes_with_data", Written(w));
    }
    {
        VoxFileWriter w;
        w.SetDeclareVolumeCount(false);
        w.AddVolume(Volume(0, 0, 0, 8, 'L', v8));
        w.AddVolume(Volume(2, 2, 2, 8, 'B', v8));
        seeds.emplace_back("empty_then_full", Written(w));
    }
    seeds.emplace_back("hand_written_syntax",
                       "Vox1999a\n// comment\n   VolumeCount 2\nTitle hand made\n##\n"
                       "VolumeSize 2 2 1\n  VoxelSize 16\nEndian B\n"
                       "Field 0 (\n  Position 0 Size 12\n  Name \"density value\"\n  Format ui )\n"
                       "Field3 ( Position 12 Size 4 Name t Description \"tag bits\" Offset 0.5 Scale 2 Format sf)\n"
                       "ModelMatrix\n(1, 0, 0, 0,\n 0, 1, 0, 0,\n 0, 0, 1, 0,\n 5, 6, 7, 1)\n"
                       "VolumeScale 1 1 2.5\nVolumePosition 0 0 -3\nData extra 3\nData none -1\n"
                       "Attribute \"a b\" c d\n##\f\n\x01\x02\x03\x04\x05\x06\x07\x08xyz"
                       "##\nVolumeSize 1 1 1\nVoxelSize 8\nEndian L\nField0 ( Position 0 Size 8 Name v )\n##\f\n\x2a");
    seeds.emplace_back("v97_8bit", Vox97("LittleEndian 4 3 2 1 1 1 8 20000", 24));
    seeds.emplace_back("v97_16bit_high", Vox97("BigEndian 3 2 2 0.5 0.5 2 16 1040000", 24));
    seeds.emplace_back("v97_16bit_low", Vox97("LittleEndian 2 2 2 0 0 0 16 1030000", 16));

    const std::string root = argv[1];
    mkdir(root.c_str(), 0755);
    for (const char* target : {"vox_parser", "vox_reader"}) {
        const std::string dir = root + "/" + target;
        mkdir(dir.c_str(), 0755);
        for (const auto& [name, bytes] : seeds) {
            std::ofstream out(dir + "/" + name + ".vox", std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            if (!out) {
                fprintf(stderr, "vox_make_seeds: cannot write %s/%s\n", dir.c_str(), name.c_str());
                return 1;
            }
        }
    }
    return 0;
}
