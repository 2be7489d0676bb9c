// Readers of a rendering context that decide which image a render writes
// and whether its depth tests let everything, or nothing, through.
#pragma once

#include "ulm3/context.h"

namespace ulm3 {

inline ULMContext::FilterTest operator&(ULMContext::FilterTest a, ULMContext::FilterTest b) {
    return static_cast<ULMContext::FilterTest>(static_cast<int32_t>(a) & static_cast<int32_t>(b));
}

// Image 0 or image 1 as the context selects; null for kImageBufferNone.
template <class T>
T* GetOutputImageBuffer(const ULMContext* inContext, T* inImage0, T* inImage1) {
    switch (inContext->GetImageOutputBuffer()) {
        case ULMContext::kImageBuffer0: return inImage0;
        case ULMContext::kImageBuffer1: return inImage1;
        default: return nullptr;
    }
}

// Every sample passes the two depth tests as they combine.
bool IsDepthTestPass(const ULMContext* inContext);
// No sample passes them. A test that compares depths is neither.
bool IsDepthTestFail(const ULMContext* inContext);

}  // namespace ulm3
