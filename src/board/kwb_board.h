// The library's handle on one rendering board: the driver connection, the
// board's configuration, capabilities and peer, and the last event of each of
// its three driver queues.
#pragma once

#include <atomic>
#include <cstdint>

#include "board/driver_access.h"
#include "board/driver_requests.h"
#include "board/kwb_sync_event.h"
#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// What a board reported when it was opened (copied out by GetConfiguration).
struct KWBConfiguration {
    uint64_t dwTotalMemory = 0;  // bytes
    uint32_t dwStatus = 0;
    uint32_t dwMajorVersion = 0;
    uint32_t dwMinorVersion = 0;
    uint32_t dwCapsLevel = 0;
    uint32_t dwActiveImageBuffers = 0;
    uint32_t dwPciRev = 0;
    bool dwSupportsPeer = false;
    bool dwSupportsAbort = false;
    bool dwSupportsDump = false;
};

// Memory of one board in bytes.
struct KWBMemoryStats {
    KWBMemoryStats() = default;
    KWBMemoryStats(uint64_t total, uint64_t locked, uint64_t unlocked, uint64_t free)
        : dwTotal(total), dwLocked(locked), dwUnlocked(unlocked), dwFree(free) {}

    uint64_t dwTotal = 0;
    uint64_t dwLocked = 0;
    uint64_t dwUnlocked = 0;
    uint64_t dwFree = 0;
};

// Boards live in a process-wide table of eight slots, opened by index when the
// library opens and closed when it closes; open and close run under the
// library's own open and close. Waits and aborts may come from any thread:
// they block in the driver and take no library lock.
class KWBBoard {
public:
    enum MapType : int { eSimpleMap = 0, eSimulatedMap = 1, eNotImplementedMap = 2 };

    static constexpr int kMaxBoards = 8;

    // The board in slot inID, opened now if the slot is empty. An index out
    // of 0..7 gives kULMErrArgument; a board that cannot be opened gives its
    // translated driver status and leaves the slot empty. An already open
    // board is returned as it is, outStatus and the exclusive flag untouched.
    static KWBBoard* Open(int inID, ULMStatus& outStatus, bool inIsExclusive);
    // Waits for the board's last load, unload and render, then releases the
    // driver and empties the slot; kULMErrArgument for an empty slot.
    static ULMStatus Close(int inID);
    static int KWBMaxCount() { return kMaxBoards; }
    // The open board in slot inID, null for an empty slot or a bad index.
    static KWBBoard* GetBoard(int inID);

    int GetID() const { return m_id; }
    // The board reachable by direct board-to-board copy, -1 when none.
    int GetPeer() const { return m_peer; }
    bool IsExclusive() const { return m_exclusive; }
    const Tulx7_dr_handle& GetHandle() const { return m_handle; }

    void GetConfiguration(KWBConfiguration& outConfiguration) const;
    // Asks the driver again; all zeros (and the stored figures kept) when
    // the request fails.
    KWBMemoryStats GetMemoryStats();

    // The driver interface this library was built for.
    static const char* GetCompiledVersionString();
    // The driver found when the board was opened.
    const char* GetConnectedVersionString() const { return m_driverVersionString; }

    // The board of a buffer id; -1 for the id of no buffer.
    static int GetBoardNumberFromObjectID(uint64_t id);

    ULMSyncEvent GetLastLoadEvent() const;
    ULMSyncEvent GetLastUnloadEvent() const;
    ULMSyncEvent GetLastRenderEvent() const;
    void SetLastLoadEvent(const ULMSyncEvent& event);
    void SetLastUnloadEvent(const ULMSyncEvent& event);
    void SetLastRenderEvent(const ULMSyncEvent& event);

    // The raw status of the board's last driver request.
    void SetDriverStatus(int32_t status) { m_driverStatus.store(status, std::memory_order_relaxed); }
    int32_t GetDriverStatus() const { return m_driverStatus.load(std::memory_order_relaxed); }

    MapType GetMapType() const { return m_mapType; }
    void SetMapType(MapType type) { m_mapType = type; }

    // Has the driver log the board's three command queues.
    void DumpQueues();

    // Waits for the board event `event` on the board it names.
    static ULMStatus WaitForSync(const ULMSyncEvent& event, long timeoutMs);
    // One wait request on this board's connection for any or all of `count`
    // (at most 8) events: kULMOK when satisfied, kULMTimeout when the time ran
    // out, or the translated driver status. Events reported occurred that are
    // still the last events of the board they name are reset to finished
    // ones. A word that is neither a finished event nor an event of an open
    // board gives kULMErrArgument.
    ULMStatus WaitForAny(int count, const ULMSyncEvent* events, long timeoutMs);
    ULMStatus WaitForAll(int count, const ULMSyncEvent* events, long timeoutMs);

    // Asks this board's driver to drop the event's work: kULMOK when it was
    // dropped, kULMInProgress when it runs on, kULMAlreadyComplete when it is
    // over; kULMErrUnimplemented when the driver cannot abort.
    ULMStatus AbortEvent(const ULMSyncEvent& event);
    // AbortEvent on the board the event names.
    static ULMStatus commonAbort(const ULMSyncEvent& event);

    // Sends one request record on this board's connection, keeping the raw
    // answer as the board's driver status; returns the answer translated.
    template <typename Record>
    ULMStatus Request(uint32_t code, Record& record);

    KWBBoard(const KWBBoard&) = delete;
    KWBBoard& operator=(const KWBBoard&) = delete;

private:
    KWBBoard(int inID, bool inIsExclusive, ULMStatus& outStatus);
    ~KWBBoard();

    ULMStatus WaitForEvents(int selection, int count, const ULMSyncEvent* events, long timeoutMs);
    void ForgetCompletedLastEvent(const KWBSyncEvent& event);
    // The open board a board event names; null (and kULMErrArgument) for a
    // word that is not a board event or names no open board.
    static KWBBoard* BoardOfEvent(const ULMSyncEvent& event, ULMStatus& outStatus);

    static constexpr int kVersionStringSize = 1024;

    int m_id;
    int m_peer = -1;
    bool m_exclusive;
    Tulx7_dr_handle m_handle{};
    KWBConfiguration m_configuration;
    char m_driverVersionString[kVersionStringSize] = {};
    KWBMemoryStats m_memory;
    // Event words; waits on other threads may reset them while new work
    // moves them forward.
    std::atomic<uint64_t> m_lastRenderEvent;
    std::atomic<uint64_t> m_lastLoadEvent;
    std::atomic<uint64_t> m_lastUnloadEvent;
    std::atomic<int32_t> m_driverStatus{0};
    MapType m_mapType = eSimpleMap;
};

}  // namespace ulm3

#include "board/driver_status.h"

namespace ulm3 {

template <typename Record>
ULMStatus KWBBoard::Request(uint32_t code, Record& record) {
    int32_t answer = 0;
    const ULMStatus status = SendDriverRequest(m_handle, code, record, answer);
    SetDriverStatus(answer);
    return status;
}

}  // namespace ulm3
