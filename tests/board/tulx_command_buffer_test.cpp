#include <gtest/gtest.h>

#include "board/tulx_command_buffer.h"

namespace ulm3 {
namespace {

TEST(TulxCommandBuffer, SizeIsClamped) {
    EXPECT_EQ(TulxCommandBuffer(nullptr, 10).GetBufferSize(), 1000u);
    EXPECT_EQ(TulxCommandBuffer(nullptr, -5).GetBufferSize(), 1000u);
    EXPECT_EQ(TulxCommandBuffer(nullptr, 20000).GetBufferSize(), 20000u);
    EXPECT_EQ(TulxCommandBuffer(nullptr, 100000).GetBufferSize(), 40000u);
    KWBBoard* const board = reinterpret_cast<KWBBoard*>(0x1000);
    EXPECT_EQ(TulxCommandBuffer(board, 0).GetBoard(), board);
}

}  // namespace
}  // namespace ulm3
