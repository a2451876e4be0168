#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "builtin.h"
#include "extract.h"
#include "image_builder.h"

namespace {

TEST(EntryName, BuildsNameDotExtension) {
    struct Case {
        std::string base, ext;  // padded with spaces to 8 and 3
        std::string name;
    };
    const std::vector<Case> cases = {
        {"README", "TXT", "README.TXT"},
        {"ABC", "", "ABC"},
        {"ABC", " XY", "ABC"},
        {"ABCDEFGH", "IJK", "ABCDEFGH.IJK"},
        {"", "DAT", ".DAT"},
        {"A B", "C D", "A.C"},
        {"", "", ""},
        {"\x83\x51\xff", "\x01", "\x83\x51\xff.\x01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fixture::Bytes e = fixture::dirEntry(0, c.base, c.ext, 0, 0, 0);
        char name[imgpry::fs::kMaxNameLength + 1];
        EXPECT_EQ(imgpry::fs::entryName(e.data(), name), static_cast<int32_t>(c.name.size()));
        EXPECT_EQ(std::string(name), c.name);
    }
    // Bytes are copied as they are, so a NUL ends the name early.
    fixture::Bytes e = fixture::dirEntry(0, "AB", "TXT", 0, 0, 0);
    e[2] = 0;
    char name[imgpry::fs::kMaxNameLength + 1];
    (void)imgpry::fs::entryName(e.data(), name);
    EXPECT_STREQ(name, "A");
}

TEST(UnsafeNames, RefusesNamesThatLeaveTheDirectory) {
    struct Case {
        const char* name;
        bool posix, windows;
    };
    const std::vector<Case> cases = {
        {".", true, true},         {"..", true, true},     {"A/B", true, true},          {"../X", true, true},
        {"A\\B", false, true},     {"C:X", false, true},   {"CON", false, true},         {"con.txt", false, true},
        {"Nul.Bin", false, true},  {"PRN", false, true},   {"AUX.X", false, true},       {"COM1", false, true},
        {"com9.dat", false, true}, {"LPT1", false, true},  {"lpt9.TXT", false, true},    {"COM0", false, false},
        {"LPT", false, false},     {"CONX", false, false}, {"XCON", false, false},       {"COM10", false, false},
        {"CO.N", false, false},    {"...", false, false},  {"README.TXT", false, false}, {".DAT", false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isUnsafeName(c.name, NameRules::kPosix), c.posix);
        EXPECT_EQ(isUnsafeName(c.name, NameRules::kWindows), c.windows);
    }
}

TEST(ShowName, ControlBytesAreQuestionMarksOnATerminalOnly) {
    struct Case {
        std::string name, onTerminal;
    };
    const std::vector<Case> cases = {
        {"README.TXT", "README.TXT"},
        {"\x1b[2J\x1b[H", "?[2J?[H"},
        {"A\rB\nC\tD", "A?B?C?D"},
        {std::string("\x01\x1f\x20\x7e\x7f", 5), "?? ~?"},
        {"\x83\x51\x81\x5b\x80\xa0\xff", "\x83\x51\x81\x5b\x80\xa0\xff"},  // Shift_JIS and 8-bit bytes pass
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char shown[260];
        EXPECT_EQ(std::string(showName(c.name.c_str(), true, shown, sizeof shown)), c.onTerminal);
        EXPECT_EQ(std::string(showName(c.name.c_str(), false, shown, sizeof shown)), c.name);
    }
    char small[4];
    EXPECT_STREQ(showName("AB\x1b"
                          "CD",
                          true, small, sizeof small),
                 "AB?");  // cut to fit, still terminated
}

TEST(FormatListing, MatchesPrintf) {
    // Paths past 12 bytes push the columns after them out; sizes past 8
    // digits do the same.
    const std::vector<std::string> names = {"",
                                            "A",
                                            ".DAT",
                                            "README.TXT",
                                            "ABCDEFGH.IJK",
                                            "%d%s",
                                            "GAMES/ABCDEFGH.IJK",
                                            "a long file name with spaces.text",
                                            std::string(700, 'x') + "/" + std::string(300, 'y')};
    const std::vector<int32_t> sizes = {0, 1024, 5120, 99999, 261120, 99999999, 100000000, INT32_MAX, -1, INT32_MIN};
    const std::vector<int32_t> bytes = {0, 1, 0x0a, 0x10, 0xa3, 0xff};
    for (const std::string& name : names) {
        for (int32_t size : sizes) {
            for (int32_t b : bytes) {
                char want[1100];
                const int n = std::snprintf(want, sizeof want, "%-12s %8d  trk=%02x sec=%02x", name.c_str(), size,
                                            static_cast<unsigned>(b), static_cast<unsigned>(0xff - b));
                std::vector<char> got(name.size() + 12 + kListingTail);
                const int32_t len = formatListing(got.data(), name.c_str(), size, b, 0xff - b);
                EXPECT_EQ(std::string(got.data(), static_cast<size_t>(len)), std::string(want, static_cast<size_t>(n)));
            }
        }
    }
}

}  // namespace
