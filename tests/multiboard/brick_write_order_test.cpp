// A write into a brick and a render of the bricked volume, each queued while
// the board of the other is paused: the picture is the one of the voxels
// before the write when the render was started first, and of the voxels
// after it when the write was, never a mix of the two.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "multiboard/phase2_fixture.h"
#include "tulx7sim/test_api.h"

namespace ulm3 {
namespace {

using testing::kRGBA8;

class BrickWriteOrderTest : public testing::Phase2Test {
protected:
    static constexpr int kSide = 96;

    void SetUp() override {
        Phase2Test::SetUp();
        bricked.Assign(Bricked(2));
        ASSERT_NE(bricked, nullptr);
        ASSERT_EQ(bricked->Brick(0).m_location, 0);
        ASSERT_EQ(bricked->Brick(1).m_location, 1);
        newVoxels.resize(voxels.size());
        for (size_t i = 0; i < newVoxels.size(); ++i) newVoxels[i] = uint8_t(255 - voxels[i] / 2);
        source.Assign(ULMVolumeInternal::CreateSimpleVolume(8, ULMVolumeRange(size[0], size[1], size[2], 0, 0, 0), 1,
                                                            &kRGBA8[0], newVoxels.data()));
        ASSERT_NE(source, nullptr);
        ASSERT_EQ(source->LockVolume(kULMBoard0), kULMOK);
        // The slices brick 1 loads and brick 0 does not: the write reaches
        // brick 1 alone, straight from board 0.
        const ULMVolumeRange& first = bricked->Brick(0).m_loadRange;
        box = ULMVolumeRange(size[0], size[1], size[2], 0, 0, 0);
        for (int axis = 0; axis < 3; ++axis) {
            const int end = first.m_origin[axis] + first.m_size[axis];
            if (end >= size[axis]) continue;
            box.m_origin[axis] = end;
            box.m_size[axis] = size[axis] - end;
        }
        ASSERT_FALSE(box == ULMVolumeRange(size[0], size[1], size[2], 0, 0, 0)) << "brick 0 holds every voxel";
        Aim(20, 30, kSide);
        image.Assign(Image(kULMMultiBoardMode2, kSide));
        ASSERT_NE(image, nullptr);
    }
    void TearDown() override {
        image.Assign(nullptr);
        source.Assign(nullptr);
        bricked.Assign(nullptr);
        Phase2Test::TearDown();
    }

    // Brick 1's part of the box, copied straight from board 0.
    ULMSyncEvent StartWrite() {
        return bricked->StartUpdate(source, box, box.XOrigin(), box.YOrigin(), box.ZOrigin(), kULMUseBuffer);
    }
    void ClearImage() { EXPECT_EQ(image->Clear(ULMImageRange(kSide, kSide, 0, 0), 0), kULMOK); }
    ULMSyncEvent StartRender() { return bricked->StartRender(context, image, nullptr, nullptr, nullptr); }
    // The picture of the voxels the bricks hold now, nothing else queued.
    std::vector<uint32_t> Settled() {
        ClearImage();
        EXPECT_EQ(StartRender().Wait(-1), kULMOK);
        return Pixels(image);
    }
    void PutBack() { ASSERT_EQ(bricked->Update(voxels.data(), bricked->GetRange()), kULMOK); }

    // inStarts run while board inPaused holds its queue; a start that waited
    // for the board would hang, so a watchdog lets it go after a while.
    template <typename Starts>
    void WhilePaused(int inPaused, Starts&& inStarts) {
        tulx7sim::PauseBoard(inPaused);
        std::mutex lock;
        std::condition_variable returned;
        bool done = false, resumed = false;
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> hold(lock);
            if (!returned.wait_for(hold, std::chrono::seconds(20), [&] { return done; })) {
                resumed = true;
                tulx7sim::ResumeBoard(inPaused);
            }
        });
        inStarts();
        {
            std::lock_guard<std::mutex> hold(lock);
            done = true;
        }
        returned.notify_one();
        watchdog.join();
        EXPECT_FALSE(resumed) << "a start waited for the paused board";
        if (!resumed) tulx7sim::ResumeBoard(inPaused);
    }

    ReleasablePointer<ULMMultiboardVolumePhase2> bricked;
    ReleasablePointer<ULMVolumeInternal> source;
    ReleasablePointer<ULMImageBuffer> image;
    std::vector<uint8_t> newVoxels;
    ULMVolumeRange box;
};

// The earlier start runs while the board of the later one's work is
// paused, the later one's work on the other board: it finds the earlier
// work still queued.
TEST_F(BrickWriteOrderTest, TheRenderDrawsTheVoxelsOfACopyStartedBeforeItAndNotOfOneAfter) {
    PutBack();
    const std::vector<uint32_t> before = Settled();
    ASSERT_EQ(StartWrite().Wait(-1), kULMOK);
    const std::vector<uint32_t> after = Settled();
    ASSERT_NE(before, after) << "the copy changes the picture";

    for (const bool renderFirst : {false, true}) {
        SCOPED_TRACE(renderFirst ? "the copy after the render" : "the copy before the render");
        PutBack();
        ClearImage();
        ULMSyncEvent written, rendered;
        if (renderFirst) {
            WhilePaused(1, [&] {
                rendered = StartRender();
                written = StartWrite();
            });
        } else {
            WhilePaused(0, [&] {
                written = StartWrite();
                rendered = StartRender();
            });
        }
        ASSERT_EQ(written.Wait(-1), kULMOK);
        ASSERT_EQ(rendered.Wait(-1), kULMOK);
        EXPECT_TRUE(Pixels(image) == (renderFirst ? before : after))
            << (renderFirst ? "the render drew voxels copied after it started"
                            : "the render missed voxels copied before it started");
        EXPECT_TRUE(Settled() == after);
    }
}

}  // namespace
}  // namespace ulm3
