#include <gtest/gtest.h>

#include "ulm3.h"

using namespace ulm3;

TEST(StatusPredicates, BoundaryBetweenOutcomesAndErrors) {
    EXPECT_FALSE(ULMFailed(static_cast<ULMStatus>(1000)));
    EXPECT_TRUE(ULMFailed(kULMErrAlloc));
    EXPECT_TRUE(ULMSucceeded(kULMAlreadyComplete));
    EXPECT_TRUE(ULMSucceeded(static_cast<ULMStatus>(-5)));
    EXPECT_FALSE(ULMSucceeded(kULMErrTooSmall));
}
