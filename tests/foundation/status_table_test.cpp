#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ulm3.h"

using namespace ulm3;

TEST(StatusPredicates, BoundaryBetweenOutcomesAndErrors) {
    EXPECT_FALSE(ULMFailed(static_cast<ULMStatus>(1000)));
    EXPECT_TRUE(ULMFailed(kULMErrAlloc));
    EXPECT_TRUE(ULMSucceeded(kULMAlreadyComplete));
    EXPECT_TRUE(ULMSucceeded(static_cast<ULMStatus>(-5)));
    EXPECT_FALSE(ULMFailed(static_cast<ULMStatus>(-5)));
    EXPECT_FALSE(ULMSucceeded(kULMErrTooSmall));
    EXPECT_TRUE(ULMSucceeded(static_cast<ULMStatus>(1000)));
    EXPECT_FALSE(ULMSucceeded(static_cast<ULMStatus>(1001)));
}

TEST(StatusPredicates, IsTrueFoldsToZeroOrOne) {
    EXPECT_EQ(ULMIsTrue(0), 0);
    EXPECT_EQ(ULMIsTrue(1), 1);
    EXPECT_EQ(ULMIsTrue(-7), 1);
    EXPECT_EQ(ULMIsTrue(1 << 30), 1);
}

TEST(StatusNames, EveryStatusHasItsShortName) {
    const std::vector<std::pair<int, const char*>> expected = {
        {0, "OK"},
        {1, "MultiPass"},
        {2, "Timeout"},
        {3, "MustReload"},
        {4, "InProgress"},
        {5, "AlreadyComplete"},
        {1001, "Alloc"},
        {1002, "Volume"},
        {1003, "Math"},
        {1004, "Argument"},
        {1005, "Unimplemented"},
        {1006, "TooMany"},
        {1007, "TooLarge"},
        {1008, "Duplicate"},
        {1009, "NoHardware"},
        {1010, "ReadOnly"},
        {1011, "Access"},
        {1012, "Aborted"},
        {1013, "BasePlaneAllocation"},
        {1014, "BasePlaneTooLarge"},
        {1015, "Hardware"},
        {1016, "Internal"},
        {1017, "IDRollover"},
        {1018, "Version"},
        {1019, "MaxAngleDeviation"},
        {1020, "Format"},
        {1021, "CantResize"},
        {1022, "CantSubsample"},
        {1023, "Classifier"},
        {1024, "Transform"},
        {1025, "Permission"},
        {1026, "VoxFile"},
        {1027, "Read"},
        {1028, "Write"},
        {1029, "Buffer"},
        {1030, "EmptyRender"},
        {1031, "CutplaneOverflow"},
        {1032, "TooSmall"},
    };
    ASSERT_EQ(expected.size(), 38u);
    std::set<std::string> seen;
    for (const auto& [value, name] : expected) {
        EXPECT_STREQ(UlmGetStatusString(static_cast<ULMStatus>(value)), name) << value;
        seen.insert(name);
    }
    EXPECT_EQ(seen.size(), expected.size());
    EXPECT_STREQ(UlmGetStatusString(kULMErrVolumeInvalid), "Volume");
}

TEST(StatusNames, ValuesWithoutARowAreUnknown) {
    for (int value : {6, 999, 1000, 1033, -1, -5, 2147483647, -2147483647 - 1}) {
        EXPECT_STREQ(UlmGetStatusString(static_cast<ULMStatus>(value)), "Unknown") << value;
    }
}
