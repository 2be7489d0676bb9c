// How the simulated platform is set up: number of boards, their memory and
// versions, peers, queueing and timing. Read from TULX7SIM_* environment
// variables (for manual runs) or handed to ResetPlatform (for tests).
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace tulx7sim {

inline constexpr int kMaxBoards = 8;
inline constexpr int kMaxMemoryMB = 2047;  // keeps byte counts inside the driver's 32-bit fields

enum class QueueMode {
    kSerial,       // one queue per board: every request of a board runs in submission order
    kThreeQueues,  // DMA in, DMA out and render run side by side, ordered only by event ids
};

struct SimConfig {
    int boards = 2;            // 0..8
    int memoryMB = 256;        // per board, 1..kMaxMemoryMB
    int major = 0;             // driver interface version
    int minor = 3;             // 1: no peer, abort or dump; 2: no peer
    int micro = 0;
    int pciRev = 1;
    int osVersion = 0;
    // Peer of each board index, -1 for none; entries naming an absent board
    // read as -1.
    std::array<int, kMaxBoards> peers = {1, 0, 3, 2, 5, 4, 7, 6};
    QueueMode mode = QueueMode::kSerial;
    int latencyMicroseconds = 0;  // added before every queued job runs, 0..1000000
    int fillByte = 0xA5;          // new board memory reads as this
    bool mapImplemented = true;   // false: mapping requests are not implemented
    bool reportRoundedSizes = false;  // buffer requests report the allocated (rounded) sizes
    std::string logPath;          // driver log copy: "" none, "stderr", or a file
};

struct ConfigParseResult {
    SimConfig config;
    std::vector<std::string> warnings;  // one per variable that was refused
};

// Reads every TULX7SIM_* setting through `lookup` (null for an unset
// variable). Values are untrusted: anything malformed or out of range keeps
// the default and leaves a warning.
ConfigParseResult ParseConfig(const std::function<const char*(const char*)>& lookup);

// ParseConfig over the process environment.
ConfigParseResult ConfigFromEnvironment();

}  // namespace tulx7sim
