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
    ULMSyncEvent moved;  // the work that took them into bands
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
bool TakeBands(Omni* (*inTake)(Buffer*, int, ULMLocation, const char*, ULMSyncEvent&), Buffer* inBuffer,
               int inNumber, int inParts, Omni*& outOmni, ULMSyncEvent& ioMoved) {
    outOmni = inTake(inBuffer, inNumber, kULMMultiBoardMode1, kWho, ioMoved);
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
        if (!TakeBands(ULMTakeMultiboardImage, inImages[k], k, inParts, outForms.image[k], outForms.moved))
            return false;
    for (int k = 0; k < 2; ++k)
        if (!TakeBands(ULMTakeMultiboardDepth, inDepths[k], k, inParts, outForms.depth[k], outForms.moved))
            return false;
    return true;
}

// The viewport the camera renders, where it names one.
ULMImageRange ViewportOf(const ULMCamera& inCamera) {
    return ULMImageRange(inCamera.GetViewportWidth(), inCamera.GetViewportHeight(), inCamera.GetViewportOriginX(),
                         inCamera.GetViewportOriginY());
}

// The whole output image as the render reads it (WholeImage).
ULMImageRange PictureOf(const ULMOmniImageBuffer* inOutput) { return WholeImage(inOutput); }

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

// What the caller asked a render or an MPR render for, through the
// render's own copy of the context.
struct BandRequest {
    const ULMContext* context = nullptr;
    ULMImageBuffer* images[2] = {};
    ULMDepthBuffer* depths[2] = {};
    double negativeDistance = 0.0;
    int quality = 1;
    ULMVolume::MPRMode mode = ULMVolume::kMPRAlpha;
    bool isMPR = false;
};

// What the bands started so far gathered: the events to join (each copy's
// board's last load first), the output limits they got, whether the volume
// showed in one of them and what the first it missed answered, the bands it
// missed, and whether the whole view's one resize stood in for them all.
struct BandResults {
    ULMEventTable table;
    ULMImageRange limits;
    bool drawn = false;
    ULMStatus nothingShown = kULMOK;
    bool wholeView = false;
    bool missed[kULMMaxForwardedVolumes] = {};
};

// One render's bands: each sub-volume's copy renders the bands of the
// caller's buffers that meet the area.
class BandRenders {
public:
    BandRenders(ULMMultiboardVolumePhase1& inVolume, const BandRequest& inRequest, const BandForms& inForms,
                const ULMImageRange& inArea)
        : m_volume(inVolume), m_request(inRequest), m_forms(inForms), m_area(inArea) {}

    // Starts every band that meets the area, in order, unless the first to
    // render cannot subsample and the whole view's resize stands in for
    // them; the status that ends the call, the bands already started going
    // on.
    ULMStatus StartAll(bool inResizeWanted, std::optional<ULMResizeSuppression>& ioSuppressed,
                       BandResults& ioResults) const {
        const ULMContext* context = m_request.context;
        for (int i = 0; i < m_volume.GetNumberOfVolumes(); ++i) {
            const BandTargets band = TargetsOf(m_forms, i, m_area);
            if (!band.Any()) continue;
            ULMSyncEvent event = Start(i, band);
            ULMStatus status = event.Status();
            const ULMImageRange bandLimits = LimitsOf(band);
            // A band the volume leaves empty is drawn: nothing of it shows.
            const bool empty = (status == kULMErrEmptyRender || status == kULMErrArgument) && bandLimits.IsEmpty();
            if (empty) {
                if (ioResults.nothingShown == kULMOK) ioResults.nothingShown = status;
                ioResults.missed[i] = status == kULMErrEmptyRender;
                event = ULMSyncEvent(kULMOK);
                status = kULMOK;
            }
            if (status == kULMErrCantSubsample && inResizeWanted && !ioResults.drawn && IsDepthTestPass(context) &&
                !ULMMayWriteDepth(context)) {
                ioSuppressed.reset();
                const ULMStatus whole = m_volume.RenderWholeView(i, context, m_request.images,
                                                                 m_request.negativeDistance, m_request.quality,
                                                                 m_request.mode, m_request.isMPR, ioResults.limits);
                if (ULMFailed(whole)) return whole;
                ioResults.wholeView = true;
                break;
            }
            ioResults.limits = Union(ioResults.limits, bandLimits);
            if (ULMFailed(status)) return status;
            ioResults.table.Put(m_volume.GetSubvolume(i).m_location, event);
            ioResults.drawn = ioResults.drawn || !empty;
        }
        return kULMOK;
    }

    // One board writes the whole of its frustum, where the volume shows and
    // where it does not: once the volume shows in some band, the bands it
    // misses are filled as one board fills those rows. (Perspective bands
    // are parts of one frame already.) The answer of the call when a fill
    // fails at its start.
    std::optional<ULMSyncEvent> FillMissed(BandResults& ioResults) const {
        const ULMFillBesideVolume fill;
        for (int i = 0; i < m_volume.GetNumberOfVolumes(); ++i) {
            if (!ioResults.missed[i]) continue;
            const BandTargets band = TargetsOf(m_forms, i, m_area);
            const ULMSyncEvent event = Start(i, band);
            if (event.Status() == kULMErrEmptyRender) continue;
            if (ULMFailed(event.Status())) return event;
            ioResults.limits = Union(ioResults.limits, LimitsOf(band));
            ioResults.table.Put(m_volume.GetSubvolume(i).m_location, event);
        }
        return std::nullopt;
    }

private:
    // Band inBand rendered by its sub-volume's copy.
    ULMSyncEvent Start(int inBand, const BandTargets& inTargets) const {
        ULMVolume* copy = m_volume.GetSubvolume(inBand).GetVolume();
        const BandRequest& asked = m_request;
        return asked.isMPR ? copy->StartRenderMPR(asked.context, asked.negativeDistance, asked.quality, asked.mode,
                                                  inTargets.image[0])
                           : copy->StartRender(asked.context, inTargets.image[0], inTargets.depth[0],
                                               inTargets.image[1], inTargets.depth[1]);
    }
    // The output limits a band got, where its output image is given (an
    // MPR's is its one image).
    ULMImageRange LimitsOf(const BandTargets& inTargets) const {
        const ULMImageBuffer* output =
            m_request.isMPR ? inTargets.image[0]
                            : GetOutputImageBuffer(m_request.context, inTargets.image[0], inTargets.image[1]);
        return output != nullptr ? output->GetOutputLimits() : ULMImageRange();
    }

    ULMMultiboardVolumePhase1& m_volume;
    const BandRequest& m_request;
    const BandForms& m_forms;
    const ULMImageRange m_area;
};

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
    BandRequest request{inContext, {ioColor0, ioColor1}, {ioDepth0, ioDepth1}, inNegativeDistance, inQuality,
                        inMode, inIsMPR};
    ULMRecursiveLock hold(m_lock);
    if (!IsLocked()) {
        const ULMStatus locked = LockVolume(kULMAnyBoard);
        if (ULMFailed(locked)) return ULMSyncEvent(locked);
    }
    if (const ULMStatus caught = CatchUpWithSource(); ULMFailed(caught)) return ULMSyncEvent(caught);
    // Bands read from every copy: a write that parted them is made whole
    // first.
    SettleWrites();

    BandForms forms;
    if (!TakeBandForms(request.images, request.depths, m_numberSubVolumes, forms)) return ULMSyncEvent(kULMErrBuffer);
    ULMImageRange area = ViewportOf(inContext->GetCamera());
    BandResults results;
    for (int b = 0; b < m_numberRealVolumes; ++b)
        if (KWBBoard* board = KWBBoard::GetBoard(m_subvolume[b].m_location))
            results.table.Put(b, board->GetLastLoadEvent());
    // An MPR slab's output is its one image, whatever the context names.
    ULMOmniImageBuffer* output =
        inIsMPR ? forms.image[0] : GetOutputImageBuffer(inContext, forms.image[0], forms.image[1]);
    if (area.IsEmpty() && output != nullptr) area = PictureOf(output);
    ReleasablePointer<ULMContext> overPicture;
    if (!ViewportOverPicture(inContext, area, overPicture)) return ULMSyncEvent(kULMErrAlloc);
    if (overPicture != nullptr) request.context = inContext = overPicture;

    // No band falls back to a resize of its own: each would enlarge and
    // shrink its own piece of the view, and a narrow band cannot be shrunk
    // at all. The first band to render decides for the whole view, whose
    // one resize then stands in for the bands.
    const bool resizeWanted = gULMControl.m_resizeImage && !ULMResizeSuppression::Active();
    std::optional<ULMResizeSuppression> suppressed(std::in_place);
    // A perspective frame is planned once for the whole picture, each band
    // rendering its rows of it.
    std::optional<ULMImageRange> picture;
    if (output != nullptr) picture = PictureOf(output);
    const ULMSharedFramePlan plan(picture, std::nullopt);
    BandRenders bands(*this, request, forms, area);
    if (const ULMStatus started = bands.StartAll(resizeWanted, suppressed, results); ULMFailed(started))
        return ULMSyncEvent(started);
    if (results.drawn && !results.wholeView)
        if (const std::optional<ULMSyncEvent> refused = bands.FillMissed(results)) return *refused;
    // Nothing of the volume in any band: empty, as on one board, the image
    // as it was.
    if (!results.drawn && !results.wholeView) {
        if (output != nullptr) output->SetOutputLimits(ULMImageRange());
        return ULMSyncEvent(results.nothingShown == kULMOK ? kULMErrEmptyRender : results.nothingShown);
    }
    SetLastVolumeRendered(GetObjectID(), inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
    if (output != nullptr) {
        const ULMStatus set = output->SetOutputLimits(results.limits);
        if (ULMFailed(set)) return ULMSyncEvent(set);
    }
    return ULMFollowedBy(forms.moved, results.table.Join());
}

}  // namespace ulm3
