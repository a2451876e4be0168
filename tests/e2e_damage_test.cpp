// The real imgpry on damaged images and unusual sources: every sector that
// can be read is recovered, marks the dumping drive left are reported, a
// pipe reads like the file, and read errors are told apart from damage.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "image_builder.h"
#include "run_tool.h"
#include "test_util.h"

using fixture::Bytes;
using fixture::dirEntry;
using fixture::FileSystemDisk;
using fixture::pattern;
using testutil::quoted;
using testutil::text;
using testutil::ToolRun;

namespace {

Bytes zeroedFrom(Bytes b, size_t from) {
    std::fill(b.begin() + static_cast<std::ptrdiff_t>(from), b.end(), 0);
    return b;
}

class Damage : public ::testing::Test {
protected:
    std::string save(const Bytes& image, const std::string& name = "image.d88") {
        const std::string path = images.file(name);
        EXPECT_TRUE(fixture::writeFile(path, image));
        return path;
    }
    ToolRun run(const Bytes& image) { return testutil::runImgpryIn(work.path(), {save(image)}); }

    testutil::TempDir images;
    testutil::TempDir work;
};

TEST_F(Damage, SectorsAfterAHoleAreStillReadAndRunsOffTheLastTrackAreZeros) {
    FileSystemDisk d(164);
    const Bytes several = pattern(10 * 1024, 1);  // tracks 4 and 5, two sectors missing, one short
    const Bytes edge = pattern(3 * 1024, 2);      // track 163 sector 5, then past the last track
    d.addFile("SEVERAL", "", 4, 1, several);
    d.addFile("EDGE", "", 163, 5, Bytes(edge.begin(), edge.begin() + 1024));
    d.setEntry(1, dirEntry(0x00, "EDGE", "", 163, 5, 3));
    auto& t4 = d.disk().tracks.at(4);
    t4.erase(t4.begin() + 1);  // sector 2
    d.disk().tracks.at(5).at(0).data.resize(10);
    d.disk().tracks.at(5).erase(d.disk().tracks.at(5).begin() + 4);  // sector 5
    const ToolRun r = run(d.build());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, text("SEVERAL         10240  trk=04 sec=01 ... cutted.\n"
                          "EDGE             3072  trk=a3 sec=05 ... cutted.\n"));
    EXPECT_EQ(r.err,
              text("imgpry: disk 1: partly read SEVERAL: 7178 of 10240 bytes, trk=04 sec=02 is missing (3 sectors "
                   "short in all); the rest is zeros\n"
                   "imgpry: disk 1: partly read EDGE: 1024 of 3072 bytes, trk=a4 sec=01 is missing (2 sectors "
                   "short in all); the rest is zeros\n"));
    Bytes want = several;
    std::fill(want.begin() + 1024, want.begin() + 2048, 0);
    std::fill(want.begin() + 5 * 1024 + 10, want.begin() + 6 * 1024, 0);
    std::fill(want.begin() + 9 * 1024, want.end(), 0);
    EXPECT_EQ(r.files.at("SEVERAL"), want);
    Bytes edgeWant(3 * 1024, 0);
    std::copy(edge.begin(), edge.begin() + 1024, edgeWant.begin());
    EXPECT_EQ(r.files.at("EDGE"), edgeWant);
}

TEST_F(Damage, MarksOfTheDumpingDriveAreReportedInWords) {
    struct Case {
        uint8_t status, deleted;
        std::string meaning;
    };
    const std::vector<Case> cases = {
        {0xA0, 0, "ID CRC error"},      {0xB0, 0, "data CRC error"}, {0xE0, 0, "no address mark"},
        {0xF0, 0, "no data mark"},      {0x10, 0, "deleted data"},   {0x00, 0x10, "deleted data"},
        {0xB0, 0x10, "data CRC error"}, {0x01, 0, "status 0x01"},
    };
    FileSystemDisk d(40);
    std::string out;
    std::string err;
    for (size_t i = 0; i < cases.size(); ++i) {
        const int track = 2 + static_cast<int>(i);
        const std::string name = "F" + std::to_string(i);
        d.addFile(name, "", track, 1, pattern(3 * 1024, static_cast<uint32_t>(i)));
        for (int r : {2, 3}) {  // two marked sectors, the first sector 2
            d.disk().tracks.at(track).at(static_cast<size_t>(r - 1)).status = cases[i].status;
            d.disk().tracks.at(track).at(static_cast<size_t>(r - 1)).deleted = cases[i].deleted;
        }
        char line[64];
        (void)std::snprintf(line, sizeof line, "%-12s     3072  trk=%02x sec=01 ... cutted.\n", name.c_str(), track);
        out += line;
        (void)std::snprintf(line, sizeof line, "trk=%02x sec=02: ", track);
        err += "imgpry: disk 1: " + name + ": the image marks 2 of its sectors bad, the first " + line +
               cases[i].meaning + "\n";
    }
    // Only the record a search finds counts: a marked duplicate after a
    // clean one does not, a marked one before a clean one does.
    d.addFile("DUPS", "", 30, 1, pattern(2 * 1024, 50));
    auto& t30 = d.disk().tracks.at(30);
    fixture::Sector laterOne = t30.at(0);
    laterOne.status = 0xB0;
    fixture::Sector earlierTwo = t30.at(1);
    earlierTwo.status = 0xA0;
    t30.push_back(laterOne);
    t30.insert(t30.begin(), earlierTwo);
    for (auto& s : t30) s.count = static_cast<uint16_t>(t30.size());
    out += "DUPS             2048  trk=1e sec=01 ... cutted.\n";
    err += "imgpry: disk 1: DUPS: the image marks 1 of its sectors bad, the first trk=1e sec=02: ID CRC error\n";
    // The directory's sectors count too.
    d.disk().tracks.at(1).at(1).status = 0xF0;

    const ToolRun r = run(d.build());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, text(out));
    EXPECT_EQ(r.err, text("imgpry: disk 1: the image marks 1 of the directory's sectors bad, the first trk=01 sec=02: "
                          "no data mark\n" +
                          err));
    EXPECT_EQ(r.files.at("DUPS"), pattern(2 * 1024, 50));  // marked or not, the bytes are written
}

TEST_F(Damage, EveryLineOnStandardErrorIsOneLineWhateverTheName) {
    if (testutil::kWindows) GTEST_SKIP() << "Windows file names cannot hold control bytes";
    FileSystemDisk d(10);
    d.setEntry(0, dirEntry(0x00, "A\nB", "\x1b[H", 9, 5, 2));  // partly read
    const std::string path = save(d.build(), "x\ny.d88");
    const ToolRun r = testutil::runImgpryIn(work.path(), {path});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, text("A\nB.\x1b[H          2048  trk=09 sec=05 ... cutted.\n"));  // the listing keeps the bytes
    EXPECT_EQ(r.err, text("imgpry: disk 1: partly read A?B.?[H: 1024 of 2048 bytes, trk=0a sec=01 is missing; the rest "
                          "is zeros\n"));
    EXPECT_EQ(r.files.count("A\nB.\x1b[H"), 1U);
    // The path is shown by the same rule.
    const ToolRun none = testutil::runImgpryIn(work.path(), {save(Bytes(10, 0), "e\rmpty.d88")});
    EXPECT_EQ(none.err, text("imgpry: no disk found: " + images.file("e?mpty.d88") +
                             " holds 10 bytes, less than a 688-byte disk header\n"));
}

// Sources that cannot seek are read whole first, so they list, report and
// extract exactly as the file does.
TEST_F(Damage, APipeReadsLikeTheFile) {
    if (!testutil::nativePosix()) GTEST_SKIP() << "pipes and FIFOs through a POSIX shell";
    FileSystemDisk damaged(20, "DAMAGED");
    damaged.addFile("PART", "BIN", 4, 1, pattern(8 * 1024, 1));
    damaged.disk().tracks.at(5).erase(damaged.disk().tracks.at(5).begin() + 1);
    damaged.disk().tracks.at(4).at(2).status = 0xB0;
    for (const Bytes& image : {fixture::readFile(testutil::hostPath(IMGPRY_SAMPLE)), damaged.build()}) {
        const std::string path = save(image);
        const ToolRun plain = testutil::runImgpryIn(work.path(), {path});
        ASSERT_FALSE(plain.files.empty());
        const std::string fifo = images.file("fifo");
        std::filesystem::remove(fifo);
        ASSERT_EQ(std::system(("mkfifo " + quoted(fifo)).c_str()), 0);
        struct Source {
            std::string command, shownPath;
        };
        const std::vector<Source> sources = {
            {"cat " + quoted(path) + " | " + testutil::toolCommand({"/dev/stdin"}), "/dev/stdin"},
            {"cat " + quoted(path) + " >" + quoted(fifo) + " & " + testutil::toolCommand({fifo}), fifo},
            {"bash -c 'exec " + testutil::toolCommand({}) + " <(cat " + quoted(path) + ")'", ""},
            // Redirected from the file, /dev/stdin seeks and is read in place.
            {testutil::toolCommand({"/dev/stdin"}) + " <" + quoted(path), "/dev/stdin"},
        };
        for (const Source& s : sources) {
            SCOPED_TRACE(s.command);
            testutil::TempDir dir;
            const ToolRun piped = testutil::runCommandIn(dir.path(), s.command);
            EXPECT_EQ(piped.status, plain.status);
            EXPECT_EQ(piped.out, plain.out);
            EXPECT_EQ(piped.err, plain.err);  // no line names the path here
            EXPECT_EQ(piped.files, plain.files);
        }
        for (const auto& [name, bytes] : plain.files) std::filesystem::remove(work.path() / name);
    }
}

TEST_F(Damage, APipeLongerThanTheBoundIsCutAndOneWithoutMemoryFails) {
    if (!testutil::nativePosix() || std::string(IMGPRY_SANITIZED) == "ON") {
        GTEST_SKIP() << "needs the native, unsanitized tool (1 GiB through a pipe, limits on address space)";
    }
    const std::string limit = "1073741824";
    // 1 GiB and a byte of zeros: 64 disks of size 0 at offset 0.
    const ToolRun big =
        testutil::runCommandIn(work.path(), "head -c 1073741825 /dev/zero | " + testutil::toolCommand({"/dev/stdin"}));
    EXPECT_EQ(big.status, 2);
    EXPECT_EQ(big.out, "");
    std::string err = "imgpry: /dev/stdin is longer than " + limit + " bytes; only the first " + limit +
                      " bytes are read\nimgpry: more than 64 disks in /dev/stdin; only the first 64 are read\n";
    for (int i = 1; i <= 64; ++i) {
        err += "imgpry: disk " + std::to_string(i) + ": cannot read the directory: trk=01 sec=01 is missing\n";
    }
    EXPECT_EQ(big.err, err);

    const ToolRun starved = testutil::runCommandIn(
        work.path(), "head -c 300000000 /dev/zero | (ulimit -v 200000; " + testutil::toolCommand({"/dev/stdin"}) + ")");
    EXPECT_EQ(starved.status, 1);
    EXPECT_EQ(starved.out, "");
    EXPECT_EQ(starved.err, "imgpry: cannot read /dev/stdin: Cannot allocate memory\n");
}

TEST_F(Damage, AListingThatCannotBeWrittenIsSaidOnce) {
    if (!testutil::nativePosix() || !std::filesystem::exists("/dev/full")) GTEST_SKIP() << "needs /dev/full";
    const ToolRun r =
        testutil::runCommandIn(work.path(), testutil::toolCommand({testutil::hostPath(IMGPRY_SAMPLE)}), "/dev/full");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "imgpry: cannot write the listing: No space left on device\n");
    EXPECT_EQ(r.files.size(), 5U);  // the files are still written
}

// One read of the traced program: its place among all its read calls, and
// where in the image it read.
using testutil::ImageRead;

// The reads imgpry makes of the image at path, from a dry run under strace.
std::vector<ImageRead> imageReads(const std::filesystem::path& workDir, const std::string& path) {
    testutil::TempDir logDir;
    const std::string log = logDir.file("log");
    (void)testutil::runCommandIn(workDir, "ASAN_OPTIONS=detect_leaks=0 strace -qq -s 0 -o " + quoted(log) +
                                              " -e trace=openat,read,lseek " + testutil::toolCommand({path}));
    return testutil::imageReadsInLog(log, path);
}

// The read of the image that covers offset (the first such read after skip
// of them).
const ImageRead* readCovering(const std::vector<ImageRead>& reads, long long offset, size_t skip = 0) {
    for (size_t i = skip; i < reads.size(); ++i) {
        if (offset >= reads[i].offset && offset < reads[i].offset + reads[i].length) return &reads[i];
    }
    return nullptr;
}

TEST_F(Damage, ReadErrorsAreToldApartFromDamage) {
    if (!testutil::nativePosix() || std::system("strace -V >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "needs strace and the native tool";
    }
    // Disks larger than the reader's 128 KiB window, so that the scan, the
    // directory and the file each need reads of their own.
    auto disk = [](const std::string& name) {
        FileSystemDisk d(120, name);
        auto& t0 = d.disk().tracks.at(0);
        while (t0.size() < 130) t0.push_back(fixture::sector(0, 0, static_cast<uint8_t>(t0.size() + 1), 3));
        for (auto& s : t0) s.count = 130;
        d.addFile("FILE", "BIN", 60, 1, pattern(255 * 1024, 1));  // 51 tracks: more than one window
        return d.build();
    };
    const Bytes one = disk("ONE");
    const std::string path = save(fixture::container({one, disk("TWO")}));
    const std::vector<ImageRead> reads = imageReads(work.path(), path);
    auto inject = [&](int index, bool onward) {
        testutil::TempDir dir;
        const std::string when = std::to_string(index) + (onward ? "+" : "");
        return testutil::runCommandIn(
            dir.path(),
            "ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e trace=read -e inject=read:error=EIO:when=" + when +
                " " + testutil::toolCommand({path}));
    };
    const std::string listed = "FILE.BIN       261120  trk=3c sec=01";
    const std::string noDisk2 =
        "imgpry: disk 2: cannot read the directory: trk=01 sec=01 could not be read: Input/output error\n";

    // The scan: the header of disk 2 cannot be read, once.
    const ImageRead* scan = readCovering(reads, static_cast<long long>(one.size()));
    ASSERT_NE(scan, nullptr);
    ToolRun r = inject(scan->index, false);
    EXPECT_EQ(r.out, listed + " ... cutted.\n");
    EXPECT_EQ(r.err,
              "imgpry: cannot read " + path + " at byte " + std::to_string(one.size()) + ": Input/output error\n");

    // The directory of disk 1, and every read from there on.
    const ImageRead* dir = readCovering(reads, fixture::trackOffset(one, 1));
    ASSERT_NE(dir, nullptr);
    r = inject(dir->index, true);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(
        r.err,
        "imgpry: disk 1: cannot read the directory: trk=01 sec=01 could not be read: Input/output error\n" + noDisk2);

    // The file's first sector.
    const ImageRead* first = readCovering(reads, fixture::trackOffset(one, 60));
    ASSERT_NE(first, nullptr);
    r = inject(first->index, true);
    EXPECT_EQ(r.out, listed + "\n");
    EXPECT_EQ(r.err,
              "imgpry: disk 1: cannot read FILE.BIN: trk=3c sec=01 could not be read: Input/output error\n" + noDisk2);

    // The read after that one, in the middle of the file: it refills the
    // reader's window from where the window ended, for the first track that
    // did not lie 8 KiB deep in it. The sector being read then still comes
    // from what the window held; the failure makes the reader forget its
    // window, so the next sector falls short, and every sector after it.
    const auto next = static_cast<size_t>(first - reads.data()) + 1;
    ASSERT_LT(next, reads.size());
    const long long windowEnd = reads[next].offset;
    int failing = 60;
    while (fixture::trackOffset(one, failing) + 8192 <= windowEnd) ++failing;
    const int sector = fixture::trackOffset(one, failing) + 16 + 1024 <= windowEnd ? 2 : 1;
    const int whole = (failing - 60) * 5 + sector - 1;
    ASSERT_GT(whole, 0);
    ASSERT_LT(whole, 255);
    r = inject(reads[next].index, true);
    char where[64];
    (void)std::snprintf(where, sizeof where, "trk=%02x sec=%02x", failing, sector);
    EXPECT_EQ(r.out, listed + " ... cutted.\n");
    EXPECT_EQ(r.err, "imgpry: disk 1: partly read FILE.BIN: " + std::to_string(whole * 1024) + " of 261120 bytes, " +
                         where + " could not be read: Input/output error (" + std::to_string(255 - whole) +
                         " sectors short in all); the rest is zeros\n" + noDisk2);
    EXPECT_EQ(r.err.find("is missing"), std::string::npos);
    ASSERT_EQ(r.files.size(), 1U);
    EXPECT_EQ(r.files.begin()->second, zeroedFrom(pattern(255 * 1024, 1), static_cast<size_t>(whole) * 1024));
}

}  // namespace
