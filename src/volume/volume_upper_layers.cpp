// The registrations of the layers above the volume.
#include "volume/volume_upper_layers.h"

#include <atomic>
#include <iterator>

#include "foundation/diagnostics.h"
#include "foundation/shareable.h"

namespace ulm3 {

namespace {

// Answers as a library without a render engine would.
class NoRenderEngine final : public ULMVolumeRenderEngine {
public:
    std::unique_ptr<ULMVolumeEngineState> MakeState() override { return std::make_unique<ULMVolumeEngineState>(); }
    ULMSyncEvent StartRender(ULMVolumeInternal&, const ULMContext*, ULMImageBuffer*, ULMDepthBuffer*,
                             ULMImageBuffer*, ULMDepthBuffer*) override {
        return ULMSyncEvent(kULMErrUnimplemented);
    }
    ULMSyncEvent StartRenderMPR(ULMVolumeInternal&, const ULMContext*, double, int, ULMVolume::MPRMode,
                                ULMImageBuffer*) override {
        return ULMSyncEvent(kULMErrUnimplemented);
    }
    void InitializeSpaceLeaping(ULMVolumeInternal&) override {}
    void ClearSpaceLeaping(ULMVolumeInternal&) override {}
    ULMStatus SetSpaceLeapingParameters(ULMVolumeInternal&, ULMVolume::SpaceLeapingMode,
                                        const double (&)[4]) override {
        return kULMErrUnimplemented;
    }
    void GetSpaceLeapingParameters(const ULMVolumeInternal&, ULMVolume::SpaceLeapingMode& outMode,
                                   double (&outThresholds)[4]) override {
        outMode = ULMVolume::kSpaceLeapingNone;
        for (double& t : outThresholds) t = 0.0;
    }
};

// Answers as a library without board passes would.
class NoVolumePasses final : public ULMVolumePasses {
public:
    ULMSyncEvent Pass(ULMVolumeInternal&, ULMVolume*, const ULMVolumeRange&, const ULMVolumeRange&,
                      const ULMClassifier*, int, long long, long long) override {
        return ULMSyncEvent(kULMErrUnimplemented);
    }
    ULMSyncEvent StartResample(ULMVolumeInternal&, ULMVolume*, const ULMVolumeRange&, const ULMVolumeRange&,
                               const ULMClassifier&) override {
        return ULMSyncEvent(kULMErrUnimplemented);
    }
    ULMSyncEvent StartRenderToVolume(ULMVolumeInternal&, const ULMContext*, ULMVolume*,
                                     ULMVolume::RenderToVolumeMode) override {
        return ULMSyncEvent(kULMErrUnimplemented);
    }
};

ULMVolume* NoMipmapVolume(ULMVolume*, ULMVolumeSource*) { return nullptr; }

ULMVolume* NoMultiboardVolume(int, ULMVolume*, ULMVolumeSource*, int, const ULMVolumeRange&) { return nullptr; }

constinit NoRenderEngine gNoRenderEngine;
// Written only while the library loads, before any thread of the
// application exists; read freely afterwards.
constinit ULMVolumeRenderEngine* gRenderEngine = nullptr;
constinit NoVolumePasses gNoVolumePasses;
constinit ULMVolumePasses* gVolumePasses = nullptr;
// Replaced by tests while other threads may make volumes.
constinit std::atomic<ULMMipmapVolumeFactory> gMipmapFactory{NoMipmapVolume};
constinit std::atomic<ULMMultiboardVolumeFactory> gMultiboardFactory{NoMultiboardVolume};

struct WrapperRegistration {
    ULMObjectType type;
    ULMWrapperPartsOf partsOf;
};
constinit WrapperRegistration gWrappers[4] = {};
constinit int gWrapperCount = 0;

}  // namespace

void ULMRegisterWrapperParts(ULMObjectType inType, ULMWrapperPartsOf inPartsOf) {
    for (int i = 0; i < gWrapperCount; ++i)
        if (gWrappers[i].type == inType) {
            gWrappers[i].partsOf = inPartsOf;
            return;
        }
    if (gWrapperCount < static_cast<int>(std::size(gWrappers))) gWrappers[gWrapperCount++] = {inType, inPartsOf};
}

ULMWrapperPartsOf ULMGetWrapperParts(const ULMVolume& inVolume) {
    for (int i = 0; i < gWrapperCount; ++i)
        if (IsObjectType(&inVolume, gWrappers[i].type)) return gWrappers[i].partsOf;
    return nullptr;
}

ULMVolumeRenderEngine& ULMGetVolumeRenderEngine() {
    return gRenderEngine != nullptr ? *gRenderEngine : gNoRenderEngine;
}

void ULMRegisterVolumeRenderEngine(ULMVolumeRenderEngine& engine) { gRenderEngine = &engine; }

ULMVolumePasses& ULMGetVolumePasses() { return gVolumePasses != nullptr ? *gVolumePasses : gNoVolumePasses; }

void ULMRegisterVolumePasses(ULMVolumePasses& passes) { gVolumePasses = &passes; }

ULMMipmapVolumeFactory ULMGetMipmapVolumeFactory() { return gMipmapFactory.load(); }

ULMMultiboardVolumeFactory ULMGetMultiboardVolumeFactory() { return gMultiboardFactory.load(); }

void ULMRegisterMipmapVolumeFactory(ULMMipmapVolumeFactory factory) {
    gMipmapFactory.store(factory != nullptr ? factory : NoMipmapVolume);
}

void ULMRegisterMultiboardVolumeFactory(ULMMultiboardVolumeFactory factory) {
    gMultiboardFactory.store(factory != nullptr ? factory : NoMultiboardVolume);
}

}  // namespace ulm3
