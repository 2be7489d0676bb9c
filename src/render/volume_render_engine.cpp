// The render engine as the volume reaches it: a volume's render state, its
// render entries and its space-leaping parameters, registered with the
// volume while the library loads.
#include <memory>

#include "foundation/control.h"
#include "foundation/locks.h"
#include "render/mpr.h"
#include "render/space_leaping.h"
#include "render/volume_render.h"
#include "render/volume_render_access.h"
#include "render/volume_render_state.h"
#include "volume/volume_internal.h"
#include "volume/volume_upper_layers.h"

namespace ulm3 {

namespace {

class VolumeRenderEngine final : public ULMVolumeRenderEngine {
public:
    std::unique_ptr<ULMVolumeEngineState> MakeState() override { return std::make_unique<ULMVolumeRenderState>(); }

    ULMSyncEvent StartRender(ULMVolumeInternal& ioVolume, const ULMContext* inContext, ULMImageBuffer* ioColor0,
                             ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1) override {
        return ULMStartVolumeRender(ioVolume, inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
    }

    ULMSyncEvent StartRenderMPR(ULMVolumeInternal& ioVolume, const ULMContext* inContext, double inNegativeDistance,
                                int inQuality, ULMVolume::MPRMode inMode, ULMImageBuffer* ioImage) override {
        return ULMStartMPRRender(ioVolume, inContext, inNegativeDistance, inQuality, inMode, ioImage);
    }

    void InitializeSpaceLeaping(ULMVolumeInternal& ioVolume) override {
        ULMVolumeRenderState& state = ULMRenderStateOf(ioVolume);
        ULMScopedLock lock(state.m_lock);
        state.m_spaceLeaping = ULMSpaceLeaping();
    }

    void ClearSpaceLeaping(ULMVolumeInternal& ioVolume) override {
        ULMVolumeRenderState& state = ULMRenderStateOf(ioVolume);
        ULMScopedLock lock(state.m_lock);
        std::vector<ULMBrickValues>().swap(state.m_spaceLeaping.m_bricks);
        state.m_spaceLeaping.m_cache = ULMSpaceLeapingCache();
    }

    ULMStatus SetSpaceLeapingParameters(ULMVolumeInternal& ioVolume, ULMVolume::SpaceLeapingMode inMode,
                                        const double (&inThresholds)[4]) override {
        ULMVolumeRenderState& state = ULMRenderStateOf(ioVolume);
        ULMScopedLock lock(state.m_lock);
        return ULMSetSpaceLeapingParameters(state.m_spaceLeaping, inMode, inThresholds);
    }

    void GetSpaceLeapingParameters(const ULMVolumeInternal& inVolume, ULMVolume::SpaceLeapingMode& outMode,
                                   double (&outThresholds)[4]) override {
        ULMVolumeRenderState& state = ULMRenderStateOf(inVolume);
        ULMScopedLock lock(state.m_lock);
        const ULMSpaceLeaping& leaping = state.m_spaceLeaping;
        outMode = leaping.m_modeSet ? leaping.m_mode : gULMControl.m_spaceLeapingMode;
        for (int i = 0; i < 4; ++i) outThresholds[i] = leaping.m_thresholds[i];
    }
};

VolumeRenderEngine gEngine;
[[maybe_unused]] const bool gRegistered = (ULMRegisterVolumeRenderEngine(gEngine), true);

}  // namespace

ULMRenderCache& ULMVolumeRenderCache(const ULMVolumeInternal& inVolume) {
    return ULMRenderStateOf(inVolume).m_renderCache;
}

ULMSyncEvent& ULMVolumeLastRenderEvent(const ULMVolumeInternal& inVolume) {
    return ULMRenderStateOf(inVolume).m_lastRenderEvent;
}

}  // namespace ulm3
