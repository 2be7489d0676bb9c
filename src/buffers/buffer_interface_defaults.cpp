// What the public buffer interfaces do for implementations that leave out
// resampling and migration, and the location rule both factories apply.
#include "ulm3/configuration.h"
#include "ulm3/depth_buffer.h"
#include "ulm3/image_buffer.h"

namespace ulm3 {

bool ValidLocation(ULMLocation inLocation) {
    if (inLocation == kULMSystem || inLocation == kULMMultiBoardMode1 ||
        inLocation == kULMMultiBoardMode2)
        return true;
    if (inLocation < 0) return false;
    return inLocation < ULMConfiguration::GetNumberOfBoards();
}

ULMImageBuffer::~ULMImageBuffer() = default;

ULMStatus ULMImageBuffer::Resample(ULMImageBuffer*, const ULMImageRange&, const ULMImageRange&) {
    return kULMErrUnimplemented;
}

ULMSyncEvent ULMImageBuffer::StartResample(ULMImageBuffer*, const ULMImageRange&,
                                           const ULMImageRange&) {
    return ULMSyncEvent(kULMErrUnimplemented);
}

ULMStatus ULMImageBuffer::SetMigrationMode(ULMMigrationMode) { return kULMErrUnimplemented; }
ULMMigrationMode ULMImageBuffer::GetMigrationMode() const { return kULMMigrationNone; }
ULMStatus ULMImageBuffer::Migrate(ULMLocation) { return kULMErrUnimplemented; }
ULMSyncEvent ULMImageBuffer::StartMigrate(ULMLocation) { return ULMSyncEvent(kULMErrUnimplemented); }
unsigned long long ULMImageBuffer::GetLastVolumeRendered() const { return 0; }
ULMStatus ULMImageBuffer::Reserved07() { return kULMErrUnimplemented; }
ULMStatus ULMImageBuffer::Reserved08() { return kULMErrUnimplemented; }
ULMStatus ULMImageBuffer::Reserved09() { return kULMErrUnimplemented; }

ULMDepthBuffer::~ULMDepthBuffer() = default;

ULMStatus ULMDepthBuffer::SetMigrationMode(ULMMigrationMode) { return kULMErrUnimplemented; }
ULMMigrationMode ULMDepthBuffer::GetMigrationMode() const { return kULMMigrationNone; }
ULMStatus ULMDepthBuffer::Migrate(ULMLocation) { return kULMErrUnimplemented; }
ULMSyncEvent ULMDepthBuffer::StartMigrate(ULMLocation) { return ULMSyncEvent(kULMErrUnimplemented); }
unsigned long long ULMDepthBuffer::GetLastVolumeRendered() const { return 0; }
ULMStatus ULMDepthBuffer::Reserved05() { return kULMErrUnimplemented; }
ULMStatus ULMDepthBuffer::Reserved06() { return kULMErrUnimplemented; }
ULMStatus ULMDepthBuffer::Reserved07() { return kULMErrUnimplemented; }
ULMStatus ULMDepthBuffer::Reserved08() { return kULMErrUnimplemented; }
ULMStatus ULMDepthBuffer::Reserved09() { return kULMErrUnimplemented; }

}  // namespace ulm3
