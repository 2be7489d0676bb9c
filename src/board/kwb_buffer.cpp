// The board buffer descriptor: sizes, addressing, valid range and the events
// that order work on the buffer.
#include "board/kwb_buffer.h"

#include "board/kwb_sync_event.h"
#include "foundation/diagnostics.h"
#include "foundation/sync_event.h"

namespace ulm3 {
namespace {

constexpr uint32_t kMaxAxisSize = 32768;  // stored minus one in 16 bits

bool IsElementBits(uint32_t bits) { return bits >= 8 && bits <= 64 && KWBIsPowerOf2(bits); }

}  // namespace

void KWBAllocatedSizes(int dimension, uint32_t elementBytes, const uint32_t inSizes[3],
                       uint32_t outSizes[3]) {
    uint32_t masks[3] = {0, 0, 0};
    if (dimension <= 1) {
        masks[0] = 3;
    } else if (dimension == 2) {
        masks[0] = elementBytes > 2 ? 15 : 31;
        masks[1] = elementBytes > 4 ? 7 : 15;
    } else {
        masks[0] = 7;
        masks[1] = elementBytes > 2 ? 3 : 7;
        masks[2] = elementBytes == 1 ? 7 : 3;
    }
    for (int axis = 0; axis < 3; ++axis)
        outSizes[axis] =
            (axis < dimension && inSizes[axis] != 0) ? ((inSizes[axis] - 1) | masks[axis]) + 1 : 0;
}

int32_t KWBPermission(ULMPermission p) {
    const int32_t bits = static_cast<int32_t>(p);
    return (bits & 3) | 4 | ((bits & 4) ? 8 : 0);
}

ULMPermission ConvertPermission(int32_t driverBits) {
    return static_cast<ULMPermission>((driverBits & 3) | ((driverBits & 8) ? 4 : 0));
}

KWBBuffer::KWBBuffer() = default;

KWBBuffer::KWBBuffer(uint32_t inU, uint32_t inV, uint32_t inW, uint32_t inElementBits,
                     ULMStatus& outStatus)
    : KWBBuffer() {
    m_id = ~uint64_t{0};
    if (inU == 0 || inU > kMaxAxisSize || inV > kMaxAxisSize || inW > kMaxAxisSize ||
        !IsElementBits(inElementBits)) {
        outStatus = kULMErrArgument;
        return;
    }
    const int dimension = inV == 0 ? 1 : (inW == 0 ? 2 : 3);
    if (dimension == 3 && inElementBits > 32) {
        outStatus = kULMErrArgument;
        return;
    }
    const uint32_t requested[3] = {inU, inV, inW};
    uint32_t allocated[3] = {};
    KWBAllocatedSizes(dimension, inElementBits / 8, requested, allocated);
    SetSizes(allocated[0], allocated[1], allocated[2], inElementBits);
    SetRange(KWBRange(0, 0, 0, m_size_U, m_size_V, m_size_W));
    outStatus = kULMOK;
}

int KWBBuffer::GetSizes(uint32_t& outU, uint32_t& outV, uint32_t& outW,
                        uint32_t& outElementBits) const {
    const int dimension = GetDimension();
    outU = static_cast<uint32_t>(m_size_U) + 1;
    outV = dimension >= 2 ? static_cast<uint32_t>(m_size_V) + 1 : 0;
    outW = dimension >= 3 ? static_cast<uint32_t>(m_size_W) + 1 : 0;
    outElementBits = GetElementBits();
    return dimension;
}

void KWBBuffer::SetSizes(uint32_t inU, uint32_t inV, uint32_t inW, uint32_t inElementBits) {
    m_dimension = static_cast<int8_t>(inV == 0 ? 0 : (inW == 0 ? 1 : 2));
    m_size_U = static_cast<int16_t>(inU - 1);
    m_size_V = static_cast<int16_t>(m_dimension >= 1 ? inV - 1 : 0);
    m_size_W = static_cast<int16_t>(m_dimension >= 2 ? inW - 1 : 0);
    m_elementSize = static_cast<int8_t>(inElementBits / 8 - 1);
}

void KWBBuffer::SetRange(const KWBRange& inRange) {
    m_min_U = inRange.minU;
    m_min_V = inRange.minV;
    m_min_W = inRange.minW;
    m_max_U = inRange.maxU;
    m_max_V = inRange.maxV;
    m_max_W = inRange.maxW;
}

KWBRange KWBBuffer::GetRange() const {
    return KWBRange(m_min_U, m_min_V, m_min_W, m_max_U, m_max_V, m_max_W);
}

void KWBBuffer::GetAdjustedRange(KWBRange& outRange) const {
    outRange = GetRange();
    if (outRange == KWBRange() && !IsWrapped())
        outRange = KWBRange(m_offset_U, m_offset_V, m_offset_W, m_offset_U, m_offset_V, m_offset_W);
}

ULMStatus KWBBuffer::SetOffsetOrWrap(bool inWrap, int inU, int inV, int inW) {
    // A modulus of 0 is accepted and stored as -1 (a mask of all ones): the
    // image conversions wrap only the axes they use and pass 0 for the rest.
    auto fitsModulus = [](int m) {
        return m >= 0 && m <= static_cast<int>(kMaxAxisSize) && KWBIsPowerOf2(static_cast<uint64_t>(m));
    };
    auto fitsOffset = [](int o) { return o % 2 == 0 && o >= INT16_MIN && o <= INT16_MAX; };
    const auto fits = inWrap ? +fitsModulus : +fitsOffset;
    if (!fits(inU) || !fits(inV) || !fits(inW)) return kULMErrArgument;
    // A load still to come from a host step places its pixels by the
    // addressing it finds: it must find the one it was queued for.
    SettleDeferredWriter();
    if (inWrap) {
        m_offset_U = static_cast<int16_t>(inU - 1);
        m_offset_V = static_cast<int16_t>(inV - 1);
        m_offset_W = static_cast<int16_t>(inW - 1);
        m_wrap = 1;
    } else {
        m_offset_U = static_cast<int16_t>(inU);
        m_offset_V = static_cast<int16_t>(inV);
        m_offset_W = static_cast<int16_t>(inW);
        m_wrap = 0;
    }
    return kULMOK;
}

void KWBBuffer::GetOffsetOrWrap(bool& outWrap, int& outU, int& outV, int& outW) const {
    outWrap = IsWrapped();
    const int add = outWrap ? 1 : 0;
    outU = m_offset_U + add;
    outV = m_offset_V + add;
    outW = m_offset_W + add;
}

KWBNewestEvent::KWBNewestEvent(ULMSyncEvent inEvent) : m_word(SyncEventWord(inEvent)) {}

KWBNewestEvent& KWBNewestEvent::operator=(const KWBNewestEvent& other) {
    m_word.store(SyncEventWord(other.Get()), std::memory_order_release);
    return *this;
}

ULMSyncEvent KWBNewestEvent::Get() const {
    return SyncEventFromWord(m_word.load(std::memory_order_acquire));
}

void KWBNewestEvent::Record(ULMSyncEvent inEvent) {
    const bool boardEvent = KWBSyncEvent(inEvent).IsHardwareSync();
    uint64_t seen = m_word.load(std::memory_order_acquire);
    // A plain store could put back an older event over a newer one that
    // another thread recorded meanwhile.
    while (true) {
        const ULMSyncEvent kept =
            boardEvent ? KWBSyncEvent(SyncEventFromWord(seen)).Latest(inEvent) : inEvent;
        if (m_word.compare_exchange_weak(seen, SyncEventWord(kept), std::memory_order_acq_rel))
            return;
    }
}

void KWBNewestEvent::Forget(ULMSyncEvent inEvent) {
    uint64_t expected = SyncEventWord(inEvent);
    m_word.compare_exchange_strong(expected, SyncEventWord(ULMSyncEvent(kULMOK)), std::memory_order_acq_rel);
}

void KWBBuffer::SettleDeferredWriter() const {
    const ULMSyncEvent writer = m_work->deferredWriter.Get();
    // A step's own load into the buffer comes before any step recorded
    // after it; the writer stays recorded, so that other threads still wait
    // for it.
    if (!IsDeferredEvent(SyncEventWord(writer)) || InDeferredStep()) return;
    if (RunDeferredStep(writer)) m_work->deferredWriter.Forget(writer);
}

void KWBBuffer::SetRenderEvent(ULMSyncEvent inEvent, bool inIsOutput) {
    m_work->render.Record(inEvent);
    if (inIsOutput) m_work->isRenderOutput.Set();
}

ULMSyncEvent KWBBuffer::GetRenderEvent(bool inForWrite) const {
    SettleDeferredWriter();
    if (!inForWrite && !m_work->isRenderOutput.IsSet()) return ULMSyncEvent(kULMOK);
    return m_work->render.Get();
}

void KWBBuffer::SetLoadOrRenderEvent(ULMSyncEvent inEvent) {
    if (inEvent.Status() != kULMInProgress) return;
    const KWBSyncEvent ev(inEvent);
    if (ev.GetQueueNumber() == KWBSyncEvent::kRenderQueue) {
        SetRenderEvent(inEvent, true);
        return;
    }
    ULM_ASSERT(ev.GetQueueNumber() == KWBSyncEvent::kDmaInQueue);
    m_work->load.Record(inEvent);
}

}  // namespace ulm3
