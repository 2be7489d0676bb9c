// Sync-event handles and combined events, waited on and aborted through the
// simulated boards.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "board/kwb_board.h"
#include "foundation/sync_event.h"
#include "support/sim_library_fixture.h"

using namespace ulm3;
using ulm3::test_support::BoardWork;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

uint32_t DriverId(const ULMSyncEvent& event) { return KWBSyncEvent(event).GetDriverEventID(); }

// The events named by the driver requests of one kind, in the order asked.
std::vector<uint32_t> Asked(uint32_t code) {
    std::vector<uint32_t> found;
    for (const auto& entry : tulx7sim::RequestLog())
        if (entry.code == code) found.insert(found.end(), entry.dependencies.begin(), entry.dependencies.end());
    return found;
}

// Resumes the given boards after a while, from another thread.
std::thread ResumeLater(int ms, std::vector<int> boards, std::atomic<bool>* resumed = nullptr) {
    return std::thread([=] {
        std::this_thread::sleep_for(milliseconds(ms));
        if (resumed != nullptr) *resumed = true;
        for (int b : boards) tulx7sim::ResumeBoard(b);
    });
}

// Two open boards with a scratch buffer each.
class SyncEventOnBoards : public ulm3::test_support::SimLibraryTest {
protected:
    void SetUp() override {
        SimLibraryTest::SetUp();
        for (int b = 0; b < 2; ++b) {
            ULMStatus status = kULMErrInternal;
            KWBBoard* board = KWBBoard::Open(b, status, false);
            ASSERT_EQ(status, kULMOK);
            m_work[b] = std::make_unique<BoardWork>(board);
        }
    }
    void TearDown() override {
        for (int b = 0; b < 2; ++b) tulx7sim::ResumeBoard(b);
        for (auto& work : m_work) work.reset();
        SimLibraryTest::TearDown();
    }
    KWBSyncEvent Pending(int board) {
        tulx7sim::PauseBoard(board);
        return m_work[board]->QueueLoad();
    }
    KWBSyncEvent Finished(int board) {
        const KWBSyncEvent event = m_work[board]->QueueLoad();
        EXPECT_EQ(event.Wait(-1), kULMOK);
        return event;
    }
    std::unique_ptr<BoardWork> m_work[2];
};

}  // namespace

TEST_F(SyncEventOnBoards, ACombinedWaitCoversEveryEventAndIsRememberedOnceDone) {
    const ULMSyncEvent events[] = {Pending(0), Pending(1)};
    const ULMSyncEvent combined = CombineMultipleEvents(2, events);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(combined.Wait(40), kULMTimeout);
    EXPECT_GE(Clock::now() - start, milliseconds(40));
    EXPECT_FALSE(combined.IsDone());
    tulx7sim::ResumeBoard(1);
    EXPECT_EQ(combined.Wait(30), kULMTimeout) << "board 0 still holds its event";
    tulx7sim::ResumeBoard(0);
    EXPECT_EQ(combined.Wait(-1), kULMOK);
    EXPECT_TRUE(events[0].Wait(0) == kULMOK && events[1].Wait(0) == kULMOK);
    // Complete, yet Status() never asks the board.
    EXPECT_EQ(events[0].Status(), kULMInProgress);
    EXPECT_TRUE(events[0].IsDone());

    tulx7sim::ClearRequestLog();
    EXPECT_EQ(combined.Wait(-1), kULMOK);
    EXPECT_TRUE(combined.IsDone());
    EXPECT_TRUE(Asked(TULX7_DR_SYNC).empty());
    EXPECT_EQ(combined.Abort(), kULMAlreadyComplete);

    // Waiting for any: a finished input answers at once, whatever it holds.
    ULMSyncEvent anyOf[] = {Pending(0), ULMSyncEvent(kULMErrHardware)};
    EXPECT_EQ(ULMSyncEvent::WaitForAny(2, anyOf, -1), kULMOK);
}

// Combinations of combinations of combinations do not fit one slot: the
// surplus is combined behind the oldest rather than dropped, and rather
// than waited for, so that combining returns while the board is paused; a
// failure among any of them is not lost, and the whole is done only once
// every one is.
TEST_F(SyncEventOnBoards, MoreThanSixtyFourEventsAreKeptWithoutAWait) {
    for (const bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "a load fails" : "all succeed");
        if (fail) tulx7sim::InjectCompletionFailure(TULX7_DR_BUFFER_LOAD, 1);
        tulx7sim::PauseBoard(0);
        std::vector<ULMSyncEvent> all;
        std::vector<ULMSyncEvent> level2;
        for (int i = 0; i < 2; ++i) {
            std::vector<ULMSyncEvent> level1;
            for (int j = 0; j < 8; ++j) {
                ULMSyncEvent eight[8];
                for (ULMSyncEvent& e : eight) all.push_back(e = m_work[0]->QueueLoad());
                level1.push_back(CombineMultipleEvents(8, eight));
            }
            level2.push_back(CombineMultipleEvents(8, level1.data()));
        }
        std::atomic<bool> resumed{false};
        std::thread resumer = ResumeLater(500, {0}, &resumed);
        const ULMSyncEvent combined = CombineMultipleEvents(2, level2.data());
        EXPECT_FALSE(resumed) << "combining waited for the board";
        EXPECT_EQ(combined.Wait(0), kULMTimeout);
        resumer.join();
        EXPECT_EQ(combined.Wait(-1), fail ? kULMErrHardware : kULMOK);
        for (const ULMSyncEvent& e : all) EXPECT_TRUE(e.IsDone());
    }
}

// A failure that had already happened fails the combination, but only once
// the work beside it is over: a caller that frees what that work reads when
// the wait fails must not free it under a running board. The failure stays
// with the combination when it is combined again, and once it is waited for.
TEST_F(SyncEventOnBoards, AFailedInputFailsTheCombinationOnlyWhenTheOthersAreDone) {
    const ULMSyncEvent running = Pending(0);
    const ULMSyncEvent inputs[] = {ULMSyncEvent(kULMErrHardware), running};
    const ULMSyncEvent combined = CombineMultipleEvents(2, inputs);
    EXPECT_EQ(combined.Wait(30), kULMTimeout);
    EXPECT_FALSE(combined.IsDone());
    const ULMSyncEvent outer[] = {combined, Finished(1)};
    const ULMSyncEvent again = CombineMultipleEvents(2, outer);
    EXPECT_EQ(again.Wait(30), kULMTimeout) << "the failure is carried, the wait too";
    tulx7sim::ResumeBoard(0);
    EXPECT_EQ(again.Wait(-1), kULMErrHardware);
    EXPECT_TRUE(running.IsDone());
    EXPECT_EQ(combined.Wait(-1), kULMErrHardware);
    EXPECT_EQ(combined.Wait(-1), kULMErrHardware) << "and stays once waited for";
    // With nothing left to wait for the failure comes back at once.
    const ULMSyncEvent done[] = {Finished(0), ULMSyncEvent(kULMErrVolume)};
    EXPECT_EQ(CombineMultipleEvents(2, done).Wait(0), kULMErrVolume);
}

// The same across boards: a load that failed on one board does not end the
// wait while another board still runs its work.
TEST_F(SyncEventOnBoards, AFailureOnOneBoardFailsTheWaitOnlyWhenTheOtherBoardsAreDone) {
    tulx7sim::InjectCompletionFailure(TULX7_DR_BUFFER_LOAD, 1);
    const ULMSyncEvent failing = m_work[0]->QueueLoad();
    const ULMSyncEvent running = Pending(1);
    const ULMSyncEvent both[] = {failing, running};
    const ULMSyncEvent combined = CombineMultipleEvents(2, both);
    EXPECT_EQ(combined.Wait(30), kULMTimeout);
    EXPECT_FALSE(running.IsDone());
    tulx7sim::ResumeBoard(1);
    EXPECT_EQ(combined.Wait(-1), kULMErrHardware);
    EXPECT_TRUE(running.IsDone());
}

TEST_F(SyncEventOnBoards, AbortGoesFromTheLastStoredEventToTheFirst) {
    const ULMSyncEvent three[] = {Pending(0), Pending(1), Pending(0)};
    const ULMSyncEvent combined = CombineMultipleEvents(3, three);
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(combined.Abort(), kULMOK);
    EXPECT_EQ(Asked(TULX7_DR_ABORT),
              std::vector<uint32_t>({DriverId(three[2]), DriverId(three[1]), DriverId(three[0])}));
    EXPECT_EQ(tulx7sim::GetStats().jobsAborted, 3u);
    EXPECT_EQ(combined.Wait(1000), kULMErrAborted);
}

TEST_F(SyncEventOnBoards, WaitForAnyWithACombinedInputPolls) {
    const ULMSyncEvent pair[] = {Pending(0), Pending(1)};
    ULMSyncEvent events[] = {CombineMultipleEvents(2, pair), Pending(0)};
    EXPECT_EQ(ULMSyncEvent::WaitForAny(2, events, 0), kULMInProgress);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(ULMSyncEvent::WaitForAny(2, events, 30), kULMInProgress);
    EXPECT_GE(Clock::now() - start, milliseconds(30));
    std::thread resumer = ResumeLater(30, {0, 1});
    EXPECT_EQ(ULMSyncEvent::WaitForAny(2, events, -1), kULMOK);
    resumer.join();

    // Eight inputs is the most a wait takes.
    ULMSyncEvent nine[9];
    for (ULMSyncEvent& e : nine) e = Pending(0);
    EXPECT_EQ(ULMSyncEvent::WaitForAny(9, nine, 0), kULMErrArgument);
    EXPECT_EQ(ULMSyncEvent::WaitForAny(8, nine, 0), kULMTimeout);
}

// ---- Host steps deferred behind board work ----

namespace {

// A step that counts its runs, keeps what it was told and returns `then`.
struct CountedStep {
    std::atomic<int> runs{0};
    std::atomic<int> told{kULMErrInternal};
    ULMDeferredStep Make(ULMSyncEvent then = ULMSyncEvent(kULMOK)) {
        return [this, then](ULMStatus inInputs) {
            told = inInputs;
            ++runs;
            return then;
        };
    }
};

}  // namespace

TEST_F(SyncEventOnBoards, ADeferredStepRunsOnceOnTheFirstThreadThatNeedsIt) {
    CountedStep step;
    ULMSyncEvent deferred = DeferHostStep(Pending(0), step.Make());
    EXPECT_EQ(deferred.Status(), kULMInProgress);
    EXPECT_EQ(deferred.Wait(0), kULMTimeout);
    EXPECT_FALSE(deferred.IsDone());
    EXPECT_EQ(ULMSyncEvent::WaitForAny(1, &deferred, 0), kULMInProgress);
    EXPECT_EQ(step.runs, 0) << "its input is still pending";

    std::vector<ULMStatus> waited(4, kULMErrInternal);
    std::vector<std::thread> waiters;
    for (ULMStatus& status : waited) waiters.emplace_back([&deferred, &status] { status = deferred.Wait(-1); });
    tulx7sim::ResumeBoard(0);
    for (std::thread& waiter : waiters) waiter.join();
    for (const ULMStatus status : waited) EXPECT_EQ(status, kULMOK);
    EXPECT_EQ(step.runs, 1);
    EXPECT_EQ(step.told, kULMOK);

    EXPECT_TRUE(deferred.IsDone());
    EXPECT_EQ(ULMSyncEvent::WaitForAny(1, &deferred, 0), kULMOK);
    const ULMSyncEvent pair[] = {deferred, Finished(1)};
    EXPECT_EQ(CombineMultipleEvents(2, pair).Wait(-1), kULMOK);
    EXPECT_EQ(step.runs, 1);

    // An input already over leaves nothing to defer.
    CountedStep now;
    EXPECT_EQ(DeferHostStep(ULMSyncEvent(kULMOK), now.Make(ULMSyncEvent(kULMErrHardware))).Status(),
              kULMErrHardware);
    EXPECT_EQ(now.runs, 1);
}

TEST_F(SyncEventOnBoards, ADeferredHandleStandsForTheWorkItsStepQueued) {
    CountedStep step;
    tulx7sim::PauseBoard(1);
    const KWBSyncEvent queued = m_work[1]->QueueLoad();
    const KWBSyncEvent input = Pending(0);
    ULMSyncEvent deferred = DeferHostStep(input, step.Make(queued));
    tulx7sim::ResumeBoard(0);
    // The input over first, so that the bounded wait below runs the step
    // however slowly board 0 gets to it.
    ASSERT_EQ(input.Wait(-1), kULMOK);
    EXPECT_EQ(deferred.Wait(30), kULMTimeout) << "board 1 holds what the step queued";
    EXPECT_EQ(step.runs, 1);
    // Combined, it stands for that work too.
    const ULMSyncEvent pair[] = {deferred, Finished(0)};
    const ULMSyncEvent combined = CombineMultipleEvents(2, pair);
    EXPECT_EQ(combined.Wait(0), kULMTimeout);
    tulx7sim::ResumeBoard(1);
    EXPECT_EQ(combined.Wait(-1), kULMOK);
    EXPECT_EQ(deferred.Wait(-1), kULMOK);
    EXPECT_EQ(step.runs, 1);
}

TEST_F(SyncEventOnBoards, AnAbortedStepIsToldSoAndQueuesNothing) {
    CountedStep step;
    const ULMSyncEvent deferred = DeferHostStep(Pending(0), step.Make());
    EXPECT_EQ(deferred.Abort(), kULMOK);
    tulx7sim::ResumeBoard(0);
    EXPECT_EQ(deferred.Wait(-1), kULMErrAborted) << "whatever the step answers, its work was not done";
    EXPECT_EQ(step.runs, 1);
    EXPECT_EQ(step.told, kULMErrAborted);
    EXPECT_EQ(deferred.Abort(), kULMAlreadyComplete);
}

TEST_F(SyncEventOnBoards, AStepStillToRunKeepsItsSlotUntilItHasRun) {
    // More steps than slots: the first is run, not forgotten, when its slot
    // is taken again.
    std::vector<std::unique_ptr<CountedStep>> steps;
    std::vector<ULMSyncEvent> handles;
    for (int i = 0; i < kDeferredStepSlots; ++i) {
        steps.push_back(std::make_unique<CountedStep>());
        handles.push_back(DeferHostStep(Pending(0), steps.back()->Make()));
    }
    tulx7sim::ResumeBoard(0);
    for (const auto& step : steps) EXPECT_EQ(step->runs, 0);
    CountedStep last;
    const ULMSyncEvent lastHandle = DeferHostStep(Pending(1), last.Make());
    tulx7sim::ResumeBoard(1);
    EXPECT_EQ(std::count_if(steps.begin(), steps.end(), [](const auto& s) { return s->runs == 1; }), 1);
    for (const ULMSyncEvent& handle : handles) EXPECT_EQ(handle.Wait(-1), kULMOK);
    for (const auto& step : steps) EXPECT_EQ(step->runs, 1);
    EXPECT_EQ(lastHandle.Wait(-1), kULMOK);
    EXPECT_EQ(last.runs, 1);
}

// A step still to run is a paused board away from being settled: combining
// it waits for nothing, and the combination stands for its work and the
// other inputs' once they are over. The same holds for a join that folds
// more inputs than one combination takes.
TEST_F(SyncEventOnBoards, CombiningAStepStillToRunWaitsForNothing) {
    CountedStep step;
    const ULMSyncEvent finished = Finished(1);
    tulx7sim::PauseBoard(1);
    const KWBSyncEvent queued = m_work[1]->QueueLoad();
    const ULMSyncEvent deferred = DeferHostStep(Pending(0), step.Make(queued));
    const ULMSyncEvent pair[] = {deferred, finished};
    std::atomic<bool> resumed{false};
    std::thread resumer = ResumeLater(500, {0}, &resumed);
    const ULMSyncEvent combined = CombineMultipleEvents(2, pair);
    ULMEventJoin join;
    for (int i = 0; i < 2 * kMaxCombinedInputs; ++i) join.Add(i == 3 ? deferred : m_work[1]->QueueLoad());
    const ULMSyncEvent joined = join.Result();
    EXPECT_FALSE(resumed) << "a combination waited for the step's inputs";
    EXPECT_EQ(step.runs, 0);
    EXPECT_EQ(combined.Wait(0), kULMTimeout);
    resumer.join();
    EXPECT_EQ(combined.Wait(30), kULMTimeout) << "board 1 holds what the step queued";
    EXPECT_EQ(step.runs, 1);
    tulx7sim::ResumeBoard(1);
    EXPECT_EQ(combined.Wait(-1), kULMOK);
    EXPECT_EQ(joined.Wait(-1), kULMOK);
    EXPECT_EQ(step.runs, 1);

    // A step whose inputs failed fails the combination; an abort of the
    // combination reaches the step and the other inputs.
    CountedStep failing;
    const ULMSyncEvent failed[] = {DeferHostStep(Pending(0), failing.Make(ULMSyncEvent(kULMErrHardware))),
                                   Finished(1)};
    const ULMSyncEvent withFailure = CombineMultipleEvents(2, failed);
    tulx7sim::ResumeBoard(0);
    EXPECT_EQ(withFailure.Wait(-1), kULMErrHardware);

    CountedStep aborted;
    tulx7sim::PauseBoard(1);
    const KWBSyncEvent other = m_work[1]->QueueLoad();
    const ULMSyncEvent toAbort[] = {DeferHostStep(Pending(0), aborted.Make()), other};
    const ULMSyncEvent abortable = CombineMultipleEvents(2, toAbort);
    const auto abortedBefore = tulx7sim::GetStats().jobsAborted;
    EXPECT_EQ(abortable.Abort(), kULMOK);
    tulx7sim::ResumeBoard(0);
    EXPECT_TRUE(RunDeferredStep(abortable));
    tulx7sim::ResumeBoard(1);
    EXPECT_EQ(abortable.Wait(-1), kULMErrAborted);
    EXPECT_EQ(aborted.told, kULMErrAborted);
    EXPECT_EQ(tulx7sim::GetStats().jobsAborted, abortedBefore + 2) << "the step's input and the other input";
}

// A step deferred behind an earlier one still to run: a poll of it returns
// at once while the earlier step's inputs are pending (the earlier step is
// not run from inside it), the earlier step runs first, and its failure is
// not the later step's.
TEST_F(SyncEventOnBoards, AStepAfterAnotherIsPolledWithoutWaitingForIt) {
    std::vector<int> order;
    std::mutex orderLock;
    const auto recording = [&](int inWhich, ULMSyncEvent inThen) {
        return [&, inWhich, inThen](ULMStatus) {
            std::lock_guard<std::mutex> hold(orderLock);
            order.push_back(inWhich);
            return inThen;
        };
    };
    const ULMSyncEvent first = DeferHostStep(Pending(0), recording(1, ULMSyncEvent(kULMErrHardware)));
    const ULMSyncEvent second = DeferHostStep(Finished(1), recording(2, ULMSyncEvent(kULMOK)), first);
    EXPECT_TRUE(IsDeferredEvent(SyncEventWord(second))) << "its inputs are over, but the first step is not";
    std::atomic<bool> resumed{false};
    std::thread resumer = ResumeLater(500, {0}, &resumed);
    EXPECT_EQ(second.Wait(0), kULMTimeout);
    EXPECT_FALSE(second.IsDone());
    EXPECT_FALSE(resumed) << "a poll waited for the earlier step's inputs";
    EXPECT_TRUE(order.empty());
    resumer.join();
    EXPECT_EQ(second.Wait(-1), kULMOK);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(first.Wait(-1), kULMErrHardware);
}

// What a step queues behind the writes recorded on a buffer may find the
// step itself recorded there: it comes after the step without being told,
// and the step's handle does not come to wait for itself.
TEST_F(SyncEventOnBoards, WorkAStepQueuesAfterItselfDoesNotWaitForItself) {
    ULMSyncEvent outer;
    CountedStep inner;
    std::atomic<bool> innerDeferred{true};
    outer = DeferHostStep(Pending(0), [&](ULMStatus) {
        const ULMSyncEvent queued = DeferHostStep(ULMSyncEvent(kULMOK), inner.Make(), outer);
        innerDeferred = IsDeferredEvent(SyncEventWord(queued));
        return queued;
    });
    tulx7sim::ResumeBoard(0);
    EXPECT_EQ(outer.Wait(-1), kULMOK);
    EXPECT_EQ(inner.runs, 1);
    EXPECT_FALSE(innerDeferred) << "its inputs are over and it follows nothing still to run";
}

// An abort answers for the whole of a combined event or a deferred step:
// kULMAlreadyComplete only when every part had completed, and a wait after
// an abort that dropped some part answers kULMErrAborted, even when a
// first part had completed, when the step was running as the abort came,
// and once the handle's slot has been taken by newer handles.
TEST_F(SyncEventOnBoards, AnAbortAnswersForTheWholeAndAReusedSlotKeepsItsFailure) {
    // Fills every slot of the combined table with newer combinations.
    const auto takeEveryCombinedSlot = [this] {
        for (int i = 0; i < kMultiEventSlots; ++i) {
            const ULMSyncEvent two[] = {Pending(0), m_work[0]->QueueLoad()};
            const ULMSyncEvent combined = CombineMultipleEvents(2, two);
            tulx7sim::ResumeBoard(0);
            ASSERT_EQ(combined.Wait(-1), kULMOK);
        }
    };
    // Fills every slot of the deferred table with newer steps.
    const auto takeEveryDeferredSlot = [this] {
        for (int i = 0; i < kDeferredStepSlots; ++i) {
            const ULMSyncEvent step = DeferHostStep(Pending(0), [](ULMStatus) { return ULMSyncEvent(kULMOK); });
            tulx7sim::ResumeBoard(0);
            ASSERT_EQ(step.Wait(-1), kULMOK);
        }
    };

    {
        SCOPED_TRACE("a combination whose first part completed before the abort");
        const ULMSyncEvent parts[] = {Pending(0), Pending(1)};
        const ULMSyncEvent combined = CombineMultipleEvents(2, parts);
        tulx7sim::ResumeBoard(0);
        ASSERT_EQ(parts[0].Wait(-1), kULMOK);
        EXPECT_EQ(combined.Abort(), kULMOK) << "the second part was dropped";
        tulx7sim::ResumeBoard(1);
        EXPECT_EQ(combined.Wait(-1), kULMErrAborted);
        EXPECT_EQ(parts[1].Wait(0), kULMErrAborted);
    }
    {
        SCOPED_TRACE("more events than one slot holds");
        tulx7sim::PauseBoard(0);
        ULMEventJoin join;
        for (int i = 0; i < kMaxSlotBoardEvents + 8; ++i) join.Add(m_work[0]->QueueLoad());
        const ULMSyncEvent many = join.Result();
        const auto abortedBefore = tulx7sim::GetStats().jobsAborted;
        EXPECT_EQ(many.Abort(), kULMOK);
        EXPECT_EQ(tulx7sim::GetStats().jobsAborted, abortedBefore + kMaxSlotBoardEvents + 8) << "every event dropped";
        tulx7sim::ResumeBoard(0);
        EXPECT_EQ(many.Wait(-1), kULMErrAborted);
    }
    {
        SCOPED_TRACE("aborted and failed combinations whose slots were taken again");
        const ULMSyncEvent pair[] = {Pending(0), Pending(1)};
        const ULMSyncEvent aborted = CombineMultipleEvents(2, pair);
        ASSERT_EQ(aborted.Abort(), kULMOK);
        tulx7sim::ResumeBoard(1);
        tulx7sim::InjectCompletionFailure(TULX7_DR_BUFFER_LOAD, 1);
        const ULMSyncEvent failing[] = {Pending(0), Pending(1)};
        const ULMSyncEvent failed = CombineMultipleEvents(2, failing);
        tulx7sim::ResumeBoard(1);
        takeEveryCombinedSlot();
        EXPECT_EQ(aborted.Wait(-1), kULMErrAborted);
        EXPECT_EQ(aborted.Abort(), kULMAlreadyComplete);
        EXPECT_EQ(failed.Wait(-1), kULMErrHardware);
        const ULMSyncEvent again[] = {aborted, Pending(1)};
        const ULMSyncEvent combinedAgain = CombineMultipleEvents(2, again);
        tulx7sim::ResumeBoard(1);
        EXPECT_EQ(combinedAgain.Wait(-1), kULMErrAborted) << "combined again, it keeps its failure";
    }
    {
        SCOPED_TRACE("a deferred step dropped by an abort, its slot taken again");
        CountedStep step;
        const ULMSyncEvent deferred = DeferHostStep(Pending(0), step.Make());
        ASSERT_EQ(deferred.Abort(), kULMOK);
        tulx7sim::ResumeBoard(0);
        takeEveryDeferredSlot();
        EXPECT_EQ(step.runs, 1);
        EXPECT_EQ(deferred.Wait(-1), kULMErrAborted);
    }
    {
        SCOPED_TRACE("a step aborted while it runs: the abort reaches what it queues");
        ULMSyncEvent self;
        ULMStatus abortedInside = kULMErrInternal;
        ULMSyncEvent queued;
        self = DeferHostStep(Pending(0), [&](ULMStatus) {
            tulx7sim::PauseBoard(1);
            queued = m_work[1]->QueueLoad();
            abortedInside = self.Abort();
            return queued;
        });
        tulx7sim::ResumeBoard(0);
        ASSERT_TRUE(RunDeferredStep(self));
        EXPECT_EQ(abortedInside, kULMInProgress) << "the step itself goes on";
        tulx7sim::ResumeBoard(1);
        EXPECT_EQ(self.Wait(-1), kULMErrAborted);
        EXPECT_EQ(queued.Wait(0), kULMErrAborted) << "what it queued was dropped";
    }
}
