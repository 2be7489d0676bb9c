// Every way voxels go from host memory or a volume source into a board
// buffer: the methods the configuration chooses between, each falling back
// to a staged copy when it fails.
#pragma once

#include <cstdint>
#include <functional>

#include "ulm3/ranges.h"
#include "ulm3/sync_event.h"
#include "ulm3/volume_source.h"
#include "volume/volume_chunked_load.h"
#include "volume/volume_pending_load.h"
#include "volume/volume_staging_memory.h"

namespace ulm3 {

// A loader borrows the board copy's buffer, staging memory and pending load
// for the length of one call.
class ULMBoardLoader {
public:
    // The most host bytes one driver request moves, and so the chunk size
    // of loads through driver host buffers.
    static constexpr int64_t kKernelChunkLimit = 0xEF000;
    static int64_t RoundToFullPages(int64_t inBytes);

    // inOwnSource is the volume's own source: the last load from it keeps
    // its mapping in ioPending until the load has completed.
    ULMBoardLoader(const ULMLoadTarget& inTarget, ULMStagingMemory& ioStaging, ULMPendingLoad& ioPending,
                   ULMVolumeSource* inOwnSource)
        : m_target(inTarget), m_staging(ioStaging), m_pending(ioPending), m_ownSource(inOwnSource) {}

    // The range is in the buffer's coordinates; empty ranges give a
    // finished kULMOK. From caller memory of inRowLength voxels per row and
    // inRowsPerSlice rows per slice (0: the range's own), whose first voxel
    // is the range's first:
    ULMSyncEvent FromMemory(const ULMVolumeRange& inRange, const void* inVoxels, int inRowLength,
                            int inRowsPerSlice);
    // From the box of a source (null: the volume's own) of the range's sizes
    // at (inX, inY, inZ).
    ULMSyncEvent FromSource(const ULMVolumeRange& inRange, ULMVolumeSource* inSource, int inX, int inY, int inZ);

    // The individual methods; the two above choose one by the configuration
    // and fall back to a copy when it fails.
    ULMSyncEvent Map(const ULMVolumeRange& inRange, const void* inVoxels, int inRowLength, int inRowsPerSlice,
                     bool inCopyUnaligned);
    ULMSyncEvent Copy(const ULMVolumeRange& inRange, const void* inVoxels, int inRowLength, int inRowsPerSlice);
    ULMSyncEvent Kernel(const ULMVolumeRange& inRange, const void* inVoxels, int inRowLength, int inRowsPerSlice);
    ULMSyncEvent Direct(const ULMVolumeRange& inRange, const void* inVoxels, int inRowLength, int inRowsPerSlice);
    ULMSyncEvent OneCopy(const ULMVolumeRange& inRange, const void* inVoxels, int inRowLength, int inRowsPerSlice);
    ULMSyncEvent MapFromSource(const ULMVolumeRange& inRange, ULMVolumeSource* inSource, int inX, int inY, int inZ,
                               bool inCopyUnaligned);
    ULMSyncEvent CopyFromSource(const ULMVolumeRange& inRange, ULMVolumeSource* inSource, int inX, int inY, int inZ);
    ULMSyncEvent KernelFromSource(const ULMVolumeRange& inRange, ULMVolumeSource* inSource, int inX, int inY,
                                  int inZ);
    ULMSyncEvent OneMapFromSource(const ULMVolumeRange& inRange, ULMVolumeSource* inSource, int inX, int inY,
                                  int inZ);
    ULMSyncEvent OneCopyFromSource(const ULMVolumeRange& inRange, ULMVolumeSource* inSource, int inX, int inY,
                                   int inZ);

    // Copies the box inRange out of a block of inAllocatedSizeX voxels per
    // row and inAllocatedSizeY rows per slice into a tight block.
    static void PackVoxels(const void* inVoxels, const ULMVolumeRange& inRange, int inAllocatedSizeX,
                           int inAllocatedSizeY, int inSizeBytes, void* outVoxels);

private:
    // Fills inSlices slices from inFirstSlice of a load's box at outStaging.
    using SlabFiller = std::function<ULMStatus(int inFirstSlice, int inSlices, char* outStaging)>;
    // Stages the whole box at once and loads it in slabs of whole slices of
    // at most inSlabLimit bytes, each started as soon as it is filled, so
    // that the board loads one slab while the host fills the next.
    ULMSyncEvent StagedLoad(const ULMVolumeRange& inRange, int64_t inSlabLimit, const SlabFiller& inFill);
    // Chunks over two slots of staging memory, or of driver host buffers
    // (inKernel), each filled by inFill.
    ULMSyncEvent StagedChunks(const ULMVolumeRange& inRange, int64_t inLimit, bool inKernel,
                              const SlabFiller& inFill);
    // Ends a chunked load, keeping the mapping of the own source its last
    // load reads.
    void Finish(ULMChunkedLoad& ioLoad, const ULMSyncEvent& inLast);

    const ULMLoadTarget m_target;
    ULMStagingMemory& m_staging;
    ULMPendingLoad& m_pending;
    ULMVolumeSource* const m_ownSource;
};

}  // namespace ulm3
