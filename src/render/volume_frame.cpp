// A frame of a prepared volume in its three phases: the images, the volume
// under the context, and the sub-frames with their sample spaces, tables and
// register programmes, each submitted as one render on the volume's board.
#include "render/volume_frame.h"

#include <memory>

#include "board/kwb_board.h"
#include "buffers/depth_buffer_internal.h"
#include "buffers/image_buffer_internal.h"
#include "buffers/omni_depth_buffer.h"
#include "context/classifier_internal.h"
#include "foundation/context_readers.h"
#include "foundation/message_log.h"
#include "foundation/scope_guard.h"
#include "foundation/shareable.h"
#include "render/volume_render_state.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

constexpr char kRenderWriteFailure[] = "Render: writing register %s failed: %s (%d)\n";
constexpr const char* kImageNames[2] = {"image buffer 0", "image buffer 1"};
constexpr const char* kDepthNames[2] = {"depth buffer 0", "depth buffer 1"};

ULMImageBufferInternal* BoardImage(ULMImageBuffer* inImage) {
    return inImage != nullptr ? GetImageBufferInternal(inImage) : nullptr;
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

// Moves a buffer the render reads or writes onto the volume's board; the
// move's work is added to ioMoved.
template <typename Buffer>
ULMStatus Migrate(Buffer* inBuffer, ULMLocation inLocation, const char* inName, ULMSyncEvent& ioMoved) {
    if (inBuffer == nullptr || inBuffer->GetLocation() == inLocation) return kULMOK;
    const ULMSyncEvent moved = inBuffer->StartMigrate(inLocation);
    const ULMStatus status = moved.Status();
    if (!ULMFailed(status)) {
        ioMoved = ULMFollowedBy(ioMoved, moved);
        return kULMOK;
    }
    ULMOutputMessage("Render: %s is at location %d, the volume on board %d, and it may not move there (migration "
                     "mode %d, status %d): SetMigrationMode(kULMMigrationFullCopy) lets it, or make it there\n",
                     inName, static_cast<int>(inBuffer->GetLocation()), static_cast<int>(inLocation),
                     static_cast<int>(inBuffer->GetMigrationMode()), static_cast<int>(status));
    return kULMErrBuffer;
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

ULMVolumeFrame::ULMVolumeFrame(ULMVolumeInternal& ioVolume, const ULMContext* inContext)
    : m_volume(ioVolume), m_state(ULMRenderStateOf(ioVolume)), m_context(inContext) {
    m_inputs.context = inContext;
    m_inputs.sampleSpace = &m_state.m_sampleSpace;
}

// ---- Once per image ----

ULMStatus ULMVolumeFrame::BindImages(ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                     ULMDepthBuffer* ioDepth1) {
    // A render into a volume writes no image: the board takes the volume's
    // buffer as image 0 instead.
    m_toVolume = m_state.m_sampleSpace.GetRenderToVolume() != nullptr;
    if (m_toVolume) ioColor0 = ioColor1 = nullptr, ioDepth0 = ioDepth1 = nullptr;
    m_output = GetOutputImageBuffer(m_context, ioColor0, ioColor1);
    if (m_output == nullptr && !m_toVolume)
        return ULMRefuseForBuffer("the output image buffer", "the context names is not given");
    m_board = m_volume.BoardCopy().Board();
    if (m_volume.BoardCopy().Buffer() == nullptr || m_board == nullptr) return kULMErrVolume;
    const auto location = static_cast<ULMLocation>(kULMBoard0 + m_board->GetID());
    if (Migrate(ioColor0, location, kImageNames[0], m_moved) != kULMOK ||
        Migrate(ioColor1, location, kImageNames[1], m_moved) != kULMOK)
        return kULMErrBuffer;
    m_color[0] = ioColor0, m_color[1] = ioColor1;
    for (int i = 0; i < 2; ++i) m_boardImage[i] = BoardImage(m_color[i]);
    if ((ioColor0 != nullptr && m_boardImage[0] == nullptr) || (ioColor1 != nullptr && m_boardImage[1] == nullptr))
        return ULMRefuseForBuffer(kImageNames[m_boardImage[0] == nullptr && ioColor0 != nullptr ? 0 : 1],
                                  "lies over several boards, and a render writes one board's image");
    ULMDepthBuffer* depth[2] = {ioDepth0, ioDepth1};
    for (int i = 0; i < 2; ++i) {
        m_depth[i] = nullptr;
        m_boardDepth[i] = nullptr;
        if (m_toVolume || !IsDepthBufferNeeded(m_context, i)) continue;
        if (depth[i] == nullptr)
            return ULMRefuseForBuffer(kDepthNames[i], "is read or written by the context's depth settings, not given");
        if (Migrate(depth[i], location, kDepthNames[i], m_moved) != kULMOK) return kULMErrBuffer;
        m_boardDepth[i] = BoardDepth(depth[i]);
        if (m_boardDepth[i] == nullptr)
            return ULMRefuseForBuffer(kDepthNames[i], "lies in bands over boards; a render reads one board's");
        m_depth[i] = depth[i];
    }
    m_inputs.image0 = m_color[0];
    m_inputs.image1 = m_color[1];
    m_inputs.writeMask = m_toVolume || m_output == m_color[0] ? kKWBWritesImage0 : kKWBWritesImage1;
    for (int i = 0; i < 2; ++i) {
        m_inputs.depth[i] = m_depth[i];
        const auto filter = m_context->GetDepthUpdateFilter(static_cast<ULMContext::DepthBufferNumber>(i));
        if (m_depth[i] != nullptr && filter != ULMContext::kAlwaysFail) m_inputs.writeMask |= kKWBWritesDepth0 << i;
    }
    return kULMOK;
}

// ---- Once per volume ----

ULMStatus ULMVolumeFrame::ClassifyVolume() {
    ULMFieldNumber gradientFields[3] = {kULMField0, kULMField0, kULMField0};
    ULMClassifierRegisters& c = m_inputs.classifier;
    const ULMStatus classified = ULMClassifierInternal(m_context->GetClassifier())
                                     .ComputeHardwareRegisters(&m_volume, c.voxelFormat, c.interpolateControl, c.lut,
                                                               c.lutFormat, c.alu, gradientFields);
    if (classified != kULMOK) return classified;
    m_inputs.voxelBorder = m_volume.GetBorderValue();
    m_classified = true;
    return kULMOK;
}

ULMStatus ULMVolumeFrame::LightVolume() {
    const ULMMatrix correction = m_volume.GetCorrectionMatrix();
    ULMGradientCorrection(correction, m_inputs.correction);
    ULMStatus lit = SetupLighting(m_context, correction, m_state, m_inputs);
    m_inputs.modulated = (m_context->GetGradientModulation() & 15) != 0;
    if (lit == kULMOK && m_inputs.modulated) lit = m_state.m_renderCache.SetupGradientTable(m_context);
    if (lit == kULMOK) m_lightsBound = true;
    return lit;
}

// ---- Once per sub-frame ----

ULMSyncEvent ULMVolumeFrame::RenderSubFrame(const ULMMiniFrustum* inMiniFrustum) {
    ULMStatus status = AssignSampleSpace(inMiniFrustum);
    if (status == kULMOK && !m_classified) status = ClassifyVolume();
    if (status != kULMOK) return ULMSyncEvent(status);
    status = BindTables();
    if (status == kULMOK && !m_lightsBound) status = LightVolume();
    if (status != kULMOK) {
        m_state.m_renderCache.ReleaseLUT();
        return ULMSyncEvent(status);
    }
    return Submit();
}

ULMStatus ULMVolumeFrame::AssignSampleSpace(const ULMMiniFrustum* inMiniFrustum) {
    ULMSampleSpace& space = m_state.m_sampleSpace;
    const bool gridKept = !m_toVolume && space.IsGridAssigned();
    const ULMStatus assigned =
        m_toVolume ? space.AssignRenderToVolume(m_context, &m_volume, m_state.m_newSampleSpace)
        : gridKept ? (space.IsValid() ? kULMOK : kULMErrArgument)
                   : space.Assign(m_context, &m_volume, m_output, m_state.m_newSampleSpace, true, inMiniFrustum);
    if (assigned == kULMErrEmptyRender && m_output != nullptr) m_output->SetOutputLimits(ULMImageRange());
    if (assigned != kULMOK) return assigned;
    // The assignment took it only as a plain volume beside this one.
    m_target = static_cast<ULMVolumeInternal*>(space.GetRenderToVolume());
    // The target's YZ slab goes back first, or it would later overwrite what this render writes.
    return m_target != nullptr ? m_target->BoardCopy().WriteBackSlab() : kULMOK;
}

ULMStatus ULMVolumeFrame::BindTables() {
    ULMRenderCache& cache = m_state.m_renderCache;
    cache.Clear(m_board);
    // Alpha is corrected for the slice spacing only where samples are
    // integrated along the ray: the blends that composite by opacity, and
    // sums. A minimum, maximum, replace or empty bits takes samples as they
    // are, and an MPR's are averaged or taken alone.
    const ULMMPRSlab* mpr = m_state.m_MPR;
    const bool mprSums = mpr != nullptr && mpr->sumAndCount;
    const ULMBlendMode mode = m_context->GetBlendMode();
    const bool integrates = mode >= kULMBlendBTF && mode <= kULMBlendSumAndCount;
    const double distance =
        mprSums || (mpr == nullptr && integrates) ? m_state.m_sampleSpace.GetSampleDistance() : 1.0;
    const ULMStatus tables = cache.SetupLookupTables(m_context, m_inputs.classifier.lut, nullptr, 0.0, distance,
                                                     mprSums);
    if (tables != kULMOK) return tables;
    cache.GetLutBuffers(m_luts);
    for (int i = 0; i < 4; ++i) m_inputs.tableLoaded[i] = m_luts[i] != nullptr;
    m_inputs.alphaCorrected = cache.GetAlphaCorrectionTable() != nullptr;
    return kULMOK;
}

ULMSyncEvent ULMVolumeFrame::Submit() {
    ULMVolumeRenderState& state = m_state;
    ULMRenderCache& cache = state.m_renderCache;
    // The tables are held to the end: a state retired meanwhile goes, board
    // buffer and descriptor, with the last hold, and nothing here may read
    // it after that.
    ULMScopeGuard releaseTables([&cache] { cache.ReleaseLUT(); });
    m_inputs.outputVolume = m_target;
    m_inputs.outputVolumeMode = state.m_sampleSpace.GetRenderToVolumeMode();
    ULMFillRenderRegisters(m_inputs, state.m_regs);
    ULMApplySpaceLeaping(m_volume, state.m_spaceLeaping, m_inputs, state.m_regs);
    if (state.m_MPR != nullptr) ULMFitMPRSlab(*state.m_MPR, state.m_sampleSpace, state.m_regs);

    state.m_renderBlock = std::make_unique<ULMBoardPassBlock>(
        m_board->CreateCommandBuffer(ULMBoardPassBlock::kCommandWords), kRenderWriteFailure);
    const ULMStatus written = ULMWriteRenderProgramme(*state.m_renderBlock, state.m_regs);
    if (written != kULMOK) return ULMSyncEvent(written);
    ULMBoardRenderBuffers buffers;
    buffers.volume = m_volume.BoardCopy().Buffer();
    buffers.image0 = m_toVolume              ? m_target->BoardCopy().Buffer()
                     : m_boardImage[0] != nullptr ? m_boardImage[0]->GetBuffer()
                                                  : nullptr;
    buffers.image1 = m_boardImage[1] != nullptr ? m_boardImage[1]->GetBuffer() : nullptr;
    buffers.writeMask = m_inputs.writeMask;
    buffers.depth0 = m_boardDepth[0] != nullptr ? m_boardDepth[0]->GetBuffer() : nullptr;
    buffers.depth1 = m_boardDepth[1] != nullptr ? m_boardDepth[1]->GetBuffer() : nullptr;
    for (int i = 0; i < 4; ++i) buffers.luts[i] = m_luts[i];
    buffers.gradientTable = m_inputs.modulated ? cache.GetGradientTable() : nullptr;
    buffers.alphaCorrectionTable = cache.GetAlphaCorrectionTable();
    if (m_inputs.lit) {
        buffers.diffuseMap = cache.GetLightMap()->Diffuse();
        buffers.specularMap = cache.GetLightMap()->Specular();
    }
    const ULMSyncEvent event = state.m_renderBlock->SubmitRender(m_board, state.m_lastRenderEvent, buffers);
    if (ULMFailed(event.Status())) return event;
    state.m_lastRenderEvent = event;
    // The handle answers for the tables and voxels the render reads too.
    const ULMSyncEvent answered = ULMWithInputLoads(event, buffers);
    if (m_toVolume) {
        const ULMSampleFrustum& box = m_state.m_sampleSpace.GetVolumeFrustum();
        const ULMVolumeRange written(box.max[0] - box.min[0] + 1, box.max[1] - box.min[1] + 1,
                                     box.max[2] - box.min[2] + 1, box.min[0], box.min[1], box.min[2]);
        m_target->BoardCopy().NoteBoardWrite(written);
        return answered;
    }
    m_output->SetOutputLimits(state.m_sampleSpace.GetOutputRange());
    SetLastVolumeRendered(m_volume.GetObjectID(), m_context, m_color[0], m_depth[0], m_color[1], m_depth[1]);
    return answered;
}

}  // namespace ulm3
