// A context's own state: setters that advance the serial once and refuse bad
// values, clones that share objects by reference, and events to a callback or
// through the queue.
#include <limits>

#include "context/context_internal.h"
#include "support/context_fixture.h"
#include "ulm3/configuration.h"

namespace ulm3::testing {
namespace {

using C = ULMContext;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kTable[8] = {1, 1, 1, 1, 0, 0, 0, 0};
const double kBadTable[8] = {0, 0, 0, kNaN, 0, 0, 0, 0};

struct Call {
    const char* text;
    ULMStatus (*apply)(C&);
};

// clang-format off
#define CALL(call) {#call, [](C& c) { return c.call; }}
// clang-format on

// Values other than the defaults: through the shared store, a plain and an array value, and the one setter with its
// own comparison. A setter that stores nothing advances the serial twice.
const Call kChanges[] = {
    CALL(SetBlendMode(ULMBlendMode(15))),
    CALL(SetRayTermination(0.75, true)),
    CALL(SetGradientTable(kTable)),
};

const Call kRefusals[] = {
    CALL(SetImageOutputBuffer(C::ImageBufferNumber(3))),
    CALL(SetImageOutputBuffer(C::ImageBufferNumber(-1))),
    CALL(SetRenderArea(C::RenderArea(2))),
    CALL(SetBlendMode(ULMBlendMode(16))),
    CALL(SetBlendMode(ULMBlendMode(-1))),
    CALL(SetBasePlanePixelFormat(ULMPixelFormat(14))),
    CALL(SetDepthTest(C::DepthBufferNumber(2), C::kDepthTestLess)),
    CALL(SetDepthTest(C::kDepthBuffer0, C::DepthTest(8))),
    CALL(SetDepthUpdateFilter(C::kDepthBuffer0, C::FilterTest(32))),
    CALL(SetDepthCombineFunction(C::DepthCombineFunction(4))),
    CALL(SetSamplingLimits(0.5, 2, 1, 4)),
    CALL(SetSamplingLimits(2, 1.5, 1, 4)),
    CALL(SetSamplingLimits(1, 2, 3, 2)),
    CALL(SetSamplingLimits(1, kNaN, 1, 2)),
    CALL(SetSamplingFactor(0)),
    CALL(SetSamplingFactor(kInf)),
    CALL(SetMinViewingDistance(kNaN)),
    CALL(SetTrimPlanes(1, 2, 3, -kInf, 5, 6)),
    CALL(SetReflectionProperties(1.5, 0, 0, 1)),
    CALL(SetReflectionProperties(0, 0, 0, -1)),
    CALL(SetRayTermination(kNaN, true)),
    CALL(SetSampleAlphaRange(0.5, 0.25)),
    CALL(SetGradientTable(nullptr)),
    CALL(SetGradientTable(kBadTable)),
    CALL(SetGradientModulation(16)),
};

class ContextState : public ContextTest {
protected:
    void SetUp() override {
        ContextTest::SetUp();
        context = static_cast<ULMContextInternal*>(ULMContext::Create());
        ASSERT_NE(context, nullptr);
    }
    void TearDown() override {
        EXPECT_TRUE(context == nullptr || context->Release() == 0);
        ContextTest::TearDown();
    }
    ULMContextInternal* context = nullptr;
};

TEST_F(ContextState, ANewValueAdvancesTheSerialOnce) {
    for (const Call& change : kChanges) {
        SCOPED_TRACE(change.text);
        const uint64_t serial = context->GetSerial();
        EXPECT_EQ(change.apply(*context), kULMOK);
        EXPECT_EQ(change.apply(*context), kULMOK);
        EXPECT_EQ(context->GetSerial(), serial + 1);
    }
}

TEST_F(ContextState, BadValuesAreRefusedAndChangeNothing) {
    const ULMFieldNumber fifth = static_cast<ULMFieldNumber>(4);
    const uint64_t serial = context->GetSerial();
    for (const Call& refusal : kRefusals) EXPECT_EQ(refusal.apply(*context), kULMErrArgument) << refusal.text;
    EXPECT_EQ(context->SetClassifier(ULMClassifier::DirectRGBA(kULMField0, kULMField1, kULMField2, fifth)),
              kULMErrClassifier);
    EXPECT_EQ(context->GetSerial(), serial);
}

TEST_F(ContextState, StateObjectsRefuseBadNumbers) {
    ULMCamera camera;
    EXPECT_EQ(camera.SetViewport(0, 0, -1, 10), kULMErrArgument);
    EXPECT_EQ(camera, ULMCamera());
    EXPECT_EQ(ULMLight::Create(ULMVector3D(0, 0, 0)), nullptr);
    EXPECT_EQ(ULMCutPlane::Create(ULMVector4D(0, 0, 0, 1), 0, 1), nullptr);
    EXPECT_EQ(ULMCutPlane::Create(ULMVector4D(0, 0, 1, 0), 1, 0), nullptr);
}

void Count(ULMEventBase*, void* received) { ++*static_cast<int*>(received); }

TEST_F(ContextState, ClonesShareByReferenceAndChangesStayApart) {
    const int live = LiveObjects();
    const int holds = gULMControl.m_objectCount;
    ULMLookupTable* table = context->GetClassifier().GetLookupTable(0);
    ULMLight* light = ULMLight::Create(ULMVector3D(0, 0, 1));
    ULMCutPlane* plane = ULMCutPlane::Create(ULMVector4D(1, 0, 0, 0), -1, 1);
    ASSERT_EQ(context->AddLight(light), kULMOK);
    ASSERT_EQ(context->AddCutPlane(plane), kULMOK);
    ASSERT_EQ(context->SetBlendMode(kULMBlendMaxRed), kULMOK);
    int received = 0;
    ASSERT_EQ(context->SetNotifyCallback(kULMEventRenderDone, Count, &received), kULMOK);
    ASSERT_EQ(context->SetNotifyCallback(kULMEventTransferDone, ULMQueueEventCallback, nullptr), kULMOK);
    ASSERT_EQ(context->GenerateEventTransferDone(0), kULMOK);

    auto* clone = static_cast<ULMContextInternal*>(CloneContext(context));
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->GetClassifier(), context->GetClassifier());
    EXPECT_EQ(clone->GetBlendMode(), kULMBlendMaxRed);
    EXPECT_EQ(clone->GetLight(0), light);
    EXPECT_EQ(clone->GetCutPlane(0), plane);
    EXPECT_EQ(table->RefCount(), 2);  // the original's and the clone's
    EXPECT_EQ(light->RefCount(), 3);  // and the creator's
    EXPECT_EQ(plane->RefCount(), 3);
    // Callbacks are copied; the original's queued event is not.
    EXPECT_EQ(clone->GenerateEventRenderDone(0), kULMOK);
    EXPECT_EQ(received, 1);
    ULMEventBase* event = nullptr;
    void* data = nullptr;
    EXPECT_EQ(clone->WaitForEvent(0, event, data), kULMTimeout);

    const uint64_t serial = context->GetSerial();
    EXPECT_EQ(clone->SetBlendMode(kULMBlendFTB), kULMOK);
    EXPECT_EQ(clone->RemoveLight(light), kULMOK);
    EXPECT_EQ(context->GetBlendMode(), kULMBlendMaxRed);
    EXPECT_EQ(context->GetLightCount(), 1);
    EXPECT_EQ(context->GetSerial(), serial);

    // The original may go first; the clone still holds the library and its shared objects.
    EXPECT_EQ(context->Release(), 0);
    context = nullptr;
    EXPECT_EQ(gULMControl.m_objectCount, holds);
    EXPECT_EQ(clone->Release(), 0);
    EXPECT_EQ(gULMControl.m_objectCount, holds - 1);
    EXPECT_EQ(light->Release(), 0);
    EXPECT_EQ(plane->Release(), 0);
    EXPECT_EQ(LiveObjects(), live - 2);  // the context and its table
}

TEST_F(ContextState, ClonedWithoutTheLibraryButNotWithoutASource) {
    EXPECT_EQ(CloneContext(nullptr), nullptr);
    ULMClose();
    // A live context keeps the library held: it still clones, but no new context is made.
    EXPECT_EQ(ULMContext::Create(), nullptr);
    ULMContext* clone = CloneContext(context);
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->Release(), 0);
    EXPECT_EQ(context->Release(), 0);
    context = nullptr;
    EXPECT_EQ(gULMControl.m_objectCount, 0);
    EXPECT_EQ(gULMControl.m_KWBBoardCount, 0u);
}

TEST_F(ContextState, CutPlanesStopAtTheBoardsLimit) {
    const int max = ULMConfiguration::GetMaxCutPlanes();
    for (int i = 0; i <= max; ++i) {
        ULMCutPlane* plane = ULMCutPlane::Create(ULMVector4D(0, 1, 0, i), 0, 1);
        EXPECT_EQ(context->AddCutPlane(plane), i < max ? kULMOK : kULMErrTooMany);
        EXPECT_EQ(plane->Release(), i < max ? 1 : 0);
    }
}

// Keeps the second map of the light-map change it is given.
void KeepSecondMap(ULMEventBase* event, void* data) {
    ASSERT_EQ(event->EventType(), kULMEventLightMapChange);
    *static_cast<void**>(data) = static_cast<ULMEventLightMapChange*>(event)->pointerToMap2;
}

TEST_F(ContextState, CallbackGetsItsKindOfEventAndItsData) {
    const ULMEventType unknown = static_cast<ULMEventType>(5);
    EXPECT_EQ(context->SetNotifyCallback(unknown, KeepSecondMap, nullptr), kULMErrArgument);
    void* secondMap = nullptr;
    int map = 0;
    ASSERT_EQ(context->SetNotifyCallback(kULMEventLightMapChange, KeepSecondMap, &secondMap), kULMOK);
    // An unchanged map is another kind of event, with no callback.
    EXPECT_EQ(context->GenerateEventLightMap(false, -1, kULMLightMapType2, 8, 384, nullptr, &map), kULMOK);
    EXPECT_EQ(secondMap, nullptr);
    EXPECT_EQ(context->GenerateEventLightMap(true, -1, kULMLightMapType2, 8, 384, nullptr, &map), kULMOK);
    EXPECT_EQ(secondMap, &map);
}

TEST_F(ContextState, QueueDeliversInOrderAFullQueueDeletesTheEventAndAnEmptyOneTimesOut) {
    int tag = 0;
    ASSERT_EQ(context->SetNotifyCallback(kULMEventRenderDone, ULMQueueEventCallback, &tag), kULMOK);
    const int capacity = ULMContextInternal::kEventQueueSize - 1;
    for (int i = 0; i < capacity; ++i) ASSERT_EQ(context->GenerateEventRenderDone(i), kULMOK);
    // Refused: the event must not stay behind (the sanitizer build sees a leak).
    EXPECT_EQ(context->GenerateEventRenderDone(capacity), kULMErrAlloc);
    ULMEventBase* event = nullptr;
    void* data = nullptr;
    for (int i = 0; i < capacity; ++i) {
        ASSERT_EQ(context->WaitForEvent(0, event, data), kULMOK);
        EXPECT_EQ(event->EventType(), kULMEventRenderDone);
        EXPECT_EQ(event->buffer, i);
        EXPECT_EQ(data, &tag);
        delete event;
    }
    event = nullptr;
    EXPECT_EQ(context->WaitForEvent(20, event, data), kULMTimeout);
    EXPECT_EQ(event, nullptr);
}

}  // namespace
}  // namespace ulm3::testing
