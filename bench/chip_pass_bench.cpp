// Speed of the simulated rendering chip on its own: an image resample pass
// (one trilinear sample per pixel, tables bypassed) and a multi-slice
// front-to-back render of a volume. Counter: samples per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "chip_run.h"

namespace {

using bench::ChipRun;
using tulx7sim::ChipDiagnostics;

void Run(benchmark::State& state, int size, int slices) {
    ChipRun run(size, slices);
    std::string diagnostic;
    ChipDiagnostics counts;
    for (auto _ : state) {
        if (run.chip->Render(run.job, run.registers, counts, diagnostic) != 0) state.SkipWithError(diagnostic.c_str());
        benchmark::DoNotOptimize(run.image.data());
    }
    state.counters["samples/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * size * size * slices, benchmark::Counter::kIsRate);
}

void BM_ChipImagePass256(benchmark::State& state) { Run(state, 256, 1); }
void BM_ChipVolumeRender64(benchmark::State& state) { Run(state, 64, 64); }

const bench::Family kChipImagePass256(
    [] { benchmark::RegisterBenchmark("BM_ChipImagePass256", BM_ChipImagePass256)->Unit(benchmark::kMillisecond); });
const bench::Family kChipVolumeRender64(
    [] { benchmark::RegisterBenchmark("BM_ChipVolumeRender64", BM_ChipVolumeRender64)->Unit(benchmark::kMillisecond); });

}  // namespace
