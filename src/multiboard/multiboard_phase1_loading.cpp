// The phase-1 volume's copies kept alike: a lock loads the source onto
// every board at once, updates go to every copy, unloads from the boards
// take chunks from the copies in turn, and maps either pass to the base
// volume's source or go through a host copy written back to every copy.
#include <cstring>
#include <new>

#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/enumeration_checks.h"
#include "foundation/message_log.h"
#include "foundation/shareable.h"
#include "multiboard/multiboard_copy_access.h"
#include "multiboard/multiboard_volume_phase1.h"
#include "multiboard/slice_chunks.h"
#include "volume/buffer_lock_pair.h"
#include "volume/typed_volume_map.h"
#include "volume/volume_forwarding.h"
#include "volume/volume_internal.h"

namespace ulm3 {

namespace {

// The lock loads at most this many bytes of voxels per chunk and board, so
// that what one chunk stages stays bounded.
constexpr int64_t kLoadChunkBytes = 16 * 1024 * 1024;
// An unload from the boards takes at most this many slices from a copy
// before the next copy's turn.
constexpr int kUnloadChunkSlices = 8;

ULMVolumeRange Slices(const ULMVolumeRange& inRange, int inZ, int inCount) {
    return ULMVolumeRange(inRange.XSize(), inRange.YSize(), inCount, inRange.XOrigin(), inRange.YOrigin(), inZ);
}

[[noreturn]] void NoBaseVolume() { UlmAssert("m_baseVolume != NULL", __FILE__, __LINE__, nullptr); }

}  // namespace

// ---- Lock and unlock ----

bool ULMMultiboardVolumePhase1::IsLocked() const { return m_baseVolume != nullptr && m_baseVolume->IsLocked(); }

// A locked or mapped volume is refused before anything changes: the undo of
// a lock that fails half way would free the buffers the first lock filled.
ULMStatus ULMMultiboardVolumePhase1::LockVolume(ULMLocation) {
    if (m_baseVolume == nullptr) return kULMErrVolume;
    ULMRecursiveLock hold(m_lock);
    if (m_numberMappedVolumes > 0) return kULMErrVolume;
    for (ULMVolume* copy : Copies())
        if (copy->IsLocked()) return kULMErrVolume;
    Advance(Serials::kVolume);
    ULMStatus status = LockCopies();
    if (status == kULMOK) status = LoadCopies();
    if (status != kULMOK) UndoLock();
    return status;
}

// Each buffer is recorded as holding the whole volume, so that each copy's
// own lock loads nothing and all the voxels come from LoadCopies, on all
// boards together.
ULMStatus ULMMultiboardVolumePhase1::LockCopies() {
    for (int i = 0; i < m_numberRealVolumes; ++i) {
        const ULMLocation at = m_subvolume[i].m_location;
        ULMVolumeInternal* plain = ULMPlainVolumeOf(m_copies[i], false);
        const ULMStatus status = plain != nullptr ? plain->AllocateBuffer(at) : m_copies[i]->CreateBuffer(at);
        if (ULMFailed(status)) return status;
    }
    for (int i = 0; i < m_numberRealVolumes; ++i) {
        const ULMStatus status = m_copies[i]->LockVolume(m_subvolume[i].m_location);
        if (ULMFailed(status)) return status;
        m_subvolume[i].m_locked = true;
    }
    NoteBuffers();
    return kULMOK;
}

// Chunk by chunk, each started on every board before the next; nothing is
// waited for until all are queued. Every chunk's event is kept: a board
// runs a chunk even when the one before it failed, so the last chunk's
// success would say nothing of the others.
ULMStatus ULMMultiboardVolumePhase1::LoadCopies() {
    if (!m_volumeSource->HasData()) return kULMOK;
    const ULMVolumeRange range = m_baseVolume->GetRange();
    const int end = range.ZOrigin() + range.ZSize();
    const int perChunk = ULMSlicesPerChunk(range, m_voxelSize / 8, kLoadChunkBytes);
    ULMEventTable loads;
    ULMStatus status = kULMOK;
    for (int z = range.ZOrigin(); z < end && status == kULMOK; z += perChunk) {
        const ULMVolumeRange chunk = Slices(range, z, std::min(perChunk, end - z));
        for (int i = 0; i < m_numberRealVolumes && status == kULMOK; ++i) {
            ULMVolume* copy = m_copies[i];
            const ULMSyncEvent event =
                copy->StartUpdate(copy, chunk, chunk.XOrigin(), chunk.YOrigin(), chunk.ZOrigin(), kULMUseSource);
            status = event.Status();
            if (ULMFailed(status)) break;
            loads.Put(i, event);
            status = kULMOK;
        }
    }
    // What was started finishes before the buffers can go.
    const ULMStatus waited = loads.Join().Wait(-1);
    for (ULMVolume* copy : Copies()) ULMSettleLoads(*copy);
    return ULMFailed(status) ? status : waited;
}

void ULMMultiboardVolumePhase1::UndoLock() {
    for (int i = 0; i < m_numberRealVolumes; ++i) {
        m_copies[i]->UnlockVolume(0);
        m_copies[i]->ReleaseBuffer();
        m_subvolume[i].m_locked = false;
    }
}

// Every copy holds the same voxels, and copy 0, the base, holds the
// application's: its own unlock writes them back. When that fails, every
// copy stays locked, as a plain volume does.
ULMStatus ULMMultiboardVolumePhase1::UnlockVolume(int inUnload) {
    ULMRecursiveLock hold(m_lock);
    return ULMForwardSetter(Copies(), kULMErrVolume, [&](ULMVolume& copy, int v) {
        const ULMStatus status = copy.UnlockVolume(v == 0 ? inUnload : 0);
        if (status == kULMOK) m_subvolume[v].m_locked = false;
        return status;
    });
}

bool ULMMultiboardVolumePhase1::IsLoaded() const {
    for (ULMVolume* copy : Copies())
        if (!copy->IsLoaded()) return false;
    return true;
}

ULMStatus ULMMultiboardVolumePhase1::CatchUpWithSource() {
    if (m_baseVolume == nullptr || !m_volumeSource->HasData() || !IsLocked()) return kULMOK;
    const ULMVolumeRange changed = m_volumeSource->ChangedRange(m_baseVolume->GetRange());
    if (changed.IsEmpty()) return kULMOK;
    // Each copy would take the change in turn, and the first to do so
    // would clear it for all.
    m_volumeSource->ResetChangedRange();
    ULMEventJoin reloads;
    for (ULMVolume* copy : Copies()) {
        ULMVolumeInternal* plain = ULMPlainVolumeOf(copy, true);
        if (plain == nullptr) continue;
        const ULMSyncEvent reload = plain->StartReloadFromSource(changed);
        if (ULMFailed(reload.Status())) return ULMSettleRefusedParts(reloads.Result(), reload.Status());
        reloads.Add(reload);
    }
    return kULMOK;
}

// ---- Updates ----

ULMStatus ULMMultiboardVolumePhase1::Update(const void* inVoxels, const ULMVolumeRange& inDestinationRange) {
    return ForwardSetter(Serials::kVolume,
                         [&](ULMVolume& copy, int) { return copy.Update(inVoxels, inDestinationRange); });
}

ULMStatus ULMMultiboardVolumePhase1::Update(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange,
                                            int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource) {
    const ULMBufferLockPair hold(*this, inVolume);
    return ForwardSetter(Serials::kVolume, [&](ULMVolume& copy, int) {
        const ULMVolume* from = inVolume == this ? &copy : inVolume;
        return copy.Update(from, inDestinationRange, inSourceX, inSourceY, inSourceZ, inSource);
    });
}

ULMStatus ULMMultiboardVolumePhase1::UpdateField(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                                                 const ULMFieldDescriptor& inDestinationField) {
    return ForwardSetter(Serials::kVolume, [&](ULMVolume& copy, int) {
        return copy.UpdateField(inVoxels, inVolumeRange, inDestinationField);
    });
}

ULMStatus ULMMultiboardVolumePhase1::UpdateVolume(unsigned int inFormat, const void* inVoxels, unsigned inTargetX,
                                                  unsigned inTargetY, unsigned inTargetZ, unsigned inSizeX,
                                                  unsigned inSizeY, unsigned inSizeZ, Layout inLayout) {
    return ForwardSetter(Serials::kVolume, [&](ULMVolume& copy, int) {
        return copy.UpdateVolume(inFormat, inVoxels, inTargetX, inTargetY, inTargetZ, inSizeX, inSizeY, inSizeZ,
                                 inLayout);
    });
}

ULMSyncEvent ULMMultiboardVolumePhase1::StartUpdate(const void* inVoxels, const ULMVolumeRange& inDestinationRange) {
    return ForwardWrite(inDestinationRange,
                        [&](ULMVolume& copy, int) { return copy.StartUpdate(inVoxels, inDestinationRange); });
}

// From this volume itself, each copy copies within itself, so the voxels
// move within each board.
ULMSyncEvent ULMMultiboardVolumePhase1::StartUpdate(const ULMVolume* inVolume,
                                                    const ULMVolumeRange& inDestinationRange, int inSourceX,
                                                    int inSourceY, int inSourceZ, ULMSource inSource) {
    // Both volumes' locks, this one's among them, in the one order: the
    // copies read the other volume under them.
    const ULMBufferLockPair hold(*this, inVolume);
    return ForwardWrite(inDestinationRange, [&](ULMVolume& copy, int) {
        const ULMVolume* from = inVolume == this ? &copy : inVolume;
        return copy.StartUpdate(from, inDestinationRange, inSourceX, inSourceY, inSourceZ, inSource);
    });
}

ULMSyncEvent ULMMultiboardVolumePhase1::StartUpdateField(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                                                         const ULMFieldDescriptor& inDestinationField) {
    return ForwardWrite(inVolumeRange, [&](ULMVolume& copy, int) {
        return copy.StartUpdateField(inVoxels, inVolumeRange, inDestinationField);
    });
}

// ---- Writes that did not reach every copy ----

void ULMMultiboardVolumePhase1::SettleWrites() const {
    ULMRecursiveLock hold(m_lock);
    std::vector<StartedWrite> pending;
    for (const StartedWrite& write : m_startedWrites) {
        bool finished = true;
        for (int i = 0; i < write.started; ++i) finished = finished && write.parts[i].IsDone();
        if (!finished)
            pending.push_back(write);
        else
            AlignCopies(write);
    }
    m_startedWrites.swap(pending);
}

// Only writes into the buffers can part the copies: the source is one.
void ULMMultiboardVolumePhase1::AlignCopies(const StartedWrite& inWrite) const {
    int from = -1;
    bool all = inWrite.started == m_numberRealVolumes;
    for (int i = 0; i < inWrite.started; ++i) {
        const bool took = inWrite.parts[i].Wait(0) == kULMOK;
        if (took && from < 0) from = i;
        all = all && took;
    }
    if (all) return;
    if (from < 0) from = 0;
    const ULMVolume* source = m_copies[from];
    if (source->GetTarget() != kULMBuffer) return;
    const ULMVolumeRange& r = inWrite.range;
    for (int i = 0; i < m_numberRealVolumes; ++i) {
        if (i == from || m_copies[i]->GetTarget() != kULMBuffer) continue;
        const ULMStatus copied =
            m_copies[i]->StartUpdate(source, r, r.XOrigin(), r.YOrigin(), r.ZOrigin(), kULMUseBuffer).Wait(-1);
        if (ULMFailed(copied))
            ULMOutputMessage("MB1: copy %d could not take the voxels of copy %d after a write that parted them (%d)\n",
                             i, from, static_cast<int>(copied));
    }
}

// ---- Unloads ----

ULMStatus ULMMultiboardVolumePhase1::Unload(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                            ULMSource inSource) const {
    return StartUnload(outVoxels, inVolumeRange, inSource).Wait(-1);
}

ULMStatus ULMMultiboardVolumePhase1::UnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                                 const ULMFieldDescriptor& inField, ULMSource inSource) const {
    return StartUnloadField(outVoxels, inVolumeRange, inField, inSource).Wait(-1);
}

ULMSyncEvent ULMMultiboardVolumePhase1::StartUnload(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                                    ULMSource inSource) const {
    if (m_baseVolume == nullptr) NoBaseVolume();
    ULMRecursiveLock hold(m_lock);
    if (!GetRange().Contains(inVolumeRange)) return ULMSyncEvent(kULMErrArgument);
    inSource = UnloadSource(inSource);
    if (inSource == kULMUseSource) return m_baseVolume->StartUnload(outVoxels, inVolumeRange, kULMUseSource);
    int inStep[8] = {};
    if (inVolumeRange.XSize() == 1 && (!IsLocked() || (CopiesInStep(inStep) > 0 && inStep[0] == 0))) {
        SettleWrites();
        return m_copies[0]->StartUnload(outVoxels, inVolumeRange, inSource);
    }
    return UnloadInTurn(outVoxels, inVolumeRange, inSource, nullptr, m_voxelSize / 8);
}

ULMSyncEvent ULMMultiboardVolumePhase1::StartUnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                                         const ULMFieldDescriptor& inField,
                                                         ULMSource inSource) const {
    if (m_baseVolume == nullptr) NoBaseVolume();
    ULMRecursiveLock hold(m_lock);
    inSource = UnloadSource(inSource);
    if (inSource == kULMUseSource)
        return m_baseVolume->StartUnloadField(outVoxels, inVolumeRange, inField, kULMUseSource);
    if (!GetRange().Contains(inVolumeRange)) return ULMSyncEvent(kULMErrArgument);
    return UnloadInTurn(outVoxels, inVolumeRange, inSource, &inField, (int64_t{inField.m_size} + 7) / 8);
}

// Unlocked with the source as its target, the volume's voxels are the
// source's: a copy's buffer may hold older ones, or none.
ULMSource ULMMultiboardVolumePhase1::UnloadSource(ULMSource inSource) const {
    const ULMTarget target = GetTarget();
    if (!IsLocked() && target == kULMSource && m_volumeSource->HasData()) return kULMUseSource;
    if (inSource != kULMUseTarget) return inSource;
    return target == kULMBuffer ? kULMUseBuffer : kULMUseSource;
}

void ULMMultiboardVolumePhase1::NoteBuffers() {
    for (int i = 0; i < m_numberRealVolumes; ++i)
        if (m_subvolume[i].m_locked) m_subvolume[i].m_bufferID = m_copies[i]->GetBufferID();
}

int ULMMultiboardVolumePhase1::CopiesInStep(int (&outCopies)[8]) const {
    int count = 0;
    for (int i = 0; i < m_numberRealVolumes; ++i)
        if (m_subvolume[i].m_locked && m_copies[i]->IsLocked() &&
            m_copies[i]->GetBufferID() == m_subvolume[i].m_bufferID)
            outCopies[count++] = i;
    return count;
}

// Chunks of at most eight slices, a copy's share of the range at most,
// from the copies in turn, so that the boards' transfers to the host
// overlap. The turn carries over from call to call. Every chunk's event is
// joined, and nothing else: an earlier unload on the same board (of another
// block, perhaps aborted) is no part of this one's answer. A chunk refused aborts
// the chunks before it, which write the caller's block, or waits for them.
// Only the copies in step take turns; a volume that has none (its copies
// locked or unlocked apart from it) holds its voxels nowhere whole.
ULMSyncEvent ULMMultiboardVolumePhase1::UnloadInTurn(void* outVoxels, const ULMVolumeRange& inRange,
                                                     ULMSource inSource, const ULMFieldDescriptor* inField,
                                                     int64_t inElementBytes) const {
    if (outVoxels == nullptr) return ULMSyncEvent(kULMErrArgument);
    ULMRecursiveLock hold(m_lock);
    SettleWrites();
    int inStep[8] = {};
    const int copies = IsLocked() ? CopiesInStep(inStep) : m_numberRealVolumes;
    if (copies == 0) return ULMSyncEvent(kULMErrVolume);
    if (!IsLocked())
        for (int i = 0; i < copies; ++i) inStep[i] = i;
    const int perChunk = std::min((inRange.ZSize() + copies - 1) / copies, kUnloadChunkSlices);
    const int64_t sliceBytes = ULMSliceBytes(inRange, inElementBytes);
    ULMEventTable table;
    ULMEventJoin chunks;
    auto* out = static_cast<uint8_t*>(outVoxels);
    const int end = inRange.ZOrigin() + inRange.ZSize();
    for (int z = inRange.ZOrigin(); z < end; z += perChunk) {
        const ULMVolumeRange chunk = Slices(inRange, z, std::min(perChunk, end - z));
        m_lastUnloadBoard = (m_lastUnloadBoard + 1) % copies;
        const ULMVolume* copy = m_copies[inStep[m_lastUnloadBoard]];
        const ULMSyncEvent event = inField != nullptr ? copy->StartUnloadField(out, chunk, *inField, inSource)
                                                      : copy->StartUnload(out, chunk, inSource);
        if (ULMFailed(event.Status())) return ULMSyncEvent(ULMSettleRefusedParts(chunks.Result(), event.Status()));
        chunks.Add(event);
        table.Put(inStep[m_lastUnloadBoard], event);
        out += sliceBytes * chunk.ZSize();
    }
    return table.Join();
}

// ---- Maps ----

ULMStatus ULMMultiboardVolumePhase1::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                                  void*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                                  ULMSource inSource) {
    outBaseAddress = nullptr;
    if (inVolumeRange.XSize() < 1 || inVolumeRange.YSize() < 1 || inVolumeRange.ZSize() < 1 ||
        !ULMAccessIsValid(inAccess) || (inSource != kULMUseTarget && inSource != kULMUseSource && inSource != kULMUseBuffer))
        return kULMErrArgument;
    if (m_baseVolume == nullptr) return kULMErrVolume;
    if (ULMAccessIsWrite(inAccess) && m_baseVolume->IsReadOnly()) return kULMErrReadOnly;
    ULMRecursiveLock hold(m_lock);
    if (inSource == kULMUseTarget) inSource = GetTarget() == kULMBuffer ? kULMUseBuffer : kULMUseSource;
    if (inSource == kULMUseSource) {
        if (m_numberMappedVolumes > 0 && m_mappedSource != kULMUseSource) return kULMErrTooMany;
        const ULMStatus status =
            m_baseVolume->MapSubVolume(inAccess, inVolumeRange, outBaseAddress, outSx, outSy, kULMUseSource);
        if (status != kULMOK) return status;
        m_mapped = true;
        ++m_numberMappedVolumes;
        m_mappedSource = kULMUseSource;
        m_mappedVolumeRange = inVolumeRange;
        m_mapType = eSimpleMap;
        return status;
    }
    if (m_numberMappedVolumes > 0) return kULMErrTooMany;
    if (!gULMControl.m_simulateMap) {
        m_mapType = eNotImplementedMap;
        return kULMErrUnimplemented;
    }
    // A range outside the volume has nothing to unload; it is refused before
    // its size is taken as memory to set aside.
    if (!GetRange().Contains(inVolumeRange)) return kULMErrArgument;
    const int64_t bytes = int64_t{inVolumeRange.XSize()} * inVolumeRange.YSize() * inVolumeRange.ZSize() *
                          (m_voxelSize / 8);
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[static_cast<size_t>(bytes)]);
    if (copy == nullptr) return kULMErrAlloc;
    const ULMStatus status = Unload(copy.get(), inVolumeRange, kULMUseBuffer);
    if (status != kULMOK) return status;
    m_mapped = true;
    ++m_numberMappedVolumes;
    m_mappedSource = kULMUseBuffer;
    m_tmpBuff = std::move(copy);
    outBaseAddress = m_tmpBuff.get();
    outSx = static_cast<unsigned>(inVolumeRange.XSize());
    outSy = static_cast<unsigned>(inVolumeRange.YSize());
    m_mappedVolumeRange = inVolumeRange;
    m_mappedAccess = inAccess;
    m_mapType = eSimulatedMap;
    return kULMOK;
}

ULMStatus ULMMultiboardVolumePhase1::UnmapVolume() {
    ULMRecursiveLock hold(m_lock);
    if (m_numberMappedVolumes < 1) return kULMErrVolume;
    if (--m_numberMappedVolumes < 1) m_mapped = false;
    if (m_mapType == eSimpleMap) return m_baseVolume->UnmapVolume();
    if (m_mapType != eSimulatedMap) return kULMErrUnimplemented;
    const ULMStatus status =
        ULMAccessIsWrite(m_mappedAccess) ? Update(m_tmpBuff.get(), m_mappedVolumeRange) : kULMOK;
    m_tmpBuff.reset();
    return status;
}

ULMStatus ULMMultiboardVolumePhase1::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                                  unsigned char*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                                  ULMSource inSource) {
    return MapVoxelsAs(*this, inAccess, inVolumeRange, outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMMultiboardVolumePhase1::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                                  unsigned short*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                                  ULMSource inSource) {
    return MapVoxelsAs(*this, inAccess, inVolumeRange, outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMMultiboardVolumePhase1::MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                                  unsigned int*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                                  ULMSource inSource) {
    return MapVoxelsAs(*this, inAccess, inVolumeRange, outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMMultiboardVolumePhase1::MapVolume(ULMAccessType inAccess, unsigned char*& outBaseAddress,
                                               unsigned& outSx, unsigned& outSy, ULMSource inSource) {
    return MapVoxelsAs(*this, inAccess, GetRange(), outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMMultiboardVolumePhase1::MapVolume(ULMAccessType inAccess, unsigned short*& outBaseAddress,
                                               unsigned& outSx, unsigned& outSy, ULMSource inSource) {
    return MapVoxelsAs(*this, inAccess, GetRange(), outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMMultiboardVolumePhase1::MapVolume(ULMAccessType inAccess, unsigned int*& outBaseAddress,
                                               unsigned& outSx, unsigned& outSy, ULMSource inSource) {
    return MapVoxelsAs(*this, inAccess, GetRange(), outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMMultiboardVolumePhase1::MapVolume(ULMAccessType inAccess, void*& outBaseAddress, unsigned& outSx,
                                               unsigned& outSy, ULMSource inSource) {
    return MapSubVolume(inAccess, GetRange(), outBaseAddress, outSx, outSy, inSource);
}

ULMStatus ULMMultiboardVolumePhase1::MapSubVolume(ULMAccessType inAccess, unsigned inAtX, unsigned inAtY,
                                                  unsigned inAtZ, unsigned inNx, unsigned inNy, unsigned inNz,
                                                  void*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                                  ULMSource inSource) {
    outBaseAddress = nullptr;
    const unsigned values[6] = {inAtX, inAtY, inAtZ, inNx, inNy, inNz};
    for (unsigned v : values)
        if (v > INT32_MAX) return kULMErrArgument;
    const ULMVolumeRange range(static_cast<int>(inNx), static_cast<int>(inNy), static_cast<int>(inNz),
                               static_cast<int>(inAtX), static_cast<int>(inAtY), static_cast<int>(inAtZ));
    return MapSubVolume(inAccess, range, outBaseAddress, outSx, outSy, inSource);
}

}  // namespace ulm3
