// Register values of a render as the chip reads them: geometry from the
// sample space, fields and tables from the classifier, blending and image
// set-up from the context and the output buffers.
#include "render/render_programme.h"

#include <algorithm>
#include <cmath>

#include "foundation/field_conversions.h"
#include "render/sample_space.h"
#include "tulx7/register_groups.h"
#include "ulm3/context.h"
#include "ulm3/cut_plane.h"
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

}  // namespace

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
    // Gradients are never read by this programme, so they are not interpolated.
    r.m_InterpolateControl = in.classifier.interpolateControl;
    uint32_t* formats[4] = {&r.m_LookupTableFormat0, &r.m_LookupTableFormat1,
                            &r.m_LookupTableFormat2, &r.m_LookupTableFormat3};
    for (int i = 0; i < 4; ++i) *formats[i] = in.classifier.lutFormat[i];
    r.m_Alu0 = in.classifier.alu[0];
    r.m_Alu1 = in.classifier.alu[1];
    r.m_Alu2 = in.classifier.alu[2];

    r.m_Image0FieldSel = FieldCodes(in.image0);
    r.m_Image1FieldSel = FieldCodes(in.image1);

    // No gradients, lights or depth in this programme yet.
    const ULMCutPlane* planes[4] = {};
    const int planeCount = std::min(ctx->GetCutPlaneCount(), 4);
    for (int i = 0; i < planeCount; ++i) planes[i] = ctx->GetCutPlane(i);
    in.sampleSpace->FillCutPlaneRegisters(planes, planeCount, r);
    in.sampleSpace->FillCropRegisters(ctx->GetCrop(), r);
    r.m_GradientControl = 0;
    r.m_GradientCorrection0 = r.m_GradientCorrection1 = r.m_GradientCorrection2 = 0;
    r.m_GradientMagnitudeRange = 0xFFFFFull << 44;
    r.m_GradientMagnitudeModulation = At<15>(1);  // upperRangeDefault
    r.m_LightingCoefficient = At<24>(255);        // emissive only: colours kept
    r.m_SpecularColor = ConvertImageColor(1, 1, 1, 0);
    double lo = 0, hi = 1;
    ctx->GetSampleAlphaRange(lo, hi);
    r.m_SampleAlphaRange = AlphaRange(lo, hi);
    ctx->GetAccumulatedAlphaRange(lo, hi);
    r.m_AccumAlphaRange = AlphaRange(lo, hi);
    r.m_DepthInitValue0 = r.m_DepthInitValue1 = 0xFFFFFF;
    // Tests that pass, combined as "all", depth never updated or written.
    r.m_DepthControl = At<29>(7) | At<26>(7) | At<16>(3) | At<8>(3);
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
                       At<9>(terminate ? 1 : 0);

    uint32_t bypass = 0;
    for (int i = 0; i < 4; ++i)
        if (!in.tableLoaded[i]) bypass |= 1u << (16 + 2 * i);
    r.m_RenderOperation = At<28>(1) | At<24>(15) | bypass;
}

ULMStatus ULMWriteRenderProgramme(ULMBoardPassBlock& ioBlock, const ULMAllRenderRegisters& inRegisters) {
    const ULMStatus opened = ioBlock.Open();
    if (opened != kULMOK) return opened;
    const ULMStatus written = inRegisters.WriteRegisters(*ioBlock.Commands(), kULMRenderRegisterGroup);
    const ULMStatus closed = ioBlock.Close();
    return written != kULMOK ? written : closed;
}

}  // namespace ulm3
