// What every benchmark of ulm3_bench shares: registration that waits for
// the command line (so that a smoke run can shorten the benchmarks and a
// shuffled run can reorder them), and a session that gives a benchmark the
// library over a fresh platform and takes both back as it found them, so that
// each benchmark runs the same alone, after any other, or in any order.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

#include "foundation/control.h"
#include "foundation/sync_event.h"
#include "support/control_snapshot.h"
#include "tulx7sim/rendering_chip.h"
#include "tulx7sim/test_api.h"
#include "ulm3/library.h"

namespace bench {

// A family of benchmarks registered by main once it has read the command
// line. Define one at namespace scope per family:
//   const bench::Family kMine([] { benchmark::RegisterBenchmark("BM_Mine", BM_Mine)->...; });
struct Family {
    explicit Family(std::function<void()> inRegister);
};

// Whether this is a smoke run (--smoke): every benchmark for one iteration
// of the least work that still goes through all of it; no figure means
// anything.
bool SmokeRun();
// inSteady, or 1 in a smoke run: the iterations or frames a benchmark takes.
int Repeats(int inSteady);
// inSteady seconds, or next to none in a smoke run.
double MinTime(double inSteady);

// The library open over a fresh platform as the environment configures it,
// for one benchmark run. It saves the control record (parameters, update
// methods, boards) first and, on destruction, gives back every hold on the
// library, closes its boards, restores the record, the chip's threads and
// instruction set and rebuilds the platform. Objects the benchmark made must
// be released before it goes: declare the session first.
class LibrarySession {
public:
    // Skips the benchmark with an error when the library does not open.
    explicit LibrarySession(benchmark::State& ioState);
    ~LibrarySession();
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;

    bool Open() const { return m_open; }

private:
    ulm3::test_support::ControlSnapshot m_control;
    bool m_open = false;
};

// A fresh platform with no library on it, for benchmarks that open boards
// directly; rebuilt again on destruction.
class PlatformSession {
public:
    PlatformSession() { tulx7sim::ResetPlatform(); }
    ~PlatformSession() { tulx7sim::ResetPlatform(); }
    PlatformSession(const PlatformSession&) = delete;
    PlatformSession& operator=(const PlatformSession&) = delete;
};

// Sets an environment variable for one benchmark run and puts back what it
// was.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* inName, const std::string& inValue);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string m_name, m_previous;
    bool m_hadValue = false;
};

}  // namespace bench
