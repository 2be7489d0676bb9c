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

TEST_F(ImageBufferTest, BoardBufferIsAtLeast32By32AndThreeDHasAPlane) {
    struct Case {
        unsigned width, height, bits;
        int planes;  // -1: 2-D
        int32_t u, v, w;
    } cases[] = {{1, 1, 32, -1, 32, 32, 0},  {33, 20, 16, -1, 33, 32, 0},
                 {20, 70, 64, -1, 32, 70, 0}, {8, 8, 16, 0, 32, 32, 1}, {8, 8, 16, 3, 32, 32, 3}};
    for (const Case& c : cases) {
        Held<ULMImageBufferInternal> image(
            c.planes < 0 ? ULMImageBufferInternal::CreateSimple(kULMBoard1, c.width, c.height, c.bits,
                                                                2, kRGBA8)
                         : ULMImageBufferInternal::Create3D(kULMBoard1, c.width, c.height, c.bits,
                                                            0, nullptr, c.planes));
        ASSERT_NE(image.GetPointer(), nullptr) << c.width;
        const tulx7sim::BufferInfo info = Info(image->GetBuffer());
        EXPECT_EQ(info.board, 1);
        EXPECT_EQ(info.elementBytes, static_cast<int>(c.bits / 8));
        EXPECT_EQ(info.reportedSize[0], c.u);
        EXPECT_EQ(info.reportedSize[1], c.v);
        EXPECT_EQ(info.reportedSize[2], c.w);
        EXPECT_EQ(image->Is3D(), c.planes >= 0);
        EXPECT_TRUE(IsObjectType(image, kObjectTypeULMImageBufferInternal));
        EXPECT_EQ(image->RefCount(), 1);
        // Empty input limits reach the board as the all-zero valid range.
        EXPECT_EQ(image->GetBuffer()->GetRange(), KWBRange());
        EXPECT_EQ(GetImageBufferInternal(image), image.GetPointer());
    }
    EXPECT_EQ(GetImageBufferInternal(nullptr), nullptr);
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

TEST_F(ImageBufferTest, AddressingChangesOnlyWhenAccepted) {
    Held<ULMImageBufferInternal> image(Make(64, 32));
    KWBBuffer* buffer = image->GetBuffer();
    EXPECT_EQ(image->SetOffset(-4, 6), kULMOK);
    EXPECT_EQ(image->SetOffset(3, 0), kULMErrArgument);
    EXPECT_EQ(image->SetWrap(64, 48), kULMErrArgument);
    EXPECT_EQ(image->SetWrap(0, 64), kULMErrArgument);
    EXPECT_EQ(image->SetAddressParameters(static_cast<ULMAddressMode>(2), 2, 2), kULMErrArgument);
    EXPECT_EQ(image->GetAddressMode(), kULMOffsetAddress);
    EXPECT_EQ(image->GetAddressParameterX(), -4);
    EXPECT_EQ(buffer->m_offset_U, -4);
    EXPECT_EQ(buffer->m_offset_V, 6);
    EXPECT_EQ(image->SetAddressParameters(kULMWrapAddress, 64, 32), kULMOK);
    EXPECT_TRUE(buffer->IsWrapped());
    EXPECT_EQ(buffer->m_offset_U, 63) << "wrap masks";
}

TEST_F(ImageBufferTest, LimitsBorderAndFields) {
    Held<ULMImageBufferInternal> image(Make(64, 32, 16));
    ASSERT_EQ(image->SetOffset(10, 4), kULMOK);
    EXPECT_EQ(image->SetInputLimits(ULMImageRange(8, 6, 12, 5)), kULMOK);
    EXPECT_EQ(image->GetBuffer()->GetRange(), KWBRange(12, 5, 19, 10));
    EXPECT_EQ(image->SetInputLimits(ULMImageRange(0, 6, 12, 5)), kULMOK);
    EXPECT_EQ(image->GetBuffer()->GetRange(), KWBRange());
    EXPECT_EQ(image->SetOutputLimits(ULMImageRange(4, 4, 20, 20)), kULMOK);
    EXPECT_EQ(image->GetBuffer()->GetRange(), KWBRange()) << "output limits stay off the board";

    EXPECT_EQ(image->SetBorderValue(1.5, -0.2, 0.5, 1.0), kULMOK);
    double r = -1, g = -1, b = -1, a = -1;
    image->GetBorderValue(r, g, b, a);
    EXPECT_EQ(std::vector<double>({r, g, b, a}),
              std::vector<double>({1.0, 0.0, ULMConvert12ToFloat(2048), 1.0}));
    EXPECT_DOUBLE_EQ(b, 2048.0 / 4095.0);

    const ULMFieldDescriptor twelve(4, 12, kULMUnsignedFraction);
    EXPECT_EQ(image->SetFieldDescriptor(kULMChannelAlpha, twelve), kULMOK);
    EXPECT_EQ(image->GetFieldDescriptor(kULMChannelAlpha), twelve);
    EXPECT_EQ(image->SetFieldDescriptor(static_cast<ULMChannel>(4), twelve), kULMErrArgument);
    EXPECT_EQ(image->SetFieldDescriptor(kULMChannelRed, ULMFieldDescriptor(8, 12, kULMUnsignedFraction)),
              kULMErrFormat);
    EXPECT_EQ(image->GetFieldDescriptor(kULMChannelRed), ULMFieldDescriptor());
    EXPECT_EQ(image->GetFieldDescriptor(static_cast<ULMChannel>(-1)), ULMFieldDescriptor());
}

// Pixels of every size travel at an offset, with host rows longer than the
// range, and land where the offset puts them.
TEST_F(ImageBufferTest, PixelsRoundTripAtAnOffset) {
    auto check = [&](auto zero, unsigned bits) {
        using T = decltype(zero);
        Held<ULMImageBufferInternal> image(Make(40, 30, bits));
        ASSERT_EQ(image->SetOffset(6, 4), kULMOK);
        const ULMImageRange range(10, 5, 12, 8);
        const std::vector<T> in = Random<T>(16 * 5, bits);
        ASSERT_EQ(image->Update(in.data(), range, 16), kULMOK);
        EXPECT_EQ(Element<T>(image->GetBuffer(), 12 - 6, 8 - 4), in[0]);
        EXPECT_EQ(Element<T>(image->GetBuffer(), 12 - 6 + 9, 8 - 4 + 4), in[4 * 16 + 9]);
        EXPECT_EQ(Element<T>(image->GetBuffer(), 5, 4), Fill<T>()) << "left of the range";
        std::vector<T> out(10 * 5, 0);
        ASSERT_EQ(image->Unload(out.data(), range, 0), kULMOK);
        for (int j = 0; j < 5; ++j)
            for (int i = 0; i < 10; ++i) ASSERT_EQ(out[j * 10 + i], in[j * 16 + i]);
    };
    check(uint16_t{}, 16);
    check(uint32_t{}, 32);
    check(uint64_t{}, 64);
}

TEST_F(ImageBufferTest, OneFieldTravelsAndTheRestOfThePixelStays) {
    Held<ULMImageBufferInternal> image(Make(32, 32, 32));
    const ULMImageRange range(6, 3, 2, 2);
    const ULMFieldDescriptor high(16, 16, kULMUnsignedFraction);
    const std::vector<uint16_t> in = Random<uint16_t>(6 * 3, 5);
    ASSERT_EQ(image->UpdateField(in.data(), high, range, 0), kULMOK);
    EXPECT_EQ(Element<uint32_t>(image->GetBuffer(), 2, 2), (uint32_t{in[0]} << 16) | 0xA5A5u);
    EXPECT_EQ(Element<uint32_t>(image->GetBuffer(), 7, 4), (uint32_t{in[17]} << 16) | 0xA5A5u);
    std::vector<uint16_t> out(8 * 3, 0);
    ASSERT_EQ(image->UnloadField(out.data(), high, range, 8), kULMOK);
    EXPECT_EQ(out[8 + 5], in[6 + 5]);
    EXPECT_EQ(out[6], 0) << "past the range in the host row";

    // Only whole bytes travel, and host rows must hold a row of the range.
    for (const ULMFieldDescriptor& bad :
         {ULMFieldDescriptor(4, 8, kULMUnsignedFraction), ULMFieldDescriptor(24, 16, kULMUnsignedFraction),
          ULMFieldDescriptor(0, 8, kULMFloat)})
        EXPECT_EQ(image->StartUpdateField(in.data(), bad, range, 0).Status(), kULMErrArgument);
    EXPECT_EQ(image->StartUpdateField(in.data(), high, range, 5).Status(), kULMErrArgument);
    EXPECT_EQ(image->StartUpdate(in.data(), range, 3).Status(), kULMErrArgument);
    EXPECT_EQ(image->StartUnload(out.data(), range, 5).Status(), kULMErrArgument);
    EXPECT_EQ(Element<uint32_t>(image->GetBuffer(), 2, 2), (uint32_t{in[0]} << 16) | 0xA5A5u);
}

TEST_F(ImageBufferTest, ClearAndMapReachTheRangeOnly) {
    Held<ULMImageBufferInternal> image(Make(32, 32, 32));
    ASSERT_EQ(image->SetOffset(2, 2), kULMOK);
    EXPECT_EQ(image->Clear(ULMImageRange(3, 2, 5, 6), 0x1122334455667788ull), kULMOK);
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u)
            ASSERT_EQ(Element<uint32_t>(image->GetBuffer(), u, v),
                      u >= 3 && u < 6 && v >= 4 && v < 6 ? 0x55667788u : Fill<uint32_t>());

    const ULMImageRange range(5, 3, 5, 6);
    unsigned short* shorts = nullptr;
    unsigned long long* longs = nullptr;
    unsigned width = 0;
    EXPECT_EQ(image->Map(shorts, range, width), kULMErrArgument);
    EXPECT_EQ(image->Map(longs, range, width), kULMErrArgument);
    unsigned int* words = nullptr;
    ASSERT_EQ(image->Map(words, range, width), kULMOK);
    EXPECT_GE(width, 5u);
    EXPECT_EQ(width & (width - 1), 0u) << "mapped rows are a power of two long";
    EXPECT_EQ(words[0], 0x55667788u);
    words[2 * width + 4] = 204;
    ASSERT_EQ(image->Unmap(words), kULMOK);
    EXPECT_EQ(Element<uint32_t>(image->GetBuffer(), 5 + 4 - 2, 6 + 2 - 2), 204u);
    EXPECT_EQ(tulx7sim::GetStats().liveMappings, 0);
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
