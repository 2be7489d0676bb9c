// Images with known pixels on the simulated boards, for the board passes'
// tests: RGBA pixels of 8-bit fields in 32-bit elements, loaded and read
// back through the image's own transfers.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "board/kwb_sync_event.h"
#include "buffer_test_fixture.h"
#include "buffers/image_buffer_internal.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/rendering_chip.h"

namespace ulm3::test_support {

inline const ULMFieldDescriptor kRGBA8Fields[4] = {{0, 8, kULMUnsignedFraction},
                                                   {8, 8, kULMUnsignedFraction},
                                                   {16, 8, kULMUnsignedFraction},
                                                   {24, 8, kULMUnsignedFraction}};

inline uint32_t Rgba(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return r | g << 8 | b << 16 | a << 24;
}
inline uint32_t Channel(uint32_t pixel, int c) { return pixel >> (8 * c) & 0xFF; }

class PassTest : public BufferTest {
protected:
    void SetUp() override {
        BufferTest::SetUp();
        tulx7sim::ClearChipDiagnostics();
    }
    void TearDown() override {
        // A pass that reads or writes outside what it names is a fault even
        // when its pixels come out right.
        for (int board = 0; board < 2; ++board)
            EXPECT_EQ(tulx7sim::GetChipDiagnostics(board).Total(), 0u) << "board " << board;
        BufferTest::TearDown();
    }

    static ULMImageBufferInternal* MakeImage(ULMLocation board, unsigned w, unsigned h,
                                             unsigned bits = 32,
                                             const ULMFieldDescriptor* fields = kRGBA8Fields,
                                             int fieldCount = 4) {
        return ULMImageBufferInternal::CreateSimple(board, w, h, bits, fieldCount, fields);
    }

    // Loads `pixels` (rows of range width) into the range and waits.
    template <typename T>
    static void Load(ULMImageBuffer* image, const ULMImageRange& range, const std::vector<T>& pixels) {
        ASSERT_EQ(image->Update(pixels.data(), range, 0), kULMOK);
    }
    template <typename T = uint32_t>
    static std::vector<T> Read(const ULMImageBuffer* image, const ULMImageRange& range) {
        std::vector<T> pixels(static_cast<size_t>(range.XSize()) * range.YSize());
        EXPECT_EQ(image->Unload(pixels.data(), range, 0), kULMOK);
        return pixels;
    }

    static size_t Renders() { return CountRequests(TULX7_DR_RENDER); }
    // The event id of the newest render the library submitted.
    static uint32_t LastRenderEventId() {
        uint32_t id = 0;
        for (const auto& entry : tulx7sim::RequestLog())
            if (entry.code == TULX7_DR_RENDER && !entry.events.empty()) id = entry.events.back();
        return id;
    }
};

}  // namespace ulm3::test_support
