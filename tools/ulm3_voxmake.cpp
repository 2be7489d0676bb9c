// Makes a volume file: either from a raw voxel file (packed, X fastest, in
// this machine's byte order) or from a synthetic test shape.
//
//   ulm3_voxmake [--size X Y Z] [--bits 8|16] [--shape sphere|ramp|raw]
//                [--raw FILE] [--little] [--title TEXT] OUT.vox
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "volume/vox_file_writer.h"

using namespace ulm3;

namespace {

void Usage() {
    fprintf(stderr,
            "usage: ulm3_voxmake [--size X Y Z] [--bits 8|16] [--shape sphere|ramp|raw]\n"
            "                    [--raw FILE] [--little] [--title TEXT] OUT.vox\n"
            "  sphere: a soft ball with a denser shell (default); ramp: values rising along X;\n"
            "  raw: voxels read from FILE (packed, X fastest, this machine's byte order).\n");
}

bool ParseSize(const char* text, int32_t& out) {
    char* end = nullptr;
    const long v = strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 1 || v > 4096) return false;
    out = static_cast<int32_t>(v);
    return true;
}

// A value in 0..1 for the voxel at (x, y, z) of the synthetic shapes.
double ShapeValue(const std::string& shape, int x, int y, int z, int sx, int sy, int sz) {
    if (shape == "ramp") return sx > 1 ? double(x) / (sx - 1) : 0.0;
    const double dx = (x + 0.5) / sx - 0.5, dy = (y + 0.5) / sy - 0.5, dz = (z + 0.5) / sz - 0.5;
    const double r = 2.0 * std::sqrt(dx * dx + dy * dy + dz * dz);  // 0 at the centre, 1 at the faces
    if (r > 1.0) return 0.0;
    const double shell = std::exp(-std::pow((r - 0.8) / 0.06, 2.0));
    return std::min(1.0, 0.35 * (1.0 - r) + shell);
}

}  // namespace

int main(int argc, char** argv) {
    int32_t sx = 64, sy = 64, sz = 64;
    int bits = 8;
    std::string shape = "sphere", rawFile, title = "ulm3_voxmake", out;
    char endian = 'B';
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--size" && i + 3 < argc) {
            if (!ParseSize(argv[i + 1], sx) || !ParseSize(argv[i + 2], sy) || !ParseSize(argv[i + 3], sz)) {
                fprintf(stderr, "ulm3_voxmake: sizes must be whole numbers from 1 to 4096\n");
                return 2;
            }
            i += 3;
        } else if (a == "--bits" && i + 1 < argc) {
            bits = atoi(argv[++i]);
        } else if (a == "--shape" && i + 1 < argc) {
            shape = argv[++i];
        } else if (a == "--raw" && i + 1 < argc) {
            rawFile = argv[++i];
            shape = "raw";
        } else if (a == "--little") {
            endian = 'L';
        } else if (a == "--title" && i + 1 < argc) {
            title = argv[++i];
        } else if (a == "--help" || a == "-h") {
            Usage();
            return 0;
        } else if (!a.empty() && a[0] != '-' && out.empty()) {
            out = a;
        } else {
            Usage();
            return 2;
        }
    }
    if (out.empty() || (bits != 8 && bits != 16) ||
        (shape != "sphere" && shape != "ramp" && shape != "raw") || (shape == "raw" && rawFile.empty())) {
        Usage();
        return 2;
    }

    const size_t count = size_t(sx) * size_t(sy) * size_t(sz);
    const size_t bytes = count * size_t(bits / 8);
    std::vector<uint8_t> voxels(bytes);
    if (shape == "raw") {
        std::ifstream in(rawFile, std::ios::binary);
        if (!in.read(reinterpret_cast<char*>(voxels.data()), std::streamsize(bytes))) {
            fprintf(stderr, "ulm3_voxmake: %s does not hold %zu bytes of voxels\n", rawFile.c_str(), bytes);
            return 1;
        }
    } else {
        const double maxValue = bits == 8 ? 255.0 : 4095.0;  // 16-bit voxels carry 12-bit values
        size_t i = 0;
        for (int z = 0; z < sz; ++z)
            for (int y = 0; y < sy; ++y)
                for (int x = 0; x < sx; ++x, ++i) {
                    const auto v = static_cast<uint16_t>(std::lround(ShapeValue(shape, x, y, z, sx, sy, sz) * maxValue));
                    if (bits == 8) voxels[i] = static_cast<uint8_t>(v);
                    else memcpy(&voxels[2 * i], &v, 2);
                }
    }

    VoxVolumeToWrite volume;
    volume.m_sizeX = sx;
    volume.m_sizeY = sy;
    volume.m_sizeZ = sz;
    volume.m_voxelBits = bits;
    volume.m_endian = endian;
    volume.m_fields = {VoxfFieldSpecifier(0, 0, bits == 8 ? 8 : 12, 0, "density")};
    volume.m_voxels = voxels.data();

    VoxFileWriter writer;
    writer.SetTitle(title);
    writer.AddVolume(volume);
    const ULMStatus status = writer.WriteToFile(out.c_str());
    if (ULMFailed(status)) {
        fprintf(stderr, "ulm3_voxmake: could not write %s: %s (%d)\n", out.c_str(), UlmGetStatusString(status), status);
        return 1;
    }
    printf("wrote %s: %d x %d x %d voxels of %d bits\n", out.c_str(), sx, sy, sz, bits);
    return 0;
}
