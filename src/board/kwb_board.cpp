// Opening and closing boards, their configuration and memory.
#include "board/kwb_board.h"

#include <atomic>
#include <cstdio>

#include "foundation/control.h"
#include "foundation/sync_event.h"

namespace ulm3 {

namespace {

static_assert(KWBBoard::kMaxBoards == ULMControlInternal::kMaxBoards);

// The open boards are the control record's table. Its slots are written only
// by the library's open and close, but read by waits and aborts on any
// thread, so the board layer reaches them atomically.
std::atomic_ref<KWBBoard*> Slot(int id) { return std::atomic_ref<KWBBoard*>(gULMControl.m_KWBBoard[id]); }

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
        board = new KWBBoard(inID, inIsExclusive, status);
        if (status != kULMOK) {
            delete board;
            outStatus = status;
            return nullptr;
        }
        Slot(inID).store(board, std::memory_order_release);
        outStatus = kULMOK;
    }
    return board;
}

ULMStatus KWBBoard::Close(int inID) {
    KWBBoard* board = GetBoard(inID);
    if (board == nullptr) return kULMErrArgument;
    // The driver would drop queued work with the connection; let the
    // board's last transfers and render finish first.
    const ULMSyncEvent last[] = {board->GetLastLoadEvent(), board->GetLastUnloadEvent(),
                                 board->GetLastRenderEvent()};
    for (const ULMSyncEvent& event : last) {
        if (event.Status() == kULMInProgress) event.Wait(-1);
    }
    Slot(inID).store(nullptr, std::memory_order_release);
    delete board;
    return kULMOK;
}

KWBBoard::KWBBoard(int inID, bool inIsExclusive, ULMStatus& outStatus)
    : m_id(inID),
      m_exclusive(inIsExclusive),
      m_lastRenderEvent(SyncEventWord(ULMSyncEvent(kULMErrInternal))),
      m_lastLoadEvent(SyncEventWord(ULMSyncEvent(kULMOK))),
      m_lastUnloadEvent(SyncEventWord(ULMSyncEvent(kULMOK))) {
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

}  // namespace ulm3
