#include <gtest/gtest.h>

#include <cstdint>

#include "foundation/enumeration_checks.h"
#include "ulm3.h"

using namespace ulm3;

TEST(EnumerationChecks, RangeTestsOnTheIntegerValue) {
    for (int v = -3; v <= 8; ++v) {
        const bool in0to3 = v >= 0 && v <= 3;
        EXPECT_EQ(ValidMigrationMode(static_cast<ULMMigrationMode>(v)), in0to3) << v;
        EXPECT_EQ(IsValidVoxelFieldNumber(static_cast<ULMFieldNumber>(v)), in0to3) << v;
        EXPECT_EQ(ULMValidChannel(static_cast<ULMChannel>(v)), in0to3) << v;
        EXPECT_EQ(ValidInterpolationMode(static_cast<ULMInterpolationMode>(v)), v == 0 || v == 1)
            << v;
    }
    EXPECT_FALSE(IsValidVoxelFieldNumber(static_cast<ULMFieldNumber>(INT32_MIN)));
    EXPECT_FALSE(ULMValidChannel(static_cast<ULMChannel>(INT32_MAX)));
}

TEST(EnumerationChecks, AccessRequests) {
    const auto access = [](int v) { return static_cast<ULMAccessType>(v); };
    EXPECT_FALSE(ULMAccessIsValid(access(0)));  // no control is not a request
    for (int v = 1; v <= 6; ++v) EXPECT_TRUE(ULMAccessIsValid(access(v))) << v;
    EXPECT_FALSE(ULMAccessIsValid(access(7)));
    EXPECT_FALSE(ULMAccessIsValid(access(-1)));
    EXPECT_FALSE(ULMAccessIsWrite(access(1)));
    EXPECT_FALSE(ULMAccessIsWrite(access(2)));  // read shared
    for (int v = 3; v <= 6; ++v) EXPECT_TRUE(ULMAccessIsWrite(access(v))) << v;
}
