// Loads and unloads between host memory and board buffers, checked byte for
// byte against the board's storage and the driver's request log.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "board/board_buffer_fixture.h"
#include "board/transfer_planner.h"
#include "foundation/control.h"
#include "tulx7/driver_requests.h"

using namespace ulm3;
using ulm3::test_support::BoardBufferTest;
using ulm3::test_support::kBoardPoison;
using ulm3::test_support::kHostPoison;

namespace {

// Host memory of a transfer: rows of `row` elements, `slice` rows per slice,
// `fieldBytes` per element.
struct HostLayout {
    uint32_t row = 0;
    uint32_t slice = 0;
    uint32_t fieldBytes = 1;
    uint32_t fieldPosition = 0;  // bytes into the board element
};

class Transfers : public BoardBufferTest {
protected:
    // Storage coordinate of board coordinate p on one axis.
    static int StorageCoordinate(const KWBBuffer* b, int axis, int p) {
        const int om = axis == 0 ? b->m_offset_U : axis == 1 ? b->m_offset_V : b->m_offset_W;
        if (!b->IsWrapped()) return p - om;
        return om < 0 ? p : (p & om);
    }

    // Calls fn(storage byte index, host byte index) for every element of
    // `range`, in board order.
    template <typename Fn>
    static void ForEachElement(const KWBBuffer* b, const KWBRange& range, const HostLayout& h,
                               Fn fn) {
        const tulx7sim::BufferInfo info = Info(b);
        const int dimension = b->GetDimension();
        for (int w = range.minW; w <= range.maxW; ++w)
            for (int v = range.minV; v <= range.maxV; ++v)
                for (int u = range.minU; u <= range.maxU; ++u) {
                    const size_t q = StorageIndex(info, StorageCoordinate(b, 0, u),
                                                  dimension > 1 ? StorageCoordinate(b, 1, v) : 0,
                                                  dimension > 2 ? StorageCoordinate(b, 2, w) : 0);
                    const size_t hostIndex =
                        ((static_cast<size_t>(w - range.minW) * h.slice + (v - range.minV)) * h.row +
                         (u - range.minU)) * h.fieldBytes;
                    fn(q + h.fieldPosition, hostIndex);
                }
    }

    // What the storage must hold once `host` was loaded over `range` into a
    // storage that held `before`: the field bytes of every element in the
    // box (the last write of an aliased element wins), nothing else changed.
    static std::vector<uint8_t> AfterLoad(const KWBBuffer* b, std::vector<uint8_t> before,
                                          const KWBRange& range, const uint8_t* host,
                                          const HostLayout& h) {
        ForEachElement(b, range, h, [&](size_t q, size_t i) {
            std::memcpy(&before[q], host + i, h.fieldBytes);
        });
        return before;
    }

    // What an unload of `range` into `host` must leave: the box's field
    // bytes at their host places, every other host byte as it was.
    static std::vector<uint8_t> AfterUnload(const KWBBuffer* b, const std::vector<uint8_t>& storage,
                                            const KWBRange& range, std::vector<uint8_t> host,
                                            const HostLayout& h) {
        ForEachElement(b, range, h, [&](size_t q, size_t i) {
            std::memcpy(&host[i], &storage[q], h.fieldBytes);
        });
        return host;
    }

    static size_t HostBytes(const KWBRange& range, const HostLayout& h) {
        return ((static_cast<size_t>(range.ExtentW() - 1) * h.slice + (range.ExtentV() - 1)) * h.row +
                range.ExtentU()) * h.fieldBytes;
    }

    static uint64_t LargestRequest(uint32_t code) {
        uint64_t largest = 0;
        for (const auto& e : Requests(code)) largest = std::max(largest, e.hostBytes);
        return largest;
    }
};

// Loads and unloads of whole elements through every addressing form, each
// checked byte for byte: the storage after the load, the host after the
// unload (with every host byte outside the box left as it was).
TEST_F(Transfers, WholeElementsRoundTripThroughEveryAddressingForm) {
    struct Case {
        const char* what;
        uint32_t u, v, w, bits;
        bool wrap;
        int om[3];  // offsets or moduli
        KWBRange range;
        uint32_t row, slice;  // host pitches, 0 for dense
        size_t loads;         // requests the load takes, 0 for not checked
    };
    const Case cases[] = {
        {"one axis", 1000, 0, 0, 16, false, {0, 0, 0}, KWBRange(3, 990), 0, 0, 1},
        {"two axes", 100, 60, 0, 32, false, {0, 0, 0}, KWBRange(5, 7, 94, 55), 0, 0, 1},
        {"three axes", 40, 30, 20, 8, false, {0, 0, 0}, KWBRange(1, 2, 3, 38, 27, 19), 0, 0, 1},
        {"64-bit elements", 33, 17, 0, 64, false, {0, 0, 0}, KWBRange(0, 0, 32, 16), 0, 0, 1},
        {"an offset window", 64, 32, 0, 8, false, {100, 40, 0}, KWBRange(100, 40, 163, 71), 0, 0, 1},
        {"pitched memory", 40, 30, 10, 16, false, {0, 0, 0}, KWBRange(3, 4, 1, 32, 23, 5), 50, 40, 1},
        {"wrapped in two axes from pitched memory", 64, 64, 0, 16, true, {64, 64, 0}, KWBRange(60, 58, 70, 69),
         13, 12, 0},
        // W was given modulus 0, as an image turned 3-D leaves it: all of W moves.
        {"an axis wrapped with modulus 0", 16, 16, 8, 8, true, {16, 16, 0}, KWBRange(2, 3, 1, 9, 7, 6), 0, 0, 1},
        // Slices above the limit go in rows: 29 + 29 + 6 rows of 32 KB.
        {"rows from pitched memory", 8192, 64, 0, 32, false, {0, 0, 0}, KWBRange(0, 0, 8191, 63), 9000, 0, 3},
    };
    uint32_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KWBBuffer* b = Make(0, c.u, c.v, c.w, c.bits);
        ASSERT_NE(b, nullptr);
        ASSERT_EQ(b->SetOffsetOrWrap(c.wrap, c.om[0], c.om[1], c.om[2]), kULMOK);
        const HostLayout h{c.row ? c.row : static_cast<uint32_t>(c.range.ExtentU()),
                           c.slice ? c.slice : static_cast<uint32_t>(c.range.ExtentV()), c.bits / 8, 0};
        const std::vector<uint8_t> data = Random(HostBytes(c.range, h), seed++);
        const std::vector<uint8_t> before = Storage(b);
        tulx7sim::ClearRequestLog();
        ASSERT_EQ(Board(0)->LoadBuffer(b, data.data(), c.range, c.row, c.slice, -1), kULMOK);
        const auto loads = Requests(TULX7_DR_BUFFER_LOAD);
        EXPECT_TRUE(c.loads == 0 || loads.size() == c.loads) << loads.size() << " load requests";
        EXPECT_LE(LargestRequest(TULX7_DR_BUFFER_LOAD), kKWBMaxTransferBytes);
        EXPECT_EQ(loads.at(0).boxMin[2], c.range.minW);
        const std::vector<uint8_t> storage = Storage(b);
        EXPECT_EQ(storage, AfterLoad(b, before, c.range, data.data(), h));

        const std::vector<uint8_t> host = Poisoned(data.size() + 32);
        std::vector<uint8_t> back = host;
        ASSERT_EQ(Board(0)->UnloadBuffer(b, back.data(), c.range, c.row, c.slice, -1), kULMOK);
        EXPECT_EQ(back, AfterUnload(b, storage, c.range, host, h));
        EXPECT_TRUE(c.row != 0 || std::equal(data.begin(), data.end(), back.begin())) << "dense data came back";
    }
}

// A load keeps the last period, as the later elements are the ones that
// stay; an unload fills every host element, the aliased ones too.
TEST_F(Transfers, AWrappedRangeLongerThanItsModulusLoadsItsLastElementsAndUnloadsAll) {
    KWBBuffer* b = Make(0, 256, 0, 0, 8);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->SetOffsetOrWrap(true, 256, 0, 0), kULMOK);
    const std::vector<uint8_t> data = Random(300, 17);
    const std::vector<uint8_t> before = Storage(b);
    ASSERT_EQ(Board(0)->LoadBuffer(b, data.data(), KWBRange(0, 299), 0, 0, -1), kULMOK);
    // 44..299 also crosses 256, from a row of 300: two requests.
    const auto loads = Requests(TULX7_DR_BUFFER_LOAD);
    ASSERT_EQ(loads.size(), 2u);
    EXPECT_EQ(loads[0].boxMin[0], 44);
    EXPECT_EQ(loads[0].boxMax[0], 255);
    EXPECT_EQ(loads[0].hostBytes + loads[1].hostBytes, 256u);
    EXPECT_EQ(Storage(b), AfterLoad(b, before, KWBRange(0, 299), data.data(), {300, 1, 1, 0}));

    std::vector<uint8_t> back = Poisoned(300);
    ASSERT_EQ(Board(0)->UnloadBuffer(b, back.data(), KWBRange(0, 299), 0, 0, -1), kULMOK);
    EXPECT_TRUE(std::equal(back.begin() + 44, back.end(), data.begin() + 44));
    // Elements 0..43 hold what the load put there from 256..299.
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 44, data.begin() + 256));
}

// A wrapped run sent as two requests is one transfer to whoever holds its
// handle: aborted while both wait on a paused board, its wait answers only
// once neither can still touch the host memory, so that memory overwritten
// after the answer never reaches the buffer (a load) and keeps what was
// written there (an unload).
TEST_F(Transfers, BothRequestsOfAWrappedRunAnswerToOneHandle) {
    KWBBuffer* b = Make(0, 256, 0, 0, 8);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->SetOffsetOrWrap(true, 256, 0, 0), kULMOK);
    const KWBRange run(0, 299);
    for (const bool load : {true, false}) {
        SCOPED_TRACE(load ? "load" : "unload");
        std::vector<uint8_t> host = Random(300, load ? 23 : 29);
        ASSERT_EQ(Board(0)->LoadBuffer(b, Random(300, 31).data(), run, 0, 0, -1), kULMOK);
        const std::vector<uint8_t> before = Storage(b);
        tulx7sim::ClearRequestLog();
        tulx7sim::PauseBoard(0);
        const ULMSyncEvent started = load ? Board(0)->StartLoadBuffer(b, host.data(), run, 0, 0, -1)
                                          : Board(0)->StartUnloadBuffer(b, host.data(), run, 0, 0, -1);
        ASSERT_EQ(Requests(load ? TULX7_DR_BUFFER_LOAD : TULX7_DR_BUFFER_UNLOAD).size(), 2u);
        EXPECT_EQ(started.Abort(), kULMOK);
        // The wait may have to outlast the pause: the board goes on shortly.
        std::thread resume([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            tulx7sim::ResumeBoard(0);
        });
        const ULMStatus answer = started.Wait(-1);
        std::fill(host.begin(), host.end(), kHostPoison);
        resume.join();
        ASSERT_TRUE(tulx7sim::WaitForIdle(20000));
        EXPECT_EQ(answer, kULMErrAborted);
        if (load) {
            const std::vector<uint8_t> after = Storage(b);
            EXPECT_EQ(std::count(after.begin(), after.end(), kHostPoison),
                      std::count(before.begin(), before.end(), kHostPoison))
                << "host bytes reached the buffer after the answer";
        } else {
            EXPECT_EQ(std::count(host.begin(), host.end(), kHostPoison), 300) << "host bytes written after the answer";
        }
    }
}

TEST_F(Transfers, FieldsAtEveryLegalPositionTouchOnlyTheirBytes) {
    KWBBuffer* b = Make(0, 50, 0, 0, 64);
    ASSERT_NE(b, nullptr);
    const KWBRange range(2, 47);
    const std::vector<uint8_t> whole = Random(46 * 8, 19);
    uint32_t seed = 100;
    for (uint32_t size = 8; size <= 64; size += 8) {
        for (uint32_t position = 0; position + size <= 64; position += 8) {
            SCOPED_TRACE(::testing::Message() << size << " bits at " << position);
            ASSERT_EQ(Board(0)->LoadBuffer(b, whole.data(), range, 0, 0, -1), kULMOK);
            const std::vector<uint8_t> before = Storage(b);
            const HostLayout h{46, 1, size / 8, position / 8};
            const std::vector<uint8_t> field = Random(46 * h.fieldBytes, seed++);
            ASSERT_EQ(Board(0)->LoadBufferField(b, field.data(), size, position, range, 0, 0, -1),
                      kULMOK);
            const std::vector<uint8_t> storage = Storage(b);
            ASSERT_EQ(storage, AfterLoad(b, before, range, field.data(), h));

            std::vector<uint8_t> back = Poisoned(field.size() + 8);
            ASSERT_EQ(Board(0)->UnloadBufferField(b, back.data(), size, position, range, 0, 0, -1),
                      kULMOK);
            ASSERT_TRUE(std::equal(field.begin(), field.end(), back.begin()));
            ASSERT_EQ(std::count(back.begin() + field.size(), back.end(), kHostPoison), 8);
        }
    }
}

// Loads of different fields of one buffer, queued from two threads at once:
// each field arrives whole, and the buffer's load event is the newer of the
// two, so that work queued after both waits for both.
TEST_F(Transfers, FieldsLoadedFromTwoThreadsAtOnceBothArrive) {
    KWBBuffer* b = Make(0, 256, 64, 0, 16);
    ASSERT_NE(b, nullptr);
    const KWBRange range(0, 0, 255, 63);
    const std::vector<uint8_t> low = Random(256 * 64, 23), high = Random(256 * 64, 29);
    for (int round = 0; round < 20; ++round) {
        ULMSyncEvent events[2];
        std::thread other([&] {
            events[1] = Board(0)->StartLoadBufferField(b, high.data(), 8, 8, range, 0, 0, -1);
        });
        events[0] = Board(0)->StartLoadBufferField(b, low.data(), 8, 0, range, 0, 0, -1);
        other.join();
        ASSERT_EQ(b->GetLoadEvent().Wait(-1), kULMOK);
        for (const ULMSyncEvent& e : events) ASSERT_TRUE(e.IsDone());
        std::vector<uint8_t> back(256 * 64 * 2);
        ASSERT_EQ(Board(0)->UnloadBuffer(b, back.data(), range, 0, 0, -1), kULMOK);
        for (size_t i = 0; i < low.size(); ++i) {
            ASSERT_EQ(back[2 * i], low[i]) << i;
            ASSERT_EQ(back[2 * i + 1], high[i]) << i;
        }
    }
}

// Three queues running side by side, each job delayed: only the event ids
// in the requests keep dependent transfers in order.
class TransfersOnThreeQueues : public BoardBufferTest {
protected:
    TransfersOnThreeQueues()
        : BoardBufferTest(ulm3::testing::Settings([](auto& c) {
              c.mode = tulx7sim::QueueMode::kThreeQueues;
              c.latencyMicroseconds = 2000;
          })) {}
};

TEST_F(TransfersOnThreeQueues, DependentTransfersStartedBackToBackKeepTheirOrder) {
    KWBBuffer* b = Make(0, 256, 256, 40, 8);  // 2.5 MB: three pieces each way
    ASSERT_NE(b, nullptr);
    const KWBRange all(0, 0, 0, 255, 255, 39);
    const std::vector<uint8_t> first = Random(256 * 256 * 40, 41);
    const std::vector<uint8_t> second = Random(first.size(), 43);
    std::vector<uint8_t> seenFirst(first.size()), seenSecond(first.size());

    // load, unload, load, unload: each unload sees the load before it.
    const ULMSyncEvent l1 = Board(0)->StartLoadBuffer(b, first.data(), all, 0, 0, -1);
    const ULMSyncEvent u1 = Board(0)->StartUnloadBuffer(b, seenFirst.data(), all, 0, 0, -1);
    const ULMSyncEvent l2 = Board(0)->StartLoadBuffer(b, second.data(), all, 0, 0, -1);
    const ULMSyncEvent u2 = Board(0)->StartUnloadBuffer(b, seenSecond.data(), all, 0, 0, -1);
    for (const ULMSyncEvent& e : {l1, u1, l2, u2}) EXPECT_EQ(e.Status(), kULMInProgress);
    EXPECT_EQ(u2.Wait(-1), kULMOK);
    EXPECT_EQ(u1.Wait(-1), kULMOK);
    EXPECT_EQ(seenFirst, first);
    EXPECT_EQ(seenSecond, second);

    // Each unload named the newest load before it, each load the unload.
    const auto loads = Requests(TULX7_DR_BUFFER_LOAD);
    const auto unloads = Requests(TULX7_DR_BUFFER_UNLOAD);
    ASSERT_EQ(loads.size(), 6u);
    ASSERT_EQ(unloads.size(), 6u);
    EXPECT_EQ(unloads[0].dependencies[1], loads[2].events[0]);
    EXPECT_EQ(loads[3].dependencies[1], unloads[2].events[0]);
    // The board's newest load is the second load's last piece.
    EXPECT_EQ(Board(0)->GetLastLoadEvent(),
              KWBSyncEvent(0, KWBSyncEvent::kDmaInQueue, loads[5].events[0]));
}

TEST_F(Transfers, RefusedTransfersSendNothingAndTouchNothing) {
    KWBBuffer* b1 = Make(0, 64, 0, 0, 32);
    KWBBuffer* b2 = Make(0, 16, 8, 0, 16);
    KWBBuffer* b3 = Make(0, 8, 8, 8, 16);
    ASSERT_TRUE(b1 && b2 && b3);
    ASSERT_EQ(b2->SetOffsetOrWrap(false, 4, 2, 0), kULMOK);
    std::vector<uint8_t> host = Poisoned(4096);
    void* h = host.data();
    const std::vector<uint8_t> storage1 = Storage(b1), storage2 = Storage(b2), storage3 = Storage(b3);
    tulx7sim::ClearRequestLog();

    KWBBoard* board = Board(0);
    const std::vector<std::pair<const char*, std::function<ULMSyncEvent()>>> refused = {
        {"null buffer", [&] { return board->StartLoadBuffer(nullptr, h, KWBRange(0, 3), 0, 0, -1); }},
        {"null host", [&] { return board->StartUnloadBuffer(b1, nullptr, KWBRange(0, 3), 0, 0, -1); }},
        {"field of 0 bits", [&] { return board->StartLoadBufferField(b1, h, 0, 0, KWBRange(0, 3), 0, 0, -1); }},
        {"field of 12 bits", [&] { return board->StartUnloadBufferField(b1, h, 12, 0, KWBRange(0, 3), 0, 0, -1); }},
        {"field at bit 4", [&] { return board->StartLoadBufferField(b1, h, 8, 4, KWBRange(0, 3), 0, 0, -1); }},
        {"field past the element",
         [&] { return board->StartLoadBufferField(b1, h, 16, 24, KWBRange(0, 3), 0, 0, -1); }},
        {"field wider than the element",
         [&] { return board->StartUnloadBufferField(b1, h, 64, 0, KWBRange(0, 3), 0, 0, -1); }},
        {"reversed box", [&] { return board->StartLoadBuffer(b1, h, KWBRange(5, 3), 0, 0, -1); }},
        {"negative box", [&] { return board->StartLoadBuffer(b1, h, KWBRange(-2, 3), 0, 0, -1); }},
        {"past the storage", [&] { return board->StartLoadBuffer(b1, h, KWBRange(60, 64), 0, 0, -1); }},
        {"an axis the buffer lacks", [&] { return board->StartLoadBuffer(b1, h, KWBRange(0, 0, 3, 1), 0, 0, -1); }},
        {"before the offset window", [&] { return board->StartLoadBuffer(b2, h, KWBRange(3, 2, 10, 5), 0, 0, -1); }},
        {"host rows too short", [&] { return board->StartLoadBuffer(b1, h, KWBRange(0, 9), 9, 0, -1); }},
        {"host slices too short", [&] { return board->StartUnloadBuffer(b2, h, KWBRange(4, 2, 10, 5), 0, 3, -1); }},
        {"host rows beyond 31 bits", [&] { return board->StartLoadBuffer(b1, h, KWBRange(0, 9), 0x80000000u, 0, -1); }},
        {"host span beyond the address space", [&] {
             return board->StartUnloadBuffer(b3, h, KWBRange(0, 0, 0, 3, 3, 2), 0x7FFFFFFFu,
                                             0x7FFFFFFFu, -1);
         }},
        {"one request, past the storage", [&] {
             return board->DoStartLoadBufferField(b1, h, 32, 0, KWBRange(0, 64), 0, 0, -1);
         }},
        {"one request, null", [&] {
             return board->DoStartUnloadBufferField(nullptr, h, 32, 0, KWBRange(0, 3), 0, 0, -1);
         }},
    };
    for (const auto& [what, start] : refused) {
        const ULMSyncEvent e = start();
        EXPECT_EQ(e.Status(), kULMErrArgument) << what;
    }
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
    EXPECT_EQ(std::count(host.begin(), host.end(), kHostPoison), 4096);
    EXPECT_EQ(Storage(b1), storage1);
    EXPECT_EQ(Storage(b2), storage2);
    EXPECT_EQ(Storage(b3), storage3);
}

// A piece that fails while it runs does not stop the pieces queued after it;
// the transfer as a whole must still report the failure, whichever piece it
// was, and a clear must not call a box cleared that was not.
TEST_F(Transfers, APieceThatFailsAsItRunsFailsTheWholeTransfer) {
    KWBBuffer* b = Make(0, 256, 256, 40, 8);  // 2.5 MB: three pieces
    ASSERT_NE(b, nullptr);
    const KWBRange all(0, 0, 0, 255, 255, 39);
    std::vector<uint8_t> host = Random(256 * 256 * 40, 7);
    KWBBoard* board = Board(0);
    struct Case {
        const char* what;
        uint32_t code;
        std::function<ULMSyncEvent()> start;
    };
    const std::vector<Case> cases = {
        {"load", TULX7_DR_BUFFER_LOAD,
         [&] { return board->StartLoadBuffer(b, host.data(), all, 0, 0, -1); }},
        {"unload", TULX7_DR_BUFFER_UNLOAD,
         [&] { return board->StartUnloadBuffer(b, host.data(), all, 0, 0, -1); }},
        {"clear", TULX7_DR_BUFFER_LOAD, [&] { return board->StartClearBuffer(b, 0x33, all); }},
    };
    for (const Case& c : cases) {
        for (int nth = 1; nth <= 3; ++nth) {
            tulx7sim::InjectCompletionFailure(c.code, nth);
            EXPECT_EQ(c.start().Wait(-1), kULMErrHardware) << c.what << ", piece " << nth;
            // With nothing injected the same transfer succeeds.
            EXPECT_EQ(c.start().Wait(-1), kULMOK) << c.what;
        }
    }
}

}  // namespace
