// The chip's fixed-point encodings of doubles.
#include "board/float_converters.h"

#include <cmath>

#include "foundation/diagnostics.h"
#include "foundation/fixed_point.h"

namespace ulm3 {
namespace {

// Rounded fraction of 0..1 scaled to 0..maxCode; out of range clamps and NaN
// gives 0 so that no undefined conversion is ever made.
uint32_t ConvertUnitFraction(double x, uint32_t maxCode) {
    if (std::isnan(x) || x < 0.0) return 0;
    if (x > 1.0) return maxCode;
    const auto code = static_cast<uint32_t>(x * maxCode + 0.5);
    ULM_ASSERT(code <= maxCode);
    return code;
}

}  // namespace

uint64_t ConvertFloatToS23R40(double x) {
    // Through a signed integer: a negative value becomes its two's-complement
    // pattern, which is what the register holds.
    const int64_t fixed = ULMSaturatingTruncate<int64_t>(x * kULMFixedScale2340);
    return static_cast<uint64_t>(fixed) + 0x80000800u;
}

uint32_t ConvertFloatToU0_12RF(double x) { return ConvertUnitFraction(x, 4095); }

uint32_t ConvertFloatToU0_8RF(double x) { return ConvertUnitFraction(x, 255); }

uint32_t ConvertFloatToSM0_12RF(double x) {
    if (x < 0.0) return ConvertFloatToU0_12RF(-x) | 0x1000u;
    return ConvertFloatToU0_12RF(x);
}

}  // namespace ulm3
