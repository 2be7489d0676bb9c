#include "buffers/on_board_buffer.h"

#include <algorithm>

#include "board/board_range.h"
#include "buffers/buffer_range_rule.h"
#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/enumeration_checks.h"
#include "foundation/numeric.h"
#include "foundation/sync_event.h"
#include "ulm3/depth_buffer.h"
#include "ulm3/image_buffer.h"

namespace ulm3 {
namespace {

// The chip stores nothing smaller than 32 x 32 for an image.
constexpr uint32_t kMinImageExtent = 32;

}  // namespace

bool IsOpenBoardLocation(ULMLocation inLocation) {
    const uint32_t board = static_cast<uint32_t>(inLocation);
    return board < gULMControl.m_KWBBoardCount && board < ULMControlInternal::kMaxBoards &&
           gULMControl.m_KWBBoard[board] != nullptr;
}

template <class Interface>
ULMOnBoardBuffer<Interface>::ULMOnBoardBuffer(ULMLocation inLocation, unsigned inWidth,
                                              unsigned inHeight)
    : m_location(inLocation), m_width(inWidth), m_height(inHeight) {
    ULM_ASSERT_TEXT(static_cast<uint32_t>(inLocation - kULMBoard0) < gULMControl.m_KWBBoardCount,
                    "inLocation - kULMBoard0 < gULMControl.m_KWBBoardCount");
    m_board = gULMControl.m_KWBBoard[inLocation];
    // Board memory holds the boards open, as a context or volume does: the
    // buffer goes back to an open board whenever it is released.
    gULMControl.IncrementObjectCount();
}

// The hold goes last, since the last hold closes the boards.
template <class Interface>
ULMOnBoardBuffer<Interface>::~ULMOnBoardBuffer() {
    if (m_board != nullptr && m_buffer != nullptr) m_board->ReleaseBuffer(m_buffer, false);
    gULMControl.DecrementObjectCount();
}

template <class Interface>
ULMStatus ULMOnBoardBuffer<Interface>::AllocateStorage(uint32_t inPlanes, uint32_t inElementBits) {
    ULMStatus status = kULMOK;
    KWBBuffer* buffer =
        m_board->CreateBuffer(std::max(m_width, kMinImageExtent), std::max(m_height, kMinImageExtent),
                              inPlanes, inElementBits, status);
    if (buffer != nullptr && status != kULMOK) m_board->ReleaseBuffer(buffer, false);
    if (buffer == nullptr || status != kULMOK) return ULMFailed(status) ? status : kULMErrAlloc;
    SetBuffer(buffer);
    return this->SetInputLimits(ULMImageRange());
}

template <class Interface>
void ULMOnBoardBuffer<Interface>::AssertBoard() const {
    ULM_ASSERT(m_board != NULL && m_buffer != NULL);
}

template <class Interface>
ULMImageRange ULMOnBoardBuffer<Interface>::AddressableWindow() const {
    return ULMImageRange(static_cast<int>(this->GetWidth()), static_cast<int>(this->GetHeight()),
                         this->GetAddressParameterX(), this->GetAddressParameterY());
}

template <class Interface>
ULMImageRange ULMOnBoardBuffer<Interface>::ReachableRange() const {
    if (m_addressMode != kULMWrapAddress) return AddressableWindow();
    AssertBoard();
    uint32_t sizes[3] = {}, allocated[3] = {}, bits = 0;
    const int dimension = m_buffer->GetSizes(sizes[0], sizes[1], sizes[2], bits);
    KWBAllocatedSizes(dimension, m_buffer->GetElementBytes(), sizes, allocated);
    const uint32_t wrapU = static_cast<uint32_t>(m_addressParameterX);
    const uint32_t wrapV = static_cast<uint32_t>(m_addressParameterY);
    return ULMImageRange(static_cast<int>(std::min(wrapU, allocated[0])),
                         static_cast<int>(std::min(wrapV, allocated[1])), 0, 0);
}

template <class Interface>
ULMSyncEvent ULMOnBoardBuffer<Interface>::StartCopyInto(KWBBuffer* ioDestination,
                                                       const ULMImageRange& inRange) const {
    AssertBoard();
    uint32_t sizes[3] = {}, allocated[3] = {}, bits = 0;
    const int dimension = m_buffer->GetSizes(sizes[0], sizes[1], sizes[2], bits);
    KWBRange box = ULMRange(inRange);
    if (dimension == 3) box.maxW = static_cast<int16_t>(sizes[2] - 1);
    if (m_addressMode != kULMWrapAddress || !Contains(inRange, ReachableRange()))
        return m_board->StartCopyBuffer(m_buffer, ioDestination, box, box);
    KWBAllocatedSizes(dimension, m_buffer->GetElementBytes(), sizes, allocated);
    box.minU = box.minV = 0;
    box.maxU = static_cast<int16_t>(allocated[0] - 1);
    box.maxV = static_cast<int16_t>(allocated[1] - 1);
    // The copy takes each buffer's addressing as it is queued; both go back
    // to the wrap once it is.
    bool wraps = false;
    int u = 0, v = 0, w = 0;
    m_buffer->GetOffsetOrWrap(wraps, u, v, w);
    ULMStatus status = m_buffer->SetOffsetOrWrap(false, 0, 0, 0);
    if (status == kULMOK) status = ioDestination->SetOffsetOrWrap(false, 0, 0, 0);
    const ULMSyncEvent copied =
        status == kULMOK ? m_board->StartCopyBuffer(m_buffer, ioDestination, box, box) : ULMSyncEvent(status);
    m_buffer->SetOffsetOrWrap(true, u, v, w);
    ioDestination->SetOffsetOrWrap(true, u, v, w);
    return copied;
}

template <class Interface>
ULMStatus ULMOnBoardBuffer<Interface>::CheckRange(const ULMImageRange& inRange) const {
    return CheckBufferRange(this->GetAddressMode(), AddressableWindow(), inRange);
}

template <class Interface>
KWBRange ULMOnBoardBuffer<Interface>::BoardBox(const ULMImageRange& inRange) const {
    ULMImageRange moved = inRange;
    const int moduli[2] = {m_addressParameterX, m_addressParameterY};
    for (int axis = 0; m_addressMode == kULMWrapAddress && axis < 2; ++axis) {
        const int64_t origin = moved.m_origin[axis], modulus = moduli[axis];
        if (origin >= 0 || modulus <= 0) continue;
        const int64_t up = origin + (-origin + modulus - 1) / modulus * modulus;
        // A box the move would carry past the 16-bit coordinates stays, and
        // is refused as it stands.
        if (up + moved.m_size[axis] - 1 <= INT16_MAX) moved.m_origin[axis] = static_cast<int32_t>(up);
    }
    return ULMRange(moved);
}

template <class Interface>
ULMSyncEvent ULMOnBoardBuffer<Interface>::StartTransfer(bool inLoad, const void* inData,
                                                        uint32_t inFieldBits,
                                                        uint32_t inFieldPosition,
                                                        const ULMImageRange& inRange,
                                                        unsigned inWidth) const {
    AssertBoard();
    if (CheckRange(inRange) != kULMOK || !HostRowHolds(inRange, inWidth))
        return ULMSyncEvent(kULMErrArgument);
    const KWBRange box = BoardBox(inRange);
    if (inFieldBits == 0) {
        return inLoad ? m_board->StartLoadBuffer(m_buffer, inData, box, inWidth, 0,
                                                 KWBBoard::kPlainHostMemory)
                      : m_board->StartUnloadBuffer(m_buffer, const_cast<void*>(inData), box,
                                                   inWidth, 0, KWBBoard::kPlainHostMemory);
    }
    return inLoad ? m_board->StartLoadBufferField(m_buffer, inData, inFieldBits, inFieldPosition,
                                                  box, inWidth, 0, KWBBoard::kPlainHostMemory)
                  : m_board->StartUnloadBufferField(m_buffer, const_cast<void*>(inData),
                                                    inFieldBits, inFieldPosition, box, inWidth, 0,
                                                    KWBBoard::kPlainHostMemory);
}

template <class Interface>
ULMStatus ULMOnBoardBuffer<Interface>::ClearRange(const ULMImageRange& inRange, uint64_t inValue) {
    AssertBoard();
    if (CheckRange(inRange) != kULMOK) return kULMErrArgument;
    // The fill may still run on the board; later work on the buffer is
    // ordered after it by the board layer, so there is nothing to wait for.
    return ULMStatusOnceQueued(m_board->StartClearBuffer(m_buffer, inValue, BoardBox(inRange)));
}

template <class Interface>
ULMStatus ULMOnBoardBuffer<Interface>::MapRange(void*& outData, const ULMImageRange& inRange,
                                                unsigned& outWidth) {
    AssertBoard();
    if (CheckRange(inRange) != kULMOK) return kULMErrArgument;
    uint32_t rows = 0;
    return m_board->MapBuffer(m_buffer, outData, BoardBox(inRange), kULMAccessWriteShared,
                              outWidth, rows);
}

template <class Interface>
ULMStatus ULMOnBoardBuffer<Interface>::Unmap(void* inData) {
    AssertBoard();
    return m_board->UnmapBuffer(m_buffer, inData);
}

template <class Interface>
ULMStatus ULMOnBoardBuffer<Interface>::SetOffset(int inOffsetX, int inOffsetY) {
    if (inOffsetX % 2 != 0 || inOffsetY % 2 != 0) return kULMErrArgument;
    AssertBoard();
    // The board buffer lets a write still to come run before it changes.
    const ULMStatus status = m_buffer->SetOffsetOrWrap(false, inOffsetX, inOffsetY, 0);
    if (status != kULMOK) return status;
    m_addressParameterX = inOffsetX;
    m_addressParameterY = inOffsetY;
    m_addressMode = kULMOffsetAddress;
    return kULMOK;
}

template <class Interface>
ULMStatus ULMOnBoardBuffer<Interface>::SetWrap(int inWrapX, int inWrapY) {
    if (inWrapX < 1 || inWrapY < 1 || !ULMIsPowerOf2(static_cast<uint32_t>(inWrapX)) ||
        !ULMIsPowerOf2(static_cast<uint32_t>(inWrapY)))
        return kULMErrArgument;
    AssertBoard();
    const ULMStatus status = m_buffer->SetOffsetOrWrap(true, inWrapX, inWrapY, 1);
    if (status != kULMOK) return status;
    m_addressParameterX = inWrapX;
    m_addressParameterY = inWrapY;
    m_addressMode = kULMWrapAddress;
    return kULMOK;
}

template <class Interface>
ULMStatus ULMOnBoardBuffer<Interface>::SetAddressParameters(ULMAddressMode inMode,
                                                            int inParameterX, int inParameterY) {
    if (inMode == kULMOffsetAddress) return this->SetOffset(inParameterX, inParameterY);
    if (inMode == kULMWrapAddress) return this->SetWrap(inParameterX, inParameterY);
    return kULMErrArgument;
}

template <class Interface>
ULMStatus ULMOnBoardBuffer<Interface>::SetInputLimits(const ULMImageRange& inLimits) {
    if (CheckRange(inLimits) != kULMOK) return kULMErrArgument;
    AssertBoard();
    SettleDeferredWrite();
    m_inputLimits = inLimits;
    m_buffer->SetRange(ValidRangeOf(inLimits));
    return kULMOK;
}

template <class Interface>
ULMStatus ULMOnBoardBuffer<Interface>::SetMigrationMode(ULMMigrationMode inMode) {
    if (!ValidMigrationMode(inMode)) return kULMErrArgument;
    SettleDeferredWrite();
    m_migrationMode = inMode;
    return kULMOK;
}

template <class Interface>
ULMImageRange ULMOnBoardBuffer<Interface>::MigrationCopyRange() const {
    switch (m_migrationMode) {
        case kULMMigrationCopyInput:
            return m_inputLimits;
        case kULMMigrationFullCopy:
            return ReachableRange();
        default:
            return ULMImageRange();
    }
}

template <class Interface>
ULMSyncEvent ULMOnBoardBuffer<Interface>::StartMigrate(ULMLocation inLocation) {
    if (inLocation == this->GetLocation()) return ULMSyncEvent(kULMOK);
    if (m_migrationMode == kULMMigrationNone) return ULMSyncEvent(kULMErrBuffer);
    return DoStartMigrate(inLocation, MigrationCopyRange());
}

template <class Interface>
ULMSyncEvent ULMOnBoardBuffer<Interface>::DoStartMigrate(ULMLocation inLocation,
                                                         const ULMImageRange& rangeToCopy) {
    if (!IsOpenBoardLocation(inLocation)) return ULMSyncEvent(kULMErrArgument);
    if (inLocation == m_location) return ULMSyncEvent(kULMOK);
    AssertBoard();
    KWBBoard* target = gULMControl.m_KWBBoard[inLocation];

    // The new buffer takes the old one's shape: a 3-D image stays 3-D with
    // its planes, so that its pixels can be copied at all.
    uint32_t sizeU = 0, sizeV = 0, planes = 0, bits = 0;
    const bool is3D = m_buffer->GetSizes(sizeU, sizeV, planes, bits) == 3;
    bool wraps = false;
    int oldU = 0, oldV = 0, oldW = 0;
    m_buffer->GetOffsetOrWrap(wraps, oldU, oldV, oldW);
    ULMStatus status = kULMOK;
    KWBBuffer* moved =
        is3D ? target->CreateBuffer(sizeU, sizeV, planes, bits, status)
             : target->CreateBuffer(std::max(m_width, kMinImageExtent),
                                    std::max(m_height, kMinImageExtent), 0, bits, status);
    if (ULMFailed(status)) {
        if (moved != nullptr) target->ReleaseBuffer(moved, false);
        return ULMSyncEvent(status);
    }
    if (moved == nullptr) return ULMSyncEvent(kULMErrAlloc);

    const bool wrap = m_addressMode == kULMWrapAddress;
    status = moved->SetOffsetOrWrap(wrap, m_addressParameterX, m_addressParameterY,
                                    is3D ? oldW : 0);
    if (status != kULMOK) {
        target->ReleaseBuffer(moved, false);
        return ULMSyncEvent(status);
    }
    moved->SetRange(wrap ? KWBRange() : ValidRangeOf(m_inputLimits));

    ULMSyncEvent result(kULMOK);
    if (!rangeToCopy.IsEmpty()) {
        result = StartCopyInto(moved, rangeToCopy);
        if (ULMFailed(result.Status())) {
            target->ReleaseBuffer(moved, false);
            return ULMSyncEvent(result.Status());
        }
    }
    // The board layer keeps the old storage until the copy out of it is done.
    m_board->ReleaseBuffer(m_buffer, false);
    m_board = target;
    m_buffer = moved;
    m_location = inLocation;
    return result;
}

template class ULMOnBoardBuffer<ULMImageBuffer>;
template class ULMOnBoardBuffer<ULMDepthBuffer>;

}  // namespace ulm3
