// The phase-1 multiboard volume as an object: its copies, one per board up
// to the number of sub-volumes, made over the base volume's own source, the
// sub-volume table that shares them out, and its end.
#include "multiboard/multiboard_volume_phase1.h"

#include <algorithm>

#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/shareable.h"
#include "resample/mipmap_volume.h"
#include "volume/volume_internal.h"

namespace ulm3 {

void ULMMultiboardVolumePhase1::SubvolumeInfo::SetVolume(ULMVolume* inVolume) {
    if (inVolume != nullptr) inVolume->AddRef();
    if (m_vol != nullptr) m_vol->Release();
    m_vol = inVolume;
}

ULMVolume* ULMMultiboardVolumePhase1::Create(ULMVolume* inTopVolume, ULMVolumeSource* inVolumeSource,
                                             int inNumberSubvolumes) {
    auto* volume = new ULMMultiboardVolumePhase1(inTopVolume, inVolumeSource, inNumberSubvolumes);
    volume->AddRef();
    if (volume->GetVoxelSize() != 0) return volume;
    volume->Release();
    return nullptr;
}

ULMMultiboardVolumePhase1::ULMMultiboardVolumePhase1(ULMVolume* inTopVolume, ULMVolumeSource* inVolumeSource,
                                                     int inNumberSubvolumes)
    : m_baseVolume(inTopVolume), m_volumeSource(inVolumeSource) {
    if (m_baseVolume != nullptr) m_baseVolume->AddRef();
    if (m_volumeSource != nullptr) m_volumeSource->AddRef();
    if (m_baseVolume == nullptr || m_volumeSource == nullptr) return;
    m_baseMipmapVolume = IsObjectType(m_baseVolume, kObjectTypeULMMipmapVolume) ? m_baseVolume : nullptr;

    const int boards = static_cast<int>(gULMControl.m_KWBBoardCount);
    // A count the bands cannot take, or no board to hold a copy, makes no
    // object: the creation keeps the plain volume.
    const int count = inNumberSubvolumes == 0 ? boards : inNumberSubvolumes;
    if (boards < 1 || count < 1 || count > static_cast<int>(std::size(m_copies))) return;
    m_numberSubVolumes = count;
    m_subvolume = std::make_unique<SubvolumeInfo[]>(static_cast<size_t>(count));

    const int voxelSize = m_baseVolume->GetVoxelSize();
    const ULMVolumeRange range = m_baseVolume->GetRange();
    m_subvolume[0].m_range = range;
    m_subvolume[0].m_location = kULMBoard0;
    m_subvolume[0].SetVolume(m_baseVolume);
    m_copies[0] = m_baseVolume;

    m_numberRealVolumes = std::min(count, boards);
    for (int i = 1; i < m_numberRealVolumes; ++i) {
        ReleasablePointer<ULMVolume> copy(MakeCopy());
        if (copy.GetPointer() == nullptr) return;
        m_subvolume[i].m_range = range;
        m_subvolume[i].m_location = static_cast<ULMLocation>(i);
        m_subvolume[i].SetVolume(copy);
        m_copies[i] = copy;
    }
    for (int i = m_numberRealVolumes; i < count; ++i) {
        m_subvolume[i].m_range = range;
        m_subvolume[i].m_location = static_cast<ULMLocation>(i);
        m_subvolume[i].SetVolume(m_subvolume[i % boards].GetVolume());
    }
    SetObjectType(this, kObjectTypeULMMultiboardVolumePhase1);
    m_voxelSize = voxelSize;
}

ULMVolume* ULMMultiboardVolumePhase1::MakeCopy() const {
    ReleasablePointer<ULMVolume> copy(ULMVolumeInternal::CreateSimpleVolume(m_volumeSource));
    if (copy.GetPointer() == nullptr || copy->GetVoxelSize() == 0) return nullptr;
    for (int f = 0; f < 4; ++f) {
        const auto field = static_cast<ULMFieldNumber>(f);
        if (ULMFailed(copy->SetFieldDescriptor(field, m_baseVolume->GetFieldDescriptor(field)))) return nullptr;
    }
    if (m_baseMipmapVolume == nullptr) {
        copy->AddRef();
        return copy;
    }
    // The wrapper takes its own reference on the plain copy.
    return ULMMipmapVolume::Create(copy, m_volumeSource);
}

// An open map is ended first, as UnmapVolume would: a simulated write map
// still reaches every copy.
ULMMultiboardVolumePhase1::~ULMMultiboardVolumePhase1() {
    if (m_mapped) UnmapVolume();
    if (m_tmpBuff != nullptr) UlmAssert("m_tmpBuff == 0", __FILE__, __LINE__, nullptr);
    m_subvolume.reset();
    if (m_baseVolume != nullptr) m_baseVolume->Release();
    if (m_volumeSource != nullptr) m_volumeSource->Release();
}

std::span<ULMVolume* const> ULMMultiboardVolumePhase1::Copies() const {
    if (m_baseVolume == nullptr || m_numberRealVolumes == 0) return {};
    return {m_copies, static_cast<size_t>(m_numberRealVolumes)};
}

void ULMMultiboardVolumePhase1::Advance(Serials inSerials) {
    if (inSerials == Serials::kVolume || inSerials == Serials::kBoth) ++m_volumeSerial;
    if (inSerials == Serials::kState || inSerials == Serials::kBoth) ++m_stateSerial;
}

}  // namespace ulm3
