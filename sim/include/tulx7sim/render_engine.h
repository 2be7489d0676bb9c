// What a board does with a render job. The driver checks and queues render
// requests; when one runs, it hands the job to the platform's render engine
// together with the board's register file, which persists between jobs.
// The engine that comes with the driver executes the job's command blocks
// (command_executor.h); tests may put another in its place through
// SetRenderEngine.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tulx7sim {

// The chip's register space, addressed in bytes like the chip's registers.
// Storage only: what a register means is the engine's business.
class RegisterFile {
public:
    static constexpr uint32_t kBytes = 0xA00;

    // Reads and writes outside the space or not naturally aligned are
    // ignored (reads give 0); they return false.
    bool Read32(uint32_t address, uint32_t& value) const;
    bool Write32(uint32_t address, uint32_t value);
    bool Read64(uint32_t address, uint64_t& value) const;
    bool Write64(uint32_t address, uint64_t value);
    void Clear();

private:
    std::array<uint8_t, kBytes> m_bytes{};
};

// One of the render's array slots (volume, images, depths) as bound from the
// request. The storage stays alive, and no other queued job of the board
// touches it, while the job runs.
struct BoundArray {
    bool bound = false;
    uint32_t bufferId = 0xFFFFFFFFu;
    int dimension = 0;     // axes - 1
    int elementBytes = 0;
    int32_t size[3] = {};  // elements per axis in storage (1 for an absent axis)
    int32_t rangeMin[3] = {};  // the record's bounds, signed
    int32_t rangeMax[3] = {};
    int32_t offsetModulus[3] = {};
    bool wrap = false;
    uint8_t* data = nullptr;  // element (u, v, w) at ((w * size[1] + v) * size[0] + u) * elementBytes
    size_t byteCount = 0;
};

// One of the eight table slots, in the record's order: classification 0..3,
// specular reflectance, diffuse reflectance, gradient magnitude, alpha
// correction.
struct BoundTable {
    bool bound = false;
    uint32_t bufferId = 0xFFFFFFFFu;
    uint32_t sequenceNo = 0;
    uint16_t validEntries = 0;  // 64-bit entries
    const uint8_t* data = nullptr;
    size_t byteCount = 0;
};

struct RenderJob {
    int board = 0;
    uint32_t eventId = 0;
    std::vector<uint64_t> stateWords;   // copied at submission; may be empty
    std::vector<uint64_t> renderWords;  // copied at submission
    uint32_t writeMask = 0;             // the record's image_depth_dest
    BoundArray volume, image0, image1, depth0, depth1;
    std::array<BoundTable, 8> tables;
};

class RenderEngine {
public:
    virtual ~RenderEngine() = default;
    // The power-on state of a board's registers, set when the board gets its
    // first client. The default clears them.
    virtual void ResetRegisters(int board, RegisterFile& registers);
    // Runs one job on the board's worker thread. Returns a driver status: 0,
    // or 6 (hardware error) for a command block the chip refuses, with the
    // reason in `diagnostic`. The driver logs a non-empty `diagnostic` with
    // the job whether or not it succeeded.
    virtual int32_t Execute(const RenderJob& job, RegisterFile& registers,
                            std::string& diagnostic) = 0;
};

// Installs the engine every later render job runs on; null restores the
// driver's own.
void SetRenderEngine(std::shared_ptr<RenderEngine> engine);

}  // namespace tulx7sim
