// Clones carry every property, share tables, lights and cut planes by
// reference, never reach back into the original, and balance every count.
#include "support/context_fixture.h"
#include "context/context_internal.h"
#include "ulm3/configuration.h"

namespace ulm3::testing {
namespace {

class ContextClone : public ContextTest {};

TEST_F(ContextClone, SharesByReferenceAndChangesStayApart) {
    const int live = LiveObjects();
    const int holds = gULMControl.m_objectCount;
    ULMLookupTable* table = ULMLookupTable::Create(256);
    ULMLight* light = ULMLight::Create(ULMVector3D(0, 0, 1));
    ULMCutPlane* plane = ULMCutPlane::Create(ULMVector4D(1, 0, 0, 0), -1, 1);
    ULMContext* original = ULMContext::Create(table);
    ASSERT_NE(original, nullptr);
    ASSERT_EQ(original->AddLight(light), kULMOK);
    ASSERT_EQ(original->AddCutPlane(plane), kULMOK);
    ASSERT_EQ(original->SetBlendMode(kULMBlendMaxRed), kULMOK);
    original->GetCamera().SetViewport(4, 5, 6, 7);
    original->GetCrop().SetFlags(ULMCrop::kEnableZ2);
    int received = 0;
    original->SetNotifyCallback(
        kULMEventRenderDone, [](ULMEventBase*, void* n) { ++*static_cast<int*>(n); }, &received);

    ULMContext* clone = CloneContext(original);
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->GetClassifier(), original->GetClassifier());
    EXPECT_EQ(clone->GetCamera(), original->GetCamera());
    EXPECT_EQ(clone->GetCrop(), original->GetCrop());
    EXPECT_EQ(clone->GetBlendMode(), kULMBlendMaxRed);
    EXPECT_EQ(clone->GetLight(0), light);
    EXPECT_EQ(clone->GetCutPlane(0), plane);
    // The creator's, the original's and the clone's.
    EXPECT_EQ(table->RefCount(), 3);
    EXPECT_EQ(light->RefCount(), 3);
    EXPECT_EQ(plane->RefCount(), 3);
    static_cast<ULMContextInternal*>(clone)->GenerateEventRenderDone(0);
    EXPECT_EQ(received, 1);

    const uint64_t serial = original->GetSerial();
    clone->SetBlendMode(kULMBlendFTB);
    clone->GetCamera().SetViewport(0, 0, 1, 1);
    clone->RemoveLight(light);
    clone->SetClassifier(ULMClassifier());
    EXPECT_EQ(original->GetBlendMode(), kULMBlendMaxRed);
    EXPECT_EQ(original->GetCamera().GetViewportWidth(), 6);
    EXPECT_EQ(original->GetLightCount(), 1);
    EXPECT_EQ(original->GetClassifier().GetLookupTable(0), table);
    EXPECT_EQ(original->GetSerial(), serial);

    // The original may go first; the clone still holds the library and its
    // shared objects.
    EXPECT_EQ(original->Release(), 0);
    EXPECT_EQ(gULMControl.m_objectCount, holds + 1);
    EXPECT_EQ(clone->Release(), 0);
    EXPECT_EQ(gULMControl.m_objectCount, holds);
    for (ULMShareable* s : {static_cast<ULMShareable*>(table), static_cast<ULMShareable*>(light),
                            static_cast<ULMShareable*>(plane)})
        EXPECT_EQ(s->Release(), 0);
    EXPECT_EQ(LiveObjects(), live);
}

TEST_F(ContextClone, RefusedWithoutALibraryOrASource) {
    EXPECT_EQ(CloneContext(nullptr), nullptr);
    ULMContext* c = ULMContext::Create();
    ASSERT_NE(c, nullptr);
    ULMClose();
    // A live context keeps the library held: it still clones, but no new
    // context is made.
    EXPECT_EQ(ULMContext::Create(), nullptr);
    ULMContext* clone = CloneContext(c);
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->Release(), 0);
    EXPECT_EQ(c->Release(), 0);
    EXPECT_EQ(gULMControl.m_objectCount, 0);
    EXPECT_EQ(gULMControl.m_KWBBoardCount, 0u);
}

TEST_F(ContextClone, CutPlanesStopAtTheBoardsLimit) {
    ULMContext* c = ULMContext::Create();
    const int max = ULMConfiguration::GetMaxCutPlanes();
    for (int i = 0; i <= max; ++i) {
        ULMCutPlane* p = ULMCutPlane::Create(ULMVector4D(0, 1, 0, i), 0, 1);
        EXPECT_EQ(c->AddCutPlane(p), i < max ? kULMOK : kULMErrTooMany);
        EXPECT_EQ(p->Release(), i < max ? 1 : 0);
    }
    EXPECT_EQ(c->Release(), 0);
}

}  // namespace
}  // namespace ulm3::testing
