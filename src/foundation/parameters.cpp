// The configuration parameters: their table, the rule of each one when it is
// set, reading them back, the name lookup and the environment pass.
#include "foundation/parameters.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "foundation/control.h"
#include "ulm3/library.h"

namespace ulm3 {

namespace {

// How the environment text of a parameter is read.
enum ParameterKind : int {
    kKindNone = 0,  // not read from the environment
    kKindFlag = 1,
    kKindInteger = 2,
    kKindDouble = 3,
    kKindText = 4,
};

struct ParameterInfo {
    ParameterType type;
    int kind;
    bool settable;  // by ULMSetParameter
    bool perBoard;
    const char* name;
    const char* environmentName;
};

#define ULM_PARAMETER(type, kind, settable, perBoard, name) \
    { type, kind, settable, perBoard, name, "ULM" name }

// The order is the order of the environment pass and of the name search:
// MipmapMaxLevel comes before MipmapMinLevel so that the minimum is clamped
// to the new maximum, and ForceEpsilon before Epsilon so that it wins.
const ParameterInfo sParameterInfo[] = {
    ULM_PARAMETER(eMaxLockSize, kKindNone, true, false, "MaxLockSize"),
    ULM_PARAMETER(eMipmapMaxLevel, kKindInteger, true, false, "MipmapMaxLevel"),
    ULM_PARAMETER(eMipmapMinLevel, kKindInteger, true, false, "MipmapMinLevel"),
    ULM_PARAMETER(eMipmapMinVolumeSize, kKindInteger, true, false, "MipmapMinVolumeSize"),
    ULM_PARAMETER(eMipmapMinDimension, kKindInteger, true, false, "MipmapMinDimension"),
    ULM_PARAMETER(eMipmapShrinkFactor, kKindInteger, true, false, "MipmapShrinkFactor"),
    ULM_PARAMETER(eMipmapNumberLevels, kKindInteger, true, false, "MipmapNumberLevels"),
    ULM_PARAMETER(eMultiboardForceNumberOfVolumes, kKindInteger, true, false,
                  "MultiboardForceNumberOfVolumes"),
    ULM_PARAMETER(eMultiboardRenderEnable, kKindFlag, true, false, "MultiboardRenderEnable"),
    ULM_PARAMETER(eMultiboardEnable, kKindFlag, true, false, "MultiboardEnable"),
    ULM_PARAMETER(eMultiboardRenderMode, kKindInteger, true, false, "MultiboardRenderMode"),
    ULM_PARAMETER(eMultiboardOverlap, kKindInteger, true, false, "MultiboardOverlap"),
    ULM_PARAMETER(eMultiboardMinVolumeSize, kKindInteger, true, false, "MultiboardMinVolumeSize"),
    ULM_PARAMETER(eMultiboard2ForceRender, kKindInteger, true, false, "Multiboard2ForceRender"),
    ULM_PARAMETER(eMipmapMultiboard, kKindFlag, true, false, "MipmapMultiboard"),
    ULM_PARAMETER(eRenderHangMaxZSlices, kKindInteger, true, true, "RenderHangMaxZSlices"),
    ULM_PARAMETER(eMaxZSupersample, kKindInteger, true, true, "MaxZSupersample"),
    ULM_PARAMETER(eMinZSupersample, kKindInteger, true, true, "MinZSupersample"),
    ULM_PARAMETER(eResizeImage, kKindFlag, true, false, "ResizeImage"),
    ULM_PARAMETER(eRenderArea, kKindNone, true, false, "RenderArea"),
    ULM_PARAMETER(eLightMode, kKindInteger, true, false, "LightMode"),
    ULM_PARAMETER(eSpecularColorOpacityWeighting, kKindInteger, true, false,
                  "SpecularColorOpacityWeighting"),
    ULM_PARAMETER(eForceSynchronousRender, kKindFlag, true, false, "ForceSynchronousRender"),
    ULM_PARAMETER(eForceSynchronousUpdate, kKindFlag, true, false, "ForceSynchronousUpdate"),
    ULM_PARAMETER(eForceSynchronousUnload, kKindFlag, true, false, "ForceSynchronousUnload"),
    ULM_PARAMETER(eReleaseTemporaryImageBuffers, kKindFlag, true, false,
                  "ReleaseTemporaryImageBuffers"),
    ULM_PARAMETER(eBoardMinorVersion, kKindNone, false, true, "BoardMinorVersion"),
    ULM_PARAMETER(eBoardVersion, kKindNone, false, true, "BoardVersion"),
    ULM_PARAMETER(ePerspectiveEnabled, kKindNone, false, false, "PerspectiveEnabled"),
    ULM_PARAMETER(ePerspectiveDoubleBuffer, kKindFlag, true, false, "PerspectiveDoubleBuffer"),
    ULM_PARAMETER(ePerspectiveSynchronousBlend, kKindFlag, true, false,
                  "PerspectiveSynchronousBlend"),
    ULM_PARAMETER(eRenderToVolumeEnable, kKindFlag, true, false, "RenderToVolumeEnable"),
    ULM_PARAMETER(eRenderToVolumeZSlices, kKindInteger, true, false, "RenderToVolumeZSlices"),
    ULM_PARAMETER(eTraceErrors, kKindFlag, true, false, "TraceErrors"),
    ULM_PARAMETER(eFixedXYSupersampleFactor, kKindInteger, false, false,
                  "FixedXYSupersampleFactor"),
    ULM_PARAMETER(eFixedZSupersampleFactor, kKindInteger, false, false, "FixedZSupersampleFactor"),
    ULM_PARAMETER(eSimulateMap, kKindFlag, true, false, "SimulateMap"),
    ULM_PARAMETER(eSpaceLeapingMode, kKindInteger, true, false, "SpaceLeapingMode"),
    ULM_PARAMETER(eUpdateMethodMemory, kKindInteger, true, false, "UpdateMethodMemory"),
    ULM_PARAMETER(eMaxUpdateSizeMemory, kKindInteger, true, false, "MaxUpdateSizeMemory"),
    ULM_PARAMETER(eUpdateMethodSource, kKindInteger, true, false, "UpdateMethodSource"),
    ULM_PARAMETER(eMaxUpdateSizeSource, kKindInteger, true, false, "MaxUpdateSizeSource"),
    ULM_PARAMETER(eUpdateMethodFile, kKindInteger, true, false, "UpdateMethodFile"),
    ULM_PARAMETER(eMaxUpdateSizeFile, kKindInteger, true, false, "MaxUpdateSizeFile"),
    ULM_PARAMETER(eDebugFileName, kKindText, false, false, "DebugFileName"),
    ULM_PARAMETER(eForceEpsilon, kKindDouble, false, false, "ForceEpsilon"),
    ULM_PARAMETER(eEpsilon, kKindDouble, false, false, "Epsilon"),
};

#undef ULM_PARAMETER

static_assert(sizeof(sParameterInfo) / sizeof(sParameterInfo[0]) == 47);

constexpr uint64_t kAllOnes = ~uint64_t{0};

// The board count bounds every index into the board records.
unsigned OpenedBoards(const ULMControlInternal& control) {
    const unsigned max = ULMControlInternal::kMaxBoards;
    return control.m_KWBBoardCount < max ? control.m_KWBBoardCount : max;
}

int Clamp(int32_t v, int32_t low, int32_t high) { return v < low ? low : (v > high ? high : v); }

uint64_t SignExtend(int32_t v) { return static_cast<uint64_t>(static_cast<int64_t>(v)); }
uint64_t ZeroExtend(int32_t v) { return static_cast<uint64_t>(static_cast<uint32_t>(v)); }

// Stores a value and tells whether the field really changed.
template <class T>
bool Store(T& field, T value) {
    if (field == value) return false;
    field = value;
    return true;
}

// Update sizes are given in MiB and kept in bytes, 1 MiB to 128 MiB. The
// clamp comes before the shift: shifting first would overflow 32 bits from
// 2048 MiB on and turn a large request into an arbitrary size.
int UpdateSizeInBytes(int32_t megabytes) { return Clamp(megabytes, 1, 128) << 20; }

// The board digit right after a per-board parameter's name, or -1 when the
// name does not go on with the number of an opened board.
int BoardDigit(const char* name, const char* rowName, unsigned boardCount) {
    const size_t length = std::strlen(rowName);
    if (std::strncmp(name, rowName, length) != 0) return -1;
    const int digit = name[length] - '0';
    return digit >= 0 && digit < static_cast<int>(boardCount) ? digit : -1;
}

// Environment texts come from outside the program: they are read the way
// atoi and atof read them, except that numbers too large for a parameter
// saturate instead of being undefined, and a double that is not finite is no
// value at all.
bool ParseFlag(const char* text) {
    const char c = text[0];
    return c == 'y' || c == 'Y' || c == 't' || c == 'T' || c == '1';
}

int32_t ParseInteger(const char* text) {
    const long long value = std::strtoll(text, nullptr, 10);
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

bool ParseDouble(const char* text, double& value) {
    value = std::strtod(text, nullptr);
    return std::isfinite(value);
}

}  // namespace

void ULMControlInternal::SetMultiboardRenderState() {
    m_multiboardRenderEnable =
        m_multiboardRenderEnableSwitch && (m_multiboardSubvolumes >= 1 || m_KWBBoardCount >= 2);
}

void ULMControlInternal::SetParameter(ParameterType type, uint64_t value, int board) {
    const unsigned boards = OpenedBoards(*this);
    if (board >= static_cast<int>(boards)) return;
    // Integer parameters take the low 32 bits as a signed number; flags look
    // at all 64.
    const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(value));
    const bool flag = value != 0;

    // A per-board parameter is written to one board, or to every opened
    // board for a negative board number.
    auto setPerBoard = [&](int ULMBoardRecord::* field, int newValue) {
        if (board >= 0) {
            m_board[board].*field = newValue;
        } else {
            for (unsigned b = 0; b < boards; ++b) m_board[b].*field = newValue;
        }
    };

    switch (type) {
    case eMaxLockSize:
        for (unsigned& extent : m_KWBMaxLock) extent = static_cast<uint32_t>(v);
        break;
    case eMipmapMaxLevel:
        m_mipmapMaxLevel = Clamp(v, 0, 32);
        if (m_mipmapMinLevel > m_mipmapMaxLevel) m_mipmapMinLevel = m_mipmapMaxLevel;
        break;
    case eMipmapMinLevel:
        m_mipmapMinLevel = Clamp(v, 0, m_mipmapMaxLevel);
        break;
    case eMipmapMinVolumeSize:
        m_mipmapMinVolumeSize = v < 1 ? 1 : v;
        break;
    case eMipmapMinDimension:
        m_mipmapMinDimension = v < 12 ? 12 : v;
        break;
    case eMipmapShrinkFactor:
        m_mipmapShrink = Clamp(v, 50, 99);
        break;
    case eMipmapNumberLevels:
        m_mipmapNumberLevels = Clamp(v, 2, 65);
        break;
    case eMultiboardForceNumberOfVolumes:
        if (Store(m_multiboardSubvolumes, Clamp(v, 0, 8))) SetMultiboardRenderState();
        break;
    case eMultiboardRenderEnable:
        if (Store(m_multiboardRenderEnableSwitch, flag)) SetMultiboardRenderState();
        break;
    case eMultiboardRenderMode:
        if (Store(m_multiboardRenderMode, Clamp(v, 1, 2))) SetMultiboardRenderState();
        break;
    case eMultiboardOverlap:
        // Bricks overlap by whole voxel pairs.
        m_multiboardOverlap = Clamp(v, 2, 16384) & ~1;
        break;
    case eMultiboardMinVolumeSize:
        m_multiboardMinVolumeSize = Clamp(v, 2, 16384);
        break;
    case eMultiboard2ForceRender:
        m_multiboard2ForceRender = v;
        SetMultiboardRenderState();
        break;
    case eMipmapMultiboard:
        m_MipmapMultiboard = flag;
        break;
    case eRenderHangMaxZSlices:
        setPerBoard(&ULMBoardRecord::m_renderHangMaxZSlices, Clamp(v, 0, 100000000));
        break;
    case eMaxZSupersample:
        setPerBoard(&ULMBoardRecord::m_maxZSupersample, Clamp(v, 1, 16));
        break;
    case eMinZSupersample:
        setPerBoard(&ULMBoardRecord::m_minZSupersample, Clamp(v, 1, 16));
        break;
    case eFixedXYSupersampleFactor:
        m_fixedXYSupersampleFactor = v == 0 ? 0 : Clamp(v, 1, 16);
        break;
    case eFixedZSupersampleFactor:
        m_fixedZSupersampleFactor = v == 0 ? 0 : Clamp(v, 1, 16);
        break;
    case eResizeImage:
        m_resizeImage = flag;
        break;
    case eRenderArea:
        if (v == kViewport || v == kVolume) m_renderArea = v;
        break;
    case eLightMode:
        m_lightMode = static_cast<ULMContext::LightMode>(
            Clamp(v, ULMContext::kBidirectionalSpecular, ULMContext::kUnidirectional));
        break;
    case eSpecularColorOpacityWeighting:
        if (v >= ULMContext::kDisabled && v <= ULMContext::kBasedOnBlendMode)
            m_specularColorOpacityWeighting = static_cast<ULMContext::SpecularColorOpacityWeighting>(v);
        break;
    case ePerspectiveDoubleBuffer:
        m_perspectiveDoubleBuffer = flag;
        break;
    case ePerspectiveSynchronousBlend:
        m_perspectiveSynchronousBlend = flag;
        break;
    case eRenderToVolumeEnable:
        m_renderToVolumeEnable = flag;
        break;
    case eRenderToVolumeZSlices:
        m_renderToVolumeZSlices = Clamp(v, 0, 100000000);
        break;
    case eSimulateMap:
        m_simulateMap = flag;
        break;
    case eSpaceLeapingMode:
        m_spaceLeapingMode = static_cast<ULMVolume::SpaceLeapingMode>(
            Clamp(v, ULMVolume::kSpaceLeapingNone, ULMVolume::kSpaceLeapingOn));
        break;
    case eUpdateMethodMemory:
        m_UpdateMethodMemory = static_cast<UpdateMethod>(Clamp(v, eMethodMin, eMethodMax));
        break;
    case eMaxUpdateSizeMemory:
        m_MaxUpdateSizeMemory = UpdateSizeInBytes(v);
        break;
    case eUpdateMethodSource:
        m_UpdateMethodSource = static_cast<UpdateMethod>(Clamp(v, eMethodMin, eMethodMax));
        break;
    case eMaxUpdateSizeSource:
        m_MaxUpdateSizeSource = UpdateSizeInBytes(v);
        break;
    case eUpdateMethodFile:
        m_UpdateMethodFile = static_cast<UpdateMethod>(Clamp(v, eMethodMin, eMethodMax));
        break;
    case eMaxUpdateSizeFile:
        m_MaxUpdateSizeFile = UpdateSizeInBytes(v);
        break;
    case eForceSynchronousRender:
        m_forceSynchRender = flag;
        break;
    case eForceSynchronousUpdate:
        m_forceSynchUpdate = flag;
        break;
    case eForceSynchronousUnload:
        m_forceSynchUnload = flag;
        break;
    case eReleaseTemporaryImageBuffers:
        m_ReleaseTemporaryImageBuffers = flag;
        break;
    case eTraceErrors:
        m_traceErrors = flag;
        break;
    default:
        // Read-only rows, the epsilon pair (set as doubles) and the debug
        // file name have no integer rule.
        break;
    }
}

void ULMControlInternal::SetParameter(ParameterType, const char*, int) {}

void ULMControlInternal::SetParameterDouble(ParameterType type, double value) {
    if (!(value > 0)) return;
    if (type == eForceEpsilon) {
        m_ForceEpsilon = true;
        m_epsilon = value;
    } else if (type == eEpsilon && !m_ForceEpsilon) {
        m_epsilon = value;
    }
}

uint64_t ULMControlInternal::GetParameter(ParameterType type, int board) const {
    const unsigned boards = OpenedBoards(*this);
    if (board >= static_cast<int>(boards)) return 0;
    const ULMBoardRecord& record = m_board[board < 0 ? 0 : board];
    switch (type) {
    case eMaxLockSize: return m_KWBMaxLock[0];
    case eMipmapMaxLevel: return SignExtend(m_mipmapMaxLevel);
    case eMipmapMinLevel: return SignExtend(m_mipmapMinLevel);
    case eMipmapMinVolumeSize: return SignExtend(m_mipmapMinVolumeSize);
    case eMipmapMinDimension: return SignExtend(m_mipmapMinDimension);
    case eMipmapShrinkFactor: return SignExtend(m_mipmapShrink);
    case eMipmapNumberLevels: return SignExtend(m_mipmapNumberLevels);
    case eMultiboardForceNumberOfVolumes: return SignExtend(m_multiboardSubvolumes);
    case eMultiboardRenderEnable: return m_multiboardRenderEnable ? 1 : 0;
    case eMultiboardRenderMode: return SignExtend(m_multiboardRenderMode);
    case eMultiboardOverlap: return SignExtend(m_multiboardOverlap);
    case eMultiboardMinVolumeSize: return SignExtend(m_multiboardMinVolumeSize);
    case eMultiboard2ForceRender: return SignExtend(m_multiboard2ForceRender);
    case eMipmapMultiboard: return m_MipmapMultiboard ? 1 : 0;
    case eRenderHangMaxZSlices: return SignExtend(record.m_renderHangMaxZSlices);
    case eMaxZSupersample: return SignExtend(record.m_maxZSupersample);
    case eMinZSupersample: return SignExtend(record.m_minZSupersample);
    case eFixedXYSupersampleFactor: return SignExtend(m_fixedXYSupersampleFactor);
    case eFixedZSupersampleFactor: return SignExtend(m_fixedZSupersampleFactor);
    case eResizeImage: return m_resizeImage ? 1 : 0;
    case eRenderArea: return ZeroExtend(m_renderArea);
    case eLightMode: return ZeroExtend(m_lightMode);
    case eSpecularColorOpacityWeighting: return ZeroExtend(m_specularColorOpacityWeighting);
    case eBoardMinorVersion: return SignExtend(record.m_minor);
    case ePerspectiveEnabled: return 1;
    case ePerspectiveDoubleBuffer: return m_perspectiveDoubleBuffer ? 1 : 0;
    case ePerspectiveSynchronousBlend: return m_perspectiveSynchronousBlend ? 1 : 0;
    case eRenderToVolumeEnable: return m_renderToVolumeEnable ? 1 : 0;
    case eRenderToVolumeZSlices: return SignExtend(m_renderToVolumeZSlices);
    case eSimulateMap: return m_simulateMap ? 1 : 0;
    case eSpaceLeapingMode: return ZeroExtend(m_spaceLeapingMode);
    case eUpdateMethodMemory: return ZeroExtend(m_UpdateMethodMemory);
    case eMaxUpdateSizeMemory: return SignExtend(m_MaxUpdateSizeMemory);
    case eUpdateMethodSource: return ZeroExtend(m_UpdateMethodSource);
    case eMaxUpdateSizeSource: return SignExtend(m_MaxUpdateSizeSource);
    case eUpdateMethodFile: return ZeroExtend(m_UpdateMethodFile);
    case eMaxUpdateSizeFile: return SignExtend(m_MaxUpdateSizeFile);
    case eForceSynchronousRender: return m_forceSynchRender ? 1 : 0;
    case eForceSynchronousUpdate: return m_forceSynchUpdate ? 1 : 0;
    case eForceSynchronousUnload: return m_forceSynchUnload ? 1 : 0;
    case eReleaseTemporaryImageBuffers: return m_ReleaseTemporaryImageBuffers ? 1 : 0;
    case eTraceErrors: return m_traceErrors ? 1 : 0;
    default: return kAllOnes;  // the epsilon pair, the debug file name
    }
}

void ULMControlInternal::SetParameterByName(const char* name, uint64_t value) {
    if (!name) return;
    // Every row is tried: a name may address a parameter either whole or
    // with a board digit.
    for (const ParameterInfo& row : sParameterInfo) {
        if (!row.settable) continue;
        if (std::strcmp(name, row.name) == 0) {
            SetParameter(row.type, value, -1);
        } else if (row.perBoard) {
            const int board = BoardDigit(name, row.name, OpenedBoards(*this));
            if (board >= 0) SetParameter(row.type, value, board);
        }
    }
}

uint64_t ULMControlInternal::GetParameterByName(const char* name) const {
    if (!name) return kAllOnes;
    for (const ParameterInfo& row : sParameterInfo) {
        if (std::strcmp(name, row.name) == 0) return GetParameter(row.type, -1);
        if (row.perBoard) {
            const int board = BoardDigit(name, row.name, OpenedBoards(*this));
            if (board >= 0) return GetParameter(row.type, board);
        }
    }
    return kAllOnes;
}

void ULMControlInternal::ReadEnvironmentParameters() {
    for (const ParameterInfo& row : sParameterInfo) {
        if (row.kind == kKindNone) continue;
        const char* text = std::getenv(row.environmentName);
        if (text && *text) {
            switch (row.kind) {
            case kKindFlag: SetParameter(row.type, uint64_t{ParseFlag(text)}, -1); break;
            case kKindInteger: SetParameter(row.type, SignExtend(ParseInteger(text)), -1); break;
            case kKindDouble: {
                double value = 0;
                if (ParseDouble(text, value)) SetParameterDouble(row.type, value);
                break;
            }
            default: SetParameter(row.type, text, -1); break;
            }
        }
        if (!row.perBoard) continue;
        // A board's own variable is read after the one for all boards, so
        // it wins.
        const unsigned boards = OpenedBoards(*this);
        for (unsigned b = 0; b < boards; ++b) {
            char boardName[64];
            std::snprintf(boardName, sizeof boardName, "%s%u", row.environmentName, b);
            const char* boardText = std::getenv(boardName);
            if (!boardText || !*boardText) continue;
            const uint64_t value = row.kind == kKindInteger ? SignExtend(ParseInteger(boardText))
                                                            : uint64_t{ParseFlag(boardText)};
            SetParameter(row.type, value, static_cast<int>(b));
        }
    }
}

void ULMSetParameter(const char* name, uint64_t value) { gULMControl.SetParameterByName(name, value); }

uint64_t ULMGetParameter(const char* name) { return gULMControl.GetParameterByName(name); }

ULMStatus ULMSetEpsilon(double epsilon) {
    if (epsilon < 0 || std::isnan(epsilon)) return kULMErrArgument;
    if (!gULMControl.m_ForceEpsilon) gULMControl.m_epsilon = epsilon;
    return kULMOK;
}

double ULMGetEpsilon() { return gULMControl.m_epsilon; }

}  // namespace ulm3
