// Reference-counted objects, their ids and serials, and the lists and
// pointers that hold them.
#include <gtest/gtest.h>

#include <new>
#include <set>
#include <thread>
#include <vector>

#include "foundation/control.h"
#include "foundation/object_list.h"
#include "foundation/shareable.h"

using namespace ulm3;

namespace {

// Counts its destructions; the public destructor lets a test build one in
// storage of its own.
class Probe : public ULMShareable {
public:
    explicit Probe(int* destroyed = nullptr, ULMObjectType type = kObjectTypeULMLightInternal)
        : m_destroyed(destroyed) {
        SetObjectType(this, type);
    }
    ~Probe() override {
        if (m_destroyed) ++*m_destroyed;
    }

private:
    int* m_destroyed;
};

uint64_t Number(const ULMShareable& o) { return o.GetObjectID() & kObjectNumberMask; }

TEST(Shareable, IdsSerialsTypesAndTheLastRelease) {
    Probe a(nullptr, kObjectTypeULMImageBufferInternal), b(nullptr, kObjectTypeULMOmniDepthBuffer);
    EXPECT_EQ(Number(b), Number(a) + 1);
    EXPECT_GT(Number(a), 3696500u);
    EXPECT_EQ(a.GetObjectID() >> 56, 176u);
    EXPECT_EQ(b.GetObjectID() >> 56, 193u);
    EXPECT_TRUE(IsObjectType(&a, kObjectTypeULMImageBufferInternal));
    EXPECT_FALSE(IsObjectType(&a, kObjectTypeULMOmniImageBuffer));
    EXPECT_FALSE(IsObjectType(nullptr, kObjectTypeULMImageBufferInternal));
    EXPECT_FALSE(IsObjectType(nullptr, static_cast<ULMObjectType>(0)));
    EXPECT_EQ(NextSerial(~uint64_t{0}), 1u);
    EXPECT_EQ(NextSerial(1), 2u);

    // Copying makes a new object; assigning only tells the target it changed.
    const int created = gULMControl.m_shareableObjectsCreated, destroyed = gULMControl.m_shareableObjectsDestroyed;
    int gone = 0;
    Probe* source = new Probe(&gone);
    source->SetAppData(&b);
    EXPECT_EQ(source->AddRef(), 1);
    EXPECT_EQ(source->AddRef(), 2);
    source->IncSerial();
    Probe copy(*source);
    EXPECT_NE(Number(copy), Number(*source));
    EXPECT_TRUE(copy.GetSerial() == 1u && copy.RefCount() == 0 && copy.GetAppData() == nullptr);
    const uint64_t id = b.GetObjectID();
    b.SetAppData(&a);
    b = *source;
    EXPECT_TRUE(b.GetObjectID() == id && b.GetAppData() == &a && b.GetSerial() == 2u && b.RefCount() == 0);

    EXPECT_EQ(source->Release(), 1);
    EXPECT_EQ(gone, 0);
    EXPECT_EQ(source->Release(), 0);
    EXPECT_EQ(gone, 1);
    // The copy counts as created; the copy is still alive.
    EXPECT_EQ(gULMControl.m_shareableObjectsCreated, created + 2);
    EXPECT_EQ(gULMControl.m_shareableObjectsDestroyed, destroyed + 1);
}

TEST(ShareableDeathTest, UnderflowLiveReferencesAndListPreallocationAboveTheLimit) {
    EXPECT_DEATH((new Probe)->Release(), "count >= 0");
    EXPECT_DEATH({ Probe p; p.AddRef(); }, "RefCount\\(\\) == 0");
    EXPECT_DEATH(ULMListInternal<Probe>(2, 4), "m_maxElements == 0 \\|\\| m_allocElements <= m_maxElements");
}

TEST(Shareable, CountsAndSerialsUnderThreads) {
    int gone = 0;
    Probe* p = new Probe(&gone);
    p->AddRef();
    constexpr int kThreads = 8, kRounds = 20000;
    std::vector<std::thread> threads;
    std::vector<std::vector<uint64_t>> ids(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([p, &ids, t] {
            for (int i = 0; i < kRounds; ++i) {
                p->AddRef();
                p->IncSerial();
                p->Release();
                if (i % 100 == 0) ids[t].push_back(Probe().GetObjectID());
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(p->RefCount(), 1);
    EXPECT_EQ(p->GetSerial(), 1u + kThreads * kRounds);
    std::set<uint64_t> unique;
    for (const auto& list : ids) unique.insert(list.begin(), list.end());
    EXPECT_EQ(unique.size(), size_t(kThreads) * (kRounds / 100));
    EXPECT_EQ(gone, 0);
    p->Release();
    EXPECT_EQ(gone, 1);
}

TEST(ReleasablePointer, AdoptsWithoutAddRefAndReleasesOnce) {
    int gone = 0;
    Probe *first = new Probe(&gone), *second = new Probe(&gone);
    first->AddRef();
    second->AddRef();
    {
        ReleasablePointer<Probe> holder(first);
        EXPECT_EQ(first->RefCount(), 1);
        EXPECT_EQ(holder->GetObjectID(), first->GetObjectID());
        holder.Assign(second);
        EXPECT_EQ(gone, 1);
        EXPECT_EQ(static_cast<Probe*>(holder), second);
    }
    EXPECT_EQ(gone, 2);
    ReleasablePointer<Probe> empty;
    empty.Assign(nullptr);
    EXPECT_EQ(empty.GetPointer(), nullptr);
}

TEST(CachedObject, TellsChangesAndNewObjectsAtTheSameAddress) {
    ULMCachedObject<Probe> cache;
    EXPECT_FALSE(cache.IsDifferent(nullptr));
    alignas(Probe) unsigned char storage[sizeof(Probe)];
    Probe* a = new (storage) Probe;
    EXPECT_TRUE(cache.IsDifferent(a));
    cache.SetToObject(a);
    EXPECT_FALSE(cache.IsDifferent(a));
    a->IncSerial();
    EXPECT_TRUE(cache.IsDifferent(a));
    cache.SetToObject(a);
    EXPECT_FALSE(cache.IsDifferent(a));
    a->~Probe();
    Probe* b = new (storage) Probe;
    ASSERT_EQ(static_cast<void*>(a), static_cast<void*>(b));
    EXPECT_TRUE(cache.IsDifferent(b));
    cache.SetToObject(nullptr);
    EXPECT_FALSE(cache.IsDifferent(nullptr));
    EXPECT_TRUE(cache.IsDifferent(b));
    b->~Probe();
}

TEST(ObjectList, LimitsGrowthOrderAndReleases) {
    int gone = 0;
    Probe* probes[20];
    for (Probe*& p : probes) (p = new Probe(&gone))->AddRef();
    {
        ULMListInternal<Probe> limited(4);
        for (int i = 0; i < 4; ++i) ASSERT_EQ(limited.Add(probes[i]), kULMOK);
        EXPECT_EQ(limited.Capacity(), 4u);
        EXPECT_EQ(limited.Add(probes[4]), kULMErrTooMany);
        EXPECT_EQ(limited.Add(probes[0]), kULMErrDuplicate);
        EXPECT_EQ(limited.Add(nullptr), kULMErrArgument);
        EXPECT_EQ(limited.Remove(nullptr), kULMErrArgument);
        EXPECT_EQ(limited.Remove(probes[4]), kULMErrArgument);
        EXPECT_EQ(limited.Number(), 4u);
        EXPECT_TRUE(probes[0]->RefCount() == 2 && probes[4]->RefCount() == 1);

        ULMListInternal<Probe> list;
        list.m_listChanged = 0;
        for (int i = 0; i < 9; ++i) ASSERT_EQ(list.Add(probes[i]), kULMOK);
        EXPECT_EQ(list.m_listChanged, 1);
        EXPECT_EQ(list.Capacity(), 16u);
        list.GetEntry(0)->m_word0 = 77;
        for (int i = 9; i < 17; ++i) ASSERT_EQ(list.Add(probes[i]), kULMOK);
        EXPECT_EQ(list.Capacity(), 32u);
        EXPECT_TRUE(list.GetEntry(0)->m_word0 == 77u && list.GetEntry(16)->m_word0 == 0u);
        list.m_listChanged = 0;
        ASSERT_EQ(list.Remove(probes[3]), kULMOK);
        EXPECT_EQ(list.m_listChanged, 1);
        EXPECT_EQ(probes[3]->RefCount(), 2);  // still in the limited list
        ASSERT_EQ(list.Number(), 16u);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(list[i], probes[i < 3 ? i : i + 1]);
        EXPECT_TRUE(list[16] == nullptr && list[-1] == nullptr);
    }
    for (Probe* p : probes) EXPECT_EQ(p->RefCount(), 1);
    for (Probe* p : probes) p->Release();
    EXPECT_EQ(gone, 20);

    // The list may hold the last reference.
    ULMListInternal<Probe> list(0, 2);
    list.Add(new Probe(&gone));
    list.ReleaseAllObjects();
    EXPECT_EQ(gone, 21);
    EXPECT_TRUE(list.Number() == 0u && list.Capacity() == 0u);
}

}  // namespace
