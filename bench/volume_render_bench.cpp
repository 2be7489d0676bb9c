// The library's share of a render: a 256^3 8-bit volume seen obliquely
// into a 256x256 image, through ULMVolume::Render on a simulated board and,
// in the same run, through the simulated chip alone with the programme the
// library built. Counter: the library's time per frame (programme, tables,
// submission) as a percentage of the chip's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "bench_support.h"
#include "blob_volume.h"
#include "board/ulm_all_render_registers.h"
#include "render/volume_render_state.h"
#include "tulx7/register_groups.h"
#include "tulx7sim/command_executor.h"
#include "tulx7sim/rendering_chip.h"
#include "ulm3.h"
#include "volume/volume_internal.h"

namespace {

using namespace ulm3;
using Clock = std::chrono::steady_clock;

constexpr int kSide = 256;

void Bind(tulx7sim::BoundArray& slot, std::vector<uint8_t>& bytes, int axes, int elementBytes, int w) {
    slot.bound = true;
    slot.dimension = axes - 1;
    slot.elementBytes = elementBytes;
    slot.size[0] = slot.size[1] = kSide;
    slot.size[2] = w;
    slot.rangeMax[0] = slot.rangeMax[1] = kSide - 1;
    slot.rangeMax[2] = w - 1;
    slot.data = bytes.data();
    slot.byteCount = bytes.size();
}

void BM_VolumeRenderAgainstChip(benchmark::State& state) {
    bench::LibrarySession session(state);
    if (!session.Open()) return;
    std::vector<uint8_t> voxels = BlobVoxels(kSide);
    ReleasablePointer<ULMVolume> volume(ULMVolume::Create(1u, voxels.data(), kSide, kSide, kSide, ULMVolume::kSliced));
    ReleasablePointer<ULMLookupTable> table(BlobTable());
    ReleasablePointer<ULMContext> context(ULMContext::Create(table));
    ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, kSide, kSide, 32, 4, kBlobImageFields));
    if (volume == nullptr || table == nullptr || context == nullptr || image == nullptr)
        return state.SkipWithError("the scene was refused");
    ULMCamera camera;
    camera.SetProjectionMatrix(ULMMatrix::Ortho(-170, 170, -170, 170, -500, 500));
    camera.SetModelMatrix(ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(35, ULMVector3D(0, 1, 0)) *
                          ULMMatrix::Translate(-127.5, -127.5, -127.5));
    camera.SetViewport(0, 0, kSide, kSide);
    context->SetCamera(camera);
    const ULMStatus locked = volume->LockVolume(kULMBoard0);
    const ULMStatus rendered = volume->Render(context, image, nullptr, nullptr, nullptr);
    if (locked != kULMOK || rendered != kULMOK)
        return state.SkipWithError(("refused: lock " + std::to_string(locked) + ", render " + std::to_string(rendered)).c_str());

    // The same programme on the chip alone, over host copies of the buffers.
    ULMVolumeInternal* inner = PlainVolumeOf(volume);
    if (inner == nullptr) return state.SkipWithError("no plain volume draws the volume");
    std::vector<uint8_t> pixels(size_t{kSide} * kSide * 4), words(256 * 8);
    table->Unload(0, 256, reinterpret_cast<uint64_t*>(words.data()));
    tulx7sim::RenderJob job;
    Bind(job.volume, voxels, 3, 1, kSide);
    Bind(job.image0, pixels, 2, 4, 1);
    job.writeMask = 1;
    job.tables[0] = {true, 1, 0, 256, words.data(), words.size()};
    auto chip = tulx7sim::MakeRenderingChip();
    tulx7sim::RegisterFile registers;
    tulx7sim::ResetChipRegisters(registers);
    tulx7sim::CommandExecutor(registers, *chip, job).LoadArrayRegisters();
    for (const uint16_t addr : kULMRenderRegisterGroup) {
        uint64_t value = 0;
        ULMRenderStateOf(*inner).m_regs.Get(addr, value);
        if (NKW7_RegisterWidth(addr) == 64) registers.Write64(addr, value);
        else registers.Write32(addr, static_cast<uint32_t>(value));
    }

    double library = 0, onChip = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const ULMSyncEvent event = volume->StartRender(context, image, nullptr, nullptr, nullptr);
        const auto t1 = Clock::now();
        event.Wait(-1);
        const auto t2 = Clock::now();
        tulx7sim::ChipDiagnostics counts;
        std::string diagnostic;
        chip->Render(job, registers, counts, diagnostic);
        const auto t3 = Clock::now();
        library += std::chrono::duration<double>(t1 - t0).count();
        onChip += std::chrono::duration<double>(t3 - t2).count();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["library ms"] = 1e3 * library / n;
    state.counters["chip ms"] = 1e3 * onChip / n;
    state.counters["library % of chip"] = 100.0 * library / onChip;
}

const bench::Family kVolumeRenderAgainstChip([] {
    benchmark::RegisterBenchmark("BM_VolumeRenderAgainstChip", BM_VolumeRenderAgainstChip)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(bench::Repeats(10));
});

}  // namespace
