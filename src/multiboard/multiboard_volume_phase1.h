// The multiboard volume of the first scheme: the whole volume held on every
// board, the image cut into horizontal bands, band i rendered by the copy of
// the volume on board (i mod boards). It answers the whole volume
// interface: the base volume (the one the application made) answers the
// queries, and every change of voxels, state or buffers goes to each
// distinct copy.
//
// The members live by role: the object and its copies
// (multiboard_volume_phase1.cpp), locking, updates, unloads and maps
// (multiboard_phase1_loading.cpp), the band render
// (multiboard_phase1_render.cpp) and the rest of the interface
// (multiboard_phase1_slots.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "foundation/locks.h"
#include "ulm3/classifier.h"
#include "ulm3/volume.h"
#include "ulm3/volume_source.h"
#include "volume/volume_forwarding.h"

namespace ulm3 {

struct ULMWrapperParts;

// Threads: the copies and the sub-volume table are fixed from construction
// to destruction, so queries reach the base without a lock. Everything that
// drives the copies holds m_lock: the copies share one volume source, whose
// record of changed voxels each copy reads and clears under its own lock
// alone, so the copies are driven by one thread at a time; m_lock also
// holds the object's own bookkeeping (the maps, the unload turn) and keeps
// whole the sequences that must not interleave with another thread's (a
// lock, the lock a render makes on demand). The board work that a call
// queues runs on after it lets go. A pass into another volume takes both
// volumes' locks in the library's one order (ULMBufferLockPair) before
// anything else; m_lock is taken before any lock of a copy. The serials are
// atomic.
class ULMMultiboardVolumePhase1 final : public ULMVolume {
public:
    // Kind of the open map.
    enum MapType { eSimpleMap = 0, eSimulatedMap = 1, eNotImplementedMap = 2 };

    // One sub-volume: its range (the base's whole range), its location
    // (sub-volume i has location i) and the copy that serves it, on board
    // (i mod boards), of which it holds one reference.
    class SubvolumeInfo {
    public:
        SubvolumeInfo() = default;
        ~SubvolumeInfo() { SetVolume(nullptr); }
        SubvolumeInfo(const SubvolumeInfo&) = delete;
        SubvolumeInfo& operator=(const SubvolumeInfo&) = delete;
        // Takes a reference to inVolume before it lets the old one go.
        void SetVolume(ULMVolume* inVolume);
        ULMVolume* GetVolume() const { return m_vol; }
        ULMVolume* operator->() const { return m_vol; }

        ULMVolumeRange m_range;
        ULMLocation m_location = kULMNoBufferAttached;
        bool m_locked = false;
        // The buffer the volume's lock left the copy with: a copy locked or
        // unlocked on its own since holds other voxels than its siblings.
        unsigned long long m_bufferID = 0;

    private:
        ULMVolume* m_vol = nullptr;
    };

    // The factory of volume creation: the object over inTopVolume and its
    // source, with inNumberSubvolumes sub-volumes (0: one per open board);
    // one reference for the caller, or null when no copy can be made.
    static ULMVolume* Create(ULMVolume* inTopVolume, ULMVolumeSource* inVolumeSource, int inNumberSubvolumes);
    // For the lock order: the object's lock over its distinct copies'.
    static void LockParts(const ULMVolume& inWrapper, ULMWrapperParts& outParts);

    // ---- The object and its copies (multiboard_volume_phase1.cpp) ----
    int GetNumberOfVolumes() const { return m_numberSubVolumes; }
    // The distinct copies: sub-volumes 0 .. this - 1 hold them.
    int GetNumberRealVolumes() const { return m_numberRealVolumes; }
    const SubvolumeInfo& GetSubvolume(int inIndex) const { return m_subvolume[inIndex]; }
    ULMVolume* GetBaseVolume() const { return m_baseVolume; }
    int GetVoxelSize() const override { return m_voxelSize; }
    uint64_t GetVolumeSerial() const { return m_volumeSerial.load(); }
    uint64_t GetStateSerial() const { return m_stateSerial.load(); }

    // ---- Locking, updates, unloads and maps (multiboard_phase1_loading.cpp) ----
    ULMStatus LockVolume(ULMLocation inLocation) override;
    bool IsLocked() const override;
    ULMStatus UnlockVolume(int inUnloadToSource) override;
    bool IsLoaded() const override;
    ULMStatus Update(const void* inVoxels, const ULMVolumeRange& inDestinationRange) override;
    ULMStatus Update(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange, int inSourceX,
                     int inSourceY, int inSourceZ, ULMSource inSource) override;
    ULMStatus UpdateField(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                          const ULMFieldDescriptor& inDestinationField) override;
    ULMSyncEvent StartUpdate(const void* inVoxels, const ULMVolumeRange& inDestinationRange) override;
    ULMSyncEvent StartUpdate(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange, int inSourceX,
                             int inSourceY, int inSourceZ, ULMSource inSource) override;
    ULMSyncEvent StartUpdateField(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                                  const ULMFieldDescriptor& inDestinationField) override;
    ULMStatus UpdateVolume(unsigned int inFormat, const void* inVoxels, unsigned inTargetX, unsigned inTargetY,
                           unsigned inTargetZ, unsigned inSizeX, unsigned inSizeY, unsigned inSizeZ,
                           Layout inLayout) override;
    ULMStatus Unload(void* outVoxels, const ULMVolumeRange& inVolumeRange, ULMSource inSource) const override;
    ULMStatus UnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange, const ULMFieldDescriptor& inField,
                          ULMSource inSource) const override;
    ULMSyncEvent StartUnload(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                             ULMSource inSource) const override;
    ULMSyncEvent StartUnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                  const ULMFieldDescriptor& inField, ULMSource inSource) const override;
    ULMStatus MapVolume(ULMAccessType inAccess, unsigned char*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                        ULMSource inSource) override;
    ULMStatus MapVolume(ULMAccessType inAccess, unsigned short*& outBaseAddress, unsigned& outSx,
                        unsigned& outSy, ULMSource inSource) override;
    ULMStatus MapVolume(ULMAccessType inAccess, unsigned int*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                        ULMSource inSource) override;
    ULMStatus MapVolume(ULMAccessType inAccess, void*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                        ULMSource inSource) override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                           unsigned char*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                           ULMSource inSource) override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                           unsigned short*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                           ULMSource inSource) override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                           unsigned int*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                           ULMSource inSource) override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange, void*& outBaseAddress,
                           unsigned& outSx, unsigned& outSy, ULMSource inSource) override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, unsigned inAtX, unsigned inAtY, unsigned inAtZ, unsigned inNx,
                           unsigned inNy, unsigned inNz, void*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                           ULMSource inSource) override;
    ULMStatus UnmapVolume() override;

    // ---- The band render (multiboard_phase1_render.cpp) ----
    ULMStatus Render(const ULMContext* inContext, ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0,
                     ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1) override;
    ULMSyncEvent StartRender(const ULMContext* inContext, ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0,
                             ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1) override;
    ULMStatus RenderMPR(const ULMContext* inContext, double inNegativeDistance, int inQuality, MPRMode inMode,
                        ULMImageBuffer* ioImage) override;
    ULMSyncEvent StartRenderMPR(const ULMContext* inContext, double inNegativeDistance, int inQuality,
                                MPRMode inMode, ULMImageBuffer* ioImage) override;
    ULMSyncEvent DoStartRenderAndMPR(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                     ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                     ULMDepthBuffer* ioDepth1, double inNegativeDistance, int inQuality,
                                     MPRMode inMode, bool inIsMPR);
    ULMStatus RenderWholeView(int inCopy, const ULMContext* inContext, ULMImageBuffer* const inImages[2],
                              double inNegativeDistance, int inQuality, MPRMode inMode, bool inIsMPR,
                              ULMImageRange& outLimits);

    // ---- The rest of the interface (multiboard_phase1_slots.cpp) ----
    bool IsReadOnly() const override;
    unsigned int GetFormat() const override;
    Layout GetLayout() const override;
    ULMVolumeRange GetRange() const override;
    void GetSize(unsigned& outX, unsigned& outY, unsigned& outZ) const override;
    unsigned GetSizeX() const override;
    unsigned GetSizeY() const override;
    unsigned GetSizeZ() const override;
    ULMFieldDescriptor GetFieldDescriptor(ULMFieldNumber inField) const override;
    ULMStatus SetFieldDescriptor(ULMFieldNumber inField, const ULMFieldDescriptor& inDescriptor) override;
    ULMStatus SetCorrectionMatrix(const ULMMatrix& inMatrix) override;
    ULMMatrix GetCorrectionMatrix() const override;
    ULMStatus SetModelMatrix(const ULMMatrix& inMatrix) override;
    ULMMatrix GetModelMatrix() const override;
    ULMStatus SetActiveSubVolume(const ULMVolumeRange& inRange) override;
    ULMVolumeRange GetActiveSubVolume() const override;
    unsigned GetActiveSubVolumeSizeX() const override;
    unsigned GetActiveSubVolumeSizeY() const override;
    unsigned GetActiveSubVolumeSizeZ() const override;
    unsigned GetActiveSubVolumeOriginX() const override;
    unsigned GetActiveSubVolumeOriginY() const override;
    unsigned GetActiveSubVolumeOriginZ() const override;
    ULMStatus SetActiveSubVolumeSize(unsigned inX, unsigned inY, unsigned inZ) override;
    void GetActiveSubVolumeSize(unsigned& outX, unsigned& outY, unsigned& outZ) const override;
    ULMStatus SetActiveSubVolumeOrigin(unsigned inX, unsigned inY, unsigned inZ) override;
    void GetActiveSubVolumeOrigin(unsigned& outX, unsigned& outY, unsigned& outZ) const override;
    ULMStatus SetBorderValue(unsigned inValue) override;
    unsigned GetBorderValue() const override;
    ULMStatus SetExtendMode(ExtendMode inMode) override;
    ULMStatus SetExtendModes(ExtendMode inX, ExtendMode inY, ExtendMode inZ) override;
    void GetExtendModes(ExtendMode& outX, ExtendMode& outY, ExtendMode& outZ) const override;
    ExtendMode GetExtendModeX() const override;
    ExtendMode GetExtendModeY() const override;
    ExtendMode GetExtendModeZ() const override;
    ULMAccessType GetAccessControl() const override;
    ULMStatus Resize(unsigned inX, unsigned inY, unsigned inZ, int inResizeBuffer) override;
    ULMStatus Resize(const ULMVolumeRange& inNewRange, int inResizeBuffer) override;
    ULMStatus CreateBuffer(ULMLocation inLocation) override;
    ULMStatus CreateBuffer(ULMLocation inLocation, unsigned inSizeX, unsigned inSizeY, unsigned inSizeZ) override;
    ULMStatus CreateBuffer(ULMLocation inLocation, const ULMVolumeRange& inRange) override;
    unsigned long long GetBufferID() const override;
    void GetBufferSize(unsigned& outX, unsigned& outY, unsigned& outZ) const override;
    unsigned GetBufferSizeX() const override;
    unsigned GetBufferSizeY() const override;
    unsigned GetBufferSizeZ() const override;
    ULMVolumeRange GetBufferRange() const override;
    ULMStatus AttachBuffer(unsigned long long inBufferID) override;
    ULMStatus ReleaseBuffer() override;
    ULMStatus SetBufferPermission(ULMPermission inPermission) override;
    ULMPermission GetBufferPermission() const override;
    ULMLocation GetBufferLocation() const override;
    ULMStatus ResizeBuffer(unsigned inX, unsigned inY, unsigned inZ) override;
    ULMStatus ResizeBuffer(const ULMVolumeRange& inRange) override;
    ULMStatus SetBufferWrap(int inModulusX, int inModulusY, int inModulusZ) override;
    ULMStatus SetBufferOffset(int inOffsetX, int inOffsetY, int inOffsetZ) override;
    void GetBufferAddressParameters(ULMAddressMode& outMode, int& outX, int& outY, int& outZ) const override;
    ULMStatus SetBufferAddressParameters(ULMAddressMode inMode, int inX, int inY, int inZ) override;
    ULMAddressMode GetBufferAddressMode() const override;
    int GetBufferAddressParameterX() const override;
    int GetBufferAddressParameterY() const override;
    int GetBufferAddressParameterZ() const override;
    ULMStatus SetTarget(ULMTarget inTarget) override;
    ULMTarget GetTarget() const override;
    ULMStatus SetMipmapAutoGenerate(int inOn) override;
    int GetMipmapAutoGenerate() const override;
    ULMStatus SetMipmapMinDimension(int inDimension) override;
    int GetMipmapMinDimension() const override;
    ULMStatus SetMipmapShrinkFactors(double inX, double inY, double inZ) override;
    void GetMipmapShrinkFactors(double& outX, double& outY, double& outZ) const override;
    ULMStatus SetMipmapInterpolationMode(ULMFieldNumber inField, ULMInterpolationMode inMode) override;
    ULMInterpolationMode GetMipmapInterpolationMode(ULMFieldNumber inField) const override;
    ULMStatus GenerateMipmapLevel(int inLevelToGenerate, int inSourceLevel, double inShrinkX, double inShrinkY,
                                  double inShrinkZ) override;
    ULMSyncEvent StartGenerateMipmapLevel(int inLevelToGenerate, int inSourceLevel, double inShrinkX,
                                          double inShrinkY, double inShrinkZ) override;
    ULMStatus SetMipmapRange(int inMinLevel, int inMaxLevel) override;
    void GetMipmapRange(int& outMinLevel, int& outMaxLevel) const override;
    int ChooseMipmapLevel(const ULMContext* inContext) const override;
    int ChooseMipmapLevel(const ULMContext* inContext, int inMinLevel, int inMaxLevel) const override;
    ULMStatus ResampleBuffer(ULMVolume* ioDestination, const ULMVolumeRange& inSourceRange,
                             const ULMVolumeRange& inDestinationRange, const ULMClassifier& inClassifier) override;
    ULMSyncEvent StartResampleBuffer(ULMVolume* ioDestination, const ULMVolumeRange& inSourceRange,
                                     const ULMVolumeRange& inDestinationRange,
                                     const ULMClassifier& inClassifier) override;
    ULMStatus SetSpaceLeapingParameters(SpaceLeapingMode inMode, double inRed, double inGreen, double inBlue,
                                        double inAlpha) override;
    void GetSpaceLeapingParameters(SpaceLeapingMode& outMode, double& outRed, double& outGreen, double& outBlue,
                                   double& outAlpha) const override;
    ULMStatus RenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume, RenderToVolumeMode inMode) override;
    ULMSyncEvent StartRenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume,
                                     RenderToVolumeMode inMode) override;
    ULMVolume* GetMipmapLevel(int inLevel) override;
    ULMStatus CreateMipmapLevel(int inLevel, ULMLocation inLocation, ULMVolumeRange inRange) override;

protected:
    ~ULMMultiboardVolumePhase1() override;

private:
    ULMMultiboardVolumePhase1(ULMVolume* inTopVolume, ULMVolumeSource* inVolumeSource, int inNumberSubvolumes);
    // The copies, for the forwarding helpers: copy i serves sub-volume i;
    // none without a base volume.
    std::span<ULMVolume* const> Copies() const;
    // A new copy over the shared source, with the base's fields (wrapped in a
    // mipmap volume when the base is one), holding one reference for the
    // caller; null when none can be made.
    ULMVolume* MakeCopy() const;
    // The serials of a change, advanced before it is passed on.
    enum class Serials { kNone, kVolume, kState, kBoth };
    void Advance(Serials inSerials);
    // A change forwarded to every copy in turn until the first failure, and
    // a start forwarded into one joined event.
    template <typename Set>
    ULMStatus ForwardSetter(Serials inSerials, Set&& inSet);
    template <typename Start>
    ULMSyncEvent ForwardStart(Serials inSerials, Start&& inStart);
    // A change of the copies' buffers made through the volume: the buffers
    // the locked copies then have are the volume's own.
    template <typename Set>
    ULMStatus ForwardBufferSetter(Serials inSerials, Set&& inSet);
    void NoteBuffers();
    // A write started on every copy, kept until each part has finished:
    // an abort or a failure on some boards but not others leaves the copies
    // holding different voxels, which unloads and bands would then mix.
    struct StartedWrite {
        ULMVolumeRange range;
        ULMSyncEvent parts[8];
        int started = 0;  // parts[0 .. started) were started
    };
    template <typename Start>
    ULMSyncEvent ForwardWrite(const ULMVolumeRange& inRange, Start&& inStart);
    // Every finished write whose parts did not all succeed is made whole
    // again: its range copied from a copy that took it (copy 0 when none
    // did) into every other, so that all hold the same voxels.
    void SettleWrites() const;
    void AlignCopies(const StartedWrite& inWrite) const;

    // ---- Loading (multiboard_phase1_loading.cpp) ----
    // Steps of a lock: buffers recorded as loaded on every board and the
    // copies locked; then the source's voxels loaded onto every board in
    // chunks, and waited for.
    ULMStatus LockCopies();
    ULMStatus LoadCopies();
    // Every copy unlocked and without a buffer, after a failed lock.
    void UndoLock();
    // When the source has changed since the copies were loaded (a simple
    // map written through, the application's own source), every copy loads
    // the change, so that no board keeps the old voxels; not waited for.
    ULMStatus CatchUpWithSource();
    // The chunked unload from the copies' buffers in turn.
    ULMSyncEvent UnloadInTurn(void* outVoxels, const ULMVolumeRange& inRange, ULMSource inSource,
                              const ULMFieldDescriptor* inField, int64_t inElementBytes) const;
    // The copies that hold the voxels the volume's lock and updates put
    // there: locked, on the buffer that lock gave them.
    int CopiesInStep(int (&outCopies)[8]) const;
    // Where an unload asked to read inSource reads: the target resolved,
    // and the source in place of the buffers while the volume is unlocked
    // with the source as its target.
    ULMSource UnloadSource(ULMSource inSource) const;

    ULMVolume* m_baseVolume = nullptr;
    ULMVolume* m_baseMipmapVolume = nullptr;
    int m_numberRealVolumes = 0;
    int m_numberSubVolumes = 0;
    mutable int m_lastUnloadBoard = 0;
    ULMVolumeSource* m_volumeSource = nullptr;
    int m_voxelSize = 0;
    std::unique_ptr<SubvolumeInfo[]> m_subvolume;
    std::atomic<uint64_t> m_volumeSerial{0};
    std::atomic<uint64_t> m_stateSerial{0};
    bool m_mapped = false;
    ULMVolumeRange m_mappedVolumeRange;
    ULMSource m_mappedSource = kULMUseSource;
    std::unique_ptr<uint8_t[]> m_tmpBuff;
    ULMAccessType m_mappedAccess = static_cast<ULMAccessType>(0);
    MapType m_mapType = eNotImplementedMap;
    int m_numberMappedVolumes = 0;
    // Borrowed copies of the records' volumes, 0 .. m_numberRealVolumes - 1.
    ULMVolume* m_copies[8] = {};
    mutable std::vector<StartedWrite> m_startedWrites;
    mutable ULMRecursiveMutex m_lock;
};

// Without a base volume kULMErrVolume; otherwise the serials advance,
// whatever the copies answer, and the first failure is returned.
template <typename Set>
ULMStatus ULMMultiboardVolumePhase1::ForwardSetter(Serials inSerials, Set&& inSet) {
    if (m_baseVolume == nullptr) return kULMErrVolume;
    ULMRecursiveLock hold(m_lock);
    Advance(inSerials);
    const ULMStatus status = ULMForwardSetter(Copies(), kULMErrVolume, inSet);
    return ULMFailed(status) ? status : kULMOK;
}

template <typename Set>
ULMStatus ULMMultiboardVolumePhase1::ForwardBufferSetter(Serials inSerials, Set&& inSet) {
    if (m_baseVolume == nullptr) return kULMErrVolume;
    ULMRecursiveLock hold(m_lock);
    const ULMStatus status = ForwardSetter(inSerials, inSet);
    NoteBuffers();
    return status;
}

// As ForwardStart, with every part kept for SettleWrites, a start refused
// on one copy among them.
template <typename Start>
ULMSyncEvent ULMMultiboardVolumePhase1::ForwardWrite(const ULMVolumeRange& inRange, Start&& inStart) {
    if (m_baseVolume == nullptr) return ULMSyncEvent(kULMErrVolume);
    ULMRecursiveLock hold(m_lock);
    SettleWrites();
    StartedWrite write;
    write.range = inRange;
    const ULMSyncEvent joined = ForwardStart(Serials::kVolume, [&](ULMVolume& copy, int inCopy) {
        const ULMSyncEvent part = inStart(copy, inCopy);
        write.parts[inCopy] = part;
        write.started = inCopy + 1;
        return part;
    });
    if (write.started > 0 && !inRange.IsEmpty()) m_startedWrites.push_back(write);
    return joined;
}

template <typename Start>
ULMSyncEvent ULMMultiboardVolumePhase1::ForwardStart(Serials inSerials, Start&& inStart) {
    if (m_baseVolume == nullptr) return ULMSyncEvent(kULMErrVolume);
    ULMRecursiveLock hold(m_lock);
    Advance(inSerials);
    return ULMForwardStart(Copies(), kULMErrVolume, inStart);
}

}  // namespace ulm3
