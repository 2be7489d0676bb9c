// Sync-event handles and combined events, waited on and aborted through the
// simulated boards.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
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

uint64_t Kind(const ULMSyncEvent& event) { return SyncEventWord(event) & kSyncKindMask; }
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

TEST(SyncEventWord, FinishedEventsCarryTheirStatusAndInvalidWordsNeverSurviveACopy) {
    EXPECT_EQ(SyncEventWord(ULMSyncEvent(kULMErrAborted)), 0xF1000000000003F4ull);
    EXPECT_EQ(ULMSyncEvent(kULMTimeout).Wait(-1), kULMTimeout);
    EXPECT_TRUE(ULMSyncEvent(kULMErrHardware).IsDone());
    EXPECT_EQ(ULMSyncEvent(kULMOK).Abort(), kULMErrArgument);
    // A status outside the enumeration stays within its 32 bits.
    const ULMSyncEvent negative(static_cast<ULMStatus>(-5));
    EXPECT_EQ(Kind(negative), kSyncCompletedKind);
    EXPECT_EQ(negative.Status(), static_cast<ULMStatus>(-5));
    for (uint64_t word : {0ull, 0x00FFFFFFFFFFFFFFull, 0xFF00000000000000ull, ~0ull}) {
        const ULMSyncEvent raw = SyncEventFromWord(word);
        ULMSyncEvent assigned;
        assigned = raw;
        EXPECT_TRUE(ULMSyncEvent(raw) == ULMSyncEvent(kULMErrArgument) && assigned == ULMSyncEvent(kULMErrArgument))
            << std::hex << word;
    }
}

TEST_F(SyncEventOnBoards, CombiningKeepsOnlyWhatIsStillPending) {
    ULMSyncEvent nine[9];
    EXPECT_EQ(CombineMultipleEvents(9, nine), ULMSyncEvent(kULMErrArgument));
    EXPECT_EQ(CombineMultipleEvents(0, nine), ULMSyncEvent(kULMOK));
    EXPECT_EQ(ULMSyncEvent::WaitForAny(9, nine, -1), kULMErrArgument);
    EXPECT_EQ(ULMSyncEvent::WaitForAny(0, nine, -1), kULMErrArgument);
    const ULMSyncEvent single[] = {ULMSyncEvent(kULMErrVolume)};
    EXPECT_EQ(CombineMultipleEvents(1, single), single[0]);
    const ULMSyncEvent finished[] = {ULMSyncEvent(kULMOK), ULMSyncEvent(kULMAlreadyComplete)};
    EXPECT_EQ(CombineMultipleEvents(2, finished), finished[0]);
    // A finished event that happens to hold InProgress is finished all the same.
    const ULMSyncEvent inProgressWord[] = {ULMSyncEvent(kULMInProgress), ULMSyncEvent(kULMOK)};
    EXPECT_EQ(Kind(CombineMultipleEvents(2, inProgressWord)), kSyncCompletedKind);

    const KWBSyncEvent a = Pending(0), b = Pending(1);
    const ULMSyncEvent oneLeft[] = {ULMSyncEvent(kULMOK), a}, both[] = {a, b}, twice[] = {a, a};
    EXPECT_EQ(CombineMultipleEvents(2, oneLeft), a);
    EXPECT_EQ(CombineMultipleEvents(2, twice), a);  // the same event reached twice is one event
    const ULMSyncEvent combined = CombineMultipleEvents(2, both);
    EXPECT_EQ(Kind(combined), kSyncCombinedKind);
    EXPECT_EQ(combined.Status(), kULMInProgress);
    const ULMSyncEvent withFailure[] = {a, ULMSyncEvent(kULMErrAborted), b};
    EXPECT_EQ(CombineMultipleEvents(3, withFailure), ULMSyncEvent(kULMErrAborted));
    // The failed combination used up no number.
    EXPECT_EQ(SyncEventWord(CombineMultipleEvents(2, both)), SyncEventWord(combined) + 1);
}

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

TEST_F(SyncEventOnBoards, OneDeadlineServesTheWholeCombinedWait) {
    // Board 0's events finish part-way through the wait; the time they took
    // comes off what is left for board 1's.
    const ULMSyncEvent pair[] = {Pending(0), Pending(1)};
    const ULMSyncEvent combined = CombineMultipleEvents(2, pair);
    // Waiting board by board with a fresh time-out each would take at least
    // 250 + 300 ms; the bound leaves room for a loaded machine.
    const Clock::time_point start = Clock::now();
    std::thread resumer = ResumeLater(250, {0});
    EXPECT_EQ(combined.Wait(300), kULMTimeout);
    const auto elapsed = Clock::now() - start;
    resumer.join();
    EXPECT_GE(elapsed, milliseconds(300));
    EXPECT_LT(elapsed, milliseconds(540));
    EXPECT_EQ(pair[0].Wait(1000), kULMOK);
}

TEST_F(SyncEventOnBoards, EightCombinationsOfEightAreFlattenedIntoOneSlot) {
    std::vector<ULMSyncEvent> inner;
    std::vector<uint32_t> expected;
    for (int i = 0; i < 8; ++i) {
        ULMSyncEvent eight[8];
        for (ULMSyncEvent& e : eight) expected.push_back(DriverId(e = Pending(i % 2)));
        inner.push_back(CombineMultipleEvents(8, eight));
    }
    const ULMSyncEvent outer = CombineMultipleEvents(8, inner.data());
    ASSERT_EQ(Kind(outer), kSyncCombinedKind);
    EXPECT_EQ(outer.Wait(0), kULMTimeout);
    tulx7sim::ResumeBoard(0);
    tulx7sim::ResumeBoard(1);
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(outer.Wait(-1), kULMOK);
    // The driver was asked for the 64 board events themselves.
    std::vector<uint32_t> waited = Asked(TULX7_DR_SYNC);
    std::sort(waited.begin(), waited.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(waited, expected);
}

TEST_F(SyncEventOnBoards, MoreThanSixtyFourEventsAreWaitedForRatherThanDropped) {
    // Combinations of combinations of combinations do not fit one slot: the
    // surplus is waited for before the combination returns, so a failure
    // among it is not lost.
    tulx7sim::InjectCompletionFailure(TULX7_DR_BUFFER_LOAD, 1);
    std::vector<ULMSyncEvent> level2;
    for (int i = 0; i < 2; ++i) {
        std::vector<ULMSyncEvent> level1;
        for (int j = 0; j < 8; ++j) {
            ULMSyncEvent eight[8];
            for (ULMSyncEvent& e : eight) e = m_work[0]->QueueLoad();
            level1.push_back(CombineMultipleEvents(8, eight));
        }
        level2.push_back(CombineMultipleEvents(8, level1.data()));
    }
    EXPECT_EQ(CombineMultipleEvents(2, level2.data()), ULMSyncEvent(kULMErrHardware));
}

TEST_F(SyncEventOnBoards, AReusedSlotIsWaitedForBeforeItsOldHandleGoesQuiet) {
    const ULMSyncEvent finished[] = {Finished(0), Finished(1)};
    const ULMSyncEvent pending[] = {Pending(0), Pending(1)};
    const ULMSyncEvent old = CombineMultipleEvents(2, pending);
    // 255 more combinations fill the other slots without touching old's.
    for (int i = 0; i < kMultiEventSlots - 1; ++i) {
        ASSERT_EQ(Kind(CombineMultipleEvents(2, finished)), kSyncCombinedKind);
    }
    // The next one lands on old's slot, whose boards are still paused: it
    // must wait for them rather than let old report success.
    std::atomic<bool> resumed{false};
    std::thread resumer = ResumeLater(80, {0, 1}, &resumed);
    const ULMSyncEvent reuse = CombineMultipleEvents(2, finished);
    EXPECT_TRUE(resumed);
    resumer.join();
    EXPECT_EQ(MultiSync_index_from_ID(SyncEventWord(reuse)), MultiSync_index_from_ID(SyncEventWord(old)));
    EXPECT_TRUE(pending[0].Wait(0) == kULMOK && pending[1].Wait(0) == kULMOK);
    // The old handle answers for a slot that is no longer its own.
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(old.Wait(-1), kULMOK);
    EXPECT_EQ(old.Abort(), kULMAlreadyComplete);
    EXPECT_TRUE(Asked(TULX7_DR_SYNC).empty());
}

TEST_F(SyncEventOnBoards, AbortGoesFromTheLastStoredEventToTheFirst) {
    const ULMSyncEvent three[] = {Pending(0), Pending(1), Pending(0)};
    const ULMSyncEvent combined = CombineMultipleEvents(3, three);
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(combined.Abort(), kULMOK);
    EXPECT_EQ(Asked(TULX7_DR_ABORT),
              std::vector<uint32_t>({DriverId(three[2]), DriverId(three[1]), DriverId(three[0])}));
    EXPECT_EQ(tulx7sim::GetStats().jobsAborted, 3u);
    EXPECT_EQ(combined.Wait(1000), kULMOK);
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
}

TEST_F(SyncEventOnBoards, ALongCombinedWaitHoldsUpNoOtherCombination) {
    const ULMSyncEvent stuck[] = {Pending(0), Pending(0)};
    const ULMSyncEvent slow = CombineMultipleEvents(2, stuck);
    std::atomic<bool> waiting{false};
    std::thread waiter([&] {
        waiting = true;
        EXPECT_EQ(slow.Wait(-1), kULMOK);
    });
    while (!waiting) std::this_thread::yield();
    std::this_thread::sleep_for(milliseconds(20));
    // Board 1 runs: its combination is made and waited for meanwhile.
    const ULMSyncEvent quick[] = {Finished(1), m_work[1]->QueueLoad()};
    EXPECT_EQ(CombineMultipleEvents(2, quick).Wait(2000), kULMOK);
    tulx7sim::ResumeBoard(0);
    waiter.join();
}

TEST_F(SyncEventOnBoards, ClosingForgetsEveryCombination) {
    const ULMSyncEvent pair[] = {Finished(0), Finished(1)};
    const ULMSyncEvent combined = CombineMultipleEvents(2, pair);
    ASSERT_EQ(Kind(combined), kSyncCombinedKind);
    EXPECT_EQ(CleanupMultipleEventDatabase(), kULMOK);
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(combined.Wait(-1), kULMOK);
    EXPECT_EQ(combined.Abort(), kULMAlreadyComplete);
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
    // The next combination prepares the table again and hands out a new
    // number, so the old handle cannot be mistaken for it.
    const ULMSyncEvent again = CombineMultipleEvents(2, pair);
    EXPECT_NE(again, combined);
    EXPECT_EQ(Kind(again), kSyncCombinedKind);
}
