#include "support/sim_library_fixture.h"

#include "foundation/control.h"
#include "foundation/sync_event.h"
#include "ulm3/library.h"

namespace ulm3::test_support {

namespace {

constexpr int32_t kScratchBytes = 64;

}  // namespace

tulx7sim::SimConfig SimBoards(int boards) {
    tulx7sim::SimConfig config;
    config.boards = boards;
    return config;
}

void SimLibraryTest::SetUp() {
    CloseEverything();
    SimPlatformTest::SetUp();
}

void SimLibraryTest::TearDown() {
    CloseEverything();
    const tulx7sim::Stats stats = tulx7sim::GetStats();
    EXPECT_EQ(stats.openClients, 0);
    EXPECT_EQ(stats.openConnections, 0);
    EXPECT_EQ(stats.liveRegistryObjects, 0);
    EXPECT_EQ(stats.leakedBuffers, 0);
    EXPECT_EQ(stats.leakedHostBuffers, 0);
    SimPlatformTest::TearDown();
}

void SimLibraryTest::CloseEverything() {
    // A paused board would hold a close up for ever.
    for (int b = 0; b < KWBBoard::kMaxBoards; ++b) tulx7sim::ResumeBoard(b);
    if (gULMControl.m_initialized) ULMClose();
    while (gULMControl.m_objectCount > 0) gULMControl.DecrementObjectCount();
    for (int b = 0; b < KWBBoard::kMaxBoards; ++b) {
        if (KWBBoard::GetBoard(b) != nullptr) KWBBoard::Close(b);
    }
    CleanupMultipleEventDatabase();
}

BoardWork::BoardWork(KWBBoard* board)
    : m_board(board), m_boardId(board->GetID()), m_host(new uint8_t[kScratchBytes]()) {
    Tulx7_dr_buffer_attach allocate;
    allocate.buffer_descriptor.dimension = 0;
    allocate.buffer_descriptor.element_size = 0;
    allocate.buffer_descriptor.buffer_size.width = kScratchBytes;
    EXPECT_EQ(board->Request(TULX7_DR_BUFFER_ALLOCATE, allocate), kULMOK);
    m_bufferId = allocate.buffer_id;
}

BoardWork::~BoardWork() {
    Release();
    // The host bytes must outlive the loads that read them; a closed board
    // finished them when its connection went.
    if (m_last.IsHardwareSync() && KWBBoard::GetBoard(m_boardId) == m_board) {
        tulx7sim::ResumeBoard(m_boardId);
        m_last.Wait(-1);
    }
}

void BoardWork::Release() {
    if (m_bufferId == TULX7_DR_NO_BUFFER) return;
    Tulx7_dr_buffer_detach detach;
    detach.buffer_id = m_bufferId;
    m_bufferId = TULX7_DR_NO_BUFFER;
    EXPECT_EQ(KWBBoard::GetBoard(m_boardId), m_board) << "the board closed with its buffer";
    if (KWBBoard::GetBoard(m_boardId) == m_board) m_board->Request(TULX7_DR_BUFFER_DETACH, detach);
}

KWBSyncEvent BoardWork::QueueLoad() {
    Tulx7_dr_buffer_load load = ulm3::testing::TransferRecord(
        m_bufferId, ulm3::testing::Box(0, kScratchBytes - 1), m_host.get(), 1, kScratchBytes);
    const ULMStatus status = m_board->Request(TULX7_DR_BUFFER_LOAD, load);
    EXPECT_EQ(status, kULMOK);
    if (status != kULMOK) return KWBSyncEvent(status);
    m_last = KWBSyncEvent(m_boardId, KWBSyncEvent::kDmaInQueue, load.ret_load_event_id);
    return m_last;
}

KWBSyncEvent BoardWork::QueueRecordedLoad() {
    const KWBSyncEvent event = QueueLoad();
    m_board->SetLastLoadEvent(event);
    return event;
}

}  // namespace ulm3::test_support
