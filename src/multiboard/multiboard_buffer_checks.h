// The application's image and depth buffers as a multiboard render needs
// them: moved to the multiboard location (bands or copies over the boards)
// and taken as the omni buffers that can live there. Each refusal is told in
// one message that names the render (inWho, "MB1" or "MB2") and the buffer's
// number.
#pragma once

#include "buffers/image_buffer_internal.h"
#include "buffers/omni_depth_buffer.h"
#include "buffers/omni_image_buffer.h"
#include "ulm3/context.h"
#include "ulm3/depth_buffer.h"
#include "ulm3/image_buffer.h"
#include "ulm3/location.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// Null without a message for no buffer; null after the message for a buffer
// whose move fails at once or that is no omni buffer. A move still running
// passes: the board orders it before the renders that use the buffer, and
// its work is added to ioMoved, which the render's handle must follow so
// that a move failing on the board fails the render.
ULMOmniImageBuffer* ULMTakeMultiboardImage(ULMImageBuffer* inImage, int inNumber, ULMLocation inLocation,
                                           const char* inWho, ULMSyncEvent& ioMoved);
ULMOmniDepthBuffer* ULMTakeMultiboardDepth(ULMDepthBuffer* inDepth, int inNumber, ULMLocation inLocation,
                                           const char* inWho, ULMSyncEvent& ioMoved);
// The board image of an application's image under the second scheme, moved
// to the board where a render writes it. It is one image wherever it lies:
// the move carries every pixel it reaches, which the image's own migration
// mode (the input limits only) would leave behind, so that what the render
// does not write reads as it did. No image: done.
ULMSyncEvent ULMMoveMultiboardImage(ULMImageBufferInternal* ioImage, ULMLocation inBoard);
// Whether a buffer holds one part per sub-volume; the message when not.
bool ULMHasOnePartPerSubVolume(int inParts, int inNumber, int inSubVolumes, const char* inWho);
// Whether a render with this context may write either depth buffer.
bool ULMMayWriteDepth(const ULMContext* inContext);

}  // namespace ulm3
