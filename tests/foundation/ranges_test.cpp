// Volume and image ranges, and the 16-bit boxes the boards take.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "board/board_range.h"
#include "ulm3/ranges.h"

using namespace ulm3;

namespace {

// Sizes first, then origins, as the constructors take them.
ULMVolumeRange Box(int sx, int sy, int sz, int ox, int oy, int oz) { return ULMVolumeRange(sx, sy, sz, ox, oy, oz); }

TEST(VolumeRange, UnionIntersectAndContains) {
    EXPECT_EQ(ULMVolumeRange::Union(Box(10, 10, 10, 0, 0, 0), Box(5, 5, 5, 20, -5, 2)), Box(25, 15, 10, 0, -5, 0));
    EXPECT_EQ(ULMVolumeRange::Union(Box(0, 0, 0, 3, 3, 3), Box(2, 2, 2, 7, 7, 7)), Box(2, 2, 2, 7, 7, 7));
    // An empty axis of the other range adds nothing; where both are empty
    // this range keeps its own origin.
    EXPECT_EQ(ULMVolumeRange::Union(Box(4, 0, 4, 1, 8, 1), Box(0, 0, 2, 9, 9, 5)), Box(4, 0, 6, 1, 8, 1));
    ULMVolumeRange r = Box(2, 2, 2, 0, 0, 0);
    r.Union(Box(2, 2, 2, 1, 1, 1)).Union(Box(1, 1, 1, -1, 0, 0));
    EXPECT_EQ(r, Box(4, 3, 3, -1, 0, 0));

    EXPECT_EQ(ULMVolumeRange::Intersect(Box(10, 10, 10, 0, 0, 0), Box(10, 10, 10, 20, 0, 0)), Box(0, 10, 10, 20, 0, 0));
    EXPECT_EQ(ULMVolumeRange::Intersect(Box(10, 10, 10, 0, 0, 0), Box(4, 20, 6, 8, -5, 2)), Box(2, 10, 6, 8, 0, 2));
    r = Box(3, 3, 3, 0, 0, 0);
    r.Intersect(Box(3, 0, 3, 1, 1, 1));
    EXPECT_EQ(r, Box(2, 0, 2, 1, 1, 1));

    const ULMVolumeRange box = Box(10, 10, 10, 0, 0, 0);
    const std::pair<ULMVolumeRange, bool> inner[] = {
        {box, true}, {Box(0, 0, 0, 500, -500, 9999), true}, {Box(1, 1, 1, 9, 9, 10), false},
        {Box(1, 1, 1, 9, 9, 9), true}, {Box(1, 1, 1, -1, 0, 0), false},
        // Only the axes on which the inner range has extent are tested.
        {Box(2, 0, 2, 1, 50, 1), true}, {Box(2, 0, 2, 1, 50, 9), false}};
    for (const auto& [in, contained] : inner) EXPECT_EQ(box.Contains(in), contained) << ::testing::PrintToString(in);
    EXPECT_FALSE(Box(10, -1, 10, 0, 0, 0).Contains(Box(1, 1, 1, 0, 0, 0)));

    // Huge values saturate instead of overflowing.
    const ULMVolumeRange high = Box(INT_MAX, 1, 1, INT_MAX - 5, 0, 0);
    const ULMVolumeRange both = ULMVolumeRange::Union(Box(10, 1, 1, INT_MIN, 0, 0), high);
    EXPECT_TRUE(both.XOrigin() == INT_MIN && both.XSize() == INT_MAX);
    EXPECT_EQ(ULMVolumeRange::Intersect(high, Box(100, 1, 1, INT_MAX - 1, 0, 0)).XSize(), 100);
    EXPECT_TRUE(high.Contains(Box(3, 1, 1, INT_MAX, 0, 0)));
}

std::vector<int> Corners(const KWBRange& r) { return {r.minU, r.minV, r.minW, r.maxU, r.maxV, r.maxW}; }

TEST(BoardRange, InclusiveBoxesAndValuesOutside16Bits) {
    EXPECT_EQ(Corners(ULMRange(ULMImageRange(16, 8, 4, 2))), std::vector<int>({4, 2, 0, 19, 9, 0}));
    EXPECT_EQ(Corners(ULMRange(Box(3, 4, 5, -10, 0, 7))), std::vector<int>({-10, 0, 7, -8, 3, 11}));
    EXPECT_EQ(Corners(ULMRange(Box(4, 0, 4, 2, 6, 2))), std::vector<int>({2, 6, 2, 5, 5, 5}));
    EXPECT_EQ(Corners(ULMRange(Box(1, 1, 32768, 32767, -32768, -32768))),
              std::vector<int>({32767, -32768, -32768, 32767, -32768, -1}));
    // What does not fit gives a box with max < min on every axis.
    for (const KWBRange& r : {ULMRange(Box(2, 1, 1, 32767, 0, 0)), ULMRange(Box(1, 1, 1, 0, -32769, 0)),
                              ULMRange(Box(1, 1, 70000, 0, 0, 0)), ULMRange(Box(1, 1, 0, 0, 0, -32768)),
                              ULMRange(Box(INT_MAX, 1, 1, INT_MAX, 0, 0)), ULMRange(ULMImageRange(40000, 1, 0, 0))}) {
        EXPECT_TRUE(r.maxU < r.minU && r.maxV < r.minV && r.maxW < r.minW) << ::testing::PrintToString(Corners(r));
    }
}

}  // namespace
