// Register values of a render as the chip reads them: geometry from the
// sample space, fields and tables from the classifier, blending and image
// set-up from the context and the output buffers.
#include "render/render_programme.h"

#include <algorithm>
#include <cmath>

#include "foundation/context_readers.h"
#include "foundation/control.h"
#include "foundation/field_conversions.h"
#include "foundation/fixed_point.h"
#include "render/sample_space.h"
#include "tulx7/register_groups.h"
#include "ulm3/context.h"
#include "ulm3/cut_plane.h"
#include "ulm3/depth_buffer.h"
#include "ulm3/image_buffer.h"

namespace ulm3 {
namespace {

template <int Lo>
constexpr uint32_t At(uint32_t inValue) {
    return inValue << Lo;
}

uint32_t FieldCodes(const ULMImageBuffer* inImage) {
    if (inImage == nullptr) return 0x0F0F0F0F;
    uint32_t codes = 0;
    for (int i = 0; i < 4; ++i)
        codes |= HWFieldFormat(inImage->GetFieldDescriptor(static_cast<ULMChannel>(i))) << (8 * i);
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
    return ULMConvertFloatTo12(inMin) << 4 | static_cast<uint32_t>(ULMConvertFloatTo12(inMax)) << 20;
}

// Tests, their combination, the update filters' bits as the chip lays them
// out, and which of the given buffers start from their elements and are stored.
uint32_t DepthControl(const ULMContext* inContext, const ULMDepthBuffer* const inDepth[2]) {
    uint32_t control = At<24>(static_cast<uint32_t>(inContext->GetDepthCombineFunction()) & 3);
    for (int i = 0; i < 2; ++i) {
        const auto n = static_cast<ULMContext::DepthBufferNumber>(i);
        const uint32_t test = static_cast<uint32_t>(inContext->GetDepthTest(n)) & 7;
        const uint32_t filter = static_cast<uint32_t>(inContext->GetDepthUpdateFilter(n)) & 31;
        const bool write = inDepth[i] != nullptr && filter != ULMContext::kAlwaysFail;
        const bool init = inDepth[i] != nullptr && !inDepth[i]->GetInputLimits().IsEmpty();
        control |= (test << (29 - 3 * i)) | (filter << (16 - 8 * i)) | (write ? 1u << (4 + i) : 0u) |
                   (init ? 1u << (6 + i) : 0u);
    }
    return control;
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
    r.m_GradientControl = At<9>(1) | At<22>(corrected ? 1 : 0);
    if (corrected) {
        const double* g = in.correction;
        r.m_GradientCorrection0 = At<3>(SignMagnitude(g[0], 12));
        r.m_GradientCorrection1 = At<19>(SignMagnitude(g[1], 12));
        r.m_GradientCorrection2 = At<19>(SignMagnitude(g[2], 12));
        const double* eye = in.sampleSpace->GetEyeVector();
        double e[3] = {eye[0] / g[0], eye[1] / g[1], eye[2] / g[2]};
        const double length = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
        r.m_EyeVector = static_cast<uint64_t>(SignMagnitude(e[2] / length, 9)) << 54 |
                        static_cast<uint64_t>(SignMagnitude(e[1] / length, 9)) << 38 |
                        static_cast<uint64_t>(SignMagnitude(e[0] / length, 9)) << 22;
    }
    // Magnitudes are compared squared, in steps of 1/511 per axis; the top
    // of the context's range leaves the range open, as a magnitude above 1
    // reads the gradient table's last value.
    double lo = 0, hi = 1;
    in.context->GetGradientMagnitudeRange(lo, hi);
    const auto squared = [](double inM) {
        return std::min<uint64_t>(0xFFFFF, ULMRationalPackClampedProduct(inM * inM, 9, kULMRound, uint32_t{}));
    };
    r.m_GradientMagnitudeRange = squared(lo) << 12 | (hi >= 1.0 ? 0xFFFFFull : squared(hi)) << 44;
}

// Back faces are lit specularly only in the bidirectional-specular mode.
void FillLighting(const ULMRenderInputs& in, ULMAllRenderRegisters& r) {
    double diffuse = 0, specular = 0, emissive = 0, exponent = 0;
    in.context->GetReflectionProperties(diffuse, specular, emissive, exponent);
    auto coefficient = [](double inK) { return static_cast<uint32_t>(std::lround(std::clamp(inK, 0.0, 1.0) * 255)); };
    r.m_LightingCoefficient = At<24>(coefficient(emissive)) | At<16>(coefficient(diffuse)) |
                              At<8>(coefficient(specular));
    if (gULMControl.m_lightMode != ULMContext::kBidirectionalSpecular) r.m_EyeVector |= 2;
}

// One replacing sample per voxel of the output volume. Gradient components
// take red, green and blue, the magnitude alpha: fields 0-2 and 3, or field
// 0 when the magnitude is all the voxels take.
void FillVolumeOutput(const ULMRenderInputs& in, ULMAllRenderRegisters& r) {
    uint32_t codes[4];
    for (int i = 0; i < 4; ++i)
        codes[i] = HWFieldFormat(in.outputVolume->GetFieldDescriptor(static_cast<ULMFieldNumber>(i))) & 0xFF;
    const ULMVolume::RenderToVolumeMode mode = in.outputVolumeMode;
    r.m_Image0FieldSel = mode == ULMVolume::kOutputGradientMagnitude
                             ? 0x000F0F0Fu | codes[0] << 24
                             : codes[0] | codes[1] << 8 | codes[2] << 16 | codes[3] << 24;
    r.m_Image1FieldSel = 0x0F0F0F0F;
    r.m_ImageAccumValue = r.m_ImageLastValue = 0;
    r.m_ImageControl = At<28>(1) | At<27>(1) | At<18>(kULMBlendReplace);
    r.m_RenderOperation &= ~At<14>(1);  // every voxel takes its sample, however faint
    const auto bits = static_cast<uint32_t>(mode);
    if (bits != 0) r.m_GradientControl |= At<9>(1) | At<31>(bits & 1) | At<30>((bits >> 1) & 1);
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
    for (int i = 0; i < 4; ++i) word |= static_cast<uint64_t>(ULMConvertFloatTo12(c[i])) << (16 * i + 4);
    return word;
}

void ULMFillRenderRegisters(const ULMRenderInputs& in, ULMAllRenderRegisters& r) {
    const ULMContext* ctx = in.context;
    in.sampleSpace->FillRegisters(r);

    r.m_VoxelFormat = in.classifier.voxelFormat;
    r.m_VoxelBorder = in.voxelBorder;
    // Gradients interpolate between the voxels like the fields, or lit
    // surfaces and filtered depths show the voxel grid.
    r.m_InterpolateControl = in.classifier.interpolateControl | At<16>(1);
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
    r.m_GradientMagnitudeRange = 0xFFFFFull << 44;
    // 12-bit magnitudes in steps of 64 index the table.
    r.m_GradientMagnitudeModulation = At<15>(1) | (in.modulated ? At<29>(6) | (ctx->GetGradientModulation() & 15) : 0);
    const bool filtersReadGradients =
        (in.depth[0] != nullptr && FilterReadsGradient(ctx->GetDepthUpdateFilter(ULMContext::kDepthBuffer0))) ||
        (in.depth[1] != nullptr && FilterReadsGradient(ctx->GetDepthUpdateFilter(ULMContext::kDepthBuffer1)));
    if (in.lit || in.modulated || filtersReadGradients) FillGradients(in, r);
    r.m_LightingCoefficient = At<24>(255);        // emissive only: colours kept
    r.m_SpecularColor = ConvertImageColor(1, 1, 1, 0);
    if (in.lit) FillLighting(in, r);
    double lo = 0, hi = 1;
    ctx->GetSampleAlphaRange(lo, hi);
    r.m_SampleAlphaRange = AlphaRange(lo, hi);
    ctx->GetAccumulatedAlphaRange(lo, hi);
    r.m_AccumAlphaRange = AlphaRange(lo, hi);
    r.m_DepthInitValue0 = r.m_DepthInitValue1 = 0xFFFFFF;
    r.m_DepthControl = DepthControl(ctx, in.depth);
    const bool terminate = ctx->GetRayTerminationEnabled();
    r.m_ErtThreshold =
        terminate ? static_cast<uint32_t>(ULMConvertFloatTo12(ctx->GetRayTerminationThreshold())) << 20 : 0;
    r.m_EmptyThreshold = 0;
    r.m_SequencerDebug = 0;

    r.m_ImageAccumValue = BorderColor(in.image0);
    r.m_ImageLastValue = BorderColor(in.image1);
    const bool initAccum = InitialisesFrom(in.image0);
    const bool initLast = InitialisesFrom(in.image1);
    r.m_ImageControl = At<31>(initLast ? 1 : 0) | At<30>(initAccum ? 1 : 0) |
                       At<28>(in.writeMask & 3) | At<18>(static_cast<uint32_t>(ctx->GetBlendMode()) & 63) |
                       At<12>(initLast ? static_cast<uint32_t>(ctx->GetLastBlendMode()) & 63 : 0) |
                       At<9>(terminate ? 1 : 0) | At<8>(in.alphaCorrected ? 1 : 0);

    uint32_t bypass = 0;
    for (int i = 0; i < 4; ++i)
        if (!in.tableLoaded[i]) bypass |= 1u << (16 + 2 * i);
    r.m_RenderOperation = At<28>(1) | At<24>(15) | bypass;
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
