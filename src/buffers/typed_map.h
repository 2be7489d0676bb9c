// The typed Map overloads of the image buffers, written once for every
// class that implements them.
#pragma once

#include "ulm3/image_buffer.h"

namespace ulm3 {

// Maps a range of `image` as pixels of T: refused unless a pixel is exactly
// T wide; otherwise what the untyped Map gives.
template <typename T>
ULMStatus MapPixelsAs(ULMImageBuffer& image, T*& outData, const ULMImageRange& inRange,
                      unsigned& outWidth) {
    if (image.GetPixelSize() != sizeof(T) * 8) return kULMErrArgument;
    void* data = nullptr;
    const ULMStatus status = image.Map(data, inRange, outWidth);
    if (status == kULMOK) outData = static_cast<T*>(data);
    return status;
}

}  // namespace ulm3
