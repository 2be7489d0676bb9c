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
