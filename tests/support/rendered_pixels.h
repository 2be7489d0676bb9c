// What a render of a volume leaves in a new board image of four 8-bit
// channels, as its pixels read back: for tests that compare renders.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "foundation/shareable.h"
#include "ulm3/context.h"
#include "ulm3/image_buffer.h"
#include "ulm3/volume.h"

namespace ulm3::test_support {

inline std::vector<uint32_t> RenderedPixels(ULMVolume* ioVolume, const ULMContext* inContext, int inSide,
                                            ULMLocation inBoard = kULMBoard0) {
    const ULMFieldDescriptor rgba[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                        {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};
    ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(inBoard, inSide, inSide, 32, 4, rgba));
    std::vector<uint32_t> pixels(size_t(inSide) * inSide);
    EXPECT_EQ(ioVolume->StartRender(inContext, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    EXPECT_EQ(image->Unload(pixels.data(), {inSide, inSide, 0, 0}, 0), kULMOK);
    return pixels;
}

// The largest difference of one 8-bit channel between two pictures of
// packed 32-bit pixels.
inline int WorstChannelDifference(const std::vector<uint32_t>& inGot, const std::vector<uint32_t>& inWant) {
    int worst = 0;
    for (size_t i = 0; i < std::min(inGot.size(), inWant.size()); ++i)
        for (int b = 0; b < 32; b += 8)
            worst = std::max(worst, std::abs(int(inGot[i] >> b & 0xFF) - int(inWant[i] >> b & 0xFF)));
    return worst;
}

}  // namespace ulm3::test_support
