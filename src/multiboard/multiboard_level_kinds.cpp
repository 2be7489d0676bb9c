// The multiboard kinds of mipmap levels: how a mipmap volume whose level 0
// is a multiboard volume tells so, and makes its coarser levels of the same
// kind, registered with the mipmap volume while the library loads.
#include "foundation/shareable.h"
#include "multiboard/multiboard_copy_access.h"
#include "multiboard/multiboard_volume_phase1.h"
#include "multiboard/multiboard_volume_phase2.h"
#include "render/volume_render_state.h"
#include "resample/mipmap_level_kinds.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

// A coarser level's plain volume samples voxels inVoxelSpan voxels of level
// 0 apart, and corrects its opacity for it.
void SpanVoxels(ULMVolume* inVolume, const double (&inVoxelSpan)[3]) {
    ULMVolumeInternal* plain = ULMPlainVolumeOf(inVolume, false);
    if (plain == nullptr) return;
    ULMVolumeRenderState& state = ULMRenderStateOf(*plain);
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

    // A level has as many sub-volumes as level 0, so that the images made
    // for one serve the other. A phase-1 level's copies after the first (the
    // plain volume it was made over) sample as coarsely as that one; a
    // bricked level's bricks are laid out over level 0's whole range, so
    // that their overlap is level 0's scaled, and each samples as coarsely.
    ULMVolume* MakeLevel(ULMLocation inLocation, ULMVolume* inPlain, int inCount, const ULMVolumeRange& inFullRange,
                         const double (&inVoxelSpan)[3], ULMStatus& outStatus) override {
        ULMVolumeInternal* plain = ULMPlainVolumeOf(inPlain, false);
        if ((inLocation != kULMMultiBoardMode1 && inLocation != kULMMultiBoardMode2) || plain == nullptr) {
            outStatus = kULMErrUnimplemented;
            return nullptr;
        }
        ULMVolume* made = nullptr;
        if (inLocation == kULMMultiBoardMode1) {
            made = ULMMultiboardVolumePhase1::Create(plain, plain->GetSource(), inCount);
            if (made != nullptr) {
                const auto* level = static_cast<const ULMMultiboardVolumePhase1*>(made);
                for (int i = 1; i < level->GetNumberRealVolumes(); ++i)
                    SpanVoxels(level->GetSubvolume(i).GetVolume(), inVoxelSpan);
            }
        } else {
            made = ULMMultiboardVolumePhase2::Create(plain, plain->GetSource(), inCount, inFullRange);
            if (made != nullptr) {
                const auto* level = static_cast<const ULMMultiboardVolumePhase2*>(made);
                for (int i = 0; i < level->GetNumberOfVolumes(); ++i)
                    SpanVoxels(level->Brick(i).GetVolume(), inVoxelSpan);
            }
        }
        outStatus = made != nullptr ? kULMOK : kULMErrAlloc;
        return made;
    }
};

constinit MultiboardLevelKinds gLevelKinds;
[[maybe_unused]] const bool gRegistered = (ULMRegisterMipmapLevelKinds(gLevelKinds), true);

}  // namespace

}  // namespace ulm3
