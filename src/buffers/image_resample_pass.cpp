#include "buffers/image_resample_pass.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "board/board_range.h"
#include "board/buffer_addressing.h"
#include "buffers/buffer_range_rule.h"
#include "buffers/host_pixels.h"
#include "buffers/image_pass_steps.h"
#include "buffers/image_buffer_internal.h"
#include "foundation/field_conversions.h"
#include "foundation/fixed_point.h"
#include "tulx7/chip_codes.h"

namespace ulm3 {
namespace {

constexpr int kMaxSection = 5;

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

// Whether the board storage of the image holds every pixel of the range, as
// its transfers require: a pass over pixels that are not stored would do
// nothing and report success. Images off the boards check their own.
bool StorageHolds(ULMImageBuffer* inImage, const ULMImageRange& inRange) {
    const ULMImageBufferInternal* onBoard = GetImageBufferInternal(inImage);
    return onBoard == nullptr || KWBStorageHolds(*onBoard->GetBuffer(), ULMRange(inRange));
}

}  // namespace

std::vector<ULMPassRegister> ResampleProgramme(const ULMImageRange& inSource,
                                               const ULMImageRange& inDestination,
                                               uint32_t inVoxelFormat, uint32_t inImageFormat,
                                               uint64_t inBorder) {
    const int64_t sourceLeft = inSource.XOrigin(), sourceTop = inSource.YOrigin();
    const int64_t sourceRight = sourceLeft + inSource.XSize() - 1;
    const int64_t sourceBottom = sourceTop + inSource.YSize() - 1;
    const ULMImagePassStep x = ULMImagePassStepOf(inSource.XOrigin(), inSource.XSize(), inDestination.XOrigin(),
                              inDestination.XSize());
    const ULMImagePassStep y = ULMImagePassStepOf(inSource.YOrigin(), inSource.YSize(), inDestination.YOrigin(),
                              inDestination.YSize());
    const uint32_t section = NKW7_FIELD(Section, sizeY, std::min<int64_t>(y.section, kMaxSection)) |
                             NKW7_FIELD(Section, sizeX, std::min<int64_t>(x.section, kMaxSection));
    ULMImagePassValues values;
    const int64_t dx = inDestination.XOrigin(), dy = inDestination.YOrigin();
    values.frustumMin = ULMPassCoordinates(dx, dy, 0);
    values.frustumMax =
        ULMPassCoordinates(dx + inDestination.XSize() - 1, dy + inDestination.YSize() - 1, 0);
    values.image0Fields = inImageFormat;
    // Trims in 1/256 source pixel, half a pixel beyond the rectangle.
    values.trims[0] = static_cast<uint32_t>(sourceLeft * 256 - 128);
    values.trims[1] = static_cast<uint32_t>(sourceRight * 256 + 128);
    values.trims[2] = static_cast<uint32_t>(sourceTop * 256 - 128);
    values.trims[3] = static_cast<uint32_t>(sourceBottom * 256 + 128);
    values.origin[0] = x.origin;
    values.origin[1] = y.origin;
    values.step[0] = x.spacing;
    values.step[1] = y.spacing;
    values.step[2] = kULMFixedOne2340;
    values.voxelFormat = inVoxelFormat;
    values.voxelBorder = inBorder;
    ULMRouteFieldsStraight(values);
    values.section = section;
    // Write image 0, each sample replacing what the ray holds.
    values.imageControl = NKW7_FIELD(ImageControl, write, NKW7_ImageWrite::Image0) |
                          NKW7_FIELD(ImageControl, blendAccum, NKW7_BlendMode::Replace);
    return ULMImagePassProgramme(values);
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
    if (!StorageHolds(this, inSourceRange) || !StorageHolds(outDestination, inDestinationRange))
        return ULMSyncEvent(kULMErrArgument);

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
            if (ULMFailed(inner->DoStartMigrate(m_location, inner->ReachableRange()).Status()))
                return ULMSyncEvent(kULMErrBuffer);
        }
        dest = inner;
    }
    if (dest->GetLocation() != m_location) return ResampleElsewhere(dest, inDestinationRange, inSourceRange);
    return ResampleHere(dest, inDestinationRange, inSourceRange);
}

ULMSyncEvent ULMImageBufferInternal::ResampleElsewhere(ULMImageBuffer* dest, const ULMImageRange& inDestinationRange,
                                                       const ULMImageRange& inSourceRange) {
    ULMFieldDescriptor pixelFields[4];
    for (int i = 0; i < 4; ++i) pixelFields[i] = dest->GetFieldDescriptor(static_cast<ULMChannel>(i));
    const ULMImageRange tempRange(inDestinationRange.XSize(), inDestinationRange.YSize(), 0, 0);
    ULMImageBufferInternal* pTemp =
        CreateSimple(m_location, static_cast<unsigned>(tempRange.XSize()), static_cast<unsigned>(tempRange.YSize()),
                     dest->GetPixelSize(), 4, pixelFields);
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
        const ULMSyncEvent copy = m_board->StartCopyBuffer(pTemp->GetBuffer(), onBoard->GetBuffer(),
                                                           ULMRange(tempRange), ULMRange(inDestinationRange));
        pTemp->Release();
        return copy;
    }
    size_t bytes = 0;
    std::unique_ptr<uint8_t[]> hostBuffer;
    if (PixelArrayBytes(tempRange.XSize(), tempRange.YSize(), static_cast<int>(pTemp->GetPixelSize()), bytes))
        hostBuffer.reset(new (std::nothrow) uint8_t[bytes]);
    if (hostBuffer == nullptr) {
        pTemp->Release();
        return ULMSyncEvent(kULMErrAlloc);
    }
    ULMStatus status = pTemp->Unload(hostBuffer.get(), tempRange, 0);
    pTemp->Release();
    if (status == kULMOK) status = dest->Update(hostBuffer.get(), inDestinationRange, 0);
    return ULMSyncEvent(status);
}

ULMSyncEvent ULMImageBufferInternal::ResampleHere(ULMImageBuffer* dest, const ULMImageRange& inDestinationRange,
                                                  const ULMImageRange& inSourceRange) {
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
    block.Write(ResampleProgramme(inSourceRange, inDestinationRange, ULMImageFieldCodes(*this),
                                  ULMImageFieldCodes(*dest), border));
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
        result = block.Submit(m_board, source, target->GetBuffer(), nullptr, kKWBWritesImage0);

    source->m_min_U = saveMinU;
    source->m_min_V = saveMinV;
    source->m_max_U = saveMaxU;
    source->m_max_V = saveMaxV;
    return result;
}

}  // namespace ulm3
