// The render entry points of a plain volume: checks, the sample space, the
// tables and the register programme, submitted as one render on the
// volume's board. Parallel projections only; MPR is not built yet.
#include <memory>

#include "board/kwb_board.h"
#include "buffers/depth_buffer_internal.h"
#include "buffers/image_buffer_internal.h"
#include "buffers/omni_depth_buffer.h"
#include "buffers/omni_image_buffer.h"
#include "foundation/context_readers.h"
#include "render/render_programme.h"
#include "render/volume_render_state.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

constexpr char kRenderWriteFailure[] = "Render: writing register %s failed: %s (%d)\n";

// What this engine cannot program yet; such a render is refused rather
// than drawn without it.
bool NeedsUnbuiltStages(const ULMContext* inContext, const ULMDepthBuffer* inDepth0,
                        const ULMDepthBuffer* inDepth1) {
    const ULMDepthBuffer* depth[2] = {inDepth0, inDepth1};
    for (int i = 0; i < 2; ++i) {
        const auto n = static_cast<ULMContext::DepthBufferNumber>(i);
        if (depth[i] != nullptr && inContext->GetDepthUpdateFilter(n) != ULMContext::kAlwaysFail) return true;
    }
    return inContext->GetLightCount() > 0 || inContext->GetCutPlaneCount() > 4 || !IsDepthTestPass(inContext) ||
           inContext->GetGradientModulation() != 0;
}

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

// Moves a buffer the render writes onto the volume's board.
ULMStatus Migrate(ULMImageBuffer* inImage, ULMLocation inLocation) {
    if (inImage == nullptr || inImage->GetLocation() == inLocation) return kULMOK;
    const ULMStatus status = inImage->StartMigrate(inLocation).Status();
    return ULMFailed(status) ? kULMErrBuffer : kULMOK;
}

}  // namespace

// Stamps the output image the context selects, and each depth buffer whose
// update filter can pass, with the volume that rendered them.
void SetLastVolumeRendered(unsigned long long inId, const ULMContext* inContext, ULMImageBuffer* ioColor0,
                           ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1) {
    StampImage(GetOutputImageBuffer(inContext, ioColor0, ioColor1), inId);
    if (inContext->GetDepthUpdateFilter(ULMContext::kDepthBuffer0) != ULMContext::kAlwaysFail)
        StampDepth(ioDepth0, inId);
    if (inContext->GetDepthUpdateFilter(ULMContext::kDepthBuffer1) != ULMContext::kAlwaysFail)
        StampDepth(ioDepth1, inId);
}

ULMSyncEvent ULMVolumeInternal::StartRender(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                            ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                            ULMDepthBuffer* ioDepth1) {
    if (inContext == nullptr) return ULMSyncEvent(kULMErrArgument);
    if (IsPerspectiveMatrix(inContext->GetCamera().GetProjectionMatrix()) ||
        NeedsUnbuiltStages(inContext, ioDepth0, ioDepth1))
        return ULMSyncEvent(kULMErrUnimplemented);
    if (GetOutputImageBuffer(inContext, ioColor0, ioColor1) == nullptr) return ULMSyncEvent(kULMErrBuffer);

    ULMStatus status = AddAccess(kULMAccessReadShared);
    if (status != kULMOK) return ULMSyncEvent(status);
    status = PrepareVolume();
    if (status != kULMOK) {
        ReleaseAccess();
        return ULMSyncEvent(status);
    }
    if (m_volumeSource != nullptr) status = WaitForVolumeLoaded();
    const ULMSyncEvent result = status == kULMOK
                                    ? DoStartRender(inContext, ioColor0, ioDepth0, ioColor1, ioDepth1)
                                    : ULMSyncEvent(status);
    FinishWithVolume();
    ReleaseAccess();
    return result;
}

ULMSyncEvent ULMVolumeInternal::DoStartRender(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                              ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                              ULMDepthBuffer* ioDepth1) {
    ULMVolumeRenderState& state = *m_renderState;
    ULMScopedLock lock(state.m_lock);
    ULMImageBuffer* output = GetOutputImageBuffer(inContext, ioColor0, ioColor1);
    if (output == nullptr) return ULMSyncEvent(kULMErrBuffer);
    if (m_buffer == nullptr || m_board == nullptr) return ULMSyncEvent(kULMErrVolume);
    const auto location = static_cast<ULMLocation>(kULMBoard0 + m_board->GetID());
    if (Migrate(ioColor0, location) != kULMOK || Migrate(ioColor1, location) != kULMOK)
        return ULMSyncEvent(kULMErrBuffer);
    ULMImageBufferInternal* image0 = BoardImage(ioColor0);
    ULMImageBufferInternal* image1 = BoardImage(ioColor1);
    if ((ioColor0 != nullptr && image0 == nullptr) || (ioColor1 != nullptr && image1 == nullptr))
        return ULMSyncEvent(kULMErrBuffer);

    const ULMStatus assigned =
        state.m_sampleSpace.Assign(inContext, this, output, state.m_newSampleSpace, true);
    if (assigned == kULMErrEmptyRender) output->SetOutputLimits(ULMImageRange());
    if (assigned != kULMOK) return ULMSyncEvent(assigned);

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
    cache.Clear(m_board);
    const ULMStatus tables =
        cache.SetupLookupTables(inContext, c.lut, nullptr, 0.0, state.m_sampleSpace.GetSampleDistance(), false);
    if (tables != kULMOK) {
        cache.ReleaseLUT();
        return ULMSyncEvent(tables);
    }
    KWBBuffer* luts[4];
    cache.GetLutBuffers(luts);
    for (int i = 0; i < 4; ++i) inputs.tableLoaded[i] = luts[i] != nullptr;
    inputs.voxelBorder = m_borderValue;
    inputs.image0 = ioColor0;
    inputs.image1 = ioColor1;
    inputs.writeMask = output == ioColor0 ? 1u : 2u;
    ULMFillRenderRegisters(inputs, state.m_regs);

    state.m_renderBlock = std::make_unique<ULMBoardPassBlock>(
        m_board->CreateCommandBuffer(ULMBoardPassBlock::kCommandWords), kRenderWriteFailure);
    const ULMStatus written = ULMWriteRenderProgramme(*state.m_renderBlock, state.m_regs);
    if (written != kULMOK) {
        cache.ReleaseLUT();
        return ULMSyncEvent(written);
    }
    ULMBoardRenderBuffers buffers;
    buffers.volume = m_buffer;
    buffers.image0 = image0 != nullptr ? image0->GetBuffer() : nullptr;
    buffers.image1 = image1 != nullptr ? image1->GetBuffer() : nullptr;
    buffers.writeMask = inputs.writeMask;
    for (int i = 0; i < 4; ++i) buffers.luts[i] = luts[i];
    const ULMSyncEvent event = state.m_renderBlock->SubmitRender(m_board, state.m_lastRenderEvent, buffers);
    cache.ReleaseLUT();
    if (ULMFailed(event.Status())) return event;
    state.m_lastRenderEvent = event;

    output->SetOutputLimits(state.m_sampleSpace.GetOutputRange());
    SetLastVolumeRendered(GetObjectID(), inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
    return event;
}

ULMSyncEvent ULMVolumeInternal::StartRenderMPR(const ULMContext*, double, int, MPRMode, ULMImageBuffer*) {
    return ULMSyncEvent(kULMErrUnimplemented);
}

}  // namespace ulm3
