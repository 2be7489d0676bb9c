// Opening and closing boards, their configuration and memory, waits and
// aborts of their events, and the hand-over of buffer requests, transfers,
// mappings and renders to the board's helpers.
#include "board/kwb_board.h"

#include <atomic>
#include <climits>
#include <cstdio>

#include "board/kwb_buffer.h"
#include "board/kwb_buffer_requests.h"
#include "board/kwb_command_buffer.h"
#include "board/kwb_mapping.h"
#include "board/kwb_render_submission.h"
#include "board/kwb_transfers.h"
#include "foundation/control.h"
#include "foundation/message_log.h"
#include "foundation/sync_event.h"

namespace ulm3 {

namespace {

static_assert(KWBBoard::kMaxBoards == ULMControlInternal::kMaxBoards);

// The open boards are the control record's table. Its slots are written only
// by the library's open and close, but read by waits and aborts on any
// thread, so the board layer reaches them atomically.
std::atomic_ref<KWBBoard*> Slot(int id) {
    return std::atomic_ref<KWBBoard*>(gULMControl.m_KWBBoard[id]);
}

// Driver interface this library speaks: major 0, minor 3.
constexpr int kCompiledDriverMajor = 0;
constexpr int kCompiledDriverMinor = 3;

bool IsBoardIndex(int id) { return id >= 0 && id < KWBBoard::kMaxBoards; }

// The figures of the configuration record; memory_size is in megabytes and
// the driver's int fields are taken as signed before widening.
KWBMemoryStats MemoryStatsOf(const Tulx7_dr_configuration& record) {
    const uint64_t total = static_cast<uint64_t>(static_cast<int64_t>(record.memory_size) << 20);
    const uint64_t locked = static_cast<uint64_t>(static_cast<int64_t>(record.locked_memory));
    const uint64_t free = static_cast<uint64_t>(static_cast<int64_t>(record.free_memory));
    return KWBMemoryStats(total, locked, total - locked - free, free);
}

// The driver's time-out field is 32 bits; any negative value waits without
// limit.
int32_t DriverTimeout(long timeoutMs) {
    if (timeoutMs < 0) return -1;
    return timeoutMs > INT32_MAX ? INT32_MAX : static_cast<int32_t>(timeoutMs);
}

// Clears `field` when it still holds `word`; a newer event stored meanwhile
// stays.
void ResetIfStill(std::atomic<uint64_t>& field, uint64_t word) {
    field.compare_exchange_strong(word, SyncEventWord(ULMSyncEvent(kULMOK)),
                                  std::memory_order_acq_rel);
}

}  // namespace

KWBBoard* KWBBoard::GetBoard(int inID) {
    return IsBoardIndex(inID) ? Slot(inID).load(std::memory_order_acquire) : nullptr;
}

KWBBoard* KWBBoard::Open(int inID, ULMStatus& outStatus, bool inIsExclusive) {
    if (!IsBoardIndex(inID)) {
        outStatus = kULMErrArgument;
        return nullptr;
    }
    KWBBoard* board = Slot(inID).load(std::memory_order_acquire);
    if (board == nullptr) {
        ULMStatus status = kULMOK;
        std::unique_ptr<KWBBoard> opened(new KWBBoard(inID, inIsExclusive, status));
        if (status != kULMOK) {
            outStatus = status;
            return nullptr;
        }
        // The table owns the board from here until Close.
        board = opened.release();
        Slot(inID).store(board, std::memory_order_release);
        outStatus = kULMOK;
    }
    return board;
}

ULMStatus KWBBoard::Close(int inID) {
    std::unique_ptr<KWBBoard> board(GetBoard(inID));
    if (board == nullptr) return kULMErrArgument;
    // The driver would drop queued work with the connection; let the
    // board's last transfers and render finish first.
    const ULMSyncEvent last[] = {board->GetLastLoadEvent(), board->GetLastUnloadEvent(),
                                 board->GetLastRenderEvent()};
    for (const ULMSyncEvent& event : last) {
        if (event.Status() == kULMInProgress) event.Wait(-1);
    }
    Slot(inID).store(nullptr, std::memory_order_release);
    return kULMOK;
}

KWBBoard::KWBBoard(int inID, bool inIsExclusive, ULMStatus& outStatus)
    : m_id(inID),
      m_exclusive(inIsExclusive),
      m_lastRenderEvent(SyncEventWord(ULMSyncEvent(kULMErrInternal))),
      m_lastLoadEvent(SyncEventWord(ULMSyncEvent(kULMOK))),
      m_lastUnloadEvent(SyncEventWord(ULMSyncEvent(kULMOK))),
      m_bufferRequests(std::make_unique<KWBBufferRequests>(*this)),
      m_transfers(std::make_unique<KWBTransfers>(*this)),
      m_mapper(std::make_unique<KWBMapper>(*this)),
      m_renderSubmitter(std::make_unique<KWBRenderSubmitter>(*this)) {
    char deviceName[32];
    snprintf(deviceName, sizeof deviceName, "%s%02d", kTulx7DeviceNamePrefix, inID);

    int openStatus = 0;
    tulx7_dr_open(deviceName, &m_handle, &openStatus);
    SetDriverStatus(openStatus);
    if (openStatus != 0) {
        outStatus = TranslateDriverStatus(openStatus);
        return;
    }

    Tulx7_dr_configuration configuration;
    outStatus = Request(TULX7_DR_GET_CONFIGURATION, configuration);
    if (outStatus != kULMOK) return;
    if (configuration.major_number != 0) {
        outStatus = kULMErrVersion;
        return;
    }

    const int minor = configuration.minor_number;
    m_configuration.dwStatus = 0;
    m_configuration.dwMajorVersion = 0;
    m_configuration.dwMinorVersion = static_cast<uint32_t>(minor);
    m_configuration.dwCapsLevel = static_cast<uint32_t>(minor);
    m_configuration.dwTotalMemory = MemoryStatsOf(configuration).dwTotal;
    m_configuration.dwActiveImageBuffers = 4;
    m_configuration.dwPciRev = static_cast<uint32_t>(configuration.pci_rev);
    // Minor 1 drivers know none of the extras, minor 2 lack only peers; every
    // other minor (0 included) has them all.
    m_configuration.dwSupportsAbort = minor != 1;
    m_configuration.dwSupportsDump = minor != 1;
    m_configuration.dwSupportsPeer = minor != 1 && minor != 2;

    if (m_configuration.dwSupportsPeer) {
        Tulx7_dr_board_peers peers;
        outStatus = Request(TULX7_DR_GET_BOARD_PEERS, peers);
        if (outStatus != kULMOK) return;
        m_peer = peers.peer[inID];
    } else {
        m_peer = -1;
    }

    m_memory = MemoryStatsOf(configuration);

    snprintf(m_driverVersionString, sizeof m_driverVersionString, "%s %d.%d (%d), OS %d, PCI %d",
             deviceName, configuration.major_number, configuration.minor_number,
             configuration.micro_number, configuration.os_version, configuration.pci_rev);
    outStatus = kULMOK;
}

KWBBoard::~KWBBoard() {
    if (!m_handle.IsClosed()) tulx7_dr_close(m_handle);
}

void KWBBoard::GetConfiguration(KWBConfiguration& outConfiguration) const {
    outConfiguration = m_configuration;
}

KWBMemoryStats KWBBoard::GetMemoryStats() {
    Tulx7_dr_configuration configuration;
    if (Request(TULX7_DR_GET_CONFIGURATION, configuration) != kULMOK) return KWBMemoryStats();
    // Answered fresh on every call rather than stored: queries may come from
    // several threads at once.
    return MemoryStatsOf(configuration);
}

const char* KWBBoard::GetCompiledVersionString() {
    static const struct CompiledVersion {
        CompiledVersion() {
            snprintf(text, sizeof text, "%d.%d OS version %s", kCompiledDriverMajor,
                     kCompiledDriverMinor, "TULX7_DR_VERSION_OS");
        }
        char text[64];
    } sVersion;
    return sVersion.text;
}

int KWBBoard::GetBoardNumberFromObjectID(uint64_t id) {
    if (id == 0x00000000FFFFFFFFull) return -1;
    return static_cast<int>(id >> 28);
}

ULMSyncEvent KWBBoard::GetLastLoadEvent() const {
    return SyncEventFromWord(m_lastLoadEvent.load(std::memory_order_acquire));
}
ULMSyncEvent KWBBoard::GetLastUnloadEvent() const {
    return SyncEventFromWord(m_lastUnloadEvent.load(std::memory_order_acquire));
}
ULMSyncEvent KWBBoard::GetLastRenderEvent() const {
    return SyncEventFromWord(m_lastRenderEvent.load(std::memory_order_acquire));
}
void KWBBoard::SetLastLoadEvent(const ULMSyncEvent& event) {
    m_lastLoadEvent.store(SyncEventWord(event), std::memory_order_release);
}
void KWBBoard::SetLastUnloadEvent(const ULMSyncEvent& event) {
    m_lastUnloadEvent.store(SyncEventWord(event), std::memory_order_release);
}
void KWBBoard::SetLastRenderEvent(const ULMSyncEvent& event) {
    m_lastRenderEvent.store(SyncEventWord(event), std::memory_order_release);
}

// ---------------------------------------------------------------------------
// Waits and aborts.

KWBBoard* KWBBoard::BoardOfEvent(const ULMSyncEvent& event, ULMStatus& outStatus) {
    const KWBSyncEvent view(event);
    // A word from a closed board, or garbage naming boards 8..15, has no
    // board to ask.
    KWBBoard* board = view.IsHardwareSync() ? GetBoard(view.GetBoardNumber()) : nullptr;
    outStatus = board != nullptr ? kULMOK : kULMErrArgument;
    return board;
}

void KWBBoard::ForgetCompletedLastEvent(const KWBSyncEvent& event) {
    const uint64_t word = SyncEventWord(event);
    ResetIfStill(m_lastLoadEvent, word);
    ResetIfStill(m_lastUnloadEvent, word);
    ResetIfStill(m_lastRenderEvent, word);
}

ULMStatus KWBBoard::WaitForEvents(int selection, int count, const ULMSyncEvent* events,
                                  long timeoutMs) {
    if (count <= 0) return kULMOK;
    if (count > TULX7_DR_MAX_SYNC_EVENTS || events == nullptr) return kULMErrArgument;

    Tulx7_dr_sync record;
    record.selection = selection;
    record.timeout = DriverTimeout(timeoutMs);
    record.event_count = count;
    for (int i = 0; i < count; ++i) {
        const KWBSyncEvent view(events[i]);
        if (!IsStatusCode(SyncEventWord(view))) {
            ULMStatus status = kULMOK;
            if (BoardOfEvent(view, status) == nullptr) return status;
        }
        // A finished event goes as "no event", which the driver counts as
        // occurred.
        record.event_list[i].event_id = view.GetDriverEventID();
    }

    const ULMStatus status = Request(TULX7_DR_SYNC, record);
    if (status != kULMOK) return status;

    for (int i = 0; i < count; ++i) {
        if (record.event_list[i].event_occurred == 0) continue;
        const KWBSyncEvent view(events[i]);
        if (!view.IsHardwareSync()) continue;
        // The board named by the event keeps the last-event field, not
        // necessarily the board the wait went through.
        if (KWBBoard* owner = GetBoard(view.GetBoardNumber())) owner->ForgetCompletedLastEvent(view);
    }
    return record.wait_status == 1 ? kULMOK : kULMTimeout;
}

ULMStatus KWBBoard::WaitForAny(int count, const ULMSyncEvent* events, long timeoutMs) {
    return WaitForEvents(TULX7_DR_WAIT_ANY, count, events, timeoutMs);
}

ULMStatus KWBBoard::WaitForAll(int count, const ULMSyncEvent* events, long timeoutMs) {
    return WaitForEvents(TULX7_DR_WAIT_ALL, count, events, timeoutMs);
}

ULMStatus KWBBoard::WaitForSync(const ULMSyncEvent& event, long timeoutMs) {
    ULMStatus status = kULMOK;
    KWBBoard* board = BoardOfEvent(event, status);
    if (board == nullptr) return status;
    return board->WaitForAny(1, &event, timeoutMs);
}

ULMStatus KWBBoard::AbortEvent(const ULMSyncEvent& event) {
    if (!m_configuration.dwSupportsAbort) return kULMErrUnimplemented;
    Tulx7_dr_abort record;
    record.event_id = KWBSyncEvent(event).GetDriverEventID();
    const ULMStatus status = Request(TULX7_DR_ABORT, record);
    // The driver cannot stop work that is already running: it goes on.
    if (record.status == TULX7_DR_STATUS_SUB_FUNCT_NOT_IMPLEMENTED) return kULMInProgress;
    // Dropped work changed nothing on the board: work queued after it does
    // not answer for it, as it does for work that failed as it ran.
    if (status == kULMOK) ForgetCompletedLastEvent(KWBSyncEvent(event));
    return status;
}

ULMStatus KWBBoard::commonAbort(const ULMSyncEvent& event) {
    ULMStatus status = kULMOK;
    KWBBoard* board = BoardOfEvent(event, status);
    if (board == nullptr) return status;
    return board->AbortEvent(event);
}

void KWBBoard::DumpQueues() {
    if (!m_configuration.dwSupportsDump) {
        ULMOutputMessage("DumpQueues called but driver does not support DEBUG_CQUEUE_DUMP\n");
        return;
    }
    ULMOutputMessage("DumpQueues called -- driver queues dumped to tulx7log.txt\n");
    for (uint32_t queue : {TULX7_DR_QUEUE_DMA_IN, TULX7_DR_QUEUE_DMA_OUT, TULX7_DR_QUEUE_RENDER}) {
        Tulx7_dr_debug_data record;
        record.count = 12;
        record.data_array[0] = queue;
        Request(TULX7_DR_DEBUG_CQUEUE_DUMP, record);
    }
}

// ---------------------------------------------------------------------------
// Board buffers and the driver's host buffers.

KWBBuffer* KWBBoard::CreateBuffer(uint32_t inU, uint32_t inV, uint32_t inW, uint32_t inElementBits,
                                  ULMStatus& outStatus) {
    return m_bufferRequests->Create(inU, inV, inW, inElementBits, outStatus).release();
}

KWBBuffer* KWBBoard::AttachBuffer(uint64_t inID, ULMStatus& outStatus) {
    return m_bufferRequests->Attach(inID, outStatus).release();
}

ULMStatus KWBBoard::ReleaseBuffer(KWBBuffer* inBuffer, bool inKeepObject) {
    return m_bufferRequests->Release(inBuffer, inKeepObject);
}

ULMStatus KWBBoard::ResizeBuffer(KWBBuffer* inBuffer, uint32_t inU, uint32_t inV, uint32_t inW) {
    return m_bufferRequests->Resize(inBuffer, inU, inV, inW);
}

ULMStatus KWBBoard::UpdateBufferSize(KWBBuffer* inBuffer) {
    return m_bufferRequests->UpdateSize(inBuffer);
}

ULMStatus KWBBoard::SetBufferPermission(KWBBuffer* inBuffer, ULMPermission inPermission) {
    return m_bufferRequests->SetPermission(inBuffer, inPermission);
}

ULMPermission KWBBoard::GetBufferPermission(const KWBBuffer* inBuffer) {
    return inBuffer == nullptr ? kULMPermissionNotShared : inBuffer->GetPermission();
}

ULMStatus KWBBoard::CreateKernelBuffer(uint32_t inSize, uint32_t& outGrantedSize,
                                       void*& outAddress, int& outID) {
    return m_bufferRequests->CreateKernelBuffer(inSize, outGrantedSize, outAddress, outID);
}

void KWBBoard::DestroyKernelBuffer(int inID, uint32_t inSize, void* inAddress) {
    m_bufferRequests->DestroyKernelBuffer(inID, inSize, inAddress);
}

// ---------------------------------------------------------------------------
// Transfers, clears and copies.

ULMSyncEvent KWBBoard::StartLoadBufferField(KWBBuffer* inBuffer, const void* inHost,
                                            uint32_t inSizeBits, uint32_t inPositionBits,
                                            const KWBRange& inRange, uint32_t inHostRow,
                                            uint32_t inHostSlice, int inHostBufferId) {
    return m_transfers->Start(inBuffer, inBuffer, {inSizeBits, inPositionBits}, inRange,
                              {inHost, inHostRow, inHostSlice, inHostBufferId});
}

ULMSyncEvent KWBBoard::StartUnloadBufferField(const KWBBuffer* inBuffer, void* outHost,
                                              uint32_t inSizeBits, uint32_t inPositionBits,
                                              const KWBRange& inRange, uint32_t inHostRow,
                                              uint32_t inHostSlice, int inHostBufferId) {
    return m_transfers->Start(nullptr, inBuffer, {inSizeBits, inPositionBits}, inRange,
                              {outHost, inHostRow, inHostSlice, inHostBufferId});
}

ULMSyncEvent KWBBoard::StartLoadBuffer(KWBBuffer* inBuffer, const void* inHost,
                                       const KWBRange& inRange, uint32_t inHostRow,
                                       uint32_t inHostSlice, int inHostBufferId) {
    if (inBuffer == nullptr) return ULMSyncEvent(kULMErrArgument);
    return StartLoadBufferField(inBuffer, inHost, inBuffer->GetElementBits(), 0, inRange,
                                inHostRow, inHostSlice, inHostBufferId);
}

ULMSyncEvent KWBBoard::StartUnloadBuffer(const KWBBuffer* inBuffer, void* outHost,
                                         const KWBRange& inRange, uint32_t inHostRow,
                                         uint32_t inHostSlice, int inHostBufferId) {
    if (inBuffer == nullptr) return ULMSyncEvent(kULMErrArgument);
    return StartUnloadBufferField(inBuffer, outHost, inBuffer->GetElementBits(), 0, inRange,
                                  inHostRow, inHostSlice, inHostBufferId);
}

ULMStatus KWBBoard::LoadBuffer(KWBBuffer* inBuffer, const void* inHost, const KWBRange& inRange,
                               uint32_t inHostRow, uint32_t inHostSlice, int inHostBufferId) {
    return StartLoadBuffer(inBuffer, inHost, inRange, inHostRow, inHostSlice, inHostBufferId)
        .Wait(-1);
}

ULMStatus KWBBoard::UnloadBuffer(const KWBBuffer* inBuffer, void* outHost, const KWBRange& inRange,
                                 uint32_t inHostRow, uint32_t inHostSlice, int inHostBufferId) {
    return StartUnloadBuffer(inBuffer, outHost, inRange, inHostRow, inHostSlice, inHostBufferId)
        .Wait(-1);
}

ULMStatus KWBBoard::LoadBufferField(KWBBuffer* inBuffer, const void* inHost, uint32_t inSizeBits,
                                    uint32_t inPositionBits, const KWBRange& inRange,
                                    uint32_t inHostRow, uint32_t inHostSlice, int inHostBufferId) {
    return StartLoadBufferField(inBuffer, inHost, inSizeBits, inPositionBits, inRange, inHostRow,
                                inHostSlice, inHostBufferId)
        .Wait(-1);
}

ULMStatus KWBBoard::UnloadBufferField(const KWBBuffer* inBuffer, void* outHost,
                                      uint32_t inSizeBits, uint32_t inPositionBits,
                                      const KWBRange& inRange, uint32_t inHostRow,
                                      uint32_t inHostSlice, int inHostBufferId) {
    return StartUnloadBufferField(inBuffer, outHost, inSizeBits, inPositionBits, inRange,
                                  inHostRow, inHostSlice, inHostBufferId)
        .Wait(-1);
}

ULMSyncEvent KWBBoard::DoStartLoadBufferField(KWBBuffer* inBuffer, const void* inHost,
                                              uint32_t inSizeBits, uint32_t inPositionBits,
                                              const KWBRange& inRange, uint32_t inHostRow,
                                              uint32_t inHostSlice, int inHostBufferId) {
    return m_transfers->StartOne(inBuffer, inBuffer, {inSizeBits, inPositionBits}, inRange,
                                 {inHost, inHostRow, inHostSlice, inHostBufferId});
}

ULMSyncEvent KWBBoard::DoStartUnloadBufferField(const KWBBuffer* inBuffer, void* outHost,
                                                uint32_t inSizeBits, uint32_t inPositionBits,
                                                const KWBRange& inRange, uint32_t inHostRow,
                                                uint32_t inHostSlice, int inHostBufferId) {
    return m_transfers->StartOne(nullptr, inBuffer, {inSizeBits, inPositionBits}, inRange,
                                 {outHost, inHostRow, inHostSlice, inHostBufferId});
}

ULMSyncEvent KWBBoard::StartClearBuffer(KWBBuffer* inBuffer, uint64_t inValue,
                                        const KWBRange& inRange) {
    return m_transfers->Clear(inBuffer, inValue, inRange);
}

ULMSyncEvent KWBBoard::StartCopyBuffer(const KWBBuffer* inSource, KWBBuffer* outDestination,
                                       const KWBRange& inSourceRange,
                                       const KWBRange& inDestinationRange) {
    return m_transfers->Copy(inSource, outDestination, inSourceRange, inDestinationRange);
}

// ---------------------------------------------------------------------------
// Mappings.

ULMStatus KWBBoard::MapBufferField(KWBBuffer* inBuffer, void*& outHostAddr, uint32_t inSizeBits,
                                   uint32_t inPositionBits, const KWBRange& inRange,
                                   ULMAccessType inAccess, uint32_t& outSizeU,
                                   uint32_t& outSizeV) {
    return m_mapper->Map(inBuffer, outHostAddr, inSizeBits, inPositionBits, inRange, inAccess,
                         outSizeU, outSizeV);
}

ULMStatus KWBBoard::MapBuffer(KWBBuffer* inBuffer, void*& outHostAddr, const KWBRange& inRange,
                              ULMAccessType inAccess, uint32_t& outSizeU, uint32_t& outSizeV) {
    if (inBuffer == nullptr) return kULMErrArgument;
    return MapBufferField(inBuffer, outHostAddr, inBuffer->GetElementBits(), 0, inRange, inAccess,
                          outSizeU, outSizeV);
}

ULMStatus KWBBoard::UnmapBuffer(KWBBuffer* inBuffer, void* inHostAddr) {
    return m_mapper->Unmap(inBuffer, inHostAddr);
}

// ---------------------------------------------------------------------------
// Command buffers and renders.

KWBCommandBuffer* KWBBoard::CreateCommandBuffer(int inSizeWanted) {
    return m_renderSubmitter->CreateCommandBuffer(inSizeWanted).release();
}

ULMSyncEvent KWBBoard::StartRender(ULMSyncEvent lastRenderEvent, KWBCommandBuffer* renderBuffer,
                                   uint32_t renderBlock, uint32_t renderBlockSize,
                                   KWBCommandBuffer* stateBuffer, uint32_t stateBlock,
                                   uint32_t stateBlockSize, KWBBuffer* inVolume,
                                   KWBBuffer* inImage0, KWBBuffer* inImage1, KWBBuffer* inDepth0,
                                   KWBBuffer* inDepth1, uint32_t inWriteTo, KWBBuffer** inLut,
                                   KWBBuffer* diffuseMap, KWBBuffer* specularMap,
                                   KWBBuffer* GMLut, KWBBuffer* ACLut) {
    return m_renderSubmitter->Start({lastRenderEvent, renderBuffer, renderBlock, renderBlockSize,
                                     stateBuffer, stateBlock, stateBlockSize, inVolume, inImage0,
                                     inImage1, inDepth0, inDepth1, inWriteTo, inLut, diffuseMap,
                                     specularMap, GMLut, ACLut});
}

}  // namespace ulm3
