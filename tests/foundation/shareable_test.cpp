#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <set>
#include <thread>
#include <type_traits>
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

TEST(Shareable, IdsSerialsAndTypes) {
    Probe a(nullptr, kObjectTypeULMImageBufferInternal);
    Probe b(nullptr, kObjectTypeULMOmniDepthBuffer);
    EXPECT_EQ(Number(b), Number(a) + 1);
    EXPECT_GT(Number(a), 3696500u);
    EXPECT_EQ(a.GetObjectID() >> 56, 176u);
    EXPECT_EQ(b.GetObjectID() >> 56, 193u);
    EXPECT_TRUE(IsObjectType(&a, kObjectTypeULMImageBufferInternal));
    EXPECT_FALSE(IsObjectType(&a, kObjectTypeULMOmniImageBuffer));
    EXPECT_FALSE(IsObjectType(nullptr, kObjectTypeULMImageBufferInternal));
    EXPECT_FALSE(IsObjectType(nullptr, static_cast<ULMObjectType>(0)));

    // Copying makes a new object; assigning only tells the target it changed.
    Probe* source = new Probe;
    source->SetAppData(&b);
    source->AddRef();
    source->IncSerial();
    Probe copy(*source);
    EXPECT_NE(Number(copy), Number(*source));
    EXPECT_EQ(copy.GetSerial(), 1u);
    EXPECT_EQ(copy.RefCount(), 0);
    EXPECT_EQ(copy.GetAppData(), nullptr);
    const uint64_t id = b.GetObjectID();
    b.SetAppData(&a);
    b = *source;
    EXPECT_EQ(b.GetObjectID(), id);
    EXPECT_EQ(b.GetAppData(), &a);
    EXPECT_EQ(b.GetSerial(), 2u);
    EXPECT_EQ(b.RefCount(), 0);
    source->Release();

    EXPECT_EQ(NextSerial(~uint64_t{0}), 1u);
    EXPECT_EQ(NextSerial(1), 2u);
}

TEST(Shareable, LastReleaseDestroysAndCounters) {
    const int created = gULMControl.m_shareableObjectsCreated;
    const int destroyed = gULMControl.m_shareableObjectsDestroyed;
    int gone = 0;
    Probe* p = new Probe(&gone);
    EXPECT_EQ(p->AddRef(), 1);
    EXPECT_EQ(p->AddRef(), 2);
    EXPECT_EQ(p->Release(), 1);
    EXPECT_EQ(gone, 0);
    EXPECT_EQ(p->Release(), 0);
    EXPECT_EQ(gone, 1);
    EXPECT_EQ(gULMControl.m_shareableObjectsCreated, created + 1);
    EXPECT_EQ(gULMControl.m_shareableObjectsDestroyed, destroyed + 1);
}

TEST(ShareableDeathTest, UnderflowAndLiveReferences) {
    EXPECT_DEATH((new Probe)->Release(), "count >= 0");
    EXPECT_DEATH(
        {
            Probe p;
            p.AddRef();
        },
        "RefCount\\(\\) == 0");
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

static_assert(!std::is_copy_constructible_v<ReleasablePointer<Probe>>);
static_assert(!std::is_copy_assignable_v<ReleasablePointer<Probe>>);
static_assert(!std::is_copy_constructible_v<ULMListInternal<Probe>>);

TEST(ReleasablePointer, AdoptsWithoutAddRefAndReleasesOnce) {
    int gone = 0;
    Probe* first = new Probe(&gone);
    Probe* second = new Probe(&gone);
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

class ObjectList : public ::testing::Test {
protected:
    void SetUp() override {
        for (Probe*& p : m_probes) {
            p = new Probe(&m_gone);
            p->AddRef();
        }
    }
    void TearDown() override {
        for (Probe* p : m_probes) p->Release();
    }
    int m_gone = 0;
    Probe* m_probes[20] = {};
};

TEST_F(ObjectList, LimitDuplicatesAndArguments) {
    ULMListInternal<Probe> list(4);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(list.Add(m_probes[i]), kULMOK);
    EXPECT_EQ(list.Capacity(), 4u);
    EXPECT_EQ(list.Add(m_probes[4]), kULMErrTooMany);
    EXPECT_EQ(list.Add(m_probes[0]), kULMErrDuplicate);
    EXPECT_EQ(list.Add(nullptr), kULMErrArgument);
    EXPECT_EQ(list.Remove(nullptr), kULMErrArgument);
    EXPECT_EQ(list.Remove(m_probes[4]), kULMErrArgument);
    EXPECT_EQ(list.Number(), 4u);
    EXPECT_EQ(m_probes[0]->RefCount(), 2);
    EXPECT_EQ(m_probes[4]->RefCount(), 1);
}

TEST_F(ObjectList, GrowsKeepsOrderAndReleases) {
    {
        ULMListInternal<Probe> list;
        list.m_listChanged = 0;
        for (int i = 0; i < 9; ++i) ASSERT_EQ(list.Add(m_probes[i]), kULMOK);
        EXPECT_EQ(list.m_listChanged, 1);
        EXPECT_EQ(list.Capacity(), 16u);
        list.GetEntry(0)->m_word0 = 77;
        for (int i = 9; i < 17; ++i) ASSERT_EQ(list.Add(m_probes[i]), kULMOK);
        EXPECT_EQ(list.Capacity(), 32u);
        EXPECT_EQ(list.GetEntry(0)->m_word0, 77u);
        EXPECT_EQ(list.GetEntry(16)->m_word0, 0u);

        list.m_listChanged = 0;
        ASSERT_EQ(list.Remove(m_probes[3]), kULMOK);
        EXPECT_EQ(list.m_listChanged, 1);
        EXPECT_EQ(m_probes[3]->RefCount(), 1);
        ASSERT_EQ(list.Number(), 16u);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(list[i], m_probes[i < 3 ? i : i + 1]);
        EXPECT_EQ(list[16], nullptr);
        EXPECT_EQ(list[-1], nullptr);
    }
    for (int i = 0; i < 20; ++i) EXPECT_EQ(m_probes[i]->RefCount(), 1);

    // The list may hold the last reference.
    ULMListInternal<Probe> list(0, 2);
    Probe* last = new Probe(&m_gone);
    list.Add(last);
    list.ReleaseAllObjects();
    EXPECT_EQ(m_gone, 1);
    EXPECT_EQ(list.Number(), 0u);
    EXPECT_EQ(list.Capacity(), 0u);
}

TEST(ObjectListDeathTest, PreallocationAboveTheLimit) {
    EXPECT_DEATH(ULMListInternal<Probe>(2, 4), "m_maxElements == 0 \\|\\| m_allocElements <= m_maxElements");
}

}  // namespace
