// Buffers the board makes, attaches, resizes, shares and releases, and the
// driver's host buffers.
#include <gtest/gtest.h>

#include "board/board_buffer_fixture.h"
#include "tulx7/driver_requests.h"

using namespace ulm3;
using ulm3::test_support::BoardBufferTest;

namespace {

using BoardBuffers = BoardBufferTest;

TEST_F(BoardBuffers, CreatedBuffersDescribeWhatTheDriverMade) {
    struct Case { uint32_t u, v, w, bits; int dimension; };
    for (const Case c : {Case{100, 0, 0, 8, 1}, Case{100, 30, 0, 16, 2}, Case{20, 10, 5, 32, 3},
                         Case{9, 9, 0, 64, 2}}) {
        KWBBuffer* b = Make(1, c.u, c.v, c.w, c.bits);
        ASSERT_NE(b, nullptr);
        uint32_t u = 0, v = 0, w = 0, bits = 0;
        EXPECT_EQ(b->GetSizes(u, v, w, bits), c.dimension);
        EXPECT_EQ(u, c.u);
        EXPECT_EQ(v, c.v);
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(bits, c.bits);
        EXPECT_EQ(KWBBoard::GetBoardNumberFromObjectID(b->GetID()), 1);
        EXPECT_EQ(b->GetID() >> 32, 0u);
        EXPECT_EQ(b->GetRange(), KWBRange(0, 0, 0, static_cast<int16_t>(c.u - 1),
                                          static_cast<int16_t>(c.v ? c.v - 1 : 0),
                                          static_cast<int16_t>(c.w ? c.w - 1 : 0)));
        const tulx7sim::BufferInfo info = Info(b);
        EXPECT_EQ(info.dimension + 1, c.dimension);
        EXPECT_EQ(info.elementBytes * 8, static_cast<int>(c.bits));
        EXPECT_EQ(info.reportedSize[0], static_cast<int32_t>(c.u));
    }
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, 4);
}

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

TEST_F(BoardBuffers, DriverRefusalsComeBackTranslatedAndLeaveNothing) {
    ULMStatus status = kULMOK;
    // 64-bit elements in three dimensions are the driver's to refuse.
    EXPECT_EQ(Board(0)->CreateBuffer(8, 8, 8, 64, status), nullptr);
    EXPECT_EQ(status, kULMErrArgument);
    EXPECT_EQ(Board(0)->GetDriverStatus(), TULX7_DR_STATUS_ARG_BAD);
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, 0);
}

class SmallBoardBuffers : public BoardBufferTest {
protected:
    tulx7sim::SimConfig Config() const override {
        tulx7sim::SimConfig config;
        config.memoryMB = 1;
        return config;
    }
};

TEST_F(SmallBoardBuffers, RunningOutOfBoardMemoryIsAnAllocationFailure) {
    ULMStatus status = kULMOK;
    EXPECT_EQ(Board(0)->CreateBuffer(2048, 2048, 0, 8, status), nullptr);
    EXPECT_EQ(status, kULMErrAlloc);
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, 0);
    EXPECT_NE(Make(0, 512, 512, 0, 8), nullptr);  // what fits still does
}

TEST_F(BoardBuffers, AttachSharesTheBufferUntilTheLastRelease) {
    KWBBuffer* owner = Make(0, 64, 16, 0, 32);
    ASSERT_NE(owner, nullptr);
    ULMStatus status = kULMErrInternal;
    KWBBuffer* attached = Board(0)->AttachBuffer(owner->GetID(), status);
    ASSERT_EQ(status, kULMOK);
    ASSERT_NE(attached, nullptr);
    uint32_t u = 0, v = 0, w = 0, bits = 0;
    EXPECT_EQ(attached->GetSizes(u, v, w, bits), 2);
    EXPECT_EQ(u, 64u);
    EXPECT_EQ(v, 16u);
    EXPECT_EQ(bits, 32u);
    EXPECT_EQ(attached->GetRange(), KWBRange(0, 0, 63, 15));
    EXPECT_EQ(attached->GetPermission(), kULMPermissionReadWrite | kULMPermissionResize);
    EXPECT_EQ(Info(owner).attachments, 2);

    // The owner reads what the other holder resized it to.
    ASSERT_EQ(Board(0)->ResizeBuffer(attached, 200, 16, 0), kULMOK);
    EXPECT_EQ(Board(0)->UpdateBufferSize(owner), kULMOK);
    owner->GetSizes(u, v, w, bits);
    EXPECT_EQ(u, 200u);
    EXPECT_EQ(bits, 32u);
    EXPECT_EQ(Info(owner).attachments, 2) << "the look gave its attachment back";
    EXPECT_EQ(Board(0)->UpdateBufferSize(nullptr), kULMErrArgument);

    EXPECT_EQ(Board(0)->ReleaseBuffer(attached, false), kULMOK);
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, 1);
    const uint64_t id = owner->GetID();
    Forget(owner);
    EXPECT_EQ(Board(0)->ReleaseBuffer(owner, false), kULMOK);
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, 0);
    EXPECT_EQ(tulx7sim::GetStats().boardBytesAllocated[0], 0u);

    // The id is gone for good.
    EXPECT_EQ(Board(0)->AttachBuffer(id, status), nullptr);
    EXPECT_EQ(status, kULMErrArgument);
    EXPECT_EQ(Board(0)->ReleaseBuffer(nullptr, false), kULMErrArgument);
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

TEST_F(BoardBuffers, KernelBuffersComeAndGo) {
    uint32_t granted = 0;
    void* address = nullptr;
    int id = -1;
    ASSERT_EQ(Board(0)->CreateKernelBuffer(10000, granted, address, id), kULMOK);
    EXPECT_GE(granted, 10000u);
    ASSERT_NE(address, nullptr);
    EXPECT_NE(id, -1);
    static_cast<uint8_t*>(address)[granted - 1] = 1;  // all of it is ours
    EXPECT_EQ(tulx7sim::GetStats().liveHostBuffers, 1);
    Board(0)->DestroyKernelBuffer(id, granted, address);
    EXPECT_EQ(Board(0)->GetDriverStatus(), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(tulx7sim::GetStats().liveHostBuffers, 0);

    EXPECT_EQ(Board(0)->CreateKernelBuffer(0, granted, address, id), kULMErrArgument);
    tulx7sim::SetHostBufferGrantLimit(0);
    EXPECT_EQ(Board(0)->CreateKernelBuffer(100, granted, address, id), kULMErrAlloc);
}

}  // namespace
