// The slots of a volume whose work lies above the volume folder: renders,
// space leaping, the board passes and the roads built on them, each handed
// to what registered for it (volume_upper_layers.h).
#include "volume/volume_internal.h"
#include "volume/volume_upper_layers.h"

namespace ulm3 {

ULMSyncEvent ULMVolumeInternal::StartRender(const ULMContext* inContext, ULMImageBuffer* ioColor0,
                                            ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                            ULMDepthBuffer* ioDepth1) {
    return ULMGetVolumeRenderEngine().StartRender(*this, inContext, ioColor0, ioDepth0, ioColor1, ioDepth1);
}

ULMSyncEvent ULMVolumeInternal::StartRenderMPR(const ULMContext* inContext, double inNegativeDistance,
                                               int inQuality, MPRMode inMode, ULMImageBuffer* ioImage) {
    return ULMGetVolumeRenderEngine().StartRenderMPR(*this, inContext, inNegativeDistance, inQuality, inMode,
                                                     ioImage);
}

void ULMVolumeInternal::InitializeSpaceLeaping() { ULMGetVolumeRenderEngine().InitializeSpaceLeaping(*this); }

void ULMVolumeInternal::ClearSpaceLeaping() { ULMGetVolumeRenderEngine().ClearSpaceLeaping(*this); }

ULMStatus ULMVolumeInternal::SetSpaceLeapingParameters(SpaceLeapingMode inMode, double inRed, double inGreen,
                                                       double inBlue, double inAlpha) {
    const double thresholds[4] = {inRed, inGreen, inBlue, inAlpha};
    return ULMGetVolumeRenderEngine().SetSpaceLeapingParameters(*this, inMode, thresholds);
}

void ULMVolumeInternal::GetSpaceLeapingParameters(SpaceLeapingMode& outMode, double& outRed, double& outGreen,
                                                  double& outBlue, double& outAlpha) const {
    double thresholds[4] = {};
    ULMGetVolumeRenderEngine().GetSpaceLeapingParameters(*this, outMode, thresholds);
    outRed = thresholds[0];
    outGreen = thresholds[1];
    outBlue = thresholds[2];
    outAlpha = thresholds[3];
}

ULMSyncEvent ULMVolumeInternal::DoStartResampleBuffer(ULMVolume* pDestination, const ULMVolumeRange& inSourceRange,
                                                      const ULMVolumeRange& inDestinationRange,
                                                      const ULMClassifier& inClassifier, sideways inSideways,
                                                      long long originX, long long spacingX) {
    return ULMGetVolumePasses().Pass(*this, pDestination, inSourceRange, inDestinationRange, &inClassifier,
                                     inSideways, originX, spacingX);
}

ULMSyncEvent ULMVolumeInternal::DoStartFieldCopy(ULMVolume* pDestination, const ULMVolumeRange& inSourceRange,
                                                 const ULMVolumeRange& inDestinationRange, sideways inSideways) {
    return ULMGetVolumePasses().Pass(*this, pDestination, inSourceRange, inDestinationRange, nullptr, inSideways, 0,
                                     0);
}

ULMStatus ULMVolumeInternal::ResampleBuffer(ULMVolume* pDestination, const ULMVolumeRange& inSourceRange,
                                            const ULMVolumeRange& inDestinationRange,
                                            const ULMClassifier& inClassifier) {
    return StartResampleBuffer(pDestination, inSourceRange, inDestinationRange, inClassifier).Wait(-1);
}

ULMSyncEvent ULMVolumeInternal::StartResampleBuffer(ULMVolume* pDestination, const ULMVolumeRange& inSourceRange,
                                                    const ULMVolumeRange& inDestinationRange,
                                                    const ULMClassifier& inClassifier) {
    return ULMGetVolumePasses().StartResample(*this, pDestination, inSourceRange, inDestinationRange, inClassifier);
}

ULMStatus ULMVolumeInternal::RenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume,
                                            RenderToVolumeMode inMode) {
    return StartRenderToVolume(inContext, ioOutVolume, inMode).Wait(-1);
}

ULMSyncEvent ULMVolumeInternal::StartRenderToVolume(const ULMContext* inContext, ULMVolume* ioOutVolume,
                                                    RenderToVolumeMode inMode) {
    return ULMGetVolumePasses().StartRenderToVolume(*this, inContext, ioOutVolume, inMode);
}

}  // namespace ulm3
