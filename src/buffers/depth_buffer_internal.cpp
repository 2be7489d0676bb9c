#include "buffers/depth_buffer_internal.h"

#include <new>

#include "foundation/shareable.h"

namespace ulm3 {
namespace {

constexpr uint32_t kDepthBits = 32;
constexpr uint32_t kMaxDepth = 0xFFFFFF;

}  // namespace

ULMDepthBufferInternal::ULMDepthBufferInternal(ULMLocation inLocation, unsigned inWidth,
                                               unsigned inHeight)
    : ULMOnBoardBuffer<ULMDepthBuffer>(inLocation, inWidth, inHeight) {
    SetObjectType(this, kObjectTypeULMDepthBufferInternal);
}

ULMDepthBufferInternal* ULMDepthBufferInternal::CreateSimple(ULMLocation inLocation,
                                                             unsigned inWidth, unsigned inHeight) {
    if (inWidth == 0 || inHeight == 0 || !IsOpenBoardLocation(inLocation)) return nullptr;
    auto* depth = new (std::nothrow) ULMDepthBufferInternal(inLocation, inWidth, inHeight);
    if (depth == nullptr) return nullptr;
    if (depth->AllocateStorage(0, kDepthBits) != kULMOK) {
        delete depth;
        return nullptr;
    }
    depth->AddRef();
    return depth;
}

ULMStatus ULMDepthBufferInternal::Update(const void* inData, const ULMImageRange& inRange,
                                         unsigned inWidth, DepthFormat inFormat) {
    return StartUpdate(inData, inRange, inWidth, inFormat).Wait(-1);
}

ULMSyncEvent ULMDepthBufferInternal::StartUpdate(const void* inData, const ULMImageRange& inRange,
                                                 unsigned inWidth, DepthFormat inFormat) {
    AssertBoard();
    if (inFormat != kDepth24Low) return ULMSyncEvent(kULMErrArgument);
    return StartTransfer(true, inData, 0, 0, inRange, inWidth);
}

ULMStatus ULMDepthBufferInternal::Clear(const ULMImageRange& inRange, unsigned inValue) {
    return ClearRange(inRange, uint64_t{inValue});
}

ULMStatus ULMDepthBufferInternal::Unload(void* outData, const ULMImageRange& inRange,
                                         unsigned inWidth, DepthFormat inFormat) const {
    return StartUnload(outData, inRange, inWidth, inFormat).Wait(-1);
}

ULMSyncEvent ULMDepthBufferInternal::StartUnload(void* outData, const ULMImageRange& inRange,
                                                 unsigned inWidth, DepthFormat inFormat) const {
    AssertBoard();
    if (inFormat != kDepth24Low) return ULMSyncEvent(kULMErrArgument);
    return StartTransfer(false, outData, 0, 0, inRange, inWidth);
}

ULMStatus ULMDepthBufferInternal::Map(unsigned int*& outData, const ULMImageRange& inRange,
                                      unsigned& outWidth, DepthFormat inFormat) {
    void* data = nullptr;
    const ULMStatus status = Map(data, inRange, outWidth, inFormat);
    if (status == kULMOK) outData = static_cast<unsigned int*>(data);
    return status;
}

ULMStatus ULMDepthBufferInternal::Map(void*& outData, const ULMImageRange& inRange,
                                      unsigned& outWidth, DepthFormat inFormat) {
    if (inFormat != kDepth24Low) return kULMErrArgument;
    return MapRange(outData, inRange, outWidth);
}

ULMStatus ULMDepthBufferInternal::SetOutputLimits(const ULMImageRange& inLimits) {
    m_outputLimits = inLimits;
    return kULMOK;
}

ULMStatus ULMDepthBufferInternal::SetBorderValue(unsigned inValue) {
    m_borderValue = inValue > kMaxDepth ? kMaxDepth : inValue;
    return kULMOK;
}

ULMSyncEvent ULMDepthBufferInternal::StartMigrate(ULMLocation inLocation) {
    if (!IsOpenBoardLocation(inLocation)) return ULMSyncEvent(kULMErrArgument);
    return ULMOnBoardBuffer<ULMDepthBuffer>::StartMigrate(inLocation);
}

}  // namespace ulm3
