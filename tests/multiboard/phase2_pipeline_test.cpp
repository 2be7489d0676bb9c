// The bricked volume's renders as an application pipelines them: several
// views started one after the other and waited for afterwards, the volume
// given up before the wait, a start while a board holds its queue, and, on
// the host road, work on the output and uses of the handle while the blend
// still waits for the boards.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/sync_event.h"
#include "multiboard/phase2_fixture.h"
#include "tulx7sim/test_api.h"
#include "ulm3.h"

namespace ulm3 {
namespace {

// Every board job waits a little first, so that a render's last steps are
// still queued when the application starts the next one, and a board's
// transfers and renders run side by side, held in order only by events.
tulx7sim::SimConfig SlowBoards(int inBoards = 2) {
    tulx7sim::SimConfig config = test_support::SimBoards(inBoards);
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
    explicit Phase2PipelineTest(int inBoards = 2) : Phase2Test(SlowBoards(inBoards)) {}

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
    // inStarts run while board inPaused holds its queue, which it still
    // holds on return unless the watchdog had to let it go: a start that
    // waits for the board would otherwise hang the suite.
    template <typename Starts>
    void WhilePaused(int inPaused, Starts&& inStarts) {
        tulx7sim::PauseBoard(inPaused);
        std::mutex lock;
        std::condition_variable started;
        bool returned = false;
        bool resumed = false;
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> hold(lock);
            if (!started.wait_for(hold, std::chrono::seconds(20), [&] { return returned; })) {
                resumed = true;
                tulx7sim::ResumeBoard(inPaused);
            }
        });
        inStarts();
        {
            std::lock_guard<std::mutex> hold(lock);
            returned = true;
        }
        started.notify_one();
        watchdog.join();
        resumedByWatchdog = resumed;
        EXPECT_FALSE(resumed) << "a start waited for the paused board";
    }
    ULMSyncEvent StartWhileBoard1Paused(ULMVolume* inVolume, ULMImageBuffer* ioImage, int inPaused = 1) {
        ULMSyncEvent event;
        WhilePaused(inPaused, [&] { event = inVolume->StartRender(context, ioImage, nullptr, nullptr, nullptr); });
        EXPECT_FALSE(ULMFailed(event.Status()));
        return event;
    }
    bool resumedByWatchdog = false;

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
// all the same, and the render is done once the board goes on. On the host
// road the blend waits for the board's work, so it runs on the waiting
// thread.
TEST_F(Phase2PipelineTest, AStartReturnsWhileABoardIsPaused) {
    for (const int road : {1, 2}) {
        SCOPED_TRACE(::testing::Message() << "road " << road);
        ULMSetParameter("Multiboard2ForceRender", uint64_t(road));
        ReleasablePointer<ULMVolume> volume(NewBricked());
        ASSERT_NE(volume, nullptr);
        // The first render loads each board's tables and waits for them.
        const auto alone = Alone(volume);
        ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, kSide));

        const ULMSyncEvent event = StartWhileBoard1Paused(volume, image);
        if (!resumedByWatchdog) {
            EXPECT_EQ(event.Wait(0), kULMTimeout) << "the paused board's work is pending";
        }
        tulx7sim::ResumeBoard(1);
        EXPECT_EQ(event.Wait(-1), kULMOK);
        EXPECT_EQ(Pixels(image), alone.back());
    }
}

// Boards 0 and 1 are peers, and so are 2 and 3: the partial images of the
// bricks on the boards that are not the compositing board's peer go to it
// through the host. The start comes back while either a peer or such a
// board holds its queue, on both roads, and the picture is the one
// rendered without the pause.
class Phase2PipelineOnMoreBoards : public Phase2PipelineTest, public ::testing::WithParamInterface<int> {
protected:
    Phase2PipelineOnMoreBoards() : Phase2PipelineTest(GetParam()) {}
};

TEST_P(Phase2PipelineOnMoreBoards, AStartReturnsWhileABoardIsPaused) {
    for (const int road : {1, 2}) {
        for (const int paused : {1, 2}) {
            SCOPED_TRACE(::testing::Message() << "road " << road << ", board " << paused << " paused");
            ULMSetParameter("Multiboard2ForceRender", uint64_t(road));
            ReleasablePointer<ULMVolume> volume(NewBricked());
            ASSERT_NE(volume, nullptr);
            const auto alone = Alone(volume);
            ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, kSide));

            const ULMSyncEvent event = StartWhileBoard1Paused(volume, image, paused);
            if (!resumedByWatchdog) {
                EXPECT_EQ(event.Wait(0), kULMTimeout) << "the paused board's work is pending";
            }
            tulx7sim::ResumeBoard(paused);
            EXPECT_EQ(event.Wait(-1), kULMOK);
            EXPECT_EQ(Pixels(image), alone.back());
        }
    }
}

// Views started back to back while a board holds its queue: a render
// whose stack an earlier one's composite still waits to read takes another,
// and the handles the starts join (more than a combination takes from five
// bricks up) wait for nothing. Each picture is its view's alone.
TEST_P(Phase2PipelineOnMoreBoards, ViewsStartedBackToBackReturnWhileABoardIsPaused) {
    const int last = GetParam() - 1;
    for (const int road : {1, 2}) {
        for (const int paused : {1, last}) {
            SCOPED_TRACE(::testing::Message() << "road " << road << ", board " << paused << " paused");
            ULMSetParameter("Multiboard2ForceRender", uint64_t(road));
            ReleasablePointer<ULMVolume> volume(NewBricked());
            ASSERT_NE(volume, nullptr);
            const auto alone = Alone(volume);
            std::vector<ReleasablePointer<ULMImageBuffer>> images(std::size(kViews));
            for (auto& image : images) image.Assign(Image(kULMMultiBoardMode2, kSide));
            std::vector<ULMSyncEvent> events;
            WhilePaused(paused, [&] {
                for (size_t k = 0; k < std::size(kViews); ++k) {
                    Aim(kViews[k].tx, kViews[k].ty, kSide);
                    events.push_back(volume->StartRender(context, images[k], nullptr, nullptr, nullptr));
                }
            });
            for (const ULMSyncEvent& event : events) EXPECT_FALSE(ULMFailed(event.Status()));
            if (!resumedByWatchdog) {
                EXPECT_EQ(events.back().Wait(0), kULMTimeout) << "the paused board's work is pending";
            }
            tulx7sim::ResumeBoard(paused);
            for (size_t k = 0; k < events.size(); ++k) EXPECT_EQ(events[k].Wait(-1), kULMOK) << k;
            for (size_t k = 0; k < images.size(); ++k) EXPECT_EQ(Pixels(images[k]), alone[k]) << "view " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ThreeToFive, Phase2PipelineOnMoreBoards, ::testing::Values(3, 4, 5));

// On three boards the partial image of the brick on board 2 reaches a
// stack on board 0 through the host, and the composite waits for that copy
// as a step of its own. The views here put brick 0, on board 0, nearest.
// The boards have run all of the first render's work but that composite
// (or, on the host road, the blend's write into the output) when the next
// render starts: a poll of the first render's handle between the two
// starts sets the copy or the blend going. The first render's frame and
// stack stay its own until its composite or its write has run, and each
// picture is its view's alone.
class Phase2PipelineOnThreeBoards : public Phase2PipelineTest {
protected:
    Phase2PipelineOnThreeBoards() : Phase2PipelineTest(3) {}
};

TEST_F(Phase2PipelineOnThreeBoards, ANewStartTakesNoFrameWhoseCompositeHasNotRun) {
    const View views[2] = {{200, 30}, {190, 15}};
    const struct {
        int road;     // Multiboard2ForceRender: 1 board, 2 host
        bool settle;  // the boards idle again after the poll
    } cases[] = {{1, true}, {1, false}, {2, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "road " << c.road << (c.settle ? ", settled after the poll" : ""));
        ULMSetParameter("Multiboard2ForceRender", uint64_t(c.road));
        ReleasablePointer<ULMVolume> volume(NewBricked());
        ASSERT_NE(volume, nullptr);
        std::vector<uint32_t> alone[2];
        for (int k = 0; k < 2; ++k) {
            Aim(views[k].tx, views[k].ty, kSide);
            alone[k] = Bricks(volume, kSide);
        }
        ASSERT_NE(alone[0], alone[1]);
        ReleasablePointer<ULMImageBuffer> images[2] = {ReleasablePointer<ULMImageBuffer>(Image(kULMMultiBoardMode2, kSide)),
                                                       ReleasablePointer<ULMImageBuffer>(Image(kULMMultiBoardMode2, kSide))};
        ULMSyncEvent events[2];
        Aim(views[0].tx, views[0].ty, kSide);
        events[0] = volume->StartRender(context, images[0], nullptr, nullptr, nullptr);
        ASSERT_FALSE(ULMFailed(events[0].Status()));
        ASSERT_TRUE(tulx7sim::WaitForIdle(20000));
        // The poll: on a loaded machine the step it runs may take long
        // enough for the write it queues to be done by its end.
        static_cast<void>(events[0].IsDone());
        if (c.settle) {
            ASSERT_TRUE(tulx7sim::WaitForIdle(20000));
        }
        Aim(views[1].tx, views[1].ty, kSide);
        events[1] = volume->StartRender(context, images[1], nullptr, nullptr, nullptr);
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(events[k].Wait(-1), kULMOK) << k;
            EXPECT_EQ(Pixels(images[k]), alone[k]) << "view " << k;
        }
    }
}

// The host road's blend is queued on no board: work the application puts on
// the output afterwards, without waiting for the render, still comes after
// it. An output or volume given up before the wait is no fault.
TEST_F(Phase2PipelineTest, WorkOnTheOutputAfterAHostStartComesAfterTheBlend) {
    ULMSetParameter("Multiboard2ForceRender", uint64_t(2));
    ReleasablePointer<ULMVolume> volume(NewBricked());
    ASSERT_NE(volume, nullptr);
    const auto alone = Alone(volume);
    ASSERT_NE(alone.back(), std::vector<uint32_t>(alone.back().size(), 0u));

    {
        SCOPED_TRACE("an unload");
        ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, kSide));
        const ULMSyncEvent event = StartWhileBoard1Paused(volume, image);
        tulx7sim::ResumeBoard(1);
        EXPECT_EQ(Pixels(image), alone.back());
        EXPECT_EQ(event.Wait(-1), kULMOK);
    }
    // Maps through the driver, and maps the library makes of a host copy.
    for (const int simulated : {0, 1}) {
        SCOPED_TRACE(::testing::Message() << "a map, SimulateMap " << simulated);
        ULMSetParameter("SimulateMap", uint64_t(simulated));
        ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, kSide));
        const ULMSyncEvent event = StartWhileBoard1Paused(volume, image);
        tulx7sim::ResumeBoard(1);
        void* pixels = nullptr;
        unsigned width = 0;
        const ULMImageRange whole(kSide, kSide, 0, 0);
        ASSERT_EQ(image->Map(pixels, whole, width), kULMOK);
        std::vector<uint32_t> mapped;
        for (int y = 0; y < kSide; ++y) {
            const auto* row = static_cast<const uint32_t*>(pixels) + size_t(y) * width;
            mapped.insert(mapped.end(), row, row + kSide);
        }
        EXPECT_EQ(image->Unmap(pixels), kULMOK);
        EXPECT_EQ(mapped, alone.back());
        EXPECT_EQ(event.Wait(-1), kULMOK);
    }
    ULMSetParameter("SimulateMap", uint64_t(1));
    // Two views into one output, both blends still to run when the second
    // starts: the later view is the picture, whichever is waited for first.
    for (const bool earlierFirst : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "another view rendered into the same output, the "
                                          << (earlierFirst ? "earlier" : "later") << " waited for first");
        ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, kSide));
        Aim(kViews[0].tx, kViews[0].ty, kSide);
        ULMSyncEvent events[2];
        events[0] = StartWhileBoard1Paused(volume, image);
        tulx7sim::ResumeBoard(1);
        Aim(kViews[2].tx, kViews[2].ty, kSide);
        events[1] = volume->StartRender(context, image, nullptr, nullptr, nullptr);
        EXPECT_EQ(events[earlierFirst ? 0 : 1].Wait(-1), kULMOK);
        EXPECT_EQ(events[earlierFirst ? 1 : 0].Wait(-1), kULMOK);
        EXPECT_EQ(Pixels(image), alone.back());
    }
    {
        SCOPED_TRACE("the output and then the volume given up before the wait");
        ReleasablePointer<ULMVolume> other(NewBricked());
        ASSERT_NE(other, nullptr);
        ASSERT_EQ(other->LockVolume(kULMAnyBoard), kULMOK);
        ULMImageBuffer* image = Image(kULMMultiBoardMode2, kSide);
        const ULMSyncEvent event = StartWhileBoard1Paused(other, image);
        image->Release();
        tulx7sim::ResumeBoard(1);
        other.Assign(nullptr);
        EXPECT_EQ(event.Wait(-1), kULMOK);
    }
}

// The handle of a host road's render while its blend waits for a paused
// board, then once the board goes on: polled, waited for among others or on
// several threads, aborted, and combined.
TEST_F(Phase2PipelineTest, AHostStartsHandleIsPolledWaitedForAndCombined) {
    ULMSetParameter("Multiboard2ForceRender", uint64_t(2));
    ReleasablePointer<ULMVolume> volume(NewBricked());
    ASSERT_NE(volume, nullptr);
    const auto alone = Alone(volume);
    {
        SCOPED_TRACE("polled and waited for among others");
        ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, kSide));
        ULMSyncEvent event = StartWhileBoard1Paused(volume, image);
        if (!resumedByWatchdog) {
            EXPECT_FALSE(event.IsDone());
            EXPECT_EQ(ULMSyncEvent::WaitForAny(1, &event, 0), kULMInProgress);
        }
        tulx7sim::ResumeBoard(1);
        EXPECT_EQ(ULMSyncEvent::WaitForAny(1, &event, -1), kULMOK);
        EXPECT_TRUE(event.IsDone());
        EXPECT_EQ(event.Wait(0), kULMOK);
        EXPECT_EQ(Pixels(image), alone.back());
    }
    {
        SCOPED_TRACE("waited for on several threads at once");
        ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, kSide));
        const ULMSyncEvent event = StartWhileBoard1Paused(volume, image);
        std::vector<ULMStatus> waited(3, kULMErrArgument);
        std::vector<std::thread> waiters;
        for (ULMStatus& status : waited) waiters.emplace_back([&event, &status] { status = event.Wait(-1); });
        tulx7sim::ResumeBoard(1);
        for (std::thread& waiter : waiters) waiter.join();
        for (const ULMStatus status : waited) EXPECT_EQ(status, kULMOK);
        EXPECT_EQ(Pixels(image), alone.back());
    }
    {
        SCOPED_TRACE("aborted");
        ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, kSide));
        ASSERT_EQ(image->Clear(ULMImageRange(kSide, kSide, 0, 0), 0x12345678u), kULMOK);
        const ULMSyncEvent event = StartWhileBoard1Paused(volume, image);
        EXPECT_NE(event.Abort(), kULMErrArgument);
        tulx7sim::ResumeBoard(1);
        EXPECT_EQ(event.Wait(-1), kULMErrAborted);
        EXPECT_EQ(Pixels(image), std::vector<uint32_t>(size_t(kSide) * kSide, 0x12345678u)) << "the blend was dropped";
        // The boards go on with the next render.
        EXPECT_EQ(Bricks(volume, kSide), alone.back());
    }
    {
        SCOPED_TRACE("combined with another render's");
        ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, kSide));
        ReleasablePointer<ULMImageBuffer> second(Image(kULMMultiBoardMode2, kSide));
        ULMSyncEvent events[2];
        events[0] = StartWhileBoard1Paused(volume, image);
        tulx7sim::ResumeBoard(1);
        events[1] = volume->StartRender(context, second, nullptr, nullptr, nullptr);
        const ULMSyncEvent both = CombineMultipleEvents(2, events);
        EXPECT_EQ(both.Wait(-1), kULMOK);
        EXPECT_TRUE(events[0].IsDone());
        EXPECT_TRUE(events[1].IsDone());
        EXPECT_EQ(Pixels(image), alone.back());
        EXPECT_EQ(Pixels(second), alone.back());
    }
}

}  // namespace
}  // namespace ulm3
