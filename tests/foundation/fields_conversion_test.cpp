#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "foundation/field_conversions.h"
#include "ulm3.h"

using namespace ulm3;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
}  // namespace

TEST(FieldConversion, FractionTo12And8BitsRoundsHalfUpAndClamps) {
    EXPECT_EQ(ULMConvertFloatTo12(0.5), 2048);
    EXPECT_EQ(ULMConvertFloatTo12(1.0), 4095);
    EXPECT_EQ(ULMConvertFloatTo12(1.7), 4095);
    EXPECT_EQ(ULMConvertFloatTo12(-0.1), 0);
    EXPECT_EQ(ULMConvertFloatTo12(0.4999 / 4095), 0);
    EXPECT_EQ(ULMConvertFloatTo12(0.5001 / 4095), 1);
    EXPECT_EQ(ULMConvertFloatTo8(1.0 / 255), 1);
    EXPECT_EQ(ULMConvertFloatTo8(0.5), 128);
    EXPECT_EQ(ULMConvertFloatTo8(-0.1), 0);
    EXPECT_EQ(ULMConvertFloatTo8(1.7), 255);
    EXPECT_EQ(ULMConvertFloatTo8(kInf), 255);
    EXPECT_EQ(ULMConvertFloatTo8(-kInf), 0);
    // NaN is no colour at all: it comes out dark rather than undefined.
    EXPECT_EQ(ULMConvertFloatTo12(kNaN), 0);
    EXPECT_EQ(ULMConvertFloatTo8(kNaN), 0);
}

TEST(FieldConversion, BackToFractionMultipliesByNearestReciprocal) {
    EXPECT_EQ(0.0002442002442002442, 1.0 / 4095);
    EXPECT_EQ(0.00392156862745098, 1.0 / 255);
    EXPECT_EQ(ULMConvert12ToFloat(4095), 1.0);
    EXPECT_EQ(ULMConvert12ToFloat(5000), 1.0);
    EXPECT_EQ(ULMConvert12ToFloat(65535), 1.0);
    EXPECT_EQ(ULMConvert12ToFloat(4094), 4094 * (1.0 / 4095));
    EXPECT_EQ(ULMConvert8ToFloat(0), 0.0);
    EXPECT_EQ(ULMConvert8ToFloat(254), 254 * (1.0 / 255));
    EXPECT_EQ(ULMConvert8ToFloat(255), 1.0);
}

TEST(FieldConversion, EveryValueSurvivesTheRoundTrip) {
    for (unsigned i = 0; i <= 4095; ++i) {
        const double f = ULMConvert12ToFloat(static_cast<unsigned short>(i));
        ASSERT_EQ(ULMConvertFloatTo12(f), i) << i;
        ASSERT_GE(f, 0.0);
        ASSERT_LE(f, 1.0);
    }
    for (unsigned i = 0; i <= 255; ++i) {
        ASSERT_EQ(ULMConvertFloatTo8(ULMConvert8ToFloat(static_cast<unsigned char>(i))), i) << i;
    }
}

TEST(FieldConversion, DoubleIntoFieldTruncatesAndClamps) {
    const ULMFieldDescriptor green(8, 8, kULMUnsignedFraction);
    const ULMFieldDescriptor nibble(0, 4, kULMUnsignedFraction);
    EXPECT_EQ(ConvertDoubleToField(1.0, green, 32), uint64_t{255} << 8);
    EXPECT_EQ(ConvertDoubleToField(0.999, nibble, 8), 14u);
    EXPECT_EQ(ConvertDoubleToField(2.0, nibble, 8), 15u);
    EXPECT_EQ(ConvertDoubleToField(0.5, ULMFieldDescriptor(48, 16, kULMUnsignedInteger), 64),
              uint64_t{32767} << 48);
    EXPECT_EQ(ConvertDoubleToField(1.0, ULMFieldDescriptor(), 32), 0u);
    EXPECT_EQ(ConvertDoubleToField(1.0, ULMFieldDescriptor(2, 8, kULMUnsignedFraction), 32), 0u);
    EXPECT_EQ(ConvertDoubleToField(1.0, green, 12), 0u);
    // Fields over 16 bits are never placed.
    EXPECT_EQ(ConvertDoubleToField(1.0, ULMFieldDescriptor(0, 20, kULMUnsignedFraction), 32), 0u);
}

TEST(FieldConversion, DoubleIntoFieldSaturatesOutsideItsRange) {
    const ULMFieldDescriptor f(4, 12, kULMUnsignedFraction);
    EXPECT_EQ(ConvertDoubleToField(-0.5, f, 16), 0u);
    EXPECT_EQ(ConvertDoubleToField(-1e300, f, 16), 0u);
    EXPECT_EQ(ConvertDoubleToField(kNaN, f, 16), 0u);
    EXPECT_EQ(ConvertDoubleToField(1e300, f, 16), uint64_t{4095} << 4);
    EXPECT_EQ(ConvertDoubleToField(kInf, f, 16), uint64_t{4095} << 4);
    // A wide element can validate a field that a 64-bit word cannot hold.
    EXPECT_EQ(ConvertDoubleToField(1.0, ULMFieldDescriptor(64, 8, kULMUnsignedFraction), 128), 0u);
    EXPECT_EQ(ConvertDoubleToField(1.0, ULMFieldDescriptor(56, 8, kULMUnsignedFraction), 128),
              uint64_t{255} << 56);
}
