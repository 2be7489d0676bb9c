// Fixed-point packing, bit for bit, and the numeric helpers.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>

#include "foundation/fixed_point.h"
#include "foundation/numeric.h"
#include "support/control_snapshot.h"

using namespace ulm3;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr ULMRoundOrTruncType R = kULMRound, T = kULMTrunc;

// One packing: value, shift, rounding, mask or offset, and the word it gives.
template <typename W>
struct Pack {
    double value;
    int shift;
    ULMRoundOrTruncType round;
    W mask, expected;
};
}  // namespace

TEST(FixedPointPack, ClampedFractions) {
    // Unsigned fraction: NaN counts as "above 1", and the maximum is cut to
    // the width of the word and scales the rest.
    const Pack<unsigned> u8[] = {{1.0, 8, R, 0, 255}, {0.5, 8, R, 0, 128}, {0.5, 8, T, 0, 127}, {-0.01, 8, R, 0, 0},
                                 {-0.0, 8, R, 0, 0},  {3.0, 8, R, 0, 255}, {kInf, 8, R, 0, 255}, {kNaN, 8, R, 0, 255},
                                 {2.0, 9, R, 0, 255}, {0.5, 9, R, 0, 128}, {1.0, 0, R, 0, 0}};
    for (const auto& c : u8) {
        EXPECT_EQ(ULMRationalPackClampedUnsignedRF<uint8_t>(c.value, unsigned(c.shift), c.round, 0), c.expected)
            << c.value << " in " << c.shift;
    }
    const Pack<unsigned> u16[] = {
        {0.5, 12, R, 0, 2048}, {1.0, 12, R, 0, 4095}, {1.0, 16, R, 0, 65535}, {1.0, 40, R, 0, 65535}};
    for (const auto& c : u16) {
        EXPECT_EQ(ULMRationalPackClampedUnsignedRF<uint16_t>(c.value, unsigned(c.shift), c.round, 0), c.expected)
            << c.value << " in " << c.shift;
    }
    for (unsigned i = 0; i <= 255; ++i) ASSERT_EQ(ULMRationalPackClampedUnsignedRF<uint8_t>(i / 255.0, 8, R, 0), i);

    // Sign and magnitude: the sign survives a zero magnitude, but not -0.0.
    const Pack<unsigned> sm[] = {
        {-1.0, 12, R, 0, 8191},  {0.5, 12, R, 0, 2048}, {-0.5, 12, R, 0, 4096 + 2048}, {-0.0001, 12, R, 0, 4096},
        {-0.0, 12, R, 0, 0},     {3.0, 12, R, 0, 4095}, {-kInf, 12, R, 0, 8191},       {kNaN, 12, R, 0, 0},
        {-0.5, 9, R, 0, 512 + 256}, {-0.5, 9, T, 0, 512 + 255},
        {-1.0, 16, R, 0, 0xFFFF}};  // the sign bit falls outside the word
    for (const auto& c : sm) {
        EXPECT_EQ(ULMRationalPackClampedSMRF<uint16_t>(c.value, unsigned(c.shift), c.round), c.expected)
            << c.value << " in " << c.shift;
    }

    // The product of two fractions has no upper clamp.
    const Pack<uint32_t> product[] = {
        {1.0, 8, R, 0, 255u * 255u}, {2.0, 8, R, 0, 2u * 255u * 255u}, {-0.5, 8, R, 0, 0u}, {1.0, 9, R, 0, 511u * 511u},
        {0.5, 9, R, 0, 130561u} /* 130560.5 + 0.5 */, {0.5, 9, T, 0, 130560u}, {1e20, 9, R, 0, 0xFFFFFFFFu},
        {kInf, 9, R, 0, 0xFFFFFFFFu}, {kNaN, 9, R, 0, 0u}};
    for (const auto& c : product) {
        EXPECT_EQ(ULMRationalPackClampedProduct<uint32_t>(c.value, unsigned(c.shift), c.round, 0), c.expected)
            << c.value << " in " << c.shift;
    }
}
