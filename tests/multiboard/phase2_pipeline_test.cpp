// The bricked volume's renders as an application pipelines them: several
// views started one after the other and waited for afterwards, the volume
// given up before the wait, and a start while a board holds its queue.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "multiboard/phase2_fixture.h"
#include "tulx7sim/test_api.h"
#include "ulm3.h"

namespace ulm3 {
namespace {

// Every board job waits a little first, so that a render's last steps are
// still queued when the application starts the next one, and a board's
// transfers and renders run side by side, held in order only by events.
tulx7sim::SimConfig SlowBoards() {
    tulx7sim::SimConfig config = test_support::SimBoards(2);
    config.latencyMicroseconds = 5000;
    config.mode = tulx7sim::QueueMode::kThreeQueues;
    return config;
}

struct View {
    double tx, ty;
};
constexpr View kViews[] = {{20, 30}, {35, 55}, {10, 15}};
constexpr int kSide = 64;

class Phase2PipelineTest : public testing::Phase2Test {
protected:
    Phase2PipelineTest() : Phase2Test(SlowBoards()) {}

    void SetUp() override {
        Phase2Test::SetUp();
        FillVoxels(24, 28, 20);
        ULMSetParameter("MultiboardMinVolumeSize", 16);
        ULMSetParameter("MultiboardRenderMode", 2);
    }

    // The bricked volume as volume creation makes it: one brick per board.
    ULMVolume* NewBricked() {
        ULMSetParameter("MultiboardRenderEnable", 1);
        ULMVolume* volume = ULMVolume::Create(1u, voxels.data(), unsigned(size[0]), unsigned(size[1]),
                                              unsigned(size[2]), ULMVolume::kSliced);
        ULMSetParameter("MultiboardRenderEnable", 0);
        EXPECT_TRUE(IsObjectType(volume, kObjectTypeULMMultiboardVolumePhase2));
        return volume;
    }
    // Each view rendered and waited for before the next starts.
    std::vector<std::vector<uint32_t>> Alone(ULMVolume* inVolume) {
        std::vector<std::vector<uint32_t>> out;
        for (const View& view : kViews) {
            Aim(view.tx, view.ty, kSide);
            out.push_back(Bricks(inVolume, kSide));
        }
        return out;
    }
};

// Two roads, and whether the volume is given back before the waits: each
// image is its view as rendered alone.
TEST_F(Phase2PipelineTest, ViewsStartedBackToBackEachGiveTheirOwnPicture) {
    const struct {
        int road;  // Multiboard2ForceRender: 1 board, 2 host
        bool releaseFirst;
    } cases[] = {{2, false}, {2, true}, {1, false}, {1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "road " << c.road << (c.releaseFirst ? ", released first" : ""));
        ULMSetParameter("Multiboard2ForceRender", uint64_t(c.road));
        ReleasablePointer<ULMVolume> reference(NewBricked());
        ASSERT_NE(reference, nullptr);
        const auto alone = Alone(reference);
        ASSERT_NE(alone[0], alone[1]);
        ASSERT_NE(alone[1], alone[2]);

        ULMVolume* volume = NewBricked();
        ASSERT_NE(volume, nullptr);
        ASSERT_EQ(volume->LockVolume(kULMAnyBoard), kULMOK);
        std::vector<ReleasablePointer<ULMImageBuffer>> images(std::size(kViews));
        for (auto& image : images) image.Assign(Image(kULMMultiBoardMode2, kSide));
        std::vector<ULMSyncEvent> events;
        // The context is the application's to change once a start returned.
        for (size_t k = 0; k < std::size(kViews); ++k) {
            Aim(kViews[k].tx, kViews[k].ty, kSide);
            events.push_back(volume->StartRender(context, images[k], nullptr, nullptr, nullptr));
            ASSERT_FALSE(ULMFailed(events.back().Status())) << k;
        }
        if (c.releaseFirst) volume->Release();
        for (size_t k = 0; k < events.size(); ++k) EXPECT_EQ(events[k].Wait(-1), kULMOK) << k;
        if (!c.releaseFirst) volume->Release();
        for (size_t k = 0; k < images.size(); ++k) EXPECT_EQ(Pixels(images[k]), alone[k]) << "view " << k;
    }
}

// Board 1 holds its queue while the render starts: the start comes back
// all the same, and the render is done once the board goes on.
TEST_F(Phase2PipelineTest, AStartReturnsWhileABoardIsPaused) {
    for (const int road : {1}) {
        SCOPED_TRACE(::testing::Message() << "road " << road);
        ULMSetParameter("Multiboard2ForceRender", uint64_t(road));
        ReleasablePointer<ULMVolume> volume(NewBricked());
        ASSERT_NE(volume, nullptr);
        // The first render loads each board's tables and waits for them.
        const auto alone = Alone(volume);
        ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, kSide));

        tulx7sim::PauseBoard(1);
        // Only so that a start that waits for the board cannot hang the suite.
        std::mutex lock;
        std::condition_variable started;
        bool returned = false, resumedByWatchdog = false;
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> hold(lock);
            if (!started.wait_for(hold, std::chrono::seconds(20), [&] { return returned; })) {
                resumedByWatchdog = true;
                tulx7sim::ResumeBoard(1);
            }
        });
        const ULMSyncEvent event = volume->StartRender(context, image, nullptr, nullptr, nullptr);
        {
            std::lock_guard<std::mutex> hold(lock);
            returned = true;
        }
        started.notify_one();
        watchdog.join();
        EXPECT_FALSE(resumedByWatchdog) << "the start waited for the paused board";
        if (!resumedByWatchdog) {
            EXPECT_EQ(event.Wait(0), kULMTimeout) << "the paused board's work is pending";
        }
        tulx7sim::ResumeBoard(1);
        EXPECT_EQ(event.Wait(-1), kULMOK);
        EXPECT_EQ(Pixels(image), alone.back());
    }
}

}  // namespace
}  // namespace ulm3
