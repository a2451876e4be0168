// How the real imgpry puts files in place: a new file is created, never
// opened through what stands at its name; what stands there is replaced
// whole by a rename; an interrupted run leaves no half file; a file that
// replaces one the run wrote earlier is said.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image_builder.h"
#include "run_tool.h"
#include "test_util.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

using fixture::Bytes;
using fixture::dirEntry;
using fixture::FileSystemDisk;
using fixture::pattern;
using testutil::text;
using testutil::ToolRun;
namespace stdfs = std::filesystem;

namespace {

const std::string kSampleListing =
    "README.TXT       1024  trk=02 sec=01 ... cutted.\n"
    "GAME.BIN         5120  trk=04 sec=01 ... cutted.\n"
    "LONGRUN.DAT      9216  trk=06 sec=04 ... cutted.\n"
    "EMPTY               0  trk=0a sec=01\n"
    "NOTES.TXT        1024  trk=02 sec=01 ... cutted.\n"
    "PICTURE.PIC      3072  trk=03 sec=02 ... cutted.\n";

class Placing : public ::testing::Test {
protected:
    void SetUp() override {
        work = outside.path() / "work";
        stdfs::create_directory(work);
    }
    ToolRun runSample() { return testutil::runImgpryIn(work, {testutil::hostPath(IMGPRY_SAMPLE)}); }
    // What the sample's own run writes, to compare with.
    std::map<std::string, Bytes> sampleFiles() {
        testutil::TempDir clean;
        return testutil::runImgpryIn(clean.path(), {testutil::hostPath(IMGPRY_SAMPLE)}).files;
    }
    static void put(const stdfs::path& p, const std::string& bytes) {
        std::ofstream f(p, std::ios::binary);
        f << bytes;
    }
    static std::string get(const stdfs::path& p) {
        std::ifstream f(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    // No temporary file is left in the working directory.
    void expectNoTemporary() {
        for (const auto& e : stdfs::directory_iterator(work)) {
            EXPECT_NE(e.path().filename().string().rfind(".imgpry-", 0), 0U) << e.path();
        }
    }

    testutil::TempDir outside;  // the victims live here, beside work/
    stdfs::path work;
};

#if !defined(_WIN32)
TEST_F(Placing, WhatStandsAtANameIsReplacedNeverFollowedOrOpened) {
    const stdfs::path victim = outside.path() / "victim.txt";
    const stdfs::path victimDir = outside.path() / "victimdir";
    put(victim, "secret");
    stdfs::create_directory(victimDir);
    stdfs::create_symlink(victim, work / "README.TXT");                       // a link to a file outside
    stdfs::create_directory_symlink(victimDir, work / "GAME.BIN");            // a link to a directory
    stdfs::create_symlink(outside.path() / "nowhere", work / "LONGRUN.DAT");  // a dangling link
    const stdfs::path partner = outside.path() / "partner.txt";
    put(partner, "partner");
    stdfs::create_hard_link(partner, work / "NOTES.TXT");        // a hard link to a file outside
    ASSERT_EQ(mkfifo((work / "PICTURE.PIC").c_str(), 0644), 0);  // a FIFO: opening it would block
    put(work / "EMPTY", "old");                                  // length 0: nothing is read, so it stays

    const ToolRun r = testutil::runCommandIn(work, "timeout 20 " + testutil::toolCommand({IMGPRY_SAMPLE}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kSampleListing);
    EXPECT_EQ(r.err, "");  // none of these was written by this run
    EXPECT_EQ(get(victim), "secret");
    EXPECT_TRUE(stdfs::is_empty(victimDir));
    EXPECT_FALSE(stdfs::exists(outside.path() / "nowhere"));
    EXPECT_EQ(get(partner), "partner");
    std::map<std::string, Bytes> want = sampleFiles();
    want["EMPTY"] = Bytes{'o', 'l', 'd'};
    EXPECT_EQ(r.files, want);
    for (const char* name : {"README.TXT", "GAME.BIN", "LONGRUN.DAT", "NOTES.TXT", "PICTURE.PIC"}) {
        EXPECT_TRUE(stdfs::is_regular_file(stdfs::symlink_status(work / name))) << name;
    }
    expectNoTemporary();
}

TEST_F(Placing, ReadOnlyFilesAndFilesOfAnotherOwnerAreReplacedByFreshOnes) {
    put(work / "README.TXT", "read-only");
    stdfs::permissions(work / "README.TXT", stdfs::perms::owner_read);
    put(work / "GAME.BIN", "someone else's");
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown((work / "GAME.BIN").c_str(), 65534, 65534), 0);
        ASSERT_EQ(chmod((work / "GAME.BIN").c_str(), 0600), 0);
    }
    const ToolRun r = runSample();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.files, sampleFiles());
    struct stat st {};
    ASSERT_EQ(stat((work / "GAME.BIN").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, geteuid());
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
}

// The image standing under a listed name, as itself or as a hard link, is
// read whole and never written over, with -k too; the other files are.
TEST_F(Placing, TheImageIsNeverWrittenOver) {
    const std::string line = "imgpry: disk 1: README.TXT is the image being read; not written\n";
    std::string listing = kSampleListing;
    listing.replace(listing.find(" ... cutted."), 12, "");  // README.TXT's
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "-k" : "plain");
        for (const auto& e : stdfs::directory_iterator(work)) stdfs::remove(e.path());
        stdfs::copy_file(IMGPRY_SAMPLE, work / "README.TXT");
        const ToolRun r = testutil::runImgpryIn(
            work, keep ? std::vector<std::string>{"-k", "README.TXT"} : std::vector<std::string>{"README.TXT"});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, listing);
        EXPECT_EQ(r.err, text(line));
        std::map<std::string, Bytes> want = sampleFiles();
        want["README.TXT"] = fixture::readFile(IMGPRY_SAMPLE);
        EXPECT_EQ(r.files, want);
    }
#if !defined(_WIN32)
    // By its identity: a hard link to the image, the image named otherwise.
    for (const auto& e : stdfs::directory_iterator(work)) stdfs::remove(e.path());
    const std::string image = outside.file("image.d88");
    stdfs::copy_file(IMGPRY_SAMPLE, image);
    stdfs::create_hard_link(image, work / "README.TXT");
    const ToolRun r = testutil::runImgpryIn(work, {image});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, line);
    EXPECT_EQ(fixture::readFile(image), fixture::readFile(IMGPRY_SAMPLE));
    EXPECT_EQ(stdfs::hard_link_count(image), 2U);
    // Read from a pipe, the image has nothing to lose: a copy of it at a
    // listed name is replaced.
    const ToolRun piped = testutil::runCommandIn(work, "cat README.TXT | " + testutil::toolCommand({"/dev/stdin"}));
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(piped.files, sampleFiles());
#endif
}

// ulimit -f makes the kernel stop a write past the limit with SIGXFSZ: the
// file being written goes, the old file at its name stays whole.
TEST_F(Placing, AnInterruptedReplacementLeavesTheOldFileWhole) {
    if (!testutil::nativePosix()) GTEST_SKIP() << "needs the native tool under a POSIX shell";
    put(work / "GAME.BIN", "the good old copy");
    // 4 blocks (2 or 4 KiB): README.TXT fits, GAME.BIN's 5,120 bytes do not.
    const ToolRun r = testutil::runCommandIn(work, "ulimit -f 4; exec " + testutil::toolCommand({IMGPRY_SAMPLE}));
    EXPECT_EQ(r.status, 128 + SIGXFSZ);
    EXPECT_EQ(get(work / "GAME.BIN"), "the good old copy");
    EXPECT_EQ(r.files.size(), 2U);  // README.TXT whole, GAME.BIN as it was
    EXPECT_EQ(r.files.at("README.TXT"), sampleFiles().at("README.TXT"));
    expectNoTemporary();
}

TEST_F(Placing, AnInterruptedRunLeavesNoPartialFile) {
    // Under the sanitizers their own probing writes meet the injected
    // failure first.
    if (!testutil::nativePosix() || std::system("strace -V >/dev/null 2>&1") != 0 ||
        std::string(IMGPRY_SANITIZED) == "ON") {
        GTEST_SKIP() << "needs strace and the plain native tool";
    }
    for (const bool replacing : {false, true}) {
        SCOPED_TRACE(replacing ? "replacing GAME.BIN" : "creating GAME.BIN");
        for (const auto& e : stdfs::directory_iterator(work)) stdfs::remove(e.path());
        if (replacing) put(work / "GAME.BIN", "old");
        // SIGINT arrives as GAME.BIN's data, the second file, is written.
        const ToolRun r = testutil::runCommandIn(
            work,
            "ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e trace=write -e inject=write:signal=SIGINT:when=2 " +
                testutil::toolCommand({IMGPRY_SAMPLE}));
        EXPECT_EQ(r.status, 128 + SIGINT);
        EXPECT_EQ(r.files.count("README.TXT"), 1U);
        if (replacing) {
            EXPECT_EQ(get(work / "GAME.BIN"), "old");
        } else {
            EXPECT_FALSE(stdfs::exists(work / "GAME.BIN"));
        }
        EXPECT_EQ(r.files.size(), replacing ? 2U : 1U);
        expectNoTemporary();
    }
    // SIGINT as GAME.BIN is created: the file is removed once it is known,
    // never left empty.
    for (const auto& e : stdfs::directory_iterator(work)) stdfs::remove(e.path());
    const ToolRun r =
        testutil::runCommandIn(work,
                               "ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -P GAME.BIN -e trace=openat "
                               "-e inject=openat:signal=SIGINT " +
                                   testutil::toolCommand({IMGPRY_SAMPLE}));
    EXPECT_EQ(r.status, 128 + SIGINT);
    EXPECT_EQ(r.files.size(), 1U);  // README.TXT alone
    EXPECT_FALSE(stdfs::exists(work / "GAME.BIN"));
}

bool haveStrace() { return testutil::nativePosix() && std::system("strace -V >/dev/null 2>&1") == 0; }

// A new file costs its open, its writes and its close: no look at the name
// before, no stat after (the identity of files written is fetched only
// when a name is found occupied).
TEST_F(Placing, ANewFileCostsItsOpenWritesAndCloseAlone) {
    if (!haveStrace()) GTEST_SKIP() << "needs strace and the native tool";
    const std::string trace = outside.file("trace");
    const ToolRun r = testutil::runCommandIn(
        work, "ASAN_OPTIONS=detect_leaks=0 strace -qq -o " + trace + " " + testutil::toolCommand({IMGPRY_SAMPLE}));
    ASSERT_EQ(r.status, 0);
    std::vector<std::string> calls;
    {
        std::ifstream f(trace);
        for (std::string l; std::getline(f, l);) calls.push_back(l);
    }
    for (const char* name : {"README.TXT", "GAME.BIN", "LONGRUN.DAT", "NOTES.TXT", "PICTURE.PIC"}) {
        SCOPED_TRACE(name);
        const std::string quoted = std::string("\"") + name + "\"";
        size_t open = calls.size();
        int mentions = 0;
        for (size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].find(quoted) == std::string::npos) continue;
            ++mentions;
            open = i;
        }
        EXPECT_EQ(mentions, 1);  // the create, and nothing else names it
        ASSERT_LT(open, calls.size());
        EXPECT_EQ(calls[open].rfind("openat(", 0), 0U) << calls[open];
        const std::string fd = calls[open].substr(calls[open].rfind("= ") + 2);
        size_t i = open + 1;
        for (; i < calls.size() && calls[i].rfind("close(" + fd + ")", 0) != 0; ++i) {
            EXPECT_EQ(calls[i].rfind("write(" + fd + ",", 0), 0U) << calls[i];
        }
        EXPECT_LT(i, calls.size());
    }
}

// A run that fails or is interrupted removes the file it created only
// while that file is still what stands at its name: a file another
// process put there meanwhile stays.
TEST_F(Placing, CleanupRemovesOnlyTheFileThisRunCreated) {
    // Under the sanitizers the tool's own writes shift which write the
    // injection meets.
    if (!haveStrace() || std::string(IMGPRY_SANITIZED) == "ON")
        GTEST_SKIP() << "needs strace and the plain native tool";
    struct Case {
        const char* title;
        std::string inject;  // delays GAME.BIN's write (the second), failing it or not
        bool signal;         // SIGTERM while the write waits
        int status;
    };
    const Case cases[] = {
        {"a full disk", "-e inject=write:error=ENOSPC:delay_enter=1000000:when=3", false, 2},
        {"SIGTERM", "-f -e inject=write:delay_enter=1000000:when=3", true, 128 + SIGTERM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        for (const auto& e : stdfs::directory_iterator(work)) stdfs::remove(e.path());
        put(outside.path() / "planted", "another run's whole file");
        const std::string pid = outside.file("pid");
        // The tool is started through sh, which says its pid (the first
        // write) and execs it, so that the signal reaches the tool itself.
        const std::string tool = "sh -c 'echo $$ >" + pid + "; exec " + testutil::toolCommand({IMGPRY_SAMPLE}) + "'";
        const std::string cmd =
            "(ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e trace=write " + c.inject + " " + tool +
            " & i=0; while [ ! -e GAME.BIN ] && [ $i -lt 3000 ]; do sleep 0.01; i=$((i+1)); done; mv " +
            outside.file("planted") + " GAME.BIN; " + (c.signal ? "kill -TERM $(cat " + pid + "); " : "") + "wait $!)";
        const ToolRun r = testutil::runCommandIn(work, cmd);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(get(work / "GAME.BIN"), "another run's whole file");
        if (!c.signal) {
            EXPECT_EQ(r.err, "imgpry: disk 1: cannot write GAME.BIN: No space left on device\n");
            EXPECT_EQ(r.files.size(), 5U);
        }
        expectNoTemporary();
    }
}

// When every temporary name is taken, that is what is said.
TEST_F(Placing, NoFreeTemporaryNameIsSaid) {
    if (!testutil::nativePosix()) GTEST_SKIP() << "needs the native tool under a POSIX shell";
    put(work / "GAME.BIN", "old");
    // The shell's pid is the tool's once it execs: the first 100 names the
    // tool would try.
    const ToolRun r = testutil::runCommandIn(work, "sh -c 'for i in $(seq 0 99); do : >.imgpry-$$-$i.tmp; done; exec " +
                                                       testutil::toolCommand({IMGPRY_SAMPLE}) + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "imgpry: disk 1: cannot write GAME.BIN: no free temporary name in .\n");
    EXPECT_EQ(get(work / "GAME.BIN"), "old");
}
#endif

// A name written twice in one run is said the second time, whichever disk
// wrote it first; a file that was there before the run is replaced
// silently. Names that the file system folds together count too (case, on
// Windows).
TEST_F(Placing, AFileReplacingOneThisRunWroteIsSaid) {
    FileSystemDisk one(10, "ONE");
    one.addFile("TWICE", "", 2, 1, pattern(1024, 1))
        .addFile("TWICE", "", 2, 2, pattern(1024, 2))
        .addFile("ACROSS", "", 2, 3, pattern(1024, 3))
        .addFile("BEFORE", "", 2, 4, pattern(1024, 4))
        .addFile("Case", "", 3, 1, pattern(1024, 6))
        .addFile("CASE", "", 3, 2, pattern(1024, 7));
    FileSystemDisk two(10, "TWO");
    two.addFile("ACROSS", "", 2, 1, pattern(1024, 5));
    const std::string path = outside.file("image.d88");
    ASSERT_TRUE(fixture::writeFile(path, fixture::container({one.build(), two.build()})));
    // In the working directory, and in a directory given with -C.
    const stdfs::path out = outside.path() / "out";
    stdfs::create_directory(out);
    for (const bool inOut : {false, true}) {
        SCOPED_TRACE(inOut ? "-C out" : "the working directory");
        const stdfs::path dir = inOut ? out : work;
        put(dir / "BEFORE", "there before");
        const ToolRun r =
            inOut ? testutil::runImgpryIn(outside.path(), {"-C", "out", path}) : testutil::runImgpryIn(work, {path});
        EXPECT_EQ(r.status, 2);
        const std::string folded =
            testutil::kWindows ? "imgpry: disk 1: CASE replaces the file written from disk 1\n" : "";
        EXPECT_EQ(r.err, text("imgpry: disk 1: TWICE replaces the file written from disk 1\n" + folded +
                              "imgpry: disk 2: ACROSS replaces the file written from disk 1\n"));
        const auto files = testutil::filesIn(dir);
        EXPECT_EQ(files.at("TWICE"), pattern(1024, 2));
        EXPECT_EQ(files.at("ACROSS"), pattern(1024, 5));
        EXPECT_EQ(files.at("BEFORE"), pattern(1024, 4));
        EXPECT_EQ(files.size(), testutil::kWindows ? 4U : 5U);
    }
}

// On Windows names are Shift_JIS, whatever the ANSI code page: half-width
// katakana become their Unicode letters. Elsewhere names are their bytes.
TEST_F(Placing, ShiftJisNamesBecomeUnicodeNamesOnWindows) {
    FileSystemDisk d(10);
    d.addFile("\xB1\xB2\xB3", "", 2, 1, pattern(1024, 1));
    d.addFile("\x83\x51\x81\x5B", "\x82\xA0", 2, 2, pattern(1024, 2));  // full-width: ゲー.あ
    const std::string path = outside.file("image.d88");
    ASSERT_TRUE(fixture::writeFile(path, d.build()));
    const ToolRun r = testutil::runImgpryIn(work, {path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    if (testutil::kWindows) {
        EXPECT_TRUE(stdfs::exists(work / stdfs::path(u8"\uFF71\uFF72\uFF73")));
        EXPECT_TRUE(stdfs::exists(work / stdfs::path(u8"\u30B2\u30FC.\u3042")));
    } else {
        EXPECT_EQ(r.files.at("\xB1\xB2\xB3"), pattern(1024, 1));
        EXPECT_EQ(r.files.at("\x83\x51\x81\x5B.\x82\xA0"), pattern(1024, 2));
    }
}

}  // namespace
