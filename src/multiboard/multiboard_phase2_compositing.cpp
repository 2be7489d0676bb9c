// The two ways the bricks' partial images become one: on a board, as the
// slices of a small volume rendered straight through; on the host, blended
// pixel by pixel. Either way every brick first renders its share of the
// view, on its own board, into an image of its own.
#include <algorithm>
#include <cstring>

#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "board/kwb_range.h"
#include "buffers/image_buffer_internal.h"
#include "buffers/omni_depth_buffer.h"
#include "foundation/context_readers.h"
#include "foundation/control.h"
#include "foundation/field_conversions.h"
#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "multiboard/multiboard_volume_phase2.h"
#include "ulm3/camera.h"

namespace ulm3 {

namespace {

bool IsMinMode(ULMBlendMode inMode) { return inMode >= kULMBlendMinRed && inMode <= kULMBlendMinAlpha; }

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

uint64_t PackBorder(const double (&inBorder)[4], const ULMFieldDescriptor (&inFields)[4], int inBits) {
    uint64_t value = 0;
    for (int k = 0; k < 4; ++k)
        if (inFields[k].m_format != kULMUnknownFormat) value |= ConvertDoubleToField(inBorder[k], inFields[k], inBits);
    return value;
}

// The context each brick renders with: the caller's, drawing only the
// brick's footprint into its image 0.
ULMContext* PartialContext(const ULMContext* inContext, ULMStatus& outStatus) {
    ULMContext* clone = CloneContext(inContext);
    outStatus = clone == nullptr ? kULMErrAlloc : clone->SetRenderArea(ULMContext::kVolume);
    if (outStatus == kULMOK) outStatus = clone->SetImageOutputBuffer(ULMContext::kImageBuffer0);
    return clone;
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

// ---- On a board ----

ULMSyncEvent ULMMultiboardVolumePhase2::StartHardwareRender(const RenderRequest& inRequest, bool& outTryHost) {
    outTryHost = false;
    const ULMContext* context = inRequest.context;
    const int out = inRequest.isMPR ? 0 : context->GetImageOutputBuffer() == ULMContext::kImageBuffer1 ? 1 : 0;
    ULMImageBuffer* output = inRequest.buffers.color[out];
    ULMImageBufferInternal* outputBoard = inRequest.buffers.board[out];
    ULMFieldDescriptor layout[4];
    int bits = 0;
    if (!StackLayout(outputBoard, layout, bits)) {
        if (gULMControl.m_multiboard2ForceRender == 1) return ULMSyncEvent(kULMErrUnimplemented);
        outTryHost = true;
        return ULMSyncEvent(kULMErrUnimplemented);
    }
    const ULMImageRange viewport = ViewportRange(context, outputBoard);
    const ULMImageRange clip = Intersect(AddressedRange(outputBoard), viewport);
    if (clip.IsEmpty()) {
        output->SetOutputLimits(clip);
        return ULMSyncEvent(kULMErrEmptyRender);
    }
    // The stack's planes start on an even pixel, as board offsets must; the
    // composite is held to the clip all the same.
    ULMImageRange stackRange = clip;
    for (int a = 0; a < 2; ++a)
        if (stackRange.m_origin[a] % 2 != 0) --stackRange.m_origin[a], ++stackRange.m_size[a];

    const int n = m_numSubVolumes;
    const int first = m_blendIndex[0];
    ULM_ASSERT_TEXT(first < n, "slice0 < m_numSubVolumes");
    const ULMLocation board = m_subvolume[first].m_location;
    m_blendVolume->SetBufferNumber(first);
    m_blendVolume->SetVoxelSize(bits);
    m_blendVolume->SetNumOfSubvolumes(n);
    ULMStatus status = m_blendVolume->SetFieldDescriptors(layout);
    if (status == kULMOK) status = m_blendVolume->Resize(stackRange);
    if (status != kULMOK) return ULMSyncEvent(status);

    for (int b = 0; b < 2; ++b) {
        if (inRequest.buffers.board[b] == nullptr) continue;
        status = inRequest.buffers.board[b]->StartMigrate(board).Status();
        if (ULMFailed(status)) return ULMSyncEvent(status);
    }
    // Each brick draws its footprint only; what lies around it in the stack
    // is the cleared border, which composites to nothing.
    ReleasablePointer<ULMContext> clone(PartialContext(context, status));
    if (status != kULMOK) return ULMSyncEvent(status);

    double border[4];
    PartialBorder(context, inRequest.buffers.color[0], border);
    ULMImageBufferInternal* stack = m_blendVolume->GetBuffer(first);
    KWBBoard* stackBoard = KWBBoard::GetBoard(static_cast<int>(stack->GetLocation()));
    if (stackBoard == nullptr) return ULMSyncEvent(kULMErrBuffer);
    // Old pixels of an earlier frame must not show: every plane the
    // composite reads (one a brick; those past them it never reads) is
    // cleared before any brick draws.
    for (int i = 0; i < n; ++i) {
        status = m_blendVolume->GetBuffer(i)->SetOffset(stackRange.XOrigin(), stackRange.YOrigin());
        if (status != kULMOK) return ULMSyncEvent(status);
    }
    const uint64_t clearValue = inRequest.buffers.color[0] == nullptr && IsMinMode(context->GetBlendMode())
                                    ? ~uint64_t{0} >> (64 - bits)
                                    : PackBorder(border, layout, bits);
    ULMImageRange stackPlane = stackRange;
    KWBRange cleared = BoardBox(stackPlane, 0);
    cleared.maxW = static_cast<int16_t>(n - 1);
    ULMEventJoin work;
    const ULMSyncEvent clearing = stackBoard->StartClearBuffer(stack->GetBuffer(), clearValue, cleared);
    if (ULMFailed(clearing.Status())) return clearing;
    work.Add(clearing);

    ULMImageRange limits[kMultiboardMaxBricks];
    ULMImageRange drawn;
    for (int i = 0; i < n; ++i) {
        ULMImageBufferInternal* partial = m_blendVolume->GetBuffer(i);
        ULM_ASSERT_TEXT(partial->GetLocation() == m_subvolume[i].m_location,
                        "location == pTmp3DSubVolumeBuffer->GetLocation()");
        partial->SetBorderValue(border[0], border[1], border[2], border[3]);
        partial->SetInputLimits(ULMImageRange());
        const ULMSyncEvent event = RenderBrick(i, inRequest, clone, partial);
        const ULMStatus rendered = event.Status();
        limits[i] = partial->GetOutputLimits();
        const bool nothing = rendered == kULMErrEmptyRender || (rendered == kULMErrArgument && limits[i].IsEmpty());
        if (nothing) {
            limits[i] = ULMImageRange();
            continue;
        }
        if (ULMFailed(rendered)) {
            work.Result().Wait(-1);
            return event;
        }
        work.Add(event);
        Grow(drawn, limits[i]);
    }
    for (int i = 0; i < n; ++i) {
        if (i == first || limits[i].IsEmpty()) continue;
        ULMImageBufferInternal* partial = m_blendVolume->GetBuffer(i);
        const ULMSyncEvent copied =
            KWBBoard::GetBoard(static_cast<int>(partial->GetLocation()))->StartCopyBuffer(partial->GetBuffer(), stack->GetBuffer(), BoardBox(limits[i], 0),
                                                    BoardBox(limits[i], m_softwBlendIndex[i]));
        if (ULMFailed(copied.Status())) {
            work.Result().Wait(-1);
            return copied;
        }
        work.Add(copied);
    }
    // The stack volume reads the board memory through a buffer of its own,
    // which knows nothing of the renders and copies into the stack.
    status = work.Result().Wait(-1);
    if (ULMFailed(status)) return ULMSyncEvent(status);

    ReleasablePointer<ULMContext> blend(ULMContext::Create());
    if (blend == nullptr) return ULMSyncEvent(kULMErrAlloc);
    status = blend->SetClassifier(ULMClassifier::DirectRGBA(kULMField0, kULMField1, kULMField2, kULMField3));
    if (status == kULMOK) status = blend->SetBlendMode(CompositeMode(context->GetBlendMode(), inRequest.isMPR));
    if (status == kULMOK) status = blend->SetLastBlendMode(context->GetLastBlendMode());
    if (status == kULMOK)
        status = blend->SetRayTermination(context->GetRayTerminationThreshold(), context->GetRayTerminationEnabled());
    if (status == kULMOK)
        status = blend->SetImageOutputBuffer(inRequest.isMPR ? ULMContext::kImageBuffer0
                                                             : context->GetImageOutputBuffer());
    // The composite covers what the context's render area asks for: the
    // clip, or what the bricks drew.
    const ULMImageRange area =
        context->GetRenderArea() == ULMContext::kViewport ? clip : Intersect(drawn, clip);
    if (area.IsEmpty()) {
        output->SetOutputLimits(ULMImageRange());
        return ULMSyncEvent(kULMErrEmptyRender);
    }
    if (status == kULMOK && area != stackRange) {
        const double x0 = area.XOrigin() - stackRange.XOrigin(), y0 = area.YOrigin() - stackRange.YOrigin();
        status = blend->SetTrimPlanes(x0 - 0.5, x0 + area.XSize() - 0.5 - 1.0 / 256, y0 - 0.5,
                                      y0 + area.YSize() - 0.5 - 1.0 / 256, -0.5, n - 0.5);
    }
    if (status != kULMOK) return ULMSyncEvent(status);

    double kept[4] = {0, 0, 0, 0};
    ULMImageBufferInternal* image0 = inRequest.buffers.board[0];
    if (inRequest.isMPR && image0 != nullptr) {
        image0->GetBorderValue(kept[0], kept[1], kept[2], kept[3]);
        image0->SetBorderValue(0, 0, 0, 0);
    }
    const ULMSyncEvent blended = m_blendVolume->Render(blend, image0, inRequest.buffers.board[1]);
    if (inRequest.isMPR && image0 != nullptr) image0->SetBorderValue(kept[0], kept[1], kept[2], kept[3]);
    if (!ULMFailed(blended.Status())) output->SetOutputLimits(area);
    return blended;
}

// ---- On the host ----

ULMSyncEvent ULMMultiboardVolumePhase2::StartSoftwareRender(const RenderRequest& inRequest) {
    const ULMContext* context = inRequest.context;
    const int out = inRequest.isMPR ? 0 : context->GetImageOutputBuffer() == ULMContext::kImageBuffer1 ? 1 : 0;
    ULMImageBuffer* output = inRequest.buffers.color[out];
    ULMImageBufferInternal* outputBoard = inRequest.buffers.board[out];
    ULMFieldDescriptor outputFields[4];
    for (int k = 0; k < 4; ++k) outputFields[k] = output->GetFieldDescriptor(static_cast<ULMChannel>(k));
    const bool eightBit = ULMSoftwareBlendVolume::IsEightBitRGBA(outputFields);
    const ULMFieldDescriptor* transferFields =
        eightBit ? ULMSoftwareBlendVolume::kTransferFields8 : ULMSoftwareBlendVolume::kTransferFields12;
    const int transferBits = eightBit ? 32 : 64;
    const int outputBits = static_cast<int>(output->GetPixelSize());
    const ULMImageRange viewport = ViewportRange(context, outputBoard);
    const ULMImageRange clip = Intersect(AddressedRange(outputBoard), viewport);
    if (clip.IsEmpty()) {
        output->SetOutputLimits(clip);
        return ULMSyncEvent(kULMErrEmptyRender);
    }
    const int n = m_numSubVolumes;
    ULMSoftwareBlendVolume& blend = m_softwBlendVolume;
    blend.SetVoxelSizeImage0(outputBits);
    blend.SetVoxelSizeImage1(0);
    blend.SetVoxelSizeTransferBuffer(transferBits);
    blend.SetVoxelSizeOutputBuffer(outputBits);
    blend.SetNumOfSubvolumes(n);
    blend.SetFieldDescriptorsImage0(outputFields);
    blend.SetFieldDescriptorsImage1(nullptr);
    blend.SetFieldDescriptorsTransferBuffers(transferFields);
    const size_t pixels = static_cast<size_t>(clip.XSize()) * static_cast<size_t>(clip.YSize());
    ULMStatus status = ResizeBuffers(pixels * static_cast<size_t>(std::max(transferBits, outputBits) / 8));
    if (status != kULMOK) return ULMSyncEvent(status);

    ReleasablePointer<ULMContext> clone(PartialContext(context, status));
    if (status != kULMOK) return ULMSyncEvent(status);
    double border[4];
    PartialBorder(context, output, border);

    ULMImageRange ranges[kMultiboardMaxBricks];
    ULMImageRange drawn;
    ULMEventJoin rendered;
    for (int i = 0; i < n; ++i) {
        const SubvolumeInfo& brick = m_subvolume[i];
        status = blend.UpdateSubBuffers(brick.m_location, static_cast<int>(output->GetWidth()),
                                        static_cast<int>(output->GetHeight()), i);
        ULMImageBuffer* partial = blend.m_subbuffer[i];
        if (status == kULMOK) status = partial->SetAddressParameters(kULMOffsetAddress, clip.XOrigin() & ~1,
                                                                     clip.YOrigin() & ~1);
        if (status == kULMOK) status = partial->SetBorderValue(border[0], border[1], border[2], border[3]);
        if (status == kULMOK) status = partial->SetInputLimits(ULMImageRange());
        if (status != kULMOK) {
            rendered.Result().Wait(-1);
            return ULMSyncEvent(status);
        }
        const ULMSyncEvent event = RenderBrick(i, inRequest, clone, partial);
        ranges[i] = partial->GetOutputLimits();
        // A brick with nothing in view adds nothing.
        if (event.Status() == kULMErrEmptyRender ||
            (event.Status() == kULMErrArgument && ranges[i].IsEmpty())) {
            ranges[i] = ULMImageRange();
            continue;
        }
        if (ULMFailed(event.Status())) {
            rendered.Result().Wait(-1);
            return event;
        }
        rendered.Add(event);
        Grow(drawn, ranges[i]);
    }
    const ULMImageRange frame = context->GetRenderArea() == ULMContext::kViewport ? clip : Intersect(drawn, clip);
    if (frame.IsEmpty()) {
        output->SetOutputLimits(ULMImageRange());
        return ULMSyncEvent(kULMErrEmptyRender);
    }
    blend.m_maxImageRange = frame;
    for (int i = 0; i < n; ++i) ranges[i] = Intersect(ranges[i], frame);

    // The brick nearest the viewer holds the frame; the others their own
    // rectangles, packed.
    const int nearest = m_blendIndex[0];
    const size_t transferBytes = static_cast<size_t>(transferBits / 8);
    const size_t frameRow = static_cast<size_t>(frame.XSize());
    std::memset(m_transferBuffer[nearest].get(), 0, frameRow * static_cast<size_t>(frame.YSize()) * transferBytes);
    ULMEventJoin unloaded;
    for (int i = 0; i < n && status == kULMOK; ++i) {
        if (ranges[i].IsEmpty()) continue;
        char* at = m_transferBuffer[i].get();
        unsigned row = static_cast<unsigned>(ranges[i].XSize());
        if (i == nearest) {
            at += ((static_cast<size_t>(ranges[i].YOrigin() - frame.YOrigin())) * frameRow +
                   static_cast<size_t>(ranges[i].XOrigin() - frame.XOrigin())) *
                  transferBytes;
            row = static_cast<unsigned>(frameRow);
        }
        const ULMSyncEvent event = blend.m_subbuffer[i]->StartUnload(at, ranges[i], row);
        status = event.Status();
        if (!ULMFailed(status)) unloaded.Add(event), status = kULMOK;
    }
    // What the output held is read where its input limits say so.
    const ULMImageRange input = Intersect(output->GetInputLimits(), frame);
    if (status == kULMOK && !input.IsEmpty()) {
        const size_t outputBytes = static_cast<size_t>(outputBits / 8);
        char* at = m_accumBuffer.get() + ((static_cast<size_t>(input.YOrigin() - frame.YOrigin())) * frameRow +
                                          static_cast<size_t>(input.XOrigin() - frame.XOrigin())) *
                                             outputBytes;
        const ULMSyncEvent event = output->StartUnload(at, input, static_cast<unsigned>(frameRow));
        status = event.Status();
        if (!ULMFailed(status)) unloaded.Add(event), status = kULMOK;
    }
    const ULMStatus waited = unloaded.Result().Wait(-1);
    const ULMStatus renders = rendered.Result().Wait(-1);
    if (ULMFailed(status)) return ULMSyncEvent(status);
    if (ULMFailed(waited)) return ULMSyncEvent(waited);
    if (ULMFailed(renders)) return ULMSyncEvent(renders);

    blend.m_blendMode = CompositeMode(context->GetBlendMode(), inRequest.isMPR);
    blend.m_LastBlendMode = context->GetLastBlendMode();
    char* transfers[kMultiboardMaxBricks];
    for (int i = 0; i < kMultiboardMaxBricks; ++i) transfers[i] = m_transferBuffer[i].get();
    status = blend.StartBlend(output, nullptr, m_softwBlendIndex, ranges, m_accumBuffer.get(), transfers);
    if (status != kULMOK) return ULMSyncEvent(status);
    const char* result = blend.ResultInFirstTransferBuffer(output) ? m_transferBuffer[nearest].get() : m_accumBuffer.get();
    const ULMSyncEvent written = output->StartUpdate(result, frame, static_cast<unsigned>(frameRow));
    if (!ULMFailed(written.Status())) output->SetOutputLimits(frame);
    return written;
}

}  // namespace ulm3
