#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>

#include "foundation/numeric.h"
#include "support/control_snapshot.h"

using namespace ulm3;

namespace {
enum TestMode : int32_t { kModeA = 0, kModeB = 1, kModeC = 2 };

// The epsilon is process-wide; each test leaves it as it found it.
class NumericEpsilon : public ::testing::Test {
protected:
    test_support::ControlSnapshot m_snapshot;
};
}  // namespace

TEST(NumericHelpers, MinimumAndMaximum) {
    EXPECT_EQ(ULMMax(3u, 0xFFFFFFFFu), 0xFFFFFFFFu);  // unsigned compare
    EXPECT_EQ(ULMMax(int64_t{1} << 40, int64_t{-1}), int64_t{1} << 40);
    EXPECT_EQ(ULMMin(short{-3}, short{2}), -3);
    EXPECT_EQ(ULMMax(1, 7, 3), 7);
    EXPECT_EQ(ULMMax(7.0, 1.0, 3.0), 7.0);
    EXPECT_EQ(ULMMax(1.0, 3.0, 7.0), 7.0);
    EXPECT_EQ(ULMMin(3.0, 1.0, 7.0), 1.0);
    EXPECT_EQ(ULMMin(7.0, 3.0, -2.0), -2.0);
}

TEST(NumericHelpers, Clamping) {
    EXPECT_EQ(ULMClampTo(5, 0, 3), 3);
    EXPECT_EQ(ULMClampTo(-1, 0, 3), 0);
    EXPECT_EQ(ULMClampTo(2, 0, 3), 2);
    EXPECT_EQ(ULMClampTo(5, 3), 3);
    EXPECT_EQ(ULMClampTo(2, 3), 2);
    EXPECT_EQ(ULMClampTo(-7L, -5L, 5L), -5L);
    EXPECT_EQ(ULMClampTo(0xFFFFFFFFu, 0u, 10u), 10u);  // a large unsigned stays large
    EXPECT_EQ(ULMClampTo(0xFFFFFFFFu, 10u), 10u);
    EXPECT_EQ(ULMClampTo(2.5, 0.0, 1.0), 1.0);
    EXPECT_EQ(ULMClampTo(0.1f, 0.0f, 0.5f), 0.1f);
    EXPECT_EQ(ULMClampTo(kModeC, kModeA, kModeB), kModeB);
    EXPECT_EQ(ULMClampTo(static_cast<TestMode>(-4), kModeA, kModeB), kModeA);
}

TEST(NumericHelpers, AbsoluteValue) {
    EXPECT_EQ(ULMAbs(-2.5), 2.5);
    EXPECT_EQ(ULMAbs(-5), 5);
    EXPECT_EQ(ULMAbs(0), 0);
    EXPECT_EQ(ULMAbs(INT_MAX), INT_MAX);
    EXPECT_EQ(ULMAbs(-INT_MAX), INT_MAX);
    EXPECT_EQ(ULMAbs(INT_MIN), INT_MIN);  // no positive counterpart; no overflow either
}

TEST_F(NumericEpsilon, NearZeroIsStrictAgainstTheLibraryEpsilon) {
    gULMControl.m_epsilon = 1e-10;
    EXPECT_FALSE(ULMIsZero(1e-10));
    EXPECT_FALSE(ULMIsZero(-1e-10));
    EXPECT_TRUE(ULMIsZero(9e-11));
    EXPECT_TRUE(ULMIsZero(-9e-11));
    EXPECT_FALSE(ULMIsZero(std::numeric_limits<double>::quiet_NaN()));
    gULMControl.m_epsilon = 0.5;
    EXPECT_TRUE(ULMIsZero(0.49));
    EXPECT_FALSE(ULMIsZero(0.5));
}

TEST_F(NumericEpsilon, ExactZeroIsZeroEvenWithoutTolerance) {
    gULMControl.m_epsilon = 0.0;
    EXPECT_TRUE(ULMIsZero(0.0));
    EXPECT_TRUE(ULMIsZero(-0.0));
    EXPECT_FALSE(ULMIsZero(std::numeric_limits<double>::denorm_min()));
}

TEST(NumericHelpers, RootsSquaresAndAngles) {
    EXPECT_EQ(ULMInverseSqrt(0.0), 1.0);
    EXPECT_EQ(ULMInverseSqrt(-0.0), 1.0);
    EXPECT_EQ(ULMInverseSqrt(4.0), 0.5);
    EXPECT_EQ(ULMSqrt(6.25), 2.5);
    EXPECT_TRUE(std::isnan(ULMSqrt(-1.0)));
    EXPECT_EQ(ULMSquare(-3.0), 9.0);
    EXPECT_DOUBLE_EQ(ULMRadians(180.0), M_PI);
    EXPECT_DOUBLE_EQ(ULMRadians(-90.0), -M_PI / 2);
    EXPECT_EQ(ULMRadians(0.0), 0.0);

    double a = 1.0, b = -2.0;
    ULMSwap(a, b);
    EXPECT_EQ(a, -2.0);
    EXPECT_EQ(b, 1.0);
}

TEST(NumericHelpers, PowersOfTwo) {
    EXPECT_TRUE(ULMIsPowerOf2(0));
    EXPECT_TRUE(ULMIsPowerOf2(1));
    EXPECT_FALSE(ULMIsPowerOf2(6));
    EXPECT_TRUE(ULMIsPowerOf2(0x80000000u));
    EXPECT_FALSE(ULMIsPowerOf2(0xFFFFFFFFu));

    EXPECT_EQ(ULMPow2Round(0), 0u);
    EXPECT_EQ(ULMPow2Round(1), 1u);
    EXPECT_EQ(ULMPow2Round(3), 4u);
    EXPECT_EQ(ULMPow2Round(4096), 4096u);
    EXPECT_EQ(ULMPow2Round(4097), 8192u);
    EXPECT_EQ(ULMPow2Round(0x80000000u), 0x80000000u);
    EXPECT_EQ(ULMPow2Round(0x80000001u), 0u);
    EXPECT_EQ(ULMPow2Round(0xFFFFFFFFu), 0u);

    for (uint32_t u = 1; u <= (1u << 16); ++u) {
        const uint32_t p = ULMPow2Round(u);
        ASSERT_TRUE(ULMIsPowerOf2(p) && p >= u && p / 2 < u) << u;
    }
}
