// The board compositor against the host one on two boards; refused shapes.
#include "compositing/blend_volume.h"

#include <gtest/gtest.h>

#include <random>

#include "compositing/software_blend_volume.h"
#include "support/context_fixture.h"

namespace ulm3 {
namespace {

struct BoardBlendTest : testing::ContextTest {
    BoardBlendTest() : ContextTest(test_support::SimBoards(2)) {}
    const ULMFieldDescriptor* rgba8 = ULMSoftwareBlendVolume::kTransferFields8;
};

// Three random layers in a 6 x 5 clip at (2, 1) of a 10 x 8 frame, gathered
// in slot 1's stack through its plain volume, composited on the board and on
// the host; nothing lands outside the clip.
TEST_F(BoardBlendTest, AgreesWithTheHostCompositorInBothOrders) {
    const ULMImageRange clip(6, 5, 2, 1), frame(10, 8, 0, 0);
    ULMBlendVolume blend;
    std::vector<uint32_t> layers(90), board(80);
    for (std::mt19937 rng(7); uint32_t& p : layers) p = uint32_t(rng());
    blend.SetBufferNumber(1), blend.SetNumOfSubvolumes(3), blend.SetFieldDescriptors(rgba8);
    ASSERT_EQ(blend.Resize(clip), kULMOK);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(blend.GetVolume(i)->GetBufferLocation(), ULMLocation(i % 2));
    ASSERT_EQ(blend.GetVolume(1)->StartUpdate(layers.data(), ULMVolumeRange(6, 5, 3, 0, 0, 0)).Wait(-1), kULMOK);
    ReleasablePointer<ULMContext> context(ULMContext::Create());
    for (ULMBlendMode mode : {kULMBlendFTB, kULMBlendBTF}) {
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard1, 10, 8, 32, 4, rgba8));
        ASSERT_TRUE(image->Clear(frame, 0) == kULMOK && context->SetBlendMode(mode) == kULMOK);
        ASSERT_EQ(blend.Render(context, image, nullptr).Wait(-1), kULMOK);
        ASSERT_EQ(image->StartUnload(board.data(), frame, 0).Wait(-1), kULMOK);
        ULMSoftwareBlendVolume host;
        host.m_maxImageRange = clip, host.m_blendMode = mode, host.SetNumOfSubvolumes(3);
        host.SetVoxelSizeTransferBuffer(32), host.SetFieldDescriptorsTransferBuffers(rgba8);
        std::vector<uint32_t> t = layers;
        int index[3] = {0, 1, 2};
        ULMImageRange ranges[3] = {clip, clip, clip};
        char* transfers[3] = {reinterpret_cast<char*>(&t[0]), reinterpret_cast<char*>(&t[30]), reinterpret_cast<char*>(&t[60])};
        ASSERT_EQ(host.StartBlend(nullptr, nullptr, index, ranges, nullptr, transfers), kULMOK);
        for (int i = 0; i < 320; ++i) {
            const int x = i / 4 % 10, y = i / 40, k = i % 4 * 8;
            const uint32_t want = x >= 2 && x < 8 && y >= 1 && y < 6 ? t[size_t((y - 1) * 6 + x - 2)] : 0;
            EXPECT_NEAR(board[size_t(i / 4)] >> k & 255, want >> k & 255, 1) << mode << " " << x << "," << y;
        }
    }
}

// Rows {voxel size, sub-volumes}: refused, and no slot is made.
TEST_F(BoardBlendTest, RefusesBadStackShapes) {
    for (const auto& bad : {std::pair{24, 2}, {64, 2}, {32, 0}, {32, 9}}) {
        ULMBlendVolume blend;
        blend.SetVoxelSize(bad.first), blend.SetNumOfSubvolumes(bad.second), blend.SetFieldDescriptors(rgba8);
        EXPECT_EQ(blend.Resize(ULMImageRange(4, 4, 0, 0)), kULMErrArgument) << bad.first << " " << bad.second;
        EXPECT_EQ(blend.GetBuffer(0), nullptr);
    }
}

}  // namespace
}  // namespace ulm3
