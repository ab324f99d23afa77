#include "base/Text.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

TEST(Text, trimsUnicodeSpacesButNotLineBreaksOrOtherCharacters) {
    EXPECT_EQ(text::trimSpaces("  \t{\"a\":1}\t  "), "{\"a\":1}");
    EXPECT_EQ(text::trimSpaces("\xE2\x80\x82x\xE3\x80\x80"), "x"); // en space, ideographic space
    EXPECT_EQ(text::trimSpaces(" \r "), "\r");
    EXPECT_EQ(text::trimSpaces("\n"), "\n");
    EXPECT_EQ(text::trimSpaces(" a b "), "a b");
    EXPECT_EQ(text::trimSpaces("\xE2\x80\x8B"), "\xE2\x80\x8B"); // zero-width space is not a separator
    EXPECT_EQ(text::trimSpaces("   "), "");
    EXPECT_EQ(text::trimSpaces(" \xff "), "\xff"); // invalid UTF-8 still loses ASCII spaces
}

TEST(Text, controlCharactersAreWrittenAsVisibleEscapes) {
    // An ESC sequence that would clear the screen, a line break that would forge a line,
    // a C1 control as UTF-8 and as a bare byte.
    EXPECT_EQ(text::escapedControls("Intro\x1b[2J\x1b[H"), "Intro\\x1b[2J\\x1b[H");
    EXPECT_EQ(text::escapedControls("a\nb\tc\x7f"), "a\\x0ab\\x09c\\x7f");
    EXPECT_EQ(text::escapedControls("\xC2\x9B"
                                    "31m|\x9B"),
              "\\u009b31m|\\x9b");
    EXPECT_EQ(text::escapedControls("héllo ✓ 😀 \\x"), "héllo ✓ 😀 \\x");
}

TEST(Text, utf8ValidityAndLowerCase) {
    EXPECT_TRUE(text::isValidUTF8("héllo ✓ 😀"));
    EXPECT_FALSE(text::isValidUTF8("\xC3"));
    EXPECT_FALSE(text::isValidUTF8("\xED\xA0\x80")); // a lone surrogate
    EXPECT_EQ(text::asciiLower("HeVC-Ä"), "hevc-Ä");
}

} // namespace
} // namespace vanto
