#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "board/float_converters.h"

using namespace ulm3;

namespace {

TEST(FloatConverters, SignMagnitudeSetsBitTwelveForNegatives) {
    EXPECT_EQ(ConvertFloatToSM0_12RF(-0.5), 0x1800u);
    EXPECT_EQ(ConvertFloatToSM0_12RF(0.5), 0x0800u);
    EXPECT_EQ(ConvertFloatToSM0_12RF(-2.0), 0x1FFFu);
    EXPECT_EQ(ConvertFloatToSM0_12RF(0.0), 0u);
    EXPECT_EQ(ConvertFloatToSM0_12RF(std::numeric_limits<double>::quiet_NaN()), 0u);
}

TEST(FloatConverters, S23R40IsBiasedTwosComplement) {
    EXPECT_EQ(ConvertFloatToS23R40(0.0), 0x80000800u);
    EXPECT_EQ(ConvertFloatToS23R40(1.0), (uint64_t{1} << 40) + 0x80000800u);
    EXPECT_EQ(ConvertFloatToS23R40(0.5), (uint64_t{1} << 39) + 0x80000800u);
    // Negative values wrap as two's complement instead of being undefined.
    EXPECT_EQ(ConvertFloatToS23R40(-1.0), 0x80000800u - (uint64_t{1} << 40));
    EXPECT_EQ(ConvertFloatToS23R40(std::numeric_limits<double>::quiet_NaN()), 0x80000800u);
    EXPECT_EQ(ConvertFloatToS23R40(1e30),
              static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 0x80000800u);
}

}  // namespace
