// The main of ulm3_bench: Google Benchmark's own flags, and
//   --smoke        every benchmark once, as short as it goes (for CI)
//   --shuffle=N    the benchmark families in an order drawn from seed N
// The exit status is 1 when a benchmark ran into an error, or when the
// filter matched none: a run that measured nothing must not pass for one
// that did.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"

namespace bench {

namespace {

bool gSmoke = false;

std::vector<std::function<void()>>& Families() {
    static std::vector<std::function<void()>> families;
    return families;
}

// The display reporter the flags ask for, counting the runs that errored.
class CountingReporter : public benchmark::BenchmarkReporter {
public:
    CountingReporter() : m_display(benchmark::CreateDefaultDisplayReporter()) {}

    bool ReportContext(const Context& inContext) override { return m_display->ReportContext(inContext); }
    void ReportRuns(const std::vector<Run>& inRuns) override {
        for (const Run& run : inRuns) {
            if (!run.error_occurred) continue;
            m_failed.push_back(run.benchmark_name() + ": " + run.error_message);
        }
        m_display->ReportRuns(inRuns);
    }
    void Finalize() override { m_display->Finalize(); }

    const std::vector<std::string>& Failed() const { return m_failed; }

private:
    std::unique_ptr<benchmark::BenchmarkReporter> m_display;
    std::vector<std::string> m_failed;
};

}  // namespace

Family::Family(std::function<void()> inRegister) { Families().push_back(std::move(inRegister)); }

bool SmokeRun() { return gSmoke; }
int Repeats(int inSteady) { return gSmoke ? 1 : inSteady; }
double MinTime(double inSteady) { return gSmoke ? 1e-6 : inSteady; }

LibrarySession::LibrarySession(benchmark::State& ioState) {
    tulx7sim::ResetPlatform();
    m_open = ulm3::ULMOpen() == ulm3::kULMOK;
    if (!m_open) ioState.SkipWithError("the library does not open");
}

LibrarySession::~LibrarySession() {
    using ulm3::gULMControl;
    // A paused board would hold the close up for ever.
    for (int b = 0; b < tulx7sim::kMaxBoards; ++b) tulx7sim::ResumeBoard(b);
    if (gULMControl.m_initialized) ulm3::ULMClose();
    // Holds a benchmark left behind would keep the boards open into the next.
    while (gULMControl.m_objectCount > 0) gULMControl.DecrementObjectCount();
    ulm3::CleanupMultipleEventDatabase();
    tulx7sim::SetChipThreads(0);
    tulx7sim::SetChipInstructionSet(tulx7sim::ChipInstructionSet::kDefault);
    tulx7sim::ResetPlatform();
    // m_control, destroyed after this body, restores the record.
}

ScopedEnvironment::ScopedEnvironment(const char* inName, const std::string& inValue) : m_name(inName) {
    if (const char* previous = std::getenv(inName)) {
        m_hadValue = true;
        m_previous = previous;
    }
    setenv(inName, inValue.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (m_hadValue) setenv(m_name.c_str(), m_previous.c_str(), 1);
    else unsetenv(m_name.c_str());
}

}  // namespace bench

int main(int argc, char** argv) {
    std::vector<char*> args;
    bool shuffle = false;
    unsigned long seed = 0;
    bool minTimeGiven = false;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--smoke") == 0) {
            bench::gSmoke = true;
            continue;
        }
        if (i > 0 && std::strncmp(argv[i], "--shuffle=", 10) == 0) {
            char* end = nullptr;
            seed = std::strtoul(argv[i] + 10, &end, 10);
            if (end == argv[i] + 10 || *end != '\0') {
                std::fprintf(stderr, "%s: --shuffle takes a number: %s\n", argv[0], argv[i]);
                return 2;
            }
            shuffle = true;
            continue;
        }
        minTimeGiven = minTimeGiven || std::strncmp(argv[i], "--benchmark_min_time=", 21) == 0;
        args.push_back(argv[i]);
    }
    // Benchmarks that set no time of their own run one iteration too.
    std::string shortTime = "--benchmark_min_time=0.000001";
    if (bench::gSmoke && !minTimeGiven) args.push_back(shortTime.data());
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);

    std::vector<std::function<void()>>& families = bench::Families();
    if (shuffle) std::shuffle(families.begin(), families.end(), std::mt19937(static_cast<std::mt19937::result_type>(seed)));
    for (const auto& family : families) family();

    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
    bench::CountingReporter reporter;
    const size_t ran = benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const std::string& failed : reporter.Failed()) std::fprintf(stderr, "failed: %s\n", failed.c_str());
    if (!reporter.Failed().empty()) {
        std::fprintf(stderr, "%zu benchmark run(s) failed\n", reporter.Failed().size());
        return 1;
    }
    if (ran == 0) {
        std::fprintf(stderr, "no benchmark matched\n");
        return 1;
    }
    return 0;
}
