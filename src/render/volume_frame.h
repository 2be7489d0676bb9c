// One frame of a prepared volume, rendered in three phases that change at
// different rates: the images it writes (once per image), what the volume
// makes of the context (once per volume and frame) and the sample space with
// its register programme (once per sub-frame: the whole view of a parallel
// render, one mini-frustum of a perspective frame).
#pragma once

#include "board/kwb_render_submission.h"
#include "render/render_programme.h"
#include "ulm3/context.h"
#include "ulm3/depth_buffer.h"
#include "ulm3/image_buffer.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

class KWBBoard;
class ULMDepthBufferInternal;
class ULMImageBufferInternal;
class ULMVolumeInternal;
struct ULMMiniFrustum;
struct ULMVolumeRenderState;

// Made and used under the render state's lock, on a volume whose board copy
// is prepared.
class ULMVolumeFrame {
public:
    ULMVolumeFrame(ULMVolumeInternal& ioVolume, const ULMContext* inContext);
    ULMVolumeFrame(const ULMVolumeFrame&) = delete;
    ULMVolumeFrame& operator=(const ULMVolumeFrame&) = delete;

    // Once per image: the output image the context names and the depth
    // buffers its settings read or write, moved to the volume's board, and
    // which of them the render writes. A render into a volume (the sample
    // space's target) writes none of them. Refusals are kULMErrBuffer, and
    // kULMErrVolume for a volume without a buffer.
    ULMStatus BindImages(ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                         ULMDepthBuffer* ioDepth1);
    // The work of the moves the bindings queued, which the render's handle
    // must follow.
    const ULMSyncEvent& Moved() const { return m_moved; }
    // Once per sub-frame, into the images bound last: the sample space of
    // the view (inMiniFrustum null) or of one mini-frustum, the tables for
    // its slice spacing, the programme and its submission. The first
    // sub-frame that has a sample space runs the volume's phase too.
    ULMSyncEvent RenderSubFrame(const ULMMiniFrustum* inMiniFrustum);

private:
    // The sub-frame's sample space, and the target's YZ slab written back
    // for a render into a volume.
    ULMStatus AssignSampleSpace(const ULMMiniFrustum* inMiniFrustum);
    // Once per volume: the classifier's registers for the volume's fields,
    // and (after the tables) the light maps and gradient-magnitude table.
    ULMStatus ClassifyVolume();
    ULMStatus LightVolume();
    // The classifier's tables, alpha corrected for the sub-frame's slices.
    ULMStatus BindTables();
    // The registers, the programme, and the render queued on the board.
    ULMSyncEvent Submit();

    ULMVolumeInternal& m_volume;
    ULMVolumeRenderState& m_state;
    const ULMContext* const m_context;
    KWBBoard* m_board = nullptr;
    // Phase 1.
    bool m_toVolume = false;
    ULMImageBuffer* m_output = nullptr;
    ULMImageBuffer* m_color[2] = {};
    ULMDepthBuffer* m_depth[2] = {};
    ULMImageBufferInternal* m_boardImage[2] = {};
    ULMDepthBufferInternal* m_boardDepth[2] = {};
    ULMSyncEvent m_moved;
    // Phase 2, once done.
    bool m_classified = false;
    bool m_lightsBound = false;
    // What the programme is filled from, built up by the phases.
    ULMRenderInputs m_inputs;
    // Phase 3.
    ULMVolumeInternal* m_target = nullptr;
    KWBBuffer* m_luts[4] = {};
};

}  // namespace ulm3
