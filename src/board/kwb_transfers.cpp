// Loads and unloads between host memory and board buffers, clears, and
// copies between buffers.
#include "board/kwb_transfers.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "board/buffer_addressing.h"
#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "board/transfer_planner.h"
#include "foundation/sync_event.h"
#include "foundation/control.h"
#include "foundation/locks.h"
#include "tulx7/driver_requests.h"

namespace ulm3 {
namespace {

// Host spans beyond this many bytes cannot be addressed by the driver.
constexpr uint64_t kMaxHostSpan = uint64_t{1} << 47;

uint32_t EventID(const ULMSyncEvent& event) { return KWBSyncEvent(event).GetDriverEventID(); }

// Bytes from the first to one past the last host byte a transfer touches;
// false when that does not fit the driver's address range.
bool HostSpan(const KWBRange& range, uint64_t elementBytes, uint64_t row, uint64_t slice,
              uint64_t& outSpan) {
    const uint64_t eU = static_cast<uint64_t>(range.ExtentU());
    const uint64_t eV = static_cast<uint64_t>(range.ExtentV());
    const uint64_t eW = static_cast<uint64_t>(range.ExtentW());
    uint64_t elements = 0;
    if (__builtin_mul_overflow(eW - 1, slice, &elements) ||
        __builtin_add_overflow(elements, eV - 1, &elements) ||
        __builtin_mul_overflow(elements, row, &elements) ||
        __builtin_add_overflow(elements, eU, &elements) ||
        __builtin_mul_overflow(elements, elementBytes, &outSpan))
        return false;
    return outSpan <= kMaxHostSpan;
}

// Everything the requests of one transfer need, checked before the first is
// sent so that a refused transfer leaves board and host untouched. Gives the
// window with 0 pitches taken as the box's own extents.
ULMStatus CheckTransfer(const KWBBuffer* buffer, const KWBField& field, const KWBRange& range,
                        const KWBHostWindow& host, KWBHostWindow& outResolved) {
    if (buffer == nullptr || host.memory == nullptr) return kULMErrArgument;
    if (field.sizeBits == 0 || field.sizeBits % 8 != 0 || field.positionBits % 8 != 0 ||
        uint64_t{field.sizeBits} + field.positionBits > buffer->GetElementBits())
        return kULMErrArgument;
    if (!range.IsValid() || !KWBStorageHolds(*buffer, range)) return kULMErrArgument;
    const uint32_t row = host.row != 0 ? host.row : static_cast<uint32_t>(range.ExtentU());
    const uint32_t slice = host.slice != 0 ? host.slice : static_cast<uint32_t>(range.ExtentV());
    if (row > INT32_MAX || slice > INT32_MAX || row < static_cast<uint32_t>(range.ExtentU()) ||
        slice < static_cast<uint32_t>(range.ExtentV()))
        return kULMErrArgument;
    uint64_t span = 0;
    if (!HostSpan(range, field.sizeBits / 8, row, slice, span) ||
        reinterpret_cast<uintptr_t>(host.memory) > UINTPTR_MAX - span)
        return kULMErrArgument;
    outResolved = host;
    outResolved.row = row;
    outResolved.slice = slice;
    return kULMOK;
}

// The buffer's axes, clamped: a box may not reach into axes a buffer lacks.
KWBRange ClampToBufferAxes(const KWBBuffer& buffer, KWBRange range) {
    if (buffer.GetDimension() < 3) range.minW = range.maxW = 0;
    if (buffer.GetDimension() < 2) range.minV = range.maxV = 0;
    return range;
}

// The box that lies inside `to` where `piece` lies inside `from`.
KWBRange Shifted(const KWBRange& piece, const KWBRange& from, const KWBRange& to) {
    return KWBRange(static_cast<int16_t>(piece.minU - from.minU + to.minU),
                    static_cast<int16_t>(piece.minV - from.minV + to.minV),
                    static_cast<int16_t>(piece.minW - from.minW + to.minW),
                    static_cast<int16_t>(piece.maxU - from.minU + to.minU),
                    static_cast<int16_t>(piece.maxV - from.minV + to.minV),
                    static_cast<int16_t>(piece.maxW - from.minW + to.minW));
}

// Fills `bytes` of a chunk with the element value's low bytes, in the
// host's order, as the element sizes of the buffer ask.
void FillChunk(uint8_t* chunk, uint64_t bytes, uint64_t value, uint32_t elementBytes) {
    uint8_t pattern[8];
    switch (elementBytes) {
        case 1: { const uint8_t v = static_cast<uint8_t>(value); std::memcpy(pattern, &v, 1); break; }
        case 2: { const uint16_t v = static_cast<uint16_t>(value); std::memcpy(pattern, &v, 2); break; }
        case 4: { const uint32_t v = static_cast<uint32_t>(value); std::memcpy(pattern, &v, 4); break; }
        default: std::memcpy(pattern, &value, 8); break;
    }
    for (uint64_t i = 0; i < bytes; i += elementBytes) std::memcpy(chunk + i, pattern, elementBytes);
}

// The host memory of one copy through the host, each piece at its offset.
struct HostCopy {
    std::vector<KWBTransferPiece> pieces;
    std::vector<uint64_t> offsets;
    std::unique_ptr<uint8_t[]> memory;
};

// Copies whose memory transfers queued on a board may still touch, with the
// event of those transfers. A deferred step gives back what it holds as
// soon as it has run, before the loads it queued have read the memory.
struct HeldCopy {
    int board = -1;
    ULMSyncEvent transfers{kULMOK};
    std::shared_ptr<HostCopy> copy;
};

struct HeldCopies {
    ULMMutex lock;
    std::vector<HeldCopy> held;
};

// Never destroyed: a step run late in the process's end still finds it.
HeldCopies& Held() {
    static HeldCopies* const copies = new HeldCopies();
    return *copies;
}

void HoldUntilDone(int inBoard, const ULMSyncEvent& inTransfers, std::shared_ptr<HostCopy> inCopy) {
    if (IsStatusCode(SyncEventWord(inTransfers))) return;
    HeldCopies& copies = Held();
    ULMScopedLock lock(copies.lock);
    copies.held.push_back({inBoard, inTransfers, std::move(inCopy)});
}

// Gives back the memory of copies whose transfers are over, and every copy
// whose transfers ran on inClosingBoard (-1 for none), whose work is over
// once it closes. The events are asked outside the lock.
void GiveBackFinishedCopies(int inClosingBoard) {
    HeldCopies& copies = Held();
    std::vector<HeldCopy> taken;
    {
        ULMScopedLock lock(copies.lock);
        taken.swap(copies.held);
    }
    if (taken.empty()) return;
    std::vector<HeldCopy> running;
    for (HeldCopy& held : taken) {
        if (held.board != inClosingBoard && held.transfers.Wait(0) == kULMTimeout) running.push_back(std::move(held));
    }
    taken.clear();
    ULMScopedLock lock(copies.lock);
    for (HeldCopy& held : running) copies.held.push_back(std::move(held));
}

}  // namespace

KWBTransfers::~KWBTransfers() { GiveBackFinishedCopies(m_board.GetID()); }

// ---------------------------------------------------------------------------
// One driver request (one per period for a wrapped run the driver cannot
// take whole).

namespace {

// Under wrap an axis of a load longer than its modulus writes only the last
// modulus elements: the earlier ones would only alias them, and the last
// write of an element is the one that stays. An unload is never cut so: every
// host element of the box is the caller's, aliased or not. A modulus of 0
// (mask -1) leaves its axis unwrapped.
void KeepLastPeriods(const KWBBuffer& inBuffer, const KWBRange& inRange, Tulx7_dr_buffer_load& ioRequest) {
    const int32_t masks[3] = {inBuffer.m_offset_U, inBuffer.m_offset_V, inBuffer.m_offset_W};
    int32_t* mins[3] = {&ioRequest.addr.subbuffer_min.x, &ioRequest.addr.subbuffer_min.y,
                        &ioRequest.addr.subbuffer_min.z};
    const int32_t maxs[3] = {inRange.maxU, inRange.maxV, inRange.maxW};
    const int32_t rangeMins[3] = {inRange.minU, inRange.minV, inRange.minW};
    int32_t* hostMins[3] = {&ioRequest.host_subbuffer_min.x, &ioRequest.host_subbuffer_min.y,
                            &ioRequest.host_subbuffer_min.z};
    for (int axis = 0; axis < inBuffer.GetDimension(); ++axis) {
        if (masks[axis] < 0) continue;  // unwrapped axis
        const int64_t modulus = int64_t{masks[axis]} + 1;
        if (int64_t{maxs[axis]} - rangeMins[axis] + 1 > modulus) {
            *mins[axis] = static_cast<int32_t>(maxs[axis] - modulus + 1);
            *hostMins[axis] = *mins[axis] - rangeMins[axis];
        }
    }
}

}  // namespace

KWBTransfers::Outcome KWBTransfers::Send(bool inLoad, const KWBBuffer& inBuffer,
                                         const KWBField& inField, const KWBRange& inRange,
                                         const KWBHostWindow& inHost) {
    Tulx7_dr_buffer_load r;
    // A load waits for any render that uses the buffer and for the last
    // unload; an unload only for a render that writes it and the last load.
    r.render_event_id = EventID(inBuffer.GetRenderEvent(inLoad));
    r.previous_load_event_id =
        EventID(inLoad ? inBuffer.GetUnloadEvent() : inBuffer.GetLoadEvent());
    r.buffer_id = inBuffer.GetDriverID();
    r.addr = KWBAddressing(inBuffer, inRange);
    r.host_buffer_id = inHost.hostBufferId;
    r.host_buffer_address = reinterpret_cast<uintptr_t>(inHost.memory);
    r.host_descriptor.dimension = inBuffer.GetDimension() - 1;
    r.host_descriptor.element_size = static_cast<int32_t>(inField.sizeBits / 8) - 1;
    r.host_descriptor.buffer_size = {static_cast<int32_t>(inHost.row),
                                     static_cast<int32_t>(inHost.slice), inRange.ExtentW()};
    r.element_alignment = static_cast<int32_t>(inField.positionBits / 8);
    if (inLoad && inBuffer.IsWrapped()) KeepLastPeriods(inBuffer, inRange, r);

    const uint32_t code = inLoad ? TULX7_DR_BUFFER_LOAD : TULX7_DR_BUFFER_UNLOAD;
    const int32_t maskU = inBuffer.m_offset_U;
    const bool crossesU = inBuffer.IsWrapped() && maskU >= 0 &&
                          ((r.addr.subbuffer_max.x ^ r.addr.subbuffer_min.x) & ~maskU) != 0;
    const bool misaligned =
        inHost.row % 8 != 0 ||
        (inHost.hostBufferId == KWBBoard::kPlainHostMemory && r.host_buffer_address % 8 != 0);
    Outcome outcome;
    if (!crossesU || !misaligned) {
        outcome.status = m_board.Request(code, r);
        if (outcome.status == kULMOK) outcome.queuedID = r.ret_load_event_id;
        return outcome;
    }
    // The driver moves a run that wraps only from aligned host rows: one
    // request per period the run touches, each after the one before it.
    const int32_t last = r.addr.subbuffer_max.x;
    for (int32_t u = r.addr.subbuffer_min.x; u <= last; u = (u | maskU) + 1) {
        Tulx7_dr_buffer_load piece = r;
        piece.addr.subbuffer_min.x = u;
        piece.addr.subbuffer_max.x = std::min(u | maskU, last);
        piece.host_subbuffer_min.x = u - inRange.minU;
        if (outcome.queuedID != 0) {
            piece.render_event_id = TULX7_DR_NO_EVENT;
            piece.previous_load_event_id = outcome.queuedID;
        }
        outcome.status = m_board.Request(code, piece);
        if (outcome.status != kULMOK) return outcome;
        if (outcome.queuedID != 0) outcome.earlierIDs.push_back(outcome.queuedID);
        outcome.queuedID = piece.ret_load_event_id;
    }
    return outcome;
}

// Stamps queued work into the board and the buffer, waits when the
// configuration asks for synchronous transfers, and gives the caller's view.
ULMSyncEvent KWBTransfers::Finish(bool inLoad, const KWBBuffer& inBuffer, KWBBuffer* inLoaded,
                                  const Outcome& inOutcome) {
    if (inOutcome.queuedID != 0) {
        // Work the driver accepted is recorded even when a second half was
        // refused, so that later work still waits for it.
        const KWBSyncEvent event(m_board.GetID(),
                                 inLoad ? KWBSyncEvent::kDmaInQueue : KWBSyncEvent::kDmaOutQueue,
                                 inOutcome.queuedID);
        if (inLoad) {
            inLoaded->IncrementSequenceNumber();
            inLoaded->SetLoadEvent(event);
            m_board.SetLastLoadEvent(event);
        } else {
            inBuffer.SetUnloadEvent(event);
            m_board.SetLastUnloadEvent(event);
        }
        // Every request of a run sent in pieces reads or writes the caller's
        // memory: an abort of the handle reaches each, and its wait (or the
        // settling of a refusal) covers each.
        std::vector<ULMSyncEvent> pieces;
        for (const uint32_t id : inOutcome.earlierIDs)
            pieces.push_back(KWBSyncEvent(m_board.GetID(), event.GetQueueNumber(), id));
        pieces.push_back(event);
        const ULMSyncEvent handle =
            pieces.size() == 1 ? ULMSyncEvent(event) : CombineMultipleEvents(int(pieces.size()), pieces.data());
        if (inOutcome.status == kULMOK) {
            const bool synchronous =
                inLoad ? gULMControl.m_forceSynchUpdate : gULMControl.m_forceSynchUnload;
            if (synchronous) return ULMSyncEvent(handle.Wait(-1));
            return handle;
        }
        // The pieces of a run whose later piece was refused touch the
        // caller's memory: they are not left running behind the refusal.
        return ULMSyncEvent(ULMSettleRefusedParts(handle, inOutcome.status));
    }
    return ULMSyncEvent(inOutcome.status);
}

ULMSyncEvent KWBTransfers::StartOne(KWBBuffer* inLoaded, const KWBBuffer* inBuffer,
                                    const KWBField& inField, const KWBRange& inRange,
                                    const KWBHostWindow& inHost) {
    KWBHostWindow host;
    const ULMStatus check = CheckTransfer(inBuffer, inField, inRange, inHost, host);
    if (check != kULMOK) return ULMSyncEvent(check);
    const bool load = inLoaded != nullptr;
    return Finish(load, *inBuffer, inLoaded, Send(load, *inBuffer, inField, inRange, host));
}

// ---------------------------------------------------------------------------
// Whole transfers, cut into pieces the driver accepts.

ULMSyncEvent KWBTransfers::Start(KWBBuffer* inLoaded, const KWBBuffer* inBuffer,
                                 const KWBField& inField, const KWBRange& inRange,
                                 const KWBHostWindow& inHost) {
    KWBHostWindow host;
    const ULMStatus check = CheckTransfer(inBuffer, inField, inRange, inHost, host);
    if (check != kULMOK) return ULMSyncEvent(check);
    std::vector<KWBTransferPiece> pieces;
    const ULMStatus planned =
        PlanTransferPieces(inRange, inField.sizeBits / 8, host.row, host.slice, pieces);
    if (planned != kULMOK) return ULMSyncEvent(planned);

    if (pieces.empty()) return ULMSyncEvent(kULMErrTooLarge);
    // Every piece's event is kept: the queue runs them in order, but a piece
    // that fails as it runs does not stop the ones after it, so the last
    // piece's event alone would report a partial transfer as done.
    ULMEventJoin all;
    const uint8_t* const first = static_cast<const uint8_t*>(host.memory);
    for (const KWBTransferPiece& piece : pieces) {
        KWBHostWindow pieceHost = host;
        pieceHost.memory = first + piece.hostOffset;
        const ULMSyncEvent queued = StartOne(inLoaded, inBuffer, inField, piece.range, pieceHost);
        if (ULMFailed(queued.Status())) return ULMSyncEvent(ULMSettleRefusedParts(all.Result(), queued.Status()));
        all.Add(queued);
    }
    return all.Result();
}

// ---------------------------------------------------------------------------
// Clear: one chunk filled with the value, loaded over the range piece by
// piece.

ULMSyncEvent KWBTransfers::Clear(KWBBuffer* inBuffer, uint64_t inValue, const KWBRange& inRange) {
    if (inBuffer == nullptr || !inRange.IsValid()) return ULMSyncEvent(kULMErrArgument);
    const KWBRange range = ClampToBufferAxes(*inBuffer, inRange);
    if (!KWBStorageHolds(*inBuffer, range)) return ULMSyncEvent(kULMErrArgument);
    const uint32_t b = inBuffer->GetElementBytes();
    std::vector<KWBTransferPiece> pieces;
    const ULMStatus planned = PlanTransferPieces(range, b, 0, 0, pieces);
    if (planned != kULMOK) return ULMSyncEvent(planned);
    const uint64_t chunkBytes = LargestPieceBytes(pieces, b);  // at most the piece limit

    // A driver host buffer when the driver grants one whole; host memory
    // otherwise.
    uint32_t granted = 0;
    void* kernelAddress = nullptr;
    int kernelID = KWBBoard::kPlainHostMemory;
    std::unique_ptr<uint8_t[]> array;
    uint8_t* chunk = nullptr;
    if (m_board.CreateKernelBuffer(static_cast<uint32_t>(chunkBytes), granted, kernelAddress,
                                   kernelID) == kULMOK) {
        if (granted >= chunkBytes) {
            chunk = static_cast<uint8_t*>(kernelAddress);
        } else {
            m_board.DestroyKernelBuffer(kernelID, granted, kernelAddress);
            kernelID = KWBBoard::kPlainHostMemory;
        }
    } else {
        kernelID = KWBBoard::kPlainHostMemory;
    }
    if (chunk == nullptr) {
        array.reset(new (std::nothrow) uint8_t[chunkBytes]);
        if (!array) return ULMSyncEvent(kULMErrAlloc);
        chunk = array.get();
    }
    FillChunk(chunk, chunkBytes, inValue, b);

    ULMSyncEvent result(kULMErrTooLarge);
    ULMEventJoin queued;
    const KWBField whole{inBuffer->GetElementBits(), 0};
    for (const KWBTransferPiece& piece : pieces) {
        result = Start(inBuffer, inBuffer, whole, piece.range, {chunk, 0, 0, kernelID});
        if (ULMFailed(result.Status())) break;
        queued.Add(result);
    }
    // The chunk is read when the loads run; it is given back only after all
    // of them have finished with it, and a piece that failed as it ran fails
    // the clear.
    const ULMStatus finished = queued.Result().Wait(-1);
    if (kernelID != KWBBoard::kPlainHostMemory)
        m_board.DestroyKernelBuffer(kernelID, granted, kernelAddress);
    if (ULMFailed(result.Status())) return result;
    return ULMSyncEvent(finished);
}

// ---------------------------------------------------------------------------
// Copy between buffers: straight between peer boards, else through host
// memory.

ULMSyncEvent KWBTransfers::Copy(const KWBBuffer* inSource, KWBBuffer* outDestination,
                                const KWBRange& inSourceRange, const KWBRange& inDestinationRange) {
    if (inSource == nullptr || outDestination == nullptr || !inSourceRange.IsValid() ||
        !inDestinationRange.IsValid())
        return ULMSyncEvent(kULMErrArgument);
    const bool sameDimension = inSource->GetDimension() == outDestination->GetDimension();
    // A resampled image lives in a one-plane 3-D buffer; it must still copy
    // to and from plain 2-D images, plane by plane through the host.
    const bool planeAndImage =
        !sameDimension && std::min(inSource->GetDimension(), outDestination->GetDimension()) == 2 &&
        std::max(inSource->GetDimension(), outDestination->GetDimension()) == 3;
    if ((!sameDimension && !planeAndImage) ||
        inSource->GetElementBytes() != outDestination->GetElementBytes())
        return ULMSyncEvent(kULMErrArgument);
    const int id = m_board.GetID();
    if (KWBBoard::GetBoardNumberFromObjectID(inSource->GetID()) != id)
        return ULMSyncEvent(kULMErrArgument);
    const int destinationID = KWBBoard::GetBoardNumberFromObjectID(outDestination->GetID());
    KWBBoard* destinationBoard = destinationID >= 0 ? KWBBoard::GetBoard(destinationID) : nullptr;
    if (destinationBoard == nullptr) return ULMSyncEvent(kULMErrArgument);

    // Only the common extent moves, from each range's first corner.
    KWBRange sourceBox = inSourceRange;
    KWBRange destinationBox = inDestinationRange;
    const int32_t eU = std::min(inSourceRange.ExtentU(), inDestinationRange.ExtentU());
    const int32_t eV = std::min(inSourceRange.ExtentV(), inDestinationRange.ExtentV());
    const int32_t eW = std::min(inSourceRange.ExtentW(), inDestinationRange.ExtentW());
    sourceBox.maxU = static_cast<int16_t>(sourceBox.minU + eU - 1);
    sourceBox.maxV = static_cast<int16_t>(sourceBox.minV + eV - 1);
    sourceBox.maxW = static_cast<int16_t>(sourceBox.minW + eW - 1);
    destinationBox.maxU = static_cast<int16_t>(destinationBox.minU + eU - 1);
    destinationBox.maxV = static_cast<int16_t>(destinationBox.minV + eV - 1);
    destinationBox.maxW = static_cast<int16_t>(destinationBox.minW + eW - 1);
    if (!KWBStorageHolds(*inSource, sourceBox) || !KWBStorageHolds(*outDestination, destinationBox))
        return ULMSyncEvent(kULMErrArgument);
    if (planeAndImage && eW != 1) return ULMSyncEvent(kULMErrArgument);

    // The driver copies board to board only between buffers of one shape.
    ULMSyncEvent copied(kULMOK);
    if (sameDimension && m_board.SupportsPeer() && destinationID == m_board.GetPeer() &&
        CopyBetweenPeers(inSource, outDestination, sourceBox, destinationBox, copied))
        return copied;
    return CopyThroughHost(inSource, outDestination, *destinationBoard, sourceBox, destinationBox);
}

bool KWBTransfers::CopyBetweenPeers(const KWBBuffer* inSource, KWBBuffer* outDestination, const KWBRange& sourceBox,
                                    const KWBRange& destinationBox, ULMSyncEvent& outEvent) {
    Tulx7_dr_buffer_board2board r;
    r.src_render_event_id = EventID(inSource->GetRenderEvent(true));
    r.src_load_event_id = EventID(inSource->GetLoadEvent());
    r.src_buffer_id = inSource->GetDriverID();
    r.src_addr = KWBAddressing(*inSource, sourceBox);
    r.dest_render_event_id = EventID(outDestination->GetRenderEvent(true));
    // The copy runs on this board's queue, beside the destination board's
    // own: it must also wait for loads still queued there.
    r.dest_unload_event_id =
        EventID(KWBSyncEvent(outDestination->GetUnloadEvent()).Latest(outDestination->GetLoadEvent()));
    r.dest_buffer_id = outDestination->GetDriverID();
    r.dest_addr = KWBAddressing(*outDestination, destinationBox);
    if (m_board.Request(TULX7_DR_BUFFER_BOARD2BOARD, r) != kULMOK) return false;
    const int id = m_board.GetID();
    // Both ids belong to one job on this board's outgoing queue: later work
    // that meets the destination's event must know which queue it stands for.
    const KWBSyncEvent unloadEvent(id, KWBSyncEvent::kDmaOutQueue, r.src_ret_unload_event_id);
    const KWBSyncEvent loadEvent(id, KWBSyncEvent::kDmaOutQueue, r.dest_ret_load_event_id);
    inSource->SetUnloadEvent(unloadEvent);
    outDestination->SetLoadEvent(loadEvent);
    // Later loads into the destination are queued on its own board and order
    // themselves after its unload event.
    outDestination->SetUnloadEvent(loadEvent);
    m_board.SetLastUnloadEvent(unloadEvent);
    m_board.SetLastLoadEvent(loadEvent);
    outEvent = loadEvent;
    return true;
}

// Unload every piece here into host memory, and load it there once the
// unloads are over: a step deferred behind them, as no queue of the
// destination board can wait for this one's.
ULMSyncEvent KWBTransfers::CopyThroughHost(const KWBBuffer* inSource, KWBBuffer* outDestination,
                                           KWBBoard& destinationBoard, const KWBRange& sourceBox,
                                           const KWBRange& destinationBox) {
    GiveBackFinishedCopies(-1);
    const uint32_t b = inSource->GetElementBytes();
    std::shared_ptr<HostCopy> copy(new (std::nothrow) HostCopy());
    if (copy == nullptr) return ULMSyncEvent(kULMErrAlloc);
    const ULMStatus planned = PlanTransferPieces(sourceBox, b, 0, 0, copy->pieces);
    if (planned != kULMOK) return ULMSyncEvent(planned);
    uint64_t bytes = 0;
    for (const KWBTransferPiece& piece : copy->pieces) {
        copy->offsets.push_back(bytes);
        bytes += static_cast<uint64_t>(piece.range.ExtentU()) * static_cast<uint64_t>(piece.range.ExtentV()) *
                 static_cast<uint64_t>(piece.range.ExtentW()) * b;
    }
    // Zeroed, so that nothing uninitialised can reach the board.
    copy->memory.reset(new (std::nothrow) uint8_t[bytes]());
    if (!copy->memory) return ULMSyncEvent(kULMErrAlloc);
    ULMEventJoin unloads;
    for (size_t i = 0; i < copy->pieces.size(); ++i) {
        const KWBRange& piece = copy->pieces[i].range;
        const ULMSyncEvent unloaded = m_board.StartUnloadBuffer(
            inSource, copy->memory.get() + copy->offsets[i], piece, static_cast<uint32_t>(piece.ExtentU()),
            static_cast<uint32_t>(piece.ExtentV()), KWBBoard::kPlainHostMemory);
        if (ULMFailed(unloaded.Status())) return ULMSyncEvent(ULMSettleRefusedParts(unloads.Result(), unloaded.Status()));
        unloads.Add(unloaded);
    }

    // A write into the destination recorded before this one goes first,
    // whoever runs the two. Inside a step, what is recorded there came
    // after that step, and must not go first.
    const ULMSyncEvent previousWriter =
        InDeferredStep() ? ULMSyncEvent(kULMOK) : outDestination->GetDeferredWriter();
    KWBBoard* const toBoard = &destinationBoard;
    const ULMSyncEvent loaded = DeferHostStep(
        unloads.Result(), [copy, toBoard, outDestination, sourceBox,
                           destinationBox](ULMStatus inUnloaded) mutable -> ULMSyncEvent {
            if (ULMFailed(inUnloaded)) return ULMSyncEvent(inUnloaded);
            ULMEventJoin loads;
            for (size_t i = 0; i < copy->pieces.size(); ++i) {
                const KWBRange& piece = copy->pieces[i].range;
                const ULMSyncEvent queued = toBoard->StartLoadBuffer(
                    outDestination, copy->memory.get() + copy->offsets[i],
                    Shifted(piece, sourceBox, destinationBox), static_cast<uint32_t>(piece.ExtentU()),
                    static_cast<uint32_t>(piece.ExtentV()), KWBBoard::kPlainHostMemory);
                if (ULMFailed(queued.Status()))
                    return ULMSyncEvent(ULMSettleRefusedParts(loads.Result(), queued.Status()));
                loads.Add(queued);
            }
            // The loads read the memory as they run, after this step is over.
            const ULMSyncEvent all = loads.Result();
            HoldUntilDone(toBoard->GetID(), all, std::move(copy));
            return all;
        },
        previousWriter);
    if (IsDeferredEvent(SyncEventWord(loaded))) outDestination->SetDeferredWriter(loaded);
    return loaded;
}

}  // namespace ulm3
