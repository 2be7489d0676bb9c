#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "foundation/fixed_point.h"

using namespace ulm3;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

uint32_t Pack32(double v, int shift, ULMRoundOrTruncType r, uint32_t mask = 0) {
    return ULMRationalPackFixedPoint<uint32_t>(v, shift, mask, r);
}
int64_t Pack64(double v, int shift, ULMRoundOrTruncType r = kULMTrunc, int64_t mask = 0) {
    return ULMRationalPackFixedPoint<int64_t>(v, shift, mask, r);
}
uint8_t U8(double v, unsigned shift, ULMRoundOrTruncType r = kULMRound) {
    return ULMRationalPackClampedUnsignedRF<uint8_t>(v, shift, r, 0);
}
uint16_t U16(double v, unsigned shift, ULMRoundOrTruncType r = kULMRound) {
    return ULMRationalPackClampedUnsignedRF<uint16_t>(v, shift, r, 0);
}
uint16_t SM(double v, unsigned shift, ULMRoundOrTruncType r = kULMRound) {
    return ULMRationalPackClampedSMRF<uint16_t>(v, shift, r);
}
uint32_t Product(double v, unsigned shift, ULMRoundOrTruncType r = kULMRound) {
    return ULMRationalPackClampedProduct<uint32_t>(v, shift, r, 0);
}
}  // namespace

TEST(FixedPointPack, ThirtyTwoBitRoundsAwayFromZeroInTwosComplement) {
    EXPECT_EQ(Pack32(1.5, 8, kULMRound), 384u);
    EXPECT_EQ(Pack32(-1.5, 8, kULMRound), 0u - 384u);
    EXPECT_EQ(Pack32(-1.5, 0, kULMRound), 0u - 2u);
    EXPECT_EQ(Pack32(1.5, 0, kULMRound), 2u);
    EXPECT_EQ(Pack32(1.5, 0, kULMTrunc), 1u);
    EXPECT_EQ(Pack32(-1.5, 0, kULMTrunc), 0u - 1u);
    EXPECT_EQ(Pack32(0.0, 8, kULMRound), 0u);  // zero is rounded as a negative: -0.5 -> 0
    EXPECT_EQ(Pack32(-16382.99609375, 8, kULMRound), 0u - 4194047u);
    // The mask is added after packing and wraps.
    EXPECT_EQ(Pack32(1.0, 8, kULMTrunc, 0x1000), 0x1100u);
    EXPECT_EQ(Pack32(-1.0 / 256, 8, kULMTrunc, 1), 0u);
}

TEST(FixedPointPack, ThirtyTwoBitLimits) {
    EXPECT_EQ(Pack32(1.0, 31, kULMTrunc), 0x80000000u);  // converted as unsigned
    EXPECT_EQ(Pack32(3e9, 0, kULMTrunc), 3000000000u);
    EXPECT_EQ(Pack32(5e9, 0, kULMTrunc), 0xFFFFFFFFu);
    EXPECT_EQ(Pack32(-3e9, 0, kULMTrunc), 0x80000000u);
    EXPECT_EQ(Pack32(kInf, 8, kULMTrunc), 0xFFFFFFFFu);
    EXPECT_EQ(Pack32(-kInf, 8, kULMTrunc), 0x80000000u);
    EXPECT_EQ(Pack32(kNaN, 8, kULMRound, 7), 7u);
    // Shifts past the word give a scale of 0; only the rounding half is left.
    EXPECT_EQ(Pack32(1.0, 32, kULMRound), 0u);
    EXPECT_EQ(Pack32(1000.0, 40, kULMTrunc), 0u);
    EXPECT_EQ(Pack32(1.0, -1, kULMTrunc), 0u);
}

TEST(FixedPointPack, SixtyFourBitRegisterValues) {
    EXPECT_EQ(Pack64(1.0, 40), int64_t{1} << 40);
    EXPECT_EQ(Pack64(-0.25, 40), -(int64_t{1} << 38));
    EXPECT_EQ(Pack64(-1.5, 40), -(int64_t{3} << 39));
    EXPECT_EQ(Pack64(1.0 / (int64_t{1} << 41), 40), 0);  // truncated toward zero
    EXPECT_EQ(Pack64(-1.0 / (int64_t{1} << 41), 40), 0);
    EXPECT_EQ(Pack64(0.75, 32, kULMTrunc, 5), 0xC0000005);
    EXPECT_EQ(Pack64(-2.5, 0, kULMRound), -3);
    // The type callers name as long long packs the same way.
    EXPECT_EQ(ULMRationalPackFixedPoint<long long>(-0.25, 40, 0, kULMTrunc), -(1LL << 38));
}

TEST(FixedPointPack, SixtyFourBitSaturatesInsteadOfOverflowing) {
    const int64_t kMax = std::numeric_limits<int64_t>::max();
    const int64_t kMin = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(Pack64(8388608.0, 40), kMax);  // 2^23 with 40 fraction bits
    EXPECT_EQ(Pack64(-8388608.0, 40), kMin);  // exactly -2^63 fits
    EXPECT_EQ(Pack64(-1e30, 40), kMin);
    EXPECT_EQ(Pack64(kInf, 40), kMax);
    EXPECT_EQ(Pack64(kNaN, 40), 0);
    EXPECT_EQ(Pack64(kNaN, 32, kULMTrunc, 1000), 1000);
    // The offset wraps like the register adder does.
    EXPECT_EQ(Pack64(1.0, 62, kULMTrunc, kMax), -(int64_t{1} << 62) - 1);
    // Bit 63 is the sign, so its scale is -2^63.
    EXPECT_EQ(Pack64(1.0, 63), kMin);
    EXPECT_EQ(Pack64(-1.0, 63), kMax);
    EXPECT_EQ(Pack64(1.0, 64), 0);
}

TEST(FixedPointPack, UnsignedFraction) {
    EXPECT_EQ(U8(1.0, 8), 255);
    EXPECT_EQ(U8(0.5, 8), 128);
    EXPECT_EQ(U8(0.5, 8, kULMTrunc), 127);
    EXPECT_EQ(U8(-0.01, 8), 0);
    EXPECT_EQ(U8(-0.0, 8), 0);
    EXPECT_EQ(U8(3.0, 8), 255);
    EXPECT_EQ(U8(kInf, 8), 255);
    EXPECT_EQ(U8(kNaN, 8), 255);  // NaN counts as "above 1"
    EXPECT_EQ(U8(2.0, 9), 255);   // 511 cut to 8 bits
    EXPECT_EQ(U8(0.5, 9), 128);   // and the cut maximum scales the rest
    EXPECT_EQ(U8(1.0, 0), 0);
    EXPECT_EQ(U16(0.5, 12), 2048);
    EXPECT_EQ(U16(1.0, 12), 4095);
    EXPECT_EQ(U16(1.0, 16), 65535);
    EXPECT_EQ(U16(1.0, 40), 65535);
    // Every 8-bit code comes back from its own fraction.
    for (unsigned i = 0; i <= 255; ++i) ASSERT_EQ(U8(i / 255.0, 8), i);
}

TEST(FixedPointPack, SignMagnitudeFraction) {
    EXPECT_EQ(SM(-1.0, 12), 8191);
    EXPECT_EQ(SM(0.5, 12), 2048);
    EXPECT_EQ(SM(-0.5, 12), 4096 + 2048);
    EXPECT_EQ(SM(-0.0001, 12), 4096);  // the sign survives a zero magnitude
    EXPECT_EQ(SM(-0.0, 12), 0);
    EXPECT_EQ(SM(3.0, 12), 4095);
    EXPECT_EQ(SM(-kInf, 12), 8191);
    EXPECT_EQ(SM(kNaN, 12), 0);
    EXPECT_EQ(SM(-0.5, 9), 512 + 256);
    EXPECT_EQ(SM(-0.5, 9, kULMTrunc), 512 + 255);
    EXPECT_EQ(SM(-1.0, 16), 0xFFFF);  // the sign bit falls outside the word
}

TEST(FixedPointPack, ProductOfFractions) {
    EXPECT_EQ(Product(1.0, 8), 255u * 255u);
    EXPECT_EQ(Product(2.0, 8), 2u * 255u * 255u);  // no upper clamp
    EXPECT_EQ(Product(-0.5, 8), 0u);
    EXPECT_EQ(Product(1.0, 9), 511u * 511u);
    EXPECT_EQ(Product(0.5, 9), 130561u);  // 130560.5 + 0.5
    EXPECT_EQ(Product(0.5, 9, kULMTrunc), 130560u);
    EXPECT_EQ(Product(1e20, 9), 0xFFFFFFFFu);
    EXPECT_EQ(Product(kInf, 9), 0xFFFFFFFFu);
    EXPECT_EQ(Product(kNaN, 9), 0u);
}
