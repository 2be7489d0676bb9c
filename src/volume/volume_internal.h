// The library's one concrete volume: a volume source, the volume's
// description, and the board buffer its voxels are loaded into.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "foundation/access.h"
#include "foundation/locks.h"
#include "ulm3/volume.h"
#include "ulm3/volume_source.h"

namespace ulm3 {

class KWBBoard;
class KWBBuffer;
class PerspInterf;
struct ULMMPRSlab;
class ULMVolumeEngineState;

// Calls on one volume are serialised by the volume's access control, and
// the buffer bookkeeping (the buffer, its board, what is loaded, the lock)
// by the buffer lock besides: renders, passes and unloads hold no exclusive
// access, yet the buffer must not go while they set up their board work.
// Board work runs asynchronously; the events kept here say when host memory
// it reads may be touched again.
class ULMVolumeInternal : public ULMVolume, public ULMAccessInternal {
public:
    // Plain volumes for the other subsystems, never wrapped; one reference
    // for the caller, or null on a bad argument, a closed library or a
    // source that cannot be bound.
    static ULMVolumeInternal* CreateSimpleVolume(int inVoxelSize, const ULMVolumeRange& inRange,
                                                 int inNumberOfFields,
                                                 const ULMFieldDescriptor* inFieldArray,
                                                 void* inVoxels);
    static ULMVolumeInternal* CreateSimpleVolume(ULMVolumeSource* inVolumeSource);

    // Binds the source; a source that cannot be bound leaves a volume whose
    // GetVoxelSize is 0, which the creators release.
    explicit ULMVolumeInternal(ULMVolumeSource* pSource);

    // Binds a source (setAll) or re-binds one of the same voxel size.
    ULMStatus SetSource(ULMVolumeSource* pSource, bool setAll);
    ULMVolumeSource* GetSource() const { return m_volumeSource; }
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
    ULMStatus SetFieldDescriptor(ULMFieldNumber inField,
                                 const ULMFieldDescriptor& inDescriptor) override;
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
    // No bricks, no parameters of its own; and the bricks let go.
    void InitializeSpaceLeaping();
    void ClearSpaceLeaping();
    // The board buffer holds the host data's voxels as they stand: the
    // volume has host data, and its buffer was made and loaded by the volume
    // and not written since.
    bool HostDataMatchesBuffer() const {
        return m_hasData && m_sourceBufferSerial != 0 && m_sourceBufferSerial == m_bufferSerial &&
               m_bufferAddressMode == kULMOffsetAddress;
    }

    // ---- Updates, unloads and maps (volume_update.cpp, volume_mapping.cpp) ----
    ULMStatus Update(const void* inVoxels, const ULMVolumeRange& inDestinationRange) override;
    ULMStatus Update(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange,
                     int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource) override;
    ULMStatus UpdateField(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                          const ULMFieldDescriptor& inDestinationField) override;
    ULMSyncEvent StartUpdate(const void* inVoxels,
                             const ULMVolumeRange& inDestinationRange) override;
    ULMSyncEvent StartUpdate(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange,
                             int inSourceX, int inSourceY, int inSourceZ,
                             ULMSource inSource) override;
    ULMSyncEvent StartUpdateField(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                                  const ULMFieldDescriptor& inDestinationField) override;
    ULMStatus UpdateVolume(unsigned int inFormat, const void* inVoxels, unsigned inTargetX,
                           unsigned inTargetY, unsigned inTargetZ, unsigned inSizeX,
                           unsigned inSizeY, unsigned inSizeZ, Layout inLayout) override;
    ULMStatus MapVolume(ULMAccessType inAccess, unsigned char*& outBaseAddress, unsigned& outSx,
                        unsigned& outSy, ULMSource inSource) override;
    ULMStatus MapVolume(ULMAccessType inAccess, unsigned short*& outBaseAddress, unsigned& outSx,
                        unsigned& outSy, ULMSource inSource) override;
    ULMStatus MapVolume(ULMAccessType inAccess, unsigned int*& outBaseAddress, unsigned& outSx,
                        unsigned& outSy, ULMSource inSource) override;
    ULMStatus MapVolume(ULMAccessType inAccess, void*& outBaseAddress, unsigned& outSx,
                        unsigned& outSy, ULMSource inSource) override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                           unsigned char*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                           ULMSource inSource) override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                           unsigned short*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                           ULMSource inSource) override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                           unsigned int*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                           ULMSource inSource) override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                           void*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                           ULMSource inSource) override;
    ULMStatus UnmapVolume() override;
    ULMStatus MapSubVolume(ULMAccessType inAccess, unsigned inAtX, unsigned inAtY, unsigned inAtZ,
                           unsigned inNx, unsigned inNy, unsigned inNz, void*& outBaseAddress,
                           unsigned& outSx, unsigned& outSy, ULMSource inSource) override;
    ULMStatus Unload(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                     ULMSource inSource) const override;
    ULMStatus UnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                          const ULMFieldDescriptor& inField, ULMSource inSource) const override;
    ULMSyncEvent StartUnload(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                             ULMSource inSource) const override;
    ULMSyncEvent StartUnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                  const ULMFieldDescriptor& inField,
                                  ULMSource inSource) const override;
    // Writes the YZ-slice cache back into the board buffer when it holds
    // newer voxels; every write into the buffer and every change of its
    // addressing runs it first (volume_yz_cache.cpp). kULMInProgress while
    // the write-back runs.
    ULMStatus UpdateVolumeFromCache() const;
    // Fills the slab of the cache around the YZ slice inVolumeRange from the
    // board buffer, unless it already holds it.
    ULMSyncEvent UnloadVolumeToCache(ULMVolumeRange inVolumeRange) const;
    // A YZ slice of at least 32 x 32 voxels through the slab; the caller
    // holds a write access, which is shared while the slab is filled.
    ULMSyncEvent UpdateOptimizedYZSlice(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                                        ULMTarget inSource);
    ULMSyncEvent UnloadOptimizedYZSlice(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                        ULMSource inSource) const;
    // Whether a box goes through the slab: one voxel thick in X, at least
    // 32 x 32 in Y and Z, in a volume at least as wide as the slab.
    bool IsCachedYZSlice(const ULMVolumeRange& inRange) const;

    // ---- Board resample pass (registered by src/resample/) ----
    // Axis order of a pass: the source range is given in the pass's sample
    // frame, whose X', Y', Z' are the source volume's X Y Z, Z Y X, Y Z X or
    // Z X Y.
    enum sideways : int32_t { kOneToOne = 0, kSideways = 1, kUnload = 2, kUpdate = 3 };
    // Samples inSourceRange of this volume's board buffer into
    // inDestinationRange of pDestination's through the classifier, in one
    // board pass that is not waited for. originX and spacingX (S23.40) set
    // the X' sampling when either is non-zero.
    ULMSyncEvent DoStartResampleBuffer(ULMVolume* pDestination, const ULMVolumeRange& inSourceRange,
                                       const ULMVolumeRange& inDestinationRange,
                                       ULMClassifier inClassifier, sideways inSideways,
                                       long long originX, long long spacingX);
    // The public resample (volume_resample_roads.cpp): one pass when the
    // board can, else Z through X in sections, none waited for.
    ULMStatus ResampleBuffer(ULMVolume* pDestination, const ULMVolumeRange& inSourceRange,
                             const ULMVolumeRange& inDestinationRange, const ULMClassifier& inClassifier) override;
    ULMSyncEvent StartResampleBuffer(ULMVolume* pDestination, const ULMVolumeRange& inSourceRange,
                                     const ULMVolumeRange& inDestinationRange,
                                     const ULMClassifier& inClassifier) override;
    // The camera's view of this volume written into ioOutVolume on the same
    // board (render_to_volume.cpp), in one render or two, not waited for.
    ULMStatus RenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume,
                             RenderToVolumeMode inMode) override;
    ULMSyncEvent StartRenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume,
                                     RenderToVolumeMode inMode) override;
    // Render-and-warp (render_and_warp.cpp): the view rendered on the
    // volume's own unit grid into a temporary image on its board, which a
    // board pass then warps into the context's output image. The depth
    // buffers are not used; neither pass is waited for.
    ULMSyncEvent DoStartRenderAndWarp(const ULMContext* inContext, ULMImageBuffer* inOutColor0,
                                      ULMDepthBuffer* inOutDepth0, ULMImageBuffer* inOutColor1,
                                      ULMDepthBuffer* inOutDepth1);
    // The warp pass alone: inSourceRange of the board image inSource, read
    // through the warp of this volume's last object grid, into the context's
    // output image. Not waited for.
    ULMSyncEvent Warp3DImage(const ULMContext* inContext, ULMImageBuffer* inOutColor0, ULMImageBuffer* inOutColor1,
                             const ULMImageRange& inRange, const ULMImageBuffer* inSource,
                             const ULMImageRange& inSourceRange);
    // The pass behind DoStartResampleBuffer (volume_resample_pass.cpp),
    // which throws its failures.
    ULMSyncEvent ResamplePass(ULMVolume* pDestination, const ULMVolumeRange& inSourceRange,
                              const ULMVolumeRange& inDestinationRange, ULMClassifier& ioClassifier,
                              sideways inSideways, long long originX, long long spacingX);

    // ---- Board buffer (volume_board_buffer.cpp) ----
    ULMStatus LockVolume(ULMLocation inLocation) override;
    ULMStatus UnlockVolume(int inUnload) override;
    ULMStatus Resize(unsigned inX, unsigned inY, unsigned inZ, int inResizeBuffer) override;
    ULMStatus Resize(const ULMVolumeRange& inNewRange, int inResizeBuffer) override;
    ULMStatus CreateBuffer(ULMLocation inLocation) override;
    ULMStatus CreateBuffer(ULMLocation inLocation, unsigned inSizeX, unsigned inSizeY,
                           unsigned inSizeZ) override;
    ULMStatus CreateBuffer(ULMLocation inLocation, const ULMVolumeRange& inRange) override;
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
    void GetBufferAddressParameters(ULMAddressMode& outMode, int& outX, int& outY,
                                    int& outZ) const override;
    ULMStatus SetBufferAddressParameters(ULMAddressMode inMode, int inX, int inY,
                                         int inZ) override;
    ULMAddressMode GetBufferAddressMode() const override;
    int GetBufferAddressParameterX() const override;
    int GetBufferAddressParameterY() const override;
    int GetBufferAddressParameterZ() const override;
    // Return the render's status without waiting: kULMOK while it runs.
    ULMStatus Render(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                     ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                     ULMDepthBuffer* ioDepth1) override;
    ULMStatus RenderMPR(const ULMContext* inContext, double inNegativeDistance, int inQuality,
                        MPRMode inMode, ULMImageBuffer* ioImage) override;

    // Gives the volume a board buffer at least as large as inSubVolume,
    // keeping the one it has when it fits and sits on the asked board.
    ULMStatus AllocateBuffer(ULMLocation inLocation, const ULMVolumeRange& inSubVolume);
    // Before a render: a buffer (allocated on inWhere, or any board, if
    // there is none) whose valid range is the part to render, and a load
    // started of what is missing there or has changed in the source. The
    // caller holds the buffer lock.
    ULMStatus PrepareVolume(ULMLocation inWhere = kULMAnyBoard);
    // After the render: gives up a buffer that PrepareVolume allocated.
    ULMStatus FinishWithVolume();
    // Waits for the load PrepareVolume started and lets go of the source
    // mapping it kept.
    ULMStatus WaitForVolumeLoaded();
    uint64_t GetBufferSerial() const { return m_bufferSerial; }
    // Held by a render or pass from its prepare until its board work is
    // queued, and by every application call that changes the buffer, which
    // so waits for that work to be submitted (the board keeps a released
    // buffer alive for work already queued). Taken after an MPR's lock.
    ULMRecursiveMutex& BufferLock() const { return m_bufferLock; }
    KWBBuffer* GetKWBBuffer() const { return m_buffer; }
    KWBBoard* GetKWBBoard() const { return m_board; }
    // The part of the volume the current render samples, set by PrepareVolume.
    const ULMVolumeRange& GetCurrentSubVolume() const { return m_currentSubVolume; }

    // ---- Render engine (src/render/): StartRender and StartRenderMPR reach it
    // through the registered engine (volume_engine_calls.cpp); the rest are its own ----
    ULMSyncEvent StartRender(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                             ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                             ULMDepthBuffer* ioDepth1) override;
    ULMSyncEvent StartRenderMPR(const ULMContext* inContext, double inNegativeDistance,
                                int inQuality, MPRMode inMode, ULMImageBuffer* ioImage) override;
    // StartRender, for an MPR render (mpr.cpp) when ioMPR is given: the
    // render road reads its slab while the render state's lock is held.
    ULMSyncEvent StartRenderWith(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                 ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                 ULMDepthBuffer* ioDepth1, ULMMPRSlab* ioMPR);
    // The render itself, on a volume whose buffer is prepared: the output
    // buffers move to the volume's board, and the event of the render is
    // returned once it is queued. The caller holds the render state's lock.
    ULMSyncEvent DoStartRender(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                               ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                               ULMDepthBuffer* ioDepth1);
    // StartRenderMPR (mpr.cpp).
    ULMSyncEvent DoStartRenderMPR(const ULMContext* inContext, double inNegativeDistance, int inQuality,
                                  MPRMode inMode, ULMImageBuffer* ioImage);
    // The render engine's state of this volume (volume_upper_layers.h).
    ULMVolumeEngineState& EngineState() const { return *m_engineState; }
    PerspInterf*& PerspectiveInterface() { return m_perspInterface; }

    // ---- Writes behind the update forms (volume_update.cpp) ----
    // From caller memory of inAllocatedSizeX voxels per row and
    // inAllocatedSizeY rows per slice (0: the range's own) into the target.
    ULMSyncEvent StartUpdateInternal(const void* inVoxels, const ULMVolumeRange& inDestinationRange,
                                     int inAllocatedSizeX, int inAllocatedSizeY);
    // Copies from another volume through host memory, in chunks of whole
    // slices, into the board buffer or into the source.
    ULMSyncEvent StartUpdateVolumeBuffer(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange,
                                         int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource);
    ULMSyncEvent StartUpdateVolumeSource(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange,
                                         int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource);

    // ---- Loads into the board buffer (volume_load.cpp) ----
    // Both need a board buffer. The range is in the buffer's coordinates;
    // empty ranges give a finished kULMOK. From caller memory of
    // inAllocatedSizeX voxels per row and inAllocatedSizeY rows per slice
    // (0: the range's own), whose first voxel is the range's first:
    ULMSyncEvent StartUpdateBuffer(const ULMVolumeRange& inDestinationRange, const void* inVoxels,
                                   int inAllocatedSizeX, int inAllocatedSizeY);
    // From the box of a source (null: the volume's own) of the destination's
    // sizes at (inSourceX, inSourceY, inSourceZ).
    ULMSyncEvent StartUpdateBufferFromSource(const ULMVolumeRange& inDestinationRange,
                                             ULMVolumeSource* pSource, int inSourceX,
                                             int inSourceY, int inSourceZ);

    // The individual methods; the dispatchers above choose one by the
    // configuration and fall back to a copy when it fails.
    ULMSyncEvent StartUpdateBufferMap(const ULMVolumeRange& inRange, const void* inVoxels,
                                      int inRowLength, int inRowsPerSlice, bool inCopyUnaligned);
    ULMSyncEvent StartUpdateBufferCopy(const ULMVolumeRange& inRange, const void* inVoxels,
                                       int inRowLength, int inRowsPerSlice);
    ULMSyncEvent StartUpdateBufferKernel(const ULMVolumeRange& inRange, const void* inVoxels,
                                         int inRowLength, int inRowsPerSlice);
    ULMSyncEvent StartUpdateBufferDirect(const ULMVolumeRange& inRange, const void* inVoxels,
                                         int inRowLength, int inRowsPerSlice);
    ULMSyncEvent StartUpdateBufferOneCopy(const ULMVolumeRange& inRange, const void* inVoxels,
                                          int inRowLength, int inRowsPerSlice);
    ULMSyncEvent StartUpdateBufferMapFromSource(const ULMVolumeRange& inRange,
                                                ULMVolumeSource* pSource, int inX, int inY,
                                                int inZ, bool inCopyUnaligned);
    ULMSyncEvent StartUpdateBufferCopyFromSource(const ULMVolumeRange& inRange,
                                                 ULMVolumeSource* pSource, int inX, int inY,
                                                 int inZ);
    ULMSyncEvent StartUpdateBufferKernelFromSource(const ULMVolumeRange& inRange,
                                                   ULMVolumeSource* pSource, int inX, int inY,
                                                   int inZ);
    ULMSyncEvent StartUpdateBufferOneMapFromSource(const ULMVolumeRange& inRange,
                                                   ULMVolumeSource* pSource, int inX, int inY,
                                                   int inZ);
    ULMSyncEvent StartUpdateBufferOneCopyFromSource(const ULMVolumeRange& inRange,
                                                    ULMVolumeSource* pSource, int inX, int inY,
                                                    int inZ);

    // Copies the box inRange out of a block of inAllocatedSizeX voxels per
    // row and inAllocatedSizeY rows per slice into a tight block.
    static void PackVoxels(const void* inVoxels, const ULMVolumeRange& inRange,
                           int inAllocatedSizeX, int inAllocatedSizeY, int inSizeBytes,
                           void* outVoxels);
    // Page-aligned staging memory of at least the range's (or inBytes)
    // bytes, reused while large enough; waits first for the load that
    // reads the current memory.
    ULMStatus AllocateHostBuffer(const ULMVolumeRange& inRange);
    ULMStatus AllocateHostBuffer(int64_t inBytes);

protected:
    ~ULMVolumeInternal() override;

private:
    // One load cut into chunks of whole slices over one or two slots
    // (volume_load.cpp).
    class ChunkedLoad;

    // The slab volume of the YZ-slice cache (volume_yz_cache.h).
    class VolumeCacheForYZSlices;

    // The bookkeeping of a write into the board buffer.
    void NoteBufferWrite(const ULMVolumeRange& inRange);
    // The three ways of the volume form of StartUpdate once it holds its
    // access.
    ULMSyncEvent CopyFromVolume(const ULMVolume* inVolume, const ULMVolumeRange& inRange, int inSourceX,
                                int inSourceY, int inSourceZ, ULMSource inSource);
    ULMSyncEvent CopyBoardBuffer(const ULMVolume* inVolume, const ULMVolumeRange& inRange,
                                 const ULMVolumeRange& inSourceBox, bool& outTried);
    ULMSyncEvent ChunkedVolumeCopy(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange,
                                   int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource,
                                   bool inIntoBuffer);
    ULMStatus MapBufferBox(ULMAccessType inAccess, const ULMVolumeRange& inRange, void*& outBaseAddress,
                           unsigned& outSx, unsigned& outSy);
    // The slab's box of a YZ slice, in the slab's own axes.
    ULMVolumeRange SlabBoxOf(const ULMVolumeRange& inSlice) const;

    // A change of the buffer's addressing, and of its sizes when inSizes is
    // given, that keeps the voxels it holds at their own coordinates.
    ULMStatus Relocate(ULMAddressMode inMode, int inX, int inY, int inZ, const int32_t* inSizes);
    // The box of voxels the buffer holds under its current addressing.
    ULMVolumeRange HeldVoxels() const;
    // Allocation on one board; status and buffer as the board layer gave.
    KWBBuffer* CreateBoardBuffer(int inBoard, const ULMVolumeRange& inSubVolume,
                                 ULMStatus& outStatus);
    // An application's change of the buffer: under the buffer lock, and
    // refused (kULMErrAccess) while a map, update or pass holds an access.
    ULMStatus ChangeBuffer(const std::function<ULMStatus()>& inChange);
    // The bodies of the public calls of the same names, for the volume's
    // own roads, which hold the buffer lock or an access already.
    ULMStatus ReleaseBoardBuffer();
    ULMStatus AttachBoardBuffer(unsigned long long inBufferID);
    ULMStatus ApplyBufferPermission(ULMPermission inPermission);
    ULMStatus ResizeBoardBuffer(const ULMVolumeRange& inRange);
    ULMStatus ResizeBoardBuffer(unsigned inX, unsigned inY, unsigned inZ);
    ULMStatus CreateLoadedBuffer(ULMLocation inLocation, const ULMVolumeRange& inRange);
    ULMStatus LockOnBoard(ULMLocation inLocation);
    // Ends every map still held, as UnmapVolume would (the volume goes).
    void EndMaps();
    // Releases the mapping the last load of the own source kept.
    void ReleaseKeptMapping();
    // Loads a range of the own source into the buffer and waits for it.
    ULMStatus LoadFromSourceNow(const ULMVolumeRange& inRange);
    // Fills inSlices slices from inFirstSlice of a load's box at outStaging.
    using SlabFiller = std::function<ULMStatus(int inFirstSlice, int inSlices, char* outStaging)>;
    // Stages the whole box at once and loads it in slabs of whole slices of
    // at most inSlabLimit bytes, each started as soon as it is filled, so
    // that the board loads one slab while the host fills the next.
    ULMSyncEvent StartStagedLoad(const ULMVolumeRange& inRange, int64_t inSlabLimit, const SlabFiller& inFill);
    // Chunks over two slots of staging memory, or of driver host buffers
    // (inKernel), each filled by inFill.
    ULMSyncEvent StartStagedChunks(const ULMVolumeRange& inRange, int64_t inLimit, bool inKernel,
                                   const SlabFiller& inFill);
    // The source's resize and what it means for the loaded ranges.
    ULMStatus ResizeSource(const ULMVolumeRange& inNewRange);

    unsigned m_format = 0;
    ULMVolumeSource* m_volumeSource = nullptr;
    Layout m_layout = kSliced;
    int m_voxelSizeBytes = 0;
    bool m_readOnly = false;
    bool m_hasData = false;
    ULMSyncEvent m_waitForLoad{kULMOK};
    bool m_releaseMapping = false;
    ULMVolumeRange m_wholeVolume;
    ULMVolumeRange m_userSubVolume;
    bool m_renderFullVolume = true;
    ULMVolumeRange m_currentSubVolume;
    bool m_locked = false;
    bool m_fullyLoaded = false;
    bool m_partlyLoaded = false;
    unsigned m_mapCount = 0;
    ULMVolumeRange m_changedBuffer;
    KWBBuffer* m_buffer = nullptr;
    KWBBoard* m_board = nullptr;
    bool m_bufferValid = false;
    ULMVolumeRange m_bufferRange;
    ULMVolumeRange m_loadedVolume;
    bool m_FinishWithVolumeShouldReleaseVolume = false;
    void* m_mapAddress = nullptr;
    // Application maps of the source, newest last: each unmap gives back
    // the newest. The kept mapping of a load stays in m_mapAddress.
    std::vector<void*> m_sourceMaps;
    // The one live map of the board buffer: its address and voxels (0: none).
    void* m_mappedVoxelMemory = nullptr;
    uint64_t m_mappedSize = 0;
    // Staging memory: as allocated, its first page-aligned byte, the usable
    // bytes from there, and the last load that reads it.
    std::unique_ptr<char[]> m_hostBufferBase;
    char* m_hostBufferAddress = nullptr;
    int64_t m_hostBufferSize = 0;
    ULMSyncEvent m_hostBufferEvent{kULMOK};
    ULMFieldDescriptor m_fields[4];
    ExtendMode m_extendModes[3] = {kExtendWithBorder, kExtendWithBorder, kExtendWithBorder};
    unsigned m_borderValue = 0;
    ULMMatrix m_correctionMatrix;
    ULMAddressMode m_bufferAddressMode = kULMOffsetAddress;
    ULMLocation m_bufferLocation = kULMNoBufferAttached;
    uint64_t m_bufferID = 0;
    // The addressing the voxels of buffer m_bufferID lie under while the
    // volume has let it go: another volume may keep it alive.
    ULMAddressMode m_releasedAddressMode = kULMOffsetAddress;
    int32_t m_releasedAddress[3] = {0, 0, 0};
    ULMPermission m_bufferPermission = kULMPermissionNotShared;
    uint64_t m_bufferSerial = 0;
    // m_bufferSerial when the volume made its buffer (0: the buffer came
    // from elsewhere).
    uint64_t m_sourceBufferSerial = 0;
    ULMTarget m_target = kULMSource;
    std::unique_ptr<ULMVolumeEngineState> m_engineState;
    PerspInterf* m_perspInterface = nullptr;
    ULMVolumeRange m_spaceLeapingRange;
    // The YZ-slice cache. Unloads go through it without holding an access,
    // so it and its bookkeeping change under const calls: the slab in the
    // volume's axes, the buffer serial the slab matches, and whether the
    // slab holds voxels the buffer lacks.
    mutable std::unique_ptr<VolumeCacheForYZSlices> m_cacheForYZSlices;
    mutable ULMVolumeRange m_cacheRange;
    mutable uint64_t m_cacheSerialNumber = 0;
    mutable bool m_cacheHasLatestData = false;
    mutable ULMRecursiveMutex m_bufferLock;
};

}  // namespace ulm3
