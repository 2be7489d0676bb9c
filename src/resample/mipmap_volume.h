// The mipmap volume: a volume that wraps another (level 0, the
// application's own voxels) and keeps coarser copies of it (levels 1, 2,
// ...), each made on the board by resampling the level below. A render
// draws the finest level the chip can subsample at the view's scale; every
// other operation of the volume interface is answered by the wrapper's own
// copy of the volume's properties, by level 0 or by every level.
//
// The members live by role: levels, ranges and the mipmap setters
// (mipmap_volume.cpp), generation (mipmap_volume_generation.cpp), level
// choice and render (mipmap_volume_render.cpp), and the rest of the
// interface (mipmap_volume_slots.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "foundation/locks.h"
#include "ulm3/classifier.h"
#include "ulm3/volume.h"
#include "ulm3/volume_source.h"

namespace ulm3 {

struct ULMWrapperParts;

class TempClonedContext;

// 2 * trunc(v * 0.5 + 0.5): even values stay, odd integers go up (3 to 4),
// 2.4 to 2.
int RoundToNearestEvenInteger(double inValue);

// Two serials decide what is stale. The state serial advances with every
// change of a property the wrapper copies into its levels (fields,
// correction matrix, active sub-volume, border, extend modes, space
// leaping); a level whose copy is older gets the state again before it is
// handed out or rendered. Level 0's volume serial advances whenever level
// 0's voxels or buffer may have changed, and with every change of a
// generation parameter; a level above 0 is fresh exactly while its volume
// serial equals level 0's.
//
// Threads: the wrapper's own bookkeeping (serials, the level table, the
// copied state, the mipmap parameters, the target) is held by m_lock. Level
// 0's volume is fixed from construction to destruction, so calls are
// forwarded to it without the lock, and a serial that a change of level 0
// advances is advanced once the change is queued: a level generated in
// between is stale by then. Renders and generation keep the lock while they
// queue their board work on the levels, which no one else holds; the lock
// is never held while a call goes to a volume the application gave.
class ULMMipmapVolume final : public ULMVolume {
public:
    struct LevelInfo {
        // m_stateSerial when the state was last copied into the volume; 0 never.
        uint64_t stateSerial = 0;
        // Level 0: its data version. Above: level 0's when generated; 0 never.
        uint64_t volumeSerial = 0;
        // One reference held; null while the level does not exist.
        ULMVolume* volume = nullptr;
        // Size and origin in the level's own voxels. The level choice, a
        // const operation, computes the ranges it needs (under m_lock).
        mutable ULMVolumeRange range;
        // The level's generation, with those of the levels it was made
        // from, while it runs or once it failed; OK once it ran well. The
        // boards run a render of the level whatever became of it.
        mutable ULMSyncEvent generated{kULMOK};
    };

    // The factory volume creation calls: a mipmap volume over inTopLevel,
    // on which it takes its own reference; one reference for the caller.
    static ULMVolume* Create(ULMVolume* inTopLevel, ULMVolumeSource* inSource);
    // For the lock order: the wrapper's lock over level 0's; the coarser
    // levels are made under the wrapper's lock, after everything else.
    static void LockParts(const ULMVolume& inWrapper, ULMWrapperParts& outParts);

    ULMMipmapVolume(ULMVolume* inTopLevel, ULMVolumeSource* inSource);

    // ---- Levels and ranges (mipmap_volume.cpp) ----
    // The range of level inLevel from level inSourceLevel's, shrunk by the
    // factors down to the minimum dimension; level 0's is never computed.
    void ComputeLevelRange(int inLevel, int inSourceLevel, double inShrinkX, double inShrinkY,
                           double inShrinkZ) const;
    // Copies the wrapper's state into the level's volume; the first failure
    // is returned and the level's copy stays old, to be tried again.
    ULMStatus SetLevelState(int inLevel);
    ULMStatus SetMipmapAutoGenerate(int inOn) override;
    int GetMipmapAutoGenerate() const override;
    ULMStatus SetMipmapMinDimension(int inDimension) override;
    int GetMipmapMinDimension() const override;
    ULMStatus SetMipmapShrinkFactors(double inX, double inY, double inZ) override;
    void GetMipmapShrinkFactors(double& outX, double& outY, double& outZ) const override;
    ULMStatus SetMipmapInterpolationMode(ULMFieldNumber inField, ULMInterpolationMode inMode) override;
    ULMInterpolationMode GetMipmapInterpolationMode(ULMFieldNumber inField) const override;
    ULMStatus SetMipmapRange(int inMinLevel, int inMaxLevel) override;
    void GetMipmapRange(int& outMinLevel, int& outMaxLevel) const override;
    int GetNumberMipmapLevels() const override;
    // 0 for a plain level 0, else its multiboard phase, and its number of
    // copies or bricks.
    int GetMultiboardMode() const { return m_multiboardMode; }
    int GetNumberMultiboardVolumes() const { return m_numberMultiboardVolumes; }
    // A copy of a level's record and the state serial, as they stand.
    LevelInfo GetLevelInfo(int inLevel) const;
    uint64_t GetStateSerial() const;

    // ---- Generation (mipmap_volume_generation.cpp) ----
    ULMStatus GenerateMipmapLevel(int inLevelToGenerate, int inSourceLevel, double inShrinkX, double inShrinkY,
                                  double inShrinkZ) override;
    ULMSyncEvent StartGenerateMipmapLevel(int inLevelToGenerate, int inSourceLevel, double inShrinkX,
                                          double inShrinkY, double inShrinkZ) override;
    // Makes the level again from the level below with the wrapper's
    // factors; a level that would not shrink gives kULMErrCantSubsample,
    // and a failed level is released. The caller records the serial.
    // Level 0, when it is on no board, is locked on inBoard first; a wrapper
    // locked without its buffer makes no level (kULMErrVolume).
    ULMSyncEvent AutoGenerateMipmapLevel(int inLevel, ULMLocation inBoard = kULMAnyBoard);
    ULMStatus CreateMipmapLevel(int inLevel, ULMLocation inLocation, ULMVolumeRange inRange) override;
    ULMVolume* GetMipmapLevel(int inLevel) override;

    // ---- Level choice and render (mipmap_volume_render.cpp) ----
    int ChooseMipmapLevel(const ULMContext* inContext) const override;
    int ChooseMipmapLevel(const ULMContext* inContext, int inMinLevel, int inMaxLevel) const override;
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
                                     MPRMode inMode, bool inIsMPRRender);

    // ---- The rest of the interface (mipmap_volume_slots.cpp) ----
    // From the wrapper's copy.
    bool IsReadOnly() const override;
    unsigned int GetFormat() const override;
    Layout GetLayout() const override;
    ULMVolumeRange GetRange() const override;
    void GetSize(unsigned& outX, unsigned& outY, unsigned& outZ) const override;
    unsigned GetSizeX() const override;
    unsigned GetSizeY() const override;
    unsigned GetSizeZ() const override;
    int GetVoxelSize() const override;
    ULMFieldDescriptor GetFieldDescriptor(ULMFieldNumber inField) const override;
    ULMMatrix GetCorrectionMatrix() const override;
    ULMMatrix GetModelMatrix() const override;
    ULMVolumeRange GetActiveSubVolume() const override;
    unsigned GetActiveSubVolumeSizeX() const override;
    unsigned GetActiveSubVolumeSizeY() const override;
    unsigned GetActiveSubVolumeSizeZ() const override;
    unsigned GetActiveSubVolumeOriginX() const override;
    unsigned GetActiveSubVolumeOriginY() const override;
    unsigned GetActiveSubVolumeOriginZ() const override;
    void GetActiveSubVolumeSize(unsigned& outX, unsigned& outY, unsigned& outZ) const override;
    void GetActiveSubVolumeOrigin(unsigned& outX, unsigned& outY, unsigned& outZ) const override;
    unsigned GetBorderValue() const override;
    void GetExtendModes(ExtendMode& outX, ExtendMode& outY, ExtendMode& outZ) const override;
    ExtendMode GetExtendModeX() const override;
    ExtendMode GetExtendModeY() const override;
    ExtendMode GetExtendModeZ() const override;
    ULMTarget GetTarget() const override;
    void GetSpaceLeapingParameters(SpaceLeapingMode& outMode, double& outRed, double& outGreen, double& outBlue,
                                   double& outAlpha) const override;
    // Setters of the copied state.
    ULMStatus SetFieldDescriptor(ULMFieldNumber inField, const ULMFieldDescriptor& inDescriptor) override;
    ULMStatus SetCorrectionMatrix(const ULMMatrix& inMatrix) override;
    ULMStatus SetModelMatrix(const ULMMatrix& inMatrix) override;
    ULMStatus SetActiveSubVolume(const ULMVolumeRange& inRange) override;
    ULMStatus SetActiveSubVolumeSize(unsigned inX, unsigned inY, unsigned inZ) override;
    ULMStatus SetActiveSubVolumeOrigin(unsigned inX, unsigned inY, unsigned inZ) override;
    ULMStatus SetBorderValue(unsigned inValue) override;
    ULMStatus SetExtendMode(ExtendMode inMode) override;
    ULMStatus SetExtendModes(ExtendMode inX, ExtendMode inY, ExtendMode inZ) override;
    ULMStatus SetSpaceLeapingParameters(SpaceLeapingMode inMode, double inRed, double inGreen, double inBlue,
                                        double inAlpha) override;
    ULMStatus SetTarget(ULMTarget inTarget) override;
    // Forwarded to level 0, which then holds other voxels or another buffer.
    ULMStatus LockVolume(ULMLocation inLocation) override;
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
    ULMStatus Resize(unsigned inX, unsigned inY, unsigned inZ, int inResizeBuffer) override;
    ULMStatus Resize(const ULMVolumeRange& inNewRange, int inResizeBuffer) override;
    ULMStatus CreateBuffer(ULMLocation inLocation) override;
    ULMStatus CreateBuffer(ULMLocation inLocation, unsigned inSizeX, unsigned inSizeY, unsigned inSizeZ) override;
    ULMStatus CreateBuffer(ULMLocation inLocation, const ULMVolumeRange& inRange) override;
    ULMStatus AttachBuffer(unsigned long long inBufferID) override;
    ULMStatus ResizeBuffer(unsigned inX, unsigned inY, unsigned inZ) override;
    ULMStatus ResizeBuffer(const ULMVolumeRange& inRange) override;
    ULMStatus SetBufferWrap(int inModulusX, int inModulusY, int inModulusZ) override;
    ULMStatus SetBufferOffset(int inOffsetX, int inOffsetY, int inOffsetZ) override;
    ULMStatus SetBufferAddressParameters(ULMAddressMode inMode, int inX, int inY, int inZ) override;
    // Forwarded to level 0 as they are.
    bool IsLocked() const override;
    bool IsLoaded() const override;
    ULMAccessType GetAccessControl() const override;
    ULMStatus UnmapVolume() override;
    ULMStatus Unload(void* outVoxels, const ULMVolumeRange& inVolumeRange, ULMSource inSource) const override;
    ULMStatus UnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange, const ULMFieldDescriptor& inField,
                          ULMSource inSource) const override;
    ULMSyncEvent StartUnload(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                             ULMSource inSource) const override;
    ULMSyncEvent StartUnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                  const ULMFieldDescriptor& inField, ULMSource inSource) const override;
    unsigned long long GetBufferID() const override;
    void GetBufferSize(unsigned& outX, unsigned& outY, unsigned& outZ) const override;
    unsigned GetBufferSizeX() const override;
    unsigned GetBufferSizeY() const override;
    unsigned GetBufferSizeZ() const override;
    ULMVolumeRange GetBufferRange() const override;
    ULMStatus ReleaseBuffer() override;
    ULMStatus SetBufferPermission(ULMPermission inPermission) override;
    ULMPermission GetBufferPermission() const override;
    ULMLocation GetBufferLocation() const override;
    void GetBufferAddressParameters(ULMAddressMode& outMode, int& outX, int& outY, int& outZ) const override;
    ULMAddressMode GetBufferAddressMode() const override;
    int GetBufferAddressParameterX() const override;
    int GetBufferAddressParameterY() const override;
    int GetBufferAddressParameterZ() const override;
    // Every level.
    ULMStatus UnlockVolume(int inUnload) override;
    // Passes of level 0 into other volumes.
    ULMStatus ResampleBuffer(ULMVolume* ioDestination, const ULMVolumeRange& inSourceRange,
                             const ULMVolumeRange& inDestinationRange, const ULMClassifier& inClassifier) override;
    ULMSyncEvent StartResampleBuffer(ULMVolume* ioDestination, const ULMVolumeRange& inSourceRange,
                                     const ULMVolumeRange& inDestinationRange,
                                     const ULMClassifier& inClassifier) override;
    ULMStatus RenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume, RenderToVolumeMode inMode) override;
    ULMSyncEvent StartRenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume,
                                     RenderToVolumeMode inMode) override;

protected:
    ~ULMMipmapVolume() override;

private:
    // Level 0, for the forwarding helpers: none while it is absent.
    std::span<ULMVolume* const> Level0() const;
    // Level 0 after its state has caught up (kULMErrVolume when absent);
    // the state copy's failure otherwise.
    ULMStatus Level0UpToDate(ULMVolume*& outLevel0);
    // Advances level 0's volume serial: every level above 0 is stale.
    void StaleLevels();
    // Stores a changed copied property and advances the state serial.
    template <class T>
    ULMStatus StoreState(T& ioStored, const T& inValue);
    // Level l exists and was generated from level 0 as it stands.
    bool IsFresh(int inLevel) const;
    // Levels whose generation failed on a board, which the render that
    // queued it answered with, count as stale: the next use makes them again.
    void ForgetFailedLevels();
    // The highest fresh level at or below inLevel (0 when none above is).
    int HighestFreshLevel(int inLevel) const;
    // Generates the levels above inFrom up to inTo in turn, each recorded
    // fresh once its pass is queued: the first level that failed, or -1.
    int GenerateLevels(int inFrom, int inTo, ULMLocation inBoard, ULMSyncEvent& outFailure);
    // How many voxels of level 0 one voxel of a level of inRange spans.
    void VoxelSpan(const ULMVolumeRange& inRange, double (&outSpan)[3]) const;
    // The body of StartGenerateMipmapLevel once the arguments are checked
    // and the range computed: steps shared with automatic generation.
    ULMSyncEvent ResampleLevel(int inLevel, int inSourceLevel, ULMLocation inBoard);
    // A source kULMUseTarget as the wrapper's target says.
    ULMSource ResolveSource(ULMSource inSource) const;
    // A map's bookkeeping: a writing map makes the levels stale when it is
    // made and again when it ends, since its voxels are written in between.
    ULMStatus AfterMap(ULMAccessType inAccess, ULMStatus inStatus);
    // A buffer change forwarded, the levels stale afterwards.
    template <typename Change>
    ULMStatus ChangeLevel0(Change&& inChange);
    // The render of one level with a context.
    using LevelRender = std::function<ULMSyncEvent(ULMVolume& ioLevel, const ULMContext* inContext)>;
    // The context a level is chosen by: inContext, or a clone of it given the
    // output image's rectangle when its viewport has no size (kULMErrBuffer
    // without an output image, kULMErrAlloc without memory).
    static ULMStatus ViewportForLevels(const ULMContext* inContext, ULMImageBuffer* ioColor0, ULMImageBuffer* ioColor1,
                                       bool inIsMPRRender, TempClonedContext& ioClone, const ULMContext*& outContext);
    // The levels from inChosen up, each made fresh where the volume makes
    // them and drawn through ioClone with its crop and trims scaled to the
    // level, until one can subsample the view: the last render's event.
    ULMSyncEvent RenderCoarserLevels(int inChosen, ULMContext& ioClone, ULMLocation inBoard,
                                     const LevelRender& inRender);
    static ULMSyncEvent RenderLevel(ULMVolume& ioLevel, const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                    ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1,
                                    double inNegativeDistance, int inQuality, MPRMode inMode, bool inIsMPRRender);

    mutable ULMRecursiveMutex m_lock;
    int m_levelSize = 0;
    std::unique_ptr<LevelInfo[]> m_level;
    int m_autoGenerate = 1;
    int m_minDimension = 12;
    double m_shrinkX = 0.5, m_shrinkY = 0.5, m_shrinkZ = 0.5;
    ULMInterpolationMode m_interpolationMode[4] = {kULMTrilinear, kULMTrilinear, kULMTrilinear, kULMTrilinear};
    int m_minLevel = 0, m_maxLevel = 0;
    uint64_t m_stateSerial = 1;
    ULMMatrix m_correctionMatrix;
    unsigned int m_format = 0;
    Layout m_layout = kSliced;
    ULMVolumeRange m_range;
    ULMVolumeSource* m_source = nullptr;
    int m_voxelSize = 0;
    ULMFieldDescriptor m_fields[4];
    ULMTarget m_target = kULMSource;
    ULMVolumeRange m_activeSubvolume;
    unsigned m_border = 0;
    ExtendMode m_extendModes[3] = {kExtendWithBorder, kExtendWithBorder, kExtendWithBorder};
    bool m_readOnly = false;
    SpaceLeapingMode m_spaceLeapingMode = kSpaceLeapingNone;
    double m_spaceLeapingThreshold[4] = {};
    int m_multiboardMode = 0;
    int m_numberMultiboardVolumes = 0;
    // Writing maps of level 0 not yet ended.
    int m_openWriteMaps = 0;
};

}  // namespace ulm3
