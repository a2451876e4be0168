// FAT12 disks written by mtools (a FAT implementation of its own, not our
// builder), wrapped in D88 records, read through the file system interface
// and compared with what mtools itself extracts from the same raw image:
// the tree, the bytes and the modification times. Damaged variants take
// the same disks apart sector by sector and link by link.
#include <gtest/gtest.h>
#include <imgpry/disk_image.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "file_system.h"
#include "file_systems.h"
#include "image_builder.h"
#include "mtools.h"
#include "test_util.h"

#if !defined(_WIN32)
namespace fs = imgpry::fs;
using fixture::Bytes;
using testutil::writeWithTime;

namespace {

imgpry::DiskImage gImage;
fs::Catalogue gCatalogue;
fs::RunReport gReport;
uint8_t gData[fs::kMaxFileBytes];

using testutil::sh;

struct Geometry {
    const char* name;
    const char* mformat;  // mformat's options for it
    int cylinders, heads, spt;
    uint8_t n;
    int spf, rootEntries, spc;
    uint8_t media;

    int bps() const { return 128 << n; }
    int dataStart() const { return 1 + 2 * spf + rootEntries * 32 / bps(); }
    int clusters() const { return (cylinders * heads * spt - dataStart()) / spc; }
    int clusterBytes() const { return spc * bps(); }
    size_t clusterOffset(uint32_t c) const {
        return static_cast<size_t>(dataStart() + (static_cast<int>(c) - 2) * spc) * static_cast<size_t>(bps());
    }
};

const Geometry kPc98 = {"PC-98 2HD", "-t 77 -h 2 -s 8 -S 3 -m 0xFE -R 1 -d 2 -L 2 -r 6 -c 1", 77, 2, 8, 3, 2, 192, 1,
                        0xFE};
const Geometry kGeometries[] = {
    kPc98,
    {"720K", "-t 80 -h 2 -s 9", 80, 2, 9, 2, 3, 112, 2, 0xF9},
    {"640K", "-t 80 -h 2 -s 8 -m 0xFB -c 2 -r 7 -L 2", 80, 2, 8, 2, 2, 112, 2, 0xFB},
    {"1.44M", "-t 80 -h 2 -s 18", 80, 2, 18, 2, 9, 224, 1, 0xF0},
};

// The files the disks carry: lower-case 8.3 names, a long name, a name
// with no extension, an empty file, one of exactly one cluster, folders
// within folders, and one file that fills the disk but for a few clusters.
void writeTree(const std::filesystem::path& src, const Geometry& g) {
    std::filesystem::create_directories(src / "SUB" / "DEEP");
    const int cluster = g.clusterBytes();
    ASSERT_TRUE(writeWithTime(src / "lower.txt", fixture::pattern(100, 1), 2001, 2, 3, 4, 5, 6));
    ASSERT_TRUE(writeWithTime(src / "README", fixture::pattern(777, 2), 1999, 12, 31, 23, 59, 58));
    ASSERT_TRUE(writeWithTime(src / "Long file name.text", fixture::pattern(5000, 3), 2010, 6, 7, 8, 9, 10));
    ASSERT_TRUE(writeWithTime(src / "empty", {}, 2020, 1, 1, 0, 0, 0));
    ASSERT_TRUE(
        writeWithTime(src / "ONE.BIN", fixture::pattern(static_cast<size_t>(cluster), 4), 2021, 2, 28, 12, 30, 0));
    ASSERT_TRUE(writeWithTime(src / "SUB" / "inner.dat", fixture::pattern(3000, 5), 2015, 5, 5, 5, 5, 4));
    ASSERT_TRUE(writeWithTime(src / "SUB" / "DEEP" / "X.Y", fixture::pattern(1, 6), 1985, 10, 21, 16, 29, 0));
    // What the rest leaves: 9 clusters of files, 3 of folders, a few spare.
    const int spare = g.clusters() - 9 - 3 - 4 - 5000 / cluster - 3000 / cluster;
    ASSERT_TRUE(writeWithTime(src / "BIG.BIN", fixture::pattern(static_cast<size_t>(spare * cluster - 10), 7), 2024, 7,
                              8, 9, 10, 12));
}

// A raw image mtools formatted and filled with the tree.
Bytes makeRaw(const testutil::TempDir& dir, const Geometry& g) {
    const std::filesystem::path src = dir.path() / "src";
    writeTree(src, g);
    const std::string img = dir.file("disk.img");
    EXPECT_EQ(sh("mformat -C -i '" + img + "' " + g.mformat + " ::"), 0);
    EXPECT_EQ(sh("cd '" + src.string() + "' && mcopy -s -m -i '" + img + "' * ::/"), 0);
    return fixture::readFile(img);
}

struct Item {
    bool folder = false;
    Bytes data;
    std::tm time{};
};

bool operator==(const Item& a, const Item& b) {
    if (a.folder != b.folder) return false;
    if (a.folder) return true;
    return a.data == b.data && a.time.tm_year == b.time.tm_year && a.time.tm_mon == b.time.tm_mon &&
           a.time.tm_mday == b.time.tm_mday && a.time.tm_hour == b.time.tm_hour && a.time.tm_min == b.time.tm_min &&
           a.time.tm_sec == b.time.tm_sec;
}

void PrintTo(const Item& item, std::ostream* os) {
    *os << (item.folder ? "folder"
                        : "file of " + std::to_string(item.data.size()) + " bytes, " +
                              std::to_string(item.time.tm_year + 1900) + "-" + std::to_string(item.time.tm_mon + 1) +
                              "-" + std::to_string(item.time.tm_mday) + " " + std::to_string(item.time.tm_hour) + ":" +
                              std::to_string(item.time.tm_min) + ":" + std::to_string(item.time.tm_sec));
}

// What `mcopy -s -m` takes out of the raw image.
std::map<std::string, Item> mtoolsTree(const testutil::TempDir& dir, const std::string& rawPath) {
    const std::filesystem::path out = dir.path() / "mcopy";
    std::filesystem::create_directories(out);
    EXPECT_EQ(sh("mcopy -s -m -i '" + rawPath + "' '::*' '" + out.string() + "'"), 0);
    std::map<std::string, Item> tree;
    for (const auto& e : std::filesystem::recursive_directory_iterator(out)) {
        Item item;
        item.folder = e.is_directory();
        if (!item.folder) {
            item.data = fixture::readFile(e.path().string());
            const time_t when = testutil::mtimeOf(e.path());
            localtime_r(&when, &item.time);
        }
        tree[std::filesystem::relative(e.path(), out).generic_string()] = item;
    }
    return tree;
}

struct Read {
    bool recognised = false;
    std::string name;
    std::map<std::string, Item> tree;
    std::vector<std::string> order;  // paths in catalogue order
};

// Reads disk 0 of the container through the interface. The reader keeps
// reading the image's bytes after this returns (a test may read a file
// again), so they are kept here until the next call.
Read readDisk(const Bytes& bytes, fs::FileSystem** used = nullptr) {
    static Bytes image;
    image = bytes;
    Read r;
    EXPECT_TRUE(gImage.openMemory(image.data(), image.size()));
    EXPECT_TRUE(gImage.selectDisk(0));
    fs::FileSystem& system = fs::recogniseDisk(gImage, r.recognised);
    if (used != nullptr) *used = &system;
    r.name = system.name();
    system.readCatalogue(gImage, gCatalogue);
    for (int32_t i = 0; i < gCatalogue.count; ++i) {
        const fs::CatalogueEntry& e = gCatalogue.entries[i];
        char path[4096];
        Item item;
        item.folder = e.kind == fs::EntryKind::kFolder;
        if (!item.folder) {
            if (system.readFile(gImage, gCatalogue, i, gData, fs::kMaxFileBytes, gReport, nullptr)) {
                item.data.assign(gData, gData + e.size);
            }
            item.time.tm_year = e.date.year - 1900;
            item.time.tm_mon = e.date.month - 1;
            item.time.tm_mday = e.date.day;
            item.time.tm_hour = e.date.hour;
            item.time.tm_min = e.date.minute;
            item.time.tm_sec = e.date.second;
        }
        r.order.emplace_back(fs::entryPath(gCatalogue, i, path, sizeof path));
        r.tree[r.order.back()] = item;
    }
    return r;
}

int32_t find(const char* path) {
    char buf[4096];
    for (int32_t i = 0; i < gCatalogue.count; ++i) {
        if (std::string(fs::entryPath(gCatalogue, i, buf, sizeof buf)) == path) return i;
    }
    return -1;
}

class Fat12Test : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testutil::haveMtools()) GTEST_SKIP() << "mtools is not installed";
        testutil::mtoolsEnvironment();
    }
    void TearDown() override { gImage.close(); }
};

Bytes wrap(const Bytes& raw, const Geometry& g) {
    return fixture::rawDisk(raw, g.cylinders, g.heads, g.spt, g.n, "FAT").build();
}

void setFat(Bytes& raw, const Geometry& g, uint32_t cluster, uint32_t value) {
    for (int copy = 0; copy < 2; ++copy) {
        const size_t at = static_cast<size_t>((1 + copy * g.spf) * g.bps()) + cluster + cluster / 2;
        uint32_t v = raw[at] | static_cast<uint32_t>(raw[at + 1]) << 8U;
        v = (cluster & 1U) != 0 ? (v & 0x000FU) | (value << 4U) : (v & 0xF000U) | value;
        raw[at] = static_cast<uint8_t>(v);
        raw[at + 1] = static_cast<uint8_t>(v >> 8U);
    }
}

// Every entry's folder stands before it, with nothing between them that is
// not inside that folder: a folder is followed at once by what it holds.
void expectPreOrder() {
    for (int32_t i = 0; i < gCatalogue.count; ++i) {
        const int32_t p = gCatalogue.entries[i].parent;
        if (p < 0) continue;
        ASSERT_LT(p, i);
        for (int32_t j = p + 1; j < i; ++j) {
            int32_t a = gCatalogue.entries[j].parent;
            while (a >= 0 && a != p) a = gCatalogue.entries[a].parent;
            EXPECT_EQ(a, p) << "entry " << j << " stands between folder " << p << " and entry " << i;
        }
    }
}

TEST_F(Fat12Test, MtoolsDisksOfEveryGeometryReadAsMtoolsExtractsThem) {
    for (const Geometry& g : kGeometries) {
        for (const bool clearBpb : {false, true}) {
            SCOPED_TRACE(std::string(g.name) + (clearBpb ? " without a parameter block" : ""));
            testutil::TempDir dir;
            Bytes raw = makeRaw(dir, g);
            ASSERT_EQ(raw.size(), static_cast<size_t>(g.cylinders * g.heads * g.spt * g.bps()));
            const std::map<std::string, Item> expected = mtoolsTree(dir, dir.file("disk.img"));
            ASSERT_EQ(expected.size(), 10U);
            if (clearBpb) std::fill(raw.begin() + 3, raw.begin() + 62, uint8_t{0});

            fs::FileSystem* system = nullptr;
            const Read r = readDisk(wrap(raw, g), &system);
            EXPECT_TRUE(r.recognised);
            EXPECT_EQ(r.name, "FAT12");
            EXPECT_EQ(r.tree, expected);
            expectPreOrder();

            fs::Parameter p[fs::kMaxParameters];
            const int32_t n = system->parameters(p, fs::kMaxParameters);
            std::map<std::string, int64_t> params;
            for (int32_t i = 0; i < n; ++i) params[p[i].key] = p[i].value;
            EXPECT_EQ(params["bpb"], clearBpb ? 0 : 1);
            EXPECT_EQ(params["media"], g.media);
            EXPECT_EQ(params["sectorsPerCluster"], g.spc);
            EXPECT_EQ(params["rootEntries"], g.rootEntries);
            EXPECT_EQ(params["totalSectors"], g.cylinders * g.heads * g.spt);
            const fs::Geometry geo = system->geometry();
            EXPECT_EQ(geo.lastSector, g.spt);
            EXPECT_EQ(geo.sizeCode, g.n);

            // The empty file has no sector; the others start where their
            // first cluster is, and the long name is UTF-8.
            const int32_t empty = find("empty");
            ASSERT_GE(empty, 0);
            EXPECT_EQ(gCatalogue.entries[empty].firstTrack, 0);
            EXPECT_EQ(gCatalogue.entries[empty].firstSector, 0);
            const int32_t one = find("ONE.BIN");
            ASSERT_GE(one, 0);
            const int l = g.dataStart() + (static_cast<int>(gCatalogue.entries[one].start) - 2) * g.spc;
            EXPECT_EQ(gCatalogue.entries[one].firstTrack, l / (g.spt * g.heads) * 2 + l / g.spt % g.heads);
            EXPECT_EQ(gCatalogue.entries[one].firstSector, l % g.spt + 1);
            EXPECT_EQ(gCatalogue.entries[find("Long file name.text")].encoding, fs::NameEncoding::kUtf8);
            EXPECT_EQ(gCatalogue.entries[find("lower.txt")].encoding, fs::NameEncoding::kShiftJis);
            EXPECT_EQ(gCatalogue.problemCount, 0);
        }
    }
}

TEST_F(Fat12Test, Pc98DiskIsWhatMinfoSaysAndDescribesItself) {
    testutil::TempDir dir;
    const Bytes raw = makeRaw(dir, kPc98);
    const std::string info = dir.file("minfo.txt");
    ASSERT_EQ(std::system(("minfo -i '" + dir.file("disk.img") + "' :: >'" + info + "' 2>&1").c_str()), 0);
    const Bytes b = fixture::readFile(info);
    const std::string minfo(b.begin(), b.end());
    for (const char* line : {"sector size: 1024 bytes", "cluster size: 1 sectors", "reserved (boot) sectors: 1",
                             "fats: 2", "max available root directory slots: 192", "sectors per fat: 2",
                             "media descriptor byte: 0xfe", "small size: 1232 sectors"}) {
        EXPECT_NE(minfo.find(line), std::string::npos) << line;
    }
    fs::FileSystem* system = nullptr;
    (void)readDisk(wrap(raw, kPc98), &system);
    char buf[128];
    EXPECT_STREQ(system->describe(buf, sizeof buf), "FAT12, 1024-byte sectors, 8 per track, 2 heads, media 0xFE");
}

// The PC-98 disk as mtools writes it, with its catalogue read once.
struct Pc98 {
    testutil::TempDir dir;
    Bytes raw;
    std::map<std::string, Item> expected;
    uint32_t big = 0, sub = 0;  // start clusters
    size_t bigBytes = 0;

    Pc98() {
        raw = makeRaw(dir, kPc98);
        expected = mtoolsTree(dir, dir.file("disk.img"));
        (void)readDisk(wrap(raw, kPc98));
        big = gCatalogue.entries[find("BIG.BIN")].start;
        sub = gCatalogue.entries[find("SUB")].start;
        bigBytes = expected["BIG.BIN"].data.size();
    }
    // Where cluster c's first sector is: its linear track and R.
    static std::pair<int, int> where(uint32_t c) {
        const int l = kPc98.dataStart() + static_cast<int>(c) - 2;
        return {l / 16 * 2 + l / 8 % 2, l % 8 + 1};
    }
    // The offset of the first 32-byte entry named name11 in the raw
    // directory at offset from, over bytes.
    size_t entryAt(size_t from, size_t bytes, const char* name11) const {
        for (size_t at = from; at < from + bytes; at += 32) {
            if (std::equal(name11, name11 + 11, raw.begin() + static_cast<std::ptrdiff_t>(at))) return at;
        }
        ADD_FAILURE() << "no entry " << name11;
        return from;
    }
    static size_t root() { return 5 * 1024; }
};

void erase(fixture::Disk& d, std::pair<int, int> sector) {
    auto& records = d.tracks.at(sector.first);
    records.erase(records.begin() + (sector.second - 1));
}

fixture::Sector& record(fixture::Disk& d, std::pair<int, int> sector) {
    return d.tracks.at(sector.first).at(static_cast<size_t>(sector.second - 1));
}

TEST_F(Fat12Test, DamagedSectorsAreRecoveredAndTold) {
    Pc98 p;
    fixture::Disk d = fixture::rawDisk(p.raw, 77, 2, 8, 3);
    erase(d, Pc98::where(p.big + 2));            // a file's third sector
    record(d, Pc98::where(p.sub)).data.clear();  // SUB's directory
    const std::pair<int, int> one = Pc98::where(gCatalogue.entries[find("ONE.BIN")].start);
    record(d, one).status = 0xB0;
    erase(d, {0, 2});  // the first FAT copy's first sector: the second copy serves
    fs::FileSystem* system = nullptr;
    const Read r = readDisk(d.build(), &system);
    ASSERT_TRUE(r.recognised);

    Bytes big = p.expected["BIG.BIN"].data;
    std::fill(big.begin() + 2048, big.begin() + 3072, uint8_t{0});
    EXPECT_EQ(r.tree.at("BIG.BIN").data, big);
    ASSERT_TRUE(system->readFile(gImage, gCatalogue, find("BIG.BIN"), gData, fs::kMaxFileBytes, gReport, nullptr));
    EXPECT_EQ(gReport.shortCount, 1);
    EXPECT_EQ(gReport.shorts[0].track, Pc98::where(p.big + 2).first);
    EXPECT_EQ(gReport.shorts[0].sector, Pc98::where(p.big + 2).second);
    EXPECT_EQ(gReport.got, static_cast<int32_t>(p.bigBytes) - 1024);
    EXPECT_FALSE(gReport.chainBroken);

    EXPECT_EQ(r.tree.at("ONE.BIN").data, p.expected["ONE.BIN"].data);
    ASSERT_TRUE(system->readFile(gImage, gCatalogue, find("ONE.BIN"), gData, fs::kMaxFileBytes, gReport, nullptr));
    EXPECT_EQ(gReport.markCount, 1);
    EXPECT_EQ(gReport.marks[0].status, 0xB0);

    // SUB lists, what it holds does not; one problem says why.
    EXPECT_TRUE(r.tree.at("SUB").folder);
    EXPECT_EQ(r.tree.count("SUB/inner.dat"), 0U);
    ASSERT_EQ(gCatalogue.problemCount, 1);
    const fs::Problem& problem = gCatalogue.problems[0];
    EXPECT_STREQ(problem.what, "the directory");
    EXPECT_EQ(problem.entry, find("SUB"));
    EXPECT_EQ(problem.got, 0);
    EXPECT_EQ(problem.firstShort.track, Pc98::where(p.sub).first);
    EXPECT_EQ(problem.firstShort.sector, Pc98::where(p.sub).second);
}

TEST_F(Fat12Test, AFatNoCopyReadsWholeIsToldAndItsLostLinksEndChains) {
    Pc98 p;
    fixture::Disk d = fixture::rawDisk(p.raw, 77, 2, 8, 3);
    erase(d, {0, 5});                    // the second copy's second sector
    d.tracks.at(0)[2].data.resize(100);  // the first copy's second sector, cut
    fs::FileSystem* system = nullptr;
    const Read r = readDisk(d.build(), &system);
    ASSERT_TRUE(r.recognised);
    ASSERT_GE(gCatalogue.problemCount, 1);
    const fs::Problem& problem = gCatalogue.problems[0];
    EXPECT_STREQ(problem.what, "the FAT");
    EXPECT_EQ(problem.entry, -1);
    EXPECT_EQ(problem.firstShort.track, 0);
    EXPECT_EQ(problem.firstShort.sector, 3);  // the first copy gave the most
    EXPECT_EQ(problem.got, 1024 + 100);
    // Links of clusters from 683 on are lost: the big file's chain breaks
    // after the last cluster whose link was held.
    ASSERT_TRUE(system->readFile(gImage, gCatalogue, find("BIG.BIN"), gData, fs::kMaxFileBytes, gReport, nullptr));
    EXPECT_TRUE(gReport.chainBroken);
    EXPECT_LT(gReport.got, static_cast<int32_t>(p.bigBytes));
    EXPECT_EQ(r.tree.at("lower.txt"), p.expected["lower.txt"]);
}

TEST_F(Fat12Test, ABrokenChainEndsTheFileAfterItsLastSector) {
    Pc98 p;
    const uint32_t at = p.big + 4;
    for (const uint32_t link : {0x000U, 0x001U, p.big, at, 0xFEFU, 0xFF0U, 0xFF7U, 0xFFFU}) {
        SCOPED_TRACE(link);
        Bytes raw = p.raw;
        setFat(raw, kPc98, at, link);
        fs::FileSystem* system = nullptr;
        const Read r = readDisk(wrap(raw, kPc98), &system);
        Bytes want = p.expected["BIG.BIN"].data;
        std::fill(want.begin() + 5 * 1024, want.end(), uint8_t{0});
        EXPECT_EQ(r.tree.at("BIG.BIN").data, want);
        ASSERT_TRUE(system->readFile(gImage, gCatalogue, find("BIG.BIN"), gData, fs::kMaxFileBytes, gReport, nullptr));
        EXPECT_TRUE(gReport.chainBroken);
        EXPECT_EQ(gReport.breakTrack, Pc98::where(at).first);
        EXPECT_EQ(gReport.breakSector, Pc98::where(at).second);
        EXPECT_EQ(gReport.got, 5 * 1024);
        EXPECT_EQ(gReport.wanted, static_cast<int32_t>(p.bigBytes));
        EXPECT_EQ(gReport.shortCount, 0);
    }
    // A first cluster that is none of the disk's: nothing to write.
    for (const uint16_t first : {uint16_t{0}, uint16_t{1}, uint16_t{0xFFF}}) {
        Bytes raw = p.raw;
        fixture::patchLe16(raw, p.entryAt(Pc98::root(), 6 * 1024, "BIG     BIN") + 26, first);
        fs::FileSystem* system = nullptr;
        (void)readDisk(wrap(raw, kPc98), &system);
        const int32_t i = find("BIG.BIN");
        EXPECT_EQ(gCatalogue.entries[i].firstTrack, 0);
        EXPECT_FALSE(system->readFile(gImage, gCatalogue, i, gData, fs::kMaxFileBytes, gReport, nullptr));
    }
}

TEST_F(Fat12Test, FolderCyclesAndTreesDeeperThanTheBoundEnd) {
    Pc98 p;
    // DEEP leads back to SUB, and SUB's chain loops on itself.
    Bytes raw = p.raw;
    fixture::patchLe16(raw, p.entryAt(kPc98.clusterOffset(p.sub), 1024, "DEEP       ") + 26,
                       static_cast<uint16_t>(p.sub));
    setFat(raw, kPc98, p.sub, p.sub);
    Read r = readDisk(wrap(raw, kPc98));
    EXPECT_TRUE(r.tree.at("SUB/DEEP").folder);
    EXPECT_EQ(r.tree.at("SUB/inner.dat"), p.expected["SUB/inner.dat"]);
    EXPECT_EQ(r.order.size(), p.expected.size() - 1);  // all but SUB/DEEP/X.Y, each once

    // 40 folders within folders, a file in the innermost: 32 are read.
    testutil::TempDir dir;
    const std::string img = dir.file("deep.img");
    ASSERT_EQ(sh("mformat -C -i '" + img + "' " + kPc98.mformat + " ::"), 0);
    std::string path = "::";
    std::string dirs;
    for (int i = 0; i < 40; ++i) dirs += " '" + (path += "/D") + "'";
    ASSERT_EQ(sh("mmd -i '" + img + "'" + dirs), 0);
    ASSERT_TRUE(fixture::writeFile(dir.file("f"), {1, 2, 3}));
    ASSERT_EQ(sh("mcopy -i '" + img + "' '" + dir.file("f") + "' '" + path + "/F'"), 0);
    r = readDisk(wrap(fixture::readFile(img), kPc98));
    EXPECT_EQ(r.order.size(), 33U);  // the folders of 33 levels
    EXPECT_EQ(r.order.back().size(), 33U * 2 - 1);
    expectPreOrder();
    ASSERT_EQ(gCatalogue.problemCount, 1);
    EXPECT_EQ(gCatalogue.problems[0].entry, 32);
}

TEST_F(Fat12Test, LongNamesAreUtf16WhenTheirChecksumMatches) {
    Pc98 p;
    // The long name's entries stand before its short one.
    const size_t shortAt = p.entryAt(Pc98::root(), 6 * 1024, "LONGFI~1TEX");
    const size_t first = shortAt - 32;  // the part that holds the first 13 units
    struct Case {
        const char* what;
        std::vector<uint16_t> units;  // the name's first units
        bool badChecksum;
        std::string name;
    };
    const std::vector<Case> cases = {
        {"a letter and a surrogate pair", {0x00E9, 0xD83D, 0xDE00}, false, "\xC3\xA9\xF0\x9F\x98\x80g file name.text"},
        {"a lone low surrogate", {0xDC00}, false, "LONGFI~1.TEX"},
        {"a high surrogate without its pair", {0x0041, 0xD800, 0x0041}, false, "LONGFI~1.TEX"},
        {"a checksum of another name", {}, true, "LONGFI~1.TEX"},
    };
    const size_t offsets[] = {1, 3, 5};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes raw = p.raw;
        for (size_t i = 0; i < c.units.size(); ++i) fixture::patchLe16(raw, first + offsets[i], c.units[i]);
        if (c.badChecksum) raw[first + 13] ^= 0x55U;
        const Read r = readDisk(wrap(raw, kPc98));
        ASSERT_EQ(r.tree.count(c.name), 1U);
        EXPECT_EQ(r.tree.at(c.name).data, p.expected["Long file name.text"].data);
        EXPECT_EQ(gCatalogue.entries[find(c.name.c_str())].encoding,
                  c.name[0] == 'L' ? fs::NameEncoding::kShiftJis : fs::NameEncoding::kUtf8);
    }
}

TEST_F(Fat12Test, ShortNamesTakeTheirFlagsAndTheStandInFirstByte) {
    Pc98 p;
    Bytes raw = p.raw;
    const size_t readme = p.entryAt(Pc98::root(), 6 * 1024, "README     ");
    fixture::patch(raw, readme, {0x05, 'A', 'B', ' ', ' ', ' ', ' ', ' ', 'T', 'X', 'T', 0x20, 0x18});
    const size_t one = p.entryAt(Pc98::root(), 6 * 1024, "ONE     BIN");
    raw[one + 12] = 0x10;  // only the extension in lower case
    const size_t lower = p.entryAt(Pc98::root(), 6 * 1024, "LOWER   TXT");
    raw[lower] = 0xE5;  // deleted
    const Read r = readDisk(wrap(raw, kPc98));
    // 0x05 stands for 0xE5, a Shift_JIS lead byte whose trail byte is no
    // letter to fold; the letter after the pair is.
    EXPECT_EQ(r.tree.count("\xE5"
                           "Ab.txt"),
              1U);
    EXPECT_EQ(r.tree.count("ONE.bin"), 1U);
    EXPECT_EQ(r.tree.count("lower.txt"), 0U);
    EXPECT_EQ(r.tree.size(), p.expected.size() - 1);
}

TEST_F(Fat12Test, DisksOfOtherSystemsAreNotTakenForFat) {
    // The built-in system's disk, and the PC-98 geometry blank.
    fixture::FileSystemDisk builtin(80);
    builtin.addFile("GAME", "BIN", 2, 1, fixture::pattern(3000, 9));
    Read r = readDisk(builtin.build());
    EXPECT_EQ(r.name, "built-in");
    r = readDisk(wrap(Bytes{}, kPc98));
    EXPECT_NE(r.name, "FAT12");
    // A parameter block that disagrees with the disk's sectors, with no
    // FAT sector to fall back on.
    Pc98 p;
    for (const auto& [offset, value] :
         std::vector<std::pair<size_t, uint8_t>>{{11, 0x02}, {13, 3}, {16, 3}, {17, 0}, {21, 0xEF}, {24, 9}, {26, 3}}) {
        SCOPED_TRACE(offset);
        Bytes raw = p.raw;
        raw[offset] = value;
        if (offset == 21) raw[1024] = 0xEF;
        raw[1024 + 1] = 0x00;  // and the FAT's first sector no longer MEDIA FF FF
        EXPECT_NE(readDisk(wrap(raw, kPc98)).name, "FAT12");
    }
}

}  // namespace

#else
TEST(Fat12Test, NeedsMtools) { GTEST_SKIP() << "the FAT12 tests make their disks with mtools, a POSIX tool"; }
#endif
