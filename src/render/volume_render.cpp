// The render road of a plain volume: the checks, the volume placed and
// prepared on its board, and the frame (volume_frame.cpp): a parallel view
// as one sub-frame, or a perspective frame through the frame driver. MPR
// renders (mpr.cpp) take this road with a slab of their own.
#include <memory>

#include "board/kwb_board.h"
#include "board/kwb_render_submission.h"
#include "buffers/depth_buffer_internal.h"
#include "buffers/image_buffer_internal.h"
#include "buffers/omni_depth_buffer.h"
#include "buffers/omni_image_buffer.h"
#include "context/context_internal.h"
#include "context/render_context.h"
#include "foundation/context_readers.h"
#include "foundation/control.h"
#include "foundation/locks.h"
#include "foundation/message_log.h"
#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "render/perspective_frame_driver.h"
#include "render/render_programme.h"
#include "render/render_upper_layers.h"
#include "render/volume_frame.h"
#include "render/volume_render.h"
#include "render/volume_render_state.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

// What the chip cannot take: more cut planes than it has.
bool ExceedsTheChip(const ULMContext* inContext) { return inContext->GetCutPlaneCount() > 4; }

void StampImage(ULMImageBuffer* inImage, unsigned long long inId) {
    if (inImage == nullptr) return;
    if (IsObjectType(inImage, kObjectTypeULMOmniImageBuffer))
        static_cast<ULMOmniImageBuffer*>(inImage)->SetLastVolumeRendered(inId);
    else if (IsObjectType(inImage, kObjectTypeULMImageBufferInternal))
        static_cast<ULMImageBufferInternal*>(inImage)->SetLastVolumeRendered(inId);
}

void StampDepth(ULMDepthBuffer* inDepth, unsigned long long inId) {
    if (inDepth == nullptr) return;
    if (IsObjectType(inDepth, kObjectTypeULMOmniDepthBuffer))
        static_cast<ULMOmniDepthBuffer*>(inDepth)->SetLastVolumeRendered(inId);
    else if (IsObjectType(inDepth, kObjectTypeULMDepthBufferInternal))
        static_cast<ULMDepthBufferInternal*>(inDepth)->SetLastVolumeRendered(inId);
}

// The board of a buffer that stays where it is (no migration), else
// ioWhere unchanged.
template <typename Buffer>
void PinnedBoard(const Buffer* inBuffer, ULMLocation& ioWhere) {
    if (inBuffer == nullptr || ioWhere != kULMAnyBoard) return;
    const ULMLocation at = inBuffer->GetLocation();
    if (at >= kULMBoard0 && at <= kULMBoard7 && inBuffer->GetMigrationMode() == kULMMigrationNone) ioWhere = at;
}

// Where a volume without a buffer is placed for a render: beside the
// output buffers that cannot move, so that the same render gets the same
// answer whichever board the previous volume took.
ULMLocation RenderPlacement(const ULMContext* inContext, const ULMImageBuffer* inColor0,
                            const ULMDepthBuffer* inDepth0, const ULMImageBuffer* inColor1,
                            const ULMDepthBuffer* inDepth1) {
    ULMLocation where = kULMAnyBoard;
    PinnedBoard(inColor0, where);
    PinnedBoard(inColor1, where);
    if (IsDepthBufferNeeded(inContext, 0)) PinnedBoard(inDepth0, where);
    if (IsDepthBufferNeeded(inContext, 1)) PinnedBoard(inDepth1, where);
    return where;
}

}  // namespace

ULMStatus ULMRefuseForBuffer(const char* inBuffer, const char* inWhy) {
    ULMOutputMessage("Render: %s %s; the render is refused (kULMErrBuffer)\n", inBuffer, inWhy);
    return kULMErrBuffer;
}

void SetLastVolumeRendered(unsigned long long inId, const ULMContext* inContext, ULMImageBuffer* ioColor0,
                           ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1) {
    StampImage(GetOutputImageBuffer(inContext, ioColor0, ioColor1), inId);
    if (inContext->GetDepthUpdateFilter(ULMContext::kDepthBuffer0) != ULMContext::kAlwaysFail)
        StampDepth(ioDepth0, inId);
    if (inContext->GetDepthUpdateFilter(ULMContext::kDepthBuffer1) != ULMContext::kAlwaysFail)
        StampDepth(ioDepth1, inId);
}

namespace {

// What a render the chip could not subsample hands to the resize once the
// locks are let go.
struct ResizeRequest {
    bool wanted = false;
    ULMLocation board = kULMAnyBoard;
    ULMResizeView view;
    bool sums = false;
    double scale = -1.0;
};

// The render under the buffer lock (the application's buffer calls wait
// until it is queued) and the render state's lock: the volume prepared
// beside the outputs that cannot move, the frame, and what a resize needs.
ULMSyncEvent RenderUnderLocks(ULMVolumeInternal& ioVolume, const ULMContext* inContext, ULMImageBuffer* ioColor0,
                              ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1,
                              ULMMPRSlab* ioMPR, bool inPerspective, ULMLightMapNotices& outNotices,
                              ResizeRequest& outResize) {
    ULMRecursiveLock bufferHold(ioVolume.BoardCopy().Lock());
    ULMStatus status = ioVolume.AddAccess(kULMAccessReadShared);
    if (status != kULMOK) return ULMSyncEvent(status);
    // Prepare and finish share the volume's buffer bookkeeping: two
    // threads rendering one volume take turns from the prepare to the
    // finish, or one could release the buffer the other is about to
    // render from.
    ULMVolumeRenderState& state = ULMRenderStateOf(ioVolume);
    ULMScopedLock lock(state.m_lock);
    // The slab belongs to this render alone, however it ends.
    struct MPRScope {
        ULMVolumeRenderState& state;
        ~MPRScope() { state.m_MPR = nullptr; }
    } mprScope{state};
    state.m_MPR = ioMPR;
    state.m_MPRSumAndCountOn = ioMPR != nullptr && ioMPR->sumAndCount;
    // The factor a resize still owes the sums: none, the tables weigh
    // each sample by 1/k already and the grey is a sum over its count.
    ULMRenderStateOf(ioVolume).m_MPRScale = ioMPR != nullptr ? 1.0 : -1.0;
    ULMSyncEvent result(kULMOK);
    status = ioVolume.BoardCopy().Prepare(RenderPlacement(inContext, ioColor0, ioDepth0, ioColor1, ioDepth1));
    if (status == kULMOK) {
        if (ioVolume.GetSource() != nullptr) status = ioVolume.BoardCopy().WaitForLoad();
        if (status != kULMOK)
            result = ULMSyncEvent(status);
        else if (inPerspective)
            result = ULMStartPerspectiveFrame(ioVolume, inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
        else
            result = ULMRenderPreparedVolume(ioVolume, inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
        KWBBoard* const board = ioVolume.BoardCopy().Board();
        if (!inPerspective && result.Status() == kULMErrCantSubsample && gULMControl.m_resizeImage &&
            board != nullptr && !ULMResizeSuppression::Active()) {
            outResize.wanted = true;
            outResize.board = static_cast<ULMLocation>(kULMBoard0 + board->GetID());
            outResize.view.footprint = state.m_sampleSpace.GetBoxFootprint();
            state.m_sampleSpace.GetSubSampleTests(outResize.view.testX, outResize.view.testY);
            outResize.sums = state.m_MPRSumAndCountOn;
            outResize.scale = state.m_MPRScale;
        }
        ioVolume.BoardCopy().Finish();
    } else {
        result = ULMSyncEvent(status);
    }
    outNotices.TakeFrom(state.m_lightMapNotices);
    ioVolume.ReleaseAccess();
    return result;
}

}  // namespace

ULMSyncEvent ULMStartVolumeRender(ULMVolumeInternal& ioVolume, const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                  ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1,
                                  ULMMPRSlab* ioMPR) {
    // Everything below reads one state of the context, whatever other
    // threads do to the application's.
    const ULMRenderContext renderContext(inContext);
    if (renderContext.Status() != kULMOK) return ULMSyncEvent(renderContext.Status());
    inContext = renderContext.Get();
    // Perspective frames are the registered driver's, and MPR slabs are parallel only.
    const bool perspective = IsPerspectiveMatrix(inContext->GetCamera().GetProjectionMatrix());
    if ((perspective && (ioMPR != nullptr || ULMGetPerspectiveFrameDriver() == nullptr)) ||
        ExceedsTheChip(inContext))
        return ULMSyncEvent(kULMErrUnimplemented);
    if (GetOutputImageBuffer(inContext, ioColor0, ioColor1) == nullptr)
        return ULMSyncEvent(ULMRefuseForBuffer("the output image buffer", "the context names is not given"));

    ULMLightMapNotices notices;
    ResizeRequest resize;
    const ULMSyncEvent result = RenderUnderLocks(ioVolume, inContext, ioColor0, ioDepth0, ioColor1, ioDepth1, ioMPR,
                                                 perspective, notices, resize);
    // A listener may render this volume again.
    notices.Deliver();
    if (!resize.wanted) return result;
    // The enlarged render re-enters here and must not resize again.
    ULMResizeSuppression once;
    const ULMEnlargedRender render = [&ioVolume, ioMPR](const ULMContext* inEnlarged, ULMImageBuffer* ioTemporary) {
        return ULMStartVolumeRender(ioVolume, inEnlarged, ioTemporary, nullptr, nullptr, nullptr, ioMPR);
    };
    return ULMGetRenderAndResize()(render, resize.board, inContext, resize.view, resize.sums, resize.scale, ioColor0,
                                   ioColor1);
}

ULMSyncEvent ULMRenderPreparedVolume(ULMVolumeInternal& ioVolume, const ULMContext* inContext,
                                     ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                     ULMDepthBuffer* ioDepth1) {
    ULMVolumeFrame frame(ioVolume, inContext);
    const ULMStatus bound = frame.BindImages(ioColor0, ioDepth0, ioColor1, ioDepth1);
    if (bound != kULMOK) return ULMSyncEvent(bound);
    // The render draws into what the moves of its buffers brought: a move
    // that fails on the board fails the render.
    return ULMFollowedBy(frame.Moved(), frame.RenderSubFrame(nullptr));
}

}  // namespace ulm3
