// How the samples of a render, and partial images, combine into an image.
#pragma once

#include <cstdint>

namespace ulm3 {

// Back to front and front to back come plain (the blend weights the colour
// by its alpha) or pre-weighted (the colour arrives weighted). The minimum
// and maximum modes keep the smallest or largest sample by one channel.
enum ULMBlendMode : int32_t {
    kULMBlendNone = 0,
    kULMBlendReplace = 1,
    kULMBlendBTF = 2,
    kULMBlendBTFPreWeighted = 3,
    kULMBlendFTB = 4,
    kULMBlendFTBPreWeighted = 5,
    kULMBlendSumAndCount = 6,
    kULMBlendEmptyBits = 7,
    kULMBlendMinRed = 8,
    kULMBlendMinGreen = 9,
    kULMBlendMinBlue = 10,
    kULMBlendMinAlpha = 11,
    kULMBlendMaxRed = 12,
    kULMBlendMaxGreen = 13,
    kULMBlendMaxBlue = 14,
    kULMBlendMaxAlpha = 15,
};

inline bool ULMValidBlendMode(ULMBlendMode inMode) {
    return inMode >= kULMBlendNone && inMode <= kULMBlendMaxAlpha;
}

}  // namespace ulm3
