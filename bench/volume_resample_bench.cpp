// The volume-buffer resample pass through the library: filling a 256 x 256 x
// 32 slab of a locked 256^3 volume (the YZ-slice cache's fill), waited for,
// against the chip's own 256 x 256 image pass timed in the same iterations;
// and a 32-slice YZ edit of that volume, counted in board passes.
// Counters: samples/s of the fill and of the chip pass, the fill's share of
// the chip pass ("of_chip_pass"), and "passes" per edit.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "bench_support.h"
#include "chip_run.h"
#include "context/classifier_internal.h"
#include "foundation/shareable.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"
#include "ulm3/classifier.h"
#include "ulm3/library.h"
#include "volume/volume_internal.h"

using namespace ulm3;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSide = 256, kSlab = 32;
const ULMVolumeRange kWhole(kSide, kSide, kSide, 0, 0, 0);
const ULMFieldDescriptor kByte{0, 8, kULMUnsignedFraction};

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// The library open over fresh boards with a locked 256^3 8-bit volume.
struct LockedVolume {
    explicit LockedVolume(benchmark::State& state) : session(state), voxels(size_t(kSide) * kSide * kSide) {
        for (size_t i = 0; i < voxels.size(); ++i) voxels[i] = static_cast<uint8_t>(i * 131 + 7);
        if (!session.Open()) return;
        volume.Assign(ULMVolumeInternal::CreateSimpleVolume(8, kWhole, 1, &kByte, voxels.data()));
        if (volume.GetPointer() == nullptr || volume->LockVolume(kULMBoard0) != kULMOK) {
            state.SkipWithError("no locked volume");
            volume.Assign(nullptr);
        }
    }
    bench::LibrarySession session;
    std::vector<uint8_t> voxels;
    ReleasablePointer<ULMVolumeInternal> volume;
};

void BM_VolumeSlabFill256(benchmark::State& state) {
    LockedVolume locked(state);
    if (locked.volume.GetPointer() == nullptr) return;
    const ULMVolumeRange slabRange(kSide, kSide, kSlab, 0, 0, 0);
    ReleasablePointer<ULMVolumeInternal> slab(ULMVolumeInternal::CreateSimpleVolume(8, slabRange, 1, &kByte, nullptr));
    if (slab.GetPointer() == nullptr || slab->CreateBuffer(kULMBoard0) != kULMOK) {
        state.SkipWithError("no slab");
        return;
    }
    bench::ChipRun chip(kSide, 1);
    std::string diagnostic;
    tulx7sim::ChipDiagnostics counts;
    double fillSeconds = 0, chipSeconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const ULMStatus status =
            locked.volume
                ->DoStartResampleBuffer(slab, ULMVolumeRange(kSide, kSide, kSlab, 0, 0, 64), slabRange,
                                        ULMClassifierInternal::DirectRGBAClassifier(), ULMVolumeInternal::kUnload, 0, 0)
                .Wait(-1);
        const auto t1 = Clock::now();
        if (chip.chip->Render(chip.job, chip.registers, counts, diagnostic) != 0) state.SkipWithError(diagnostic.c_str());
        const auto t2 = Clock::now();
        if (status != kULMOK) state.SkipWithError("the fill failed");
        fillSeconds += Seconds(t0, t1);
        chipSeconds += Seconds(t1, t2);
    }
    const double n = static_cast<double>(state.iterations());
    const double fillRate = n * kSide * kSide * kSlab / fillSeconds;
    const double chipRate = n * kSide * kSide / chipSeconds;
    state.counters["samples/s"] = fillRate;
    state.counters["chip_pass_samples/s"] = chipRate;
    state.counters["of_chip_pass"] = fillRate / chipRate;
}

void BM_VolumeYZEdit256(benchmark::State& state) {
    LockedVolume locked(state);
    if (locked.volume.GetPointer() == nullptr) return;
    std::vector<uint8_t> slice(size_t(kSide) * kSide, 0x5A), box(size_t(kSlab) * kSide * kSide);
    size_t passes = 0;
    int first = 0;
    for (auto _ : state) {
        // Each edit moves to the next slab, which has to be filled.
        first = (first + kSlab) % kSide;
        const ULMVolumeRange edited(kSlab, kSide, kSide, first, 0, 0);
        tulx7sim::ClearRequestLog();
        ULMStatus status = kULMOK;
        for (int x = first; x < first + kSlab && status == kULMOK; ++x)
            status = locked.volume->Update(slice.data(), ULMVolumeRange(1, kSide, kSide, x, 0, 0));
        // The box unload writes the slab back first.
        if (status == kULMOK) status = locked.volume->Unload(box.data(), edited, kULMUseBuffer);
        if (status != kULMOK) state.SkipWithError("the edit failed");
        for (const auto& entry : tulx7sim::RequestLog()) passes += entry.code == TULX7_DR_RENDER;
    }
    state.counters["passes"] = static_cast<double>(passes) / static_cast<double>(state.iterations());
}

const bench::Family kVolumeSlabFill256(
    [] { benchmark::RegisterBenchmark("BM_VolumeSlabFill256", BM_VolumeSlabFill256)->Unit(benchmark::kMillisecond); });
const bench::Family kVolumeYZEdit256(
    [] { benchmark::RegisterBenchmark("BM_VolumeYZEdit256", BM_VolumeYZEdit256)->Unit(benchmark::kMillisecond); });

}  // namespace
