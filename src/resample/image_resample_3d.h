// The board pass that reads a rectangle of a 3-D board image as a volume and
// writes it, stretched or shrunk and blended as a rendering context says,
// into a rectangle of that context's output image.
#pragma once

#include "board/board_pass_block.h"
#include "board/kwb_buffer.h"
#include "ulm3/context.h"
#include "ulm3/image_buffer.h"
#include "ulm3/ranges.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// The board buffer behind an image, through a location-independent image's
// board image; null for null, for bands and for images off the boards.
KWBBuffer* GetKWBBuffer(ULMImageBuffer* inImage);

// inSourceRange of inSource onto inDestRange of the context's output image
// (image 0 or image 1, whichever it names), composited over what is there
// when that image's input limits are set. Of the context only the viewport
// (none: the whole output image), render area, output image and the two
// blend modes are read. Without a
// source the pass samples nothing, and each pixel of the frustum gets the
// blend of the two images' initial values. Not waited for.
//
// kULMErrArgument, before anything is made, when the call cannot be a pass:
// no context, no image at all, the output image not given, an empty range,
// a step above two source pixels per destination pixel, a source that is
// not a 3-D board image, or a board that is not open. kULMErrBuffer for an
// image on another board than the pass or without a board buffer.
ULMSyncEvent ULMResample3DImage(const ULMContext* inContext, ULMImageBuffer* ioColor0, ULMImageBuffer* ioColor1,
                                const ULMImageRange& inDestRange, const ULMImageBuffer* inSource,
                                const ULMImageRange& inSourceRange);

// The whole of the image as the board addresses it.
ULMImageRange ULMImageBufferRange(const ULMImageBuffer& inImage);

// The registers of the pass above over inFrustum, for passes that differ
// from it in a few of them.
ULMImagePassValues ULMResamplePassValues(const ULMContext* inContext, ULMImageBuffer* inColor0,
                                         ULMImageBuffer* inColor1, const ULMImageRange& inDestRange,
                                         const ULMImageBuffer* inSource, const ULMImageRange& inSourceRange,
                                         const ULMImageRange& inFrustum);

// A source buffer read as a volume: all of it.
void ULMActivateWholeBuffer(KWBBuffer& ioBuffer);

// The board buffers of a pass's images; kULMErrBuffer when an image given
// has none (an image on the host, or one of several bands).
ULMStatus ULMPassBuffers(const ULMImageBuffer* inSource, ULMImageBuffer* ioColor0, ULMImageBuffer* ioColor1,
                         KWBBuffer*& outSource, KWBBuffer*& outImage0, KWBBuffer*& outImage1);

// Four 8-bit unsigned fields: the red, green, blue and alpha of the
// temporary images the passes render into.
inline const ULMFieldDescriptor kULMColourFields8[4] = {{0, 8, kULMUnsignedFraction},
                                                        {8, 8, kULMUnsignedFraction},
                                                        {16, 8, kULMUnsignedFraction},
                                                        {24, 8, kULMUnsignedFraction}};

}  // namespace ulm3
