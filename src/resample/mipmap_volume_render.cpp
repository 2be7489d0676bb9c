// Mipmap level choice and render: the finest level, within the wrapper's
// range, at which one pixel step covers at most two voxels on each in-plane
// axis (what the chip can subsample) renders in the wrapper's place, with
// the crop and trims scaled into its voxels on a clone of the context. A
// level the chip still cannot subsample passes the render to the next.
//
// A coarser level's samples lie further apart along each ray; its opacity
// is corrected for the longer step by the engine, which reads the span of
// the level's voxels that generation gave it (ULMSampleSpace::SetVoxelSpan),
// so that switching levels changes detail and not brightness.
#include <algorithm>
#include <cmath>

#include "context/render_context.h"
#include "foundation/context_readers.h"
#include "foundation/diagnostics.h"
#include "foundation/sync_event.h"
#include "render/volume_render_state.h"
#include "resample/mipmap_volume.h"
#include "resample/temp_cloned_context.h"

namespace ulm3 {

namespace {

constexpr double kMaxFootprint = 2.0;  // voxels per pixel step the chip can subsample

enum class Footprint { kPasses, kTooLarge, kSingular };

// Whether one pixel step covers at most two voxels of the level on each
// in-plane axis, given the matrix from level voxels to pixels.
Footprint FootprintOf(const ULMMatrix& inLevelToPixels) {
    if (inLevelToPixels.IsSingular()) return Footprint::kSingular;
    const ULMVector4D d = inLevelToPixels.Inverse() * ULMVector4D(0, 0, 1, 0);
    const double direction[3] = {d.X(), d.Y(), d.Z()};
    int principal = 0;
    for (int a = 1; a < 3; ++a)
        if (std::fabs(direction[a]) > std::fabs(direction[principal])) principal = a;
    double sign[3];
    int parity = 1;
    for (int a = 0; a < 3; ++a) {
        sign[a] = direction[a] < 0 ? -1.0 : 1.0;
        parity *= direction[a] < 0 ? -1 : 1;
    }
    // Permuted axis 2 is the principal one; the other two follow so that
    // the permutation keeps the handedness of the signs.
    int axisOf[3];
    axisOf[2] = principal;
    for (int j = 1; j <= 2; ++j) axisOf[((j * parity + 2) % 3 + 3) % 3] = (principal + j) % 3;
    ULMMatrix p(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1);
    for (int i = 0; i < 3; ++i) p[i][axisOf[i]] = sign[axisOf[i]];
    const ULMMatrix a = inLevelToPixels * p.Inverse();
    // The image's x and y against permuted axes 0 and 1. A degenerate
    // camera makes it singular: no level passes, and nothing is reported.
    const ULMMatrix b(a[0][0], a[0][1], 0, 0, a[1][0], a[1][1], 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    if (b.IsSingular()) return Footprint::kSingular;
    const ULMMatrix f = b.Inverse();
    const double fx = std::fabs(f[0][0]) + std::fabs(f[0][1]);
    const double fy = std::fabs(f[1][0]) + std::fabs(f[1][1]);
    return fx <= kMaxFootprint && fy <= kMaxFootprint ? Footprint::kPasses : Footprint::kTooLarge;
}

// A trim max of the form n + 255/256 marks the last 1/256 before voxel
// boundary n + 1; it scales to the last 1/256 before the scaled boundary.
double ScaleTrimMax(double inMax, double inScale) {
    const double steps = std::trunc(inMax * 256.0);
    if (std::fabs(steps) < 9.0e15 && (static_cast<int64_t>(steps) & 255) == 255)
        return (inMax + 1.0 / 256.0) * inScale - 1.0 / 256.0;
    return inMax * inScale;
}

}  // namespace

int ULMMipmapVolume::ChooseMipmapLevel(const ULMContext* inContext) const {
    int minLevel = 0, maxLevel = 0;
    GetMipmapRange(minLevel, maxLevel);
    return ChooseMipmapLevel(inContext, minLevel, maxLevel);
}

int ULMMipmapVolume::ChooseMipmapLevel(const ULMContext* inContext, int inMinLevel, int inMaxLevel) const {
    // The camera is read from one state of the context, as a render reads
    // it, whatever other threads do to the application's.
    const ULMRenderContext renderContext(inContext);
    if (renderContext.Status() != kULMOK) return -1;
    inContext = renderContext.Get();
    ULMRecursiveLock hold(m_lock);
    if (m_level[0].volume == nullptr || inContext == nullptr) return -1;
    const int maxLevel = std::min(inMaxLevel, m_levelSize - 1);
    if (inMinLevel < 0 || inMinLevel > maxLevel) return -1;
    const ULMCamera& camera = inContext->GetCamera();
    int x = 0, y = 0, w = 0, h = 0;
    camera.GetViewport(x, y, w, h);
    if (w <= 0 || h <= 0) return -1;
    double nearDepth = 0, farDepth = 1;
    camera.GetDepthRange(nearDepth, farDepth);
    const ULMMatrix viewport((w - 1) / 2.0, 0, 0, (w - 1) / 2.0 + x, 0, (h - 1) / 2.0, 0, (h - 1) / 2.0 + y, 0, 0,
                             (farDepth - nearDepth) / 2, (farDepth + nearDepth) / 2, 0, 0, 0, 1);
    const ULMMatrix toPixels = viewport * camera.GetProjectionMatrix() * camera.GetViewMatrix() *
                               camera.GetModelMatrix() * m_correctionMatrix;
    if (m_autoGenerate) {
        for (int l = HighestFreshLevel(inMinLevel) + 1; l <= inMinLevel; ++l)
            ComputeLevelRange(l, l - 1, m_shrinkX, m_shrinkY, m_shrinkZ);
    }
    for (int l = inMinLevel; l <= maxLevel; ++l) {
        if (!m_autoGenerate && m_level[l].volume == nullptr) continue;
        if (m_autoGenerate && l > 0 && !IsFresh(l)) ComputeLevelRange(l, l - 1, m_shrinkX, m_shrinkY, m_shrinkZ);
        double span[3];
        VoxelSpan(m_level[l].range, span);
        const Footprint footprint = FootprintOf(toPixels * ULMMatrix::Scale(span[0], span[1], span[2]));
        if (footprint == Footprint::kSingular) return -1;
        if (footprint == Footprint::kPasses) return l;
    }
    return -1;
}

ULMSyncEvent ULMMipmapVolume::StartRender(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                          ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                          ULMDepthBuffer* ioDepth1) {
    return DoStartRenderAndMPR(inContext, ioColor0, ioDepth0, ioColor1, ioDepth1, 0.0, 1, kMPRAlpha, false);
}

ULMSyncEvent ULMMipmapVolume::StartRenderMPR(const ULMContext* inContext, double inNegativeDistance, int inQuality,
                                             MPRMode inMode, ULMImageBuffer* ioImage) {
    return DoStartRenderAndMPR(inContext, ioImage, nullptr, nullptr, nullptr, inNegativeDistance, inQuality, inMode,
                               true);
}

ULMStatus ULMMipmapVolume::Render(const ULMContext* inContext, ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0,
                                  ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1) {
    return ULMStatusOnceQueued(StartRender(inContext, ioColor0, ioDepth0, ioColor1, ioDepth1));
}

ULMStatus ULMMipmapVolume::RenderMPR(const ULMContext* inContext, double inNegativeDistance, int inQuality,
                                     MPRMode inMode, ULMImageBuffer* ioImage) {
    return ULMStatusOnceQueued(StartRenderMPR(inContext, inNegativeDistance, inQuality, inMode, ioImage));
}

ULMSyncEvent ULMMipmapVolume::RenderLevel(ULMVolume& ioLevel, const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                          ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                          ULMDepthBuffer* ioDepth1, double inNegativeDistance, int inQuality,
                                          MPRMode inMode, bool inIsMPRRender) {
    if (inIsMPRRender) return ioLevel.StartRenderMPR(inContext, inNegativeDistance, inQuality, inMode, ioColor0);
    return ioLevel.StartRender(inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
}

ULMStatus ULMMipmapVolume::ViewportForLevels(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                             ULMImageBuffer* ioColor1, bool inIsMPRRender,
                                             TempClonedContext& ioClone, const ULMContext*& outContext) {
    outContext = inContext;
    int x = 0, y = 0, w = 0, h = 0;
    inContext->GetCamera().GetViewport(x, y, w, h);
    if (w != 0 && h != 0) return kULMOK;
    ULMImageBuffer* image = inIsMPRRender ? ioColor0 : GetOutputImageBuffer(inContext, ioColor0, ioColor1);
    if (image == nullptr) return kULMErrBuffer;
    if (ioClone.CloneFromContext(inContext) == nullptr) return kULMErrAlloc;
    const bool offset = image->GetAddressMode() == kULMOffsetAddress;
    ULMCamera camera = ioClone->GetCamera();
    camera.SetViewport(offset ? image->GetAddressParameterX() : 0, offset ? image->GetAddressParameterY() : 0,
                       static_cast<int>(image->GetWidth()), static_cast<int>(image->GetHeight()));
    ioClone->SetCamera(camera);
    outContext = ioClone.Get();
    return kULMOK;
}

ULMSyncEvent ULMMipmapVolume::RenderCoarserLevels(int inChosen, ULMContext& ioClone, ULMLocation inBoard,
                                                  const LevelRender& inRender) {
    ULMCrop crop = ioClone.GetCrop();
    const bool cropped = crop.GetFlags() != 0;
    double slabs[6], trims[6];
    crop.GetSlabs(slabs[0], slabs[1], slabs[2], slabs[3], slabs[4], slabs[5]);
    ioClone.GetTrimPlanes(trims[0], trims[1], trims[2], trims[3], trims[4], trims[5]);
    bool trimmed = false;
    for (int a = 0; a < 3; ++a) {
        trimmed = trimmed || trims[2 * a] > m_range.m_origin[a] - 0.5 ||
                  trims[2 * a + 1] < m_range.m_origin[a] + m_range.m_size[a] - 0.5;
    }
    ULMSyncEvent pending(kULMErrCantSubsample);
    for (int l = inChosen; l <= m_maxLevel; ++l) {
        LevelInfo& level = m_level[l];
        if (!m_autoGenerate && level.volume == nullptr) continue;
        if (m_autoGenerate && l > 0 && !IsFresh(l)) {
            const ULMSyncEvent generated = AutoGenerateMipmapLevel(l, inBoard);
            if (ULMFailed(generated.Status())) return generated;
            level.volumeSerial = m_level[0].volumeSerial;
        }
        ULM_ASSERT(level.volume != nullptr);
        if (level.stateSerial != m_stateSerial) {
            const ULMStatus status = SetLevelState(l);
            if (ULMFailed(status)) return ULMSyncEvent(status);
        }
        ULM_ASSERT(level.stateSerial == m_stateSerial);
        double span[3];
        VoxelSpan(level.range, span);
        const double s[3] = {1.0 / span[0], 1.0 / span[1], 1.0 / span[2]};
        if (cropped) {
            crop.SetSlabs(slabs[0] * s[0], slabs[1] * s[0], slabs[2] * s[1], slabs[3] * s[1], slabs[4] * s[2],
                          slabs[5] * s[2]);
            ioClone.SetCrop(crop);
        }
        if (trimmed) {
            ioClone.SetTrimPlanes(trims[0] * s[0], ScaleTrimMax(trims[1], s[0]), trims[2] * s[1],
                                  ScaleTrimMax(trims[3], s[1]), trims[4] * s[2], ScaleTrimMax(trims[5], s[2]));
        }
        pending = inRender(*level.volume, &ioClone);
        if (pending.Status() != kULMErrCantSubsample) {
            // The render answers for the making of what it reads.
            if (l > 0) pending = ULMFollowedBy(level.generated, pending);
            break;
        }
    }
    return pending;
}

ULMSyncEvent ULMMipmapVolume::DoStartRenderAndMPR(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                                  ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                                  ULMDepthBuffer* ioDepth1, double inNegativeDistance,
                                                  int inQuality, MPRMode inMode, bool inIsMPRRender) {
    // The level is chosen by the state it is drawn with: one state of the
    // context, which the level's render and the clones below start from.
    const ULMRenderContext renderContext(inContext);
    if (inContext != nullptr) {
        if (renderContext.Status() != kULMOK) return ULMSyncEvent(renderContext.Status());
        inContext = renderContext.Get();
    }
    ULMRecursiveLock hold(m_lock);
    ULMVolume* level0 = m_level[0].volume;
    if (level0 == nullptr) return ULMSyncEvent(kULMErrVolume);
    ForgetFailedLevels();
    const LevelRender render = [&](ULMVolume& level, const ULMContext* context) {
        return RenderLevel(level, context, ioColor0, ioDepth0, ioColor1, ioDepth1, inNegativeDistance, inQuality,
                           inMode, inIsMPRRender);
    };
    // Without a context level 0 answers as the plain volume would.
    if (inContext == nullptr) return render(*level0, nullptr);

    // An empty viewport stands for the output image, whose size decides the
    // level: the clone is given it. An MPR draws into its one image.
    const ULMContext* context = inContext;
    TempClonedContext clone(nullptr);
    if (const ULMStatus s = ViewportForLevels(inContext, ioColor0, ioColor1, inIsMPRRender, clone, context);
        s != kULMOK)
        return ULMSyncEvent(s);

    int chosen = ChooseMipmapLevel(context);
    if (chosen < 0) chosen = m_maxLevel;
    ULM_ASSERT(chosen < m_levelSize);
    if (m_level[chosen].volume == nullptr && !m_autoGenerate) return ULMSyncEvent(kULMErrCantSubsample);

    const auto finish = [&](const ULMSyncEvent& inEvent) {
        if (!ULMFailed(inEvent.Status())) {
            // The image shows the wrapper, whichever level drew it.
            if (inIsMPRRender) SetLastVolumeRendered(GetObjectID(), context, ioColor0, nullptr, ioColor0, nullptr);
            else SetLastVolumeRendered(GetObjectID(), context, ioColor0, ioDepth0, ioColor1, ioDepth1);
        }
        return inEvent;
    };
    if (chosen == 0) {
        if (m_level[0].stateSerial != m_stateSerial) {
            const ULMStatus status = SetLevelState(0);
            if (ULMFailed(status)) return ULMSyncEvent(status);
        }
        const ULMSyncEvent pending = render(*level0, context);
        if (pending.Status() != kULMErrCantSubsample) return finish(pending);
    }

    if (clone.Get() == nullptr && clone.CloneFromContext(inContext) == nullptr)
        return ULMSyncEvent(kULMErrCantSubsample);
    // Level 0 goes onto a board to be resampled: the output image's, where
    // the levels it makes are then drawn, rather than any.
    ULMLocation board = kULMAnyBoard;
    ULMImageBuffer* output = inIsMPRRender ? ioColor0 : GetOutputImageBuffer(context, ioColor0, ioColor1);
    if (output != nullptr && output->GetLocation() >= kULMBoard0 && output->GetLocation() <= kULMBoard7)
        board = output->GetLocation();
    if (m_autoGenerate) {
        ULMSyncEvent failure;
        const int failed = GenerateLevels(HighestFreshLevel(chosen), chosen, board, failure);
        // Work that failed on a board is the render's failure; a level
        // that cannot be made has the render draw a finer one.
        const ULMStatus generated = failed >= 0 ? failure.Status() : kULMOK;
        if (generated == kULMErrHardware || generated == kULMErrAborted) return failure;
        if (failed >= 0) chosen = std::max(m_minLevel, failed - 1);
        ULM_ASSERT(m_maxLevel < m_levelSize);
    }
    return finish(RenderCoarserLevels(chosen, *clone.Get(), board, render));
}

}  // namespace ulm3
