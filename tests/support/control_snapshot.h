// Saves the process-wide control record's state on construction and puts it
// back on destruction, so that a test may change boards, parameters, the
// epsilon or the error handler without leaking them into the next test.
#pragma once

#include <algorithm>
#include <iterator>

#include "foundation/control.h"

namespace ulm3::test_support {

#define ULM_CONTROL_SNAPSHOT_FIELDS(X)                                                      \
    X(m_initialized) X(m_errorHandler) X(m_ForceEpsilon) X(m_epsilon)                       \
    X(m_compiletimeULMMajor) X(m_compiletimeULMMinor) X(m_KWBBoardCount) X(m_nextBoard)     \
    X(m_objectCount) X(m_mipmapNumberLevels) X(m_mipmapMinLevel) X(m_mipmapMaxLevel)        \
    X(m_mipmapMinVolumeSize) X(m_mipmapMinDimension) X(m_mipmapShrink) X(m_lightMode)       \
    X(m_spaceLeapingMode) X(m_multiboardRenderEnableSwitch) X(m_multiboardRenderEnable)     \
    X(m_multiboardRenderMode) X(m_multiboardSubvolumes) X(m_multiboardOverlap)              \
    X(m_multiboardMinVolumeSize) X(m_multiboard2ForceRender) X(m_resizeImage)               \
    X(m_renderArea) X(m_traceErrors) X(m_forceSynchRender) X(m_forceSynchUpdate)            \
    X(m_forceSynchUnload) X(m_specularColorOpacityWeighting) X(m_perspectiveDoubleBuffer)   \
    X(m_perspectiveSynchronousBlend) X(m_renderToVolumeEnable) X(m_renderToVolumeZSlices)   \
    X(m_fixedXYSupersampleFactor) X(m_fixedZSupersampleFactor) X(m_simulateMap)             \
    X(m_UpdateMethodMemory) X(m_MaxUpdateSizeMemory) X(m_UpdateMethodSource)                \
    X(m_MaxUpdateSizeSource) X(m_UpdateMethodFile) X(m_MaxUpdateSizeFile)                   \
    X(m_ReleaseTemporaryImageBuffers) X(m_MipmapMultiboard)

#define ULM_CONTROL_SNAPSHOT_ARRAYS(X) X(m_board) X(m_KWBBoard) X(m_KWBMaxMap) X(m_KWBMaxLock)

class ControlSnapshot {
public:
    ControlSnapshot() {
        ULMControlInternal& c = gULMControl;
#define ULM_SAVE_FIELD(f) f = c.f;
#define ULM_SAVE_ARRAY(f) std::copy(std::begin(c.f), std::end(c.f), std::begin(f));
        ULM_CONTROL_SNAPSHOT_FIELDS(ULM_SAVE_FIELD)
        ULM_CONTROL_SNAPSHOT_ARRAYS(ULM_SAVE_ARRAY)
#undef ULM_SAVE_FIELD
#undef ULM_SAVE_ARRAY
    }
    ~ControlSnapshot() {
        ULMControlInternal& c = gULMControl;
#define ULM_RESTORE_FIELD(f) c.f = f;
#define ULM_RESTORE_ARRAY(f) std::copy(std::begin(f), std::end(f), std::begin(c.f));
        ULM_CONTROL_SNAPSHOT_FIELDS(ULM_RESTORE_FIELD)
        ULM_CONTROL_SNAPSHOT_ARRAYS(ULM_RESTORE_ARRAY)
#undef ULM_RESTORE_FIELD
#undef ULM_RESTORE_ARRAY
    }
    ControlSnapshot(const ControlSnapshot&) = delete;
    ControlSnapshot& operator=(const ControlSnapshot&) = delete;

private:
#define ULM_DECLARE_FIELD(f) decltype(ULMControlInternal::f) f{};
        ULM_CONTROL_SNAPSHOT_FIELDS(ULM_DECLARE_FIELD) ULM_CONTROL_SNAPSHOT_ARRAYS(ULM_DECLARE_FIELD)
#undef ULM_DECLARE_FIELD
};

#undef ULM_CONTROL_SNAPSHOT_FIELDS
#undef ULM_CONTROL_SNAPSHOT_ARRAYS

}  // namespace ulm3::test_support
