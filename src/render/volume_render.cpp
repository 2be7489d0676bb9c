// The render entry points of a plain volume: checks, the sample space, the
// tables and the register programme, submitted as one render on the
// volume's board. Parallel projections only; MPR renders (mpr.cpp) take
// this road with a slab of their own.
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
#include "render/perspective_frame_driver.h"
#include "render/render_programme.h"
#include "render/render_upper_layers.h"
#include "render/volume_render_state.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

constexpr char kRenderWriteFailure[] = "Render: writing register %s failed: %s (%d)\n";

// What the chip cannot take: more cut planes than it has.
bool ExceedsTheChip(const ULMContext* inContext) { return inContext->GetCutPlaneCount() > 4; }

ULMImageBufferInternal* BoardImage(ULMImageBuffer* inImage) {
    return inImage != nullptr ? GetImageBufferInternal(inImage) : nullptr;
}

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

ULMDepthBufferInternal* BoardDepth(ULMDepthBuffer* inDepth) {
    if (IsObjectType(inDepth, kObjectTypeULMOmniDepthBuffer)) {
        const auto* omni = static_cast<const ULMOmniDepthBuffer*>(inDepth);
        // Bands have no one buffer.
        return omni->GetLocation() == kULMMultiBoardMode1 ? nullptr : omni->GetDepthBuffer();
    }
    return IsObjectType(inDepth, kObjectTypeULMDepthBufferInternal) ? static_cast<ULMDepthBufferInternal*>(inDepth)
                                                                      : nullptr;
}

constexpr const char* kImageNames[2] = {"image buffer 0", "image buffer 1"};
constexpr const char* kDepthNames[2] = {"depth buffer 0", "depth buffer 1"};

// Moves a buffer the render reads or writes onto the volume's board.
template <typename Buffer>
ULMStatus Migrate(Buffer* inBuffer, ULMLocation inLocation, const char* inName) {
    if (inBuffer == nullptr || inBuffer->GetLocation() == inLocation) return kULMOK;
    const ULMStatus status = inBuffer->StartMigrate(inLocation).Status();
    if (!ULMFailed(status)) return kULMOK;
    ULMOutputMessage("Render: %s is at location %d, the volume on board %d, and it may not move there (migration "
                     "mode %d, status %d): SetMigrationMode(kULMMigrationFullCopy) lets it, or make it there\n",
                     inName, static_cast<int>(inBuffer->GetLocation()), static_cast<int>(inLocation),
                     static_cast<int>(inBuffer->GetMigrationMode()), static_cast<int>(status));
    return kULMErrBuffer;
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

// Binds the light maps of a lit render; a build is told to the context's
// light-map listeners once the render lets go of its lock.
ULMStatus SetupLighting(const ULMContext* inContext, const ULMMatrix& inCorrection, ULMVolumeRenderState& ioState,
                        ULMRenderInputs& ioInputs) {
    if (inContext->GetLightCount() == 0) return kULMOK;
    const bool corrected = ioInputs.correction[0] != 0.0;
    const ULMMatrix model = inContext->GetCamera().GetModelMatrix();
    int built = 0;
    ULMRenderCache& cache = ioState.m_renderCache;
    const ULMStatus status = cache.SetupLightMaps(inContext, corrected ? model : model * inCorrection, built);
    if (status != kULMOK) return status;
    ioInputs.lit = true;
    if (built != 0) ioState.m_lightMapNotices.Add(inContext, const_cast<ULMLightMap*>(cache.GetLightMap()), built == 2);
    return kULMOK;
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

ULMSyncEvent ULMVolumeInternal::StartRenderWith(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                                ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                                ULMDepthBuffer* ioDepth1, ULMMPRSlab* ioMPR) {
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

    ULMSyncEvent result(kULMOK);
    ULMLightMapNotices notices;
    // What a refused render hands to the resize once the lock is let go.
    struct {
        bool wanted = false;
        ULMLocation board = kULMAnyBoard;
        ULMResizeView view;
        bool sums = false;
        double scale = -1.0;
    } resize;
    {
        // The application's buffer calls wait until this render is queued.
        ULMRecursiveLock bufferHold(BufferLock());
        ULMStatus status = AddAccess(kULMAccessReadShared);
        if (status != kULMOK) return ULMSyncEvent(status);
        // Prepare and finish share the volume's buffer bookkeeping: two
        // threads rendering one volume take turns from the prepare to the
        // finish, or one could release the buffer the other is about to
        // render from.
        ULMScopedLock lock(ULMRenderStateOf(*this).m_lock);
        // The slab belongs to this render alone, however it ends.
        struct MPRScope {
            ULMVolumeRenderState& state;
            ~MPRScope() { state.m_MPR = nullptr; }
        } mprScope{ULMRenderStateOf(*this)};
        ULMRenderStateOf(*this).m_MPR = ioMPR;
        ULMRenderStateOf(*this).m_MPRSumAndCountOn = ioMPR != nullptr && ioMPR->sumAndCount;
        // The factor a resize still owes the sums: none, the tables weigh
        // each sample by 1/k already and the grey is a sum over its count.
        ULMRenderStateOf(*this).m_MPRScale = ioMPR != nullptr ? 1.0 : -1.0;
        status = PrepareVolume(RenderPlacement(inContext, ioColor0, ioDepth0, ioColor1, ioDepth1));
        if (status == kULMOK) {
            if (m_volumeSource != nullptr) status = WaitForVolumeLoaded();
            if (status != kULMOK)
                result = ULMSyncEvent(status);
            else if (perspective)
                result = ULMStartPerspectiveFrame(*this, inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
            else
                result = DoStartRender(inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
            if (!perspective && result.Status() == kULMErrCantSubsample && gULMControl.m_resizeImage &&
                GetKWBBoard() != nullptr && !ULMResizeSuppression::Active()) {
                const ULMVolumeRenderState& state = ULMRenderStateOf(*this);
                resize.wanted = true;
                resize.board = static_cast<ULMLocation>(kULMBoard0 + GetKWBBoard()->GetID());
                resize.view.footprint = state.m_sampleSpace.GetBoxFootprint();
                state.m_sampleSpace.GetSubSampleTests(resize.view.testX, resize.view.testY);
                resize.sums = state.m_MPRSumAndCountOn;
                resize.scale = state.m_MPRScale;
            }
            FinishWithVolume();
        } else {
            result = ULMSyncEvent(status);
        }
        notices.TakeFrom(ULMRenderStateOf(*this).m_lightMapNotices);
        ReleaseAccess();
    }
    // A listener may render this volume again.
    notices.Deliver();
    if (!resize.wanted) return result;
    // The enlarged render re-enters here and must not resize again.
    ULMResizeSuppression once;
    const ULMEnlargedRender render = [this, ioMPR](const ULMContext* inEnlarged, ULMImageBuffer* ioTemporary) {
        return StartRenderWith(inEnlarged, ioTemporary, nullptr, nullptr, nullptr, ioMPR);
    };
    return ULMGetRenderAndResize()(render, resize.board, inContext, resize.view, resize.sums, resize.scale, ioColor0,
                                   ioColor1);
}

ULMSyncEvent ULMVolumeInternal::DoStartRender(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                              ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                              ULMDepthBuffer* ioDepth1) {
    ULMVolumeRenderState& state = ULMRenderStateOf(*this);
    // A render into a volume writes no image: the board takes the volume's
    // buffer as image 0 instead.
    const bool toVolume = state.m_sampleSpace.GetRenderToVolume() != nullptr;
    if (toVolume) ioColor0 = ioColor1 = nullptr, ioDepth0 = ioDepth1 = nullptr;
    ULMImageBuffer* output = GetOutputImageBuffer(inContext, ioColor0, ioColor1);
    if (output == nullptr && !toVolume)
        return ULMSyncEvent(ULMRefuseForBuffer("the output image buffer", "the context names is not given"));
    KWBBoard* const board = GetKWBBoard();
    if (GetKWBBuffer() == nullptr || board == nullptr) return ULMSyncEvent(kULMErrVolume);
    const auto location = static_cast<ULMLocation>(kULMBoard0 + board->GetID());
    if (Migrate(ioColor0, location, kImageNames[0]) != kULMOK || Migrate(ioColor1, location, kImageNames[1]) != kULMOK)
        return ULMSyncEvent(kULMErrBuffer);
    ULMImageBufferInternal* image0 = BoardImage(ioColor0);
    ULMImageBufferInternal* image1 = BoardImage(ioColor1);
    if ((ioColor0 != nullptr && image0 == nullptr) || (ioColor1 != nullptr && image1 == nullptr))
        return ULMSyncEvent(ULMRefuseForBuffer(kImageNames[image0 == nullptr && ioColor0 != nullptr ? 0 : 1],
                                               "lies over several boards, and a render writes one board's image"));
    ULMDepthBuffer* depth[2] = {ioDepth0, ioDepth1};
    ULMDepthBufferInternal* boardDepth[2] = {};
    for (int i = 0; i < 2; ++i) {
        if (toVolume || !IsDepthBufferNeeded(inContext, i)) {
            depth[i] = nullptr;
            continue;
        }
        if (depth[i] == nullptr)
            return ULMSyncEvent(
                ULMRefuseForBuffer(kDepthNames[i], "is read or written by the context's depth settings, not given"));
        if (Migrate(depth[i], location, kDepthNames[i]) != kULMOK) return ULMSyncEvent(kULMErrBuffer);
        boardDepth[i] = BoardDepth(depth[i]);
        if (boardDepth[i] == nullptr)
            return ULMSyncEvent(
                ULMRefuseForBuffer(kDepthNames[i], "lies in bands over boards; a render reads one board's"));
    }

    const bool gridKept = !toVolume && state.m_sampleSpace.IsGridAssigned();
    const ULMStatus assigned =
        toVolume   ? state.m_sampleSpace.AssignRenderToVolume(inContext, this, state.m_newSampleSpace)
        : gridKept ? (state.m_sampleSpace.IsValid() ? kULMOK : kULMErrArgument)
                   : state.m_sampleSpace.Assign(inContext, this, output, state.m_newSampleSpace, true);
    if (assigned == kULMErrEmptyRender && output != nullptr) output->SetOutputLimits(ULMImageRange());
    if (assigned != kULMOK) return ULMSyncEvent(assigned);
    // The assignment took it only as a plain volume beside this one.
    auto* target = static_cast<ULMVolumeInternal*>(state.m_sampleSpace.GetRenderToVolume());
    // The target's YZ slab goes back first, or it would later overwrite what this render writes.
    if (const ULMStatus written = target != nullptr ? target->UpdateVolumeFromCache() : kULMOK; ULMFailed(written))
        return ULMSyncEvent(written);

    ULMRenderInputs inputs;
    inputs.context = inContext;
    inputs.sampleSpace = &state.m_sampleSpace;
    ULMFieldNumber gradientFields[3] = {kULMField0, kULMField0, kULMField0};
    ULMClassifierRegisters& c = inputs.classifier;
    const ULMStatus classified = ULMClassifierInternal(inContext->GetClassifier())
                                     .ComputeHardwareRegisters(this, c.voxelFormat, c.interpolateControl, c.lut,
                                                               c.lutFormat, c.alu, gradientFields);
    if (classified != kULMOK) return ULMSyncEvent(classified);

    ULMRenderCache& cache = state.m_renderCache;
    cache.Clear(board);
    // An MPR's samples are averaged or taken alone, never integrated.
    ULMMPRSlab* mpr = state.m_MPR;
    const bool mprSums = mpr != nullptr && mpr->sumAndCount;
    const double distance = mpr == nullptr || mprSums ? state.m_sampleSpace.GetSampleDistance() : 1.0;
    const ULMStatus tables = cache.SetupLookupTables(inContext, c.lut, nullptr, 0.0, distance, mprSums);
    if (tables != kULMOK) {
        cache.ReleaseLUT();
        return ULMSyncEvent(tables);
    }
    KWBBuffer* luts[4];
    cache.GetLutBuffers(luts);
    for (int i = 0; i < 4; ++i) inputs.tableLoaded[i] = luts[i] != nullptr;
    const ULMMatrix correction = GetCorrectionMatrix();
    ULMGradientCorrection(correction, inputs.correction);
    inputs.alphaCorrected = cache.GetAlphaCorrectionTable() != nullptr;
    ULMStatus lit = SetupLighting(inContext, correction, state, inputs);
    inputs.modulated = (inContext->GetGradientModulation() & 15) != 0;
    if (lit == kULMOK && inputs.modulated) lit = cache.SetupGradientTable(inContext);
    if (lit != kULMOK) {
        cache.ReleaseLUT();
        return ULMSyncEvent(lit);
    }
    inputs.voxelBorder = m_borderValue;
    inputs.image0 = ioColor0;
    inputs.image1 = ioColor1;
    inputs.writeMask = toVolume || output == ioColor0 ? kKWBWritesImage0 : kKWBWritesImage1;
    inputs.outputVolume = target;
    inputs.outputVolumeMode = state.m_sampleSpace.GetRenderToVolumeMode();
    for (int i = 0; i < 2; ++i) {
        inputs.depth[i] = depth[i];
        const auto filter = inContext->GetDepthUpdateFilter(static_cast<ULMContext::DepthBufferNumber>(i));
        if (depth[i] != nullptr && filter != ULMContext::kAlwaysFail) inputs.writeMask |= kKWBWritesDepth0 << i;
    }
    ULMFillRenderRegisters(inputs, state.m_regs);
    ULMApplySpaceLeaping(*this, state.m_spaceLeaping, inputs, state.m_regs);
    if (mpr != nullptr) ULMFitMPRSlab(*mpr, state.m_sampleSpace, state.m_regs);

    state.m_renderBlock = std::make_unique<ULMBoardPassBlock>(
        board->CreateCommandBuffer(ULMBoardPassBlock::kCommandWords), kRenderWriteFailure);
    const ULMStatus written = ULMWriteRenderProgramme(*state.m_renderBlock, state.m_regs);
    if (written != kULMOK) {
        cache.ReleaseLUT();
        return ULMSyncEvent(written);
    }
    ULMBoardRenderBuffers buffers;
    buffers.volume = GetKWBBuffer();
    buffers.image0 = toVolume ? target->GetKWBBuffer() : image0 != nullptr ? image0->GetBuffer() : nullptr;
    buffers.image1 = image1 != nullptr ? image1->GetBuffer() : nullptr;
    buffers.writeMask = inputs.writeMask;
    buffers.depth0 = boardDepth[0] != nullptr ? boardDepth[0]->GetBuffer() : nullptr;
    buffers.depth1 = boardDepth[1] != nullptr ? boardDepth[1]->GetBuffer() : nullptr;
    for (int i = 0; i < 4; ++i) buffers.luts[i] = luts[i];
    buffers.gradientTable = inputs.modulated ? cache.GetGradientTable() : nullptr;
    buffers.alphaCorrectionTable = cache.GetAlphaCorrectionTable();
    if (inputs.lit) {
        buffers.diffuseMap = cache.GetLightMap()->Diffuse();
        buffers.specularMap = cache.GetLightMap()->Specular();
    }
    const ULMSyncEvent event = state.m_renderBlock->SubmitRender(board, state.m_lastRenderEvent, buffers);
    cache.ReleaseLUT();
    if (ULMFailed(event.Status())) return event;
    state.m_lastRenderEvent = event;
    if (toVolume) {
        target->BoardCopy().NoteBoardWrite();
        return event;
    }

    output->SetOutputLimits(state.m_sampleSpace.GetOutputRange());
    SetLastVolumeRendered(GetObjectID(), inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
    return event;
}

}  // namespace ulm3
