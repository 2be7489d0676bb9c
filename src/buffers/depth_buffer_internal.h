// A depth image held in one buffer of 32-bit words in the memory of one
// board: what the boards test against and write as a render's depth output.
#pragma once

#include <cstdint>

#include "buffers/on_board_buffer.h"
#include "ulm3/depth_buffer.h"

namespace ulm3 {

// Only kDepth24Low is accepted where a format is taken: host and board words
// are then the same, so nothing is converted.
class ULMDepthBufferInternal : public ULMOnBoardBuffer<ULMDepthBuffer> {
public:
    // On an open board, by number; null on any failure. One reference for
    // the caller.
    static ULMDepthBufferInternal* CreateSimple(ULMLocation inLocation, unsigned inWidth,
                                                unsigned inHeight);

    ULMStatus Update(const void* inData, const ULMImageRange& inRange, unsigned inWidth,
                     DepthFormat inFormat) override;
    ULMSyncEvent StartUpdate(const void* inData, const ULMImageRange& inRange, unsigned inWidth,
                             DepthFormat inFormat) override;
    // Returns without waiting for the fill, as images do.
    ULMStatus Clear(const ULMImageRange& inRange, unsigned inValue) override;
    ULMStatus Unload(void* outData, const ULMImageRange& inRange, unsigned inWidth,
                     DepthFormat inFormat) const override;
    ULMSyncEvent StartUnload(void* outData, const ULMImageRange& inRange, unsigned inWidth,
                             DepthFormat inFormat) const override;
    ULMStatus Map(unsigned int*& outData, const ULMImageRange& inRange, unsigned& outWidth,
                  DepthFormat inFormat) override;
    ULMStatus Map(void*& outData, const ULMImageRange& inRange, unsigned& outWidth,
                  DepthFormat inFormat) override;

    // Stored as given: renders read them, the board does not.
    ULMStatus SetOutputLimits(const ULMImageRange& inLimits) override;

    unsigned GetBorderValue() const override { return m_borderValue; }
    // Values above 24 bits are stored as 0xFFFFFF.
    ULMStatus SetBorderValue(unsigned inValue) override;

    // A location that is not an open board is refused before anything else.
    ULMSyncEvent StartMigrate(ULMLocation inLocation) override;

protected:
    ~ULMDepthBufferInternal() override = default;

private:
    ULMDepthBufferInternal(ULMLocation inLocation, unsigned inWidth, unsigned inHeight);

    uint32_t m_borderValue = 0;
};

}  // namespace ulm3
