// Numeric helpers shared by the geometry and fixed-point code.
#pragma once

#include "foundation/control.h"

namespace ulm3 {

// Near-zero test against the library's epsilon (strict), and exact zero
// always counts, so an epsilon of 0 never lets a division by zero through.
inline bool ULMIsZero(double x) {
    return x == 0.0 || (x < 0 ? -x : x) < gULMControl.m_epsilon;
}

}  // namespace ulm3
