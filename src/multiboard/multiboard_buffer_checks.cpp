// Buffers moved to a multiboard location and checked for a render there.
#include "multiboard/multiboard_buffer_checks.h"

#include "foundation/message_log.h"
#include "foundation/shareable.h"
#include "ulm3/status.h"

namespace ulm3 {

namespace {

template <class Omni, class Buffer>
Omni* Take(Buffer* inBuffer, int inNumber, ULMLocation inLocation, const char* inWho, ULMObjectType inType,
           const char* inKind, ULMSyncEvent& ioMoved) {
    if (inBuffer == nullptr) return nullptr;
    const ULMSyncEvent moved = inBuffer->StartMigrate(inLocation);
    const ULMStatus status = moved.Status();
    // The render reads and writes what the move brings: a move that fails
    // on the board is the render's failure.
    if (!ULMFailed(status)) ioMoved = ULMFollowedBy(ioMoved, moved);
    if (ULMFailed(status)) {
        ULMOutputMessage("%s::StartRender buffer %d failed (%s) to migrate from board %d to %s\n", inWho, inNumber,
                         UlmGetStatusString(status), static_cast<int>(inBuffer->GetLocation()), inWho);
        return nullptr;
    }
    if (!IsObjectType(inBuffer, inType)) {
        ULMOutputMessage("%s::StartRender buffer %d is not a %s\n", inWho, inNumber, inKind);
        return nullptr;
    }
    return static_cast<Omni*>(inBuffer);
}

}  // namespace

ULMOmniImageBuffer* ULMTakeMultiboardImage(ULMImageBuffer* inImage, int inNumber, ULMLocation inLocation,
                                           const char* inWho, ULMSyncEvent& ioMoved) {
    return Take<ULMOmniImageBuffer>(inImage, inNumber, inLocation, inWho, kObjectTypeULMOmniImageBuffer,
                                    "ULMOmniImageBuffer", ioMoved);
}

ULMSyncEvent ULMMoveMultiboardImage(ULMImageBufferInternal* ioImage, ULMLocation inBoard) {
    if (ioImage == nullptr) return ULMSyncEvent(kULMOK);
    return ioImage->DoStartMigrate(inBoard, ioImage->ReachableRange());
}

ULMOmniDepthBuffer* ULMTakeMultiboardDepth(ULMDepthBuffer* inDepth, int inNumber, ULMLocation inLocation,
                                           const char* inWho, ULMSyncEvent& ioMoved) {
    return Take<ULMOmniDepthBuffer>(inDepth, inNumber, inLocation, inWho, kObjectTypeULMOmniDepthBuffer,
                                    "ULMOmniDepthBuffer", ioMoved);
}

bool ULMHasOnePartPerSubVolume(int inParts, int inNumber, int inSubVolumes, const char* inWho) {
    if (inParts == inSubVolumes) return true;
    ULMOutputMessage("%s::StartRender buffer %d has %d subbuffers but volume has %d\n", inWho, inNumber, inParts,
                     inSubVolumes);
    return false;
}

bool ULMMayWriteDepth(const ULMContext* inContext) {
    return inContext->GetDepthUpdateFilter(ULMContext::kDepthBuffer0) != ULMContext::kAlwaysFail ||
           inContext->GetDepthUpdateFilter(ULMContext::kDepthBuffer1) != ULMContext::kAlwaysFail;
}

}  // namespace ulm3
