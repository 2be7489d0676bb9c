// A volume's copy on a board: the buffer, its board and addressing, what of
// the volume it holds, the loads into it, the map of it and the YZ slab.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/locks.h"
#include "foundation/shareable.h"
#include "ulm3/permission.h"
#include "ulm3/ranges.h"
#include "ulm3/sync_event.h"
#include "ulm3/volume.h"
#include "volume/volume_board_loader.h"
#include "volume/volume_pending_load.h"
#include "volume/volume_staging_memory.h"
#include "volume/volume_yz_cache.h"
#include "volume/voxel_region.h"

namespace ulm3 {

class KWBBoard;
class KWBBuffer;
class ULMVolumeInternal;

// The buffer id a multiboard volume reports for its buffers on every board:
// -2 as a 64-bit id, every bit set but the lowest. No application may
// attach it.
inline constexpr unsigned long long kMultiboardBufferID = 0xFFFFFFFFFFFFFFFEull;

// The copy reads what describes its volume (size, voxel size, fields, the
// source) through the volume's own interface and changes nothing of it; the
// volume's serial is the volume's to advance. Renders and passes prepare it,
// read its buffer and note what they wrote into it, all through this
// interface and under its lock.
class ULMVolumeBoardCopy {
public:
    explicit ULMVolumeBoardCopy(ULMVolumeInternal& inVolume);
    ~ULMVolumeBoardCopy();
    ULMVolumeBoardCopy(const ULMVolumeBoardCopy&) = delete;
    ULMVolumeBoardCopy& operator=(const ULMVolumeBoardCopy&) = delete;

    // Held by a render or pass from its prepare until its board work is
    // queued, and by every application call that changes the buffer, which
    // so waits for that work to be submitted (the board keeps a released
    // buffer alive for work already queued). Taken after an MPR's lock.
    // Everything below is read and changed under it.
    ULMRecursiveMutex& Lock() const { return m_lock; }

    // ---- What it is ----
    KWBBuffer* Buffer() const { return m_buffer; }
    KWBBoard* Board() const { return m_board; }
    ULMLocation Location() const { return m_buffer != nullptr ? m_location : kULMNoBufferAttached; }
    unsigned long long ID() const;
    // The buffer's sizes and address parameters, empty without a buffer.
    ULMVolumeRange Range() const;
    // The addressing, kept while no buffer is attached: the mode, and the
    // offsets or moduli as the window's origin.
    ULMAddressMode AddressMode() const { return m_addressMode; }
    const ULMVolumeRange& Window() const { return m_window; }
    ULMPermission Permission() const { return m_permission; }
    // The buffer holds every voxel of the volume.
    bool IsLoaded() const;
    // Advances with every write into the buffer and every change of its
    // addressing.
    uint64_t Serial() const { return m_serial; }
    // The buffer holds the host data's voxels as they stand: the volume has
    // host data, and the buffer was made and loaded by the volume and not
    // written since.
    bool HoldsTheHostData() const;
    // The voxels of the volume the buffer holds under its addressing, each
    // at its own element with the value last loaded or written there.
    ULMVoxelRegion HeldVoxels() const;
    // kULMOK when the buffer holds every voxel of inBox, or can take what it
    // lacks from the volume's own voxels without dropping any it holds;
    // else kULMErrVolume, with a message that names the box. A read of the
    // buffer asks this first, so that it never sees a voxel of another
    // coordinate or one never written.
    ULMStatus CanRead(const ULMVolumeRange& inBox) const;
    // kULMOK when a write of inBox lands every voxel at an element of its
    // own, else kULMErrVolume with a message.
    ULMStatus CanWrite(const ULMVolumeRange& inBox) const;
    // The board takes a transfer of inBox into the buffer under its
    // addressing, and an offset window holds it whole (a refusal says so):
    // asked of a whole write before any of its parts starts, so that none
    // is refused after another has begun to read the caller's memory.
    bool Takes(const ULMVolumeRange& inBox) const;
    // A box the board can hold at an offset: even origins, and bounds that
    // fit the chip's non-negative 16-bit coordinates.
    static bool Addressable(const ULMVolumeRange& inRange);

    // ---- The buffer's life ----
    // A buffer of inRange, which counts as loaded: the volume's host voxels
    // in it are loaded now.
    ULMStatus CreateLoaded(ULMLocation inLocation, const ULMVolumeRange& inRange);
    // A buffer of inRange recorded as loaded, with the source's changed
    // range cleared, but nothing loaded: the caller loads it (StartReload)
    // before anything reads it.
    ULMStatus CreateRecorded(ULMLocation inLocation, const ULMVolumeRange& inRange);
    // The whole volume on a board and loaded, for a lock.
    ULMStatus LoadWhole(ULMLocation inLocation);
    ULMStatus Attach(unsigned long long inBufferID);
    // Attaches a buffer that other code fills on the board (a blend stack):
    // its content counts as the whole volume, loaded.
    ULMStatus Adopt(unsigned long long inBufferID);
    // The buffer goes even when the slab cannot be written back, so that no
    // board memory is lost; the write-back's failure is still reported. The
    // id and location stay for a later re-attachment.
    ULMStatus Release();
    ULMStatus SetPermission(ULMPermission inPermission);
    // A change of the addressing, and of the sizes when inSizes is given,
    // that keeps the voxels the buffer holds at their own coordinates.
    ULMStatus Relocate(ULMAddressMode inMode, int inX, int inY, int inZ, const int32_t* inSizes);
    // Offset addressing at inRange's origin and its sizes.
    ULMStatus ResizeTo(const ULMVolumeRange& inRange);
    // New sizes under the present addressing.
    ULMStatus ResizeTo(unsigned inX, unsigned inY, unsigned inZ);
    // The source was resized to inNew: what was loaded of it.
    void SourceResized(const ULMVolumeRange& inNew);
    // Waits for the lazy load, ends the slab and lets the buffer go, before
    // the volume lets its source go.
    void Close();

    // ---- Renders and passes ----
    // Before a render: a buffer (made on inWhere, or any board, if there is
    // none) whose valid range is the part of the volume's active sub-volume
    // (all of it when none is set) it holds, and a load started of what is
    // missing there or changed in the source.
    ULMStatus Prepare(ULMLocation inWhere = kULMAnyBoard);
    // Before a pass that reads inBox: as Prepare, with inBox in place of the
    // active sub-volume; refused (CanRead) when the buffer cannot hold it.
    ULMStatus PrepareToRead(const ULMVolumeRange& inBox);
    // After the render: gives up a buffer that Prepare made.
    ULMStatus Finish();
    // Waits for the load Prepare started and lets go of the source mapping
    // it kept.
    ULMStatus WaitForLoad();
    // The part of the volume the current render samples, set by Prepare.
    const ULMVolumeRange& CurrentSubVolume() const { return m_currentSubVolume; }
    // The valid range a pass reads: inBox alone, or the whole buffer.
    void NarrowTo(const ULMVolumeRange& inBox);
    void OpenWhole();
    // A render or pass queued a write of inBox of the buffer on the board.
    void NoteBoardWrite(const ULMVolumeRange& inBox) { NoteWrite(inBox); }

    // ---- Voxels in and out ----
    // The buffer part of an update: the slab written back, the load, and
    // the bookkeeping of the write.
    ULMSyncEvent StartWrite(const void* inVoxels, const ULMVolumeRange& inRange, int inRowLength,
                            int inRowsPerSlice);
    // A YZ slice through the slab; the caller holds a shared write access.
    ULMSyncEvent StartWriteYZSlice(const void* inVoxels, const ULMVolumeRange& inSlice);
    ULMSyncEvent StartWriteField(const void* inVoxels, const ULMVolumeRange& inRange,
                                 const ULMFieldDescriptor& inField);
    // Reads load what the buffer lacks of the range from the volume's own
    // voxels first (Fill), as a render does, or are refused.
    ULMSyncEvent StartRead(void* outVoxels, const ULMVolumeRange& inRange);
    ULMSyncEvent StartReadField(void* outVoxels, const ULMVolumeRange& inRange, const ULMFieldDescriptor& inField);
    // Board to board from another volume's buffer. outTried is false when
    // that buffer is on no open board, so that the copy goes through host
    // memory instead.
    ULMSyncEvent StartCopyFrom(const ULMVolume* inVolume, const ULMVolumeRange& inRange,
                               const ULMVolumeRange& inSourceBox, bool& outTried);
    // The loads into the buffer, by every method (ULMBoardLoader).
    ULMBoardLoader Loader();
    // Loads inRange of the volume's own source again, and returns without
    // waiting: the board reads the source's memory where it lies, and the
    // mapping goes back once the load has completed (WaitForLoad). The
    // buffer then holds the source's voxels there, which is no write of
    // its own. A source that lends no memory goes through the loader.
    ULMSyncEvent StartReload(const ULMVolumeRange& inRange);
    // A write into the buffer by other means (a map, a copy).
    void NoteWrite(const ULMVolumeRange& inRange);
    // A reload of the source's voxels into the buffer (StartReload).
    void NoteReload(const ULMVolumeRange& inRange);

    // ---- The map of the buffer (one at a time) ----
    ULMStatus Map(ULMAccessType inAccess, const ULMVolumeRange& inRange, void*& outBaseAddress, unsigned& outSx,
                  unsigned& outSy);
    bool IsMapped() const { return m_mappedSize != 0; }
    ULMStatus Unmap();

    // ---- The YZ slab ----
    bool ServesYZSlice(const ULMVolumeRange& inRange) const;
    // Writes the slab back into the buffer when it holds newer voxels; every
    // write into the buffer and every change of its addressing runs it
    // first. kULMInProgress while the write-back runs.
    ULMStatus WriteBackSlab() const { return m_yzCache.WriteBack(); }

private:
    // A buffer at least as large as inBox, keeping the one it has when it
    // fits and sits on the asked board (any board: kULMAnyBoard).
    ULMStatus Allocate(ULMLocation inLocation, const ULMVolumeRange& inBox);
    // Loads a range of the volume's source and waits for it.
    ULMStatus LoadFromSourceNow(const ULMVolumeRange& inRange);
    // What the buffer lacks of inBox, which it can take from the volume's
    // own voxels; refused as CanRead refuses.
    ULMStatus Lacking(const ULMVolumeRange& inBox, std::vector<ULMVolumeRange>& outLoads) const;
    // Loads what the buffer lacks of inBox and waits for it.
    ULMStatus Fill(const ULMVolumeRange& inBox);
    // Prepare and PrepareToRead (inReads): the box read, the valid range,
    // and the loads of what the buffer lacks there or the source changed.
    ULMStatus PrepareFor(ULMLocation inWhere, const ULMVolumeRange* inReads);
    // The buffer now holds inBox at its own elements: under wrap the voxels
    // whose elements it took are no longer held.
    void NoteHeld(const ULMVolumeRange& inBox);
    // The held voxels that a change to inMode, inParameters and inSizes
    // keeps; false when a wrap cannot keep them all.
    bool Keeps(ULMAddressMode inMode, const int32_t inParameters[3], const int32_t inSizes[3],
               ULMVoxelRegion& outKept) const;
    // Loads in the buffer's coordinates, as ULMBoardLoader's FromMemory and
    // FromSource, into a buffer that is there.
    ULMSyncEvent StartLoad(const ULMVolumeRange& inRange, const void* inVoxels, int inRowLength, int inRowsPerSlice);
    ULMSyncEvent StartLoadFromSource(const ULMVolumeRange& inRange, ULMVolumeSource* inSource, int inX, int inY,
                                     int inZ);
    // The buffer of CreateLoaded and CreateRecorded, and what it holds.
    ULMStatus Create(ULMLocation inLocation, const ULMVolumeRange& inRange, bool inLoad);
    // Allocation on one board; status and buffer as the board layer gave.
    KWBBuffer* CreateOn(int inBoard, const ULMVolumeRange& inBox, ULMStatus& outStatus);
    ULMLoadTarget Target() const;
    // The voxel bytes of the volume.
    int VoxelBytes() const;

    ULMVolumeInternal& m_volume;
    KWBBuffer* m_buffer = nullptr;
    KWBBoard* m_board = nullptr;
    bool m_valid = false;
    ULMLocation m_location = kULMNoBufferAttached;
    uint64_t m_id = 0;
    ULMPermission m_permission = kULMPermissionNotShared;
    ULMAddressMode m_addressMode = kULMOffsetAddress;
    ULMVolumeRange m_window;
    // The addressing the voxels of buffer m_id lie under while the volume
    // has let it go: another volume may keep it alive.
    ULMAddressMode m_releasedMode = kULMOffsetAddress;
    int32_t m_releasedAddress[3] = {0, 0, 0};
    uint64_t m_serial = 0;
    // m_serial when the volume made its buffer (0: the buffer came from
    // elsewhere).
    uint64_t m_sourceSerial = 0;
    // The voxels loaded or written into the buffer at their own elements
    // (or counted so, as a buffer made without loading is); HeldVoxels
    // keeps what the addressing holds of them.
    ULMVoxelRegion m_held;
    // The boxes of the lazy loads not yet waited for.
    std::vector<ULMVolumeRange> m_loading;
    ULMVolumeRange m_currentSubVolume;
    bool m_releaseAfterRender = false;
    ULMPendingLoad m_pendingLoad;
    ULMStagingMemory m_staging;
    // The one live map of the buffer: its address and voxels (0: none).
    void* m_mappedVoxelMemory = nullptr;
    uint64_t m_mappedSize = 0;
    mutable ULMYZSliceCache m_yzCache;
    mutable ULMRecursiveMutex m_lock;
};

}  // namespace ulm3
