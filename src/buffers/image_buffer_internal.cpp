#include "buffers/image_buffer_internal.h"

#include <new>

#include "buffers/omni_image_buffer.h"
#include "buffers/typed_map.h"
#include "foundation/control.h"
#include "foundation/enumeration_checks.h"
#include "foundation/field_conversions.h"
#include "foundation/numeric.h"
#include "foundation/shareable.h"

namespace ulm3 {
namespace {

// 8-bit pixels only in 3-D images, where the board compositor stacks 8-bit
// partial images; 2-D images keep the sizes the public images have.
bool IsPixelSize(unsigned bits, bool in3D) {
    return bits == 16 || bits == 32 || bits == 64 || (in3D && bits == 8);
}

}  // namespace

ULMImageBufferInternal::ULMImageBufferInternal(ULMLocation inLocation, unsigned inWidth,
                                               unsigned inHeight, unsigned inPixelSize)
    : ULMOnBoardBuffer<ULMImageBuffer>(inLocation, inWidth, inHeight), m_pixelSize(inPixelSize) {
    SetObjectType(this, kObjectTypeULMImageBufferInternal);
}

ULMImageBufferInternal* ULMImageBufferInternal::CreateSimple(ULMLocation inLocation,
                                                             unsigned inWidth, unsigned inHeight,
                                                             unsigned inPixelSize,
                                                             int inNumberOfFields,
                                                             const ULMFieldDescriptor* inFieldArray) {
    return Make(inLocation, inWidth, inHeight, inPixelSize, inNumberOfFields, inFieldArray, false,
                0);
}

ULMImageBufferInternal* ULMImageBufferInternal::Create3D(ULMLocation inLocation, unsigned inWidth,
                                                         unsigned inHeight, unsigned inPixelSize,
                                                         int inNumberOfFields,
                                                         const ULMFieldDescriptor* inFieldArray,
                                                         int inNumberOfPlanes) {
    if (inNumberOfPlanes < 0 || inLocation == kULMMultiBoardMode1 ||
        inLocation == kULMMultiBoardMode2)
        return nullptr;
    return Make(inLocation, inWidth, inHeight, inPixelSize, inNumberOfFields, inFieldArray, true,
                inNumberOfPlanes);
}

ULMImageBufferInternal* ULMImageBufferInternal::Make(ULMLocation inLocation, unsigned inWidth,
                                                     unsigned inHeight, unsigned inPixelSize,
                                                     int inNumberOfFields,
                                                     const ULMFieldDescriptor* inFieldArray,
                                                     bool in3D, int inNumberOfPlanes) {
    if (inWidth == 0 || inHeight == 0 || !IsPixelSize(inPixelSize, in3D) || inNumberOfFields < 0 ||
        inNumberOfFields > kULMMaxPixelFields || (inNumberOfFields > 0 && inFieldArray == nullptr))
        return nullptr;
    if (!IsOpenBoardLocation(inLocation)) return nullptr;
    auto* image = new (std::nothrow)
        ULMImageBufferInternal(inLocation, inWidth, inHeight, inPixelSize);
    if (image == nullptr) return nullptr;
    for (int i = 0; i < inNumberOfFields; ++i) {
        if (image->SetFieldDescriptor(static_cast<ULMChannel>(i), inFieldArray[i]) != kULMOK) {
            delete image;
            return nullptr;
        }
    }
    const uint32_t planes = in3D ? static_cast<uint32_t>(ULMMax(inNumberOfPlanes, 1)) : 0;
    if (image->AllocateStorage(planes, inPixelSize) != kULMOK) {
        delete image;
        return nullptr;
    }
    image->m_is3D = in3D;
    image->AddRef();
    return image;
}

ULMFieldDescriptor ULMImageBufferInternal::GetFieldDescriptor(ULMChannel inChannel) const {
    return ULMValidChannel(inChannel) ? m_fieldList[inChannel] : ULMFieldDescriptor();
}

ULMStatus ULMImageBufferInternal::SetFieldDescriptor(ULMChannel inChannel,
                                                     const ULMFieldDescriptor& inDescriptor) {
    if (!ULMValidChannel(inChannel)) return kULMErrArgument;
    if (!IsValidFieldDescriptor(inDescriptor, static_cast<int>(m_pixelSize), 16))
        return kULMErrFormat;
    SettleDeferredWrite();
    m_fieldList[inChannel] = inDescriptor;
    return kULMOK;
}

ULMStatus ULMImageBufferInternal::Update(const void* inData, const ULMImageRange& inRange,
                                         unsigned inWidth) {
    return StartUpdate(inData, inRange, inWidth).Wait(-1);
}

ULMStatus ULMImageBufferInternal::UpdateField(const void* inData,
                                              const ULMFieldDescriptor& inDescriptor,
                                              const ULMImageRange& inRange, unsigned inWidth) {
    return StartUpdateField(inData, inDescriptor, inRange, inWidth).Wait(-1);
}

ULMSyncEvent ULMImageBufferInternal::StartUpdate(const void* inData, const ULMImageRange& inRange,
                                                 unsigned inWidth) {
    return StartTransfer(true, inData, 0, 0, inRange, inWidth);
}

ULMSyncEvent ULMImageBufferInternal::StartUpdateField(const void* inData,
                                                      const ULMFieldDescriptor& inDescriptor,
                                                      const ULMImageRange& inRange,
                                                      unsigned inWidth) {
    AssertBoard();
    if (!IsValidFieldDescriptorDMA(inDescriptor, static_cast<int>(m_pixelSize)))
        return ULMSyncEvent(kULMErrArgument);
    return StartTransfer(true, inData, static_cast<uint32_t>(inDescriptor.m_size),
                         static_cast<uint32_t>(inDescriptor.m_position), inRange, inWidth);
}

ULMStatus ULMImageBufferInternal::Clear(const ULMImageRange& inRange, unsigned long long inValue) {
    return ClearRange(inRange, inValue);
}

ULMStatus ULMImageBufferInternal::Unload(void* outData, const ULMImageRange& inRange,
                                         unsigned inWidth) const {
    return StartUnload(outData, inRange, inWidth).Wait(-1);
}

ULMStatus ULMImageBufferInternal::UnloadField(void* outData, const ULMFieldDescriptor& inDescriptor,
                                              const ULMImageRange& inRange,
                                              unsigned inWidth) const {
    return StartUnloadField(outData, inDescriptor, inRange, inWidth).Wait(-1);
}

ULMSyncEvent ULMImageBufferInternal::StartUnload(void* outData, const ULMImageRange& inRange,
                                                 unsigned inWidth) const {
    return StartTransfer(false, outData, 0, 0, inRange, inWidth);
}

ULMSyncEvent ULMImageBufferInternal::StartUnloadField(void* outData,
                                                      const ULMFieldDescriptor& inDescriptor,
                                                      const ULMImageRange& inRange,
                                                      unsigned inWidth) const {
    AssertBoard();
    if (!IsValidFieldDescriptorDMA(inDescriptor, static_cast<int>(m_pixelSize)))
        return ULMSyncEvent(kULMErrArgument);
    return StartTransfer(false, outData, static_cast<uint32_t>(inDescriptor.m_size),
                         static_cast<uint32_t>(inDescriptor.m_position), inRange, inWidth);
}

ULMStatus ULMImageBufferInternal::Map(unsigned short*& outData, const ULMImageRange& inRange,
                                      unsigned& outWidth) {
    return MapPixelsAs(*this, outData, inRange, outWidth);
}

ULMStatus ULMImageBufferInternal::Map(unsigned int*& outData, const ULMImageRange& inRange,
                                      unsigned& outWidth) {
    return MapPixelsAs(*this, outData, inRange, outWidth);
}

ULMStatus ULMImageBufferInternal::Map(unsigned long long*& outData, const ULMImageRange& inRange,
                                      unsigned& outWidth) {
    return MapPixelsAs(*this, outData, inRange, outWidth);
}

ULMStatus ULMImageBufferInternal::Map(void*& outData, const ULMImageRange& inRange,
                                      unsigned& outWidth) {
    const ULMStatus status = MapRange(outData, inRange, outWidth);
    if (status == kULMOK) ++m_openMappings;
    return status;
}

ULMStatus ULMImageBufferInternal::Unmap(void* inData) {
    const ULMStatus status = ULMOnBoardBuffer<ULMImageBuffer>::Unmap(inData);
    if (status == kULMOK && m_openMappings > 0) --m_openMappings;
    return status;
}

ULMStatus ULMImageBufferInternal::SetOutputLimits(const ULMImageRange& inLimits) {
    if (CheckRange(inLimits) != kULMOK) return kULMErrArgument;
    SettleDeferredWrite();
    m_outputLimits = inLimits;
    return kULMOK;
}

ULMStatus ULMImageBufferInternal::SetBorderValue(double inRed, double inGreen, double inBlue,
                                                 double inAlpha) {
    SettleDeferredWrite();
    m_border.Set(inRed, inGreen, inBlue, inAlpha);
    return kULMOK;
}

ULMImageBufferInternal* GetImageBufferInternal(ULMImageBuffer* inBuffer) {
    if (IsObjectType(inBuffer, kObjectTypeULMOmniImageBuffer)) {
        const auto* omni = static_cast<const ULMOmniImageBuffer*>(inBuffer);
        // Bands have no one image; host memory has none on a board.
        if (omni->GetLocation() == kULMMultiBoardMode1) return nullptr;
        inBuffer = omni->GetImageBuffer();
    }
    if (inBuffer == nullptr || !IsObjectType(inBuffer, kObjectTypeULMImageBufferInternal))
        return nullptr;
    return static_cast<ULMImageBufferInternal*>(inBuffer);
}

}  // namespace ulm3
