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
constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max(), kMin64 = std::numeric_limits<int64_t>::min();

// One packing: value, shift, rounding, mask or offset, and the word it gives.
template <typename W>
struct Pack {
    double value;
    int shift;
    ULMRoundOrTruncType round;
    W mask, expected;
};
}  // namespace

TEST(FixedPointPack, ThirtyTwoBitTwosComplement) {
    const Pack<uint32_t> cases[] = {
        // Rounds away from zero; zero is rounded as a negative (-0.5 -> 0).
        {1.5, 8, R, 0, 384u}, {-1.5, 8, R, 0, 0u - 384u}, {-1.5, 0, R, 0, 0u - 2u}, {1.5, 0, R, 0, 2u},
        {1.5, 0, T, 0, 1u}, {-1.5, 0, T, 0, 0u - 1u}, {0.0, 8, R, 0, 0u}, {-16382.99609375, 8, R, 0, 0u - 4194047u},
        // The mask is added after packing and wraps.
        {1.0, 8, T, 0x1000, 0x1100u}, {-1.0 / 256, 8, T, 1, 0u},
        // Converted in two ranges around 2^31, saturating beyond.
        {1.0, 31, T, 0, 0x80000000u}, {3e9, 0, T, 0, 3000000000u}, {5e9, 0, T, 0, 0xFFFFFFFFu},
        {-3e9, 0, T, 0, 0x80000000u}, {kInf, 8, T, 0, 0xFFFFFFFFu}, {-kInf, 8, T, 0, 0x80000000u}, {kNaN, 8, R, 7, 7u},
        // Shifts past the word give a scale of 0; only the rounding half is left.
        {1.0, 32, R, 0, 0u}, {1000.0, 40, T, 0, 0u}, {1.0, -1, T, 0, 0u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ULMRationalPackFixedPoint<uint32_t>(c.value, c.shift, c.mask, c.round), c.expected)
            << c.value << " << " << c.shift << (c.round == R ? " rounded" : " truncated") << " + " << c.mask;
    }
}

TEST(FixedPointPack, SixtyFourBitRegisterValuesSaturate) {
    const Pack<int64_t> cases[] = {
        {1.0, 40, T, 0, int64_t{1} << 40}, {-0.25, 40, T, 0, -(int64_t{1} << 38)},
        {-1.5, 40, T, 0, -(int64_t{3} << 39)},
        {1.0 / (int64_t{1} << 41), 40, T, 0, 0}, {-1.0 / (int64_t{1} << 41), 40, T, 0, 0},  // toward zero
        {0.75, 32, T, 5, 0xC0000005}, {-2.5, 0, R, 0, -3},
        // Outside the int64 range (2^23 with 40 fraction bits) it saturates;
        // exactly -2^63 fits, and NaN gives the offset alone.
        {8388608.0, 40, T, 0, kMax64}, {-8388608.0, 40, T, 0, kMin64}, {-1e30, 40, T, 0, kMin64},
        {kInf, 40, T, 0, kMax64},
        {kNaN, 40, T, 0, 0}, {kNaN, 32, T, 1000, 1000},
        // The offset wraps like the register adder; bit 63's scale is -2^63.
        {1.0, 62, T, kMax64, -(int64_t{1} << 62) - 1}, {1.0, 63, T, 0, kMin64}, {-1.0, 63, T, 0, kMax64},
        {1.0, 64, T, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ULMRationalPackFixedPoint<int64_t>(c.value, c.shift, c.mask, c.round), c.expected)
            << c.value << " << " << c.shift << (c.round == R ? " rounded" : " truncated") << " + " << c.mask;
    }
    // The type callers name as long long packs the same way.
    EXPECT_EQ(ULMRationalPackFixedPoint<long long>(-0.25, 40, 0, T), -(1LL << 38));
}

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

TEST(NumericHelpers, MinimumMaximumClampAndAbsolute) {
    enum TestMode : int32_t { kModeA = 0, kModeB = 1, kModeC = 2 };
    EXPECT_EQ(ULMMax(3u, 0xFFFFFFFFu), 0xFFFFFFFFu);  // unsigned compare
    EXPECT_EQ(ULMMax(int64_t{1} << 40, int64_t{-1}), int64_t{1} << 40);
    EXPECT_EQ(ULMMin(short{-3}, short{2}), -3);
    EXPECT_EQ(ULMMax(1, 7, 3), 7);
    EXPECT_EQ(ULMMax(7.0, 1.0, 3.0), 7.0);
    EXPECT_EQ(ULMMax(1.0, 3.0, 7.0), 7.0);
    EXPECT_EQ(ULMMin(3.0, 1.0, 7.0), 1.0);
    EXPECT_EQ(ULMMin(7.0, 3.0, -2.0), -2.0);

    EXPECT_EQ(ULMClampTo(5, 0, 3), 3);
    EXPECT_EQ(ULMClampTo(-1, 0, 3), 0);
    EXPECT_EQ(ULMClampTo(2, 0, 3), 2);
    EXPECT_EQ(ULMClampTo(5, 3), 3);
    EXPECT_EQ(ULMClampTo(2, 3), 2);
    EXPECT_EQ(ULMClampTo(0xFFFFFFFFu, 0u, 10u), 10u);  // a large unsigned stays large
    EXPECT_EQ(ULMClampTo(0xFFFFFFFFu, 10u), 10u);
    EXPECT_EQ(ULMClampTo(2.5, 0.0, 1.0), 1.0);
    EXPECT_EQ(ULMClampTo(kModeC, kModeA, kModeB), kModeB);
    EXPECT_EQ(ULMClampTo(static_cast<TestMode>(-4), kModeA, kModeB), kModeA);

    EXPECT_EQ(ULMAbs(-2.5), 2.5);
    EXPECT_EQ(ULMAbs(-5), 5);
    EXPECT_EQ(ULMAbs(-INT_MAX), INT_MAX);
    EXPECT_EQ(ULMAbs(INT_MIN), INT_MIN);  // no positive counterpart; no overflow either
}

TEST(NumericHelpers, RootsAnglesAndPowersOfTwo) {
    EXPECT_EQ(ULMInverseSqrt(0.0), 1.0);
    EXPECT_EQ(ULMInverseSqrt(-0.0), 1.0);
    EXPECT_EQ(ULMInverseSqrt(4.0), 0.5);
    EXPECT_DOUBLE_EQ(ULMRadians(-90.0), -M_PI / 2);

    for (uint32_t u : {0u, 1u, 0x80000000u}) EXPECT_TRUE(ULMIsPowerOf2(u)) << u;
    for (uint32_t u : {6u, 0xFFFFFFFFu}) EXPECT_FALSE(ULMIsPowerOf2(u)) << u;
    const std::pair<uint32_t, uint32_t> rounded[] = {{0, 0},       {1, 1}, {3, 4}, {4096, 4096}, {4097, 8192},
                                                     {0x80000000u, 0x80000000u}, {0x80000001u, 0}, {0xFFFFFFFFu, 0}};
    for (const auto& [u, p] : rounded) EXPECT_EQ(ULMPow2Round(u), p) << u;
    for (uint32_t u = 1; u <= (1u << 16); ++u) {
        const uint32_t p = ULMPow2Round(u);
        ASSERT_TRUE(ULMIsPowerOf2(p) && p >= u && p / 2 < u) << u;
    }
}

// The epsilon is process-wide; the snapshot puts it back.
TEST(NumericEpsilon, NearZeroIsStrictAndExactZeroIsZeroEvenWithoutTolerance) {
    test_support::ControlSnapshot snapshot;
    gULMControl.m_epsilon = 1e-10;
    for (double x : {9e-11, -9e-11, 0.0}) EXPECT_TRUE(ULMIsZero(x)) << x;
    for (double x : {1e-10, -1e-10, kNaN}) EXPECT_FALSE(ULMIsZero(x)) << x;
    gULMControl.m_epsilon = 0.5;
    EXPECT_TRUE(ULMIsZero(0.49));
    EXPECT_FALSE(ULMIsZero(0.5));
    gULMControl.m_epsilon = 0.0;
    EXPECT_TRUE(ULMIsZero(0.0));
    EXPECT_TRUE(ULMIsZero(-0.0));
    EXPECT_FALSE(ULMIsZero(std::numeric_limits<double>::denorm_min()));
}
