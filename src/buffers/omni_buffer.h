// What the location-independent image and depth buffers share: pixels that
// live in a host array, on one board, as one or more full-size copies, or in
// horizontal bands over several boards; every operation split over the
// per-board parts; one mapping at a time; and moves between locations.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

#include "buffers/host_pixels.h"
#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/sync_event.h"
#include "ulm3/buffer_types.h"
#include "ulm3/fields.h"
#include "ulm3/location.h"
#include "ulm3/ranges.h"
#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// Most parts a buffer is split into: one per board.
inline constexpr int kMultiboardMaxVolumes = 8;

// The per-board parts of a buffer with the rectangle each covers. Ranges are
// kept relative to the buffer's origin (bands at (0, y), full-size parts at
// (0, 0)), so that a later change of offset moves them all alike. Each slot
// holds one reference.
template <class Sub>
class SubBufferInfo {
public:
    SubBufferInfo() = default;
    ~SubBufferInfo() { ReleaseAll(); }
    SubBufferInfo(const SubBufferInfo&) = delete;
    SubBufferInfo& operator=(const SubBufferInfo&) = delete;

    void Set(int b, Sub* buffer, const ULMImageRange& range) {
        if (buffer != nullptr) buffer->AddRef();
        if (m_buffer[b] != nullptr) m_buffer[b]->Release();
        m_buffer[b] = buffer;
        m_range[b] = range;
    }
    Sub* GetBuffer(int b) const { return m_buffer[b]; }
    const ULMImageRange& Range(int b) const { return m_range[b]; }
    void ReleaseAll() {
        for (int b = 0; b < kMultiboardMaxVolumes; ++b) Set(b, nullptr, ULMImageRange());
    }
    void Swap(SubBufferInfo& other) {
        for (int b = 0; b < kMultiboardMaxVolumes; ++b) {
            std::swap(m_buffer[b], other.m_buffer[b]);
            std::swap(m_range[b], other.m_range[b]);
        }
    }

private:
    Sub* m_buffer[kMultiboardMaxVolumes] = {};
    ULMImageRange m_range[kMultiboardMaxVolumes];
};

// The band layout of inHeight rows over at most inParts bands: kULMOK and
// the count of bands and the height of all but the last, which takes the
// rest (at least one row). Bands start on even rows, so a picture of few
// rows may take fewer bands than parts. kULMErrArgument for no rows.
ULMStatus ComputeBandLayout(uint32_t inHeight, int inParts, int& outCount, uint32_t& outBandHeight);
// The same over the configured number of bands; kULMErrArgument with no
// board open.
ULMStatus ComputeBandLayout(uint32_t inHeight, int& outCount, uint32_t& outBandHeight);

// Interface is ULMImageBuffer or ULMDepthBuffer, Sub the matching on-board
// buffer. Reads may run on several threads at once; everything else is
// ordered by the callers, as the public interfaces say.
template <class Interface, class Sub>
class ULMOmniBuffer : public Interface {
public:
    ULMLocation GetLocation() const override { return m_location; }
    void GetSize(unsigned& outWidth, unsigned& outHeight) const override {
        outWidth = GetWidth();
        outHeight = GetHeight();
    }
    unsigned GetWidth() const override { return static_cast<unsigned>(m_wholeRange.XSize()); }
    unsigned GetHeight() const override { return static_cast<unsigned>(m_wholeRange.YSize()); }

    ULMStatus Unmap(void* inData) override;

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

    ULMImageRange GetInputLimits() const override { return m_inputLimits; }
    ULMStatus SetInputLimits(const ULMImageRange& inLimits) override {
        return StoreLimits(m_inputLimits, inLimits);
    }
    ULMImageRange GetOutputLimits() const override { return m_outputLimits; }
    ULMStatus SetOutputLimits(const ULMImageRange& inLimits) override {
        return StoreLimits(m_outputLimits, inLimits);
    }

    ULMMigrationMode GetMigrationMode() const override { return m_migrationMode; }
    ULMStatus Migrate(ULMLocation inLocation) override {
        return this->StartMigrate(inLocation).Wait(-1);
    }
    // The present location: done under every mode. Otherwise the mode
    // decides what travels; kULMMigrationNone refuses the move.
    ULMSyncEvent StartMigrate(ULMLocation inLocation) override;
    unsigned long long GetLastVolumeRendered() const override { return m_lastVolume; }

    // The move itself, carrying copyRange (nothing when it is empty). A move
    // that fails keeps the old storage, location and pixels.
    ULMSyncEvent DoStartMigrate(ULMLocation inDestination, const ULMImageRange& copyRange);

    // Makes the storage of a location and puts it in place of the present
    // one, which is given back only once the new one exists.
    ULMStatus CreateSubBuffers(ULMLocation inLocation, int& numberBoardBuffersCreated);
    void ReleaseSubBuffers();
    int GetNumberBuffers() const { return m_numberSubBuffers; }
    ULMImageRange GetSubImageRange(int i) const;
    void SetLastVolumeRendered(unsigned long long inVolume) { m_lastVolume = inVolume; }

protected:
    ULMOmniBuffer(ULMLocation inLocation, unsigned inWidth, unsigned inHeight,
                  unsigned inElementBits, bool inWrapResetsOrigin);
    ~ULMOmniBuffer() override;

    // What the two kinds do differently.
    virtual Sub* CreateSub(ULMLocation inBoard, unsigned inWidth, unsigned inHeight) const = 0;
    // Border value and migration mode of a part that now serves inLocation.
    virtual void ApplySettings(Sub* inSub, ULMLocation inLocation) const = 0;
    // The board numbers of full-size parts for a board or Mode2 location.
    virtual int FullSizeBoards(ULMLocation inLocation, int* outBoards) const = 0;
    virtual bool MapsThroughHostCopy() const = 0;
    virtual ULMStatus MapSub(Sub* inSub, void*& outData, const ULMImageRange& inRange,
                             unsigned& outWidth) = 0;
    // Whole elements between host rows and the buffer, wherever it lives.
    virtual ULMSyncEvent StartUnloadElements(void* outData, const ULMImageRange& inRange,
                                             unsigned inWidth) const = 0;
    virtual ULMSyncEvent StartUpdateElements(const void* inData, const ULMImageRange& inRange,
                                             unsigned inWidth) = 0;
    // The route of a move between two kinds of storage (see DoStartMigrate).
    enum class Route { kKeep, kKeepCopy, kBoardCopy, kThroughHost };
    virtual Route ChooseRoute(ULMLocation inDestination) const = 0;

    // Writes into the parts still to come from host steps run first: they
    // read (or set) the settings as they were when their renders started.
    void SettleDeferredWrites() const {
        for (int i = 0; i < m_numberSubBuffers; ++i) m_subBuffers.GetBuffer(i)->SettleDeferredWrite();
    }

    // The rule every range argument passes; kULMOK or kULMErrArgument.
    ULMStatus CheckRange(const ULMImageRange& inRange) const;
    // The rectangle of image coordinates that part i covers.
    ULMImageRange PartWindow(const SubBufferInfo<Sub>& inInfo, int i) const;
    ULMImageRange PartOf(const ULMImageRange& inRange, const SubBufferInfo<Sub>& inInfo,
                         int i) const;

    // The operation `start(sub, part, host address of the part)` on the
    // first `count` parts (all when negative) that the range reaches; one
    // event kept per board and combined. A part whose event has already
    // failed ends the walk with that failure.
    template <typename Start>
    ULMSyncEvent StartOnParts(const ULMImageRange& inRange, const void* inData,
                              unsigned inElementBits, unsigned inRowLength, int inCount,
                              Start start) const;

    // The host array: made on first use, kept to the end. Access waits for
    // the transfer that may still be filling or reading it.
    ULMStatus EnsureSystemBuffer();
    void WaitForSystemBuffer() const;
    void SetSystemBufferEvent(const ULMSyncEvent& inEvent) {
        m_systemBufferEvent.store(SyncEventWord(inEvent), std::memory_order_release);
    }
    void* HostAddress(int inX, int inY) const;

    bool IsBanded() const { return m_location == kULMMultiBoardMode1; }
    bool InHost() const { return m_location == kULMSystem; }

    ULMStatus MapPixels(void*& outData, const ULMImageRange& inRange, unsigned& outWidth);

    ULMLocation m_location;
    ULMImageRange m_wholeRange;
    uint32_t m_pixelSize;
    ULMImageRange m_inputLimits;
    ULMImageRange m_outputLimits;
    ULMAddressMode m_addressMode = kULMOffsetAddress;
    int32_t m_addressParameterX = 0;
    int32_t m_addressParameterY = 0;
    ULMMigrationMode m_migrationMode = kULMMigrationNone;
    SubBufferInfo<Sub> m_subBuffers;
    int m_numberSubBuffers = 0;
    std::unique_ptr<uint8_t[]> m_systemBuffer;
    // The word of the transfer that may still fill or read the host array.
    // Readers on several threads wait for it and clear it, so it is atomic.
    mutable std::atomic<uint64_t> m_systemBufferEvent{SyncEventWord(ULMSyncEvent(kULMOK))};
    void* m_mapAddress = nullptr;
    std::unique_ptr<uint8_t[]> m_mapBuffer;
    ULMImageRange m_mapRange;
    uint64_t m_lastVolume = 0;

private:
    ULMStatus BuildSubBuffers(ULMLocation inLocation, SubBufferInfo<Sub>& outInfo, int& outCount);
    // Each part gets its share of both limits.
    void ApplyLimits(const SubBufferInfo<Sub>& inInfo, int inCount) const;
    ULMStatus StoreLimits(ULMImageRange& outLimits, const ULMImageRange& inLimits);
    void Adopt(SubBufferInfo<Sub>& ioInfo, int inCount, ULMLocation inLocation);
    ULMSyncEvent CopyBetweenBoards(const SubBufferInfo<Sub>& inNew, int inNewCount,
                                   const ULMImageRange& inCopyRange) const;
    ULMSyncEvent MoveThroughHost(ULMLocation inDestination, const ULMImageRange& inCopyRange);
    // A zeroed array of the whole image; null when it cannot be made.
    uint8_t* NewHostArray() const;

    bool m_wrapResetsOrigin;
};

}  // namespace ulm3

// ---------------------------------------------------------------------------
// Template members used with the kinds' own lambdas.

namespace ulm3 {

template <class Interface, class Sub>
template <typename Start>
ULMSyncEvent ULMOmniBuffer<Interface, Sub>::StartOnParts(const ULMImageRange& inRange,
                                                         const void* inData,
                                                         unsigned inElementBits,
                                                         unsigned inRowLength, int inCount,
                                                         Start start) const {
    const int count = inCount < 0 || inCount > m_numberSubBuffers ? m_numberSubBuffers : inCount;
    ULMEventJoin join;
    for (int i = 0; i < count; ++i) {
        const ULMImageRange part = PartOf(inRange, m_subBuffers, i);
        if (part.IsEmpty()) continue;
        const void* address =
            inData == nullptr
                ? nullptr
                : ComputeAddress(inData, static_cast<int>(inElementBits),
                                 static_cast<int>(inRowLength), part.XOrigin() - inRange.XOrigin(),
                                 part.YOrigin() - inRange.YOrigin());
        Sub* sub = m_subBuffers.GetBuffer(i);
        ULM_ASSERT(sub != NULL);
        const ULMSyncEvent event = start(sub, part, address);
        // The parts already started touch the caller's pixels.
        if (ULMFailed(event.Status())) return ULMSyncEvent(ULMSettleRefusedParts(join.Result(), event.Status()));
        join.Add(event);
    }
    return join.Result();
}

}  // namespace ulm3
