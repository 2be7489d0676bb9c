#include "buffers/omni_image_buffer.h"

#include <memory>
#include <new>

#include "buffers/buffer_range_rule.h"
#include "buffers/host_pixels.h"
#include "buffers/typed_map.h"
#include "foundation/enumeration_checks.h"
#include "foundation/field_conversions.h"
#include "foundation/numeric.h"
#include "foundation/shareable.h"

namespace ulm3 {

ULMImageBuffer* ULMImageBuffer::Create(ULMLocation inLocation, unsigned inWidth,
                                       unsigned inHeight, unsigned inPixelSize,
                                       int inNumberOfFields,
                                       const ULMFieldDescriptor* inFieldArray) {
    if (inWidth == 0 || inHeight == 0) return nullptr;
    if (inPixelSize != 16 && inPixelSize != 32 && inPixelSize != 64) return nullptr;
    if (inNumberOfFields < 0 || inNumberOfFields > kULMMaxPixelFields) return nullptr;
    if (inNumberOfFields > 0 && inFieldArray == nullptr) return nullptr;
    if (!ValidLocation(inLocation)) return nullptr;
    for (int i = 0; i < inNumberOfFields; ++i)
        if (!IsValidFieldDescriptor(inFieldArray[i], static_cast<int>(inPixelSize), 16))
            return nullptr;
    ULMOmniImageBuffer* image = nullptr;
    try {
        image = new ULMOmniImageBuffer(inLocation, inWidth, inHeight, inPixelSize,
                                       inNumberOfFields, inFieldArray);
    } catch (...) {
        return nullptr;
    }
    image->AddRef();
    return image;
}

ULMOmniImageBuffer::ULMOmniImageBuffer(ULMLocation inLocation, unsigned inWidth,
                                       unsigned inHeight, unsigned inPixelSize,
                                       int inNumberOfFields,
                                       const ULMFieldDescriptor* inFieldArray)
    : ULMOmniBuffer<ULMImageBuffer, ULMImageBufferInternal>(inLocation, inWidth, inHeight,
                                                            inPixelSize, false) {
    ULM_ASSERT(inNumberOfFields >= 0 && inNumberOfFields <= kULMMaxPixelFields);
    ULM_ASSERT(inNumberOfFields == 0 || inFieldArray != 0);
    ULM_ASSERT(inPixelSize == 16 || inPixelSize == 32 || inPixelSize == 64);
    for (int i = 0; i < inNumberOfFields; ++i) m_fieldList[i] = inFieldArray[i];
    const ULMStatus status = CreateSubBuffers(m_location, m_numberSubBuffers);
    if (status != kULMOK) throw status;
    SetObjectType(this, kObjectTypeULMOmniImageBuffer);
}

ULMImageBufferInternal* ULMOmniImageBuffer::CreateSub(ULMLocation inBoard, unsigned inWidth,
                                                      unsigned inHeight) const {
    return ULMImageBufferInternal::CreateSimple(inBoard, inWidth, inHeight, m_pixelSize,
                                                kULMMaxPixelFields, m_fieldList);
}

void ULMOmniImageBuffer::ApplySettings(ULMImageBufferInternal* inSub,
                                       ULMLocation inLocation) const {
    inSub->SetBorderValue(GetBorderRed(), GetBorderGreen(), GetBorderBlue(), GetBorderAlpha());
    // Under the second multiboard scheme the render moves the one image to
    // the board that renders into it.
    ULMMigrationMode mode = kULMMigrationNone;
    if (inLocation == kULMMultiBoardMode2)
        mode = m_migrationMode == kULMMigrationFullCopy ? kULMMigrationFullCopy
                                                        : kULMMigrationCopyInput;
    inSub->SetMigrationMode(mode);
}

int ULMOmniImageBuffer::FullSizeBoards(ULMLocation inLocation, int* outBoards) const {
    outBoards[0] = inLocation == kULMMultiBoardMode2 ? kULMBoard0 : inLocation;
    return 1;
}

ULMStatus ULMOmniImageBuffer::MapSub(ULMImageBufferInternal* inSub, void*& outData,
                                     const ULMImageRange& inRange, unsigned& outWidth) {
    return inSub->Map(outData, inRange, outWidth);
}

ULMSyncEvent ULMOmniImageBuffer::StartUnloadElements(void* outData, const ULMImageRange& inRange,
                                                     unsigned inWidth) const {
    return StartTransfer(false, outData, nullptr, inRange, inWidth);
}

ULMSyncEvent ULMOmniImageBuffer::StartUpdateElements(const void* inData,
                                                     const ULMImageRange& inRange,
                                                     unsigned inWidth) {
    return StartTransfer(true, inData, nullptr, inRange, inWidth);
}

ULMOmniImageBuffer::Route ULMOmniImageBuffer::ChooseRoute(ULMLocation inDestination) const {
    if (IsBanded()) return Route::kBoardCopy;
    // One image on one board: the second scheme takes it where it is.
    if (inDestination == kULMMultiBoardMode2 ||
        inDestination == m_subBuffers.GetBuffer(0)->GetLocation())
        return Route::kKeep;
    return Route::kBoardCopy;
}

ULMImageBufferInternal* ULMOmniImageBuffer::GetImageBuffer() const {
    ULM_ASSERT(m_location != kULMMultiBoardMode1);
    return m_subBuffers.GetBuffer(0);
}

ULMImageBufferInternal* ULMOmniImageBuffer::GetSubImageBuffer(int i) const {
    ULM_ASSERT(i >= 0 && i < m_numberSubBuffers);
    return m_subBuffers.GetBuffer(i);
}

ULMFieldDescriptor ULMOmniImageBuffer::GetFieldDescriptor(ULMChannel inChannel) const {
    return ULMValidChannel(inChannel) ? m_fieldList[inChannel] : ULMFieldDescriptor();
}

ULMStatus ULMOmniImageBuffer::SetFieldDescriptor(ULMChannel inChannel,
                                                 const ULMFieldDescriptor& inDescriptor) {
    if (!ULMValidChannel(inChannel)) return kULMErrArgument;
    if (!IsValidFieldDescriptor(inDescriptor, static_cast<int>(m_pixelSize), 16))
        return kULMErrFormat;
    SettleDeferredWrites();
    m_fieldList[inChannel] = inDescriptor;
    for (int i = 0; i < m_numberSubBuffers; ++i)
        m_subBuffers.GetBuffer(i)->SetFieldDescriptor(inChannel, inDescriptor);
    return kULMOK;
}

ULMSyncEvent ULMOmniImageBuffer::StartTransfer(bool inLoad, const void* inData,
                                               const ULMFieldDescriptor* inField,
                                               const ULMImageRange& inRange,
                                               unsigned inWidth) const {
    if (inField != nullptr && !IsValidFieldDescriptorDMA(*inField, static_cast<int>(m_pixelSize)))
        return ULMSyncEvent(kULMErrArgument);
    if (CheckRange(inRange) != kULMOK || !HostRowHolds(inRange, inWidth))
        return ULMSyncEvent(kULMErrArgument);
    if (inRange.IsEmpty()) return ULMSyncEvent(inLoad ? kULMErrArgument : kULMOK);
    if (inData == nullptr) return ULMSyncEvent(kULMErrArgument);
    const unsigned rowLength = inWidth != 0 ? inWidth : static_cast<unsigned>(inRange.XSize());
    const int width = static_cast<int>(GetWidth());
    const int row = static_cast<int>(rowLength);
    const int bits = inField != nullptr ? inField->m_size : static_cast<int>(m_pixelSize);
    if (InHost()) {
        WaitForSystemBuffer();
        void* host = HostAddress(inRange.XOrigin(), inRange.YOrigin());
        void* data = const_cast<void*>(inData);
        const int pixel = static_cast<int>(m_pixelSize);
        if (inField == nullptr) {
            return inLoad ? CopyPixels(pixel, inRange.XSize(), inRange.YSize(), row, inData, width,
                                       host)
                          : CopyPixels(pixel, inRange.XSize(), inRange.YSize(), width, host, row,
                                       data);
        }
        const int position = inField->m_position;
        return inLoad ? CopyField(bits, inRange.XSize(), inRange.YSize(), bits, 0, row, inData,
                                  pixel, position, width, host)
                      : CopyField(bits, inRange.XSize(), inRange.YSize(), pixel, position, width,
                                  host, bits, 0, row, data);
    }
    return StartOnParts(
        inRange, inData, static_cast<unsigned>(bits), rowLength, -1,
        [&](ULMImageBufferInternal* sub, const ULMImageRange& part, const void* address) {
            void* out = const_cast<void*>(address);
            if (inField == nullptr)
                return inLoad ? sub->StartUpdate(address, part, rowLength)
                              : sub->StartUnload(out, part, rowLength);
            return inLoad ? sub->StartUpdateField(address, *inField, part, rowLength)
                          : sub->StartUnloadField(out, *inField, part, rowLength);
        });
}

ULMStatus ULMOmniImageBuffer::Update(const void* inData, const ULMImageRange& inRange,
                                     unsigned inWidth) {
    return StartUpdate(inData, inRange, inWidth).Wait(-1);
}

ULMStatus ULMOmniImageBuffer::UpdateField(const void* inData,
                                          const ULMFieldDescriptor& inDescriptor,
                                          const ULMImageRange& inRange, unsigned inWidth) {
    return StartUpdateField(inData, inDescriptor, inRange, inWidth).Wait(-1);
}

ULMSyncEvent ULMOmniImageBuffer::StartUpdate(const void* inData, const ULMImageRange& inRange,
                                             unsigned inWidth) {
    return StartTransfer(true, inData, nullptr, inRange, inWidth);
}

ULMSyncEvent ULMOmniImageBuffer::StartUpdateField(const void* inData,
                                                  const ULMFieldDescriptor& inDescriptor,
                                                  const ULMImageRange& inRange, unsigned inWidth) {
    return StartTransfer(true, inData, &inDescriptor, inRange, inWidth);
}

ULMStatus ULMOmniImageBuffer::Unload(void* outData, const ULMImageRange& inRange,
                                     unsigned inWidth) const {
    return StartUnload(outData, inRange, inWidth).Wait(-1);
}

ULMStatus ULMOmniImageBuffer::UnloadField(void* outData, const ULMFieldDescriptor& inDescriptor,
                                          const ULMImageRange& inRange, unsigned inWidth) const {
    return StartUnloadField(outData, inDescriptor, inRange, inWidth).Wait(-1);
}

ULMSyncEvent ULMOmniImageBuffer::StartUnload(void* outData, const ULMImageRange& inRange,
                                             unsigned inWidth) const {
    return StartTransfer(false, outData, nullptr, inRange, inWidth);
}

ULMSyncEvent ULMOmniImageBuffer::StartUnloadField(void* outData,
                                                  const ULMFieldDescriptor& inDescriptor,
                                                  const ULMImageRange& inRange,
                                                  unsigned inWidth) const {
    return StartTransfer(false, outData, &inDescriptor, inRange, inWidth);
}

ULMStatus ULMOmniImageBuffer::Clear(const ULMImageRange& inRange, unsigned long long inValue) {
    if (CheckRange(inRange) != kULMOK) return kULMErrArgument;
    if (inRange.IsEmpty()) return kULMOK;
    if (InHost()) {
        WaitForSystemBuffer();
        return ClearPixels(static_cast<int>(m_pixelSize), inRange.XSize(), inRange.YSize(),
                           inValue, static_cast<int>(GetWidth()),
                           HostAddress(inRange.XOrigin(), inRange.YOrigin()));
    }
    return StartOnParts(inRange, nullptr, 0, 0, -1,
                        [&](ULMImageBufferInternal* sub, const ULMImageRange& part, const void*) {
                            return ULMSyncEvent(sub->Clear(part, inValue));
                        })
        .Status();
}

ULMStatus ULMOmniImageBuffer::Map(unsigned short*& outData, const ULMImageRange& inRange,
                                  unsigned& outWidth) {
    return MapPixelsAs(*this, outData, inRange, outWidth);
}

ULMStatus ULMOmniImageBuffer::Map(unsigned int*& outData, const ULMImageRange& inRange,
                                  unsigned& outWidth) {
    return MapPixelsAs(*this, outData, inRange, outWidth);
}

ULMStatus ULMOmniImageBuffer::Map(unsigned long long*& outData, const ULMImageRange& inRange,
                                  unsigned& outWidth) {
    return MapPixelsAs(*this, outData, inRange, outWidth);
}

ULMStatus ULMOmniImageBuffer::Map(void*& outData, const ULMImageRange& inRange,
                                  unsigned& outWidth) {
    if (CheckRange(inRange) != kULMOK || inRange.IsEmpty()) return kULMErrArgument;
    return MapPixels(outData, inRange, outWidth);
}

ULMStatus ULMOmniImageBuffer::SetBorderValue(double inRed, double inGreen, double inBlue,
                                             double inAlpha) {
    SettleDeferredWrites();
    m_border.Set(inRed, inGreen, inBlue, inAlpha);
    for (int i = 0; i < m_numberSubBuffers; ++i)
        m_subBuffers.GetBuffer(i)->SetBorderValue(inRed, inGreen, inBlue, inAlpha);
    return kULMOK;
}

ULMStatus ULMOmniImageBuffer::Resample(ULMImageBuffer* outDestination,
                                       const ULMImageRange& inDestinationRange,
                                       const ULMImageRange& inSourceRange) {
    return StartResample(outDestination, inDestinationRange, inSourceRange).Wait(-1);
}

ULMSyncEvent ULMOmniImageBuffer::StartResample(ULMImageBuffer* outDestination,
                                               const ULMImageRange& inDestinationRange,
                                               const ULMImageRange& inSourceRange) {
    if (outDestination == nullptr) return ULMSyncEvent(kULMErrBuffer);
    const ULMImageRange destinationWindow(static_cast<int>(outDestination->GetWidth()),
                                          static_cast<int>(outDestination->GetHeight()),
                                          outDestination->GetAddressParameterX(),
                                          outDestination->GetAddressParameterY());
    if (CheckRange(inSourceRange) != kULMOK ||
        CheckBufferRange(outDestination->GetAddressMode(), destinationWindow,
                         inDestinationRange) != kULMOK)
        return ULMSyncEvent(kULMErrArgument);
    if (InHost() || IsBanded()) {
        // The pass runs on a board: the one the destination is on, else 0.
        const ULMLocation destination = outDestination->GetLocation();
        const ULMLocation board = IsOpenBoardLocation(destination) ? destination : kULMBoard0;
        ULMImageRange carried;
        ULMStatus status = kULMOK;
        switch (m_migrationMode) {
            case kULMMigrationCopyInput:
                carried = Union(inSourceRange, m_inputLimits);
                break;
            case kULMMigrationNoCopy:
                carried = inSourceRange;
                break;
            case kULMMigrationFullCopy:
                // The mode promises the whole image wherever it lives.
                carried = m_wholeRange;
                break;
            default:
                status = kULMErrUnimplemented;
                break;
        }
        if (status == kULMOK) {
            const ULMMigrationMode savedMode = m_migrationMode;
            const ULMImageRange savedLimits = m_inputLimits;
            m_migrationMode = kULMMigrationCopyInput;
            SetInputLimits(carried);
            status = Migrate(board);
            m_migrationMode = savedMode;
            SetInputLimits(savedLimits);
        }
        if (status != kULMOK) return StartResampleFromCopy(board, outDestination,
                                                           inDestinationRange, inSourceRange);
    }
    return m_subBuffers.GetBuffer(0)->StartResample(outDestination, inDestinationRange,
                                                    inSourceRange);
}

ULMSyncEvent ULMOmniImageBuffer::StartResampleFromCopy(ULMLocation inBoard,
                                                       ULMImageBuffer* outDestination,
                                                       const ULMImageRange& inDestinationRange,
                                                       const ULMImageRange& inSourceRange) {
    // A board image of the source range at even offsets.
    ULMImageRange even = inSourceRange;
    if (even.XOrigin() % 2 != 0) {
        --even.XOrigin();
        ++even.XSize();
    }
    if (even.YOrigin() % 2 != 0) {
        --even.YOrigin();
        ++even.YSize();
    }
    ReleasablePointer<ULMImageBufferInternal> temp(ULMImageBufferInternal::CreateSimple(
        inBoard, static_cast<unsigned>(even.XSize()), static_cast<unsigned>(even.YSize()),
        m_pixelSize, kULMMaxPixelFields, m_fieldList));
    if (temp.GetPointer() == nullptr) return ULMSyncEvent(kULMErrAlloc);
    temp->SetAddressParameters(kULMOffsetAddress, even.XOrigin(), even.YOrigin());
    // The pass reads the border around the source range: the temporary must
    // give the result the source itself would.
    ApplySettings(temp.GetPointer(), inBoard);

    void* pixels = nullptr;
    unsigned rowLength = 0;
    std::unique_ptr<uint8_t[]> block;
    const bool mapped = Map(pixels, inSourceRange, rowLength) == kULMOK;
    if (!mapped) {
        size_t bytes = 0;
        if (!PixelArrayBytes(inSourceRange.XSize(), inSourceRange.YSize(),
                             static_cast<int>(m_pixelSize), bytes))
            return ULMSyncEvent(kULMErrAlloc);
        block.reset(new (std::nothrow) uint8_t[bytes]);
        if (block == nullptr) return ULMSyncEvent(kULMErrAlloc);
        const ULMStatus unloaded = Unload(block.get(), inSourceRange, 0);
        if (unloaded != kULMOK) return ULMSyncEvent(unloaded);
        pixels = block.get();
        rowLength = 0;
    }
    const ULMStatus updated = temp->Update(pixels, inSourceRange, rowLength);
    if (mapped) {
        const ULMStatus unmapped = Unmap(pixels);
        if (unmapped != kULMOK) return ULMSyncEvent(unmapped);
    }
    if (updated != kULMOK) return ULMSyncEvent(updated);
    // The board layer keeps the temporary image until the pass is done.
    return temp->StartResample(outDestination, inDestinationRange, inSourceRange);
}

ULMStatus ULMOmniImageBuffer::SetMigrationMode(ULMMigrationMode inMode) {
    if (!ValidMigrationMode(inMode)) return kULMErrArgument;
    SettleDeferredWrites();
    m_migrationMode = inMode;
    if (m_location == kULMMultiBoardMode2) ApplySettings(m_subBuffers.GetBuffer(0), m_location);
    return kULMOK;
}

}  // namespace ulm3
