// The board event word and the choice of the newer of two events.
#include <gtest/gtest.h>

#include "board/kwb_sync_event.h"
#include "foundation/sync_event.h"

using namespace ulm3;

namespace {

KWBSyncEvent Render(uint64_t sequence, int board = 0) {
    return KWBSyncEvent(board, KWBSyncEvent::kRenderQueue, sequence);
}

}  // namespace

TEST(KWBSyncEvent, WordLayoutAndHandlesThatAreNotBoardEvents) {
    const KWBSyncEvent event(5, KWBSyncEvent::kDmaOutQueue, 0x12345678u);
    EXPECT_EQ(SyncEventWord(event), 0x8F51000012345678ull);
    EXPECT_EQ(event.GetBoardNumber(), 5);
    EXPECT_EQ(event.GetQueueNumber(), KWBSyncEvent::kDmaOutQueue);
    EXPECT_EQ(event.GetSequenceNumber(), 0x12345678u);
    EXPECT_EQ(event.Status(), kULMInProgress);

    EXPECT_EQ(KWBSyncEvent(kULMOK).GetSequenceNumber(), 0xFFFFFFFFu);
    EXPECT_EQ(KWBSyncEvent(ULMMultiSyncEvent(3)).GetSequenceNumber(), 0xFFFFFFFFu);
    EXPECT_FALSE(KWBSyncEvent(SyncEventFromWord(0x8E00000000000001ull)).IsHardwareSync());
    EXPECT_DEATH(KWBSyncEvent(kULMOK).GetBoardNumber(),
                 "ULM_ASSERT \\( IsHardwareSync\\(\\) \\) failed");
}

TEST(KWBSyncEvent, LatestKeepsTheNewerBoardEvent) {
    EXPECT_EQ(Render(0x10).Latest(Render(0x30)), Render(0x30));
    // 0x10 - 0x30 modulo 2^48 is far above 2^31: the other one is older.
    EXPECT_EQ(Render(0x30).Latest(Render(0x10)), Render(0x30));
    // Equal numbers keep `other`; board and queue play no part.
    EXPECT_EQ(Render(0x30, 1).Latest(Render(0x30, 2)), Render(0x30, 2));
    const KWBSyncEvent load(3, KWBSyncEvent::kDmaInQueue, 0x31);
    EXPECT_EQ(load.Latest(Render(0x30)), load);
    EXPECT_EQ(Render(0x1000).Latest(Render(0x1000 + 0x7FFFFFFFull)), Render(0x1000 + 0x7FFFFFFFull));
    EXPECT_EQ(Render(0x1000).Latest(Render(0x1000 + 0x80000000ull)), Render(0x1000));

    // A board event wins over any other handle, on either side.
    const KWBSyncEvent failed(kULMErrHardware);
    EXPECT_EQ(Render(7).Latest(failed), Render(7));
    EXPECT_EQ(failed.Latest(Render(7)), Render(7));
    EXPECT_EQ(failed.Latest(ULMSyncEvent(kULMOK)), failed);
}
