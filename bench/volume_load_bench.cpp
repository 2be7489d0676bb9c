// Loads of a 64 MiB volume of 16-bit voxels into its board buffer by each
// update method, against a plain load of the same bytes in one transfer and
// a memcpy of them, timed in the same iterations. Counters: MB/s of the
// method, of the plain load and of memcpy, and the method's share of the
// plain load's rate ("of_plain_load").
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "bench_support.h"
#include "board/board_range.h"
#include "board/kwb_board.h"
#include "foundation/control.h"
#include "foundation/shareable.h"
#include "tulx7sim/test_api.h"
#include "ulm3/library.h"
#include "volume/volume_internal.h"

using namespace ulm3;

namespace {

using Clock = std::chrono::steady_clock;

const ULMVolumeRange kWhole(256, 256, 512, 0, 0, 0);

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

void BM_VolumeLoad(benchmark::State& state) {
    const UpdateMethod method = static_cast<UpdateMethod>(state.range(0));
    bench::LibrarySession session(state);
    if (!session.Open()) return;
    gULMControl.m_UpdateMethodMemory = method;
    const size_t bytes = size_t(kWhole.XSize()) * kWhole.YSize() * kWhole.ZSize() * 2;
    std::vector<uint8_t> voxels(bytes, 0x3C), copyTo(bytes);
    {
        ReleasablePointer<ULMVolumeInternal> volume(
            ULMVolumeInternal::CreateSimpleVolume(16, kWhole, 0, nullptr, voxels.data()));
        if (volume == nullptr || volume->CreateBuffer(kULMBoard0) != kULMOK) {
            state.SkipWithError("no volume or board buffer");
            return;
        }
        KWBBoard* board = volume->BoardCopy().Board();
        double methodSeconds = 0, plainSeconds = 0, memcpySeconds = 0;
        for (auto _ : state) {
            const auto t0 = Clock::now();
            ULMStatus status =
                volume->BoardCopy().Loader().FromSource(kWhole, nullptr, 0, 0, 0).Wait(-1);
            volume->BoardCopy().WaitForLoad();
            const auto t1 = Clock::now();
            if (status == kULMOK)
                status = board->LoadBuffer(volume->BoardCopy().Buffer(), voxels.data(), ULMRange(kWhole), 0, 0, -1);
            const auto t2 = Clock::now();
            std::memcpy(copyTo.data(), voxels.data(), bytes);
            benchmark::DoNotOptimize(copyTo.data());
            benchmark::ClobberMemory();
            const auto t3 = Clock::now();
            if (status != kULMOK) {
                state.SkipWithError("a load failed");
                break;
            }
            methodSeconds += Seconds(t0, t1);
            plainSeconds += Seconds(t1, t2);
            memcpySeconds += Seconds(t2, t3);
            state.SetIterationTime(Seconds(t0, t1));
        }
        const double megabytes = static_cast<double>(bytes) * static_cast<double>(state.iterations()) / 1e6;
        if (methodSeconds > 0 && plainSeconds > 0 && memcpySeconds > 0) {
            state.counters["MB/s"] = megabytes / methodSeconds;
            state.counters["plain_load_MB/s"] = megabytes / plainSeconds;
            state.counters["memcpy_MB/s"] = megabytes / memcpySeconds;
            state.counters["of_plain_load"] = plainSeconds / methodSeconds;
        }
        state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
    }
}

}  // namespace

const bench::Family kVolumeLoad([] {
    benchmark::RegisterBenchmark("BM_VolumeLoad", BM_VolumeLoad)
        ->DenseRange(eMethodMin, eMethodMax)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
});
