// The grey and opacity window of ulm3_render: chosen from the histogram of a
// volume's field 0, and written into a 256-entry classifier table.
#pragma once

#include <cstdint>
#include <vector>

#include "ulm3.h"

namespace ulm3_render {

// The values of field 0, counted over the voxels a render shows.
struct FieldHistogram {
    std::vector<uint64_t> counts;  // one per value the field can hold
    unsigned highest = 0;          // the highest value present
};

// Voxel values: the ramps run from 0 at lo to their top at hi.
struct VoxelWindow {
    unsigned lo = 0;
    unsigned hi = 1;
};

// Counts field 0 of every voxel of the volume's active sub-volume, read from
// its source. kULMErrFormat for a field the histogram cannot read (signed,
// float, or wider than 16 bits).
ulm3::ULMStatus CountField0(const ulm3::ULMVolume& inVolume, FieldHistogram& outHistogram);

// The fewest bits, at least 8, that hold every value present: the width the
// classifier should read, so that a window spans the whole table.
int SignificantBits(const FieldHistogram& inHistogram);

// From just above the background (the commonest value, and the noise around
// it) to a high percentile of the voxels above it.
VoxelWindow ChooseWindow(const FieldHistogram& inHistogram);

// Entry e of the table stands for the values the classifier reads as e when
// the field is inBits wide: grey rises from 0 to 1 over the window, opacity
// from 0 to inOpacity.
ulm3::ULMStatus FillTable(const VoxelWindow& inWindow, int inBits, double inOpacity, ulm3::ULMLookupTable& ioTable);

}  // namespace ulm3_render
