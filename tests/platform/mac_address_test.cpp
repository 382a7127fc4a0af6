#include "platform/mac_address.h"

#include <gtest/gtest.h>

using zrq406::MacAddress;

TEST(MacAddress, TextIsLowercaseColonSeparated) {
    const MacAddress mac{{0x00, 0xB0, 0x52, 0xAB, 0x0C, 0xFF}};
    EXPECT_EQ(mac.text(), "00:b0:52:ab:0c:ff");
    EXPECT_EQ(MacAddress::fromText(mac.text()), mac);
}

TEST(MacAddress, LenientParseOfStoredText) {
    // Upper case reads the same; a character that is no hex digit stands for 0xFF in its nibble position.
    EXPECT_EQ(MacAddress::fromText("00:B0:52:AB:0C:FF"), (MacAddress{{0x00, 0xB0, 0x52, 0xAB, 0x0C, 0xFF}}));
    EXPECT_EQ(MacAddress::fromText("0g:10:00:00:00:00").bytes[0], 0xFF);
    EXPECT_EQ(MacAddress::fromText("g0:10:00:00:00:00").bytes[0], 0xF0);
    // Only 17 characters are read.
    EXPECT_EQ(MacAddress::fromText("01:02:03:04:05:0607"), (MacAddress{{1, 2, 3, 4, 5, 6}}));
}

TEST(MacAddress, StrictParseRefusesBadInput) {
    EXPECT_EQ(MacAddress::parse("00-b0-52-00-00-01"), MacAddress::localDevice());
    EXPECT_FALSE(MacAddress::parse("00:b0:52:00:00"));
    EXPECT_FALSE(MacAddress::parse("00:b0:52:00:00:0g"));
    EXPECT_FALSE(MacAddress::parse("00:b0:52:00:00:011"));
    EXPECT_FALSE(MacAddress::parse("00b0:52:00:00:01:"));
}
