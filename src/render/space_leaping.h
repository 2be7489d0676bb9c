// Space leaping: a volume cut into bricks of 32 voxels a side, each knowing
// the values its samples can read, so that a render skips the bricks that
// its tables leave transparent.
#pragma once

#include <compare>
#include <cstdint>
#include <vector>

#include "ulm3/volume.h"

namespace ulm3 {

class ULMAllRenderRegisters;
class ULMVolumeInternal;
struct ULMRenderInputs;

// What a volume's bricks and the box of its visible bricks were built from;
// a render whose inputs differ builds them again.
struct ULMSpaceLeapingCache {
    // The bricks: the volume in its current state, the fields the tables
    // read, the bricked range.
    struct Bricks {
        uint64_t volume = 0, serial = 0, voxelFormat = 0;
        int32_t range[6] = {};
        auto operator<=>(const Bricks&) const = default;
    };
    // The box: the tables in their current state, how the classifier
    // combines them, the threshold and the part of the volume sampled.
    struct Box {
        uint64_t tables[4] = {}, serials[4] = {};
        uint32_t formats[4] = {}, alu[3] = {};
        uint32_t threshold = 0;
        double sampleDistance = 1.0;
        uint64_t border = 0;
        int32_t subVolume[6] = {};
        auto operator<=>(const Box&) const = default;
    };
    bool bricksValid = false, boxValid = false;
    Bricks bricks;
    Box box;
};

// The channel values (as the chip's fetch stage gives them, -65535..65535)
// that each of the four table slots can read anywhere in one brick's
// samples: over the brick's voxels and the one-voxel ring that
// interpolation reaches.
struct ULMBrickValues {
    int32_t lo[4] = {}, hi[4] = {};
};

// A volume's space-leaping state, kept with its render state.
struct ULMSpaceLeaping {
    // The volume's own parameters once set; until then the library's
    // SpaceLeapingMode parameter decides. Thresholds: red, green, blue,
    // alpha; -1.0 is unset, and only alpha is used.
    bool m_modeSet = false;
    ULMVolume::SpaceLeapingMode m_mode = ULMVolume::kSpaceLeapingNone;
    double m_thresholds[4] = {-1.0, -1.0, -1.0, -1.0};
    uint32_t m_thresholds12[4] = {};
    int m_brickSize = 32;
    // Bricks over m_bricked, X fastest.
    int32_t m_bricked[6] = {};  // origin x, y, z, size x, y, z
    int m_brickCounts[3] = {};
    std::vector<ULMBrickValues> m_bricks;
    // Voxels (inclusive, volume axes) that hold every sample a render must
    // composite: lo x, hi x, lo y, ...; none when m_boxEmpty.
    int32_t m_box[6] = {};
    bool m_boxEmpty = false;
    ULMSpaceLeapingCache m_cache;
};

// Checks and stores a volume's parameters: a mode outside 0..1, or a
// threshold above 1.0 or not a number, is kULMErrArgument.
ULMStatus ULMSetSpaceLeapingParameters(ULMSpaceLeaping& ioState, ULMVolume::SpaceLeapingMode inMode,
                                       const double inThresholds[4]);

// Programs one render's leaping into its registers once they are filled:
// trims cut down to the box of bricks that the tables can show, and the
// chip's skip of samples at or below the alpha threshold. Only a render in
// a plain blend mode (2 or 4) that writes no depth leaps, since there a
// skipped sample changes no bit; the bricks come from the volume's host
// data, so a volume whose buffer may differ from it does not leap.
void ULMApplySpaceLeaping(const ULMVolumeInternal& inVolume, ULMSpaceLeaping& ioState,
                          const ULMRenderInputs& inInputs, ULMAllRenderRegisters& ioRegisters);

}  // namespace ulm3
