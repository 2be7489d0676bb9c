// A 256^3 8-bit volume seen from far off, so that level 0 needs about four
// voxels a pixel, on a simulated board: drawn through the level the mipmap
// volume picks (levels 0 to 4), against the same view of the whole volume
// (level 0 only) rendered large and shrunk on the board (ResizeImage on).
// Counters: the median frame of each and their ratio, the chip's samples a
// second of each, each image's mean and worst error in 8-bit steps against
// the host reference render of the whole volume, and the time levels 1 and
// 2 took to make, apart from the steady frames.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "bench_support.h"
#include "blob_volume.h"
#include "foundation/control.h"
#include "support/render_reference.h"
#include "tulx7sim/chip_model.h"
#include "ulm3.h"

namespace {

using namespace ulm3;
using Clock = std::chrono::steady_clock;

constexpr int kSide = 256;
constexpr int kImage = 110;  // the box's 443-voxel diagonal view, about 4 voxels a pixel
constexpr int kFrames = 7;

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

double Seconds(Clock::time_point inSince) { return std::chrono::duration<double>(Clock::now() - inSince).count(); }

struct Frames {
    std::vector<double> seconds;
    uint64_t samples = 0;  // of the last frame, every board
    std::vector<uint32_t> pixels;
};

// kFrames renders of the view: their times, the chip's samples of one, the
// image of the last.
bool Run(ULMVolume* inVolume, ULMContext* inContext, ULMImageBuffer* inImage, Frames& outFrames, std::string& outWhy) {
    for (int i = 0; i < bench::Repeats(kFrames); ++i) {
        tulx7sim::ClearChipDiagnostics();
        const auto t0 = Clock::now();
        const ULMStatus status = inVolume->StartRender(inContext, inImage, nullptr, nullptr, nullptr).Wait(-1);
        outFrames.seconds.push_back(Seconds(t0));
        if (status != kULMOK) {
            outWhy = "render refused: " + std::to_string(status);
            return false;
        }
        outFrames.samples = tulx7sim::GetChipDiagnostics(0).samples + tulx7sim::GetChipDiagnostics(1).samples;
    }
    outFrames.pixels.resize(size_t(kImage) * kImage);
    return inImage->Unload(outFrames.pixels.data(), {kImage, kImage, 0, 0}, 0) == kULMOK;
}

// Mean and worst difference over every channel, in 8-bit steps.
std::array<double, 2> Error(const std::vector<uint32_t>& inPixels, const std::vector<std::array<double, 4>>& inWant) {
    double sum = 0, worst = 0;
    for (size_t i = 0; i < inPixels.size(); ++i)
        for (int c = 0; c < 4; ++c) {
            const double e = std::abs(double(inPixels[i] >> 8 * c & 255) - 255 * inWant[i][c]);
            sum += e;
            worst = std::max(worst, e);
        }
    return {sum / (4.0 * inPixels.size()), worst};
}

void BM_MipmapLevelAgainstResize(benchmark::State& state) {
    bench::LibrarySession session(state);
    if (!session.Open()) return;
    std::vector<uint8_t> voxels = BlobVoxels(kSide);
    ReleasablePointer<ULMVolume> volume(ULMVolume::Create(1u, voxels.data(), kSide, kSide, kSide, ULMVolume::kSliced));
    ReleasablePointer<ULMLookupTable> table(BlobTable());
    ReleasablePointer<ULMContext> context(ULMContext::Create(table));
    ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, kImage, kImage, 32, 4, kBlobImageFields));
    if (volume == nullptr || table == nullptr || context == nullptr || image == nullptr)
        return state.SkipWithError("the scene was refused");

    test_support::ReferenceScene scene;
    scene.voxels = voxels;
    scene.size[0] = scene.size[1] = scene.size[2] = kSide;
    const double half = std::sqrt(3.0) * kSide / 2;
    scene.projection = ULMMatrix::Ortho(-half, half, -half, half, -2 * kSide, 2 * kSide);
    scene.model = ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(35, ULMVector3D(0, 1, 0)) *
                  ULMMatrix::Translate(-127.5, -127.5, -127.5);
    scene.viewport[2] = scene.viewport[3] = kImage;
    for (int i = 0; i < 256; ++i) {
        ULMRGBAFloat e;
        table->GetEntry(i, e);
        scene.table[i] = {e.m_red, e.m_green, e.m_blue, e.m_alpha};
    }
    ULMCamera camera;
    camera.SetProjectionMatrix(scene.projection);
    camera.SetModelMatrix(scene.model);
    camera.SetViewport(0, 0, kImage, kImage);
    context->SetCamera(camera);
    context->SetSamplingLimits(1, 3, 1, 1);
    if (volume->LockVolume(kULMBoard0) != kULMOK) return state.SkipWithError("volume not on the board");

    const auto made = Clock::now();
    const ULMStatus generated[2] = {volume->GenerateMipmapLevel(1, -1, 0, 0, 0),
                                    volume->GenerateMipmapLevel(2, -1, 0, 0, 0)};
    const double generation = Seconds(made);
    if (generated[0] != kULMOK || generated[1] != kULMOK) return state.SkipWithError("levels not made");
    const std::vector<std::array<double, 4>> reference = test_support::ReferenceRender(scene, kImage, kImage);

    Frames levels, resized;
    std::string why;
    int chosen = -1;
    for (auto _ : state) {
        volume->SetMipmapRange(0, 4);
        chosen = volume->ChooseMipmapLevel(context);
        if (!Run(volume, context, image, levels, why)) return state.SkipWithError(why.c_str());
        volume->SetMipmapRange(0, 0);
        gULMControl.m_resizeImage = true;
        const bool ran = Run(volume, context, image, resized, why);
        gULMControl.m_resizeImage = false;
        if (!ran) return state.SkipWithError(why.c_str());
    }
    const double level = Median(levels.seconds), resize = Median(resized.seconds);
    const std::array<double, 2> levelError = Error(levels.pixels, reference);
    const std::array<double, 2> resizeError = Error(resized.pixels, reference);
    state.counters["level chosen"] = chosen;
    state.counters["level ms"] = 1e3 * level;
    state.counters["resize ms"] = 1e3 * resize;
    state.counters["level / resize"] = level / resize;
    state.counters["level Msamples/s"] = levels.samples / level * 1e-6;
    state.counters["resize Msamples/s"] = resized.samples / resize * 1e-6;
    state.counters["level mean err"] = levelError[0];
    state.counters["level worst err"] = levelError[1];
    state.counters["resize mean err"] = resizeError[0];
    state.counters["resize worst err"] = resizeError[1];
    state.counters["levels 1-2 ms"] = 1e3 * generation;
    volume->UnlockVolume(0);
}

const bench::Family kMipmapLevelAgainstResize([] {
    benchmark::RegisterBenchmark("BM_MipmapLevelAgainstResize", BM_MipmapLevelAgainstResize)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
});

}  // namespace
