// Render submission: a command block handed to the board's render queue with
// the description of every buffer the render reads or writes.
#include "board/kwb_render_submission.h"

#include <new>
#include <vector>

#include "board/buffer_addressing.h"
#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "board/kwb_command_buffer.h"
#include "board/kwb_request_waits.h"
#include "board/tulx_command_buffer.h"
#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/message_log.h"

namespace ulm3 {

namespace {

// What each table slot holds, in 64-bit entries.
constexpr int kClassificationEntries = 256;
constexpr int kClassification3Entries = 4096;
constexpr int kReflectanceEntries = 384;
constexpr int kGradientMagnitudeEntries = 64;
constexpr int kAlphaCorrectionEntries = 56;

}  // namespace

void SetupDriverBufferData(Tulx7_dr_volimgdepth_entry& entry, KWBBuffer* buffer,
                           KWBSyncEvent& ioLoadEvent, KWBSyncEvent& ioUnloadEvent, int isOutput) {
    entry = Tulx7_dr_volimgdepth_entry{};
    if (buffer == nullptr) {
        entry.buffer_id = TULX7_DR_NO_BUFFER;
        return;
    }
    KWBRange range;
    buffer->GetAdjustedRange(range);
    entry.buffer_id = buffer->GetDriverID();
    entry.addr = KWBAddressing(*buffer, range);
    // A render reads what every earlier load put into its buffers, and it
    // must not overwrite an output before earlier unloads have read it.
    ioLoadEvent = ioLoadEvent.Latest(buffer->GetLoadEvent());
    if (isOutput != 0) ioUnloadEvent = ioUnloadEvent.Latest(buffer->GetUnloadEvent());
}

void SetupDriverLutData(Tulx7_dr_lut_cache& entry, KWBBuffer* buffer, int inLUTSize,
                        KWBSyncEvent& ioEvent) {
    entry = Tulx7_dr_lut_cache{};
    if (buffer == nullptr) {
        entry.buffer_id = TULX7_DR_NO_BUFFER;
        return;
    }
    uint32_t u = 0, v = 0, w = 0, bits = 0;
    const int dimension = buffer->GetSizes(u, v, w, bits);
    // At most 32768 elements of 64 bits: the products fit an int.
    const int sizeX = static_cast<int>(u);
    const int elementSize = static_cast<int>(bits);
    ULM_ASSERT(dimension == 1 && sizeX * elementSize == inLUTSize * 64);
    entry.buffer_id = buffer->GetDriverID();
    entry.sequence_no = buffer->GetSequenceNumber();
    entry.valid_entries = static_cast<uint16_t>(sizeX * elementSize / 64);
    ioEvent = ioEvent.Latest(buffer->GetLoadEvent());
}

std::unique_ptr<KWBCommandBuffer> KWBRenderSubmitter::CreateCommandBuffer(int inSizeWanted) {
    try {
        return std::make_unique<TulxCommandBuffer>(&m_board, inSizeWanted);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

namespace {

// The events a render waits for: the loads of its buffers and tables, and
// the unloads of its outputs. Each field keeps the newest of its kind, and
// every event also goes to the waits, which find a field for any that the
// newest of its kind does not stand for (one of another queue or board).
struct RenderWaits {
    KWBSyncEvent load{kULMOK};
    KWBSyncEvent unload{kULMOK};
    KWBSyncEvent lut{kULMOK};
    std::vector<ULMSyncEvent> all;
};

void FoldBuffer(Tulx7_dr_volimgdepth_entry& entry, KWBBuffer* buffer, RenderWaits& ioWaits, uint32_t isOutput) {
    SetupDriverBufferData(entry, buffer, ioWaits.load, ioWaits.unload, static_cast<int>(isOutput));
    if (buffer == nullptr) return;
    ioWaits.all.push_back(buffer->GetLoadEvent());
    if (isOutput != 0) ioWaits.all.push_back(buffer->GetUnloadEvent());
}

void FoldTable(Tulx7_dr_lut_cache& entry, KWBBuffer* buffer, int inLUTSize, RenderWaits& ioWaits) {
    SetupDriverLutData(entry, buffer, inLUTSize, ioWaits.lut);
    if (buffer != nullptr) ioWaits.all.push_back(buffer->GetLoadEvent());
}

// The driver's description of every buffer and table the render names.
void DescribeBuffers(const KWBRenderRequest& r, KWBBuffer* const* inLuts, Tulx7_dr_all_buffers_data& outBuffers,
                     RenderWaits& ioWaits) {
    FoldBuffer(outBuffers.volume, r.volume, ioWaits, 0);
    const uint32_t writes = r.writeTo;
    FoldBuffer(outBuffers.image0, r.image0, ioWaits, writes & kKWBWritesImage0);
    FoldBuffer(outBuffers.image1, r.image1, ioWaits, writes & kKWBWritesImage1);
    FoldBuffer(outBuffers.depth0, r.depth0, ioWaits, writes & kKWBWritesDepth0);
    FoldBuffer(outBuffers.depth1, r.depth1, ioWaits, writes & kKWBWritesDepth1);

    FoldTable(outBuffers.classification_0, inLuts[0], kClassificationEntries, ioWaits);
    FoldTable(outBuffers.classification_1, inLuts[1], kClassificationEntries, ioWaits);
    FoldTable(outBuffers.classification_2, inLuts[2], kClassificationEntries, ioWaits);
    FoldTable(outBuffers.classification_3, inLuts[3], kClassification3Entries, ioWaits);
    FoldTable(outBuffers.diffuse_reflectance, r.diffuseMap, kReflectanceEntries, ioWaits);
    FoldTable(outBuffers.specular_reflectance, r.specularMap, kReflectanceEntries, ioWaits);
    FoldTable(outBuffers.gradient_magnitude, r.gmLut, kGradientMagnitudeEntries, ioWaits);
    FoldTable(outBuffers.alpha_correction, r.acLut, kAlphaCorrectionEntries, ioWaits);
}

// The render request for the driver: the waits, the buffer records, the
// command blocks and the write mask.
Tulx7_dr_render RenderRecord(const KWBRenderRequest& r, int inBoard, const Tulx7_dr_all_buffers_data& inBuffers,
                             const RenderWaits& inWaits) {
    Tulx7_dr_render record;
    KWBRequestWaits waits(inBoard, KWBSyncEvent::kRenderQueue, 4);
    waits.Name(0, inWaits.lut);
    waits.Name(1, inWaits.load);
    waits.Name(2, inWaits.unload);
    waits.Name(3, r.lastRenderEvent);
    for (const ULMSyncEvent& event : inWaits.all) waits.Follow(event);
    uint32_t* const ids[] = {&record.lut_load_event_id, &record.load_event_id, &record.unload_event_id,
                             &record.prev_render_event_id};
    waits.Resolve(ids);
    record.pBufferData = reinterpret_cast<uintptr_t>(&inBuffers);
    record.p_render_load_cmds = reinterpret_cast<uintptr_t>(r.renderBuffer->GetBlockAddress(r.renderBlock));
    record.render_count = static_cast<int32_t>(r.renderBlockSize);
    if (r.stateBlockSize != 0) {
        record.p_state_load_cmds = reinterpret_cast<uintptr_t>(r.stateBuffer->GetBlockAddress(r.stateBlock));
        record.state_count = static_cast<int32_t>(r.stateBlockSize);
    }
    // The chip is told which buffers the render may write.
    record.image_depth_dest =
        r.writeTo & (kKWBWritesImage0 | kKWBWritesImage1 | kKWBWritesDepth0 | kKWBWritesDepth1);
    return record;
}

// Every buffer remembers the render. One that the render writes in any of
// its slots is an output, so that its next unload waits for the render
// whichever slot named it. A buffer a still earlier render wrote stays an
// output: the new render runs after that one, so an unload that waits for
// the new render also sees the earlier render's pixels.
void RememberRender(const KWBRenderRequest& r, KWBBuffer* const* inLuts, const KWBSyncEvent& inRender) {
    struct Use {
        KWBBuffer* buffer;
        bool output;
    };
    const Use uses[] = {
        {r.volume, false},
        {r.image0, (r.writeTo & kKWBWritesImage0) != 0},
        {r.image1, (r.writeTo & kKWBWritesImage1) != 0},
        {r.depth0, (r.writeTo & kKWBWritesDepth0) != 0},
        {r.depth1, (r.writeTo & kKWBWritesDepth1) != 0},
        {inLuts[0], false}, {inLuts[1], false}, {inLuts[2], false}, {inLuts[3], false},
        {r.diffuseMap, false}, {r.specularMap, false}, {r.gmLut, false}, {r.acLut, false},
    };
    for (const Use& use : uses) {
        if (use.buffer == nullptr) continue;
        bool output = false;
        for (const Use& other : uses) output = output || (other.buffer == use.buffer && other.output);
        use.buffer->SetRenderEvent(inRender, output);
    }
}

}  // namespace

ULMSyncEvent KWBRenderSubmitter::Start(const KWBRenderRequest& r) {
    // The blocks are the render's from here on: the driver copies their words
    // at submission, and a refused render must not keep their words from
    // being reused either.
    auto releaseBlocks = [&] {
        if (r.renderBuffer != nullptr)
            r.renderBuffer->ReleaseBlock(r.renderBlock, r.renderBlockSize);
        if (r.stateBuffer != nullptr) r.stateBuffer->ReleaseBlock(r.stateBlock, r.stateBlockSize);
    };
    if (r.renderBuffer == nullptr || (r.image0 == nullptr && r.image1 == nullptr) ||
        (r.stateBlockSize != 0 && r.stateBuffer == nullptr)) {
        releaseBlocks();
        return ULMSyncEvent(kULMErrArgument);
    }

    KWBBuffer* const noTables[4] = {};
    KWBBuffer* const* luts = r.luts != nullptr ? r.luts : noTables;
    Tulx7_dr_all_buffers_data buffers;
    RenderWaits waits;
    DescribeBuffers(r, luts, buffers, waits);
    Tulx7_dr_render record = RenderRecord(r, m_board.GetID(), buffers, waits);
    const ULMStatus status = m_board.Request(TULX7_DR_RENDER, record);
    releaseBlocks();
    if (status != kULMOK) return ULMSyncEvent(status);

    const KWBSyncEvent renderEvent(m_board.GetID(), KWBSyncEvent::kRenderQueue,
                                   record.ret_render_event_id);
    m_board.SetLastRenderEvent(renderEvent);
    RememberRender(r, luts, renderEvent);

    if (gULMControl.m_forceSynchRender) {
        const ULMStatus waited = renderEvent.Wait(-1);
        if (ULMFailed(waited)) {
            ULMOutputMessage("Render failed, status %s (%d)\n", UlmGetStatusString(waited), waited);
            return ULMSyncEvent(waited);
        }
    }
    return renderEvent;
}

}  // namespace ulm3
