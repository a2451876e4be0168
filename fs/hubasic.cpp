// Hu-BASIC disks (2D): 256-byte sectors (N = 1), R = 1..16 on each of 80
// linear tracks. Track 0 sector 15 holds the FAT, one byte per cluster, and
// cluster c is linear track c with all its sixteen sectors. Cluster 1 is the
// top directory: 128 entries of 32 bytes. A subdirectory is a chain of
// clusters holding entries of the same form.
//
// Bounds: 80 clusters. The directory tree is walked in pre-order (a folder,
// then all it holds), one level per folder and at most kMaxFolderDepth
// folders deep; each cluster is read as a directory at most once in a walk,
// so a walk meets at most 80 × 128 entries and a directory that leads back
// into one already read ends there. Every chain takes each cluster once.
// State: the FAT sector, and per level one sector and one chain walk, all in
// the object.
#include <cstdio>
#include <cstring>

#include "basic_disk.h"
#include "file_system.h"
#include "file_systems.h"

namespace imgpry::fs {

namespace {

constexpr int32_t kSectorsPerTrack = 16;
constexpr int32_t kClusters = 80;
constexpr int32_t kFirstFileCluster = 2;  // 0: the FAT's track, 1: the top directory
constexpr int32_t kFatTrack = 0;
constexpr int32_t kFatSector = 15;
constexpr int32_t kTopCluster = 1;
constexpr int32_t kEntryBytes = 32;
constexpr int32_t kEntriesPerSector = kChainSectorBytes / kEntryBytes;
constexpr int32_t kTopEntries = kSectorsPerTrack * kEntriesPerSector;

// Attribute bytes: an entry never used or deleted, the end of a directory,
// and the bit of a subdirectory. The bits 0x10, 0x20 and 0x40 are flags
// (hidden, read after write, write protected); 0x01, 0x02 and 0x04 the
// kinds of file (binary, BASIC, ASCII).
constexpr uint8_t kUnused = 0x00;
constexpr uint8_t kEnd = 0xFF;
constexpr uint8_t kFolderBit = 0x80;

constexpr const char* kSizeFromBrokenChain =
    "the allocation chain breaks; the size counts only the sectors before the break";
constexpr const char* kDirectoryChainBroken = "the directory's allocation chain breaks; the rest of it is not read";
constexpr const char* kDirectoryLoop = "the directory leads into one already read; it is not read again";
constexpr const char* kTooDeep = "folders nested deeper than imgpry reads; what this one holds is not listed";

// 0x00 is a free cluster and 0x80..0x8F a last one; any other value names
// the next cluster, which the walk refuses when it lies outside 2..79.
ClusterLink huLink(uint8_t v) {
    ClusterLink link;
    if (v >= 0x80 && v <= 0x8F) {
        link.kind = ClusterLink::Kind::kLast;
        link.sectors = (v & 0x0F) + 1;
    } else if (v != 0x00) {
        link.kind = ClusterLink::Kind::kNext;
        link.next = v;
    }
    return link;
}

SectorId huSector(int32_t cluster, int32_t index) {
    return SectorId{cluster, cluster >> 1, cluster & 1, 1 + index, kChainSizeCode};
}

constexpr ChainRules kRules{kClusters, kFirstFileCluster, kSectorsPerTrack, huLink, huSector};

constexpr SectorId kFatId{kFatTrack, 0, 0, kFatSector, kChainSizeCode};

int32_t fromBcd(uint8_t b) {
    const int32_t hi = b >> 4;
    const int32_t lo = b & 0x0F;
    return hi > 9 || lo > 9 ? -1 : hi * 10 + lo;
}

// Year, month·16 + weekday, day, hour, minute, second, BCD but for the
// month; years 80-99 are 19xx, 00-79 20xx. Anything out of range: no date.
FileDate entryDate(const uint8_t* d) {
    const int32_t year = fromBcd(d[0]);
    const int32_t month = d[1] >> 4;
    const int32_t day = fromBcd(d[2]);
    const int32_t hour = fromBcd(d[3]);
    const int32_t minute = fromBcd(d[4]);
    const int32_t second = fromBcd(d[5]);
    FileDate date;
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59) {
        return date;
    }
    date.year = static_cast<int16_t>(year >= 80 ? 1900 + year : 2000 + year);
    date.month = static_cast<uint8_t>(month);
    date.day = static_cast<uint8_t>(day);
    date.hour = static_cast<uint8_t>(hour);
    date.minute = static_cast<uint8_t>(minute);
    date.second = static_cast<uint8_t>(second);
    return date;
}

// What reading one directory's sectors gave, summed as a run report would
// sum it.
struct AreaTally {
    int32_t wanted = 0;
    int32_t got = 0;
    int32_t shortCount = 0;
    int32_t markCount = 0;
    ShortSector firstShort{};
    MarkedSector firstMark{};

    void add(const RunReport& one) {
        if (shortCount == 0 && one.shortCount > 0) firstShort = one.shorts[0];
        if (markCount == 0 && one.markCount > 0) firstMark = one.marks[0];
        wanted += one.wanted;
        got += one.got;
        shortCount += one.shortCount;
        markCount += one.markCount;
    }

    void note(Catalogue& catalogue, int32_t entry) const {
        if (shortCount == 0 && markCount == 0) return;
        Problem p;
        p.kind = ProblemKind::kArea;
        p.entry = entry;
        p.what = "the directory";
        p.wanted = wanted;
        p.got = got;
        p.shortCount = shortCount;
        p.firstShort = firstShort;
        p.markCount = markCount;
        p.firstMark = firstMark;
        catalogue.note(p);
    }
};

void noteText(Catalogue& catalogue, int32_t entry, const char* what) {
    Problem p;
    p.kind = ProblemKind::kNote;
    p.entry = entry;
    p.what = what;
    catalogue.note(p);
}

class HuBasic final : public FileSystem {
public:
    const char* name() const override { return "Hu-BASIC"; }

    // Track 0 holds sector 15 with N = 1, and the FAT there starts with the
    // entry of the FAT's own track (0x01) and that of the top directory, a
    // last cluster (0x80..0x8F).
    bool recognise(DiskImage& image) override {
        image.setSectorRange(1, kSectorsPerTrack);
        loadFat(image);
        return fatRun_.got >= 2 && fat_[0] == 0x01 && fat_[1] >= 0x80 && fat_[1] <= 0x8F;
    }

    const char* describe(char* buf, size_t size) const override {
        (void)std::snprintf(buf, size, "Hu-BASIC, %d-byte sectors, %d per track, 2 heads",
                            static_cast<int>(kChainSectorBytes), static_cast<int>(kSectorsPerTrack));
        return buf;
    }

    int32_t parameters(Parameter* out, int32_t max) const override {
        const Parameter all[] = {{"sectorBytes", kChainSectorBytes},
                                 {"sectorsPerTrack", kSectorsPerTrack},
                                 {"heads", 2},
                                 {"clusters", kClusters},
                                 {"directoryEntries", kTopEntries}};
        return storeParameters(all, out, max);
    }

    Geometry geometry() const override { return Geometry{1, kSectorsPerTrack, kChainSizeCode, 2}; }

    void readCatalogue(DiskImage& image, Catalogue& catalogue) override {
        catalogue.clear();
        image.setSectorRange(1, kSectorsPerTrack);
        loadFat(image);
        catalogue.noteArea("the FAT", -1, fatRun_);
        walk(image, &catalogue, nullptr);
    }

    bool readFile(DiskImage& image, const Catalogue& catalogue, int32_t index, uint8_t* out, int32_t capacity,
                  RunReport& report, SectorVisitor* visitor) override {
        const CatalogueEntry& e = catalogue.entries[index];
        if (e.kind != EntryKind::kFile || e.size <= 0) {
            startReport(report, e.size);
            return false;
        }
        image.setSectorRange(1, kSectorsPerTrack);
        return readChain(image, fat_, kRules, e.start, e.size, out, capacity, report, visitor);
    }

    void visitAreas(DiskImage& image, AreaVisitor& visitor) override {
        visitor.area(AreaKind::kFat, kFatId);
        walk(image, nullptr, &visitor);
    }

private:
    enum class End : uint8_t { kMarker, kLastCluster, kBroken, kLoop };

    // One directory of the walk: where its sectors come from and the sector
    // whose entries are being taken.
    struct Level {
        int32_t folder = -1;  // the folder's catalogue entry; -1 for the top
        bool top = false;
        ChainWalk chain;
        int32_t cluster = 0;
        int32_t sectors = 0;
        int32_t nextSector = 0;
        int32_t slot = kEntriesPerSector;
        int32_t held = 0;
        bool ended = false;
        End end = End::kMarker;
        AreaTally tally;
        uint8_t sector[kChainSectorBytes] = {};
    };

    void loadFat(DiskImage& image) {
        startReport(fatRun_, kChainSectorBytes);
        (void)readChunk(image, kFatId, fat_, kChainSectorBytes, fatRun_, nullptr);
    }

    bool directorySeen(int32_t cluster) const { return (directories_[cluster >> 3] & (1U << (cluster & 7))) != 0; }
    void markDirectory(int32_t cluster) {
        directories_[cluster >> 3] = static_cast<uint8_t>(directories_[cluster >> 3] | (1U << (cluster & 7)));
    }

    void enterCluster(Level& level, int32_t cluster, int32_t sectors, AreaVisitor* visitor) {
        markDirectory(cluster);
        level.cluster = cluster;
        level.sectors = sectors;
        level.nextSector = 0;
        if (visitor == nullptr) return;
        for (int32_t k = 0; k < sectors; ++k) visitor->area(AreaKind::kDirectory, huSector(cluster, k));
    }

    // The directory's next entry in use or not, or nullptr at its end. Each
    // turn takes an entry of the sector, reads a sector of the cluster or
    // takes a cluster of the chain, never one read as a directory before.
    const uint8_t* nextEntry(DiskImage& image, Level& level, AreaVisitor* visitor) {
        while (!level.ended) {
            if (level.slot < kEntriesPerSector) {
                const int32_t at = level.slot * kEntryBytes;
                ++level.slot;
                // Only entries the sector held whole belong to the directory.
                if (at + kEntryBytes > level.held) continue;
                const uint8_t* e = level.sector + at;
                if (e[0] != kEnd) return e;
                level.ended = true;
                level.end = End::kMarker;
                break;
            }
            if (level.nextSector < level.sectors) {
                startReport(scratch_, kChainSectorBytes);
                level.held = readChunk(image, huSector(level.cluster, level.nextSector), level.sector,
                                       kChainSectorBytes, scratch_, nullptr);
                ++level.nextSector;
                level.tally.add(scratch_);
                level.slot = 0;
                continue;
            }
            int32_t cluster = 0;
            int32_t sectors = 0;
            level.ended = true;
            if (level.top || !level.chain.next(cluster, sectors)) {
                level.end = !level.top && level.chain.broken() ? End::kBroken : End::kLastCluster;
                break;
            }
            if (directorySeen(cluster)) {
                level.end = End::kLoop;
                break;
            }
            level.ended = false;
            enterCluster(level, cluster, sectors, visitor);
        }
        return nullptr;
    }

    static void finish(const Level& level, Catalogue* catalogue) {
        if (catalogue == nullptr) return;
        level.tally.note(*catalogue, level.folder);
        if (level.end == End::kBroken) noteText(*catalogue, level.folder, kDirectoryChainBroken);
        if (level.end == End::kLoop) noteText(*catalogue, level.folder, kDirectoryLoop);
    }

    // Walks the directory tree in pre-order, adding every entry to catalogue
    // (when there is one) and showing every directory sector to visitor
    // (when there is one).
    void walk(DiskImage& image, Catalogue* catalogue, AreaVisitor* visitor) {
        std::memset(directories_, 0, sizeof directories_);
        levels_[0] = Level{};
        levels_[0].top = true;
        enterCluster(levels_[0], kTopCluster, kSectorsPerTrack, visitor);
        int32_t depth = 0;
        bool full = false;
        while (depth >= 0) {
            Level& level = levels_[depth];
            const uint8_t* e = full ? nullptr : nextEntry(image, level, visitor);
            if (e == nullptr) {
                finish(level, catalogue);
                --depth;
                continue;
            }
            if (e[0] == kUnused) continue;
            char name[kMaxBasicName + 1];
            (void)paddedName(e + 1, 13, e + 14, 3, name);
            const bool folder = (e[0] & kFolderBit) != 0;
            // Entries that name a folder itself or its parent, as some
            // systems keep them, are not folders of their own.
            if (folder && (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)) continue;
            const uint32_t start = le16(e + 30);
            int32_t index = -1;
            if (catalogue != nullptr) {
                index = add(*catalogue, e, name, start, depth == 0 ? -1 : level.folder);
                if (index < 0) {
                    full = true;  // the rest is not listed; the open levels still say what they met
                    continue;
                }
            }
            if (!folder) continue;
            if (depth + 1 > kMaxFolderDepth) {
                if (catalogue != nullptr) noteText(*catalogue, index, kTooDeep);
                continue;
            }
            Level& child = levels_[++depth];
            child = Level{};
            child.folder = index;
            child.chain.start(fat_, kRules, start);
        }
    }

    int32_t add(Catalogue& catalogue, const uint8_t* e, const char* name, uint32_t start, int32_t parent) {
        CatalogueEntry c;
        c.kind = (e[0] & kFolderBit) != 0 ? EntryKind::kFolder : EntryKind::kFile;
        c.parent = parent;
        c.date = entryDate(e + 24);
        c.start = start;
        c.extra = e[0];
        if (start >= static_cast<uint32_t>(kFirstFileCluster) && start < static_cast<uint32_t>(kClusters)) {
            c.firstTrack = static_cast<int32_t>(start);
            c.firstSector = 1;
        }
        bool broken = false;
        if (c.kind == EntryKind::kFile) {
            c.size = static_cast<int32_t>(le16(e + 18));
            // An ASCII file keeps no size: it is what its chain holds.
            if (c.size == 0) c.size = chainSectors(fat_, kRules, start, broken) * kChainSectorBytes;
        }
        const int32_t index = catalogue.add(c, name, kMaxBasicName);
        if (index >= 0 && broken) noteText(catalogue, index, kSizeFromBrokenChain);
        return index;
    }

    uint8_t fat_[kChainSectorBytes] = {};
    RunReport fatRun_;
    RunReport scratch_;
    uint8_t directories_[kMaxChainClusters / 8] = {};
    Level levels_[kMaxFolderDepth + 1];
};

}  // namespace

FileSystem& huBasicFileSystem() {
    static HuBasic fileSystem;
    return fileSystem;
}

}  // namespace imgpry::fs
