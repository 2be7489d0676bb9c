// The library's one concrete volume: a volume source, the volume's
// description, and the copy of it on a board.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "foundation/access.h"
#include "foundation/locks.h"
#include "ulm3/volume.h"
#include "ulm3/volume_source.h"
#include "volume/volume_board_copy.h"

namespace ulm3 {

class ULMVolumeEngineState;

// Calls on one volume are serialised by the volume's access control, and
// the board copy (the buffer, its board, what is loaded) and the target by
// the board copy's lock besides: renders, passes and unloads hold no
// exclusive access, yet the buffer must not go while they set up their
// board work. The setters of what a render reads of the description (the
// fields, the correction matrix, the active sub-volume, the border value
// and the extend modes) take that lock too, so that a render set up in
// another thread reads one state of them.
class ULMVolumeInternal : public ULMVolume, public ULMAccessInternal {
public:
    // Plain volumes for the other subsystems, never wrapped; one reference
    // for the caller, or null on a bad argument, a closed library or a
    // source that cannot be bound.
    static ULMVolumeInternal* CreateSimpleVolume(int inVoxelSize, const ULMVolumeRange& inRange, int inNumberOfFields,
                                                 const ULMFieldDescriptor* inFieldArray, void* inVoxels);
    static ULMVolumeInternal* CreateSimpleVolume(ULMVolumeSource* inVolumeSource);

    // Binds the source; a source that cannot be bound leaves a volume whose
    // GetVoxelSize is 0, which the creators release.
    explicit ULMVolumeInternal(ULMVolumeSource* pSource);

    // Binds a source (setAll) or re-binds one of the same voxel size.
    ULMStatus SetSource(ULMVolumeSource* pSource, bool setAll);
    ULMVolumeSource* GetSource() const { return m_volumeSource; }
    // The source holds voxels of its own (a data-less volume lives on its
    // board alone).
    bool HasData() const { return m_hasData; }
    // The legacy format code a volume made from a format code reports.
    void SetFormatCode(unsigned inFormat) { m_format = inFormat; }

    // ---- Description (volume_internal.cpp) ----
    bool IsReadOnly() const override { return m_readOnly; }
    unsigned int GetFormat() const override { return m_format; }
    Layout GetLayout() const override { return m_layout; }
    ULMVolumeRange GetRange() const override { return m_wholeVolume; }
    void GetSize(unsigned& outX, unsigned& outY, unsigned& outZ) const override;
    unsigned GetSizeX() const override { return static_cast<unsigned>(m_wholeVolume.XSize()); }
    unsigned GetSizeY() const override { return static_cast<unsigned>(m_wholeVolume.YSize()); }
    unsigned GetSizeZ() const override { return static_cast<unsigned>(m_wholeVolume.ZSize()); }
    int GetVoxelSize() const override { return 8 * m_voxelSizeBytes; }
    ULMFieldDescriptor GetFieldDescriptor(ULMFieldNumber inField) const override;
    ULMStatus SetFieldDescriptor(ULMFieldNumber inField, const ULMFieldDescriptor& inDescriptor) override;
    bool IsLocked() const override;
    ULMStatus SetCorrectionMatrix(const ULMMatrix& inMatrix) override;
    ULMMatrix GetCorrectionMatrix() const override { return m_correctionMatrix; }
    ULMStatus SetModelMatrix(const ULMMatrix& inMatrix) override;
    ULMMatrix GetModelMatrix() const override { return m_correctionMatrix; }
    ULMStatus SetActiveSubVolume(const ULMVolumeRange& inRange) override;
    ULMVolumeRange GetActiveSubVolume() const override { return m_userSubVolume; }
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
    unsigned GetBorderValue() const override { return m_borderValue; }
    ULMStatus SetExtendMode(ExtendMode inMode) override;
    ULMStatus SetExtendModes(ExtendMode inX, ExtendMode inY, ExtendMode inZ) override;
    void GetExtendModes(ExtendMode& outX, ExtendMode& outY, ExtendMode& outZ) const override;
    ExtendMode GetExtendModeX() const override { return m_extendModes[0]; }
    ExtendMode GetExtendModeY() const override { return m_extendModes[1]; }
    ExtendMode GetExtendModeZ() const override { return m_extendModes[2]; }
    bool IsLoaded() const override;
    ULMAccessType GetAccessControl() const override { return GetAccessMode(); }
    // kULMOK when a writer may come in now; kULMErrAccess while an access
    // that keeps writers out is held (a map, a render reading the voxels).
    ULMStatus ProbeWriteAccess();
    ULMStatus SetTarget(ULMTarget inTarget) override;
    ULMTarget GetTarget() const override;
    // The box space leaping works on; it must lie inside the volume.
    ULMStatus SetSpaceLeapingRange(const ULMVolumeRange& inRange);
    ULMVolumeRange GetSpaceLeapingRange() const { return m_spaceLeapingRange; }
    // Space leaping (the render engine's): the mode and the red,
    // green, blue and alpha thresholds; a mode outside 0..1 or a threshold
    // above 1.0 is kULMErrArgument.
    ULMStatus SetSpaceLeapingParameters(SpaceLeapingMode inMode, double inRed, double inGreen, double inBlue,
                                        double inAlpha) override;
    void GetSpaceLeapingParameters(SpaceLeapingMode& outMode, double& outRed, double& outGreen, double& outBlue,
                                   double& outAlpha) const override;
    // The board buffer holds the host data's voxels as they stand.
    bool HostDataMatchesBuffer() const { return m_boardCopy.HoldsTheHostData(); }

    // ---- Updates, unloads and maps (volume_update.cpp, volume_mapping.cpp) ----
    ULMStatus Update(const void* inVoxels, const ULMVolumeRange& inDestinationRange) override;
    ULMStatus Update(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange, int inSourceX, int inSourceY,
                     int inSourceZ, ULMSource inSource) override;
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
    ULMStatus MapVolume(ULMAccessType inAccess, unsigned short*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                        ULMSource inSource) override;
    ULMStatus MapVolume(ULMAccessType inAccess, unsigned int*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                        ULMSource inSource) override;
    ULMStatus MapVolume(ULMAccessType inAccess, void*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                        ULMSource inSource) override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange, unsigned char*& outBaseAddress,
                           unsigned& outSx, unsigned& outSy, ULMSource inSource) override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange, unsigned short*& outBaseAddress,
                           unsigned& outSx, unsigned& outSy, ULMSource inSource) override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange, unsigned int*& outBaseAddress,
                           unsigned& outSx, unsigned& outSy, ULMSource inSource) override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange, void*& outBaseAddress,
                           unsigned& outSx, unsigned& outSy, ULMSource inSource) override;
    ULMStatus UnmapVolume() override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, unsigned inAtX, unsigned inAtY, unsigned inAtZ, unsigned inNx,
                           unsigned inNy, unsigned inNz, void*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                           ULMSource inSource) override;
    ULMStatus Unload(void* outVoxels, const ULMVolumeRange& inVolumeRange, ULMSource inSource) const override;
    ULMStatus UnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange, const ULMFieldDescriptor& inField,
                          ULMSource inSource) const override;
    ULMSyncEvent StartUnload(void* outVoxels, const ULMVolumeRange& inVolumeRange, ULMSource inSource) const override;
    ULMSyncEvent StartUnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                  const ULMFieldDescriptor& inField, ULMSource inSource) const override;
    // A board-to-board copy into the buffer (ULMVolumeBoardCopy::StartCopyFrom),
    // which advances the volume's serial when it is queued.
    ULMSyncEvent CopyBoardBuffer(const ULMVolume* inVolume, const ULMVolumeRange& inRange,
                                 const ULMVolumeRange& inSourceBox, bool& outTried);
    // Loads inRange of the volume's own source into its board buffer again
    // and returns without waiting, whatever the target: what StartUpdate
    // from this very volume with kULMUseSource does while the volume is
    // locked. For volumes over one shared source that each take note of a
    // change the source reports once. kULMErrVolume without host data or a
    // buffer, kULMErrArgument for a range outside the volume.
    ULMSyncEvent StartReloadFromSource(const ULMVolumeRange& inRange);

    // ---- Board passes: the resample folder's, reached through the passes it
    // registers (volume_upper_layers.h, volume_engine_calls.cpp) ----
    // Axis order of a pass: the source range is given in the pass's sample
    // frame, whose X', Y', Z' are the source volume's X Y Z, Z Y X, Y Z X or
    // Z X Y.
    enum sideways : int32_t { kOneToOne = 0, kSideways = 1, kUnload = 2, kUpdate = 3 };
    // Samples inSourceRange of this volume's board buffer into
    // inDestinationRange of pDestination's through the classifier, in one
    // board pass that is not waited for. originX and spacingX (S23.40) set
    // the X' sampling when either is non-zero: output voxel q, in the
    // destination's coordinates, at originX + q x spacingX.
    ULMSyncEvent DoStartResampleBuffer(ULMVolume* pDestination, const ULMVolumeRange& inSourceRange,
                                       const ULMVolumeRange& inDestinationRange, const ULMClassifier& inClassifier,
                                       sideways inSideways, long long originX, long long spacingX);
    // The same pass copying the fields as they stand, without a classifier.
    ULMSyncEvent DoStartFieldCopy(ULMVolume* pDestination, const ULMVolumeRange& inSourceRange,
                                  const ULMVolumeRange& inDestinationRange, sideways inSideways);
    // The public resample: one pass when the board can, else Z through X in
    // sections, none waited for.
    ULMStatus ResampleBuffer(ULMVolume* pDestination, const ULMVolumeRange& inSourceRange,
                             const ULMVolumeRange& inDestinationRange, const ULMClassifier& inClassifier) override;
    ULMSyncEvent StartResampleBuffer(ULMVolume* pDestination, const ULMVolumeRange& inSourceRange,
                                     const ULMVolumeRange& inDestinationRange,
                                     const ULMClassifier& inClassifier) override;
    // The camera's view of this volume written into ioOutVolume on the same
    // board, in one render or two, not waited for.
    ULMStatus RenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume, RenderToVolumeMode inMode) override;
    ULMSyncEvent StartRenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume,
                                     RenderToVolumeMode inMode) override;

    // ---- Board buffer (volume_buffer_slots.cpp; the work is the board copy's) ----
    ULMStatus LockVolume(ULMLocation inLocation) override;
    ULMStatus UnlockVolume(int inUnload) override;
    ULMStatus Resize(unsigned inX, unsigned inY, unsigned inZ, int inResizeBuffer) override;
    ULMStatus Resize(const ULMVolumeRange& inNewRange, int inResizeBuffer) override;
    ULMStatus CreateBuffer(ULMLocation inLocation) override;
    ULMStatus CreateBuffer(ULMLocation inLocation, unsigned inSizeX, unsigned inSizeY, unsigned inSizeZ) override;
    ULMStatus CreateBuffer(ULMLocation inLocation, const ULMVolumeRange& inRange) override;
    // A buffer of the whole volume on inLocation, recorded as holding it and
    // with the source's changed range cleared, but nothing loaded yet: a
    // lock then loads nothing, and the caller loads the voxels itself with
    // StartUpdate from this volume and kULMUseSource, which does not wait,
    // and waits before anything reads them. The same refusals as
    // CreateBuffer.
    ULMStatus AllocateBuffer(ULMLocation inLocation);
    unsigned long long GetBufferID() const override;
    void GetBufferSize(unsigned& outX, unsigned& outY, unsigned& outZ) const override;
    unsigned GetBufferSizeX() const override;
    unsigned GetBufferSizeY() const override;
    unsigned GetBufferSizeZ() const override;
    ULMVolumeRange GetBufferRange() const override;
    ULMStatus AttachBuffer(unsigned long long inBufferID) override;
    // Attaches a buffer that other code fills on the board (a blend stack):
    // its content counts as the whole volume, loaded, and
    // updates go to it.
    ULMStatus AdoptBuffer(unsigned long long inBufferID);
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
    // Return the render's status without waiting: kULMOK while it runs.
    ULMStatus Render(const ULMContext* inContext, ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0,
                     ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1) override;
    ULMStatus RenderMPR(const ULMContext* inContext, double inNegativeDistance, int inQuality, MPRMode inMode,
                        ULMImageBuffer* ioImage) override;

    // The volume's copy on its board: renders and passes prepare it, read
    // and write its buffer through it, under its lock.
    ULMVolumeBoardCopy& BoardCopy() { return m_boardCopy; }
    const ULMVolumeBoardCopy& BoardCopy() const { return m_boardCopy; }

    // ---- Renders: the render engine's, reached through the engine it
    // registers (volume_upper_layers.h, volume_engine_calls.cpp) ----
    ULMSyncEvent StartRender(const ULMContext* inContext, ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0,
                             ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1) override;
    ULMSyncEvent StartRenderMPR(const ULMContext* inContext, double inNegativeDistance, int inQuality, MPRMode inMode,
                                ULMImageBuffer* ioImage) override;
    // The render engine's state of this volume, which the volume owns and
    // never looks inside (volume_upper_layers.h).
    ULMVolumeEngineState& EngineState() const { return *m_engineState; }

protected:
    ~ULMVolumeInternal() override;

private:
    // No bricks, no parameters of its own; and the bricks let go (the render
    // engine's, volume_engine_calls.cpp).
    void InitializeSpaceLeaping();
    void ClearSpaceLeaping();

    // ---- Writes behind the update forms (volume_update.cpp) ----
    // From caller memory of inAllocatedSizeX voxels per row and
    // inAllocatedSizeY rows per slice (0: the range's own) into the target.
    ULMSyncEvent StartUpdateInternal(const void* inVoxels, const ULMVolumeRange& inDestinationRange,
                                     int inAllocatedSizeX, int inAllocatedSizeY);
    // The volume's own source loaded again into its board buffer over
    // inRange, not waited for (ULMVolumeBoardCopy::StartReload).
    ULMSyncEvent StartReload(const ULMVolumeRange& inRange);
    // Copies from another volume through host memory, in chunks of whole
    // slices, into the board buffer or into the source.
    ULMSyncEvent StartUpdateVolumeBuffer(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange,
                                         int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource);
    ULMSyncEvent StartUpdateVolumeSource(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange,
                                         int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource);
    // A write into the board buffer: the board copy's bookkeeping, and the
    // volume's serial.
    void NoteBufferWrite(const ULMVolumeRange& inRange);
    // The three ways of the volume form of StartUpdate once it holds its
    // access.
    ULMSyncEvent CopyFromVolume(const ULMVolume* inVolume, const ULMVolumeRange& inRange, int inSourceX, int inSourceY,
                                int inSourceZ, ULMSource inSource);
    ULMSyncEvent ChunkedVolumeCopy(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange, int inSourceX,
                                   int inSourceY, int inSourceZ, ULMSource inSource, bool inIntoBuffer);
    // A YZ slice of at least 32 x 32 voxels through the slab; the caller's
    // plain write is shared for the rest of the update.
    ULMSyncEvent UpdateOptimizedYZSlice(const void* inVoxels, const ULMVolumeRange& inVolumeRange);

    // An application's change of the buffer: under the buffer lock, and
    // refused (kULMErrAccess) while a map, update or pass holds an access.
    ULMStatus ChangeBuffer(const std::function<ULMStatus()>& inChange);
    ULMStatus LockOnBoard(ULMLocation inLocation);
    // Ends every map still held, as UnmapVolume would (the volume goes).
    void EndMaps();
    // The source's resize and what it means for the loaded ranges.
    ULMStatus ResizeSource(const ULMVolumeRange& inNewRange);

    unsigned m_format = 0;
    ULMVolumeSource* m_volumeSource = nullptr;
    Layout m_layout = kSliced;
    int m_voxelSizeBytes = 0;
    bool m_readOnly = false;
    bool m_hasData = false;
    ULMVolumeRange m_wholeVolume;
    // Reset (all sizes 0): the whole volume is rendered.
    ULMVolumeRange m_userSubVolume;
    bool m_locked = false;
    unsigned m_mapCount = 0;
    // Application maps of the source, newest last: each unmap gives back
    // the newest.
    std::vector<void*> m_sourceMaps;
    ULMFieldDescriptor m_fields[4];
    ExtendMode m_extendModes[3] = {kExtendWithBorder, kExtendWithBorder, kExtendWithBorder};
    unsigned m_borderValue = 0;
    ULMMatrix m_correctionMatrix;
    ULMTarget m_target = kULMSource;
    std::unique_ptr<ULMVolumeEngineState> m_engineState;
    ULMVolumeRange m_spaceLeapingRange;
    ULMVolumeBoardCopy m_boardCopy{*this};
};

}  // namespace ulm3
