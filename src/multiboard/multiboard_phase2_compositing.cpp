// The two ways the bricks' partial images become one: on a board, as the
// slices of a small volume rendered straight through; on the host, blended
// pixel by pixel (an RGBA MPR's each taken from the brick that drew its
// sample). Either way every brick first renders its share of the view, on
// its own board, into an image of its own.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "board/kwb_range.h"
#include "buffers/image_buffer_internal.h"
#include "buffers/omni_depth_buffer.h"
#include "context/render_context.h"
#include "foundation/context_readers.h"
#include "foundation/control.h"
#include "foundation/field_conversions.h"
#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "multiboard/multiboard_buffer_checks.h"
#include "multiboard/multiboard_volume_phase2.h"
#include "render/mpr.h"
#include "render/ulm_sample_space.h"
#include "ulm3/camera.h"

namespace ulm3 {

namespace {

bool IsMinMode(ULMBlendMode inMode) { return inMode >= kULMBlendMinRed && inMode <= kULMBlendMinAlpha; }

}  // namespace

bool ULMIsExtremeBlend(ULMBlendMode inMode) { return inMode >= kULMBlendMinRed && inMode <= kULMBlendMaxAlpha; }

namespace {

// Partial images hold pre-weighted colours front to back; the modes that
// composite colours are all taken as front-to-back pre-weighted.
ULMBlendMode CompositeMode(ULMBlendMode inMode, bool inIsMPR) {
    if (inIsMPR || inMode == kULMBlendBTF || inMode == kULMBlendBTFPreWeighted || inMode == kULMBlendFTB)
        return kULMBlendFTBPreWeighted;
    return inMode;
}

// Where no sample of a brick lands its partial image holds this: what
// leaves every other layer unchanged in the context's blend mode.
void PartialBorder(const ULMContext* inContext, const ULMImageBuffer* inColor0, double (&outBorder)[4]) {
    std::fill(outBorder, outBorder + 4, 0.0);
    if (!IsMinMode(inContext->GetBlendMode())) return;
    if (inColor0 == nullptr) {
        std::fill(outBorder, outBorder + 4, 1.0);
        return;
    }
    inColor0->GetBorderValue(outBorder[0], outBorder[1], outBorder[2], outBorder[3]);
}

// The rectangle of an image that its addressing reaches.
ULMImageRange AddressedRange(const ULMImageBuffer* inImage) {
    const bool offset = inImage->GetAddressMode() == kULMOffsetAddress;
    return ULMImageRange(static_cast<int>(inImage->GetWidth()), static_cast<int>(inImage->GetHeight()),
                         offset ? inImage->GetAddressParameterX() : 0, offset ? inImage->GetAddressParameterY() : 0);
}

ULMImageRange ViewportRange(const ULMContext* inContext, const ULMImageBuffer* inOutput) {
    int x = 0, y = 0, w = 0, h = 0;
    inContext->GetCamera().GetViewport(x, y, w, h);
    if (w <= 0 || h <= 0) return AddressedRange(inOutput);
    return ULMImageRange(w, h, x, y);
}

// Union of the rectangles that hold pixels.
void Grow(ULMImageRange& ioUnion, const ULMImageRange& inRange) {
    if (inRange.IsEmpty()) return;
    ioUnion = ioUnion.IsEmpty() ? inRange : Union(ioUnion, inRange);
}

TrimRange ContextTrims(const ULMContext* inContext) {
    TrimRange t;
    inContext->GetTrimPlanes(t.minX, t.maxX, t.minY, t.maxY, t.minZ, t.maxZ);
    return t;
}

KWBRange BoardBox(const ULMImageRange& inRange, int inPlane) {
    return KWBRange(static_cast<int16_t>(inRange.XOrigin()), static_cast<int16_t>(inRange.YOrigin()),
                    static_cast<int16_t>(inPlane), static_cast<int16_t>(inRange.XOrigin() + inRange.XSize() - 1),
                    static_cast<int16_t>(inRange.YOrigin() + inRange.YSize() - 1), static_cast<int16_t>(inPlane));
}

// The layout partial images take on the board: the output's own where the
// stack can hold and composite it, else its fields packed from bit 0 with
// an 8-bit alpha. False for a layout the board cannot composite.
bool StackLayout(const ULMImageBuffer* inOutput, ULMFieldDescriptor (&outFields)[4], int& outBits) {
    for (int k = 0; k < 4; ++k) outFields[k] = inOutput->GetFieldDescriptor(static_cast<ULMChannel>(k));
    int bits = static_cast<int>(inOutput->GetPixelSize());
    const ULMFieldDescriptor& alpha = outFields[3];
    const int alphaBits = IsValidFieldFormat(alpha.m_format) ? alpha.m_size : 0;
    const bool twelveTwo = outFields[0].m_size == 12 && outFields[1].m_size <= 12 && outFields[2].m_size == 0 &&
                           outFields[3].m_size == 0;
    const bool asItIs = ULMSoftwareBlendVolume::IsEightBitRGBA(outFields) || alphaBits >= 8 || twelveTwo;
    if (bits > 32) return false;
    if (!asItIs) {
        const int grow = alphaBits == 0 && bits <= 24 ? 8 : alphaBits == 4 && bits <= 28 ? 4 : 0;
        if (grow == 0) return false;
        int position = 0;
        for (int k = 0; k < 3; ++k) {
            if (!IsValidFieldFormat(outFields[k].m_format)) continue;
            outFields[k].m_position = position;
            position += outFields[k].m_size;
        }
        // No alpha: 8 bits above the colour; a 4-bit alpha widened in place.
        outFields[3] = ULMFieldDescriptor(alphaBits == 0 ? 24 : position, 8, kULMUnsignedFraction);
        bits += grow;
    }
    outBits = bits <= 8 ? 8 : bits <= 16 ? 16 : 32;
    return true;
}

// The stack composites the partial images' colours through the chip, which
// sums and counts alpha samples but cannot add partial sums and counts:
// a sum-and-count blend, first or last, composites on the host only.
bool BoardComposites(const ULMContext* inContext) {
    return inContext->GetBlendMode() != kULMBlendSumAndCount && inContext->GetLastBlendMode() != kULMBlendSumAndCount;
}

uint64_t PackBorder(const double (&inBorder)[4], const ULMFieldDescriptor (&inFields)[4], int inBits) {
    uint64_t value = 0;
    for (int k = 0; k < 4; ++k)
        if (inFields[k].m_format != kULMUnknownFormat) value |= ConvertDoubleToField(inBorder[k], inFields[k], inBits);
    return value;
}

// The word the chip writes into inImage where a ray takes no sample and
// starts from the border: each channel as the chip holds the border's 12
// bits, a float, stored in its field.
uint64_t ChipBorderWord(const ULMImageBuffer* inImage) {
    double border[4];
    inImage->GetBorderValue(border[0], border[1], border[2], border[3]);
    uint64_t word = 0;
    for (int k = 0; k < 4; ++k) {
        const float held = static_cast<float>(ULMConvertFloatTo12(border[k])) / 4095.0f;
        word = ULMStoreElementField(word, held, inImage->GetFieldDescriptor(static_cast<ULMChannel>(k)));
    }
    return word;
}

// The context each brick renders with: the frame's, drawing only the
// brick's footprint into its image 0. A render copy, which the bricks'
// renders take as it is.
ULMContext* PartialContext(const ULMContext* inContext, ULMStatus& outStatus) {
    ULMContext* clone = ULMCopyContextForRender(inContext);
    outStatus = clone == nullptr ? kULMErrAlloc : clone->SetRenderArea(ULMContext::kVolume);
    if (outStatus == kULMOK) outStatus = clone->SetImageOutputBuffer(ULMContext::kImageBuffer0);
    return clone;
}

// The output's limits as the render leaves them, recorded by its start:
// a write into the output still to come, this render's or an earlier one's,
// is not waited for here.
void RecordOutputLimits(ULMImageBuffer* ioOutput, const ULMImageRange& inLimits) {
    const ULMRecordingDeferredWrite recording;
    ioOutput->SetOutputLimits(inLimits);
}

// The output keeps inLimits as the part written, and the render is empty.
ULMSyncEvent NothingInView(ULMImageBuffer* ioOutput, const ULMImageRange& inLimits) {
    RecordOutputLimits(ioOutput, inLimits);
    return ULMSyncEvent(kULMErrEmptyRender);
}

// A brick whose render drew no pixel: it failed as empty, or found its
// arguments empty of pixels. Its limits are then cleared.
bool DrewNothing(ULMStatus inRendered, ULMImageRange& ioLimits) {
    if (inRendered != kULMErrEmptyRender && (inRendered != kULMErrArgument || !ioLimits.IsEmpty())) return false;
    ioLimits = ULMImageRange();
    return true;
}

// What the composite covers, as the context's render area asks: the clip,
// or what the bricks drew within it. Where no brick drew in a parallel
// view, nothing: one board leaves the image as it was when the volume shows
// nowhere in it (and writes a perspective frame whole all the same).
ULMImageRange CompositeArea(const ULMContext* inContext, const ULMImageRange& inClip, const ULMImageRange& inDrawn) {
    if (inDrawn.IsEmpty() && !IsPerspectiveMatrix(inContext->GetCamera().GetProjectionMatrix())) return ULMImageRange();
    return inContext->GetRenderArea() == ULMContext::kViewport ? inClip : Intersect(inDrawn, inClip);
}

}  // namespace

ULMSyncEvent ULMMultiboardVolumePhase2::RenderBrick(int i, const RenderRequest& inRequest, ULMContext* ioClone,
                                                    ULMImageBuffer* ioPartial) {
    SubvolumeInfo& brick = m_subvolume[i];
    const TrimRange trims = ContextTrims(inRequest.context);
    // A brick whose share misses the trim box has nothing to draw.
    if (!m_division->TrimMeets(trims, i)) {
        ioPartial->SetOutputLimits(ULMImageRange());
        return ULMSyncEvent(kULMErrEmptyRender);
    }
    const TrimRange share = m_division->IntersectTrim(trims, i);
    ULMStatus status =
        ioClone->SetTrimPlanes(share.minX, share.maxX, share.minY, share.maxY, share.minZ, share.maxZ);
    if (status != kULMOK) return ULMSyncEvent(status);
    if (inRequest.isMPR)
        return brick->StartRenderMPR(ioClone, inRequest.negativeDistance, inRequest.quality, inRequest.mode,
                                     ioPartial);
    ULMDepthBuffer* depth[2] = {nullptr, nullptr};
    const ULMImageRange viewport = ViewportRange(inRequest.context, ioPartial);
    for (int b = 0; b < 2; ++b) {
        ULMOmniDepthBuffer* omni = inRequest.buffers.depth[b];
        if (omni == nullptr || Intersect(omni->GetSubImageRange(i), viewport).IsEmpty()) continue;
        depth[b] = omni->GetSubDepthBuffer(i);
        ULM_ASSERT_TEXT(depth[b]->GetLocation() == brick.m_location, "location == pSubDepth0->GetLocation()");
    }
    return brick->StartRender(ioClone, ioPartial, depth[0], nullptr, depth[1]);
}

// A brick with nothing in view adds nothing. A brick that fails waits for
// those already started, which still write their partial images, before
// its failure is answered.
bool ULMMultiboardVolumePhase2::JoinBrickRender(int i, const RenderRequest& inRequest, ULMContext* ioClone,
                                                ULMImageBuffer* ioPartial, ULMImageRange& outLimits,
                                                ULMEventJoin& ioRendered, ULMImageRange& ioDrawn,
                                                ULMSyncEvent& outFailure) {
    const ULMSyncEvent event = RenderBrick(i, inRequest, ioClone, ioPartial);
    outLimits = ioPartial->GetOutputLimits();
    if (DrewNothing(event.Status(), outLimits)) return true;
    if (ULMFailed(event.Status())) {
        ioRendered.Result().Wait(-1);
        outFailure = event;
        return false;
    }
    ioRendered.Add(event);
    Grow(ioDrawn, outLimits);
    return true;
}

ULMMultiboardVolumePhase2::OutputClip ULMMultiboardVolumePhase2::ClipOutput(const RenderRequest& inRequest) {
    const ULMContext* context = inRequest.context;
    const int out = inRequest.isMPR ? 0 : context->GetImageOutputBuffer() == ULMContext::kImageBuffer1 ? 1 : 0;
    OutputClip target;
    target.output = inRequest.buffers.color[out];
    target.board = inRequest.buffers.board[out];
    const ULMImageRange viewport = ViewportRange(context, target.board);
    if (target.board->GetAddressMode() != kULMWrapAddress) {
        target.clip = Intersect(AddressedRange(target.board), viewport);
        return target;
    }
    // A wrapped image has no edge: the viewport alone bounds the pixels,
    // each composited at its coordinates modulo the wrap, as one board
    // draws them; a wrap that cannot hold them apart is refused as there.
    target.clip = viewport;
    target.refused = ULMCheckWrapHolds(*target.board, viewport);
    return target;
}

// ---- On a board ----

ULMSyncEvent ULMMultiboardVolumePhase2::StartHardwareRender(const RenderRequest& inRequest, bool& outTryHost) {
    outTryHost = false;
    const OutputClip target = ClipOutput(inRequest);
    if (target.refused != kULMOK) return ULMSyncEvent(target.refused);
    StackPlan plan;
    if (!BoardComposites(inRequest.context) || !StackLayout(target.board, plan.layout, plan.bits)) {
        if (gULMControl.m_multiboard2ForceRender == 1) return ULMSyncEvent(kULMErrUnimplemented);
        outTryHost = true;
        return ULMSyncEvent(kULMErrUnimplemented);
    }
    if (target.clip.IsEmpty()) return NothingInView(target.output, target.clip);
    // The stack's planes start on an even pixel, as board offsets must; the
    // composite is held to the clip all the same.
    plan.range = target.clip;
    for (int a = 0; a < 2; ++a)
        if (plan.range.m_origin[a] % 2 != 0) --plan.range.m_origin[a], ++plan.range.m_size[a];
    // Every render in flight has a stack of its own, held with its frame:
    // an earlier render's composite may still be deferred behind copies
    // through the host into its stack, and must find it as it left it.
    const size_t planeBytes = static_cast<size_t>(plan.range.XSize()) * static_cast<size_t>(plan.range.YSize()) *
                              static_cast<size_t>(plan.bits / 8);
    ULMStatus status = kULMOK;
    plan.frame = TakeHostFrame(planeBytes, 0, true, status);
    if (plan.frame == nullptr) return ULMSyncEvent(status);
    if (plan.frame->stack == nullptr) plan.frame->stack.reset(new (std::nothrow) ULMBlendVolume());
    plan.stack = plan.frame->stack.get();
    if (plan.stack == nullptr) return ULMSyncEvent(kULMErrAlloc);
    if (status = PrepareStack(plan); status != kULMOK) return ULMSyncEvent(status);
    ULMImageRange drawn;
    ULMEventJoin work;
    ULMSyncEvent done = DrawIntoStack(inRequest, plan, work, drawn);
    if (!ULMFailed(done.Status())) done = CompositeStack(inRequest, target, plan, drawn);
    // The stack is free again once its composite has run, or, where none
    // was queued, once what was queued into it has.
    plan.frame->lastUse = ULMFailed(done.Status()) ? work.Result() : done;
    if (ULMFailed(done.Status())) return done;
    // The board runs the composite whatever became of the work it follows:
    // a brick's render, a clear or a copy that failed reaches the render's
    // handle through its own event.
    work.Add(done);
    return work.Result();
}

ULMStatus ULMMultiboardVolumePhase2::PrepareStack(StackPlan& ioPlan) {
    const int n = m_numSubVolumes;
    const int first = m_blendIndex[0];
    ULM_ASSERT_TEXT(first < n, "slice0 < m_numSubVolumes");
    ioPlan.first = first;
    ULMBlendVolume& stack = *ioPlan.stack;
    stack.SetBufferNumber(first);
    stack.SetVoxelSize(ioPlan.bits);
    stack.SetNumOfSubvolumes(n);
    ULMStatus status = stack.SetFieldDescriptors(ioPlan.layout);
    if (status == kULMOK) status = stack.Resize(ioPlan.range);
    return status;
}

ULMSyncEvent ULMMultiboardVolumePhase2::DrawIntoStack(const RenderRequest& inRequest, StackPlan& ioPlan,
                                                      ULMEventJoin& ioWork, ULMImageRange& outDrawn) {
    // Each brick draws its footprint only; what lies around it in the stack
    // is the cleared border, which composites to nothing.
    ULMStatus status = kULMOK;
    ReleasablePointer<ULMContext> clone(PartialContext(inRequest.context, status));
    if (status != kULMOK) return ULMSyncEvent(status);
    PartialBorder(inRequest.context, inRequest.buffers.color[0], ioPlan.border);
    const ULMSyncEvent cleared = ClearStack(inRequest, ioPlan, ioWork);
    if (ULMFailed(cleared.Status())) return cleared;
    ULMImageRange limits[kMultiboardMaxBricks];
    const ULMSyncEvent rendered = RenderPartialsOnBoards(inRequest, ioPlan, clone, ioWork, limits, outDrawn);
    if (ULMFailed(rendered.Status())) return rendered;
    // The outputs go to the stack's board only now that every brick has
    // taken the view: a render refused leaves them where they were.
    const ULMLocation board = m_subvolume[ioPlan.first].m_location;
    for (ULMImageBufferInternal* image : inRequest.buffers.board) {
        const ULMSyncEvent moved = ULMMoveMultiboardImage(image, board);
        if (ULMFailed(moved.Status())) {
            ioWork.Result().Wait(-1);
            return moved;
        }
        // The composite reads what the move brings.
        ioWork.Add(moved);
    }
    // The composite is queued behind this work through the stack's buffer
    // (see ULMBlendVolume::Render), not waited for here.
    return CopyPartialsIntoStack(ioPlan, limits, ioWork);
}

ULMSyncEvent ULMMultiboardVolumePhase2::ClearStack(const RenderRequest& inRequest, const StackPlan& inPlan,
                                                   ULMEventJoin& ioWork) {
    const ULMContext* context = inRequest.context;
    const int n = m_numSubVolumes;
    ULMImageBufferInternal* stack = inPlan.stack->GetBuffer(inPlan.first);
    KWBBoard* stackBoard = KWBBoard::GetBoard(static_cast<int>(stack->GetLocation()));
    if (stackBoard == nullptr) return ULMSyncEvent(kULMErrBuffer);
    // Old pixels of an earlier frame must not show: every plane the
    // composite reads (one a brick; those past them it never reads) is
    // cleared before any brick draws.
    for (int i = 0; i < n; ++i) {
        const ULMStatus status = inPlan.stack->GetBuffer(i)->SetOffset(inPlan.range.XOrigin(), inPlan.range.YOrigin());
        if (status != kULMOK) return ULMSyncEvent(status);
    }
    const uint64_t clearValue = inRequest.buffers.color[0] == nullptr && IsMinMode(context->GetBlendMode())
                                    ? ~uint64_t{0} >> (64 - inPlan.bits)
                                    : PackBorder(inPlan.border, inPlan.layout, inPlan.bits);
    // The planes are loaded from one plane of the clear value, which stays
    // this render's until the loads have read it: the board's own clear
    // would wait for them before it returned.
    const size_t pixelBytes = static_cast<size_t>(inPlan.bits / 8);
    const size_t planePixels = static_cast<size_t>(inPlan.range.XSize()) * static_cast<size_t>(inPlan.range.YSize());
    HostFrame* frame = inPlan.frame;
    ULMStatus status = kULMOK;
    for (size_t p = 0; p < planePixels; ++p) std::memcpy(frame->accum.get() + p * pixelBytes, &clearValue, pixelBytes);
    ULMEventJoin loads;
    for (int plane = 0; plane < n && status == kULMOK; ++plane) {
        const ULMSyncEvent loaded = stackBoard->StartLoadBuffer(
            stack->GetBuffer(), frame->accum.get(), BoardBox(inPlan.range, plane),
            static_cast<uint32_t>(inPlan.range.XSize()), static_cast<uint32_t>(inPlan.range.YSize()),
            KWBBoard::kPlainHostMemory);
        status = loaded.Status();
        if (!ULMFailed(status)) loads.Add(loaded), status = kULMOK;
    }
    ioWork.Add(loads.Result());
    if (ULMFailed(status)) return ULMSyncEvent(status);
    return ULMSyncEvent(kULMOK);
}

ULMSyncEvent ULMMultiboardVolumePhase2::RenderPartialsOnBoards(const RenderRequest& inRequest,
                                                               const StackPlan& inPlan, ULMContext* ioClone,
                                                               ULMEventJoin& ioWork,
                                                               ULMImageRange (&outLimits)[kMultiboardMaxBricks],
                                                               ULMImageRange& outDrawn) {
    const double* border = inPlan.border;
    for (int i = 0; i < m_numSubVolumes; ++i) {
        ULMImageBufferInternal* partial = inPlan.stack->GetBuffer(i);
        ULM_ASSERT_TEXT(partial->GetLocation() == m_subvolume[i].m_location,
                        "location == pTmp3DSubVolumeBuffer->GetLocation()");
        partial->SetBorderValue(border[0], border[1], border[2], border[3]);
        partial->SetInputLimits(ULMImageRange());
        ULMSyncEvent failure;
        if (!JoinBrickRender(i, inRequest, ioClone, partial, outLimits[i], ioWork, outDrawn, failure)) return failure;
    }
    return ULMSyncEvent(kULMOK);
}

ULMSyncEvent ULMMultiboardVolumePhase2::CopyPartialsIntoStack(const StackPlan& inPlan,
                                                              const ULMImageRange (&inLimits)[kMultiboardMaxBricks],
                                                              ULMEventJoin& ioWork) {
    ULMImageBufferInternal* stack = inPlan.stack->GetBuffer(inPlan.first);
    const int stackBoard = static_cast<int>(stack->GetLocation());
    // The peer's copies first: a copy through the host is loaded by a step
    // still to run, which any later board work on the stack would run first,
    // waiting for the boards it unloads from.
    for (const bool fromPeer : {true, false}) {
        for (int i = 0; i < m_numSubVolumes; ++i) {
            if (i == inPlan.first || inLimits[i].IsEmpty()) continue;
            ULMImageBufferInternal* partial = inPlan.stack->GetBuffer(i);
            KWBBoard* board = KWBBoard::GetBoard(static_cast<int>(partial->GetLocation()));
            if ((board->GetPeer() == stackBoard) != fromPeer) continue;
            const ULMSyncEvent copied = board->StartCopyBuffer(partial->GetBuffer(), stack->GetBuffer(),
                                                               BoardBox(inLimits[i], 0),
                                                               BoardBox(inLimits[i], m_softwBlendIndex[i]));
            if (ULMFailed(copied.Status())) {
                ioWork.Result().Wait(-1);
                return copied;
            }
            ioWork.Add(copied);
        }
    }
    return ULMSyncEvent(kULMOK);
}

ULMSyncEvent ULMMultiboardVolumePhase2::CompositeStack(const RenderRequest& inRequest,
                                                       const OutputClip& inTarget, const StackPlan& inPlan,
                                                       const ULMImageRange& inDrawn) {
    const ULMContext* context = inRequest.context;
    ULMStatus status = kULMOK;
    std::shared_ptr<StackComposite> composite(new (std::nothrow) StackComposite());
    if (composite == nullptr) return ULMSyncEvent(kULMErrAlloc);
    composite->blend.Assign(CompositeContext(inRequest, status));
    ULMContext* blend = composite->blend;
    if (blend == nullptr) return ULMSyncEvent(kULMErrAlloc);
    // The composite covers what the context's render area asks for: the
    // clip, or what the bricks drew.
    const ULMImageRange area = CompositeArea(context, inTarget.clip, inDrawn);
    if (area.IsEmpty()) return NothingInView(inTarget.output, ULMImageRange());
    if (status == kULMOK && area != inPlan.range) {
        const double x0 = area.XOrigin() - inPlan.range.XOrigin(), y0 = area.YOrigin() - inPlan.range.YOrigin();
        status = blend->SetTrimPlanes(x0 - 0.5, x0 + area.XSize() - 0.5 - 1.0 / 256, y0 - 0.5,
                                      y0 + area.YSize() - 0.5 - 1.0 / 256, -0.5, m_numSubVolumes - 0.5);
    }
    if (status != kULMOK) return ULMSyncEvent(status);

    // A copy through the host still to load the stack has a writer no board
    // queue can wait for before it runs: the composite is deferred behind
    // it too, and recorded on the outputs as their writer still to come.
    const ULMSyncEvent stackWriter = inPlan.stack->GetBuffer(inPlan.first)->GetBuffer()->GetDeferredWriter();
    composite->blendVolume = inPlan.stack;
    for (int b = 0; b < 2; ++b) {
        composite->image[b] = inRequest.buffers.board[b];
        if (inRequest.buffers.color[b] == nullptr) continue;
        // The application may give its images up before it waits.
        inRequest.buffers.color[b]->AddRef();
        composite->held[b].Assign(inRequest.buffers.color[b]);
        if (composite->image[b] != nullptr)
            composite->previousWriter[b] = composite->image[b]->GetBuffer()->GetDeferredWriter();
    }
    if (InDeferredStep()) {
        // Inside a step the stack's getters leave the copies to it.
        RunDeferredStep(stackWriter);
        const ULMSyncEvent blended = RenderStack(*composite);
        if (!ULMFailed(blended.Status())) RecordOutputLimits(inTarget.output, area);
        return blended;
    }
    // Earlier writes into the outputs still to come go first, without a
    // wait here for the boards they follow.
    const ULMSyncEvent earlier = CombineMultipleEvents(2, composite->previousWriter);
    const ULMSyncEvent copies = IsDeferredEvent(SyncEventWord(stackWriter)) ? stackWriter : ULMSyncEvent(kULMOK);
    const ULMSyncEvent blended = DeferHostStep(
        copies,
        [composite](ULMStatus inCopied) {
            if (ULMFailed(inCopied)) return ULMSyncEvent(inCopied);
            return RenderStack(*composite);
        },
        earlier);
    if (IsDeferredEvent(SyncEventWord(blended))) {
        for (ULMImageBufferInternal* image : composite->image)
            if (image != nullptr) image->GetBuffer()->SetDeferredWriter(blended);
    }
    if (!ULMFailed(blended.Status())) RecordOutputLimits(inTarget.output, area);
    return blended;
}

ULMSyncEvent ULMMultiboardVolumePhase2::RenderStack(StackComposite& ioComposite) {
    // Earlier writes into the outputs that nobody has run yet go first.
    for (const ULMSyncEvent& previous : ioComposite.previousWriter) RunDeferredStep(previous);
    return ioComposite.blendVolume->Render(ioComposite.blend, ioComposite.image[0], ioComposite.image[1]);
}

ULMContext* ULMMultiboardVolumePhase2::CompositeContext(const RenderRequest& inRequest, ULMStatus& outStatus) {
    const ULMContext* context = inRequest.context;
    ULMContext* blend = ULMContext::Create();
    if (blend == nullptr) return nullptr;
    ULMStatus status = blend->SetClassifier(ULMClassifier::DirectRGBA(kULMField0, kULMField1, kULMField2, kULMField3));
    if (status == kULMOK) status = blend->SetBlendMode(CompositeMode(context->GetBlendMode(), inRequest.isMPR));
    if (status == kULMOK) status = blend->SetLastBlendMode(context->GetLastBlendMode());
    if (status == kULMOK)
        status = blend->SetRayTermination(context->GetRayTerminationThreshold(), context->GetRayTerminationEnabled());
    if (status == kULMOK)
        status = blend->SetImageOutputBuffer(inRequest.isMPR ? ULMContext::kImageBuffer0
                                                             : context->GetImageOutputBuffer());
    outStatus = status;
    return blend;
}

// ---- An MPR's mean alpha ----

ULMImageBuffer* ULMMultiboardVolumePhase2::MPRSumsImage(ULMLocation inBoard, const ULMImageBuffer* inOutput,
                                                        ULMStatus& outStatus) {
    ReleasablePointer<ULMImageBuffer> image(
        ULMImageBuffer::Create(inBoard, inOutput->GetWidth(), inOutput->GetHeight(), 32, 2, kULMMPRSumFields));
    outStatus = image == nullptr ? kULMErrAlloc : kULMOK;
    ULMAddressMode mode = kULMOffsetAddress;
    int x = 0, y = 0;
    inOutput->GetAddressParameters(mode, x, y);
    if (outStatus == kULMOK) outStatus = image->SetAddressParameters(mode, x, y);
    if (outStatus == kULMOK) outStatus = image->SetBorderValue(0, 0, 0, 0);
    if (outStatus == kULMOK) outStatus = image->SetInputLimits(ULMImageRange());
    if (outStatus != kULMOK) return nullptr;
    image->AddRef();
    return image.GetPointer();
}

namespace {

// Adds inWords (inFrom's pixels) into ioSums (inTo's), each field held to
// the chip's 12 bits as its own sums are.
void AddSums(const std::vector<uint32_t>& inWords, const ULMImageRange& inFrom, std::vector<uint32_t>& ioSums,
             const ULMImageRange& inTo) {
    constexpr uint32_t kMax12 = 4095;
    for (int y = 0; y < inFrom.YSize(); ++y)
        for (int x = 0; x < inFrom.XSize(); ++x) {
            const uint32_t add = inWords[static_cast<size_t>(y) * static_cast<size_t>(inFrom.XSize()) +
                                         static_cast<size_t>(x)];
            uint32_t& into = ioSums[static_cast<size_t>(y + inFrom.YOrigin() - inTo.YOrigin()) *
                                        static_cast<size_t>(inTo.XSize()) +
                                    static_cast<size_t>(x + inFrom.XOrigin() - inTo.XOrigin())];
            const uint32_t sum = std::min(kMax12, (into & kMax12) + (add & kMax12));
            const uint32_t count = std::min(kMax12, (into >> 12 & kMax12) + (add >> 12 & kMax12));
            into = sum | count << 12;
        }
}

}  // namespace

ULMSyncEvent ULMMultiboardVolumePhase2::RenderMPRSums(const RenderRequest& inRequest) {
    const OutputClip target = ClipOutput(inRequest);
    if (target.refused != kULMOK) return ULMSyncEvent(target.refused);
    if (target.clip.IsEmpty()) return NothingInView(target.output, target.clip);
    ULMStatus status = kULMOK;
    ReleasablePointer<ULMContext> clone(PartialContext(inRequest.context, status));
    if (status != kULMOK) return ULMSyncEvent(status);
    // Every brick renders at once; the sums are read once all have.
    ULMMPRSumsScope partSums;
    ReleasablePointer<ULMImageBuffer> partials[kMultiboardMaxBricks];
    ULMImageRange limits[kMultiboardMaxBricks], drawn;
    ULMEventJoin rendered;
    for (int i = 0; i < m_numSubVolumes; ++i) {
        partials[i].Assign(MPRSumsImage(m_subvolume[i].m_location, target.output, status));
        if (status != kULMOK) {
            rendered.Result().Wait(-1);
            return ULMSyncEvent(status);
        }
        ULMSyncEvent failure;
        if (!JoinBrickRender(i, inRequest, clone, partials[i], limits[i], rendered, drawn, failure)) return failure;
    }
    status = rendered.Result().Wait(-1);
    if (ULMFailed(status)) return ULMSyncEvent(status);
    const ULMImageRange area = CompositeArea(inRequest.context, target.clip, drawn);
    if (area.IsEmpty()) return NothingInView(target.output, ULMImageRange());
    std::vector<uint32_t> sums(static_cast<size_t>(area.XSize()) * static_cast<size_t>(area.YSize()), 0), words;
    for (int i = 0; i < m_numSubVolumes; ++i) {
        const ULMImageRange part = Intersect(limits[i], area);
        if (part.IsEmpty()) continue;
        words.resize(static_cast<size_t>(part.XSize()) * static_cast<size_t>(part.YSize()));
        status = partials[i]->StartUnload(words.data(), part, static_cast<unsigned>(part.XSize())).Wait(-1);
        if (ULMFailed(status)) return ULMSyncEvent(status);
        AddSums(words, part, sums, area);
    }
    if (inRequest.sumsSupersample != nullptr) {
        // Shrunk before their mean is taken: left in the output as added.
        *inRequest.sumsSupersample = partSums.zSupersample;
        status = target.output->Update(sums.data(), area, static_cast<unsigned>(area.XSize()));
        if (status == kULMOK) status = target.output->SetOutputLimits(area);
        return ULMSyncEvent(status);
    }
    std::vector<unsigned char> pixels;
    return ULMSyncEvent(ULMWriteMPRGrey(sums.data(), area, partSums.zSupersample, target.output, pixels));
}

// ---- On the host ----

// What a blend deferred behind the bricks' work holds: the frame, this
// render's until the output's load from it has run; what the blend reads of
// the output, as the output was when its content was unloaded; and a
// reference on the output, which the application may give up before it
// waits.
struct ULMMultiboardVolumePhase2::HostBlend {
    HostFrame* frame = nullptr;
    ReleasablePointer<ULMImageBuffer> output;
    ULMSoftwareBlendVolume::Image0State image0;
    int blendIndex[kMultiboardMaxBricks] = {};
    ULMImageRange ranges[kMultiboardMaxBricks];
    ULMImageRange frameRange;
    int nearest = 0;
    int bricks = 0;
    // An RGBA MPR's: see HostPlan.
    bool takeSamples = false;
    uint64_t noSample = 0;
    // The blend recorded on the output before this one, still to run: its
    // write goes first.
    ULMSyncEvent previousWriter{kULMOK};
};

ULMSyncEvent ULMMultiboardVolumePhase2::StartSoftwareRender(const RenderRequest& inRequest) {
    const ULMContext* context = inRequest.context;
    const OutputClip target = ClipOutput(inRequest);
    if (target.refused != kULMOK) return ULMSyncEvent(target.refused);
    if (target.clip.IsEmpty()) return NothingInView(target.output, target.clip);
    HostPlan plan;
    ULMStatus status = PlanHostRender(inRequest, target, plan);
    if (status != kULMOK) return ULMSyncEvent(status);
    HostFrame* buffers = nullptr;
    status = PrepareHostBlend(plan, target.clip, buffers);
    if (status != kULMOK) return ULMSyncEvent(status);

    ReleasablePointer<ULMContext> clone(PartialContext(context, status));
    if (status != kULMOK) return ULMSyncEvent(status);
    ULMImageRange ranges[kMultiboardMaxBricks];
    ULMImageRange drawn;
    ULMEventJoin rendered;
    const ULMSyncEvent partials =
        RenderPartialsForHost(inRequest, target, plan, clone, rendered, ranges, drawn);
    if (ULMFailed(partials.Status())) return partials;
    const ULMImageRange frame = CompositeArea(context, target.clip, drawn);
    if (frame.IsEmpty()) return NothingInView(target.output, ULMImageRange());
    for (int i = 0; i < m_numSubVolumes; ++i) ranges[i] = Intersect(ranges[i], frame);
    std::shared_ptr<HostBlend> blend(new (std::nothrow) HostBlend());
    if (blend == nullptr) return ULMSyncEvent(kULMErrAlloc);
    // The blend reads the output as the unload of its content below does.
    blend->image0 = ULMSoftwareBlendVolume::StateOf(target.output);
    // The brick nearest the viewer holds the frame; the others their own
    // rectangles, packed.
    const int nearest = m_blendIndex[0];
    ULMSyncEvent inputs;
    status = GatherPartials(target.output, plan, *buffers, frame, nearest, ranges, rendered, inputs);
    if (ULMFailed(status)) return ULMSyncEvent(status);

    ULMSoftwareBlendVolume& blender = buffers->blend;
    blender.m_maxImageRange = frame;
    blender.m_blendMode = CompositeMode(context->GetBlendMode(), inRequest.isMPR);
    blender.m_LastBlendMode = context->GetLastBlendMode();
    blend->frame = buffers;
    target.output->AddRef();
    blend->output.Assign(target.output);
    std::copy(m_softwBlendIndex, m_softwBlendIndex + kMultiboardMaxBricks, blend->blendIndex);
    std::copy(ranges, ranges + kMultiboardMaxBricks, blend->ranges);
    blend->frameRange = frame;
    blend->nearest = nearest;
    blend->bricks = m_numSubVolumes;
    blend->takeSamples = plan.takeSamples;
    blend->noSample = plan.noSample;
    KWBBuffer* written = target.board->GetBuffer();
    blend->previousWriter = written->GetDeferredWriter();
    // No thread of the library's waits for the bricks: the blend runs on the
    // caller's thread that first waits for the render or uses the output
    // next.
    const ULMSyncEvent blended = DeferHostStep(
        inputs, [blend](ULMStatus inInputs) { return BlendOnHost(*blend, inInputs); }, blend->previousWriter);
    buffers->lastUse = blended;
    if (IsDeferredEvent(SyncEventWord(blended))) written->SetDeferredWriter(blended);
    if (!ULMFailed(blended.Status())) RecordOutputLimits(target.output, frame);
    return blended;
}

ULMStatus ULMMultiboardVolumePhase2::PlanHostRender(const RenderRequest& inRequest, const OutputClip& inTarget,
                                                    HostPlan& outPlan) {
    const ULMImageBuffer* output = inTarget.output;
    for (int k = 0; k < 4; ++k) outPlan.outputFields[k] = output->GetFieldDescriptor(static_cast<ULMChannel>(k));
    outPlan.outputBits = static_cast<int>(output->GetPixelSize());
    outPlan.takeSamples = inRequest.isMPR;
    if (outPlan.takeSamples) {
        // Each partial pixel is taken whole, as the chip wrote it.
        outPlan.transferFields = outPlan.outputFields;
        outPlan.transferBits = outPlan.outputBits;
        output->GetBorderValue(outPlan.border[0], outPlan.border[1], outPlan.border[2], outPlan.border[3]);
        outPlan.noSample = ChipBorderWord(output);
        outPlan.startRange = Intersect(output->GetInputLimits(), inTarget.clip);
        if (outPlan.startRange.IsEmpty()) return kULMOK;
        const size_t pixels =
            static_cast<size_t>(outPlan.startRange.XSize()) * static_cast<size_t>(outPlan.startRange.YSize());
        outPlan.start.resize(pixels * static_cast<size_t>(outPlan.outputBits / 8));
        return output->Unload(outPlan.start.data(), outPlan.startRange, 0);
    }
    // A minimum or a maximum takes one sample's colour where keys tie, and
    // keys rounded to 8 bits tie where the chip's 12 bits do not: the
    // partial images keep all 12, so that each pixel is the sample one
    // board takes.
    const bool eightBit = ULMSoftwareBlendVolume::IsEightBitRGBA(outPlan.outputFields) &&
                          !ULMIsExtremeBlend(inRequest.context->GetBlendMode());
    outPlan.transferFields =
        eightBit ? ULMSoftwareBlendVolume::kTransferFields8 : ULMSoftwareBlendVolume::kTransferFields12;
    outPlan.transferBits = eightBit ? 32 : 64;
    PartialBorder(inRequest.context, output, outPlan.border);
    return kULMOK;
}

ULMStatus ULMMultiboardVolumePhase2::PrepareHostBlend(const HostPlan& inPlan, const ULMImageRange& inClip,
                                                      HostFrame*& outFrame) {
    const size_t pixels = static_cast<size_t>(inClip.XSize()) * static_cast<size_t>(inClip.YSize());
    ULMStatus status = kULMOK;
    outFrame = TakeHostFrame(pixels * static_cast<size_t>(std::max(inPlan.transferBits, inPlan.outputBits) / 8),
                             m_numSubVolumes, false, status);
    if (outFrame == nullptr) return status;
    // The volume's blender keeps the partial images in the transfer layout;
    // the frame's blends them.
    for (ULMSoftwareBlendVolume* blend : {&m_softwBlendVolume, &outFrame->blend}) {
        blend->SetVoxelSizeImage0(inPlan.outputBits);
        blend->SetVoxelSizeImage1(0);
        blend->SetVoxelSizeTransferBuffer(inPlan.transferBits);
        blend->SetVoxelSizeOutputBuffer(inPlan.outputBits);
        blend->SetNumOfSubvolumes(m_numSubVolumes);
        blend->SetFieldDescriptorsImage0(inPlan.outputFields);
        blend->SetFieldDescriptorsImage1(nullptr);
        blend->SetFieldDescriptorsTransferBuffers(inPlan.transferFields);
    }
    return status;
}

ULMSyncEvent ULMMultiboardVolumePhase2::RenderPartialsForHost(const RenderRequest& inRequest,
                                                              const OutputClip& inTarget,
                                                              const HostPlan& inPlan, ULMContext* ioClone,
                                                              ULMEventJoin& ioRendered,
                                                              ULMImageRange (&outRanges)[kMultiboardMaxBricks],
                                                              ULMImageRange& outDrawn) {
    ULMSoftwareBlendVolume& blend = m_softwBlendVolume;
    const ULMImageBuffer* output = inTarget.output;
    const ULMImageRange& clip = inTarget.clip;
    const double* border = inPlan.border;
    for (int i = 0; i < m_numSubVolumes; ++i) {
        const SubvolumeInfo& brick = m_subvolume[i];
        ULMStatus status = blend.UpdateSubBuffers(brick.m_location, static_cast<int>(output->GetWidth()),
                                                  static_cast<int>(output->GetHeight()), i);
        ULMImageBuffer* partial = blend.m_subbuffer[i];
        if (status == kULMOK) status = partial->SetAddressParameters(kULMOffsetAddress, clip.XOrigin() & ~1,
                                                                     clip.YOrigin() & ~1);
        if (status == kULMOK) status = partial->SetBorderValue(border[0], border[1], border[2], border[3]);
        const ULMImageRange& start = inPlan.startRange;
        if (status == kULMOK && !start.IsEmpty()) status = partial->Update(inPlan.start.data(), start, 0);
        if (status == kULMOK) status = partial->SetInputLimits(start);
        if (status != kULMOK) {
            ioRendered.Result().Wait(-1);
            return ULMSyncEvent(status);
        }
        ULMSyncEvent failure;
        if (!JoinBrickRender(i, inRequest, ioClone, partial, outRanges[i], ioRendered, outDrawn, failure))
            return failure;
    }
    return ULMSyncEvent(kULMOK);
}

ULMStatus ULMMultiboardVolumePhase2::GatherPartials(ULMImageBuffer* ioOutput, const HostPlan& inPlan,
                                                    HostFrame& ioBuffers, const ULMImageRange& inFrame, int inNearest,
                                                    const ULMImageRange (&inRanges)[kMultiboardMaxBricks],
                                                    const ULMEventJoin& inRendered, ULMSyncEvent& outDone) {
    const size_t transferBytes = static_cast<size_t>(inPlan.transferBits / 8);
    const size_t frameRow = static_cast<size_t>(inFrame.XSize());
    std::memset(ioBuffers.transfer[inNearest].get(), 0,
                frameRow * static_cast<size_t>(inFrame.YSize()) * transferBytes);
    ULMStatus status = kULMOK;
    ULMEventJoin unloaded;
    unloaded.Add(inRendered.Result());
    for (int i = 0; i < m_numSubVolumes && status == kULMOK; ++i) {
        if (inRanges[i].IsEmpty()) continue;
        char* at = ioBuffers.transfer[i].get();
        unsigned row = static_cast<unsigned>(inRanges[i].XSize());
        if (i == inNearest) {
            at += ((static_cast<size_t>(inRanges[i].YOrigin() - inFrame.YOrigin())) * frameRow +
                   static_cast<size_t>(inRanges[i].XOrigin() - inFrame.XOrigin())) *
                  transferBytes;
            row = static_cast<unsigned>(frameRow);
        }
        const ULMSyncEvent event = m_softwBlendVolume.m_subbuffer[i]->StartUnload(at, inRanges[i], row);
        status = event.Status();
        if (!ULMFailed(status)) unloaded.Add(event), status = kULMOK;
    }
    // What the output held is read where its input limits say so.
    const ULMImageRange input = Intersect(ioOutput->GetInputLimits(), inFrame);
    if (status == kULMOK && !input.IsEmpty()) {
        const size_t outputBytes = static_cast<size_t>(inPlan.outputBits / 8);
        char* at = ioBuffers.accum.get() + ((static_cast<size_t>(input.YOrigin() - inFrame.YOrigin())) * frameRow +
                                          static_cast<size_t>(input.XOrigin() - inFrame.XOrigin())) *
                                             outputBytes;
        const ULMSyncEvent event = ioOutput->StartUnload(at, input, static_cast<unsigned>(frameRow));
        status = event.Status();
        if (!ULMFailed(status)) unloaded.Add(event), status = kULMOK;
    }
    outDone = unloaded.Result();
    ioBuffers.lastUse = outDone;
    return ULMFailed(status) ? status : kULMOK;
}

ULMSyncEvent ULMMultiboardVolumePhase2::BlendOnHost(HostBlend& ioBlend, ULMStatus inInputs) {
    // An earlier write into the output still to come has run: the step
    // was deferred behind it too.
    if (ULMFailed(inInputs)) return ULMSyncEvent(inInputs);
    HostFrame& buffers = *ioBlend.frame;
    const ULMImageRange& frame = ioBlend.frameRange;
    if (ioBlend.takeSamples) {
        TakeSamples(ioBlend);
        return ioBlend.output->StartUpdate(buffers.accum.get(), frame, static_cast<unsigned>(frame.XSize()));
    }
    char* transfers[kMultiboardMaxBricks];
    for (int i = 0; i < kMultiboardMaxBricks; ++i) transfers[i] = buffers.transfer[i].get();
    const ULMStatus status =
        buffers.blend.StartBlend(&ioBlend.image0, ioBlend.blendIndex, ioBlend.ranges, buffers.accum.get(), transfers);
    if (status != kULMOK) return ULMSyncEvent(status);
    const char* result = buffers.blend.ResultInFirstTransferBuffer(ioBlend.output)
                             ? buffers.transfer[ioBlend.nearest].get()
                             : buffers.accum.get();
    return ioBlend.output->StartUpdate(result, frame, static_cast<unsigned>(frame.XSize()));
}

void ULMMultiboardVolumePhase2::TakeSamples(const HostBlend& inBlend) {
    const HostFrame& buffers = *inBlend.frame;
    const ULMImageRange& frame = inBlend.frameRange;
    const size_t bytes = inBlend.image0.pixelSize / 8;
    // Within the output's input limits a pixel starts from what it held,
    // which the gather unloaded into accum.
    const ULMImageRange held = Intersect(inBlend.image0.inputLimits, frame);
    int byPosition[kMultiboardMaxBricks];
    for (int i = 0; i < inBlend.bricks; ++i) byPosition[inBlend.blendIndex[i]] = i;
    const auto inside = [](const ULMImageRange& inRange, int inX, int inY) {
        return !inRange.IsEmpty() && inX >= inRange.XOrigin() && inY >= inRange.YOrigin() &&
               inX - inRange.XOrigin() < inRange.XSize() && inY - inRange.YOrigin() < inRange.YSize();
    };
    const auto read = [bytes](const char* inBuffer, size_t inIndex) {
        uint64_t word = 0;
        std::memcpy(&word, inBuffer + inIndex * bytes, bytes);
        return word;
    };
    size_t at = 0;
    for (int y = frame.YOrigin(); y < frame.YOrigin() + frame.YSize(); ++y) {
        for (int x = frame.XOrigin(); x < frame.XOrigin() + frame.XSize(); ++x, ++at) {
            const uint64_t start = inside(held, x, y) ? read(buffers.accum.get(), at) : inBlend.noSample;
            uint64_t pixel = start;
            for (int p = 0; p < inBlend.bricks && pixel == start; ++p) {
                const int i = byPosition[p];
                const ULMImageRange& range = inBlend.ranges[i];
                if (!inside(range, x, y)) continue;
                // The nearest brick's buffer holds the frame, the others their rectangles.
                const size_t index = i == inBlend.nearest ? at
                                                          : static_cast<size_t>(y - range.YOrigin()) *
                                                                    static_cast<size_t>(range.XSize()) +
                                                                static_cast<size_t>(x - range.XOrigin());
                pixel = read(buffers.transfer[i].get(), index);
            }
            std::memcpy(buffers.accum.get() + at * bytes, &pixel, bytes);
        }
    }
}

}  // namespace ulm3
