// Multiboard renders against one board, in the same run: a 256^3 8-bit
// volume seen obliquely into a 512x512 image, front to back, every board
// capped alike (one chip thread per board, two where the machine has four
// cores or more). Steady state: volumes locked, images in place, a warm-up
// frame; each frame is timed from its start to the image fetched to the
// host. Samples per second are the one-board frame's chip samples over each
// run's wall time, so that the ratio is the speed-up for the same picture;
// each run's own sample count is shown beside it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "blob_volume.h"
#include "foundation/control.h"
#include "foundation/sync_event.h"
#include "multiboard/multiboard_volume_phase2.h"
#include "tulx7sim/chip_model.h"
#include "tulx7sim/rendering_chip.h"
#include "ulm3.h"
#include "volume/volume_internal.h"

namespace {

using namespace ulm3;
using Clock = std::chrono::steady_clock;

constexpr int kSide = 256;
constexpr int kImage = 512;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};

// The view, table and caps every multiboard row shares.
struct Scene {
    std::vector<uint8_t> voxels = BlobVoxels(kSide);
    ULMLookupTable* table = nullptr;
    ULMContext* context = nullptr;
    int threadsPerBoard = 1;

    Scene() {
        threadsPerBoard = std::thread::hardware_concurrency() >= 4 ? 2 : 1;
        setenv("TULX7SIM_BOARD_THREADS", std::to_string(threadsPerBoard).c_str(), 1);
        tulx7sim::SetChipThreads(2 * threadsPerBoard);
        table = ULMLookupTable::Create(256);
        table->SetRamp(kULMChannelAlpha, 0, 255, 0.0, 0.3);
        table->SetRamp(kULMChannelRed, 0, 255, 0.0, 0.3);
        context = ULMContext::Create(table);
        ULMCamera camera;
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-170, 170, -170, 170, -500, 500));
        camera.SetModelMatrix(ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) *
                              ULMMatrix::Rotate(35, ULMVector3D(0, 1, 0)) *
                              ULMMatrix::Translate(-127.5, -127.5, -127.5));
        camera.SetViewport(0, 0, kImage, kImage);
        context->SetCamera(camera);
        context->SetBlendMode(kULMBlendFTB);
    }
    ~Scene() {
        context->Release();
        table->Release();
        tulx7sim::SetChipThreads(0);
        unsetenv("TULX7SIM_BOARD_THREADS");
    }
    ULMVolumeInternal* Plain() {
        return ULMVolumeInternal::CreateSimpleVolume(8, ULMVolumeRange(kSide, kSide, kSide, 0, 0, 0), 1, kRGBA8,
                                                     voxels.data());
    }
};

uint64_t Samples(int inBoards) {
    uint64_t n = 0;
    for (int b = 0; b < inBoards; ++b) n += tulx7sim::GetChipDiagnostics(b).samples;
    return n;
}

// One frame: started, waited for and fetched; its seconds and samples.
struct Frame {
    double seconds = 0;
    uint64_t samples = 0;
};

Frame Draw(ULMVolume* inVolume, ULMContext* inContext, ULMImageBuffer* ioImage, std::vector<uint32_t>& ioPixels) {
    const uint64_t before = Samples(2);
    const auto start = Clock::now();
    ULMStatus status = inVolume->StartRender(inContext, ioImage, nullptr, nullptr, nullptr).Wait(-1);
    if (status == kULMOK) status = ioImage->StartUnload(ioPixels.data(), ULMImageRange(kImage, kImage, 0, 0), 0).Wait(-1);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return {status == kULMOK ? seconds : -1.0, Samples(2) - before};
}

// The bricks' own renders alone, both started and then waited for: what a
// frame costs before anything is copied, composited or fetched.
double DrawPartials(ULMMultiboardVolumePhase2& inBricks, ULMContext* inContext, ULMImageBuffer* const* ioImages) {
    ULMContext* clone = CloneContext(inContext);
    clone->SetRenderArea(ULMContext::kVolume);
    double box[6];
    inContext->GetTrimPlanes(box[0], box[1], box[2], box[3], box[4], box[5]);
    const TrimRange trims(box[0], box[1], box[2], box[3], box[4], box[5]);
    ULMContext* clones[2] = {clone, CloneContext(clone)};
    for (int i = 0; i < 2; ++i) {
        const TrimRange t = inBricks.Division().IntersectTrim(trims, i);
        clones[i]->SetTrimPlanes(t.minX, t.maxX, t.minY, t.maxY, t.minZ, t.maxZ);
    }
    const auto start = Clock::now();
    ULMSyncEvent events[2];
    for (int i = 0; i < 2; ++i)
        events[i] = inBricks.Brick(i)->StartRender(clones[i], ioImages[i], nullptr, nullptr, nullptr);
    const ULMStatus status = CombineMultipleEvents(2, events).Wait(-1);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (ULMContext* c : clones) c->Release();
    return status == kULMOK ? seconds : -1.0;
}

// The volume in two bricks over boards 0 and 1 against the plain volume on
// board 0, on one compositing road (Multiboard2ForceRender: 1 board, 2
// host), frames of the two alternating. Where a frame's time goes: the
// bricks' renders alone, and the rest (copies or unloads, the composite,
// the waits between them and the fetch).
void BM_BricksAgainstOneBoard(benchmark::State& state) {
    if (ULMOpen() != kULMOK || gULMControl.m_KWBBoardCount < 2) return state.SkipWithError("two boards needed");
    const int road = static_cast<int>(state.range(0));
    gULMControl.m_multiboard2ForceRender = road;
    {
        Scene scene;
        ULMVolumeInternal* plain = scene.Plain();
        ULMVolumeInternal* base = scene.Plain();
        ULMVolume* bricks = ULMMultiboardVolumePhase2::Create(base, base->GetSource(), 2, base->GetRange());
        ULMImageBuffer* onBoard = ULMImageBuffer::Create(kULMBoard0, kImage, kImage, 32, 4, kRGBA8);
        ULMImageBuffer* composited = ULMImageBuffer::Create(kULMMultiBoardMode2, kImage, kImage, 32, 4, kRGBA8);
        std::vector<uint32_t> pixels(size_t{kImage} * kImage);
        ULMImageBuffer* partials[2] = {ULMImageBuffer::Create(kULMBoard0, kImage, kImage, 32, 4, kRGBA8),
                                       ULMImageBuffer::Create(kULMBoard1, kImage, kImage, 32, 4, kRGBA8)};
        const bool ready = bricks != nullptr && plain->LockVolume(kULMBoard0) == kULMOK &&
                           bricks->LockVolume(kULMAnyBoard) == kULMOK &&
                           Draw(plain, scene.context, onBoard, pixels).seconds > 0 &&
                           Draw(bricks, scene.context, composited, pixels).seconds > 0;
        if (!ready) {
            state.SkipWithError("refused");
        } else {
            double one = 0, two = 0, parts = 0;
            uint64_t oneSamples = 0, twoSamples = 0;
            auto* bricked = static_cast<ULMMultiboardVolumePhase2*>(bricks);
            for (auto _ : state) {
                const Frame a = Draw(plain, scene.context, onBoard, pixels);
                const Frame b = Draw(bricks, scene.context, composited, pixels);
                const double p = DrawPartials(*bricked, scene.context, partials);
                if (a.seconds < 0 || b.seconds < 0 || p < 0) {
                    state.SkipWithError("a frame failed");
                    break;
                }
                one += a.seconds, two += b.seconds, parts += p;
                oneSamples = a.samples, twoSamples = b.samples;
                state.SetIterationTime(b.seconds);
            }
            const double n = static_cast<double>(state.iterations());
            state.counters["one-board ms"] = 1e3 * one / n;
            state.counters["bricks ms"] = 1e3 * two / n;
            state.counters["one-board samples/s"] = static_cast<double>(oneSamples) * n / one;
            state.counters["bricks samples/s"] = static_cast<double>(oneSamples) * n / two;
            state.counters["ratio"] = one / two;
            state.counters["partials ms"] = 1e3 * parts / n;
            state.counters["rest ms"] = 1e3 * (two - parts) / n;
            state.counters["one-board samples"] = static_cast<double>(oneSamples);
            state.counters["bricks samples"] = static_cast<double>(twoSamples);
            state.counters["threads per board"] = scene.threadsPerBoard;
        }
        for (ULMImageBuffer* partial : partials) partial->Release();
        composited->Release();
        onBoard->Release();
        if (bricks != nullptr) bricks->Release();
        base->Release();
        plain->Release();
    }
    gULMControl.m_multiboard2ForceRender = 0;
    ULMClose();
}

BENCHMARK(BM_BricksAgainstOneBoard)->ArgName("road")->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

}  // namespace
