// What the public volume interface answers for the operations a plain
// volume leaves to the wrapping (mipmap and multiboard) volumes.
#include "ulm3/volume.h"

namespace ulm3 {

ULMVolume::~ULMVolume() = default;

ULMStatus ULMVolume::SetMipmapAutoGenerate(int) { return kULMErrUnimplemented; }
int ULMVolume::GetMipmapAutoGenerate() const { return 0; }
ULMStatus ULMVolume::SetMipmapMinDimension(int) { return kULMErrUnimplemented; }
int ULMVolume::GetMipmapMinDimension() const { return 0; }
ULMStatus ULMVolume::SetMipmapShrinkFactors(double, double, double) { return kULMErrUnimplemented; }
void ULMVolume::GetMipmapShrinkFactors(double&, double&, double&) const {}
ULMStatus ULMVolume::SetMipmapInterpolationMode(ULMFieldNumber, ULMInterpolationMode) {
    return kULMErrUnimplemented;
}
ULMInterpolationMode ULMVolume::GetMipmapInterpolationMode(ULMFieldNumber) const {
    return kULMNearestNeighbor;
}
ULMStatus ULMVolume::GenerateMipmapLevel(int, int, double, double, double) {
    return kULMErrUnimplemented;
}
ULMSyncEvent ULMVolume::StartGenerateMipmapLevel(int, int, double, double, double) {
    return ULMSyncEvent(kULMErrUnimplemented);
}
ULMStatus ULMVolume::SetMipmapRange(int, int) { return kULMErrUnimplemented; }
void ULMVolume::GetMipmapRange(int&, int&) const {}
int ULMVolume::ChooseMipmapLevel(const ULMContext*) const { return -1; }
int ULMVolume::ChooseMipmapLevel(const ULMContext*, int, int) const { return -1; }
ULMStatus ULMVolume::ResampleBuffer(ULMVolume*, const ULMVolumeRange&, const ULMVolumeRange&,
                                    const ULMClassifier&) {
    return kULMErrUnimplemented;
}
ULMSyncEvent ULMVolume::StartResampleBuffer(ULMVolume*, const ULMVolumeRange&,
                                            const ULMVolumeRange&, const ULMClassifier&) {
    return ULMSyncEvent(kULMErrUnimplemented);
}
ULMStatus ULMVolume::SetSpaceLeapingParameters(SpaceLeapingMode, double, double, double, double) {
    return kULMErrUnimplemented;
}
void ULMVolume::GetSpaceLeapingParameters(SpaceLeapingMode&, double&, double&, double&,
                                          double&) const {}
ULMStatus ULMVolume::RenderMPR(const ULMContext*, double, int, MPRMode, ULMImageBuffer*) {
    return kULMErrUnimplemented;
}
ULMSyncEvent ULMVolume::StartRenderMPR(const ULMContext*, double, int, MPRMode, ULMImageBuffer*) {
    return ULMSyncEvent(kULMErrUnimplemented);
}
ULMStatus ULMVolume::RenderToVolume(const ULMContext*, ULMVolume*, RenderToVolumeMode) {
    return kULMErrUnimplemented;
}
ULMSyncEvent ULMVolume::StartRenderToVolume(const ULMContext*, ULMVolume*, RenderToVolumeMode) {
    return ULMSyncEvent(kULMErrUnimplemented);
}
ULMVolume* ULMVolume::GetMipmapLevel(int) { return nullptr; }
ULMStatus ULMVolume::CreateMipmapLevel(int, ULMLocation, ULMVolumeRange) {
    return kULMErrUnimplemented;
}
int ULMVolume::GetNumberMipmapLevels() const { return 1; }
ULMStatus ULMVolume::Reserved25() { return kULMErrUnimplemented; }
ULMStatus ULMVolume::Reserved26() { return kULMErrUnimplemented; }
ULMStatus ULMVolume::Reserved27() { return kULMErrUnimplemented; }
ULMStatus ULMVolume::Reserved28() { return kULMErrUnimplemented; }
ULMStatus ULMVolume::Reserved29() { return kULMErrUnimplemented; }

}  // namespace ulm3
