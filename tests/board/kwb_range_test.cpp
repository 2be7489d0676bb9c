#include <gtest/gtest.h>

#include "board/kwb_range.h"

using namespace ulm3;

namespace {

TEST(KWBRange, ValidityNeedsNonNegativeOrderedBoundsOnEveryAxis) {
    EXPECT_TRUE(KWBRange().IsValid());
    EXPECT_TRUE(KWBRange(0, 0, 0, 32767, 32767, 32767).IsValid());
    EXPECT_FALSE(KWBRange(-1, 5).IsValid());
    EXPECT_FALSE(KWBRange(6, 5).IsValid());
    EXPECT_FALSE(KWBRange(0, 4, 5, 3).IsValid());
    EXPECT_FALSE(KWBRange(0, 0, 1, 5, 5, 0).IsValid());
    EXPECT_FALSE(KWBRange(0, 0, -2, 5, 5, 3).IsValid());
}

TEST(KWBRange, ExtentsAndCountDoNotWrap) {
    const KWBRange full(0, 0, 0, 32767, 32767, 32767);
    EXPECT_EQ(full.ExtentU(), 32768);
    EXPECT_EQ(full.ElementCount(), int64_t{1} << 45);
    EXPECT_EQ(KWBRange(2, 3, 4, 2, 5, 7).ElementCount(), 12);
}

}  // namespace
