// The events a request's record names: every event it must follow is named,
// stood for by a newer event of its queue, or on the request's own queue.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "board/kwb_request_waits.h"
#include "tulx7/driver_requests.h"

namespace ulm3 {
namespace {

constexpr uint32_t kNone = TULX7_DR_NO_EVENT;
using Q = KWBSyncEvent::QueueNumber;

struct Ev {
    int board;
    Q queue;
    uint64_t sequence;
    // A board of -1 stands for an event already over.
    ULMSyncEvent Get() const {
        return board < 0 ? ULMSyncEvent(kULMOK) : ULMSyncEvent(KWBSyncEvent(board, queue, sequence));
    }
};

struct Case {
    const char* name;
    std::vector<std::pair<int, Ev>> named;  // field, event
    std::vector<Ev> followed;
    uint32_t expected[4];
};

// Every request here runs on board 1's render queue and has four fields.
TEST(KWBRequestWaits, EachEventIsNamedOrStoodForWithoutHostWaits) {
    const Q in = KWBSyncEvent::kDmaInQueue, out = KWBSyncEvent::kDmaOutQueue, render = KWBSyncEvent::kRenderQueue;
    const Case cases[] = {
        {"work of the request's own queue needs no field", {{3, {1, render, 10}}}, {{1, render, 12}},
         {kNone, kNone, kNone, 10}},
        {"an older event of a named queue is stood for", {{1, {1, in, 20}}}, {{1, in, 15}},
         {kNone, 20, kNone, kNone}},
        {"a newer event of a named queue is not", {{1, {1, in, 20}}}, {{1, in, 25}}, {25, 20, kNone, kNone}},
        {"another board's queue takes an empty field", {{1, {1, in, 20}}}, {{0, out, 18}}, {18, 20, kNone, kNone}},
        {"the same queue number on another board is another queue", {{1, {1, out, 20}}}, {{0, out, 18}},
         {18, 20, kNone, kNone}},
        {"a field naming the request's own queue is given up",
         {{0, {1, in, 19}}, {1, {1, in, 20}}, {2, {1, out, 21}}, {3, {1, render, 22}}},
         {{0, out, 18}},
         {19, 20, 21, 18}},
        {"a field stood for by another is given up",
         {{0, {1, in, 19}}, {1, {1, in, 20}}, {2, {1, out, 21}}, {3, {2, out, 17}}},
         {{0, out, 18}},
         {18, 20, 21, 17}},
        {"of several events of one queue the newest is named", {}, {{0, out, 18}, {0, out, 23}, {0, out, 21}},
         {23, kNone, kNone, kNone}},
        {"finished events are not named", {{2, {-1, in, 0}}}, {{-1, out, 0}}, {kNone, kNone, kNone, kNone}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KWBRequestWaits waits(1, render, 4);
        for (const auto& [field, event] : c.named) waits.Name(field, event.Get());
        for (const Ev& event : c.followed) waits.Follow(event.Get());
        uint32_t ids[4] = {0, 0, 0, 0};
        uint32_t* const fields[4] = {&ids[0], &ids[1], &ids[2], &ids[3]};
        waits.Resolve(fields);
        for (int f = 0; f < 4; ++f) EXPECT_EQ(ids[f], c.expected[f]) << "field " << f;
    }
}

}  // namespace
}  // namespace ulm3
