// Field descriptors, value conversions, colour words and enumeration checks.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <limits>
#include <set>

#include "foundation/enumeration_checks.h"
#include "foundation/field_conversions.h"
#include "ulm3.h"

using namespace ulm3;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr ULMFieldFormat UF = kULMUnsignedFraction, SF = kULMSignedFraction, UI = kULMUnsignedInteger;
ULMFieldDescriptor FD(int pos, int size, ULMFieldFormat fmt) { return {pos, size, fmt}; }
}  // namespace

TEST(FieldDescriptor, EqualityAndValidFormats) {
    EXPECT_EQ(ULMFieldDescriptor(), FD(0, 0, kULMUnknownFormat));
    EXPECT_FALSE(FD(8, 8, UF) == FD(8, 8, SF));
    EXPECT_FALSE(FD(8, 8, UF) == FD(0, 8, UF));
    EXPECT_FALSE(FD(8, 8, UF) == FD(8, 12, UF));
    for (int f = -2; f <= 300; ++f) EXPECT_EQ(IsValidFieldFormat(ULMFieldFormat(f)), f == 0 || f == 1 || f == 3) << f;
}

TEST(FieldDescriptor, Validity) {
    const struct {
        ULMFieldDescriptor fd;
        int maxBits, maxField;
        bool valid;
    } inElement[] = {
        {ULMFieldDescriptor(), 8, 16, true}, {ULMFieldDescriptor(), 0, 0, true},  // no field fits anywhere
        {FD(0, 0, UF), 8, 16, false}, {FD(4, 0, kULMUnknownFormat), 8, 16, false},
        {FD(4, 8, kULMUnsignedBitfield), 16, 16, false}, {FD(8, 8, UF), 16, 16, true}, {FD(8, 8, UF), 12, 16, false},
        {FD(4, 4, SF), 8, 16, true}, {FD(2, 8, UI), 16, 16, false}, {FD(0, 6, UI), 16, 16, false},
        {FD(0, 16, UI), 32, 12, false}, {FD(-4, 8, UI), 32, 16, false},
        // Extreme values must not overflow into acceptance.
        {FD(INT_MAX - 3, 8, UF), INT_MAX, 16, false}, {FD(INT_MIN, 8, UF), INT_MAX, 16, false},
        {FD(8, INT_MAX - 3, UF), INT_MAX, INT_MAX, false},
    };
    for (const auto& c : inElement) {
        EXPECT_EQ(IsValidFieldDescriptor(c.fd, c.maxBits, c.maxField), c.valid)
            << c.fd.m_position << "/" << c.fd.m_size << "/" << c.fd.m_format << " in " << c.maxBits << ","
            << c.maxField;
    }
    // Host transfers move whole bytes, words or quad words at a byte.
    const struct {
        ULMFieldDescriptor fd;
        int elementBits;
        bool valid;
    } dma[] = {{ULMFieldDescriptor(), 32, false}, {FD(8, 16, UI), 32, true},  {FD(4, 8, UI), 32, false},
               {FD(0, 24, UI), 32, false},        {FD(24, 16, UI), 32, false}, {FD(0, 64, SF), 64, true},
               {FD(0, 8, kULMFloat), 32, false},  {FD(INT_MAX - 7, 64, UF), INT_MAX, false}};
    for (const auto& c : dma) {
        EXPECT_EQ(IsValidFieldDescriptorDMA(c.fd, c.elementBits), c.valid)
            << c.fd.m_position << "/" << c.fd.m_size << "/" << c.fd.m_format << " in " << c.elementBits;
    }
}

TEST(FieldDescriptor, ChipFieldCode) {
    EXPECT_EQ(HWFieldFormat(ULMFieldDescriptor()), 0x0Fu);
    EXPECT_EQ(HWFieldFormat(FD(32, 12, kULMUnknownFormat)), 0x0Fu);
    EXPECT_EQ(HWFieldFormat(FD(0, 4, UF)), 0u);
    EXPECT_EQ(HWFieldFormat(FD(0, 8, UF)), 0x10u);
    EXPECT_EQ(HWFieldFormat(FD(8, 12, UI)), 0xE2u);
    EXPECT_EQ(HWFieldFormat(FD(48, 16, SF)), 0x7Cu);
    // Nonsense descriptors still get the formula's bits, computed without
    // overflow (the sanitizer build checks that).
    EXPECT_EQ(HWFieldFormat(FD(INT_MIN, INT_MIN, kULMFloat)), 0xFFFFFFF0u);
    EXPECT_EQ(HWFieldFormat(FD(-4, 8, UF)), 0xFFFFFFFFu);

    // Every valid field of a 64-bit element gets its own 8-bit code.
    std::set<unsigned> codes;
    int fields = 0;
    for (ULMFieldFormat f : {UF, SF, UI}) {
        for (int size = 4; size <= 16; size += 4) {
            for (int pos = 0; pos + size <= 64; pos += 4, ++fields) {
                const unsigned code = HWFieldFormat(FD(pos, size, f));
                EXPECT_LT(code, 256u);
                codes.insert(code);
            }
        }
    }
    EXPECT_EQ(codes.size(), static_cast<size_t>(fields));
}

TEST(FieldConversion, FractionsTo12And8BitsAndBack) {
    // Rounds half up and clamps; NaN is no colour at all and comes out dark.
    const std::pair<double, unsigned> to12[] = {{0.5, 2048},         {1.0, 4095},           {1.7, 4095}, {-0.1, 0},
                                                {0.4999 / 4095, 0},  {0.5001 / 4095, 1},    {kNaN, 0}};
    for (const auto& [x, bits] : to12) EXPECT_EQ(ULMConvertFloatTo12(x), bits) << x;
    const std::pair<double, unsigned> to8[] = {{1.0 / 255, 1}, {0.5, 128}, {-0.1, 0}, {1.7, 255}, {kInf, 255},
                                               {-kInf, 0},     {kNaN, 0}};
    for (const auto& [x, bits] : to8) EXPECT_EQ(ULMConvertFloatTo8(x), bits) << x;

    // Back to a fraction multiplies by the nearest reciprocal; the maximum
    // and anything above it is exactly 1.
    for (unsigned short x : {4095, 5000, 65535}) EXPECT_EQ(ULMConvert12ToFloat(x), 1.0) << x;
    EXPECT_EQ(ULMConvert12ToFloat(4094), 4094 * (1.0 / 4095));
    EXPECT_EQ(ULMConvert8ToFloat(0), 0.0);
    EXPECT_EQ(ULMConvert8ToFloat(254), 254 * (1.0 / 255));
    EXPECT_EQ(ULMConvert8ToFloat(255), 1.0);
    for (unsigned i = 0; i <= 4095; ++i) {
        const double f = ULMConvert12ToFloat(static_cast<unsigned short>(i));
        ASSERT_TRUE(ULMConvertFloatTo12(f) == i && f >= 0.0 && f <= 1.0) << i;
    }
    for (unsigned i = 0; i <= 255; ++i) {
        ASSERT_EQ(ULMConvertFloatTo8(ULMConvert8ToFloat(static_cast<unsigned char>(i))), i);
    }
}

TEST(FieldConversion, DoubleIntoFieldTruncatesAndSaturates) {
    const ULMFieldDescriptor green(8, 8, UF), nibble(0, 4, UF), f12(4, 12, UF);
    const struct {
        double value;
        ULMFieldDescriptor fd;
        int maxSize;
        uint64_t word;
    } cases[] = {
        {1.0, green, 32, uint64_t{255} << 8}, {0.999, nibble, 8, 14}, {2.0, nibble, 8, 15},
        {0.5, FD(48, 16, UI), 64, uint64_t{32767} << 48},
        {1.0, ULMFieldDescriptor(), 32, 0}, {1.0, FD(2, 8, UF), 32, 0}, {1.0, green, 12, 0},
        {1.0, FD(0, 20, UF), 32, 0},  // fields over 16 bits are never placed
        {-0.5, f12, 16, 0}, {-1e300, f12, 16, 0}, {kNaN, f12, 16, 0},
        {1e300, f12, 16, uint64_t{4095} << 4}, {kInf, f12, 16, uint64_t{4095} << 4},
        // A wide element can validate a field that a 64-bit word cannot hold.
        {1.0, FD(64, 8, UF), 128, 0}, {1.0, FD(56, 8, UF), 128, uint64_t{255} << 56},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ConvertDoubleToField(c.value, c.fd, c.maxSize), c.word)
            << c.value << " into " << c.fd.m_size << "@" << c.fd.m_position << " of " << c.maxSize;
    }
}

TEST(ColourWords, PackedRGBAAndOperations) {
    // Red on top, and no masking: a wide component spills over.
    const uint32_t w = ULMPackRGBA(1, 2, 3, 4);
    EXPECT_EQ(w, 0x01020304u);
    EXPECT_EQ(ULMGetRed(w) * 1000 + ULMGetGreen(w) * 100 + ULMGetBlue(w) * 10 + ULMGetAlpha(w), 1234u);
    EXPECT_EQ(ULMPackRGBA(0, 0, 0x1FF, 0), 0x0001FF00u);
    EXPECT_EQ(ULMPackRGBA(0x1FF, 0, 0, 0), 0xFF000000u);
    EXPECT_EQ(ULMGetRed(0xFFFFFFFFu), 255u);

    // An operation keeps red in the low byte.
    EXPECT_EQ(ULMOperation().m_opcodes, 0u);
    EXPECT_EQ(ULMOperation(kULM_A_Plus_B).m_opcodes, 0x10101010u);
    EXPECT_EQ(ULMOperation(kULM_One_Minus_8X_OneMinusA_Times_OneMinusB).m_opcodes, 0x3F3F3F3Fu);
    const ULMOperation op(kULM_A, kULM_B, kULM_Zero, kULM_One);
    EXPECT_EQ(op.m_opcodes, 0x0F000503u);
    EXPECT_TRUE(op.GetRed() == kULM_A && op.GetGreen() == kULM_B && op.GetBlue() == kULM_Zero &&
                op.GetAlpha() == kULM_One);
    EXPECT_EQ(ULMOperation(kULM_A_Min_B), ULMOperation(kULM_A_Min_B, kULM_A_Min_B, kULM_A_Min_B, kULM_A_Min_B));
    EXPECT_FALSE(op == ULMOperation(kULM_One, kULM_Zero, kULM_B, kULM_A));
    // Out-of-range opcodes stay inside their own byte.
    EXPECT_EQ(ULMOperation(static_cast<ULMOpcode>(0x1FF), kULM_Zero, kULM_Zero, kULM_Zero).m_opcodes, 0xFFu);
}

TEST(EnumerationChecks, RangeTestsOnTheIntegerValue) {
    for (int v = -3; v <= 8; ++v) {
        const bool in0to3 = v >= 0 && v <= 3;
        EXPECT_EQ(ValidMigrationMode(static_cast<ULMMigrationMode>(v)), in0to3) << v;
        EXPECT_EQ(IsValidVoxelFieldNumber(static_cast<ULMFieldNumber>(v)), in0to3) << v;
        EXPECT_EQ(ULMValidChannel(static_cast<ULMChannel>(v)), in0to3) << v;
        EXPECT_EQ(ValidInterpolationMode(static_cast<ULMInterpolationMode>(v)), v == 0 || v == 1) << v;
        // Access requests are 1 to 6 (0 is no control); 3 and up write.
        EXPECT_EQ(ULMAccessIsValid(static_cast<ULMAccessType>(v)), v >= 1 && v <= 6) << v;
        if (v >= 1 && v <= 6) {
            EXPECT_EQ(ULMAccessIsWrite(static_cast<ULMAccessType>(v)), v >= 3) << v;
        }
    }
    EXPECT_FALSE(IsValidVoxelFieldNumber(static_cast<ULMFieldNumber>(INT32_MIN)));
    EXPECT_FALSE(ULMValidChannel(static_cast<ULMChannel>(INT32_MAX)));
}
