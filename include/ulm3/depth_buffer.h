// Depth images the boards test against and write: 2-D arrays of 32-bit
// words holding 24-bit depth values.
#pragma once

#include <cstdint>

#include "ulm3/buffer_types.h"
#include "ulm3/fields.h"
#include "ulm3/location.h"
#include "ulm3/ranges.h"
#include "ulm3/shareable.h"
#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// Ranges, addressing, host rows and threads as for ULMImageBuffer, with
// 32-bit elements: reads (Get operations, Unload, StartUnload) may overlap;
// writes, moves, Map and Unmap the caller serialises. The operations after
// SetBorderValue have default bodies that answer kULMErrUnimplemented.
class ULMDepthBuffer : public ULMShareable {
public:
    // How a host word holds a depth value. The library's buffers accept only
    // kDepth24Low, under which words pass between host and board unchanged.
    enum DepthFormat : int32_t {
        kDepth24Low = 0,  // the 24-bit value in the low bits of the word
        kDepth24High = 1,
        kDepthFloat = 2,
    };

    // A width x height depth image in the locations images take. Null on any
    // bad argument or failure; otherwise one reference for the caller. While
    // its values are on a board it holds the library open, as an image does.
    static ULMDepthBuffer* Create(ULMLocation inLocation, unsigned inWidth, unsigned inHeight);

    virtual ULMLocation GetLocation() const = 0;
    virtual void GetSize(unsigned& outWidth, unsigned& outHeight) const = 0;
    virtual unsigned GetWidth() const = 0;
    virtual unsigned GetHeight() const = 0;

    virtual ULMStatus Update(const void* inData, const ULMImageRange& inRange, unsigned inWidth,
                             DepthFormat inFormat) = 0;
    virtual ULMSyncEvent StartUpdate(const void* inData, const ULMImageRange& inRange,
                                     unsigned inWidth, DepthFormat inFormat) = 0;
    virtual ULMStatus Clear(const ULMImageRange& inRange, unsigned inValue) = 0;
    virtual ULMStatus Unload(void* outData, const ULMImageRange& inRange, unsigned inWidth,
                             DepthFormat inFormat) const = 0;
    virtual ULMSyncEvent StartUnload(void* outData, const ULMImageRange& inRange,
                                     unsigned inWidth, DepthFormat inFormat) const = 0;
    virtual ULMStatus Map(unsigned int*& outData, const ULMImageRange& inRange,
                          unsigned& outWidth, DepthFormat inFormat) = 0;
    virtual ULMStatus Map(void*& outData, const ULMImageRange& inRange, unsigned& outWidth,
                          DepthFormat inFormat) = 0;
    virtual ULMStatus Unmap(void* inData) = 0;

    virtual ULMStatus SetOffset(int inOffsetX, int inOffsetY) = 0;
    virtual ULMStatus SetWrap(int inWrapX, int inWrapY) = 0;
    virtual ULMStatus SetAddressParameters(ULMAddressMode inMode, int inParameterX,
                                           int inParameterY) = 0;
    virtual void GetAddressParameters(ULMAddressMode& outMode, int& outParameterX,
                                      int& outParameterY) const = 0;
    virtual int GetAddressParameterX() const = 0;
    virtual int GetAddressParameterY() const = 0;
    virtual ULMAddressMode GetAddressMode() const = 0;

    virtual ULMImageRange GetInputLimits() const = 0;
    virtual ULMStatus SetInputLimits(const ULMImageRange& inLimits) = 0;
    virtual ULMImageRange GetOutputLimits() const = 0;
    virtual ULMStatus SetOutputLimits(const ULMImageRange& inLimits) = 0;

    // A 24-bit depth value.
    virtual unsigned GetBorderValue() const = 0;
    virtual ULMStatus SetBorderValue(unsigned inValue) = 0;

    virtual ULMStatus SetMigrationMode(ULMMigrationMode inMode);
    virtual ULMMigrationMode GetMigrationMode() const;
    virtual ULMStatus Migrate(ULMLocation inLocation);
    virtual ULMSyncEvent StartMigrate(ULMLocation inLocation);
    // The object id of the volume last rendered into the buffer, 0 for none.
    virtual unsigned long long GetLastVolumeRendered() const;
    virtual ULMStatus Reserved05();
    virtual ULMStatus Reserved06();
    virtual ULMStatus Reserved07();
    virtual ULMStatus Reserved08();
    virtual ULMStatus Reserved09();

protected:
    ULMDepthBuffer() = default;
    ~ULMDepthBuffer() override;
};

}  // namespace ulm3
