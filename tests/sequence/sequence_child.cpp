#include "sequence/sequence_child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numeric>
#include <sstream>
#include <thread>

#include "sequence/sequence_calls.h"
#include "sequence/sequence_oracles.h"
#include "tulx7sim/test_api.h"

namespace seqtest {
namespace {

constexpr int kFailedCheck = 3;

struct Child {
    pid_t pid = -1;
    std::string path;
    size_t index = 0;
    std::chrono::steady_clock::time_point deadline;
    bool hung = false;
    int status = 0;
};

// The first line of the text that holds `marker`, or "".
std::string LineWith(const std::string& text, const char* marker) {
    const size_t at = text.find(marker);
    if (at == std::string::npos) return "";
    const size_t begin = text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at) + 1;
    const size_t end = text.find('\n', at);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// A sanitizer's report in the child's output, as "<sanitizer> <kind>: <line>".
std::string SanitizerReport(const std::string& text) {
    for (const char* marker : {"ERROR: AddressSanitizer", "WARNING: ThreadSanitizer", "ERROR: ThreadSanitizer",
                               "runtime error:", "ERROR: LeakSanitizer"}) {
        std::string line = LineWith(text, marker);
        if (line.empty()) continue;
        std::string kind = marker;
        if (kind == "runtime error:") {
            const size_t at = line.find("runtime error:");
            const std::string what = line.substr(at + 15);
            kind = "undefined behaviour " + what.substr(0, what.find(' '));
        } else {
            const size_t at = line.find(marker) + std::strlen(marker);
            const std::string rest = line.substr(at);
            kind = kind.substr(kind.find(' ') + 1) + rest.substr(0, rest.find(' ', 2));
        }
        return kind + ": " + line;
    }
    return "";
}

RunResult Collect(const Child& child, int timeoutSeconds) {
    std::ifstream in(child.path);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    std::remove(child.path.c_str());
    RunResult result;
    std::string failLine, lastLine;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("SEQLINE ", 0) == 0) result.lines.push_back(line.substr(8));
        else if (line.rfind("SEQFAIL: ", 0) == 0) failLine = line.substr(9);
        else if (!line.empty()) lastLine = line;
    }
    const std::string report = SanitizerReport(text);
    if (child.hung) result.failure = "hang: killed after " + std::to_string(timeoutSeconds) + " s";
    else if (!report.empty()) result.failure = report;
    else if (WIFSIGNALED(child.status)) result.failure = "crash signal " + std::to_string(WTERMSIG(child.status)) + ": " + lastLine;
    else if (WEXITSTATUS(child.status) == kFailedCheck && !failLine.empty()) result.failure = failLine;
    else if (WEXITSTATUS(child.status) != 0)
        result.failure = "exit " + std::to_string(WEXITSTATUS(child.status)) + ": " + lastLine;
    return result;
}

Child Spawn(uint64_t seed, const std::vector<int>* keep, size_t index, int timeoutSeconds) {
    Child child;
    child.index = index;
    char path[] = "/tmp/ulm3_sequence_XXXXXX";
    const int fd = mkstemp(path);
    child.path = path;
    std::fflush(nullptr);
    child.pid = fork();
    if (child.pid == 0) {
        dup2(fd, 1);
        dup2(fd, 2);
        const RunResult r = RunInProcess(seed, keep, true);
        if (r.Failed()) std::fprintf(stderr, "SEQFAIL: %s\n", r.failure.c_str());
        std::fflush(nullptr);
        _exit(r.Failed() ? kFailedCheck : 0);
    }
    close(fd);
    child.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    return child;
}

// Waits for the children, killing those past their deadline.
void Reap(std::vector<Child>& children) {
    std::vector<bool> done(children.size(), false);
    size_t left = children.size();
    while (left > 0) {
        for (size_t i = 0; i < children.size(); ++i) {
            if (done[i]) continue;
            Child& c = children[i];
            if (waitpid(c.pid, &c.status, WNOHANG) == c.pid) {
                done[i] = true;
                --left;
            } else if (std::chrono::steady_clock::now() > c.deadline) {
                kill(c.pid, SIGKILL);
                waitpid(c.pid, &c.status, 0);
                c.hung = true;
                done[i] = true;
                --left;
            }
        }
        if (left > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

std::string RunResult::Family() const {
    const size_t at = failure.find(':');
    return at == std::string::npos ? failure : failure.substr(0, at);
}

int CallCount(uint64_t seed) { return int(Generate(seed).calls.size()); }

RunResult RunInProcess(uint64_t seed, const std::vector<int>* keep, bool print) {
    const Sequence s = Generate(seed);
    tulx7sim::SimConfig config;
    config.boards = s.boards;
    config.latencyMicroseconds = s.latencyUs;
    tulx7sim::ResetPlatform(config);
    RunResult result;
    if (print) std::fprintf(stderr, "SEQLINE seed %llu: %d boards, latency %d us\n", (unsigned long long)seed, s.boards, s.latencyUs);
    if (ULMOpen() != kULMOK) {
        result.failure = "open failed: the library did not open";
        return result;
    }
    // Views the chip cannot subsample are rendered larger and shrunk.
    ULMSetParameter("ResizeImage", 1);
    uint64_t start[tulx7sim::kMaxBoards] = {};
    for (int b = 0; b < s.boards; ++b) start[b] = BoardBytes(b);
    int current = -1;
    try {
        World world(s.boards, false);
        std::vector<int> all(s.calls.size());
        std::iota(all.begin(), all.end(), 0);
        for (const int i : keep != nullptr ? *keep : all) {
            current = i;
            const std::string line = Execute(world, s.calls[size_t(i)]);
            if (line.empty()) continue;
            result.lines.push_back("[" + std::to_string(i) + "] " + line);
            if (print) std::fprintf(stderr, "SEQLINE %s\n", result.lines.back().c_str());
        }
        current = -1;
        world.ReleaseAll();
        CheckEndState(start, s.boards);
    } catch (const OracleFailure& e) {
        result.failure = e.what();
        result.lines.push_back((current >= 0 ? "[" + std::to_string(current) + "] " : "[end] ") + "failed here");
        if (print) std::fprintf(stderr, "SEQLINE %s\n", result.lines.back().c_str());
    }
    ULMClose();
    tulx7sim::ResetPlatform(tulx7sim::SimConfig{});
    return result;
}

RunResult RunInChild(uint64_t seed, const std::vector<int>* keep, int timeoutSeconds) {
    std::vector<Child> children{Spawn(seed, keep, 0, timeoutSeconds)};
    Reap(children);
    return Collect(children[0], timeoutSeconds);
}

std::vector<RunResult> RunSeeds(const std::vector<uint64_t>& seeds, int jobs, int timeoutSeconds) {
    std::vector<RunResult> results(seeds.size());
    for (size_t first = 0; first < seeds.size(); first += size_t(jobs)) {
        std::vector<Child> children;
        for (size_t i = first; i < seeds.size() && i < first + size_t(jobs); ++i)
            children.push_back(Spawn(seeds[i], nullptr, i, timeoutSeconds));
        Reap(children);
        for (const Child& c : children) results[c.index] = Collect(c, timeoutSeconds);
    }
    return results;
}

std::vector<int> Shrink(uint64_t seed, const RunResult& failure, int timeoutSeconds, int budget) {
    std::vector<int> keep(size_t(CallCount(seed)));
    std::iota(keep.begin(), keep.end(), 0);
    const std::string family = failure.Family();
    int runs = 0;
    for (size_t chunk = keep.size() / 2; chunk >= 1 && runs < budget; chunk /= 2) {
        for (size_t at = 0; at < keep.size() && runs < budget;) {
            std::vector<int> candidate(keep.begin(), keep.begin() + long(at));
            candidate.insert(candidate.end(), keep.begin() + long(std::min(keep.size(), at + chunk)), keep.end());
            ++runs;
            const RunResult r = RunInChild(seed, &candidate, timeoutSeconds);
            if (r.Failed() && r.Family() == family) keep = candidate;
            else at += chunk;
        }
    }
    return keep;
}

}  // namespace seqtest
