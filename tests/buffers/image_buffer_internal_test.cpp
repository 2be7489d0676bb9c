// The on-board image buffer over the simulated boards: creation, the range
// rule, addressing, limits, border, fields, and pixels through transfers,
// clears and mappings.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "buffer_test_fixture.h"
#include "buffers/image_buffer_internal.h"
#include "foundation/field_conversions.h"
#include "tulx7/driver_requests.h"

namespace ulm3 {
namespace {

using test_support::BufferTest;
using test_support::Held;

const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction},
                                      {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction},
                                      {24, 8, kULMUnsignedFraction}};

using ImageBufferTest = BufferTest;

ULMImageBufferInternal* Make(unsigned w, unsigned h, unsigned bits = 32) {
    return ULMImageBufferInternal::CreateSimple(kULMBoard0, w, h, bits, 0, nullptr);
}

TEST_F(ImageBufferTest, CreationRefusesBadArgumentsAndLocations) {
    const ULMFieldDescriptor wide[1] = {{0, 20, kULMUnsignedInteger}};
    struct Case {
        ULMLocation location;
        unsigned width, height, bits;
        int fields;
        const ULMFieldDescriptor* array;
    } cases[] = {
        {kULMBoard0, 0, 10, 32, 0, nullptr},      {kULMBoard0, 10, 0, 32, 0, nullptr},
        {kULMBoard0, 10, 10, 24, 0, nullptr},     {kULMBoard0, 10, 10, 32, 5, kRGBA8},
        {kULMBoard0, 10, 10, 32, 2, nullptr},     {kULMBoard0, 10, 10, 64, 1, wide},
        {kULMAnyBoard, 10, 10, 32, 0, nullptr},   {kULMSystem, 10, 10, 32, 0, nullptr},
        {kULMMultiBoardMode1, 10, 10, 32, 0, nullptr}, {kULMNoBufferAttached, 10, 10, 32, 0, nullptr},
        {kULMBoard2, 10, 10, 32, 0, nullptr},     {kULMBoard0, 40000, 10, 32, 0, nullptr},
    };
    const int buffersBefore = tulx7sim::GetStats().liveBuffers;
    for (const Case& c : cases)
        EXPECT_EQ(ULMImageBufferInternal::CreateSimple(c.location, c.width, c.height, c.bits,
                                                       c.fields, c.array),
                  nullptr)
            << c.location << " " << c.width << " " << c.bits << " " << c.fields;
    EXPECT_EQ(ULMImageBufferInternal::Create3D(kULMBoard0, 10, 10, 32, 0, nullptr, -1), nullptr);
    EXPECT_EQ(ULMImageBufferInternal::Create3D(kULMMultiBoardMode2, 10, 10, 32, 0, nullptr, 2),
              nullptr);
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffersBefore) << "a refused image kept a buffer";
}

TEST_F(ImageBufferTest, RangeRuleKeepsRangesInTheWindowAndInBoardCoordinates) {
    Held<ULMImageBufferInternal> image(Make(100, 50));
    tulx7sim::ClearRequestLog();
    struct Case {
        bool wrap;
        ULMImageRange range;  // sizes first, then origins
        ULMStatus expected;
    } cases[] = {
        {false, {100, 50, 0, 0}, kULMOK},
        {false, {20, 1, 90, 0}, kULMErrArgument},  // past the right edge
        {true, {20, 1, 90, 0}, kULMOK},
        {false, {1, 1, 0, 50}, kULMErrArgument},
        {false, {0, 5, 500, 0}, kULMOK},  // an empty axis is not held to the window
        {true, {0, 5, -32768, 0}, kULMErrArgument},  // ... but its last pixel is -32769
        {true, {1, 1, -32768, -32768}, kULMOK},
        {true, {1, 1, -32769, 0}, kULMErrArgument},
        {true, {1, 1, 32767, 32767}, kULMOK},
        {true, {2, 1, 32767, 0}, kULMErrArgument},
        {true, {-1, 1, 0, 0}, kULMErrArgument},
        {true, {1, 1, 0, 2147483647}, kULMErrArgument},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.wrap ? image->SetWrap(128, 64) : image->SetOffset(0, 0), kULMOK);
        const ULMImageRange before = image->GetOutputLimits();
        EXPECT_EQ(image->SetOutputLimits(c.range), c.expected)
            << c.range.XOrigin() << "," << c.range.YOrigin() << " " << c.range.XSize();
        EXPECT_EQ(image->GetOutputLimits(), c.expected == kULMOK ? c.range : before);
    }
    // Transfers and clears go by the same rule, and touch nothing.
    ASSERT_EQ(image->SetOffset(0, 0), kULMOK);
    std::vector<uint32_t> host(20, 0);
    EXPECT_EQ(image->Update(host.data(), ULMImageRange(20, 1, 90, 0), 0), kULMErrArgument);
    EXPECT_EQ(image->Clear(ULMImageRange(20, 1, 90, 0), 0), kULMErrArgument);
    EXPECT_EQ(tulx7sim::RequestLog().size(), 0u);
}

// Under wrap a range at negative coordinates lies on the elements of the same
// coordinates one or more periods up: an update, clear and unload there
// reach exactly those elements.
TEST_F(ImageBufferTest, AWrappedImageTakesRangesAtNegativeCoordinatesOnTheirOwnElements) {
    Held<ULMImageBufferInternal> image(Make(64, 32));
    ASSERT_EQ(image->SetWrap(64, 32), kULMOK);
    std::vector<uint32_t> none(64 * 32, 0);
    ASSERT_EQ(image->Update(none.data(), ULMImageRange(64, 32, 0, 0), 0), kULMOK);
    const struct Case {
        ULMImageRange range;  // sizes first, then origins
    } cases[] = {{{16, 8, -8, -4}}, {{10, 6, -64, -30}}, {{4, 4, -130, 2}}};
    for (const Case& c : cases) {
        const ULMImageRange& r = c.range;
        SCOPED_TRACE(::testing::Message() << r.XOrigin() << "," << r.YOrigin());
        std::vector<uint32_t> pixels(size_t(r.XSize()) * r.YSize());
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = 0x01000000u + uint32_t(i);
        ASSERT_EQ(image->Update(pixels.data(), r, 0), kULMOK);
        std::vector<uint32_t> want = none;
        for (int y = 0; y < r.YSize(); ++y)
            for (int x = 0; x < r.XSize(); ++x)
                want[size_t((r.YOrigin() + y + 64) % 32) * 64 + (r.XOrigin() + x + 192) % 64] =
                    pixels[size_t(y) * r.XSize() + x];
        std::vector<uint32_t> all(64 * 32), back(pixels.size());
        ASSERT_EQ(image->Unload(all.data(), ULMImageRange(64, 32, 0, 0), 0), kULMOK);
        EXPECT_TRUE(all == want);
        ASSERT_EQ(image->Unload(back.data(), r, 0), kULMOK);
        EXPECT_TRUE(back == pixels);
        ASSERT_EQ(image->Clear(r, 0), kULMOK);
        ASSERT_EQ(image->Unload(all.data(), ULMImageRange(64, 32, 0, 0), 0), kULMOK);
        EXPECT_TRUE(all == none);
    }
}

TEST_F(ImageBufferTest, ValidLocationFollowsTheOpenBoards) {
    const std::pair<int, bool> cases[] = {{0, true},    {1, true},      {2, false},  {-1, false},
                                          {1000, false}, {2000, true},  {3000, true}, {3001, true},
                                          {3002, false}, {INT32_MIN, false}};
    for (auto [location, valid] : cases)
        EXPECT_EQ(ValidLocation(static_cast<ULMLocation>(location)), valid) << location;
}

}  // namespace
}  // namespace ulm3
