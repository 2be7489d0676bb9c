// One volume rendered on one board against the same volume rendered in
// bands on two: a 256^3 8-bit volume (512^3 where the boards hold it), an
// oblique parallel view into a 512x512 image, front to back. The plain
// volume renders on board 0; the phase-1 volume keeps a copy on boards 0
// and 1 and renders half the image on each. Both run in steady state
// (locked, the image in place, a frame drawn first) and are timed from the
// start of the render to the image fetched into host memory, their frames
// alternating so that both meet the same load of a shared machine; the
// times are medians and the speed-up is the median of each pair's ratio.
// Samples a second are the one-board frame's chip samples over each run's
// time (the same work); each run's own sample count is printed beside them,
// and so is the process's processor time a frame over its wall time: how
// many threads were busy on average, what the machine let the boards have. Every board
// renders on as many chip threads as the other: two where the machine has
// four cores or more, and one. The second benchmark changes the
// classifier's table before every frame, as an application editing its
// transfer function does: each board then loads the new table before it
// renders its band.
// The third cuts the volume into two bricks on boards 0 and 1 instead and
// composites their partial images, once per compositing road
// (Multiboard2ForceRender 1: on a board, 2: on the host); between its frames
// it times the bricks' own renders alone (both started, then both waited
// for), to show what the copies or unloads, the composite and the waits
// between them add.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/resource.h>

#include "bench_support.h"
#include "blob_volume.h"
#include "foundation/shareable.h"
#include "multiboard/multiboard_volume_phase2.h"
#include "tulx7sim/chip_model.h"
#include "tulx7sim/rendering_chip.h"
#include "ulm3.h"

namespace {

using namespace ulm3;
using Clock = std::chrono::steady_clock;

constexpr int kImage = 512;
// Timed frames of each run, after one frame of each that is not timed.
constexpr int kFrames = 9;

// The process's processor time so far, every thread's.
double ProcessorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// One frame: the render started, waited for and the image fetched.
struct Frame {
    double seconds = 0.0;    // render start to image fetched
    double processor = 0.0;  // the process's processor time meanwhile
    uint64_t samples = 0;    // chip samples, all boards
    ULMStatus status = kULMOK;
};

Frame Draw(ULMVolume* inVolume, ULMContext* inContext, ULMImageBuffer* inImage, std::vector<uint32_t>& ioPixels) {
    Frame frame;
    tulx7sim::ClearChipDiagnostics();
    const double p0 = ProcessorSeconds();
    const auto t0 = Clock::now();
    frame.status = inVolume->StartRender(inContext, inImage, nullptr, nullptr, nullptr).Wait(-1);
    if (frame.status == kULMOK) frame.status = inImage->Unload(ioPixels.data(), ULMImageRange(kImage, kImage, 0, 0), 0);
    frame.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    frame.processor = ProcessorSeconds() - p0;
    for (int b = 0; b < 2; ++b) frame.samples += tulx7sim::GetChipDiagnostics(b).samples;
    return frame;
}

// The medians of a run's frames.
struct Run {
    double seconds = 0.0;
    double busy = 0.0;  // processor time over wall time: threads busy on average
    uint64_t samples = 0;
    ULMStatus status = kULMOK;
};

Run Summary(const std::vector<Frame>& inFrames) {
    Run run;
    std::vector<double> seconds, busy;
    for (const Frame& f : inFrames) {
        if (f.status != kULMOK) run.status = f.status;
        seconds.push_back(f.seconds);
        busy.push_back(f.processor / f.seconds);
        run.samples = f.samples;
    }
    run.seconds = Median(seconds);
    run.busy = Median(busy);
    return run;
}

// A volume of side inSide made under the configuration as it stands,
// locked, with an image where it renders.
struct Scene {
    ULMVolume* volume = nullptr;
    ULMImageBuffer* image = nullptr;
    ~Scene() {
        if (image != nullptr) image->Release();
        if (volume != nullptr) volume->Release();
    }
};

ULMStatus MakeScene(std::vector<uint8_t>& inVoxels, int inSide, ULMLocation inImageAt, Scene& outScene) {
    const auto side = static_cast<unsigned>(inSide);
    outScene.volume = ULMVolume::Create(1u, inVoxels.data(), side, side, side, ULMVolume::kSliced);
    if (outScene.volume == nullptr) return kULMErrAlloc;
    const ULMFieldDescriptor rgba8[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                         {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};
    outScene.image = ULMImageBuffer::Create(inImageAt, kImage, kImage, 32, 4, rgba8);
    if (outScene.image == nullptr) return kULMErrAlloc;
    return outScene.volume->LockVolume(kULMBoard0);
}

// The bricks' own renders alone, each with its share of the context's trim
// box and drawing its footprint only, as the bricked render has them draw:
// both started and then waited for; seconds, or -1 when one failed.
double BrickRenders(ULMMultiboardVolumePhase2& inBricks, const ULMContext* inContext,
                    ULMImageBuffer* const (&ioImages)[2]) {
    double box[6];
    inContext->GetTrimPlanes(box[0], box[1], box[2], box[3], box[4], box[5]);
    const TrimRange trims(box[0], box[1], box[2], box[3], box[4], box[5]);
    ULMContext* clones[2] = {CloneContext(inContext), CloneContext(inContext)};
    for (int i = 0; i < 2; ++i) {
        const TrimRange t = inBricks.Division().IntersectTrim(trims, i);
        clones[i]->SetRenderArea(ULMContext::kVolume);
        clones[i]->SetTrimPlanes(t.minX, t.maxX, t.minY, t.maxY, t.minZ, t.maxZ);
    }
    const auto t0 = Clock::now();
    ULMSyncEvent events[2];
    for (int i = 0; i < 2; ++i) events[i] = inBricks.Brick(i)->StartRender(clones[i], ioImages[i], nullptr, nullptr, nullptr);
    const bool done = events[0].Wait(-1) == kULMOK && events[1].Wait(-1) == kULMOK;
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    for (ULMContext* clone : clones) clone->Release();
    return done ? seconds : -1.0;
}

// Render mode 1 (bands; inRoad unused) or 2 (two bricks composited on the
// road inRoad) against the plain volume on board 0. The benchmark's first
// argument is the chip threads each board may use.
void MultiboardAgainstOne(benchmark::State& state, int inMode, int inRoad, bool inNewTable) {
    const int perBoard = static_cast<int>(state.range(0));
    const bench::ScopedEnvironment boardThreads("TULX7SIM_BOARD_THREADS", std::to_string(perBoard));
    bench::LibrarySession session(state);
    if (!session.Open()) return;
    tulx7sim::SetChipThreads(2 * perBoard);
    if (ULMConfiguration::GetNumberOfBoards() < 2) return state.SkipWithError("two boards are needed");
    // The volumes themselves, not a mipmap wrapper around them.
    ULMSetParameter("MipmapMinVolumeSize", 16384);
    ULMSetParameter("MultiboardMinVolumeSize", 2);
    ULMSetParameter("MultiboardRenderMode", static_cast<uint64_t>(inMode));
    ULMSetParameter("MultiboardForceNumberOfVolumes", 2);
    ULMSetParameter("Multiboard2ForceRender", static_cast<uint64_t>(inRoad));
    const int side = ULMConfiguration::GetAvailableMemory(0) > (512ull << 20) ? 512 : 256;
    std::vector<uint8_t> voxels = BlobVoxels(side);

    ReleasablePointer<ULMLookupTable> table(ULMLookupTable::Create(256));
    ReleasablePointer<ULMContext> context(ULMContext::Create(table));
    if (table == nullptr || context == nullptr) return state.SkipWithError("no table or context");
    table->SetRamp(kULMChannelRed, 0, 255, 0.0, 1.0);
    table->SetRamp(kULMChannelAlpha, 0, 255, 0.0, 0.3);
    ULMCamera camera;
    const double half = side * 0.9;
    camera.SetProjectionMatrix(ULMMatrix::Ortho(-half, half, -half, half, -2.0 * side, 2.0 * side));
    camera.SetModelMatrix(ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(35, ULMVector3D(0, 1, 0)) *
                          ULMMatrix::Translate(-(side - 1) / 2.0, -(side - 1) / 2.0, -(side - 1) / 2.0));
    camera.SetViewport(0, 0, kImage, kImage);
    context->SetCamera(camera);
    context->SetBlendMode(kULMBlendFTB);

    // The two runs' frames alternate, so that both see the same load of a
    // machine shared with other work; the speed-up is the median of each
    // pair's ratio.
    std::vector<Frame> ones, twos;
    std::vector<double> ratios, bricks;
    {
        ULMSetParameter("MultiboardRenderEnable", 0);
        Scene plain;
        ULMStatus status = MakeScene(voxels, side, kULMBoard0, plain);
        ULMSetParameter("MultiboardRenderEnable", 1);
        Scene spread;
        if (status == kULMOK)
            status = MakeScene(voxels, side, inMode == 1 ? kULMMultiBoardMode1 : kULMMultiBoardMode2, spread);
        if (status != kULMOK) return state.SkipWithError(("set-up refused: " + std::to_string(status)).c_str());
        std::vector<uint32_t> pixels(size_t{kImage} * kImage);
        auto* bricked = inMode == 2 && IsObjectType(spread.volume, kObjectTypeULMMultiboardVolumePhase2)
                            ? static_cast<ULMMultiboardVolumePhase2*>(spread.volume)
                            : nullptr;
        const ULMFieldDescriptor rgba8[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                             {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};
        ULMImageBuffer* const partials[2] = {ULMImageBuffer::Create(kULMBoard0, kImage, kImage, 32, 4, rgba8),
                                             ULMImageBuffer::Create(kULMBoard1, kImage, kImage, 32, 4, rgba8)};
        for (auto _ : state) {
            for (int frame = 0; frame <= bench::Repeats(kFrames); ++frame) {
                if (inNewTable) table->SetRamp(kULMChannelAlpha, 0, 255, 0.0, 0.3 - 0.01 * (frame % 2));
                const Frame one = Draw(plain.volume, context, plain.image, pixels);
                if (inNewTable) table->SetRamp(kULMChannelAlpha, 0, 255, 0.0, 0.3 - 0.01 * (frame % 2));
                const Frame two = Draw(spread.volume, context, spread.image, pixels);
                const double alone = bricked != nullptr ? BrickRenders(*bricked, context, partials) : 0.0;
                if (frame == 0) continue;
                if (bricked != nullptr) bricks.push_back(alone);
                ones.push_back(one);
                twos.push_back(two);
                ratios.push_back(one.seconds / two.seconds);
            }
        }
        for (ULMImageBuffer* partial : partials) partial->Release();
    }
    const Run one = Summary(ones), two = Summary(twos);
    if (one.status != kULMOK || two.status != kULMOK)
        return state.SkipWithError(("render refused: " + std::to_string(one.status) + ", " +
                                    std::to_string(two.status)).c_str());
    const double sampled = static_cast<double>(one.samples);
    state.counters["side"] = side;
    state.counters["threads per board"] = perBoard;
    state.counters["cores"] = std::thread::hardware_concurrency();
    state.counters["1 board ms"] = 1e3 * one.seconds;
    state.counters["2 boards ms"] = 1e3 * two.seconds;
    state.counters["1 board samples/s"] = sampled / one.seconds;
    state.counters["2 boards samples/s"] = sampled / two.seconds;
    state.counters["speed-up"] = Median(ratios);
    state.counters["1 board samples"] = sampled;
    state.counters["2 boards samples"] = static_cast<double>(two.samples);
    state.counters["1 board busy threads"] = one.busy;
    state.counters["2 boards busy threads"] = two.busy;
    if (!bricks.empty()) {
        state.counters["brick renders ms"] = 1e3 * Median(bricks);
        state.counters["rest ms"] = 1e3 * (two.seconds - Median(bricks));
    }
}

void BM_BandsOnTwoBoardsAgainstOne(benchmark::State& state) { MultiboardAgainstOne(state, 1, 0, false); }
void BM_BandsWithANewTableEachFrame(benchmark::State& state) { MultiboardAgainstOne(state, 1, 0, true); }
void BM_BricksOnTwoBoardsAgainstOne(benchmark::State& state) {
    MultiboardAgainstOne(state, 2, static_cast<int>(state.range(1)), false);
}

// Two threads a board where the machine has four cores or more, and one.
void ThreadsPerBoard(benchmark::internal::Benchmark* ioBenchmark) {
    if (std::thread::hardware_concurrency() >= 4) ioBenchmark->Arg(2);
    ioBenchmark->Arg(1);
}

const bench::Family kBandsOnTwoBoardsAgainstOne([] {
    benchmark::RegisterBenchmark("BM_BandsOnTwoBoardsAgainstOne", BM_BandsOnTwoBoardsAgainstOne)
        ->Apply(ThreadsPerBoard)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
});
const bench::Family kBandsWithANewTableEachFrame([] {
    benchmark::RegisterBenchmark("BM_BandsWithANewTableEachFrame", BM_BandsWithANewTableEachFrame)
        ->Apply(ThreadsPerBoard)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
});
const bench::Family kBricksOnTwoBoardsAgainstOne([] {
    benchmark::RegisterBenchmark("BM_BricksOnTwoBoardsAgainstOne", BM_BricksOnTwoBoardsAgainstOne)
        ->ArgNames({"threads", "road"})
        ->Apply([](benchmark::internal::Benchmark* ioBenchmark) {
            for (const int road : {1, 2}) {
                if (std::thread::hardware_concurrency() >= 4) ioBenchmark->Args({2, road});
                ioBenchmark->Args({1, road});
            }
        })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
});

}  // namespace
