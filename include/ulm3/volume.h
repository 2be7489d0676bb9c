// Volumes: voxel data that the library loads onto a board and renders. The
// application holds a ULMVolume* from one of the static creators below.
#pragma once

#include <cstdint>

#include "ulm3/buffer_types.h"
#include "ulm3/depth_buffer.h"
#include "ulm3/fields.h"
#include "ulm3/image_buffer.h"
#include "ulm3/location.h"
#include "ulm3/matrix.h"
#include "ulm3/permission.h"
#include "ulm3/ranges.h"
#include "ulm3/shareable.h"
#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

class ULMContext;
class ULMClassifier;
class ULMVolumeSource;

// Where a volume operation reads or writes its voxels.
enum ULMSource : int32_t {
    kULMUseTarget = 0,  // wherever the volume's target says
    kULMUseSource = 1,  // the volume source in host memory or a file
    kULMUseBuffer = 2,  // the board buffer
};

// Where updates and maps of a volume go: the source while the volume is
// unlocked, its board buffer while it is locked on a board.
enum ULMTarget : int32_t {
    kULMSource = 1,
    kULMBuffer = 2,
};

// The id of no board buffer.
inline constexpr unsigned long long kULMNoBuffer = 0;

// Voxel format codes of ULMVolume::Create and UpdateVolume, and what
// GetFormat reports: 8-bit voxels, 12 bits in the low or the high bits of 16,
// or any other field layout.
enum ULMVoxelFormat : uint32_t {
    kULMVoxelFormatUINT8 = 1,
    kULMVoxelFormatUINT12L = 2,
    kULMVoxelFormatUINT12U = 3,
    kULMVoxelFormatOther = 4,
};

// Sizes, origins and ranges are in voxels. Host voxel blocks hold X fastest,
// then Y, then Z, without gaps unless a row length is given. Every Start
// operation returns at once; its plain twin waits for it without time-out,
// except Render and RenderMPR, which return kULMOK while the render runs.
//
// The operations from SetMipmapAutoGenerate on have default bodies that
// answer kULMErrUnimplemented (as a status or a finished event), 0, -1 or
// null; the wrapping volumes replace them.
class ULMVolume : public ULMShareable {
public:
    enum Layout : int32_t { kSliced = 0, kBlocked = 1 };
    // What the voxels outside the volume hold.
    enum ExtendMode : int32_t { kExtendWithBorder = 0, kExtendWithEdge = 1 };
    // How a volume file is read: kReadOnly and kReadWriteBuffer read boxes
    // from the file on demand; kCopyOnWrite and kReadWrite read it whole,
    // and kReadWrite writes changes back when the volume goes.
    enum ReadMode : int32_t {
        kReadOnly = 0,
        kCopyOnWrite = 1,
        kReadWrite = 2,
        kReadWriteBuffer = 3,
    };
    enum MPRMode : int32_t { kMPRAlpha = 0, kMPRRGBA = 1 };
    enum SpaceLeapingMode : int32_t { kSpaceLeapingNone = 0, kSpaceLeapingOn = 1 };
    enum RenderToVolumeMode : int32_t {
        kRenderToVolumeNone = 0,
        kOutputGradient = 1,
        kOutputGradientMagnitude = 2,
        kOutputGradientAndMagnitude = 3,
    };

    // Each creator returns a volume holding one reference for the caller, or
    // null on any bad argument, on failure, or while the library is closed.
    //
    // A volume over the caller's voxels (which must outlive it) in one of the
    // ULMVoxelFormat codes 1..3. The layout is not stored: volumes are sliced.
    static ULMVolume* Create(unsigned int inFormat, void* inVoxels, unsigned int inSizeX,
                             unsigned int inSizeY, unsigned int inSizeZ, Layout inLayout);
    // A volume of 8, 16 or 32-bit voxels with up to four fields; null voxels
    // make a volume without host data, loaded only through its board buffer.
    static ULMVolume* Create(int inVoxelSize, unsigned int inSizeX, unsigned int inSizeY,
                             unsigned int inSizeZ, int inNumberOfFields,
                             const ULMFieldDescriptor* inFieldArray, void* inVoxels);
    static ULMVolume* Create(int inVoxelSize, const ULMVolumeRange& inRange, int inNumberOfFields,
                             const ULMFieldDescriptor* inFieldArray, void* inVoxels);
    // Volume number inVolumeNumber of a volume file; inType is not used.
    static ULMVolume* CreateFromFile(const char* inFilename, int inType, ReadMode inMode,
                                     int inVolumeNumber);
    // A volume over the application's own source; the caller keeps its own
    // reference on the source.
    static ULMVolume* CreateFromSource(ULMVolumeSource* inVolumeSource);

    virtual bool IsReadOnly() const = 0;
    virtual unsigned int GetFormat() const = 0;
    virtual Layout GetLayout() const = 0;
    virtual ULMVolumeRange GetRange() const = 0;
    virtual void GetSize(unsigned& outX, unsigned& outY, unsigned& outZ) const = 0;
    virtual unsigned GetSizeX() const = 0;
    virtual unsigned GetSizeY() const = 0;
    virtual unsigned GetSizeZ() const = 0;
    // Bits per voxel.
    virtual int GetVoxelSize() const = 0;
    // Threads: the setters of the fields, the matrices, the active
    // sub-volume, the border value and the extend modes wait until a render
    // of this volume that another thread is starting has been queued, so
    // that each render reads one state of them; a change takes effect from
    // the next render.
    virtual ULMFieldDescriptor GetFieldDescriptor(ULMFieldNumber inField) const = 0;
    virtual ULMStatus SetFieldDescriptor(ULMFieldNumber inField,
                                         const ULMFieldDescriptor& inDescriptor) = 0;

    // Loads the whole volume into a buffer on a board (kULMAnyBoard lets the
    // library choose) and keeps it there; updates then go to the board.
    virtual ULMStatus LockVolume(ULMLocation inLocation) = 0;
    virtual bool IsLocked() const = 0;
    // Gives the board buffer up. A non-zero inUnload first writes the
    // buffer's voxels back into the volume's own, where it has writable
    // ones; when that fails its status is returned and the volume stays
    // locked, buffer and all. With 0 the board's voxels are dropped.
    virtual ULMStatus UnlockVolume(int inUnload) = 0;

    // The model and the correction matrix are one matrix; a singular one, or
    // one with an entry that is not finite, is refused with kULMErrArgument.
    virtual ULMStatus SetCorrectionMatrix(const ULMMatrix& inMatrix) = 0;
    virtual ULMMatrix GetCorrectionMatrix() const = 0;
    virtual ULMStatus SetModelMatrix(const ULMMatrix& inMatrix) = 0;
    virtual ULMMatrix GetModelMatrix() const = 0;

    // The part of the volume a render shows; sizes 0 mean all of it.
    virtual ULMStatus SetActiveSubVolume(const ULMVolumeRange& inRange) = 0;
    virtual ULMVolumeRange GetActiveSubVolume() const = 0;
    virtual unsigned GetActiveSubVolumeSizeX() const = 0;
    virtual unsigned GetActiveSubVolumeSizeY() const = 0;
    virtual unsigned GetActiveSubVolumeSizeZ() const = 0;
    virtual unsigned GetActiveSubVolumeOriginX() const = 0;
    virtual unsigned GetActiveSubVolumeOriginY() const = 0;
    virtual unsigned GetActiveSubVolumeOriginZ() const = 0;
    virtual ULMStatus SetActiveSubVolumeSize(unsigned inX, unsigned inY, unsigned inZ) = 0;
    virtual void GetActiveSubVolumeSize(unsigned& outX, unsigned& outY, unsigned& outZ) const = 0;
    virtual ULMStatus SetActiveSubVolumeOrigin(unsigned inX, unsigned inY, unsigned inZ) = 0;
    virtual void GetActiveSubVolumeOrigin(unsigned& outX, unsigned& outY,
                                          unsigned& outZ) const = 0;

    virtual ULMStatus SetBorderValue(unsigned inValue) = 0;
    virtual unsigned GetBorderValue() const = 0;
    virtual ULMStatus SetExtendMode(ExtendMode inMode) = 0;
    virtual ULMStatus SetExtendModes(ExtendMode inX, ExtendMode inY, ExtendMode inZ) = 0;
    virtual void GetExtendModes(ExtendMode& outX, ExtendMode& outY, ExtendMode& outZ) const = 0;
    virtual ExtendMode GetExtendModeX() const = 0;
    virtual ExtendMode GetExtendModeY() const = 0;
    virtual ExtendMode GetExtendModeZ() const = 0;

    // Writes packed voxels into the range, or the box of another volume whose
    // corner is (inSourceX, inSourceY, inSourceZ); the field forms write one
    // field of each voxel.
    virtual ULMStatus Update(const void* inVoxels, const ULMVolumeRange& inDestinationRange) = 0;
    virtual ULMStatus Update(const ULMVolume* inVolume, const ULMVolumeRange& inDestinationRange,
                             int inSourceX, int inSourceY, int inSourceZ, ULMSource inSource) = 0;
    virtual ULMStatus UpdateField(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                                  const ULMFieldDescriptor& inDestinationField) = 0;
    virtual ULMSyncEvent StartUpdate(const void* inVoxels,
                                     const ULMVolumeRange& inDestinationRange) = 0;
    virtual ULMSyncEvent StartUpdate(const ULMVolume* inVolume,
                                     const ULMVolumeRange& inDestinationRange, int inSourceX,
                                     int inSourceY, int inSourceZ, ULMSource inSource) = 0;
    virtual ULMSyncEvent StartUpdateField(const void* inVoxels, const ULMVolumeRange& inVolumeRange,
                                          const ULMFieldDescriptor& inDestinationField) = 0;
    virtual ULMStatus UpdateVolume(unsigned int inFormat, const void* inVoxels,
                                   unsigned inTargetX, unsigned inTargetY, unsigned inTargetZ,
                                   unsigned inSizeX, unsigned inSizeY, unsigned inSizeZ,
                                   Layout inLayout) = 0;

    // Host access to a box: outSx voxels per row and outSy rows per slice.
    // The typed forms need a board buffer of their voxel width. Each
    // successful map is ended by one UnmapVolume; a volume released while
    // still mapped ends its maps as UnmapVolume would, so a write map's
    // voxels are kept, and the mapped address is no longer valid.
    virtual ULMStatus MapVolume(ULMAccessType inAccess, unsigned char*& outBaseAddress,
                                unsigned& outSx, unsigned& outSy, ULMSource inSource) = 0;
    virtual ULMStatus MapVolume(ULMAccessType inAccess, unsigned short*& outBaseAddress,
                                unsigned& outSx, unsigned& outSy, ULMSource inSource) = 0;
    virtual ULMStatus MapVolume(ULMAccessType inAccess, unsigned int*& outBaseAddress,
                                unsigned& outSx, unsigned& outSy, ULMSource inSource) = 0;
    virtual ULMStatus MapVolume(ULMAccessType inAccess, void*& outBaseAddress, unsigned& outSx,
                                unsigned& outSy, ULMSource inSource) = 0;
    virtual ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                   unsigned char*& outBaseAddress, unsigned& outSx,
                                   unsigned& outSy, ULMSource inSource) = 0;
    virtual ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                   unsigned short*& outBaseAddress, unsigned& outSx,
                                   unsigned& outSy, ULMSource inSource) = 0;
    virtual ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                   unsigned int*& outBaseAddress, unsigned& outSx,
                                   unsigned& outSy, ULMSource inSource) = 0;
    virtual ULMStatus MapSubVolume(ULMAccessType inAccess, const ULMVolumeRange& inVolumeRange,
                                   void*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                   ULMSource inSource) = 0;
    virtual ULMStatus UnmapVolume() = 0;
    virtual ULMStatus MapSubVolume(ULMAccessType inAccess, unsigned inAtX, unsigned inAtY,
                                   unsigned inAtZ, unsigned inNx, unsigned inNy, unsigned inNz,
                                   void*& outBaseAddress, unsigned& outSx, unsigned& outSy,
                                   ULMSource inSource) = 0;

    // Reads the range back into packed voxels (or one field of each).
    virtual ULMStatus Unload(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                             ULMSource inSource) const = 0;
    virtual ULMStatus UnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                  const ULMFieldDescriptor& inField, ULMSource inSource) const = 0;
    virtual ULMSyncEvent StartUnload(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                     ULMSource inSource) const = 0;
    virtual ULMSyncEvent StartUnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                          const ULMFieldDescriptor& inField,
                                          ULMSource inSource) const = 0;

    // The whole volume sits in a board buffer.
    virtual bool IsLoaded() const = 0;
    // The access currently granted on the volume.
    virtual ULMAccessType GetAccessControl() const = 0;
    // New sizes (at the current origin) or a new range; a non-zero
    // inResizeBuffer resizes the board buffer too. A range of a size 0 or
    // less, or reaching past the 32-bit coordinates, is refused with
    // kULMErrArgument. Voxels inside both the old and the new range keep
    // their coordinates.
    virtual ULMStatus Resize(unsigned inX, unsigned inY, unsigned inZ, int inResizeBuffer) = 0;
    virtual ULMStatus Resize(const ULMVolumeRange& inNewRange, int inResizeBuffer) = 0;

    // The volume's board buffer. Creating one marks its range as loaded
    // without loading it. A released buffer's id is remembered for a later
    // re-attachment. These calls, the lock and unlock, the resizes and the
    // addressing wait until a render, pass, update or unload of this volume
    // that another thread is starting has been queued, and answer
    // kULMErrAccess while an access is held on the volume (the lock and
    // unlock answer kULMErrVolume while it is mapped).
    virtual ULMStatus CreateBuffer(ULMLocation inLocation) = 0;
    virtual ULMStatus CreateBuffer(ULMLocation inLocation, unsigned inSizeX, unsigned inSizeY,
                                   unsigned inSizeZ) = 0;
    virtual ULMStatus CreateBuffer(ULMLocation inLocation, const ULMVolumeRange& inRange) = 0;
    // kULMNoBuffer while the volume has no buffer; the board is id >> 28.
    virtual unsigned long long GetBufferID() const = 0;
    virtual void GetBufferSize(unsigned& outX, unsigned& outY, unsigned& outZ) const = 0;
    virtual unsigned GetBufferSizeX() const = 0;
    virtual unsigned GetBufferSizeY() const = 0;
    virtual unsigned GetBufferSizeZ() const = 0;
    virtual ULMVolumeRange GetBufferRange() const = 0;
    virtual ULMStatus AttachBuffer(unsigned long long inBufferID) = 0;
    virtual ULMStatus ReleaseBuffer() = 0;
    virtual ULMStatus SetBufferPermission(ULMPermission inPermission) = 0;
    virtual ULMPermission GetBufferPermission() const = 0;
    virtual ULMLocation GetBufferLocation() const = 0;
    virtual ULMStatus ResizeBuffer(unsigned inX, unsigned inY, unsigned inZ) = 0;
    virtual ULMStatus ResizeBuffer(const ULMVolumeRange& inRange) = 0;
    // Power-of-two moduli per axis, or even offsets per axis. A change of the
    // buffer's size or addressing keeps the voxels it holds at their own
    // coordinates, as far as the new buffer holds them (an offset window
    // drops the rest); a wrap too narrow for them is refused with
    // kULMErrArgument and changes nothing. Under wrap a write drops the
    // voxels whose elements it takes. Every read of the buffer (an unload
    // or map with kULMUseBuffer, a render, a pass, a level made from it)
    // sees each voxel at its own coordinate with the value last written
    // there: what the buffer lacks of the box it reads is first loaded from
    // the volume's own voxels, where the addressing holds it without taking
    // the element of a voxel the buffer holds. A box it cannot hold so, or
    // that a volume without voxels of its own lacks, is refused with
    // kULMErrVolume and a message naming it. A render draws what an offset
    // window holds of the active sub-volume.
    virtual ULMStatus SetBufferWrap(int inModulusX, int inModulusY, int inModulusZ) = 0;
    virtual ULMStatus SetBufferOffset(int inOffsetX, int inOffsetY, int inOffsetZ) = 0;
    virtual void GetBufferAddressParameters(ULMAddressMode& outMode, int& outX, int& outY,
                                            int& outZ) const = 0;
    virtual ULMStatus SetBufferAddressParameters(ULMAddressMode inMode, int inX, int inY,
                                                 int inZ) = 0;
    virtual ULMAddressMode GetBufferAddressMode() const = 0;
    virtual int GetBufferAddressParameterX() const = 0;
    virtual int GetBufferAddressParameterY() const = 0;
    virtual int GetBufferAddressParameterZ() const = 0;

    virtual ULMStatus SetTarget(ULMTarget inTarget) = 0;
    virtual ULMTarget GetTarget() const = 0;

    // Renders the active sub-volume as the context's camera sees it. A
    // parallel view that shows none of it (it looks elsewhere, or the
    // sub-volume holds no voxel) answers kULMErrEmptyRender, leaves the
    // images as they were and empties the output image's output limits; so
    // does RenderMPR. A perspective frame is written whole all the same.
    // Every kind of volume answers as the plain volume on one board does.
    virtual ULMStatus Render(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                             ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                             ULMDepthBuffer* ioDepth1) = 0;
    virtual ULMSyncEvent StartRender(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                     ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                     ULMDepthBuffer* ioDepth1) = 0;

    virtual ULMStatus SetMipmapAutoGenerate(int inOn);
    virtual int GetMipmapAutoGenerate() const;
    virtual ULMStatus SetMipmapMinDimension(int inDimension);
    virtual int GetMipmapMinDimension() const;
    virtual ULMStatus SetMipmapShrinkFactors(double inX, double inY, double inZ);
    virtual void GetMipmapShrinkFactors(double& outX, double& outY, double& outZ) const;
    virtual ULMStatus SetMipmapInterpolationMode(ULMFieldNumber inField,
                                                 ULMInterpolationMode inMode);
    virtual ULMInterpolationMode GetMipmapInterpolationMode(ULMFieldNumber inField) const;
    // Levels are made on the board from the source level's buffer: one whose
    // addressing cannot hold that level whole (an offset window short of
    // it, a wrap too narrow) makes none, kULMErrVolume, before any work.
    virtual ULMStatus GenerateMipmapLevel(int inLevelToGenerate, int inSourceLevel,
                                          double inShrinkX, double inShrinkY, double inShrinkZ);
    virtual ULMSyncEvent StartGenerateMipmapLevel(int inLevelToGenerate, int inSourceLevel,
                                                  double inShrinkX, double inShrinkY,
                                                  double inShrinkZ);
    virtual ULMStatus SetMipmapRange(int inMinLevel, int inMaxLevel);
    virtual void GetMipmapRange(int& outMinLevel, int& outMaxLevel) const;
    virtual int ChooseMipmapLevel(const ULMContext* inContext) const;
    virtual int ChooseMipmapLevel(const ULMContext* inContext, int inMinLevel,
                                  int inMaxLevel) const;
    // Samples inSourceRange of this volume's voxels, through the classifier,
    // into inDestinationRange of ioDestination's board buffer (this volume
    // itself included), stretching or shrinking each axis to fit. Limits:
    // - ranges: kULMErrArgument for a negative size, for a box that holds a
    //   voxel but lies outside its volume or the board's signed 16-bit
    //   coordinates, and for an empty source with a destination that is
    //   not; a destination holding no voxel is done at once;
    // - X and Y: destinations under 12 voxels wide or high are refused with
    //   kULMErrArgument, and a shrink beyond 2:1 (more than two source
    //   voxels per destination voxel, or (size - 1) : new size when the
    //   sizes themselves are beyond it) with kULMErrCantSubsample;
    // - Z: the same number of slices, or half of them on a board that
    //   halves in one pass, take one pass; any other Z needs a destination
    //   of at least 12 slices (kULMErrArgument) shrunk at most 2:1 as above
    //   (kULMErrCantSubsample); an odd number of destination slices must
    //   end at the destination volume's end (kULMErrArgument);
    // - kULMErrVolume for a source box this volume's buffer cannot hold
    //   (as for any read of it, above) or a destination box a plain
    //   destination's buffer cannot take under its addressing, for no
    //   destination, for a volume without a board
    //   buffer resampled into itself, and for a multiboard destination
    //   (or a mipmap volume over one) that is neither locked nor given
    //   buffers, whose next lock would load over the result;
    //   kULMErrClassifier for an invalid classifier;
    // - a source without a board buffer is locked for the length of the
    //   pass; a plain destination without one gets one beside the source
    //   holding the result, which a later lock keeps and UnlockVolume(1)
    //   writes back;
    // - kULMErrAccess while the application holds either volume mapped for
    //   exclusive use, or the destination mapped at all but for shared
    //   writing, as updates are refused.
    virtual ULMStatus ResampleBuffer(ULMVolume* ioDestination, const ULMVolumeRange& inSourceRange,
                                     const ULMVolumeRange& inDestinationRange,
                                     const ULMClassifier& inClassifier);
    virtual ULMSyncEvent StartResampleBuffer(ULMVolume* ioDestination,
                                             const ULMVolumeRange& inSourceRange,
                                             const ULMVolumeRange& inDestinationRange,
                                             const ULMClassifier& inClassifier);
    virtual ULMStatus SetSpaceLeapingParameters(SpaceLeapingMode inMode, double inRed,
                                                double inGreen, double inBlue, double inAlpha);
    virtual void GetSpaceLeapingParameters(SpaceLeapingMode& outMode, double& outRed,
                                           double& outGreen, double& outBlue,
                                           double& outAlpha) const;
    virtual ULMStatus RenderMPR(const ULMContext* inContext, double inNegativeDistance,
                                int inQuality, MPRMode inMode, ULMImageBuffer* ioImage);
    virtual ULMSyncEvent StartRenderMPR(const ULMContext* inContext, double inNegativeDistance,
                                        int inQuality, MPRMode inMode, ULMImageBuffer* ioImage);
    // Renders this volume's active sub-volume, as the context's camera sees
    // it, into ioOutVolume's active sub-volume (all of it when none is set),
    // one voxel per output voxel. Limits:
    // - kULMErrArgument for no context or output, an unknown mode, a
    //   perspective camera, a depth test that can reject, a cut plane, a
    //   crop, trim planes that cut into the sub-volume, or an odd number of
    //   output slices short of the output's end;
    // - kULMErrUnimplemented for a view that does not keep the axes apart
    //   (each output axis fed by one source axis), unless the
    //   RenderToVolumeEnable parameter is set;
    // - kULMErrVolume for an output that is not a plain volume or lies on
    //   another board than this volume's buffer, and for a sub-volume of
    //   either that holds no voxel;
    // - kULMErrAccess while the application holds the output mapped but
    //   for shared writing, as updates are refused.
    virtual ULMStatus RenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume,
                                     RenderToVolumeMode inMode);
    virtual ULMSyncEvent StartRenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume,
                                             RenderToVolumeMode inMode);
    // The level's volume, without a reference for the caller.
    virtual ULMVolume* GetMipmapLevel(int inLevel);
    virtual ULMStatus CreateMipmapLevel(int inLevel, ULMLocation inLocation,
                                        ULMVolumeRange inRange);
    virtual int GetNumberMipmapLevels() const;
    virtual ULMStatus Reserved25();
    virtual ULMStatus Reserved26();
    virtual ULMStatus Reserved27();
    virtual ULMStatus Reserved28();
    virtual ULMStatus Reserved29();

protected:
    ULMVolume() = default;
    // Volumes are destroyed through Release.
    ~ULMVolume() override;
};

}  // namespace ulm3
