// An image held in one buffer in the memory of one board: the unit the
// boards render into. Applications reach such images only through the
// location-independent image buffer, which keeps them as its per-board
// parts; the rendering code makes them directly on the board it names.
#pragma once

#include <cstdint>

#include "buffers/border_colour.h"
#include "buffers/on_board_buffer.h"
#include "ulm3/image_buffer.h"

namespace ulm3 {

class ULMImageBufferInternal : public ULMOnBoardBuffer<ULMImageBuffer> {
public:
    // A 2-D image on an open board (by number: kULMAnyBoard, kULMSystem and
    // the multiboard locations are refused) of 16, 32 or 64-bit pixels with
    // up to four fields; null on any failure. One reference for the caller.
    static ULMImageBufferInternal* CreateSimple(ULMLocation inLocation, unsigned inWidth,
                                                unsigned inHeight, unsigned inPixelSize,
                                                int inNumberOfFields,
                                                const ULMFieldDescriptor* inFieldArray);
    // The same as a stack of max(inNumberOfPlanes, 1) planes, which may also
    // have 8-bit pixels; a negative number of planes is refused.
    static ULMImageBufferInternal* Create3D(ULMLocation inLocation, unsigned inWidth,
                                            unsigned inHeight, unsigned inPixelSize,
                                            int inNumberOfFields,
                                            const ULMFieldDescriptor* inFieldArray,
                                            int inNumberOfPlanes);

    unsigned GetPixelSize() const override { return m_pixelSize; }
    // A channel outside 0..3 reads as the no-field descriptor.
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
    // Returns without waiting for the fill, which the board orders before
    // later work on the buffer.
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
    ULMStatus Unmap(void* inData) override;

    ULMStatus SetOutputLimits(const ULMImageRange& inLimits) override;

    void GetBorderValue(double& outRed, double& outGreen, double& outBlue,
                        double& outAlpha) const override {
        m_border.Get(outRed, outGreen, outBlue, outAlpha);
    }
    double GetBorderRed() const override { return m_border.Get(0); }
    double GetBorderGreen() const override { return m_border.Get(1); }
    double GetBorderBlue() const override { return m_border.Get(2); }
    double GetBorderAlpha() const override { return m_border.Get(3); }
    // Each channel is clamped to 0..1 and kept to 12 bits.
    ULMStatus SetBorderValue(double inRed, double inGreen, double inBlue, double inAlpha) override;

    // Resamples inSourceRange of this image into inDestinationRange of the
    // destination on the board, scaled to fit; reductions beyond 2:1 run as
    // a chain of halving passes queued without waiting. The event is the
    // last pass's (or copy's), or a finished one holding a failure.
    ULMStatus Resample(ULMImageBuffer* outDestination, const ULMImageRange& inDestinationRange,
                       const ULMImageRange& inSourceRange) override;
    ULMSyncEvent StartResample(ULMImageBuffer* outDestination,
                               const ULMImageRange& inDestinationRange,
                               const ULMImageRange& inSourceRange) override;

    // Gives a 2-D image a one-plane 3-D buffer with the same pixels, copied
    // by the chip; the image's next pass on this board is queued behind the
    // copy. kULMOK at once for an image that is 3-D already; pixels of more
    // than 32 bits are refused with kULMErrUnimplemented.
    ULMStatus ConvertTo3D();

    bool Is3D() const { return m_is3D; }

protected:
    ~ULMImageBufferInternal() override = default;

private:
    ULMImageBufferInternal(ULMLocation inLocation, unsigned inWidth, unsigned inHeight,
                           unsigned inPixelSize);

    static ULMImageBufferInternal* Make(ULMLocation inLocation, unsigned inWidth,
                                        unsigned inHeight, unsigned inPixelSize,
                                        int inNumberOfFields,
                                        const ULMFieldDescriptor* inFieldArray, bool in3D,
                                        int inNumberOfPlanes);
    // One pass of at most 2:1 per axis, with the moves a destination on
    // another board or in host memory needs.
    ULMSyncEvent DoStartResample(ULMImageBuffer* outDestination,
                                 const ULMImageRange& inDestinationRange,
                                 const ULMImageRange& inSourceRange);
    // The destination on another board or off the boards: the pass into a
    // temporary image here, whose pixels then move.
    ULMSyncEvent ResampleElsewhere(ULMImageBuffer* outDestination, const ULMImageRange& inDestinationRange,
                                   const ULMImageRange& inSourceRange);
    // The pass itself, into an image on this board.
    ULMSyncEvent ResampleHere(ULMImageBuffer* outDestination, const ULMImageRange& inDestinationRange,
                              const ULMImageRange& inSourceRange);

    uint32_t m_pixelSize;
    ULMBorderColour m_border;
    ULMFieldDescriptor m_fieldList[4];
    bool m_is3D = false;
    int m_openMappings = 0;
};

// The on-board image behind a public image buffer: the buffer itself when it
// is one, the one board image of a location-independent buffer on a board
// or under the second multiboard scheme; null for null, for host memory,
// for bands and for any other kind of buffer.
ULMImageBufferInternal* GetImageBufferInternal(ULMImageBuffer* inBuffer);

}  // namespace ulm3
