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
    // C0 and DEL, a C1 control as UTF-8 and as a bare byte; the rest stays as it is.
    EXPECT_EQ(text::escapedControls("a\x1b[2J\nb\x7f\xC2\x9B|\x9B é✓"), "a\\x1b[2J\\x0ab\\x7f\\u009b|\\x9b é✓");
}

TEST(Text, utf8ValidityAndLowerCase) {
    EXPECT_TRUE(text::isValidUTF8("héllo ✓ 😀"));
    EXPECT_FALSE(text::isValidUTF8("\xC3"));
    EXPECT_FALSE(text::isValidUTF8("\xED\xA0\x80")); // a lone surrogate
    EXPECT_EQ(text::asciiLower("HeVC-Ä"), "hevc-Ä");
}

} // namespace
} // namespace vanto
