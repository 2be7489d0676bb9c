// Board buffers seen as host memory: the helper KWBBoard hands its mappings
// to, and the process-wide table of live mappings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "board/kwb_range.h"
#include "ulm3/shareable.h"
#include "ulm3/status.h"

namespace ulm3 {

class KWBBoard;
class KWBBuffer;

// One live mapping, keyed by the host address handed out.
struct KWBMapList {
    // Map id of a mapping the library emulates with a host copy.
    static constexpr uint64_t kEmulatedMapID = 0xFFFFFFFF;

    KWBBuffer* m_buffer = nullptr;
    uint64_t m_id = ~uint64_t{0};
    uint64_t m_size = 0;  // bytes mapped
    uint32_t m_sizeBits = 0;
    uint32_t m_positionBits = 0;
    KWBRange m_range{0, 0, 0, -1, -1, -1};
    uint32_t m_sizeU = 0;  // host row length in elements
    uint32_t m_sizeV = 0;  // host rows per slice
    ULMAccessType m_access = kULMAccessNoControl;

    bool IsEmulated() const { return m_id == kEmulatedMapID; }
};

// Maps and unmaps boxes of one board's buffers: mapped by the driver, or
// emulated with a host copy that is unloaded on map and loaded back on unmap.
// Every board's mappings share one table, keyed by host address.
class KWBMapper {
public:
    explicit KWBMapper(KWBBoard& board) : m_board(board) {}
    KWBMapper(const KWBMapper&) = delete;
    KWBMapper& operator=(const KWBMapper&) = delete;

    ULMStatus Map(KWBBuffer* buffer, void*& outHostAddr, uint32_t sizeBits, uint32_t positionBits,
                  const KWBRange& range, ULMAccessType access, uint32_t& outSizeU,
                  uint32_t& outSizeV);
    ULMStatus Unmap(KWBBuffer* buffer, void* hostAddr);

private:
    // The two ways of a map of ioEntry's box, whose extents (inW the third)
    // are rounded up to powers of two: the driver's (kULMErrUnimplemented
    // when it has none), and a host copy of the box.
    ULMStatus MapThroughDriver(KWBMapList& ioEntry, int32_t inAccessCode, uint32_t inW, void*& outHost);
    ULMStatus MapEmulated(KWBMapList& ioEntry, uint32_t inW, void*& outHost);

    KWBBoard& m_board;
};

// Emulated mappings are refused while this many mappings are live.
inline constexpr size_t kKWBMaxEmulatedMappings = 4;

// Live mappings of every board; for tests and diagnostics.
size_t KWBLiveMappingCount();

// Kept for the multiboard volumes, which map through their sub-volumes.
void SimulateMappingForMultiboard();

}  // namespace ulm3
