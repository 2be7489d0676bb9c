#include "buffers/omni_buffer.h"

#include <new>

#include "board/board_range.h"
#include "board/kwb_board.h"
#include "buffers/buffer_range_rule.h"
#include "buffers/depth_buffer_internal.h"
#include "buffers/image_buffer_internal.h"
#include "buffers/on_board_buffer.h"
#include "foundation/numeric.h"
#include "ulm3/depth_buffer.h"
#include "ulm3/image_buffer.h"

namespace ulm3 {
namespace {

// Board coordinates are signed 16-bit: no board image is larger.
constexpr uint32_t kMaxBoardExtent = 32768;

}  // namespace

ULMStatus ComputeBandLayout(uint32_t inHeight, int inParts, int& outCount, uint32_t& outBandHeight) {
    if (inHeight == 0 || inParts <= 0) return kULMErrArgument;
    ULM_ASSERT_TEXT(inParts <= kMultiboardMaxVolumes, "numberSubBuffers <= kMultiboardMaxVolumes");
    uint64_t bandHeight = (uint64_t{inHeight} + inParts - 1) / inParts;
    bandHeight += bandHeight % 2;  // bands start on even rows
    // Rounding up to even rows may leave the last parts nothing: the
    // picture then takes fewer bands, the last one the rest.
    outCount = static_cast<int>((inHeight + bandHeight - 1) / bandHeight);
    outBandHeight = static_cast<uint32_t>(bandHeight);
    return kULMOK;
}

ULMStatus ComputeBandLayout(uint32_t inHeight, int& outCount, uint32_t& outBandHeight) {
    const int boards = static_cast<int>(gULMControl.m_KWBBoardCount);
    const int count =
        gULMControl.m_multiboardSubvolumes != 0 ? gULMControl.m_multiboardSubvolumes : boards;
    if (boards == 0 || count <= 0) return kULMErrArgument;
    return ComputeBandLayout(inHeight, count, outCount, outBandHeight);
}

template <class Interface, class Sub>
ULMOmniBuffer<Interface, Sub>::ULMOmniBuffer(ULMLocation inLocation, unsigned inWidth,
                                             unsigned inHeight, unsigned inElementBits,
                                             bool inWrapResetsOrigin)
    : m_location(inLocation),
      m_wholeRange(static_cast<int>(inWidth), static_cast<int>(inHeight), 0, 0),
      m_pixelSize(inElementBits),
      m_wrapResetsOrigin(inWrapResetsOrigin) {}

template <class Interface, class Sub>
ULMOmniBuffer<Interface, Sub>::~ULMOmniBuffer() {
    // A board mapping is closed; a host copy is not written back into
    // storage that goes away with it.
    const bool hostMapping = m_mapAddress == nullptr || m_location == kULMSystem ||
                             m_mapAddress == m_mapBuffer.get();
    if (!hostMapping && m_subBuffers.GetBuffer(0) != nullptr)
        m_subBuffers.GetBuffer(0)->Unmap(m_mapAddress);
    m_mapAddress = nullptr;
    m_subBuffers.ReleaseAll();
    SyncEventFromWord(m_systemBufferEvent.load(std::memory_order_acquire)).Wait(-1);
}

template <class Interface, class Sub>
uint8_t* ULMOmniBuffer<Interface, Sub>::NewHostArray() const {
    // Sizes above INT32_MAX arrive here as negative ones and are refused
    // with the rest: an array too large to count is never made short.
    size_t bytes = 0;
    if (!PixelArrayBytes(m_wholeRange.XSize(), m_wholeRange.YSize(),
                         static_cast<int>(m_pixelSize), bytes))
        return nullptr;
    return new (std::nothrow) uint8_t[bytes]();
}

template <class Interface, class Sub>
ULMStatus ULMOmniBuffer<Interface, Sub>::EnsureSystemBuffer() {
    if (m_systemBuffer != nullptr) return kULMOK;
    m_systemBuffer.reset(NewHostArray());
    return m_systemBuffer != nullptr ? kULMOK : kULMErrAlloc;
}

template <class Interface, class Sub>
void ULMOmniBuffer<Interface, Sub>::WaitForSystemBuffer() const {
    uint64_t word = m_systemBufferEvent.load(std::memory_order_acquire);
    SyncEventFromWord(word).Wait(-1);
    // Another reader may have cleared it already; that is the same outcome.
    m_systemBufferEvent.compare_exchange_strong(word, SyncEventWord(ULMSyncEvent(kULMOK)),
                                                std::memory_order_acq_rel);
}

template <class Interface, class Sub>
void* ULMOmniBuffer<Interface, Sub>::HostAddress(int inX, int inY) const {
    ULM_ASSERT(m_systemBuffer != NULL);
    // In 64 bits: a coordinate minus an offset far from it leaves int.
    const ptrdiff_t index = (int64_t{inY} - m_addressParameterY) * m_wholeRange.XSize() +
                            (int64_t{inX} - m_addressParameterX);
    return m_systemBuffer.get() + index * static_cast<ptrdiff_t>(m_pixelSize / 8);
}

template <class Interface, class Sub>
ULMStatus ULMOmniBuffer<Interface, Sub>::CheckRange(const ULMImageRange& inRange) const {
    const ULMImageRange window(m_wholeRange.XSize(), m_wholeRange.YSize(), m_addressParameterX,
                               m_addressParameterY);
    return CheckBufferRange(m_addressMode, window, inRange);
}

template <class Interface, class Sub>
ULMImageRange ULMOmniBuffer<Interface, Sub>::PartWindow(const SubBufferInfo<Sub>& inInfo,
                                                        int i) const {
    ULMImageRange window = inInfo.Range(i);
    window.XOrigin() += m_wholeRange.XOrigin();
    window.YOrigin() += m_wholeRange.YOrigin();
    return window;
}

template <class Interface, class Sub>
ULMImageRange ULMOmniBuffer<Interface, Sub>::PartOf(const ULMImageRange& inRange,
                                                    const SubBufferInfo<Sub>& inInfo, int i) const {
    // Under wrap addressing every part is full-size and wraps alike.
    if (m_addressMode == kULMWrapAddress) return inRange;
    return Intersect(inRange, PartWindow(inInfo, i));
}

template <class Interface, class Sub>
ULMImageRange ULMOmniBuffer<Interface, Sub>::GetSubImageRange(int i) const {
    ULM_ASSERT(i >= 0 && i < m_numberSubBuffers);
    return PartWindow(m_subBuffers, i);
}

template <class Interface, class Sub>
ULMStatus ULMOmniBuffer<Interface, Sub>::BuildSubBuffers(ULMLocation inLocation,
                                                         SubBufferInfo<Sub>& outInfo,
                                                         int& outCount) {
    outCount = 0;
    if (inLocation == kULMSystem) return EnsureSystemBuffer();
    if (GetWidth() > kMaxBoardExtent || GetHeight() > kMaxBoardExtent) return kULMErrArgument;
    const unsigned boards = gULMControl.m_KWBBoardCount;
    if (boards == 0) return kULMErrArgument;
    if (inLocation == kULMMultiBoardMode1) {
        int count = 0;
        uint32_t bandHeight = 0;
        const ULMStatus status = ComputeBandLayout(GetHeight(), count, bandHeight);
        if (status != kULMOK) return status;
        uint32_t y = 0;
        for (int i = 0; i < count; ++i) {
            const uint32_t height = i == count - 1 ? GetHeight() - y : bandHeight;
            Sub* band = CreateSub(static_cast<ULMLocation>(i % boards), GetWidth(), height);
            if (band == nullptr) return kULMErrAlloc;
            band->SetOffset(0, static_cast<int>(y));
            ApplySettings(band, inLocation);
            outInfo.Set(i, band, ULMImageRange(static_cast<int>(GetWidth()),
                                               static_cast<int>(height), 0, static_cast<int>(y)));
            band->Release();
            outCount = i + 1;
            y += height;
        }
    } else {
        int onBoards[kMultiboardMaxVolumes] = {};
        const int count = FullSizeBoards(inLocation, onBoards);
        for (int i = 0; i < count; ++i) {
            Sub* copy = CreateSub(static_cast<ULMLocation>(onBoards[i]), GetWidth(), GetHeight());
            if (copy == nullptr) return kULMErrAlloc;
            copy->SetAddressParameters(m_addressMode, m_addressParameterX, m_addressParameterY);
            ApplySettings(copy, inLocation);
            outInfo.Set(i, copy, ULMImageRange(m_wholeRange.XSize(), m_wholeRange.YSize(), 0, 0));
            copy->Release();
            outCount = i + 1;
        }
    }
    ApplyLimits(outInfo, outCount);
    return kULMOK;
}

template <class Interface, class Sub>
void ULMOmniBuffer<Interface, Sub>::ApplyLimits(const SubBufferInfo<Sub>& inInfo,
                                                int inCount) const {
    for (int i = 0; i < inCount; ++i) {
        inInfo.GetBuffer(i)->SetInputLimits(PartOf(m_inputLimits, inInfo, i));
        inInfo.GetBuffer(i)->SetOutputLimits(PartOf(m_outputLimits, inInfo, i));
    }
}

template <class Interface, class Sub>
void ULMOmniBuffer<Interface, Sub>::Adopt(SubBufferInfo<Sub>& ioInfo, int inCount,
                                          ULMLocation inLocation) {
    m_subBuffers.Swap(ioInfo);
    ioInfo.ReleaseAll();
    m_numberSubBuffers = inCount;
    m_location = inLocation;
}

template <class Interface, class Sub>
ULMStatus ULMOmniBuffer<Interface, Sub>::CreateSubBuffers(ULMLocation inLocation,
                                                          int& numberBoardBuffersCreated) {
    SubBufferInfo<Sub> fresh;
    int count = 0;
    const ULMStatus status = BuildSubBuffers(inLocation, fresh, count);
    if (status != kULMOK) return status;
    Adopt(fresh, count, inLocation);
    numberBoardBuffersCreated = count;
    return kULMOK;
}

template <class Interface, class Sub>
void ULMOmniBuffer<Interface, Sub>::ReleaseSubBuffers() {
    m_subBuffers.ReleaseAll();
    m_numberSubBuffers = 0;
}

template <class Interface, class Sub>
ULMStatus ULMOmniBuffer<Interface, Sub>::MapPixels(void*& outData, const ULMImageRange& inRange,
                                                   unsigned& outWidth) {
    if (CheckRange(inRange) != kULMOK) return kULMErrArgument;
    if (m_mapAddress != nullptr) return kULMErrTooMany;
    void* address = nullptr;
    if (InHost()) {
        WaitForSystemBuffer();
        address = HostAddress(inRange.XOrigin(), inRange.YOrigin());
        outWidth = GetWidth();
    } else if (MapsThroughHostCopy()) {
        if (!gULMControl.m_simulateMap) return kULMErrUnimplemented;
        if (m_mapBuffer == nullptr) {
            m_mapBuffer.reset(NewHostArray());
            if (m_mapBuffer == nullptr) return kULMErrAlloc;
        }
        const unsigned rowLength = static_cast<unsigned>(inRange.XSize());
        const ULMStatus status =
            StartUnloadElements(m_mapBuffer.get(), inRange, rowLength).Wait(-1);
        if (status != kULMOK) return status;
        m_mapRange = inRange;
        address = m_mapBuffer.get();
        outWidth = rowLength;
    } else {
        const ULMStatus status = MapSub(m_subBuffers.GetBuffer(0), address, inRange, outWidth);
        if (status != kULMOK) return status;
        if (address == nullptr) return kULMErrUnimplemented;
    }
    m_mapAddress = address;
    outData = address;
    return kULMOK;
}

template <class Interface, class Sub>
ULMStatus ULMOmniBuffer<Interface, Sub>::Unmap(void* inData) {
    if (inData == nullptr || inData != m_mapAddress) return kULMErrArgument;
    ULMStatus status = kULMOK;
    if (InHost()) {
        // A pointer into the host array: nothing to give back.
    } else if (m_mapAddress == m_mapBuffer.get()) {
        status = StartUpdateElements(m_mapBuffer.get(), m_mapRange,
                                     static_cast<unsigned>(m_mapRange.XSize()))
                     .Wait(-1);
    } else if (MapsThroughHostCopy()) {
        return kULMErrUnimplemented;
    } else {
        status = m_subBuffers.GetBuffer(0)->Unmap(inData);
    }
    m_mapAddress = nullptr;
    return status;
}

template <class Interface, class Sub>
ULMStatus ULMOmniBuffer<Interface, Sub>::SetOffset(int inOffsetX, int inOffsetY) {
    if (inOffsetX % 2 != 0 || inOffsetY % 2 != 0) return kULMErrArgument;
    if (IsBanded() && (inOffsetX != 0 || inOffsetY != 0)) return kULMErrUnimplemented;
    SettleDeferredWrites();
    // Full-size parts all take the same offset, and bands only their own
    // rows: a part refuses it only when the first one does.
    for (int i = 0; i < m_numberSubBuffers; ++i) {
        const ULMImageRange& part = m_subBuffers.Range(i);
        const ULMStatus status = m_subBuffers.GetBuffer(i)->SetOffset(
            inOffsetX + part.XOrigin(), inOffsetY + part.YOrigin());
        if (status != kULMOK) return status;
    }
    m_wholeRange.XOrigin() = inOffsetX;
    m_wholeRange.YOrigin() = inOffsetY;
    m_addressParameterX = inOffsetX;
    m_addressParameterY = inOffsetY;
    m_addressMode = kULMOffsetAddress;
    return kULMOK;
}

template <class Interface, class Sub>
ULMStatus ULMOmniBuffer<Interface, Sub>::SetWrap(int inWrapX, int inWrapY) {
    if (inWrapX < 1 || inWrapY < 1 || !ULMIsPowerOf2(static_cast<uint32_t>(inWrapX)) ||
        !ULMIsPowerOf2(static_cast<uint32_t>(inWrapY)))
        return kULMErrArgument;
    if (InHost() || IsBanded()) return kULMErrUnimplemented;
    SettleDeferredWrites();
    for (int i = 0; i < m_numberSubBuffers; ++i) {
        const ULMStatus status = m_subBuffers.GetBuffer(i)->SetWrap(inWrapX, inWrapY);
        if (status != kULMOK) return status;
    }
    if (m_wrapResetsOrigin) {
        m_wholeRange.XOrigin() = 0;
        m_wholeRange.YOrigin() = 0;
    }
    m_addressParameterX = inWrapX;
    m_addressParameterY = inWrapY;
    m_addressMode = kULMWrapAddress;
    return kULMOK;
}

template <class Interface, class Sub>
ULMStatus ULMOmniBuffer<Interface, Sub>::SetAddressParameters(ULMAddressMode inMode,
                                                              int inParameterX, int inParameterY) {
    if (inMode == kULMOffsetAddress) return this->SetOffset(inParameterX, inParameterY);
    if (inMode == kULMWrapAddress) return this->SetWrap(inParameterX, inParameterY);
    return kULMErrArgument;
}

template <class Interface, class Sub>
ULMStatus ULMOmniBuffer<Interface, Sub>::StoreLimits(ULMImageRange& outLimits,
                                                     const ULMImageRange& inLimits) {
    if (CheckRange(inLimits) != kULMOK) return kULMErrArgument;
    SettleDeferredWrites();
    outLimits = inLimits;
    ApplyLimits(m_subBuffers, m_numberSubBuffers);
    return kULMOK;
}

template <class Interface, class Sub>
ULMSyncEvent ULMOmniBuffer<Interface, Sub>::StartMigrate(ULMLocation inLocation) {
    if (inLocation == m_location) return ULMSyncEvent(kULMOK);
    if (!ValidLocation(inLocation)) return ULMSyncEvent(kULMErrArgument);
    switch (m_migrationMode) {
        case kULMMigrationNoCopy:
            return DoStartMigrate(inLocation, ULMImageRange());
        case kULMMigrationCopyInput:
            return DoStartMigrate(inLocation, m_inputLimits);
        case kULMMigrationFullCopy: {
            // A wrapped buffer lives on boards only, and reaches what its
            // storage holds; its recorded origin may be a stale offset.
            const bool wrapped = m_addressMode == kULMWrapAddress && m_numberSubBuffers > 0;
            return DoStartMigrate(inLocation, wrapped ? m_subBuffers.GetBuffer(0)->ReachableRange()
                                                      : m_wholeRange);
        }
        default:
            return ULMSyncEvent(kULMErrUnimplemented);
    }
}

template <class Interface, class Sub>
ULMSyncEvent ULMOmniBuffer<Interface, Sub>::DoStartMigrate(ULMLocation inDestination,
                                                           const ULMImageRange& copyRange) {
    if (inDestination == m_location) return ULMSyncEvent(kULMOK);
    if (!ValidLocation(inDestination)) return ULMSyncEvent(kULMErrArgument);
    // A mapping handed out would point into storage the move gives back.
    if (m_mapAddress != nullptr) return ULMSyncEvent(kULMErrBuffer);
    // The move sets the parts' settings, or gives them back.
    SettleDeferredWrites();
    // Host memory holds no wrapped image, and bands sit at their own
    // offsets: the same refusals as SetWrap and SetOffset give there.
    if (m_addressMode == kULMWrapAddress &&
        (inDestination == kULMSystem || inDestination == kULMMultiBoardMode1))
        return ULMSyncEvent(kULMErrUnimplemented);
    if (inDestination == kULMMultiBoardMode1 &&
        (m_addressParameterX != 0 || m_addressParameterY != 0))
        return ULMSyncEvent(kULMErrUnimplemented);

    if (copyRange.IsEmpty()) {
        int count = 0;
        return ULMSyncEvent(CreateSubBuffers(inDestination, count));
    }
    if (inDestination == kULMSystem || InHost()) return MoveThroughHost(inDestination, copyRange);

    switch (ChooseRoute(inDestination)) {
        case Route::kKeep:
            ApplySettings(m_subBuffers.GetBuffer(0), inDestination);
            m_location = inDestination;
            return ULMSyncEvent(kULMOK);
        case Route::kKeepCopy: {
            Sub* kept = m_subBuffers.GetBuffer(inDestination);
            ULM_ASSERT_TEXT(kept != nullptr && kept->GetLocation() == inDestination,
                            "pSource->GetLocation() == inDestination");
            SubBufferInfo<Sub> fresh;
            fresh.Set(0, kept, m_subBuffers.Range(inDestination));
            Adopt(fresh, 1, inDestination);
            return ULMSyncEvent(kULMOK);
        }
        case Route::kThroughHost:
            return MoveThroughHost(inDestination, copyRange);
        case Route::kBoardCopy:
            break;
    }
    SubBufferInfo<Sub> fresh;
    int count = 0;
    const ULMStatus status = BuildSubBuffers(inDestination, fresh, count);
    if (status != kULMOK) return ULMSyncEvent(status);
    const ULMSyncEvent copied = CopyBetweenBoards(fresh, count, copyRange);
    if (ULMFailed(copied.Status())) return copied;
    // The board layer keeps the old parts until the copies out of them end.
    Adopt(fresh, count, inDestination);
    return copied;
}

template <class Interface, class Sub>
ULMSyncEvent ULMOmniBuffer<Interface, Sub>::CopyBetweenBoards(const SubBufferInfo<Sub>& inNew,
                                                              int inNewCount,
                                                              const ULMImageRange& inCopyRange) const {
    // Full-size copies hold the same pixels: the first one serves.
    const int sources = m_location == kULMMultiBoardMode2 ? 1 : m_numberSubBuffers;
    ULMEventJoin join;
    for (int i = 0; i < sources; ++i) {
        Sub* source = m_subBuffers.GetBuffer(i);
        for (int j = 0; j < inNewCount; ++j) {
            const ULMImageRange part =
                PartOf(PartOf(inCopyRange, m_subBuffers, i), inNew, j);
            if (part.IsEmpty()) continue;
            KWBBuffer* kwbDest = inNew.GetBuffer(j)->GetBuffer();
            ULM_ASSERT(kwbDest != NULL);
            const ULMSyncEvent event = source->StartCopyInto(kwbDest, part);
            if (ULMFailed(event.Status())) return ULMSyncEvent(ULMSettleRefusedParts(join.Result(), event.Status()));
            join.Add(event);
        }
    }
    return join.Result();
}

template <class Interface, class Sub>
ULMSyncEvent ULMOmniBuffer<Interface, Sub>::MoveThroughHost(ULMLocation inDestination,
                                                            const ULMImageRange& inCopyRange) {
    ULMStatus status = EnsureSystemBuffer();
    if (status != kULMOK) return ULMSyncEvent(status);
    WaitForSystemBuffer();
    // Only what the host array can hold travels through it.
    const ULMImageRange part = Intersect(inCopyRange, m_wholeRange);
    const unsigned rowLength = GetWidth();
    if (!InHost()) {
        const ULMSyncEvent unloaded =
            part.IsEmpty() ? ULMSyncEvent(kULMOK)
                           : StartUnloadElements(HostAddress(part.XOrigin(), part.YOrigin()),
                                                 part, rowLength);
        if (ULMFailed(unloaded.Status())) return unloaded;
        if (inDestination == kULMSystem) {
            SetSystemBufferEvent(unloaded);
            ReleaseSubBuffers();
            m_location = kULMSystem;
            return unloaded;
        }
        // The update below reads the array on another board: it must not
        // start before the unload has filled it.
        status = unloaded.Wait(-1);
        if (status != kULMOK) return ULMSyncEvent(status);
    }
    SubBufferInfo<Sub> fresh;
    int count = 0;
    status = BuildSubBuffers(inDestination, fresh, count);
    if (status != kULMOK) return ULMSyncEvent(status);
    Adopt(fresh, count, inDestination);
    const ULMSyncEvent updated =
        part.IsEmpty() ? ULMSyncEvent(kULMOK)
                       : StartUpdateElements(HostAddress(part.XOrigin(), part.YOrigin()), part,
                                             rowLength);
    if (ULMFailed(updated.Status())) {
        ReleaseSubBuffers();
        m_location = kULMSystem;
        return updated;
    }
    SetSystemBufferEvent(updated);
    return updated;
}

template class ULMOmniBuffer<ULMImageBuffer, ULMImageBufferInternal>;
template class ULMOmniBuffer<ULMDepthBuffer, ULMDepthBufferInternal>;

}  // namespace ulm3
