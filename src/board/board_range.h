// Volume and image ranges as the board layer's inclusive 16-bit boxes.
#pragma once

#include "board/kwb_range.h"
#include "ulm3/ranges.h"

namespace ulm3 {

// min = origin and max = origin + size - 1 on each axis; an image range gets
// the W axis 0..0. An empty axis comes out with max = min - 1.
//
// Board coordinates are signed 16 bits. When any bound does not fit, the
// whole box is made invalid (min 0, max -1 on every axis) rather than wrapped,
// so that the board layer refuses it instead of touching other elements.
// The constructors are implicit so that a range can be handed straight to a
// call that takes a ULMRange.
class ULMRange : public KWBRange {
public:
    ULMRange(const ULMVolumeRange& range);
    ULMRange(const ULMImageRange& range);
};

}  // namespace ulm3
