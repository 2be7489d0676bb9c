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

// A parameter's value read both ways.
struct ParameterValue {
    int32_t number;
    bool flag;
};

// Each group below sets the parameters it knows and tells whether `type`
// was one of them.
bool SetMipmapParameter(ULMControlInternal& c, ParameterType type, ParameterValue value) {
    const int32_t v = value.number;
    switch (type) {
        case eMipmapMaxLevel:
            c.m_mipmapMaxLevel = Clamp(v, 0, 32);
            if (c.m_mipmapMinLevel > c.m_mipmapMaxLevel) c.m_mipmapMinLevel = c.m_mipmapMaxLevel;
            return true;
        case eMipmapMinLevel:
            c.m_mipmapMinLevel = Clamp(v, 0, c.m_mipmapMaxLevel);
            return true;
        case eMipmapMinVolumeSize:
            c.m_mipmapMinVolumeSize = v < 1 ? 1 : v;
            return true;
        case eMipmapMinDimension:
            c.m_mipmapMinDimension = v < 12 ? 12 : v;
            return true;
        case eMipmapShrinkFactor:
            c.m_mipmapShrink = Clamp(v, 50, 99);
            return true;
        case eMipmapNumberLevels:
            c.m_mipmapNumberLevels = Clamp(v, 2, 65);
            return true;
        case eMipmapMultiboard:
            c.m_MipmapMultiboard = value.flag;
            return true;
        default:
            return false;
    }
}

bool SetMultiboardParameter(ULMControlInternal& c, ParameterType type, ParameterValue value) {
    const int32_t v = value.number;
    switch (type) {
        case eMultiboardForceNumberOfVolumes:
            if (Store(c.m_multiboardSubvolumes, Clamp(v, 0, 8))) c.SetMultiboardRenderState();
            return true;
        case eMultiboardRenderEnable:
            if (Store(c.m_multiboardRenderEnableSwitch, value.flag)) c.SetMultiboardRenderState();
            return true;
        case eMultiboardRenderMode:
            if (Store(c.m_multiboardRenderMode, Clamp(v, 1, 2))) c.SetMultiboardRenderState();
            return true;
        case eMultiboardOverlap:
            // Bricks overlap by whole voxel pairs.
            c.m_multiboardOverlap = Clamp(v, 2, 16384) & ~1;
            return true;
        case eMultiboardMinVolumeSize:
            c.m_multiboardMinVolumeSize = Clamp(v, 2, 16384);
            return true;
        case eMultiboard2ForceRender:
            c.m_multiboard2ForceRender = v;
            c.SetMultiboardRenderState();
            return true;
        default:
            return false;
    }
}

// A per-board parameter is written to one board, or to every opened board
// for a negative board number.
bool SetPerBoardParameter(ULMControlInternal& c, ParameterType type, int32_t v, int board, unsigned boards) {
    int ULMBoardRecord::* field = nullptr;
    int newValue = 0;
    switch (type) {
        case eRenderHangMaxZSlices:
            field = &ULMBoardRecord::m_renderHangMaxZSlices;
            newValue = Clamp(v, 0, 100000000);
            break;
        case eMaxZSupersample:
            field = &ULMBoardRecord::m_maxZSupersample;
            newValue = Clamp(v, 1, 16);
            break;
        case eMinZSupersample:
            field = &ULMBoardRecord::m_minZSupersample;
            newValue = Clamp(v, 1, 16);
            break;
        default:
            return false;
    }
    if (board >= 0) {
        c.m_board[board].*field = newValue;
    } else {
        for (unsigned b = 0; b < boards; ++b) c.m_board[b].*field = newValue;
    }
    return true;
}

bool SetRenderParameter(ULMControlInternal& c, ParameterType type, ParameterValue value) {
    const int32_t v = value.number;
    switch (type) {
        case eMaxLockSize:
            for (unsigned& extent : c.m_KWBMaxLock) extent = static_cast<uint32_t>(v);
            return true;
        case eFixedXYSupersampleFactor:
            c.m_fixedXYSupersampleFactor = v == 0 ? 0 : Clamp(v, 1, 16);
            return true;
        case eFixedZSupersampleFactor:
            c.m_fixedZSupersampleFactor = v == 0 ? 0 : Clamp(v, 1, 16);
            return true;
        case eRenderArea:
            if (v == ULMControlInternal::kViewport || v == ULMControlInternal::kVolume) c.m_renderArea = v;
            return true;
        case eLightMode:
            c.m_lightMode = static_cast<ULMContext::LightMode>(
                Clamp(v, ULMContext::kBidirectionalSpecular, ULMContext::kUnidirectional));
            return true;
        case eSpecularColorOpacityWeighting:
            if (v >= ULMContext::kDisabled && v <= ULMContext::kBasedOnBlendMode)
                c.m_specularColorOpacityWeighting = static_cast<ULMContext::SpecularColorOpacityWeighting>(v);
            return true;
        case eRenderToVolumeZSlices:
            c.m_renderToVolumeZSlices = Clamp(v, 0, 100000000);
            return true;
        case eSpaceLeapingMode:
            c.m_spaceLeapingMode = static_cast<ULMVolume::SpaceLeapingMode>(
                Clamp(v, ULMVolume::kSpaceLeapingNone, ULMVolume::kSpaceLeapingOn));
            return true;
        default:
            return false;
    }
}

// Update sizes are given in MiB and kept in bytes.
bool SetUpdateParameter(ULMControlInternal& c, ParameterType type, ParameterValue value) {
    const int32_t v = value.number;
    switch (type) {
        case eUpdateMethodMemory:
            c.m_UpdateMethodMemory = static_cast<UpdateMethod>(Clamp(v, eMethodMin, eMethodMax));
            return true;
        case eMaxUpdateSizeMemory:
            c.m_MaxUpdateSizeMemory = UpdateSizeInBytes(v);
            return true;
        case eUpdateMethodSource:
            c.m_UpdateMethodSource = static_cast<UpdateMethod>(Clamp(v, eMethodMin, eMethodMax));
            return true;
        case eMaxUpdateSizeSource:
            c.m_MaxUpdateSizeSource = UpdateSizeInBytes(v);
            return true;
        case eUpdateMethodFile:
            c.m_UpdateMethodFile = static_cast<UpdateMethod>(Clamp(v, eMethodMin, eMethodMax));
            return true;
        case eMaxUpdateSizeFile:
            c.m_MaxUpdateSizeFile = UpdateSizeInBytes(v);
            return true;
        default:
            return false;
    }
}

// The on/off switches, which look at the whole value.
struct SwitchRow {
    ParameterType type;
    bool ULMControlInternal::* field;
};
constexpr SwitchRow kSwitches[] = {
    {eResizeImage, &ULMControlInternal::m_resizeImage},
    {ePerspectiveDoubleBuffer, &ULMControlInternal::m_perspectiveDoubleBuffer},
    {ePerspectiveSynchronousBlend, &ULMControlInternal::m_perspectiveSynchronousBlend},
    {eRenderToVolumeEnable, &ULMControlInternal::m_renderToVolumeEnable},
    {eSimulateMap, &ULMControlInternal::m_simulateMap},
    {eForceSynchronousRender, &ULMControlInternal::m_forceSynchRender},
    {eForceSynchronousUpdate, &ULMControlInternal::m_forceSynchUpdate},
    {eForceSynchronousUnload, &ULMControlInternal::m_forceSynchUnload},
    {eReleaseTemporaryImageBuffers, &ULMControlInternal::m_ReleaseTemporaryImageBuffers},
    {eTraceErrors, &ULMControlInternal::m_traceErrors},
};

void SetSwitchParameter(ULMControlInternal& c, ParameterType type, bool flag) {
    for (const SwitchRow& row : kSwitches) {
        if (row.type == type) c.*row.field = flag;
    }
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
    const ParameterValue v = {static_cast<int32_t>(static_cast<uint32_t>(value)), value != 0};
    // Read-only rows, the epsilon pair (set as doubles) and the debug file
    // name have no integer rule and fall through every group.
    if (SetMipmapParameter(*this, type, v) || SetMultiboardParameter(*this, type, v) ||
        SetPerBoardParameter(*this, type, v.number, board, boards) || SetRenderParameter(*this, type, v) ||
        SetUpdateParameter(*this, type, v))
        return;
    SetSwitchParameter(*this, type, v.flag);
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
