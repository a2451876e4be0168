// The page's zip writer: archives that Python's zipfile and unzip accept,
// with names and bytes as given, the same bytes every time.
#include "zip.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using imgpry::web::crc32;
using imgpry::web::zipArchive;
using imgpry::web::ZipFile;

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buf[4096];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    return out + (status == 0 ? "" : "\nexit status " + std::to_string(status));
}

TEST(Zip, Crc32OfKnownInputs) {
    const std::vector<std::pair<std::string, uint32_t>> cases = {
        {"", 0x00000000U}, {"a", 0xE8B7BE43U}, {"123456789", 0xCBF43926U}};
    for (const auto& [text, crc] : cases) {
        const std::vector<uint8_t> b = bytes(text);
        EXPECT_EQ(crc32(b.data(), b.size()), crc) << text;
    }
    // In pieces, the same.
    const std::vector<uint8_t> b = bytes("123456789");
    EXPECT_EQ(crc32(b.data() + 4, 5, crc32(b.data(), 4)), 0xCBF43926U);
}

TEST(Zip, ZipfileAndUnzipReadNamesAndBytesBack) {
#if defined(_WIN32)
    GTEST_SKIP() << "Python's zipfile and unzip are the host's, not the Windows build's";
#endif
    std::vector<uint8_t> binary(70000);
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<uint8_t>(i * 7 + i / 251);
    const std::vector<ZipFile> files = {
        {"disk01/README.TXT", bytes("hello\n")},
        {"disk01/EMPTY", {}},
        {"disk02/SUB/GAME.BIN", binary},
        {"disk02/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.TXT", bytes("Shift_JIS name, as UTF-8\n")},
    };
    const std::vector<uint8_t> zip = zipArchive(files);
    ASSERT_FALSE(zip.empty());
    EXPECT_EQ(zipArchive(files), zip) << "the same archive every time";

    const std::string dir = testing::TempDir() + "imgpry-zip-test";
    (void)std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
    const std::string path = dir + "/a.zip";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(zip.data()), static_cast<std::streamsize>(zip.size()));

    // Python lists names (read as UTF-8 by the flag) and CRC-checks each file.
    std::string script =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "assert z.testzip() is None\n"
        "for i in z.infolist():\n"
        "    assert i.flag_bits & 0x800 and i.compress_type == 0 and i.date_time == (1980, 1, 1, 0, 0, 0)\n"
        "    sys.stdout.write('%s %d %08x\\n' % (i.filename, i.file_size, i.CRC))\n";
    std::ofstream(dir + "/check.py") << script;
    std::string expected;
    for (const ZipFile& f : files) {
        char line[64];
        (void)std::snprintf(line, sizeof line, " %zu %08x\n", f.data.size(),
                            static_cast<unsigned>(crc32(f.data.data(), f.data.size())));
        expected += f.name + line;
    }
    EXPECT_EQ(run("python3 '" + dir + "/check.py' '" + path + "'"), expected);

    EXPECT_NE(run("unzip -t '" + path + "'").find("No errors detected"), std::string::npos);
    // unzip puts the bytes back under the names.
    ASSERT_EQ(run("cd '" + dir + "' && LC_ALL=C.UTF-8 unzip -q a.zip"), "");
    for (const ZipFile& f : files) {
        std::ifstream in(dir + "/" + f.name, std::ios::binary);
        const std::vector<uint8_t> got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(got, f.data) << f.name;
    }
}

}  // namespace
