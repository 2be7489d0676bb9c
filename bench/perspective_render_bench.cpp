// A perspective frame against the parallel render of the same view: a 256^3
// 8-bit volume into a 512x512 image on a simulated board, the eye as far
// from the volume's centre and the sampling limits the same for both.
// Counters: both frame times and their ratio, the chip's samples of each,
// and the host warp's share of the perspective frame.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "bench_support.h"
#include "blob_volume.h"
#include "perspective/persp_interf.h"
#include "render/volume_render_state.h"
#include "tulx7sim/chip_model.h"
#include "ulm3.h"
#include "volume/volume_internal.h"

namespace {

using namespace ulm3;
using Clock = std::chrono::steady_clock;

constexpr int kSide = 256;
constexpr int kImage = 512;
constexpr double kDistance = 600.0;  // eye to the volume's centre

// Median frame seconds and the chip's samples of one frame.
void Time(ULMVolume* inVolume, ULMContext* inContext, ULMImageBuffer* inImage, benchmark::State& ioState,
          std::vector<double>& outSeconds, uint64_t& outSamples) {
    tulx7sim::ClearChipDiagnostics();
    const auto t0 = Clock::now();
    const ULMStatus status = inVolume->StartRender(inContext, inImage, nullptr, nullptr, nullptr).Wait(-1);
    outSeconds.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    outSamples = tulx7sim::GetChipDiagnostics(0).samples;
    if (status != kULMOK) ioState.SkipWithError(("render refused: " + std::to_string(status)).c_str());
}

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

void BM_PerspectiveAgainstParallel(benchmark::State& state) {
    bench::LibrarySession session(state);
    if (!session.Open()) return;
    std::vector<uint8_t> voxels = BlobVoxels(kSide);
    ReleasablePointer<ULMVolume> volume(ULMVolume::Create(1u, voxels.data(), kSide, kSide, kSide, ULMVolume::kSliced));
    ReleasablePointer<ULMLookupTable> table(BlobTable());
    ReleasablePointer<ULMContext> parallel(ULMContext::Create(table));
    ReleasablePointer<ULMContext> perspective(ULMContext::Create(table));
    ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, kImage, kImage, 32, 4, kBlobImageFields));
    if (volume == nullptr || table == nullptr || parallel == nullptr || perspective == nullptr || image == nullptr)
        return state.SkipWithError("the scene was refused");
    // Both views hold the volume's bounding sphere at the same distance.
    const double radius = std::sqrt(3.0) * kSide / 2;
    const double halfAngle = std::asin(radius / kDistance);
    const ULMMatrix model = ULMMatrix::Translate(0, 0, -kDistance) * ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) *
                            ULMMatrix::Rotate(35, ULMVector3D(0, 1, 0)) * ULMMatrix::Translate(-127.5, -127.5, -127.5);
    for (ULMContext* context : {parallel.GetPointer(), perspective.GetPointer()}) {
        ULMCamera camera;
        const double half = radius * 1.02;
        camera.SetProjectionMatrix(context == parallel
                                       ? ULMMatrix::Ortho(-half, half, -half, half, kDistance - half, kDistance + half)
                                       : ULMMatrix::Perspective(2 * halfAngle * 180 / M_PI * 1.02, 1.0,
                                                                kDistance - half, kDistance + half));
        camera.SetModelMatrix(model);
        camera.SetViewport(0, 0, kImage, kImage);
        context->SetCamera(camera);
        context->SetSamplingLimits(1, 3, 1, 3);
    }
    if (volume->LockVolume(kULMBoard0) != kULMOK) return state.SkipWithError("volume not on the board");

    std::vector<double> parallelSeconds, perspectiveSeconds;
    uint64_t parallelSamples = 0, perspectiveSamples = 0;
    ULMVolumeInternal* plain = PlainVolumeOf(volume);
    if (plain == nullptr) return state.SkipWithError("no plain volume draws the volume");
    const ULMOwnedFrameDriver& driver = ULMRenderStateOf(*plain).m_perspective;
    double warp = 0.0;
    for (auto _ : state) {
        Time(volume, parallel, image, state, parallelSeconds, parallelSamples);
        const double warpBefore = driver.Made() ? driver.Made()->WarpSeconds() : 0;
        Time(volume, perspective, image, state, perspectiveSeconds, perspectiveSamples);
        if (driver.Made() != nullptr) warp += driver.Made()->WarpSeconds() - warpBefore;
    }
    double perspectiveTotal = 0;
    for (const double s : perspectiveSeconds) perspectiveTotal += s;
    state.counters["parallel ms"] = 1e3 * Median(parallelSeconds);
    state.counters["perspective ms"] = 1e3 * Median(perspectiveSeconds);
    state.counters["perspective / parallel"] = Median(perspectiveSeconds) / Median(parallelSeconds);
    state.counters["parallel samples"] = static_cast<double>(parallelSamples);
    state.counters["perspective samples"] = static_cast<double>(perspectiveSamples);
    state.counters["warp % of perspective"] = 100.0 * warp / perspectiveTotal;
    volume->UnlockVolume(0);
}

const bench::Family kPerspectiveAgainstParallel([] {
    benchmark::RegisterBenchmark("BM_PerspectiveAgainstParallel", BM_PerspectiveAgainstParallel)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(bench::Repeats(5));
});

}  // namespace
