#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "board/tulx_command_buffer.h"
#include "tulx7/register_map.h"

namespace ulm3 {
namespace {

// Appends n one-word commands to the open block.
ULMStatus Fill(TulxCommandBuffer& buffer, int n) {
    for (int i = 0; i < n; ++i) {
        const ULMStatus status = buffer.Sync(NKW7_Scratch7_Addr, 7, static_cast<uint32_t>(i), false);
        if (status != kULMOK) return status;
    }
    return kULMOK;
}

// One block of n one-word commands; returns its id.
uint32_t Block(TulxCommandBuffer& buffer, int n) {
    uint32_t id = 0, size = 0;
    EXPECT_EQ(buffer.StartBlock(id), kULMOK);
    EXPECT_EQ(Fill(buffer, n), kULMOK);
    EXPECT_EQ(buffer.FinishBlock(size), kULMOK);
    EXPECT_EQ(size, static_cast<uint32_t>(n));
    return id;
}

TEST(TulxCommandBuffer, SizeIsClamped) {
    EXPECT_EQ(TulxCommandBuffer(nullptr, 10).GetBufferSize(), 1000u);
    EXPECT_EQ(TulxCommandBuffer(nullptr, -5).GetBufferSize(), 1000u);
    EXPECT_EQ(TulxCommandBuffer(nullptr, 20000).GetBufferSize(), 20000u);
    EXPECT_EQ(TulxCommandBuffer(nullptr, 100000).GetBufferSize(), 40000u);
    KWBBoard* const board = reinterpret_cast<KWBBoard*>(0x1000);
    EXPECT_EQ(TulxCommandBuffer(board, 0).GetBoard(), board);
}

TEST(TulxCommandBuffer, HoldsOneWordLessThanItsSize) {
    TulxCommandBuffer buffer(nullptr, 1000);
    uint32_t id = 0, size = 0;
    ASSERT_EQ(buffer.StartBlock(id), kULMOK);
    EXPECT_EQ(Fill(buffer, 999), kULMOK);
    EXPECT_EQ(buffer.Sync(NKW7_Scratch7_Addr, 7, 0, false), kULMErrAlloc);
    ASSERT_EQ(buffer.FinishBlock(size), kULMOK);
    EXPECT_EQ(size, 999u);
    const uint64_t* words = buffer.GetBlockAddress(id);
    EXPECT_EQ(words[0], 0x3000000000007248u);
    EXPECT_EQ(words[998], 0x3000000003E67248u);
}

TEST(TulxCommandBuffer, WordsComeBackWhenEveryBlockIsReleased) {
    TulxCommandBuffer buffer(nullptr, 1000);
    const uint32_t first = Block(buffer, 10);
    const uint32_t second = Block(buffer, 10);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(second, 10u);
    EXPECT_EQ(buffer.GetBlockAddress(second), buffer.GetBlockAddress(first) + 10);

    ASSERT_EQ(buffer.ReleaseBlock(first, 10), kULMOK);
    EXPECT_EQ(Block(buffer, 0), 20u) << "still appending behind the second block";
    ASSERT_EQ(buffer.ReleaseBlock(second, 10), kULMOK);
    EXPECT_EQ(Block(buffer, 0), 0u) << "everything back: start over";
}

// An early block released while a later one is out raises the free count,
// but its words lie behind the write position and cannot be used: the room
// left is what lies before the end of the array.
TEST(TulxCommandBuffer, EarlyReleaseDoesNotLendWordsPastTheEnd) {
    TulxCommandBuffer buffer(nullptr, 1000);
    const uint32_t first = Block(buffer, 500);
    Block(buffer, 400);
    ASSERT_EQ(buffer.ReleaseBlock(first, 500), kULMOK);

    uint32_t id = 0, size = 0;
    ASSERT_EQ(buffer.StartBlock(id), kULMOK);
    EXPECT_EQ(id, 900u);
    EXPECT_EQ(Fill(buffer, 100), kULMOK);
    EXPECT_EQ(buffer.Sync(NKW7_Scratch7_Addr, 7, 0, false), kULMErrAlloc);
    ASSERT_EQ(buffer.FinishBlock(size), kULMOK);
    EXPECT_EQ(size, 100u);

    uint32_t refused = 0;
    EXPECT_EQ(buffer.StartBlock(refused), kULMErrAlloc);
}

TEST(TulxCommandBuffer, ReleasingWordsNeverHandedOutIsRefused) {
    TulxCommandBuffer buffer(nullptr, 1000);
    EXPECT_EQ(buffer.ReleaseBlock(0, 1), kULMErrArgument);
    const uint32_t first = Block(buffer, 10);
    const uint32_t second = Block(buffer, 10);
    EXPECT_EQ(buffer.ReleaseBlock(second, 11), kULMErrArgument) << "beyond what was written";
    EXPECT_EQ(buffer.ReleaseBlock(25, 1), kULMErrArgument);
    ASSERT_EQ(buffer.ReleaseBlock(first, 10), kULMOK);
    ASSERT_EQ(buffer.ReleaseBlock(second, 10), kULMOK);
    EXPECT_EQ(buffer.ReleaseBlock(second, 10), kULMErrArgument) << "a second release";
    EXPECT_EQ(Block(buffer, 999), 0u) << "the whole buffer is usable again";
}

}  // namespace
}  // namespace ulm3
