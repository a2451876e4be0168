// The real imgpry on a PC-98 2HD disk that mtools made: the listing (the
// first sectors as mtools' own FAT view gives them), the tree of folders
// and files, their bytes and times against what `mcopy -s -m` extracts,
// and the line a broken allocation chain gets.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "image_builder.h"
#include "mtools.h"
#include "run_tool.h"
#include "test_util.h"

#if !defined(_WIN32)

using fixture::Bytes;
using testutil::text;

namespace {

constexpr int kDataStart = 11;  // boot, 2 × 2 FAT sectors, 6 of root
constexpr const char* kFormat = "-t 77 -h 2 -s 8 -S 3 -m 0xFE -R 1 -d 2 -L 2 -r 6 -c 1";

struct File {
    const char* path;  // on the disk and as extracted
    size_t size;
};
// In the order they are copied; folders are made first, so each directory
// holds its folders before its files.
const std::vector<File> kFiles = {
    {"lower.txt", 100}, {"README", 777},         {"Long file name.text", 5000}, {"empty", 0},
    {"ONE.BIN", 1024},  {"SUB/inner.dat", 3000}, {"SUB/DEEP/X.Y", 1},           {"BIG.BIN", 1100 * 1024 + 17},
};

struct Disk {
    testutil::TempDir dir;
    std::string raw;
    Bytes image;

    Disk() {
        testutil::mtoolsEnvironment();
        raw = dir.file("disk.img");
        EXPECT_EQ(testutil::sh("mformat -C -i '" + raw + "' " + kFormat + " ::"), 0);
        EXPECT_EQ(testutil::sh("mmd -i '" + raw + "' ::/SUB ::/SUB/DEEP"), 0);
        int seed = 0;
        for (const File& f : kFiles) {
            ++seed;
            const std::string src = dir.file("src" + std::to_string(seed));
            EXPECT_TRUE(testutil::writeWithTime(src, fixture::pattern(f.size, static_cast<uint32_t>(seed)), 2000 + seed,
                                                seed, seed, seed, seed * 2, seed * 4));
            EXPECT_EQ(testutil::sh("mcopy -m -i '" + raw + "' '" + src + "' '::/" + f.path + "'"), 0);
        }
        image = wrap(fixture::readFile(raw));
    }

    static Bytes wrap(const Bytes& raw) { return fixture::rawDisk(raw, 77, 2, 8, 3, "PC98").build(); }

    // The first cluster of path as mshowfat gives it; 0 for an empty file.
    int firstCluster(const std::string& path) const {
        const std::string out = dir.file("showfat");
        EXPECT_EQ(std::system(("mshowfat -i '" + raw + "' '::/" + path + "' >'" + out + "' 2>&1").c_str()), 0);
        const Bytes b = fixture::readFile(out);
        const std::string s(b.begin(), b.end());
        const size_t open = s.find('<');
        return open == std::string::npos ? 0 : std::stoi(s.substr(open + 1));
    }
};

std::string line(const std::string& path, size_t size, int cluster) {
    int track = 0;
    int sector = 0;
    if (cluster != 0) {
        const int l = kDataStart + cluster - 2;
        track = l / 16 * 2 + l / 8 % 2;
        sector = l % 8 + 1;
    }
    char buf[512];
    std::snprintf(buf, sizeof buf, "%-12s %8d  trk=%02x sec=%02x ... cutted.\n", path.c_str(), static_cast<int>(size),
                  static_cast<unsigned>(track), static_cast<unsigned>(sector));
    return buf;
}

struct Extracted {
    Bytes data;
    time_t mtime = 0;
    bool folder = false;
};

std::map<std::string, Extracted> tree(const std::filesystem::path& top) {
    std::map<std::string, Extracted> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(top)) {
        Extracted x;
        x.folder = e.is_directory();
        if (!x.folder) {
            x.data = fixture::readFile(e.path().string());
            x.mtime = testutil::mtimeOf(e.path());
        }
        out[std::filesystem::relative(e.path(), top).generic_string()] = x;
    }
    return out;
}

class Fat12EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testutil::haveMtools()) GTEST_SKIP() << "mtools is not installed";
    }
};

TEST_F(Fat12EndToEnd, ListsAndExtractsTheTreeAsMcopyDoes) {
    Disk disk;
    testutil::TempDir work;
    ASSERT_TRUE(fixture::writeFile(work.file("in.d88"), disk.image));
    const std::filesystem::path out = work.path() / "out";
    std::filesystem::create_directory(out);
    const testutil::ToolRun r = testutil::runImgpryIn(out, {work.file("in.d88")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");

    // A folder's files right after its folder's entry, folders before files.
    std::string expected;
    for (const char* path : {"SUB/DEEP/X.Y", "SUB/inner.dat", "lower.txt", "README", "Long file name.text", "empty",
                             "ONE.BIN", "BIG.BIN"}) {
        for (const File& f : kFiles) {
            if (std::string(f.path) == path) expected += line(path, f.size, disk.firstCluster(path));
        }
    }
    EXPECT_EQ(r.out, text(expected));

    const std::filesystem::path mine = work.path() / "mcopy";
    std::filesystem::create_directory(mine);
    ASSERT_EQ(testutil::sh("mcopy -s -m -i '" + disk.raw + "' '::*' '" + mine.string() + "'"), 0);
    const auto got = tree(out);
    const auto want = tree(mine);
    ASSERT_EQ(got.size(), want.size());
    for (const auto& [path, x] : want) {
        SCOPED_TRACE(path);
        ASSERT_EQ(got.count(path), 1U);
        EXPECT_EQ(got.at(path).folder, x.folder);
        EXPECT_EQ(got.at(path).data, x.data);
        if (!x.folder) {
            EXPECT_EQ(got.at(path).mtime, x.mtime);
        }
    }
}

TEST_F(Fat12EndToEnd, ABrokenChainIsToldAndTheRestWrittenAsZeros) {
    Disk disk;
    Bytes raw = fixture::readFile(disk.raw);
    const int first = disk.firstCluster("BIG.BIN");
    const int at = first + 4;  // the file's fifth cluster links to a free one
    for (int copy = 0; copy < 2; ++copy) {
        const size_t p = static_cast<size_t>((1 + copy * 2) * 1024 + at + at / 2);
        if ((at & 1) != 0) {
            raw[p] &= 0x0FU;
            raw[p + 1] = 0;
        } else {
            raw[p] = 0;
            raw[p + 1] &= 0xF0U;
        }
    }
    testutil::TempDir work;
    ASSERT_TRUE(fixture::writeFile(work.file("in.d88"), Disk::wrap(raw)));
    const testutil::ToolRun r = testutil::runImgpryIn(work.path(), {"in.d88"});
    EXPECT_EQ(r.status, 2);
    const size_t size = kFiles.back().size;
    const int l = kDataStart + at - 2;
    char sector[32];
    std::snprintf(sector, sizeof sector, "trk=%02x sec=%02x", static_cast<unsigned>(l / 16 * 2 + l / 8 % 2),
                  static_cast<unsigned>(l % 8 + 1));
    EXPECT_EQ(r.err, text("imgpry: disk 1: partly read BIG.BIN: 5120 of " + std::to_string(size) +
                          " bytes, the allocation chain breaks after " + sector + "; the rest is zeros\n"));
    EXPECT_NE(r.out.find(line("BIG.BIN", size, first)), std::string::npos);
    Bytes want = fixture::pattern(size, static_cast<uint32_t>(kFiles.size()));
    std::fill(want.begin() + 5 * 1024, want.end(), uint8_t{0});
    ASSERT_EQ(r.files.count("BIG.BIN"), 1U);
    EXPECT_EQ(r.files.at("BIG.BIN"), want);
}

}  // namespace

#endif
