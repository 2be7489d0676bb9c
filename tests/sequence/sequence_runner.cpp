// Seeded random sequences of public calls, each run in a child process of
// its own. A failing seed is shrunk to the calls that still fail and printed.
//
// ULM3_SEQUENCE_SEEDS=a-b runs those seeds instead of the fixed set (the
// chunks of this test share them out); ULM3_SEQUENCE_JOBS=n runs n children
// side by side; ULM3_SEQUENCE_REPLAY=seed runs one seed in this process with
// its call lines printed (ULM3_SEQUENCE_KEEP=i,j,... only those calls).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "sequence/sequence_child.h"

#if defined(__SANITIZE_THREAD__)
#define ULM3_SEQUENCE_THREADS_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ULM3_SEQUENCE_THREADS_CHECKED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ULM3_SEQUENCE_ADDRESSES_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ULM3_SEQUENCE_ADDRESSES_CHECKED 1
#endif
#endif

namespace seqtest {
namespace {

constexpr int kChunks = 8;
// About a minute of the machine's time in each build.
#if defined(ULM3_SEQUENCE_THREADS_CHECKED)
constexpr uint64_t kDefaultLast = 48;
constexpr int kTimeoutSeconds = 120;
#elif defined(ULM3_SEQUENCE_ADDRESSES_CHECKED)
constexpr uint64_t kDefaultLast = 200;
constexpr int kTimeoutSeconds = 120;
#else
constexpr uint64_t kDefaultLast = 400;
constexpr int kTimeoutSeconds = 30;
#endif
constexpr int kShrinkBudget = 120;
constexpr int kShrinkPerChunk = 2;

int EnvInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

// The seeds of one chunk: every kChunks-th of the range.
std::vector<uint64_t> ChunkSeeds(int chunk) {
    uint64_t first = 1, last = kDefaultLast;
    if (const char* range = std::getenv("ULM3_SEQUENCE_SEEDS")) {
        unsigned long long a = 0, b = 0;
        const int got = std::sscanf(range, "%llu-%llu", &a, &b);
        if (got >= 1) first = a;
        last = got == 2 ? b : first;
    }
    std::vector<uint64_t> seeds;
    for (uint64_t s = first; s <= last; ++s)
        if (s % kChunks == uint64_t(chunk)) seeds.push_back(s);
    return seeds;
}

std::string ShrunkReport(uint64_t seed, const RunResult& failure) {
    std::ostringstream out;
    out << "seed " << seed << " failed: " << failure.failure << "\n";
    const std::vector<int> keep = Shrink(seed, failure, kTimeoutSeconds, kShrinkBudget);
    const RunResult again = RunInChild(seed, &keep, kTimeoutSeconds);
    out << "  shrunk to " << keep.size() << " calls (ULM3_SEQUENCE_REPLAY=" << seed << " ULM3_SEQUENCE_KEEP=";
    for (size_t i = 0; i < keep.size(); ++i) out << (i ? "," : "") << keep[i];
    out << "), which " << (again.Failed() ? "fail with: " + again.failure : std::string("passed when run again"))
        << "\n";
    for (const std::string& line : again.lines) out << "    " << line << "\n";
    return out.str();
}

class SequenceSeeds : public ::testing::TestWithParam<int> {};

TEST_P(SequenceSeeds, RunWithoutFailedChecks) {
    const std::vector<uint64_t> seeds = ChunkSeeds(GetParam());
    const std::vector<RunResult> results = RunSeeds(seeds, std::max(1, EnvInt("ULM3_SEQUENCE_JOBS", 1)), kTimeoutSeconds);
    std::map<std::string, std::vector<uint64_t>> byFamily;
    int shrunk = 0;
    for (size_t i = 0; i < seeds.size(); ++i) {
        if (!results[i].Failed()) continue;
        byFamily[results[i].Family()].push_back(seeds[i]);
        std::printf("SEQRESULT seed %llu: %s\n", (unsigned long long)seeds[i], results[i].failure.c_str());
        if (shrunk < kShrinkPerChunk && EnvInt("ULM3_SEQUENCE_SHRINK", 1) != 0) {
            ++shrunk;
            ADD_FAILURE() << ShrunkReport(seeds[i], results[i]);
        } else {
            ADD_FAILURE() << "seed " << seeds[i] << " failed: " << results[i].failure;
        }
    }
    for (const auto& [family, failed] : byFamily) {
        std::ostringstream list;
        for (const uint64_t s : failed) list << " " << s;
        std::printf("SEQFAMILY %s: %zu seeds:%s\n", family.c_str(), failed.size(), list.str().c_str());
    }
    std::fflush(stdout);
}

INSTANTIATE_TEST_SUITE_P(Chunks, SequenceSeeds, ::testing::Range(0, kChunks));

// One seed in this process, for a debugger; skipped unless asked for.
TEST(SequenceReplay, OneSeedInProcess) {
    const char* seed = std::getenv("ULM3_SEQUENCE_REPLAY");
    if (seed == nullptr) GTEST_SKIP() << "set ULM3_SEQUENCE_REPLAY=seed to replay one seed here";
    std::vector<int> keep;
    if (const char* list = std::getenv("ULM3_SEQUENCE_KEEP")) {
        std::istringstream in(list);
        for (std::string item; std::getline(in, item, ',');) keep.push_back(std::atoi(item.c_str()));
    }
    const RunResult r = RunInProcess(std::strtoull(seed, nullptr, 10), keep.empty() ? nullptr : &keep, true);
    EXPECT_FALSE(r.Failed()) << r.failure;
}

}  // namespace
}  // namespace seqtest
