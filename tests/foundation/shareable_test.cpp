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

}  // namespace
