// The rendering context behind ULMContext: the render state, the light and
// cut-plane lists, and the delivery of events to callbacks or the queue.
#pragma once

#include <array>
#include <memory>

#include "context/base_plane_slots.h"
#include "foundation/event_queue.h"
#include "foundation/locks.h"
#include "foundation/object_list.h"
#include "ulm3/context.h"

namespace ulm3 {

struct CriticalSection;

class ULMContextInternal : public ULMContext {
public:
    static constexpr int kEventQueueSize = 256;
    static constexpr int kGradientTableLength = 8;
    static constexpr int kEventKinds = kULMEventMultiPassBasePlane + 1;

    // Null while the library is not open, or for a table the classifier
    // cannot take as table 0.
    static ULMContextInternal* Make(ULMLookupTable* inTable);
    // Every property of the source; the source's hold keeps the library
    // open, so a clone needs no open library.
    static ULMContextInternal* MakeClone(const ULMContextInternal& inSource);
    // The context one render works from, owned by that render alone: the
    // source's state taken at once under its lock, with copies of its lights
    // and cut planes as they stand, so that other threads may change or free
    // what the source holds while the render reads the copy. Its events and
    // base-plane calls go to the context the application made. One reference
    // for the caller; null when it cannot be made.
    static ULMContextInternal* MakeRenderCopy(const ULMContextInternal& inSource);
    bool IsRenderCopy() const { return m_origin != nullptr; }
    // The base-plane slot a render copy draws into, which its light-map
    // events name (-1: none).
    void SetBasePlaneSlot(int inSlot) { m_basePlaneSlot = inSlot; }

    // The references are the context's own state, which the lock cannot
    // cover (see ULMContext::GetCamera).
    ULMCamera& GetCamera() override { return m_state.camera; }
    const ULMCamera& GetCamera() const override { return m_state.camera; }
    ULMStatus SetCamera(const ULMCamera& inCamera) override { return Store(m_state.camera, inCamera); }
    ULMCrop& GetCrop() override { return m_state.crop; }
    const ULMCrop& GetCrop() const override { return m_state.crop; }
    ULMStatus SetCrop(const ULMCrop& inCrop) override { return Store(m_state.crop, inCrop); }
    const ULMCursor& GetCursor() const override { return m_state.cursor; }
    ULMStatus SetCursor(const ULMCursor& inCursor) override { return Store(m_state.cursor, inCursor); }

    ImageBufferNumber GetImageOutputBuffer() const override { return Locked(m_state.imageOutputBuffer); }
    ULMStatus SetImageOutputBuffer(ImageBufferNumber inBuffer) override;
    RenderArea GetRenderArea() const override { return Locked(m_state.renderArea); }
    ULMStatus SetRenderArea(RenderArea inArea) override;
    ULMBlendMode GetBlendMode() const override { return Locked(m_state.blendMode); }
    ULMStatus SetBlendMode(ULMBlendMode inMode) override;
    ULMBlendMode GetLastBlendMode() const override { return Locked(m_state.lastBlendMode); }
    ULMStatus SetLastBlendMode(ULMBlendMode inMode) override;
    ULMPixelFormat GetBasePlanePixelFormat() const override { return Locked(m_state.basePlaneFormat); }
    ULMStatus SetBasePlanePixelFormat(ULMPixelFormat inFormat) override;

    DepthTest GetDepthTest(DepthBufferNumber inBuffer) const override;
    ULMStatus SetDepthTest(DepthBufferNumber inBuffer, DepthTest inTest) override;
    FilterTest GetDepthUpdateFilter(DepthBufferNumber inBuffer) const override;
    ULMStatus SetDepthUpdateFilter(DepthBufferNumber inBuffer, FilterTest inFilter) override;
    DepthCombineFunction GetDepthCombineFunction() const override { return Locked(m_state.depthCombine); }
    ULMStatus SetDepthCombineFunction(DepthCombineFunction inFunction) override;

    void GetSamplingLimits(double& outMinXY, double& outMaxXY, double& outMinZ,
                           double& outMaxZ) const override;
    ULMStatus SetSamplingLimits(double inMinXY, double inMaxXY, double inMinZ, double inMaxZ) override;
    double GetSamplingFactor() const override { return Locked(m_state.samplingFactor); }
    ULMStatus SetSamplingFactor(double inFactor) override;
    double GetMinViewingDistance() const override { return Locked(m_state.minViewingDistance); }
    ULMStatus SetMinViewingDistance(double inDistance) override;
    void GetTrimPlanes(double& outMinX, double& outMaxX, double& outMinY, double& outMaxY, double& outMinZ,
                       double& outMaxZ) const override;
    ULMStatus SetTrimPlanes(double inMinX, double inMaxX, double inMinY, double inMaxY, double inMinZ,
                            double inMaxZ) override;

    const ULMClassifier& GetClassifier() const override { return m_classifier; }
    ULMStatus SetClassifier(const ULMClassifier& inClassifier) override;

    void GetReflectionProperties(double& outDiffuse, double& outSpecular, double& outEmissive,
                                 double& outExponent) const override;
    ULMStatus SetReflectionProperties(double inDiffuse, double inSpecular, double inEmissive,
                                      double inExponent) override;
    bool GetRayTerminationEnabled() const override { return Locked(m_state.rayTerminationEnabled); }
    double GetRayTerminationThreshold() const override { return Locked(m_state.rayTerminationThreshold); }
    ULMStatus SetRayTermination(double inThreshold, bool inEnabled) override;
    void GetSampleAlphaRange(double& outMin, double& outMax) const override;
    ULMStatus SetSampleAlphaRange(double inMin, double inMax) override;
    void GetAccumulatedAlphaRange(double& outMin, double& outMax) const override;
    ULMStatus SetAccumulatedAlphaRange(double inMin, double inMax) override;
    void GetGradientMagnitudeRange(double& outMin, double& outMax) const override;
    ULMStatus SetGradientMagnitudeRange(double inMin, double inMax) override;
    void GetGradientTable(double* outTable) const override;
    ULMStatus SetGradientTable(const double* inTable) override;
    unsigned GetGradientModulation() const override { return Locked(m_state.gradientModulation); }
    ULMStatus SetGradientModulation(unsigned inModulation) override;

    ULMStatus AddLight(ULMLight* inLight) override {
        return ChangeList(m_lights, &ULMListInternal<ULMLight>::Add, inLight);
    }
    ULMStatus RemoveLight(ULMLight* inLight) override {
        return ChangeList(m_lights, &ULMListInternal<ULMLight>::Remove, inLight);
    }
    ULMLight* GetLight(int inIndex) const override { return Member(m_lights, inIndex); }
    int GetLightCount() const override { return Count(m_lights); }
    ULMStatus AddCutPlane(ULMCutPlane* inPlane) override {
        return ChangeList(m_cutPlanes, &ULMListInternal<ULMCutPlane>::Add, inPlane);
    }
    ULMStatus RemoveCutPlane(ULMCutPlane* inPlane) override {
        return ChangeList(m_cutPlanes, &ULMListInternal<ULMCutPlane>::Remove, inPlane);
    }
    ULMCutPlane* GetCutPlane(int inIndex) const override { return Member(m_cutPlanes, inIndex); }
    int GetCutPlaneCount() const override { return Count(m_cutPlanes); }

    ULMStatus SetNotifyCallback(ULMEventType inKind, ULMNotifyCallback inCallback, void* inData) override;
    ULMStatus WaitForEvent(long inMilliseconds, ULMEventBase*& outEvent, void*& outData) override;

    ULMStatus RenderBasePlane(ULMVolume* inVolume, int inSlot) override {
        return Owner().m_slots->Render(inVolume, inSlot);
    }
    ULMStatus FetchBasePlane(int inSlot, ULMBasePlaneInfo& outInfo, long inMilliseconds) override {
        return Owner().m_slots->Fetch(inSlot, outInfo, inMilliseconds);
    }
    ULMStatus ReleaseBasePlane(int inSlot) override { return Owner().m_slots->Release(inSlot); }
    ULMStatus RenderToGraphicsContext(ULMVolume* inVolume, ULMGraphicsContext* inGraphics, int inSlot) override {
        return Owner().m_slots->RenderTo(inVolume, inGraphics, inSlot);
    }

    // Events of the base-plane road and of the engine's light maps. Each is
    // made only when its kind has a callback; a queue that refuses it
    // deletes it and gives kULMErrAlloc.
    bool HasNotifyCallback(ULMEventType inKind) const;
    int BasePlaneSlotInRender() const { return m_basePlaneSlot; }
    ULMStatus GenerateEventRenderDone(int inBuffer);
    ULMStatus GenerateEventTransferDone(int inBuffer);
    // inChanged: a rebuild of maps that were reported before.
    ULMStatus GenerateEventLightMap(bool inChanged, int inBuffer, ULMLightMapType inFormat,
                                    int inBytesPerElement, int inNumberOfElements, void* inMap1,
                                    void* inMap2);

private:
    // Everything a clone copies as it is.
    struct State {
        State();
        ULMCamera camera;
        ULMCrop crop;
        ULMCursor cursor;
        ImageBufferNumber imageOutputBuffer = kImageBuffer0;
        RenderArea renderArea = kViewport;
        ULMBlendMode blendMode = kULMBlendFTB;
        ULMBlendMode lastBlendMode = kULMBlendNone;
        ULMPixelFormat basePlaneFormat = kULMPixelFormatRGBA8;
        std::array<DepthTest, 2> depthTest = {kDepthTestPass, kDepthTestPass};
        std::array<FilterTest, 2> depthUpdateFilter = {kAlwaysFail, kAlwaysFail};
        DepthCombineFunction depthCombine = kDepthCombineAll;
        std::array<double, 4> samplingLimits = {1.0, 3.0, 1.0, 3.0};  // min XY, max XY, min Z, max Z
        double samplingFactor = 1.0;
        double minViewingDistance = 5.0;
        std::array<double, 6> trimPlanes;
        std::array<double, 4> reflection = {1.0, 0.0, 0.0, 10.0};  // diffuse, specular, emissive, exponent
        double rayTerminationThreshold = 1.0;
        bool rayTerminationEnabled = false;
        std::array<double, 2> sampleAlphaRange = {0.0, 1.0};
        std::array<double, 2> accumulatedAlphaRange = {0.0, 1.0};
        std::array<double, 2> gradientMagnitudeRange = {0.0, 1.0};
        std::array<double, kGradientTableLength> gradientTable;
        unsigned gradientModulation = 0;
    };
    struct Notify {
        ULMNotifyCallback callback = nullptr;
        void* data = nullptr;
    };

    // inOrigin null: a context of the application's, with its own queue and
    // slots; else a render copy of inOrigin, which delivers to it.
    explicit ULMContextInternal(ULMContextInternal* inOrigin = nullptr);
    ~ULMContextInternal() override;

    ULMContextInternal& Owner() { return m_origin != nullptr ? *m_origin : *this; }
    const ULMContextInternal& Owner() const { return m_origin != nullptr ? *m_origin : *this; }

    template <class T>
    T Locked(const T& inField) const {
        ULMScopedLock hold(m_stateLock);
        return inField;
    }
    template <class T>
    ULMStatus Store(T& ioField, const T& inValue) {
        ULMScopedLock hold(m_stateLock);
        if (ioField == inValue) return kULMOK;
        ioField = inValue;
        IncSerial();
        return kULMOK;
    }
    template <class T>
    T* Member(const ULMListInternal<T>& inList, int inIndex) const {
        ULMScopedLock hold(m_stateLock);
        return inList[inIndex];
    }
    template <class T>
    int Count(const ULMListInternal<T>& inList) const {
        ULMScopedLock hold(m_stateLock);
        return static_cast<int>(inList.Number());
    }
    template <class T>
    ULMStatus ChangeList(ULMListInternal<T>& ioList, ULMStatus (ULMListInternal<T>::*inChange)(T*), T* inObject) {
        ULMScopedLock hold(m_stateLock);
        const ULMStatus status = (ioList.*inChange)(inObject);
        if (status == kULMOK) IncSerial();
        return status;
    }
    ULMStatus StoreRange(std::array<double, 2>& ioRange, double inMin, double inMax);
    Notify GetNotify(ULMEventType inKind) const;
    template <class MakeEvent>
    ULMStatus Deliver(ULMEventType inKind, MakeEvent inMake);

    // Owns m_state, m_classifier and the two lists: every setter and getter
    // but the reference getters takes it, and copies are made under it.
    mutable ULMMutex m_stateLock;
    State m_state;
    ULMClassifier m_classifier;
    ULMListInternal<ULMLight> m_lights;
    ULMListInternal<ULMCutPlane> m_cutPlanes;
    // A render copy's: the context it was copied from, held.
    ULMContextInternal* m_origin = nullptr;
    int m_basePlaneSlot = -1;
    // The callbacks may be set in one thread while another renders.
    CriticalSection* m_notifyLock = nullptr;
    Notify m_notify[kEventKinds];
    // Null in a render copy, whose owner's serve it.
    std::unique_ptr<ULMEventQueue> m_queue;
    std::unique_ptr<ULMBasePlaneSlots> m_slots;
};

}  // namespace ulm3
