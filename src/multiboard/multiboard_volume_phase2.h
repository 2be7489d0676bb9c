// The bricked multiboard volume: the application's volume cut into up to
// eight overlapping bricks, each a volume of its own locked on its own
// board; a render draws every brick on its board and composites the
// partial images front to back, on a board or on the host.
//
// The members live by role: the object and its life
// (multiboard_volume_phase2.cpp), loading, updates, unloads and maps
// (multiboard_phase2_loading.cpp), the render's entry and buffer checks
// (multiboard_phase2_render.cpp), the two compositing roads
// (multiboard_phase2_compositing.cpp) and the rest of the interface
// (multiboard_phase2_slots.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "compositing/blend_volume.h"
#include "compositing/software_blend_volume.h"
#include "foundation/locks.h"
#include "foundation/shareable.h"
#include "multiboard/subvolume_division.h"
#include "ulm3/classifier.h"
#include "ulm3/volume.h"
#include "ulm3/volume_source.h"

namespace ulm3 {

struct ULMWrapperParts;

class ULMOmniImageBuffer;
class ULMOmniDepthBuffer;
class ULMImageBufferInternal;
class ULMDepthBufferInternal;
class ULMEventJoin;

// A blend mode that keeps one sample per pixel: a minimum or a maximum.
bool ULMIsExtremeBlend(ULMBlendMode inMode);

// Threads: the object's own state (serials, lock and map state, target,
// the compositors and host buffers, the blend order) is held by m_lock,
// which every operation that reads or changes it takes for its whole call,
// renders included, so that two renders or a render and an update take
// turns while they queue their board work. The bricks are the object's own
// volumes; the base volume is reached only through it. The lock is taken
// before any lock of a brick or of the base.
class ULMMultiboardVolumePhase2 final : public ULMVolume {
public:
    // One brick: its ranges, board, lock state and volume.
    class SubvolumeInfo : public ULMBrickRanges {
    public:
        SubvolumeInfo() = default;
        ~SubvolumeInfo();
        SubvolumeInfo(const SubvolumeInfo&) = delete;
        SubvolumeInfo& operator=(const SubvolumeInfo&) = delete;
        // Holds a reference on inVolume, giving the previous one back.
        void SetVolume(ULMVolume* inVolume);
        ULMVolume* GetVolume() const { return m_vol; }
        ULMVolume* operator->() const { return m_vol; }

        int m_locked = 0;
        unsigned long long m_bufferID = 0;

    private:
        ULMVolume* m_vol = nullptr;
    };

    enum MapType : int32_t { eSimpleMap = 0, eSimulatedMap = 1, eNotImplementedMap = 2 };

    // A bricked volume over inVolume, taking its own references on it and
    // on inSource: inNumberOfSubvolumes bricks (0: one per board) laid out
    // over inTopVolumeRange, the outermost volume's range. One reference
    // for the caller; null when any part cannot be made.
    static ULMVolume* Create(ULMVolume* inVolume, ULMVolumeSource* inSource, int inNumberOfSubvolumes,
                             const ULMVolumeRange& inTopVolumeRange);
    ULMMultiboardVolumePhase2(ULMVolume* inVolume, ULMVolumeSource* inSource, int inNumberOfSubvolumes,
                              const ULMVolumeRange& inTopVolumeRange);
    // For the lock order: the object's lock over its bricks' and the base's.
    static void LockParts(const ULMVolume& inWrapper, ULMWrapperParts& outParts);

    int GetNumberOfVolumes() const { return m_numSubVolumes; }
    const ULMSubVolumeDivision& Division() const { return *m_division; }
    const SubvolumeInfo& Brick(int i) const { return m_subvolume[i]; }
    // The order of the last render: position -> brick, and brick -> position.
    void GetBlendOrder(int (&outBlendIndex)[kMultiboardMaxBricks],
                       int (&outSoftwBlendIndex)[kMultiboardMaxBricks]) const;
    uint64_t GetVolumeSerial() const;
    uint64_t GetStateSerial() const;

    // ---- Description and state (multiboard_phase2_slots.cpp) ----
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
    ULMStatus UpdateVolume(unsigned int inFormat, const void* inVoxels, unsigned inTargetX, unsigned inTargetY,
                           unsigned inTargetZ, unsigned inSizeX, unsigned inSizeY, unsigned inSizeZ,
                           Layout inLayout) override;
    bool IsLoaded() const override;
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
    ULMVolume* GetMipmapLevel(int inLevel) override;
    ULMStatus CreateMipmapLevel(int inLevel, ULMLocation inLocation, ULMVolumeRange inRange) override;

    // ---- Loading, updates, unloads and maps (multiboard_phase2_loading.cpp) ----
    ULMStatus LockVolume(ULMLocation inLocation) override;
    bool IsLocked() const override;
    ULMStatus UnlockVolume(int inUnload) override;
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
    // The worker of the two memory updates: a null field is the whole voxel.
    ULMSyncEvent StartUpdateAlways(const void* inData, const ULMVolumeRange* inDestinationRange,
                                   const ULMFieldDescriptor* inField, int inStrideX, int inStrideY);
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
    ULMStatus Unload(void* outVoxels, const ULMVolumeRange& inVolumeRange, ULMSource inSource) const override;
    ULMStatus UnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange, const ULMFieldDescriptor& inField,
                          ULMSource inSource) const override;
    ULMSyncEvent StartUnload(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                             ULMSource inSource) const override;
    ULMSyncEvent StartUnloadField(void* outVoxels, const ULMVolumeRange& inVolumeRange,
                                  const ULMFieldDescriptor& inField, ULMSource inSource) const override;

    // ---- Render (multiboard_phase2_render.cpp, multiboard_phase2_compositing.cpp) ----
    ULMStatus Render(const ULMContext* inContext, ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0,
                     ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1) override;
    ULMSyncEvent StartRender(const ULMContext* inContext, ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0,
                             ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1) override;
    ULMStatus RenderMPR(const ULMContext* inContext, double inNegativeDistance, int inQuality, MPRMode inMode,
                        ULMImageBuffer* ioImage) override;
    ULMSyncEvent StartRenderMPR(const ULMContext* inContext, double inNegativeDistance, int inQuality,
                                MPRMode inMode, ULMImageBuffer* ioImage) override;
    ULMSyncEvent DoStartRenderAndMPR(const ULMContext* inContext, ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0,
                                     ULMImageBuffer* ioColor1, ULMDepthBuffer* ioDepth1, double inNegativeDistance,
                                     int inQuality, MPRMode inMode, bool inIsMPR);

protected:
    ~ULMMultiboardVolumePhase2() override;

private:
    // What a render works on: the board image of each output image (the
    // application's image's one part, or a board image handed in by the
    // resize), and the depth copies.
    struct RenderBuffers {
        ULMImageBuffer* color[2] = {nullptr, nullptr};         // as the caller gave them
        ULMImageBufferInternal* board[2] = {nullptr, nullptr};  // where the pixels are
        ULMOmniDepthBuffer* depth[2] = {nullptr, nullptr};
    };
    struct RenderRequest {
        const ULMContext* context = nullptr;
        RenderBuffers buffers;
        double negativeDistance = 0.0;
        int quality = 1;
        MPRMode mode = kMPRAlpha;
        bool isMPR = false;
        // Set while a mean alpha is rendered large to be shrunk: the
        // bricks' sums and counts are left in the output as added, and
        // the Z supersampling they used is put here.
        int* sumsSupersample = nullptr;
    };

    // The bricks' volumes, for the forwarding helpers.
    std::span<ULMVolume* const> Bricks() const { return {m_brickVolumes, static_cast<size_t>(m_numSubVolumes)}; }
    // Forwarded setter: the base first, then every brick; inAdvance runs
    // once the base accepted.
    template <typename Set>
    ULMStatus ForwardSetter(Set&& inSet, bool inAdvanceState, bool inAdvanceVolume);
    // A mipmap setter: the base decides, the bricks are told.
    template <typename Set>
    ULMStatus SetMipmapProperty(Set&& inSet);
    void AdvanceState() { m_stateSerial = NextSerialOf(m_stateSerial); }
    void AdvanceVolume() { m_volumeSerial = NextSerialOf(m_volumeSerial); }
    static uint64_t NextSerialOf(uint64_t inSerial) { return inSerial + 1; }
    ULMSource ResolveSource(ULMSource inSource) const;

    // Loading.
    ULMStatus LoadFromSource();
    // After CreateBuffer of a locked volume: the source's voxels, when there are any.
    ULMStatus LoadNewBuffers();
    // Reloads into the bricks what was written to the base's source since
    // they were filled.
    ULMStatus CatchUpWithSource();
    // StartUpdateAlways into the base (kULMSource) or the bricks (kULMBuffer).
    ULMSyncEvent StartUpdateTo(ULMTarget inTarget, const void* inData, const ULMVolumeRange* inDestinationRange,
                               const ULMFieldDescriptor* inField, int inStrideX, int inStrideY);
    void UndoLock(ULMTarget inTarget);
    ULMSyncEvent StartCopyFromVolume(const ULMVolume* inVolume, const ULMVolumeRange& inRange, int inSourceX,
                                     int inSourceY, int inSourceZ, ULMSource inSource);
    ULMSyncEvent StartUnloadBricks(void* outVoxels, const ULMVolumeRange& inRange,
                                   const ULMFieldDescriptor* inField) const;
    // What an unload from the buffers reads instead: the source, while the
    // volume is unlocked; and whether the bricks it reads hold its voxels.
    bool ReadsTheSource() const;
    bool BricksInStep(const ULMVolumeRange& inRange) const;
    // The voxels of inFrom, each read from the brick that owns it, written
    // over inTo (of the same size) in every brick that loads them; waited for.
    ULMStatus CopyBetweenBricks(const ULMVolumeRange& inFrom, const ULMVolumeRange& inTo);
    // Every brick's voxels of inRange made its owner's.
    ULMStatus CopyOverlapsFromOwners(const ULMVolumeRange& inRange);
    // A resample into a bricked volume of as many bricks, brick by brick.
    ULMSyncEvent ResampleIntoBricks(ULMMultiboardVolumePhase2& ioPaired, const ULMVolumeRange& inSourceRange,
                                    const ULMVolumeRange& inDestinationRange, const ULMClassifier& inClassifier);

    // Render.
    ULMStatus TakeRenderBuffers(ULMImageBuffer* const (&inColors)[2], ULMDepthBuffer* const (&inDepths)[2],
                                RenderRequest& ioRequest, ULMSyncEvent& ioMoved);
    // The buffers taken to the bricks; the work of their moves is added to
    // ioMoved, which the render follows.
    ULMImageBufferInternal* CheckAndSetupImageBuffer(ULMImageBuffer* inBuffer, int inNumber, ULMSyncEvent& ioMoved);
    ULMOmniDepthBuffer* CheckAndSetupDepthBuffer(ULMDepthBuffer* inBuffer, int inNumber, ULMSyncEvent& ioMoved);
    ULMStatus GenerateBlendIndex(const ULMContext* inContext);
    ULMSyncEvent RenderBricks(const RenderRequest& inRequest);
    // The image a composite writes, its board image, and the part of it
    // the viewport reaches.
    struct OutputClip {
        ULMImageBuffer* output = nullptr;
        ULMImageBufferInternal* board = nullptr;
        ULMImageRange clip;
        ULMStatus refused = kULMOK;  // a viewport the wrapped output cannot hold
    };
    static OutputClip ClipOutput(const RenderRequest& inRequest);

    struct HostFrame;
    // On a board: the stack's layout and planes, whose first plane is the
    // nearest brick's, the border its partial images are cleared to, the
    // render's frame and the stack it holds, and the steps from the stack's
    // setup to its composite.
    struct StackPlan {
        ULMFieldDescriptor layout[4];
        int bits = 0;
        ULMImageRange range;
        int first = 0;
        double border[4] = {0, 0, 0, 0};
        HostFrame* frame = nullptr;
        ULMBlendVolume* stack = nullptr;
    };
    ULMSyncEvent StartHardwareRender(const RenderRequest& inRequest, bool& outTryHost);
    ULMStatus PrepareStack(StackPlan& ioPlan);
    // Outputs moved to the stack's board, every plane cleared, each brick
    // drawn into its plane and the planes copied into the stack; the
    // bricks' union of pixels drawn in outDrawn. Queued, not waited for:
    // ioWork holds what was queued.
    ULMSyncEvent DrawIntoStack(const RenderRequest& inRequest, StackPlan& ioPlan, ULMEventJoin& ioWork,
                               ULMImageRange& outDrawn);
    ULMSyncEvent ClearStack(const RenderRequest& inRequest, const StackPlan& inPlan, ULMEventJoin& ioWork);
    ULMSyncEvent RenderPartialsOnBoards(const RenderRequest& inRequest, const StackPlan& inPlan,
                                        ULMContext* ioClone, ULMEventJoin& ioWork,
                                        ULMImageRange (&outLimits)[kMultiboardMaxBricks], ULMImageRange& outDrawn);
    ULMSyncEvent CopyPartialsIntoStack(const StackPlan& inPlan, const ULMImageRange (&inLimits)[kMultiboardMaxBricks],
                                       ULMEventJoin& ioWork);
    // The stack rendered straight through into the output images.
    ULMSyncEvent CompositeStack(const RenderRequest& inRequest, const OutputClip& inTarget, const StackPlan& inPlan,
                                const ULMImageRange& inDrawn);
    // What the composite reads and writes, which a composite deferred
    // behind copies through the host into the stack holds until it runs:
    // the outputs' images (a reference on the application's), and the
    // writes recorded on them before it.
    struct StackComposite {
        ULMBlendVolume* blendVolume = nullptr;
        ReleasablePointer<ULMContext> blend;
        ULMImageBufferInternal* image[2] = {nullptr, nullptr};
        ReleasablePointer<ULMImageBuffer> held[2];
        ULMSyncEvent previousWriter[2] = {ULMSyncEvent(kULMOK), ULMSyncEvent(kULMOK)};
    };
    static ULMSyncEvent RenderStack(StackComposite& ioComposite);
    // The context of that render; null when none can be made, and
    // outStatus the first of its settings that failed.
    static ULMContext* CompositeContext(const RenderRequest& inRequest, ULMStatus& outStatus);

    // On the host: the output's layout, the transfer layout and the border
    // of the partial images, and the steps from the blender's setup to the
    // frame written.
    struct HostPlan {
        ULMFieldDescriptor outputFields[4];
        const ULMFieldDescriptor* transferFields = nullptr;
        int transferBits = 0;
        int outputBits = 0;
        double border[4] = {0, 0, 0, 0};
        // An RGBA MPR (see TakeSamples): the partial images take the
        // output's layout and start as one board's render starts, from the
        // border, or within startRange from the output's pixels (start),
        // and noSample is the word the chip writes from the border.
        bool takeSamples = false;
        uint64_t noSample = 0;
        ULMImageRange startRange;
        std::vector<unsigned char> start;
    };
    // What one render owns that board work reads or writes on its own
    // time: on the host, each brick's partial image as unloaded, what the
    // output held and the blend's result, which the output's update reads,
    // and the blend, which runs once the unloads are done; on a board, the
    // stack and its partial images, and in accum the plane the stack is
    // cleared from. A frame belongs to one render until the last of that
    // work has run, so that the next render, or the volume's end, cannot
    // change or free it under a queued transfer or composite.
    struct HostFrame {
        std::unique_ptr<char[]> transfer[kMultiboardMaxBricks];
        std::unique_ptr<char[]> accum;
        ULMSoftwareBlendVolume blend;  // set up for the blend of these buffers
        std::unique_ptr<ULMBlendVolume> stack;  // made by the first render on a board to take the frame
        size_t size = 0;     // bytes of accum and of each transfer buffer
        int transfers = 0;   // transfer buffers held
        ULMSyncEvent lastUse{kULMOK};
        uint64_t taken = 0;  // when a render last took it, to reuse the oldest first
    };
    // A frame of inSize-byte buffers, inTransfers of them transfer buffers,
    // that no queued work uses: one whose work is done (one holding a stack
    // first when inStack asks for one), else a new one, and only past
    // kMostHostFrames frames in flight the oldest once its work has run.
    HostFrame* TakeHostFrame(size_t inSize, int inTransfers, bool inStack, ULMStatus& outStatus);
    ULMSyncEvent StartSoftwareRender(const RenderRequest& inRequest);
    // The plan's layouts and the partial images' start; an RGBA MPR's
    // start over the output's pixels is read from the output, waited for.
    static ULMStatus PlanHostRender(const RenderRequest& inRequest, const OutputClip& inTarget, HostPlan& outPlan);
    ULMStatus PrepareHostBlend(const HostPlan& inPlan, const ULMImageRange& inClip, HostFrame*& outFrame);
    // Each brick drawn into its partial image on its board; not waited for.
    ULMSyncEvent RenderPartialsForHost(const RenderRequest& inRequest, const OutputClip& inTarget,
                                       const HostPlan& inPlan, ULMContext* ioClone, ULMEventJoin& ioRendered,
                                       ULMImageRange (&outRanges)[kMultiboardMaxBricks], ULMImageRange& outDrawn);
    // The partial images and what the output held within inFrame, unloaded
    // into the host buffers (brick inNearest's holds the whole frame);
    // queued, not waited for: outDone completes when they and the renders
    // have.
    ULMStatus GatherPartials(ULMImageBuffer* ioOutput, const HostPlan& inPlan, HostFrame& ioBuffers,
                             const ULMImageRange& inFrame, int inNearest,
                             const ULMImageRange (&inRanges)[kMultiboardMaxBricks], const ULMEventJoin& inRendered,
                             ULMSyncEvent& outDone);
    // A blend of one frame deferred until its partial images are unloaded,
    // with what it holds (multiboard_phase2_compositing.cpp).
    struct HostBlend;
    // The blend of the frame's buffers, written into the output over its
    // frame; the event of that write, or the failure of the unloads and
    // renders it was told of. It reads nothing of the volume's but the
    // frame, which stays the render's until the write has run, so it needs
    // no lock of the volume on whatever thread runs it.
    static ULMSyncEvent BlendOnHost(HostBlend& ioBlend, ULMStatus inInputs);
    // An RGBA MPR's ray keeps the one sample nearest the plane, which one
    // brick takes: that brick's partial image holds the pixel one board
    // writes, drawn over the same start, and every other brick's holds the
    // start as the chip writes it. Each pixel of the frame becomes the one
    // partial pixel that differs from its start (the nearest brick's, if
    // ever more did), else the start; the result replaces accum.
    static void TakeSamples(const HostBlend& inBlend);
    // An MPR's mean alpha (kMPRAlpha): every brick's sums and counts of the
    // samples in its share, added on the host before their mean is taken,
    // as one board takes it over all of a ray's samples; waited for.
    ULMSyncEvent RenderMPRSums(const RenderRequest& inRequest);
    // The brick's own render of the clone into its partial image.
    ULMSyncEvent RenderBrick(int i, const RenderRequest& inRequest, ULMContext* ioClone, ULMImageBuffer* ioPartial);
    // The same, its work joined to ioRendered and what it drew to ioDrawn
    // (outLimits, its output limits); false with outFailure the brick's
    // failed render.
    bool JoinBrickRender(int i, const RenderRequest& inRequest, ULMContext* ioClone, ULMImageBuffer* ioPartial,
                         ULMImageRange& outLimits, ULMEventJoin& ioRendered, ULMImageRange& ioDrawn,
                         ULMSyncEvent& outFailure);
    ULMSyncEvent ResizeFallback(const RenderRequest& inRequest);
    // What an MPR's resize holds: the context it renders and shrinks with,
    // and for a mean alpha the image of sums and counts it shrinks into
    // and the Z supersampling of the sums.
    struct MPRResize {
        ReleasablePointer<ULMContext> context;
        ReleasablePointer<ULMImageBuffer> sums;
        int supersample = 1;
    };
    static ULMStatus PrepareMPRResize(ULMLocation inBoard, const ULMImageBuffer* inOutput, RenderRequest& ioRequest,
                                      MPRResize& outMPR);
    // The shrunk sums' mean written into ioOutput once the shrink is done;
    // waited for.
    static ULMSyncEvent WriteShrunkMPRSums(const ULMSyncEvent& inShrunk, const MPRResize& inMPR,
                                           ULMImageBuffer* ioOutput);
    // An image of sums and counts on inBoard that takes inOutput's sample
    // grid: its size and addressing, cleared to no sample.
    static ULMImageBuffer* MPRSumsImage(ULMLocation inBoard, const ULMImageBuffer* inOutput, ULMStatus& outStatus);

    mutable ULMRecursiveMutex m_lock;
    ULMVolume* m_baseVolume = nullptr;
    ULMVolumeSource* m_volumeSource = nullptr;
    ULMVolume* m_baseMipmapVolume = nullptr;
    int m_voxelSize = 0;
    uint64_t m_volumeSerial = 0;
    uint64_t m_stateSerial = 0;
    int m_overlapVoxels[3] = {0, 0, 0};
    int m_numSubVolumes = 0;
    int m_numBoards = 0;
    ULMSoftwareBlendVolume m_softwBlendVolume;
    int m_locked = 0;
    int m_bufferValid = 0;
    int m_mapped = 0;
    ULMTarget m_target = kULMSource;
    int m_blendIndex[kMultiboardMaxBricks] = {0, 1, 2, 3, 4, 5, 6, 7};
    int m_softwBlendIndex[kMultiboardMaxBricks] = {0, 1, 2, 3, 4, 5, 6, 7};
    int m_subVolumDiv[3] = {1, 1, 1};
    std::unique_ptr<ULMSubVolumeDivision> m_division;
    SubvolumeInfo m_subvolume[kMultiboardMaxBricks];
    ULMVolume* m_brickVolumes[kMultiboardMaxBricks] = {};
    // Renders started one after the other without a wait each have their own.
    static constexpr size_t kMostHostFrames = 4;
    std::vector<std::unique_ptr<HostFrame>> m_hostFrames;
    uint64_t m_hostFramesTaken = 0;
    ULMVolumeRange m_mappedVolumeRange;
    ULMSource m_mappedSource = kULMUseTarget;
    std::unique_ptr<char[]> m_tmpBuff;
    ULMAccessType m_mappedAccess = kULMAccessNoControl;
    MapType m_mapType = eSimpleMap;
    int m_numberMappedVolumes = 0;
};

}  // namespace ulm3
