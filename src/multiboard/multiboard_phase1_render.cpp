// The phase-1 band render: the output buffers go into bands over the
// boards, and every sub-volume whose band meets the render area renders that
// band on its own board with its own copy, all boards at once, joined into
// one event. MPR renders take the same road.
#include <cstdint>
#include <new>
#include <optional>
#include <vector>

#include "board/kwb_board.h"
#include "buffers/omni_buffer.h"
#include "context/render_context.h"
#include "foundation/context_readers.h"
#include "foundation/sync_event.h"
#include "multiboard/multiboard_buffer_checks.h"
#include "multiboard/multiboard_volume_phase1.h"
#include "perspective/shared_frame_plan.h"
#include "foundation/control.h"
#include "foundation/shareable.h"
#include "render/render_upper_layers.h"
#include "render/ulm_sample_space.h"
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

// A buffer of few rows has fewer bands than there are sub-volumes.
template <class Omni>
bool HasBand(const Omni* inOmni, int inBand, const ULMImageRange& inArea) {
    return inOmni != nullptr && inBand < inOmni->GetNumberBuffers() && Meets(inArea, inOmni->GetSubImageRange(inBand));
}

BandTargets TargetsOf(const BandForms& inForms, int inBand, const ULMImageRange& inArea) {
    BandTargets targets;
    for (int k = 0; k < 2; ++k) {
        if (HasBand(inForms.image[k], inBand, inArea)) targets.image[k] = inForms.image[k]->GetSubImageBuffer(inBand);
        if (HasBand(inForms.depth[k], inBand, inArea)) targets.depth[k] = inForms.depth[k]->GetSubDepthBuffer(inBand);
    }
    return targets;
}

// The whole image as the render reads it: from the addressing origin for
// offset addressing, else from 0.
ULMImageRange WholeImage(const ULMImageBuffer* inImage) {
    const bool offset = inImage->GetAddressMode() == kULMOffsetAddress;
    return ULMImageRange(static_cast<int>(inImage->GetWidth()), static_cast<int>(inImage->GetHeight()),
                         offset ? inImage->GetAddressParameterX() : 0, offset ? inImage->GetAddressParameterY() : 0);
}

// The context the bands render from: a viewport of no size stands for the
// whole picture, which each copy would take for its own band. Null where
// the context has a viewport and is taken as it is; false when no copy
// can be made.
bool ViewportOverPicture(const ULMContext* inContext, const ULMImageRange& inPicture,
                         ReleasablePointer<ULMContext>& outCopy) {
    int x = 0, y = 0, w = 0, h = 0;
    inContext->GetCamera().GetViewport(x, y, w, h);
    if ((w > 0 && h > 0) || inPicture.IsEmpty()) return true;
    outCopy.Assign(ULMCopyContextForRender(inContext));
    return outCopy != nullptr && outCopy->GetCamera().SetViewport(inPicture.XOrigin(), inPicture.YOrigin(),
                                                                  inPicture.XSize(), inPicture.YSize()) == kULMOK;
}

ULMStatus CopyPixels(const ULMImageBuffer* inFrom, ULMImageBuffer* ioTo) {
    const ULMImageRange whole = WholeImage(inFrom);
    std::vector<uint8_t> pixels;
    try {
        pixels.resize(size_t(whole.XSize()) * size_t(whole.YSize()) * (inFrom->GetPixelSize() / 8));
    } catch (const std::bad_alloc&) {
        return kULMErrAlloc;
    }
    const ULMStatus unloaded = inFrom->Unload(pixels.data(), whole, 0);
    return ULMFailed(unloaded) ? unloaded : ioTo->Update(pixels.data(), whole, 0);
}

// A board image laid out as inImage (size, fields, addressing, border and
// limits) and holding its pixels, pinned to inBoard.
ULMStatus MakeBoardTwin(const ULMImageBuffer* inImage, ULMLocation inBoard,
                        ReleasablePointer<ULMImageBuffer>& outTwin) {
    ULMFieldDescriptor fields[4];
    for (int c = 0; c < 4; ++c) fields[c] = inImage->GetFieldDescriptor(static_cast<ULMChannel>(c));
    outTwin.Assign(ULMImageBuffer::Create(inBoard, inImage->GetWidth(), inImage->GetHeight(), inImage->GetPixelSize(),
                                          4, fields));
    if (outTwin == nullptr) return kULMErrAlloc;
    double border[4];
    inImage->GetBorderValue(border[0], border[1], border[2], border[3]);
    ULMStatus status = outTwin->SetMigrationMode(kULMMigrationNone);
    if (status == kULMOK)
        status = outTwin->SetAddressParameters(inImage->GetAddressMode(), inImage->GetAddressParameterX(),
                                               inImage->GetAddressParameterY());
    if (status == kULMOK) status = outTwin->SetBorderValue(border[0], border[1], border[2], border[3]);
    if (status == kULMOK) status = outTwin->SetInputLimits(inImage->GetInputLimits());
    if (status == kULMOK) status = outTwin->SetOutputLimits(inImage->GetOutputLimits());
    return status == kULMOK ? CopyPixels(inImage, outTwin) : status;
}

// A caller's buffer taken in bands, one part per sub-volume (fewer where
// its rows are too few for that many); false when given and refused.
template <class Omni, class Buffer>
bool TakeBands(Omni* (*inTake)(Buffer*, int, ULMLocation, const char*), Buffer* inBuffer, int inNumber, int inParts,
               Omni*& outOmni) {
    outOmni = inTake(inBuffer, inNumber, kULMMultiBoardMode1, kWho);
    if (inBuffer == nullptr) return true;
    if (outOmni == nullptr) return false;
    int bands = inParts;
    uint32_t bandHeight = 0;
    if (ComputeBandLayout(outOmni->GetHeight(), inParts, bands, bandHeight) != kULMOK) bands = inParts;
    return ULMHasOnePartPerSubVolume(outOmni->GetNumberBuffers(), inNumber, bands, kWho);
}

// The caller's buffers in bands, in the order image 0, image 1, depth 0,
// depth 1; false at the first refused.
bool TakeBandForms(ULMImageBuffer* const (&inImages)[2], ULMDepthBuffer* const (&inDepths)[2], int inParts,
                   BandForms& outForms) {
    for (int k = 0; k < 2; ++k)
        if (!TakeBands(ULMTakeMultiboardImage, inImages[k], k, inParts, outForms.image[k])) return false;
    for (int k = 0; k < 2; ++k)
        if (!TakeBands(ULMTakeMultiboardDepth, inDepths[k], k, inParts, outForms.depth[k])) return false;
    return true;
}

}  // namespace

// The view a band could not subsample, rendered by sub-volume inCopy's copy
// of the volume alone, as one board renders it, resize and all, into board
// images that hold what the caller's images hold; the output image then
// takes back the picture, and outLimits what it got. Waits for its render:
// the picture must be read back before the call returns.
ULMStatus ULMMultiboardVolumePhase1::RenderWholeView(int inCopy, const ULMContext* inContext,
                                                     ULMImageBuffer* const inImages[2], double inNegativeDistance,
                                                     int inQuality, MPRMode inMode, bool inIsMPR,
                                                     ULMImageRange& outLimits) {
    const ULMLocation board = m_subvolume[inCopy].m_location;
    ReleasablePointer<ULMImageBuffer> twins[2];
    for (int k = 0; k < 2; ++k) {
        if (inImages[k] == nullptr) continue;
        const ULMStatus made = MakeBoardTwin(inImages[k], board, twins[k]);
        if (ULMFailed(made)) return made;
    }
    ULMVolume* copy = m_subvolume[inCopy].GetVolume();
    const ULMStatus rendered =
        (inIsMPR ? copy->StartRenderMPR(inContext, inNegativeDistance, inQuality, inMode, twins[0])
                 : copy->StartRender(inContext, twins[0], nullptr, twins[1], nullptr))
            .Wait(-1);
    if (ULMFailed(rendered)) return rendered;
    // An MPR slab's output is its one image, whatever the context names.
    ULMImageBuffer* const twin =
        inIsMPR ? twins[0].GetPointer() : GetOutputImageBuffer(inContext, twins[0].GetPointer(), twins[1].GetPointer());
    ULMImageBuffer* const output = inIsMPR ? inImages[0] : GetOutputImageBuffer(inContext, inImages[0], inImages[1]);
    if (twin == nullptr || output == nullptr) return kULMErrBuffer;
    outLimits = twin->GetOutputLimits();
    return CopyPixels(twin, output);
}

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
    // Every band renders from this one state of the context, which the
    // copies' renders take as it is.
    const ULMRenderContext renderContext(inContext);
    if (renderContext.Status() != kULMOK) return ULMSyncEvent(renderContext.Status());
    inContext = renderContext.Get();
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
    if (!TakeBandForms(images, depths, n, forms)) return ULMSyncEvent(kULMErrBuffer);

    const ULMCamera& camera = inContext->GetCamera();
    ULMImageRange area(camera.GetViewportWidth(), camera.GetViewportHeight(), camera.GetViewportOriginX(),
                       camera.GetViewportOriginY());
    ULMEventTable table;
    for (int b = 0; b < m_numberRealVolumes; ++b)
        if (KWBBoard* board = KWBBoard::GetBoard(m_subvolume[b].m_location)) table.Put(b, board->GetLastLoadEvent());
    // An MPR slab's output is its one image, whatever the context names.
    ULMOmniImageBuffer* output =
        inIsMPR ? forms.image[0] : GetOutputImageBuffer(inContext, forms.image[0], forms.image[1]);
    if (area.IsEmpty() && output != nullptr) area = WholeImage(output);
    ReleasablePointer<ULMContext> overPicture;
    if (!ViewportOverPicture(inContext, area, overPicture)) return ULMSyncEvent(kULMErrAlloc);
    if (overPicture != nullptr) inContext = overPicture;

    // No band falls back to a resize of its own: each would enlarge and
    // shrink its own piece of the view, and a narrow band cannot be shrunk
    // at all. The first band to render decides for the whole view, whose
    // one resize then stands in for the bands.
    const bool resizeWanted = gULMControl.m_resizeImage && !ULMResizeSuppression::Active();
    std::optional<ULMResizeSuppression> suppressed(std::in_place);
    bool drawn = false;
    ULMImageRange limits;
    // A perspective frame is planned once for the whole picture, each band
    // rendering its rows of it.
    std::optional<ULMImageRange> picture;
    if (output != nullptr)
        picture = ULMImageRange(static_cast<int>(output->GetWidth()), static_cast<int>(output->GetHeight()),
                                output->GetAddressParameterX(), output->GetAddressParameterY());
    const ULMSharedFramePlan plan(picture, std::nullopt);
    const auto renderBand = [&](int i, const BandTargets& band) {
        ULMVolume* copy = m_subvolume[i].GetVolume();
        return inIsMPR ? copy->StartRenderMPR(inContext, inNegativeDistance, inQuality, inMode, band.image[0])
                       : copy->StartRender(inContext, band.image[0], band.depth[0], band.image[1], band.depth[1]);
    };
    const auto limitsOf = [&](const BandTargets& band) {
        const ULMImageBuffer* bandOutput =
            inIsMPR ? band.image[0] : GetOutputImageBuffer(inContext, band.image[0], band.image[1]);
        return bandOutput != nullptr ? bandOutput->GetOutputLimits() : ULMImageRange();
    };
    bool wholeView = false;
    bool missed[kULMMaxForwardedVolumes] = {};
    ULMStatus nothingShown = kULMOK;
    for (int i = 0; i < n; ++i) {
        const BandTargets band = TargetsOf(forms, i, area);
        if (!band.Any()) continue;
        ULMSyncEvent event = renderBand(i, band);
        ULMStatus status = event.Status();
        const ULMImageRange bandLimits = limitsOf(band);
        // A band the volume leaves empty is drawn: nothing of it shows.
        const bool empty = (status == kULMErrEmptyRender || status == kULMErrArgument) && bandLimits.IsEmpty();
        if (empty) {
            if (nothingShown == kULMOK) nothingShown = status;
            missed[i] = status == kULMErrEmptyRender;
            event = ULMSyncEvent(kULMOK);
            status = kULMOK;
        }
        if (status == kULMErrCantSubsample && resizeWanted && !drawn && IsDepthTestPass(inContext) &&
            !ULMMayWriteDepth(inContext)) {
            suppressed.reset();
            const ULMStatus whole =
                RenderWholeView(i, inContext, images, inNegativeDistance, inQuality, inMode, inIsMPR, limits);
            if (ULMFailed(whole)) return ULMSyncEvent(whole);
            wholeView = true;
            break;
        }
        limits = Union(limits, bandLimits);
        if (ULMFailed(status)) return ULMSyncEvent(status);
        table.Put(m_subvolume[i].m_location, event);
        drawn = drawn || !empty;
    }
    // One board writes the whole of its frustum, where the volume shows and
    // where it does not: once the volume shows in some band, the bands it
    // misses are filled as one board fills those rows. (Perspective bands
    // are parts of one frame already.)
    if (drawn && !wholeView) {
        const ULMFillBesideVolume fill;
        for (int i = 0; i < n; ++i) {
            if (!missed[i]) continue;
            const BandTargets band = TargetsOf(forms, i, area);
            const ULMSyncEvent event = renderBand(i, band);
            if (event.Status() == kULMErrEmptyRender) continue;
            if (ULMFailed(event.Status())) return event;
            limits = Union(limits, limitsOf(band));
            table.Put(m_subvolume[i].m_location, event);
        }
    }
    // Nothing of the volume in any band: empty, as on one board, the image
    // as it was.
    if (!drawn && !wholeView) {
        if (output != nullptr) output->SetOutputLimits(ULMImageRange());
        return ULMSyncEvent(nothingShown == kULMOK ? kULMErrEmptyRender : nothingShown);
    }
    SetLastVolumeRendered(GetObjectID(), inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
    if (output != nullptr) {
        const ULMStatus set = output->SetOutputLimits(limits);
        if (ULMFailed(set)) return ULMSyncEvent(set);
    }
    return table.Join();
}

}  // namespace ulm3
