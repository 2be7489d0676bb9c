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

// What a job's renders did that a correct programme never does, and how
// much they composited. Every count is of occurrences (samples, elements,
// renders or command words).
struct ChipDiagnostics {
    uint64_t droppedWrites = 0;        // outside storage, or into an unbound slot
    uint64_t writesOutsideMask = 0;    // into a slot the render's write mask does not name (not done)
    uint64_t readsOutsideStorage = 0;  // voxels inside VolumeRange, or initial pixels inside
                                       // their init range, that lie outside storage
    uint64_t reservedCodes = 0;        // renders or completion codes using a reserved register code
    uint64_t unboundTableReads = 0;    // lookups in an unbound table or past its valid entries
    uint64_t samples = 0;              // live samples composited (not a fault)

    // The faults, all counts but `samples`.
    uint64_t Total() const {
        return droppedWrites + writesOutsideMask + readsOutsideStorage + reservedCodes +
               unboundTableReads;
    }
    ChipDiagnostics& operator+=(const ChipDiagnostics& other);
    // The non-zero fault counts for the driver log ("dropped writes 2,
    // reserved codes 1"); empty when there are none.
    std::string Describe() const;
};

class ChipModel {
public:
    virtual ~ChipModel() = default;
    // Runs one render on the registers as they now stand, over the job's
    // bound buffers and tables; it finishes before the next command word.
    // Adds what the render counted to `counts`. Returns a driver status: 0,
    // or 6 (hardware error) for registers the chip cannot act on, with the
    // reason in `diagnostic`.
    virtual int32_t Render(const RenderJob& job, const RegisterFile& registers,
                           ChipDiagnostics& counts, std::string& diagnostic) = 0;
};

// A chip that accepts every render and changes nothing.
std::shared_ptr<ChipModel> MakeIdleChipModel();

// The counts of a board's jobs since the last clear or platform reset;
// zeros for a board that does not exist. The render engine adds each job's
// counts when the job ends.
ChipDiagnostics GetChipDiagnostics(int board);
void AddChipDiagnostics(int board, const ChipDiagnostics& counts);
void ClearChipDiagnostics();

}  // namespace tulx7sim
