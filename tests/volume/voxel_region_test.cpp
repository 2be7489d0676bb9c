// A set of voxels kept as disjoint boxes, against a host set of the same
// voxels one by one: random adds, removals and cuts, and after each the
// boxes, what the set lacks of a box, containment and the bounds.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "volume/voxel_region.h"

namespace ulm3 {
namespace {

// Coordinates -4 .. 11 on each axis.
constexpr int kLow = -4, kSpan = 16;

class HostSet {
public:
    HostSet() : m_in(size_t(kSpan) * kSpan * kSpan, 0) {}
    template <typename Visit>
    static void Each(const ULMVolumeRange& inBox, Visit&& inVisit) {
        for (int z = inBox.ZOrigin(); z < inBox.ZOrigin() + inBox.ZSize(); ++z)
            for (int y = inBox.YOrigin(); y < inBox.YOrigin() + inBox.YSize(); ++y)
                for (int x = inBox.XOrigin(); x < inBox.XOrigin() + inBox.XSize(); ++x) inVisit(Index(x, y, z));
    }
    void Set(const ULMVolumeRange& inBox, char inValue) {
        Each(inBox, [&](size_t i) { m_in[i] = inValue; });
    }
    void KeepOnly(const ULMVolumeRange& inBox) {
        std::vector<char> kept(m_in.size(), 0);
        Each(inBox, [&](size_t i) { kept[i] = m_in[i]; });
        m_in.swap(kept);
    }
    // How many times the boxes cover each voxel.
    static std::vector<int> Cover(const std::vector<ULMVolumeRange>& inBoxes) {
        std::vector<int> cover(size_t(kSpan) * kSpan * kSpan, 0);
        for (const ULMVolumeRange& box : inBoxes) Each(box, [&](size_t i) { ++cover[i]; });
        return cover;
    }
    const std::vector<char>& In() const { return m_in; }

private:
    static size_t Index(int x, int y, int z) {
        return (size_t(z - kLow) * kSpan + size_t(y - kLow)) * kSpan + size_t(x - kLow);
    }
    std::vector<char> m_in;
};

ULMVolumeRange RandomBox(std::mt19937& ioRandom) {
    std::uniform_int_distribution<int> origin(kLow, kLow + kSpan - 1);
    std::uniform_int_distribution<int> size(1, 7);
    ULMVolumeRange box(size(ioRandom), size(ioRandom), size(ioRandom), origin(ioRandom), origin(ioRandom),
                       origin(ioRandom));
    for (int a = 0; a < 3; ++a) box.m_size[a] = std::min(box.m_size[a], kLow + kSpan - box.m_origin[a]);
    return box;
}

TEST(VoxelRegionTest, AddsRemovalsAndCutsMatchAHostSetOfTheSameVoxels) {
    std::mt19937 random(20240611);
    for (int run = 0; run < 40; ++run) {
        ULMVoxelRegion region;
        HostSet host;
        for (int step = 0; step < 25; ++step) {
            const ULMVolumeRange box = RandomBox(random);
            const int op = int(random() % 7);
            if (op < 4) {
                region.Add(box);
                host.Set(box, 1);
            } else if (op < 6) {
                region.Remove(box);
                host.Set(box, 0);
            } else {
                ULMVolumeRange wide = box;
                for (int a = 0; a < 3; ++a) wide.m_size[a] = std::min(wide.m_size[a] + 6, kLow + kSpan - box.m_origin[a]);
                region.Intersect(wide);
                host.KeepOnly(wide);
            }
            SCOPED_TRACE(::testing::Message() << "run " << run << " step " << step << " op " << op);
            // The boxes cover each voxel of the set once, and nothing else.
            const std::vector<int> cover = HostSet::Cover(region.Boxes());
            for (size_t i = 0; i < cover.size(); ++i) ASSERT_EQ(cover[i], host.In()[i]) << "voxel " << i;
            for (const ULMVolumeRange& held : region.Boxes()) ASSERT_FALSE(held.IsEmpty());
            // What the set lacks of a box is that box's voxels outside it, once each.
            const ULMVolumeRange probe = RandomBox(random);
            const std::vector<int> missing = HostSet::Cover(region.Missing(probe));
            bool lacks = false;
            std::vector<int> expected(cover.size(), 0);
            HostSet::Each(probe, [&](size_t i) {
                expected[i] = host.In()[i] ? 0 : 1;
                lacks = lacks || !host.In()[i];
            });
            ASSERT_EQ(missing, expected);
            ASSERT_EQ(region.Contains(probe), !lacks);
            // The bounds are the box around the set.
            ULMVolumeRange bounds;
            for (const ULMVolumeRange& held : region.Boxes()) bounds = bounds.IsEmpty() ? held : bounds.Union(held);
            ASSERT_EQ(region.Bounds(), bounds);
            ASSERT_EQ(region.IsEmpty(), region.Boxes().empty());
        }
    }
}

// Boxes written side by side stay one box, so that a buffer loaded slab by
// slab is recorded as what it is.
TEST(VoxelRegionTest, SlabsSideBySideBecomeOneBox) {
    ULMVoxelRegion region;
    for (int z = 0; z < 8; ++z) region.Add(ULMVolumeRange(10, 6, 1, 2, 3, z));
    ASSERT_EQ(region.Boxes().size(), 1u);
    EXPECT_EQ(region.Boxes()[0], ULMVolumeRange(10, 6, 8, 2, 3, 0));
    region.Remove(ULMVolumeRange(10, 6, 1, 2, 3, 7));
    EXPECT_TRUE(region.Contains(ULMVolumeRange(10, 6, 7, 2, 3, 0)));
    EXPECT_FALSE(region.Contains(ULMVolumeRange(1, 1, 1, 2, 3, 7)));
    EXPECT_TRUE(region.Contains(ULMVolumeRange()));
}

}  // namespace
}  // namespace ulm3
