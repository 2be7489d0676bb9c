// A context's own state: setters that advance the serial once and refuse bad
// values, clones that share objects by reference, and the event queue.
#include <cstdint>
#include <limits>
#include <vector>

#include "context/context_internal.h"
#include "foundation/shareable.h"
#include "support/context_fixture.h"
#include "ulm3/configuration.h"
#include "ulm3/lookup_table.h"

namespace ulm3::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kBadTable[8] = {0, 0, 0, kNaN, 0, 0, 0, 0};

struct Call {
    const char* text;
    ULMStatus (*apply)(ULMContext&);
};

// clang-format off
#define CALL(call) {#call, [](ULMContext& c) { return c.call; }}
// clang-format on

const Call kRefusals[] = {
    CALL(SetImageOutputBuffer(ULMContext::ImageBufferNumber(3))),
    CALL(SetRenderArea(ULMContext::RenderArea(2))),
    CALL(SetBlendMode(ULMBlendMode(16))),
    CALL(SetBasePlanePixelFormat(ULMPixelFormat(14))),
    CALL(SetDepthTest(ULMContext::DepthBufferNumber(2), ULMContext::kDepthTestLess)),
    CALL(SetDepthTest(ULMContext::kDepthBuffer0, ULMContext::DepthTest(8))),
    CALL(SetDepthUpdateFilter(ULMContext::kDepthBuffer0, ULMContext::FilterTest(32))),
    CALL(SetDepthCombineFunction(ULMContext::DepthCombineFunction(4))),
    CALL(SetSamplingLimits(0.5, 2, 1, 4)),
    CALL(SetSamplingLimits(2, 1.5, 1, 4)),
    CALL(SetSamplingLimits(1, 2, 3, 2)),
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

// The fields the test below changes, read back through the getters.
std::vector<double> Fields(const ULMClassifier& c, const ULMCursor& u, double threshold, bool enabled) {
    const ULMVector3D& p = u.GetPosition();
    return {double(reinterpret_cast<uintptr_t>(c.GetLookupTable(3))), double(c.GetLookupTableSource(1)),
            double(c.GetInterpolationMode(kULMField2)), double(c.GetOperation(1).m_opcodes),
            double(c.GetInterpolationOrder()), double(u.GetType()), p[0], p[1], p[2], u.GetLength(),
            u.GetColor().m_alpha, threshold, double(enabled)};
}

// Each field the classifier, the cursor and ray termination compare before they store, changed alone: a comparison
// that skipped it would make the setter a silent no-op. A change advances the serial once, the same value again not.
TEST_F(ContextState, SettersStoreAChangeOfAnyOneFieldAndAdvanceTheSerialOnce) {
    enum Kind { kTable, kSource, kMode, kOperation, kOrder, kType, kPosition, kLength, kColour, kThreshold, kEnabled };
    ReleasablePointer<ULMLookupTable> table(ULMLookupTable::Create(256));
    for (int kind = kTable; kind <= kEnabled; ++kind) {
        SCOPED_TRACE(::testing::Message() << "field kind " << kind);
        ULMClassifier c = context->GetClassifier();
        ULMCursor u = context->GetCursor();
        const double threshold = context->GetRayTerminationThreshold() - (kind == kThreshold ? 0.25 : 0);
        const bool enabled = context->GetRayTerminationEnabled() != (kind == kEnabled);
        ASSERT_EQ(kind == kTable       ? c.SetLookupTable(3, table, c.GetLookupTableSource(3))
                  : kind == kSource    ? c.SetLookupTable(1, c.GetLookupTable(1), kULMField3)
                  : kind == kMode      ? c.SetInterpolationMode(kULMField2, kULMNearestNeighbor)
                  : kind == kOperation ? c.SetOperation(1, ULMOperation(kULM_A_Min_B))
                  : kind == kOrder     ? c.SetInterpolationOrder(ULMClassifier::kClassifyFirst)
                  : kind == kType      ? u.SetType(ULMCursor::kCrossHair)
                  : kind == kPosition  ? u.SetPosition(u.GetPosition() + ULMVector3D(0, 0, 1))
                  : kind == kLength    ? u.SetLength(u.GetLength() + 1)
                  : kind == kColour    ? u.SetColor(ULMRGBAFloat(1, 1, 1, u.GetColor().m_alpha / 2))
                                       : kULMOK,
                  kULMOK);
        const uint64_t serial = context->GetSerial();
        for (int pass = 0; pass < 2; ++pass) {
            EXPECT_EQ(context->SetClassifier(c), kULMOK);
            EXPECT_EQ(context->SetCursor(u), kULMOK);
            EXPECT_EQ(context->SetRayTermination(threshold, enabled), kULMOK);
            EXPECT_EQ(context->GetSerial(), serial + 1);
        }
        EXPECT_EQ(Fields(context->GetClassifier(), context->GetCursor(), context->GetRayTerminationThreshold(),
                         context->GetRayTerminationEnabled()),
                  Fields(c, u, threshold, enabled));
    }
}

TEST_F(ContextState, BadValuesAreRefusedAndChangeNothing) {
    const uint64_t serial = context->GetSerial();
    for (const Call& refusal : kRefusals) EXPECT_EQ(refusal.apply(*context), kULMErrArgument) << refusal.text;
    const ULMFieldNumber fifth = static_cast<ULMFieldNumber>(4);
    EXPECT_EQ(context->SetClassifier(ULMClassifier::DirectRGBA(kULMField0, kULMField1, kULMField2, fifth)),
              kULMErrClassifier);
    EXPECT_EQ(context->SetNotifyCallback(static_cast<ULMEventType>(5), ULMQueueEventCallback, nullptr),
              kULMErrArgument);
    EXPECT_EQ(context->GetSerial(), serial);
    EXPECT_EQ(ULMLight::Create(ULMVector3D(0, 0, 0)), nullptr);
    EXPECT_EQ(ULMCutPlane::Create(ULMVector4D(0, 0, 0, 1), 0, 1), nullptr);
    EXPECT_EQ(ULMCutPlane::Create(ULMVector4D(0, 0, 1, 0), 1, 0), nullptr);
    const int max = ULMConfiguration::GetMaxCutPlanes();
    for (int i = 0; i <= max; ++i) {
        ULMCutPlane* plane = ULMCutPlane::Create(ULMVector4D(0, 1, 0, i), 0, 1);
        EXPECT_EQ(context->AddCutPlane(plane), i < max ? kULMOK : kULMErrTooMany);
        EXPECT_EQ(plane->Release(), i < max ? 1 : 0);  // a refused plane is not kept
    }
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
        EXPECT_EQ(event->buffer, i);
        EXPECT_EQ(data, &tag);
        delete event;
    }
    EXPECT_EQ(context->WaitForEvent(20, event, data), kULMTimeout);
}

}  // namespace
}  // namespace ulm3::testing
