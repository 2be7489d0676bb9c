// Board buffers seen as host memory, through the driver or a host copy.
#include "board/kwb_mapping.h"

#include <cstdlib>
#include <map>

#include "board/buffer_addressing.h"
#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "foundation/control.h"
#include "foundation/locks.h"
#include "tulx7/driver_requests.h"

namespace ulm3 {
namespace {

// Every live mapping of every board, by host address. Callers serialise
// mapping of one buffer; the lock only keeps the shared table whole when
// different buffers are mapped from different threads.
struct MapTable {
    ULMMutex lock;
    std::map<void*, KWBMapList> entries;
};

MapTable& sMapMap() {
    static MapTable table;
    return table;
}

// The driver's access code of a mapping; 0 for an access that cannot map.
int32_t DriverAccessCode(ULMAccessType access) {
    switch (access) {
        case kULMAccessReadExclusive: return 1;
        case kULMAccessReadShared: return 5;
        case kULMAccessWriteExclusive: return 3;
        case kULMAccessWriteShared: return 7;
        case kULMAccessWriteOnlyExclusive: return 2;
        default: return 0;
    }
}

bool IsWriteAccess(ULMAccessType access) { return static_cast<int32_t>(access) > 2; }

uint32_t RoundUpToPowerOf2(uint32_t n) {
    uint32_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

}  // namespace

size_t KWBLiveMappingCount() {
    MapTable& table = sMapMap();
    ULMScopedLock hold(table.lock);
    return table.entries.size();
}

void SimulateMappingForMultiboard() {}

ULMStatus KWBMapper::Map(KWBBuffer* inBuffer, void*& outHostAddr, uint32_t inSizeBits,
                         uint32_t inPositionBits, const KWBRange& inRange, ULMAccessType inAccess,
                         uint32_t& outSizeU, uint32_t& outSizeV) {
    if (inBuffer == nullptr || inSizeBits == 0 || inSizeBits % 8 != 0 || inPositionBits % 8 != 0 ||
        uint64_t{inSizeBits} + inPositionBits > inBuffer->GetElementBits() ||
        !inRange.IsValid() || !KWBStorageHolds(*inBuffer, inRange))
        return kULMErrArgument;
    const int32_t accessCode = DriverAccessCode(inAccess);
    if (accessCode == 0) return kULMErrArgument;
    // The driver orders a map after the work it has queued on the buffer,
    // not after a host step that will queue more.
    inBuffer->SettleDeferredWriter();

    // The mapped box has power-of-two extents; its row length and rows per
    // slice are what the caller addresses the memory with.
    const int dimension = inBuffer->GetDimension();
    const uint32_t u = RoundUpToPowerOf2(static_cast<uint32_t>(inRange.ExtentU()));
    const uint32_t v = dimension >= 2 ? RoundUpToPowerOf2(static_cast<uint32_t>(inRange.ExtentV())) : 1;
    const uint32_t w = dimension >= 3 ? RoundUpToPowerOf2(static_cast<uint32_t>(inRange.ExtentW())) : 1;

    KWBMapList entry;
    entry.m_buffer = inBuffer;
    entry.m_sizeBits = inSizeBits;
    entry.m_positionBits = inPositionBits;
    entry.m_range = inRange;
    entry.m_sizeU = u;
    entry.m_sizeV = v;
    entry.m_access = inAccess;

    void* host = nullptr;
    ULMStatus status = kULMErrUnimplemented;
    if (!gULMControl.m_simulateMap) {
        status = MapThroughDriver(entry, accessCode, w, host);
        if (status != kULMOK && status != kULMErrUnimplemented) return status;
    }
    if (status == kULMErrUnimplemented) {
        status = MapEmulated(entry, w, host);
        if (status != kULMOK) return status;
    }

    {
        MapTable& table = sMapMap();
        ULMScopedLock hold(table.lock);
        table.entries[host] = entry;
    }
    outHostAddr = host;
    outSizeU = u;
    outSizeV = v;
    return kULMOK;
}

ULMStatus KWBMapper::MapThroughDriver(KWBMapList& ioEntry, int32_t inAccessCode, uint32_t inW, void*& outHost) {
    m_board.SetMapType(KWBBoard::eSimpleMap);
    KWBBuffer* buffer = ioEntry.m_buffer;
    const KWBRange& range = ioEntry.m_range;
    const int dimension = buffer->GetDimension();
    Tulx7_dr_buffer_map r;
    r.buffer_id = buffer->GetDriverID();
    r.access_share = inAccessCode;
    // The rounded box may run past the buffer (and past 16 bits); the
    // driver takes its pitches from it and clips what it copies.
    r.addr = KWBAddressing(*buffer, range);
    r.addr.subbuffer_max.x = range.minU + static_cast<int32_t>(ioEntry.m_sizeU) - 1;
    if (dimension >= 2) r.addr.subbuffer_max.y = range.minV + static_cast<int32_t>(ioEntry.m_sizeV) - 1;
    if (dimension >= 3) r.addr.subbuffer_max.z = range.minW + static_cast<int32_t>(inW) - 1;
    r.host_element_size = static_cast<int32_t>(ioEntry.m_sizeBits / 8) - 1;
    r.element_alignment = static_cast<int32_t>(ioEntry.m_positionBits / 8);
    const ULMStatus status = m_board.Request(TULX7_DR_BUFFER_MAP, r);
    if (status != kULMOK) return status;
    outHost = reinterpret_cast<void*>(static_cast<uintptr_t>(r.user_address));
    ioEntry.m_id = r.map_id;
    ioEntry.m_size = r.user_size;
    return kULMOK;
}

// Emulated: a host copy of the box, filled from the board now and written
// back on unmap when the access allows writing.
ULMStatus KWBMapper::MapEmulated(KWBMapList& ioEntry, uint32_t inW, void*& outHost) {
    m_board.SetMapType(KWBBoard::eSimulatedMap);
    {
        MapTable& table = sMapMap();
        ULMScopedLock hold(table.lock);
        if (table.entries.size() >= kKWBMaxEmulatedMappings) return kULMErrAlloc;
    }
    const uint32_t u = ioEntry.m_sizeU, v = ioEntry.m_sizeV;
    const uint64_t bytes = uint64_t{ioEntry.m_sizeBits / 8} * u * v * inW;
    outHost = std::calloc(bytes, 1);
    if (outHost == nullptr) return kULMErrAlloc;
    const ULMStatus status = m_board.UnloadBufferField(ioEntry.m_buffer, outHost, ioEntry.m_sizeBits,
                                                       ioEntry.m_positionBits, ioEntry.m_range, u, v,
                                                       KWBBoard::kPlainHostMemory);
    if (status != kULMOK) {
        std::free(outHost);
        outHost = nullptr;
        return status;
    }
    ioEntry.m_id = KWBMapList::kEmulatedMapID;
    ioEntry.m_size = bytes;
    return kULMOK;
}

ULMStatus KWBMapper::Unmap(KWBBuffer* inBuffer, void* inHostAddr) {
    if (inBuffer == nullptr || inHostAddr == nullptr) return kULMErrArgument;
    KWBMapList entry;
    {
        MapTable& table = sMapMap();
        ULMScopedLock hold(table.lock);
        const auto found = table.entries.find(inHostAddr);
        if (found == table.entries.end() || found->second.m_buffer != inBuffer)
            return kULMErrArgument;
        entry = found->second;
        table.entries.erase(found);
    }
    // Each mapping remembers how it was made: with mappings of both kinds
    // live, the board's last map type would pick the wrong way back.
    if (!entry.IsEmulated()) {
        Tulx7_dr_buffer_unmap r;
        r.map_id = static_cast<uint32_t>(entry.m_id);
        r.user_address = reinterpret_cast<uintptr_t>(inHostAddr);
        r.user_size = entry.m_size;
        return m_board.Request(TULX7_DR_BUFFER_UNMAP, r);
    }
    ULMStatus status = kULMOK;
    if (IsWriteAccess(entry.m_access))
        status = m_board.LoadBufferField(inBuffer, inHostAddr, entry.m_sizeBits,
                                         entry.m_positionBits, entry.m_range, entry.m_sizeU,
                                         entry.m_sizeV, KWBBoard::kPlainHostMemory);
    std::free(inHostAddr);
    return status;
}

}  // namespace ulm3
