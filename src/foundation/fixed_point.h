// Packing of doubles into the chip's fixed-point register patterns.
//
// Every conversion from double to integer here goes through
// ULMSaturatingTruncate, so values outside the target range saturate and a
// NaN gives 0 instead of running into an undefined conversion.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

#include "foundation/numeric.h"

namespace ulm3 {

// One in the chip's signed 23.40 fixed point (origins, deltas, pass steps),
// as an integer and as the scale a double is multiplied by.
inline constexpr int64_t kULMFixedOne2340 = int64_t{1} << 40;
inline constexpr double kULMFixedScale2340 = 1099511627776.0;

// The packers add inRoundOn * 0.5 before converting toward zero: kULMRound
// rounds half away from zero, kULMTrunc truncates.
enum ULMRoundOrTruncType : int32_t {
    kULMTrunc = 0,
    kULMRound = 1,
};

// Converts toward zero; values beyond the range of I saturate at its limits
// and NaN gives 0.
template <typename I>
inline I ULMSaturatingTruncate(double v) {
    static_assert(std::is_integral_v<I> && sizeof(I) <= 8);
    if (v != v) return 0;
    // 2^(bits) for unsigned, 2^(bits-1) for signed: exact powers of two.
    constexpr double kLimit =
        static_cast<double>(uint64_t{1} << (std::numeric_limits<I>::digits - 1)) * 2.0;
    if (v >= kLimit) return std::numeric_limits<I>::max();
    if constexpr (std::is_signed_v<I>) {
        if (v <= -kLimit) return std::numeric_limits<I>::min();
    } else {
        if (v <= -1.0) return 0;
    }
    return static_cast<I>(v);
}

// 2^n - 1 in 32 bits; widths of 32 and more give all ones.
inline uint32_t ULMLowBitMask32(unsigned n) { return n >= 32 ? 0xFFFFFFFFu : (uint32_t{1} << n) - 1; }

namespace fixed_point_detail {
template <typename T>
constexpr bool kIsFixedPoint32 = std::is_integral_v<T> && std::is_unsigned_v<T> && sizeof(T) == 4;
template <typename T>
constexpr bool kIsFixedPoint64 = std::is_integral_v<T> && std::is_signed_v<T> && sizeof(T) == 8;

inline double RoundingHalf(ULMRoundOrTruncType inRoundOn) {
    return static_cast<int32_t>(inRoundOn) * 0.5;
}
}  // namespace fixed_point_detail

// Two's-complement fixed point with inShift fraction bits, plus inRoundMask
// (wrapping). Two forms: unsigned 32-bit (negative values come out in two's
// complement) and signed 64-bit. A shift beyond the width of the form gives
// a scale of 0; the 64-bit form's scale for a shift of 63 is -2^63, the
// value of that bit pattern as a signed number.
template <typename T>
inline T ULMRationalPackFixedPoint(double inValue, int inShift, T inRoundMask,
                                   ULMRoundOrTruncType inRoundOn) {
    using namespace fixed_point_detail;
    static_assert(kIsFixedPoint32<T> || kIsFixedPoint64<T>,
                  "packs into unsigned 32-bit or signed 64-bit words");
    const double half = RoundingHalf(inRoundOn);
    if constexpr (kIsFixedPoint64<T>) {
        const double scale =
            inShift >= 0 && inShift < 64
                ? static_cast<double>(static_cast<int64_t>(uint64_t{1} << inShift))
                : 0.0;
        double v = scale * inValue;
        v = inValue > 0 ? v + half : v - half;
        const uint64_t packed = static_cast<uint64_t>(ULMSaturatingTruncate<int64_t>(v));
        return static_cast<T>(packed + static_cast<uint64_t>(inRoundMask));
    } else {
        const double scale =
            inShift >= 0 && inShift < 32 ? static_cast<double>(uint32_t{1} << inShift) : 0.0;
        double v = scale * inValue;
        v = inValue > 0 ? v + half : v - half;
        // Large positive values keep their full unsigned range; the rest go
        // through the signed form so negatives wrap into two's complement.
        const uint32_t packed = v >= 2147483648.0
                                    ? ULMSaturatingTruncate<uint32_t>(v)
                                    : static_cast<uint32_t>(ULMSaturatingTruncate<int32_t>(v));
        return static_cast<T>(packed + inRoundMask);
    }
}

// Unsigned fraction U0.n: 0..1 onto 0..2^n - 1, the maximum cut to the
// width of T. Negative values give 0; values above 1 and NaN give the
// maximum. inTipe only selects T.
template <typename T>
inline T ULMRationalPackClampedUnsignedRF(double inValue, unsigned inShift,
                                          ULMRoundOrTruncType inRoundOn, T inTipe) {
    static_assert(std::is_integral_v<T> && std::is_unsigned_v<T> && sizeof(T) <= 4);
    (void)inTipe;
    if (inValue < 0) return 0;
    const T max = static_cast<T>(ULMLowBitMask32(inShift));
    if (!(inValue <= 1.0)) return max;
    return static_cast<T>(ULMSaturatingTruncate<uint32_t>(
        max * inValue + fixed_point_detail::RoundingHalf(inRoundOn)));
}

// Sign-magnitude fraction SM0.n: the magnitude as U0.n in bits n-1..0, the
// sign in bit n. A negative value whose magnitude rounds to 0 keeps its
// sign bit; -0.0 does not get one.
template <typename T = uint16_t>
inline T ULMRationalPackClampedSMRF(double inValue, unsigned inShift,
                                    ULMRoundOrTruncType inRoundOn) {
    static_assert(std::is_integral_v<T> && std::is_unsigned_v<T> && sizeof(T) == 2);
    const double m = ULMAbs(inValue);
    const T max = static_cast<T>(ULMLowBitMask32(inShift));
    T packed = m >= 1.0 ? max
                        : static_cast<T>(ULMSaturatingTruncate<uint32_t>(
                              max * m + fixed_point_detail::RoundingHalf(inRoundOn)));
    if (inValue < 0) packed = static_cast<T>(packed | static_cast<T>(max + 1u));
    return packed;
}

// Product of two U0.n fractions, scaled by (2^n - 1)^2 (computed in 32
// bits). Negative values give 0; there is no clamp at the top, so a value
// above 1 packs above the scale, saturating only at 2^32 - 1. The last
// argument only selects T.
template <typename T>
inline T ULMRationalPackClampedProduct(double inValue, unsigned inShift,
                                       ULMRoundOrTruncType inRoundOn, T inTipe) {
    static_assert(fixed_point_detail::kIsFixedPoint32<T>);
    (void)inTipe;
    if (inValue < 0) return 0;
    const uint32_t max = ULMLowBitMask32(inShift);
    const uint32_t scale = max * max;
    return static_cast<T>(ULMSaturatingTruncate<uint32_t>(
        scale * inValue + fixed_point_detail::RoundingHalf(inRoundOn)));
}

}  // namespace ulm3
