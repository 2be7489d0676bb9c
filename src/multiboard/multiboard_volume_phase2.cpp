// The bricked volume's making and end: the division, one volume per brick
// over its loaded range, and the board compositor.
#include "multiboard/multiboard_volume_phase2.h"

#include <algorithm>

#include "buffers/on_board_buffer.h"
#include "foundation/control.h"
#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "volume/volume_internal.h"
#include "volume/volume_upper_layers.h"

namespace ulm3 {

ULMMultiboardVolumePhase2::SubvolumeInfo::~SubvolumeInfo() { SetVolume(nullptr); }

void ULMMultiboardVolumePhase2::SubvolumeInfo::SetVolume(ULMVolume* inVolume) {
    if (inVolume != nullptr) inVolume->AddRef();
    if (m_vol != nullptr) m_vol->Release();
    m_vol = inVolume;
}

ULMVolume* ULMMultiboardVolumePhase2::Create(ULMVolume* inVolume, ULMVolumeSource* inSource,
                                             int inNumberOfSubvolumes, const ULMVolumeRange& inTopVolumeRange) {
    auto* volume = new ULMMultiboardVolumePhase2(inVolume, inSource, inNumberOfSubvolumes, inTopVolumeRange);
    volume->AddRef();
    if (volume->GetVoxelSize() != 0) return volume;
    volume->Release();
    return nullptr;
}

ULMMultiboardVolumePhase2::ULMMultiboardVolumePhase2(ULMVolume* inVolume, ULMVolumeSource* inSource,
                                                     int inNumberOfSubvolumes,
                                                     const ULMVolumeRange& inTopVolumeRange)
    : m_baseVolume(inVolume), m_volumeSource(inSource) {
    if (m_baseVolume != nullptr) m_baseVolume->AddRef();
    if (m_volumeSource != nullptr) m_volumeSource->AddRef();
    const int boards = static_cast<int>(gULMControl.m_KWBBoardCount);
    ULM_ASSERT_TEXT(boards <= ULMControlInternal::kMaxBoards, "numberBoards <= kULMMaxBoards");
    const int count = inNumberOfSubvolumes == 0 ? boards : inNumberOfSubvolumes;
    ULM_ASSERT_TEXT(count <= kMultiboardMaxBricks, "inNumberSubvolumes <= kMultiboardMaxVolumes");
    m_numSubVolumes = std::max(count, 0);
    m_numBoards = std::min(boards, m_numSubVolumes);
    // No board open, or nothing to wrap: the object stays failed.
    if (m_baseVolume == nullptr || m_volumeSource == nullptr || m_numSubVolumes < 1 || boards < 1) return;

    const ULMVolumeRange range = m_baseVolume->GetRange();
    const int voxelSize = m_baseVolume->GetVoxelSize();
    ULMFieldDescriptor fields[4];
    for (int f = 0; f < 4; ++f) fields[f] = m_baseVolume->GetFieldDescriptor(static_cast<ULMFieldNumber>(f));
    if (IsObjectType(m_baseVolume, kObjectTypeULMMipmapVolume)) m_baseMipmapVolume = m_baseVolume;

    m_division = std::make_unique<ULMSubVolumeDivision>(range, inTopVolumeRange, gULMControl.m_multiboardOverlap,
                                                        m_numSubVolumes, boards);
    // An axis shorter than its piece count leaves bricks without voxels.
    if (m_division->BricksMade() != m_numSubVolumes) return;
    for (int a = 0; a < 3; ++a) {
        m_overlapVoxels[a] = m_division->Overlap()[a];
        m_subVolumDiv[a] = m_division->Pieces()[a];
    }

    const ULMMatrix correction = m_baseVolume->GetCorrectionMatrix();
    for (int i = 0; i < m_numSubVolumes; ++i) {
        SubvolumeInfo& brick = m_subvolume[i];
        static_cast<ULMBrickRanges&>(brick) = m_division->Brick(i);
        if (brick.m_loadRange.IsEmpty()) return;
        ReleasablePointer<ULMVolume> made(
            ULMVolumeInternal::CreateSimpleVolume(voxelSize, brick.m_loadRange, 4, fields, nullptr));
        if (made == nullptr || made->GetVoxelSize() == 0) return;
        if (m_baseMipmapVolume != nullptr) {
            ReleasablePointer<ULMVolume> wrapped(ULMGetMipmapVolumeFactory()(made, m_volumeSource));
            if (wrapped != nullptr && wrapped->GetVoxelSize() != 0) {
                wrapped->AddRef();
                made.Assign(wrapped.GetPointer());
            }
        }
        made->SetCorrectionMatrix(correction);
        brick.SetVolume(made);
        m_brickVolumes[i] = made;
    }

    SetObjectType(this, kObjectTypeULMMultiboardVolumePhase2);
    m_voxelSize = voxelSize;
}

ULMMultiboardVolumePhase2::~ULMMultiboardVolumePhase2() {
    // A map the application left open ends as UnmapVolume would end it, so
    // that a simulated write map's voxels are kept and a simple map of the
    // base is given back.
    while (m_mapped && UnmapVolume() == kULMOK) {
    }
    // A render not yet waited for may still read or write its frame.
    for (const auto& frame : m_hostFrames) frame->lastUse.Wait(-1);
    if (m_volumeSource != nullptr) m_volumeSource->Release();
    if (m_baseVolume != nullptr) m_baseVolume->Release();
}

void ULMMultiboardVolumePhase2::GetBlendOrder(int (&outBlendIndex)[kMultiboardMaxBricks],
                                              int (&outSoftwBlendIndex)[kMultiboardMaxBricks]) const {
    ULMRecursiveLock hold(m_lock);
    std::copy(m_blendIndex, m_blendIndex + kMultiboardMaxBricks, outBlendIndex);
    std::copy(m_softwBlendIndex, m_softwBlendIndex + kMultiboardMaxBricks, outSoftwBlendIndex);
}

uint64_t ULMMultiboardVolumePhase2::GetVolumeSerial() const {
    ULMRecursiveLock hold(m_lock);
    return m_volumeSerial;
}

uint64_t ULMMultiboardVolumePhase2::GetStateSerial() const {
    ULMRecursiveLock hold(m_lock);
    return m_stateSerial;
}

}  // namespace ulm3
