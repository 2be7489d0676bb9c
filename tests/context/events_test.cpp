// A context's events: to a callback, through the queue, refused by a full
// queue without leaking, and a wait on an empty queue that runs out.
#include <cstdint>

#include "support/context_fixture.h"
#include "context/context_internal.h"

namespace ulm3::testing {
namespace {

class ContextEvents : public ContextTest {
protected:
    void SetUp() override {
        ContextTest::SetUp();
        m_context = static_cast<ULMContextInternal*>(ULMContext::Create());
        ASSERT_NE(m_context, nullptr);
    }
    void TearDown() override {
        if (m_context) m_context->Release();
        ContextTest::TearDown();
    }
    ULMContextInternal* m_context = nullptr;
};

TEST_F(ContextEvents, CallbackGetsTheEventAndItsData) {
    // Kind, buffer and second map of the last event.
    static intptr_t seen[3];
    auto record = [](ULMEventBase* e, void* data) {
        seen[0] = e->EventType();
        seen[1] = e->buffer;
        if (e->EventType() == kULMEventLightMapChange)
            seen[2] = reinterpret_cast<intptr_t>(static_cast<ULMEventLightMapChange*>(e)->pointerToMap2);
        EXPECT_EQ(data, seen);
    };
    EXPECT_EQ(m_context->GenerateEventRenderDone(1), kULMOK);  // no callback: nothing happens
    ASSERT_EQ(m_context->SetNotifyCallback(kULMEventTransferDone, record, seen), kULMOK);
    ASSERT_EQ(m_context->SetNotifyCallback(kULMEventLightMapChange, record, seen), kULMOK);
    EXPECT_EQ(m_context->GenerateEventTransferDone(7), kULMOK);
    EXPECT_EQ(seen[0], kULMEventTransferDone);
    EXPECT_EQ(seen[1], 7);
    EXPECT_EQ(m_context->GenerateEventLightMap(true, -1, kULMLightMapType2, 8, 384, nullptr, seen), kULMOK);
    EXPECT_EQ(seen[0], kULMEventLightMapChange);
    EXPECT_EQ(seen[2], reinterpret_cast<intptr_t>(seen));
    EXPECT_EQ(m_context->SetNotifyCallback(static_cast<ULMEventType>(5), record, seen), kULMErrArgument);
}

TEST_F(ContextEvents, QueueDeliversInOrderAFullQueueDeletesTheEventAndAnEmptyOneTimesOut) {
    int tag = 0;
    ASSERT_EQ(m_context->SetNotifyCallback(kULMEventRenderDone, ULMQueueEventCallback, &tag), kULMOK);
    const int capacity = ULMContextInternal::kEventQueueSize - 1;
    for (int i = 0; i < capacity; ++i) ASSERT_EQ(m_context->GenerateEventRenderDone(i), kULMOK);
    // Refused: the event must not stay behind (the sanitizer build sees a leak).
    EXPECT_EQ(m_context->GenerateEventRenderDone(capacity), kULMErrAlloc);
    for (int i = 0; i < capacity; ++i) {
        ULMEventBase* e = nullptr;
        void* data = nullptr;
        ASSERT_EQ(m_context->WaitForEvent(0, e, data), kULMOK);
        EXPECT_EQ(e->EventType(), kULMEventRenderDone);
        EXPECT_EQ(e->buffer, i);
        EXPECT_EQ(data, &tag);
        delete e;
    }
    ULMEventBase* e = nullptr;
    void* data = nullptr;
    EXPECT_EQ(m_context->WaitForEvent(20, e, data), kULMTimeout);
    EXPECT_EQ(e, nullptr);
}

}  // namespace
}  // namespace ulm3::testing
