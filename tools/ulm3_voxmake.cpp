// Makes a volume file: either from a raw voxel file (packed, X fastest, in
// this machine's byte order) or from a synthetic test shape.
//
//   ulm3_voxmake [--size X Y Z] [--bits 8|16] [--field-bits B] [--spacing SX SY SZ]
//                [--shape sphere|ramp|phantom|raw] [--raw FILE] [--little] [--title TEXT] OUT.vox
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "shapes/test_shapes.h"
#include "volume/vox_file_writer.h"

using namespace ulm3;
using namespace ulm3cli;

namespace {

const char* const kProgram = "ulm3_voxmake";

const char* const kUsage =
    "usage: ulm3_voxmake [--size X Y Z] [--bits 8|16] [--field-bits B] [--spacing SX SY SZ]\n"
    "                    [--shape sphere|ramp|phantom|raw] [--raw FILE] [--little] [--title TEXT] OUT.vox\n"
    "  --size: voxels along X, Y and Z, each 1..4096 (64 64 64)\n"
    "  sphere: a soft ball with a denser shell (default); ramp: values rising along X;\n"
    "  phantom: the 3-D Shepp-Logan head phantom (modified intensities);\n"
    "  raw: voxels read from FILE (packed, X fastest, this machine's byte order).\n"
    "  Shapes fill 0..255 in 8-bit voxels and 0..4095 in 16-bit ones. --field-bits declares\n"
    "  how many low bits hold the value, 1 up to the voxel's bits (default 8 in 8-bit voxels;\n"
    "  in 16-bit ones 12 for the shapes and 16 for raw voxels); --spacing gives the voxel's\n"
    "  extent along each axis, for voxels that are not cubes.\n";

struct Request {
    int32_t size[3] = {64, 64, 64};
    int bits = 8;
    int fieldBits = 0;  // 0: the default for the voxels
    double spacing[3] = {1.0, 1.0, 1.0};
    std::string shape = "sphere";
    std::string shapeTyped;  // --shape as given, for a line that refuses it
    std::string rawFile;
    std::string title = "ulm3_voxmake";
    char endian = 'B';
    std::string out;
};

// Nothing when the request can be made; else the exit status, after the
// usage or one line that names the argument at fault.
std::optional<int> ReadRequest(int argc, char** argv, Request& out) {
    const std::vector<Option> options = {
        {"--size", 3, "three whole numbers of voxels, each from 1 to 4096",
         [&](char* const* v) {
             long n[3];
             for (int i = 0; i < 3; ++i)
                 if (!ParseWhole(v[i], 1, 4096, n[i])) return false;
             for (int i = 0; i < 3; ++i) out.size[i] = static_cast<int32_t>(n[i]);
             return true;
         }},
        {"--bits", 1, "bits per voxel, 8 or 16",
         [&](char* const* v) {
             long n = 0;
             if (!ParseWhole(v[0], 8, 16, n) || (n != 8 && n != 16)) return false;
             out.bits = static_cast<int>(n);
             return true;
         }},
        {"--field-bits", 1, "the bits that hold the value, a whole number from 1 to 16",
         [&](char* const* v) {
             long n = 0;
             if (!ParseWhole(v[0], 1, 16, n)) return false;
             out.fieldBits = static_cast<int>(n);
             return true;
         }},
        {"--spacing", 3, "three numbers above 0, the voxel's extent along X, Y and Z",
         [&](char* const* v) {
             double s[3];
             for (int i = 0; i < 3; ++i)
                 if (!ParseReal(v[i], s[i]) || s[i] <= 0.0) return false;
             std::copy(s, s + 3, out.spacing);
             return true;
         }},
        {"--shape", 1, "sphere, ramp, phantom or raw",
         [&](char* const* v) {
             out.shape = v[0];
             out.shapeTyped = std::string("--shape ") + v[0];
             return ulm3tools::IsKnownShape(out.shape) || out.shape == "raw";
         }},
        {"--raw", 1, "the file of raw voxels",
         [&](char* const* v) {
             out.rawFile = v[0];
             return !out.rawFile.empty();
         }},
        {"--little", 0, "", [&](char* const*) { return out.endian = 'L', true; }},
        {"--title", 1, "a line of text", [&](char* const* v) { return out.title = v[0], true; }},
    };
    std::vector<const char*> files;
    const std::optional<int> stop = ReadCommandLine(kProgram, kUsage, argc, argv, options, 1, "OUT.vox", files);
    if (stop) return stop;
    out.out = files[0];
    if (!out.rawFile.empty() && !out.shapeTyped.empty() && out.shape != "raw")
        return Refuse(kProgram, out.shapeTyped, "--raw gives the voxels; leave --shape out");
    if (!out.rawFile.empty()) out.shape = "raw";
    if (out.shape == "raw" && out.rawFile.empty()) return Refuse(kProgram, "--shape raw", "needs --raw FILE");
    if (out.fieldBits == 0) out.fieldBits = out.bits == 8 ? 8 : out.shape == "raw" ? 16 : 12;
    if (out.fieldBits > out.bits)
        return Refuse(kProgram, "--field-bits " + std::to_string(out.fieldBits),
                      "at most " + std::to_string(out.bits) + " in " + std::to_string(out.bits) + "-bit voxels");
    return std::nullopt;
}

// The raw file's voxels, which must be exactly the volume's, with values the
// field can hold. 0, or the exit status after its line.
int ReadRaw(const Request& in, std::vector<uint8_t>& ioVoxels) {
    std::ifstream file(in.rawFile, std::ios::binary | std::ios::ate);
    if (!file) {
        std::fprintf(stderr, "%s: cannot read %s: %s\n", kProgram, in.rawFile.c_str(), std::strerror(errno));
        return 1;
    }
    const auto length = static_cast<uint64_t>(file.tellg());
    file.seekg(0);
    if (length != ioVoxels.size() || !file.read(reinterpret_cast<char*>(ioVoxels.data()),
                                                static_cast<std::streamsize>(ioVoxels.size()))) {
        std::fprintf(stderr, "%s: %s holds %llu bytes, but %d x %d x %d voxels of %d bits take %zu\n", kProgram,
                     in.rawFile.c_str(), static_cast<unsigned long long>(length), in.size[0], in.size[1],
                     in.size[2], in.bits, ioVoxels.size());
        return 1;
    }
    unsigned highest = 0;
    for (size_t i = 0; i < ioVoxels.size(); i += static_cast<size_t>(in.bits / 8)) {
        uint16_t v = ioVoxels[i];
        if (in.bits == 16) std::memcpy(&v, &ioVoxels[i], 2);
        highest = std::max<unsigned>(highest, v);
    }
    const int needed = static_cast<int>(std::bit_width(highest));
    if (needed > in.fieldBits) {
        Refuse(kProgram, "--field-bits " + std::to_string(in.fieldBits),
               in.rawFile + " holds values up to " + std::to_string(highest) + ", which take " +
                   std::to_string(needed) + " bits");
        return 2;
    }
    return 0;
}

void FillShape(const Request& in, std::vector<uint8_t>& ioVoxels) {
    // 16-bit voxels carry 12-bit values even where the field declares more.
    const double maxValue = std::min(4095, (1 << in.fieldBits) - 1);
    size_t i = 0;
    for (int z = 0; z < in.size[2]; ++z)
        for (int y = 0; y < in.size[1]; ++y)
            for (int x = 0; x < in.size[0]; ++x, ++i) {
                const double value = ulm3tools::ShapeValue(in.shape, x, y, z, in.size[0], in.size[1], in.size[2]);
                const auto v = static_cast<uint16_t>(std::lround(value * maxValue));
                if (in.bits == 8) ioVoxels[i] = static_cast<uint8_t>(v);
                else std::memcpy(&ioVoxels[2 * i], &v, 2);
            }
}

}  // namespace

int main(int argc, char** argv) {
    Request in;
    if (const std::optional<int> stop = ReadRequest(argc, argv, in)) return *stop;
    // A file-size limit then fails the write, which says so, instead of
    // ending the program halfway through.
    std::signal(SIGXFSZ, SIG_IGN);

    const size_t count = size_t(in.size[0]) * size_t(in.size[1]) * size_t(in.size[2]);
    std::vector<uint8_t> voxels;
    try {
        voxels.resize(count * size_t(in.bits / 8));
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: %d x %d x %d voxels of %d bits (%zu MiB) do not fit in memory\n", kProgram,
                     in.size[0], in.size[1], in.size[2], in.bits, count * size_t(in.bits / 8) >> 20);
        return 1;
    }
    if (in.shape == "raw") {
        const int failed = ReadRaw(in, voxels);
        if (failed != 0) return failed;
    } else {
        FillShape(in, voxels);
    }

    VoxVolumeToWrite volume;
    volume.m_sizeX = in.size[0];
    volume.m_sizeY = in.size[1];
    volume.m_sizeZ = in.size[2];
    volume.m_voxelBits = in.bits;
    volume.m_endian = in.endian;
    volume.m_fields = {VoxfFieldSpecifier(0, 0, in.fieldBits, 0, "density")};
    if (in.spacing[0] != 1.0 || in.spacing[1] != 1.0 || in.spacing[2] != 1.0) {
        // The model matrix, in column order, scales voxel steps to their extents.
        volume.m_hasModelMatrix = true;
        volume.m_modelMatrix[0] = in.spacing[0];
        volume.m_modelMatrix[5] = in.spacing[1];
        volume.m_modelMatrix[10] = in.spacing[2];
    }
    volume.m_voxels = voxels.data();

    VoxFileWriter writer;
    writer.SetTitle(in.title);
    writer.AddVolume(volume);
    std::string reason;
    const ULMStatus status = writer.WriteToFile(in.out.c_str(), &reason);
    if (ULMFailed(status)) {
        if (reason.empty()) reason = std::string(UlmGetStatusString(status)) + " (" + std::to_string(status) + ")";
        std::fprintf(stderr, "%s: cannot write %s: %s\n", kProgram, in.out.c_str(), reason.c_str());
        return 1;
    }
    std::printf("wrote %s: %d x %d x %d voxels of %d bits, values in the low %d\n", in.out.c_str(), in.size[0],
                in.size[1], in.size[2], in.bits, in.fieldBits);
    return 0;
}
