#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extract.h"
#include "image_builder.h"

namespace {

TEST(FormatEntryName, BuildsNameDotExtension) {
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
        formatEntryName(e.data());
        EXPECT_EQ(std::string(outName), c.name);
    }
    // Bytes are copied as they are, so a NUL ends the name early.
    fixture::Bytes e = fixture::dirEntry(0, "AB", "TXT", 0, 0, 0);
    e[2] = 0;
    formatEntryName(e.data());
    EXPECT_STREQ(outName, "A");
}

}  // namespace
