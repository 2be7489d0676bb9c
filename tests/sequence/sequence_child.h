// Running a sequence: in this process (for a debugger), or in a forked child
// that the parent watches for crashes, hangs, sanitizer reports and failed
// checks; and shrinking a failing sequence to the calls that still fail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace seqtest {

// The outcome of one run: empty failure for a pass.
struct RunResult {
    std::string failure;             // the first failed check, crash, hang or report
    std::vector<std::string> lines;  // the call lines the run printed, with their indices
    bool Failed() const { return !failure.empty(); }
    // What failures group by: the name of the check, or the kind of crash.
    std::string Family() const;
};

// Runs the seed's calls whose indices are in inKeep (all of them when
// inKeep is null) in this process; returns the first failed check.
RunResult RunInProcess(uint64_t seed, const std::vector<int>* inKeep, bool inPrint);

// The same in a forked child, which is killed after inTimeoutSeconds.
RunResult RunInChild(uint64_t seed, const std::vector<int>* inKeep, int inTimeoutSeconds);

// Several seeds at once, up to inJobs children side by side.
std::vector<RunResult> RunSeeds(const std::vector<uint64_t>& seeds, int inJobs, int inTimeoutSeconds);

// The smallest list of call indices (found by removing chunks of calls) that
// still fails with the same family; at most inBudget runs.
std::vector<int> Shrink(uint64_t seed, const RunResult& failure, int inTimeoutSeconds, int inBudget);

int CallCount(uint64_t seed);

}  // namespace seqtest
