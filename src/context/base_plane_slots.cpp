// The base-plane slots: render a sheared base plane into a board image,
// unload it chained on the render, hand it over with its warp.
#include "context/base_plane_slots.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "context/context_internal.h"
#include "foundation/message_log.h"
#include "foundation/shareable.h"
#include "geometry/base_plane_geometry.h"
#include "ulm3/image_buffer.h"
#include "ulm3/volume.h"

namespace ulm3 {
namespace {

constexpr unsigned kMinImageSide = 32;

unsigned ImageSide(int inBasePlaneSide) {
    unsigned side = kMinImageSide;
    while (side < static_cast<unsigned>(inBasePlaneSide)) side *= 2;
    return side;
}

double Cross(const ULMVector2D& o, const ULMVector2D& a, const ULMVector2D& b) {
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
}

// The convex hull of the box's corners in the window, counter-clockwise,
// each vertex with its place on the plane as a fraction of the image; padded
// to six with the last vertex, since a box's silhouette has at most six.
void Hexagon(const ULMBasePlaneGeometry& inGeometry, ULMBasePlaneInfo& ioInfo) {
    const ULMVector2D* points = inGeometry.window;
    int order[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    std::sort(order, order + 8, [&](int a, int b) {
        return points[a][0] < points[b][0] || (points[a][0] == points[b][0] && points[a][1] < points[b][1]);
    });
    int hull[16];
    int n = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const int start = n;
        for (int k = 0; k < 8; ++k) {
            const int i = order[pass == 0 ? k : 7 - k];
            while (n >= start + 2 && Cross(points[hull[n - 2]], points[hull[n - 1]], points[i]) <= 0.0) --n;
            hull[n++] = i;
        }
        --n;  // each chain's last point starts the other
    }
    n = std::clamp(n, 1, 6);
    ioInfo.numberOfVertices = n;
    for (int k = 0; k < 6; ++k) {
        const int i = hull[std::min(k, n - 1)];
        ioInfo.hexagon[k] = points[i];
        ioInfo.texCoords[k] = ULMVector2D(inGeometry.plane[i][0] / ioInfo.imageWidth,
                                          inGeometry.plane[i][1] / ioInfo.imageHeight);
    }
}

bool Failed(const ULMSyncEvent& inEvent) {
    const ULMStatus status = inEvent.Status();
    return status != kULMOK && status != kULMInProgress;
}

}  // namespace

ULMBasePlaneSlots::~ULMBasePlaneSlots() {
    for (Slot& slot : m_slots) {
        slot.unload.Wait(-1);
        if (slot.image != nullptr) slot.image->Release();
    }
}

ULMStatus ULMBasePlaneSlots::Claim(int inSlot, State inFirst, State inSecond, State& outWas) {
    if (inSlot < 0 || inSlot >= kSlotCount) return kULMErrArgument;
    ULMScopedLock hold(m_lock);
    State& state = m_slots[inSlot].state;
    if (state != inFirst && state != inSecond) return kULMErrArgument;
    outWas = state;
    state = State::kBusy;
    return kULMOK;
}

void ULMBasePlaneSlots::SetState(int inSlot, State inState) {
    ULMScopedLock hold(m_lock);
    m_slots[inSlot].state = inState;
}

ULMStatus ULMBasePlaneSlots::Render(ULMVolume* inVolume, int inSlot) {
    State was = State::kFree;
    ULMStatus status = inVolume != nullptr ? Claim(inSlot, State::kFree, State::kRendered, was)
                                           : kULMErrArgument;
    if (status != kULMOK) return status;
    Slot& slot = m_slots[inSlot];
    slot.unload.Wait(-1);  // an earlier transfer may still write the host buffer
    bool locked = false;
    status = RenderClaimed(inVolume, slot, locked);
    const bool report = HasReportCallbacks();
    if (status == kULMOK && report) {
        status = slot.render.Wait(-1);
        const ULMStatus unloaded = slot.unload.Wait(-1);
        if (status == kULMOK) status = unloaded;
    }
    if (status != kULMOK) {
        if (locked) {
            slot.render.Wait(-1);
            inVolume->UnlockVolume(0);
        }
        SetState(inSlot, State::kFree);
        return status;
    }
    // Rendered before the callbacks run, so that they may fetch it.
    SetState(inSlot, State::kRendered);
    if (!report) return kULMOK;
    // The status is the plane's: it is rendered and may be fetched. A
    // notice the event queue cannot take is dropped, and the log says so.
    const ULMStatus done = m_context.GenerateEventRenderDone(inSlot);
    const ULMStatus transferred = m_context.GenerateEventTransferDone(inSlot);
    if (done != kULMOK)
        ULMOutputMessage("RenderBasePlane: slot %d is rendered; its render-done event was dropped (%d)\n", inSlot,
                         static_cast<int>(done));
    if (transferred != kULMOK)
        ULMOutputMessage("RenderBasePlane: slot %d is rendered; its transfer-done event was dropped (%d)\n", inSlot,
                         static_cast<int>(transferred));
    return kULMOK;
}

ULMStatus ULMBasePlaneSlots::RenderClaimed(ULMVolume* inVolume, Slot& ioSlot, bool& outLocked) {
    ioSlot.render = ioSlot.unload = ULMSyncEvent();
    // The plane is factored and rendered from one state of the context, and
    // the render sees the plane's camera in a copy of its own: the
    // application's context keeps its camera for other threads' renders.
    ReleasablePointer<ULMContextInternal> copy(ULMContextInternal::MakeRenderCopy(m_context));
    if (copy == nullptr) return kULMErrAlloc;
    ULMBasePlaneGeometry geometry;
    ULMStatus status = ULMFactorBasePlane(copy, inVolume, geometry);
    if (status != kULMOK) return status;
    ULMBasePlaneInfo& info = ioSlot.info;
    info.basePlaneWidth = geometry.width;
    info.basePlaneHeight = geometry.height;
    info.imageWidth = static_cast<int>(ImageSide(info.basePlaneWidth));
    info.imageHeight = static_cast<int>(ImageSide(info.basePlaneHeight));
    info.pixelFormat = copy->GetBasePlanePixelFormat();
    info.pixels = nullptr;
    Hexagon(geometry, info);

    if (inVolume->GetBufferLocation() == kULMNoBufferAttached) {
        status = inVolume->LockVolume(kULMAnyBoard);
        // Another thread's base plane may have locked it in between: then it
        // has its buffer, and that thread unlocks it if its render fails.
        if (status != kULMOK && inVolume->GetBufferLocation() == kULMNoBufferAttached) return status;
        outLocked = status == kULMOK;
    }
    status = PrepareImage(inVolume, ioSlot);
    if (status != kULMOK) return status;
    copy->GetCamera() = geometry.camera;
    copy->SetBasePlaneSlot(static_cast<int>(&ioSlot - m_slots));
    ioSlot.render = inVolume->StartRender(copy, ioSlot.image, nullptr, nullptr, nullptr);
    if (Failed(ioSlot.render)) return ioSlot.render.Status();
    const ULMImageRange whole(info.imageWidth, info.imageHeight, 0, 0);
    ioSlot.unload = ioSlot.image->StartUnload(ioSlot.host.data(), whole, static_cast<unsigned>(info.imageWidth));
    return Failed(ioSlot.unload) ? ioSlot.unload.Status() : kULMOK;
}

// Reuses the slot's image while it fits the plane, the format and the board.
ULMStatus ULMBasePlaneSlots::PrepareImage(ULMVolume* inVolume, Slot& ioSlot) {
    const ULMBasePlaneInfo& info = ioSlot.info;
    ULMFieldDescriptor fields[4];
    const int bits = ULMGetPixelFormatInfo(info.pixelFormat, fields);
    const ULMLocation where = inVolume->GetBufferLocation();
    ULMImageBuffer*& image = ioSlot.image;
    if (image != nullptr) {
        bool same = image->GetLocation() == where && image->GetWidth() == static_cast<unsigned>(info.imageWidth) &&
                    image->GetHeight() == static_cast<unsigned>(info.imageHeight) &&
                    image->GetPixelSize() == static_cast<unsigned>(bits);
        for (int c = 0; c < 4 && same; ++c) same = image->GetFieldDescriptor(static_cast<ULMChannel>(c)) == fields[c];
        if (!same) image->Release(), image = nullptr;
    }
    if (image == nullptr) {
        image = ULMImageBuffer::Create(where, static_cast<unsigned>(info.imageWidth),
                                       static_cast<unsigned>(info.imageHeight), static_cast<unsigned>(bits), 4, fields);
        if (image == nullptr) return kULMErrBasePlaneAllocation;
    }
    try {
        ioSlot.host.resize(static_cast<size_t>(info.imageWidth) * static_cast<size_t>(info.imageHeight) *
                           static_cast<size_t>(bits / 8));
    } catch (const std::bad_alloc&) {
        return kULMErrBasePlaneAllocation;
    }
    return image->Clear(ULMImageRange(info.imageWidth, info.imageHeight, 0, 0), 0);
}

// Waiting for the transfer costs the overlap of render and application,
// so it is done only when someone listens.
bool ULMBasePlaneSlots::HasReportCallbacks() const {
    return m_context.HasNotifyCallback(kULMEventRenderDone) || m_context.HasNotifyCallback(kULMEventTransferDone);
}

ULMStatus ULMBasePlaneSlots::Fetch(int inSlot, ULMBasePlaneInfo& outInfo, long inMilliseconds) {
    State was = State::kFree;
    const ULMStatus claimed = Claim(inSlot, State::kRendered, State::kRendered, was);
    if (claimed != kULMOK) return claimed;
    Slot& slot = m_slots[inSlot];
    // The unload follows the render, so a finished unload leaves the
    // render's own outcome to ask without waiting.
    ULMStatus status = slot.unload.Wait(inMilliseconds);
    if (status == kULMOK) status = slot.render.Wait(0);
    if (status == kULMTimeout) {
        SetState(inSlot, State::kRendered);
        return status;
    }
    if (status != kULMOK) {
        SetState(inSlot, State::kFree);
        return status;
    }
    outInfo = slot.info;
    outInfo.pixels = slot.host.data();
    SetState(inSlot, State::kFetched);
    return kULMOK;
}

ULMStatus ULMBasePlaneSlots::Release(int inSlot) {
    State was = State::kFree;
    const ULMStatus claimed = Claim(inSlot, State::kRendered, State::kFetched, was);
    if (claimed != kULMOK) return claimed;
    m_slots[inSlot].unload.Wait(-1);
    SetState(inSlot, State::kFree);
    return kULMOK;
}

ULMStatus ULMBasePlaneSlots::RenderTo(ULMVolume* inVolume, ULMGraphicsContext* inGraphics, int inSlot) {
    if (inGraphics == nullptr) return kULMErrArgument;
    ULMStatus status = Render(inVolume, inSlot);
    ULMBasePlaneInfo info;
    if (status == kULMOK) status = Fetch(inSlot, info, -1);
    if (status != kULMOK) return status;
    status = inGraphics->DrawBasePlane(info);
    Release(inSlot);
    return status;
}

}  // namespace ulm3
