// The bricked volume's render: the buffer checks, the choice of compositing
// road, the coarser view through render-and-resize when the chip cannot
// subsample, and the stamp on the buffers rendered.
#include <algorithm>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "buffers/image_buffer_internal.h"
#include "buffers/omni_depth_buffer.h"
#include "buffers/omni_image_buffer.h"
#include "context/render_context.h"
#include "foundation/context_readers.h"
#include "foundation/control.h"
#include "foundation/message_log.h"
#include "foundation/sync_event.h"
#include "multiboard/brick_blend_order.h"
#include "multiboard/multiboard_buffer_checks.h"
#include "multiboard/multiboard_copy_access.h"
#include "multiboard/multiboard_volume_phase2.h"
#include "perspective/shared_frame_plan.h"
#include "render/mpr.h"
#include "render/render_upper_layers.h"
#include "render/ulm_sample_space.h"
#include "render/volume_render_state.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

// The level the mipmap base chooses for the view (the top of its range
// when it chooses none), set on every brick; the first refusal.
ULMStatus SetBricksToViewLevel(const ULMVolume& inMipmap, std::span<ULMVolume* const> inBricks,
                               const ULMContext* inContext) {
    int level = inMipmap.ChooseMipmapLevel(inContext);
    if (level < 0) {
        int lowest = 0;
        inMipmap.GetMipmapRange(lowest, level);
    }
    for (ULMVolume* brick : inBricks) {
        const ULMStatus status = brick->SetMipmapRange(level, level);
        if (ULMFailed(status)) return status;
    }
    return kULMOK;
}

// The box a perspective frame is planned over: every voxel of inRange
// whole, voxel centres on the integers.
ULMFrameVolumeBox FrameBoxOf(const ULMVolumeRange& inRange) {
    ULMFrameVolumeBox box;
    const int origin[3] = {inRange.XOrigin(), inRange.YOrigin(), inRange.ZOrigin()};
    const int size[3] = {inRange.XSize(), inRange.YSize(), inRange.ZSize()};
    for (int i = 0; i < 3; ++i) box.min[i] = origin[i] - 0.5, box.max[i] = origin[i] + (size[i] - 0.5);
    return box;
}

}  // namespace

ULMStatus ULMMultiboardVolumePhase2::Render(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                            ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                            ULMDepthBuffer* ioDepth1) {
    return ULMStatusOnceQueued(StartRender(inContext, ioColor0, ioDepth0, ioColor1, ioDepth1));
}

ULMSyncEvent ULMMultiboardVolumePhase2::StartRender(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                                    ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                                    ULMDepthBuffer* ioDepth1) {
    return DoStartRenderAndMPR(inContext, ioColor0, ioDepth0, ioColor1, ioDepth1, 0.0, 1, kMPRAlpha, false);
}

ULMStatus ULMMultiboardVolumePhase2::RenderMPR(const ULMContext* inContext, double inNegativeDistance, int inQuality,
                                               MPRMode inMode, ULMImageBuffer* ioImage) {
    return ULMStatusOnceQueued(StartRenderMPR(inContext, inNegativeDistance, inQuality, inMode, ioImage));
}

ULMSyncEvent ULMMultiboardVolumePhase2::StartRenderMPR(const ULMContext* inContext, double inNegativeDistance,
                                                       int inQuality, MPRMode inMode, ULMImageBuffer* ioImage) {
    return DoStartRenderAndMPR(inContext, ioImage, nullptr, nullptr, nullptr, inNegativeDistance, inQuality, inMode,
                               true);
}

ULMSyncEvent ULMMultiboardVolumePhase2::DoStartRenderAndMPR(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                                            ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                                            ULMDepthBuffer* ioDepth1, double inNegativeDistance,
                                                            int inQuality, MPRMode inMode, bool inIsMPR) {
    ULM_ASSERT(m_baseVolume != nullptr);
    if (inContext == nullptr) return ULMSyncEvent(kULMErrArgument);
    // The level, the blend order, every brick and the composite read this
    // one state of the context.
    const ULMRenderContext renderContext(inContext);
    if (renderContext.Status() != kULMOK) return ULMSyncEvent(renderContext.Status());
    inContext = renderContext.Get();
    // Refused before any work, buffers untouched; depth tests still read
    // every brick's copy. Each brick writes its own depth copy and only the
    // first copy is read back, so a render that may write depth would lose
    // every other brick's.
    if (!inIsMPR && ULMMayWriteDepth(inContext)) {
        ULMOutputMessage("MB2::StartRender a render that writes depth is not supported: each brick writes its own "
                         "copy (set the depth update filters to kAlwaysFail)\n");
        return ULMSyncEvent(kULMErrUnimplemented);
    }
    ULMRecursiveLock hold(m_lock);
    RenderRequest request;
    request.context = inContext;
    request.negativeDistance = inNegativeDistance;
    request.quality = inQuality;
    request.mode = inMode;
    request.isMPR = inIsMPR;
    ULMImageBuffer* const colors[2] = {ioColor0, ioColor1};
    ULMDepthBuffer* const depths[2] = {ioDepth0, ioDepth1};
    ULMSyncEvent moved;
    if (const ULMStatus taken = TakeRenderBuffers(colors, depths, request, moved); ULMFailed(taken))
        return ULMSyncEvent(taken);
    // Bricks not yet on their boards are put there, and voxels written to
    // the source since (through a map of it) follow them.
    if (!m_locked) {
        const ULMStatus locked = LockVolume(kULMAnyBoard);
        if (ULMFailed(locked)) return ULMSyncEvent(locked);
    }
    if (const ULMStatus caught = CatchUpWithSource(); ULMFailed(caught)) return ULMSyncEvent(caught);

    // No brick falls back to a resize on its own, on this thread only: one
    // resize of the whole view replaces the composite instead.
    const bool resizeWanted = gULMControl.m_resizeImage && !ULMResizeSuppression::Active();
    const ULMResizeSuppression suppressed;

    if (m_baseMipmapVolume != nullptr)
        if (const ULMStatus set = SetBricksToViewLevel(*m_baseMipmapVolume, Bricks(), inContext); ULMFailed(set))
            return ULMSyncEvent(set);

    // A perspective frame is planned over the whole volume, each brick
    // sampling its own voxels of it. Mipmap levels have coordinates of their
    // own, and keep their own plans.
    std::optional<ULMFrameVolumeBox> box;
    if (m_baseMipmapVolume == nullptr) box = FrameBoxOf(m_baseVolume->GetRange());
    const ULMSharedFramePlan plan(std::nullopt, box);
    ULMSyncEvent result = RenderBricks(request);
    if (result.Status() == kULMErrCantSubsample && resizeWanted) result = ResizeFallback(request);
    result = ULMFollowedBy(moved, result);
    if (!ULMFailed(result.Status())) {
        if (inIsMPR)
            SetLastVolumeRendered(GetObjectID(), inContext, ioColor0, nullptr, ioColor0, nullptr);
        else
            SetLastVolumeRendered(GetObjectID(), inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
    }
    return result;
}

// The caller's images, then its depth buffers, taken to the bricked
// location, and the output image the context names (an MPR slab's its one
// image) given; kULMErrBuffer at the first refused, those before it taken.
ULMStatus ULMMultiboardVolumePhase2::TakeRenderBuffers(ULMImageBuffer* const (&inColors)[2],
                                                       ULMDepthBuffer* const (&inDepths)[2],
                                                       RenderRequest& ioRequest, ULMSyncEvent& ioMoved) {
    for (int b = 0; b < 2; ++b) {
        if (inColors[b] == nullptr) continue;
        ioRequest.buffers.color[b] = inColors[b];
        ioRequest.buffers.board[b] = CheckAndSetupImageBuffer(inColors[b], b, ioMoved);
        if (ioRequest.buffers.board[b] == nullptr) return kULMErrBuffer;
    }
    for (int b = 0; b < 2; ++b) {
        if (inDepths[b] == nullptr) continue;
        ioRequest.buffers.depth[b] = CheckAndSetupDepthBuffer(inDepths[b], b, ioMoved);
        if (ioRequest.buffers.depth[b] == nullptr) return kULMErrBuffer;
    }
    const ULMImageBuffer* output =
        ioRequest.isMPR
            ? inColors[0]
            : GetOutputImageBuffer(ioRequest.context, ioRequest.buffers.color[0], ioRequest.buffers.color[1]);
    if (output == nullptr) {
        ULMOutputMessage("MB2::StartRender the output image buffer the context names is not given\n");
        return kULMErrBuffer;
    }
    return kULMOK;
}

// Under the second scheme the image is one image on one board, which the
// render moves where it composites.
ULMImageBufferInternal* ULMMultiboardVolumePhase2::CheckAndSetupImageBuffer(ULMImageBuffer* inBuffer, int inNumber,
                                                                            ULMSyncEvent& ioMoved) {
    ULMOmniImageBuffer* omni = ULMTakeMultiboardImage(inBuffer, inNumber, kULMMultiBoardMode2, "MB2", ioMoved);
    if (omni == nullptr) return nullptr;
    if (omni->GetNumberBuffers() != 1) {
        ULMOutputMessage("MB2::StartRender buffer %d has %d subbuffers but it must only have 1\n", inNumber,
                         omni->GetNumberBuffers());
        return nullptr;
    }
    return omni->GetImageBuffer();
}

// The depth buffer is a copy on the board of each brick.
ULMOmniDepthBuffer* ULMMultiboardVolumePhase2::CheckAndSetupDepthBuffer(ULMDepthBuffer* inBuffer, int inNumber,
                                                                        ULMSyncEvent& ioMoved) {
    ULMOmniDepthBuffer* omni = ULMTakeMultiboardDepth(inBuffer, inNumber, kULMMultiBoardMode2, "MB2", ioMoved);
    if (omni == nullptr || !ULMHasOnePartPerSubVolume(omni->GetNumberBuffers(), inNumber, m_numSubVolumes, "MB2"))
        return nullptr;
    return omni;
}

ULMStatus ULMMultiboardVolumePhase2::GenerateBlendIndex(const ULMContext* inContext) {
    ULMVector4D vector;
    const bool perspective = ULMSampleSpace::GetEyeOrViewInVoxelSpace(inContext, m_baseVolume, vector) == 1;
    const double v[3] = {vector[0], vector[1], vector[2]};
    GenerateBrickBlendOrder(*m_division, perspective, v, m_blendIndex, m_softwBlendIndex);
    return kULMOK;
}

ULMSyncEvent ULMMultiboardVolumePhase2::RenderBricks(const RenderRequest& inRequest) {
    GenerateBlendIndex(inRequest.context);
    // Means of each brick's samples, composited, would show the nearer
    // brick's share alone on every ray whose slab crosses a seam: the sums
    // and counts are added first, whatever the road.
    if (inRequest.isMPR && inRequest.mode == kMPRAlpha) return RenderMPRSums(inRequest);
    // An RGBA MPR's one sample a ray is drawn by its brick over what one
    // board starts from, border or image, and taken whole on the host: a
    // composite would draw the brick's rounded colour over that start
    // again, whatever the road.
    if (inRequest.isMPR) return StartSoftwareRender(inRequest);
    const ULMContext* context = inRequest.context;
    int road = gULMControl.m_multiboard2ForceRender;
    if (road != 1 && road != 2) {
        const ULMImageBuffer* output =
            GetOutputImageBuffer(context, inRequest.buffers.color[0], inRequest.buffers.color[1]);
        // Minimum and maximum composite exactly only from the 12-bit
        // partial images of the host road.
        const bool host = (output != nullptr && output->GetPixelSize() == 64) ||
                          context->GetBlendMode() == kULMBlendSumAndCount ||
                          context->GetLastBlendMode() == kULMBlendSumAndCount ||
                          ULMIsExtremeBlend(context->GetBlendMode());
        road = host ? 2 : 1;
    }
    if (road == 1) {
        bool tryHost = false;
        const ULMSyncEvent event = StartHardwareRender(inRequest, tryHost);
        if (!tryHost) return event;
    }
    return StartSoftwareRender(inRequest);
}

// The whole view rendered larger and shrunk into the output image: the
// view's footprint and the voxels one pixel covers come from a sample space
// over the base volume's whole range (or its active part), which no brick
// holds alone.
ULMSyncEvent ULMMultiboardVolumePhase2::ResizeFallback(const RenderRequest& inRequest) {
    ULMVolumeInternal* plain = ULMPlainVolumeOf(m_subvolume[m_blendIndex[0]].GetVolume(), true);
    ULMImageBuffer* output = inRequest.isMPR ? inRequest.buffers.color[0]
                                             : GetOutputImageBuffer(inRequest.context, inRequest.buffers.color[0],
                                                                    inRequest.buffers.color[1]);
    if (plain == nullptr || output == nullptr) return ULMSyncEvent(kULMErrCantSubsample);
    // The enlargement lives on the nearest brick's board, and the shrink
    // writes the output images there.
    const ULMLocation board = m_subvolume[m_blendIndex[0]].m_location;
    RenderRequest request = inRequest;
    MPRResize mpr;
    if (inRequest.isMPR) {
        const ULMStatus prepared = PrepareMPRResize(board, output, request, mpr);
        if (prepared != kULMOK) return ULMSyncEvent(prepared);
    }
    ULMVolumeRange range = m_baseVolume->GetActiveSubVolume();
    if (range.IsReset()) range = m_baseVolume->GetRange();
    std::unique_ptr<ULMSampleSpace> space(new (std::nothrow) ULMSampleSpace());
    if (space == nullptr) return ULMSyncEvent(kULMErrAlloc);
    bool fresh = true;
    const ULMStatus assigned = space->AssignOver(request.context, plain, range, output, fresh, true);
    if (assigned != kULMErrCantSubsample) return ULMSyncEvent(assigned == kULMOK ? kULMErrCantSubsample : assigned);
    ULMResizeView view;
    view.footprint = space->GetBoxFootprint();
    space->GetSubSampleTests(view.testX, view.testY);
    // The output images move to the board once the enlarged view has been
    // taken: the resize may still refuse the view before it renders.
    const ULMEnlargedRender render = [this, &request, board](const ULMContext* inEnlarged,
                                                             ULMImageBuffer* ioTemporary) {
        RenderRequest enlarged = request;
        enlarged.context = inEnlarged;
        enlarged.buffers = RenderBuffers();
        enlarged.buffers.color[0] = ioTemporary;
        enlarged.buffers.board[0] = GetImageBufferInternal(ioTemporary);
        if (enlarged.buffers.board[0] == nullptr) return ULMSyncEvent(kULMErrBuffer);
        ULMSyncEvent rendered = RenderBricks(enlarged);
        if (ULMFailed(rendered.Status())) return rendered;
        for (ULMImageBufferInternal* image : request.buffers.board) {
            const ULMSyncEvent moved = ULMMoveMultiboardImage(image, board);
            if (ULMFailed(moved.Status())) {
                rendered.Wait(-1);
                return moved;
            }
            // The shrink writes into what the move brings.
            rendered = ULMFollowedBy(rendered, moved);
        }
        return rendered;
    };
    // The shrink writes the board images (a mean alpha's sums image); the
    // caller's images learn what their board images got. The sums owe no
    // factor: the tables weigh each sample by 1/k, as on one board.
    double scale = 1.0;
    ULMImageBuffer* const into[2] = {mpr.sums != nullptr ? mpr.sums.GetPointer() : request.buffers.board[0],
                                     request.buffers.board[1]};
    const ULMSyncEvent shrunk =
        ULMGetRenderAndResize()(render, board, request.context, view, mpr.sums != nullptr, scale, into[0], into[1]);
    if (mpr.sums != nullptr) return WriteShrunkMPRSums(shrunk, mpr, output);
    for (int b = 0; b < 2; ++b)
        if (request.buffers.board[b] != nullptr && request.buffers.color[b] != request.buffers.board[b])
            request.buffers.color[b]->SetOutputLimits(request.buffers.board[b]->GetOutputLimits());
    return shrunk;
}

ULMStatus ULMMultiboardVolumePhase2::PrepareMPRResize(ULMLocation inBoard, const ULMImageBuffer* inOutput,
                                                      RenderRequest& ioRequest, MPRResize& outMPR) {
    // Rendered large and shrunk with the MPR's own settings, as one board's
    // MPR is, not the caller's blending or depth filters.
    const bool sums = ioRequest.mode == kMPRAlpha;
    outMPR.context.Assign(ULMCopyContextForRender(ioRequest.context));
    if (outMPR.context == nullptr) return kULMErrAlloc;
    const ULMStatus set = ULMSetUpMPRContext(outMPR.context, ioRequest.quality, sums);
    if (set != kULMOK) return set;
    ioRequest.context = outMPR.context;
    if (!sums) return kULMOK;
    // A mean alpha is shrunk as sums and counts, into an image of their
    // own, and written as grey once shrunk.
    ULMStatus made = kULMOK;
    outMPR.sums.Assign(MPRSumsImage(inBoard, inOutput, made));
    ioRequest.sumsSupersample = &outMPR.supersample;
    return made;
}

ULMSyncEvent ULMMultiboardVolumePhase2::WriteShrunkMPRSums(const ULMSyncEvent& inShrunk, const MPRResize& inMPR,
                                                           ULMImageBuffer* ioOutput) {
    ULMStatus status = inShrunk.Wait(-1);
    if (status == kULMErrEmptyRender) ioOutput->SetOutputLimits(ULMImageRange());
    if (ULMFailed(status)) return inShrunk;
    const ULMImageRange range = inMPR.sums->GetOutputLimits();
    std::vector<uint32_t> words(static_cast<size_t>(range.XSize()) * static_cast<size_t>(range.YSize()));
    status = inMPR.sums->StartUnload(words.data(), range, static_cast<unsigned>(range.XSize())).Wait(-1);
    if (ULMFailed(status)) return ULMSyncEvent(status);
    std::vector<unsigned char> pixels;
    return ULMSyncEvent(ULMWriteMPRGrey(words.data(), range, inMPR.supersample, ioOutput, pixels));
}

ULMMultiboardVolumePhase2::HostFrame* ULMMultiboardVolumePhase2::TakeHostFrame(size_t inSize, int inTransfers,
                                                                             bool inStack, ULMStatus& outStatus) {
    outStatus = kULMOK;
    const auto fits = [&](const HostFrame& inFrame) {
        return inFrame.size >= inSize && inFrame.transfers >= inTransfers;
    };
    // Of the free frames, one whose stack (board memory) is what is asked,
    // then one already large enough.
    const auto rank = [&](const HostFrame& inFrame) {
        return ((inFrame.stack != nullptr) == inStack ? 2 : 0) + (fits(inFrame) ? 1 : 0);
    };
    HostFrame* frame = nullptr;
    for (const auto& held : m_hostFrames) {
        if (!held->lastUse.IsDone()) continue;
        if (frame == nullptr || rank(*held) > rank(*frame)) frame = held.get();
    }
    if (frame == nullptr && m_hostFrames.size() < kMostHostFrames) {
        std::unique_ptr<HostFrame> made(new (std::nothrow) HostFrame());
        if (made == nullptr) {
            outStatus = kULMErrAlloc;
            return nullptr;
        }
        frame = made.get();
        m_hostFrames.push_back(std::move(made));
    }
    if (frame == nullptr) {
        // As many renders in flight as frames: the oldest is waited for.
        frame = std::min_element(m_hostFrames.begin(), m_hostFrames.end(), [](const auto& a, const auto& b) {
                    return a->taken < b->taken;
                })->get();
    }
    frame->lastUse.Wait(-1);
    frame->lastUse = ULMSyncEvent(kULMOK);
    frame->taken = ++m_hostFramesTaken;
    if (fits(*frame)) return frame;
    for (auto& buffer : frame->transfer) buffer.reset();
    frame->accum.reset();
    frame->size = 0;
    frame->transfers = 0;
    for (int i = 0; i < inTransfers; ++i) {
        frame->transfer[i].reset(new (std::nothrow) char[inSize]);
        if (frame->transfer[i] == nullptr) outStatus = kULMErrAlloc;
    }
    frame->accum.reset(new (std::nothrow) char[inSize]);
    if (frame->accum == nullptr) outStatus = kULMErrAlloc;
    if (outStatus != kULMOK) return nullptr;
    frame->size = inSize;
    frame->transfers = inTransfers;
    return frame;
}

}  // namespace ulm3
