// The mipmap volume's levels and their ranges, the copy of the wrapper's
// state into a level, and the mipmap setters.
#include "resample/mipmap_volume.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/shareable.h"
#include "resample/mipmap_level_kinds.h"

namespace ulm3 {

namespace {

// An assertion that reports the given text.
void Require(bool inHolds, const char* inText, int inLine) {
    if (!inHolds) UlmAssert(inText, __FILE__, static_cast<unsigned>(inLine), nullptr);
}

bool ValidFactor(double inFactor) { return inFactor >= 0.5 && inFactor <= 1.0; }

}  // namespace

int RoundToNearestEvenInteger(double inValue) { return 2 * static_cast<int>(std::trunc(inValue * 0.5 + 0.5)); }

ULMVolume* ULMMipmapVolume::Create(ULMVolume* inTopLevel, ULMVolumeSource* inSource) {
    if (inTopLevel == nullptr) return nullptr;
    ULMMipmapVolume* volume = new (std::nothrow) ULMMipmapVolume(inTopLevel, inSource);
    if (volume != nullptr) volume->AddRef();
    return volume;
}

ULMMipmapVolume::ULMMipmapVolume(ULMVolume* inTopLevel, ULMVolumeSource* inSource) {
    const ULMControlInternal& control = gULMControl;
    m_levelSize = std::clamp(control.m_mipmapNumberLevels, 2, 65);
    m_level = std::make_unique<LevelInfo[]>(static_cast<size_t>(m_levelSize));
    m_minDimension = control.m_mipmapMinDimension;
    m_shrinkX = m_shrinkY = m_shrinkZ = control.m_mipmapShrink * 0.01;
    m_minLevel = std::min(control.m_mipmapMinLevel, m_levelSize - 1);
    m_maxLevel = std::min(control.m_mipmapMaxLevel, m_levelSize - 1);
    Require(inTopLevel != nullptr, "inTopLevel != NULL", __LINE__);
    Require(m_levelSize > 1, "m_levelSize > 1", __LINE__);
    Require(m_minLevel <= m_maxLevel, "m_minLevel <= m_maxLevel", __LINE__);

    m_format = inTopLevel->GetFormat();
    m_layout = inTopLevel->GetLayout();
    m_range = inTopLevel->GetRange();
    m_target = inTopLevel->GetTarget();
    m_voxelSize = inTopLevel->GetVoxelSize();
    m_readOnly = inTopLevel->IsReadOnly();
    m_correctionMatrix = inTopLevel->GetCorrectionMatrix();
    m_border = inTopLevel->GetBorderValue();
    m_activeSubvolume = inTopLevel->GetActiveSubVolume();
    double* t = m_spaceLeapingThreshold;
    inTopLevel->GetSpaceLeapingParameters(m_spaceLeapingMode, t[0], t[1], t[2], t[3]);
    inTopLevel->GetExtendModes(m_extendModes[0], m_extendModes[1], m_extendModes[2]);
    m_source = inSource;
    if (m_source != nullptr) m_source->AddRef();
    for (int f = 0; f < 4; ++f) m_fields[f] = inTopLevel->GetFieldDescriptor(static_cast<ULMFieldNumber>(f));
    m_multiboardMode = ULMGetMipmapLevelKinds().MultiboardMode(*inTopLevel, m_numberMultiboardVolumes);

    inTopLevel->AddRef();
    m_level[0].volume = inTopLevel;
    m_level[0].stateSerial = m_stateSerial;
    m_level[0].volumeSerial = 1;
    m_level[0].range = m_range;
    SetObjectType(this, kObjectTypeULMMipmapVolume);
}

ULMMipmapVolume::~ULMMipmapVolume() {
    for (int l = m_levelSize - 1; l >= 0; --l)
        if (m_level[l].volume != nullptr) m_level[l].volume->Release();
    if (m_source != nullptr) m_source->Release();
}

ULMMipmapVolume::LevelInfo ULMMipmapVolume::GetLevelInfo(int inLevel) const {
    ULMRecursiveLock hold(m_lock);
    if (inLevel < 0 || inLevel >= m_levelSize) return LevelInfo();
    return m_level[inLevel];
}

uint64_t ULMMipmapVolume::GetStateSerial() const {
    ULMRecursiveLock hold(m_lock);
    return m_stateSerial;
}

void ULMMipmapVolume::StaleLevels() {
    ULMRecursiveLock hold(m_lock);
    m_level[0].volumeSerial = NextSerial(m_level[0].volumeSerial);
}

bool ULMMipmapVolume::IsFresh(int inLevel) const {
    return m_level[inLevel].volume != nullptr && m_level[inLevel].volumeSerial == m_level[0].volumeSerial;
}

void ULMMipmapVolume::ForgetFailedLevels() {
    for (int l = 1; l < m_levelSize; ++l) {
        LevelInfo& level = m_level[l];
        const ULMStatus generated = level.generated.Wait(0);
        if (generated == kULMOK || ULMFailed(generated)) level.generated = ULMSyncEvent(kULMOK);
        if (ULMFailed(generated)) level.volumeSerial = 0;
    }
}

int ULMMipmapVolume::HighestFreshLevel(int inLevel) const {
    int level = inLevel;
    while (level > 0 && !IsFresh(level)) --level;
    return level;
}

void ULMMipmapVolume::VoxelSpan(const ULMVolumeRange& inRange, double (&outSpan)[3]) const {
    for (int a = 0; a < 3; ++a)
        outSpan[a] = inRange.m_size[a] > 0 ? static_cast<double>(m_range.m_size[a]) / inRange.m_size[a] : 1.0;
}

void ULMMipmapVolume::ComputeLevelRange(int inLevel, int inSourceLevel, double inShrinkX, double inShrinkY,
                                        double inShrinkZ) const {
    if (inLevel == 0) return;
    ULMRecursiveLock hold(m_lock);
    const ULMVolumeRange& from = m_level[inSourceLevel].range;
    const double shrink[3] = {inShrinkX, inShrinkY, inShrinkZ};
    ULMVolumeRange to;
    for (int a = 0; a < 3; ++a) {
        const int n = from.m_size[a];
        double s = shrink[a];
        const int m = static_cast<int>(std::trunc(n * s));
        int size = n;
        if (m >= m_minDimension) {
            size = m;
        } else if (n > m_minDimension) {
            size = m_minDimension;
            s = static_cast<double>(m_minDimension) / n;
        }
        to.m_size[a] = size;
        to.m_origin[a] = RoundToNearestEvenInteger(from.m_origin[a] * s);
    }
    m_level[inLevel].range = to;
}

ULMStatus ULMMipmapVolume::SetLevelState(int inLevel) {
    ULMRecursiveLock hold(m_lock);
    ULMVolume* volume = m_level[inLevel].volume;
    Require(volume != nullptr, "pVol != NULL", __LINE__);
    for (int f = 0; f < 4; ++f) {
        const ULMStatus status = volume->SetFieldDescriptor(static_cast<ULMFieldNumber>(f), m_fields[f]);
        if (ULMFailed(status)) return status;
    }
    // Level voxel x lies where level-0 voxel o + (x - o_l + 0.5) n / m - 0.5
    // does (n, o level 0's size and origin, m, o_l the level's): centre on
    // centre, as the resample pass that made the level reads it, and the
    // level fills level 0's box. Level 0 keeps the matrix as it was given.
    const ULMVolumeRange& level = m_level[inLevel].range;
    double span[3];
    VoxelSpan(level, span);
    ULMVolumeRange active;
    if (!m_activeSubvolume.IsReset()) {
        for (int a = 0; a < 3; ++a) {
            const double s = 1.0 / span[a];
            // A sub-volume keeps at least a voxel where it has one.
            const int size = static_cast<int>(std::trunc(m_activeSubvolume.m_size[a] * s + 0.5));
            active.m_size[a] = m_activeSubvolume.m_size[a] > 0 ? std::max(size, 1) : size;
            active.m_origin[a] = static_cast<int>(std::trunc(m_activeSubvolume.m_origin[a] * s));
        }
        active.Intersect(volume->GetRange());
    }
    ULMStatus status = volume->SetActiveSubVolume(active);
    if (ULMFailed(status)) return status;
    ULMMatrix correction = m_correctionMatrix;
    if (inLevel != 0) {
        correction = correction *
                     ULMMatrix::Translate(m_range.XOrigin() - 0.5, m_range.YOrigin() - 0.5, m_range.ZOrigin() - 0.5) *
                     ULMMatrix::Scale(span[0], span[1], span[2]) *
                     ULMMatrix::Translate(0.5 - level.XOrigin(), 0.5 - level.YOrigin(), 0.5 - level.ZOrigin());
    }
    if (ULMFailed(status = volume->SetCorrectionMatrix(correction))) return status;
    if (ULMFailed(status = volume->SetBorderValue(m_border))) return status;
    if (ULMFailed(status = volume->SetExtendModes(m_extendModes[0], m_extendModes[1], m_extendModes[2])))
        return status;
    const double* t = m_spaceLeapingThreshold;
    if (ULMFailed(status = volume->SetSpaceLeapingParameters(m_spaceLeapingMode, t[0], t[1], t[2], t[3])))
        return status;
    m_level[inLevel].stateSerial = m_stateSerial;
    return kULMOK;
}

// ---- The mipmap setters and getters ----

ULMStatus ULMMipmapVolume::SetMipmapAutoGenerate(int inOn) {
    ULMRecursiveLock hold(m_lock);
    m_autoGenerate = inOn != 0 ? 1 : 0;
    return kULMOK;
}

int ULMMipmapVolume::GetMipmapAutoGenerate() const {
    ULMRecursiveLock hold(m_lock);
    return m_autoGenerate;
}

ULMStatus ULMMipmapVolume::SetMipmapMinDimension(int inDimension) {
    if (inDimension < 12) return kULMErrArgument;
    ULMRecursiveLock hold(m_lock);
    if (inDimension != m_minDimension) {
        m_minDimension = inDimension;
        StaleLevels();
    }
    return kULMOK;
}

int ULMMipmapVolume::GetMipmapMinDimension() const {
    ULMRecursiveLock hold(m_lock);
    return m_minDimension;
}

ULMStatus ULMMipmapVolume::SetMipmapShrinkFactors(double inX, double inY, double inZ) {
    if (!ValidFactor(inX) || !ValidFactor(inY) || !ValidFactor(inZ)) return kULMErrArgument;
    ULMRecursiveLock hold(m_lock);
    if (inX != m_shrinkX || inY != m_shrinkY || inZ != m_shrinkZ) {
        m_shrinkX = inX;
        m_shrinkY = inY;
        m_shrinkZ = inZ;
        StaleLevels();
    }
    return kULMOK;
}

void ULMMipmapVolume::GetMipmapShrinkFactors(double& outX, double& outY, double& outZ) const {
    ULMRecursiveLock hold(m_lock);
    outX = m_shrinkX;
    outY = m_shrinkY;
    outZ = m_shrinkZ;
}

ULMStatus ULMMipmapVolume::SetMipmapInterpolationMode(ULMFieldNumber inField, ULMInterpolationMode inMode) {
    if (inField < 0 || inField > 3 || (inMode != kULMNearestNeighbor && inMode != kULMTrilinear))
        return kULMErrArgument;
    ULMRecursiveLock hold(m_lock);
    if (m_interpolationMode[inField] != inMode) {
        m_interpolationMode[inField] = inMode;
        StaleLevels();
    }
    return kULMOK;
}

ULMInterpolationMode ULMMipmapVolume::GetMipmapInterpolationMode(ULMFieldNumber inField) const {
    if (inField < 0 || inField > 3) return kULMNearestNeighbor;
    ULMRecursiveLock hold(m_lock);
    return m_interpolationMode[inField];
}

ULMStatus ULMMipmapVolume::SetMipmapRange(int inMinLevel, int inMaxLevel) {
    ULMRecursiveLock hold(m_lock);
    if (inMinLevel < 0 || inMinLevel > inMaxLevel || inMaxLevel >= m_levelSize) return kULMErrArgument;
    m_minLevel = inMinLevel;
    m_maxLevel = inMaxLevel;
    return kULMOK;
}

void ULMMipmapVolume::GetMipmapRange(int& outMinLevel, int& outMaxLevel) const {
    ULMRecursiveLock hold(m_lock);
    outMinLevel = m_minLevel;
    outMaxLevel = m_maxLevel;
}

int ULMMipmapVolume::GetNumberMipmapLevels() const { return m_levelSize; }

}  // namespace ulm3
