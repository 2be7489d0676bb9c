// An inclusive box of board elements in the chip's signed 16-bit coordinates.
#pragma once

#include <cstdint>

namespace ulm3 {

struct KWBRange {
    int16_t minU = 0, minV = 0, minW = 0;
    int16_t maxU = 0, maxV = 0, maxW = 0;
};

}  // namespace ulm3
