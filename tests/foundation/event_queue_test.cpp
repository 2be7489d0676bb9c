#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "foundation/event_queue.h"

using namespace ulm3;

namespace {

// Counts its destructions so that a test sees who deletes events.
class CountedEvent : public ULMEventRenderDone {
public:
    CountedEvent(int buffer, std::atomic<int>& deleted) : ULMEventRenderDone(buffer), m_deleted(deleted) {}
    ~CountedEvent() override { ++m_deleted; }

private:
    std::atomic<int>& m_deleted;
};

void* Tag(intptr_t n) { return reinterpret_cast<void*>(n); }

TEST(EventQueue, FullRingTimeOutsAndRecovery) {
    ULMEventQueue queue(256);
    ULMEventRenderDone event(0);
    for (int i = 0; i < 255; ++i) ASSERT_EQ(queue.AddEvent(&event, nullptr), kULMOK) << i;
    EXPECT_EQ(queue.AddEvent(&event, nullptr), kULMErrAlloc);
    ULMEventBase* out = nullptr;
    void* data = nullptr;
    ASSERT_EQ(queue.RemoveFirstEvent(0, out, data), kULMOK);
    EXPECT_EQ(queue.AddEvent(&event, nullptr), kULMOK);
    EXPECT_EQ(queue.AddEvent(&event, nullptr), kULMErrAlloc);
    for (int i = 0; i < 255; ++i) ASSERT_EQ(queue.RemoveFirstEvent(0, out, data), kULMOK);
    // One slot is always free: a queue of one slot holds nothing.
    EXPECT_EQ(ULMEventQueue(1).AddEvent(&event, nullptr), kULMErrAlloc);

    // Time-outs on the empty queue leave the outputs alone.
    ULMEventBase* const sentinel = reinterpret_cast<ULMEventBase*>(Tag(0x1234));
    out = sentinel;
    data = Tag(0x5678);
    EXPECT_EQ(queue.RemoveFirstEvent(0, out, data), kULMTimeout);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(queue.RemoveFirstEvent(30, out, data), kULMTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(29));
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(data, Tag(0x5678));
}

// Readers wait without limit while writers add: every event reaches exactly
// one reader, and each writer's events arrive in the order it added them.
TEST(EventQueue, SeveralReadersAndWriters) {
    constexpr int kWriters = 3, kReaders = 4, kPerWriter = 3000;
    ULMEventQueue queue(16);
    std::atomic<int> deleted{0};
    std::vector<std::atomic<int>> seen(kWriters * kPerWriter);
    std::atomic<int> outOfOrder{0};
    std::vector<std::thread> threads;
    for (int r = 0; r < kReaders; ++r) {
        threads.emplace_back([&] {
            std::vector<int> last(kWriters, -1);
            for (;;) {
                ULMEventBase* event = nullptr;
                void* data = nullptr;
                if (queue.RemoveFirstEvent(-1, event, data) != kULMOK) return;
                const int id = event->buffer;
                delete event;
                if (id < 0) return;  // one stop event per reader
                const int writer = static_cast<int>(reinterpret_cast<intptr_t>(data));
                if (id <= last[writer]) ++outOfOrder;
                last[writer] = id;
                ++seen[id];
            }
        });
    }
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < kPerWriter; ++i) {
                ULMEventBase* event = new CountedEvent(w * kPerWriter + i, deleted);
                while (queue.AddEvent(event, Tag(w)) == kULMErrAlloc) std::this_thread::yield();
            }
        });
    }
    for (int w = 0; w < kWriters; ++w) threads[kReaders + w].join();
    for (int r = 0; r < kReaders; ++r) {
        ULMEventBase* stop = new CountedEvent(-1, deleted);
        while (queue.AddEvent(stop, nullptr) == kULMErrAlloc) std::this_thread::yield();
    }
    for (int r = 0; r < kReaders; ++r) threads[r].join();
    for (int id = 0; id < kWriters * kPerWriter; ++id) ASSERT_EQ(seen[id], 1) << id;
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(deleted, kWriters * kPerWriter + kReaders);
}

}  // namespace
