// What a render of a volume leaves in a new board image of four 8-bit
// channels, as its pixels read back: for tests that compare renders.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
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

}  // namespace ulm3::test_support
