// The rendering context behind ULMContext: the render state, the light and
// cut-plane lists, and the delivery of events to callbacks or the queue.
#pragma once

#include <array>
#include <memory>

#include "context/base_plane_slots.h"
#include "foundation/event_queue.h"
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

    ULMCamera& GetCamera() override { return m_state.camera; }
    const ULMCamera& GetCamera() const override { return m_state.camera; }
    ULMStatus SetCamera(const ULMCamera& inCamera) override { return Store(m_state.camera, inCamera); }
    ULMCrop& GetCrop() override { return m_state.crop; }
    const ULMCrop& GetCrop() const override { return m_state.crop; }
    ULMStatus SetCrop(const ULMCrop& inCrop) override { return Store(m_state.crop, inCrop); }
    const ULMCursor& GetCursor() const override { return m_state.cursor; }
    ULMStatus SetCursor(const ULMCursor& inCursor) override { return Store(m_state.cursor, inCursor); }

    ImageBufferNumber GetImageOutputBuffer() const override { return m_state.imageOutputBuffer; }
    ULMStatus SetImageOutputBuffer(ImageBufferNumber inBuffer) override;
    RenderArea GetRenderArea() const override { return m_state.renderArea; }
    ULMStatus SetRenderArea(RenderArea inArea) override;
    ULMBlendMode GetBlendMode() const override { return m_state.blendMode; }
    ULMStatus SetBlendMode(ULMBlendMode inMode) override;
    ULMBlendMode GetLastBlendMode() const override { return m_state.lastBlendMode; }
    ULMStatus SetLastBlendMode(ULMBlendMode inMode) override;
    ULMPixelFormat GetBasePlanePixelFormat() const override { return m_state.basePlaneFormat; }
    ULMStatus SetBasePlanePixelFormat(ULMPixelFormat inFormat) override;

    DepthTest GetDepthTest(DepthBufferNumber inBuffer) const override;
    ULMStatus SetDepthTest(DepthBufferNumber inBuffer, DepthTest inTest) override;
    FilterTest GetDepthUpdateFilter(DepthBufferNumber inBuffer) const override;
    ULMStatus SetDepthUpdateFilter(DepthBufferNumber inBuffer, FilterTest inFilter) override;
    DepthCombineFunction GetDepthCombineFunction() const override { return m_state.depthCombine; }
    ULMStatus SetDepthCombineFunction(DepthCombineFunction inFunction) override;

    void GetSamplingLimits(double& outMinXY, double& outMaxXY, double& outMinZ,
                           double& outMaxZ) const override;
    ULMStatus SetSamplingLimits(double inMinXY, double inMaxXY, double inMinZ, double inMaxZ) override;
    double GetSamplingFactor() const override { return m_state.samplingFactor; }
    ULMStatus SetSamplingFactor(double inFactor) override;
    double GetMinViewingDistance() const override { return m_state.minViewingDistance; }
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
    bool GetRayTerminationEnabled() const override { return m_state.rayTerminationEnabled; }
    double GetRayTerminationThreshold() const override { return m_state.rayTerminationThreshold; }
    ULMStatus SetRayTermination(double inThreshold, bool inEnabled) override;
    void GetSampleAlphaRange(double& outMin, double& outMax) const override;
    ULMStatus SetSampleAlphaRange(double inMin, double inMax) override;
    void GetAccumulatedAlphaRange(double& outMin, double& outMax) const override;
    ULMStatus SetAccumulatedAlphaRange(double inMin, double inMax) override;
    void GetGradientMagnitudeRange(double& outMin, double& outMax) const override;
    ULMStatus SetGradientMagnitudeRange(double inMin, double inMax) override;
    void GetGradientTable(double* outTable) const override;
    ULMStatus SetGradientTable(const double* inTable) override;
    unsigned GetGradientModulation() const override { return m_state.gradientModulation; }
    ULMStatus SetGradientModulation(unsigned inModulation) override;

    ULMStatus AddLight(ULMLight* inLight) override { return ChangeList(m_lights.Add(inLight)); }
    ULMStatus RemoveLight(ULMLight* inLight) override { return ChangeList(m_lights.Remove(inLight)); }
    ULMLight* GetLight(int inIndex) const override { return m_lights[inIndex]; }
    int GetLightCount() const override { return static_cast<int>(m_lights.Number()); }
    ULMStatus AddCutPlane(ULMCutPlane* inPlane) override { return ChangeList(m_cutPlanes.Add(inPlane)); }
    ULMStatus RemoveCutPlane(ULMCutPlane* inPlane) override {
        return ChangeList(m_cutPlanes.Remove(inPlane));
    }
    ULMCutPlane* GetCutPlane(int inIndex) const override { return m_cutPlanes[inIndex]; }
    int GetCutPlaneCount() const override { return static_cast<int>(m_cutPlanes.Number()); }

    ULMStatus SetNotifyCallback(ULMEventType inKind, ULMNotifyCallback inCallback, void* inData) override;
    ULMStatus WaitForEvent(long inMilliseconds, ULMEventBase*& outEvent, void*& outData) override;

    ULMStatus RenderBasePlane(ULMVolume* inVolume, int inSlot) override { return m_slots->Render(inVolume, inSlot); }
    ULMStatus FetchBasePlane(int inSlot, ULMBasePlaneInfo& outInfo, long inMilliseconds) override {
        return m_slots->Fetch(inSlot, outInfo, inMilliseconds);
    }
    ULMStatus ReleaseBasePlane(int inSlot) override { return m_slots->Release(inSlot); }
    ULMStatus RenderToGraphicsContext(ULMVolume* inVolume, ULMGraphicsContext* inGraphics, int inSlot) override {
        return m_slots->RenderTo(inVolume, inGraphics, inSlot);
    }

    // Events of the base-plane road and of the engine's light maps. Each is
    // made only when its kind has a callback; a queue that refuses it
    // deletes it and gives kULMErrAlloc.
    bool HasNotifyCallback(ULMEventType inKind) const;
    int BasePlaneSlotInRender() const { return m_slots->RenderingSlot(); }
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

    ULMContextInternal();
    ~ULMContextInternal() override;

    template <class T>
    ULMStatus Store(T& ioField, const T& inValue) {
        if (ioField == inValue) return kULMOK;
        ioField = inValue;
        IncSerial();
        return kULMOK;
    }
    ULMStatus ChangeList(ULMStatus inStatus) {
        if (inStatus == kULMOK) IncSerial();
        return inStatus;
    }
    ULMStatus StoreRange(std::array<double, 2>& ioRange, double inMin, double inMax);
    Notify GetNotify(ULMEventType inKind) const;
    template <class MakeEvent>
    ULMStatus Deliver(ULMEventType inKind, MakeEvent inMake);

    State m_state;
    ULMClassifier m_classifier;
    ULMListInternal<ULMLight> m_lights;
    ULMListInternal<ULMCutPlane> m_cutPlanes;
    // The callbacks may be set in one thread while another renders.
    CriticalSection* m_notifyLock;
    Notify m_notify[kEventKinds];
    std::unique_ptr<ULMEventQueue> m_queue;
    std::unique_ptr<ULMBasePlaneSlots> m_slots;
};

}  // namespace ulm3
