// Render-and-warp: a volume rendered on its own unrotated unit grid into a
// temporary board image, and the board pass that warps that image into the
// caller's view. Neither pass is waited for; the temporary is released once
// both are queued, and the board keeps its buffer for them.
#include "board/kwb_board.h"
#include "buffers/image_buffer_internal.h"
#include "context/render_context.h"
#include "foundation/context_readers.h"
#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "render/light_map_events.h"
#include "render/volume_render.h"
#include "render/volume_render_state.h"
#include "resample/render_and_warp.h"
#include "resample/image_resample_3d.h"
#include "tulx7/chip_codes.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

constexpr const char* kWriteFailure = "R&R: WriteRegister %s failed: %s (%d)\n";
constexpr int kMinGridSide = 10;
constexpr uint32_t kBlendMask = 0x3F;
constexpr uint32_t kSectionMask = 0xF;


// The terms of the last object grid's warp, taken under the render lock.
struct PostWarp {
    unsigned int transform = 0;
    long long origin[3] = {};
    long long dXdXs = 0, dXdYs = 0, dXdZs = 0, dYdXs = 0, dYdYs = 0, dYdZs = 0, dZdZs = 0, dXdZv = 0, dYdZv = 0;
    unsigned char section[2] = {};
};

PostWarp PostWarpOf(const ULMSampleSpace& inSpace) {
    PostWarp w;
    inSpace.ComputePostWarpRegisters(w.transform, w.origin[0], w.origin[1], w.origin[2], w.dXdXs, w.dXdYs, w.dXdZs,
                                     w.dYdXs, w.dYdYs, w.dYdZs, w.dZdZs, w.dXdZv, w.dYdZv, w.section);
    return w;
}

// The one board image behind an image, or null for bands and host images.
const ULMImageBufferInternal* BoardImageOf(const ULMImageBuffer* inImage) {
    const ULMImageBufferInternal* image = GetImageBufferInternal(const_cast<ULMImageBuffer*>(inImage));
    if (image == nullptr || image->GetLocation() < kULMBoard0 || image->GetLocation() > kULMBoard7) return nullptr;
    return image;
}

// The pass writes into board images only, all on one open board.
ULMStatus CheckWarpImages(const ULMContext* inContext, ULMImageBuffer* inColor0, ULMImageBuffer* inColor1,
                          const ULMImageBuffer* inSource, ULMLocation& outBoard) {
    if (inContext == nullptr || GetOutputImageBuffer(inContext, inColor0, inColor1) == nullptr)
        return kULMErrArgument;
    const ULMImageBuffer* const images[3] = {inSource, inColor0, inColor1};
    outBoard = kULMAnyBoard;
    for (const ULMImageBuffer* image : images) {
        if (image == nullptr) continue;
        if (BoardImageOf(image) == nullptr) return kULMErrArgument;
        if (outBoard == kULMAnyBoard) outBoard = BoardImageOf(image)->GetLocation();
    }
    if (KWBBoard::GetBoard(outBoard) == nullptr) return kULMErrArgument;
    // The chip reads and writes its own board's memory only.
    for (const ULMImageBuffer* image : images)
        if (image != nullptr && BoardImageOf(image)->GetLocation() != outBoard) return kULMErrBuffer;
    return kULMOK;
}

// The plain modes would weigh the rendered, pre-weighted colours by alpha
// once more.
uint32_t WarpBlend(ULMBlendMode inMode) {
    if (inMode == kULMBlendBTF) return kULMBlendBTFPreWeighted;
    if (inMode == kULMBlendFTB || inMode == kULMBlendSumAndCount) return kULMBlendFTBPreWeighted;
    return static_cast<uint32_t>(inMode);
}

ULMSyncEvent WarpPass(const PostWarp& inWarp, const ULMContext* inContext, ULMImageBuffer* ioColor0,
                      ULMImageBuffer* ioColor1, const ULMImageRange& inRange, const ULMImageBuffer* inSource,
                      const ULMImageRange& inSourceRange) {
    ULMLocation location = kULMAnyBoard;
    const ULMStatus refused = CheckWarpImages(inContext, ioColor0, ioColor1, inSource, location);
    if (refused != kULMOK) return ULMSyncEvent(refused);
    if (inSource != nullptr && (inSourceRange.XSize() <= 0 || inSourceRange.YSize() <= 0))
        return ULMSyncEvent(kULMErrArgument);
    KWBBuffer* source = nullptr;
    KWBBuffer* image0 = nullptr;
    KWBBuffer* image1 = nullptr;
    if (const ULMStatus missing = ULMPassBuffers(inSource, ioColor0, ioColor1, source, image0, image1);
        missing != kULMOK)
        return ULMSyncEvent(missing);

    // The viewport alone bounds the warp; the render area and inRange do not.
    ULMImageBuffer* output = GetOutputImageBuffer(inContext, ioColor0, ioColor1);
    const ULMCamera& camera = inContext->GetCamera();
    ULMImageRange frustum(camera.GetViewportWidth(), camera.GetViewportHeight(), camera.GetViewportOriginX(),
                          camera.GetViewportOriginY());
    const ULMImageRange whole = ULMImageBufferRange(*output);
    if (frustum.IsEmpty()) frustum = whole;
    if (output->GetAddressMode() == kULMOffsetAddress) frustum = Intersect(frustum, whole);
    // An empty frustum would wrap to the whole grid in the chip's unsigned
    // coordinates; there is nothing to write.
    if (frustum.IsEmpty()) return ULMSyncEvent(kULMOK);

    ULMImagePassValues v =
        ULMResamplePassValues(inContext, ioColor0, ioColor1, inRange, inSource, inSourceRange, frustum);
    v.transform = inWarp.transform;
    if (inSource != nullptr) {
        const int64_t left = inSourceRange.XOrigin(), top = inSourceRange.YOrigin();
        const int64_t bounds[4] = {left, left + inSourceRange.XSize() - 1, top, top + inSourceRange.YSize() - 1};
        for (int i = 0; i < 4; ++i) v.trims[i] = static_cast<uint32_t>(static_cast<int32_t>(bounds[i] * 256));
    }
    for (int i = 0; i < 3; ++i) v.origin[i] = inWarp.origin[i];
    v.step[0] = inWarp.dXdXs;
    v.step[1] = inWarp.dYdYs;
    v.step[2] = inWarp.dZdZs;
    const int64_t cross[6] = {inWarp.dXdZs, inWarp.dYdZs, inWarp.dYdZv, inWarp.dXdZv, inWarp.dYdXs, inWarp.dXdYs};
    for (int i = 0; i < 6; ++i) v.cross[i] = cross[i];
    v.section = NKW7_FIELD(Section, sizeX, inWarp.section[0] & kSectionMask) |
                NKW7_FIELD(Section, sizeY, inWarp.section[1] & kSectionMask);
    v.imageControl = (v.imageControl & ~NKW7_FIELD(ImageControl, blendAccum, kBlendMask)) |
                     NKW7_FIELD(ImageControl, blendAccum, WarpBlend(inContext->GetBlendMode()) & kBlendMask);

    KWBBoard* board = KWBBoard::GetBoard(location);
    ULMBoardPassBlock block(board->CreateCommandBuffer(ULMBoardPassBlock::kCommandWords), kWriteFailure);
    const ULMStatus opened = block.Open();
    if (opened != kULMOK) return ULMSyncEvent(opened);
    block.Write(ULMImagePassProgramme(v));
    block.Close();
    if (source != nullptr) ULMActivateWholeBuffer(*source);
    const bool toImage0 = inContext->GetImageOutputBuffer() == ULMContext::kImageBuffer0;
    return block.Submit(board, source, image0, image1, toImage0 ? kKWBWritesImage0 : kKWBWritesImage1);
}

// Renders the depth settings could narrow, sums, and nothing to write into
// have no warp.
bool CannotWarp(const ULMContext* inContext, ULMImageBuffer* inColor0, ULMImageBuffer* inColor1) {
    using C = ULMContext;
    const C::DepthCombineFunction combine = inContext->GetDepthCombineFunction();
    const bool testsPass = inContext->GetDepthTest(C::kDepthBuffer0) == C::kDepthTestPass &&
                           inContext->GetDepthTest(C::kDepthBuffer1) == C::kDepthTestPass;
    return combine == C::kDepthCombineXor || (combine != C::kDepthCombineAll && !testsPass) ||
           inContext->GetDepthUpdateFilter(C::kDepthBuffer0) != C::kAlwaysFail ||
           inContext->GetDepthUpdateFilter(C::kDepthBuffer1) != C::kAlwaysFail ||
           inContext->GetBlendMode() == kULMBlendSumAndCount ||
           GetOutputImageBuffer(inContext, inColor0, inColor1) == nullptr;
}

// An empty 32-bit board image of the grid's size, whose border is what the
// blend leaves where the render writes nothing.
ULMImageBufferInternal* MakeTemporary(ULMLocation inBoard, int inWidth, int inHeight, ULMBlendMode inMode) {
    ULMImageBufferInternal* image = ULMImageBufferInternal::Create3D(
        inBoard, static_cast<unsigned>(inWidth), static_cast<unsigned>(inHeight), 32, 4, kULMColourFields8, 0);
    if (image == nullptr) return nullptr;
    const double border = inMode >= kULMBlendMinRed && inMode <= kULMBlendMinAlpha ? 1.0 : 0.0;
    if (image->SetInputLimits(ULMImageRange()) != kULMOK ||
        image->SetBorderValue(border, border, border, border) != kULMOK) {
        image->Release();
        return nullptr;
    }
    return image;
}

}  // namespace

ULMSyncEvent ULMWarp3DImage(ULMVolumeInternal& ioVolume, const ULMContext* inContext, ULMImageBuffer* inOutColor0,
                            ULMImageBuffer* inOutColor1, const ULMImageRange& inRange, const ULMImageBuffer* inSource,
                            const ULMImageRange& inSourceRange) {
    PostWarp warp;
    {
        ULMVolumeRenderState& state = ULMRenderStateOf(ioVolume);
        ULMScopedLock lock(state.m_lock);
        warp = PostWarpOf(state.m_sampleSpace);
    }
    return WarpPass(warp, inContext, inOutColor0, inOutColor1, inRange, inSource, inSourceRange);
}

ULMSyncEvent ULMStartRenderAndWarp(ULMVolumeInternal& ioVolume, const ULMContext* inContext,
                                   ULMImageBuffer* inOutColor0, ULMDepthBuffer*, ULMImageBuffer* inOutColor1,
                                   ULMDepthBuffer*) {
    const ULMRenderContext renderContext(inContext);
    if (renderContext.Status() != kULMOK) return ULMSyncEvent(renderContext.Status());
    inContext = renderContext.Get();
    if (CannotWarp(inContext, inOutColor0, inOutColor1)) return ULMSyncEvent(kULMErrCantSubsample);
    ULMImageBuffer* output = GetOutputImageBuffer(inContext, inOutColor0, inOutColor1);
    for (const ULMImageBuffer* image : {inOutColor0, inOutColor1})
        if (image != nullptr && BoardImageOf(image) == nullptr) return ULMSyncEvent(kULMErrArgument);

    ULMLightMapNotices notices;
    ULMSyncEvent rendered(kULMOK);
    PostWarp warp;
    ULMImageRange footprint, grid;
    ReleasablePointer<ULMImageBuffer> temporary;
    {
        // The application's buffer calls wait until the render is queued.
        ULMVolumeBoardCopy& copy = ioVolume.BoardCopy();
        ULMRecursiveLock bufferHold(copy.Lock());
        const ULMStatus access = ioVolume.AddAccess(kULMAccessReadShared);
        if (access != kULMOK) return ULMSyncEvent(access);
        ULMVolumeRenderState& state = ULMRenderStateOf(ioVolume);
        ULMScopedLock lock(state.m_lock);
        // Let go in reverse, however the render below ends.
        struct Held {
            ULMVolumeInternal& volume;
            bool prepared = false;
            ~Held() {
                if (prepared) volume.BoardCopy().Finish();
                volume.ReleaseAccess();
            }
        } held{ioVolume};
        ULMStatus status = copy.Prepare(BoardImageOf(output)->GetLocation());
        held.prepared = status == kULMOK;
        if (status == kULMOK && ioVolume.GetSource() != nullptr) status = copy.WaitForLoad();
        if (status != kULMOK) return ULMSyncEvent(status);
        if (copy.Board() == nullptr) return ULMSyncEvent(kULMErrVolume);
        const auto board = static_cast<ULMLocation>(kULMBoard0 + copy.Board()->GetID());
        for (const ULMImageBuffer* image : {inOutColor0, inOutColor1})
            if (image != nullptr && BoardImageOf(image)->GetLocation() != board) return ULMSyncEvent(kULMErrBuffer);

        status = state.m_sampleSpace.ObjectAssign(inContext, &ioVolume, output, state.m_newSampleSpace,
                                                  ULMVector3D(1.0, 1.0, 1.0));
        if (status != kULMOK) return ULMSyncEvent(status);
        const ULMSampleFrustum& f = state.m_sampleSpace.GetVolumeFrustum();
        const int width = f.max[0] - f.min[0] + 1, height = f.max[1] - f.min[1] + 1;
        if (width < kMinGridSide || height < kMinGridSide) return ULMSyncEvent(kULMErrCantSubsample);
        footprint = ULMImageRange(width, height, f.min[0], f.min[1]);
        grid = ULMImageRange(width, height, 0, 0);
        warp = PostWarpOf(state.m_sampleSpace);

        temporary.Assign(MakeTemporary(board, width, height, inContext->GetBlendMode()));
        if (temporary == nullptr) return ULMSyncEvent(kULMErrAlloc);
        ReleasablePointer<ULMContext> clone(ULMCopyContextForRender(inContext));
        if (clone == nullptr) return ULMSyncEvent(kULMErrAlloc);
        if (clone->SetImageOutputBuffer(ULMContext::kImageBuffer0) != kULMOK ||
            clone->SetLastBlendMode(kULMBlendNone) != kULMOK ||
            clone->SetRenderArea(ULMContext::kVolume) != kULMOK)
            return ULMSyncEvent(kULMErrArgument);
        state.m_sampleSpace.SetGridAssigned(true);
        rendered = ULMRenderPreparedVolume(ioVolume, clone, temporary, nullptr, nullptr, nullptr);
        state.m_sampleSpace.SetGridAssigned(false);
        notices.TakeFrom(state.m_lightMapNotices);
    }
    // A listener may render this volume again.
    notices.Deliver();
    if (ULMFailed(rendered.Status())) return rendered;

    temporary->SetInputLimits(grid);
    const ULMSyncEvent warped = WarpPass(warp, inContext, inOutColor0, inOutColor1, footprint, temporary, grid);
    if (ULMFailed(warped.Status())) return warped;
    output->SetOutputLimits(ULMImageBufferRange(*output));
    const ULMSyncEvent both[2] = {rendered, warped};
    return CombineMultipleEvents(2, both);
}

}  // namespace ulm3
