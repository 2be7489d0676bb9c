// A render dropped from the board's queue before it ran says so when it is
// waited for, whatever kind of handle the volume gave back: one board's
// event, a combination over the boards of the bands, or the host blend of
// the bricks. A render that had completed when it was aborted stays a
// success, and so does its picture.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "support/context_fixture.h"
#include "tulx7sim/test_api.h"
#include "ulm3.h"

namespace ulm3 {
namespace {

constexpr unsigned kNx = 24, kNy = 20, kNz = 16;
constexpr int kSide = 32;

enum class Handle { kBoard, kCombined, kDeferred };

struct AbortCase {
    const char* name;
    int mode;  // MultiboardRenderMode, 0 for a plain volume on one board
    Handle handle;
};

class AbortedRender : public testing::ContextTest, public ::testing::WithParamInterface<AbortCase> {
protected:
    AbortedRender() : ContextTest(test_support::SimBoards(2)) {}

    void SetUp() override {
        ContextTest::SetUp();
        const AbortCase& c = GetParam();
        ULMSetParameter("MultiboardRenderMode", c.mode == 0 ? 2 : c.mode);
        ULMSetParameter("MultiboardMinVolumeSize", 2);
        ULMSetParameter("Multiboard2ForceRender", 2);
        ULMSetParameter("MultiboardRenderEnable", c.mode == 0 ? 0 : 1);
        std::vector<uint8_t> voxels(size_t(kNx) * kNy * kNz);
        for (size_t i = 0; i < voxels.size(); ++i) voxels[i] = uint8_t(60 + i % 150);
        const ULMFieldDescriptor field{0, 8, kULMUnsignedFraction};
        volume.Assign(ULMVolume::Create(8, kNx, kNy, kNz, 1, &field, voxels.data()));
        ASSERT_NE(volume, nullptr);
        ASSERT_EQ(volume->LockVolume(kULMBoard0), kULMOK);
        table.Assign(ULMLookupTable::Create(256));
        ASSERT_EQ(table->SetRamp(kULMChannelAlpha, 0, 255, 0, 0.2), kULMOK);
        ASSERT_EQ(table->SetRamp(kULMChannelRed, 0, 255, 0, 1), kULMOK);
        context.Assign(ULMContext::Create(table));
        ULMCamera camera;
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-20, 20, -20, 20, -40, 40));
        camera.SetModelMatrix(ULMMatrix::Rotate(20, ULMVector3D(1, 0, 0)) *
                              ULMMatrix::Translate((1.0 - kNx) / 2, (1.0 - kNy) / 2, (1.0 - kNz) / 2));
        camera.SetViewport(0, 0, kSide, kSide);
        ASSERT_EQ(context->SetCamera(camera), kULMOK);
        const ULMFieldDescriptor rgba[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                            {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};
        image.Assign(ULMImageBuffer::Create(volume->GetBufferLocation(), kSide, kSide, 32, 4, rgba));
        ASSERT_NE(image, nullptr);
        // The tables go to the boards with a first render, which waits for
        // them: the render under test then only queues.
        ASSERT_EQ(volume->Render(context, image, nullptr, nullptr, nullptr), kULMOK);
        ASSERT_GT(DrawnPixels(), 0u) << "the view shows the volume";
        ASSERT_EQ(image->Clear(Whole(), 0), kULMOK);
        ASSERT_TRUE(tulx7sim::WaitForIdle(5000));
    }
    void TearDown() override {
        for (int board = 0; board < 2; ++board) tulx7sim::ResumeBoard(board);
        image.Assign(nullptr);
        context.Assign(nullptr);
        table.Assign(nullptr);
        volume.Assign(nullptr);
        ContextTest::TearDown();
    }

    static ULMImageRange Whole() { return ULMImageRange(kSide, kSide, 0, 0); }
    size_t DrawnPixels() {
        std::vector<uint32_t> pixels(size_t(kSide) * kSide, 0xFFFFFFFFu);
        EXPECT_EQ(image->Unload(pixels.data(), Whole(), kSide), kULMOK);
        size_t drawn = 0;
        for (uint32_t p : pixels) drawn += p != 0;
        return drawn;
    }
    static bool IsKind(const ULMSyncEvent& inEvent, Handle inKind) {
        const uint64_t word = SyncEventWord(inEvent);
        switch (inKind) {
            case Handle::kCombined:
                return IsMultiEvent(word);
            case Handle::kDeferred:
                return IsDeferredEvent(word);
            default:
                return !IsStatusCode(word) && !IsMultiEvent(word) && !IsDeferredEvent(word);
        }
    }

    ReleasablePointer<ULMVolume> volume;
    ReleasablePointer<ULMLookupTable> table;
    ReleasablePointer<ULMContext> context;
    ReleasablePointer<ULMImageBuffer> image;
};

TEST_P(AbortedRender, IsReportedAsAborted) {
    for (int board = 0; board < 2; ++board) tulx7sim::PauseBoard(board);
    const ULMSyncEvent queued = volume->StartRender(context, image, nullptr, nullptr, nullptr);
    ASSERT_TRUE(IsKind(queued, GetParam().handle)) << std::hex << SyncEventWord(queued);
    EXPECT_EQ(queued.Abort(), kULMOK);
    for (int board = 0; board < 2; ++board) tulx7sim::ResumeBoard(board);
    EXPECT_EQ(queued.Wait(-1), kULMErrAborted);
    EXPECT_EQ(queued.Wait(0), kULMErrAborted) << "asked again";
    EXPECT_EQ(DrawnPixels(), 0u) << "nothing was drawn";
}

TEST_P(AbortedRender, ThatHadCompletedStaysASuccess) {
    const ULMSyncEvent done = volume->StartRender(context, image, nullptr, nullptr, nullptr);
    ASSERT_TRUE(IsKind(done, GetParam().handle)) << std::hex << SyncEventWord(done);
    ASSERT_EQ(done.Wait(-1), kULMOK);
    EXPECT_EQ(done.Abort(), kULMAlreadyComplete);
    EXPECT_EQ(done.Wait(0), kULMOK);
    EXPECT_GT(DrawnPixels(), 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryHandle, AbortedRender,
                         ::testing::Values(AbortCase{"OneBoard", 0, Handle::kBoard},
                                           AbortCase{"Bands", 1, Handle::kCombined},
                                           AbortCase{"BricksBlendedOnTheHost", 2, Handle::kDeferred}),
                         [](const ::testing::TestParamInfo<AbortCase>& inInfo) { return inInfo.param.name; });

}  // namespace
}  // namespace ulm3
