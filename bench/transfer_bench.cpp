// Throughput of loads and unloads between host memory and a board buffer on
// the simulated platform, against a plain memcpy of the same number of bytes
// measured in the same run. Counters: MB/s of the transfer, MB/s of memcpy,
// and their ratio (transfer / memcpy).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "bench_support.h"
#include "board/kwb_board.h"
#include "board/kwb_buffer.h"

using namespace ulm3;

namespace {

using Clock = std::chrono::steady_clock;

enum class Direction { kLoad, kUnload };

struct Shape {
    uint32_t u, v, w, bits;       // the board buffer
    KWBRange box;                 // what moves
    uint32_t hostRow, hostSlice;  // 0: packed
    uint32_t fieldBits, fieldPosition;  // fieldBits 0: whole elements
};

// One board on a fresh platform for the length of one benchmark run.
class BoardSession {
public:
    BoardSession() {
        ULMStatus status = kULMErrInternal;
        m_board = KWBBoard::Open(0, status, false);
    }
    ~BoardSession() {
        if (m_buffer != nullptr) m_board->ReleaseBuffer(m_buffer, false);
        if (m_board != nullptr) KWBBoard::Close(0);
    }
    KWBBuffer* Buffer(const Shape& s) {
        ULMStatus status = kULMErrInternal;
        m_buffer = m_board->CreateBuffer(s.u, s.v, s.w, s.bits, status);
        return m_buffer;
    }
    KWBBoard* Board() const { return m_board; }

private:
    bench::PlatformSession m_platform;  // first: built before the board opens, rebuilt after it closes
    KWBBoard* m_board = nullptr;
    KWBBuffer* m_buffer = nullptr;
};

void RunTransfer(benchmark::State& state, Direction direction, const Shape& s) {
    BoardSession session;
    KWBBoard* board = session.Board();
    KWBBuffer* buffer = board != nullptr ? session.Buffer(s) : nullptr;
    if (buffer == nullptr) {
        state.SkipWithError("no simulated board or buffer");
        return;
    }
    const uint32_t fieldBits = s.fieldBits != 0 ? s.fieldBits : s.bits;
    const uint64_t fieldBytes = fieldBits / 8;
    const uint64_t row = s.hostRow != 0 ? s.hostRow : static_cast<uint64_t>(s.box.ExtentU());
    const uint64_t slice = s.hostSlice != 0 ? s.hostSlice : static_cast<uint64_t>(s.box.ExtentV());
    const uint64_t hostBytes = row * slice * static_cast<uint64_t>(s.box.ExtentW()) * fieldBytes;
    const uint64_t moved = static_cast<uint64_t>(s.box.ElementCount()) * fieldBytes;
    std::vector<uint8_t> host(hostBytes, 0x3C);
    std::vector<uint8_t> copyFrom(moved, 0x3C), copyTo(moved);

    double transferSeconds = 0;
    double memcpySeconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const ULMStatus status =
            direction == Direction::kLoad
                ? board->LoadBufferField(buffer, host.data(), fieldBits, s.fieldPosition, s.box,
                                         s.hostRow, s.hostSlice, -1)
                : board->UnloadBufferField(buffer, host.data(), fieldBits, s.fieldPosition, s.box,
                                           s.hostRow, s.hostSlice, -1);
        const auto t1 = Clock::now();
        std::memcpy(copyTo.data(), copyFrom.data(), moved);
        benchmark::DoNotOptimize(copyTo.data());
        benchmark::ClobberMemory();
        const auto t2 = Clock::now();
        if (status != kULMOK) {
            state.SkipWithError("transfer failed");
            break;
        }
        const double seconds = std::chrono::duration<double>(t1 - t0).count();
        transferSeconds += seconds;
        memcpySeconds += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(seconds);
    }
    const double megabytes = static_cast<double>(moved) * static_cast<double>(state.iterations()) / 1e6;
    if (transferSeconds > 0 && memcpySeconds > 0) {
        const double transferRate = megabytes / transferSeconds;
        const double memcpyRate = megabytes / memcpySeconds;
        state.counters["MB/s"] = transferRate;
        state.counters["memcpy_MB/s"] = memcpyRate;
        state.counters["ratio"] = transferRate / memcpyRate;
    }
    state.SetBytesProcessed(static_cast<int64_t>(moved) * state.iterations());
}

// A whole 4 MB volume of bytes.
const Shape kVolume{256, 256, 64, 8, KWBRange(0, 0, 0, 255, 255, 63), 0, 0, 0, 0};
// A 200 x 200 x 50 box of 16-bit elements inside host memory pitched 256 x 256.
const Shape kPitchedBox{256, 256, 64, 16, KWBRange(20, 30, 5, 219, 229, 54), 256, 256, 0, 0};
// The third byte of every 32-bit element of a 128 x 128 x 64 buffer.
const Shape kField{128, 128, 64, 32, KWBRange(0, 0, 0, 127, 127, 63), 0, 0, 8, 16};

void BM_LoadVolume(benchmark::State& state) { RunTransfer(state, Direction::kLoad, kVolume); }
void BM_UnloadVolume(benchmark::State& state) { RunTransfer(state, Direction::kUnload, kVolume); }
void BM_LoadPitchedBox(benchmark::State& state) { RunTransfer(state, Direction::kLoad, kPitchedBox); }
void BM_UnloadPitchedBox(benchmark::State& state) {
    RunTransfer(state, Direction::kUnload, kPitchedBox);
}
void BM_LoadField(benchmark::State& state) { RunTransfer(state, Direction::kLoad, kField); }
void BM_UnloadField(benchmark::State& state) { RunTransfer(state, Direction::kUnload, kField); }

}  // namespace

const bench::Family kLoadVolume([] {
    benchmark::RegisterBenchmark("BM_LoadVolume", BM_LoadVolume)->UseManualTime()->Unit(benchmark::kMillisecond);
});
const bench::Family kUnloadVolume([] {
    benchmark::RegisterBenchmark("BM_UnloadVolume", BM_UnloadVolume)->UseManualTime()->Unit(benchmark::kMillisecond);
});
const bench::Family kLoadPitchedBox([] {
    benchmark::RegisterBenchmark("BM_LoadPitchedBox", BM_LoadPitchedBox)->UseManualTime()->Unit(benchmark::kMillisecond);
});
const bench::Family kUnloadPitchedBox([] {
    benchmark::RegisterBenchmark("BM_UnloadPitchedBox", BM_UnloadPitchedBox)->UseManualTime()->Unit(benchmark::kMillisecond);
});
const bench::Family kLoadField([] {
    benchmark::RegisterBenchmark("BM_LoadField", BM_LoadField)->UseManualTime()->Unit(benchmark::kMillisecond);
});
const bench::Family kUnloadField([] {
    benchmark::RegisterBenchmark("BM_UnloadField", BM_UnloadField)->UseManualTime()->Unit(benchmark::kMillisecond);
});
