// Host pixel rectangles: addresses, copies, field copies and fills.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "buffers/host_pixels.h"

namespace ulm3 {
namespace {

TEST(HostPixels, AddressesAndCopiesFollowTheSpacings) {
    unsigned char base[2048];
    EXPECT_EQ(ComputeAddress(static_cast<void*>(base), 64, 100, 3, 2), base + 1624);
    unsigned words[64];
    EXPECT_EQ(ComputeAddress(words, 8, 3, 2), words + 19);

    // 4 x 3 at (2, 1) of a 12-wide array into a packed one, then packed to
    // packed in one block.
    std::vector<uint16_t> source(12 * 5), packed(4 * 3, 0), again(4 * 3, 0);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint16_t>(i + 1);
    EXPECT_EQ(CopyPixels(16, 4, 3, 12, &source[12 + 2], 4, packed.data()).Status(), kULMOK);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(packed[y * 4 + x], source[(y + 1) * 12 + x + 2]);
    EXPECT_EQ(CopyPixels(4, 3, 4, packed.data(), 4, again.data()).Status(), kULMOK);
    EXPECT_EQ(again, packed);
}

TEST(HostPixels, EmptyRectanglesAndOddSizes) {
    uint64_t a[4] = {1, 2, 3, 4}, b[4] = {};
    EXPECT_EQ(CopyPixels(64, 0, 4, 4, a, 4, b).Status(), kULMOK);
    EXPECT_EQ(ClearPixels(64, 4, 0, 7, 4, b), kULMOK);
    EXPECT_EQ(CopyField(8, 0, 1, 64, 0, 4, a, 64, 0, 4, b).Status(), kULMOK);
    EXPECT_EQ(CopyPixels(24, 1, 1, 1, a, 1, b).Status(), kULMErrUnimplemented);
    EXPECT_EQ(ClearPixels(24, 1, 1, 7, 1, b), kULMErrUnimplemented);
    EXPECT_EQ(CopyField(8, 1, 1, 24, 0, 1, a, 64, 0, 1, b).Status(), kULMErrInternal);
    EXPECT_EQ(CopyField(8, 1, 1, 64, 0, 1, a, 12, 0, 1, b).Status(), kULMErrInternal);
    EXPECT_EQ(b[0], 0u) << "nothing may be written";
}

TEST(HostPixels, FillsUseTheLowBitsAndKeepTheGaps) {
    for (auto [bits, expected] : {std::pair{8, 0x88ull}, std::pair{16, 0x7788ull},
                                  std::pair{32, 0x55667788ull}, std::pair{64, 0x1122334455667788ull}}) {
        // 3 x 2 inside rows of 5 elements.
        std::vector<uint64_t> storage(5 * 2, 0);
        ASSERT_EQ(ClearPixels(bits, 3, 2, 0x1122334455667788ull, 5, storage.data()), kULMOK);
        const size_t n = static_cast<size_t>(bits) / 8;
        for (int i = 0; i < 10; ++i) {
            uint64_t v = 0;
            std::memcpy(&v, reinterpret_cast<const uint8_t*>(storage.data()) + i * n, n);
            EXPECT_EQ(v, i % 5 < 3 ? expected : 0u) << bits << " " << i;
        }
    }
    std::vector<unsigned> depth(4 * 3, 1);
    EXPECT_EQ(ClearPixels(3, 3, 0xFFFFFFu, 4, depth.data()), kULMOK);
    EXPECT_EQ(depth[2], 0xFFFFFFu);
    EXPECT_EQ(depth[3], 1u);
}

TEST(HostPixels, FieldsMoveBitForBitBetweenElementSizes) {
    const unsigned char byte = 0xAB;
    unsigned short word = 0x1234;
    EXPECT_EQ(CopyField(8, 1, 1, 0, 1, &byte, 8, 1, &word).Status(), kULMOK);
    EXPECT_EQ(word, 0xAB34);

    // A narrower destination keeps the field's low bits.
    const unsigned short beef = 0xBEEF;
    unsigned char low = 0x11;
    EXPECT_EQ(CopyField(16, 1, 1, 0, 1, &beef, 0, 1, &low).Status(), kULMOK);
    EXPECT_EQ(low, 0xEF);

    // Through the dispatcher: byte 3 of each word into the top byte of a
    // 64-bit pixel, over rows of different spacings; a whole 64-bit field.
    const unsigned words[2 * 3] = {0xAA000000, 0xBB000000, 0, 0xCC000000, 0xDD000000, 0};
    unsigned long long pixels[2 * 2] = {1, 2, 3, 4};
    EXPECT_EQ(CopyField(8, 2, 2, 32, 24, 3, words, 64, 56, 2, pixels).Status(), kULMOK);
    EXPECT_EQ(pixels[1], 0xBB00000000000002ull);
    EXPECT_EQ(pixels[2], 0xCC00000000000003ull);
    EXPECT_EQ(CopyField(64, 1, 1, 64, 0, 1, pixels, 64, 0, 1, &pixels[3]).Status(), kULMOK);
    EXPECT_EQ(pixels[3], 0xAA00000000000001ull);
}

}  // namespace
}  // namespace ulm3
