// The codes the chip's register fields carry, by name, and the setter that
// places a value in a named field: the counterpart of NKW7_ExtractField. The
// library builds its register words from these and the simulated chip
// switches on the same names, so the two read one description.
#pragma once

#include <cstdint>
#include <type_traits>

#include "tulx7/register_map.h"

// A register's word type: 64-bit registers take uint64_t, the rest uint32_t.
template <int Width>
using NKW7_Word = std::conditional_t<(Width > 32), uint64_t, uint32_t>;

// `value` in the field at lowBit of sizeBits bits; bits of the value beyond
// the field are dropped rather than spilt into the next field.
template <int Width>
constexpr NKW7_Word<Width> NKW7_PlaceField(uint64_t value, int lowBit, int sizeBits) {
    const uint64_t kept = sizeBits >= 64 ? value : value & ((uint64_t{1} << sizeBits) - 1);
    return static_cast<NKW7_Word<Width>>(lowBit >= 64 ? 0 : kept << lowBit);
}

// The code of a named enumerator, for registers and for case labels. The
// chip's inner loops compare codes through it, so even unoptimised builds
// inline it.
template <typename Code>
    requires std::is_enum_v<Code>
[[gnu::always_inline]] constexpr std::underlying_type_t<Code> NKW7_Code(Code code) {
    return static_cast<std::underlying_type_t<Code>>(code);
}

// NKW7_FIELD(ImageControl, blendAccum, mode) is the ImageControl word with
// only that field set. Several fields combine with |.
#define NKW7_FIELD(reg, field, value)                                                         \
    NKW7_PlaceField<NKW7_##reg##_Size>(static_cast<uint64_t>(value), NKW7_##reg##_##field##_LoBit, \
                                       NKW7_##reg##_##field##_Size)

// Where the index-th of a run of equally spaced fields named first, second,
// ... starts (the four fields of a format word, the cut planes' bits): the
// spacing is read from the first two.
#define NKW7_FIELD_LOBIT_AT(reg, first, second, index) \
    (NKW7_##reg##_##first##_LoBit + (index) * (NKW7_##reg##_##second##_LoBit - NKW7_##reg##_##first##_LoBit))

// The word with the index-th field of such a run set.
#define NKW7_FIELD_AT(reg, first, second, index, value)                                                 \
    NKW7_PlaceField<NKW7_##reg##_Size>(static_cast<uint64_t>(value), NKW7_FIELD_LOBIT_AT(reg, first, second, index), \
                                       NKW7_##reg##_##first##_Size)

// ---------------------------------------------------------------------------
// ImageControl.blendAccum and .blendLast. 16 .. 63 are reserved: they leave
// the accumulation alone.
enum class NKW7_BlendMode : uint32_t {
    None = 0,
    Replace = 1,
    BackToFront = 2,
    BackToFrontPreWeighted = 3,
    FrontToBack = 4,
    FrontToBackPreWeighted = 5,
    SumAndCount = 6,
    EmptyBits = 7,
    MinRed = 8,
    MinGreen = 9,
    MinBlue = 10,
    MinAlpha = 11,
    MaxRed = 12,
    MaxGreen = 13,
    MaxBlue = 14,
    MaxAlpha = 15,
};
inline constexpr uint32_t NKW7_BlendModeCount = 16;

// ImageControl.write and the render's write mask: which images are stored.
enum class NKW7_ImageWrite : uint32_t {
    None = 0,
    Image0 = 1,
    Image1 = 2,
    Both = 3,
};

// DepthControl.testFirst and .testLast: a sample's depth against the
// element's initial depth.
enum class NKW7_DepthTest : uint32_t {
    Fail = 0,
    Less = 1,
    LessEqual = 2,
    Equal = 3,
    GreaterEqual = 4,
    Greater = 5,
    NotEqual = 6,
    Pass = 7,
};
inline constexpr uint32_t NKW7_DepthTestCount = 8;

// DepthControl.action: how the two tests combine; Off takes every sample.
enum class NKW7_DepthCombine : uint32_t {
    Off = 0,
    And = 1,
    Or = 2,
    Xor = 3,
};
inline constexpr uint32_t NKW7_DepthCombineCount = 4;

// The direction part of an update filter (DepthControl.update*_direction,
// ImageControl.filter_direction); the other parts are one bit each.
enum class NKW7_DirectionFilter : uint32_t {
    None = 0,
    RejectFrontFacing = 1,
    RejectBackFacing = 2,
    RejectAll = 3,
};

// InterpolateControl.interpolate0 .. 3 and interpolateGradient: bit 0
// interpolates, bit 1 classifies before interpolating.
enum class NKW7_Interpolation : uint32_t {
    Nearest = 0,
    Trilinear = 1,
    NearestClassifyFirst = 2,
    TrilinearClassifyFirst = 3,
};

// InterpolateControl.voxelExtendX .. Z: what a fetch outside the volume range
// reads. Codes above Edge are reserved.
enum class NKW7_VoxelExtend : uint32_t {
    Border = 0,
    Edge = 1,
};

// GradientControl.estimationFunction. Codes above Forward are reserved.
enum class NKW7_GradientEstimation : uint32_t {
    Zero = 0,
    Central = 1,
    Forward = 2,
};

// *ArrayDimensions.dimension: how many axes an array has. Reserved reads as
// three.
enum class NKW7_ArrayDimension : uint32_t {
    OneAxis = 0,
    TwoAxes = 1,
    ThreeAxes = 2,
    Reserved = 3,
};

// RenderOperation.bypass0 .. 3: whether a field skips its lookup table.
enum class NKW7_TableBypass : uint32_t {
    Lookup = 0,
    Bypass = 1,
};

// RenderOperation.opcode: only Render starts work on the chip.
enum class NKW7_RenderOpcode : uint32_t {
    Idle = 0,
    Render = 1,
};

// RenderOperation.incrOnDone: None bumps nothing; the codes from
// NKW7_IncrOnDoneScratch(0) on add 1 to Scratch0 .. Scratch7 when the render
// ends; the codes between are reserved.
inline constexpr uint32_t NKW7_IncrOnDone_None = 0;
inline constexpr int NKW7_IncrOnDoneScratchCount = 8;
constexpr uint32_t NKW7_IncrOnDoneScratch(int scratch) { return 8 + static_cast<uint32_t>(scratch); }
static_assert(NKW7_IncrOnDoneScratch(NKW7_IncrOnDoneScratchCount - 1) ==
              (1u << NKW7_RenderOperation_incrOnDone_Size) - 1);

// Alu0 .. Alu2, one operator per channel (redOp .. alphaOp) on operands a and
// b. 0 .. 15 are the bitwise functions numbered by their truth table
// (bit 3: neither, 2: b only, 1: a only, 0: both); from ProductFirst the
// codes are products, (code - ProductFirst) & 3 choosing the complements as
// the sums do, ((code - ProductFirst) >> 2) & 3 the scale 1, 2, 4 or 8, and
// from OneMinusProductFirst one minus them; ReservedFirst and above give 0.
enum class NKW7_AluOp : uint32_t {
    Zero = 0,
    A = 3,
    B = 5,
    One = 15,
    APlusB = 16,
    APlusNotB = 17,
    NotAPlusB = 18,
    NotAPlusNotB = 19,
    NotAMinusB = 20,
    BMinusA = 21,
    AMinusB = 22,
    APlusBMinusOne = 23,
    AMinB = 24,
    AMinNotB = 25,
    NotAMinB = 26,
    NotAMinNotB = 27,
    NotAMaxNotB = 28,
    NotAMaxB = 29,
    AMaxNotB = 30,
    AMaxB = 31,
    ProductFirst = 32,
    OneMinusProductFirst = 48,
    ReservedFirst = 64,
};

// A bitwise operator by its truth table: bit 3 set where neither a nor b is
// set, bit 2 where b only, bit 1 where a only, bit 0 where both.
constexpr NKW7_AluOp NKW7_AluLogic(uint32_t truthTable) { return static_cast<NKW7_AluOp>(truthTable & 15u); }

// A product scaled by 1, 2, 4 or 8 of a (or 1 - a) and b (or 1 - b), or one
// minus it.
constexpr NKW7_AluOp NKW7_AluProduct(uint32_t scale, bool complementA, bool complementB, bool oneMinus) {
    const uint32_t scaleCode = scale >= 8 ? 3u : scale >= 4 ? 2u : scale >= 2 ? 1u : 0u;
    const uint32_t first = NKW7_Code(oneMinus ? NKW7_AluOp::OneMinusProductFirst : NKW7_AluOp::ProductFirst);
    return static_cast<NKW7_AluOp>(first + 4 * scaleCode + (complementA ? 2u : 0u) + (complementB ? 1u : 0u));
}
static_assert(NKW7_AluLogic(0b0011) == NKW7_AluOp::A && NKW7_AluLogic(0b0101) == NKW7_AluOp::B);
static_assert(NKW7_Code(NKW7_AluProduct(8, true, true, true)) + 1 == NKW7_Code(NKW7_AluOp::ReservedFirst));

// An ALU word: the four channels' operators.
constexpr uint32_t NKW7_AluWord(NKW7_AluOp red, NKW7_AluOp green, NKW7_AluOp blue, NKW7_AluOp alpha) {
    return NKW7_FIELD(Alu0, redOp, red) | NKW7_FIELD(Alu0, greenOp, green) | NKW7_FIELD(Alu0, blueOp, blue) |
           NKW7_FIELD(Alu0, alphaOp, alpha);
}

// ---------------------------------------------------------------------------
// Field codes: one byte per field of a voxel, image or table entry (the
// format words VoxelFormat, Image*FieldSel, LookupTableFormat*): control in
// 7..6, size in 5..4 (4 bits times one more than the code), position in 3..0
// (4 bits times the code). NoField reads 0 and is never written.
enum class NKW7_FieldControl : uint32_t {
    UnsignedFraction = 0,
    SignedFraction = 1,
    UnsignedBitfield = 2,
    UnsignedInteger = 3,
};
inline constexpr uint32_t NKW7_FieldControlCount = 4;
inline constexpr uint32_t NKW7_NoFieldCode = 0x0F;
inline constexpr int NKW7_FieldCodeBits = 8;
inline constexpr uint32_t NKW7_FieldCodeMask = 0xFF;

// The code of a field of `control`, `sizeBits` wide at bit `positionBits`.
// The arithmetic is unsigned so that nonsense sizes give bits, not overflow;
// callers validate first.
constexpr uint32_t NKW7_FieldCode(uint32_t control, uint32_t sizeBits, int32_t positionBits) {
    return (control & 3u) << 6 | (sizeBits - 4u) << 2 | static_cast<uint32_t>(positionBits >> 2);
}
constexpr uint32_t NKW7_FieldCodeControl(uint32_t code) { return (code >> 6) & 3u; }
constexpr uint32_t NKW7_FieldCodeSizeBits(uint32_t code) { return 4 * (((code >> 4) & 3u) + 1); }
constexpr uint32_t NKW7_FieldCodeShift(uint32_t code) { return 4 * (code & 0xFu); }

// A format word of four field codes, field i in byte i.
constexpr uint32_t NKW7_FieldCodeAt(uint32_t code, int index) {
    return (code & NKW7_FieldCodeMask) << (NKW7_FieldCodeBits * index);
}
constexpr uint32_t NKW7_FieldCodeOf(uint64_t formatWord, int index) {
    return static_cast<uint32_t>(formatWord >> (NKW7_FieldCodeBits * index)) & NKW7_FieldCodeMask;
}
// A format word whose four fields all carry `code`.
constexpr uint32_t NKW7_SameFieldCodes(uint32_t code) {
    return NKW7_FieldCodeAt(code, 0) | NKW7_FieldCodeAt(code, 1) | NKW7_FieldCodeAt(code, 2) |
           NKW7_FieldCodeAt(code, 3);
}
inline constexpr uint32_t NKW7_NoFields = NKW7_SameFieldCodes(NKW7_NoFieldCode);

static_assert(NKW7_FieldCode(NKW7_Code(NKW7_FieldControl::UnsignedFraction), 16, 8) == 0x32);
static_assert(NKW7_FieldCodeSizeBits(NKW7_FieldCode(1, 12, 4)) == 12 && NKW7_FieldCodeShift(0x32) == 8);
