// The rendering context: the whole state a render reads (camera, classifier,
// blending, depth tests, sampling, clipping, lighting) and the events it
// reports back to the application.
#pragma once

#include <cstdint>

#include "ulm3/blend_mode.h"
#include "ulm3/camera.h"
#include "ulm3/classifier.h"
#include "ulm3/cut_plane.h"
#include "ulm3/events.h"
#include "ulm3/light.h"
#include "ulm3/lookup_table.h"
#include "ulm3/pixel_format.h"
#include "ulm3/shareable.h"
#include "ulm3/status.h"

namespace ulm3 {

class ULMGraphicsContext;
class ULMVolume;
struct ULMBasePlaneInfo;

// Receives one event with the data given when the callback was installed.
// The event is deleted when the callback returns.
typedef void (*ULMNotifyCallback)(ULMEventBase* inEvent, void* inData);

// Installed as a context's callback, it makes the context queue the events
// of that kind instead; WaitForEvent takes them. Calling it does nothing.
void ULMQueueEventCallback(ULMEventBase* inEvent, void* inData);

// Every setter checks its arguments (kULMErrArgument, nothing changed, for
// an enumeration out of range or a non-finite number), compares, and stores
// only a change, which advances the context's serial. A live context holds
// the library open.
//
// Threads: a context may be rendered with from several threads at once
// while other threads change it. Its setters, value getters and list calls
// take the context's lock. Every render (of any kind, through a volume or a
// base plane) takes a copy of the whole state under that lock as it starts,
// with copies of its lights and cut planes as they stand, and works from
// that copy alone: a change made while a render runs never shows in part
// in its image, takes effect from the next render, and removing or
// releasing a light or cut plane cannot free what the render reads. Lights,
// cut planes, lookup tables and classifiers may be shared between contexts;
// the lights, cut planes and tables lock themselves. The references that
// GetCamera, GetCrop, GetCursor and GetClassifier hand out are the context's
// own state, which no lock can cover: change the state through them only
// while no other thread uses the context (renders included), and read
// through them only while no other thread changes it. While other threads
// render with the context, change it through SetCamera, SetCrop, SetCursor
// and SetClassifier. GetLight and GetCutPlane lend their object only while
// it stays in the list: hold a reference of your own when another thread
// may remove it.
class ULMContext : public ULMShareable {
public:
    enum DepthTest : int32_t {
        kDepthTestFail = 0,
        kDepthTestLess = 1,
        kDepthTestLessEqual = 2,
        kDepthTestEqual = 3,
        kDepthTestGreaterEqual = 4,
        kDepthTestGreater = 5,
        kDepthTestNotEqual = 6,
        kDepthTestPass = 7,
    };
    enum DepthCombineFunction : int32_t {
        kDepthCombineAll = 0,
        kDepthCombineAnd = 1,
        kDepthCombineOr = 2,
        kDepthCombineXor = 3,
    };
    enum DepthBufferNumber : int32_t { kDepthBuffer0 = 0, kDepthBuffer1 = 1 };
    enum ImageBufferNumber : int32_t { kImageBuffer0 = 0, kImageBuffer1 = 1, kImageBufferNone = 2 };
    enum RenderArea : int32_t { kViewport = 0, kVolume = 1 };
    // Which samples may not update a depth buffer; the bits combine.
    enum FilterTest : int32_t {
        kFilterNone = 0,
        kRejectFrontFacing = 1,
        kRejectBackFacing = 2,
        kAlwaysFail = 3,
        kTestGradientMagnitude = 4,
        kTestSampleAlpha = 8,
        kTestAccumulatedAlpha = 16,
        kAllFilterTests = 31,
    };
    enum LightMode : int32_t {
        kBidirectionalSpecular = 0,
        kBidirectionalDiffuse = 1,
        kUnidirectional = 2,
    };
    enum SpecularColorOpacityWeighting : int32_t { kDisabled = 0, kEnabled = 1, kBasedOnBlendMode = 2 };
    // What the gradient magnitude, through the gradient table, scales.
    enum GradientModulation : uint32_t {
        kModulateOpacity = 1,
        kModulateEmissive = 2,
        kModulateDiffuse = 4,
        kModulateSpecular = 8,
        kAllModulations = 15,
    };

    // Null while the library is not open. Without a table the context's
    // classifier looks field 0 up in a 256-entry ramp of its own.
    static ULMContext* Create(ULMLookupTable* inTable = nullptr);

    // A camera changed through the reference does not advance the serial;
    // the reference is unlocked (see Threads above).
    virtual ULMCamera& GetCamera() = 0;
    virtual const ULMCamera& GetCamera() const = 0;
    virtual ULMStatus SetCamera(const ULMCamera& inCamera) = 0;
    virtual ULMCrop& GetCrop() = 0;
    virtual const ULMCrop& GetCrop() const = 0;
    virtual ULMStatus SetCrop(const ULMCrop& inCrop) = 0;
    virtual const ULMCursor& GetCursor() const = 0;
    virtual ULMStatus SetCursor(const ULMCursor& inCursor) = 0;

    virtual ImageBufferNumber GetImageOutputBuffer() const = 0;
    virtual ULMStatus SetImageOutputBuffer(ImageBufferNumber inBuffer) = 0;
    virtual RenderArea GetRenderArea() const = 0;
    virtual ULMStatus SetRenderArea(RenderArea inArea) = 0;
    virtual ULMBlendMode GetBlendMode() const = 0;
    virtual ULMStatus SetBlendMode(ULMBlendMode inMode) = 0;
    // How image 1 is blended with the result of a render.
    virtual ULMBlendMode GetLastBlendMode() const = 0;
    virtual ULMStatus SetLastBlendMode(ULMBlendMode inMode) = 0;
    virtual ULMPixelFormat GetBasePlanePixelFormat() const = 0;
    virtual ULMStatus SetBasePlanePixelFormat(ULMPixelFormat inFormat) = 0;

    // Another buffer number reads kDepthTestFail (and kAlwaysFail).
    virtual DepthTest GetDepthTest(DepthBufferNumber inBuffer) const = 0;
    virtual ULMStatus SetDepthTest(DepthBufferNumber inBuffer, DepthTest inTest) = 0;
    virtual FilterTest GetDepthUpdateFilter(DepthBufferNumber inBuffer) const = 0;
    virtual ULMStatus SetDepthUpdateFilter(DepthBufferNumber inBuffer, FilterTest inFilter) = 0;
    virtual DepthCombineFunction GetDepthCombineFunction() const = 0;
    virtual ULMStatus SetDepthCombineFunction(DepthCombineFunction inFunction) = 0;

    // Supersampling multipliers: 1 <= min <= max for X/Y and for Z.
    virtual void GetSamplingLimits(double& outMinXY, double& outMaxXY, double& outMinZ,
                                   double& outMaxZ) const = 0;
    virtual ULMStatus SetSamplingLimits(double inMinXY, double inMaxXY, double inMinZ, double inMaxZ) = 0;
    // Samples per pixel the render aims at; above 0.
    virtual double GetSamplingFactor() const = 0;
    virtual ULMStatus SetSamplingFactor(double inFactor) = 0;
    // Nearest distance, in voxels, a perspective render samples at; above 0.
    virtual double GetMinViewingDistance() const = 0;
    virtual ULMStatus SetMinViewingDistance(double inDistance) = 0;
    // The box of voxel coordinates a render samples in.
    virtual void GetTrimPlanes(double& outMinX, double& outMaxX, double& outMinY, double& outMaxY,
                               double& outMinZ, double& outMaxZ) const = 0;
    virtual ULMStatus SetTrimPlanes(double inMinX, double inMaxX, double inMinY, double inMaxY,
                                    double inMinZ, double inMaxZ) = 0;

    virtual const ULMClassifier& GetClassifier() const = 0;
    // An invalid classifier: kULMErrClassifier, not stored.
    virtual ULMStatus SetClassifier(const ULMClassifier& inClassifier) = 0;

    // Coefficients in 0..1, exponent not negative.
    virtual void GetReflectionProperties(double& outDiffuse, double& outSpecular, double& outEmissive,
                                         double& outExponent) const = 0;
    virtual ULMStatus SetReflectionProperties(double inDiffuse, double inSpecular, double inEmissive,
                                              double inExponent) = 0;
    // A ray stops once its accumulated alpha reaches the threshold (0..1).
    virtual bool GetRayTerminationEnabled() const = 0;
    virtual double GetRayTerminationThreshold() const = 0;
    virtual ULMStatus SetRayTermination(double inThreshold, bool inEnabled) = 0;
    // Ranges within 0..1, min not above max.
    virtual void GetSampleAlphaRange(double& outMin, double& outMax) const = 0;
    virtual ULMStatus SetSampleAlphaRange(double inMin, double inMax) = 0;
    virtual void GetAccumulatedAlphaRange(double& outMin, double& outMax) const = 0;
    virtual ULMStatus SetAccumulatedAlphaRange(double inMin, double inMax) = 0;
    virtual void GetGradientMagnitudeRange(double& outMin, double& outMax) const = 0;
    virtual ULMStatus SetGradientMagnitudeRange(double inMin, double inMax) = 0;
    // ULMConfiguration::GetGradientTableLength() values in 0..1: the factor
    // at evenly spaced gradient magnitudes from 0 to 1.
    virtual void GetGradientTable(double* outTable) const = 0;
    virtual ULMStatus SetGradientTable(const double* inTable) = 0;
    virtual unsigned GetGradientModulation() const = 0;
    virtual ULMStatus SetGradientModulation(unsigned inModulation) = 0;

    // Lights: each at most once (kULMErrDuplicate). Cut planes: at most
    // ULMConfiguration::GetMaxCutPlanes() (kULMErrTooMany). The context holds
    // a reference on every member; Get returns it borrowed, null outside the
    // list. Removing an object that is not a member: kULMErrArgument.
    virtual ULMStatus AddLight(ULMLight* inLight) = 0;
    virtual ULMStatus RemoveLight(ULMLight* inLight) = 0;
    virtual ULMLight* GetLight(int inIndex) const = 0;
    virtual int GetLightCount() const = 0;
    virtual ULMStatus AddCutPlane(ULMCutPlane* inPlane) = 0;
    virtual ULMStatus RemoveCutPlane(ULMCutPlane* inPlane) = 0;
    virtual ULMCutPlane* GetCutPlane(int inIndex) const = 0;
    virtual int GetCutPlaneCount() const = 0;

    // One callback per event kind; null removes it. ULMQueueEventCallback
    // queues that kind's events with inData.
    virtual ULMStatus SetNotifyCallback(ULMEventType inKind, ULMNotifyCallback inCallback,
                                        void* inData) = 0;
    // The oldest queued event and its data; it then belongs to the caller.
    // kULMTimeout when none came within the time (negative: no limit).
    virtual ULMStatus WaitForEvent(long inMilliseconds, ULMEventBase*& outEvent, void*& outData) = 0;

    // Base planes, in slots 0..15: the volume seen along the rays at one
    // pixel per voxel step, whatever the zoom, with the affine warp to the
    // window (ULMBasePlaneInfo); parallel projections only. A render locks a
    // volume without a board buffer onto any board and leaves it there (a
    // refused render unlocks it again). It renders through its own copy of
    // the context with the base plane's camera; the context's camera stays
    // as it was for other threads' renders. A slot takes a new render until
    // it is fetched; fetching waits for the
    // transfer (kULMTimeout keeps the slot) and lends the pixels until the
    // slot is released. Another slot number, or a slot in the wrong state:
    // kULMErrArgument; a plane wider than 32768 pixels:
    // kULMErrBasePlaneTooLarge; no image for it: kULMErrBasePlaneAllocation.
    // With render-done or transfer-done callbacks, the render waits for the
    // transfer and raises both with the slot, already rendered and with no
    // lock held, so that the callbacks may fetch or release it.
    virtual ULMStatus RenderBasePlane(ULMVolume* inVolume, int inSlot) = 0;
    virtual ULMStatus FetchBasePlane(int inSlot, ULMBasePlaneInfo& outInfo, long inMilliseconds) = 0;
    virtual ULMStatus ReleaseBasePlane(int inSlot) = 0;
    // Render, fetch, draw and release; the drawing's status comes back.
    virtual ULMStatus RenderToGraphicsContext(ULMVolume* inVolume, ULMGraphicsContext* inGraphics,
                                              int inSlot) = 0;

    virtual ULMStatus Reserved00();
    virtual ULMStatus Reserved01();
    virtual ULMStatus Reserved02();
    virtual ULMStatus Reserved03();
    virtual ULMStatus Reserved04();
    virtual ULMStatus Reserved05();
    virtual ULMStatus Reserved06();
    virtual ULMStatus Reserved07();

protected:
    ~ULMContext() override;
};

// A new context with every property of the given one (its camera, classifier
// and tables, lights and cut planes shared, crop, cursor, callbacks), taken
// under the given context's lock; one reference for the caller; null for a
// null context. Queued events stay with the original.
ULMContext* CloneContext(const ULMContext* inContext);

}  // namespace ulm3
