#include "buffers/image_pass_steps.h"

#include "foundation/diagnostics.h"
#include "foundation/field_conversions.h"
#include "foundation/fixed_point.h"
#include "tulx7/chip_codes.h"

namespace ulm3 {
namespace {

// Positions keep 17 fraction bits: the chip resolves less than that anyway,
// and truncating here makes every pass of one geometry agree to the bit.
constexpr uint64_t kPositionMask = 0xFFFFFFFFFF800000;

int64_t PackPosition(double inValue) {
    const uint64_t packed =
        static_cast<uint64_t>(ULMRationalPackFixedPoint<int64_t>(inValue, 40, 0, kULMTrunc));
    return static_cast<int64_t>(packed & kPositionMask);
}

}  // namespace

ULMImagePassStep ULMImagePassStepOf(int32_t inSourceOrigin, int32_t inSourceSize, int32_t inDestinationOrigin,
                                    int32_t inDestinationSize) {
    ULMImagePassStep step{};
    double spacing = static_cast<double>(inSourceSize) / inDestinationSize;
    step.spacing = PackPosition(spacing);
    spacing = static_cast<double>(step.spacing) / kULMFixedScale2340;
    ULM_ASSERT(spacing <= 2.0);
    // Destination pixel centres map onto source pixel centres.
    step.origin =
        PackPosition((spacing - 1.0) * 0.5 + inSourceOrigin - inDestinationOrigin * spacing);
    const int64_t tiles = static_cast<int64_t>(33.0 * kULMFixedScale2340 / static_cast<double>(step.spacing));
    step.section = (tiles + 1) / 4 - 1;
    return step;
}

uint32_t ULMImageFieldCodes(const ULMImageBuffer& inImage) {
    uint32_t codes = 0;
    for (int i = 0; i < 4; ++i)
        codes |= NKW7_FieldCodeAt(HWFieldFormat(inImage.GetFieldDescriptor(static_cast<ULMChannel>(i))), i);
    return codes;
}

void ULMRouteFieldsStraight(ULMImagePassValues& ioValues) {
    constexpr uint32_t kTwelveBits = NKW7_FieldCode(NKW7_Code(NKW7_FieldControl::UnsignedFraction), 12, 0);
    for (uint32_t& format : ioValues.lookupTableFormat) format = NKW7_SameFieldCodes(kTwelveBits);
    using Op = NKW7_AluOp;
    ioValues.alu[0] = NKW7_AluWord(Op::A, Op::B, Op::Zero, Op::Zero);
    ioValues.alu[1] = NKW7_AluWord(Op::Zero, Op::Zero, Op::A, Op::B);
    ioValues.alu[2] = NKW7_AluWord(Op::A, Op::A, Op::B, Op::B);
}

}  // namespace ulm3
