// The on-board depth buffer: creation, the one accepted depth format,
// clears, border, limits and words through transfers.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "board/driver_requests.h"
#include "buffer_test_fixture.h"
#include "buffers/depth_buffer_internal.h"

namespace ulm3 {
namespace {

using test_support::BufferTest;
using test_support::Held;
using Format = ULMDepthBuffer::DepthFormat;

class DepthBufferTest : public BufferTest {};

TEST_F(DepthBufferTest, CreationNeedsASizeAndAnOpenBoard) {
    Held<ULMDepthBufferInternal> depth(ULMDepthBufferInternal::CreateSimple(kULMBoard1, 1, 1));
    ASSERT_NE(depth.GetPointer(), nullptr);
    EXPECT_TRUE(IsObjectType(depth, kObjectTypeULMDepthBufferInternal));
    const tulx7sim::BufferInfo info = Info(depth->GetBuffer());
    EXPECT_EQ(info.board, 1);
    EXPECT_EQ(info.elementBytes, 4);
    EXPECT_EQ(info.dimension, 1);
    EXPECT_EQ(info.reportedSize[0], 32);
    EXPECT_EQ(info.reportedSize[1], 32);
    EXPECT_EQ(depth->GetBuffer()->GetRange(), KWBRange());
    EXPECT_EQ(depth->Reserved05(), kULMErrUnimplemented);
    EXPECT_EQ(depth->Reserved09(), kULMErrUnimplemented);

    for (ULMLocation refused : {kULMAnyBoard, kULMSystem, kULMMultiBoardMode1, kULMMultiBoardMode2,
                                kULMBoard3, kULMNoBufferAttached})
        EXPECT_EQ(ULMDepthBufferInternal::CreateSimple(refused, 10, 10), nullptr) << refused;
    EXPECT_EQ(ULMDepthBufferInternal::CreateSimple(kULMBoard0, 0, 10), nullptr);
    EXPECT_EQ(ULMDepthBufferInternal::CreateSimple(kULMBoard0, 10, 0), nullptr);
}

TEST_F(DepthBufferTest, OnlyLowTwentyFourBitWordsAreAccepted) {
    Held<ULMDepthBufferInternal> depth(ULMDepthBufferInternal::CreateSimple(kULMBoard0, 16, 16));
    std::vector<uint32_t> host(16, 0x42);
    const ULMImageRange range(4, 4, 0, 0);
    tulx7sim::ClearRequestLog();
    const ULMImageRange outside(4, 4, 100, 0);
    for (Format format : {ULMDepthBuffer::kDepth24High, ULMDepthBuffer::kDepthFloat}) {
        unsigned width = 0;
        unsigned int* words = nullptr;
        void* any = nullptr;
        EXPECT_EQ(depth->StartUpdate(host.data(), range, 0, format).Status(), kULMErrArgument);
        EXPECT_EQ(depth->Update(host.data(), outside, 0, format), kULMErrArgument);
        EXPECT_EQ(depth->StartUnload(host.data(), range, 0, format).Status(), kULMErrArgument);
        EXPECT_EQ(depth->Map(words, range, width, format), kULMErrArgument);
        EXPECT_EQ(depth->Map(any, range, width, format), kULMErrArgument);
        EXPECT_EQ(words, nullptr);
    }
    EXPECT_EQ(tulx7sim::RequestLog().size(), 0u) << "a refused format reached the board";
    EXPECT_EQ(Element<uint32_t>(depth->GetBuffer(), 0, 0), Fill<uint32_t>());
    EXPECT_EQ(host[0], 0x42u);
}

TEST_F(DepthBufferTest, WordsRoundTripAndMapAtAnOffset) {
    Held<ULMDepthBufferInternal> depth(ULMDepthBufferInternal::CreateSimple(kULMBoard0, 40, 40));
    ASSERT_EQ(depth->SetOffset(-2, 4), kULMOK);
    // Board coordinates are never negative, so the window's first column
    // cannot be reached on the board.
    std::vector<uint32_t> one(1, 1);
    EXPECT_EQ(depth->Update(one.data(), ULMImageRange(1, 1, -2, 4), 0, ULMDepthBuffer::kDepth24Low),
              kULMErrArgument);

    const ULMImageRange range(7, 3, 3, 10);
    const std::vector<uint32_t> in = Random<uint32_t>(9 * 3, 11);
    ASSERT_EQ(depth->Update(in.data(), range, 9, ULMDepthBuffer::kDepth24Low), kULMOK);
    EXPECT_EQ(Element<uint32_t>(depth->GetBuffer(), 3 + 2, 10 - 4), in[0]);
    std::vector<uint32_t> out(7 * 3, 0);
    ASSERT_EQ(depth->Unload(out.data(), range, 0, ULMDepthBuffer::kDepth24Low), kULMOK);
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 7; ++i) ASSERT_EQ(out[j * 7 + i], in[j * 9 + i]);

    unsigned int* words = nullptr;
    unsigned width = 0;
    ASSERT_EQ(depth->Map(words, range, width, ULMDepthBuffer::kDepth24Low), kULMOK);
    EXPECT_EQ(words[width + 1], in[9 + 1]);
    words[0] = 77;
    ASSERT_EQ(depth->Unmap(words), kULMOK);
    EXPECT_EQ(Element<uint32_t>(depth->GetBuffer(), 5, 6), 77u);
}

TEST_F(DepthBufferTest, ClearWritesTheWordInsideTheRangeOnly) {
    Held<ULMDepthBufferInternal> depth(ULMDepthBufferInternal::CreateSimple(kULMBoard0, 16, 16));
    EXPECT_EQ(depth->Clear(ULMImageRange(4, 2, 3, 5), 0xFFFFFF), kULMOK);
    for (int v = 0; v < 10; ++v)
        for (int u = 0; u < 10; ++u) {
            const bool inside = u >= 3 && u < 7 && v >= 5 && v < 7;
            ASSERT_EQ(Element<uint32_t>(depth->GetBuffer(), u, v),
                      inside ? 0x00FFFFFFu : Fill<uint32_t>());
        }
    EXPECT_EQ(depth->Clear(ULMImageRange(4, 2, 14, 5), 0), kULMErrArgument);
}

TEST_F(DepthBufferTest, BorderIsTwentyFourBitsAndOutputLimitsAreUnchecked) {
    Held<ULMDepthBufferInternal> depth(ULMDepthBufferInternal::CreateSimple(kULMBoard0, 16, 16));
    for (auto [given, kept] : {std::pair{5u, 5u}, std::pair{0xFFFFFFu, 0xFFFFFFu},
                               std::pair{0x1000000u, 0xFFFFFFu}, std::pair{~0u, 0xFFFFFFu}}) {
        EXPECT_EQ(depth->SetBorderValue(given), kULMOK);
        EXPECT_EQ(depth->GetBorderValue(), kept);
    }
    const ULMImageRange far(10, 10, 5000, -5000);
    EXPECT_EQ(depth->SetOutputLimits(far), kULMOK);
    EXPECT_EQ(depth->GetOutputLimits(), far);
    EXPECT_EQ(depth->SetInputLimits(far), kULMErrArgument);
    EXPECT_TRUE(depth->GetInputLimits().IsEmpty());
    EXPECT_EQ(depth->SetInputLimits(ULMImageRange(4, 4, 2, 2)), kULMOK);
    EXPECT_EQ(depth->GetBuffer()->GetRange(), KWBRange(2, 2, 5, 5));
}

}  // namespace
}  // namespace ulm3
