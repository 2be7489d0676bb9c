// Field descriptors and the small value types that describe or build the
// words a board consumes: packed colours, per-channel operations, float
// colours, and the enumerations that name fields, channels and modes.
#pragma once

#include <cstdint>

namespace ulm3 {

// How the bits of a field are read. Only the unsigned and signed fractions
// and the unsigned integer are accepted where a descriptor is validated; the
// other values exist so that applications can name what they hold.
enum ULMFieldFormat : int32_t {
    kULMUnsignedFraction = 0,
    kULMSignedFraction = 1,
    kULMUnsignedBitfield = 2,
    kULMUnsignedInteger = 3,
    kULMSignedInteger = 16,
    kULMFloat = 17,
    kULMUnknownFormat = 255,
};

// A voxel holds at most four fields.
enum ULMFieldNumber : int32_t {
    kULMField0 = 0,
    kULMField1 = 1,
    kULMField2 = 2,
    kULMField3 = 3,
};

// The field of a pixel that carries each colour channel.
enum ULMChannel : int32_t {
    kULMChannelRed = 0,
    kULMChannelGreen = 1,
    kULMChannelBlue = 2,
    kULMChannelAlpha = 3,
};

// Which data a buffer keeps when it moves to another location.
enum ULMMigrationMode : int32_t {
    kULMMigrationNone = 0,
    kULMMigrationNoCopy = 1,
    kULMMigrationCopyInput = 2,
    kULMMigrationFullCopy = 3,
};

enum ULMInterpolationMode : int32_t {
    kULMNearestNeighbor = 0,
    kULMTrilinear = 1,
};

// Position, width and format of one bit field inside a voxel, pixel or
// lookup-table entry. Bit 0 is the least significant bit of the element.
// The default descriptor {0, 0, kULMUnknownFormat} stands for "no field".
struct ULMFieldDescriptor {
    ULMFieldDescriptor() = default;
    // Stores the values as given; validity is checked where a descriptor is
    // put to use, since what is valid depends on the element it describes.
    ULMFieldDescriptor(int inPos, int inSize, ULMFieldFormat inFormat)
        : m_position(inPos), m_size(inSize), m_format(inFormat) {}

    bool operator==(const ULMFieldDescriptor& other) const {
        return m_format == other.m_format && m_position == other.m_position &&
               m_size == other.m_size;
    }

    int32_t m_position = 0;
    int32_t m_size = 0;
    ULMFieldFormat m_format = kULMUnknownFormat;
};

// A packed colour word: red in bits 31..24, green 23..16, blue 15..8, alpha
// 7..0. The components are not masked, so one above 255 spills into the
// byte above it; callers that want a clean word pass 8-bit components.
inline uint32_t ULMPackRGBA(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return r << 24 | g << 16 | b << 8 | a;
}
inline uint32_t ULMGetRed(uint32_t rgba) { return rgba >> 24 & 0xFF; }
inline uint32_t ULMGetGreen(uint32_t rgba) { return rgba >> 16 & 0xFF; }
inline uint32_t ULMGetBlue(uint32_t rgba) { return rgba >> 8 & 0xFF; }
inline uint32_t ULMGetAlpha(uint32_t rgba) { return rgba & 0xFF; }

// The operation applied to two operands A and B in one colour channel.
// OneMinusX stands for 1 - X.
enum ULMOpcode : int32_t {
    // The sixteen two-input logic functions, numbered by their truth table.
    kULM_Zero = 0,
    kULM_A_And_B = 1,
    kULM_A_And_NotB = 2,
    kULM_A = 3,
    kULM_NotA_And_B = 4,
    kULM_B = 5,
    kULM_A_Xor_B = 6,
    kULM_A_Or_B = 7,
    kULM_A_Nor_B = 8,
    kULM_A_Equiv_B = 9,
    kULM_NotB = 10,
    kULM_A_Or_NotB = 11,
    kULM_NotA = 12,
    kULM_NotA_Or_B = 13,
    kULM_A_Nand_B = 14,
    kULM_One = 15,

    // Sums and differences.
    kULM_A_Plus_B = 16,
    kULM_A_Plus_OneMinusB = 17,
    kULM_OneMinusA_Plus_B = 18,
    kULM_OneMinusA_Plus_OneMinusB = 19,
    kULM_OneMinusA_Minus_B = 20,
    kULM_B_Minus_A = 21,
    kULM_A_Minus_B = 22,
    kULM_A_Plus_B_Minus_One = 23,

    // Minimum and maximum.
    kULM_A_Min_B = 24,
    kULM_A_Min_OneMinusB = 25,
    kULM_OneMinusA_Min_B = 26,
    kULM_OneMinusA_Min_OneMinusB = 27,
    kULM_OneMinusA_Max_OneMinusB = 28,
    kULM_OneMinusA_Max_B = 29,
    kULM_A_Max_OneMinusB = 30,
    kULM_A_Max_B = 31,

    // Products, with a factor of 1, 2, 4 or 8.
    kULM_A_Times_B = 32,
    kULM_A_Times_OneMinusB = 33,
    kULM_OneMinusA_Times_B = 34,
    kULM_OneMinusA_Times_OneMinusB = 35,
    kULM_2X_A_Times_B = 36,
    kULM_2X_A_Times_OneMinusB = 37,
    kULM_2X_OneMinusA_Times_B = 38,
    kULM_2X_OneMinusA_Times_OneMinusB = 39,
    kULM_4X_A_Times_B = 40,
    kULM_4X_A_Times_OneMinusB = 41,
    kULM_4X_OneMinusA_Times_B = 42,
    kULM_4X_OneMinusA_Times_OneMinusB = 43,
    kULM_8X_A_Times_B = 44,
    kULM_8X_A_Times_OneMinusB = 45,
    kULM_8X_OneMinusA_Times_B = 46,
    kULM_8X_OneMinusA_Times_OneMinusB = 47,

    // One minus those products.
    kULM_One_Minus_A_Times_B = 48,
    kULM_One_Minus_A_Times_OneMinusB = 49,
    kULM_One_Minus_OneMinusA_Times_B = 50,
    kULM_One_Minus_OneMinusA_Times_OneMinusB = 51,
    kULM_One_Minus_2X_A_Times_B = 52,
    kULM_One_Minus_2X_A_Times_OneMinusB = 53,
    kULM_One_Minus_2X_OneMinusA_Times_B = 54,
    kULM_One_Minus_2X_OneMinusA_Times_OneMinusB = 55,
    kULM_One_Minus_4X_A_Times_B = 56,
    kULM_One_Minus_4X_A_Times_OneMinusB = 57,
    kULM_One_Minus_4X_OneMinusA_Times_B = 58,
    kULM_One_Minus_4X_OneMinusA_Times_OneMinusB = 59,
    kULM_One_Minus_8X_A_Times_B = 60,
    kULM_One_Minus_8X_A_Times_OneMinusB = 61,
    kULM_One_Minus_8X_OneMinusA_Times_B = 62,
    kULM_One_Minus_8X_OneMinusA_Times_OneMinusB = 63,
};

// Four opcodes, one byte per channel. Red sits in the lowest byte, which is
// the reverse of the packed colour word: the chip's operation register is
// laid out that way.
class ULMOperation {
public:
    ULMOperation() = default;
    ULMOperation(ULMOpcode r, ULMOpcode g, ULMOpcode b, ULMOpcode a)
        : m_opcodes(Byte(r) | Byte(g) << 8 | Byte(b) << 16 | Byte(a) << 24) {}
    // The same opcode in all four channels.
    ULMOperation(ULMOpcode op) : m_opcodes(Byte(op) * 0x01010101u) {}

    ULMOpcode GetRed() const { return static_cast<ULMOpcode>(m_opcodes & 0xFF); }
    ULMOpcode GetGreen() const { return static_cast<ULMOpcode>(m_opcodes >> 8 & 0xFF); }
    ULMOpcode GetBlue() const { return static_cast<ULMOpcode>(m_opcodes >> 16 & 0xFF); }
    ULMOpcode GetAlpha() const { return static_cast<ULMOpcode>(m_opcodes >> 24); }

    bool operator==(const ULMOperation& other) const { return m_opcodes == other.m_opcodes; }

    uint32_t m_opcodes = 0;

private:
    static uint32_t Byte(ULMOpcode op) { return static_cast<uint32_t>(op) & 0xFF; }
};

// A colour with float channels, in red, green, blue, alpha order.
struct ULMRGBAFloat {
    ULMRGBAFloat() = default;
    ULMRGBAFloat(float r, float g, float b, float a)
        : m_red(r), m_green(g), m_blue(b), m_alpha(a) {}

    float m_red = 0.0f;
    float m_green = 0.0f;
    float m_blue = 0.0f;
    float m_alpha = 0.0f;
};

}  // namespace ulm3
