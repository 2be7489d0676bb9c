// What the on-board image and depth buffers share: one buffer in one
// board's memory, the image's addressing window and its range rule, the
// input and output limits, transfers through the board layer, and the move
// to another board.
#pragma once

#include <cstdint>

#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "foundation/diagnostics.h"
#include "foundation/thread_scope_flag.h"
#include "ulm3/buffer_types.h"
#include "ulm3/fields.h"
#include "ulm3/location.h"
#include "ulm3/ranges.h"
#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// The assertion with the text the library reports for it, for conditions
// whose C++ spelling differs from that text.
#define ULM_ASSERT_TEXT(expr, text) \
    ((expr) ? (void)0 : ::ulm3::UlmAssert((text), __FILE__, __LINE__, nullptr))

// Raised by a start call while it records on its output what the write it
// has just deferred there will have left (its output limits): letting that
// write run first would wait for the very board work the start returns
// before.
class ULMRecordingDeferredWrite : public ULMThreadScopeFlag<ULMRecordingDeferredWrite> {};

// True for the number of a board that the library has open.
bool IsOpenBoardLocation(ULMLocation inLocation);

// Interface is ULMImageBuffer or ULMDepthBuffer. The object owns its board
// buffer and gives it back when it dies or moves. No locks: ordering on the
// board comes from the buffer's load, unload and render events.
template <class Interface>
class ULMOnBoardBuffer : public Interface {
public:
    ULMLocation GetLocation() const override { return m_location; }
    void GetSize(unsigned& outWidth, unsigned& outHeight) const override {
        outWidth = m_width;
        outHeight = m_height;
    }
    unsigned GetWidth() const override { return m_width; }
    unsigned GetHeight() const override { return m_height; }

    ULMStatus Unmap(void* inData) override;

    // Offsets are even (negative ones too); wrap sizes are powers of two.
    // A refused change leaves the addressing as it was.
    ULMStatus SetOffset(int inOffsetX, int inOffsetY) override;
    ULMStatus SetWrap(int inWrapX, int inWrapY) override;
    ULMStatus SetAddressParameters(ULMAddressMode inMode, int inParameterX,
                                   int inParameterY) override;
    void GetAddressParameters(ULMAddressMode& outMode, int& outParameterX,
                              int& outParameterY) const override {
        outMode = m_addressMode;
        outParameterX = m_addressParameterX;
        outParameterY = m_addressParameterY;
    }
    int GetAddressParameterX() const override { return m_addressParameterX; }
    int GetAddressParameterY() const override { return m_addressParameterY; }
    ULMAddressMode GetAddressMode() const override { return m_addressMode; }

    // The input limits are also the board buffer's valid range.
    ULMImageRange GetInputLimits() const override { return m_inputLimits; }
    ULMStatus SetInputLimits(const ULMImageRange& inLimits) override;
    ULMImageRange GetOutputLimits() const override { return m_outputLimits; }

    ULMStatus SetMigrationMode(ULMMigrationMode inMode) override;
    ULMMigrationMode GetMigrationMode() const override { return m_migrationMode; }
    ULMStatus Migrate(ULMLocation inLocation) override {
        return this->StartMigrate(inLocation).Wait(-1);
    }
    // The current board: done, under every mode. Another board: refused
    // under kULMMigrationNone, else moved with what the mode carries.
    ULMSyncEvent StartMigrate(ULMLocation inLocation) override;
    unsigned long long GetLastVolumeRendered() const override { return m_lastVolume; }

    // Every pixel the image reaches: in offset mode its addressable window;
    // under wrap the residues its board storage holds, from 0 to the smaller
    // of modulus and storage on each axis (more than width x height when the
    // modulus is larger).
    ULMImageRange ReachableRange() const;

    // Queues the copy of inRange into ioDestination, a buffer of the same
    // shape and addressing. A range that holds all a wrap reaches carries
    // every element of the storage, copied under offset 0: the elements the
    // wrap does not reach keep what the image shows under another addressing.
    ULMSyncEvent StartCopyInto(KWBBuffer* ioDestination, const ULMImageRange& inRange) const;

    KWBBuffer* GetBuffer() const { return m_buffer; }
    // A write into the image still to come from a host step reads (or sets)
    // its settings as they were when its render started, and may run on
    // another thread: a setter lets it run first.
    void SettleDeferredWrite() const {
        if (m_buffer != nullptr && !ULMRecordingDeferredWrite::Active()) m_buffer->SettleDeferredWriter();
    }
    void SetBuffer(KWBBuffer* inBuffer) { m_buffer = inBuffer; }
    void SetLastVolumeRendered(unsigned long long inVolumeId) { m_lastVolume = inVolumeId; }

    // The move itself: a new buffer of the same shape and addressing on the
    // target board, rangeToCopy copied into it when not empty, the old
    // buffer given back without waiting for the copy. A failure keeps the
    // old board, buffer and pixels.
    ULMSyncEvent DoStartMigrate(ULMLocation inLocation, const ULMImageRange& rangeToCopy);

protected:
    ULMOnBoardBuffer(ULMLocation inLocation, unsigned inWidth, unsigned inHeight);
    ~ULMOnBoardBuffer() override;

    // A board buffer of at least 32 x 32 elements (inPlanes 0: 2-D) with an
    // empty valid range.
    ULMStatus AllocateStorage(uint32_t inPlanes, uint32_t inElementBits);

    void AssertBoard() const;
    ULMImageRange AddressableWindow() const;
    ULMStatus CheckRange(const ULMImageRange& inRange) const;
    // The board's box of a range: under wrap a range at negative
    // coordinates moves up by whole periods onto the same elements, as the
    // board's coordinates start at 0.
    KWBRange BoardBox(const ULMImageRange& inRange) const;

    // Whole elements when inFieldBits is 0, else one field of each.
    ULMSyncEvent StartTransfer(bool inLoad, const void* inData, uint32_t inFieldBits,
                               uint32_t inFieldPosition, const ULMImageRange& inRange,
                               unsigned inWidth) const;
    ULMStatus ClearRange(const ULMImageRange& inRange, uint64_t inValue);
    ULMStatus MapRange(void*& outData, const ULMImageRange& inRange, unsigned& outWidth);
    // What a move carries under the current migration mode (not None).
    ULMImageRange MigrationCopyRange() const;

    KWBBoard* m_board = nullptr;
    KWBBuffer* m_buffer = nullptr;
    ULMLocation m_location;
    uint32_t m_width;
    uint32_t m_height;
    ULMImageRange m_inputLimits;
    ULMImageRange m_outputLimits;
    ULMAddressMode m_addressMode = kULMOffsetAddress;
    int32_t m_addressParameterX = 0;
    int32_t m_addressParameterY = 0;
    ULMMigrationMode m_migrationMode = kULMMigrationNone;
    uint64_t m_lastVolume = 0;
};

}  // namespace ulm3
