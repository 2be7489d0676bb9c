// The depth buffer applications get: 32-bit depth words in host memory, on
// one board, in horizontal bands over the boards, or as a full-size copy on
// each board for the second multiboard scheme, where every board tests and
// writes its own copy.
#pragma once

#include "buffers/depth_buffer_internal.h"
#include "buffers/omni_buffer.h"
#include "ulm3/depth_buffer.h"

namespace ulm3 {

class ULMOmniDepthBuffer : public ULMOmniBuffer<ULMDepthBuffer, ULMDepthBufferInternal> {
public:
    // Throws the ULMStatus of a storage that cannot be made.
    ULMOmniDepthBuffer(ULMLocation inLocation, unsigned inWidth, unsigned inHeight);

    // Formats other than kDepth24Low are refused before anything else.
    ULMStatus Update(const void* inData, const ULMImageRange& inRange, unsigned inWidth,
                     DepthFormat inFormat) override;
    // Under the second scheme every copy is updated.
    ULMSyncEvent StartUpdate(const void* inData, const ULMImageRange& inRange, unsigned inWidth,
                             DepthFormat inFormat) override;
    ULMStatus Clear(const ULMImageRange& inRange, unsigned inValue) override;
    ULMStatus Unload(void* outData, const ULMImageRange& inRange, unsigned inWidth,
                     DepthFormat inFormat) const override;
    // Under the second scheme the first copy is read.
    ULMSyncEvent StartUnload(void* outData, const ULMImageRange& inRange, unsigned inWidth,
                             DepthFormat inFormat) const override;
    ULMStatus Map(unsigned int*& outData, const ULMImageRange& inRange, unsigned& outWidth,
                  DepthFormat inFormat) override;
    ULMStatus Map(void*& outData, const ULMImageRange& inRange, unsigned& outWidth,
                  DepthFormat inFormat) override;

    unsigned GetBorderValue() const override { return m_borderValue; }
    // Values above 24 bits are stored as 0xFFFFFF.
    ULMStatus SetBorderValue(unsigned inValue) override;
    ULMStatus SetMigrationMode(ULMMigrationMode inMode) override;

    // The one on-board depth buffer of a buffer with exactly one.
    ULMDepthBufferInternal* GetDepthBuffer() const;
    ULMDepthBufferInternal* GetSubDepthBuffer(int b) const;

protected:
    ~ULMOmniDepthBuffer() override = default;

    ULMDepthBufferInternal* CreateSub(ULMLocation inBoard, unsigned inWidth,
                                      unsigned inHeight) const override;
    void ApplySettings(ULMDepthBufferInternal* inSub, ULMLocation inLocation) const override;
    int FullSizeBoards(ULMLocation inLocation, int* outBoards) const override;
    bool MapsThroughHostCopy() const override {
        return IsBanded() || m_location == kULMMultiBoardMode2;
    }
    ULMStatus MapSub(ULMDepthBufferInternal* inSub, void*& outData, const ULMImageRange& inRange,
                     unsigned& outWidth) override;
    ULMSyncEvent StartUnloadElements(void* outData, const ULMImageRange& inRange,
                                     unsigned inWidth) const override;
    ULMSyncEvent StartUpdateElements(const void* inData, const ULMImageRange& inRange,
                                     unsigned inWidth) override;
    Route ChooseRoute(ULMLocation inDestination) const override;

private:
    ULMSyncEvent StartTransfer(bool inLoad, const void* inData, const ULMImageRange& inRange,
                               unsigned inWidth) const;

    uint32_t m_borderValue = 0;
};

}  // namespace ulm3
