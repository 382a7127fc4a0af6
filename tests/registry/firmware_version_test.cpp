#include "registry/firmware_version.h"

#include <gtest/gtest.h>
#include <limits>

using namespace zrq406;

TEST(ParseBuildNumber, ReadsBackwardsToTheFirstOtherCharacter) {
    EXPECT_EQ(ParseBuildNumber("3-3-3348-00-2764-CE-0012", 0), 12);
    // Hyphens are skipped, so digit groups run together.
    EXPECT_EQ(ParseBuildNumber("x2-00-2764", 0), 2002764);
    EXPECT_EQ(ParseBuildNumber("v1-2-3", 0), 123);
    EXPECT_EQ(ParseBuildNumber("abc", 0), 0);
    EXPECT_EQ(ParseBuildNumber("", 0), 0);
}

TEST(ParseBuildNumber, TheStopIndexItselfIsNotRead) {
    EXPECT_EQ(ParseBuildNumber("1-2-3", 0), 23);
    EXPECT_EQ(ParseBuildNumber("12", -1), 12);
    EXPECT_EQ(ParseBuildNumber("xx-CE-0045", 6), 45);
    EXPECT_EQ(ParseBuildNumber("xx-CE-0045", 7), 45);
    EXPECT_EQ(ParseBuildNumber("xx-CE-4045", 6), 45); // index 6 holds the 4
    EXPECT_EQ(ParseBuildNumber("123", 5), 0);
}

TEST(ParseBuildNumber, LongDigitRunsAreClamped) {
    EXPECT_EQ(ParseBuildNumber("x99999999999999999999", 0), std::numeric_limits<int>::max());
    EXPECT_EQ(ParseBuildNumber("x00000000000000000042", 0), 42);
}

TEST(NeedsFirmwareUpgrade, OfferedWithoutTheReferenceBaseOrBelowTheNewestImage) {
    EXPECT_TRUE(NeedsFirmwareUpgrade("3-3-3348-00-2763-CE-0012", 0, 0));
    EXPECT_TRUE(NeedsFirmwareUpgrade("", 0, 0));
    EXPECT_FALSE(NeedsFirmwareUpgrade("3-3-3348-00-2764-CE-0012", 0, 0));
    EXPECT_TRUE(NeedsFirmwareUpgrade("3-3-3348-00-2764-CE-0012", 13, 0));
    EXPECT_FALSE(NeedsFirmwareUpgrade("3-3-3348-00-2764-CE-0012", 12, 99));
    EXPECT_TRUE(NeedsFirmwareUpgrade("3-3-3348-00-2764-NA-0005", 0, 6));
    EXPECT_FALSE(NeedsFirmwareUpgrade("3-3-3348-00-2764-NA-0005", 99, 5));
    // A text with both markers is checked against the NA image when the CE one is no newer.
    EXPECT_TRUE(NeedsFirmwareUpgrade("3-3-3348-00-2764-CE-NA-0007", 5, 9));
}
