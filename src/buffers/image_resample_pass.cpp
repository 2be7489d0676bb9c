#include "buffers/image_resample_pass.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "buffers/buffer_range_rule.h"
#include "buffers/image_buffer_internal.h"
#include "foundation/board_range.h"
#include "foundation/field_conversions.h"
#include "foundation/fixed_point.h"

namespace ulm3 {
namespace {

constexpr double kFixedScale = 1099511627776.0;  // 2^40
constexpr uint64_t kFixedOne = uint64_t{1} << 40;
// Positions keep 17 fraction bits: the chip resolves less than that anyway,
// and truncating here makes every pass of one geometry agree to the bit.
constexpr uint64_t kPositionMask = 0xFFFFFFFFFF800000;
constexpr uint32_t kWritesImage0 = 1;
constexpr int kMaxSection = 5;

int64_t PackPosition(double inValue) {
    const uint64_t packed =
        static_cast<uint64_t>(ULMRationalPackFixedPoint<int64_t>(inValue, 40, 0, kULMTrunc));
    return static_cast<int64_t>(packed & kPositionMask);
}

// Step and first sample position of one axis, and the sequencer's tile size
// for that step.
struct AxisStep {
    int64_t spacing;
    int64_t origin;
    int64_t section;
};

AxisStep StepOf(int32_t inSourceOrigin, int32_t inSourceSize, int32_t inDestinationOrigin,
                int32_t inDestinationSize) {
    AxisStep step{};
    double spacing = static_cast<double>(inSourceSize) / inDestinationSize;
    step.spacing = PackPosition(spacing);
    spacing = static_cast<double>(step.spacing) / kFixedScale;
    ULM_ASSERT(spacing <= 2.0);
    // Destination pixel centres map onto source pixel centres.
    step.origin =
        PackPosition((spacing - 1.0) * 0.5 + inSourceOrigin - inDestinationOrigin * spacing);
    const int64_t tiles = static_cast<int64_t>(33.0 * kFixedScale / static_cast<double>(step.spacing));
    step.section = (tiles + 1) / 4 - 1;
    return step;
}

uint32_t FieldCodes(const ULMImageBuffer& inImage) {
    uint32_t codes = 0;
    for (int i = 0; i < 4; ++i)
        codes |= HWFieldFormat(inImage.GetFieldDescriptor(static_cast<ULMChannel>(i))) << (8 * i);
    return codes;
}

ULMImageRange WindowOf(const ULMImageBuffer& inImage) {
    return ULMImageRange(static_cast<int>(inImage.GetWidth()), static_cast<int>(inImage.GetHeight()),
                         inImage.GetAddressParameterX(), inImage.GetAddressParameterY());
}

// The range rule of the image the range belongs to. Negative coordinates are
// refused as well: the chip's ray grid and the board's transfers are
// unsigned, so such a pass would write nothing and still report success.
ULMStatus CheckPassRange(const ULMImageBuffer& inImage, const ULMImageRange& inRange) {
    if (CheckBufferRange(inImage.GetAddressMode(), WindowOf(inImage), inRange) != kULMOK)
        return kULMErrArgument;
    if (inRange.XOrigin() < 0 || inRange.YOrigin() < 0) return kULMErrArgument;
    return kULMOK;
}

}  // namespace

std::vector<ULMPassRegister> ResampleProgramme(const ULMImageRange& inSource,
                                               const ULMImageRange& inDestination,
                                               uint32_t inVoxelFormat, uint32_t inImageFormat,
                                               uint64_t inBorder) {
    const int64_t sourceLeft = inSource.XOrigin(), sourceTop = inSource.YOrigin();
    const int64_t sourceRight = sourceLeft + inSource.XSize() - 1;
    const int64_t sourceBottom = sourceTop + inSource.YSize() - 1;
    const AxisStep x = StepOf(inSource.XOrigin(), inSource.XSize(), inDestination.XOrigin(),
                              inDestination.XSize());
    const AxisStep y = StepOf(inSource.YOrigin(), inSource.YSize(), inDestination.YOrigin(),
                              inDestination.YSize());
    const uint64_t section = static_cast<uint64_t>(std::min<int64_t>(y.section, kMaxSection)) << 8 |
                             static_cast<uint64_t>(std::min<int64_t>(x.section, kMaxSection));
    // Trims in 1/256 source pixel, half a pixel beyond the rectangle.
    auto trim = [](int64_t v) { return static_cast<uint32_t>(v * 256); };
    const int64_t dx = inDestination.XOrigin(), dy = inDestination.YOrigin();
    return {
        ULM_PASS_REGISTER(ViewFrustumRangeMin, ULMPassCoordinates(dx, dy, 0)),
        ULM_PASS_REGISTER(ViewFrustumRangeMax,
                          ULMPassCoordinates(dx + inDestination.XSize() - 1,
                                             dy + inDestination.YSize() - 1, 0)),
        ULM_PASS_REGISTER(Transform, 0x240),
        ULM_PASS_REGISTER(Image0FieldSel, inImageFormat),
        ULM_PASS_REGISTER(Image1FieldSel, 0),
        ULM_PASS_REGISTER(CutPlaneControl, 0),
        ULM_PASS_REGISTER(CropControl, 0),
        ULM_PASS_REGISTER(TrimRangeXmin, trim(sourceLeft) - 128),
        ULM_PASS_REGISTER(TrimRangeXmax, trim(sourceRight) + 128),
        ULM_PASS_REGISTER(TrimRangeYmin, trim(sourceTop) - 128),
        ULM_PASS_REGISTER(TrimRangeYmax, trim(sourceBottom) + 128),
        ULM_PASS_REGISTER(TrimRangeZmin, 0),
        ULM_PASS_REGISTER(TrimRangeZmax, 0),
        ULM_PASS_REGISTER(OriginXv8, x.origin),
        ULM_PASS_REGISTER(OriginYv8, y.origin),
        ULM_PASS_REGISTER(OriginZv8, 0),
        ULM_PASS_REGISTER(dXv8_dXs, x.spacing),
        ULM_PASS_REGISTER(dYv8_dYs, y.spacing),
        ULM_PASS_REGISTER(dZv8_dZs, kFixedOne),
        ULM_PASS_REGISTER(dXv8_dZs, 0),
        ULM_PASS_REGISTER(dYv8_dZs, 0),
        ULM_PASS_REGISTER(dYv8_dZv, 0),
        ULM_PASS_REGISTER(dXv8_dZv, 0),
        ULM_PASS_REGISTER(dYv8_dXs, 0),
        ULM_PASS_REGISTER(dXv8_dYs, 0),
        ULM_PASS_REGISTER(ddXv8_dXs_dZs, 0),
        ULM_PASS_REGISTER(ddXv8_dYs_dZs, 0),
        ULM_PASS_REGISTER(ddYv8_dXs_dZs, 0),
        ULM_PASS_REGISTER(ddYv8_dYs_dZs, 0),
        ULM_PASS_REGISTER(ddXv8_dXs_dZv, 0),
        ULM_PASS_REGISTER(ddXv8_dYs_dZv, 0),
        ULM_PASS_REGISTER(ddYv8_dXs_dZv, 0),
        ULM_PASS_REGISTER(ddYv8_dYs_dZv, 0),
        ULM_PASS_REGISTER(VoxelFormat, inVoxelFormat),
        ULM_PASS_REGISTER(VoxelBorder, inBorder),
        ULM_PASS_REGISTER(LookupTableFormat0, 0x20202020),
        ULM_PASS_REGISTER(LookupTableFormat1, 0x20202020),
        ULM_PASS_REGISTER(LookupTableFormat2, 0x20202020),
        ULM_PASS_REGISTER(LookupTableFormat3, 0x20202020),
        // Fields 0..3 straight through to red, green, blue and alpha.
        ULM_PASS_REGISTER(Alu0, 0x00000503),
        ULM_PASS_REGISTER(Alu1, 0x05030000),
        ULM_PASS_REGISTER(Alu2, 0x05050303),
        ULM_PASS_REGISTER(GradientCorrection0, 0),
        ULM_PASS_REGISTER(GradientCorrection1, 0),
        ULM_PASS_REGISTER(GradientCorrection2, 0),
        ULM_PASS_REGISTER(EyeVector, 0x7FC0000000000000),
        ULM_PASS_REGISTER(LightingCoefficient, 0xFF000000),
        ULM_PASS_REGISTER(GradientMagnitudeModulation, 0x00008000),
        ULM_PASS_REGISTER(ImageAccumValue, 0),
        ULM_PASS_REGISTER(ImageLastValue, 0),
        ULM_PASS_REGISTER(Section, section),
        ULM_PASS_REGISTER(SequencerDebug, 0),
        ULM_PASS_REGISTER(InterpolateControl, 0x00001111),
        ULM_PASS_REGISTER(GradientControl, 0x00000200),
        ULM_PASS_REGISTER(DepthControl, 0xFC030300),
        ULM_PASS_REGISTER(ImageControl, 0x10040000),
        ULM_PASS_REGISTER(RenderOperation, 0x1F550000),
    };
}

ULMStatus ULMImageBufferInternal::Resample(ULMImageBuffer* outDestination,
                                           const ULMImageRange& inDestinationRange,
                                           const ULMImageRange& inSourceRange) {
    return StartResample(outDestination, inDestinationRange, inSourceRange).Wait(-1);
}

ULMSyncEvent ULMImageBufferInternal::StartResample(ULMImageBuffer* outDestination,
                                                   const ULMImageRange& inDestinationRange,
                                                   const ULMImageRange& inSourceRange) {
    if (outDestination == nullptr) return ULMSyncEvent(kULMErrBuffer);
    if (CheckPassRange(*this, inSourceRange) != kULMOK ||
        CheckPassRange(*outDestination, inDestinationRange) != kULMOK)
        return ULMSyncEvent(kULMErrArgument);

    const int32_t sourceX = inSourceRange.XSize(), sourceY = inSourceRange.YSize();
    const int32_t destinationX = inDestinationRange.XSize(), destinationY = inDestinationRange.YSize();
    // Empty rectangles: nothing to read from is an error, nothing to write
    // to is done at once, and an axis empty on both sides leaves no image
    // to pass through.
    if ((sourceX == 0 && destinationX == 0) || (sourceY == 0 && destinationY == 0))
        return ULMSyncEvent(kULMErrAlloc);
    if ((sourceX == 0 && destinationX != 0) || (sourceY == 0 && destinationY != 0))
        return ULMSyncEvent(kULMErrArgument);
    if (destinationX == 0 || destinationY == 0) return ULMSyncEvent(kULMOK);

    const double scaleX = static_cast<double>(sourceX) / destinationX;
    const double scaleY = static_cast<double>(sourceY) / destinationY;
    if (scaleX <= 2.0 && scaleY <= 2.0)
        return DoStartResample(outDestination, inDestinationRange, inSourceRange);

    // One halving step into a temporary image on this board; the rest of
    // the reduction starts from there. The passes are queued in order on
    // this board, so none of them waits for the one before.
    ULMFieldDescriptor fieldArray[4];
    for (int i = 0; i < 4; ++i) fieldArray[i] = GetFieldDescriptor(static_cast<ULMChannel>(i));
    const int32_t tempWidth = scaleX > 2.0 ? (sourceX + 1) / 2 : destinationX;
    const int32_t tempHeight = scaleY > 2.0 ? (sourceY + 1) / 2 : destinationY;
    const ULMImageRange tempRange(tempWidth, tempHeight, 0, 0);
    ULMImageBufferInternal* tempBuffer =
        Create3D(GetLocation(), static_cast<unsigned>(tempWidth), static_cast<unsigned>(tempHeight),
                 GetPixelSize(), 4, fieldArray, 0);
    if (tempBuffer == nullptr) return ULMSyncEvent(kULMErrAlloc);
    const ULMSyncEvent first = DoStartResample(tempBuffer, tempRange, inSourceRange);
    if (ULMFailed(first.Status())) {
        tempBuffer->Release();
        return first;
    }
    const ULMSyncEvent last = tempBuffer->StartResample(outDestination, inDestinationRange, tempRange);
    tempBuffer->Release();
    return last;
}

ULMSyncEvent ULMImageBufferInternal::DoStartResample(ULMImageBuffer* outDestination,
                                                     const ULMImageRange& inDestinationRange,
                                                     const ULMImageRange& inSourceRange) {
    ULMImageBuffer* dest = outDestination;
    if (dest->GetLocation() == kULMMultiBoardMode2) {
        ULMImageBufferInternal* inner = GetImageBufferInternal(dest);
        if (inner == nullptr) return ULMSyncEvent(kULMErrBuffer);
        if (inner->GetLocation() != m_location) {
            ULMImageRange fullRange(static_cast<int>(inner->GetWidth()),
                                    static_cast<int>(inner->GetHeight()), 0, 0);
            if (inner->GetAddressMode() == kULMOffsetAddress) {
                fullRange.XOrigin() = inner->GetAddressParameterX();
                fullRange.YOrigin() = inner->GetAddressParameterY();
            }
            if (ULMFailed(inner->DoStartMigrate(m_location, fullRange).Status()))
                return ULMSyncEvent(kULMErrBuffer);
        }
        dest = inner;
    }

    if (dest->GetLocation() != m_location) {
        // Resample into a temporary image here, then move the pixels.
        ULMFieldDescriptor pixelFields[4];
        for (int i = 0; i < 4; ++i) pixelFields[i] = dest->GetFieldDescriptor(static_cast<ULMChannel>(i));
        const ULMImageRange tempRange(inDestinationRange.XSize(), inDestinationRange.YSize(), 0, 0);
        ULMImageBufferInternal* pTemp =
            CreateSimple(m_location, static_cast<unsigned>(tempRange.XSize()),
                         static_cast<unsigned>(tempRange.YSize()), dest->GetPixelSize(), 4,
                         pixelFields);
        if (pTemp == nullptr) return ULMSyncEvent(kULMErrAlloc);
        const ULMSyncEvent pass = DoStartResample(pTemp, tempRange, inSourceRange);
        if (ULMFailed(pass.Status())) {
            pTemp->Release();
            return pass;
        }
        // A banded image has no single board image; its Update splits the
        // pixels over its bands.
        ULMImageBufferInternal* onBoard =
            dest->GetLocation() == kULMMultiBoardMode1 ? nullptr : GetImageBufferInternal(dest);
        if (onBoard != nullptr) {
            const ULMSyncEvent copy = m_board->StartCopyBuffer(
                pTemp->GetBuffer(), onBoard->GetBuffer(), ULMRange(tempRange),
                ULMRange(inDestinationRange));
            pTemp->Release();
            return copy;
        }
        const uint64_t bytes = static_cast<uint64_t>(tempRange.XSize()) *
                               static_cast<uint64_t>(tempRange.YSize()) * pTemp->GetPixelSize() / 8;
        std::unique_ptr<uint8_t[]> hostBuffer(new (std::nothrow) uint8_t[bytes]);
        if (hostBuffer == nullptr) {
            pTemp->Release();
            return ULMSyncEvent(kULMErrAlloc);
        }
        ULMStatus status = pTemp->Unload(hostBuffer.get(), tempRange, 0);
        pTemp->Release();
        if (status == kULMOK) status = dest->Update(hostBuffer.get(), inDestinationRange, 0);
        return ULMSyncEvent(status);
    }

    const ULMStatus converted = ConvertTo3D();
    if (ULMFailed(converted)) return ULMSyncEvent(converted);
    ULM_ASSERT_TEXT(m_board != nullptr, "m_board != NULL");

    ULMBoardPassBlock block(m_board->CreateCommandBuffer(ULMBoardPassBlock::kCommandWords),
                            kResampleWriteFailure);
    const ULMStatus opened = block.Open();
    if (opened != kULMOK) return ULMSyncEvent(opened);

    uint64_t border = 0;
    double channels[4];
    GetBorderValue(channels[0], channels[1], channels[2], channels[3]);
    for (int i = 0; i < 4; ++i)
        border |= ConvertDoubleToField(channels[i], GetFieldDescriptor(static_cast<ULMChannel>(i)),
                                       static_cast<int>(m_pixelSize));
    block.Write(ResampleProgramme(inSourceRange, inDestinationRange, FieldCodes(*this),
                                  FieldCodes(*dest), border));
    block.Close();

    // The source window is the volume region of the pass; the conversion
    // above may have replaced the buffer, so it is taken only now.
    KWBBuffer* source = m_buffer;
    const int16_t saveMinU = source->m_min_U, saveMinV = source->m_min_V;
    const int16_t saveMaxU = source->m_max_U, saveMaxV = source->m_max_V;
    source->m_min_U = static_cast<int16_t>(inSourceRange.XOrigin());
    source->m_min_V = static_cast<int16_t>(inSourceRange.YOrigin());
    source->m_max_U = static_cast<int16_t>(inSourceRange.XOrigin() + inSourceRange.XSize() - 1);
    source->m_max_V = static_cast<int16_t>(inSourceRange.YOrigin() + inSourceRange.YSize() - 1);
    source->m_min_W = source->m_max_W = 0;

    ULMSyncEvent result(kULMErrArgument);
    if (ULMImageBufferInternal* target = GetImageBufferInternal(dest); target != nullptr)
        result = block.Submit(m_board, source, target->GetBuffer(), nullptr, kWritesImage0);

    source->m_min_U = saveMinU;
    source->m_min_V = saveMinV;
    source->m_max_U = saveMaxU;
    source->m_max_V = saveMaxV;
    return result;
}

}  // namespace ulm3
