// What the render engine keeps per volume between renders.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "board/board_pass_block.h"
#include "board/ulm_all_render_registers.h"
#include "foundation/locks.h"
#include "foundation/shareable.h"
#include "render/light_map_events.h"
#include "render/mpr.h"
#include "render/perspective_frame_driver.h"
#include "render/render_cache.h"
#include "render/space_leaping.h"
#include "render/ulm_sample_space.h"
#include "ulm3/cut_plane.h"
#include "ulm3/image_buffer.h"
#include "ulm3/sync_event.h"
#include "volume/volume_internal.h"
#include "volume/volume_upper_layers.h"

namespace ulm3 {

class ULMContext;
class ULMDepthBuffer;

// The volume owns one of these as its engine state and never looks inside;
// the render engine reads and writes it. Created with the volume, so a new
// volume's first render programs every register.
struct ULMVolumeRenderState final : ULMVolumeEngineState {
    // The next render must compute the sample space again.
    bool m_newSampleSpace = true;
    // Held by an MPR render from its first check to its last write: MPR
    // renders of one volume from two threads share the MPR members below.
    // Taken before m_lock.
    ULMMutex m_mprLock;
    // The MPR render's slab and its tables' treatment; its cut plane, the
    // board image of sums and counts, and the host copies of that image and
    // of the grey pixels made from it.
    ReleasablePointer<ULMCutPlane> m_mprCutPlane;
    ReleasablePointer<ULMImageBuffer> m_sumAndCountBuffer;
    std::vector<uint32_t> m_mprBuffer;
    std::vector<unsigned char> m_mprPixels;
    ULMSyncEvent m_mprUnloadEvent{kULMErrArgument};
    // Held while a render builds and submits its programme: renders of one
    // volume from two threads share everything below.
    ULMMutex m_lock;
    // The MPR render being built, null for any other render; whether the
    // last render summed and counted its samples, and the scale of the
    // alpha it summed (-1: a render that is no MPR).
    ULMMPRSlab* m_MPR = nullptr;
    bool m_MPRSumAndCountOn = false;
    double m_MPRScale = -1.0;
    ULMSampleSpace m_sampleSpace;
    // The tables of the volume's renders and passes on its board.
    ULMRenderCache m_renderCache;
    // The registers of the last render, and the block that carried them.
    ULMAllRenderRegisters m_regs;
    std::unique_ptr<ULMBoardPassBlock> m_renderBlock;
    ULMSyncEvent m_lastRenderEvent{kULMOK};
    ULMSpaceLeaping m_spaceLeaping;
    // Light maps built under the lock, told to their listeners once the
    // render entry has let go of it.
    ULMLightMapNotices m_lightMapNotices;
    // The perspective frame driver, last so that it goes first: it waits
    // for its frame's transfers.
    ULMOwnedFrameDriver m_perspective;
};

// The state the render engine made for inVolume.
inline ULMVolumeRenderState& ULMRenderStateOf(const ULMVolumeInternal& inVolume) {
    return static_cast<ULMVolumeRenderState&>(inVolume.EngineState());
}

// A render refused for a buffer's sake: says which buffer and why in the
// message log (the status alone leaves the application guessing what to
// change) and answers kULMErrBuffer.
ULMStatus ULMRefuseForBuffer(const char* inBuffer, const char* inWhy);

// Stamps the output image the context selects, and each depth buffer whose
// update filter can pass, with the volume that rendered them.
void SetLastVolumeRendered(unsigned long long inId, const ULMContext* inContext, ULMImageBuffer* ioColor0,
                           ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1);

}  // namespace ulm3
