// The on-board image buffer over the simulated boards: creation, the range
// rule, addressing, limits, border, fields, and pixels through transfers,
// clears and mappings.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "board/driver_requests.h"
#include "buffers/image_buffer_internal.h"
#include "buffer_test_fixture.h"
#include "foundation/field_conversions.h"

namespace ulm3 {
namespace {

using test_support::BufferTest;
using test_support::Held;

const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction},
                                      {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction},
                                      {24, 8, kULMUnsignedFraction}};

class ImageBufferTest : public BufferTest {
protected:
    static ULMImageBufferInternal* Make(unsigned w, unsigned h, unsigned bits = 32,
                                        ULMLocation board = kULMBoard0) {
        return ULMImageBufferInternal::CreateSimple(board, w, h, bits, bits == 16 ? 0 : 4,
                                                    bits == 16 ? nullptr : kRGBA8);
    }
};

TEST_F(ImageBufferTest, CreationRefusesBadArgumentsAndLocations) {
    const ULMFieldDescriptor wide[1] = {{0, 20, kULMUnsignedInteger}};
    const ULMFieldDescriptor pastEnd[1] = {{60, 12, kULMUnsignedInteger}};
    struct Case {
        const char* what;
        ULMLocation location;
        unsigned width, height, bits;
        int fields;
        const ULMFieldDescriptor* array;
    } cases[] = {
        {"width 0", kULMBoard0, 0, 10, 32, 0, nullptr},
        {"height 0", kULMBoard0, 10, 0, 32, 0, nullptr},
        {"pixel size 24", kULMBoard0, 10, 10, 24, 0, nullptr},
        {"pixel size 8", kULMBoard0, 10, 10, 8, 0, nullptr},
        {"five fields", kULMBoard0, 10, 10, 32, 5, kRGBA8},
        {"negative fields", kULMBoard0, 10, 10, 32, -1, kRGBA8},
        {"fields without array", kULMBoard0, 10, 10, 32, 2, nullptr},
        {"20-bit field", kULMBoard0, 10, 10, 64, 1, wide},
        {"field past the pixel", kULMBoard0, 10, 10, 64, 1, pastEnd},
        {"any board", kULMAnyBoard, 10, 10, 32, 0, nullptr},
        {"host memory", kULMSystem, 10, 10, 32, 0, nullptr},
        {"bands", kULMMultiBoardMode1, 10, 10, 32, 0, nullptr},
        {"copies", kULMMultiBoardMode2, 10, 10, 32, 0, nullptr},
        {"no buffer", kULMNoBufferAttached, 10, 10, 32, 0, nullptr},
        {"board not open", kULMBoard2, 10, 10, 32, 0, nullptr},
        {"wider than the board", kULMBoard0, 40000, 10, 32, 0, nullptr},
    };
    const int buffersBefore = tulx7sim::GetStats().liveBuffers;
    for (const Case& c : cases) {
        EXPECT_EQ(ULMImageBufferInternal::CreateSimple(c.location, c.width, c.height, c.bits,
                                                       c.fields, c.array),
                  nullptr)
            << c.what;
    }
    EXPECT_EQ(ULMImageBufferInternal::Create3D(kULMBoard0, 10, 10, 32, 0, nullptr, -1), nullptr);
    EXPECT_EQ(ULMImageBufferInternal::Create3D(kULMMultiBoardMode2, 10, 10, 32, 0, nullptr, 2),
              nullptr);
    // The board keeps no 3-D buffers of 64-bit elements.
    EXPECT_EQ(ULMImageBufferInternal::Create3D(kULMBoard0, 10, 10, 64, 0, nullptr, 2), nullptr);
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffersBefore) << "a refused image kept a buffer";
}

TEST_F(ImageBufferTest, BoardBufferIsAtLeast32By32) {
    struct Case {
        unsigned width, height, bits;
        int32_t u, v;
    } cases[] = {{1, 1, 32, 32, 32}, {33, 20, 16, 33, 32}, {20, 70, 64, 32, 70}, {64, 64, 32, 64, 64}};
    for (const Case& c : cases) {
        Held<ULMImageBufferInternal> image(Make(c.width, c.height, c.bits, kULMBoard1));
        ASSERT_NE(image.GetPointer(), nullptr);
        const tulx7sim::BufferInfo info = Info(image->GetBuffer());
        EXPECT_EQ(info.board, 1);
        EXPECT_EQ(info.dimension, 1) << "2-D";
        EXPECT_EQ(info.elementBytes, static_cast<int>(c.bits / 8));
        EXPECT_EQ(info.reportedSize[0], c.u) << c.width;
        EXPECT_EQ(info.reportedSize[1], c.v) << c.height;
        EXPECT_EQ(image->GetWidth(), c.width);
        EXPECT_EQ(image->GetHeight(), c.height);
    }
}

TEST_F(ImageBufferTest, ThreeDimensionalImagesHoldAtLeastOnePlane) {
    for (int planes : {0, 1, 3}) {
        Held<ULMImageBufferInternal> image(
            ULMImageBufferInternal::Create3D(kULMBoard0, 8, 8, 16, 0, nullptr, planes));
        ASSERT_NE(image.GetPointer(), nullptr);
        EXPECT_TRUE(image->Is3D());
        const tulx7sim::BufferInfo info = Info(image->GetBuffer());
        EXPECT_EQ(info.dimension, 2) << "3-D";
        EXPECT_EQ(info.reportedSize[2], planes == 0 ? 1 : planes);
    }
}

TEST_F(ImageBufferTest, NewImageStartsEmptyAndUnimplementedSlotsSaySo) {
    Held<ULMImageBufferInternal> image(
        ULMImageBufferInternal::CreateSimple(kULMBoard1, 50, 40, 64, 2, kRGBA8));
    ASSERT_NE(image.GetPointer(), nullptr);
    EXPECT_TRUE(IsObjectType(image, kObjectTypeULMImageBufferInternal));
    EXPECT_EQ(image->RefCount(), 1);
    EXPECT_EQ(image->GetLocation(), kULMBoard1);
    EXPECT_EQ(image->GetPixelSize(), 64u);
    EXPECT_FALSE(image->Is3D());
    EXPECT_EQ(image->GetFieldDescriptor(kULMChannelGreen), kRGBA8[1]);
    EXPECT_EQ(image->GetFieldDescriptor(kULMChannelBlue), ULMFieldDescriptor());
    EXPECT_EQ(image->GetFieldDescriptor(static_cast<ULMChannel>(7)), ULMFieldDescriptor());
    EXPECT_TRUE(image->GetInputLimits().IsEmpty());
    EXPECT_TRUE(image->GetOutputLimits().IsEmpty());
    EXPECT_EQ(image->GetAddressMode(), kULMOffsetAddress);
    EXPECT_EQ(image->GetMigrationMode(), kULMMigrationNone);
    EXPECT_EQ(image->GetLastVolumeRendered(), 0u);
    EXPECT_EQ(image->GetBorderAlpha(), 0.0);
    // The empty input limits reach the board as the all-zero valid range.
    EXPECT_EQ(image->GetBuffer()->GetRange(), KWBRange());

    image->SetLastVolumeRendered(0x1234);
    EXPECT_EQ(image->GetLastVolumeRendered(), 0x1234u);

    EXPECT_EQ(image->Resample(image, ULMImageRange(4, 4, 0, 0), ULMImageRange(8, 8, 0, 0)),
              kULMErrUnimplemented);
    EXPECT_EQ(image->StartResample(image, ULMImageRange(4, 4, 0, 0), ULMImageRange(8, 8, 0, 0))
                  .Status(),
              kULMErrUnimplemented);
    EXPECT_EQ(image->Reserved07(), kULMErrUnimplemented);
    EXPECT_EQ(image->Reserved09(), kULMErrUnimplemented);
}

TEST_F(ImageBufferTest, OnlyOnBoardImagesAreFoundBehindTheInterface) {
    Held<ULMImageBufferInternal> image(Make(4, 4));
    EXPECT_EQ(GetImageBufferInternal(nullptr), nullptr);
    EXPECT_EQ(GetImageBufferInternal(image), image.GetPointer());
}

TEST_F(ImageBufferTest, RangeRuleKeepsRangesInTheWindowAndInBoardCoordinates) {
    Held<ULMImageBufferInternal> image(Make(100, 50));
    struct Case {
        const char* what;
        bool wrap;
        ULMImageRange range;  // sizes first, then origins
        ULMStatus expected;
    } cases[] = {
        {"the whole window", false, {100, 50, 0, 0}, kULMOK},
        {"past the right edge", false, {20, 1, 90, 0}, kULMErrArgument},
        {"past the right edge, wrapped", true, {20, 1, 90, 0}, kULMOK},
        {"one row below", false, {1, 1, 0, 50}, kULMErrArgument},
        {"left of the window", false, {1, 1, -2, 0}, kULMErrArgument},
        {"empty axis outside the window", false, {0, 5, 500, 0}, kULMOK},
        {"empty axis at the lowest origin", true, {0, 5, -32768, 0}, kULMErrArgument},
        {"lowest coordinate", true, {1, 1, -32768, -32768}, kULMOK},
        {"below the lowest", true, {1, 1, -32769, 0}, kULMErrArgument},
        {"highest coordinate", true, {1, 1, 32767, 32767}, kULMOK},
        {"last pixel beyond the highest", true, {2, 1, 32767, 0}, kULMErrArgument},
        {"end beyond the highest", true, {10, 1, 32760, 0}, kULMErrArgument},
        {"negative size", true, {-1, 1, 0, 0}, kULMErrArgument},
        {"huge origin", true, {1, 1, 0, 2147483647}, kULMErrArgument},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.wrap ? image->SetWrap(128, 64) : image->SetOffset(0, 0), kULMOK);
        const ULMImageRange before = image->GetOutputLimits();
        EXPECT_EQ(image->SetOutputLimits(c.range), c.expected) << c.what;
        EXPECT_EQ(image->GetOutputLimits(), c.expected == kULMOK ? c.range : before) << c.what;
    }
    // Transfers, clears and maps go by the same rule.
    ASSERT_EQ(image->SetOffset(0, 0), kULMOK);
    std::vector<uint32_t> host(20, 0);
    const ULMImageRange outside(20, 1, 90, 0);
    unsigned width = 0;
    void* mapped = nullptr;
    EXPECT_EQ(image->Update(host.data(), outside, 0), kULMErrArgument);
    EXPECT_EQ(image->Unload(host.data(), outside, 0), kULMErrArgument);
    EXPECT_EQ(image->Clear(outside, 0), kULMErrArgument);
    EXPECT_EQ(image->Map(mapped, outside, width), kULMErrArgument);
    EXPECT_EQ(image->SetInputLimits(outside), kULMErrArgument);
    EXPECT_EQ(CountRequests(TULX7_DR_BUFFER_LOAD) + CountRequests(TULX7_DR_BUFFER_UNLOAD), 0u);
}

TEST_F(ImageBufferTest, AddressingChangesOnlyWhenAccepted) {
    Held<ULMImageBufferInternal> image(Make(64, 32));
    KWBBuffer* buffer = image->GetBuffer();
    ULMAddressMode mode = kULMWrapAddress;
    int x = 1, y = 1;

    EXPECT_EQ(image->SetOffset(-4, 6), kULMOK);
    image->GetAddressParameters(mode, x, y);
    EXPECT_EQ(mode, kULMOffsetAddress);
    EXPECT_EQ(x, -4);
    EXPECT_EQ(y, 6);
    EXPECT_EQ(buffer->m_offset_U, -4);
    EXPECT_EQ(buffer->m_offset_V, 6);

    for (auto [px, py] : {std::pair{3, 0}, std::pair{0, -1}}) {
        EXPECT_EQ(image->SetOffset(px, py), kULMErrArgument);
        EXPECT_EQ(image->GetAddressParameterX(), -4);
        EXPECT_EQ(buffer->m_offset_U, -4);
    }
    for (auto [wx, wy] : {std::pair{64, 48}, std::pair{0, 64}, std::pair{-64, 64}}) {
        EXPECT_EQ(image->SetWrap(wx, wy), kULMErrArgument) << wx << " " << wy;
        EXPECT_EQ(image->GetAddressMode(), kULMOffsetAddress);
        EXPECT_FALSE(buffer->IsWrapped());
    }
    EXPECT_EQ(image->SetAddressParameters(static_cast<ULMAddressMode>(2), 2, 2), kULMErrArgument);

    EXPECT_EQ(image->SetAddressParameters(kULMWrapAddress, 64, 32), kULMOK);
    EXPECT_EQ(image->GetAddressMode(), kULMWrapAddress);
    EXPECT_TRUE(buffer->IsWrapped());
    EXPECT_EQ(buffer->m_offset_U, 63) << "wrap masks";
    EXPECT_EQ(image->SetAddressParameters(kULMOffsetAddress, 2, 4), kULMOK);
    EXPECT_EQ(image->GetAddressParameterY(), 4);
    EXPECT_FALSE(buffer->IsWrapped());
}

TEST_F(ImageBufferTest, InputLimitsSetTheBoardValidRange) {
    Held<ULMImageBufferInternal> image(Make(64, 32));
    ASSERT_EQ(image->SetOffset(10, 4), kULMOK);
    EXPECT_EQ(image->SetInputLimits(ULMImageRange(8, 6, 12, 5)), kULMOK);
    EXPECT_EQ(image->GetBuffer()->GetRange(), KWBRange(12, 5, 19, 10));
    EXPECT_EQ(image->SetInputLimits(ULMImageRange(8, 6, 0, 0)), kULMErrArgument);
    EXPECT_EQ(image->GetInputLimits(), ULMImageRange(8, 6, 12, 5));
    EXPECT_EQ(image->SetInputLimits(ULMImageRange(0, 6, 12, 5)), kULMOK);
    EXPECT_EQ(image->GetBuffer()->GetRange(), KWBRange());
    // Output limits stay away from the board.
    EXPECT_EQ(image->SetOutputLimits(ULMImageRange(4, 4, 20, 20)), kULMOK);
    EXPECT_EQ(image->GetBuffer()->GetRange(), KWBRange());
}

TEST_F(ImageBufferTest, BorderIsClampedAndKeptTo12Bits) {
    Held<ULMImageBufferInternal> image(Make(4, 4));
    EXPECT_EQ(image->SetBorderValue(1.5, -0.2, 0.5, 1.0), kULMOK);
    double r = -1, g = -1, b = -1, a = -1;
    image->GetBorderValue(r, g, b, a);
    EXPECT_EQ(r, 1.0);
    EXPECT_EQ(g, 0.0);
    EXPECT_EQ(b, ULMConvert12ToFloat(2048));
    EXPECT_DOUBLE_EQ(b, 2048.0 / 4095.0);
    EXPECT_EQ(a, 1.0);
    EXPECT_EQ(image->GetBorderRed(), 1.0);
    EXPECT_EQ(image->GetBorderBlue(), b);
}

TEST_F(ImageBufferTest, FieldDescriptorsAreCheckedAgainstThePixel) {
    Held<ULMImageBufferInternal> image(Make(4, 4, 16));
    const ULMFieldDescriptor twelve(4, 12, kULMUnsignedFraction);
    EXPECT_EQ(image->SetFieldDescriptor(kULMChannelAlpha, twelve), kULMOK);
    EXPECT_EQ(image->GetFieldDescriptor(kULMChannelAlpha), twelve);
    EXPECT_EQ(image->SetFieldDescriptor(static_cast<ULMChannel>(4), twelve), kULMErrArgument);
    EXPECT_EQ(image->SetFieldDescriptor(kULMChannelRed, ULMFieldDescriptor(8, 12, kULMUnsignedFraction)),
              kULMErrFormat);
    EXPECT_EQ(image->GetFieldDescriptor(kULMChannelRed), ULMFieldDescriptor());
}

// Pixels of every size travel at an offset, with host rows longer than the
// range, and land where the offset puts them.
TEST_F(ImageBufferTest, PixelsRoundTripAtAnOffset) {
    auto check = [&](auto zero, unsigned bits) {
        using T = decltype(zero);
        Held<ULMImageBufferInternal> image(Make(40, 30, bits));
        ASSERT_EQ(image->SetOffset(6, 4), kULMOK);
        const ULMImageRange range(10, 5, 12, 8);
        const unsigned row = 16;
        const std::vector<T> in = Random<T>(row * 5, bits);
        ASSERT_EQ(image->Update(in.data(), range, row), kULMOK);
        for (int j = 0; j < 5; ++j)
            for (int i = 0; i < 10; ++i)
                ASSERT_EQ(Element<T>(image->GetBuffer(), 12 - 6 + i, 8 - 4 + j), in[j * row + i]);
        EXPECT_EQ(Element<T>(image->GetBuffer(), 5, 4), Fill<T>()) << "left of the range";

        std::vector<T> out(10 * 5, 0);
        ASSERT_EQ(image->Unload(out.data(), range, 0), kULMOK);
        for (int j = 0; j < 5; ++j)
            for (int i = 0; i < 10; ++i) ASSERT_EQ(out[j * 10 + i], in[j * row + i]);
    };
    check(uint16_t{}, 16);
    check(uint32_t{}, 32);
    check(uint64_t{}, 64);
}

TEST_F(ImageBufferTest, HostRowsShorterThanTheRangeAreRefused) {
    Held<ULMImageBufferInternal> image(Make(32, 32));
    std::vector<uint32_t> host(100, 7);
    const ULMImageRange range(10, 4, 0, 0);
    EXPECT_EQ(image->StartUpdate(host.data(), range, 5).Status(), kULMErrArgument);
    EXPECT_EQ(image->StartUnload(host.data(), range, 9).Status(), kULMErrArgument);
    const ULMFieldDescriptor low(0, 8, kULMUnsignedFraction);
    EXPECT_EQ(image->StartUpdateField(host.data(), low, range, 5).Status(), kULMErrArgument);
    EXPECT_EQ(Element<uint32_t>(image->GetBuffer(), 0, 0), Fill<uint32_t>());
    EXPECT_EQ(host[0], 7u);
}

TEST_F(ImageBufferTest, OneFieldTravelsAndTheRestOfThePixelStays) {
    Held<ULMImageBufferInternal> image(Make(32, 32, 32));
    const ULMImageRange range(6, 3, 2, 2);
    const ULMFieldDescriptor high(16, 16, kULMUnsignedFraction);
    const std::vector<uint16_t> in = Random<uint16_t>(6 * 3, 5);
    ASSERT_EQ(image->UpdateField(in.data(), high, range, 0), kULMOK);
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 6; ++i)
            ASSERT_EQ(Element<uint32_t>(image->GetBuffer(), 2 + i, 2 + j),
                      (uint32_t{in[j * 6 + i]} << 16) | 0xA5A5u);
    std::vector<uint8_t> out(8 * 3, 0);
    ASSERT_EQ(image->UnloadField(out.data(), ULMFieldDescriptor(8, 8, kULMUnsignedInteger), range, 8),
              kULMOK);
    EXPECT_EQ(out[0], 0xA5);
    EXPECT_EQ(out[6], 0) << "past the range in the host row";

    // Only whole bytes of the pixel travel.
    for (const ULMFieldDescriptor& bad :
         {ULMFieldDescriptor(4, 8, kULMUnsignedFraction), ULMFieldDescriptor(0, 12, kULMUnsignedFraction),
          ULMFieldDescriptor(24, 16, kULMUnsignedFraction), ULMFieldDescriptor(0, 8, kULMFloat)}) {
        EXPECT_EQ(image->StartUpdateField(in.data(), bad, range, 0).Status(), kULMErrArgument);
        EXPECT_EQ(image->StartUnloadField(out.data(), bad, range, 0).Status(), kULMErrArgument);
    }
}

TEST_F(ImageBufferTest, ClearFillsTheRangeWithThePixelsLowBits) {
    Held<ULMImageBufferInternal> image(Make(32, 32, 32));
    ASSERT_EQ(image->SetOffset(2, 2), kULMOK);
    EXPECT_EQ(image->Clear(ULMImageRange(3, 2, 5, 6), 0x1122334455667788ull), kULMOK);
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            const bool inside = u >= 3 && u < 6 && v >= 4 && v < 6;
            ASSERT_EQ(Element<uint32_t>(image->GetBuffer(), u, v),
                      inside ? 0x55667788u : Fill<uint32_t>())
                << u << "," << v;
        }
}

TEST_F(ImageBufferTest, MappingsNeedTheirPixelSizeAndWriteBack) {
    Held<ULMImageBufferInternal> image(Make(32, 32, 32));
    const ULMImageRange range(5, 3, 4, 6);
    unsigned short* shorts = nullptr;
    unsigned long long* longs = nullptr;
    unsigned width = 0;
    EXPECT_EQ(image->Map(shorts, range, width), kULMErrArgument);
    EXPECT_EQ(image->Map(longs, range, width), kULMErrArgument);
    EXPECT_EQ(shorts, nullptr);

    unsigned int* words = nullptr;
    ASSERT_EQ(image->Map(words, range, width), kULMOK);
    ASSERT_NE(words, nullptr);
    EXPECT_GE(width, 5u);
    EXPECT_EQ(width & (width - 1), 0u) << "mapped rows are a power of two long";
    EXPECT_EQ(words[0], Fill<uint32_t>());
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 5; ++i) words[j * width + i] = static_cast<unsigned>(100 * j + i);
    ASSERT_EQ(image->Unmap(words), kULMOK);
    EXPECT_EQ(Element<uint32_t>(image->GetBuffer(), 4, 6), 0u);
    EXPECT_EQ(Element<uint32_t>(image->GetBuffer(), 8, 8), 204u);
    EXPECT_EQ(tulx7sim::GetStats().liveMappings, 0);
}

TEST(BufferLocation, OnlyOpenBoardsAndTheSharedLocationsAreValid) {
    // Without the library open no board is.
    EXPECT_FALSE(ValidLocation(kULMBoard0));
    EXPECT_TRUE(ValidLocation(kULMSystem));
}

TEST_F(ImageBufferTest, ValidLocationFollowsTheOpenBoards) {
    struct Case {
        int location;
        bool valid;
    } cases[] = {{0, true},     {1, true},     {2, false},    {7, false},   {-1, false},
                 {-5, false},   {1000, false}, {2000, true},  {3000, true}, {3001, true},
                 {3002, false}, {INT32_MIN, false}};
    for (const Case& c : cases)
        EXPECT_EQ(ValidLocation(static_cast<ULMLocation>(c.location)), c.valid) << c.location;
}

}  // namespace
}  // namespace ulm3
