// The image buffer applications get: pixels in host memory, on one board,
// on board 0 for the second multiboard scheme, or in horizontal bands over
// the boards, behind the one image interface.
#pragma once

#include "buffers/border_colour.h"
#include "buffers/image_buffer_internal.h"
#include "buffers/omni_buffer.h"
#include "ulm3/image_buffer.h"

namespace ulm3 {

class ULMOmniImageBuffer : public ULMOmniBuffer<ULMImageBuffer, ULMImageBufferInternal> {
public:
    // Throws the ULMStatus of a storage that cannot be made.
    ULMOmniImageBuffer(ULMLocation inLocation, unsigned inWidth, unsigned inHeight,
                       unsigned inPixelSize, int inNumberOfFields,
                       const ULMFieldDescriptor* inFieldArray);

    unsigned GetPixelSize() const override { return m_pixelSize; }
    ULMFieldDescriptor GetFieldDescriptor(ULMChannel inChannel) const override;
    ULMStatus SetFieldDescriptor(ULMChannel inChannel,
                                 const ULMFieldDescriptor& inDescriptor) override;

    ULMStatus Update(const void* inData, const ULMImageRange& inRange, unsigned inWidth) override;
    ULMStatus UpdateField(const void* inData, const ULMFieldDescriptor& inDescriptor,
                          const ULMImageRange& inRange, unsigned inWidth) override;
    ULMSyncEvent StartUpdate(const void* inData, const ULMImageRange& inRange,
                             unsigned inWidth) override;
    ULMSyncEvent StartUpdateField(const void* inData, const ULMFieldDescriptor& inDescriptor,
                                  const ULMImageRange& inRange, unsigned inWidth) override;
    ULMStatus Clear(const ULMImageRange& inRange, unsigned long long inValue) override;
    ULMStatus Unload(void* outData, const ULMImageRange& inRange, unsigned inWidth) const override;
    ULMStatus UnloadField(void* outData, const ULMFieldDescriptor& inDescriptor,
                          const ULMImageRange& inRange, unsigned inWidth) const override;
    ULMSyncEvent StartUnload(void* outData, const ULMImageRange& inRange,
                             unsigned inWidth) const override;
    ULMSyncEvent StartUnloadField(void* outData, const ULMFieldDescriptor& inDescriptor,
                                  const ULMImageRange& inRange, unsigned inWidth) const override;

    ULMStatus Map(unsigned short*& outData, const ULMImageRange& inRange,
                  unsigned& outWidth) override;
    ULMStatus Map(unsigned int*& outData, const ULMImageRange& inRange,
                  unsigned& outWidth) override;
    ULMStatus Map(unsigned long long*& outData, const ULMImageRange& inRange,
                  unsigned& outWidth) override;
    ULMStatus Map(void*& outData, const ULMImageRange& inRange, unsigned& outWidth) override;

    void GetBorderValue(double& outRed, double& outGreen, double& outBlue,
                        double& outAlpha) const override {
        m_border.Get(outRed, outGreen, outBlue, outAlpha);
    }
    double GetBorderRed() const override { return m_border.Get(0); }
    double GetBorderGreen() const override { return m_border.Get(1); }
    double GetBorderBlue() const override { return m_border.Get(2); }
    double GetBorderAlpha() const override { return m_border.Get(3); }
    ULMStatus SetBorderValue(double inRed, double inGreen, double inBlue, double inAlpha) override;

    ULMStatus SetMigrationMode(ULMMigrationMode inMode) override;

    // The board pass of the one on-board image. An image in host memory or
    // in bands first moves to the board of the destination (board 0 when
    // that is not a board), carrying what its migration mode carries, the
    // source range at least; where it cannot move, a temporary board copy
    // of the source range serves.
    ULMStatus Resample(ULMImageBuffer* outDestination, const ULMImageRange& inDestinationRange,
                       const ULMImageRange& inSourceRange) override;
    ULMSyncEvent StartResample(ULMImageBuffer* outDestination,
                               const ULMImageRange& inDestinationRange,
                               const ULMImageRange& inSourceRange) override;

    // The one on-board image of a buffer that is not banded; null in host
    // memory.
    ULMImageBufferInternal* GetImageBuffer() const;
    ULMImageBufferInternal* GetSubImageBuffer(int i) const;

protected:
    ~ULMOmniImageBuffer() override = default;

    ULMImageBufferInternal* CreateSub(ULMLocation inBoard, unsigned inWidth,
                                      unsigned inHeight) const override;
    void ApplySettings(ULMImageBufferInternal* inSub, ULMLocation inLocation) const override;
    int FullSizeBoards(ULMLocation inLocation, int* outBoards) const override;
    bool MapsThroughHostCopy() const override { return IsBanded(); }
    ULMStatus MapSub(ULMImageBufferInternal* inSub, void*& outData, const ULMImageRange& inRange,
                     unsigned& outWidth) override;
    ULMSyncEvent StartUnloadElements(void* outData, const ULMImageRange& inRange,
                                     unsigned inWidth) const override;
    ULMSyncEvent StartUpdateElements(const void* inData, const ULMImageRange& inRange,
                                     unsigned inWidth) override;
    Route ChooseRoute(ULMLocation inDestination) const override;

private:
    // Whole pixels when inField is null, else that field of each.
    ULMSyncEvent StartTransfer(bool inLoad, const void* inData, const ULMFieldDescriptor* inField,
                               const ULMImageRange& inRange, unsigned inWidth) const;
    ULMSyncEvent StartResampleFromCopy(ULMLocation inBoard, ULMImageBuffer* outDestination,
                                       const ULMImageRange& inDestinationRange,
                                       const ULMImageRange& inSourceRange);

    ULMBorderColour m_border;
    ULMFieldDescriptor m_fieldList[kULMMaxPixelFields];
};

}  // namespace ulm3
