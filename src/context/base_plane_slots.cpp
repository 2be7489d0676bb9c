// The base-plane slots: render into a board image laid out as a window-
// aligned base plane, unload it chained on the render, hand it over.
#include "context/base_plane_slots.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "context/context_internal.h"
#include "render/sample_space.h"
#include "ulm3/image_buffer.h"
#include "ulm3/volume.h"

namespace ulm3 {
namespace {

constexpr double kMaxImageSide = 32768.0;
constexpr unsigned kMinImageSide = 32;

unsigned ImageSide(int inBasePlaneSide) {
    unsigned side = kMinImageSide;
    while (side < static_cast<unsigned>(inBasePlaneSide)) side *= 2;
    return side;
}

double Cross(const ULMVector2D& o, const ULMVector2D& a, const ULMVector2D& b) {
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
}

// The convex hull of the projected corners, counter-clockwise, padded to
// six points with the last one; a box's silhouette has at most six.
int Hexagon(ULMVector2D ioPoints[8], ULMVector2D outHull[6]) {
    std::sort(ioPoints, ioPoints + 8, [](const ULMVector2D& a, const ULMVector2D& b) {
        return a[0] < b[0] || (a[0] == b[0] && a[1] < b[1]);
    });
    ULMVector2D hull[16];
    int n = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const int start = n;
        for (int k = 0; k < 8; ++k) {
            const ULMVector2D& p = ioPoints[pass == 0 ? k : 7 - k];
            while (n >= start + 2 && Cross(hull[n - 2], hull[n - 1], p) <= 0.0) --n;
            hull[n++] = p;
        }
        --n;  // each chain's last point starts the other
    }
    n = std::clamp(n, 1, 6);
    for (int i = 0; i < 6; ++i) outHull[i] = hull[std::min(i, n - 1)];
    return n;
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
    status = RenderClaimed(inVolume, slot);
    if (status == kULMOK) status = ReportEvents(inSlot, slot);
    SetState(inSlot, status == kULMOK ? State::kRendered : State::kFree);
    return status;
}

ULMStatus ULMBasePlaneSlots::RenderClaimed(ULMVolume* inVolume, Slot& ioSlot) {
    ULMVector2D corners[8];
    ULMStatus status = ULMSampleSpace::ProjectVolumeCorners(&m_context, inVolume, corners);
    if (status != kULMOK) return status;
    double low[2] = {corners[0][0], corners[0][1]}, high[2] = {low[0], low[1]};
    for (const ULMVector2D& c : corners) {
        for (int i = 0; i < 2; ++i) low[i] = std::min(low[i], c[i]), high[i] = std::max(high[i], c[i]);
    }
    // One pixel of margin keeps every pixel a sample can reach on the plane.
    const double origin[2] = {std::floor(low[0]) - 1.0, std::floor(low[1]) - 1.0};
    const double size[2] = {std::ceil(high[0]) + 2.0 - origin[0], std::ceil(high[1]) + 2.0 - origin[1]};
    if (!(size[0] <= kMaxImageSide && size[1] <= kMaxImageSide)) return kULMErrBasePlaneTooLarge;

    ULMBasePlaneInfo& info = ioSlot.info;
    info.basePlaneWidth = static_cast<int>(size[0]);
    info.basePlaneHeight = static_cast<int>(size[1]);
    info.imageWidth = static_cast<int>(ImageSide(info.basePlaneWidth));
    info.imageHeight = static_cast<int>(ImageSide(info.basePlaneHeight));
    info.pixelFormat = m_context.GetBasePlanePixelFormat();
    info.pixels = nullptr;
    info.numberOfVertices = Hexagon(corners, info.hexagon);
    for (int i = 0; i < 6; ++i) {
        info.texCoords[i] = ULMVector2D((info.hexagon[i][0] - origin[0]) / info.imageWidth,
                                        (info.hexagon[i][1] - origin[1]) / info.imageHeight);
    }

    bool locked = false;
    if (inVolume->GetBufferLocation() == kULMNoBufferAttached) {
        status = inVolume->LockVolume(kULMAnyBoard);
        if (status != kULMOK) return status;
        locked = true;
    }
    status = PrepareImage(inVolume, ioSlot);
    if (status == kULMOK) {
        // The window moves so that the plane's corner lands on pixel (0, 0).
        ULMCamera& camera = m_context.GetCamera();
        const ULMCamera saved = camera;
        struct Restore {
            ULMCamera& camera;
            const ULMCamera& saved;
            ~Restore() { camera = saved; }
        } restore{camera, saved};
        camera.SetViewport(saved.GetViewportOriginX() - static_cast<int>(origin[0]),
                           saved.GetViewportOriginY() - static_cast<int>(origin[1]),
                           saved.GetViewportWidth(), saved.GetViewportHeight());
        ioSlot.render = inVolume->StartRender(&m_context, ioSlot.image, nullptr, nullptr, nullptr);
        if (Failed(ioSlot.render)) status = ioSlot.render.Status();
    }
    if (status == kULMOK) {
        const ULMImageRange whole(info.imageWidth, info.imageHeight, 0, 0);
        ioSlot.unload = ioSlot.image->StartUnload(ioSlot.host.data(), whole, static_cast<unsigned>(info.imageWidth));
        if (Failed(ioSlot.unload)) status = ioSlot.unload.Status();
    }
    if (status != kULMOK && locked) {
        ioSlot.render.Wait(-1);
        inVolume->UnlockVolume(0);
    }
    return status;
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

// Made only for installed callbacks, since waiting for them costs the
// overlap of render and application.
ULMStatus ULMBasePlaneSlots::ReportEvents(int inSlot, const Slot& inSlotData) {
    if (!m_context.HasNotifyCallback(kULMEventRenderDone) && !m_context.HasNotifyCallback(kULMEventTransferDone)) {
        return kULMOK;
    }
    ULMStatus status = inSlotData.render.Wait(-1);
    if (status == kULMOK) status = m_context.GenerateEventRenderDone(inSlot);
    const ULMStatus unloaded = inSlotData.unload.Wait(-1);
    if (status == kULMOK) status = unloaded;
    if (status == kULMOK) status = m_context.GenerateEventTransferDone(inSlot);
    return status;
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
