// The BASIC disk systems through the file system interface: the real
// Hu-BASIC disk of tests/data, and Hu-BASIC and N88-BASIC disks that the
// fixture builder makes from the published layouts of those systems.
#include <gtest/gtest.h>
#include <imgpry/disk_image.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "file_system.h"
#include "file_systems.h"
#include "image_builder.h"

namespace fs = imgpry::fs;
using fixture::Bytes;

namespace {

imgpry::DiskImage& image() {
    static auto* held = new imgpry::DiskImage;
    return *held;
}

fs::Catalogue& catalogue() {
    static auto* held = new fs::Catalogue;
    return *held;
}

// Keeps the bytes of the image open for as long as it is.
Bytes& openBytes() {
    static Bytes held;
    return held;
}

Bytes realDisk(const std::string& name) {
    return fixture::readFile(std::string(IMGPRY_TEST_DATA) + "/real-d88/" + name);
}

// Opens bytes as an image, selects its first disk and returns the file
// system recogniseDisk finds there.
fs::FileSystem& open(const Bytes& bytes, bool& recognised) {
    openBytes() = bytes;
    EXPECT_TRUE(image().openMemory(openBytes().data(), openBytes().size()));
    EXPECT_TRUE(fs::selectDisk(image(), 0));
    return fs::recogniseDisk(image(), recognised);
}

// Opens bytes, expects system to be the one recognised, and reads the
// catalogue.
const fs::Catalogue& read(const Bytes& bytes, fs::FileSystem& system) {
    bool recognised = false;
    fs::FileSystem& found = open(bytes, recognised);
    EXPECT_TRUE(recognised);
    EXPECT_EQ(&found, &system) << found.name();
    system.readCatalogue(image(), catalogue());
    return catalogue();
}

struct Listed {
    std::string path;
    fs::EntryKind kind;
    int32_t size, track, sector;
    bool operator==(const Listed&) const = default;
};

void PrintTo(const Listed& l, std::ostream* os) {
    *os << l.path << (l.kind == fs::EntryKind::kFolder ? "/ " : " ") << l.size << " " << l.track << ":" << l.sector;
}

std::vector<Listed> listing(const fs::Catalogue& c) {
    std::vector<Listed> out;
    for (int32_t i = 0; i < c.count; ++i) {
        char path[4096];
        const fs::CatalogueEntry& e = c.entries[i];
        out.push_back({fs::entryPath(c, i, path, sizeof path), e.kind, e.size, e.firstTrack, e.firstSector});
    }
    return out;
}

int32_t indexOf(const fs::Catalogue& c, const std::string& path) {
    for (int32_t i = 0; i < c.count; ++i) {
        char buf[4096];
        if (path == fs::entryPath(c, i, buf, sizeof buf)) return i;
    }
    ADD_FAILURE() << "no entry " << path;
    return -1;
}

std::vector<std::string> notes(const fs::Catalogue& c) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < c.problemCount; ++i) {
        const fs::Problem& p = c.problems[i];
        char path[4096] = "";
        if (p.entry >= 0) fs::entryPath(c, p.entry, path, sizeof path);
        out.push_back(std::string(path) + (p.kind == fs::ProblemKind::kArea ? " area: " : ": ") + p.what);
    }
    return out;
}

struct FileRead {
    bool written = false;
    Bytes data;
    fs::RunReport* report = nullptr;
};

FileRead readEntry(fs::FileSystem& system, const fs::Catalogue& c, const std::string& path) {
    static auto* report = new fs::RunReport;
    static auto* buffer = new uint8_t[fs::kMaxFileBytes];
    FileRead r;
    r.report = report;
    const int32_t index = indexOf(c, path);
    if (index < 0) return r;
    r.written = system.readFile(image(), c, index, buffer, fs::kMaxFileBytes, *report, nullptr);
    r.data.assign(buffer, buffer + c.entries[index].size);
    return r;
}

Bytes cat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

Bytes rawSectors(int track, int firstR, int count) {
    Bytes out;
    for (int r = firstR; r < firstR + count; ++r) {
        uint8_t buf[256];
        EXPECT_EQ(image().readSector(track, track >> 1, track & 1, r, 1, buf, 256), 256);
        out.insert(out.end(), buf, buf + 256);
    }
    return out;
}

// BCD: year, month·16 + weekday, day, hour, minute, second.
const Bytes kDate = {0x86, 0x43, 0x17, 0x09, 0x05, 0x59};  // 1986-04-17 09:05:59, a Thursday

TEST(HuBasicRealDisk, ListsAndReadsItsTwoFiles) {
    fs::FileSystem& hu = fs::huBasicFileSystem();
    const fs::Catalogue& c = read(realDisk("HuBASIC_Format_2D.d88"), hu);
    // The BASIC file keeps its size (1,346 bytes) and starts at cluster 2;
    // the ASCII one keeps none and holds the six sectors its chain uses
    // from cluster 3.
    EXPECT_EQ(listing(c), (std::vector<Listed>{{"StopTheClock.Bas", fs::EntryKind::kFile, 1346, 2, 1},
                                               {"StopTheClock.Asc", fs::EntryKind::kFile, 1536, 3, 1}}));
    EXPECT_EQ(c.problemCount, 0);
    const fs::FileDate d = c.entries[0].date;
    EXPECT_EQ((std::vector<int>{d.year, d.month, d.day, d.hour, d.minute, d.second}),
              (std::vector<int>{2022, 2, 2, 21, 33, 0}));
    EXPECT_EQ(c.entries[1].date.minute, 42);

    const FileRead bas = readEntry(hu, c, "StopTheClock.Bas");
    ASSERT_TRUE(bas.written);
    EXPECT_EQ(bas.report->got, 1346);
    EXPECT_FALSE(bas.report->chainBroken);
    Bytes want = rawSectors(2, 1, 6);
    want.resize(1346);
    EXPECT_EQ(bas.data, want);
    EXPECT_EQ(Bytes(bas.data.begin(), bas.data.begin() + 4), (Bytes{0x2D, 0x00, 0x64, 0x00}));  // line 100

    const FileRead asc = readEntry(hu, c, "StopTheClock.Asc");
    ASSERT_TRUE(asc.written);
    EXPECT_EQ(asc.data, rawSectors(3, 1, 6));
    const std::string text(asc.data.begin(), asc.data.end());
    EXPECT_EQ(text.rfind("100 '", 0), 0U);
    EXPECT_NE(text.find("480 GOTO200\r\x1A"), std::string::npos);

    char buf[128];
    EXPECT_STREQ(hu.describe(buf, sizeof buf), "Hu-BASIC, 256-byte sectors, 16 per track, 2 heads");
    const fs::Geometry g = hu.geometry();
    EXPECT_EQ((std::vector<int>{g.firstSector, g.lastSector, g.sizeCode, g.heads}), (std::vector<int>{1, 16, 1, 2}));
}

TEST(HuBasicBuiltDisk, WalksSubdirectoriesInPreOrderWithSizesNamesAndDates) {
    const Bytes big = fixture::pattern(5000, 1);    // two clusters: 16 sectors and 4 of the next
    const Bytes ascii = fixture::pattern(4864, 2);  // 16 + 3 sectors, no size kept
    const Bytes deep = fixture::pattern(300, 3);
    const Bytes last = fixture::pattern(10, 4);
    fixture::HuBasicDisk disk;
    disk.entry(1, 0, fixture::huBasicEntry(0x00, "GONE", "BIN", 10, 9))  // deleted: not listed
        .entry(1, 1, fixture::huBasicEntry(0x01, "BIG", "BIN", 5000, 2, kDate))
        .entry(1, 2, fixture::huBasicEntry(0x80, "SUB", "", 0, 4))
        .entry(1, 3, fixture::huBasicEntry(0x02 | 0x40, "MY PROGRAM", "", 10, 8))
        .store({2, 3}, big)
        .directory(4)
        .entry(4, 0, fixture::huBasicEntry(0x04, "INNER", "ASC", 0, 5));
    for (int slot = 1; slot < 9; ++slot) disk.entry(4, slot, Bytes(32, 0x00));  // never used
    disk.entry(4, 9, fixture::huBasicEntry(0x80, "NESTED", "", 0, 7))           // in the subdirectory's second sector
        .store({5, 6}, ascii)
        .directory(7)
        .entry(7, 0, fixture::huBasicEntry(0x01, "DEEP", "BIN", 300, 10))
        .store({10}, deep)
        .store({8}, last);
    const fs::Catalogue& c = read(disk.build(), fs::huBasicFileSystem());
    EXPECT_EQ(listing(c), (std::vector<Listed>{{"BIG.BIN", fs::EntryKind::kFile, 5000, 2, 1},
                                               {"SUB", fs::EntryKind::kFolder, 0, 4, 1},
                                               {"SUB/INNER.ASC", fs::EntryKind::kFile, 4864, 5, 1},
                                               {"SUB/NESTED", fs::EntryKind::kFolder, 0, 7, 1},
                                               {"SUB/NESTED/DEEP.BIN", fs::EntryKind::kFile, 300, 10, 1},
                                               {"MY PROGRAM", fs::EntryKind::kFile, 10, 8, 1}}));
    EXPECT_EQ(c.problemCount, 0);
    const fs::FileDate d = c.entries[0].date;
    EXPECT_EQ((std::vector<int>{d.year, d.month, d.day, d.hour, d.minute, d.second}),
              (std::vector<int>{1986, 4, 17, 9, 5, 59}));
    EXPECT_EQ(c.entries[2].date.year, 0);  // all zeros: no date

    fs::FileSystem& hu = fs::huBasicFileSystem();
    for (const auto& [path, content] : std::vector<std::pair<std::string, Bytes>>{
             {"BIG.BIN", big}, {"SUB/INNER.ASC", ascii}, {"SUB/NESTED/DEEP.BIN", deep}, {"MY PROGRAM", last}}) {
        SCOPED_TRACE(path);
        const FileRead r = readEntry(hu, c, path);
        EXPECT_TRUE(r.written);
        EXPECT_EQ(r.data, content);
        EXPECT_FALSE(r.report->chainBroken);
    }
    EXPECT_FALSE(readEntry(hu, c, "SUB").written);
}

TEST(HuBasicBuiltDisk, ABrokenChainEndsTheFileAfterItsLastSector) {
    // 6,000 bytes in clusters 2 and 5 of a file whose size says 9,000: the
    // chain as stored ends short of the size, and the FAT is then damaged
    // further.
    struct Case {
        const char* what;
        std::vector<std::pair<int, uint8_t>> fat;
        bool written;
        int32_t got;
        int32_t breakTrack, breakSector;
    };
    const std::vector<Case> cases = {
        {"a last cluster short of the size", {}, true, 4096 + 2048, 5, 8},
        {"a free cluster", {{5, 0x00}}, true, 4096, 2, 16},
        {"an out-of-range cluster", {{2, 0x50}}, true, 4096, 2, 16},
        {"the directory's cluster", {{2, 0x01}}, true, 4096, 2, 16},
        {"a loop", {{5, 0x02}}, true, 4096 + 4096, 5, 16},
        {"a start cluster that is free", {{2, 0x00}}, false, 0, 0, 0},
    };
    const Bytes content = fixture::pattern(6000, 7);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        fixture::HuBasicDisk disk;
        disk.entry(1, 0, fixture::huBasicEntry(0x01, "F", "BIN", 9000, 2)).store({2, 5}, content);
        for (const auto& [cluster, value] : k.fat) disk.fat(cluster, value);
        const fs::Catalogue& c = read(disk.build(), fs::huBasicFileSystem());
        const FileRead r = readEntry(fs::huBasicFileSystem(), c, "F.BIN");
        EXPECT_EQ(r.written, k.written);
        EXPECT_TRUE(r.report->chainBroken);
        EXPECT_EQ(r.report->wanted, 9000);
        EXPECT_EQ(r.report->got, k.got);
        EXPECT_EQ(r.report->breakTrack, k.breakTrack);
        EXPECT_EQ(r.report->breakSector, k.breakSector);
        if (!k.written) continue;
        // What the chain reached stands (a loop reaches no cluster twice),
        // the rest is zeros.
        const auto good = static_cast<std::ptrdiff_t>(std::min<int32_t>(k.got, 6000));
        EXPECT_TRUE(std::equal(content.begin(), content.begin() + good, r.data.begin()));
        EXPECT_EQ(Bytes(r.data.begin() + k.got, r.data.end()), Bytes(static_cast<size_t>(9000 - k.got), 0));
    }

    // Without a size, a file is what its chain holds up to the break, and a
    // note says the size is only that.
    fixture::HuBasicDisk ascii;
    ascii.entry(1, 0, fixture::huBasicEntry(0x04, "A", "ASC", 0, 2)).store({2, 5}, content).fat(5, 0x00);
    const fs::Catalogue& c = read(ascii.build(), fs::huBasicFileSystem());
    ASSERT_EQ(c.count, 1);
    EXPECT_EQ(c.entries[0].size, 4096);
    EXPECT_EQ(notes(c), (std::vector<std::string>{
                            "A.ASC: the allocation chain breaks; the size counts only the sectors before the break"}));
}

TEST(HuBasicBuiltDisk, DamagedDirectoriesAndLoopsEndAndSaySo) {
    fixture::HuBasicDisk disk;
    disk.entry(1, 0, fixture::huBasicEntry(0x80, "A", "", 0, 4))
        .entry(1, 1, fixture::huBasicEntry(0x80, "BROKEN", "", 0, 6))
        .entry(1, 2, fixture::huBasicEntry(0x80, ".", "", 0, 1))  // a name for the folder itself: not a folder
        .entry(1, 30, fixture::huBasicEntry(0x01, "AFTER", "", 1, 9))
        .store({9}, Bytes{0x42})
        .directory(4)
        .entry(4, 0, fixture::huBasicEntry(0x80, "BACK", "", 0, 4))  // leads into A again
        .entry(4, 1, fixture::huBasicEntry(0x80, "TOP", "", 0, 1))   // the top directory's cluster
        .fat(6, 0x00);                                               // BROKEN's chain: a free cluster
    for (int slot = 3; slot < 30; ++slot) disk.entry(1, slot, Bytes(32, 0x00));
    // The top directory's third sector is missing: the entries of the rest
    // still stand.
    auto& top = disk.disk().tracks[1];
    top.erase(top.begin() + 2);
    const fs::Catalogue& c = read(disk.build(), fs::huBasicFileSystem());
    EXPECT_EQ(listing(c), (std::vector<Listed>{{"A", fs::EntryKind::kFolder, 0, 4, 1},
                                               {"A/BACK", fs::EntryKind::kFolder, 0, 4, 1},
                                               {"A/TOP", fs::EntryKind::kFolder, 0, 0, 0},
                                               {"BROKEN", fs::EntryKind::kFolder, 0, 6, 1},
                                               {"AFTER", fs::EntryKind::kFile, 1, 9, 1}}));
    EXPECT_EQ(notes(c), (std::vector<std::string>{
                            "A/BACK: the directory leads into one already read; it is not read again",
                            "A/TOP: the directory's allocation chain breaks; the rest of it is not read",
                            "BROKEN: the directory's allocation chain breaks; the rest of it is not read",
                            " area: the directory",
                        }));
    const fs::Problem& area = c.problems[3];
    EXPECT_EQ(area.shortCount, 1);
    EXPECT_EQ(area.firstShort.track, 1);
    EXPECT_EQ(area.firstShort.sector, 3);

    // A FAT sector that reads with a CRC error still names the disk, and
    // says so.
    fixture::HuBasicDisk marked;
    fixture::sectorData(marked.disk(), 0, 15);
    marked.disk().tracks[0][14].status = 0xB0;
    const fs::Catalogue& m = read(marked.build(), fs::huBasicFileSystem());
    EXPECT_EQ(notes(m), (std::vector<std::string>{" area: the FAT"}));
}

TEST(HuBasicBuiltDisk, FoldersDeeperThanTheBoundAreListedButNotWalked) {
    // Folders D0 in D1 in ... in D39, each in a cluster of its own.
    fixture::HuBasicDisk disk;
    disk.entry(1, 0, fixture::huBasicEntry(0x80, "D0", "", 0, 2));
    for (int k = 0; k < 40; ++k) {
        disk.directory(2 + k);
        disk.entry(2 + k, 0,
                   fixture::huBasicEntry(0x80, "D" + std::to_string(k + 1), "", 0, static_cast<uint16_t>(3 + k)));
    }
    disk.directory(42);
    const fs::Catalogue& c = read(disk.build(), fs::huBasicFileSystem());
    ASSERT_EQ(c.count, fs::kMaxFolderDepth + 1);
    char path[4096];
    const std::string deepest = fs::entryPath(c, c.count - 1, path, sizeof path);
    EXPECT_EQ(deepest.rfind("D0/D1/D2/", 0), 0U);
    EXPECT_EQ(deepest.substr(deepest.size() - 4), "/D32");
    ASSERT_EQ(c.problemCount, 1);
    EXPECT_EQ(c.problems[0].entry, c.count - 1);
}

TEST(N88BasicBuiltDisk, ListsFilesOverSeveralClustersAndSkipsDeletedEntries) {
    const Bytes game = fixture::pattern(20 * 256, 5);  // 8 + 8 + 4 sectors
    const Bytes note = fixture::pattern(100, 6);       // one sector
    fixture::N88BasicDisk disk;
    disk.entry(0, fixture::n88BasicEntry("GAME", "BAS", 0x80, 0x10))
        .entry(1, cat(Bytes{0x00}, Bytes(15, 0x41)))  // deleted
        .entry(2, fixture::n88BasicEntry("README", "", 0x00, 0x21))
        .entry(16, fixture::n88BasicEntry("SECOND", "SEC", 0x01, 0x03))  // in the directory's second sector
        .store({0x10, 0x11, 0x30}, game)
        .store({0x21}, note)
        .store({0x03}, fixture::pattern(3 * 256, 7));
    for (int slot = 3; slot < 16; ++slot) disk.entry(slot, Bytes(16, 0x00));  // deleted
    fs::FileSystem& n88 = fs::n88BasicFileSystem();
    const fs::Catalogue& c = read(disk.build(), n88);
    // Cluster 0x10: track 8, sectors 1-8; 0x21: track 16, sectors 9-16.
    EXPECT_EQ(listing(c), (std::vector<Listed>{{"GAME.BAS", fs::EntryKind::kFile, 20 * 256, 8, 1},
                                               {"README", fs::EntryKind::kFile, 256, 16, 9},
                                               {"SECOND.SEC", fs::EntryKind::kFile, 3 * 256, 1, 9}}));
    EXPECT_EQ(c.problemCount, 0);
    const FileRead r = readEntry(n88, c, "GAME.BAS");
    EXPECT_TRUE(r.written);
    EXPECT_EQ(r.data, game);
    Bytes padded = note;
    padded.resize(256, 0);
    EXPECT_EQ(readEntry(n88, c, "README").data, padded);

    char buf[128];
    EXPECT_STREQ(n88.describe(buf, sizeof buf), "N88-BASIC, 256-byte sectors, 16 per track, 2 heads");
}

TEST(N88BasicBuiltDisk, DisagreeingFatCopiesAreSaidAndTheFirstWholeOneIsUsed) {
    const Bytes content = fixture::pattern(16 * 256, 8);
    fixture::N88BasicDisk disk;
    disk.entry(0, fixture::n88BasicEntry("F", "", 0, 0x20)).store({0x20, 0x21}, content);
    disk.fat(1, 0x21, 0xC1);  // the second copy ends the file a cluster early
    const fs::Catalogue& c = read(disk.build(), fs::n88BasicFileSystem());
    EXPECT_EQ(notes(c), (std::vector<std::string>{": the FAT copies disagree; the first that reads whole is used"}));
    ASSERT_EQ(c.count, 1);
    EXPECT_EQ(c.entries[0].size, 16 * 256);

    // With the first copy missing the second is used: the file is what
    // that one says, and the copies still disagree.
    auto& system = disk.disk().tracks[37];
    system.erase(system.begin() + 13);
    const fs::Catalogue& d = read(disk.build(), fs::n88BasicFileSystem());
    EXPECT_EQ(notes(d), (std::vector<std::string>{": the FAT copies disagree; the first that reads whole is used"}));
    ASSERT_EQ(d.count, 1);
    EXPECT_EQ(d.entries[0].size, 9 * 256);
}

TEST(Detection, OnlyStrongEvidenceNamesABasicDisk) {
    fs::FileSystem& hu = fs::huBasicFileSystem();
    fs::FileSystem& n88 = fs::n88BasicFileSystem();
    fixture::FileSystemDisk sample(40, "SAMPLE");
    sample.addFile("README", "TXT", 2, 1, Bytes(100, 0x41));
    fixture::N88BasicDisk unknownValue;
    unknownValue.fat(-1, 7, 0xA5);
    fixture::N88BasicDisk brokenChain;  // a directory entry starting at a free cluster
    brokenChain.entry(0, fixture::n88BasicEntry("F", "", 0, 0x20));
    fixture::N88BasicDisk notReserved;
    notReserved.fat(-1, 75, 0xFF);
    fixture::Disk e5 = fixture::sixteenSectorDisk(80, 0xE5);
    fixture::HuBasicDisk huWrongFat;
    huWrongFat.fat(1, 0x90);

    struct Case {
        const char* what;
        Bytes bytes;
        bool isHu, isN88;
    };
    const std::vector<Case> cases = {
        {"the real Hu-BASIC disk", realDisk("HuBASIC_Format_2D.d88"), true, false},
        {"the real CP/M disk", realDisk("CPM_Format_2D_turboCPM_X1turbo.d88"), false, false},
        {"the built-in sample", sample.build(), false, false},
        {"a disk of 0xE5", e5.build(), false, false},
        {"a built Hu-BASIC disk", fixture::HuBasicDisk().build(), true, false},
        {"a Hu-BASIC FAT whose directory entry is no last cluster", huWrongFat.build(), false, false},
        {"a built N88-BASIC disk", fixture::N88BasicDisk().build(), false, true},
        {"an N88 FAT holding a value it does not know", unknownValue.build(), false, false},
        {"an N88 directory starting a broken chain", brokenChain.build(), false, false},
        {"an N88 FAT whose system track is not reserved", notReserved.build(), false, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        bool recognised = false;
        (void)open(k.bytes, recognised);
        EXPECT_EQ(hu.recognise(image()), k.isHu);
        EXPECT_EQ(n88.recognise(image()), k.isN88);
    }
}

struct Areas final : fs::AreaVisitor {
    std::vector<std::string> seen;
    void area(fs::AreaKind kind, const fs::SectorId& s) override {
        seen.push_back(std::string(fs::areaName(kind)) + " " + std::to_string(s.track) + ":" + std::to_string(s.r));
    }
};

TEST(Areas, TheFatTheDirectoriesAndTheSystemSectors) {
    fixture::HuBasicDisk hu;
    hu.entry(1, 0, fixture::huBasicEntry(0x80, "SUB", "", 0, 6)).directory(6).fat(6, 0x81);
    (void)read(hu.build(), fs::huBasicFileSystem());
    Areas a;
    fs::huBasicFileSystem().visitAreas(image(), a);
    std::vector<std::string> want = {"FAT 0:15"};
    for (int r = 1; r <= 16; ++r) want.push_back("directory 1:" + std::to_string(r));
    want.insert(want.end(), {"directory 6:1", "directory 6:2"});
    EXPECT_EQ(a.seen, want);

    (void)read(fixture::N88BasicDisk().build(), fs::n88BasicFileSystem());
    Areas b;
    fs::n88BasicFileSystem().visitAreas(image(), b);
    want.clear();
    for (int r = 1; r <= 12; ++r) want.push_back("directory 37:" + std::to_string(r));
    want.insert(want.end(), {"system 37:13", "FAT 37:14", "FAT 37:15", "FAT 37:16"});
    EXPECT_EQ(b.seen, want);
}

}  // namespace
