// N88-BASIC disks (2D): 256-byte sectors (N = 1), R = 1..16 on each of 80
// linear tracks. The system track is linear track 37 (C18 H1): sectors 1-12
// the directory (192 entries of 16 bytes), sector 13 the ID sector,
// sectors 14-16 three copies of the FAT, one byte per cluster. Cluster c is
// half a track: linear track c >> 1, sectors 1-8 when c is even, 9-16 when
// odd. A file's size is the sectors its chain holds in use × 256.
//
// Recognised only on strong evidence, as any bytes may stand on track 37 of
// a disk of another system: the FAT copy used (the first of the three that
// reads whole, or the one that holds most when none does) was found with
// N = 1 and is well formed (every one of its 160 entries a value the FAT
// knows, and the entries of the system track's two clusters, 74 and 75,
// reserved), and every chain the directory starts is well formed by it.
// Copies that disagree do not stop that (the disk is read by the copy used,
// and a note says so).
//
// Bounds: 160 clusters, 192 directory entries, three FAT sectors; every
// chain takes each cluster once. State: the FAT copies and the directory in
// the object.
#include <cstdio>
#include <cstring>

#include "basic_disk.h"
#include "file_system.h"
#include "file_systems.h"

namespace imgpry::fs {

namespace {

constexpr int32_t kSectorsPerTrack = 16;
constexpr int32_t kClusters = 160;
constexpr int32_t kClusterSectors = 8;
constexpr int32_t kSystemTrack = 37;
constexpr int32_t kDirectorySectors = 12;
constexpr int32_t kIdSector = 13;
constexpr int32_t kFirstFatSector = 14;
constexpr int32_t kFatCopies = 3;
constexpr int32_t kEntryBytes = 16;
constexpr int32_t kEntriesPerSector = kChainSectorBytes / kEntryBytes;
constexpr int32_t kEntries = kDirectorySectors * kEntriesPerSector;
constexpr int32_t kDirectoryBytes = kDirectorySectors * kChainSectorBytes;
// The first of the system track's two clusters (74 and 75).
constexpr int32_t kSystemCluster = kSystemTrack * 2;

// First bytes of an entry: a deleted one, and the end of the directory.
constexpr uint8_t kDeleted = 0x00;
constexpr uint8_t kEnd = 0xFF;
// FAT values besides the next cluster (0x00..0x9F) and the last one
// (0xC1..0xC8, holding value - 0xC0 sectors).
constexpr uint8_t kReserved = 0xFE;
constexpr uint8_t kFree = 0xFF;

constexpr const char* kFatsDisagree = "the FAT copies disagree; the first that reads whole is used";

// 0xFE and 0xFF are clusters in no chain and 0xC1..0xC8 last ones; any
// other value names the next cluster, which the walk refuses when it lies
// outside 0..159.
ClusterLink n88Link(uint8_t v) {
    ClusterLink link;
    if (v >= 0xC1 && v <= 0xC8) {
        link.kind = ClusterLink::Kind::kLast;
        link.sectors = v - 0xC0;
    } else if (v != kReserved && v != kFree) {
        link.kind = ClusterLink::Kind::kNext;
        link.next = v;
    }
    return link;
}

SectorId n88Sector(int32_t cluster, int32_t index) {
    const int32_t track = cluster >> 1;
    return SectorId{track, track >> 1, track & 1, ((cluster & 1) != 0 ? 9 : 1) + index, kChainSizeCode};
}

constexpr ChainRules kRules{kClusters, 0, kClusterSectors, n88Link, n88Sector};

constexpr SectorId systemSector(int32_t r) {
    return SectorId{kSystemTrack, kSystemTrack >> 1, kSystemTrack & 1, r, kChainSizeCode};
}

bool knownValue(uint8_t v) { return v < kClusters || (v >= 0xC1 && v <= 0xC8) || v == kReserved || v == kFree; }

class N88Basic final : public FileSystem {
public:
    const char* name() const override { return "N88-BASIC"; }

    bool recognise(DiskImage& image) override {
        image.setSectorRange(1, kSectorsPerTrack);
        loadFat(image);
        const uint8_t* fat = fats_[used_];
        if (runs_[used_].got < kSystemCluster + 2) return false;
        if (fat[kSystemCluster] != kReserved || fat[kSystemCluster + 1] != kReserved) return false;
        for (int32_t c = 0; c < kClusters; ++c) {
            if (!knownValue(fat[c])) return false;
        }
        loadDirectory(image);
        for (int32_t j = 0; j < entryCount_; ++j) {
            const uint8_t* e = directory_ + static_cast<ptrdiff_t>(kEntryBytes) * j;
            if (!held(j) || e[0] == kDeleted) continue;
            bool broken = false;
            (void)chainSectors(fat, kRules, e[10], broken);
            if (broken) return false;
        }
        return true;
    }

    const char* describe(char* buf, size_t size) const override {
        (void)std::snprintf(buf, size, "N88-BASIC, %d-byte sectors, %d per track, 2 heads",
                            static_cast<int>(kChainSectorBytes), static_cast<int>(kSectorsPerTrack));
        return buf;
    }

    int32_t parameters(Parameter* out, int32_t max) const override {
        const Parameter all[] = {{"sectorBytes", kChainSectorBytes},
                                 {"sectorsPerTrack", kSectorsPerTrack},
                                 {"heads", 2},
                                 {"clusters", kClusters},
                                 {"directoryEntries", kEntries},
                                 {"fatCopies", kFatCopies}};
        return storeParameters(all, out, max);
    }

    Geometry geometry() const override { return Geometry{1, kSectorsPerTrack, kChainSizeCode, 2}; }

    void readCatalogue(DiskImage& image, Catalogue& catalogue) override {
        catalogue.clear();
        image.setSectorRange(1, kSectorsPerTrack);
        loadFat(image);
        catalogue.noteArea("the FAT", -1, runs_[used_]);
        if (disagree()) {
            Problem p;
            p.kind = ProblemKind::kNote;
            p.what = kFatsDisagree;
            catalogue.note(p);
        }
        loadDirectory(image);
        catalogue.noteArea("the directory", -1, directoryRun_);
        const uint8_t* fat = fats_[used_];
        for (int32_t j = 0; j < entryCount_; ++j) {
            const uint8_t* e = directory_ + static_cast<ptrdiff_t>(kEntryBytes) * j;
            if (!held(j) || e[0] == kDeleted) continue;
            char name[kMaxBasicName + 1];
            (void)paddedName(e, 6, e + 6, 3, name);
            CatalogueEntry c;
            c.start = e[10];
            c.extra = e[9];
            bool broken = false;
            c.size = chainSectors(fat, kRules, c.start, broken) * kChainSectorBytes;
            if (c.start < static_cast<uint32_t>(kClusters)) {
                const SectorId first = n88Sector(static_cast<int32_t>(c.start), 0);
                c.firstTrack = first.track;
                c.firstSector = first.r;
            }
            if (catalogue.add(c, name, kMaxBasicName) < 0) break;
        }
    }

    bool readFile(DiskImage& image, const Catalogue& catalogue, int32_t index, uint8_t* out, int32_t capacity,
                  RunReport& report, SectorVisitor* visitor) override {
        const CatalogueEntry& e = catalogue.entries[index];
        if (e.kind != EntryKind::kFile || e.size <= 0) {
            startReport(report, e.size);
            return false;
        }
        image.setSectorRange(1, kSectorsPerTrack);
        return readChain(image, fats_[used_], kRules, e.start, e.size, out, capacity, report, visitor);
    }

    void visitAreas(DiskImage& /*image*/, AreaVisitor& visitor) override {
        for (int32_t r = 1; r <= kDirectorySectors; ++r) visitor.area(AreaKind::kDirectory, systemSector(r));
        visitor.area(AreaKind::kSystem, systemSector(kIdSector));
        for (int32_t k = 0; k < kFatCopies; ++k) visitor.area(AreaKind::kFat, systemSector(kFirstFatSector + k));
    }

private:
    // Reads the three copies and picks the one to use: the first that reads
    // whole, else the first of those that hold most.
    void loadFat(DiskImage& image) {
        used_ = 0;
        bool whole = false;
        for (int32_t k = 0; k < kFatCopies; ++k) {
            startReport(runs_[k], kChainSectorBytes);
            (void)readChunk(image, systemSector(kFirstFatSector + k), fats_[k], kChainSectorBytes, runs_[k], nullptr);
            if (whole) continue;
            if (runs_[k].got == kChainSectorBytes) {
                used_ = k;
                whole = true;
            } else if (runs_[k].got > runs_[used_].got) {
                used_ = k;
            }
        }
    }

    // Whether a copy that reads whole tells of a cluster otherwise than the
    // copy used.
    bool disagree() const {
        for (int32_t k = 0; k < kFatCopies; ++k) {
            if (k == used_ || runs_[k].got != kChainSectorBytes) continue;
            if (std::memcmp(fats_[k], fats_[used_], static_cast<size_t>(kClusters)) != 0) return true;
        }
        return false;
    }

    // Reads the directory's sectors up to the one that holds its end.
    void loadDirectory(DiskImage& image) {
        startReport(directoryRun_, 0);
        entryCount_ = 0;
        for (int32_t s = 0; s < kDirectorySectors; ++s) {
            uint8_t* sector = directory_ + static_cast<ptrdiff_t>(kChainSectorBytes) * s;
            directoryRun_.wanted += kChainSectorBytes;
            held_[s] = readChunk(image, systemSector(1 + s), sector, kChainSectorBytes, directoryRun_, nullptr);
            for (int32_t k = 0; k < kEntriesPerSector; ++k) {
                if (held(entryCount_) && sector[static_cast<ptrdiff_t>(k) * kEntryBytes] == kEnd) return;
                ++entryCount_;
            }
        }
    }

    // Whether the sector of entry j held it whole.
    bool held(int32_t j) const {
        const int32_t at = (j % kEntriesPerSector) * kEntryBytes;
        return at + kEntryBytes <= held_[j / kEntriesPerSector];
    }

    uint8_t fats_[kFatCopies][kChainSectorBytes] = {};
    RunReport runs_[kFatCopies];
    int32_t used_ = 0;
    uint8_t directory_[kDirectoryBytes] = {};
    int32_t held_[kDirectorySectors] = {};
    int32_t entryCount_ = 0;
    RunReport directoryRun_;
};

}  // namespace

FileSystem& n88BasicFileSystem() {
    static N88Basic fileSystem;
    return fileSystem;
}

}  // namespace imgpry::fs
