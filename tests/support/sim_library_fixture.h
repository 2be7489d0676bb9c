// Tests that run the library over a freshly built simulated platform and
// leave both as they found them: the library closed, every board slot empty,
// the control record restored and no driver resource left behind.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "board/kwb_board.h"
#include "support/control_snapshot.h"
#include "support/sim_session.h"

namespace ulm3::test_support {

// The platform's defaults with `boards` boards.
tulx7sim::SimConfig SimBoards(int boards);

class SimLibraryTest : public ulm3::testing::SimPlatformTest {
protected:
    using SimPlatformTest::SimPlatformTest;
    void SetUp() override;
    void TearDown() override;

    // Rebuilds the platform; only while no board is open.
    static void UsePlatform(const tulx7sim::SimConfig& config) { tulx7sim::ResetPlatform(config); }
    // Gives back every hold on the library (the application's and any the
    // test took), closes boards opened directly and forgets combinations.
    static void CloseEverything();

private:
    ControlSnapshot m_snapshot;
};

// Queues small loads on an open board through the board's own connection,
// each returning the board event of its transfer. A paused board keeps them
// pending.
class BoardWork {
public:
    explicit BoardWork(KWBBoard* board);
    ~BoardWork();
    BoardWork(const BoardWork&) = delete;
    BoardWork& operator=(const BoardWork&) = delete;

    KWBSyncEvent QueueLoad();
    // The board remembers it as its last load, as a real transfer would.
    KWBSyncEvent QueueRecordedLoad();
    // Gives the scratch buffer back now, as a test must before it closes
    // the board; its queued loads still run.
    void Release();

private:
    KWBBoard* m_board;
    int m_boardId;
    uint32_t m_bufferId = 0;
    std::unique_ptr<uint8_t[]> m_host;
    KWBSyncEvent m_last{kULMOK};  // the newest load queued
};

}  // namespace ulm3::test_support
