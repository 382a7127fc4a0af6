#include "platform/display_text.h"

#include <gtest/gtest.h>

using namespace zrq406;

namespace {
const std::string kBad = "\xEF\xBF\xBD";
}

TEST(DisplayText, InvalidBytesAreReplacedVisibly) {
    EXPECT_EQ(validUtf8("Gr\xC3\xBC\xC3\x9F"
                        "e"),
              "Gr\xC3\xBC\xC3\x9F"
              "e"); // well-formed text stays as it is
    EXPECT_EQ(validUtf8("3-3-\xff-CE"), "3-3-" + kBad + "-CE");
    EXPECT_EQ(validUtf8("\xC3"), kBad);                                  // cut short at the end
    EXPECT_EQ(validUtf8("\xC0\xAF"), kBad + kBad);                       // overlong '/'
    EXPECT_EQ(validUtf8("\xED\xA0\x80"), kBad + kBad + kBad);            // a surrogate
    EXPECT_EQ(validUtf8("\xF4\x90\x80\x80"), kBad + kBad + kBad + kBad); // above U+10FFFF
    EXPECT_EQ(validUtf8("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
}

TEST(DisplayText, TerminalTextPassesNoControlCharacter) {
    EXPECT_EQ(terminalText("a\x1b[31mb"), "a" + kBad + "[31mb");
    EXPECT_EQ(terminalText("\x07\x7f\xC2\x9B"), kBad + kBad + kBad); // BEL, DEL and the C1 escape
    EXPECT_EQ(terminalText("tab\there"), "tab" + kBad + "here");
    EXPECT_EQ(validUtf8("a\x1b"), "a\x1b"); // JSON escapes controls itself; only the terminal form drops them
}
