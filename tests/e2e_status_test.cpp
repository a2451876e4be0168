// What the real imgpry says and how it ends, case by case: 0 when nothing
// went to standard error, 1 when the run could not start, 2 when it went on
// and wrote any line; and names as a UTF-8 system shows them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image_builder.h"
#include "run_tool.h"
#include "test_util.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

using fixture::Bytes;
using fixture::dirEntry;
using fixture::FileSystemDisk;
using fixture::pattern;
using testutil::quoted;
using testutil::text;
using testutil::ToolRun;

namespace {

const std::string kOpenFailed =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1"
    "\n";

bool haveStrace() { return testutil::nativePosix() && std::system("strace -V >/dev/null 2>&1") == 0; }

class Status : public ::testing::Test {
protected:
    std::string save(const std::string& name, const Bytes& image) {
        const std::string path = images.file(name);
        EXPECT_TRUE(fixture::writeFile(path, image));
        return path;
    }
    testutil::TempDir images;
};

// A disk with one file F of two sectors at track 2.
FileSystemDisk oneFile(const std::string& name = "F") {
    FileSystemDisk d(10);
    d.addFile(name, "", 2, 1, pattern(2 * 1024, 1));
    return d;
}

std::string le32At(const Bytes& b, size_t at) {
    const uint32_t v = static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8U |
                       static_cast<uint32_t>(b[at + 2]) << 16U | static_cast<uint32_t>(b[at + 3]) << 24U;
    return std::to_string(v);
}

TEST_F(Status, EachOutcomeEndsWithItsStatusAndItsWords) {
    struct Case {
        std::string title;
        std::string command;  // starts imgpry in a fresh directory
        int status;
        std::string out;  // "": not compared
        std::string err;
        bool readOnly = false;  // the directory cannot be written
    };
    std::vector<Case> cases;
    auto tool = [](const std::vector<std::string>& args) { return testutil::toolCommand(args); };

    const std::string sample = testutil::hostPath(IMGPRY_SAMPLE);
    cases.push_back({"a clean run", tool({sample}), 0, "", ""});
    cases.push_back({"no image", tool({}), 1, "", "Usage: imgpry image\n"});
    const std::string missing = images.file("missing.d88");
    cases.push_back({"an image that is not there", tool({missing}), 1, "",
                     kOpenFailed + "imgpry: cannot open " + missing + ": No such file or directory\n"});
    if (!testutil::kWindows) {
        cases.push_back({"a directory for an image", tool({images.path().string()}), 1, "",
                         kOpenFailed + "imgpry: cannot open " + images.path().string() + ": Is a directory\n"});
    }
    cases.push_back({"-C a directory that is not there", tool({"-C", missing, sample}), 1, "",
                     "imgpry: cannot use " + missing + ": No such file or directory\n"});

    const std::string small = save("small.bin", Bytes(100, 0x42));
    cases.push_back({"a 100-byte file", tool({small}), 2, "",
                     "imgpry: no disk found: " + small + " holds 100 bytes, less than a 688-byte disk header\n"});

    // The start of a PNG: its size field (bytes 0x1c-0x1f) is its IHDR
    // chunk's last bytes, far more than the file holds.
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 0x0d, 'I',  'H',  'D',  'R', 0,
                 0,    1,   0,   0,   0,    1,    0,    8,    6, 0, 0, 0,    0x5c, 0x72, 0xa8, 0x66};
    png.resize(1000, 0);
    const std::string pngPath = save("picture.png", png);
    cases.push_back({"random bytes", tool({pngPath}), 2, "",
                     "imgpry: disk 1: the image ends at byte 1000, " +
                         std::to_string(std::stoll(le32At(png, 0x1c)) - 1000) +
                         " bytes before the end of this disk\n"
                         "imgpry: disk 1: cannot read the directory: trk=01 sec=01 is missing\n"});

    // Two disks, the second cut in its file's second sector.
    const Bytes first = oneFile("A").build();
    const Bytes second = oneFile("B").build();
    Bytes cut = fixture::container({first, second});
    const size_t wholeSize = cut.size();
    cut.resize(first.size() + fixture::trackOffset(second, 2) + 1040 + 16 + 100);
    const std::string cutPath = save("cut.d88", cut);
    cases.push_back(
        {"a truncated container", tool({cutPath}), 2,
         "A                2048  trk=02 sec=01 ... cutted.\nB                2048  trk=02 sec=01 ... cutted.\n",
         "imgpry: disk 2: the image ends at byte " + std::to_string(cut.size()) + ", " +
             std::to_string(wholeSize - cut.size()) +
             " bytes before the end of this disk\n"
             "imgpry: disk 2: partly read B: 1124 of 2048 bytes, trk=02 sec=02 holds only 100 bytes; the "
             "rest is zeros\n"});

    FileSystemDisk removed = oneFile();
    removed.disk().tracks.at(2).erase(removed.disk().tracks.at(2).begin() + 1);
    cases.push_back({"a removed record", tool({save("removed.d88", removed.build())}), 2,
                     "F                2048  trk=02 sec=01 ... cutted.\n",
                     "imgpry: disk 1: partly read F: 1024 of 2048 bytes, trk=02 sec=02 is missing; the rest is "
                     "zeros\n"});

    FileSystemDisk marked = oneFile();
    marked.disk().tracks.at(2).at(1).status = 0xB0;
    cases.push_back({"a marked sector", tool({save("marked.d88", marked.build())}), 2,
                     "F                2048  trk=02 sec=01 ... cutted.\n",
                     "imgpry: disk 1: F: the image marks 1 of its sectors bad, the first trk=02 sec=02: data CRC "
                     "error\n"});

    FileSystemDisk blank(4);  // a directory that ends at once
    const std::string many = save("many.d88", fixture::container(std::vector<Bytes>(65, blank.build())));
    cases.push_back(
        {"65 disks", tool({many}), 2, "", "imgpry: more than 64 disks in " + many + "; only the first 64 are read\n"});

    const std::string twice = save("twice.d88", fixture::container({oneFile().build(), oneFile().build()}));
    cases.push_back(
        {"a repeated file", tool({twice}), 2, "", "imgpry: disk 2: F replaces the file written from disk 1\n"});

#if !defined(_WIN32)
    // Nothing can be written: as an unprivileged user, since root may
    // write anywhere.
    if (testutil::nativePosix()) {
        const std::string ro = save("ro.d88", oneFile().build());
        std::string asUser;
        if (geteuid() == 0)
            asUser = std::system("setpriv --help >/dev/null 2>&1") == 0
                         ? "setpriv --reuid=65534 --regid=65534 --clear-groups "
                         : "-";
        if (asUser != "-") {
            cases.push_back({"a read-only directory", asUser + tool({ro}), 2, "F                2048  trk=02 sec=01\n",
                             "imgpry: disk 1: cannot write F: Permission denied\n", true});
        }
    }
#endif

    // A disk whose size carries the next one past the offsets the reader
    // keeps (signed 32-bit): a sparse file of 2 GiB. Disk 1 ends just
    // below the bound, disk 2 starts below it and ends beyond it, and the
    // header of disk 3 stands there.
    if (testutil::nativePosix()) {
        constexpr int64_t kSecond = 0x7FFFFF00;
        Bytes head = oneFile().build();
        head[0x1c] = 0x00;
        head[0x1d] = 0xFF;
        head[0x1e] = 0xFF;
        head[0x1f] = 0x7F;
        const std::string distant = save("distant.d88", head);
        const Bytes middle = FileSystemDisk(4).build();
        const Bytes third = oneFile("G").build();
        {
            std::fstream f(distant, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(kSecond);
            f.write(reinterpret_cast<const char*>(middle.data()), static_cast<std::streamsize>(middle.size()));
            f.write(reinterpret_cast<const char*>(third.data()), static_cast<std::streamsize>(third.size()));
            ASSERT_TRUE(f.good());
        }
        cases.push_back({"a disk past the 2 GiB bound", tool({distant}), 2,
                         "F                2048  trk=02 sec=01 ... cutted.\n",
                         "imgpry: disk 3: starts beyond byte 2147483647; it and the disks after it are not read\n"});
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        testutil::TempDir work;
        if (c.readOnly)
            std::filesystem::permissions(work.path(), std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::remove);
        const ToolRun r = testutil::runCommandIn(work.path(), c.command);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, text(c.err));
        if (!c.out.empty() || c.status == 1) {
            EXPECT_EQ(r.out, text(c.out));
        }
    }
}

// A pipe whose read fails: the failure is said once, where it happened,
// and every sector past it is a read error, not a short sector, nor a disk
// the image cuts short.
TEST_F(Status, APipeWhoseReadFailsNamesEverySectorPastItAsAReadError) {
    if (!haveStrace()) GTEST_SKIP() << "needs strace and the native tool";
    FileSystemDisk d(10);
    d.addFile("PART", "", 2, 1, pattern(4 * 1024, 1));  // sectors 1 and 2 come through
    d.addFile("LATE", "", 4, 1, pattern(1024, 2));
    const Bytes image = d.build();
    const size_t through = fixture::trackOffset(image, 2) + 2 * (16 + 1024);
    const std::string path = save("image.d88", image);
    // One write of the first bytes, which the tool's first read takes
    // whole; its next read fails.
    const std::string feed = "dd if=" + quoted(path) + " bs=" + std::to_string(through) +
                             " count=1 2>/dev/null | ASAN_OPTIONS=detect_leaks=0 ";
    testutil::TempDir logs;
    const std::string log = logs.file("log");
    auto traced = [&](const std::string& inject) {
        testutil::TempDir work;
        return testutil::runCommandIn(work.path(), feed + "strace -qq -o " + quoted(log) + " -e trace=openat,read " +
                                                       inject + " " + testutil::toolCommand({"/dev/stdin"}));
    };
    // Which read is the tool's first of the image, and what it got.
    auto firstImageRead = [&](int& index, long long& got) {
        std::ifstream in(log);
        std::string line;
        std::string fd = "-";
        int n = 0;
        while (std::getline(in, line)) {
            if (line.rfind("openat(", 0) == 0 && line.find("\"/dev/stdin\"") != std::string::npos) {
                fd = line.substr(line.rfind("= ") + 2);
            } else if (line.rfind("read(", 0) == 0) {
                ++n;
                if (line.rfind("read(" + fd + ",", 0) == 0) {
                    index = n;
                    got = std::stoll(line.substr(line.rfind("= ") + 2));
                    return;
                }
            }
        }
    };
    (void)traced("");
    int index = 0;
    long long got = 0;
    firstImageRead(index, got);
    ASSERT_GT(index, 0);
    if (got != static_cast<long long>(through)) GTEST_SKIP() << "the pipe gave " << got << " bytes at once";
    const ToolRun r = traced("-e inject=read:error=EIO:when=" + std::to_string(index + 1));
    firstImageRead(index, got);
    if (got != static_cast<long long>(through)) GTEST_SKIP() << "the pipe gave " << got << " bytes at once";
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out,
              "PART             4096  trk=02 sec=01 ... cutted.\n"
              "LATE             1024  trk=04 sec=01\n");
    EXPECT_EQ(r.err, "imgpry: cannot read /dev/stdin at byte " + std::to_string(through) +
                         ": Input/output error\n"
                         "imgpry: disk 1: partly read PART: 2048 of 4096 bytes, trk=02 sec=03 could not be read: "
                         "Input/output error (2 sectors short in all); the rest is zeros\n"
                         "imgpry: disk 1: cannot read LATE: trk=04 sec=01 could not be read: Input/output error\n");
}

// In the C locale names are the disk's bytes; where the character set is
// UTF-8 a Shift_JIS name is decoded for the file, the listing (padded by
// columns) and every message, and a name that is not Shift_JIS as a whole
// keeps its bytes.
TEST_F(Status, NamesAreTheDisksBytesInTheCLocaleAndUtf8OnAUtf8System) {
    if (!testutil::nativePosix()) GTEST_SKIP() << "locales through a POSIX shell";
    const bool haveUtf8 = std::system("locale -a 2>/dev/null | grep -qix 'C.utf-\\?8'") == 0;
    const std::string kana = "\xB1\xB2\xB3";              // half-width katakana A I U: one column each
    const std::string game = "\x83\x51\x81\x5B\x83\x80";  // full-width ge-e-mu: two columns each
    const std::string broken = "\x81\x39Z";               // a lead byte with no trail: not Shift_JIS
    FileSystemDisk d(10);
    d.addFile(kana, "BIN", 2, 1, pattern(1024, 1));
    d.addFile(game, "", 2, 2, pattern(1024, 2));
    d.addFile(broken, "", 2, 3, pattern(1024, 3));
    d.setEntry(3, dirEntry(0x00, game, "X", 9, 5, 2));  // partly read: a message names it
    const std::string path = save("jp.d88", d.build());

    struct Locale {
        const char* name;
        std::string kana, game;  // the two names as written and listed
    };
    std::vector<Locale> locales = {{"C", kana, game}};
    if (haveUtf8) {
        locales.push_back({"C.UTF-8", "\xEF\xBD\xB1\xEF\xBD\xB2\xEF\xBD\xB3", "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0"});
    }
    for (const Locale& l : locales) {
        SCOPED_TRACE(l.name);
        testutil::TempDir work;
        const ToolRun r =
            testutil::runCommandIn(work.path(), std::string("LC_ALL=") + l.name + " " + testutil::toolCommand({path}));
        EXPECT_EQ(r.status, 2);
        // Names pad to 12 columns, in either form: 7, 6, 3 and 8 of them.
        const std::string sp(20, ' ');
        EXPECT_EQ(r.out, l.kana + ".BIN" + sp.substr(0, 10) + "1024  trk=02 sec=01 ... cutted.\n" + l.game +
                             sp.substr(0, 11) + "1024  trk=02 sec=02 ... cutted.\n" + broken + sp.substr(0, 14) +
                             "1024  trk=02 sec=03 ... cutted.\n" + l.game + ".X" + sp.substr(0, 9) +
                             "2048  trk=09 sec=05 ... cutted.\n");
        EXPECT_EQ(r.err, "imgpry: disk 1: partly read " + l.game +
                             ".X: 1024 of 2048 bytes, trk=0a sec=01 is missing; the rest is zeros\n");
        EXPECT_EQ(r.files.size(), 4U);
        EXPECT_EQ(r.files.count(l.kana + ".BIN"), 1U);
        EXPECT_EQ(r.files.count(l.game), 1U);
        EXPECT_EQ(r.files.count(broken), 1U);
        EXPECT_EQ(r.files.count(l.game + ".X"), 1U);
    }
    if (!haveUtf8) GTEST_SKIP() << "no C.UTF-8 locale here";
}

}  // namespace
