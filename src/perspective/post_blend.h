// Writes a finished perspective frame into an output image whose content it
// must be blended with, where a plain upload cannot: minimum and maximum
// blends of wide pixels are done on the host, the rest by the board's image
// passes from an on-board copy of the frame.
#pragma once

#include <cstdint>
#include <memory>

#include "compositing/software_blend_volume.h"
#include "ulm3/context.h"
#include "ulm3/image_buffer.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

class ULMPostBlend {
public:
    // Whether Blend takes a frame of inElementSize-bit pixels for this
    // context and these images: image 0 is the output and holds content,
    // the pixels are wider than 32 bits and the blend mode keeps a minimum
    // or maximum. The rest needs the board's image passes.
    static bool HostPathTakes(const ULMContext* inContext, const ULMImageBuffer* inImage0,
                              const ULMImageBuffer* inImage1, int inElementSize);

    // Whether no road can blend such a frame: sum and count over content.
    static bool Refuses(const ULMContext* inContext, const ULMImageBuffer* inImage0);

    // The frame (rows of inWriteport's width; four 8-bit fields of 32-bit
    // pixels or four 12-bit fields of 64-bit ones, from bit 0) blended with
    // the images' content over inWriteport into the context's output image.
    // The event covers every read of the frame and of this object's buffers.
    // The context's blend modes are changed during the call and restored.
    // kULMErrUnimplemented for what Refuses names, kULMErrAlloc without
    // memory, or the failure of a transfer, a pass or the host blend.
    ULMSyncEvent Blend(uint64_t* inFrame, const ULMImageRange& inWriteport, int inElementSize, ULMContext* inContext,
                       ULMImageBuffer* inImage0, ULMImageBuffer* inImage1);

    ULMPostBlend() = default;
    ULMPostBlend(const ULMPostBlend&) = delete;
    ULMPostBlend& operator=(const ULMPostBlend&) = delete;
    ~ULMPostBlend();

private:
    ULMSyncEvent HostBlend(uint64_t* inFrame, const ULMImageRange& inWriteport, int inElementSize,
                           const ULMContext* inContext, ULMImageBuffer* inImage0, ULMImageBuffer* inImage1);
    ULMSyncEvent BoardBlend(uint64_t* inFrame, const ULMImageRange& inWriteport, int inElementSize,
                            ULMContext* inContext, ULMImageBuffer* inImage0, ULMImageBuffer* inImage1);
    // m_image fit for a frame over inArea at inLocation; false without memory.
    bool MakeImage(const ULMImageRange& inArea, int inElementSize, ULMLocation inLocation);

    // The frame on the board, kept between frames; grows only.
    ULMImageBuffer* m_image = nullptr;
    ULMSoftwareBlendVolume m_softwBlendVolume;
    std::unique_ptr<uint64_t[]> m_accumBuffer;
    int64_t m_accumBufferSize = 0;
};

}  // namespace ulm3
