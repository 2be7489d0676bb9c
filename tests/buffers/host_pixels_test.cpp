// Host pixel rectangles: addresses, copies, field copies and fills.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "buffers/host_pixels.h"

namespace ulm3 {
namespace {

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

}  // namespace
}  // namespace ulm3
