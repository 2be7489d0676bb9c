// The process-wide control record: library state, boards, parameters.
#pragma once

#include <cstdint>

#include "foundation/parameters.h"
#include "ulm3/context.h"
#include "ulm3/status.h"
#include "ulm3/volume.h"

namespace ulm3 {

struct CriticalSection;
class KWBBoard;

// Settings kept per opened board.
struct ULMBoardRecord {
    uint64_t m_memorySize = 0;  // bytes of board memory
    int m_major = 0;
    int m_minor = 0;  // the board's PCI revision, at least 1 once opened
    int m_renderHangMaxZSlices = 0;
    int m_minZSupersample = 0;
    int m_maxZSupersample = 0;
};

class ULMControlInternal {
public:
    ULMControlInternal();
    ~ULMControlInternal();
    ULMControlInternal(const ULMControlInternal&) = delete;
    ULMControlInternal& operator=(const ULMControlInternal&) = delete;

    static constexpr int kMaxBoards = 8;

    // Values of the parameter RenderArea, read before any context exists.
    static constexpr int kViewport = 0;  // RenderArea
    static constexpr int kVolume = 1;

    // Parameters by number; board -1 addresses every opened board (and is
    // accepted before any board is open), board n only board n.
    void SetParameter(ParameterType type, uint64_t value, int board);
    void SetParameter(ParameterType type, const char* text, int board);
    void SetParameterDouble(ParameterType type, double value);
    uint64_t GetParameter(ParameterType type, int board) const;

    // Parameters by name, with an optional board digit after the name of a
    // per-board parameter; what ULMSetParameter and ULMGetParameter run on
    // the process-wide record.
    void SetParameterByName(const char* name, uint64_t value);
    uint64_t GetParameterByName(const char* name) const;

    // Multiboard rendering is on when it is switched on and there is
    // something to split over: forced subvolumes or at least two boards.
    void SetMultiboardRenderState();

    // Applies the ULM<name> and ULM<name><board> environment variables on top
    // of the current values; the open runs it once the boards are counted.
    void ReadEnvironmentParameters();

    // The library's open: checks the interface version, opens boards 0..7
    // until the first failure, applies the environment to the parameters
    // and takes the application's hold. Open again while open: kULMOK.
    ULMStatus Open(int major, int minor);
    // Forgets the combined events, empties the render cache and closes the
    // boards; run when the last holder goes.
    void Close();
    // Holders of the library: the application between open and ULMClose,
    // every live context and volume, and every image or depth buffer part
    // on a board.
    void IncrementObjectCount();
    void DecrementObjectCount();

    bool m_initialized = false;
    ULMErrorHandler m_baseErrorHandler;
    ULMErrorHandler* m_errorHandler = nullptr;
    bool m_ForceEpsilon = false;
    double m_epsilon = 1e-10;
    int m_compiletimeULMMajor = 0;
    int m_compiletimeULMMinor = 0;
    unsigned m_KWBBoardCount = 0;
    unsigned m_nextBoard = 0;
    int m_KWBGradientLength = 8;
    unsigned m_KWBCutPlaneCount = 4;
    ULMBoardRecord m_board[kMaxBoards];
    KWBBoard* m_KWBBoard[kMaxBoards] = {};
    CriticalSection* m_globalCriticalSection = nullptr;
    unsigned m_KWBMaxMap[3] = {4096, 4096, 4096};
    unsigned m_KWBMaxLock[3] = {4096, 4096, 4096};
    double m_defaultGradientTable[8] = {};
    int m_objectCount = 0;
    int m_shareableObjectsCreated = 0;
    int m_shareableObjectsDestroyed = 0;

    int m_mipmapNumberLevels = 33;
    int m_mipmapMinLevel = 0;
    int m_mipmapMaxLevel = 0;
    int m_mipmapMinVolumeSize = 256;
    int m_mipmapMinDimension = 12;
    int m_mipmapShrink = 50;  // percent
    ULMContext::LightMode m_lightMode = ULMContext::kBidirectionalSpecular;
    ULMVolume::SpaceLeapingMode m_spaceLeapingMode = ULMVolume::kSpaceLeapingNone;
    bool m_multiboardRenderEnableSwitch = false;  // as set
    bool m_multiboardRenderEnable = false;        // derived
    int m_multiboardRenderMode = 1;
    int m_multiboardSubvolumes = 0;
    int m_multiboardOverlap = 64;
    int m_multiboardMinVolumeSize = 256;
    int m_multiboard2ForceRender = 0;
    bool m_resizeImage = false;
    int m_renderArea = kViewport;
    bool m_traceErrors = false;
    bool m_forceSynchRender = false;
    bool m_forceSynchUpdate = false;
    bool m_forceSynchUnload = false;
    ULMContext::SpecularColorOpacityWeighting m_specularColorOpacityWeighting =
        ULMContext::kBasedOnBlendMode;
    bool m_perspectiveDoubleBuffer = true;
    bool m_perspectiveSynchronousBlend = false;
    bool m_renderToVolumeEnable = false;
    int m_renderToVolumeZSlices = 32;
    int m_fixedXYSupersampleFactor = 0;  // 0: off
    int m_fixedZSupersampleFactor = 0;   // 0: off
    bool m_simulateMap = true;
    UpdateMethod m_UpdateMethodMemory = eMethodMap;
    int m_MaxUpdateSizeMemory = 8 * 1024 * 1024;  // bytes
    UpdateMethod m_UpdateMethodSource = eMethodMap;
    int m_MaxUpdateSizeSource = 8 * 1024 * 1024;
    UpdateMethod m_UpdateMethodFile = eMethodKernel;
    int m_MaxUpdateSizeFile = 8 * 1024 * 1024;
    bool m_ReleaseTemporaryImageBuffers = false;
    bool m_MipmapMultiboard = true;
};

extern ULMControlInternal gULMControl;

}  // namespace ulm3
