// Mipmap generation: a level's volume made with a board buffer and filled
// by resampling a finer level on the board, on the application's request
// or whenever a level is wanted and stale. Nothing here waits for the
// board: each pass is queued behind the work on the buffers it reads.
#include <algorithm>

#include "foundation/diagnostics.h"
#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "render/volume_render_state.h"
#include "resample/mipmap_level_kinds.h"
#include "resample/mipmap_volume.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

bool ValidFactor(double inFactor) { return inFactor >= 0.5 && inFactor <= 1.0; }

bool SameSize(const ULMVolumeRange& inA, const ULMVolumeRange& inB) {
    return inA.XSize() == inB.XSize() && inA.YSize() == inB.YSize() && inA.ZSize() == inB.ZSize();
}

// Levels are made from level 0 on a board. A wrapper locked without a
// buffer (the application released it) cannot be locked again to give it
// one, and its coarser levels are refused alike, whichever is asked for.
ULMStatus LevelsCanBeMade(const ULMVolume& inWrapper) {
    if (!inWrapper.IsLocked() || inWrapper.GetBufferLocation() != kULMNoBufferAttached) return kULMOK;
    UlmTraceReportMessageStatus("a locked volume whose buffer was released makes no coarser levels", kULMErrVolume,
                                __FILE__, __LINE__, nullptr);
    return kULMErrVolume;
}

}  // namespace

ULMStatus ULMMipmapVolume::GenerateMipmapLevel(int inLevelToGenerate, int inSourceLevel, double inShrinkX,
                                               double inShrinkY, double inShrinkZ) {
    return StartGenerateMipmapLevel(inLevelToGenerate, inSourceLevel, inShrinkX, inShrinkY, inShrinkZ).Wait(-1);
}

ULMSyncEvent ULMMipmapVolume::StartGenerateMipmapLevel(int inLevelToGenerate, int inSourceLevel, double inShrinkX,
                                                       double inShrinkY, double inShrinkZ) {
    ULMRecursiveLock hold(m_lock);
    const int level = inLevelToGenerate;
    const int source = inSourceLevel < 0 ? level - 1 : inSourceLevel;
    const double sx = inShrinkX < 0.5 ? m_shrinkX : inShrinkX;
    const double sy = inShrinkY < 0.5 ? m_shrinkY : inShrinkY;
    const double sz = inShrinkZ < 0.5 ? m_shrinkZ : inShrinkZ;
    if (!ValidFactor(sx) || !ValidFactor(sy) || !ValidFactor(sz) || source < 0 || source >= level ||
        level >= m_levelSize)
        return ULMSyncEvent(kULMErrArgument);
    if (m_level[source].volume == nullptr) return ULMSyncEvent(kULMErrVolume);
    ComputeLevelRange(level, source, sx, sy, sz);
    if (SameSize(m_level[level].range, m_level[source].range)) return ULMSyncEvent(kULMErrTooSmall);
    const ULMSyncEvent event = ResampleLevel(level, source, kULMAnyBoard);
    if (!ULMFailed(event.Status())) m_level[level].volumeSerial = m_level[source].volumeSerial;
    return event;
}

ULMSyncEvent ULMMipmapVolume::AutoGenerateMipmapLevel(int inLevel, ULMLocation inBoard) {
    ULMRecursiveLock hold(m_lock);
    if (const ULMStatus refused = LevelsCanBeMade(*this); refused != kULMOK) return ULMSyncEvent(refused);
    if (inLevel < 1 || inLevel >= m_levelSize || m_level[inLevel - 1].volume == nullptr)
        return ULMSyncEvent(kULMErrArgument);
    if (!ValidFactor(m_shrinkX) || !ValidFactor(m_shrinkY) || !ValidFactor(m_shrinkZ))
        return ULMSyncEvent(kULMErrArgument);
    ComputeLevelRange(inLevel, inLevel - 1, m_shrinkX, m_shrinkY, m_shrinkZ);
    // A level that does not shrink tells the render to give up on coarser ones.
    if (SameSize(m_level[inLevel].range, m_level[inLevel - 1].range)) return ULMSyncEvent(kULMErrCantSubsample);
    const ULMSyncEvent event = ResampleLevel(inLevel, inLevel - 1, inBoard);
    ULMStatus status = event.Status();
    if (!ULMFailed(status)) return event;
    if (status == kULMErrArgument) status = kULMErrCantSubsample;
    if (m_level[inLevel].volume != nullptr) m_level[inLevel].volume->Release();
    m_level[inLevel] = LevelInfo{0, 0, nullptr, m_level[inLevel].range};
    return ULMSyncEvent(status);
}

// The level's range is computed; the pass reads the source level's range
// and writes the whole level, each field interpolated as the wrapper says.
ULMSyncEvent ULMMipmapVolume::ResampleLevel(int inLevel, int inSourceLevel, ULMLocation inBoard) {
    LevelInfo& level = m_level[inLevel];
    LevelInfo& source = m_level[inSourceLevel];
    ULMClassifier classifier = ULMClassifier::DirectRGBA(kULMField0, kULMField1, kULMField2, kULMField3);
    for (int f = 0; f < 4; ++f) classifier.SetInterpolationMode(static_cast<ULMFieldNumber>(f), m_interpolationMode[f]);

    ULMLocation location = kULMNoBufferAttached;
    if (level.volume != nullptr) {
        location = level.volume->GetBufferLocation();
        if (level.volume->GetRange() != level.range) {
            level.volume->Release();
            level.volume = nullptr;
            level.stateSerial = level.volumeSerial = 0;
        }
    }
    if (const ULMStatus refused = LevelsCanBeMade(*this); refused != kULMOK) return ULMSyncEvent(refused);
    if (GetBufferLocation() == kULMNoBufferAttached) {
        const ULMStatus locked = LockVolume(inBoard);
        if (ULMFailed(locked)) return ULMSyncEvent(locked);
    }
    if (location == kULMNoBufferAttached) location = source.volume->GetBufferLocation();
    // A source level whose buffer cannot hold what the pass reads (an offset
    // window short of it, a wrap too narrow) makes nothing.
    if (IsObjectType(source.volume, kObjectTypeULMVolumeInternal)) {
        const ULMVolumeBoardCopy& copy = static_cast<ULMVolumeInternal*>(source.volume)->BoardCopy();
        ULMRecursiveLock hold(copy.Lock());
        const ULMStatus readable = copy.CanRead(source.range);
        if (readable != kULMOK) return ULMSyncEvent(readable);
    }
    const bool newLevel = level.volume == nullptr;
    if (newLevel) {
        const ULMStatus created = CreateMipmapLevel(inLevel, location, level.range);
        if (ULMFailed(created)) return ULMSyncEvent(created);
    }
    // Only the fields matter to the pass; the rest of the state reaches a
    // level when it is used.
    for (LevelInfo* info : {&source, &level}) {
        if (info->stateSerial == m_stateSerial) continue;
        for (int f = 0; f < 4; ++f) {
            const ULMStatus set = info->volume->SetFieldDescriptor(static_cast<ULMFieldNumber>(f), m_fields[f]);
            if (ULMFailed(set)) return ULMSyncEvent(set);
        }
    }
    const ULMSyncEvent made = source.volume->StartResampleBuffer(level.volume, source.range, level.range, classifier);
    if (ULMFailed(made.Status())) {
        // A level made for a pass that was refused goes again.
        if (newLevel) {
            level.volume->Release();
            level = LevelInfo{0, 0, nullptr, level.range};
        }
        return made;
    }
    // The level holds what its source level held.
    level.generated = ULMFollowedBy(source.generated, made);
    return made;
}

ULMStatus ULMMipmapVolume::CreateMipmapLevel(int inLevel, ULMLocation inLocation, ULMVolumeRange inRange) {
    ULMRecursiveLock hold(m_lock);
    // Level 0 holds the application's voxels: it is never made again.
    if (inLevel < 1 || inLevel >= m_levelSize || inRange.IsEmpty()) return kULMErrArgument;
    double span[3];
    VoxelSpan(inRange, span);
    ReleasablePointer<ULMVolumeInternal> plain(
        ULMVolumeInternal::CreateSimpleVolume(m_voxelSize, inRange, 4, m_fields, nullptr));
    if (plain.GetPointer() == nullptr) return kULMErrAlloc;
    {
        ULMVolumeRenderState& state = ULMRenderStateOf(*plain);
        ULMScopedLock engine(state.m_lock);
        state.m_sampleSpace.SetVoxelSpan(span);
    }
    ULMVolume* volume = plain.GetPointer();
    ReleasablePointer<ULMVolume> wrapped;
    if (inLocation == kULMMultiBoardMode1 || inLocation == kULMMultiBoardMode2) {
        ULMStatus made = kULMErrAlloc;
        wrapped.Assign(
            ULMGetMipmapLevelKinds().MakeLevel(inLocation, volume, m_numberMultiboardVolumes, m_range, span, made));
        if (wrapped.GetPointer() == nullptr) return ULMFailed(made) ? made : kULMErrAlloc;
        volume = wrapped.GetPointer();
    }
    const ULMStatus buffered = volume->CreateBuffer(inLocation);
    if (ULMFailed(buffered)) return buffered;
    volume->SetTarget(kULMBuffer);
    volume->AddRef();
    if (m_level[inLevel].volume != nullptr) m_level[inLevel].volume->Release();
    m_level[inLevel] = LevelInfo{0, 0, volume, inRange};
    return kULMOK;
}

int ULMMipmapVolume::GenerateLevels(int inFrom, int inTo, ULMLocation inBoard, ULMSyncEvent& outFailure) {
    for (int l = inFrom + 1; l <= inTo; ++l) {
        const ULMSyncEvent event = AutoGenerateMipmapLevel(l, inBoard);
        if (ULMFailed(event.Status())) {
            outFailure = event;
            return l;
        }
        m_level[l].volumeSerial = m_level[0].volumeSerial;
    }
    return -1;
}

ULMVolume* ULMMipmapVolume::GetMipmapLevel(int inLevel) {
    ULMRecursiveLock hold(m_lock);
    if (inLevel < 0 || inLevel >= m_levelSize) return nullptr;
    ForgetFailedLevels();
    if (m_autoGenerate) {
        ULMSyncEvent failure;
        if (GenerateLevels(HighestFreshLevel(inLevel), inLevel, kULMAnyBoard, failure) >= 0) return nullptr;
        ULM_ASSERT(m_maxLevel < m_levelSize);
    }
    LevelInfo& level = m_level[inLevel];
    if (level.volume != nullptr && level.stateSerial != m_stateSerial && ULMFailed(SetLevelState(inLevel)))
        return nullptr;
    return level.volume;
}

}  // namespace ulm3
