// Host pixel rectangles: addresses, copies, field copies and fills.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

#include "buffers/host_pixels.h"

namespace ulm3 {
namespace {

TEST(HostPixels, AddressesCountRowsOfTheGivenWidth) {
    unsigned char base[4096];
    EXPECT_EQ(ComputeAddress(static_cast<void*>(base), 64, 100, 3, 2),
              static_cast<void*>(base + 1624));
    EXPECT_EQ(ComputeAddress(static_cast<const void*>(base), 16, 10, 0, 1),
              static_cast<const void*>(base + 20));
    unsigned words[64];
    EXPECT_EQ(ComputeAddress(words, 8, 3, 2), words + 19);
}

TEST(HostPixels, StridedAndContiguousCopiesAgree) {
    std::vector<uint16_t> source(12 * 5);
    std::iota(source.begin(), source.end(), uint16_t{1});
    // The rectangle 4 x 3 at (2, 1) of a 12-wide array into a packed one...
    std::vector<uint16_t> packed(4 * 3, 0);
    EXPECT_EQ(CopyPixels(16, 4, 3, 12, &source[12 + 2], 4, packed.data()).Status(), kULMOK);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(packed[y * 4 + x], source[(y + 1) * 12 + x + 2]);
    // ...and packed into packed, in one go.
    std::vector<uint16_t> again(4 * 3, 0);
    EXPECT_EQ(CopyPixels(4, 3, 4, packed.data(), 4, again.data()).Status(), kULMOK);
    EXPECT_EQ(again, packed);

    std::vector<unsigned> depthIn(6 * 2, 9), depthOut(8 * 2, 0);
    EXPECT_EQ(CopyPixels(6, 2, 6, depthIn.data(), 8, depthOut.data()).Status(), kULMOK);
    EXPECT_EQ(depthOut[7], 0u) << "past the row";
    EXPECT_EQ(depthOut[8 + 5], 9u);
}

TEST(HostPixels, EmptyRectanglesAndOddSizes) {
    uint64_t a[4] = {1, 2, 3, 4}, b[4] = {};
    EXPECT_EQ(CopyPixels(64, 0, 4, 4, a, 4, b).Status(), kULMOK);
    EXPECT_EQ(CopyPixels(64, 4, 0, 4, a, 4, b).Status(), kULMOK);
    EXPECT_EQ(ClearPixels(64, 0, 1, 7, 4, b), kULMOK);
    EXPECT_EQ(CopyField(8, 0, 1, 64, 0, 4, a, 64, 0, 4, b).Status(), kULMOK);
    EXPECT_EQ(b[0], 0u) << "an empty rectangle wrote";
    EXPECT_EQ(CopyPixels(24, 1, 1, 1, a, 1, b).Status(), kULMErrUnimplemented);
    EXPECT_EQ(ClearPixels(24, 1, 1, 7, 1, b), kULMErrUnimplemented);
    EXPECT_EQ(CopyField(8, 1, 1, 24, 0, 1, a, 64, 0, 1, b).Status(), kULMErrInternal);
    EXPECT_EQ(CopyField(8, 1, 1, 64, 0, 1, a, 12, 0, 1, b).Status(), kULMErrInternal);
    EXPECT_EQ(b[0], 0u);
}

TEST(HostPixels, FillsUseTheLowBitsAndKeepTheGaps) {
    struct Case {
        int bits;
        uint64_t expected;
    } cases[] = {{8, 0x88}, {16, 0x7788}, {32, 0x55667788}, {64, 0x1122334455667788}};
    for (const Case& c : cases) {
        // 3 x 2 inside rows of 5 elements of c.bits.
        std::vector<uint64_t> storage(5 * 2, 0);
        ASSERT_EQ(ClearPixels(c.bits, 3, 2, 0x1122334455667788ull, 5, storage.data()), kULMOK);
        const auto* bytes = reinterpret_cast<const uint8_t*>(storage.data());
        const size_t n = static_cast<size_t>(c.bits) / 8;
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 5; ++x) {
                uint64_t v = 0;
                std::memcpy(&v, bytes + (y * 5 + x) * n, n);
                EXPECT_EQ(v, x < 3 ? c.expected : 0u) << c.bits << " " << x << "," << y;
            }
    }
    std::vector<unsigned> depth(4 * 3, 1);
    EXPECT_EQ(ClearPixels(4, 3, 0xFFFFFFu, 4, depth.data()), kULMOK);
    EXPECT_EQ(depth, std::vector<unsigned>(12, 0xFFFFFFu));
}

TEST(HostPixels, FieldsMoveBitForBitBetweenElementSizes) {
    {
        const unsigned char source = 0xAB;
        unsigned short dest = 0x1234;
        EXPECT_EQ(CopyField(8, 1, 1, 0, 1, &source, 8, 1, &dest).Status(), kULMOK);
        EXPECT_EQ(dest, 0xAB34);
    }
    {
        // Narrower destinations keep the field's low bits.
        const unsigned short source = 0xBEEF;
        unsigned char dest = 0x11;
        EXPECT_EQ(CopyField(16, 1, 1, 0, 1, &source, 0, 1, &dest).Status(), kULMOK);
        EXPECT_EQ(dest, 0xEF);
    }
    {
        const unsigned long long source = 0x8000000000000001ull;
        unsigned long long dest = 0;
        EXPECT_EQ(CopyField(64, 1, 1, 0, 1, &source, 0, 1, &dest).Status(), kULMOK);
        EXPECT_EQ(dest, source);
    }
    {
        // Through the dispatcher: byte 3 of each word into the top byte of a
        // 64-bit pixel, two rows with different spacings.
        const unsigned words[2 * 3] = {0xAA000000, 0xBB000000, 0, 0xCC000000, 0xDD000000, 0};
        unsigned long long pixels[2 * 2] = {1, 2, 3, 4};
        EXPECT_EQ(CopyField(8, 2, 2, 32, 24, 3, words, 64, 56, 2, pixels).Status(), kULMOK);
        EXPECT_EQ(pixels[0], 0xAA00000000000001ull);
        EXPECT_EQ(pixels[1], 0xBB00000000000002ull);
        EXPECT_EQ(pixels[2], 0xCC00000000000003ull);
        EXPECT_EQ(pixels[3], 0xDD00000000000004ull);
    }
}

}  // namespace
}  // namespace ulm3
