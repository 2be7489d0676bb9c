// The phase-1 band render: the output buffers go into bands over the
// boards, and every sub-volume whose band meets the render area renders that
// band on its own board with its own copy, all boards at once, joined into
// one event. MPR renders take the same road.
#include "board/kwb_board.h"
#include "foundation/context_readers.h"
#include "foundation/sync_event.h"
#include "multiboard/multiboard_buffer_checks.h"
#include "multiboard/multiboard_volume_phase1.h"
#include "render/volume_render_state.h"
#include "ulm3/context.h"
#include "volume/volume_forwarding.h"

namespace ulm3 {

namespace {

constexpr const char* kWho = "MB1";

// The four buffers of a render in their bands; absent ones null.
struct BandForms {
    ULMOmniImageBuffer* image[2] = {};
    ULMOmniDepthBuffer* depth[2] = {};
};

// The band buffers of one sub-volume that meet the render area.
struct BandTargets {
    ULMImageBuffer* image[2] = {};
    ULMDepthBuffer* depth[2] = {};
    bool Any() const { return image[0] || image[1] || depth[0] || depth[1]; }
};

bool Meets(const ULMImageRange& inArea, const ULMImageRange& inBand) { return !Intersect(inArea, inBand).IsEmpty(); }

BandTargets TargetsOf(const BandForms& inForms, int inBand, const ULMImageRange& inArea) {
    BandTargets targets;
    for (int k = 0; k < 2; ++k) {
        if (const ULMOmniImageBuffer* image = inForms.image[k]; image && Meets(inArea, image->GetSubImageRange(inBand)))
            targets.image[k] = image->GetSubImageBuffer(inBand);
        if (const ULMOmniDepthBuffer* depth = inForms.depth[k]; depth && Meets(inArea, depth->GetSubImageRange(inBand)))
            targets.depth[k] = depth->GetSubDepthBuffer(inBand);
    }
    return targets;
}

}  // namespace

ULMStatus ULMMultiboardVolumePhase1::Render(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                            ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                            ULMDepthBuffer* ioDepth1) {
    return ULMStatusOnceQueued(StartRender(inContext, ioColor0, ioDepth0, ioColor1, ioDepth1));
}

ULMSyncEvent ULMMultiboardVolumePhase1::StartRender(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                                    ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                                    ULMDepthBuffer* ioDepth1) {
    return DoStartRenderAndMPR(inContext, ioColor0, ioDepth0, ioColor1, ioDepth1, 0.0, 1, kMPRAlpha, false);
}

ULMStatus ULMMultiboardVolumePhase1::RenderMPR(const ULMContext* inContext, double inNegativeDistance,
                                               int inQuality, MPRMode inMode, ULMImageBuffer* ioImage) {
    return ULMStatusOnceQueued(StartRenderMPR(inContext, inNegativeDistance, inQuality, inMode, ioImage));
}

ULMSyncEvent ULMMultiboardVolumePhase1::StartRenderMPR(const ULMContext* inContext, double inNegativeDistance,
                                                       int inQuality, MPRMode inMode, ULMImageBuffer* ioImage) {
    return DoStartRenderAndMPR(inContext, ioImage, nullptr, nullptr, nullptr, inNegativeDistance, inQuality, inMode,
                               true);
}

// The buffers are checked and moved in the order image 0, image 1, depth 0,
// depth 1; a refusal leaves those before it in bands. A band render that
// fails at its start ends the call while the bands already started go on.
// The event joins every band render started and each copy's board's last
// load before them: with more sub-volumes than boards a board renders
// several bands, and none may be left out.
ULMSyncEvent ULMMultiboardVolumePhase1::DoStartRenderAndMPR(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                                            ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                                            ULMDepthBuffer* ioDepth1, double inNegativeDistance,
                                                            int inQuality, MPRMode inMode, bool inIsMPR) {
    if (m_baseVolume == nullptr) return ULMSyncEvent(kULMErrVolume);
    if (inContext == nullptr) return ULMSyncEvent(kULMErrArgument);
    ULMRecursiveLock hold(m_lock);
    if (!IsLocked()) {
        const ULMStatus locked = LockVolume(kULMAnyBoard);
        if (ULMFailed(locked)) return ULMSyncEvent(locked);
    }
    if (const ULMStatus caught = CatchUpWithSource(); ULMFailed(caught)) return ULMSyncEvent(caught);

    const int n = m_numberSubVolumes;
    BandForms forms;
    ULMImageBuffer* const images[2] = {ioColor0, ioColor1};
    ULMDepthBuffer* const depths[2] = {ioDepth0, ioDepth1};
    for (int k = 0; k < 2; ++k) {
        forms.image[k] = ULMTakeMultiboardImage(images[k], k, kULMMultiBoardMode1, kWho);
        if (images[k] != nullptr &&
            (forms.image[k] == nullptr || !ULMHasOnePartPerSubVolume(forms.image[k]->GetNumberBuffers(), k, n, kWho)))
            return ULMSyncEvent(kULMErrBuffer);
    }
    for (int k = 0; k < 2; ++k) {
        forms.depth[k] = ULMTakeMultiboardDepth(depths[k], k, kULMMultiBoardMode1, kWho);
        if (depths[k] != nullptr &&
            (forms.depth[k] == nullptr || !ULMHasOnePartPerSubVolume(forms.depth[k]->GetNumberBuffers(), k, n, kWho)))
            return ULMSyncEvent(kULMErrBuffer);
    }

    const ULMCamera& camera = inContext->GetCamera();
    ULMImageRange area(camera.GetViewportWidth(), camera.GetViewportHeight(), camera.GetViewportOriginX(),
                       camera.GetViewportOriginY());
    ULMEventTable table;
    for (int b = 0; b < m_numberRealVolumes; ++b)
        if (KWBBoard* board = KWBBoard::GetBoard(m_subvolume[b].m_location)) table.Put(b, board->GetLastLoadEvent());
    ULMOmniImageBuffer* output = GetOutputImageBuffer(inContext, forms.image[0], forms.image[1]);
    if (area.IsEmpty() && output != nullptr)
        area = ULMImageRange(static_cast<int>(output->GetWidth()), static_cast<int>(output->GetHeight()),
                             output->GetAddressParameterX(), output->GetAddressParameterY());

    ULMImageRange limits;
    for (int i = 0; i < n; ++i) {
        const BandTargets band = TargetsOf(forms, i, area);
        if (!band.Any()) continue;
        ULMVolume* copy = m_subvolume[i].GetVolume();
        ULMSyncEvent event = inIsMPR ? copy->StartRenderMPR(inContext, inNegativeDistance, inQuality, inMode,
                                                            band.image[0])
                                     : copy->StartRender(inContext, band.image[0], band.depth[0], band.image[1],
                                                         band.depth[1]);
        ULMStatus status = event.Status();
        const ULMImageBuffer* bandOutput = GetOutputImageBuffer(inContext, band.image[0], band.image[1]);
        const ULMImageRange bandLimits = bandOutput != nullptr ? bandOutput->GetOutputLimits() : ULMImageRange();
        // A band the volume leaves empty is drawn: nothing of it shows.
        if ((status == kULMErrEmptyRender || status == kULMErrArgument) && bandLimits.IsEmpty()) {
            event = ULMSyncEvent(kULMOK);
            status = kULMOK;
        }
        limits = Union(limits, bandLimits);
        if (ULMFailed(status)) return ULMSyncEvent(status);
        table.Put(m_subvolume[i].m_location, event);
    }
    SetLastVolumeRendered(GetObjectID(), inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
    if (output != nullptr) {
        const ULMStatus set = output->SetOutputLimits(limits);
        if (ULMFailed(set)) return ULMSyncEvent(set);
    }
    return table.Join();
}

}  // namespace ulm3
