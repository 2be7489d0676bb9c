// The rendering chip the simulated boards come with: ray grid and sample
// positions, trims, voxel fetch with border and edge addressing, nearest
// and trilinear interpolation, the lookup stage and its ALUs, emissive
// shading, compositing in every blend mode but sum-and-count, and the
// encoded writes into image 0 and image 1 (sim/CHIP.md says what is and is
// not modelled).
#pragma once

#include <cstdint>
#include <memory>

#include "tulx7sim/chip_model.h"

namespace tulx7sim {

// What a board's renders did that a correct programme never does. Every
// count is of occurrences (samples, elements or renders), summed over the
// renders since the last clear.
struct ChipDiagnostics {
    uint64_t droppedWrites = 0;        // outside storage, or into an unbound slot
    uint64_t writesOutsideMask = 0;    // into a slot the render's write mask does not name (not done)
    uint64_t readsOutsideStorage = 0;  // voxels inside VolumeRange, or initial pixels inside
                                       // their init range, that lie outside storage
    uint64_t reservedCodes = 0;        // renders using a reserved register code
    uint64_t unboundTableReads = 0;    // lookups in an unbound table or past its valid entries
    uint64_t unmodelledFeatures = 0;   // renders enabling a stage this chip leaves out

    uint64_t Total() const {
        return droppedWrites + writesOutsideMask + readsOutsideStorage + reservedCodes +
               unboundTableReads + unmodelledFeatures;
    }
};

// The chip the platform's render engine uses unless a test installs
// another one.
std::shared_ptr<ChipModel> MakeRenderingChip();

// The counts of a board's renders since the last clear or platform reset;
// zeros for a board that does not exist.
ChipDiagnostics GetChipDiagnostics(int board);
void ClearChipDiagnostics();

}  // namespace tulx7sim
