// Execution of a render job's command blocks on a board's register file:
// register loads, syncs, and the render started by a write of the render
// opcode. The chip is strict: a word it cannot execute fails the whole job
// with a hardware error, and nothing after that word runs.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "tulx7sim/chip_model.h"
#include "tulx7sim/render_engine.h"
#include "tulx7sim/rendering_chip.h"

namespace tulx7sim {

// Puts every register back to its power-on value from the chip's register
// map (0 but for the few registers with another reset value).
void ResetChipRegisters(RegisterFile& registers);

class CommandExecutor {
public:
    CommandExecutor(RegisterFile& registers, ChipModel& chip, const RenderJob& job);

    // Sets the array registers of the five buffer slots (volume, depth 0,
    // depth 1, image 0, image 1) from the job's bound buffers: sizes,
    // element size, axes, wrap, offsets or moduli and the bound range. An
    // unbound slot gets all its array registers 0.
    void LoadArrayRegisters();

    // Executes `words` in order. Returns 0, or the failing status (6 for a
    // word the chip refuses or a sync whose test does not hold, or what the
    // chip model answered) with "<blockName> block word <index>: <reason>"
    // in `diagnostic`.
    int32_t Run(std::span<const uint64_t> words, const char* blockName, std::string& diagnostic);

    // Renders started, and what they and the block counted (a reserved
    // completion code increments nothing and counts as a reserved code).
    int RendersRun() const { return m_renders; }
    const ChipDiagnostics& Counts() const { return m_counts; }

private:
    // Each returns an empty string, or why the word cannot be executed.
    std::string LoadRegisters(std::span<const uint64_t> words, size_t& index);
    std::string Sync(uint64_t word);
    std::string Store32(uint32_t address, uint32_t value);
    std::string StartRenderOperation(uint32_t value);

    RegisterFile& m_registers;
    ChipModel& m_chip;
    const RenderJob& m_job;
    int32_t m_chipStatus = 0;  // a failed render's status, kept for Run
    int m_renders = 0;
    ChipDiagnostics m_counts;
};

// The engine a board runs render jobs on: array registers from the job's
// buffers, then the state block (if any), then the render block, each
// render handed to `chip` (the platform's rendering chip when null). A
// job's diagnostic counts are added to its board's sums and, when a fault
// was counted, described in `diagnostic` for the driver log.
class CommandBlockEngine : public RenderEngine {
public:
    explicit CommandBlockEngine(std::shared_ptr<ChipModel> chip = MakeRenderingChip());

    void ResetRegisters(int board, RegisterFile& registers) override;
    int32_t Execute(const RenderJob& job, RegisterFile& registers,
                    std::string& diagnostic) override;

private:
    std::shared_ptr<ChipModel> m_chip;
};

}  // namespace tulx7sim
