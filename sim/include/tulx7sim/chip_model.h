// The rendering chip of a simulated board, as the command executor sees it:
// a render started by a write of the render opcode. What the chip does with
// the registers and buffers is the model's business; the model that comes
// with the platform does nothing, and a full model replaces it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tulx7sim/render_engine.h"

namespace tulx7sim {

class ChipModel {
public:
    virtual ~ChipModel() = default;
    // Runs one render on the registers as they now stand, over the job's
    // bound buffers and tables; it finishes before the next command word.
    // Returns a driver status: 0, or 6 (hardware error) for registers the
    // chip cannot act on, with the reason in `diagnostic`.
    virtual int32_t Render(const RenderJob& job, const RegisterFile& registers,
                           std::string& diagnostic) = 0;
};

// A chip that accepts every render and changes nothing.
std::shared_ptr<ChipModel> MakeIdleChipModel();

}  // namespace tulx7sim
