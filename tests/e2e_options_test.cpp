// The real imgpry's options, alone and combined, each run in a fresh
// directory: where files go (-C, --per-disk), listing only (-l), keeping
// old files (-k), selecting by pattern, and the command line's errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "image_builder.h"
#include "run_tool.h"
#include "test_util.h"

using fixture::Bytes;
using testutil::text;
using testutil::ToolRun;
namespace stdfs = std::filesystem;

namespace {

const std::string kOpenFailed =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1"
    "\n";

// The sample's listing lines, by name, without " ... cutted.".
const std::vector<std::pair<std::string, std::string>> kSampleLines = {
    {"README.TXT", "README.TXT       1024  trk=02 sec=01"},  {"GAME.BIN", "GAME.BIN         5120  trk=04 sec=01"},
    {"LONGRUN.DAT", "LONGRUN.DAT      9216  trk=06 sec=04"}, {"EMPTY", "EMPTY               0  trk=0a sec=01"},
    {"NOTES.TXT", "NOTES.TXT        1024  trk=02 sec=01"},   {"PICTURE.PIC", "PICTURE.PIC      3072  trk=03 sec=02"},
};
// Disk 1 holds the first four entries, disk 2 the last two.
const std::map<std::string, int> kSampleDisk = {{"README.TXT", 1}, {"GAME.BIN", 1},  {"LONGRUN.DAT", 1},
                                                {"EMPTY", 1},      {"NOTES.TXT", 2}, {"PICTURE.PIC", 2}};

// The listing of the named entries (all when names is empty), with
// " ... cutted." on every one written (EMPTY never is).
std::string listing(const std::vector<std::string>& names, bool written) {
    std::string out;
    for (const auto& [name, line] : kSampleLines) {
        bool wanted = names.empty();
        for (const std::string& n : names) wanted = wanted || n == name;
        if (!wanted) continue;
        out += line + (written && name != "EMPTY" ? " ... cutted." : "") + "\n";
    }
    return text(out);
}

// Every regular file under dir, by its path relative to dir ('/' between
// parts), and every folder as "PATH/".
std::map<std::string, Bytes> treeIn(const stdfs::path& dir) {
    std::map<std::string, Bytes> tree;
    for (const auto& e : stdfs::recursive_directory_iterator(dir)) {
        const std::string rel = stdfs::relative(e.path(), dir).generic_string();
        if (e.is_directory()) {
            tree[rel + "/"] = {};
        } else if (e.is_regular_file()) {
            tree[rel] = fixture::readFile(e.path().string());
        }
    }
    return tree;
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        sample = testutil::hostPath(IMGPRY_SAMPLE);
        // What a plain run writes, file by file.
        testutil::TempDir clean;
        sampleFiles = testutil::runImgpryIn(clean.path(), {sample}).files;
    }
    ToolRun runArgs(const std::vector<std::string>& args) { return testutil::runImgpryIn(work.path(), args); }
    // The sample's files named (all when names is empty), under prefix.
    std::map<std::string, Bytes> files(const std::vector<std::string>& names, const std::string& prefix = "",
                                       bool perDisk = false) {
        std::map<std::string, Bytes> want;
        for (const auto& [name, bytes] : sampleFiles) {
            bool wanted = names.empty();
            for (const std::string& n : names) wanted = wanted || n == name;
            if (!wanted) continue;
            const std::string disk = perDisk ? "disk0" + std::to_string(kSampleDisk.at(name)) + "/" : "";
            want[prefix + disk + name] = bytes;
        }
        return want;
    }
    static void put(const stdfs::path& p, const std::string& bytes) {
        std::ofstream f(p, std::ios::binary);
        f << bytes;
    }

    std::string sample;
    std::map<std::string, Bytes> sampleFiles;
    testutil::TempDir work;
};

// Each option alone and in combination, with the listing, the lines on
// standard error, the status and the whole tree written.
TEST_F(CommandLine, WriteWhereAndWhatTheyAreAskedTo) {
    struct Case {
        std::string title;
        std::vector<std::string> args;  // "SAMPLE" stands for the sample's path
        std::string out, err;
        int status;
        std::map<std::string, Bytes> tree;
    };
    std::map<std::string, Bytes> perDisk = files({}, "out/", true);
    perDisk["out/"] = {};
    perDisk["out/disk01/"] = {};
    perDisk["out/disk02/"] = {};
    std::map<std::string, Bytes> inOut = files({}, "out/");
    inOut["out/"] = {};
    std::map<std::string, Bytes> oneInDisk = files({"GAME.BIN"}, "", true);
    oneInDisk["disk01/"] = {};
    std::map<std::string, Bytes> emptyOut = {{"out/", {}}};
    const Case cases[] = {
        {"-l", {"-l", "SAMPLE"}, listing({}, false), "", 0, {}},
        {"--list with patterns",
         {"--list", "SAMPLE", "*.TXT", "P?CTURE.*"},
         listing({"README.TXT", "NOTES.TXT", "PICTURE.PIC"}, false),
         "",
         0,
         {}},
        {"-l with a pattern that matches nothing",
         {"-l", "SAMPLE", "*.TXT", "*.DOC"},
         listing({"README.TXT", "NOTES.TXT"}, false),
         "imgpry: *.DOC: not in the image\n",
         2,
         {}},
        {"one file", {"--", "SAMPLE", "GAME.BIN"}, listing({"GAME.BIN"}, true), "", 0, files({"GAME.BIN"})},
        {"patterns",
         {"--", "SAMPLE", "NOPE", "[GL]*"},
         listing({"GAME.BIN", "LONGRUN.DAT"}, true),
         "imgpry: NOPE: not in the image\n",
         2,
         files({"GAME.BIN", "LONGRUN.DAT"})},
        {"-C", {"-C", "out", "SAMPLE"}, listing({}, true), "", 0, inOut},
        {"--directory=", {"--directory=out", "SAMPLE"}, listing({}, true), "", 0, inOut},
        {"-C with --per-disk", {"-Cout", "--per-disk", "SAMPLE"}, listing({}, true), "", 0, perDisk},
        {"--per-disk with a pattern",
         {"--per-disk", "SAMPLE", "GAME.BIN"},
         listing({"GAME.BIN"}, true),
         "",
         0,
         oneInDisk},
        {"-l with -C and --per-disk", {"-l", "--per-disk", "-C", "out", "SAMPLE"}, listing({}, false), "", 0, emptyOut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        for (const auto& e : stdfs::directory_iterator(work.path())) stdfs::remove_all(e.path());
        stdfs::create_directory(work.path() / "out");
        std::vector<std::string> args = c.args;
        for (std::string& a : args) {
            if (a == "SAMPLE") a = sample;
        }
        const ToolRun r = runArgs(args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, text(c.err));
        std::map<std::string, Bytes> want = c.tree;
        want["out/"] = {};
        EXPECT_EQ(treeIn(work.path()), want);
    }
}

// A container of the same disks twice: one folder per disk, so no file
// replaces another, on the first run and on a second one over it.
TEST_F(CommandLine, PerDiskKeepsEveryDiskApart) {
    Bytes image = fixture::readFile(sample);
    const Bytes copy = image;
    image.insert(image.end(), copy.begin(), copy.end());
    testutil::TempDir images;
    const std::string path = images.file("twice.d88");
    ASSERT_TRUE(fixture::writeFile(path, image));
    std::map<std::string, Bytes> want;
    for (const auto& [name, bytes] : sampleFiles) {
        const int d = kSampleDisk.at(name);
        want["disk0" + std::to_string(d) + "/" + name] = bytes;
        want["disk0" + std::to_string(d + 2) + "/" + name] = bytes;
    }
    for (const char* folder : {"disk01/", "disk02/", "disk03/", "disk04/"}) want[folder] = {};
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first run" : "second run");
        const ToolRun r = runArgs({"--per-disk", path});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, listing({}, true) + listing({}, true));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(treeIn(work.path()), want);
    }
    // Without it, the second copy replaces the first.
    testutil::TempDir flat;
    const ToolRun r = testutil::runImgpryIn(flat.path(), {path});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("disk 3: README.TXT replaces the file written from disk 1"), std::string::npos) << r.err;
}

#if !defined(_WIN32)
// A disk's folder is made as safely as any: a link at its name is not
// followed, a file there is not replaced; the other disk's files are
// written.
TEST_F(CommandLine, PerDiskFoldersAreNeverLinksOrFiles) {
    testutil::TempDir elsewhere;
    stdfs::create_directory_symlink(elsewhere.path(), work.path() / "disk01");
    put(work.path() / "disk02", "a file");
    const ToolRun r = runArgs({"--per-disk", sample});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(stdfs::is_empty(elsewhere.path()));
    EXPECT_EQ(r.out, listing({}, false));
    const std::string why = "imgpry: disk 1: cannot write disk01: Not a directory\n";
    EXPECT_EQ(r.err.rfind(why, 0), 0U) << r.err;
    EXPECT_NE(r.err.find("imgpry: disk 2: cannot write disk02: Not a directory\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.files.at("disk02"), (Bytes{'a', ' ', 'f', 'i', 'l', 'e'}));
}
#endif

// -k keeps what stood before the run, and still replaces what the run wrote.
TEST_F(CommandLine, KeepOldFilesKeepsOnlyWhatStoodBefore) {
    put(work.path() / "GAME.BIN", "old game");
    testutil::TempDir images;
    fixture::FileSystemDisk disk(10);
    disk.addFile("GAME", "BIN", 2, 1, fixture::pattern(1024, 1))
        .addFile("TWICE", "", 2, 2, fixture::pattern(1024, 2))
        .addFile("TWICE", "", 2, 3, fixture::pattern(1024, 3));
    const std::string path = images.file("image.d88");
    ASSERT_TRUE(fixture::writeFile(path, disk.build()));
    const ToolRun r = runArgs({"-k", path});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, text("GAME.BIN         1024  trk=02 sec=01\n"
                          "TWICE            1024  trk=02 sec=02 ... cutted.\n"
                          "TWICE            1024  trk=02 sec=03 ... cutted.\n"));
    EXPECT_EQ(r.err, text("imgpry: disk 1: GAME.BIN exists; kept\n"
                          "imgpry: disk 1: TWICE replaces the file written from disk 1\n"));
    EXPECT_EQ(testutil::asText(r.files.at("GAME.BIN")), "old game");
    EXPECT_EQ(r.files.at("TWICE"), fixture::pattern(1024, 3));
}

// One argument is the image, whatever it looks like; "--" ends the options
// before an image whose name starts with '-'.
TEST_F(CommandLine, OneArgumentIsAlwaysTheImage) {
    const ToolRun missing = runArgs({"-l"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, text(kOpenFailed + "imgpry: cannot open -l: No such file or directory\n"));
    EXPECT_TRUE(missing.files.empty());

    stdfs::copy_file(sample, work.path() / "-l");
    const ToolRun named = runArgs({"-l"});
    EXPECT_EQ(named.status, 0);
    EXPECT_EQ(named.out, listing({}, true));
    std::map<std::string, Bytes> want = files({});
    want["-l"] = fixture::readFile(sample);
    EXPECT_EQ(named.files, want);
    stdfs::remove(work.path() / "-l");

    for (const auto& e : stdfs::directory_iterator(work.path())) stdfs::remove_all(e.path());
    stdfs::copy_file(sample, work.path() / "-x.d88");
    const ToolRun dashed = runArgs({"-l", "--", "-x.d88", "-k"});  // "-k" is a pattern
    EXPECT_EQ(dashed.status, 2);
    EXPECT_EQ(dashed.out, "");
    EXPECT_EQ(dashed.err, text("imgpry: -k: not in the image\n"));
    const ToolRun plain = runArgs({"--", "-x.d88"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, listing({}, true));
}

TEST_F(CommandLine, CommandLineErrorsEndWithStatusOne) {
    put(work.path() / "afile", "");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const std::string help = "; imgpry --help lists the options\n";
    const Case cases[] = {
        {{"-x", "SAMPLE"}, "imgpry: unknown option '-x'" + help},
        {{"-lq", "SAMPLE"}, "imgpry: unknown option '-q'" + help},
        {{"--keep", "SAMPLE"}, "imgpry: unknown option '--keep'" + help},
        {{"--list=1", "SAMPLE"}, "imgpry: unknown option '--list'" + help},
        {{"-l", "-C"}, "imgpry: option '-C' needs a directory" + help},
        {{"-l", "-k"}, "Usage: imgpry image\n"},
        {{"-C", "nowhere", "SAMPLE"}, "imgpry: cannot use nowhere: No such file or directory\n"},
        {{"-C", "afile", "SAMPLE"}, "imgpry: cannot use afile: Not a directory\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        for (std::string& a : args) {
            if (a == "SAMPLE") a = sample;
        }
        SCOPED_TRACE(c.err);
        const ToolRun r = runArgs(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, text(c.err));
        EXPECT_EQ(r.files.size(), 1U);  // afile alone
    }
    const ToolRun help2 = runArgs({"-l", "--help"});
    EXPECT_EQ(help2.status, 0);
    for (const char* option : {"-C DIR", "--directory=DIR", "--per-disk", "--list", "--keep-old-files", "--"}) {
        EXPECT_NE(help2.out.find(option), std::string::npos) << option;
    }
}

}  // namespace
