#include "uitext/placeholders.h"

#include <gtest/gtest.h>

using namespace zrq406;

TEST(Placeholders, ValuesReplacePlaceholdersAsText) {
    EXPECT_EQ(fillPlaceholders("The upgrade of %s (%s) has ended.", {"Kitchen", "00:b0:52:5a:00:02"}),
              "The upgrade of Kitchen (00:b0:52:5a:00:02) has ended.");
    // A value holding placeholders or format directives is shown as it stands.
    EXPECT_EQ(fillPlaceholders("Reset %s?", {"%s%n%x"}), "Reset %s%n%x?");
    // Other percent signs and placeholders beyond the values stay.
    EXPECT_EQ(fillPlaceholders("100% of %s, %s and %d", {"a"}), "100% of a, %s and %d");
}

TEST(Placeholders, DoubledPercentShowsAsOne) {
    EXPECT_EQ(collapsePercent("Device 1 of 2 (50%%)"), "Device 1 of 2 (50%)");
    EXPECT_EQ(collapsePercent("%%%"), "%%");
    EXPECT_EQ(collapsePercent("%s stays"), "%s stays");
}
