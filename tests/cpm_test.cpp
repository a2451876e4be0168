// CP/M disks of the X1 turbo 2D format: the real disk, disks written by
// cpmtools, and disks built here from the directory layout to show one
// rule at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "file_system.h"
#include "file_systems.h"
#include "image_builder.h"
#include "run_tool.h"
#include "test_util.h"

namespace fs = imgpry::fs;
using fixture::Bytes;

namespace {

constexpr int kTracks = 80;
constexpr int kSpt = 16;
constexpr int kSectorBytes = 256;
constexpr int kBlockBytes = 2048;
constexpr int kReserved = 4;

imgpry::DiskImage& reader() {
    static imgpry::DiskImage image;
    return image;
}

// The order the real disk stores its data tracks' sectors in: 1, 14, 11, 8, ...
uint8_t interleavedId(int k) { return static_cast<uint8_t>(1 + (k * 13) % kSpt); }

// A raw image (tracks × kSpt sectors of 256 bytes, in ID order, as cpmtools
// writes it) as a D88 disk: linear track t is cylinder t / 2, head t % 2;
// from track 4 on the sectors are stored interleaved, as on the real disk.
fixture::Disk rawToD88(const Bytes& raw) {
    fixture::Disk d;
    for (int t = 0; t < kTracks; ++t) {
        for (int k = 0; k < kSpt; ++k) {
            const uint8_t r = t < kReserved ? static_cast<uint8_t>(k + 1) : interleavedId(k);
            fixture::Sector s = fixture::sector(static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2), r, 1);
            const size_t at = (static_cast<size_t>(t) * kSpt + (r - 1U)) * kSectorBytes;
            if (at + kSectorBytes <= raw.size()) {
                std::copy(raw.begin() + static_cast<std::ptrdiff_t>(at),
                          raw.begin() + static_cast<std::ptrdiff_t>(at + kSectorBytes), s.data.begin());
            } else {
                std::fill(s.data.begin(), s.data.end(), 0xE5);
            }
            d.tracks[t].push_back(s);
        }
    }
    return d;
}

// A raw X1 turbo disk built from the directory layout: 64 entries of 32
// bytes in block 0 (track 4), blocks of 2048 bytes after it, all 0xE5 as
// formatted.
struct RawCpm {
    Bytes raw = Bytes(static_cast<size_t>(kTracks) * kSpt * kSectorBytes, 0xE5);

    uint8_t* block(size_t b) { return raw.data() + (size_t{kReserved} * kSpt + b * 8) * kSectorBytes; }
    uint8_t* entry(size_t slot) { return block(0) + slot * 32; }

    // Entry slot: user, name (8) and extension (3) padded with spaces, EX,
    // S2, RC, block pointers; S1 left 0.
    RawCpm& file(size_t slot, uint8_t user, const std::string& name, const std::string& ext, uint8_t ex, uint8_t s2,
                 uint8_t rc, const std::vector<uint8_t>& blocks) {
        uint8_t* e = entry(slot);
        std::fill(e, e + 32, 0);
        e[0] = user;
        for (size_t k = 0; k < 8; ++k) e[1 + k] = k < name.size() ? static_cast<uint8_t>(name[k]) : ' ';
        for (size_t k = 0; k < 3; ++k) e[9 + k] = k < ext.size() ? static_cast<uint8_t>(ext[k]) : ' ';
        e[12] = ex;
        e[14] = s2;
        e[15] = rc;
        for (size_t k = 0; k < blocks.size() && k < 16; ++k) e[16 + k] = blocks[k];
        return *this;
    }
    // Fills blocks first..last with a pattern of their own and returns it.
    Bytes fillBlocks(size_t first, size_t last) {
        Bytes all;
        for (size_t b = first; b <= last; ++b) {
            const Bytes p = fixture::pattern(kBlockBytes, static_cast<uint32_t>(b) * 31U);
            std::copy(p.begin(), p.end(), block(b));
            all.insert(all.end(), p.begin(), p.end());
        }
        return all;
    }
    fixture::Disk disk() const { return rawToD88(raw); }
};

// Drops the record of sector (track, r) from a disk.
void dropSector(fixture::Disk& d, int track, int r) {
    auto& records = d.tracks[track];
    records.erase(std::remove_if(records.begin(), records.end(), [&](const fixture::Sector& s) { return s.r == r; }),
                  records.end());
}

struct Item {
    std::string path;
    fs::EntryKind kind = fs::EntryKind::kFile;
    int32_t size = 0, track = 0, sector = 0;
    bool written = false;
    Bytes data;
    int32_t got = 0, shortCount = 0;
    bool broken = false;
    int32_t breakTrack = 0, breakSector = 0;
};

struct Read {
    bool recognised = false;
    std::vector<Item> items;
    std::vector<fs::Problem> problems;
};

// Opens image (kept alive by the caller) and reads its first disk as CP/M:
// whether it is recognised, then every entry and file.
Read readCpm(const Bytes& image) {
    static fs::Catalogue catalogue;
    static uint8_t buffer[fs::kMaxFileBytes];
    static fs::RunReport report;
    imgpry::DiskImage& disk = reader();
    Read result;
    if (!disk.openMemory(image.data(), image.size()) || !disk.selectDisk(0)) return result;
    fs::FileSystem& cpm = fs::cpmFileSystem();
    result.recognised = cpm.recognise(disk);
    if (!result.recognised) return result;
    cpm.readCatalogue(disk, catalogue);
    for (int32_t i = 0; i < catalogue.problemCount; ++i) result.problems.push_back(catalogue.problems[i]);
    for (int32_t i = 0; i < catalogue.count; ++i) {
        const fs::CatalogueEntry& e = catalogue.entries[i];
        char path[1024];
        Item item;
        item.path = fs::entryPath(catalogue, i, path, sizeof path);
        item.kind = e.kind;
        item.size = e.size;
        item.track = e.firstTrack;
        item.sector = e.firstSector;
        if (e.kind == fs::EntryKind::kFile) {
            item.written = cpm.readFile(disk, catalogue, i, buffer, fs::kMaxFileBytes, report, nullptr);
            if (item.written) item.data.assign(buffer, buffer + e.size);
            item.got = report.got;
            item.shortCount = report.shortCount;
            item.broken = report.chainBroken;
            item.breakTrack = report.breakTrack;
            item.breakSector = report.breakSector;
        }
        result.items.push_back(item);
    }
    return result;
}

Bytes readData(const std::string& name) { return fixture::readFile(std::string(IMGPRY_TEST_DATA) + "/" + name); }

// b followed by zeros up to size bytes: a last record as cpmtools pads it.
Bytes zeroPadded(Bytes b, size_t size) {
    b.resize(size, 0);
    return b;
}

uint64_t fnv1a(const Bytes& b) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (uint8_t x : b) h = (h ^ x) * 0x100000001b3ULL;
    return h;
}

TEST(CpmRealDisk, ListsAndReadsHogeAndWm) {
    const Bytes image = readData("real-d88/CPM_Format_2D_turboCPM_X1turbo.d88");
    ASSERT_FALSE(image.empty());
    ASSERT_TRUE(reader().openMemory(image.data(), image.size()));
    ASSERT_TRUE(reader().selectDisk(0));
    bool recognised = false;
    fs::FileSystem& found = fs::recogniseDisk(reader(), recognised);
    EXPECT_TRUE(recognised);
    EXPECT_STREQ(found.name(), "CP/M");
    char text[128];
    EXPECT_STREQ(found.describe(text, sizeof text), "CP/M, 256-byte sectors, 16 per track, 2 heads, 2048-byte blocks");

    const Read r = readCpm(image);
    ASSERT_TRUE(r.recognised);
    EXPECT_TRUE(r.problems.empty());
    ASSERT_EQ(r.items.size(), 2U);
    // HOGE.TXT: 1 record in block 1 (track 4 from sector 9); WM.COM: 120
    // records in blocks 2..9 (track 5 on).
    EXPECT_EQ(r.items[0].path, "HOGE.TXT");
    EXPECT_EQ(r.items[0].size, 128);
    EXPECT_EQ(r.items[0].track, 4);
    EXPECT_EQ(r.items[0].sector, 9);
    Bytes hoge = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    hoge.resize(128, 0x1A);
    EXPECT_EQ(r.items[0].data, hoge);
    EXPECT_EQ(r.items[1].path, "WM.COM");
    EXPECT_EQ(r.items[1].size, 15360);
    EXPECT_EQ(r.items[1].track, 5);
    EXPECT_EQ(r.items[1].sector, 1);
    ASSERT_TRUE(r.items[1].written);
    ASSERT_EQ(r.items[1].data.size(), 15360U);
    EXPECT_EQ(r.items[1].data[0], 0xC3);
    // The same bytes as cpmtools copies out of the disk's sectors laid out
    // in ID order.
    EXPECT_EQ(fnv1a(r.items[1].data), 0x88ad2a321f5862e2ULL);
    EXPECT_EQ(r.items[1].got, 15360);
}

class AreaCount final : public fs::AreaVisitor {
public:
    std::map<std::pair<fs::AreaKind, int32_t>, std::vector<int32_t>> sectors;  // (kind, track) -> IDs
    void area(fs::AreaKind kind, const fs::SectorId& s) override { sectors[{kind, s.track}].push_back(s.r); }
};

TEST(CpmRealDisk, AreasAreTheSystemTracksAndTheDirectoryBlock) {
    const Bytes image = readData("real-d88/CPM_Format_2D_turboCPM_X1turbo.d88");
    ASSERT_TRUE(readCpm(image).recognised);
    AreaCount count;
    fs::cpmFileSystem().visitAreas(reader(), count);
    std::map<std::pair<fs::AreaKind, int32_t>, std::vector<int32_t>> want;
    for (int t = 0; t < 4; ++t) {
        for (int r = 1; r <= 16; ++r) want[{fs::AreaKind::kSystem, t}].push_back(r);
    }
    for (int r = 1; r <= 8; ++r) want[{fs::AreaKind::kDirectory, 4}].push_back(r);
    EXPECT_EQ(count.sectors, want);
}

TEST(CpmRecognition, OtherSystemsDisksAreNotCpm) {
    const Bytes huBasic = readData("real-d88/HuBASIC_Format_2D.d88");
    ASSERT_FALSE(huBasic.empty());
    EXPECT_FALSE(readCpm(huBasic).recognised);  // its track 4 is 0xE5 throughout
    fixture::FileSystemDisk builtin;
    builtin.addFile("GAME", "BIN", 4, 1, fixture::pattern(3000, 1));
    EXPECT_FALSE(readCpm(builtin.build()).recognised);
}

TEST(CpmRecognition, JudgesEveryEntryAndTheGeometry) {
    struct Case {
        const char* what;
        std::function<void(RawCpm&)> entries;
        std::function<void(fixture::Disk&)> disk;
        bool recognised;
    };
    const auto same = [](RawCpm&) {};
    const auto whole = [](fixture::Disk&) {};
    const std::vector<Case> cases = {
        {"one file", same, whole, true},
        {"attribute bits on name bytes",
         [](RawCpm& c) {
             c.entry(0)[9] |= 0x80;
             c.entry(0)[10] |= 0x80;
         },
         whole, true},
        {"user 15", [](RawCpm& c) { c.entry(0)[0] = 15; }, whole, true},
        {"user 16", [](RawCpm& c) { c.entry(0)[0] = 16; }, whole, false},
        {"a label entry (0x20)", [](RawCpm& c) { c.entry(1)[0] = 0x20; }, whole, false},
        {"a control byte in the name", [](RawCpm& c) { c.entry(0)[3] = 0x01; }, whole, false},
        {"last block 151", [](RawCpm& c) { c.entry(0)[17] = 151; }, whole, true},
        {"block 152, past the disk", [](RawCpm& c) { c.entry(0)[17] = 152; }, whole, false},
        {"a block twice in one entry", [](RawCpm& c) { c.entry(0)[17] = 1; }, whole, false},
        {"a block in two files", [](RawCpm& c) { c.file(5, 0, "B", "", 0, 0, 1, {1}); }, whole, false},
        {"an erased entry claiming a block in use",
         [](RawCpm& c) {
             c.file(5, 0, "GONE", "", 0, 0, 1, {1});
             c.entry(5)[0] = 0xE5;
         },
         whole, true},
        {"record count 129", [](RawCpm& c) { c.entry(0)[15] = 129; }, whole, false},
        {"S2 = 1: an extent past the disk's end", [](RawCpm& c) { c.entry(0)[14] = 1; }, whole, false},
        {"a data track of 1024-byte sectors", same,
         [](fixture::Disk& d) { d.tracks[40] = {fixture::sector(20, 0, 1, 3, 0xE5)}; }, false},
        {"a sector ID past 16 on a data track", same, [](fixture::Disk& d) { d.tracks[79][3].r = 17; }, false},
        {"a data track missing (damage, not another format)", same, [](fixture::Disk& d) { d.tracks.erase(40); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawCpm cpm;
        cpm.file(0, 0, "A", "TXT", 0, 0, 16, {1});
        c.entries(cpm);
        fixture::Disk d = cpm.disk();
        c.disk(d);
        EXPECT_EQ(readCpm(d.build()).recognised, c.recognised);
    }
}

TEST(CpmRecognition, AnEmptyDirectoryIsCpmOnlyOnAnOtherwiseBlankDisk) {
    struct Case {
        const char* what;
        std::function<void(fixture::Disk&)> change;
        bool recognised;
    };
    const std::vector<Case> cases = {
        {"freshly formatted", [](fixture::Disk&) {}, true},
        {"a FAT-like byte in a system track", [](fixture::Disk& d) { d.tracks[0][14].data[0] = 0x01; }, false},
        {"a system sector missing", [](fixture::Disk& d) { dropSector(d, 2, 5); }, false},
        {"a directory sector missing", [](fixture::Disk& d) { dropSector(d, 4, 3); }, false},
        {"a file's name left in an erased entry",
         [](fixture::Disk& d) {
             auto& s = d.tracks[4][0].data;  // ID 1: entries 0..7
             s[1] = 'X';
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fixture::Disk d = RawCpm().disk();
        c.change(d);
        const Read r = readCpm(d.build());
        EXPECT_EQ(r.recognised, c.recognised);
        EXPECT_TRUE(r.items.empty());
    }
}

// A file over three directory entries, stored out of order: EX 4 first,
// then EX 1 and EX 3 (one entry spans two 16 KiB extents), with S1 bytes
// that mean nothing here; users 0, 1 and 3.
struct Spread {
    RawCpm cpm;
    Bytes blocks;  // the big file's blocks 1..33 in order
    Spread() {
        blocks = cpm.fillBlocks(1, 33);
        std::vector<uint8_t> first, second;
        for (uint8_t b = 1; b <= 16; ++b) first.push_back(b);
        for (uint8_t b = 17; b <= 32; ++b) second.push_back(b);
        cpm.file(0, 0, "BIG", "DAT", 4, 0, 0x10, {33});
        cpm.file(1, 3, "NOTE", "", 0, 0, 2, {40});
        cpm.file(2, 0, "BIG", "DAT", 1, 0, 0x80, first);
        cpm.file(3, 1, "ONE", "A", 0, 0, 1, {41});
        cpm.file(4, 0, "BIG", "DAT", 3, 0, 0x80, second);
        cpm.file(5, 0, "EMPTY", "", 0, 0, 0, {});
        cpm.file(6, 3, "BIG", "DAT", 0, 0, 3, {42});
        cpm.entry(2)[13] = 5;
        cpm.entry(0)[13] = 0x7F;
        cpm.entry(3)[1] |= 0x80;  // an attribute bit on a name byte
        (void)cpm.fillBlocks(40, 42);
    }
};

TEST(CpmCatalogue, UsersAreFoldersAndExtentsGiveSizeAndOrder) {
    Spread s;
    const Read r = readCpm(s.cpm.disk().build());
    ASSERT_TRUE(r.recognised);
    std::vector<std::string> paths;
    for (const Item& i : r.items) paths.push_back(i.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"BIG.DAT", "EMPTY", "user1", "user1/ONE.A", "user3", "user3/NOTE",
                                               "user3/BIG.DAT"}));
    EXPECT_EQ(r.items[2].kind, fs::EntryKind::kFolder);
    EXPECT_EQ(r.items[4].kind, fs::EntryKind::kFolder);

    // From the entry with the highest extent: (4 × 128 + 16) records, not
    // the sum of the record counts; blocks in extent order.
    const Item& big = r.items[0];
    EXPECT_EQ(big.size, (4 * 128 + 16) * 128);
    EXPECT_EQ(big.track, 4);
    EXPECT_EQ(big.sector, 9);
    ASSERT_TRUE(big.written);
    EXPECT_EQ(big.data, Bytes(s.blocks.begin(), s.blocks.begin() + big.size));
    EXPECT_FALSE(big.broken);

    const Item& empty = r.items[1];
    EXPECT_EQ(empty.size, 0);
    EXPECT_EQ(empty.track, 0);
    EXPECT_EQ(empty.sector, 0);
    EXPECT_TRUE(empty.written);  // written as an empty file

    EXPECT_EQ(r.items[3].size, 128);
    EXPECT_EQ(r.items[5].size, 256);
    EXPECT_EQ(r.items[6].size, 384);
    // Block 42: linear sector 64 + 42 × 8 = 400, track 25 ID 1.
    EXPECT_EQ(r.items[6].track, 25);
    EXPECT_EQ(r.items[6].sector, 1);
}

TEST(CpmReadFile, RecoversSectorsAndBreaksWhereAPieceIsMissing) {
    struct Case {
        const char* what;
        std::function<void(RawCpm&)> entries;
        std::function<void(fixture::Disk&)> disk;
        bool written;
        int32_t got;
        bool broken;
        int32_t breakTrack, breakSector;
        int32_t zerosFrom, zerosTo;  // bytes expected zero
    };
    const auto same = [](RawCpm&) {};
    const auto whole = [](fixture::Disk&) {};
    const int32_t size = (4 * 128 + 16) * 128;
    const std::vector<Case> cases = {
        {"whole", same, whole, true, size, false, 0, 0, 0, 0},
        // The second entry (blocks 17..32) is gone: the file ends after block
        // 16's last sector, linear sector 64 + 16 × 8 + 7 = 199 (track 12 ID 8).
        {"an entry missing", [](RawCpm& c) { c.entry(4)[0] = 0xE5; }, whole, true, 16 * 2048, true, 12, 8, 16 * 2048,
         size},
        // Block pointer 6 of the first entry is 0: after block 5's last sector
        // (linear 64 + 47 = 111, track 6 ID 16).
        {"a block pointer 0", [](RawCpm& c) { c.entry(2)[16 + 5] = 0; }, whole, true, 5 * 2048, true, 6, 16, 5 * 2048,
         size},
        // Block 1 starts at linear sector 72: track 4 ID 9.
        {"the first sector missing", same, [](fixture::Disk& d) { dropSector(d, 4, 9); }, false, 0, false, 0, 0, 0, 0},
        {"the first block pointer 0", [](RawCpm& c) { c.entry(2)[16] = 0; }, whole, false, 0, true, 0, 0, 0, 0},
        // Linear sector 75, track 4 ID 12: bytes 768..1023 of block 1.
        {"a sector missing inside", same, [](fixture::Disk& d) { dropSector(d, 4, 12); }, true, size - 256, false, 0, 0,
         768, 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Spread s;
        c.entries(s.cpm);
        fixture::Disk d = s.cpm.disk();
        c.disk(d);
        const Read r = readCpm(d.build());
        ASSERT_TRUE(r.recognised);
        ASSERT_FALSE(r.items.empty());
        const Item& big = r.items[0];
        ASSERT_EQ(big.path, "BIG.DAT");
        EXPECT_EQ(big.size, size);  // the size the directory gives
        EXPECT_EQ(big.written, c.written);
        EXPECT_EQ(big.got, c.got);
        EXPECT_EQ(big.broken, c.broken);
        EXPECT_EQ(big.breakTrack, c.breakTrack);
        EXPECT_EQ(big.breakSector, c.breakSector);
        if (!big.written) continue;
        Bytes want(s.blocks.begin(), s.blocks.begin() + size);
        std::fill(want.begin() + c.zerosFrom, want.begin() + c.zerosTo, 0);
        EXPECT_EQ(big.data, want);
    }
}

TEST(CpmDirectory, AMissingDirectorySectorIsNotedAndTheRestListed) {
    RawCpm cpm;
    cpm.fillBlocks(1, 2);
    cpm.file(0, 0, "KEPT", "TXT", 0, 0, 1, {1});
    cpm.file(9, 0, "LOST", "TXT", 0, 0, 1, {2});  // in the directory's second sector
    fixture::Disk d = cpm.disk();
    dropSector(d, 4, 2);
    const Read r = readCpm(d.build());
    ASSERT_TRUE(r.recognised);
    ASSERT_EQ(r.items.size(), 1U);
    EXPECT_EQ(r.items[0].path, "KEPT.TXT");
    ASSERT_EQ(r.problems.size(), 1U);
    const fs::Problem& p = r.problems[0];
    EXPECT_EQ(p.kind, fs::ProblemKind::kArea);
    EXPECT_STREQ(p.what, "the directory");
    EXPECT_EQ(p.entry, -1);
    EXPECT_EQ(p.wanted, 2048);
    EXPECT_EQ(p.got, 2048 - 256);
    EXPECT_EQ(p.firstShort.track, 4);
    EXPECT_EQ(p.firstShort.sector, 2);
}

// cpmtools writes the disks below with a diskdefs file of the X1 turbo
// format in the working directory.
constexpr const char* kDiskdefs =
    "diskdef x1turbo\n  seclen 256\n  tracks 80\n  sectrk 16\n  blocksize 2048\n  maxdir 64\n  skew 0\n"
    "  boottrk 4\n  os 2.2\nend\n";

bool haveCpmtools() {
    if (testutil::kWindows) return false;
    return std::system("command -v mkfs.cpm >/dev/null 2>&1 && command -v cpmcp >/dev/null 2>&1") == 0;
}

// Runs a shell command in dir; its exit status.
int run(const testutil::TempDir& dir, const std::string& command) {
    return std::system(("cd " + testutil::quoted(dir.path().string()) + " && " + command + " >/dev/null 2>&1").c_str());
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

TEST(CpmTools, ReadsWhatCpmcpWroteAndCopiesBackOut) {
    if (!haveCpmtools()) GTEST_SKIP() << "cpmtools is not installed";
    testutil::TempDir dir;
    ASSERT_TRUE(fixture::writeFile(dir.file("diskdefs"), Bytes(kDiskdefs, kDiskdefs + std::strlen(kDiskdefs))));
    std::filesystem::create_directories(dir.path() / "in0");
    std::filesystem::create_directories(dir.path() / "in3");
    // Sizes: a few bytes, one extent exactly, past one and two extents
    // (a second directory entry), past 64 KiB (a third), nothing.
    const std::map<std::string, size_t> user0 = {{"small.txt", 5},   {"exact.bin", 16384}, {"over16k.bin", 20000},
                                                 {"over32k", 40000}, {"big.dat", 70000},   {"empty", 0}};
    const std::map<std::string, size_t> user3 = {{"three.txt", 300}, {"over32k", 33000}};
    uint32_t seed = 1;
    for (const auto& [name, size] : user0)
        ASSERT_TRUE(fixture::writeFile(dir.file("in0/" + name), fixture::pattern(size, seed++)));
    for (const auto& [name, size] : user3)
        ASSERT_TRUE(fixture::writeFile(dir.file("in3/" + name), fixture::pattern(size, seed++)));
    ASSERT_EQ(run(dir, "mkfs.cpm -f x1turbo disk.img"), 0);
    ASSERT_EQ(run(dir, "cpmcp -f x1turbo disk.img in0/* 0:"), 0);
    ASSERT_EQ(run(dir, "cpmcp -f x1turbo disk.img in3/* 3:"), 0);
    std::filesystem::create_directories(dir.path() / "out0");
    std::filesystem::create_directories(dir.path() / "out3");
    ASSERT_EQ(run(dir, "cpmcp -f x1turbo disk.img '0:*' out0/"), 0);
    ASSERT_EQ(run(dir, "cpmcp -f x1turbo disk.img '3:*' out3/"), 0);

    // What cpmcp gives back, by the path imgpry lists.
    std::map<std::string, Bytes> back;
    for (const auto& [name, bytes] : testutil::filesIn(dir.path() / "out0")) back[upper(name)] = bytes;
    for (const auto& [name, bytes] : testutil::filesIn(dir.path() / "out3")) back["user3/" + upper(name)] = bytes;
    ASSERT_EQ(back.size(), user0.size() + user3.size());

    const Read r = readCpm(rawToD88(fixture::readFile(dir.file("disk.img"))).build());
    ASSERT_TRUE(r.recognised);
    EXPECT_TRUE(r.problems.empty());
    std::map<std::string, const Item*> listed;
    size_t folders = 0;
    for (size_t i = 0; i < r.items.size(); ++i) {
        const Item& item = r.items[i];
        if (item.kind == fs::EntryKind::kFolder) {
            ++folders;
            EXPECT_EQ(item.path, "user3");
            // Pre-order: everything after the folder is in it.
            for (size_t k = i + 1; k < r.items.size(); ++k) EXPECT_EQ(r.items[k].path.rfind("user3/", 0), 0U);
            continue;
        }
        listed[item.path] = &item;
    }
    EXPECT_EQ(folders, 1U);
    ASSERT_EQ(listed.size(), back.size());
    for (const auto& [path, bytes] : back) {
        SCOPED_TRACE(path);
        ASSERT_EQ(listed.count(path), 1U);
        const Item& item = *listed[path];
        // CP/M 2.2 counts whole records: cpmcp's byte count, which cpmtools
        // keeps in a byte that CP/M 2.2 leaves alone, rounded up to 128.
        EXPECT_EQ(item.size, static_cast<int32_t>((bytes.size() + 127) / 128 * 128));
        ASSERT_TRUE(item.written);
        EXPECT_FALSE(item.broken);
        EXPECT_EQ(item.got, item.size);
        EXPECT_EQ(Bytes(item.data.begin(), item.data.begin() + static_cast<std::ptrdiff_t>(bytes.size())), bytes);
        if (bytes.empty()) {
            EXPECT_EQ(item.track, 0);
        }
    }
}

TEST(CpmTools, AFreshlyMadeDiskIsAnEmptyCpmDisk) {
    if (!haveCpmtools()) GTEST_SKIP() << "cpmtools is not installed";
    testutil::TempDir dir;
    ASSERT_TRUE(fixture::writeFile(dir.file("diskdefs"), Bytes(kDiskdefs, kDiskdefs + std::strlen(kDiskdefs))));
    ASSERT_EQ(run(dir, "mkfs.cpm -f x1turbo disk.img"), 0);
    const Read r = readCpm(rawToD88(fixture::readFile(dir.file("disk.img"))).build());
    EXPECT_TRUE(r.recognised);
    EXPECT_TRUE(r.items.empty());
    EXPECT_TRUE(r.problems.empty());
}

// The listing line imgpry prints for a file read whole.
std::string line(const std::string& path, int size, int track, int sector) {
    char buf[200];
    (void)std::snprintf(buf, sizeof buf, "%-12s %8d  trk=%02x sec=%02x ... cutted.\n", path.c_str(), size, track,
                        sector);
    return buf;
}

TEST(CpmTool, ExtractsTheRealDisk) {
    testutil::TempDir work;
    const testutil::ToolRun r = testutil::runImgpryIn(
        work.path(),
        {testutil::hostPath(std::string(IMGPRY_TEST_DATA) + "/real-d88/CPM_Format_2D_turboCPM_X1turbo.d88")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, testutil::text(line("HOGE.TXT", 128, 4, 9) + line("WM.COM", 15360, 5, 1)));
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.files.size(), 2U);
    Bytes hoge = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    hoge.resize(128, 0x1A);
    EXPECT_EQ(r.files.at("HOGE.TXT"), hoge);
    ASSERT_EQ(r.files.count("WM.COM"), 1U);
    EXPECT_EQ(fnv1a(r.files.at("WM.COM")), 0x88ad2a321f5862e2ULL);
}

TEST(CpmTool, PutsUserThreeInItsFolder) {
    if (!haveCpmtools()) GTEST_SKIP() << "cpmtools is not installed";
    testutil::TempDir dir;
    ASSERT_TRUE(fixture::writeFile(dir.file("diskdefs"), Bytes(kDiskdefs, kDiskdefs + std::strlen(kDiskdefs))));
    std::filesystem::create_directories(dir.path() / "in0");
    std::filesystem::create_directories(dir.path() / "in3");
    const Bytes a = fixture::pattern(300, 1);
    const Bytes b = fixture::pattern(5000, 2);
    ASSERT_TRUE(fixture::writeFile(dir.file("in0/a.txt"), a));
    ASSERT_TRUE(fixture::writeFile(dir.file("in3/b.bin"), b));
    ASSERT_TRUE(fixture::writeFile(dir.file("in3/e"), Bytes{}));
    ASSERT_EQ(run(dir, "mkfs.cpm -f x1turbo disk.img"), 0);
    ASSERT_EQ(run(dir, "cpmcp -f x1turbo disk.img in0/a.txt 0:"), 0);
    ASSERT_EQ(run(dir, "cpmcp -f x1turbo disk.img in3/b.bin in3/e 3:"), 0);
    ASSERT_TRUE(fixture::writeFile(dir.file("disk.d88"), rawToD88(fixture::readFile(dir.file("disk.img"))).build()));

    testutil::TempDir work;
    const testutil::ToolRun r = testutil::runImgpryIn(work.path(), {dir.file("disk.d88")});
    EXPECT_EQ(r.status, 0);
    // cpmtools takes blocks in order: A.TXT block 1 (track 4 from ID 9),
    // B.BIN blocks 2 and 3 (track 5 from ID 1); sizes in whole records.
    EXPECT_EQ(r.out,
              testutil::text(line("A.TXT", 384, 4, 9) + line("user3/B.BIN", 5120, 5, 1) + line("user3/E", 0, 0, 0)));
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.files.size(), 1U);
    EXPECT_EQ(r.files.at("A.TXT"), zeroPadded(a, 384));
    const auto three = testutil::filesIn(work.path() / "user3");
    ASSERT_EQ(three.size(), 2U);
    EXPECT_EQ(three.at("B.BIN"), zeroPadded(b, 5120));
    EXPECT_TRUE(three.at("E").empty());
}

}  // namespace
