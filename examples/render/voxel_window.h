// The grey and opacity window of ulm3_render: chosen from the histogram of a
// volume's field 0, read through a field width the boards take, and written
// into a classifier table.
#pragma once

#include <cstdint>
#include <vector>

#include "ulm3.h"

namespace ulm3_render {

// The values of field 0, counted over the voxels a render shows.
struct FieldHistogram {
    std::vector<uint64_t> counts;  // one per value the field can hold
    unsigned highest = 0;          // the highest value present
    // The box counted, and the highest value in each of its planes across
    // X, Y and Z (index 0 the box's first plane).
    ulm3::ULMVolumeRange box;
    std::vector<unsigned> planeHighest[3];
};

// Voxel values: the ramps run from 0 at lo to their top at hi.
struct VoxelWindow {
    unsigned lo = 0;
    unsigned hi = 1;
};

// How the classifier reads field 0. The boards read fields of 4, 8, 12 or 16
// bits and look values up in a 256-entry table by their top 8 bits, or in a
// 4096-entry one (table 3) by their top 12: the field is narrowed to the
// fewest of those bits that hold every value present, and a field wider than
// 8 bits takes the 4096-entry table, so that every value up to 4095 has an
// entry of its own and wider ones one per 16 values.
struct FieldReading {
    int bits = 8;
    unsigned entries = 256;
};

// Counts field 0 of every voxel of the volume's active sub-volume, read from
// its source. kULMErrFormat for a field the histogram cannot read (signed,
// float, or wider than 16 bits).
ulm3::ULMStatus CountField0(const ulm3::ULMVolume& inVolume, FieldHistogram& outHistogram);

// The reading for the values present in a field of inFieldBits.
FieldReading ChooseReading(const FieldHistogram& inHistogram, int inFieldBits);

// From just above the background (the commonest value, and the noise around
// it) to a high percentile of the voxels above it. The histogram is taken in
// at most 256 steps from 0 to the highest value, so that the same data
// scaled to other units gets the same window in those units.
VoxelWindow ChooseWindow(const FieldHistogram& inHistogram);

// The top of the background's noise: twice as far above the background (the
// commonest value) as the top of the background that ChooseWindow starts the
// window at; never below inWindow's lower end nor above its middle. The
// background of clean data is one value, and its noise tops out there.
unsigned NoiseTop(const FieldHistogram& inHistogram, const VoxelWindow& inWindow);

// How far the frame reaches past the data above the noise's top: the edge of
// an object blurs over a voxel or two.
inline constexpr int kEdgeVoxels = 2;

// The box of the voxels whose value lies above inLevel; empty when none does.
ulm3::ULMVolumeRange VoxelsAbove(const FieldHistogram& inHistogram, unsigned inLevel);

// The box of the data above inLevel in the box inHistogram counted, read
// again from the volume's source: the voxels above it that touch (by a face,
// an edge or a corner) make regions, and the box holds every region of at
// least a thousandth of the largest one's voxels (and of more than a few).
// Specks of noise in a scan's air, alone or in small clusters, are left out
// wherever they lie; the parts of a clean object are all kept. Where the
// regions are too many to follow, the box of every voxel above inLevel.
// Empty when no voxel lies above inLevel.
ulm3::ULMStatus DataBox(const ulm3::ULMVolume& inVolume, const FieldHistogram& inHistogram, unsigned inLevel,
                        ulm3::ULMVolumeRange& outBox);

// The box the frame holds: the data box above inLevel, and where inNoiseTop
// lies higher, no more than kEdgeVoxels past the data box above it. Noise
// above inLevel that touches the data joins it into one region, which can
// reach across the air; the data's own edge lies within a voxel or two of
// its voxels above the noise.
ulm3::ULMStatus FrameBox(const ulm3::ULMVolume& inVolume, const FieldHistogram& inHistogram, unsigned inLevel,
                         unsigned inNoiseTop, ulm3::ULMVolumeRange& outBox);

// Entry e of the table stands for the values the classifier reads as e when
// the field is inBits wide: grey rises from 0 to 1 over the window, opacity
// from 0 to inOpacity, exactly 0 in the entry a voxel at lo reads and
// exactly 1 in the one a voxel at hi reads.
ulm3::ULMStatus FillTable(const VoxelWindow& inWindow, int inBits, double inOpacity, ulm3::ULMLookupTable& ioTable);

}  // namespace ulm3_render
