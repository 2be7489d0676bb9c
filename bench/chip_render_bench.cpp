// Speed of a full render on the simulated chip: a 256^3 8-bit blob seen
// obliquely in parallel projection, one trilinear sample per voxel slice,
// looked up and composited front to back, every sample computed (nothing
// is transparent and no ray terminates). Unshaded (emissive) and shaded
// (one white light at the viewer) on 1, 2, 4 and 8 threads. Counters:
// samples/s from the chip's own sample count, the ratio to one thread and
// the ratio to the scalar kernels on one thread, both measured in the same
// run; the label names the instruction set.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "tulx7/register_map.h"
#include "tulx7sim/command_executor.h"
#include "tulx7sim/rendering_chip.h"

namespace {

using namespace tulx7sim;

constexpr int kSize = 256;
constexpr double kOne = 1099511627776.0;  // 2^40: one voxel in an S23.40 register

uint64_t Raw(double voxels) { return static_cast<uint64_t>(static_cast<int64_t>(std::llround(voxels * kOne))); }

// A sign-and-magnitude fraction of `bits` magnitude bits.
uint64_t SignMagnitude(double v, int bits) {
    const auto magnitude = static_cast<uint64_t>(std::lround(std::fabs(v) * ((1 << bits) - 1)));
    return (v < 0 ? uint64_t{1} << bits : 0) | magnitude;
}

// A reflectance map of the light at the viewer, raised to `exponent`.
std::vector<uint64_t> Map(const double (&light)[3], double exponent) {
    return MakeReflectanceMap([&](const double (&d)[3]) {
        return std::pow(std::max(0.0, d[0] * light[0] + d[1] * light[1] + d[2] * light[2]), exponent);
    });
}

class BlobRender {
public:
    static BlobRender& Instance() {
        static BlobRender render;
        return render;
    }

    // Samples composited by one render.
    uint64_t Run(bool shaded) {
        Program(shaded);
        ChipDiagnostics counts;
        std::string diagnostic;
        if (m_chip->Render(m_job, m_registers, counts, diagnostic) != 0) return 0;
        return counts.samples;
    }

private:
    BlobRender() : m_volume(size_t{kSize} * kSize * kSize), m_image(size_t{kSize} * kSize * 8) {
        std::mt19937 random(1);
        for (int w = 0; w < kSize; ++w)
            for (int v = 0; v < kSize; ++v)
                for (int u = 0; u < kSize; ++u) {
                    const double x = 2.0 * u / (kSize - 1) - 1, y = 2.0 * v / (kSize - 1) - 1, z = 2.0 * w / (kSize - 1) - 1;
                    const double r = std::sqrt(x * x + y * y + z * z);
                    const double blob = 220 * std::exp(-(r / 0.5) * (r / 0.5)) *
                                        (0.75 + 0.25 * std::sin(6 * x) * std::sin(6 * y) * std::sin(6 * z));
                    const double value = std::round(blob) + static_cast<double>(random() % 16);
                    m_volume[(size_t{static_cast<size_t>(w)} * kSize + static_cast<size_t>(v)) * kSize + static_cast<size_t>(u)] =
                        static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
                }
        // Grey, opacity 0.004 at 0 rising to 0.008 at 255, as 12-bit RGBA.
        m_table.resize(256);
        for (size_t e = 0; e < 256; ++e) {
            const auto grey = static_cast<uint64_t>(std::lround(e * 4095.0 / 255));
            const auto alpha = static_cast<uint64_t>(std::lround((0.004 + 0.004 * e / 255) * 4095));
            m_table[e] = grey | grey << 12 | grey << 24 | alpha << 36;
        }
        auto bind = [](BoundArray& slot, std::vector<uint8_t>& bytes, int axes, int bytesEach, uint32_t id) {
            slot.bound = true;
            slot.bufferId = id;
            slot.dimension = axes - 1;
            slot.elementBytes = bytesEach;
            slot.size[0] = slot.size[1] = kSize;
            slot.size[2] = axes == 3 ? kSize : 1;
            slot.rangeMax[0] = slot.rangeMax[1] = kSize - 1;
            slot.rangeMax[2] = axes == 3 ? kSize - 1 : 0;
            slot.data = bytes.data();
            slot.byteCount = bytes.size();
        };
        bind(m_job.volume, m_volume, 3, 1, 1);
        bind(m_job.image0, m_image, 2, 8, 2);
        m_job.writeMask = 1;
        m_job.tables[0] = BoundTable{true, 3, 0, 256, reinterpret_cast<const uint8_t*>(m_table.data()), 256 * 8};

        // The view: 30 degrees about Y, then 20 about X. Volume axes u, v, w;
        // the image axes and the view direction are the rotated x, y, z.
        const double a = 30 * M_PI / 180, b = 20 * M_PI / 180;
        const double ry[3][3] = {{std::cos(a), 0, std::sin(a)}, {0, 1, 0}, {-std::sin(a), 0, std::cos(a)}};
        const double rx[3][3] = {{1, 0, 0}, {0, std::cos(b), -std::sin(b)}, {0, std::sin(b), std::cos(b)}};
        double axes[3][3];  // axes[k] = image axis k in volume coordinates
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i) {
                double sum = 0;
                for (int j = 0; j < 3; ++j) sum += rx[j][k] * ry[i][j];
                axes[k][i] = sum;
            }
        for (int i = 0; i < 3; ++i) {
            m_eye[i] = -axes[2][i];
            m_ex[i] = axes[0][i];
            m_ey[i] = axes[1][i];
        }
        m_diffuse = Map(m_eye, 1);
        m_specular = Map(m_eye, 10);
        m_job.tables[4] = BoundTable{true, 4, 0, 384, reinterpret_cast<const uint8_t*>(m_specular.data()), 384 * 8};
        m_job.tables[5] = BoundTable{true, 5, 0, 384, reinterpret_cast<const uint8_t*>(m_diffuse.data()), 384 * 8};
    }

    void Program(bool shaded) {
        ResetChipRegisters(m_registers);
        CommandExecutor(m_registers, *m_chip, m_job).LoadArrayRegisters();
        const uint64_t last = kSize - 1;
        m_registers.Write64(NKW7_ViewFrustumRangeMax_Addr, last | last << 16 | last << 32);
        // Slices are voxel slices w = zs; the ray through pixel (xs, ys)
        // from the image centre meets slice w at u, v affine in xs, ys, zs.
        const double d[3] = {-m_eye[0], -m_eye[1], -m_eye[2]};
        const double centre = (kSize - 1) / 2.0;
        double origin[3];
        for (int i = 0; i < 3; ++i) origin[i] = centre - centre * m_ex[i] - centre * m_ey[i];
        const double du = d[0] / d[2], dv = d[1] / d[2];
        m_registers.Write32(NKW7_Transform_Addr, 0x240);
        m_registers.Write64(NKW7_dXv8_dXs_Addr, Raw(m_ex[0] - m_ex[2] * du));
        m_registers.Write64(NKW7_dXv8_dYs_Addr, Raw(m_ey[0] - m_ey[2] * du));
        m_registers.Write64(NKW7_dXv8_dZs_Addr, Raw(du));
        m_registers.Write64(NKW7_OriginXv8_Addr, Raw(origin[0] - origin[2] * du));
        m_registers.Write64(NKW7_dYv8_dXs_Addr, Raw(m_ex[1] - m_ex[2] * dv));
        m_registers.Write64(NKW7_dYv8_dYs_Addr, Raw(m_ey[1] - m_ey[2] * dv));
        m_registers.Write64(NKW7_dYv8_dZs_Addr, Raw(dv));
        m_registers.Write64(NKW7_OriginYv8_Addr, Raw(origin[1] - origin[2] * dv));
        m_registers.Write64(NKW7_dZv8_dZs_Addr, Raw(1));
        const uint32_t trims[3][2] = {{NKW7_TrimRangeXmin_Addr, NKW7_TrimRangeXmax_Addr},
                                      {NKW7_TrimRangeYmin_Addr, NKW7_TrimRangeYmax_Addr},
                                      {NKW7_TrimRangeZmin_Addr, NKW7_TrimRangeZmax_Addr}};
        for (const auto& trim : trims) {
            m_registers.Write32(trim[0], static_cast<uint32_t>(-128));
            m_registers.Write32(trim[1], static_cast<uint32_t>(kSize * 256 - 129));
        }
        m_registers.Write64(NKW7_VoxelFormat_Addr, 0x0F0F0F10);
        m_registers.Write32(NKW7_LookupTableFormat0_Addr, 0x29262320);
        m_registers.Write32(NKW7_Image0FieldSel_Addr, 0x3C383430);
        m_registers.Write32(NKW7_Alu0_Addr, 0x03030303);
        m_registers.Write32(NKW7_Alu2_Addr, 0x03030303);
        m_registers.Write32(NKW7_InterpolateControl_Addr, 0x10001);  // trilinear field and gradient
        m_registers.Write32(NKW7_ImageControl_Addr, 0x10100000);     // write image 0, front to back
        m_registers.Write32(NKW7_RenderOperation_Addr, 0x10540000);  // table 0 looked up, the others bypassed
        if (!shaded) {
            m_registers.Write32(NKW7_LightingCoefficient_Addr, 0xFF000000);
            return;
        }
        // Ambient 0.2, diffuse 0.6, specular 0.3 in white; central differences.
        m_registers.Write32(NKW7_LightingCoefficient_Addr, 51u << 24 | 153u << 16 | 77u << 8);
        m_registers.Write32(NKW7_GradientControl_Addr, 0x200);
        m_registers.Write64(NKW7_EyeVector_Addr, SignMagnitude(m_eye[0], 9) << 22 | SignMagnitude(m_eye[1], 9) << 38 |
                                                     SignMagnitude(m_eye[2], 9) << 54);
        m_registers.Write64(NKW7_SpecularColor_Addr, uint64_t{4095} << 4 | uint64_t{4095} << 20 | uint64_t{4095} << 36);
    }

    std::shared_ptr<ChipModel> m_chip = MakeRenderingChip();
    RenderJob m_job;
    RegisterFile m_registers;
    std::vector<uint8_t> m_volume, m_image;
    std::vector<uint64_t> m_table, m_diffuse, m_specular;
    double m_eye[3] = {}, m_ex[3] = {}, m_ey[3] = {};
};

// Samples/s of one thread on the scalar kernels, measured first in the same
// run: the baseline of the vector kernels.
std::map<bool, double> gScalar;

// Samples/s of the blob render on `threads` threads and the instruction set
// given, over the benchmark's iterations.
double BlobSamplesPerSecond(benchmark::State& state, bool shaded, int threads, ChipInstructionSet isa) {
    SetChipThreads(threads);
    SetChipInstructionSet(isa);
    BlobRender& render = BlobRender::Instance();
    uint64_t samples = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) samples += render.Run(shaded);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    SetChipThreads(0);
    SetChipInstructionSet(ChipInstructionSet::kDefault);
    return seconds > 0 ? static_cast<double>(samples) / seconds : 0;
}

void BM_ChipBlobRender(benchmark::State& state) {
    static std::map<bool, double> oneThread;  // samples/s, measured first in the same run
    const bool shaded = state.range(0) != 0;
    const int threads = static_cast<int>(state.range(1));
    const double rate = BlobSamplesPerSecond(state, shaded, threads, ChipInstructionSet::kDefault);
    if (threads == 1) oneThread[shaded] = rate;
    state.counters["samples/s"] = rate;
    // The ratios only where their baseline ran earlier in this run.
    if (oneThread[shaded] > 0) state.counters["x one thread"] = rate / oneThread[shaded];
    if (gScalar[shaded] > 0) state.counters["x scalar"] = rate / gScalar[shaded];
    state.SetLabel(std::string(shaded ? "shaded " : "unshaded ") + ChipInstructionSetName());
}

void BM_ChipBlobRenderScalar(benchmark::State& state) {
    const bool shaded = state.range(0) != 0;
    gScalar[shaded] = BlobSamplesPerSecond(state, shaded, 1, ChipInstructionSet::kScalar);
    state.counters["samples/s"] = gScalar[shaded];
    state.SetLabel(shaded ? "shaded scalar" : "unshaded scalar");
}

const bench::Family kChipBlobRenderScalar([] {
    benchmark::RegisterBenchmark("BM_ChipBlobRenderScalar", BM_ChipBlobRenderScalar)
        ->ArgsProduct({{0, 1}})
        ->ArgNames({"shaded"})
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(bench::MinTime(1.0));
});

const bench::Family kChipBlobRender([] {
    benchmark::RegisterBenchmark("BM_ChipBlobRender", BM_ChipBlobRender)
        ->ArgsProduct({{0, 1}, {1, 2, 4, 8}})
        ->ArgNames({"shaded", "threads"})
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(bench::MinTime(1.0));
});

}  // namespace
