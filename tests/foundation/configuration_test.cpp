// The configuration query before and after the library is opened.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "foundation/control.h"
#include "support/sim_library_fixture.h"
#include "ulm3/configuration.h"
#include "ulm3/library.h"

using namespace ulm3;
using ulm3::test_support::BoardWork;
using ulm3::test_support::SimBoards;

namespace {

using ConfigurationQuery = ulm3::test_support::SimLibraryTest;

struct Memory {
    uint64_t total = 111, locked = 222, unlocked = 333, free = 444;
    ULMStatus Query(ULMLocation location) {
        return ULMConfiguration::GetMemoryUsage(location, total, locked, unlocked, free);
    }
};

}  // namespace

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
    EXPECT_EQ(ULMConfiguration::GetVersionString(static_cast<ULMConfiguration::VersionType>(3)),
              nullptr);
}

TEST_F(ConfigurationQuery, MemoryOfAllBoardsIsTheSumOfEach) {
    ASSERT_EQ(ULMOpen(), kULMOK);
    BoardWork work(gULMControl.m_KWBBoard[1]);  // board 1 has less free memory
    Memory b0, b1, any;
    ASSERT_EQ(b0.Query(kULMBoard0), kULMOK);
    ASSERT_EQ(b1.Query(kULMBoard1), kULMOK);
    ASSERT_EQ(any.Query(kULMAnyBoard), kULMOK);
    EXPECT_LT(b1.free, b0.free);
    EXPECT_EQ(any.total, b0.total + b1.total);
    EXPECT_EQ(any.locked, b0.locked + b1.locked);
    EXPECT_EQ(any.unlocked, b0.unlocked + b1.unlocked);
    EXPECT_EQ(any.free, b0.free + b1.free);

    for (ULMLocation other : {kULMBoard2, kULMSystem, kULMMultiBoardMode1, kULMNoBufferAttached}) {
        Memory untouched;
        EXPECT_EQ(untouched.Query(other), kULMErrArgument) << other;
        EXPECT_EQ(untouched.total + untouched.free, 111u + 444u);
    }
}

TEST_F(ConfigurationQuery, AvailableMemoryIsCappedAtThirtyTwoBits) {
    // No simulated board is that large; the record is what the query reads.
    gULMControl.m_KWBBoardCount = 1;
    gULMControl.m_board[0].m_memorySize = 6ull << 30;
    EXPECT_EQ(ULMConfiguration::GetAvailableMemory(0), 0xFFFFFFFFu);
}

TEST_F(ConfigurationQuery, LockedAndMappedExtentsFollowTheParameters) {
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
        threads.emplace_back([&seen, i] {
            seen[i] = ULMConfiguration::GetVersionString(ULMConfiguration::kULMVersion);
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(std::set<const char*>(seen.begin(), seen.end()).size(), 1u);
    const std::string text = seen[0];
    EXPECT_NE(text.find("3.3.1.2"), std::string::npos) << text;
    EXPECT_NE(text.find("(32-bit)"), std::string::npos) << text;
}
