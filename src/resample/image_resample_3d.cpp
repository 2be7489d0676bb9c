#include "resample/image_resample_3d.h"

#include "board/board_pass_block.h"
#include "board/kwb_board.h"
#include "buffers/image_buffer_internal.h"
#include "buffers/image_pass_steps.h"
#include "foundation/context_readers.h"
#include "foundation/fixed_point.h"
#include "render/render_programme.h"
#include "render/ulm_sample_space.h"
#include "tulx7/chip_codes.h"

namespace ulm3 {
namespace {

constexpr const char* kWriteFailure = "R&R: WriteRegister %s failed: %s (%d)\n";
constexpr int kSectionCode = 3;
constexpr int kBlendMask = 0x3F;

uint64_t BorderOf(const ULMImageBuffer* inImage) {
    if (inImage == nullptr) return 0;
    return ConvertImageColor(inImage->GetBorderRed(), inImage->GetBorderGreen(), inImage->GetBorderBlue(),
                             inImage->GetBorderAlpha());
}

bool InitialisesFrom(const ULMImageBuffer* inImage) {
    return inImage != nullptr && !inImage->GetInputLimits().IsEmpty();
}

// The callers' promises, checked: anything else would be a pass that writes
// the wrong pixels, or none, and reports success.
ULMStatus CheckPromises(const ULMContext* inContext, ULMImageBuffer* inColor0, ULMImageBuffer* inColor1,
                        const ULMImageRange& inDestRange, const ULMImageBuffer* inSource,
                        const ULMImageRange& inSourceRange) {
    if (inContext == nullptr || (inSource == nullptr && inColor0 == nullptr && inColor1 == nullptr))
        return kULMErrArgument;
    if (GetOutputImageBuffer(inContext, inColor0, inColor1) == nullptr) return kULMErrArgument;
    if (inDestRange.XSize() <= 0 || inDestRange.YSize() <= 0 || inSourceRange.XSize() <= 0 ||
        inSourceRange.YSize() <= 0)
        return kULMErrArgument;
    if (inSourceRange.XSize() > 2 * inDestRange.XSize() || inSourceRange.YSize() > 2 * inDestRange.YSize())
        return kULMErrArgument;
    if (inSource != nullptr) {
        const ULMImageBufferInternal* onBoard = GetImageBufferInternal(const_cast<ULMImageBuffer*>(inSource));
        if (onBoard != nullptr && !onBoard->Is3D()) return kULMErrArgument;
    }
    const ULMImageBuffer* first = inSource != nullptr ? inSource : inColor0 != nullptr ? inColor0 : inColor1;
    const ULMLocation board = first->GetLocation();
    if (board < kULMBoard0 || board > kULMBoard7 || KWBBoard::GetBoard(board) == nullptr) return kULMErrArgument;
    return kULMOK;
}

}  // namespace

ULMStatus ULMPassBuffers(const ULMImageBuffer* inSource, ULMImageBuffer* ioColor0, ULMImageBuffer* ioColor1,
                         KWBBuffer*& outSource, KWBBuffer*& outImage0, KWBBuffer*& outImage1) {
    outSource = GetKWBBuffer(const_cast<ULMImageBuffer*>(inSource));
    outImage0 = GetKWBBuffer(ioColor0);
    outImage1 = GetKWBBuffer(ioColor1);
    const bool missing = (inSource != nullptr && outSource == nullptr) ||
                         (ioColor0 != nullptr && outImage0 == nullptr) ||
                         (ioColor1 != nullptr && outImage1 == nullptr);
    return missing ? kULMErrBuffer : kULMOK;
}

ULMImageRange ULMImageBufferRange(const ULMImageBuffer& inImage) {
    const bool offset = inImage.GetAddressMode() == kULMOffsetAddress;
    return ULMImageRange(static_cast<int>(inImage.GetWidth()), static_cast<int>(inImage.GetHeight()),
                         offset ? inImage.GetAddressParameterX() : 0, offset ? inImage.GetAddressParameterY() : 0);
}

ULMImagePassValues ULMResamplePassValues(const ULMContext* inContext, ULMImageBuffer* inColor0,
                                         ULMImageBuffer* inColor1, const ULMImageRange& inDestRange,
                                         const ULMImageBuffer* inSource, const ULMImageRange& inSourceRange,
                                         const ULMImageRange& inFrustum) {
    ULMImagePassValues v;
    v.dummyVolume = inSource == nullptr;
    v.frustumMin = ULMPassCoordinates(inFrustum.XOrigin(), inFrustum.YOrigin(), 0);
    v.frustumMax = ULMPassCoordinates(inFrustum.XOrigin() + inFrustum.XSize() - 1,
                                      inFrustum.YOrigin() + inFrustum.YSize() - 1, 0);
    v.image0Fields = inColor0 != nullptr ? ULMImageFieldCodes(*inColor0) : 0;
    v.image1Fields = inColor1 != nullptr ? ULMImageFieldCodes(*inColor1) : 0;
    const int64_t left = inSourceRange.XOrigin(), top = inSourceRange.YOrigin();
    const int64_t right = left + inSourceRange.XSize() - 1, bottom = top + inSourceRange.YSize() - 1;
    // Half a pixel beyond the rectangle with a source; without one, a
    // window no sample falls in.
    const int64_t trims[4] = {inSource != nullptr ? left * 256 - 128 : (right + 1) * 256,
                              inSource != nullptr ? right * 256 + 128 : (right + 1) * 256,
                              inSource != nullptr ? top * 256 - 128 : (bottom + 1) * 256,
                              inSource != nullptr ? bottom * 256 + 128 : (bottom + 1) * 256};
    for (int i = 0; i < 4; ++i) v.trims[i] = static_cast<uint32_t>(static_cast<int32_t>(trims[i]));
    const ULMImagePassStep x = ULMImagePassStepOf(inSourceRange.XOrigin(), inSourceRange.XSize(),
                                                  inDestRange.XOrigin(), inDestRange.XSize());
    const ULMImagePassStep y = ULMImagePassStepOf(inSourceRange.YOrigin(), inSourceRange.YSize(),
                                                  inDestRange.YOrigin(), inDestRange.YSize());
    v.origin[0] = x.origin;
    v.origin[1] = y.origin;
    v.step[0] = x.spacing;
    v.step[1] = y.spacing;
    v.step[2] = kULMFixedOne2340;
    v.voxelFormat = inSource != nullptr ? ULMImageFieldCodes(*inSource) : 0;
    ULMRouteFieldsStraight(v);
    v.accumValue = BorderOf(inColor0);
    v.lastValue = BorderOf(inColor1);
    v.section = NKW7_FIELD(Section, sizeX, kSectionCode) | NKW7_FIELD(Section, sizeY, kSectionCode);
    // Sums and counts come out of a render; a pass carries them on as
    // pre-weighted colours.
    const ULMBlendMode mode = inContext->GetBlendMode();
    const uint32_t accum = mode == kULMBlendSumAndCount ? kULMBlendFTBPreWeighted : mode;
    const bool toImage0 = inContext->GetImageOutputBuffer() == ULMContext::kImageBuffer0;
    v.imageControl = NKW7_FIELD(ImageControl, blendAccum, accum & kBlendMask) |
                     NKW7_FIELD(ImageControl, blendLast, inContext->GetLastBlendMode() & kBlendMask) |
                     NKW7_FIELD(ImageControl, initLast, InitialisesFrom(inColor1) ? 1 : 0) |
                     NKW7_FIELD(ImageControl, initAccum, InitialisesFrom(inColor0) ? 1 : 0) |
                     NKW7_FIELD(ImageControl, write, toImage0 ? NKW7_ImageWrite::Image0 : NKW7_ImageWrite::Image1);
    return v;
}

void ULMActivateWholeBuffer(KWBBuffer& ioBuffer) {
    ioBuffer.m_min_U = ioBuffer.m_wrap ? 0 : ioBuffer.m_offset_U;
    ioBuffer.m_min_V = ioBuffer.m_wrap ? 0 : ioBuffer.m_offset_V;
    ioBuffer.m_min_W = ioBuffer.m_wrap ? 0 : ioBuffer.m_offset_W;
    ioBuffer.m_max_U = static_cast<int16_t>(ioBuffer.m_min_U + ioBuffer.m_size_U);
    ioBuffer.m_max_V = static_cast<int16_t>(ioBuffer.m_min_V + ioBuffer.m_size_V);
    ioBuffer.m_max_W = static_cast<int16_t>(ioBuffer.m_min_W + ioBuffer.m_size_W);
}

KWBBuffer* GetKWBBuffer(ULMImageBuffer* inImage) {
    ULMImageBufferInternal* onBoard = GetImageBufferInternal(inImage);
    return onBoard != nullptr ? onBoard->GetBuffer() : nullptr;
}

ULMSyncEvent ULMResample3DImage(const ULMContext* inContext, ULMImageBuffer* ioColor0, ULMImageBuffer* ioColor1,
                                const ULMImageRange& inDestRange, const ULMImageBuffer* inSource,
                                const ULMImageRange& inSourceRange) {
    const ULMStatus refused = CheckPromises(inContext, ioColor0, ioColor1, inDestRange, inSource, inSourceRange);
    if (refused != kULMOK) return ULMSyncEvent(refused);
    const ULMLocation location =
        (inSource != nullptr ? inSource : ioColor0 != nullptr ? ioColor0 : ioColor1)->GetLocation();
    if ((ioColor0 != nullptr && ioColor0->GetLocation() != location) ||
        (ioColor1 != nullptr && ioColor1->GetLocation() != location))
        return ULMSyncEvent(kULMErrBuffer);
    KWBBuffer* source = nullptr;
    KWBBuffer* image0 = nullptr;
    KWBBuffer* image1 = nullptr;
    if (const ULMStatus missing = ULMPassBuffers(inSource, ioColor0, ioColor1, source, image0, image1);
        missing != kULMOK)
        return ULMSyncEvent(missing);

    ULMImageBuffer* output = GetOutputImageBuffer(inContext, ioColor0, ioColor1);
    const ULMCamera& camera = inContext->GetCamera();
    const ULMImageRange whole = ULMImageBufferRange(*output);
    ULMImageRange viewport(camera.GetViewportWidth(), camera.GetViewportHeight(), camera.GetViewportOriginX(),
                           camera.GetViewportOriginY());
    // A viewport of no width or height is the whole image, as a render
    // takes it; read as a rectangle, it would write nothing.
    if (viewport.IsEmpty()) viewport = whole;
    // A wrapped image has no edge: the viewport alone bounds the pixels,
    // each written at its coordinates modulo the wrap, as a render draws.
    const bool wrapped = output->GetAddressMode() == kULMWrapAddress;
    ULMImageRange frustum = wrapped ? viewport : Intersect(viewport, whole);
    if (inContext->GetRenderArea() == ULMContext::kVolume) frustum = Intersect(frustum, inDestRange);
    // An empty frustum would wrap to the whole grid in the chip's unsigned
    // coordinates; there is nothing to write.
    if (frustum.XSize() <= 0 || frustum.YSize() <= 0) return ULMSyncEvent(kULMOK);
    if (wrapped)
        if (const ULMStatus unheld = ULMCheckWrapHolds(*output, frustum); unheld != kULMOK) return ULMSyncEvent(unheld);

    KWBBoard* board = KWBBoard::GetBoard(location);
    ULMBoardPassBlock block(board->CreateCommandBuffer(ULMBoardPassBlock::kCommandWords), kWriteFailure);
    const ULMStatus opened = block.Open();
    if (opened != kULMOK) return ULMSyncEvent(opened);
    block.Write(ULMImagePassProgramme(
        ULMResamplePassValues(inContext, ioColor0, ioColor1, inDestRange, inSource, inSourceRange, frustum)));
    block.Close();
    if (source != nullptr) ULMActivateWholeBuffer(*source);
    const bool toImage0 = inContext->GetImageOutputBuffer() == ULMContext::kImageBuffer0;
    const ULMSyncEvent event =
        block.Submit(board, source, image0, image1, toImage0 ? kKWBWritesImage0 : kKWBWritesImage1);
    if (!ULMFailed(event.Status())) output->SetOutputLimits(frustum);
    return event;
}

}  // namespace ulm3
