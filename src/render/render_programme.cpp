// Register values of a render as the chip reads them: geometry from the
// sample space, fields and tables from the classifier, blending and image
// set-up from the context and the output buffers.
#include "render/render_programme.h"

#include <algorithm>
#include <cmath>

#include "foundation/chip_code_tables.h"
#include "foundation/context_readers.h"
#include "foundation/control.h"
#include "foundation/field_conversions.h"
#include "foundation/fixed_point.h"
#include "render/ulm_sample_space.h"
#include "tulx7/chip_codes.h"
#include "tulx7/register_groups.h"
#include "ulm3/context.h"
#include "ulm3/cut_plane.h"
#include "ulm3/depth_buffer.h"
#include "ulm3/image_buffer.h"

namespace ulm3 {
namespace {

uint32_t FieldCodes(const ULMImageBuffer* inImage) {
    if (inImage == nullptr) return NKW7_NoFields;
    uint32_t codes = 0;
    for (int i = 0; i < 4; ++i)
        codes |= NKW7_FieldCodeAt(HWFieldFormat(inImage->GetFieldDescriptor(static_cast<ULMChannel>(i))), i);
    return codes;
}

uint64_t BorderColor(const ULMImageBuffer* inImage) {
    if (inImage == nullptr) return 0;
    return ConvertImageColor(inImage->GetBorderRed(), inImage->GetBorderGreen(),
                             inImage->GetBorderBlue(), inImage->GetBorderAlpha());
}

bool InitialisesFrom(const ULMImageBuffer* inImage) {
    return inImage != nullptr && !inImage->GetInputLimits().IsEmpty();
}

uint32_t AlphaRange(double inMin, double inMax) {
    static_assert(NKW7_SampleAlphaRange_min_LoBit == NKW7_AccumAlphaRange_min_LoBit &&
                  NKW7_SampleAlphaRange_max_LoBit == NKW7_AccumAlphaRange_max_LoBit);
    return NKW7_FIELD(SampleAlphaRange, min, ULMConvertFloatTo12(inMin)) |
           NKW7_FIELD(SampleAlphaRange, max, ULMConvertFloatTo12(inMax));
}

constexpr ULMContext::FilterTest kMagnitude = ULMContext::kTestGradientMagnitude;

// Whether a filter holds a test.
bool Holds(ULMContext::FilterTest inFilter, ULMContext::FilterTest inTest) {
    return (static_cast<int32_t>(inFilter) & inTest) != 0;
}

// Depth buffer 0's test, update filter and switches, in the chip's "first" fields.
uint32_t DepthFirstFields(ULMContext::DepthTest inTest, ULMContext::FilterTest inFilter, bool inWrite, bool inInit) {
    return NKW7_FIELD(DepthControl, testFirst, ULMChipDepthTest(inTest)) |
           NKW7_FIELD(DepthControl, updateFirst_direction, ULMChipDirectionFilter(inFilter)) |
           NKW7_FIELD(DepthControl, updateFirst_gradientMagnitude, Holds(inFilter, kMagnitude)) |
           NKW7_FIELD(DepthControl, updateFirst_sampleAlpha, Holds(inFilter, ULMContext::kTestSampleAlpha)) |
           NKW7_FIELD(DepthControl, updateFirst_accumulatedAlpha, Holds(inFilter, ULMContext::kTestAccumulatedAlpha)) |
           NKW7_FIELD(DepthControl, writeDepthFirst, inWrite) | NKW7_FIELD(DepthControl, initDepthFirst, inInit);
}

// Depth buffer 1's, in the "last" fields.
uint32_t DepthLastFields(ULMContext::DepthTest inTest, ULMContext::FilterTest inFilter, bool inWrite, bool inInit) {
    return NKW7_FIELD(DepthControl, testLast, ULMChipDepthTest(inTest)) |
           NKW7_FIELD(DepthControl, updateLast_direction, ULMChipDirectionFilter(inFilter)) |
           NKW7_FIELD(DepthControl, updateLast_gradientMagnitude, Holds(inFilter, kMagnitude)) |
           NKW7_FIELD(DepthControl, updateLast_sampleAlpha, Holds(inFilter, ULMContext::kTestSampleAlpha)) |
           NKW7_FIELD(DepthControl, updateLast_accumulatedAlpha, Holds(inFilter, ULMContext::kTestAccumulatedAlpha)) |
           NKW7_FIELD(DepthControl, writeDepthLast, inWrite) | NKW7_FIELD(DepthControl, initDepthLast, inInit);
}

// Tests, their combination, the update filters, and which of the given
// buffers start from their elements and are stored.
uint32_t DepthControl(const ULMContext* inContext, const ULMDepthBuffer* const inDepth[2]) {
    uint32_t control = NKW7_FIELD(DepthControl, action, ULMChipDepthCombine(inContext->GetDepthCombineFunction()));
    for (int i = 0; i < 2; ++i) {
        const auto n = static_cast<ULMContext::DepthBufferNumber>(i);
        const ULMContext::DepthTest test = inContext->GetDepthTest(n);
        const ULMContext::FilterTest filter = inContext->GetDepthUpdateFilter(n);
        const bool write = inDepth[i] != nullptr && filter != ULMContext::kAlwaysFail;
        const bool init = inDepth[i] != nullptr && !inDepth[i]->GetInputLimits().IsEmpty();
        control |= i == 0 ? DepthFirstFields(test, filter, write, init) : DepthLastFields(test, filter, write, init);
    }
    return control;
}

// The magnitude range's top when the range is open above.
constexpr uint64_t kOpenMagnitude = (uint64_t{1} << NKW7_GradientMagnitudeRange_max_Size) - 1;
// The initial depth that every test compares against when no buffer holds one.
constexpr uint32_t kFarthestDepth = (1u << NKW7_DepthInitValue0_d_Size) - 1;

// Which of colour and coefficients the magnitude scales, and the table's
// step: 12-bit magnitudes in steps of 64.
uint32_t GradientModulation(uint32_t inModulation) {
    const auto on = [inModulation](ULMContext::GradientModulation inWhat) { return (inModulation & inWhat) != 0; };
    return NKW7_FIELD(GradientMagnitudeModulation, grain, 6) |
           NKW7_FIELD(GradientMagnitudeModulation, modulateOpacity, on(ULMContext::kModulateOpacity)) |
           NKW7_FIELD(GradientMagnitudeModulation, modulateEmissive, on(ULMContext::kModulateEmissive)) |
           NKW7_FIELD(GradientMagnitudeModulation, modulateDiffuse, on(ULMContext::kModulateDiffuse)) |
           NKW7_FIELD(GradientMagnitudeModulation, modulateSpecular, on(ULMContext::kModulateSpecular));
}

uint32_t SignMagnitude(double inValue, int inBits) {
    const double top = static_cast<double>((1u << inBits) - 1);
    const auto magnitude = static_cast<uint32_t>(std::min(top, std::round(std::fabs(inValue) * top)));
    return (inValue < 0.0 ? 1u << inBits : 0u) | magnitude;
}

// Gradients from field 0 by central differences, corrected when asked; the
// eye follows the gradient into the corrected axes, so that facing and
// reflection are those of the unscaled object.
void FillGradients(const ULMRenderInputs& in, ULMAllRenderRegisters& r) {
    const bool corrected = in.correction[0] != 0.0;
    r.m_GradientControl = NKW7_FIELD(GradientControl, estimationFunction, NKW7_GradientEstimation::Central) |
                          NKW7_FIELD(GradientControl, gradientCorrection, corrected);
    if (corrected) {
        const double* g = in.correction;
        r.m_GradientCorrection0 = NKW7_FIELD(GradientCorrection0, g11, SignMagnitude(g[0], 12));
        r.m_GradientCorrection1 = NKW7_FIELD(GradientCorrection1, g22, SignMagnitude(g[1], 12));
        r.m_GradientCorrection2 = NKW7_FIELD(GradientCorrection2, g33, SignMagnitude(g[2], 12));
        const double* eye = in.sampleSpace->GetEyeVector();
        double e[3] = {eye[0] / g[0], eye[1] / g[1], eye[2] / g[2]};
        const double length = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
        r.m_EyeVector = NKW7_FIELD(EyeVector, w, SignMagnitude(e[2] / length, 9)) |
                        NKW7_FIELD(EyeVector, v, SignMagnitude(e[1] / length, 9)) |
                        NKW7_FIELD(EyeVector, u, SignMagnitude(e[0] / length, 9));
    }
    // Magnitudes are compared squared, in steps of 1/511 per axis; the top
    // of the context's range leaves the range open, as a magnitude above 1
    // reads the gradient table's last value.
    double lo = 0, hi = 1;
    in.context->GetGradientMagnitudeRange(lo, hi);
    const auto squared = [](double inM) {
        return std::min<uint64_t>(kOpenMagnitude, ULMRationalPackClampedProduct(inM * inM, 9, kULMRound, uint32_t{}));
    };
    r.m_GradientMagnitudeRange = NKW7_FIELD(GradientMagnitudeRange, min, squared(lo)) |
                                 NKW7_FIELD(GradientMagnitudeRange, max, hi >= 1.0 ? kOpenMagnitude : squared(hi));
}

// Back faces are lit specularly only in the bidirectional-specular mode.
void FillLighting(const ULMRenderInputs& in, ULMAllRenderRegisters& r) {
    double diffuse = 0, specular = 0, emissive = 0, exponent = 0;
    in.context->GetReflectionProperties(diffuse, specular, emissive, exponent);
    auto coefficient = [](double inK) { return static_cast<uint32_t>(std::lround(std::clamp(inK, 0.0, 1.0) * 255)); };
    r.m_LightingCoefficient = NKW7_FIELD(LightingCoefficient, kEmissive, coefficient(emissive)) |
                              NKW7_FIELD(LightingCoefficient, kDiffuse, coefficient(diffuse)) |
                              NKW7_FIELD(LightingCoefficient, kSpecular, coefficient(specular));
    if (gULMControl.m_lightMode != ULMContext::kBidirectionalSpecular)
        r.m_EyeVector |= NKW7_FIELD(EyeVector, specFrontFacingOnly, 1);
}

// One replacing sample per voxel of the output volume. Gradient components
// take red, green and blue, the magnitude alpha: fields 0-2 (in the order
// the sample space names) and 3, or field 0 when the magnitude is all the
// voxels take.
void FillVolumeOutput(const ULMRenderInputs& in, ULMAllRenderRegisters& r) {
    uint32_t codes[4];
    for (int i = 0; i < 4; ++i)
        codes[i] = HWFieldFormat(in.outputVolume->GetFieldDescriptor(static_cast<ULMFieldNumber>(i)));
    const ULMVolume::RenderToVolumeMode mode = in.outputVolumeMode;
    const bool magnitudeOnly = mode == ULMVolume::kOutputGradientMagnitude;
    r.m_Image0FieldSel = 0;
    for (int i = 0; i < 4; ++i) {
        const bool component = i < 3 && (mode & ULMVolume::kOutputGradient) != 0;
        const int field = component ? in.sampleSpace->GetRenderToVolumeAxis(i) : i;
        const uint32_t code = !magnitudeOnly ? codes[field] : i == 3 ? codes[0] : NKW7_NoFieldCode;
        r.m_Image0FieldSel |= NKW7_FieldCodeAt(code, i);
    }
    r.m_Image1FieldSel = NKW7_NoFields;
    r.m_ImageAccumValue = r.m_ImageLastValue = 0;
    r.m_ImageControl = NKW7_FIELD(ImageControl, write, NKW7_ImageWrite::Image0) |
                       NKW7_FIELD(ImageControl, dimensions, 1) |
                       NKW7_FIELD(ImageControl, blendAccum, ULMChipBlendMode(kULMBlendReplace));
    // Every voxel takes its sample, however faint.
    r.m_RenderOperation &= ~NKW7_FIELD(RenderOperation, spaceLeaping, 1);
    const auto bits = static_cast<uint32_t>(mode);
    if (bits != 0)
        r.m_GradientControl |= NKW7_FIELD(GradientControl, estimationFunction, NKW7_GradientEstimation::Central) |
                               NKW7_FIELD(GradientControl, outputGrad, bits & 1) |
                               NKW7_FIELD(GradientControl, outputMag, (bits >> 1) & 1);
}

}  // namespace

bool ULMGradientCorrection(const ULMMatrix& inCorrection, double outFactors[3]) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (i != j && inCorrection.m_matrix[i][j] != 0.0) return false;
    double scale[3];
    for (int i = 0; i < 3; ++i) scale[i] = std::fabs(inCorrection.m_matrix[i][i]);
    if (scale[0] == scale[1] && scale[1] == scale[2]) return false;
    const double smallest = std::min({scale[0], scale[1], scale[2]});
    if (!(smallest > 0.0)) return false;
    for (int i = 0; i < 3; ++i) outFactors[i] = std::copysign(smallest / scale[i], inCorrection.m_matrix[i][i]);
    return true;
}

bool IsDepthBufferNeeded(const ULMContext* inContext, int inNumber) {
    const auto n = static_cast<ULMContext::DepthBufferNumber>(inNumber);
    const ULMContext::DepthTest test = inContext->GetDepthTest(n);
    const bool tested = !IsDepthTestPass(inContext) && !IsDepthTestFail(inContext) &&
                        test != ULMContext::kDepthTestFail && test != ULMContext::kDepthTestPass;
    return tested || inContext->GetDepthUpdateFilter(n) != ULMContext::kAlwaysFail;
}

bool FilterReadsGradient(ULMContext::FilterTest inFilter) {
    if (inFilter == ULMContext::kAlwaysFail) return false;
    const int direction = inFilter & ULMContext::kAlwaysFail;
    return direction == ULMContext::kRejectFrontFacing || direction == ULMContext::kRejectBackFacing ||
           (inFilter & ULMContext::kTestGradientMagnitude) != 0;
}

uint64_t ConvertImageColor(double inRed, double inGreen, double inBlue, double inAlpha) {
    const double c[4] = {inRed, inGreen, inBlue, inAlpha};
    uint64_t word = 0;
    for (int i = 0; i < 4; ++i) word |= NKW7_FIELD_AT(ImageAccumValue, red, green, i, ULMConvertFloatTo12(c[i]));
    return word;
}

void ULMFillRenderRegisters(const ULMRenderInputs& in, ULMAllRenderRegisters& r) {
    const ULMContext* ctx = in.context;
    in.sampleSpace->FillRegisters(r);

    r.m_VoxelFormat = in.classifier.voxelFormat;
    r.m_VoxelBorder = in.voxelBorder;
    // Gradients interpolate between the voxels like the fields, or lit
    // surfaces and filtered depths show the voxel grid.
    r.m_InterpolateControl = in.classifier.interpolateControl |
                             NKW7_FIELD(InterpolateControl, interpolateGradient, NKW7_Interpolation::Trilinear);
    uint32_t* formats[4] = {&r.m_LookupTableFormat0, &r.m_LookupTableFormat1,
                            &r.m_LookupTableFormat2, &r.m_LookupTableFormat3};
    for (int i = 0; i < 4; ++i) *formats[i] = in.classifier.lutFormat[i];
    r.m_Alu0 = in.classifier.alu[0];
    r.m_Alu1 = in.classifier.alu[1];
    r.m_Alu2 = in.classifier.alu[2];

    r.m_Image0FieldSel = FieldCodes(in.image0);
    r.m_Image1FieldSel = FieldCodes(in.image1);

    const ULMCutPlane* planes[4] = {};
    const int planeCount = std::min(ctx->GetCutPlaneCount(), 4);
    for (int i = 0; i < planeCount; ++i) planes[i] = ctx->GetCutPlane(i);
    in.sampleSpace->FillCutPlaneRegisters(planes, planeCount, r);
    in.sampleSpace->FillCropRegisters(ctx->GetCrop(), r);
    r.m_GradientControl = 0;
    r.m_GradientCorrection0 = r.m_GradientCorrection1 = r.m_GradientCorrection2 = 0;
    r.m_GradientMagnitudeRange = NKW7_FIELD(GradientMagnitudeRange, max, kOpenMagnitude);
    // 12-bit magnitudes in steps of 64 index the table.
    r.m_GradientMagnitudeModulation = NKW7_FIELD(GradientMagnitudeModulation, upperRangeDefault, 1);
    if (in.modulated) r.m_GradientMagnitudeModulation |= GradientModulation(ctx->GetGradientModulation());
    const bool filtersReadGradients =
        (in.depth[0] != nullptr && FilterReadsGradient(ctx->GetDepthUpdateFilter(ULMContext::kDepthBuffer0))) ||
        (in.depth[1] != nullptr && FilterReadsGradient(ctx->GetDepthUpdateFilter(ULMContext::kDepthBuffer1)));
    if (in.lit || in.modulated || filtersReadGradients) FillGradients(in, r);
    r.m_LightingCoefficient = NKW7_FIELD(LightingCoefficient, kEmissive, 255);  // emissive only: colours kept
    r.m_SpecularColor = ConvertImageColor(1, 1, 1, 0);
    if (in.lit) FillLighting(in, r);
    double lo = 0, hi = 1;
    ctx->GetSampleAlphaRange(lo, hi);
    r.m_SampleAlphaRange = AlphaRange(lo, hi);
    ctx->GetAccumulatedAlphaRange(lo, hi);
    r.m_AccumAlphaRange = AlphaRange(lo, hi);
    r.m_DepthInitValue0 = NKW7_FIELD(DepthInitValue0, d, kFarthestDepth);
    r.m_DepthInitValue1 = NKW7_FIELD(DepthInitValue1, d, kFarthestDepth);
    r.m_DepthControl = DepthControl(ctx, in.depth);
    const bool terminate = ctx->GetRayTerminationEnabled();
    r.m_ErtThreshold =
        terminate ? NKW7_FIELD(ErtThreshold, alpha, ULMConvertFloatTo12(ctx->GetRayTerminationThreshold())) : 0;
    r.m_EmptyThreshold = 0;
    r.m_SequencerDebug = 0;

    r.m_ImageAccumValue = BorderColor(in.image0);
    r.m_ImageLastValue = BorderColor(in.image1);
    const bool initAccum = InitialisesFrom(in.image0);
    const bool initLast = InitialisesFrom(in.image1);
    const NKW7_BlendMode last = initLast ? ULMChipBlendMode(ctx->GetLastBlendMode()) : NKW7_BlendMode::None;
    r.m_ImageControl = NKW7_FIELD(ImageControl, initLast, initLast) | NKW7_FIELD(ImageControl, initAccum, initAccum) |
                       NKW7_FIELD(ImageControl, write, in.writeMask) |
                       NKW7_FIELD(ImageControl, blendAccum, ULMChipBlendMode(ctx->GetBlendMode())) |
                       NKW7_FIELD(ImageControl, blendLast, last) |
                       NKW7_FIELD(ImageControl, earlyRayTermination, terminate) |
                       NKW7_FIELD(ImageControl, alphaCorrection, in.alphaCorrected);

    uint32_t bypass = 0;
    for (int i = 0; i < 4; ++i)
        if (!in.tableLoaded[i]) bypass |= NKW7_FIELD_AT(RenderOperation, bypass0, bypass1, i, NKW7_TableBypass::Bypass);
    r.m_RenderOperation = NKW7_FIELD(RenderOperation, opcode, NKW7_RenderOpcode::Render) |
                          NKW7_FIELD(RenderOperation, incrOnDone, NKW7_IncrOnDoneScratch(7)) | bypass;
    if (in.outputVolume != nullptr) FillVolumeOutput(in, r);
}

ULMStatus ULMWriteRenderProgramme(ULMBoardPassBlock& ioBlock, const ULMAllRenderRegisters& inRegisters) {
    const ULMStatus opened = ioBlock.Open();
    if (opened != kULMOK) return opened;
    const ULMStatus written = inRegisters.WriteRegisters(*ioBlock.Commands(), kULMRenderRegisterGroup);
    const ULMStatus closed = ioBlock.Close();
    return written != kULMOK ? written : closed;
}

}  // namespace ulm3
