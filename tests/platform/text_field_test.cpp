#include "platform/text_field.h"

#include <gtest/gtest.h>

using namespace zrq406;

TEST(TextField, CopyTruncatesAndTerminates) {
    char field[8];
    std::fill(std::begin(field), std::end(field), 'x');
    copyToField(field, "abcdefghij");
    EXPECT_EQ(std::string(field), "abcdefg");
    copyToField(field, "ab");
    EXPECT_EQ(field[2], '\0');
    EXPECT_EQ(field[7], '\0'); // the rest is zeroed, nothing of the longer text is left behind
}

TEST(TextField, NeverSplitsACharacter) {
    char field[6];
    copyToField(field, "abc\xC3\xA4\xC3\xB6"); // "abcäö": 7 bytes, room for 5
    EXPECT_EQ(std::string(field), "abc\xC3\xA4");
    copyToField(field, "abcd\xE2\x82\xAC"); // the euro sign would need bytes 4..6
    EXPECT_EQ(std::string(field), "abcd");
}

TEST(TextField, ReadStopsAtWidthWithoutTerminator) {
    const char raw[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(fieldText(raw), "abcd");
    const char shorter[4] = {'a', '\0', 'c', 'd'};
    EXPECT_EQ(fieldText(shorter), "a");
}
