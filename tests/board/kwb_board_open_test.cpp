// Opening boards on the simulated driver: every failing step leaves nothing
// open, and queue dumps follow the driver's minor version.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "board/kwb_board.h"
#include "foundation/log_capture.h"
#include "support/sim_library_fixture.h"

using namespace ulm3;
using ulm3::test_support::BoardWork;
using ulm3::test_support::SimBoards;

namespace {

class KWBBoardOpen : public ulm3::test_support::SimLibraryTest {
protected:
    KWBBoard* OpenBoard(int id, ULMStatus expected = kULMOK) {
        ULMStatus status = kULMErrInternal;
        KWBBoard* board = KWBBoard::Open(id, status, false);
        EXPECT_EQ(status, expected);
        EXPECT_EQ(board != nullptr, expected == kULMOK);
        return board;
    }
};

int CountRequests(uint32_t code) {
    const auto log = tulx7sim::RequestLog();
    return static_cast<int>(std::count_if(log.begin(), log.end(), [code](const auto& entry) {
        return entry.code == code;
    }));
}

}  // namespace

TEST_F(KWBBoardOpen, EveryFailureLeavesTheSlotEmptyAndNoConnectionOpen) {
    struct Case {
        const char* what;
        void (*arrange)();
        int id;
        ULMStatus expected;
    };
    const Case cases[] = {
        {"index 8", [] {}, 8, kULMErrArgument},
        {"index -1", [] {}, -1, kULMErrArgument},
        {"no registry port", [] { tulx7sim::SetRegistryPortUnavailable(true); }, 0, kULMErrAlloc},
        {"no driver", [] { tulx7sim::SetDriverPresent(false); }, 0, kULMErrNoHardware},
        {"service refuses", [] { tulx7sim::SetServiceOpenFailure(0, true); }, 0, kULMErrNoHardware},
        {"client refused", [] { tulx7sim::SetClientOpenRefused(0, true); }, 0, kULMErrAlloc},
        {"no such board", [] {}, 3, kULMErrAlloc},
        {"configuration fails",
         [] { tulx7sim::InjectSubmitFailure(TULX7_DR_GET_CONFIGURATION, 1, 6); }, 0, kULMErrHardware},
        {"peers lost", [] { tulx7sim::InjectTransportFailure(TULX7_DR_GET_BOARD_PEERS, 1); }, 0,
         kULMErrHardware},
        {"driver major 1",
         [] {
             tulx7sim::SimConfig config = SimBoards(2);
             config.major = 1;
             tulx7sim::ResetPlatform(config);
         },
         0, kULMErrVersion},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UsePlatform(SimBoards(2));
        c.arrange();
        OpenBoard(c.id, c.expected);
        EXPECT_EQ(KWBBoard::GetBoard(0), nullptr);
        EXPECT_EQ(tulx7sim::GetStats().openConnections, 0);
    }
    EXPECT_EQ(KWBBoard::Close(8), kULMErrArgument);
    EXPECT_EQ(KWBBoard::Close(0), kULMErrArgument);
}

TEST_F(KWBBoardOpen, QueueDumpsNeedADriverThatKnowsThem) {
    ulm3::testing_support::LogToFile log;
    KWBBoard* board = OpenBoard(0);
    tulx7sim::ClearRequestLog();
    board->DumpQueues();
    EXPECT_EQ(CountRequests(TULX7_DR_DEBUG_CQUEUE_DUMP), 3);
    const auto driverLog = tulx7sim::DriverLog();
    for (const char* queue : {"DMA in", "DMA out", "render"}) {
        EXPECT_TRUE(std::any_of(driverLog.begin(), driverLog.end(), [queue](const std::string& line) {
            return line.find(queue) != std::string::npos;
        })) << queue;
    }
    EXPECT_NE(log.Contents().find("DumpQueues called -- driver queues dumped to tulx7log.txt\n"),
              std::string::npos);
    ASSERT_EQ(KWBBoard::Close(0), kULMOK);

    tulx7sim::SimConfig config = SimBoards(1);
    config.minor = 1;
    UsePlatform(config);
    board = OpenBoard(0);
    tulx7sim::ClearRequestLog();
    board->DumpQueues();
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
    EXPECT_NE(log.Contents().find(
                  "DumpQueues called but driver does not support DEBUG_CQUEUE_DUMP\n"),
              std::string::npos);
}
