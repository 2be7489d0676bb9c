// Render submission: the helper KWBBoard hands its renders and command
// buffers to, and the records it gives the driver for each buffer and lookup
// table a render names.
#pragma once

#include <cstdint>
#include <memory>

#include "board/kwb_sync_event.h"
#include "tulx7/driver_requests.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

class KWBBoard;
class KWBBuffer;
class KWBCommandBuffer;

// The bits of a render's write mask: the bound buffers the chip may write.
inline constexpr uint32_t kKWBWritesImage0 = 1;
inline constexpr uint32_t kKWBWritesImage1 = 2;
inline constexpr uint32_t kKWBWritesDepth0 = 4;
inline constexpr uint32_t kKWBWritesDepth1 = 8;

// One render as KWBBoard::StartRender takes it: the blocks to run, the
// buffers the render reads and writes (writeTo, of the bits above) and its
// tables.
struct KWBRenderRequest {
    ULMSyncEvent lastRenderEvent;
    KWBCommandBuffer* renderBuffer = nullptr;
    uint32_t renderBlock = 0;
    uint32_t renderBlockSize = 0;
    KWBCommandBuffer* stateBuffer = nullptr;
    uint32_t stateBlock = 0;
    uint32_t stateBlockSize = 0;
    KWBBuffer* volume = nullptr;
    KWBBuffer* image0 = nullptr;
    KWBBuffer* image1 = nullptr;
    KWBBuffer* depth0 = nullptr;
    KWBBuffer* depth1 = nullptr;
    uint32_t writeTo = 0;
    KWBBuffer** luts = nullptr;  // four, or null
    KWBBuffer* diffuseMap = nullptr;
    KWBBuffer* specularMap = nullptr;
    KWBBuffer* gmLut = nullptr;
    KWBBuffer* acLut = nullptr;
};

class KWBRenderSubmitter {
public:
    explicit KWBRenderSubmitter(KWBBoard& board) : m_board(board) {}
    KWBRenderSubmitter(const KWBRenderSubmitter&) = delete;
    KWBRenderSubmitter& operator=(const KWBRenderSubmitter&) = delete;

    // Null when the memory cannot be had.
    std::unique_ptr<KWBCommandBuffer> CreateCommandBuffer(int sizeWanted);
    ULMSyncEvent Start(const KWBRenderRequest& request);

private:
    KWBBoard& m_board;
};

// Fills a volume, image or depth slot: the buffer's id, its valid range,
// offsets (or moduli - 1) and wrap; no buffer is the id of none. Folds the
// buffer's load event into ioLoadEvent and, for an output, its unload event
// into ioUnloadEvent.
void SetupDriverBufferData(Tulx7_dr_volimgdepth_entry& entry, KWBBuffer* buffer,
                           KWBSyncEvent& ioLoadEvent, KWBSyncEvent& ioUnloadEvent, int isOutput);

// Fills a table slot of inLUTSize 64-bit entries: id, load count and entries;
// no buffer is the id of none. The buffer must have one axis of exactly
// inLUTSize * 64 bits (asserted). Folds its load event into ioEvent.
void SetupDriverLutData(Tulx7_dr_lut_cache& entry, KWBBuffer* buffer, int inLUTSize,
                        KWBSyncEvent& ioEvent);

}  // namespace ulm3
