// The library's handle on one rendering board: the driver connection, the
// board's configuration, capabilities and peer, and the last event of each of
// its three driver queues.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "board/driver_access.h"
#include "board/kwb_range.h"
#include "board/kwb_sync_event.h"
#include "tulx7/driver_requests.h"
#include "ulm3/permission.h"
#include "ulm3/shareable.h"
#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

class KWBBuffer;
class KWBBufferRequests;
class KWBCommandBuffer;
class KWBMapper;
class KWBRenderSubmitter;
class KWBTransfers;

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

// Boards live in the control record's table of eight slots, opened by index
// when the library opens and closed when it closes; open and close run under
// the library's own open and close. Waits and aborts may come from any
// thread: they block in the driver and take no library lock. Buffer
// requests, transfers, mappings and render submission go to helpers the
// board owns.
class KWBBoard {
public:
    enum MapType : int { eSimpleMap = 0, eSimulatedMap = 1, eNotImplementedMap = 2 };

    static constexpr int kMaxBoards = 8;
    // The host-buffer id of a transfer from or into plain host memory.
    static constexpr int kPlainHostMemory = TULX7_DR_PLAIN_HOST_MEMORY;

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
    // Whether the driver copies straight to the peer board.
    bool SupportsPeer() const { return m_configuration.dwSupportsPeer; }
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

    // -----------------------------------------------------------------------
    // On-board buffers, transfers between host and board, and mappings
    // (KWBBufferRequests, KWBTransfers, KWBMapper).

    // Buffers of 1 to 3 axes (V 0: one axis, W 0: two) of 8, 16, 32 or 64-bit
    // elements, at most 32768 per axis. Bad sizes give kULMErrArgument and
    // null; driver failures their translated status.
    KWBBuffer* CreateBuffer(uint32_t inU, uint32_t inV, uint32_t inW, uint32_t inElementBits,
                            ULMStatus& outStatus);
    KWBBuffer* AttachBuffer(uint64_t inID, ULMStatus& outStatus);
    // Detaches the buffer; the descriptor is deleted unless inKeepObject.
    ULMStatus ReleaseBuffer(KWBBuffer* inBuffer, bool inKeepObject);
    // New sizes with the same number of axes.
    ULMStatus ResizeBuffer(KWBBuffer* inBuffer, uint32_t inU, uint32_t inV, uint32_t inW);
    // Reads the buffer's sizes back from the driver.
    ULMStatus UpdateBufferSize(KWBBuffer* inBuffer);
    ULMStatus SetBufferPermission(KWBBuffer* inBuffer, ULMPermission inPermission);
    static ULMPermission GetBufferPermission(const KWBBuffer* inBuffer);
    // Host memory the driver can move data from without pinning it first.
    ULMStatus CreateKernelBuffer(uint32_t inSize, uint32_t& outGrantedSize, void*& outAddress,
                                 int& outID);
    void DestroyKernelBuffer(int inID, uint32_t inSize, void* inAddress);

    // Transfers of a box of a buffer, whole elements or one byte-aligned
    // field of them, from or into host memory of rows of inHostRow elements
    // and slices of inHostSlice rows (0: the box's own extents). inHostBufferId
    // is a driver host buffer's id, or kPlainHostMemory. Each transfer is
    // ordered after the earlier work on the buffer; the host memory must
    // stay untouched until the returned event has completed. Everything is
    // checked before the first request: a refused transfer moves nothing.
    ULMSyncEvent StartLoadBufferField(KWBBuffer* inBuffer, const void* inHost, uint32_t inSizeBits,
                                      uint32_t inPositionBits, const KWBRange& inRange,
                                      uint32_t inHostRow, uint32_t inHostSlice,
                                      int inHostBufferId);
    ULMSyncEvent StartUnloadBufferField(const KWBBuffer* inBuffer, void* outHost,
                                        uint32_t inSizeBits, uint32_t inPositionBits,
                                        const KWBRange& inRange, uint32_t inHostRow,
                                        uint32_t inHostSlice, int inHostBufferId);
    ULMSyncEvent StartLoadBuffer(KWBBuffer* inBuffer, const void* inHost, const KWBRange& inRange,
                                 uint32_t inHostRow, uint32_t inHostSlice, int inHostBufferId);
    ULMSyncEvent StartUnloadBuffer(const KWBBuffer* inBuffer, void* outHost,
                                   const KWBRange& inRange, uint32_t inHostRow,
                                   uint32_t inHostSlice, int inHostBufferId);
    ULMStatus LoadBuffer(KWBBuffer* inBuffer, const void* inHost, const KWBRange& inRange,
                         uint32_t inHostRow, uint32_t inHostSlice, int inHostBufferId);
    ULMStatus UnloadBuffer(const KWBBuffer* inBuffer, void* outHost, const KWBRange& inRange,
                           uint32_t inHostRow, uint32_t inHostSlice, int inHostBufferId);
    ULMStatus LoadBufferField(KWBBuffer* inBuffer, const void* inHost, uint32_t inSizeBits,
                              uint32_t inPositionBits, const KWBRange& inRange,
                              uint32_t inHostRow, uint32_t inHostSlice, int inHostBufferId);
    ULMStatus UnloadBufferField(const KWBBuffer* inBuffer, void* outHost, uint32_t inSizeBits,
                                uint32_t inPositionBits, const KWBRange& inRange,
                                uint32_t inHostRow, uint32_t inHostSlice, int inHostBufferId);
    // One driver request each (two for a wrapped run the driver cannot take
    // whole); the box must fit one request.
    ULMSyncEvent DoStartLoadBufferField(KWBBuffer* inBuffer, const void* inHost,
                                        uint32_t inSizeBits, uint32_t inPositionBits,
                                        const KWBRange& inRange, uint32_t inHostRow,
                                        uint32_t inHostSlice, int inHostBufferId);
    ULMSyncEvent DoStartUnloadBufferField(const KWBBuffer* inBuffer, void* outHost,
                                          uint32_t inSizeBits, uint32_t inPositionBits,
                                          const KWBRange& inRange, uint32_t inHostRow,
                                          uint32_t inHostSlice, int inHostBufferId);
    // Fills a box with the low bits of inValue (axes the buffer lacks are
    // taken as 0..0).
    ULMSyncEvent StartClearBuffer(KWBBuffer* inBuffer, uint64_t inValue, const KWBRange& inRange);
    // Copies the common extent of two boxes from inSource (on this board)
    // into outDestination: straight to a peer board, else through host
    // memory (then finished when it returns).
    ULMSyncEvent StartCopyBuffer(const KWBBuffer* inSource, KWBBuffer* outDestination,
                                 const KWBRange& inSourceRange, const KWBRange& inDestinationRange);

    // A box of a buffer (whole elements or one field) as host memory with
    // power-of-two row length outSizeU and rows per slice outSizeV: mapped by
    // the driver, or emulated with a host copy when the parameter
    // SimulateMap is set or the driver cannot map.
    ULMStatus MapBufferField(KWBBuffer* inBuffer, void*& outHostAddr, uint32_t inSizeBits,
                             uint32_t inPositionBits, const KWBRange& inRange,
                             ULMAccessType inAccess, uint32_t& outSizeU, uint32_t& outSizeV);
    ULMStatus MapBuffer(KWBBuffer* inBuffer, void*& outHostAddr, const KWBRange& inRange,
                        ULMAccessType inAccess, uint32_t& outSizeU, uint32_t& outSizeV);
    // Ends a mapping; an emulated one made for writing is loaded back first.
    ULMStatus UnmapBuffer(KWBBuffer* inBuffer, void* inHostAddr);

    // -----------------------------------------------------------------------
    // Command buffers and render submission (KWBRenderSubmitter).

    // A host command buffer for this board of inSizeWanted words, clamped to
    // 1000..40000; null when the memory cannot be had. The caller owns it.
    KWBCommandBuffer* CreateCommandBuffer(int inSizeWanted);
    // Queues a render block (and an optional state block, run first) after
    // lastRenderEvent, after the loads into every buffer named and after the
    // unloads of the buffers it writes (inWriteTo: 1 image 0, 2 image 1,
    // 4 depth 0, 8 depth 1). inLut holds the four classification tables
    // (256, 256, 256 and 4096 entries of 64 bits) or is null; every table and
    // map must be a one-axis buffer of exactly its slot's entries. The driver
    // copies the words, and the blocks are given back to their buffers
    // whatever the outcome, so the command buffers may be reused or deleted
    // as soon as this returns. Returns the render's event, stamped into every
    // buffer named; a finished kULMErrArgument event without a render buffer,
    // without an image, or with a state block but no state buffer.
    ULMSyncEvent StartRender(ULMSyncEvent lastRenderEvent, KWBCommandBuffer* renderBuffer,
                             uint32_t renderBlock, uint32_t renderBlockSize,
                             KWBCommandBuffer* stateBuffer, uint32_t stateBlock,
                             uint32_t stateBlockSize, KWBBuffer* inVolume, KWBBuffer* inImage0,
                             KWBBuffer* inImage1, KWBBuffer* inDepth0, KWBBuffer* inDepth1,
                             uint32_t inWriteTo, KWBBuffer** inLut, KWBBuffer* diffuseMap,
                             KWBBuffer* specularMap, KWBBuffer* GMLut, KWBBuffer* ACLut);

public:
    KWBBoard(const KWBBoard&) = delete;
    KWBBoard& operator=(const KWBBoard&) = delete;

private:
    friend struct std::default_delete<KWBBoard>;
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

    std::unique_ptr<KWBBufferRequests> m_bufferRequests;
    std::unique_ptr<KWBTransfers> m_transfers;
    std::unique_ptr<KWBMapper> m_mapper;
    std::unique_ptr<KWBRenderSubmitter> m_renderSubmitter;
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
