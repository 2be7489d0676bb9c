#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "foundation/board_range.h"
#include "ulm3/ranges.h"

using namespace ulm3;

namespace {

// Sizes first, then origins, as the constructors take them.
ULMVolumeRange Box(int sx, int sy, int sz, int ox, int oy, int oz) {
    return ULMVolumeRange(sx, sy, sz, ox, oy, oz);
}

TEST(VolumeRange, ResetAndEmpty) {
    const ULMVolumeRange fresh;
    EXPECT_TRUE(fresh.IsReset());
    EXPECT_TRUE(fresh.IsEmpty());
    EXPECT_EQ(fresh, Box(0, 0, 0, 0, 0, 0));

    EXPECT_TRUE(Box(4, 0, 4, 0, 0, 0).IsEmpty());
    EXPECT_FALSE(Box(4, 0, 4, 0, 0, 0).IsReset());
    EXPECT_TRUE(Box(0, 0, 0, 5, 5, 5).IsReset());
    EXPECT_TRUE(Box(4, 4, -1, 0, 0, 0).IsEmpty());
    EXPECT_FALSE(Box(1, 1, 1, -3, -3, -3).IsEmpty());

    ULMVolumeRange r = Box(1, 2, 3, 4, 5, 6);
    r.Reset();
    EXPECT_EQ(r, fresh);
}

TEST(VolumeRange, AccessorsAndEquality) {
    ULMVolumeRange r = Box(1, 2, 3, 4, 5, 6);
    EXPECT_EQ(r.XSize(), 1);
    EXPECT_EQ(r.ZSize(), 3);
    EXPECT_EQ(r.XOrigin(), 4);
    EXPECT_EQ(r.ZOrigin(), 6);
    r.YOrigin() = -7;
    r.ZSize() = 9;
    EXPECT_EQ(r, Box(1, 2, 9, 4, -7, 6));
    EXPECT_NE(r, Box(1, 2, 9, 4, -7, 7));
    EXPECT_NE(r, Box(2, 2, 9, 4, -7, 6));
}

TEST(VolumeRange, Union) {
    EXPECT_EQ(ULMVolumeRange::Union(Box(10, 10, 10, 0, 0, 0), Box(5, 5, 5, 20, -5, 2)),
              Box(25, 15, 10, 0, -5, 0));
    EXPECT_EQ(ULMVolumeRange::Union(Box(0, 0, 0, 3, 3, 3), Box(2, 2, 2, 7, 7, 7)),
              Box(2, 2, 2, 7, 7, 7));
    // An empty axis of the other range adds nothing; where both are empty
    // this range keeps its own origin.
    EXPECT_EQ(ULMVolumeRange::Union(Box(4, 0, 4, 1, 8, 1), Box(0, 0, 2, 9, 9, 5)),
              Box(4, 0, 6, 1, 8, 1));

    ULMVolumeRange r = Box(2, 2, 2, 0, 0, 0);
    r.Union(Box(2, 2, 2, 1, 1, 1)).Union(Box(1, 1, 1, -1, 0, 0));
    EXPECT_EQ(r, Box(4, 3, 3, -1, 0, 0));
}

TEST(VolumeRange, Intersect) {
    EXPECT_EQ(ULMVolumeRange::Intersect(Box(10, 10, 10, 0, 0, 0), Box(10, 10, 10, 20, 0, 0)),
              Box(0, 10, 10, 20, 0, 0));
    EXPECT_EQ(ULMVolumeRange::Intersect(Box(10, 10, 10, 0, 0, 0), Box(4, 20, 6, 8, -5, 2)),
              Box(2, 10, 6, 8, 0, 2));
    const ULMVolumeRange a = Box(3, 3, 3, 0, 0, 0);
    ULMVolumeRange b = a;
    b.Intersect(Box(3, 0, 3, 1, 1, 1));
    EXPECT_EQ(b, Box(2, 0, 2, 1, 1, 1));
    EXPECT_EQ(a, Box(3, 3, 3, 0, 0, 0));
}

TEST(VolumeRange, Contains) {
    const ULMVolumeRange box = Box(10, 10, 10, 0, 0, 0);
    EXPECT_TRUE(box.Contains(box));
    EXPECT_TRUE(box.Contains(Box(0, 0, 0, 500, -500, 9999)));
    EXPECT_FALSE(box.Contains(Box(1, 1, 1, 9, 9, 10)));
    EXPECT_TRUE(box.Contains(Box(1, 1, 1, 9, 9, 9)));
    EXPECT_FALSE(box.Contains(Box(1, 1, 1, -1, 0, 0)));
    // Only the axes on which the inner range has extent are tested.
    EXPECT_TRUE(box.Contains(Box(2, 0, 2, 1, 50, 1)));
    EXPECT_FALSE(box.Contains(Box(2, 0, 2, 1, 50, 9)));
    EXPECT_FALSE(Box(10, -1, 10, 0, 0, 0).Contains(Box(1, 1, 1, 0, 0, 0)));
}

TEST(VolumeRange, HugeValuesSaturateInsteadOfOverflowing) {
    const ULMVolumeRange low = Box(10, 1, 1, INT_MIN, 0, 0);
    const ULMVolumeRange high = Box(INT_MAX, 1, 1, INT_MAX - 5, 0, 0);
    const ULMVolumeRange both = ULMVolumeRange::Union(low, high);
    EXPECT_EQ(both.XOrigin(), INT_MIN);
    EXPECT_EQ(both.XSize(), INT_MAX);
    EXPECT_EQ(ULMVolumeRange::Intersect(high, Box(100, 1, 1, INT_MAX - 1, 0, 0)).XSize(), 100);
    EXPECT_TRUE(high.Contains(Box(3, 1, 1, INT_MAX, 0, 0)));
}

TEST(ImageRange, Basics) {
    ULMImageRange r;
    EXPECT_TRUE(r.IsReset());
    EXPECT_TRUE(r.IsEmpty());
    EXPECT_TRUE(ULMImageRange(0, 3, 1, 1).IsEmpty());
    EXPECT_FALSE(ULMImageRange(0, 3, 1, 1).IsReset());
    EXPECT_TRUE(ULMImageRange(-2, 3, 1, 1).IsEmpty());
    r = ULMImageRange(16, 8, 4, 2);
    EXPECT_EQ(r.XSize(), 16);
    EXPECT_EQ(r.YOrigin(), 2);
    r.XOrigin() = 5;
    EXPECT_NE(r, ULMImageRange(16, 8, 4, 2));
    EXPECT_EQ(r, ULMImageRange(16, 8, 5, 2));
}

TEST(ImageRange, SetOperations) {
    EXPECT_EQ(Union(ULMImageRange(4, 4, 0, 0), ULMImageRange(2, 2, 10, -3)),
              ULMImageRange(12, 7, 0, -3));
    // Empty on x on both sides: size 0 at inB's origin (the volume member
    // would keep its own).
    EXPECT_EQ(Union(ULMImageRange(0, 4, 3, 0), ULMImageRange(0, 4, 8, 2)),
              ULMImageRange(0, 6, 8, 0));
    EXPECT_EQ(Union(ULMImageRange(0, 4, 100, 0), ULMImageRange(5, 4, 8, 0)),
              ULMImageRange(5, 4, 8, 0));
    EXPECT_EQ(Union(ULMImageRange(5, 4, 8, 0), ULMImageRange(0, 4, -100, 0)),
              ULMImageRange(5, 4, 8, 0));

    EXPECT_EQ(Intersect(ULMImageRange(10, 10, 0, 0), ULMImageRange(10, 4, 5, 8)),
              ULMImageRange(5, 2, 5, 8));
    EXPECT_EQ(Intersect(ULMImageRange(10, 10, 0, 0), ULMImageRange(3, 3, 20, 2)),
              ULMImageRange(0, 3, 20, 2));

    EXPECT_TRUE(Contains(ULMImageRange(10, 10, 0, 0), ULMImageRange(10, 10, 0, 0)));
    EXPECT_TRUE(Contains(ULMImageRange(10, 10, 0, 0), ULMImageRange(0, 0, -50, 50)));
    EXPECT_FALSE(Contains(ULMImageRange(10, 10, 0, 0), ULMImageRange(2, 2, 9, 0)));
    EXPECT_TRUE(Contains(ULMImageRange(10, 10, 0, 0), ULMImageRange(0, 2, 99, 8)));
}

// Random boxes: the overlap lies inside both, the union holds both.
TEST(RangeProperties, UnionHoldsAndIntersectionLiesInsideBothInputs) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> origin(-50, 50), size(0, 40);
    for (int trial = 0; trial < 500; ++trial) {
        const ULMVolumeRange a = Box(size(rng), size(rng), size(rng), origin(rng), origin(rng),
                                     origin(rng));
        const ULMVolumeRange b = Box(size(rng), size(rng), size(rng), origin(rng), origin(rng),
                                     origin(rng));
        const ULMVolumeRange u = ULMVolumeRange::Union(a, b);
        EXPECT_TRUE(u.Contains(a) && u.Contains(b)) << trial;
        const ULMVolumeRange i = ULMVolumeRange::Intersect(a, b);
        EXPECT_TRUE(a.Contains(i) && b.Contains(i)) << trial;
        EXPECT_EQ(i, ULMVolumeRange::Intersect(b, a)) << trial;

        const ULMImageRange ia(a.XSize(), a.YSize(), a.XOrigin(), a.YOrigin());
        const ULMImageRange ib(b.XSize(), b.YSize(), b.XOrigin(), b.YOrigin());
        EXPECT_TRUE(Contains(Union(ia, ib), ia) && Contains(Union(ia, ib), ib)) << trial;
        EXPECT_TRUE(Contains(ia, Intersect(ia, ib)) && Contains(ib, Intersect(ia, ib))) << trial;
    }
}

void ExpectBox(const KWBRange& r, int minU, int minV, int minW, int maxU, int maxV, int maxW) {
    EXPECT_EQ(r.minU, minU);
    EXPECT_EQ(r.minV, minV);
    EXPECT_EQ(r.minW, minW);
    EXPECT_EQ(r.maxU, maxU);
    EXPECT_EQ(r.maxV, maxV);
    EXPECT_EQ(r.maxW, maxW);
}

void ExpectInvalid(const KWBRange& r) {
    EXPECT_LT(r.maxU, r.minU);
    EXPECT_LT(r.maxV, r.minV);
    EXPECT_LT(r.maxW, r.minW);
}

TEST(BoardRange, InclusiveBoxes) {
    ExpectBox(ULMRange(ULMImageRange(16, 8, 4, 2)), 4, 2, 0, 19, 9, 0);
    ExpectBox(ULMRange(Box(3, 4, 5, -10, 0, 7)), -10, 0, 7, -8, 3, 11);
    ExpectBox(ULMRange(Box(4, 0, 4, 2, 6, 2)), 2, 6, 2, 5, 5, 5);
    ExpectBox(ULMRange(Box(1, 1, 32768, 32767, -32768, -32768)), 32767, -32768, -32768, 32767,
              -32768, -1);
}

TEST(BoardRange, ValuesOutside16BitsGiveAnInvalidBox) {
    ExpectInvalid(ULMRange(Box(2, 1, 1, 32767, 0, 0)));
    ExpectInvalid(ULMRange(Box(1, 1, 1, 0, -32769, 0)));
    ExpectInvalid(ULMRange(Box(1, 1, 70000, 0, 0, 0)));
    ExpectInvalid(ULMRange(Box(1, 1, 0, 0, 0, -32768)));
    ExpectInvalid(ULMRange(Box(INT_MAX, 1, 1, INT_MAX, 0, 0)));
    ExpectInvalid(ULMRange(ULMImageRange(40000, 1, 0, 0)));
}

}  // namespace
