// The rule every image range handed to an image or depth buffer must pass,
// and the board box it becomes.
#pragma once

#include "board/kwb_range.h"
#include "ulm3/buffer_types.h"
#include "ulm3/ranges.h"
#include "ulm3/status.h"

namespace ulm3 {

// kULMOK when the range lies inside `window` under offset addressing (an
// axis of size 0 is not tested against it), has no negative size, and keeps
// its origin and last pixel inside the board's signed 16-bit coordinates on
// both axes; kULMErrArgument otherwise.
ULMStatus CheckBufferRange(ULMAddressMode inMode, const ULMImageRange& inWindow,
                           const ULMImageRange& inRange);

// Host rows of inWidth pixels must hold a row of the range; 0 stands for the
// range's own width. A shorter row would make rows overlap in host memory;
// rows longer than INT32_MAX pixels are refused, as the board's are.
bool HostRowHolds(const ULMImageRange& inRange, unsigned inWidth);

// The inclusive board box of a range, W 0..0; an empty range gives the
// all-zero box, which the board reads as the single element at the offset.
KWBRange ValidRangeOf(const ULMImageRange& inRange);

}  // namespace ulm3
