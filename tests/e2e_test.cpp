// Runs the real imgpry binary on built images, each run in a fresh working
// directory, and checks its exit status, both output streams byte for byte
// and the files it wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "image_builder.h"
#include "run_tool.h"
#include "test_util.h"

using fixture::Bytes;
using fixture::dirEntry;
using fixture::FileSystemDisk;
using fixture::pattern;
using testutil::text;
using testutil::ToolRun;

namespace {

const std::string kOpenFailed =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1"
    "\n";

// The first keep bytes of b, then zeros up to b's size.
Bytes zeroedAfter(Bytes b, size_t keep) {
    std::fill(b.begin() + static_cast<std::ptrdiff_t>(keep), b.end(), 0);
    return b;
}

// b with the bytes [from, to) zeroed.
Bytes zeroedRange(Bytes b, size_t from, size_t to) {
    std::fill(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to), 0);
    return b;
}

class EndToEnd : public ::testing::Test {
protected:
    ToolRun run(const Bytes& image) {
        const std::string path = images.file("image.d88");
        EXPECT_TRUE(fixture::writeFile(path, image));
        return runArgs({path});
    }
    ToolRun runArgs(const std::vector<std::string>& args) { return testutil::runImgpryIn(work.path(), args); }

    testutil::TempDir images;
    testutil::TempDir work;
};

TEST_F(EndToEnd, NoImagePrintsUsage) {
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"-l", "-k"}, {"-l", "--"}}) {
        const ToolRun r = runArgs(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, text(""));
        EXPECT_EQ(r.err, text("Usage: imgpry image\n"));
        EXPECT_TRUE(r.files.empty());
    }
}

// --help and --version answer on standard output, spelt exactly so; any
// other one argument is an image path.
TEST_F(EndToEnd, HelpAndVersionAnswerAndNothingElseIsAnOption) {
    const ToolRun help = runArgs({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(text("Usage: imgpry image\n"), 0), 0U) << help.out;
    EXPECT_NE(help.out.find("man imgpry"), std::string::npos);
    EXPECT_NE(help.out.find("Exit status: 0 when nothing went to standard error"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");
    const ToolRun version = runArgs({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("imgpry " IMGPRY_VERSION, 0), 0U) << version.out;
    EXPECT_NE(version.out.find("MIT"), std::string::npos);
    EXPECT_EQ(version.err, "");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"./--help"}, {"-h"}, {"--HELP"}}) {
        const ToolRun r = runArgs(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, text(kOpenFailed + "imgpry: cannot open " + args[0] + ": No such file or directory\n"));
        EXPECT_TRUE(r.files.empty());
    }
}

TEST_F(EndToEnd, ImagesWithoutOurFileSystemListNothingAndSayWhy) {
    // A formatted 2D disk of sixteen 256-byte sectors per track, all zeros:
    // no file system imgpry reads recognises it.
    fixture::Disk blank;
    for (int t = 0; t < 80; ++t) {
        for (int r = 1; r <= 16; ++r)
            blank.tracks[t].push_back(
                fixture::sector(static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2), static_cast<uint8_t>(r), 1));
    }
    const Bytes none = blank.build();
    const std::string path = images.file("image.d88");
    const std::string noDir = ": cannot read the directory: trk=01 sec=01 is missing\n";
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {Bytes{}, "imgpry: no disk found: " + path + " holds 0 bytes, less than a 688-byte disk header\n"},
        {Bytes(687, 0xFF), "imgpry: no disk found: " + path + " holds 687 bytes, less than a 688-byte disk header\n"},
        {none, "imgpry: disk 1" + noDir},
        {fixture::container({none, none}), "imgpry: disk 1" + noDir + "imgpry: disk 2" + noDir},
    };
    for (const auto& [image, err] : cases) {
        const ToolRun r = run(image);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, text(""));
        EXPECT_EQ(r.err, text(err));
        EXPECT_TRUE(r.files.empty());
    }
}

TEST_F(EndToEnd, TheRealCpmDiskListsAndWritesItsFiles) {
    const Bytes cpm =
        fixture::readFile(testutil::hostPath(IMGPRY_TEST_DATA) + "/real-d88/CPM_Format_2D_turboCPM_X1turbo.d88");
    const ToolRun r = run(cpm);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, text("HOGE.TXT          128  trk=04 sec=09 ... cutted.\n"
                          "WM.COM          15360  trk=05 sec=01 ... cutted.\n"));
    EXPECT_EQ(r.err, text(""));
    ASSERT_EQ(r.files.size(), 2U);
    EXPECT_EQ(r.files.at("HOGE.TXT").size(), 128U);
    EXPECT_EQ(r.files.at("WM.COM").size(), 15360U);
}

TEST_F(EndToEnd, TheRealHuBasicDiskListsAndWritesItsFiles) {
    const Bytes hu = fixture::readFile(testutil::hostPath(IMGPRY_TEST_DATA) + "/real-d88/HuBASIC_Format_2D.d88");
    // The data of sectors R = 1..count of linear track t, as the container
    // stores them (records of a 16-byte header and 256 bytes of data).
    auto sectors = [&hu](int t, int count) {
        Bytes out;
        for (int r = 1; r <= count; ++r) {
            for (size_t at = fixture::trackOffset(hu, t), k = 0; k < 16; ++k, at += 16 + 256) {
                if (hu.at(at + 2) != r) continue;
                out.insert(out.end(), hu.begin() + static_cast<std::ptrdiff_t>(at + 16),
                           hu.begin() + static_cast<std::ptrdiff_t>(at + 16 + 256));
                break;
            }
        }
        return out;
    };
    const ToolRun r = run(hu);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, text("StopTheClock.Bas     1346  trk=02 sec=01 ... cutted.\n"
                          "StopTheClock.Asc     1536  trk=03 sec=01 ... cutted.\n"));
    EXPECT_EQ(r.err, text(""));
    ASSERT_EQ(r.files.size(), 2U);
    // The BASIC file as its size says, from cluster 2; the ASCII file keeps
    // no size and is the six sectors its chain uses from cluster 3.
    Bytes bas = sectors(2, 6);
    bas.resize(1346);
    EXPECT_EQ(r.files.at("StopTheClock.Bas"), bas);
    EXPECT_EQ(r.files.at("StopTheClock.Asc"), sectors(3, 6));
    const std::string asc = testutil::asText(r.files.at("StopTheClock.Asc"));
    EXPECT_EQ(asc.rfind("100 '", 0), 0U);
}

TEST_F(EndToEnd, MoreThan64DisksAreReportedFirst) {
    FileSystemDisk d(4, "D");
    d.addFile("F", "", 2, 1, pattern(1024, 1));
    const Bytes one = d.build();
    std::string listing;
    std::string replaces;
    for (int i = 0; i < 64; ++i) listing += "F                1024  trk=02 sec=01 ... cutted.\n";
    // Every disk writes F again, over the file the disk before it wrote.
    for (int i = 2; i <= 64; ++i) {
        replaces += "imgpry: disk " + std::to_string(i) + ": F replaces the file written from disk " +
                    std::to_string(i - 1) + "\n";
    }
    for (size_t disks : {64U, 65U}) {
        SCOPED_TRACE(disks);
        const ToolRun r = run(fixture::container(std::vector<Bytes>(disks, one)));
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, text(listing));
        EXPECT_EQ(r.err, text((disks == 64 ? ""
                                           : "imgpry: more than 64 disks in " + images.file("image.d88") +
                                                 "; only the first 64 are read\n") +
                              replaces));
    }
}

TEST_F(EndToEnd, ListsAndExtractsEveryDiskInOrder) {
    const Bytes game = pattern(5 * 1024, 1);
    const Bytes across = pattern(12 * 1024, 2);
    const Bytes eight = pattern(255 * 1024, 3);
    FileSystemDisk one(164, "ONE");
    one.addFile("GAME", "BIN", 4, 1, game)
        .addFile("ACROSS", "DAT", 7, 4, across)  // track 7: R 4-5, then all of tracks 8 and 9
        .setEntry(2, dirEntry(0xE5, "GONE", "BIN", 4, 1, 1))
        .addFile("EMPTY", "", 20, 1, {})
        .addFile("", "DAT", 21, 1, pattern(1024, 4))
        .addFile("ABCDEFGH", "IJK", 30, 1, eight)
        .addFile("SAME", "TXT", 22, 1, pattern(2048, 5));
    FileSystemDisk blank(4, "BLANK");  // directory ends at once
    FileSystemDisk two(40, "TWO");
    two.addFile("SAME", "TXT", 2, 5, pattern(1024, 6));
    two.setEntry(1, dirEntry(0x00, "HIGH", "", 0xFE, 0xFD, 1));  // a track that is not there
    // No end mark: all 128 entries are examined.
    for (int j = 2; j < 128; ++j) two.setEntry(j, dirEntry(0x01, "UNUSED", "", 0, 0, 1));
    two.setEntry(127, dirEntry(0x00, "LAST", "", 3, 1, 1));

    const ToolRun r = run(fixture::container({one.build(), blank.build(), two.build()}));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, text("imgpry: disk 3: SAME.TXT replaces the file written from disk 1\n"
                          "imgpry: disk 3: cannot read HIGH: trk=fe sec=fd is missing\n"));
    EXPECT_EQ(r.out, text("GAME.BIN         5120  trk=04 sec=01 ... cutted.\n"
                          "ACROSS.DAT      12288  trk=07 sec=04 ... cutted.\n"
                          "EMPTY               0  trk=14 sec=01\n"
                          ".DAT             1024  trk=15 sec=01 ... cutted.\n"
                          "ABCDEFGH.IJK   261120  trk=1e sec=01 ... cutted.\n"
                          "SAME.TXT         2048  trk=16 sec=01 ... cutted.\n"
                          "SAME.TXT         1024  trk=02 sec=05 ... cutted.\n"
                          "HIGH             1024  trk=fe sec=fd\n"
                          "LAST             1024  trk=03 sec=01 ... cutted.\n"));
    ASSERT_EQ(r.files.size(), 6U);
    EXPECT_EQ(r.files.at("GAME.BIN"), game);
    EXPECT_EQ(r.files.at("ACROSS.DAT"), across);
    EXPECT_EQ(r.files.at(".DAT"), pattern(1024, 4));
    EXPECT_EQ(r.files.at("ABCDEFGH.IJK"), eight);
    EXPECT_EQ(r.files.at("SAME.TXT"), pattern(1024, 6));  // the later disk's file replaces the earlier
    EXPECT_EQ(r.files.at("LAST"), Bytes(1024, 0));
}

TEST_F(EndToEnd, UnreadableDirectoryListsNothingForItsDiskAndIsReported) {
    FileSystemDisk withFiles(10, "FILES");
    withFiles.addFile("FIRST", "BIN", 2, 1, pattern(1024, 1));
    FileSystemDisk noTrack1(10, "NODIR");
    noTrack1.disk().tracks.erase(1);
    FileSystemDisk halfDir(10, "HALF");
    halfDir.addFile("EARLY", "BIN", 2, 1, pattern(1024, 2));
    halfDir.setEntry(64, dirEntry(0x00, "LATE", "BIN", 2, 2, 1));  // in the sector that cannot be read
    halfDir.disk().tracks.at(1).at(1).data.resize(1000);
    FileSystemDisk fresh(10, "FIRSTDISK");
    fresh.disk().tracks.erase(1);

    // Neither leftovers of the previous disk nor the zeroed buffer of a
    // fresh run show up as entries.
    const ToolRun r = run(fixture::container({fresh.build(), withFiles.build(), noTrack1.build(), halfDir.build()}));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, text("imgpry: disk 1: cannot read the directory: trk=01 sec=01 is missing\n"
                          "imgpry: disk 3: cannot read the directory: trk=01 sec=01 is missing\n"
                          "imgpry: disk 4: partly read the directory: 1024 of 2048 bytes, trk=01 sec=02 holds only "
                          "1000 bytes\n"));
    EXPECT_EQ(r.out, text("FIRST.BIN        1024  trk=02 sec=01 ... cutted.\n"
                          "EARLY.BIN        1024  trk=02 sec=01 ... cutted.\n"));
    EXPECT_EQ(r.files.size(), 2U);
}

// Every sector of a run is read on its own: a missing one is zeros, a short
// one its bytes and zeros, and the sectors after either are still read.
TEST_F(EndToEnd, PartlyReadableFileKeepsEverySectorThatCanBeRead) {
    FileSystemDisk d(10);
    d.addFile("BIG", "BIN", 2, 1, pattern(4 * 1024, 1));    // fills the buffer with its bytes first
    d.addFile("PART", "BIN", 4, 1, pattern(4 * 1024, 2));   // its third sector is missing
    d.addFile("SHORT", "BIN", 6, 1, pattern(3 * 1024, 3));  // its second sector is short
    d.disk().tracks.at(4).erase(d.disk().tracks.at(4).begin() + 2);
    d.disk().tracks.at(6).at(1).data.resize(100);
    const ToolRun r = run(d.build());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, text("imgpry: disk 1: partly read PART.BIN: 3072 of 4096 bytes, trk=04 sec=03 is missing; the "
                          "rest is zeros\n"
                          "imgpry: disk 1: partly read SHORT.BIN: 2148 of 3072 bytes, trk=06 sec=02 holds only 100 "
                          "bytes; the rest is zeros\n"));
    EXPECT_EQ(r.out, text("BIG.BIN          4096  trk=02 sec=01 ... cutted.\n"
                          "PART.BIN         4096  trk=04 sec=01 ... cutted.\n"
                          "SHORT.BIN        3072  trk=06 sec=01 ... cutted.\n"));
    EXPECT_EQ(r.files.at("PART.BIN"), zeroedRange(pattern(4096, 2), 2048, 3072));
    EXPECT_EQ(r.files.at("SHORT.BIN"), zeroedRange(pattern(3072, 3), 1024 + 100, 2048));
}

TEST_F(EndToEnd, ATruncatedImageIsReportedWhereItEnds) {
    FileSystemDisk d(10);
    d.addFile("WHOLE", "BIN", 2, 1, pattern(1024, 1));
    d.addFile("CUT", "BIN", 8, 4, pattern(4 * 1024, 2));  // R 4-5 of track 8, R 1-2 of track 9
    Bytes image = d.build();
    const size_t whole = image.size();
    // Keep the header and 300 bytes of the data of track 9's first sector.
    image.resize(fixture::trackOffset(image, 9) + 16 + 300);
    const ToolRun r = run(image);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, text("WHOLE.BIN        1024  trk=02 sec=01 ... cutted.\n"
                          "CUT.BIN          4096  trk=08 sec=04 ... cutted.\n"));
    EXPECT_EQ(r.err, text("imgpry: disk 1: the image ends at byte " + std::to_string(image.size()) + ", " +
                          std::to_string(whole - image.size()) +
                          " bytes before the end of this disk\n"
                          "imgpry: disk 1: partly read CUT.BIN: 2348 of 4096 bytes, trk=09 sec=01 holds only 300 "
                          "bytes (2 sectors short in all); the rest is zeros\n"));
    EXPECT_EQ(r.files.at("CUT.BIN"), zeroedAfter(pattern(4096, 2), 2048 + 300));
}

TEST_F(EndToEnd, NothingReadableMeansNoFileAndNoMark) {
    FileSystemDisk d(10);
    d.addFile("NOTRACK", "", 9, 1, pattern(1024, 1));
    d.disk().tracks.erase(9);
    d.setEntry(1, dirEntry(0x00, "NOSECTOR", "", 2, 6, 1));
    d.setEntry(2, dirEntry(0x00, "SHORT1", "", 3, 1, 1));
    d.disk().tracks.at(3).at(0).data.resize(1023);        // one byte short of the first chunk
    d.setEntry(3, dirEntry(0x00, "EMPTY", "", 9, 1, 0));  // nothing to read: no line
    const ToolRun r = run(d.build());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, text("imgpry: disk 1: cannot read NOTRACK: trk=09 sec=01 is missing\n"
                          "imgpry: disk 1: cannot read NOSECTOR: trk=02 sec=06 is missing\n"
                          "imgpry: disk 1: cannot read SHORT1: trk=03 sec=01 holds only 1023 bytes\n"));
    EXPECT_EQ(r.out, text("NOTRACK          1024  trk=09 sec=01\n"
                          "NOSECTOR         1024  trk=02 sec=06\n"
                          "SHORT1           1024  trk=03 sec=01\n"
                          "EMPTY               0  trk=09 sec=01\n"));
    EXPECT_TRUE(r.files.empty());
}

TEST_F(EndToEnd, FilesThatCannotBeWrittenAreReportedAndSkipped) {
    std::filesystem::create_directory(work.path() / "ADIR");
    FileSystemDisk d(10);
    d.setEntry(0, dirEntry(0x00, "ADIR", "", 2, 1, 1));
    d.setEntry(1, dirEntry(0x00, "", "", 2, 1, 1));
    d.setEntry(2, dirEntry(0x00, "..", "", 2, 1, 1));
    d.setEntry(3, dirEntry(0x00, ".", "", 2, 1, 1));
    d.setEntry(4, dirEntry(0x00, "A/B", "", 2, 1, 1));
    d.setEntry(5, dirEntry(0x00, "..", "/", 2, 1, 1));
    d.setEntry(6, dirEntry(0x00, "OK", "", 2, 1, 1));
    d.setEntry(7, dirEntry(0x00, "X/Y", "", 9, 5, 2));  // also partly read: the write failure alone is said
    const ToolRun r = run(d.build());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, text("ADIR             1024  trk=02 sec=01\n"
                          "                 1024  trk=02 sec=01\n"
                          "..               1024  trk=02 sec=01\n"
                          ".                1024  trk=02 sec=01\n"
                          "A/B              1024  trk=02 sec=01\n"
                          ".../             1024  trk=02 sec=01\n"
                          "OK               1024  trk=02 sec=01 ... cutted.\n"
                          "X/Y              2048  trk=09 sec=05\n"));
    EXPECT_EQ(r.err, text("imgpry: disk 1: cannot write ADIR: Is a directory\n"
                          "imgpry: disk 1: cannot write : No such file or directory\n"
                          "imgpry: disk 1: cannot write ..: unsafe file name\n"
                          "imgpry: disk 1: cannot write .: unsafe file name\n"
                          "imgpry: disk 1: cannot write A/B: unsafe file name\n"
                          "imgpry: disk 1: cannot write .../: unsafe file name\n"
                          "imgpry: disk 1: cannot write X/Y: unsafe file name\n"));
    EXPECT_EQ(r.files.size(), 1U);
    EXPECT_TRUE(std::filesystem::is_directory(work.path() / "ADIR"));
    EXPECT_TRUE(std::filesystem::is_empty(work.path() / "ADIR"));
}

TEST_F(EndToEnd, WindowsRefusesItsOwnUnsafeNames) {
    // Names that lead out of the directory or to a device on Windows; on
    // other systems they are ordinary names and are written.
    const std::vector<std::pair<std::string, std::string>> names = {
        {"A\\B", ""}, {"C:X", ""},  {"CON", ""},  {"con", "txt"},  {"NUL", "BIN"}, {"nul", "bin"},
        {"PRN", ""},  {"AUX", "X"}, {"COM1", ""}, {"com9", "dat"}, {"LPT1", ""},   {"Lpt9", "TXT"},
    };
    FileSystemDisk d(10);
    for (size_t j = 0; j < names.size(); ++j) {
        d.setEntry(static_cast<int>(j), dirEntry(0x00, names[j].first, names[j].second, 2, 1, 1));
    }
    d.setEntry(static_cast<int>(names.size()), dirEntry(0x00, "COM10", "", 2, 1, 1));  // no device: written
    const ToolRun r = run(d.build());
    EXPECT_EQ(r.status, testutil::kWindows ? 2 : 0);  // each refused name is a line on standard error
    std::string out;
    std::string err;
    for (const auto& [base, ext] : names) {
        const std::string name = ext.empty() ? base : base + "." + ext;
        char line[64];
        (void)std::snprintf(line, sizeof line, "%-12s     1024  trk=02 sec=01", name.c_str());
        if (testutil::kWindows) {
            out += std::string(line) + "\n";
            err += "imgpry: disk 1: cannot write " + name + ": unsafe file name\n";
        } else {
            out += std::string(line) + " ... cutted.\n";
        }
    }
    out += "COM10            1024  trk=02 sec=01 ... cutted.\n";
    EXPECT_EQ(r.out, text(out));
    EXPECT_EQ(r.err, text(err));
    EXPECT_EQ(r.files.size(), testutil::kWindows ? 1U : names.size() + 1);
}

TEST_F(EndToEnd, EightBitNamesAreWrittenAsTheirBytes) {
    if (testutil::kWindows) {
        GTEST_SKIP() << "Windows turns 8-bit names into UTF-16 through the ANSI code page, which under wine "
                        "is not Shift_JIS, so the bytes do not come back as they went in";
    }
    const std::string name = "\x83\x51\x81\x5B\xB1.\x82\xA0";  // Shift_JIS text
    FileSystemDisk d(10);
    d.addFile("\x83\x51\x81\x5B\xB1", "\x82\xA0", 2, 1, pattern(1024, 7));
    const ToolRun r = run(d.build());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, text(name + "         1024  trk=02 sec=01 ... cutted.\n"));
    ASSERT_EQ(r.files.count(name), 1U);
    EXPECT_EQ(r.files.at(name), pattern(1024, 7));
    if (!testutil::nativePosix() || std::system("locale -a 2>/dev/null | grep -qix 'c.utf-\\?8'") != 0) return;
    // Where the locale is UTF-8 the same name is decoded, for the file and
    // the listing, and padded by the columns it takes (2 + 2 + 1 + 1 + 2).
    const std::string utf8 = "\xE3\x82\xB2\xE3\x83\xBC\xEF\xBD\xB1.\xE3\x81\x82";  // ゲーｱ.あ
    const std::string image = images.file("names.d88");
    ASSERT_TRUE(fixture::writeFile(image, d.build()));
    const ToolRun u = testutil::runCommandIn(work.path(), "LC_ALL=C.UTF-8 " + testutil::toolCommand({image}));
    EXPECT_EQ(u.status, 0);
    EXPECT_EQ(u.out, utf8 + "         1024  trk=02 sec=01 ... cutted.\n");
    ASSERT_EQ(u.files.count(utf8), 1U);
    EXPECT_EQ(u.files.at(utf8), pattern(1024, 7));
}

TEST_F(EndToEnd, AFullDiskIsReportedAndTheRunGoesOn) {
    // Under the sanitizers their own probing writes meet the injected
    // failure first.
    if (!testutil::nativePosix() || std::system("strace -V >/dev/null 2>&1") != 0 ||
        std::string(IMGPRY_SANITIZED) == "ON") {
        GTEST_SKIP() << "needs strace and the plain native tool";
    }
    FileSystemDisk d(10);
    d.addFile("FULL", "", 2, 1, pattern(1024, 1)).addFile("AFTER", "", 3, 1, pattern(1024, 2));
    const std::string path = images.file("image.d88");
    ASSERT_TRUE(fixture::writeFile(path, d.build()));
    // The first write is FULL's data: the disk is full then.
    const ToolRun r = testutil::runCommandIn(
        work.path(),
        "ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e trace=write -e inject=write:error=ENOSPC:when=1 " +
            testutil::toolCommand({path}));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out,
              "FULL             1024  trk=02 sec=01\n"
              "AFTER            1024  trk=03 sec=01 ... cutted.\n");
    EXPECT_EQ(r.err, "imgpry: disk 1: cannot write FULL: No space left on device\n");
    EXPECT_EQ(r.files.size(), 1U);  // the cut FULL is not left behind
    EXPECT_EQ(r.files.at("AFTER"), pattern(1024, 2));
}

// Images often carry Japanese names; on Windows they must open whatever the
// ANSI code page can hold.
TEST_F(EndToEnd, AnImageUnderAJapaneseNameReadsAsUnderAnAsciiName) {
    FileSystemDisk d(10, "JP");
    d.addFile("GAME", "BIN", 2, 1, pattern(3 * 1024, 9));
    const Bytes image = d.build();
    const std::filesystem::path ascii = images.path() / "game.d88";
    const std::filesystem::path japanese = images.path() / std::filesystem::path(u8"\u30B2\u30FC\u30E0.d88");
    for (const std::filesystem::path& p : {ascii, japanese}) {
        std::ofstream f(p, std::ios::binary);
        f.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        ASSERT_TRUE(f.good());
    }
    const std::u8string name = japanese.u8string();
    const ToolRun a = runArgs({ascii.string()});
    testutil::TempDir other;
    const ToolRun j = testutil::runImgpryIn(other.path(), {std::string(name.begin(), name.end())});
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.out, text("GAME.BIN         3072  trk=02 sec=01 ... cutted.\n"));
    EXPECT_EQ(j.status, 0);
    EXPECT_EQ(j.out, a.out);
    EXPECT_EQ(j.err, a.err);
    EXPECT_EQ(j.files, a.files);
}

TEST_F(EndToEnd, SampleImageListsItsFiles) {
    const ToolRun r = runArgs({testutil::hostPath(IMGPRY_SAMPLE)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, text(""));
    EXPECT_EQ(r.out, text("README.TXT       1024  trk=02 sec=01 ... cutted.\n"
                          "GAME.BIN         5120  trk=04 sec=01 ... cutted.\n"
                          "LONGRUN.DAT      9216  trk=06 sec=04 ... cutted.\n"
                          "EMPTY               0  trk=0a sec=01\n"
                          "NOTES.TXT        1024  trk=02 sec=01 ... cutted.\n"
                          "PICTURE.PIC      3072  trk=03 sec=02 ... cutted.\n"));
    EXPECT_EQ(r.files.at("LONGRUN.DAT"), pattern(9 * 1024, 2));
}

#if !defined(_WIN32)
// On a terminal, bytes of names that would drive it are shown as '?' in the
// listing; on a pipe the listing has every byte as it was. Messages show
// them as '?' everywhere. The files get their exact names either way.
TEST_F(EndToEnd, NamesCannotDriveATerminal) {
    FileSystemDisk d(10);
    d.addFile("E\x1b[2J", "", 2, 1, pattern(1024, 1));
    d.addFile("C\rR", "", 2, 2, pattern(1024, 2));
    d.addFile("B\aL\x7f", "", 2, 3, pattern(1024, 3));
    d.addFile("\x83\x51\x81\x5b", "\x83\x80", 2, 4, pattern(1024, 4));  // Shift_JIS passes
    d.setEntry(4, dirEntry(0x00, "P\x1bQ", "", 9, 5, 2));               // partly read: a message names it
    const Bytes image = d.build();
    const std::string path = images.file("image.d88");
    ASSERT_TRUE(fixture::writeFile(path, image));
    const std::string raw =
        "E\x1b[2J            1024  trk=02 sec=01 ... cutted.\n"
        "C\rR              1024  trk=02 sec=02 ... cutted.\n"
        "B\aL\x7f             1024  trk=02 sec=03 ... cutted.\n"
        "\x83\x51\x81\x5b.\x83\x80          1024  trk=02 sec=04 ... cutted.\n"
        "P\x1bQ              2048  trk=09 sec=05 ... cutted.\n";
    // Standard error shows names by the terminal rule on a pipe too.
    const std::string err =
        "imgpry: disk 1: partly read P?Q: 1024 of 2048 bytes, trk=0a sec=01 is missing; the rest is zeros\n";
    auto shown = [](std::string s) {
        for (char& c : s) {
            if (c != '\n' && (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)) c = '?';
        }
        return s;
    };
    struct Case {
        bool out, err;
    };
    for (const Case& c : {Case{true, true}, Case{true, false}, Case{false, true}}) {
        SCOPED_TRACE(testing::Message() << "terminal out " << c.out << " err " << c.err);
        testutil::TempDir dir;
        bool ok = false;
        const ToolRun r = testutil::runImgpryOnTerminal(dir.path(), {path}, c.out, c.err, ok);
        if (!ok) GTEST_SKIP() << "no pseudo-terminal here";
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, c.out ? shown(raw) : raw);
        EXPECT_EQ(r.err, err);
        ASSERT_EQ(r.files.size(), 5U);
        EXPECT_EQ(r.files.count("C\rR"), 1U);
        EXPECT_EQ(r.files.count("\x83\x51\x81\x5b.\x83\x80"), 1U);
    }
    const ToolRun piped = run(image);
    EXPECT_EQ(piped.out, raw);
    EXPECT_EQ(piped.err, err);
}

// On a terminal too the Shift_JIS message is followed by one in words.
TEST_F(EndToEnd, CannotOpenIsSaidInWordsOnATerminal) {
    const std::string missing = images.file("missing.d88");
    bool ok = false;
    const ToolRun r = testutil::runImgpryOnTerminal(work.path(), {missing}, false, true, ok);
    if (!ok) GTEST_SKIP() << "no pseudo-terminal here";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kOpenFailed + "imgpry: cannot open " + missing + ": No such file or directory\n");
}
#endif

}  // namespace
