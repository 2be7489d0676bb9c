// The multiboard kinds of mipmap levels: how a mipmap volume whose level 0
// is a multiboard volume tells so, and makes its coarser levels of the same
// kind, registered with the mipmap volume while the library loads.
#include "foundation/shareable.h"
#include "multiboard/multiboard_copy_access.h"
#include "multiboard/multiboard_volume_phase1.h"
#include "render/volume_render_state.h"
#include "resample/mipmap_level_kinds.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

class MultiboardLevelKinds final : public ULMMipmapLevelKinds {
public:
    int MultiboardMode(const ULMVolume& inLevel0, int& outCount) override {
        outCount = 0;
        if (!IsObjectType(&inLevel0, kObjectTypeULMMultiboardVolumePhase1)) return 0;
        outCount = static_cast<const ULMMultiboardVolumePhase1&>(inLevel0).GetNumberOfVolumes();
        return 1;
    }

    // A phase-1 level has as many sub-volumes as level 0, so that the
    // images banded for one are banded for the other; each of its copies
    // samples as coarsely as the plain volume it was made over.
    ULMVolume* MakeLevel(ULMLocation inLocation, ULMVolume* inPlain, int inCount, const ULMVolumeRange&,
                         const double (&inVoxelSpan)[3], ULMStatus& outStatus) override {
        ULMVolumeInternal* plain = ULMPlainVolumeOf(inPlain, false);
        if (inLocation != kULMMultiBoardMode1 || plain == nullptr) {
            outStatus = kULMErrUnimplemented;
            return nullptr;
        }
        ULMVolume* made = ULMMultiboardVolumePhase1::Create(plain, plain->GetSource(), inCount);
        if (made == nullptr) {
            outStatus = kULMErrAlloc;
            return nullptr;
        }
        const auto* level = static_cast<const ULMMultiboardVolumePhase1*>(made);
        for (int i = 1; i < level->GetNumberRealVolumes(); ++i) {
            ULMVolumeInternal* copy = ULMPlainVolumeOf(level->GetSubvolume(i).GetVolume(), false);
            if (copy == nullptr) continue;
            ULMVolumeRenderState& state = ULMRenderStateOf(*copy);
            ULMScopedLock engine(state.m_lock);
            state.m_sampleSpace.SetVoxelSpan(inVoxelSpan);
        }
        outStatus = kULMOK;
        return made;
    }
};

constinit MultiboardLevelKinds gLevelKinds;
[[maybe_unused]] const bool gRegistered = (ULMRegisterMipmapLevelKinds(gLevelKinds), true);

}  // namespace

}  // namespace ulm3
