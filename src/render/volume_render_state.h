// What the render engine keeps per volume between renders.
#pragma once

#include <memory>

#include "board/board_pass_block.h"
#include "board/ulm_all_render_registers.h"
#include "foundation/locks.h"
#include "render/light_map_events.h"
#include "render/render_cache.h"
#include "render/sample_space.h"
#include "render/space_leaping.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// The volume holds one of these by pointer and never looks inside; the
// render engine reads and writes it. Created with the volume, so a new
// volume's first render programs every register.
struct ULMVolumeRenderState {
    // The next render must compute the sample space again.
    bool m_newSampleSpace = true;
    // MPR: sum-and-count output in alpha mode, and its scales (-1: unset).
    bool m_MPRSumAndCountOn = false;
    double m_MPRScale = -1.0;
    double m_MPRPreScale = -1.0;
    // Held while a render builds and submits its programme: renders of one
    // volume from two threads share everything below.
    ULMMutex m_lock;
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
};

}  // namespace ulm3
