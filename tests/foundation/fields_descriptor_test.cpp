#include <gtest/gtest.h>

#include <climits>
#include <set>

#include "foundation/field_conversions.h"
#include "ulm3.h"

using namespace ulm3;

namespace {
ULMFieldDescriptor FD(int pos, int size, ULMFieldFormat fmt) { return {pos, size, fmt}; }
}  // namespace

TEST(FieldDescriptor, DefaultIsNoFieldAndEqualityNeedsAllThreeWords) {
    const ULMFieldDescriptor none;
    EXPECT_EQ(none, FD(0, 0, kULMUnknownFormat));
    EXPECT_FALSE(FD(8, 8, kULMUnsignedFraction) == FD(8, 8, kULMSignedFraction));
    EXPECT_FALSE(FD(8, 8, kULMUnsignedFraction) == FD(0, 8, kULMUnsignedFraction));
    EXPECT_FALSE(FD(8, 8, kULMUnsignedFraction) == FD(8, 12, kULMUnsignedFraction));
    // The constructor keeps even nonsense values for the validity checks to judge.
    const ULMFieldDescriptor odd(-3, 99, kULMFloat);
    EXPECT_EQ(odd.m_position, -3);
    EXPECT_EQ(odd.m_size, 99);
}

TEST(FieldDescriptor, OnlyFractionsAndUnsignedIntegerAreValidFormats) {
    for (int f = -2; f <= 300; ++f) {
        EXPECT_EQ(IsValidFieldFormat(static_cast<ULMFieldFormat>(f)), f == 0 || f == 1 || f == 3)
            << f;
    }
}

TEST(FieldDescriptor, ValidityInsideAnElement) {
    EXPECT_TRUE(IsValidFieldDescriptor(ULMFieldDescriptor(), 8, 16));
    EXPECT_FALSE(IsValidFieldDescriptor(FD(0, 0, kULMUnsignedFraction), 8, 16));
    EXPECT_FALSE(IsValidFieldDescriptor(FD(4, 8, kULMUnsignedBitfield), 16, 16));
    EXPECT_TRUE(IsValidFieldDescriptor(FD(8, 8, kULMUnsignedFraction), 16, 16));
    EXPECT_FALSE(IsValidFieldDescriptor(FD(8, 8, kULMUnsignedFraction), 12, 16));
    EXPECT_TRUE(IsValidFieldDescriptor(FD(4, 4, kULMSignedFraction), 8, 16));
    EXPECT_FALSE(IsValidFieldDescriptor(FD(2, 8, kULMUnsignedInteger), 16, 16));   // position
    EXPECT_FALSE(IsValidFieldDescriptor(FD(0, 6, kULMUnsignedInteger), 16, 16));   // size
    EXPECT_FALSE(IsValidFieldDescriptor(FD(0, 16, kULMUnsignedInteger), 32, 12));  // field limit
    EXPECT_FALSE(IsValidFieldDescriptor(FD(-4, 8, kULMUnsignedInteger), 32, 16));
    // The no-field descriptor fits any element; a stray position spoils it.
    EXPECT_TRUE(IsValidFieldDescriptor(ULMFieldDescriptor(), 0, 0));
    EXPECT_FALSE(IsValidFieldDescriptor(FD(4, 0, kULMUnknownFormat), 8, 16));
    // Extreme values must not overflow into acceptance.
    EXPECT_FALSE(IsValidFieldDescriptor(FD(INT_MAX - 3, 8, kULMUnsignedFraction), INT_MAX, 16));
    EXPECT_FALSE(IsValidFieldDescriptor(FD(INT_MIN, 8, kULMUnsignedFraction), INT_MAX, 16));
    EXPECT_FALSE(IsValidFieldDescriptor(FD(8, INT_MAX - 3, kULMUnsignedFraction), INT_MAX,
                                        INT_MAX));
}

TEST(FieldDescriptor, ValidityForHostTransfers) {
    EXPECT_FALSE(IsValidFieldDescriptorDMA(ULMFieldDescriptor(), 32));
    EXPECT_TRUE(IsValidFieldDescriptorDMA(FD(8, 16, kULMUnsignedInteger), 32));
    EXPECT_FALSE(IsValidFieldDescriptorDMA(FD(4, 8, kULMUnsignedInteger), 32));
    EXPECT_FALSE(IsValidFieldDescriptorDMA(FD(0, 24, kULMUnsignedInteger), 32));
    EXPECT_FALSE(IsValidFieldDescriptorDMA(FD(24, 16, kULMUnsignedInteger), 32));
    EXPECT_TRUE(IsValidFieldDescriptorDMA(FD(0, 64, kULMSignedFraction), 64));
    EXPECT_FALSE(IsValidFieldDescriptorDMA(FD(0, 8, kULMFloat), 32));
    EXPECT_FALSE(IsValidFieldDescriptorDMA(FD(INT_MAX - 7, 64, kULMUnsignedFraction), INT_MAX));
}

TEST(FieldDescriptor, ChipFieldCode) {
    EXPECT_EQ(HWFieldFormat(ULMFieldDescriptor()), 0x0Fu);
    EXPECT_EQ(HWFieldFormat(FD(32, 12, kULMUnknownFormat)), sIgnoredField);
    EXPECT_EQ(HWFieldFormat(FD(0, 4, kULMUnsignedFraction)), 0u);
    EXPECT_EQ(HWFieldFormat(FD(0, 8, kULMUnsignedFraction)), 0x10u);
    EXPECT_EQ(HWFieldFormat(FD(8, 12, kULMUnsignedInteger)), 0xE2u);
    EXPECT_EQ(HWFieldFormat(FD(48, 16, kULMSignedFraction)), 0x7Cu);

    // Every valid field of a 64-bit element gets its own 8-bit code.
    std::set<unsigned> codes;
    int fields = 0;
    for (ULMFieldFormat f : {kULMUnsignedFraction, kULMSignedFraction, kULMUnsignedInteger}) {
        for (int size = 4; size <= 16; size += 4) {
            for (int pos = 0; pos + size <= 64; pos += 4) {
                const unsigned code = HWFieldFormat(FD(pos, size, f));
                EXPECT_LT(code, 256u);
                codes.insert(code);
                ++fields;
            }
        }
    }
    EXPECT_EQ(codes.size(), static_cast<size_t>(fields));

    // Nonsense descriptors still get the formula's bits, computed without
    // overflow (the sanitizer build checks that).
    EXPECT_EQ(HWFieldFormat(FD(INT_MIN, INT_MIN, kULMFloat)), 0xFFFFFFF0u);
    EXPECT_EQ(HWFieldFormat(FD(-4, 8, kULMUnsignedFraction)), 0xFFFFFFFFu);
}
