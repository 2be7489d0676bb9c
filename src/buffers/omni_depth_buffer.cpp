#include "buffers/omni_depth_buffer.h"

#include "buffers/buffer_range_rule.h"
#include "buffers/host_pixels.h"
#include "foundation/enumeration_checks.h"
#include "foundation/shareable.h"

namespace ulm3 {
namespace {

constexpr uint32_t kDepthBits = 32;
constexpr uint32_t kMaxDepth = 0xFFFFFF;

}  // namespace

ULMDepthBuffer* ULMDepthBuffer::Create(ULMLocation inLocation, unsigned inWidth,
                                       unsigned inHeight) {
    if (inWidth == 0 || inHeight == 0 || !ValidLocation(inLocation)) return nullptr;
    ULMOmniDepthBuffer* depth = nullptr;
    try {
        depth = new ULMOmniDepthBuffer(inLocation, inWidth, inHeight);
    } catch (...) {
        return nullptr;
    }
    depth->AddRef();
    return depth;
}

ULMOmniDepthBuffer::ULMOmniDepthBuffer(ULMLocation inLocation, unsigned inWidth,
                                       unsigned inHeight)
    : ULMOmniBuffer<ULMDepthBuffer, ULMDepthBufferInternal>(inLocation, inWidth, inHeight,
                                                            kDepthBits, true) {
    const ULMStatus status = CreateSubBuffers(m_location, m_numberSubBuffers);
    if (status != kULMOK) throw status;
    SetObjectType(this, kObjectTypeULMOmniDepthBuffer);
}

ULMDepthBufferInternal* ULMOmniDepthBuffer::CreateSub(ULMLocation inBoard, unsigned inWidth,
                                                      unsigned inHeight) const {
    return ULMDepthBufferInternal::CreateSimple(inBoard, inWidth, inHeight);
}

void ULMOmniDepthBuffer::ApplySettings(ULMDepthBufferInternal* inSub, ULMLocation) const {
    inSub->SetBorderValue(m_borderValue);
    inSub->SetMigrationMode(kULMMigrationNone);
}

int ULMOmniDepthBuffer::FullSizeBoards(ULMLocation inLocation, int* outBoards) const {
    if (inLocation != kULMMultiBoardMode2) {
        outBoards[0] = inLocation;
        return 1;
    }
    const int boards = static_cast<int>(gULMControl.m_KWBBoardCount);
    const int copies =
        gULMControl.m_multiboardSubvolumes != 0 ? gULMControl.m_multiboardSubvolumes : boards;
    ULM_ASSERT_TEXT(copies <= kMultiboardMaxVolumes, "numberSubBuffers <= kMultiboardMaxVolumes");
    for (int i = 0; i < copies; ++i) outBoards[i] = i % boards;
    return copies;
}

ULMStatus ULMOmniDepthBuffer::MapSub(ULMDepthBufferInternal* inSub, void*& outData,
                                     const ULMImageRange& inRange, unsigned& outWidth) {
    return inSub->Map(outData, inRange, outWidth, kDepth24Low);
}

ULMSyncEvent ULMOmniDepthBuffer::StartUnloadElements(void* outData, const ULMImageRange& inRange,
                                                     unsigned inWidth) const {
    return StartTransfer(false, outData, inRange, inWidth);
}

ULMSyncEvent ULMOmniDepthBuffer::StartUpdateElements(const void* inData,
                                                     const ULMImageRange& inRange,
                                                     unsigned inWidth) {
    return StartTransfer(true, inData, inRange, inWidth);
}

ULMOmniDepthBuffer::Route ULMOmniDepthBuffer::ChooseRoute(ULMLocation inDestination) const {
    const bool belowCopies = inDestination >= kULMBoard0 && inDestination < m_numberSubBuffers;
    if (m_location == kULMMultiBoardMode2 && belowCopies) return Route::kKeepCopy;
    if (m_location != kULMMultiBoardMode1 && belowCopies) return Route::kBoardCopy;
    // The host array cannot hold wrapped coordinates; such a buffer never
    // lives in bands, so a copy between boards serves it.
    if (m_addressMode == kULMWrapAddress) return Route::kBoardCopy;
    return Route::kThroughHost;
}

ULMDepthBufferInternal* ULMOmniDepthBuffer::GetDepthBuffer() const {
    ULM_ASSERT(m_numberSubBuffers == 1);
    return m_subBuffers.GetBuffer(0);
}

ULMDepthBufferInternal* ULMOmniDepthBuffer::GetSubDepthBuffer(int b) const {
    ULM_ASSERT(b >= 0 && b < m_numberSubBuffers);
    return m_subBuffers.GetBuffer(b);
}

ULMSyncEvent ULMOmniDepthBuffer::StartTransfer(bool inLoad, const void* inData,
                                               const ULMImageRange& inRange,
                                               unsigned inWidth) const {
    if (CheckRange(inRange) != kULMOK || !HostRowHolds(inRange, inWidth))
        return ULMSyncEvent(kULMErrArgument);
    if (inRange.IsEmpty()) return ULMSyncEvent(kULMOK);
    if (inData == nullptr) return ULMSyncEvent(kULMErrArgument);
    const unsigned rowLength = inWidth != 0 ? inWidth : static_cast<unsigned>(inRange.XSize());
    const int row = static_cast<int>(rowLength);
    if (InHost()) {
        WaitForSystemBuffer();
        auto* host = static_cast<unsigned*>(HostAddress(inRange.XOrigin(), inRange.YOrigin()));
        const int width = static_cast<int>(GetWidth());
        return inLoad ? CopyPixels(inRange.XSize(), inRange.YSize(), row,
                                   static_cast<const unsigned*>(inData), width, host)
                      : CopyPixels(inRange.XSize(), inRange.YSize(), width, host, row,
                                   static_cast<unsigned*>(const_cast<void*>(inData)));
    }
    // Full-size copies hold the same words: reading the first is enough.
    const int parts = !inLoad && m_location == kULMMultiBoardMode2 ? 1 : -1;
    return StartOnParts(
        inRange, inData, kDepthBits, rowLength, parts,
        [&](ULMDepthBufferInternal* sub, const ULMImageRange& part, const void* address) {
            return inLoad ? sub->StartUpdate(address, part, rowLength, kDepth24Low)
                          : sub->StartUnload(const_cast<void*>(address), part, rowLength,
                                             kDepth24Low);
        });
}

ULMStatus ULMOmniDepthBuffer::Update(const void* inData, const ULMImageRange& inRange,
                                     unsigned inWidth, DepthFormat inFormat) {
    return StartUpdate(inData, inRange, inWidth, inFormat).Wait(-1);
}

ULMSyncEvent ULMOmniDepthBuffer::StartUpdate(const void* inData, const ULMImageRange& inRange,
                                             unsigned inWidth, DepthFormat inFormat) {
    if (inFormat != kDepth24Low) return ULMSyncEvent(kULMErrArgument);
    return StartTransfer(true, inData, inRange, inWidth);
}

ULMStatus ULMOmniDepthBuffer::Unload(void* outData, const ULMImageRange& inRange,
                                     unsigned inWidth, DepthFormat inFormat) const {
    return StartUnload(outData, inRange, inWidth, inFormat).Wait(-1);
}

ULMSyncEvent ULMOmniDepthBuffer::StartUnload(void* outData, const ULMImageRange& inRange,
                                             unsigned inWidth, DepthFormat inFormat) const {
    if (inFormat != kDepth24Low) return ULMSyncEvent(kULMErrArgument);
    return StartTransfer(false, outData, inRange, inWidth);
}

ULMStatus ULMOmniDepthBuffer::Clear(const ULMImageRange& inRange, unsigned inValue) {
    if (CheckRange(inRange) != kULMOK) return kULMErrArgument;
    if (inRange.IsEmpty()) return kULMOK;
    if (InHost()) {
        WaitForSystemBuffer();
        return ClearPixels(inRange.XSize(), inRange.YSize(), inValue, static_cast<int>(GetWidth()),
                           static_cast<unsigned*>(HostAddress(inRange.XOrigin(), inRange.YOrigin())));
    }
    return StartOnParts(inRange, nullptr, 0, 0, -1,
                        [&](ULMDepthBufferInternal* sub, const ULMImageRange& part, const void*) {
                            return ULMSyncEvent(sub->Clear(part, inValue));
                        })
        .Status();
}

ULMStatus ULMOmniDepthBuffer::Map(unsigned int*& outData, const ULMImageRange& inRange,
                                  unsigned& outWidth, DepthFormat inFormat) {
    void* data = nullptr;
    const ULMStatus status = Map(data, inRange, outWidth, inFormat);
    if (status == kULMOK) outData = static_cast<unsigned int*>(data);
    return status;
}

ULMStatus ULMOmniDepthBuffer::Map(void*& outData, const ULMImageRange& inRange,
                                  unsigned& outWidth, DepthFormat inFormat) {
    if (inFormat != kDepth24Low) return kULMErrArgument;
    return MapPixels(outData, inRange, outWidth);
}

ULMStatus ULMOmniDepthBuffer::SetBorderValue(unsigned inValue) {
    m_borderValue = inValue > kMaxDepth ? kMaxDepth : inValue;
    for (int i = 0; i < m_numberSubBuffers; ++i)
        m_subBuffers.GetBuffer(i)->SetBorderValue(m_borderValue);
    return kULMOK;
}

ULMStatus ULMOmniDepthBuffer::SetMigrationMode(ULMMigrationMode inMode) {
    if (!ValidMigrationMode(inMode)) return kULMErrArgument;
    m_migrationMode = inMode;
    return kULMOK;
}

}  // namespace ulm3
