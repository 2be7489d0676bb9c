// The location-independent depth buffer: the format rule, full-size copies
// under the second multiboard scheme, clamped borders, and addressing that
// survives moves.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "omni_test_fixture.h"

namespace ulm3 {
namespace {

using test_support::Held;
using test_support::OmniBoardsTest;
using test_support::OmniTest;

constexpr auto kLow = ULMDepthBuffer::kDepth24Low;

TEST_F(OmniTest, DepthFormatsOtherThanLowAreRefusedFirst) {
    for (ULMLocation location : {kULMSystem, kULMBoard0, kULMMultiBoardMode1}) {
        Held<ULMOmniDepthBuffer> depth(Depth(location, 8, 8));
        ASSERT_NE(depth.GetPointer(), nullptr);
        const std::vector<uint32_t> in(64, 0x123456);
        ASSERT_EQ(depth->Update(in.data(), ULMImageRange(8, 8, 0, 0), 0, kLow), kULMOK);
        const ULMImageRange outside(8, 8, 4, 4);
        std::vector<uint32_t> out(64, 0);
        unsigned* mapped = nullptr;
        unsigned width = 0;
        for (auto format : {ULMDepthBuffer::kDepth24High, ULMDepthBuffer::kDepthFloat}) {
            EXPECT_EQ(depth->Update(out.data(), outside, 0, format), kULMErrArgument);
            EXPECT_EQ(depth->StartUnload(out.data(), outside, 0, format).Status(), kULMErrArgument);
            EXPECT_EQ(depth->Map(mapped, outside, width, format), kULMErrArgument);
        }
        EXPECT_EQ(depth->Update(out.data(), outside, 0, kLow), kULMErrArgument);
        EXPECT_EQ(depth->Update(nullptr, ULMImageRange(2, 2, 0, 0), 0, kLow), kULMErrArgument);
        EXPECT_EQ(Words(depth), in) << location;
        // No depth operation refuses an empty range.
        EXPECT_EQ(depth->Update(in.data(), ULMImageRange(0, 3, 1, 1), 0, kLow), kULMOK) << location;
        EXPECT_EQ(depth->Clear(ULMImageRange(3, 0, 1, 1), 7), kULMOK) << location;
    }
}

TEST_F(OmniTest, SecondSchemeKeepsACopyOnEachBoard) {
    UseBoards(4);
    Held<ULMOmniDepthBuffer> depth(Depth(kULMMultiBoardMode2, 24, 24));
    ASSERT_NE(depth.GetPointer(), nullptr);
    ASSERT_EQ(depth->GetNumberBuffers(), 4);
    for (int b = 0; b < 4; ++b) {
        EXPECT_EQ(depth->GetSubDepthBuffer(b)->GetLocation(), b);
        EXPECT_EQ(depth->GetSubImageRange(b), ULMImageRange(24, 24, 0, 0));
    }
    ASSERT_EQ(depth->Clear(ULMImageRange(24, 24, 0, 0), 0xABCDEF), kULMOK);
    const std::vector<uint32_t> in = Random<uint32_t>(10 * 10, 8);
    ASSERT_EQ(depth->Update(in.data(), ULMImageRange(10, 10, 3, 4), 0, kLow), kULMOK);
    for (int b = 0; b < 4; ++b) {
        const KWBBuffer* copy = depth->GetSubDepthBuffer(b)->GetBuffer();
        EXPECT_EQ(Element<uint32_t>(copy, 0, 0), 0xABCDEFu) << b;
        EXPECT_EQ(Element<uint32_t>(copy, 5, 6), in[2 * 10 + 2]) << b;
    }
    // The first copy is the one read.
    SetElement<uint32_t>(depth->GetSubDepthBuffer(1)->GetBuffer(), 0, 0, 0, 1u);
    EXPECT_EQ(Words(depth)[0], 0xABCDEFu);
    SetElement<uint32_t>(depth->GetSubDepthBuffer(0)->GetBuffer(), 0, 0, 0, 2u);
    EXPECT_EQ(Words(depth)[0], 2u);

    // A mapped edit is written back into every copy.
    unsigned* mapped = nullptr;
    unsigned width = 0;
    ASSERT_EQ(depth->Map(mapped, ULMImageRange(4, 4, 20, 20), width, kLow), kULMOK);
    mapped[1 * width + 2] = 0x77;
    ASSERT_EQ(depth->Unmap(mapped), kULMOK);
    for (int b = 0; b < 4; ++b)
        EXPECT_EQ(Element<uint32_t>(depth->GetSubDepthBuffer(b)->GetBuffer(), 22, 21), 0x77u) << b;

    ASSERT_EQ(depth->SetBorderValue(0x1000000), kULMOK);
    EXPECT_EQ(depth->GetBorderValue(), 0xFFFFFFu);
    EXPECT_EQ(depth->GetSubDepthBuffer(3)->GetBorderValue(), 0xFFFFFFu);
    ASSERT_EQ(depth->SetOffset(4, 2), kULMOK);
    ASSERT_EQ(depth->SetWrap(16, 16), kULMOK);
    ULMAddressMode mode;
    int x = 0, y = 0;
    depth->GetAddressParameters(mode, x, y);
    EXPECT_EQ(mode, kULMWrapAddress);
    EXPECT_EQ(x, 16);
    EXPECT_EQ(y, 16);
    EXPECT_EQ(depth->GetSubDepthBuffer(2)->GetAddressMode(), kULMWrapAddress);
}

// A part made by a move after an offset change must not take the offset
// twice on the next change.
TEST_P(OmniBoardsTest, DepthOffsetsSurviveMoves) {
    Held<ULMOmniDepthBuffer> depth(Depth(kULMBoard0, 20, 20));
    ASSERT_NE(depth.GetPointer(), nullptr);
    ASSERT_EQ(depth->SetOffset(4, 2), kULMOK);
    ASSERT_EQ(depth->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    const std::vector<uint32_t> in = Random<uint32_t>(20 * 20, 9);
    ASSERT_EQ(depth->Update(in.data(), ULMImageRange(20, 20, 4, 2), 0, kLow), kULMOK);
    for (ULMLocation to : {kULMSystem, LastBoard(), kULMMultiBoardMode2, kULMBoard0}) {
        ASSERT_EQ(depth->Migrate(to), kULMOK) << to;
        EXPECT_EQ(Words(depth), in) << to;
    }
    ASSERT_EQ(depth->SetOffset(6, 6), kULMOK);
    EXPECT_EQ(depth->GetDepthBuffer()->GetAddressParameterX(), 6);
    EXPECT_EQ(depth->GetDepthBuffer()->GetAddressParameterY(), 6);
    std::vector<uint32_t> out(20 * 20, 0);
    ASSERT_EQ(depth->Unload(out.data(), ULMImageRange(20, 20, 6, 6), 0, kLow), kULMOK);
    EXPECT_EQ(out, in);
}

}  // namespace
}  // namespace ulm3
