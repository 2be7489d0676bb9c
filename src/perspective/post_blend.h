// Writes a finished perspective frame into an output image whose content it
// must be blended with, where a plain upload cannot: minimum and maximum
// blends of wide pixels are done on the host.
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

    // The frame (rows of inWriteport's width, four 12-bit fields from bit 0
    // of 64-bit pixels) blended with image 0's content over inWriteport and
    // uploaded into image 0; the upload's event, which reads this object's
    // accumulation buffer until it finishes. kULMErrUnimplemented for what
    // HostPathTakes refuses, kULMErrAlloc without memory, or the failure of
    // a transfer or of the blend.
    ULMSyncEvent Blend(uint64_t* inFrame, const ULMImageRange& inWriteport, int inElementSize,
                       const ULMContext* inContext, ULMImageBuffer* inImage0, ULMImageBuffer* inImage1);

private:
    ULMSoftwareBlendVolume m_softwBlendVolume;
    std::unique_ptr<uint64_t[]> m_accumBuffer;
    int64_t m_accumBufferSize = 0;
};

}  // namespace ulm3
