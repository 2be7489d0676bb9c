// Buffers the board makes, attaches, resizes, shares and releases, and the
// driver's host buffers.
#include <gtest/gtest.h>

#include "board/board_buffer_fixture.h"
#include "tulx7/driver_requests.h"

using namespace ulm3;
using ulm3::test_support::BoardBufferTest;

namespace {

using BoardBuffers = BoardBufferTest;

TEST_F(BoardBuffers, SizesTheDescriptorCannotHoldAreRefusedWithoutARequest) {
    const uint32_t refused[][4] = {{100, 0, 0, 24}, {100, 0, 0, 128}, {0, 4, 4, 8},
                                   {100, 0, 0, 4},  {32769, 0, 0, 8}, {8, 40000, 0, 8},
                                   {8, 8, 65536, 8}};
    for (const auto& r : refused) {
        ULMStatus status = kULMOK;
        EXPECT_EQ(Board(0)->CreateBuffer(r[0], r[1], r[2], r[3], status), nullptr);
        EXPECT_EQ(status, kULMErrArgument) << r[0] << "x" << r[1] << "x" << r[2] << "@" << r[3];
    }
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
    // The largest size that fits is accepted.
    EXPECT_NE(Make(0, 32768, 0, 0, 8), nullptr);
}

class SmallBoardBuffers : public BoardBufferTest {
protected:
    SmallBoardBuffers() : BoardBufferTest(ulm3::testing::Settings([](auto& c) { c.memoryMB = 1; })) {}
};

TEST_F(SmallBoardBuffers, RunningOutOfBoardMemoryIsAnAllocationFailure) {
    ULMStatus status = kULMOK;
    EXPECT_EQ(Board(0)->CreateBuffer(2048, 2048, 0, 8, status), nullptr);
    EXPECT_EQ(status, kULMErrAlloc);
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, 0);
    EXPECT_NE(Make(0, 512, 512, 0, 8), nullptr);  // what fits still does
}

TEST_F(BoardBuffers, ResizeKeepsTheAxesAndTheOverlap) {
    KWBBuffer* b = Make(0, 32, 8, 0, 8);
    ASSERT_NE(b, nullptr);
    const std::vector<uint8_t> data = Random(32 * 8, 3);
    ASSERT_EQ(Board(0)->LoadBuffer(b, data.data(), KWBRange(0, 0, 31, 7), 0, 0, -1), kULMOK);

    EXPECT_EQ(Board(0)->ResizeBuffer(b, 64, 0, 0), kULMErrArgument);   // two axes to one
    EXPECT_EQ(Board(0)->ResizeBuffer(b, 64, 8, 8), kULMErrArgument);   // two axes to three
    EXPECT_EQ(Board(0)->ResizeBuffer(b, 0, 8, 0), kULMErrArgument);
    EXPECT_EQ(Board(0)->ResizeBuffer(b, 40000, 8, 0), kULMErrArgument);
    EXPECT_EQ(Board(0)->ResizeBuffer(nullptr, 8, 8, 0), kULMErrArgument);
    EXPECT_TRUE(Requests(TULX7_DR_BUFFER_SET_PERMISSION).empty());

    ASSERT_EQ(Board(0)->ResizeBuffer(b, 64, 16, 0), kULMOK);
    uint32_t u = 0, v = 0, w = 0, bits = 0;
    EXPECT_EQ(b->GetSizes(u, v, w, bits), 2);
    EXPECT_EQ(u, 64u);
    EXPECT_EQ(v, 16u);
    EXPECT_EQ(b->GetRange(), KWBRange(0, 0, 63, 15));
    std::vector<uint8_t> back(32 * 8);
    ASSERT_EQ(Board(0)->UnloadBuffer(b, back.data(), KWBRange(0, 0, 31, 7), 0, 0, -1), kULMOK);
    EXPECT_EQ(back, data);
}

TEST_F(BoardBuffers, PermissionRoundTrip) {
    KWBBuffer* b = Make(0, 32, 0, 0, 8);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(KWBBoard::GetBufferPermission(b), kULMPermissionNotShared);
    ASSERT_EQ(Board(0)->SetBufferPermission(b, kULMPermissionRead | kULMPermissionResize), kULMOK);
    EXPECT_EQ(KWBBoard::GetBufferPermission(b), kULMPermissionRead | kULMPermissionResize);
    EXPECT_EQ(Info(b).share & ~4, 1 | 8);  // read and resize, as the driver keeps them
    EXPECT_EQ(KWBBoard::GetBufferPermission(nullptr), kULMPermissionNotShared);
    EXPECT_EQ(Board(0)->SetBufferPermission(nullptr, kULMPermissionRead), kULMErrArgument);
}

}  // namespace
