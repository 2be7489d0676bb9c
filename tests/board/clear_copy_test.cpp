// Clears of board boxes and copies between buffers, on one board, between
// peer boards and between boards that are not peers.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "board/board_buffer_fixture.h"
#include "tulx7sim/test_api.h"
#include "tulx7/driver_requests.h"

using namespace ulm3;
using ulm3::test_support::BoardBufferTest;
using ulm3::test_support::kBoardPoison;
using ulm3::test_support::kHostPoison;

namespace {

class Clears : public BoardBufferTest {
protected:
    using BoardBufferTest::BoardBufferTest;
    // Counts the elements of a 3-D buffer's storage that hold `value` in
    // their low `bytes` bytes inside `box`, and checks that everything
    // outside the box is still poison.
    static void ExpectCleared(const KWBBuffer* b, const KWBRange& box, uint64_t value) {
        const tulx7sim::BufferInfo info = Info(b);
        const std::vector<uint8_t> storage = Storage(b);
        const size_t eb = static_cast<size_t>(info.elementBytes);
        for (int w = 0; w < info.storageSize[2]; ++w)
            for (int v = 0; v < info.storageSize[1]; ++v)
                for (int u = 0; u < info.storageSize[0]; ++u) {
                    const bool inside = u >= box.minU && u <= box.maxU && v >= box.minV &&
                                        v <= box.maxV && w >= box.minW && w <= box.maxW;
                    const uint8_t* e = &storage[StorageIndex(info, u, v, w)];
                    uint8_t expected[8];
                    if (inside) {
                        std::memcpy(expected, &value, 8);
                    } else {
                        std::memset(expected, kBoardPoison, 8);
                    }
                    ASSERT_EQ(std::memcmp(e, expected, eb), 0) << u << "," << v << "," << w;
                }
    }
};

TEST_F(Clears, LargeClearsReuseOneChunkForEveryPiece) {
    KWBBuffer* b = Make(0, 256, 256, 40, 8);  // 2.5 MB
    ASSERT_NE(b, nullptr);
    const KWBRange all(0, 0, 0, 255, 255, 39);
    ASSERT_EQ(Board(0)->StartClearBuffer(b, 0x5A, all).Wait(-1), kULMOK);
    const auto loads = Requests(TULX7_DR_BUFFER_LOAD);
    ASSERT_EQ(loads.size(), 3u);
    for (const auto& load : loads) EXPECT_LE(load.hostBytes, 0xEF000u);
    EXPECT_EQ(loads[0].hostAddress, loads[2].hostAddress);
    ExpectCleared(b, all, 0x5A);
}

TEST_F(Clears, AShortGrantFallsBackToHostMemory) {
    tulx7sim::SetHostBufferGrantLimit(4096);
    KWBBuffer* b = Make(0, 128, 128, 0, 16);
    ASSERT_NE(b, nullptr);
    const KWBRange box(0, 0, 127, 127);
    const ULMSyncEvent e = Board(0)->StartClearBuffer(b, 0xCAFE, box);
    // Host memory is freed before the call returns, so the clear is done.
    EXPECT_EQ(e.Status(), kULMOK);
    ExpectCleared(b, box, 0xCAFE);
    EXPECT_EQ(Requests(TULX7_DR_HOST_BUFFER_FREE).size(), 1u);  // the short grant
    EXPECT_EQ(tulx7sim::GetStats().liveHostBuffers, 0);
}

// ---------------------------------------------------------------------------

class Copies : public BoardBufferTest {
protected:
    // Boards 0 and 1 are peers, 2 has none.
    explicit Copies(const tulx7sim::SimConfig& settings =
                        ulm3::testing::Settings([](auto& c) { c.boards = 3; }))
        : BoardBufferTest(settings) {}

    // Fills a buffer with random bytes through the back door.
    static std::vector<uint8_t> Fill(const KWBBuffer* b, uint32_t seed) {
        const std::vector<uint8_t> bytes = Random(Storage(b).size(), seed);
        EXPECT_TRUE(tulx7sim::WriteBufferMemory(b->GetDriverID(), 0, bytes.data(), bytes.size()));
        return bytes;
    }

    // A source on `from` filled with random bytes and a destination on `to`
    // of the same shape, with what both held before the copy.
    struct Pair {
        KWBBuffer *source, *destination;
        std::vector<uint8_t> s, d;
    };
    Pair MakePair(int from, int to, uint32_t u, uint32_t v, uint32_t w, uint32_t bits, uint32_t seed) {
        Pair p{Make(from, u, v, w, bits), Make(to, u, v, w, bits), {}, {}};
        if (p.source == nullptr || p.destination == nullptr) return p;
        p.s = Fill(p.source, seed);
        p.d = Storage(p.destination);
        return p;
    }

    // What the destination must hold after a copy of `extent` elements per
    // axis from `from` in the source to `to` in the destination.
    static std::vector<uint8_t> AfterCopy(const KWBBuffer* source, const std::vector<uint8_t>& s,
                                          const KWBBuffer* destination, std::vector<uint8_t> d,
                                          const KWBRange& from, const KWBRange& to, int eU, int eV,
                                          int eW) {
        const tulx7sim::BufferInfo si = Info(source), di = Info(destination);
        for (int w = 0; w < eW; ++w)
            for (int v = 0; v < eV; ++v)
                for (int u = 0; u < eU; ++u)
                    std::memcpy(&d[StorageIndex(di, to.minU + u, to.minV + v, to.minW + w)],
                                &s[StorageIndex(si, from.minU + u, from.minV + v, from.minW + w)],
                                static_cast<size_t>(si.elementBytes));
        return d;
    }
};

TEST_F(Copies, BetweenPeersTheBoardsCopyDirectly) {
    KWBBuffer* source = Make(0, 64, 32, 8, 16);
    KWBBuffer* destination = Make(1, 50, 40, 10, 16);
    ASSERT_NE(source, nullptr);
    ASSERT_NE(destination, nullptr);
    const std::vector<uint8_t> s = Fill(source, 61);
    const std::vector<uint8_t> d = Storage(destination);
    const KWBRange from(2, 3, 1, 41, 30, 6), to(5, 1, 2, 49, 39, 9);  // extents 40x28x6 and 45x39x8
    const ULMSyncEvent e = Board(0)->StartCopyBuffer(source, destination, from, to);
    EXPECT_EQ(e.Status(), kULMInProgress);
    // The copy is one job on the source board's outgoing queue, whichever
    // buffer's event it stands for.
    EXPECT_EQ(KWBSyncEvent(e).GetBoardNumber(), 0);
    EXPECT_EQ(KWBSyncEvent(e).GetQueueNumber(), KWBSyncEvent::kDmaOutQueue);
    EXPECT_EQ(e.Wait(-1), kULMOK);
    EXPECT_EQ(Requests(TULX7_DR_BUFFER_BOARD2BOARD).size(), 1u);
    EXPECT_TRUE(Requests(TULX7_DR_BUFFER_UNLOAD).empty());
    EXPECT_EQ(Storage(destination), AfterCopy(source, s, destination, d, from, to, 40, 28, 6));
    EXPECT_EQ(destination->GetLoadEvent(), e);
    EXPECT_EQ(KWBSyncEvent(source->GetUnloadEvent()).GetQueueNumber(), KWBSyncEvent::kDmaOutQueue);
}

TEST_F(Copies, WithoutAPeerTheDataGoesThroughTheHost) {
    const auto [source, destination, s, d] = MakePair(0, 2, 300, 200, 0, 32, 67);  // 240 KB
    ASSERT_TRUE(source && destination);
    const KWBRange box(0, 0, 299, 199);
    const ULMSyncEvent e = Board(0)->StartCopyBuffer(source, destination, box, box);
    EXPECT_EQ(e.Wait(-1), kULMOK);
    EXPECT_TRUE(Requests(TULX7_DR_BUFFER_BOARD2BOARD).empty());
    EXPECT_EQ(Storage(destination), AfterCopy(source, s, destination, d, box, box, 300, 200, 1));
}

// The load of a copy through the host is a step still to run when the copy
// returns: an offset given to the destination before anyone waits comes
// after it, and the copy lands where it was started for.
TEST_F(Copies, ThroughTheHostAnOffsetSetBeforeTheWaitComesAfterTheLoad) {
    const auto [source, destination, s, d] = MakePair(0, 2, 64, 48, 0, 32, 79);
    ASSERT_TRUE(source && destination);
    const KWBRange box(0, 0, 63, 47);
    const ULMSyncEvent e = Board(0)->StartCopyBuffer(source, destination, box, box);
    ASSERT_FALSE(ULMFailed(e.Status()));
    ASSERT_EQ(destination->SetOffsetOrWrap(false, 8, 6, 0), kULMOK);
    EXPECT_EQ(e.Wait(-1), kULMOK);
    EXPECT_EQ(Storage(destination), AfterCopy(source, s, destination, d, box, box, 64, 48, 1));
}

// The pieces are loaded on the destination board only once the source
// board has unloaded them: the copy comes back while the source board holds
// its queue, and what is done to the destination next, without a wait for
// the copy, comes after it.
TEST_F(Copies, ThroughTheHostTheStartWaitsForNoBoard) {
    const auto [source, destination, s, d] = MakePair(0, 2, 300, 200, 0, 32, 73);  // 240 KB
    ASSERT_TRUE(source && destination);
    const KWBRange box(0, 0, 299, 199);
    tulx7sim::PauseBoard(0);
    std::mutex lock;
    std::condition_variable started;
    bool returned = false, resumed = false;
    // Only keeps the suite from hanging when the start waits for the board.
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> hold(lock);
        if (!started.wait_for(hold, std::chrono::seconds(20), [&] { return returned; })) {
            resumed = true;
            tulx7sim::ResumeBoard(0);
        }
    });
    const ULMSyncEvent e = Board(0)->StartCopyBuffer(source, destination, box, box);
    {
        std::lock_guard<std::mutex> hold(lock);
        returned = true;
    }
    started.notify_one();
    watchdog.join();
    EXPECT_FALSE(resumed) << "the copy waited for the paused board";
    EXPECT_FALSE(ULMFailed(e.Status()));
    if (!resumed) {
        EXPECT_EQ(e.Wait(0), kULMTimeout) << "the unloads are still held";
    }
    tulx7sim::ResumeBoard(0);

    const tulx7sim::BufferInfo info = Info(destination);
    std::vector<uint8_t> unloaded(static_cast<size_t>(300 * 200 * 4), kHostPoison);
    const ULMSyncEvent read = Board(2)->StartUnloadBuffer(destination, unloaded.data(), box, 300, 200,
                                                          KWBBoard::kPlainHostMemory);
    ASSERT_EQ(read.Wait(-1), kULMOK);
    const std::vector<uint8_t> expected = AfterCopy(source, s, destination, d, box, box, 300, 200, 1);
    for (int v = 0; v < 200; ++v)
        ASSERT_EQ(std::memcmp(&unloaded[static_cast<size_t>(v) * 300 * 4],
                              &expected[StorageIndex(info, 0, v)], 300 * 4), 0)
            << "row " << v;
    EXPECT_EQ(e.Wait(-1), kULMOK);
}

TEST_F(Copies, LargeBounceCopiesStayWithinTheLimit) {
    const auto [source, destination, s, d] = MakePair(0, 0, 128, 128, 100, 8, 71);  // 1.6 MB
    ASSERT_TRUE(source && destination);
    const KWBRange from(0, 0, 0, 127, 127, 99), to(0, 0, 0, 127, 127, 89);
    EXPECT_EQ(Board(0)->StartCopyBuffer(source, destination, from, to).Wait(-1), kULMOK);
    for (const auto& r : tulx7sim::RequestLog()) EXPECT_LE(r.hostBytes, 0xEF000u);
    EXPECT_EQ(Storage(destination), AfterCopy(source, s, destination, d, from, to, 128, 128, 90));
}

}  // namespace
