// The library's open and close over simulated board configurations, the
// count of its holders, and the configuration query.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "board/kwb_board.h"
#include "foundation/control.h"
#include "foundation/sync_event.h"
#include "render/render_cache.h"
#include "support/sim_library_fixture.h"
#include "ulm3/configuration.h"
#include "ulm3/library.h"

using namespace ulm3;
using ulm3::test_support::BoardWork;
using ulm3::test_support::SimBoards;

namespace {

class LibraryOpen : public ulm3::test_support::SimLibraryTest {
protected:
    static int OpenBoardSlots() {
        int n = 0;
        for (int b = 0; b < KWBBoard::kMaxBoards; ++b) n += KWBBoard::GetBoard(b) != nullptr;
        return n;
    }
};
using ConfigurationQuery = ulm3::test_support::SimLibraryTest;

// A lookup-table cache stand-in that counts its own destruction.
class CountedCache : public ULMShareable {
public:
    explicit CountedCache(int& destroyed) : m_destroyed(destroyed) {}
    ~CountedCache() override { ++m_destroyed; }

private:
    int& m_destroyed;
};

struct Memory {
    uint64_t total = 111, locked = 222, unlocked = 333, free = 444;
    ULMStatus Query(ULMLocation location) {
        return ULMConfiguration::GetMemoryUsage(location, total, locked, unlocked, free);
    }
};

}  // namespace

TEST_F(LibraryOpen, OpensEveryBoardOfTheMachineAndClosesThemAll) {
    for (int boards : {1, 2, 8}) {
        SCOPED_TRACE(boards);
        UsePlatform(SimBoards(boards));
        ASSERT_EQ(ULMOpen(), kULMOK);
        EXPECT_EQ(gULMControl.m_objectCount, 1);
        EXPECT_EQ(gULMControl.m_KWBBoardCount, static_cast<unsigned>(boards));
        EXPECT_EQ(OpenBoardSlots(), boards);
        const int last = boards - 1;
        EXPECT_EQ(gULMControl.m_KWBBoard[last], KWBBoard::GetBoard(last));
        EXPECT_EQ(gULMControl.m_board[last].m_memorySize, 256ull << 20);
        EXPECT_EQ(gULMControl.m_board[last].m_renderHangMaxZSlices, 512);
        ULMClose();
        EXPECT_FALSE(gULMControl.m_initialized);
        EXPECT_EQ(gULMControl.m_KWBBoardCount, 0u);
        EXPECT_EQ(OpenBoardSlots(), 0);
        EXPECT_EQ(tulx7sim::GetStats().openClients, 0);
    }
}

TEST_F(LibraryOpen, AFailedOpenLeavesTheLibraryClosedWithItsOldHandler) {
    ULMErrorHandler* const before = gULMControl.m_errorHandler;
    // Only interface 3 up to minor 3 is accepted.
    EXPECT_EQ(ULMOpenInternal(3, 4), kULMErrVersion);
    EXPECT_EQ(ULMOpenInternal(2, 0), kULMErrVersion);
    EXPECT_EQ(tulx7sim::GetStats().openClients, 0);
    UsePlatform(SimBoards(0));
    EXPECT_EQ(ULMOpen(), kULMErrAlloc);  // no service for board 0
    tulx7sim::SetDriverPresent(false);
    EXPECT_EQ(ULMOpen(), kULMErrNoHardware);
    UsePlatform(SimBoards(3));
    tulx7sim::SetClientOpenRefused(0, true);
    EXPECT_EQ(ULMOpen(), kULMErrAlloc);
    EXPECT_FALSE(gULMControl.m_initialized);
    EXPECT_EQ(gULMControl.m_objectCount, 0);
    EXPECT_EQ(OpenBoardSlots(), 0);
    // Still closed, so the application could not replace a handler that
    // ends the process: it keeps the one it had.
    EXPECT_EQ(gULMControl.m_errorHandler, before);

    tulx7sim::SetClientOpenRefused(0, false);
    EXPECT_EQ(ULMOpenInternal(3, -1), kULMOK);
    ULMClose();
    EXPECT_EQ(ULMOpenInternal(3, 0), kULMOK);
    EXPECT_EQ(gULMControl.m_compiletimeULMMinor, 0);
}

TEST_F(LibraryOpen, TheFirstFailingBoardEndsTheSearch) {
    tulx7sim::SimConfig config = SimBoards(4);
    config.pciRev = 0;
    UsePlatform(config);
    tulx7sim::SetClientOpenRefused(2, true);
    ASSERT_EQ(ULMOpen(), kULMOK);
    EXPECT_EQ(gULMControl.m_KWBBoardCount, 2u);
    EXPECT_EQ(OpenBoardSlots(), 2);
    EXPECT_EQ(gULMControl.m_KWBBoard[2], nullptr);
    // The board's own revision is its minor version, 1 when it reports 0.
    EXPECT_EQ(gULMControl.m_board[1].m_minor, 1);
    ULMClose();

    config.pciRev = 2;
    config.minor = 5;
    UsePlatform(config);
    ASSERT_EQ(ULMOpen(), kULMOK);
    EXPECT_EQ(gULMControl.m_board[0].m_minor, 2);
}

TEST_F(LibraryOpen, HoldersKeepTheBoardsOpenAndASecondOpenTakesNoHold) {
    ASSERT_EQ(ULMOpen(), kULMOK);
    ASSERT_EQ(ULMOpen(), kULMOK);
    EXPECT_EQ(gULMControl.m_objectCount, 1);
    gULMControl.IncrementObjectCount();  // a volume, say
    ULMClose();
    EXPECT_FALSE(gULMControl.m_initialized);
    EXPECT_EQ(OpenBoardSlots(), 2);

    // Opening again finds the boards open and only takes a new hold.
    tulx7sim::ClearRequestLog();
    ASSERT_EQ(ULMOpen(), kULMOK);
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
    EXPECT_EQ(gULMControl.m_objectCount, 2);
    ULMClose();
    ULMClose();  // closed already: nothing happens
    EXPECT_EQ(gULMControl.m_objectCount, 1);

    gULMControl.DecrementObjectCount();  // the volume goes
    EXPECT_EQ(gULMControl.m_KWBBoardCount, 0u);
    EXPECT_EQ(OpenBoardSlots(), 0);
    EXPECT_EQ(tulx7sim::GetStats().openClients, 0);
}

TEST_F(LibraryOpen, CloseForgetsCombinationsEmptiesTheRenderCacheAndWaitsForTheBoards) {
    ASSERT_EQ(ULMOpen(), kULMOK);
    BoardWork work(gULMControl.m_KWBBoard[0]);
    const ULMSyncEvent finished[] = {work.QueueLoad(), work.QueueLoad()};
    const ULMSyncEvent combined = CombineMultipleEvents(2, finished);
    tulx7sim::PauseBoard(0);
    work.QueueRecordedLoad();
    work.Release();

    int destroyed = 0;
    {
        std::lock_guard<std::mutex> lock(ULMRenderCache::LookupTablesLock());
        auto* cache = new CountedCache(destroyed);
        cache->AddRef();
        ULMRenderCache::LookupTablesMap().try_emplace(ULMLookupTableKey{}, cache);
    }
    std::thread resumer([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        tulx7sim::ResumeBoard(0);
    });
    ULMClose();
    resumer.join();
    EXPECT_EQ(destroyed, 1);
    EXPECT_TRUE(ULMRenderCache::LookupTablesMap().empty());
    EXPECT_EQ(tulx7sim::GetStats().pendingJobs, 0);
    EXPECT_EQ(tulx7sim::GetStats().openClients, 0);
    // The combination is forgotten: nothing is asked of the closed boards.
    EXPECT_EQ(combined.Wait(-1), kULMOK);
}

TEST_F(LibraryOpen, TheEnvironmentIsAppliedAtEveryOpenOverTheValuesLeft) {
    setenv("ULMMipmapNumberLevels", "20", 1);
    setenv("ULMRenderHangMaxZSlices1", "100", 1);
    const ULMStatus first = ULMOpen();
    unsetenv("ULMMipmapNumberLevels");
    unsetenv("ULMRenderHangMaxZSlices1");
    ASSERT_EQ(first, kULMOK);
    EXPECT_EQ(gULMControl.m_mipmapNumberLevels, 20);
    EXPECT_EQ(gULMControl.m_board[0].m_renderHangMaxZSlices, 512);
    EXPECT_EQ(gULMControl.m_board[1].m_renderHangMaxZSlices, 100);
    ULMClose();

    gULMControl.m_ForceEpsilon = true;
    ASSERT_EQ(ULMOpen(), kULMOK);
    EXPECT_EQ(gULMControl.m_mipmapNumberLevels, 20);
    EXPECT_FALSE(gULMControl.m_ForceEpsilon);
}

TEST(LibraryOpenDeathTest, GivingBackAHoldNobodyHasIsAnAssertionFailure) {
    EXPECT_DEATH({ gULMControl.m_objectCount = 0; gULMControl.DecrementObjectCount(); },
                 "ULM_ASSERT \\( m_objectCount > 0 \\) failed");
}

TEST_F(ConfigurationQuery, BeforeAndAfterTheOpen) {
    EXPECT_EQ(ULMConfiguration::GetNumberOfBoards(), 0);
    EXPECT_EQ(ULMConfiguration::GetBoardMajorVersion(), -1);
    EXPECT_STREQ(ULMConfiguration::GetVersionString(ULMConfiguration::kDriverFound), "None");
    Memory any;
    EXPECT_EQ(any.Query(kULMAnyBoard), kULMOK);
    EXPECT_EQ(any.total + any.locked + any.unlocked + any.free, 0u);

    tulx7sim::SimConfig config = SimBoards(2);
    config.pciRev = 3;
    UsePlatform(config);
    ASSERT_EQ(ULMOpen(), kULMOK);
    EXPECT_EQ(ULMConfiguration::GetNumberOfBoards(), 2);
    EXPECT_EQ(ULMConfiguration::GetBoardMajorVersion(1), 0);
    EXPECT_EQ(ULMConfiguration::GetBoardMinorVersion(), 3);
    EXPECT_EQ(ULMConfiguration::GetBoardMinorVersion(2), -1);
    EXPECT_EQ(ULMConfiguration::GetBoardMajorVersion(-1), -1);
    EXPECT_EQ(ULMConfiguration::GetAvailableMemory(1), 256u << 20);
    EXPECT_EQ(ULMConfiguration::GetAvailableMemory(2), 0u);
    EXPECT_STREQ(ULMConfiguration::GetVersionString(ULMConfiguration::kDriverFound),
                 "/dev/tulx00 0.3 (0), OS 0, PCI 3");
    EXPECT_EQ(ULMConfiguration::GetVersionString(static_cast<ULMConfiguration::VersionType>(3)), nullptr);
}

TEST_F(ConfigurationQuery, MemoryOfAllBoardsIsTheSumOfEach) {
    ASSERT_EQ(ULMOpen(), kULMOK);
    BoardWork work(gULMControl.m_KWBBoard[1]);  // board 1 has less free memory
    Memory b0, b1, any;
    ASSERT_EQ(b0.Query(kULMBoard0), kULMOK);
    ASSERT_EQ(b1.Query(kULMBoard1), kULMOK);
    ASSERT_EQ(any.Query(kULMAnyBoard), kULMOK);
    EXPECT_LT(b1.free, b0.free);
    EXPECT_TRUE(any.total == b0.total + b1.total && any.locked == b0.locked + b1.locked &&
                any.unlocked == b0.unlocked + b1.unlocked && any.free == b0.free + b1.free);

    for (ULMLocation other : {kULMBoard2, kULMSystem, kULMMultiBoardMode1, kULMNoBufferAttached}) {
        Memory untouched;
        EXPECT_EQ(untouched.Query(other), kULMErrArgument) << other;
        EXPECT_EQ(untouched.total + untouched.free, 111u + 444u);
    }
}

TEST_F(ConfigurationQuery, LimitsFollowTheRecordAndTheParameters) {
    // No simulated board is that large; the record is what the query reads.
    gULMControl.m_KWBBoardCount = 1;
    gULMControl.m_board[0].m_memorySize = 6ull << 30;
    EXPECT_EQ(ULMConfiguration::GetAvailableMemory(0), 0xFFFFFFFFu);

    unsigned x = 1, y = 1, z = 1;
    ULMConfiguration::GetMaxLockedSize(16, x, y, z);
    EXPECT_EQ(x + y + z, 3 * 4096u);
    for (unsigned unsupported : {0u, 4u, 12u, 24u}) {
        ULMConfiguration::GetMaxMappedSize(unsupported, x, y, z);
        EXPECT_EQ(x + y + z, 0u) << unsupported;
    }
    ULMSetParameter("MaxLockSize", 1024);
    for (unsigned size : {1u, 2u, 3u, 8u, 16u, 32u}) {
        ULMConfiguration::GetMaxLockedSize(size, x, y, z);
        EXPECT_EQ(x + y + z, 3 * 1024u) << size;
    }
}

TEST(ConfigurationVersion, TheLibraryTextIsFormattedOnceWhoeverAsksFirst) {
    std::vector<const char*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back(
            [&seen, i] { seen[i] = ULMConfiguration::GetVersionString(ULMConfiguration::kULMVersion); });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(std::set<const char*>(seen.begin(), seen.end()).size(), 1u);
    const std::string text = seen[0];
    EXPECT_NE(text.find("3.3.1.2"), std::string::npos) << text;
    EXPECT_NE(text.find("(32-bit)"), std::string::npos) << text;
}
