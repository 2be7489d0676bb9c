// Loads into a board buffer in chunks of whole slices over two slots.
#include "volume/volume_chunked_load.h"

#include "volume/volume_board_loader.h"

namespace ulm3 {

ULMChunkedLoad::ULMChunkedLoad(const ULMLoadTarget& inTarget, ULMStagingMemory& ioStaging,
                               const ULMVolumeRange& inDestination, int64_t inLimit, bool inKernel,
                               ULMVolumeSource* inSource)
    : m_target(inTarget), m_staging(ioStaging), m_destination(inDestination), m_source(inSource), m_kernel(inKernel) {
    m_sliceBytes = int64_t{inDestination.XSize()} * inDestination.YSize() * inTarget.voxelBytes;
    const int z = inDestination.ZSize();
    if (m_sliceBytes <= 0 || z <= 0) return;
    const int64_t limit = inKernel ? ULMBoardLoader::kKernelChunkLimit : inLimit;
    if (inKernel && m_sliceBytes > ULMBoardLoader::kKernelChunkLimit) {
        m_status = kULMErrTooLarge;
        return;
    }
    int64_t perChunk = z > 10 ? (int64_t{z} + 1) / 2 : z;
    if (perChunk * m_sliceBytes > limit) perChunk = std::max<int64_t>(1, limit / m_sliceBytes);
    m_slicesPerChunk = static_cast<int>(perChunk);
    m_slotCount = static_cast<int>(std::min<int64_t>(2, (z + perChunk - 1) / perChunk));
    m_stagingBytes = ULMBoardLoader::RoundToFullPages(perChunk * m_sliceBytes);
}

ULMChunkedLoad::~ULMChunkedLoad() {
    for (Slot& slot : m_slots) {
        if (slot.hostBufferId < 0) continue;
        slot.event.Wait(-1);
        m_target.board->DestroyKernelBuffer(slot.hostBufferId, static_cast<uint32_t>(m_stagingBytes), slot.memory);
    }
}

ULMStatus ULMChunkedLoad::MakeKernelBuffers() {
    for (int i = 0; i < m_slotCount; ++i) {
        uint32_t granted = 0;
        void* address = nullptr;
        int id = -1;
        const uint32_t wanted = static_cast<uint32_t>(m_stagingBytes);
        if (m_target.board->CreateKernelBuffer(wanted, granted, address, id) != kULMOK) return kULMErrAlloc;
        m_slots[i].hostBufferId = id;
        m_slots[i].memory = static_cast<char*>(address);
        if (granted < wanted) return kULMErrAlloc;
    }
    return kULMOK;
}

char* ULMChunkedLoad::Staging(int inSlot, ULMStatus& outStatus) {
    if (m_kernel) return m_slots[inSlot].memory;
    if (!m_staged) {
        outStatus = m_staging.Reserve(m_stagingBytes * m_slotCount);
        if (outStatus != kULMOK) return nullptr;
        m_staged = true;
    }
    return m_staging.Address() + inSlot * m_stagingBytes;
}

void* ULMChunkedLoad::Finish(bool inSucceeded, const ULMVolumeSource* inKept) {
    if (m_staged) m_staging.SetLastReader(m_lastStarted);
    void* kept = nullptr;
    for (int i = 0; i < m_slotCount; ++i) {
        Slot& slot = m_slots[i];
        if (slot.mapping == nullptr) continue;
        if (inSucceeded && i == m_lastSlot && m_source == inKept) {
            kept = slot.mapping;
            slot.mapping = nullptr;
            continue;
        }
        slot.event.Wait(-1);
        ReleaseMapping(slot);
    }
    return kept;
}

void ULMChunkedLoad::ReleaseMapping(Slot& ioSlot) {
    if (ioSlot.mapping == nullptr) return;
    m_source->ReleaseVoxels(ioSlot.mapping);
    ioSlot.mapping = nullptr;
}

}  // namespace ulm3
