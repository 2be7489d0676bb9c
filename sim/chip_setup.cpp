// Register decoding: one pass over the register file into the flat Setup.
#include "chip_setup.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tulx7/driver_requests.h"
#include "tulx7/chip_codes.h"
#include "tulx7/register_map.h"

namespace tulx7sim::chip {

namespace {

int64_t Signed64(const RegisterFile& registers, uint32_t address) {
    return static_cast<int64_t>(Reg64(registers, address));
}
int32_t Signed32(const RegisterFile& registers, uint32_t address) {
    return static_cast<int32_t>(Reg32(registers, address));
}
uint32_t Bits(uint64_t word, int lowBit, int size) {
    return static_cast<uint32_t>(NKW7_ExtractField(word, lowBit, size));
}
#define CHIP_FIELD(word, reg, field) Bits(word, NKW7_##reg##_##field##_LoBit, NKW7_##reg##_##field##_Size)

// (a * b) >> 40 with an arithmetic shift, exact for any 128-bit a whose
// top 40 bits are sign (far beyond a 16-bit grid times a 64-bit step).
Wide MulShift40(Wide a, int64_t b) {
    const Wide high = a >> 40;
    const Wide low = a & ((Wide{1} << 40) - 1);
    return high * b + ((low * b) >> 40);
}

// Four 12-bit fractions at 15..4, 31..20, 47..36 and 63..52.
Rgba ColourValue(uint64_t word) {
    Rgba colour;
    for (int k = 0; k < 4; ++k)
        colour.c[k] = static_cast<float>((word >> (16 * k + 4)) & 0xFFF) / 4095.0f;
    return colour;
}

// Entry e of a table is the e-th little-endian word of its buffer, its
// channels decoded by `decode`; an unbound table has no valid entries.
template <typename DecodeEntry>
Table ExpandTable(const BoundTable& bound, size_t entries, DecodeEntry decode) {
    Table table;
    table.entries.assign(entries, Rgba{});
    if (!bound.bound || bound.data == nullptr) return table;
    table.valid = std::min<size_t>({entries, bound.validEntries, bound.byteCount / 8});
    for (size_t e = 0; e < table.valid; ++e) {
        uint64_t word = 0;
        std::memcpy(&word, bound.data + 8 * e, 8);
        table.entries[e] = decode(word);
    }
    return table;
}

// A classification table: its channels decoded by the table's field codes.
Table ClassificationTable(const BoundTable& bound, size_t entries, uint32_t format) {
    const Fields fields(format);
    return ExpandTable(bound, entries, [&](uint64_t word) {
        Rgba entry;
        for (int k = 0; k < 4; ++k)
            entry.c[k] = static_cast<float>(fields.code[k].Read(word)) / static_cast<float>(kFull);
        return entry;
    });
}

// Reflectance maps, the magnitude table and the alpha correction table hold
// 12-bit fractions in the lanes of a colour value.
Table FractionTable(const BoundTable& bound, size_t entries) {
    return ExpandTable(bound, entries, ColourValue);
}

// A sign-and-magnitude fraction: sign at bit `bits`, magnitude below it.
float SignMagnitude(uint32_t field, int bits) {
    const uint32_t top = (1u << bits) - 1;
    const float magnitude = static_cast<float>(field & top) / static_cast<float>(top);
    return (field >> bits) & 1 ? -magnitude : magnitude;
}

SampleTests Tests(uint32_t direction, uint32_t sampleAlpha, uint32_t accumulatedAlpha,
                  uint32_t gradientMagnitude) {
    SampleTests tests;
    tests.direction = direction;
    tests.sampleAlpha = sampleAlpha != 0;
    tests.accumulatedAlpha = accumulatedAlpha != 0;
    tests.gradientMagnitude = gradientMagnitude != 0;
    return tests;
}

// Whether the tests need the sample's gradient.
bool NeedsGradient(const SampleTests& tests) {
    return tests.gradientMagnitude || tests.direction == NKW7_Code(NKW7_DirectionFilter::RejectFrontFacing) ||
           tests.direction == NKW7_Code(NKW7_DirectionFilter::RejectBackFacing);
}

// Channel c's operator of an ALU word.
uint32_t AluOp(uint32_t word, int c) {
    return static_cast<uint32_t>(NKW7_ExtractField(word, NKW7_FIELD_LOBIT_AT(Alu0, redOp, greenOp, c),
                                                   NKW7_Alu0_redOp_Size));
}

// The words several steps read.
struct ControlWords {
    uint32_t imageControl;
    uint32_t operation;
    uint32_t interpolate;
};

std::string LoadSlots(const RenderJob& job, const RegisterFile& r, Setup& s) {
    static constexpr chip::ArrayRegisterAddresses kVolume = {
        NKW7_VolumeArraySize_Addr, NKW7_VolumeArrayOffsetModulus_Addr,
        NKW7_VolumeArrayDimensions_Addr, NKW7_VolumeRangeMin_Addr, NKW7_VolumeRangeMax_Addr};
    static constexpr chip::ArrayRegisterAddresses kImages[2] = {
        {NKW7_Image0ArraySize_Addr, NKW7_Image0ArrayOffsetModulus_Addr,
         NKW7_Image0ArrayDimensions_Addr, NKW7_Image0InitRangeMin_Addr, NKW7_Image0InitRangeMax_Addr},
        {NKW7_Image1ArraySize_Addr, NKW7_Image1ArrayOffsetModulus_Addr,
         NKW7_Image1ArrayDimensions_Addr, NKW7_Image1InitRangeMin_Addr, NKW7_Image1InitRangeMax_Addr}};
    if (!s.volume.Load(r, kVolume, job.volume)) return "volume element size is not 1, 2, 4 or 8 bytes";
    for (int slot = 0; slot < 2; ++slot)
        if (!s.image[slot].Load(r, kImages[slot], slot == 0 ? job.image0 : job.image1))
            return slot == 0 ? "image 0 element size is not 1, 2, 4 or 8 bytes"
                             : "image 1 element size is not 1, 2, 4 or 8 bytes";
    static constexpr chip::ArrayRegisterAddresses kDepths[2] = {
        {NKW7_Depth0ArraySize_Addr, NKW7_Depth0ArrayOffsetModulus_Addr,
         NKW7_Depth0ArrayDimensions_Addr, NKW7_Depth0InitRangeMin_Addr, NKW7_Depth0InitRangeMax_Addr},
        {NKW7_Depth1ArraySize_Addr, NKW7_Depth1ArrayOffsetModulus_Addr,
         NKW7_Depth1ArrayDimensions_Addr, NKW7_Depth1InitRangeMin_Addr, NKW7_Depth1InitRangeMax_Addr}};
    for (int slot = 0; slot < 2; ++slot) {
        if (!s.depth[slot].Load(r, kDepths[slot], slot == 0 ? job.depth0 : job.depth1))
            return slot == 0 ? "depth 0 element size is not 1, 2, 4 or 8 bytes"
                             : "depth 1 element size is not 1, 2, 4 or 8 bytes";
    }
    return {};
}

std::string DecodeTransform(const RegisterFile& r, Setup& s) {
    const uint32_t transform = Reg32(r, NKW7_Transform_Addr);
    const uint32_t selects[3] = {CHIP_FIELD(transform, Transform, selectX),
                                 CHIP_FIELD(transform, Transform, selectY),
                                 CHIP_FIELD(transform, Transform, selectZ)};
    if ((1u << selects[0] | 1u << selects[1] | 1u << selects[2]) != 7u)
        return "transform selects are not a permutation of the three axes";
    for (int a = 0; a < 3; ++a) {
        s.select[a] = static_cast<int>(selects[a]);
        s.negate[a] = ((transform >> a) & 1) != 0;
    }
    return {};
}

void DecodeImageControl(const RenderJob& job, const RegisterFile& r, const ControlWords& words, Setup& s) {
    const uint32_t imageControl = words.imageControl;
    s.initAccum = CHIP_FIELD(imageControl, ImageControl, initAccum) != 0;
    s.initLast = CHIP_FIELD(imageControl, ImageControl, initLast) != 0;
    s.write = CHIP_FIELD(imageControl, ImageControl, write);
    s.volumeOutput = CHIP_FIELD(imageControl, ImageControl, dimensions) != 0;
    s.blendAccum = CHIP_FIELD(imageControl, ImageControl, blendAccum);
    s.blendLast = CHIP_FIELD(imageControl, ImageControl, blendLast);
    s.accumValue = ColourValue(Reg64(r, NKW7_ImageAccumValue_Addr));
    s.lastValue = ColourValue(Reg64(r, NKW7_ImageLastValue_Addr));
    s.imageFields[0] = Fields(Reg32(r, NKW7_Image0FieldSel_Addr));
    s.imageFields[1] = Fields(Reg32(r, NKW7_Image1FieldSel_Addr));
    s.writeMask = job.writeMask;
}

void DecodeFrustumAndTrims(const RegisterFile& r, Setup& s) {
    const uint64_t frustumMin = Reg64(r, NKW7_ViewFrustumRangeMin_Addr);
    const uint64_t frustumMax = Reg64(r, NKW7_ViewFrustumRangeMax_Addr);
    for (int a = 0; a < 3; ++a) {
        s.frustumMin[a] = static_cast<uint32_t>((frustumMin >> (16 * a)) & 0xFFFF);
        s.frustumMax[a] = static_cast<uint32_t>((frustumMax >> (16 * a)) & 0xFFFF);
    }
    const uint32_t trimAddresses[3][2] = {{NKW7_TrimRangeXmin_Addr, NKW7_TrimRangeXmax_Addr},
                                          {NKW7_TrimRangeYmin_Addr, NKW7_TrimRangeYmax_Addr},
                                          {NKW7_TrimRangeZmin_Addr, NKW7_TrimRangeZmax_Addr}};
    for (int a = 0; a < 3; ++a) {
        s.trimMin[a] = Signed32(r, trimAddresses[a][0]);
        s.trimMax[a] = Signed32(r, trimAddresses[a][1]);
    }
}

// Interpolation, extension and the voxel fields; returns the reserved codes
// found, which this chip reads as another.
uint64_t DecodeFetch(const RegisterFile& r, const ControlWords& words, Setup& s) {
    uint64_t reserved = 0;
    const uint32_t interpolate = words.interpolate;
    for (int i = 0; i < 4; ++i) {
        const uint32_t code = NKW7_ExtractField(
            interpolate, NKW7_FIELD_LOBIT_AT(InterpolateControl, interpolate0, interpolate1, i),
            NKW7_InterpolateControl_interpolate0_Size);
        const bool known = code <= NKW7_Code(NKW7_Interpolation::TrilinearClassifyFirst);
        s.trilinear[i] = (code & NKW7_Code(NKW7_Interpolation::Trilinear)) != 0 || !known;
        s.classifyFirst[i] = code == NKW7_Code(NKW7_Interpolation::TrilinearClassifyFirst);
        reserved += !known;
    }
    const uint32_t extendCodes[3] = {CHIP_FIELD(interpolate, InterpolateControl, voxelExtendX),
                                     CHIP_FIELD(interpolate, InterpolateControl, voxelExtendY),
                                     CHIP_FIELD(interpolate, InterpolateControl, voxelExtendZ)};
    for (int a = 0; a < 3; ++a) {
        s.extend[a] = extendCodes[a] == NKW7_Code(NKW7_VoxelExtend::Edge);
        reserved += extendCodes[a] > NKW7_Code(NKW7_VoxelExtend::Edge);
    }
    s.voxelFields = Fields(static_cast<uint32_t>(Reg64(r, NKW7_VoxelFormat_Addr)));
    s.voxelBorder = Reg64(r, NKW7_VoxelBorder_Addr);
    for (int i = 0; i < 4; ++i) {
        if (!s.voxelFields.code[i].present) continue;
        (s.trilinear[i] ? s.anyTrilinear : s.anyNearest) = true;
    }
    return reserved;
}

// The lookup tables the fields go through and the ALU words; returns the
// reserved ALU codes.
uint64_t DecodeClassification(const RenderJob& job, const RegisterFile& r, const ControlWords& words, Setup& s) {
    const uint32_t tableFormats[4] = {NKW7_LookupTableFormat0_Addr, NKW7_LookupTableFormat1_Addr,
                                      NKW7_LookupTableFormat2_Addr, NKW7_LookupTableFormat3_Addr};
    for (int i = 0; i < 4; ++i) {
        const uint32_t bypass = NKW7_ExtractField(
            words.operation, NKW7_FIELD_LOBIT_AT(RenderOperation, bypass0, bypass1, i),
            NKW7_RenderOperation_bypass0_Size);
        s.bypass[i] = bypass != NKW7_Code(NKW7_TableBypass::Lookup);
        if (!s.bypass[i])
            s.table[i] = ClassificationTable(job.tables[static_cast<size_t>(i)], i == 3 ? 4096 : 256,
                                             Reg32(r, tableFormats[i]));
    }
    uint64_t reserved = 0;
    const uint32_t aluAddresses[3] = {NKW7_Alu0_Addr, NKW7_Alu1_Addr, NKW7_Alu2_Addr};
    for (int k = 0; k < 3; ++k) {
        s.alu[k] = Reg32(r, aluAddresses[k]);
        for (int c = 0; c < 4; ++c) reserved += AluOp(s.alu[k], c) >= NKW7_Code(NKW7_AluOp::ReservedFirst);
    }
    return reserved;
}

// Channels whose ALUs only pass a field or a constant through are resolved
// once, so the samples skip the ALUs.
void RouteAlus(Setup& s) {
    constexpr uint32_t kA = NKW7_Code(NKW7_AluOp::A), kB = NKW7_Code(NKW7_AluOp::B);
    s.routed = true;
    for (int c = 0; c < 4; ++c) {
        const uint32_t last = AluOp(s.alu[2], c);
        uint32_t op = last;
        int pair = 0;  // the first-stage ALU the last one routes from
        if (last == kA || last == kB) {
            pair = last == kA ? 0 : 1;
            op = AluOp(s.alu[pair], c);
        }
        if (op == NKW7_Code(NKW7_AluOp::Zero) || op == NKW7_Code(NKW7_AluOp::One)) {
            s.route[c] = -1;
            s.constant[c] = op == NKW7_Code(NKW7_AluOp::One) ? 1.0f : 0.0f;
        } else if ((op == kA || op == kB) && (last == kA || last == kB)) {
            s.route[c] = 2 * pair + (op == kA ? 0 : 1);
            s.fieldNeeded[s.route[c]] = true;
        } else {
            s.routed = false;
        }
    }
    for (int i = 0; i < 4; ++i)
        if (!s.bypass[i] && s.table[i].valid < s.table[i].entries.size()) s.fieldNeeded[i] = true;
    for (int i = 0; i < 4; ++i) s.routed = s.routed && !s.classifyFirst[i];
}

// The stale registers of the passes (SpecularColor) are read only when a
// stage that every pass leaves off asks for them.
void DecodeLighting(const RenderJob& job, const RegisterFile& r, const ControlWords& words, Setup& s) {
    const uint32_t lighting = Reg32(r, NKW7_LightingCoefficient_Addr);
    s.emissive = static_cast<float>(CHIP_FIELD(lighting, LightingCoefficient, kEmissive)) / 255.0f;
    s.diffuse = static_cast<float>(CHIP_FIELD(lighting, LightingCoefficient, kDiffuse)) / 255.0f;
    s.specular = static_cast<float>(CHIP_FIELD(lighting, LightingCoefficient, kSpecular)) / 255.0f;
    s.opacityWeight = CHIP_FIELD(words.operation, RenderOperation, opacityWeight) != 0;
    if (s.specular != 0.0f || s.opacityWeight) {
        const uint64_t specular = Reg64(r, NKW7_SpecularColor_Addr);
        s.specularColour = ColourValue(specular);
        s.opacityWeightSpecular = CHIP_FIELD(specular, SpecularColor, opacityWeightSpec) != 0;
    }
    const uint64_t eye = Reg64(r, NKW7_EyeVector_Addr);
    const float e[3] = {SignMagnitude(CHIP_FIELD(eye, EyeVector, u), 9),
                        SignMagnitude(CHIP_FIELD(eye, EyeVector, v), 9),
                        SignMagnitude(CHIP_FIELD(eye, EyeVector, w), 9)};
    const float length = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
    for (int a = 0; a < 3 && length > 0.0f; ++a) s.eye[a] = e[a] / length;
    s.bypassReflection = CHIP_FIELD(eye, EyeVector, bypassRefVec) != 0;
    s.specularFrontOnly = CHIP_FIELD(eye, EyeVector, specFrontFacingOnly) != 0;
    if (s.diffuse != 0.0f) s.diffuseMap = FractionTable(job.tables[5], 384);
    if (s.specular != 0.0f) s.specularMap = FractionTable(job.tables[4], 384);
}

// Magnitude modulation; returns whether any of it is on.
bool DecodeModulation(const RenderJob& job, const RegisterFile& r, Setup& s) {
    const uint32_t modulation = Reg32(r, NKW7_GradientMagnitudeModulation_Addr);
    s.modulate[0] = CHIP_FIELD(modulation, GradientMagnitudeModulation, modulateOpacity) != 0;
    s.modulate[1] = CHIP_FIELD(modulation, GradientMagnitudeModulation, modulateEmissive) != 0;
    s.modulate[2] = CHIP_FIELD(modulation, GradientMagnitudeModulation, modulateDiffuse) != 0;
    s.modulate[3] = CHIP_FIELD(modulation, GradientMagnitudeModulation, modulateSpecular) != 0;
    s.hiPassDiffuse = CHIP_FIELD(modulation, GradientMagnitudeModulation, hiPassDiffuse) != 0;
    s.hiPassSpecular = CHIP_FIELD(modulation, GradientMagnitudeModulation, hiPassSpecular) != 0;
    s.hiPassStart = CHIP_FIELD(modulation, GradientMagnitudeModulation, hiPassStart);
    s.base = CHIP_FIELD(modulation, GradientMagnitudeModulation, base);
    s.grain = CHIP_FIELD(modulation, GradientMagnitudeModulation, grain);
    s.squaredIndex = CHIP_FIELD(modulation, GradientMagnitudeModulation, indexSource) != 0;
    s.lowerDefault = CHIP_FIELD(modulation, GradientMagnitudeModulation, lowerRangeDefault) != 0;
    s.upperDefault = CHIP_FIELD(modulation, GradientMagnitudeModulation, upperRangeDefault) != 0;
    const bool modulating = s.modulate[0] || s.modulate[1] || s.modulate[2] || s.modulate[3] ||
                            s.hiPassDiffuse || s.hiPassSpecular;
    if (s.modulate[0] || s.modulate[1] || s.modulate[2] || s.modulate[3])
        s.magnitudeTable = FractionTable(job.tables[6], 64);
    return modulating;
}

// Alpha correction, filters, early termination, space leaping.
void DecodeFiltersAndLeaping(const RenderJob& job, const RegisterFile& r, const ControlWords& words, Setup& s) {
    const uint32_t imageControl = words.imageControl;
    s.alphaCorrection = CHIP_FIELD(imageControl, ImageControl, alphaCorrection) != 0;
    if (s.alphaCorrection) s.alphaTable = FractionTable(job.tables[7], 56);
    s.correctColour = s.alphaCorrection && !s.opacityWeight &&
                      (s.blendAccum == NKW7_Code(NKW7_BlendMode::BackToFrontPreWeighted) ||
                       s.blendAccum == NKW7_Code(NKW7_BlendMode::FrontToBackPreWeighted));
    s.filter = Tests(CHIP_FIELD(imageControl, ImageControl, filter_direction),
                     CHIP_FIELD(imageControl, ImageControl, filter_sampleAlpha),
                     CHIP_FIELD(imageControl, ImageControl, filter_accumulatedAlpha),
                     CHIP_FIELD(imageControl, ImageControl, filter_gradientMagnitude));
    s.spaceLeaping = CHIP_FIELD(words.operation, RenderOperation, spaceLeaping) != 0;
    if (s.spaceLeaping) {
        const uint32_t threshold = CHIP_FIELD(Reg32(r, NKW7_EmptyThreshold_Addr), EmptyThreshold, alpha);
        s.emptyThreshold = static_cast<float>(threshold) / 4095.0f;
    }
    const bool frontToBack = s.blendAccum == NKW7_Code(NKW7_BlendMode::FrontToBack) ||
                             s.blendAccum == NKW7_Code(NKW7_BlendMode::FrontToBackPreWeighted);
    s.earlyTermination =
        CHIP_FIELD(imageControl, ImageControl, earlyRayTermination) != 0 && frontToBack && !s.volumeOutput;
    if (s.earlyTermination) {
        const uint32_t threshold = CHIP_FIELD(Reg32(r, NKW7_ErtThreshold_Addr), ErtThreshold, alpha);
        s.terminationThreshold = static_cast<float>(threshold) / 4095.0f;
    }
}

// Whether the combination of the two tests passes every sample whatever the
// depths, given which tests pass.
bool CombinationPasses(uint32_t action, bool first, bool last) {
    if (action == NKW7_Code(NKW7_DepthCombine::And)) return first && last;
    if (action == NKW7_Code(NKW7_DepthCombine::Or)) return first || last;
    return first != last;
}

// Depth, which a volume output leaves off.
void DecodeDepth(const RegisterFile& r, Setup& s) {
    const uint32_t depth = Reg32(r, NKW7_DepthControl_Addr);
    s.testFirst = CHIP_FIELD(depth, DepthControl, testFirst);
    s.testLast = CHIP_FIELD(depth, DepthControl, testLast);
    s.depthAction = CHIP_FIELD(depth, DepthControl, action);
    s.updateFirst = Tests(CHIP_FIELD(depth, DepthControl, updateFirst_direction),
                          CHIP_FIELD(depth, DepthControl, updateFirst_sampleAlpha),
                          CHIP_FIELD(depth, DepthControl, updateFirst_accumulatedAlpha),
                          CHIP_FIELD(depth, DepthControl, updateFirst_gradientMagnitude));
    s.updateLast = Tests(CHIP_FIELD(depth, DepthControl, updateLast_direction),
                         CHIP_FIELD(depth, DepthControl, updateLast_sampleAlpha),
                         CHIP_FIELD(depth, DepthControl, updateLast_accumulatedAlpha),
                         CHIP_FIELD(depth, DepthControl, updateLast_gradientMagnitude));
    s.writeDepth[0] = CHIP_FIELD(depth, DepthControl, writeDepthFirst) != 0;
    s.writeDepth[1] = CHIP_FIELD(depth, DepthControl, writeDepthLast) != 0;
    s.initDepth[0] = CHIP_FIELD(depth, DepthControl, initDepthFirst) != 0;
    s.initDepth[1] = CHIP_FIELD(depth, DepthControl, initDepthLast) != 0;
    // Tests that compare no depth make the combination a constant: only a
    // constant pass may skip the tests; a constant fail must remove every sample.
    const auto realTest = [](uint32_t test) {
        return test >= NKW7_Code(NKW7_DepthTest::Less) && test <= NKW7_Code(NKW7_DepthTest::NotEqual);
    };
    const bool first = s.testFirst != NKW7_Code(NKW7_DepthTest::Fail);
    const bool last = s.testLast != NKW7_Code(NKW7_DepthTest::Fail);
    const bool alwaysPasses = CombinationPasses(s.depthAction, first, last);
    constexpr uint32_t kOff = NKW7_Code(NKW7_DepthCombine::Off);
    if (s.volumeOutput || s.depthAction == kOff || (!realTest(s.testFirst) && !realTest(s.testLast) && alwaysPasses))
        s.depthAction = kOff;
    if (s.volumeOutput) s.writeDepth[0] = s.writeDepth[1] = false;
    s.depthUsed = s.depthAction != kOff || s.writeDepth[0] || s.writeDepth[1];
    if (!s.writeDepth[0] && !s.writeDepth[1]) s.updateFirst = s.updateLast = SampleTests{};
    if (s.depthUsed) {
        s.depthInitValue[0] = CHIP_FIELD(Reg32(r, NKW7_DepthInitValue0_Addr), DepthInitValue0, d);
        s.depthInitValue[1] = CHIP_FIELD(Reg32(r, NKW7_DepthInitValue1_Addr), DepthInitValue1, d);
        s.dDepthX = Signed64(r, NKW7_dD_dXs_Addr);
        s.dDepthY = Signed64(r, NKW7_dD_dYs_Addr);
    }
    const uint32_t alphaRanges[2] = {Reg32(r, NKW7_SampleAlphaRange_Addr), Reg32(r, NKW7_AccumAlphaRange_Addr)};
    s.sampleAlphaMin = CHIP_FIELD(alphaRanges[0], SampleAlphaRange, min);
    s.sampleAlphaMax = CHIP_FIELD(alphaRanges[0], SampleAlphaRange, max);
    s.accumAlphaMin = CHIP_FIELD(alphaRanges[1], AccumAlphaRange, min);
    s.accumAlphaMax = CHIP_FIELD(alphaRanges[1], AccumAlphaRange, max);
}

void DecodeGradientCorrection(const RegisterFile& r, Setup& s) {
    const uint32_t g0 = Reg32(r, NKW7_GradientCorrection0_Addr);
    const uint32_t g1 = Reg32(r, NKW7_GradientCorrection1_Addr);
    const uint32_t g2 = Reg32(r, NKW7_GradientCorrection2_Addr);
    const float g11 = SignMagnitude(CHIP_FIELD(g0, GradientCorrection0, g11), 12);
    const float g12 = SignMagnitude(CHIP_FIELD(g0, GradientCorrection0, g12), 12);
    const float g22 = SignMagnitude(CHIP_FIELD(g1, GradientCorrection1, g22), 12);
    const float g13 = SignMagnitude(CHIP_FIELD(g1, GradientCorrection1, g13), 12);
    const float g33 = SignMagnitude(CHIP_FIELD(g2, GradientCorrection2, g33), 12);
    const float g23 = SignMagnitude(CHIP_FIELD(g2, GradientCorrection2, g23), 12);
    const float rows[3][3] = {{g11, g12, g13}, {g12, g22, g23}, {g13, g23, g33}};
    std::memcpy(s.correction, rows, sizeof rows);
}

// Gradients, on demand only: otherwise no neighbour is read. Returns the
// reserved codes.
uint64_t DecodeGradient(const RegisterFile& r, const ControlWords& words, bool modulating, Setup& s) {
    const uint32_t gradient = Reg32(r, NKW7_GradientControl_Addr);
    s.outputGradient = CHIP_FIELD(gradient, GradientControl, outputGrad) != 0;
    s.outputMagnitude = CHIP_FIELD(gradient, GradientControl, outputMag) != 0;
    // The shader has kernels of its own only for lighting that reads the
    // gradients it needs.
    s.gradient = s.diffuse != 0.0f || s.specular != 0.0f || modulating || NeedsGradient(s.filter) ||
                 NeedsGradient(s.updateFirst) || NeedsGradient(s.updateLast) || s.outputGradient ||
                 s.outputMagnitude;
    if (!s.gradient) return 0;
    const uint32_t estimation = CHIP_FIELD(gradient, GradientControl, estimationFunction);
    s.zeroGradient = estimation == NKW7_Code(NKW7_GradientEstimation::Zero);
    s.forward = estimation == NKW7_Code(NKW7_GradientEstimation::Forward);
    const uint64_t reserved = estimation > NKW7_Code(NKW7_GradientEstimation::Forward);
    const uint32_t selects[3] = {CHIP_FIELD(gradient, GradientControl, selectU),
                                 CHIP_FIELD(gradient, GradientControl, selectV),
                                 CHIP_FIELD(gradient, GradientControl, selectW)};
    for (int a = 0; a < 3; ++a) s.gradientField[a] = selects[a] < 4 ? static_cast<int>(selects[a]) : -1;
    s.interpolateGradient = CHIP_FIELD(words.interpolate, InterpolateControl, interpolateGradient) != 0;
    s.correct = CHIP_FIELD(gradient, GradientControl, gradientCorrection) != 0;
    if (s.correct) DecodeGradientCorrection(r, s);
    const bool magnitudeRange = modulating || s.filter.gradientMagnitude ||
                                s.updateFirst.gradientMagnitude || s.updateLast.gradientMagnitude;
    if (magnitudeRange) {
        const uint64_t range = Reg64(r, NKW7_GradientMagnitudeRange_Addr);
        s.magnitudeMin = static_cast<uint32_t>(CHIP_FIELD(range, GradientMagnitudeRange, min));
        s.magnitudeMax = static_cast<uint32_t>(CHIP_FIELD(range, GradientMagnitudeRange, max));
    }
    return reserved;
}

void DecodeCropAndCuts(const RegisterFile& r, Setup& s) {
    const uint32_t crop = Reg32(r, NKW7_CropControl_Addr);
    constexpr int kAxisStep = NKW7_CropControl_enableY0_LoBit - NKW7_CropControl_enableX0_LoBit;
    for (int k = 0; k < 3; ++k) {
        const int group = NKW7_FIELD_LOBIT_AT(CropControl, enableX0, enableX1, k);
        for (int a = 0; a < 3; ++a) {
            s.cropEnable[k][a] = ((crop >> (group + kAxisStep * a)) & 1) != 0;
            s.cropOn = s.cropOn || s.cropEnable[k][a];
        }
        s.cropInvert[k] = ((crop >> NKW7_FIELD_LOBIT_AT(CropControl, invert0, invert1, k)) & 1) != 0;
    }
    s.cropOr = CHIP_FIELD(crop, CropControl, orSel) != 0;
    s.cropInvertOut = CHIP_FIELD(crop, CropControl, invertOut) != 0;
    if (s.cropOn) {
        for (int a = 0; a < 3; ++a) {
            s.cropMin[a] = Signed32(r, NKW7_CropRangeXmin_Addr + 8 * static_cast<uint32_t>(a));
            s.cropMax[a] = Signed32(r, NKW7_CropRangeXmax_Addr + 8 * static_cast<uint32_t>(a));
        }
    }
    const uint32_t cutControl = Reg32(r, NKW7_CutPlaneControl_Addr);
    for (int k = 0; k < 4; ++k) {
        CutPlane& plane = s.cut[k];
        const auto bit = [&](int lowBit) { return ((cutControl >> lowBit) & 1) != 0; };
        plane.enabled = bit(NKW7_FIELD_LOBIT_AT(CutPlaneControl, enable0, enable1, k));
        plane.soft = bit(NKW7_FIELD_LOBIT_AT(CutPlaneControl, falloff0, falloff1, k));
        plane.visibility = bit(NKW7_FIELD_LOBIT_AT(CutPlaneControl, visibility0, visibility1, k));
        plane.positional = bit(NKW7_FIELD_LOBIT_AT(CutPlaneControl, positional0, positional1, k));
        if (!plane.enabled) continue;
        s.anyCut = true;
        const uint32_t base = NKW7_CutPlane0_dCut_dXs_Addr + 24 * static_cast<uint32_t>(k);
        plane.dXs = Signed32(r, base);
        plane.dYs = Signed32(r, base + 4);
        plane.dZs = Signed32(r, base + 8);
        plane.min = Signed32(r, base + 16);
        plane.max = Signed32(r, base + 20);
    }
}

// Reads see the buffers as they were when the render started, even when
// the volume is also an image the render writes.
void SnapshotWrittenVolume(const RenderJob& job, Setup& s) {
    if (!s.volume.Bound()) return;
    for (int slot = 0; slot < 2; ++slot) {
        const BoundArray* image = s.image[slot].Source();
        const bool written = (s.write & (1u << slot)) != 0 && (s.writeMask & (1u << slot)) != 0;
        if (written && s.image[slot].Bound() && image->bufferId == job.volume.bufferId && s.snapshot.empty()) {
            s.snapshot.assign(job.volume.data, job.volume.data + job.volume.byteCount);
            s.volume.ReadFrom(s.snapshot.data());
        }
    }
}

// Renders that only pass trilinear fields through to a plain blend take the
// direct voxel path.
void ChoosePlainPath(Setup& s) {
    s.voxels = s.volume.Direct();
    s.quietReads = s.voxels.valid;
    for (int a = 0; a < 3; ++a)
        s.quietReads =
            s.quietReads && s.voxels.low[a] == s.volume.RangeMin(a) && s.voxels.high[a] == s.volume.RangeMax(a);
    s.plain = s.routed && s.voxels.valid && !s.anyNearest && !s.volumeOutput && !s.cropOn && !s.anyCut &&
              !s.depthUsed && !s.filter.Any() && !s.spaceLeaping && !s.gradient && !s.alphaCorrection &&
              s.diffuse == 0.0f && s.specular == 0.0f && !s.outputGradient && !s.outputMagnitude;
}

// The positions of each slice, in exact 128-bit arithmetic.
void DecodeSlices(const RegisterFile& r, Setup& s) {
    if (!s.volume.Bound() || s.frustumMin[2] > s.frustumMax[2]) return;
    const int64_t originX = Signed64(r, NKW7_OriginXv8_Addr), originY = Signed64(r, NKW7_OriginYv8_Addr);
    const int64_t originZ = Signed64(r, NKW7_OriginZv8_Addr);
    const int64_t dZ = Signed64(r, NKW7_dZv8_dZs_Addr);
    s.slices.resize(s.frustumMax[2] - s.frustumMin[2] + 1);
    for (uint32_t zs = s.frustumMin[2]; zs <= s.frustumMax[2]; ++zs) {
        Slice& slice = s.slices[zs - s.frustumMin[2]];
        const Wide deltaZ = Wide{zs} * dZ;
        const Wide z256 = (Wide{originZ} + deltaZ) >> 32;
        slice.live = z256 >= s.trimMin[2] && z256 <= s.trimMax[2];
        if (!slice.live) continue;
        slice.z256 = static_cast<int64_t>(z256);
        auto term = [&](uint32_t perZs, uint32_t perZv) {
            return Wide{zs} * Signed64(r, perZs) + MulShift40(deltaZ, Signed64(r, perZv));
        };
        slice.xx = Wide{Signed64(r, NKW7_dXv8_dXs_Addr)} + term(NKW7_ddXv8_dXs_dZs_Addr, NKW7_ddXv8_dXs_dZv_Addr);
        slice.xy = Wide{Signed64(r, NKW7_dXv8_dYs_Addr)} + term(NKW7_ddXv8_dYs_dZs_Addr, NKW7_ddXv8_dYs_dZv_Addr);
        slice.x0 = Wide{originX} + term(NKW7_dXv8_dZs_Addr, NKW7_dXv8_dZv_Addr);
        slice.yx = Wide{Signed64(r, NKW7_dYv8_dXs_Addr)} + term(NKW7_ddYv8_dXs_dZs_Addr, NKW7_ddYv8_dXs_dZv_Addr);
        slice.yy = Wide{Signed64(r, NKW7_dYv8_dYs_Addr)} + term(NKW7_ddYv8_dYs_dZs_Addr, NKW7_ddYv8_dYs_dZv_Addr);
        slice.y0 = Wide{originY} + term(NKW7_dYv8_dZs_Addr, NKW7_dYv8_dZv_Addr);
        slice.zs = zs;
        if (s.depthUsed)
            slice.depth = Wide{Signed64(r, NKW7_OriginDepth_Addr)} + term(NKW7_dD_dZs_Addr, NKW7_dD_dZv_Addr);
        for (int k = 0; k < 4; ++k) {
            if (!s.cut[k].enabled || s.cut[k].positional) continue;
            const uint32_t base = NKW7_CutPlane0_dCut_dXs_Addr + 24 * static_cast<uint32_t>(k);
            slice.cut[k] = Wide{zs} * Signed32(r, base + 8) + MulShift40(deltaZ, Signed32(r, base + 12));
        }
    }
}

}  // namespace

TileCorners::TileCorners(const Slice& slice, const TileRect& tile) {
    // The first corner in closed form, the others a whole row or column
    // of steps from it: the same sums, in fewer wide products.
    x[0] = slice.x0 + Wide{tile.x0} * slice.xx + Wide{tile.y0} * slice.xy;
    y[0] = slice.y0 + Wide{tile.x0} * slice.yx + Wide{tile.y0} * slice.yy;
    const Wide across = Wide{tile.x0 + tile.width - 1} - tile.x0, down = Wide{tile.y0 + tile.height - 1} - tile.y0;
    x[1] = x[0] + across * slice.xx;
    y[1] = y[0] + across * slice.yx;
    x[2] = x[0] + down * slice.xy;
    y[2] = y[0] + down * slice.yy;
    x[3] = x[1] + down * slice.xy;
    y[3] = y[1] + down * slice.yy;
    for (int c = 0; c < 4; ++c)
        fit = fit && x[c] >= INT64_MIN && x[c] <= INT64_MAX && y[c] >= INT64_MIN && y[c] <= INT64_MAX;
}

void InteriorFloors(const Setup& s, int a, int64_t first, int64_t last, int64_t& low, int64_t& high) {
    low = std::max<int64_t>(s.trimMin[a], s.negate[a] ? -256 * last - 511 : 256 * first);
    high = std::min<int64_t>(s.trimMax[a], s.negate[a] ? -256 * first - 256 : 256 * last + 255);
}

void AffineRun(int64_t start, Wide step, int64_t low, int64_t high, int64_t& first, int64_t& last) {
    if (first > last) return;
    // Wrapping sums are exact where the positions fit.
    const auto s = static_cast<uint64_t>(start), d = static_cast<uint64_t>(step);
    const auto a = static_cast<int64_t>(s + static_cast<uint64_t>(first) * d);
    const auto b = static_cast<int64_t>(s + static_cast<uint64_t>(last) * d);
    const bool lowHolds = std::min(a, b) >= low, highHolds = std::max(a, b) <= high;
    if (lowHolds && highHolds) return;
    if (first == last || step == 0) {
        last = first - 1;
        return;
    }
    // Two positions a step apart fit, so the step's magnitude fits 64
    // bits unsigned, as does the distance from an end to a bound it misses.
    const uint64_t m = step > 0 ? d : 0 - d;
    const auto span = static_cast<uint64_t>(last - first);
    uint64_t fromFirst = 0, fromLast = 0;  // steps in from each end
    auto steps = [&](int64_t from, int64_t to) {
        const uint64_t distance = static_cast<uint64_t>(to) - static_cast<uint64_t>(from);
        return distance / m + (distance % m != 0 ? 1 : 0);
    };
    // Rising positions leave the lower bound at the first end and the
    // upper at the last; falling ones the other way round.
    if (!lowHolds) (step > 0 ? fromFirst : fromLast) = step > 0 ? steps(a, low) : steps(b, low);
    if (!highHolds) (step > 0 ? fromLast : fromFirst) = step > 0 ? steps(high, b) : steps(high, a);
    if (fromFirst > span || fromLast > span - fromFirst) {
        last = first - 1;
        return;
    }
    first += static_cast<int64_t>(fromFirst);
    last -= static_cast<int64_t>(fromLast);
}

bool TileCorners::Trimmed(const int32_t (&trimMin)[3], const int32_t (&trimMax)[3]) const {
    bool below[2] = {true, true}, above[2] = {true, true};
    for (int c = 0; c < 4; ++c) {
        const Wide p[2] = {x[c] >> 32, y[c] >> 32};
        for (int a = 0; a < 2; ++a) {
            below[a] = below[a] && p[a] < trimMin[a];
            above[a] = above[a] && p[a] > trimMax[a];
        }
    }
    return below[0] || below[1] || above[0] || above[1];
}

std::string Decode(const RenderJob& job, const RegisterFile& r, Setup& s, ChipDiagnostics& counts) {
    std::string failure = LoadSlots(job, r, s);
    if (failure.empty()) failure = DecodeTransform(r, s);
    if (!failure.empty()) return failure;
    const ControlWords words = {Reg32(r, NKW7_ImageControl_Addr), Reg32(r, NKW7_RenderOperation_Addr),
                                Reg32(r, NKW7_InterpolateControl_Addr)};
    DecodeImageControl(job, r, words, s);
    DecodeFrustumAndTrims(r, s);
    uint64_t reserved = DecodeFetch(r, words, s);
    reserved += DecodeClassification(job, r, words, s);
    RouteAlus(s);
    DecodeLighting(job, r, words, s);
    const bool modulating = DecodeModulation(job, r, s);
    DecodeFiltersAndLeaping(job, r, words, s);
    DecodeDepth(r, s);
    reserved += DecodeGradient(r, words, modulating, s);
    DecodeCropAndCuts(r, s);
    reserved += s.blendAccum >= NKW7_BlendModeCount;
    reserved += s.blendLast >= NKW7_BlendModeCount;
    reserved += s.volume.ReservedDimension() + s.image[0].ReservedDimension() + s.image[1].ReservedDimension();
    counts.reservedCodes += reserved;
    SnapshotWrittenVolume(job, s);
    ChoosePlainPath(s);
    DecodeSlices(r, s);
    return {};
}

}  // namespace tulx7sim::chip
