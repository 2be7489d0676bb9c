// Waits on and aborts of board events, and the close that waits for a
// board's last work, on the simulated driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "board/board_buffer_fixture.h"
#include "board/kwb_board.h"
#include "foundation/sync_event.h"

using namespace ulm3;
using ulm3::test_support::BoardWork;
using ulm3::test_support::SimBoards;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

using KWBBoardWait = ulm3::test_support::BoardBufferTest;

// Every job takes long enough to be caught running.
class SlowBoardWait : public KWBBoardWait {
protected:
    SlowBoardWait()
        : KWBBoardWait(ulm3::testing::Settings([](auto& c) {
              c.boards = 1;
              c.latencyMicroseconds = 300000;
          })) {}
};

// Asks the driver for its queue dump until it shows a running job.
bool WaitUntilRunning(KWBBoard* board) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        board->DumpQueues();
        const auto log = tulx7sim::DriverLog();
        if (std::any_of(log.begin(), log.end(), [](const std::string& line) {
                return line.find("running") != std::string::npos;
            })) {
            return true;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    return false;
}

}  // namespace

TEST_F(KWBBoardWait, AnyAndAllOverEventsOfTwoBoards) {
    BoardWork work0(Board(0));
    BoardWork work1(Board(1));
    tulx7sim::PauseBoard(0);
    tulx7sim::PauseBoard(1);
    ULMSyncEvent events[9] = {work0.QueueRecordedLoad(), work1.QueueRecordedLoad()};
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(Board(0)->WaitForAny(9, events, -1), kULMErrArgument);
    EXPECT_EQ(Board(0)->WaitForAll(0, events, -1), kULMOK);
    EXPECT_TRUE(tulx7sim::RequestLog().empty());

    EXPECT_EQ(Board(0)->WaitForAny(2, events, 20), kULMTimeout);
    tulx7sim::ResumeBoard(1);
    // Board 1's event goes through board 0's connection; board 1 forgets it.
    EXPECT_EQ(Board(0)->WaitForAny(2, events, -1), kULMOK);
    EXPECT_EQ(Board(1)->GetLastLoadEvent(), ULMSyncEvent(kULMOK));
    EXPECT_EQ(Board(0)->GetLastLoadEvent(), events[0]);
    EXPECT_EQ(Board(0)->WaitForAll(2, events, 20), kULMTimeout);
    tulx7sim::ResumeBoard(0);
    EXPECT_EQ(Board(1)->WaitForAll(2, events, -1), kULMOK);
    EXPECT_EQ(Board(0)->GetLastLoadEvent(), ULMSyncEvent(kULMOK));
}

TEST_F(KWBBoardWait, AFailedTransferFailsTheWaitAndStaysTheLastEvent) {
    BoardWork work(Board(0));
    tulx7sim::InjectCompletionFailure(TULX7_DR_BUFFER_LOAD, 1);
    const KWBSyncEvent load = work.QueueRecordedLoad();
    EXPECT_EQ(load.Wait(-1), kULMErrHardware);
    EXPECT_EQ(Board(0)->GetLastLoadEvent(), load);
    work.Release();
    EXPECT_EQ(KWBBoard::Close(0), kULMOK);
}

TEST_F(KWBBoardWait, AbortDropsQueuedWorkOnly) {
    BoardWork work(Board(0));
    tulx7sim::PauseBoard(0);
    const KWBSyncEvent queued = work.QueueLoad();
    EXPECT_EQ(Board(0)->AbortEvent(queued), kULMOK);
    EXPECT_EQ(queued.Wait(1000), kULMErrAborted);
    EXPECT_EQ(tulx7sim::GetStats().jobsAborted, 1u);
    EXPECT_EQ(KWBBoard::commonAbort(queued), kULMAlreadyComplete);
    tulx7sim::ResumeBoard(0);
}

// A transfer dropped before it ran changed nothing: later work does not
// answer for it, while one that failed as it ran stays (above).
TEST_F(KWBBoardWait, AnAbortedTransferIsNoLongerTheLastEvent) {
    BoardWork work(Board(0));
    const KWBSyncEvent earlier = work.QueueRecordedLoad();
    ASSERT_EQ(earlier.Wait(-1), kULMOK);
    tulx7sim::PauseBoard(0);
    const KWBSyncEvent queued = work.QueueRecordedLoad();
    ASSERT_EQ(Board(0)->GetLastLoadEvent(), queued);
    EXPECT_EQ(Board(0)->AbortEvent(queued), kULMOK);
    EXPECT_EQ(Board(0)->GetLastLoadEvent(), ULMSyncEvent(kULMOK));
    // A newer load recorded before the abort stays the last event.
    const KWBSyncEvent second = work.QueueRecordedLoad();
    const KWBSyncEvent third = work.QueueRecordedLoad();
    EXPECT_EQ(Board(0)->AbortEvent(second), kULMOK);
    EXPECT_EQ(Board(0)->GetLastLoadEvent(), third);
    tulx7sim::ResumeBoard(0);
    EXPECT_EQ(queued.Wait(1000), kULMErrAborted);
    EXPECT_EQ(third.Wait(-1), kULMOK);
}

TEST_F(SlowBoardWait, RunningWorkCannotBeStoppedAndGoesOn) {
    BoardWork work(Board(0));
    const KWBSyncEvent running = work.QueueLoad();
    ASSERT_TRUE(WaitUntilRunning(Board(0)));
    EXPECT_EQ(KWBBoard::commonAbort(running), kULMInProgress);
    EXPECT_EQ(running.Wait(-1), kULMOK);
    EXPECT_EQ(tulx7sim::GetStats().jobsAborted, 0u);
}
