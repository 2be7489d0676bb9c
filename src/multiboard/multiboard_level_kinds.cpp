// The multiboard kinds of mipmap levels: a mipmap volume whose level 0 is
// spread over the boards makes its coarser levels spread the same way,
// registered with the mipmap volume while the library loads.
#include "foundation/shareable.h"
#include "multiboard/multiboard_volume_phase1.h"
#include "multiboard/multiboard_volume_phase2.h"
#include "render/volume_render_state.h"
#include "resample/mipmap_level_kinds.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

// Opacity of a coarser level matches level 0's: each plain volume the level
// renders samples voxels inVoxelSpan voxels of level 0 apart.
void SpanVoxels(ULMVolume* inVolume, const double (&inVoxelSpan)[3]) {
    if (!IsObjectType(inVolume, kObjectTypeULMVolumeInternal)) return;
    ULMVolumeRenderState& state = ULMRenderStateOf(*static_cast<ULMVolumeInternal*>(inVolume));
    ULMScopedLock engine(state.m_lock);
    state.m_sampleSpace.SetVoxelSpan(inVoxelSpan);
}

class MultiboardLevelKinds final : public ULMMipmapLevelKinds {
public:
    int MultiboardMode(const ULMVolume& inLevel0, int& outCount) override {
        outCount = 0;
        if (IsObjectType(&inLevel0, kObjectTypeULMMultiboardVolumePhase1)) {
            outCount = static_cast<const ULMMultiboardVolumePhase1&>(inLevel0).GetNumberOfVolumes();
            return 1;
        }
        if (IsObjectType(&inLevel0, kObjectTypeULMMultiboardVolumePhase2)) {
            outCount = static_cast<const ULMMultiboardVolumePhase2&>(inLevel0).GetNumberOfVolumes();
            return 2;
        }
        return 0;
    }

    ULMVolume* MakeLevel(ULMLocation inLocation, ULMVolume* inPlain, int inCount, const ULMVolumeRange& inFullRange,
                         const double (&inVoxelSpan)[3], ULMStatus& outStatus) override {
        outStatus = kULMErrArgument;
        if (!IsObjectType(inPlain, kObjectTypeULMVolumeInternal)) return nullptr;
        ULMVolumeSource* source = static_cast<ULMVolumeInternal*>(inPlain)->GetSource();
        ULMVolume* level = nullptr;
        if (inLocation == kULMMultiBoardMode1) {
            level = ULMMultiboardVolumePhase1::Create(inPlain, source, inCount);
            if (level != nullptr) {
                const auto& copies = static_cast<const ULMMultiboardVolumePhase1&>(*level);
                for (int i = 0; i < copies.GetNumberRealVolumes(); ++i)
                    SpanVoxels(copies.GetSubvolume(i).GetVolume(), inVoxelSpan);
            }
        } else if (inLocation == kULMMultiBoardMode2) {
            // The level's bricks are laid out over level 0's whole range, so
            // that their overlap is level 0's, scaled.
            level = ULMMultiboardVolumePhase2::Create(inPlain, source, inCount, inFullRange);
            if (level != nullptr) {
                const auto& bricks = static_cast<const ULMMultiboardVolumePhase2&>(*level);
                for (int i = 0; i < bricks.GetNumberOfVolumes(); ++i)
                    SpanVoxels(bricks.Brick(i).GetVolume(), inVoxelSpan);
            }
        } else {
            return nullptr;
        }
        outStatus = level != nullptr ? kULMOK : kULMErrAlloc;
        return level;
    }
};

constinit MultiboardLevelKinds gKinds;
[[maybe_unused]] const bool gRegistered = (ULMRegisterMipmapLevelKinds(gKinds), true);

}  // namespace

}  // namespace ulm3
