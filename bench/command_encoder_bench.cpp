// Register writes per second through the command encoder into a host command
// buffer: a whole render programme, rising 64-bit loads, and 32-bit pairs.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_support.h"
#include "board/tulx_command_buffer.h"
#include "tulx7/register_groups.h"
#include "tulx7/register_map.h"

namespace {

using ulm3::kULMOK;
using ulm3::TulxCommandBuffer;

// Runs one block per iteration: open, write, close, give back.
template <typename WriteFn>
void RunBlocks(benchmark::State& state, int writesPerBlock, WriteFn write) {
    TulxCommandBuffer buffer(nullptr, TulxCommandBuffer::kMaxWords);
    uint32_t value = 1;
    for (auto _ : state) {
        uint32_t id = 0, size = 0;
        if (buffer.StartBlock(id) != kULMOK) state.SkipWithError("StartBlock failed");
        if (!write(buffer, value)) state.SkipWithError("a register write failed");
        if (buffer.FinishBlock(size) != kULMOK) state.SkipWithError("FinishBlock failed");
        benchmark::DoNotOptimize(buffer.GetBlockAddress(id));
        buffer.ReleaseBlock(id, size);
        ++value;
    }
    state.SetItemsProcessed(state.iterations() * writesPerBlock);
}

void BM_RenderProgramme(benchmark::State& state) {
    RunBlocks(state, static_cast<int>(ulm3::kULMRenderRegisterGroup.size()),
              [](TulxCommandBuffer& buffer, uint32_t value) {
                  for (uint16_t addr : ulm3::kULMRenderRegisterGroup) {
                      const ulm3::ULMStatus status =
                          NKW7_RegisterWidth(addr) == 32 ? buffer.WriteRegister32(addr, value)
                                                         : buffer.WriteRegister64(addr, uint64_t{value} << 20);
                      if (status != kULMOK) return false;
                  }
                  return true;
              });
}
const bench::Family kRenderProgramme([] { benchmark::RegisterBenchmark("BM_RenderProgramme", BM_RenderProgramme); });

// The geometry registers OriginXv8 .. dD_dZv: 17 rising 64-bit loads, one header.
void BM_Rising64BitLoads(benchmark::State& state) {
    std::vector<uint32_t> addrs;
    for (uint32_t addr = NKW7_OriginXv8_Addr; addr <= NKW7_dD_dZv_Addr; addr += 8) addrs.push_back(addr);
    RunBlocks(state, static_cast<int>(addrs.size()), [&addrs](TulxCommandBuffer& buffer, uint32_t value) {
        for (uint32_t addr : addrs) {
            if (buffer.WriteRegister64(addr, value) != kULMOK) return false;
        }
        return true;
    });
}
const bench::Family kRising64BitLoads([] { benchmark::RegisterBenchmark("BM_Rising64BitLoads", BM_Rising64BitLoads); });

// The 24 cut-plane registers: twelve pairs of 32-bit halves.
void BM_Paired32BitLoads(benchmark::State& state) {
    RunBlocks(state, 24, [](TulxCommandBuffer& buffer, uint32_t value) {
        for (uint32_t addr = NKW7_CutPlane0_dCut_dXs_Addr; addr <= NKW7_CutPlane3_max_Addr; addr += 4) {
            if (buffer.WriteRegister32(addr, value) != kULMOK) return false;
        }
        return true;
    });
}
const bench::Family kPaired32BitLoads([] { benchmark::RegisterBenchmark("BM_Paired32BitLoads", BM_Paired32BitLoads); });

}  // namespace
