// Doubles into the chip's register and table encodings.
#pragma once

#include <cstdint>

namespace ulm3 {

// Signed 23.40 fixed point, biased by 0x80000800 as the chip expects its
// origins. Values beyond the 64-bit range saturate; NaN reads as 0.
uint64_t ConvertFloatToS23R40(double x);

// Unsigned fractions of 0..1 on 12 and 8 bits, rounded to nearest; values
// below 0 (and NaN) give 0, values above 1 give the largest code.
uint32_t ConvertFloatToU0_12RF(double x);
uint32_t ConvertFloatToU0_8RF(double x);

// Sign and 12-bit magnitude: bit 12 is the sign.
uint32_t ConvertFloatToSM0_12RF(double x);

}  // namespace ulm3
