// Location-independent image and depth buffers on a fresh platform of a
// chosen number of boards, and the host model their pixels are checked
// against.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "buffer_test_fixture.h"
#include "buffers/omni_depth_buffer.h"
#include "buffers/omni_image_buffer.h"
#include "foundation/control.h"

namespace ulm3::test_support {

class OmniTest : public BufferTest {
protected:
    using BufferTest::BufferTest;
    // Reopens the library over `boards` boards, split into `bands` bands (0:
    // one per board).
    void UseBoards(int boards, int bands = 0) {
        CloseEverything();
        UsePlatform(SimBoards(boards));
        ASSERT_EQ(ULMOpen(), kULMOK);
        gULMControl.m_multiboardSubvolumes = bands;
    }

    static ULMOmniImageBuffer* Image(ULMLocation location, unsigned width, unsigned height,
                                     unsigned bits = 32) {
        ULMImageBuffer* image = ULMImageBuffer::Create(location, width, height, bits, 0, nullptr);
        return static_cast<ULMOmniImageBuffer*>(image);
    }
    static ULMOmniDepthBuffer* Depth(ULMLocation location, unsigned width, unsigned height) {
        return static_cast<ULMOmniDepthBuffer*>(ULMDepthBuffer::Create(location, width, height));
    }

    // The whole image as host words of T.
    template <typename T>
    static std::vector<T> Pixels(const ULMImageBuffer* image) {
        std::vector<T> out(static_cast<size_t>(image->GetWidth()) * image->GetHeight());
        const ULMImageRange whole(static_cast<int>(image->GetWidth()),
                                  static_cast<int>(image->GetHeight()),
                                  image->GetAddressParameterX(), image->GetAddressParameterY());
        EXPECT_EQ(image->Unload(out.data(), whole, 0), kULMOK);
        return out;
    }
    static std::vector<uint32_t> Words(const ULMDepthBuffer* depth) {
        std::vector<uint32_t> out(static_cast<size_t>(depth->GetWidth()) * depth->GetHeight());
        const ULMImageRange whole(static_cast<int>(depth->GetWidth()),
                                  static_cast<int>(depth->GetHeight()),
                                  depth->GetAddressParameterX(), depth->GetAddressParameterY());
        EXPECT_EQ(depth->Unload(out.data(), whole, 0, ULMDepthBuffer::kDepth24Low), kULMOK);
        return out;
    }

    static ULMImageRange Whole(const ULMImageBuffer* image) {
        return ULMImageRange(static_cast<int>(image->GetWidth()),
                             static_cast<int>(image->GetHeight()), image->GetAddressParameterX(),
                             image->GetAddressParameterY());
    }
};

// Boards 2 and 8: bands over few and over the most boards.
class OmniBoardsTest : public OmniTest, public ::testing::WithParamInterface<int> {
protected:
    OmniBoardsTest() : OmniTest(SimBoards(GetParam())) {}
    static ULMLocation LastBoard() { return static_cast<ULMLocation>(GetParam() - 1); }
};

}  // namespace ulm3::test_support
