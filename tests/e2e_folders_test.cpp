// How the real imgpry writes a disk's folders and says what befell a file
// whose allocation chain broke, on CP/M disks of the X1 turbo 2D format
// built here from its layout (users other than 0 become folders).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "image_builder.h"
#include "run_tool.h"
#include "test_util.h"

#if !defined(_WIN32)
#include <sys/stat.h>

#include <ctime>
#endif

using fixture::Bytes;
using testutil::text;
using testutil::ToolRun;
namespace stdfs = std::filesystem;

namespace {

// 80 tracks of sixteen 256-byte sectors; tracks 0..3 reserved, then blocks
// of 2048 bytes (8 sectors) in ID order along the tracks, the directory of
// 64 entries of 32 bytes in block 0. Everything not written is 0xE5, as
// formatted.
class CpmDisk {
public:
    static constexpr int kTracks = 80;
    static constexpr int kSectors = 16;
    static constexpr int kSectorBytes = 256;
    static constexpr int kBlockBytes = 2048;

    // A directory entry of user for NAME.EXT, extent 0, with rc records of
    // 128 bytes in blocks (0 ends the list early, as a damaged entry may).
    CpmDisk& entry(uint8_t user, const std::string& name, const std::string& ext, uint8_t rc,
                   const std::vector<uint8_t>& blocks) {
        uint8_t* e = block(0) + 32 * slot_++;
        std::fill(e, e + 32, 0);
        e[0] = user;
        for (size_t k = 0; k < 8; ++k) e[1 + k] = k < name.size() ? static_cast<uint8_t>(name[k]) : ' ';
        for (size_t k = 0; k < 3; ++k) e[9 + k] = k < ext.size() ? static_cast<uint8_t>(ext[k]) : ' ';
        e[15] = rc;
        std::copy(blocks.begin(), blocks.end(), e + 16);
        return *this;
    }
    // Writes content into the blocks from first on; returns their numbers.
    std::vector<uint8_t> put(const Bytes& content, uint8_t first) {
        std::vector<uint8_t> blocks;
        for (size_t at = 0; at < content.size(); at += kBlockBytes) {
            const auto b = static_cast<uint8_t>(first + blocks.size());
            std::copy(content.begin() + static_cast<std::ptrdiff_t>(at),
                      content.begin() + static_cast<std::ptrdiff_t>(std::min(content.size(), at + kBlockBytes)),
                      block(b));
            blocks.push_back(b);
        }
        return blocks;
    }
    // A file of user holding content (a whole number of 128-byte records)
    // in the blocks from first on.
    CpmDisk& file(uint8_t user, const std::string& name, const std::string& ext, const Bytes& content, uint8_t first) {
        return entry(user, name, ext, static_cast<uint8_t>(content.size() / 128), put(content, first));
    }
    Bytes image(int dropTrack = -1, int dropSector = -1) const {
        fixture::Disk d;
        for (int t = 0; t < kTracks; ++t) {
            for (int r = 1; r <= kSectors; ++r) {
                if (t == dropTrack && r == dropSector) continue;
                fixture::Sector s = fixture::sector(static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2),
                                                    static_cast<uint8_t>(r), 1);
                const auto at = static_cast<std::ptrdiff_t>((t * kSectors + r - 1) * kSectorBytes);
                std::copy(raw_.begin() + at, raw_.begin() + at + kSectorBytes, s.data.begin());
                d.tracks[t].push_back(s);
            }
        }
        return fixture::container({d.build()});
    }

private:
    uint8_t* block(int b) { return raw_.data() + static_cast<std::ptrdiff_t>((4 * kSectors + b * 8) * kSectorBytes); }

    Bytes raw_ = Bytes(static_cast<size_t>(kTracks) * kSectors * kSectorBytes, 0xE5);
    int slot_ = 0;
};

// A listing line, as the listing's format gives it.
std::string line(const std::string& path, int size, int track, int sector, bool cutted) {
    char buf[256];
    (void)std::snprintf(buf, sizeof buf, "%-12s %8d  trk=%02x sec=%02x%s\n", path.c_str(), size, track, sector,
                        cutted ? " ... cutted." : "");
    return buf;
}

// Every regular file under dir by its path relative to dir ('/' between
// parts), folders given as "DIR/".
std::map<std::string, Bytes> tree(const stdfs::path& dir) {
    std::map<std::string, Bytes> files;
    for (const auto& e : stdfs::recursive_directory_iterator(dir)) {
        const std::string rel = e.path().lexically_relative(dir).generic_string();
        if (e.is_symlink()) {
            files[rel + "@"] = {};
        } else if (e.is_directory()) {
            files[rel + "/"] = {};
        } else if (e.is_regular_file()) {
            files[rel] = fixture::readFile(e.path().string());
        }
    }
    return files;
}

class Folders : public ::testing::Test {
protected:
    void SetUp() override {
        work = outside.path() / "work";
        stdfs::create_directory(work);
    }
    ToolRun run(const Bytes& image) {
        const std::string path = images.file("image.d88");
        EXPECT_TRUE(fixture::writeFile(path, image));
        return testutil::runImgpryIn(work, {path});
    }

    testutil::TempDir images;
    testutil::TempDir outside;  // what a link may point to lives here, beside work/
    stdfs::path work;
};

// User 0's files at the top, user 3's in user3/: block 1 is track 4
// sector 9, block 2 track 5 sector 1, block 3 track 5 sector 9.
struct UserDisk {
    Bytes top = fixture::pattern(256, 1);
    Bytes note = fixture::pattern(384, 2);
    Bytes longer = fixture::pattern(2304, 3);
    CpmDisk cpm;
    UserDisk() {
        cpm.file(0, "TOP", "TXT", top, 1)
            .file(3, "NOTE", "TXT", note, 2)
            .file(3, "LONGNAME", "DAT", longer, 3)
            .entry(0, "EMPTY", "", 0, {});
    }
};

TEST_F(Folders, FilesGoIntoTheFolderTheyStandInAndAnExistingFolderIsUsed) {
    for (const bool folderThere : {false, true}) {
        SCOPED_TRACE(folderThere ? "a folder stands there" : "nothing stands there");
        stdfs::remove_all(work);
        stdfs::create_directory(work);
        if (folderThere) {
            stdfs::create_directory(work / "user3");
            fixture::writeFile((work / "user3" / "MINE").string(), Bytes{'m'});
        }
        const UserDisk disk;
        const ToolRun r = run(disk.cpm.image());
        EXPECT_EQ(r.status, 0);
        // Paths past 12 columns push the rest of their line out.
        EXPECT_EQ(r.out, text(line("TOP.TXT", 256, 4, 9, true) + line("EMPTY", 0, 0, 0, true) +
                              line("user3/NOTE.TXT", 384, 5, 1, true) + line("user3/LONGNAME.DAT", 2304, 5, 9, true)));
        EXPECT_EQ(r.err, "");
        std::map<std::string, Bytes> want = {{"TOP.TXT", disk.top},
                                             {"EMPTY", {}},
                                             {"user3/", {}},
                                             {"user3/NOTE.TXT", disk.note},
                                             {"user3/LONGNAME.DAT", disk.longer}};
        if (folderThere) want["user3/MINE"] = Bytes{'m'};
        EXPECT_EQ(tree(work), want);
    }
}

TEST_F(Folders, AFolderThatCannotBeMadeIsSaidOnceAndNothingIsWrittenUnderIt) {
    struct Case {
        const char* what;
        bool posixOnly;
        void (*put)(const stdfs::path& work, const stdfs::path& outside);
        std::string left;  // what stands at user3 afterwards, as tree() gives it
    };
    const std::vector<Case> cases = {
        {"a file", false,
         [](const stdfs::path& w, const stdfs::path&) { fixture::writeFile((w / "user3").string(), Bytes{'f'}); },
         "user3"},
        {"a link to a folder outside", true,
         [](const stdfs::path& w, const stdfs::path& o) {
             stdfs::create_directory(o / "victim");
             stdfs::create_directory_symlink(o / "victim", w / "user3");
         },
         "user3@"},
        {"a dangling link", true,
         [](const stdfs::path& w, const stdfs::path& o) { stdfs::create_symlink(o / "nowhere", w / "user3"); },
         "user3@"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.posixOnly && testutil::kWindows) continue;
        stdfs::remove_all(work);
        stdfs::remove_all(outside.path() / "victim");
        stdfs::create_directory(work);
        c.put(work, outside.path());
        const UserDisk disk;
        const ToolRun r = run(disk.cpm.image());
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out,
                  text(line("TOP.TXT", 256, 4, 9, true) + line("EMPTY", 0, 0, 0, true) +
                       line("user3/NOTE.TXT", 384, 5, 1, false) + line("user3/LONGNAME.DAT", 2304, 5, 9, false)));
        EXPECT_EQ(r.err, text("imgpry: disk 1: cannot write user3: Not a directory\n"
                              "imgpry: disk 1: cannot write user3/NOTE.TXT: its folder could not be made\n"
                              "imgpry: disk 1: cannot write user3/LONGNAME.DAT: its folder could not be made\n"));
        const std::map<std::string, Bytes> files = tree(work);
        EXPECT_EQ(files.count("TOP.TXT"), 1U);
        EXPECT_EQ(files.count(c.left), 1U);
        EXPECT_EQ(files.size(), 3U);
        // Nothing was made through the link.
        if (c.posixOnly) {
            EXPECT_FALSE(stdfs::exists(outside.path() / "nowhere"));
            if (stdfs::exists(outside.path() / "victim")) {
                EXPECT_TRUE(stdfs::is_empty(outside.path() / "victim"));
            }
        }
    }
}

TEST_F(Folders, ABrokenAllocationChainIsSaidAndTheRestIsZeros) {
    // BIG.DAT claims 128 records (16384 bytes) but points to blocks 5 and 6
    // only: block 5 is linear sectors 104..111 (track 6, sectors 9..16),
    // block 6 112..119 (track 7, sectors 1..8), so the chain breaks after
    // track 7 sector 8.
    const Bytes blocks = fixture::pattern(2 * CpmDisk::kBlockBytes, 7);
    const int32_t size = 16384;
    CpmDisk cpm;
    (void)cpm.put(blocks, 5);
    cpm.entry(0, "BIG", "DAT", 128, {5, 6});
    CpmDisk first;
    first.entry(0, "BIG", "DAT", 128, {0, 6});
    struct Case {
        const char* what;
        Bytes image;
        bool written;
        std::string err;
        size_t zerosFrom, zerosTo;  // bytes of the two blocks that are zero in the file
    };
    const std::vector<Case> cases = {
        {"the chain alone", cpm.image(), true,
         "imgpry: disk 1: partly read BIG.DAT: 4096 of 16384 bytes, the allocation chain breaks after trk=07 "
         "sec=08; the rest is zeros\n",
         0, 0},
        // Sector 10 of track 6 is linear sector 105, bytes 256..511 of block 5.
        {"and a sector missing before it", cpm.image(6, 10), true,
         "imgpry: disk 1: partly read BIG.DAT: 3840 of 16384 bytes, trk=06 sec=0a is missing; the rest is zeros\n"
         "imgpry: disk 1: partly read BIG.DAT: 3840 of 16384 bytes, the allocation chain breaks after trk=07 "
         "sec=08; the rest is zeros\n",
         256, 512},
        {"before the first block", first.image(), false,
         "imgpry: disk 1: cannot read BIG.DAT: the allocation chain breaks before the file's first sector\n", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        stdfs::remove_all(work);
        stdfs::create_directory(work);
        const ToolRun r = run(c.image);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, text(c.err));
        if (!c.written) {
            EXPECT_TRUE(r.files.empty());
            continue;
        }
        EXPECT_EQ(r.out, text(line("BIG.DAT", size, 6, 9, true)));
        Bytes want = blocks;
        std::fill(want.begin() + static_cast<std::ptrdiff_t>(c.zerosFrom),
                  want.begin() + static_cast<std::ptrdiff_t>(c.zerosTo), 0);
        want.resize(static_cast<size_t>(size), 0);
        EXPECT_EQ(r.files, (std::map<std::string, Bytes>{{"BIG.DAT", want}}));
    }
}

}  // namespace

namespace {

// A Hu-BASIC disk built from its published layout (see the fixture
// builder): a file with a date at the top, a subdirectory GAMES with a
// file, a subdirectory named ".." with a file, and a file whose chain
// breaks: its one cluster (track 8) is marked free in the FAT.
Bytes huBasicImage() {
    fixture::HuBasicDisk hu("HU");
    hu.entry(1, 0, fixture::huBasicEntry(0x01, "TOP", "BIN", 300, 2, {0x86, 0x43, 0x17, 0x09, 0x05, 0x59}))
        .store({2}, fixture::pattern(300, 1))
        .entry(1, 1, fixture::huBasicEntry(0x80, "GAMES", "", 0, 4))
        .directory(4)
        .entry(4, 0, fixture::huBasicEntry(0x02, "INNER", "BAS", 300, 5))
        .store({5}, fixture::pattern(300, 2))
        .entry(1, 2, fixture::huBasicEntry(0x80, "A/B", "", 0, 6))
        .directory(6)
        .entry(6, 0, fixture::huBasicEntry(0x01, "ESC", "BIN", 10, 7))
        .store({7}, fixture::pattern(10, 3))
        .entry(1, 3, fixture::huBasicEntry(0x01, "BROKEN", "BIN", 5000, 8))
        .store({8, 9}, fixture::pattern(5000, 4))
        .fat(9, 0x00);
    return fixture::container({hu.build()});
}

TEST_F(Folders, HuBasicSubdirectoriesUnsafeFolderNamesChainsAndDates) {
    const ToolRun r = run(huBasicImage());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, text(line("TOP.BIN", 300, 2, 1, true) + line("GAMES/INNER.BAS", 300, 5, 1, true) +
                          line("A/B/ESC.BIN", 10, 7, 1, false) + line("BROKEN.BIN", 5000, 8, 1, true)));
    EXPECT_EQ(r.err, text("imgpry: disk 1: cannot write A/B: unsafe folder name\n"
                          "imgpry: disk 1: cannot write A/B/ESC.BIN: its folder could not be made\n"
                          "imgpry: disk 1: partly read BROKEN.BIN: 4096 of 5000 bytes, the allocation chain breaks "
                          "after trk=08 sec=10; the rest is zeros\n"));
    Bytes broken = fixture::pattern(5000, 4);
    std::fill(broken.begin() + 4096, broken.end(), 0);
    EXPECT_EQ(tree(work), (std::map<std::string, Bytes>{{"TOP.BIN", fixture::pattern(300, 1)},
                                                        {"GAMES/", {}},
                                                        {"GAMES/INNER.BAS", fixture::pattern(300, 2)},
                                                        {"BROKEN.BIN", broken}}));
#if !defined(_WIN32)
    // The BCD date 86-04-17 09:05:59, as local time.
    struct tm local {};
    local.tm_year = 86;
    local.tm_mon = 3;
    local.tm_mday = 17;
    local.tm_hour = 9;
    local.tm_min = 5;
    local.tm_sec = 59;
    local.tm_isdst = -1;
    struct stat st {};
    ASSERT_EQ(stat((work / "TOP.BIN").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, mktime(&local));
#endif
}

}  // namespace
