// The gradient slab's rows in AVX2 lanes: eight voxels of a row a step,
// their byte fractions computed rather than looked up, wherever what the
// lanes compute is, bit for bit, what the byte-fraction tables hold.
#pragma once

#include <cstdint>

#include "chip_arithmetic.h"
#include "chip_setup.h"

// The chip's internals bind inside the library, so its calls inline.
#pragma GCC visibility push(hidden)

namespace tulx7sim::chip {

// Where one gradient component of a run of voxels reads its neighbour
// ahead (index 0) and behind (index 1): the bytes that far from the voxel,
// and the fractions of those bytes. A border, or a component without a
// field, reads a table of one value throughout.
struct ComponentReads {
    int64_t step[2] = {};
    const float* table[2] = {};
};
struct EntryReads {
    ComponentReads component[3];
};

// How lanes compute each component's byte fractions: the field's bits of
// the byte over `divisor`, as a float division. The lanes
// compute only from the tables in `table`; any other table a run reads is
// one value throughout.
struct FractionLanes {
    bool exact = false;  // each component's lanes give its table entry for entry
    int32_t shift[3] = {}, mask[3] = {};
    float divisor[3] = {1.0f, 1.0f, 1.0f};
    const float* table[3] = {};
};

// The lanes for the byte fractions `fraction` of the components `component`
// (ByteFractions), checked against every entry; not exact where the field's
// code is beyond them or any entry differs.
FractionLanes FractionLanesFor(const Setup& setup, const float (&fraction)[3][256], const bool (&component)[3]);

// The entries of `count` (at least 8) voxels from `at` on, each the next
// byte along the row: each component the fraction ahead less the one
// behind, halved for central differences, as the scalar row computes.
void EntryRowLanes(bool central, const uint8_t* at, const EntryReads& reads, const FractionLanes& lanes, Float4* row,
                   int64_t count);

}  // namespace tulx7sim::chip

#pragma GCC visibility pop
