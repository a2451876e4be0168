// The file system layer's text rules: names as Unicode text, and which
// names make the same file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "names.h"
#include "text.h"

namespace fs = imgpry::fs;

namespace {

TEST(ShiftJisToUtf8, DecodesCharactersAndReplacesEveryOtherByte) {
    struct Case {
        std::string bytes, utf8;
    };
    const std::vector<Case> cases = {
        {"README.TXT", "README.TXT"},
        {"\xB1\xB2\xB3", "\xEF\xBD\xB1\xEF\xBD\xB2\xEF\xBD\xB3"},              // half-width katakana
        {"\x8A\xBF\x8E\x9A", "\xE6\xBC\xA2\xE5\xAD\x97"},                      // kanji
        {"\x83\x51\x81\x5B\x83\x80", "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0"},  // katakana
        {"\x83", "\xEF\xBF\xBD"},                                              // a lead byte at the end
        {"\x83\x20", "\xEF\xBF\xBD "},                                         // a lead byte without its trail
        {"\x80\xA0\xFD\xFF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\x85\x40", "\xEF\xBF\xBD@"},  // a pair that is no character: the trail stands alone
        {"\x1B[H", "\x1B[H"},           // control bytes are for the caller to escape
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        char out[64];
        EXPECT_EQ(std::string(fs::shiftJisToUtf8(c.bytes.c_str(), out, sizeof out)), c.utf8);
    }
    char small[5];
    EXPECT_STREQ(fs::shiftJisToUtf8("\xB1\xB2", small, sizeof small), "\xEF\xBD\xB1");  // cut whole, terminated
}

TEST(ShiftJisToUtf8Whole, ConvertsOnlyAWholeNameAndOtherwiseKeepsEveryByte) {
    struct Case {
        std::string bytes, out;
        bool whole;
    };
    const std::vector<Case> cases = {
        {"GAME.BIN", "GAME.BIN", true},
        {"\xB1\xB2\xB3.BIN", "\xEF\xBD\xB1\xEF\xBD\xB2\xEF\xBD\xB3.BIN", true},
        {"\x83\x51\x81\x5B.\x82\xA0", "\xE3\x82\xB2\xE3\x83\xBC.\xE3\x81\x82", true},
        {"\xB1\x83", "\xB1\x83", false},          // a lead byte at the end: nothing converted
        {"\x85\x40\xB1", "\x85\x40\xB1", false},  // a pair that is no character
        {"\x80"
         "A",
         "\x80"
         "A",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        char out[64];
        EXPECT_EQ(fs::shiftJisToUtf8Whole(c.bytes.c_str(), out, sizeof out), c.whole);
        EXPECT_EQ(std::string(out), c.out);
        // Only a name of ASCII alone is said to decode to itself.
        size_t length = 0;
        EXPECT_EQ(fs::decodesToItself(c.bytes.c_str(), length), c.bytes == "GAME.BIN");
        EXPECT_EQ(length, c.bytes.size());
    }
    char small[6];  // room for one katakana and a NUL, not two: kept as bytes
    EXPECT_FALSE(fs::shiftJisToUtf8Whole("\xB1\xB2", small, sizeof small));
    EXPECT_STREQ(small, "\xB1\xB2");
}

TEST(DisplayColumns, HalfWidthOneFullWidthTwo) {
    EXPECT_EQ(fs::displayColumns("GAME.BIN"), 8);
    EXPECT_EQ(fs::displayColumns("\xEF\xBD\xB1\xEF\xBD\xB2"), 2);    // half-width katakana
    EXPECT_EQ(fs::displayColumns("\xE3\x82\xB2\xE3\x83\xBC.B"), 6);  // katakana, then ".B"
    EXPECT_EQ(fs::displayColumns("\xE6\xBC\xA2\xEF\xBC\xA1"), 4);    // a kanji, a full-width A
    EXPECT_EQ(fs::displayColumns("\xC3\xA9"), 1);                    // e with an accent
}

TEST(Utf8OrReplacement, KeepsUtf8AndReplacesTheRest) {
    char out[64];
    EXPECT_STREQ(fs::utf8OrReplacement("a\xC3\xA9z", out, sizeof out), "a\xC3\xA9z");
    EXPECT_STREQ(fs::utf8OrReplacement("a\xE9z", out, sizeof out), "a\xEF\xBF\xBDz");
    EXPECT_STREQ(fs::utf8OrReplacement("\xC0\xAF", out, sizeof out), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(SameFileName, ExactBytesOnPosixAsciiCaseFoldedOnWindows) {
    EXPECT_TRUE(fs::sameFileName("GAME.BIN", "GAME.BIN", fs::NameRules::kPosix));
    EXPECT_FALSE(fs::sameFileName("GAME.BIN", "game.bin", fs::NameRules::kPosix));
    EXPECT_TRUE(fs::sameFileName("GAME.BIN", "game.bin", fs::NameRules::kWindows));
    EXPECT_FALSE(fs::sameFileName("GAME.BIN", "GAME.BI", fs::NameRules::kWindows));
    // The second byte of a double-byte character is no letter.
    EXPECT_FALSE(fs::sameFileName("\x83\x41", "\x83\x61", fs::NameRules::kWindows));
    EXPECT_TRUE(fs::sameFileName("\x83\x41x", "\x83\x41X", fs::NameRules::kWindows));
}

}  // namespace
