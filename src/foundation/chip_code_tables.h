// The public modes and the chip codes they are written as: one table per
// enumeration, checked at compile time to hold every public value once and
// in order, so a new enumerator cannot reach a register unmapped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "tulx7/chip_codes.h"
#include "ulm3/blend_mode.h"
#include "ulm3/context.h"
#include "ulm3/fields.h"
#include "ulm3/volume.h"

namespace ulm3 {

template <typename Public, typename Chip>
struct ULMChipCode {
    Public from;
    Chip code;
};

// Entry i maps public value i: the tables are indexed by the public value.
template <typename Public, typename Chip, size_t N>
constexpr bool ULMIndexedByPublicValue(const ULMChipCode<Public, Chip> (&inTable)[N]) {
    for (size_t i = 0; i < N; ++i)
        if (static_cast<size_t>(inTable[i].from) != i) return false;
    return true;
}

// The code of a public value, or `inOutside` for a value the table lacks
// (the setters validate, so only a broken caller gets there).
template <typename Public, typename Chip, size_t N>
constexpr Chip ULMChipCodeOf(const ULMChipCode<Public, Chip> (&inTable)[N], Public inValue, Chip inOutside) {
    const auto index = static_cast<size_t>(inValue);
    return inValue >= 0 && index < N ? inTable[index].code : inOutside;
}

inline constexpr ULMChipCode<ULMBlendMode, NKW7_BlendMode> kULMBlendCodes[] = {
    {kULMBlendNone, NKW7_BlendMode::None},
    {kULMBlendReplace, NKW7_BlendMode::Replace},
    {kULMBlendBTF, NKW7_BlendMode::BackToFront},
    {kULMBlendBTFPreWeighted, NKW7_BlendMode::BackToFrontPreWeighted},
    {kULMBlendFTB, NKW7_BlendMode::FrontToBack},
    {kULMBlendFTBPreWeighted, NKW7_BlendMode::FrontToBackPreWeighted},
    {kULMBlendSumAndCount, NKW7_BlendMode::SumAndCount},
    {kULMBlendEmptyBits, NKW7_BlendMode::EmptyBits},
    {kULMBlendMinRed, NKW7_BlendMode::MinRed},
    {kULMBlendMinGreen, NKW7_BlendMode::MinGreen},
    {kULMBlendMinBlue, NKW7_BlendMode::MinBlue},
    {kULMBlendMinAlpha, NKW7_BlendMode::MinAlpha},
    {kULMBlendMaxRed, NKW7_BlendMode::MaxRed},
    {kULMBlendMaxGreen, NKW7_BlendMode::MaxGreen},
    {kULMBlendMaxBlue, NKW7_BlendMode::MaxBlue},
    {kULMBlendMaxAlpha, NKW7_BlendMode::MaxAlpha},
};
static_assert(std::size(kULMBlendCodes) == kULMBlendMaxAlpha + 1 && ULMIndexedByPublicValue(kULMBlendCodes));
static_assert(std::size(kULMBlendCodes) == NKW7_BlendModeCount);

inline constexpr ULMChipCode<ULMContext::DepthTest, NKW7_DepthTest> kULMDepthTestCodes[] = {
    {ULMContext::kDepthTestFail, NKW7_DepthTest::Fail},
    {ULMContext::kDepthTestLess, NKW7_DepthTest::Less},
    {ULMContext::kDepthTestLessEqual, NKW7_DepthTest::LessEqual},
    {ULMContext::kDepthTestEqual, NKW7_DepthTest::Equal},
    {ULMContext::kDepthTestGreaterEqual, NKW7_DepthTest::GreaterEqual},
    {ULMContext::kDepthTestGreater, NKW7_DepthTest::Greater},
    {ULMContext::kDepthTestNotEqual, NKW7_DepthTest::NotEqual},
    {ULMContext::kDepthTestPass, NKW7_DepthTest::Pass},
};
static_assert(std::size(kULMDepthTestCodes) == ULMContext::kDepthTestPass + 1 &&
              ULMIndexedByPublicValue(kULMDepthTestCodes));
static_assert(std::size(kULMDepthTestCodes) == NKW7_DepthTestCount);

inline constexpr ULMChipCode<ULMContext::DepthCombineFunction, NKW7_DepthCombine> kULMDepthCombineCodes[] = {
    {ULMContext::kDepthCombineAll, NKW7_DepthCombine::Off},
    {ULMContext::kDepthCombineAnd, NKW7_DepthCombine::And},
    {ULMContext::kDepthCombineOr, NKW7_DepthCombine::Or},
    {ULMContext::kDepthCombineXor, NKW7_DepthCombine::Xor},
};
static_assert(std::size(kULMDepthCombineCodes) == ULMContext::kDepthCombineXor + 1 &&
              ULMIndexedByPublicValue(kULMDepthCombineCodes));
static_assert(std::size(kULMDepthCombineCodes) == NKW7_DepthCombineCount);

// The direction part of a filter; its other bits are one chip field each.
inline constexpr ULMChipCode<ULMContext::FilterTest, NKW7_DirectionFilter> kULMDirectionFilterCodes[] = {
    {ULMContext::kFilterNone, NKW7_DirectionFilter::None},
    {ULMContext::kRejectFrontFacing, NKW7_DirectionFilter::RejectFrontFacing},
    {ULMContext::kRejectBackFacing, NKW7_DirectionFilter::RejectBackFacing},
    {ULMContext::kAlwaysFail, NKW7_DirectionFilter::RejectAll},
};
static_assert(std::size(kULMDirectionFilterCodes) == ULMContext::kAlwaysFail + 1 &&
              ULMIndexedByPublicValue(kULMDirectionFilterCodes));
static_assert((ULMContext::kAlwaysFail & (ULMContext::kTestGradientMagnitude | ULMContext::kTestSampleAlpha |
                                          ULMContext::kTestAccumulatedAlpha)) == 0);

inline constexpr ULMChipCode<ULMInterpolationMode, NKW7_Interpolation> kULMInterpolationCodes[] = {
    {kULMNearestNeighbor, NKW7_Interpolation::Nearest},
    {kULMTrilinear, NKW7_Interpolation::Trilinear},
};
inline constexpr ULMChipCode<ULMInterpolationMode, NKW7_Interpolation> kULMClassifyFirstCodes[] = {
    {kULMNearestNeighbor, NKW7_Interpolation::NearestClassifyFirst},
    {kULMTrilinear, NKW7_Interpolation::TrilinearClassifyFirst},
};
static_assert(std::size(kULMInterpolationCodes) == kULMTrilinear + 1 &&
              ULMIndexedByPublicValue(kULMInterpolationCodes) && ULMIndexedByPublicValue(kULMClassifyFirstCodes));

inline constexpr ULMChipCode<ULMVolume::ExtendMode, NKW7_VoxelExtend> kULMExtendCodes[] = {
    {ULMVolume::kExtendWithBorder, NKW7_VoxelExtend::Border},
    {ULMVolume::kExtendWithEdge, NKW7_VoxelExtend::Edge},
};
static_assert(std::size(kULMExtendCodes) == ULMVolume::kExtendWithEdge + 1 &&
              ULMIndexedByPublicValue(kULMExtendCodes));

// The four formats a board reads. The integer and float formats never pass
// validation; their low bits, as the chip would read them, stand here.
inline constexpr ULMChipCode<ULMFieldFormat, NKW7_FieldControl> kULMFieldControlCodes[] = {
    {kULMUnsignedFraction, NKW7_FieldControl::UnsignedFraction},
    {kULMSignedFraction, NKW7_FieldControl::SignedFraction},
    {kULMUnsignedBitfield, NKW7_FieldControl::UnsignedBitfield},
    {kULMUnsignedInteger, NKW7_FieldControl::UnsignedInteger},
};
static_assert(std::size(kULMFieldControlCodes) == kULMUnsignedInteger + 1 &&
              ULMIndexedByPublicValue(kULMFieldControlCodes));
static_assert(std::size(kULMFieldControlCodes) == NKW7_FieldControlCount);

// The classifier's operators; those that pass an operand or a constant
// through also steer the chip's routing.
inline constexpr ULMChipCode<ULMOpcode, NKW7_AluOp> kULMAluCodes[] = {
    {kULM_Zero, NKW7_AluOp::Zero},
    {kULM_A_And_B, NKW7_AluLogic(0b0001)},
    {kULM_A_And_NotB, NKW7_AluLogic(0b0010)},
    {kULM_A, NKW7_AluOp::A},
    {kULM_NotA_And_B, NKW7_AluLogic(0b0100)},
    {kULM_B, NKW7_AluOp::B},
    {kULM_A_Xor_B, NKW7_AluLogic(0b0110)},
    {kULM_A_Or_B, NKW7_AluLogic(0b0111)},
    {kULM_A_Nor_B, NKW7_AluLogic(0b1000)},
    {kULM_A_Equiv_B, NKW7_AluLogic(0b1001)},
    {kULM_NotB, NKW7_AluLogic(0b1010)},
    {kULM_A_Or_NotB, NKW7_AluLogic(0b1011)},
    {kULM_NotA, NKW7_AluLogic(0b1100)},
    {kULM_NotA_Or_B, NKW7_AluLogic(0b1101)},
    {kULM_A_Nand_B, NKW7_AluLogic(0b1110)},
    {kULM_One, NKW7_AluOp::One},
    {kULM_A_Plus_B, NKW7_AluOp::APlusB},
    {kULM_A_Plus_OneMinusB, NKW7_AluOp::APlusNotB},
    {kULM_OneMinusA_Plus_B, NKW7_AluOp::NotAPlusB},
    {kULM_OneMinusA_Plus_OneMinusB, NKW7_AluOp::NotAPlusNotB},
    {kULM_OneMinusA_Minus_B, NKW7_AluOp::NotAMinusB},
    {kULM_B_Minus_A, NKW7_AluOp::BMinusA},
    {kULM_A_Minus_B, NKW7_AluOp::AMinusB},
    {kULM_A_Plus_B_Minus_One, NKW7_AluOp::APlusBMinusOne},
    {kULM_A_Min_B, NKW7_AluOp::AMinB},
    {kULM_A_Min_OneMinusB, NKW7_AluOp::AMinNotB},
    {kULM_OneMinusA_Min_B, NKW7_AluOp::NotAMinB},
    {kULM_OneMinusA_Min_OneMinusB, NKW7_AluOp::NotAMinNotB},
    {kULM_OneMinusA_Max_OneMinusB, NKW7_AluOp::NotAMaxNotB},
    {kULM_OneMinusA_Max_B, NKW7_AluOp::NotAMaxB},
    {kULM_A_Max_OneMinusB, NKW7_AluOp::AMaxNotB},
    {kULM_A_Max_B, NKW7_AluOp::AMaxB},
    {kULM_A_Times_B, NKW7_AluProduct(1, false, false, false)},
    {kULM_A_Times_OneMinusB, NKW7_AluProduct(1, false, true, false)},
    {kULM_OneMinusA_Times_B, NKW7_AluProduct(1, true, false, false)},
    {kULM_OneMinusA_Times_OneMinusB, NKW7_AluProduct(1, true, true, false)},
    {kULM_2X_A_Times_B, NKW7_AluProduct(2, false, false, false)},
    {kULM_2X_A_Times_OneMinusB, NKW7_AluProduct(2, false, true, false)},
    {kULM_2X_OneMinusA_Times_B, NKW7_AluProduct(2, true, false, false)},
    {kULM_2X_OneMinusA_Times_OneMinusB, NKW7_AluProduct(2, true, true, false)},
    {kULM_4X_A_Times_B, NKW7_AluProduct(4, false, false, false)},
    {kULM_4X_A_Times_OneMinusB, NKW7_AluProduct(4, false, true, false)},
    {kULM_4X_OneMinusA_Times_B, NKW7_AluProduct(4, true, false, false)},
    {kULM_4X_OneMinusA_Times_OneMinusB, NKW7_AluProduct(4, true, true, false)},
    {kULM_8X_A_Times_B, NKW7_AluProduct(8, false, false, false)},
    {kULM_8X_A_Times_OneMinusB, NKW7_AluProduct(8, false, true, false)},
    {kULM_8X_OneMinusA_Times_B, NKW7_AluProduct(8, true, false, false)},
    {kULM_8X_OneMinusA_Times_OneMinusB, NKW7_AluProduct(8, true, true, false)},
    {kULM_One_Minus_A_Times_B, NKW7_AluProduct(1, false, false, true)},
    {kULM_One_Minus_A_Times_OneMinusB, NKW7_AluProduct(1, false, true, true)},
    {kULM_One_Minus_OneMinusA_Times_B, NKW7_AluProduct(1, true, false, true)},
    {kULM_One_Minus_OneMinusA_Times_OneMinusB, NKW7_AluProduct(1, true, true, true)},
    {kULM_One_Minus_2X_A_Times_B, NKW7_AluProduct(2, false, false, true)},
    {kULM_One_Minus_2X_A_Times_OneMinusB, NKW7_AluProduct(2, false, true, true)},
    {kULM_One_Minus_2X_OneMinusA_Times_B, NKW7_AluProduct(2, true, false, true)},
    {kULM_One_Minus_2X_OneMinusA_Times_OneMinusB, NKW7_AluProduct(2, true, true, true)},
    {kULM_One_Minus_4X_A_Times_B, NKW7_AluProduct(4, false, false, true)},
    {kULM_One_Minus_4X_A_Times_OneMinusB, NKW7_AluProduct(4, false, true, true)},
    {kULM_One_Minus_4X_OneMinusA_Times_B, NKW7_AluProduct(4, true, false, true)},
    {kULM_One_Minus_4X_OneMinusA_Times_OneMinusB, NKW7_AluProduct(4, true, true, true)},
    {kULM_One_Minus_8X_A_Times_B, NKW7_AluProduct(8, false, false, true)},
    {kULM_One_Minus_8X_A_Times_OneMinusB, NKW7_AluProduct(8, false, true, true)},
    {kULM_One_Minus_8X_OneMinusA_Times_B, NKW7_AluProduct(8, true, false, true)},
    {kULM_One_Minus_8X_OneMinusA_Times_OneMinusB, NKW7_AluProduct(8, true, true, true)},
};
static_assert(std::size(kULMAluCodes) == kULM_One_Minus_8X_OneMinusA_Times_OneMinusB + 1 &&
              ULMIndexedByPublicValue(kULMAluCodes));
static_assert(std::size(kULMAluCodes) == NKW7_Code(NKW7_AluOp::ReservedFirst));

constexpr NKW7_BlendMode ULMChipBlendMode(ULMBlendMode inMode) {
    return ULMChipCodeOf(kULMBlendCodes, inMode, NKW7_BlendMode::None);
}
constexpr NKW7_DepthTest ULMChipDepthTest(ULMContext::DepthTest inTest) {
    return ULMChipCodeOf(kULMDepthTestCodes, inTest, NKW7_DepthTest::Pass);
}
constexpr NKW7_DepthCombine ULMChipDepthCombine(ULMContext::DepthCombineFunction inFunction) {
    return ULMChipCodeOf(kULMDepthCombineCodes, inFunction, NKW7_DepthCombine::Off);
}
constexpr NKW7_DirectionFilter ULMChipDirectionFilter(ULMContext::FilterTest inFilter) {
    const int32_t direction = static_cast<int32_t>(inFilter) & ULMContext::kAlwaysFail;
    return ULMChipCodeOf(kULMDirectionFilterCodes, static_cast<ULMContext::FilterTest>(direction),
                         NKW7_DirectionFilter::None);
}
constexpr NKW7_Interpolation ULMChipInterpolation(ULMInterpolationMode inMode, bool inClassifyFirst) {
    return ULMChipCodeOf(inClassifyFirst ? kULMClassifyFirstCodes : kULMInterpolationCodes, inMode,
                         NKW7_Interpolation::Nearest);
}
constexpr NKW7_VoxelExtend ULMChipExtend(ULMVolume::ExtendMode inMode) {
    return ULMChipCodeOf(kULMExtendCodes, inMode, NKW7_VoxelExtend::Border);
}
// The classifier validates its operators, so none is outside the table.
constexpr NKW7_AluOp ULMChipAluOp(ULMOpcode inOpcode) {
    return ULMChipCodeOf(kULMAluCodes, inOpcode, NKW7_AluOp::Zero);
}
inline uint32_t ULMChipAluWord(const ULMOperation& inOperation) {
    return NKW7_AluWord(ULMChipAluOp(inOperation.GetRed()), ULMChipAluOp(inOperation.GetGreen()),
                        ULMChipAluOp(inOperation.GetBlue()), ULMChipAluOp(inOperation.GetAlpha()));
}
// Formats outside the table keep their two low bits, as the chip reads them.
constexpr NKW7_FieldControl ULMChipFieldControl(ULMFieldFormat inFormat) {
    return ULMChipCodeOf(kULMFieldControlCodes, inFormat, static_cast<NKW7_FieldControl>(inFormat & 3));
}

}  // namespace ulm3
