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

// One ellipsoid of the head phantom: intensity, semi-axes, centre, and the
// turn about z (phi + psi; theta is 0 for all ten) in degrees.
struct PhantomEllipsoid {
    double a, sa, sb, sc, x0, y0, z0, turn;
};

// The ten ellipsoids with the modified intensities: the original ones leave
// too little contrast between brain and ventricles to see.
constexpr PhantomEllipsoid kPhantom[] = {
    {1.0, 0.6900, 0.920, 0.810, 0, 0, 0, 0},
    {-0.8, 0.6624, 0.874, 0.780, 0, -0.0184, 0, 0},
    {-0.2, 0.1100, 0.310, 0.220, 0.22, 0, 0, -18 + 10},
    {-0.2, 0.1600, 0.410, 0.280, -0.22, 0, 0, 18 + 10},
    {0.1, 0.2100, 0.250, 0.410, 0, 0.35, -0.15, 0},
    {0.1, 0.0460, 0.046, 0.050, 0, 0.1, 0.25, 0},
    {0.1, 0.0460, 0.046, 0.050, 0, -0.1, 0.25, 0},
    {0.1, 0.0460, 0.023, 0.050, -0.08, -0.605, 0, 0},
    {0.1, 0.0230, 0.023, 0.020, 0, -0.606, 0, 0},
    {0.1, 0.0230, 0.046, 0.020, 0.06, -0.605, 0, 0},
};

// The share of the voxel centred at (px, py, pz), half a voxel wide by
// (hx, hy, hz), that lies inside the ellipsoid. A voxel the surface misses
// is wholly in or out; one it crosses is sampled at 4 x 4 x 4 points, so
// that the thin shells of the phantom show no steps.
double ShareInside(const PhantomEllipsoid& e, double px, double py, double pz, double hx, double hy, double hz) {
    constexpr double kDegree = 3.14159265358979323846 / 180.0;
    const double c = std::cos(e.turn * kDegree), s = std::sin(e.turn * kDegree);
    const auto radius = [&](double x, double y, double z) {
        const double dx = x - e.x0, dy = y - e.y0, dz = z - e.z0;
        // The point in the ellipsoid's own axes: turned back by its turn.
        const double u = (c * dx + s * dy) / e.sa, v = (-s * dx + c * dy) / e.sb, w = dz / e.sc;
        return std::sqrt(u * u + v * v + w * w);
    };
    const double reach = std::sqrt(hx * hx + hy * hy + hz * hz) / std::min({e.sa, e.sb, e.sc});
    const double r = radius(px, py, pz);
    if (r - reach > 1.0) return 0.0;
    if (r + reach < 1.0) return 1.0;
    constexpr int kSteps = 4;
    int inside = 0;
    for (int k = 0; k < kSteps; ++k)
        for (int j = 0; j < kSteps; ++j)
            for (int i = 0; i < kSteps; ++i) {
                const auto at = [&](int n, double h) { return (2.0 * n + 1.0 - kSteps) / kSteps * h; };
                inside += radius(px + at(i, hx), py + at(j, hy), pz + at(k, hz)) <= 1.0;
            }
    return static_cast<double>(inside) / (kSteps * kSteps * kSteps);
}

// A value in 0..1 for the voxel at (x, y, z) of the synthetic shapes.
double ShapeValue(const std::string& shape, int x, int y, int z, int sx, int sy, int sz) {
    if (shape == "ramp") return sx > 1 ? double(x) / (sx - 1) : 0.0;
    if (shape == "phantom") {
        // Voxel i of n covers [2i/n - 1, 2(i + 1)/n - 1].
        double sum = 0.0;
        for (const PhantomEllipsoid& e : kPhantom) {
            sum += e.a * ShareInside(e, (2.0 * x + 1.0) / sx - 1.0, (2.0 * y + 1.0) / sy - 1.0,
                                     (2.0 * z + 1.0) / sz - 1.0, 1.0 / sx, 1.0 / sy, 1.0 / sz);
        }
        return std::clamp(sum, 0.0, 1.0);
    }
    const double dx = (x + 0.5) / sx - 0.5, dy = (y + 0.5) / sy - 0.5, dz = (z + 0.5) / sz - 0.5;
    const double r = 2.0 * std::sqrt(dx * dx + dy * dy + dz * dz);  // 0 at the centre, 1 at the faces
    if (r > 1.0) return 0.0;
    const double shell = std::exp(-std::pow((r - 0.8) / 0.06, 2.0));
    return std::min(1.0, 0.35 * (1.0 - r) + shell);
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
    const bool knownShape = shape == "sphere" || shape == "ramp" || shape == "phantom" || shape == "raw";
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
                    const double value = ShapeValue(shape, x, y, z, sx, sy, sz);
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
