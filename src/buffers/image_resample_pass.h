// The pass that resamples a rectangle of an on-board image into a rectangle
// of another image: the source is read by the chip as a one-slice volume,
// the destination written as image 0, one ray per destination pixel.
#pragma once

#include <cstdint>
#include <vector>

#include "board/board_pass_block.h"
#include "ulm3/ranges.h"

namespace ulm3 {

inline constexpr const char* kResampleWriteFailure =
    "DoStartResample: WriteRegister %s failed: %s (%d)\n";

// The programme after the opening Scratch7 reset. inVoxelFormat and
// inImageFormat are the four field codes of source and destination, channel
// i in bits 8i+7..8i; inBorder is the source's border value as an element.
// A step of more than two source pixels per destination pixel on either axis
// stops on an assertion: larger reductions are chains of passes.
std::vector<ULMPassRegister> ResampleProgramme(const ULMImageRange& inSource,
                                               const ULMImageRange& inDestination,
                                               uint32_t inVoxelFormat, uint32_t inImageFormat,
                                               uint64_t inBorder);

}  // namespace ulm3
