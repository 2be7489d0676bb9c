// The on-board depth buffer: creation, the one accepted depth format,
// clears, border and limits. What it shares with images is tested there.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "buffer_test_fixture.h"
#include "buffers/depth_buffer_internal.h"

namespace ulm3 {
namespace {

using test_support::BufferTest;
using test_support::Held;
using DepthBufferTest = BufferTest;

TEST_F(DepthBufferTest, CreationNeedsASizeAndAnOpenBoard) {
    Held<ULMDepthBufferInternal> depth(ULMDepthBufferInternal::CreateSimple(kULMBoard1, 1, 1));
    ASSERT_NE(depth.GetPointer(), nullptr);
    EXPECT_TRUE(IsObjectType(depth, kObjectTypeULMDepthBufferInternal));
    const tulx7sim::BufferInfo info = Info(depth->GetBuffer());
    EXPECT_EQ(info.board, 1);
    EXPECT_EQ(info.elementBytes, 4);
    EXPECT_EQ(info.reportedSize[0], 32);
    EXPECT_EQ(info.reportedSize[1], 32);
    EXPECT_EQ(depth->Reserved05(), kULMErrUnimplemented);
    for (ULMLocation refused : {kULMAnyBoard, kULMSystem, kULMMultiBoardMode2, kULMBoard3})
        EXPECT_EQ(ULMDepthBufferInternal::CreateSimple(refused, 10, 10), nullptr) << refused;
    EXPECT_EQ(ULMDepthBufferInternal::CreateSimple(kULMBoard0, 0, 10), nullptr);
    EXPECT_EQ(ULMDepthBufferInternal::CreateSimple(kULMBoard0, 10, 0), nullptr);
}

TEST_F(DepthBufferTest, OnlyLowTwentyFourBitWordsAreAccepted) {
    Held<ULMDepthBufferInternal> depth(ULMDepthBufferInternal::CreateSimple(kULMBoard0, 16, 16));
    std::vector<uint32_t> host(16, 0x42);
    const ULMImageRange range(4, 4, 0, 0);
    tulx7sim::ClearRequestLog();
    for (auto format : {ULMDepthBuffer::kDepth24High, ULMDepthBuffer::kDepthFloat}) {
        unsigned width = 0;
        unsigned int* words = nullptr;
        void* any = nullptr;
        EXPECT_EQ(depth->Update(host.data(), range, 0, format), kULMErrArgument);
        EXPECT_EQ(depth->Unload(host.data(), range, 0, format), kULMErrArgument);
        EXPECT_EQ(depth->Map(words, range, width, format), kULMErrArgument);
        EXPECT_EQ(depth->Map(any, range, width, format), kULMErrArgument);
    }
    EXPECT_EQ(tulx7sim::RequestLog().size(), 0u) << "a refused format reached the board";
    EXPECT_EQ(host[0], 0x42u);

    ASSERT_EQ(depth->Update(host.data(), range, 0, ULMDepthBuffer::kDepth24Low), kULMOK);
    EXPECT_EQ(Element<uint32_t>(depth->GetBuffer(), 3, 3), 0x42u);
}

TEST_F(DepthBufferTest, ClearBorderAndLimits) {
    Held<ULMDepthBufferInternal> depth(ULMDepthBufferInternal::CreateSimple(kULMBoard0, 16, 16));
    EXPECT_EQ(depth->Clear(ULMImageRange(4, 2, 3, 5), 0xFFFFFF), kULMOK);
    for (int v = 0; v < 10; ++v)
        for (int u = 0; u < 10; ++u)
            ASSERT_EQ(Element<uint32_t>(depth->GetBuffer(), u, v),
                      u >= 3 && u < 7 && v >= 5 && v < 7 ? 0x00FFFFFFu : Fill<uint32_t>());
    EXPECT_EQ(depth->Clear(ULMImageRange(4, 2, 14, 5), 0), kULMErrArgument);

    for (auto [given, kept] : {std::pair{5u, 5u}, std::pair{0x1000000u, 0xFFFFFFu}}) {
        EXPECT_EQ(depth->SetBorderValue(given), kULMOK);
        EXPECT_EQ(depth->GetBorderValue(), kept);
    }
    // Output limits are stored as given; input limits pass the range rule.
    const ULMImageRange far(10, 10, 5000, -5000);
    EXPECT_EQ(depth->SetOutputLimits(far), kULMOK);
    EXPECT_EQ(depth->GetOutputLimits(), far);
    EXPECT_EQ(depth->SetInputLimits(far), kULMErrArgument);
    EXPECT_TRUE(depth->GetInputLimits().IsEmpty());
}

}  // namespace
}  // namespace ulm3
