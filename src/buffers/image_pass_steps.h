// The sampling geometry and field codes shared by the board passes that read
// one image (or volume buffer) and write another: the step, first sample and
// sequencer tile of an axis, and an image's four field codes as one word.
#pragma once

#include <cstdint>

#include "board/board_pass_block.h"
#include "ulm3/image_buffer.h"

namespace ulm3 {

// Step and first sample position (S23.40, 17 fraction bits kept) of one axis,
// and the Section register's tile code for that step.
struct ULMImagePassStep {
    int64_t spacing;
    int64_t origin;
    int64_t section;
};

// inSourceSize pixels from inSourceOrigin onto inDestinationSize pixels from
// inDestinationOrigin, centre on centre. The step must not exceed two source
// pixels per destination pixel (an assertion): larger reductions are chains
// of passes, and callers check before.
ULMImagePassStep ULMImagePassStepOf(int32_t inSourceOrigin, int32_t inSourceSize, int32_t inDestinationOrigin,
                                    int32_t inDestinationSize);

// Channel i's field code in bits 8i+7..8i.
uint32_t ULMImageFieldCodes(const ULMImageBuffer& inImage);

// Fields 0..3 straight through to red, green, blue and alpha, the tables
// read as one 12-bit channel per entry (they are bypassed anyway).
void ULMRouteFieldsStraight(ULMImagePassValues& ioValues);

}  // namespace ulm3
