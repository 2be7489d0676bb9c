// How a box of a board buffer is described to the driver, and whether the
// board's storage holds it.
#pragma once

#include "board/kwb_buffer.h"
#include "board/kwb_range.h"
#include "tulx7/driver_requests.h"

namespace ulm3 {

// The box with the buffer's offsets (or wrap masks) and wrap flag.
Tulx7_dr_array_addressing KWBAddressing(const KWBBuffer& buffer, const KWBRange& range);

// True when every element of `range` lands inside the buffer's storage under
// its addressing: axes the buffer lacks must be 0..0; under wrap only the
// last modulus elements of an axis count, as only those are moved.
bool KWBStorageHolds(const KWBBuffer& buffer, const KWBRange& range);

}  // namespace ulm3
