// Makes a volume file: either from a raw voxel file (packed, X fastest, in
// this machine's byte order) or from a synthetic test shape.
//
//   ulm3_voxmake [--size X Y Z] [--bits 8|16] [--field-bits B] [--spacing SX SY SZ]
//                [--shape sphere|ramp|phantom|raw] [--raw FILE] [--little] [--title TEXT] OUT.vox
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "shapes/test_shapes.h"
#include "volume/vox_file_writer.h"

using namespace ulm3;

namespace {

void Usage() {
    fprintf(stderr,
            "usage: ulm3_voxmake [--size X Y Z] [--bits 8|16] [--field-bits B] [--spacing SX SY SZ]\n"
            "                    [--shape sphere|ramp|phantom|raw] [--raw FILE] [--little] [--title TEXT] OUT.vox\n"
            "  sphere: a soft ball with a denser shell (default); ramp: values rising along X;\n"
            "  phantom: the 3-D Shepp-Logan head phantom (modified intensities);\n"
            "  raw: voxels read from FILE (packed, X fastest, this machine's byte order).\n"
            "  Shapes fill 0..255 in 8-bit voxels and 0..4095 in 16-bit ones. --field-bits declares\n"
            "  how many low bits hold the value (default 8, or 12 for 16-bit voxels); --spacing gives\n"
            "  the voxel's extent along each axis, for voxels that are not cubes.\n");
}

bool ParseSize(const char* text, int32_t& out) {
    char* end = nullptr;
    const long v = strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 1 || v > 4096) return false;
    out = static_cast<int32_t>(v);
    return true;
}

bool ParseSpacing(const char* text, double& out) {
    char* end = nullptr;
    out = strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(out) && out > 0.0;
}

}  // namespace

int main(int argc, char** argv) {
    int32_t sx = 64, sy = 64, sz = 64;
    int bits = 8;
    int fieldBits = 0;  // 0: 8, or 12 in 16-bit voxels
    double spacing[3] = {1.0, 1.0, 1.0};
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
        } else if (a == "--field-bits" && i + 1 < argc) {
            fieldBits = atoi(argv[++i]);
        } else if (a == "--spacing" && i + 3 < argc) {
            if (!ParseSpacing(argv[i + 1], spacing[0]) || !ParseSpacing(argv[i + 2], spacing[1]) ||
                !ParseSpacing(argv[i + 3], spacing[2])) {
                fprintf(stderr, "ulm3_voxmake: spacings must be numbers above 0\n");
                return 2;
            }
            i += 3;
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
    if (fieldBits == 0) fieldBits = bits == 8 ? 8 : 12;
    const bool knownShape = ulm3tools::IsKnownShape(shape) || shape == "raw";
    if (out.empty() || (bits != 8 && bits != 16) || fieldBits < 4 || fieldBits > bits || !knownShape ||
        (shape == "raw" && rawFile.empty())) {
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
        // 16-bit voxels carry 12-bit values even where the field declares more.
        const double maxValue = std::min(4095, (1 << fieldBits) - 1);
        size_t i = 0;
        for (int z = 0; z < sz; ++z)
            for (int y = 0; y < sy; ++y)
                for (int x = 0; x < sx; ++x, ++i) {
                    const double value = ulm3tools::ShapeValue(shape, x, y, z, sx, sy, sz);
                    const auto v = static_cast<uint16_t>(std::lround(value * maxValue));
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
    volume.m_fields = {VoxfFieldSpecifier(0, 0, fieldBits, 0, "density")};
    if (spacing[0] != 1.0 || spacing[1] != 1.0 || spacing[2] != 1.0) {
        // The model matrix, in column order, scales voxel steps to their extents.
        volume.m_hasModelMatrix = true;
        volume.m_modelMatrix[0] = spacing[0];
        volume.m_modelMatrix[5] = spacing[1];
        volume.m_modelMatrix[10] = spacing[2];
    }
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
