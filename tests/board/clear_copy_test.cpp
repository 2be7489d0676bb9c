// Clears of board boxes and copies between buffers, on one board, between
// peer boards and between boards that are not peers.
#include <gtest/gtest.h>

#include <cstring>

#include "board/board_buffer_fixture.h"
#include "tulx7/driver_requests.h"

using namespace ulm3;
using ulm3::test_support::BoardBufferTest;
using ulm3::test_support::kBoardPoison;

namespace {

class Clears : public BoardBufferTest {
protected:
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

TEST_F(Clears, ABoxTakesTheLowBitsOfTheValueAndNothingElseChanges) {
    const uint64_t value = 0x0102030405060708ull;
    struct Case { uint32_t u, v, w, bits; KWBRange box, cleared; };
    const Case cases[] = {
        {40, 30, 12, 16, KWBRange(3, 5, 2, 37, 21, 9), KWBRange(3, 5, 2, 37, 21, 9)},
        {20, 6, 0, 8, KWBRange(1, 1, 18, 4), KWBRange(1, 1, 18, 4)},
        {20, 6, 0, 32, KWBRange(1, 1, 18, 4), KWBRange(1, 1, 18, 4)},
        {20, 6, 0, 64, KWBRange(1, 1, 18, 4), KWBRange(1, 1, 18, 4)},
        // Axes the buffer lacks are taken as zero.
        {64, 8, 0, 32, KWBRange(0, 2, 5, 63, 5, 9), KWBRange(0, 2, 63, 5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        KWBBuffer* b = Make(0, c.u, c.v, c.w, c.bits);
        ASSERT_NE(b, nullptr);
        tulx7sim::ClearRequestLog();
        EXPECT_EQ(Board(0)->StartClearBuffer(b, value, c.box).Wait(-1), kULMOK);
        ExpectCleared(b, c.cleared, value);
        // The chunk came from the driver and went back to it.
        EXPECT_EQ(Requests(TULX7_DR_HOST_BUFFER_ALLOC).size(), 1u);
        EXPECT_EQ(Requests(TULX7_DR_HOST_BUFFER_FREE).size(), 1u);
        EXPECT_EQ(tulx7sim::GetStats().liveHostBuffers, 0);
        // The buffer remembers the last load, so later work orders after it.
        const auto loads = Requests(TULX7_DR_BUFFER_LOAD);
        ASSERT_FALSE(loads.empty());
        EXPECT_EQ(KWBSyncEvent(b->GetLoadEvent()).GetDriverEventID(), loads.back().events[0]);
    }
}

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

TEST_F(Clears, RefusalsSendNothing) {
    KWBBuffer* b = Make(0, 16, 16, 0, 8);
    ASSERT_NE(b, nullptr);
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(Board(0)->StartClearBuffer(nullptr, 0, KWBRange(0, 3)).Status(), kULMErrArgument);
    EXPECT_EQ(Board(0)->StartClearBuffer(b, 0, KWBRange(4, 3)).Status(), kULMErrArgument);
    // The 16 x 16 bytes are stored 32 wide; one element more is outside.
    EXPECT_EQ(Board(0)->StartClearBuffer(b, 0, KWBRange(0, 0, 32, 3)).Status(), kULMErrArgument);
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
}

// Every job waits a little, so a host buffer freed too early would be freed
// while its loads are still queued.
class SlowClears : public Clears {
protected:
    tulx7sim::SimConfig Config() const override {
        tulx7sim::SimConfig config;
        config.latencyMicroseconds = 3000;
        return config;
    }
};

TEST_F(SlowClears, TheDriverHostBufferOutlivesTheLoadsThatReadIt) {
    KWBBuffer* b = Make(0, 256, 256, 40, 8);
    ASSERT_NE(b, nullptr);
    const KWBRange all(0, 0, 0, 255, 255, 39);
    const ULMSyncEvent e = Board(0)->StartClearBuffer(b, 0x11, all);
    EXPECT_EQ(tulx7sim::GetStats().hostBuffersFreedInUse, 0);
    EXPECT_EQ(e.Wait(-1), kULMOK);
    ExpectCleared(b, all, 0x11);
}

// ---------------------------------------------------------------------------

class Copies : public BoardBufferTest {
protected:
    tulx7sim::SimConfig Config() const override {
        tulx7sim::SimConfig config;
        config.boards = 3;  // 0 and 1 are peers, 2 has none
        return config;
    }

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
    EXPECT_EQ(KWBSyncEvent(e).GetQueueNumber(), KWBSyncEvent::kDmaInQueue);
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
    EXPECT_EQ(e.Status(), kULMOK);  // finished before it returns
    EXPECT_TRUE(Requests(TULX7_DR_BUFFER_BOARD2BOARD).empty());
    EXPECT_EQ(Storage(destination), AfterCopy(source, s, destination, d, box, box, 300, 200, 1));
}

TEST_F(Copies, LargeBounceCopiesStayWithinTheLimit) {
    const auto [source, destination, s, d] = MakePair(0, 0, 128, 128, 100, 8, 71);  // 1.6 MB
    ASSERT_TRUE(source && destination);
    const KWBRange from(0, 0, 0, 127, 127, 99), to(0, 0, 0, 127, 127, 89);
    EXPECT_EQ(Board(0)->StartCopyBuffer(source, destination, from, to).Status(), kULMOK);
    for (const auto& r : tulx7sim::RequestLog()) EXPECT_LE(r.hostBytes, 0xEF000u);
    EXPECT_EQ(Storage(destination), AfterCopy(source, s, destination, d, from, to, 128, 128, 90));
}

TEST_F(Copies, AFailedDirectCopyFallsBackAndStampsNothing) {
    const auto [source, destination, s, d] = MakePair(0, 1, 32, 32, 0, 8, 73);
    ASSERT_TRUE(source && destination);
    tulx7sim::InjectSubmitFailure(TULX7_DR_BUFFER_BOARD2BOARD, 1, TULX7_DR_STATUS_HW_ERROR);
    const KWBRange box(0, 0, 31, 31);
    const ULMSyncEvent e = Board(0)->StartCopyBuffer(source, destination, box, box);
    EXPECT_EQ(e.Status(), kULMOK);
    EXPECT_EQ(Storage(destination), AfterCopy(source, s, destination, d, box, box, 32, 32, 1));
    // The events are the bounce's own transfers, not ids the driver never gave.
    const auto unloads = Requests(TULX7_DR_BUFFER_UNLOAD);
    const auto loads = Requests(TULX7_DR_BUFFER_LOAD);
    ASSERT_EQ(unloads.size(), 1u);
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(KWBSyncEvent(source->GetUnloadEvent()).GetDriverEventID(), unloads[0].events[0]);
    EXPECT_EQ(KWBSyncEvent(destination->GetLoadEvent()).GetDriverEventID(), loads[0].events[0]);
}

TEST_F(Copies, MismatchedBuffersAndBoxesAreRefusedWithoutARequest) {
    KWBBuffer* a = Make(0, 32, 32, 0, 8);
    KWBBuffer* wider = Make(1, 32, 32, 0, 16);
    KWBBuffer* flat = Make(1, 32, 0, 0, 8);
    KWBBuffer* other = Make(1, 32, 32, 0, 8);
    ASSERT_TRUE(a && wider && flat && other);
    tulx7sim::ClearRequestLog();
    const KWBRange box(0, 0, 7, 7);
    EXPECT_EQ(Board(0)->StartCopyBuffer(a, wider, box, box).Status(), kULMErrArgument);
    EXPECT_EQ(Board(0)->StartCopyBuffer(a, flat, box, KWBRange(0, 7)).Status(), kULMErrArgument);
    EXPECT_EQ(Board(0)->StartCopyBuffer(nullptr, other, box, box).Status(), kULMErrArgument);
    EXPECT_EQ(Board(0)->StartCopyBuffer(a, other, KWBRange(3, 2), box).Status(), kULMErrArgument);
    // The common extent (8 x 8) from 30 runs past the 32 stored columns.
    EXPECT_EQ(Board(0)->StartCopyBuffer(a, other, KWBRange(30, 0, 45, 7), box).Status(),
              kULMErrArgument);
    // The source must be on the board asked to copy.
    EXPECT_EQ(Board(1)->StartCopyBuffer(a, other, box, box).Status(), kULMErrArgument);
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
}

TEST_F(Copies, APlaneOfA3DBufferAndA2DBufferCopyBothWays) {
    // Between peers and between boards without one: neither may take the
    // driver's direct copy, which needs one shape on both sides.
    for (const int to : {1, 2}) {
        SCOPED_TRACE(to);
        KWBBuffer* image = Make(0, 40, 24, 0, 16);
        KWBBuffer* plane = Make(to, 40, 24, 1, 16);
        ASSERT_TRUE(image && plane);
        std::vector<uint16_t> pixels(40 * 24);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint16_t>(i * 7 + to);
        ASSERT_EQ(Board(0)->LoadBuffer(image, pixels.data(), KWBRange(0, 0, 39, 23), 40, 24,
                                       TULX7_DR_PLAIN_HOST_MEMORY), kULMOK);
        tulx7sim::ClearRequestLog();
        const KWBRange flat(0, 0, 39, 23), onePlane(0, 0, 0, 39, 23, 0);
        EXPECT_EQ(Board(0)->StartCopyBuffer(image, plane, flat, onePlane).Wait(-1), kULMOK);
        EXPECT_TRUE(Requests(TULX7_DR_BUFFER_BOARD2BOARD).empty());
        std::vector<uint16_t> back(pixels.size(), 0);
        ASSERT_EQ(Board(to)->UnloadBuffer(plane, back.data(), onePlane, 40, 24,
                                          TULX7_DR_PLAIN_HOST_MEMORY), kULMOK);
        EXPECT_EQ(back, pixels);

        // And back into a fresh 2-D image on board 0.
        KWBBuffer* again = Make(0, 40, 24, 0, 16);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(Board(to)->StartCopyBuffer(plane, again, onePlane, flat).Wait(-1), kULMOK);
        std::fill(back.begin(), back.end(), 0);
        ASSERT_EQ(Board(0)->UnloadBuffer(again, back.data(), flat, 40, 24, TULX7_DR_PLAIN_HOST_MEMORY),
                  kULMOK);
        EXPECT_EQ(back, pixels);
    }
    // A 2-D image holds one plane only, and 1-D and 3-D buffers never copy.
    KWBBuffer* thick = Make(0, 8, 8, 2, 8);
    KWBBuffer* image = Make(0, 8, 8, 0, 8);
    KWBBuffer* line = Make(0, 8, 0, 0, 8);
    ASSERT_TRUE(thick && image && line);
    EXPECT_EQ(Board(0)->StartCopyBuffer(thick, image, KWBRange(0, 0, 0, 7, 7, 1), KWBRange(0, 0, 0, 7, 7, 1))
                  .Status(),
              kULMErrArgument);
    EXPECT_EQ(Board(0)->StartCopyBuffer(line, thick, KWBRange(0, 7), KWBRange(0, 0, 0, 7, 0, 0)).Status(),
              kULMErrArgument);
}

// The peer copy runs on the source board's queue; loads into the destination
// run on the destination's. Slow jobs make a missing dependency show.
class SlowPeerCopies : public Copies {
protected:
    tulx7sim::SimConfig Config() const override {
        tulx7sim::SimConfig config = Copies::Config();
        config.latencyMicroseconds = 3000;
        return config;
    }
};

TEST_F(SlowPeerCopies, WorkOnTheDestinationStartedRightAfterACopyWaitsForIt) {
    const auto [source, destination, s, d] = MakePair(0, 1, 64, 64, 0, 8, 79);
    ASSERT_TRUE(source && destination);
    const KWBRange box(0, 0, 63, 63);
    const std::vector<uint8_t> pending = Random(64 * 64, 83);
    const std::vector<uint8_t> later = Random(64 * 64, 89);
    std::vector<uint8_t> seen(64 * 64);

    // A load queued on the destination before the copy, the copy, then a
    // load and an unload after it, all without waiting.
    tulx7sim::PauseBoard(1);
    Board(1)->StartLoadBuffer(destination, pending.data(), box, 0, 0, -1);
    const ULMSyncEvent copy = Board(0)->StartCopyBuffer(source, destination, box, box);
    tulx7sim::ResumeBoard(1);
    const ULMSyncEvent unload = Board(1)->StartUnloadBuffer(destination, seen.data(), box, 0, 0, -1);
    const ULMSyncEvent load = Board(1)->StartLoadBuffer(destination, later.data(), box, 0, 0, -1);
    ASSERT_EQ(load.Wait(-1), kULMOK);
    ASSERT_EQ(unload.Wait(-1), kULMOK);
    ASSERT_EQ(copy.Wait(-1), kULMOK);
    // The unload saw the copy, not the load queued before it; the later load
    // came last.
    std::vector<uint8_t> expectedSeen(64 * 64);
    const tulx7sim::BufferInfo si = Info(source);
    for (int v = 0; v < 64; ++v) std::memcpy(&expectedSeen[v * 64], &s[StorageIndex(si, 0, v)], 64);
    EXPECT_EQ(seen, expectedSeen);
    std::vector<uint8_t> final(64 * 64);
    ASSERT_EQ(Board(1)->UnloadBuffer(destination, final.data(), box, 0, 0, -1), kULMOK);
    EXPECT_EQ(final, later);
}

}  // namespace
