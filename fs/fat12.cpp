// FAT12: a boot sector with its parameter block (or, on older disks, one of
// a few fixed geometries), one or two copies of a table of 12-bit cluster
// links, a root directory of 32-byte entries, and clusters of sectors that
// hold files and subdirectories.
//
// Bounds, all in fixed storage: sectors of 128 to 4096 bytes; at most 4084
// clusters (more make a disk FAT16), so the table holds at most 4086 entries
// in 6129 bytes, and no more than the first kMaxFatBytes of a copy are read
// (with 128-byte sectors that is 48 sectors; every sector past them could
// only hold links of clusters the disk does not have); folders nested at
// most kMaxFolderDepth deep, one sector of each open directory held at a
// time. Every walk is bounded by the disk's cluster count: a chain ends at
// a cluster it has already passed, and a directory cluster is read once
// for the whole tree, so a folder that leads back to one already read ends
// there.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "file_system.h"
#include "file_systems.h"

namespace imgpry::fs {

namespace {

constexpr int32_t kMaxSizeCode = 5;  // 4096-byte sectors
constexpr int32_t kMaxSectorBytes = 128 << kMaxSizeCode;
constexpr int32_t kMaxClusters = 4084;
constexpr int32_t kMaxFatEntries = kMaxClusters + 2;
constexpr int32_t kMaxFatBytes = (kMaxFatEntries * 3 + 1) / 2;
// Clusters are numbered from 2; a set has room for every 12-bit value.
constexpr int32_t kClusterSlots = 4096;
// The highest cylinder whose tracks the container's track table has room
// for (tracks 0..163).
constexpr int32_t kMaxCylinders = 82;
constexpr int32_t kEntryBytes = 32;
constexpr int32_t kMaxTrackRecords = 256;
// A long name is at most 20 entries of 13 UTF-16 units.
constexpr int32_t kMaxLongUnits = 20 * 13;

constexpr uint8_t kAttrVolume = 0x08;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrLongName = 0x0F;
constexpr uint8_t kDeleted = 0xE5;
constexpr uint8_t kLowerBase = 0x08;
constexpr uint8_t kLowerExt = 0x10;

// The disks that carry no parameter block: recognised by the media byte
// that starts their first FAT sector, one line each.
struct Layout {
    uint8_t media;
    int32_t cylinders, heads, sectorsPerTrack, sectorBytes;
    int32_t reserved, fats, sectorsPerFat, rootEntries, sectorsPerCluster;
};
constexpr Layout kLayouts[] = {
    {0xFE, 77, 2, 8, 1024, 1, 2, 2, 192, 1},
    {0xF9, 80, 2, 9, 512, 1, 2, 3, 112, 2},
    {0xFB, 80, 2, 8, 512, 1, 2, 2, 112, 2},
    {0xF0, 80, 2, 18, 512, 1, 2, 9, 224, 1},
};

int32_t sizeCodeOf(int32_t bytes) {
    for (int32_t n = 0; n <= kMaxSizeCode; ++n) {
        if (128 << n == bytes) return n;
    }
    return -1;
}

bool isShiftJisLead(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Appends the trimmed field (spaces at its end dropped), lower-casing ASCII
// letters when lower is set; a Shift_JIS pair is copied as it is.
int32_t appendField(const uint8_t* field, int32_t width, bool lower, char* out, int32_t k) {
    int32_t end = width;
    while (end > 0 && field[end - 1] == ' ') --end;
    for (int32_t i = 0; i < end; ++i) {
        uint8_t b = field[i];
        if (isShiftJisLead(b) && i + 1 < end) {
            out[k++] = static_cast<char>(b);
            out[k++] = static_cast<char>(field[++i]);
            continue;
        }
        if (lower && b >= 'A' && b <= 'Z') b = static_cast<uint8_t>(b - 'A' + 'a');
        out[k++] = static_cast<char>(b);
    }
    return k;
}

// NAME.EXT of a short entry (no dot when the extension is blank), into out
// (room for 13 bytes). Returns its length.
int32_t shortName(const uint8_t* e, char* out) {
    uint8_t base[8];
    std::memcpy(base, e, sizeof base);
    if (base[0] == 0x05) base[0] = kDeleted;  // a Shift_JIS lead byte the end marker would hide
    int32_t k = appendField(base, 8, (e[12] & kLowerBase) != 0, out, 0);
    int32_t extEnd = 3;
    while (extEnd > 0 && e[8 + extEnd - 1] == ' ') --extEnd;
    if (extEnd > 0) {
        out[k++] = '.';
        k = appendField(e + 8, 3, (e[12] & kLowerExt) != 0, out, k);
    }
    out[k] = '\0';
    return k;
}

uint8_t shortChecksum(const uint8_t* e) {
    uint8_t sum = 0;
    for (int32_t i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1U) << 7U) + (sum >> 1U) + e[i]);
    return sum;
}

// UTF-16 units (ending at the first 0x0000 or at count) as UTF-8 into out
// (room for kMaxNameBytes). Returns the length, or -1 when the units are no
// valid UTF-16 or give no name.
int32_t utf16ToUtf8(const uint16_t* units, int32_t count, char* out) {
    int32_t k = 0;
    for (int32_t i = 0; i < count && units[i] != 0; ++i) {
        uint32_t cp = units[i];
        if (cp >= 0xDC00 && cp <= 0xDFFF) return -1;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= count || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return -1;
            cp = 0x10000U + ((cp - 0xD800U) << 10U) + (units[++i] - 0xDC00U);
        }
        if (k + 4 >= kMaxNameBytes) return -1;
        if (cp < 0x80) {
            out[k++] = static_cast<char>(cp);
        } else if (cp < 0x800) {
            out[k++] = static_cast<char>(0xC0U | (cp >> 6U));
            out[k++] = static_cast<char>(0x80U | (cp & 0x3FU));
        } else if (cp < 0x10000) {
            out[k++] = static_cast<char>(0xE0U | (cp >> 12U));
            out[k++] = static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
            out[k++] = static_cast<char>(0x80U | (cp & 0x3FU));
        } else {
            out[k++] = static_cast<char>(0xF0U | (cp >> 18U));
            out[k++] = static_cast<char>(0x80U | ((cp >> 12U) & 0x3FU));
            out[k++] = static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
            out[k++] = static_cast<char>(0x80U | (cp & 0x3FU));
        }
    }
    out[k] = '\0';
    return k > 0 ? k : -1;
}

FileDate fatDate(const uint8_t* e) {
    const uint32_t time = le16(e + 22);
    const uint32_t date = le16(e + 24);
    FileDate d;
    if (date == 0) return d;
    d.year = static_cast<int16_t>(1980 + (date >> 9U));
    d.month = static_cast<uint8_t>((date >> 5U) & 0x0FU);
    d.day = static_cast<uint8_t>(date & 0x1FU);
    d.hour = static_cast<uint8_t>(time >> 11U);
    d.minute = static_cast<uint8_t>((time >> 5U) & 0x3FU);
    d.second = static_cast<uint8_t>((time & 0x1FU) * 2U);
    return d;
}

// A set of clusters, emptied in constant time: each cluster holds the
// number of the round that last put it in (a table cleared only when the
// round number wraps), so that a file's chain costs no clearing of the
// whole set.
class ClusterSet {
public:
    void clear() {
        if (round_ == UINT16_MAX) {
            std::memset(rounds_, 0, sizeof rounds_);
            round_ = 0;
        }
        ++round_;
    }
    // Puts cluster i in; returns whether it was in already.
    bool testAndSet(uint32_t i) {
        const bool was = rounds_[i] == round_;
        rounds_[i] = round_;
        return was;
    }

private:
    uint16_t round_ = 0;  // 0 only before the first clear
    uint16_t rounds_[kClusterSlots] = {};
};

class Fat12 final : public FileSystem {
public:
    const char* name() const override { return "FAT12"; }

    bool recognise(DiskImage& image) override {
        fatLoaded_ = false;
        bool more = false;
        const int32_t count = image.readTrackRecords(0, records_, kMaxTrackRecords, more);
        return fromBootSector(image, count) || fromLayouts(image, count);
    }

    const char* describe(char* buf, size_t size) const override {
        (void)std::snprintf(buf, size, "FAT12, %d-byte sectors, %d per track, %d heads, media 0x%02X",
                            static_cast<int>(bps_), static_cast<int>(spt_), static_cast<int>(heads_),
                            static_cast<unsigned>(media_));
        return buf;
    }

    int32_t parameters(Parameter* out, int32_t max) const override {
        const Parameter all[] = {{"sectorBytes", bps_},
                                 {"sectorsPerTrack", spt_},
                                 {"heads", heads_},
                                 {"media", media_},
                                 {"sectorsPerCluster", spc_},
                                 {"fats", fats_},
                                 {"sectorsPerFat", spf_},
                                 {"rootEntries", rootEntries_},
                                 {"reservedSectors", reserved_},
                                 {"totalSectors", totalSectors_},
                                 {"bpb", bpb_ ? 1 : 0}};
        return storeParameters(all, out, max);
    }

    Geometry geometry() const override { return Geometry{1, spt_, n_, heads_}; }

    void readCatalogue(DiskImage& image, Catalogue& catalogue) override {
        catalogue.clear();
        loadFat(image, &catalogue);
        walk(image, &catalogue, nullptr);
    }

    bool readFile(DiskImage& image, const Catalogue& catalogue, int32_t index, uint8_t* out, int32_t capacity,
                  RunReport& report, SectorVisitor* visitor) override {
        const CatalogueEntry& e = catalogue.entries[index];
        startReport(report, e.size);
        if (e.kind != EntryKind::kFile || e.size > capacity) return false;
        if (e.size == 0) return true;  // no data: written empty
        if (!fatLoaded_) loadFat(image, nullptr);
        chain_.clear();
        uint32_t cluster = e.start;
        int32_t done = 0;
        SectorId last{};
        // Nothing is read of a file whose first sector falls short; a
        // visitor still sees the rest of its chain.
        static RunReport rest;  // takes the reads no one counts
        RunReport* into = &report;
        while (done < e.size) {
            if (!isDataCluster(cluster) || chain_.testAndSet(cluster)) break;
            const int32_t first = clusterSector(cluster);
            for (int32_t s = 0; s < spc_ && done < e.size; ++s) {
                const SectorId id = sectorId(first + s);
                const int32_t want = e.size - done < bps_ ? e.size - done : bps_;
                const int32_t held = readChunk(image, id, out + done, want, *into, visitor);
                if (done == 0 && held < want) {
                    report.got = 0;
                    if (visitor == nullptr) return false;
                    into = &rest;
                }
                done += want;
                last = id;
            }
            cluster = fatEntry(cluster);
        }
        if (done == 0 || into != &report) return false;  // the first cluster is none of the disk's, or short
        if (done < e.size) {
            // The chain ends (free, reserved, bad, out of range, already
            // passed, or its end mark) before the size is reached.
            report.chainBroken = true;
            report.breakTrack = last.track;
            report.breakSector = last.r;
            std::memset(out + done, 0, static_cast<size_t>(e.size - done));
        }
        return true;
    }

    void visitAreas(DiskImage& image, AreaVisitor& visitor) override {
        for (int32_t l = 0; l < reserved_; ++l) visitor.area(AreaKind::kBoot, sectorId(l));
        for (int32_t l = reserved_; l < rootStart_; ++l) visitor.area(AreaKind::kFat, sectorId(l));
        // The root directory's whole area, read or not; the walk adds the
        // subdirectories' sectors.
        for (int32_t l = rootStart_; l < dataStart_; ++l) visitor.area(AreaKind::kDirectory, sectorId(l));
        if (!fatLoaded_) loadFat(image, nullptr);
        walk(image, nullptr, &visitor);
    }

private:
    // One open directory of the walk: the root's fixed sectors or a chain
    // of clusters, the sector it is at and that sector's bytes.
    struct Frame {
        int32_t folder = -1;  // its catalogue entry; -1 for the root
        bool root = true;
        uint32_t cluster = 0;
        int32_t sector = 0;   // the root's sector, or the sector within cluster
        int32_t entry = 0;    // the next entry of the sector held
        int32_t entries = 0;  // the entries the sector gave whole; -1 before the first
        bool ended = false;
        Problem area;  // what its sectors gave
        uint8_t data[kMaxSectorBytes] = {};
    };

    bool fromBootSector(DiskImage& image, int32_t count) {
        int32_t n = -1;
        for (int32_t i = 0; i < count && n < 0; ++i) {
            if (records_[i].r == 1) n = records_[i].n;
        }
        if (n < 0 || n > kMaxSizeCode) return false;
        uint8_t* b = sector_;
        const int32_t bytes = 128 << n;
        if (image.readSector(0, 0, 0, 1, n, b, bytes) < 36) return false;
        const int32_t bps = static_cast<int32_t>(le16(b + 11));
        const int32_t spc = b[13];
        const int32_t reserved = static_cast<int32_t>(le16(b + 14));
        const int32_t fats = b[16];
        const int32_t rootEntries = static_cast<int32_t>(le16(b + 17));
        int32_t total = static_cast<int32_t>(le16(b + 19));
        const uint8_t media = b[21];
        const int32_t spf = static_cast<int32_t>(le16(b + 22));
        const int32_t spt = static_cast<int32_t>(le16(b + 24));
        const int32_t heads = static_cast<int32_t>(le16(b + 26));
        if (total == 0) {
            const uint32_t big = le32(b + 32);
            total = big > 0x7FFFFFFFU ? 0x7FFFFFFF : static_cast<int32_t>(big);
        }
        if (bps != bytes || spc < 1 || spc > 64 || (spc & (spc - 1)) != 0 || reserved < 1 || fats < 1 || fats > 2 ||
            rootEntries < 1 || (rootEntries * kEntryBytes) % bps != 0 || spf < 1 || heads < 1 || heads > 2 ||
            media < 0xF0 || spt < 1 || !trackHolds(count, spt, n)) {
            return false;
        }
        if (!set(bps, n, spt, heads, media, reserved, fats, spf, rootEntries, spc, total)) return false;
        bpb_ = true;
        return fatStartsWithMedia(image);
    }

    bool fromLayouts(DiskImage& image, int32_t count) {
        for (const Layout& l : kLayouts) {
            const int32_t n = sizeCodeOf(l.sectorBytes);
            if (!trackHolds(count, l.sectorsPerTrack, n)) continue;
            if (!set(l.sectorBytes, n, l.sectorsPerTrack, l.heads, l.media, l.reserved, l.fats, l.sectorsPerFat,
                     l.rootEntries, l.sectorsPerCluster, l.cylinders * l.heads * l.sectorsPerTrack)) {
                continue;
            }
            bpb_ = false;
            if (fatStartsWithMedia(image)) return true;
        }
        return false;
    }

    // Whether track 0 holds sectors of size code n with IDs 1..spt and none
    // above: the highest is spt (a sector between may be missing, its loss
    // is told when it is read).
    bool trackHolds(int32_t count, int32_t spt, int32_t n) const {
        int32_t highest = 0;
        for (int32_t i = 0; i < count; ++i) {
            if (records_[i].n != n) continue;
            if (records_[i].r > highest) highest = records_[i].r;
        }
        return highest == spt;
    }

    // Stores the geometry; false when it leaves no cluster or more than
    // FAT12 numbers.
    bool set(int32_t bps, int32_t n, int32_t spt, int32_t heads, uint8_t media, int32_t reserved, int32_t fats,
             int32_t spf, int32_t rootEntries, int32_t spc, int32_t total) {
        bps_ = bps;
        n_ = n;
        spt_ = spt;
        heads_ = heads;
        media_ = media;
        reserved_ = reserved;
        fats_ = fats;
        spf_ = spf;
        rootEntries_ = rootEntries;
        spc_ = spc;
        // Sectors past the container's last track cannot be reached.
        const int32_t reachable = kMaxCylinders * heads * spt;
        totalSectors_ = total < reachable ? total : reachable;
        rootStart_ = reserved + fats * spf;
        rootSectors_ = rootEntries * kEntryBytes / bps;
        dataStart_ = rootStart_ + rootSectors_;
        if (dataStart_ >= totalSectors_) return false;
        clusters_ = (totalSectors_ - dataStart_) / spc;
        return clusters_ >= 1 && clusters_ <= kMaxClusters;
    }

    // The first FAT sector of a copy that reads starts MEDIA FF FF.
    bool fatStartsWithMedia(DiskImage& image) {
        for (int32_t k = 0; k < fats_; ++k) {
            const SectorId id = sectorId(reserved_ + k * spf_);
            if (image.readSector(id.track, id.c, id.h, id.r, id.n, sector_, 3) < 3) continue;
            return sector_[0] == media_ && sector_[1] == 0xFF && sector_[2] == 0xFF;
        }
        return false;
    }

    SectorId sectorId(int32_t l) const {
        const int32_t cylinder = l / (spt_ * heads_);
        const int32_t head = (l / spt_) % heads_;
        return SectorId{cylinder * 2 + head, cylinder, head, l % spt_ + 1, n_};
    }

    bool isDataCluster(uint32_t c) const { return c >= 2 && c < static_cast<uint32_t>(clusters_) + 2; }
    int32_t clusterSector(uint32_t c) const { return dataStart_ + static_cast<int32_t>(c - 2) * spc_; }

    uint32_t fatEntry(uint32_t c) const {
        if (c >= static_cast<uint32_t>(kMaxFatEntries)) return 0;
        const uint32_t v = le16(fat_ + c + c / 2);
        return (c & 1U) != 0 ? v >> 4U : v & 0x0FFFU;
    }

    // Reads the table from the first copy that reads whole, else the copy
    // that gave the most; notes in catalogue (when there is one) what the
    // copy used lacked or what of it is marked.
    void loadFat(DiskImage& image, Catalogue* catalogue) {
        const int32_t needed = ((clusters_ + 2) * 3 + 1) / 2;
        const int32_t held = spf_ * bps_ < needed ? spf_ * bps_ : needed;
        int32_t best = -1;
        for (int32_t k = 0; k < fats_; ++k) {
            startReport(fatRun_, held);
            for (int32_t done = 0; done < held; done += bps_) {
                const int32_t want = held - done < bps_ ? held - done : bps_;
                (void)readChunk(image, sectorId(reserved_ + k * spf_ + done / bps_), fatCopy_ + done, want, fatRun_,
                                nullptr);
            }
            if (best < 0 || fatRun_.got > bestRun_.got) {
                best = k;
                bestRun_ = fatRun_;
                std::memcpy(fat_, fatCopy_, static_cast<size_t>(held));
            }
            if (fatRun_.shortCount == 0) break;
        }
        std::memset(fat_ + held, 0, static_cast<size_t>(kMaxFatBytes + 1 - held));
        fatLoaded_ = true;
        if (catalogue != nullptr) catalogue->noteArea("the FAT", -1, bestRun_);
    }

    // Walks the directory tree depth first, a folder's entry followed by
    // everything it holds: into catalogue when there is one, showing every
    // subdirectory sector to visitor when there is one.
    void walk(DiskImage& image, Catalogue* catalogue, AreaVisitor* visitor) {
        dirClusters_.clear();
        longCount_ = 0;
        bool deepNoted = false;
        int32_t depth = 0;
        open(frames_[0], -1, true, 0);
        // Each step reads a sector or takes an entry; sectors are read once
        // each (a directory cluster is read once for the whole tree), so
        // the walk ends.
        while (depth >= 0) {
            Frame& f = frames_[depth];
            if (f.entries < 0 || f.entry >= f.entries) {
                if (!nextSector(image, f, visitor)) {
                    finish(f, catalogue);
                    --depth;
                    longCount_ = 0;
                    continue;
                }
                continue;
            }
            const uint8_t* e = f.data + static_cast<ptrdiff_t>(f.entry) * kEntryBytes;
            ++f.entry;
            if (e[0] == 0x00) {  // the end of the directory
                f.ended = true;
                f.entries = 0;
                continue;
            }
            if (e[0] == kDeleted) {
                longCount_ = 0;
                continue;
            }
            if ((e[11] & 0x3F) == kAttrLongName) {
                takeLongPart(e);
                continue;
            }
            const bool longOk = longCount_ > 0 && longNext_ == 0 && longSum_ == shortChecksum(e);
            longCount_ = 0;
            if ((e[11] & kAttrVolume) != 0) continue;
            if (e[0] == '.' && (e[1] == ' ' || (e[1] == '.' && e[2] == ' '))) continue;
            const bool folder = (e[11] & kAttrDirectory) != 0;
            const uint32_t cluster = le16(e + 26);
            if (catalogue != nullptr) {
                CatalogueEntry c;
                c.kind = folder ? EntryKind::kFolder : EntryKind::kFile;
                c.parent = f.folder;
                c.size = folder ? 0 : static_cast<int32_t>(le32(e + 28) > 0x7FFFFFFFU ? 0x7FFFFFFFU : le32(e + 28));
                if (isDataCluster(cluster)) {
                    const SectorId id = sectorId(clusterSector(cluster));
                    c.firstTrack = id.track;
                    c.firstSector = id.r;
                }
                c.date = fatDate(e);
                c.start = cluster;
                c.extra = e[11];
                int32_t length = -1;
                if (longOk) length = utf16ToUtf8(longUnits_, kMaxLongUnits, name_);
                if (length >= 0) {
                    c.encoding = NameEncoding::kUtf8;
                } else {
                    length = shortName(e, name_);
                }
                const int32_t index = catalogue->add(c, name_, length);
                if (index < 0) return;  // full: nothing more is listed
                if (!folder) continue;
                if (depth + 1 > kMaxFolderDepth) {
                    if (!deepNoted) {
                        Problem p;
                        p.entry = index;
                        p.what = "folders nested deeper than 32; what they hold is not listed";
                        catalogue->note(p);
                        deepNoted = true;
                    }
                    continue;
                }
                if (!isDataCluster(cluster)) continue;
                ++depth;
                open(frames_[depth], index, false, cluster);
            } else if (folder && depth + 1 <= kMaxFolderDepth && isDataCluster(cluster)) {
                ++depth;
                open(frames_[depth], -1, false, cluster);
            }
        }
    }

    static void open(Frame& f, int32_t folder, bool root, uint32_t cluster) {
        f.folder = folder;
        f.root = root;
        f.cluster = cluster;
        f.sector = -1;
        f.entry = 0;
        f.entries = -1;
        f.ended = false;
        f.area = Problem{};
        f.area.kind = ProblemKind::kArea;
        f.area.entry = folder;
        f.area.what = "the directory";
    }

    // Reads the directory's next sector into f; false at its end. A
    // subdirectory's chain ends at a cluster already read as a directory.
    bool nextSector(DiskImage& image, Frame& f, AreaVisitor* visitor) {
        if (f.ended) return false;
        int32_t l = 0;
        ++f.sector;
        if (f.root) {
            if (f.sector >= rootSectors_) return false;
            l = rootStart_ + f.sector;
        } else {
            if (f.sector == 0 || f.sector >= spc_) {
                if (f.sector >= spc_) {
                    f.cluster = fatEntry(f.cluster);
                    f.sector = 0;
                }
                if (!isDataCluster(f.cluster) || dirClusters_.testAndSet(f.cluster)) return false;
            }
            l = clusterSector(f.cluster) + f.sector;
        }
        const SectorId id = sectorId(l);
        if (visitor != nullptr && !f.root) visitor->area(AreaKind::kDirectory, id);
        startReport(scratch_, bps_);
        const int32_t held = readChunk(image, id, f.data, bps_, scratch_, nullptr);
        Problem& a = f.area;
        a.wanted += bps_;
        a.got += held;
        if (scratch_.shortCount > 0) {
            if (a.shortCount == 0) a.firstShort = scratch_.shorts[0];
            ++a.shortCount;
        }
        if (scratch_.markCount > 0) {
            if (a.markCount == 0) a.firstMark = scratch_.marks[0];
            ++a.markCount;
        }
        // Only the entries the sector gave whole belong to the directory.
        f.entries = held / kEntryBytes;
        f.entry = 0;
        return true;
    }

    static void finish(const Frame& f, Catalogue* catalogue) {
        if (catalogue == nullptr) return;
        if (f.area.shortCount == 0 && f.area.markCount == 0) return;
        catalogue->note(f.area);
    }

    // Gathers one entry of a long name: they come last part first, each
    // with its sequence number and the short name's checksum.
    void takeLongPart(const uint8_t* e) {
        const int32_t seq = e[0] & 0x1F;
        if ((e[0] & 0x40) != 0) {
            if (seq < 1 || seq > 20) {
                longCount_ = 0;
                return;
            }
            longCount_ = seq;
            longNext_ = seq;
            longSum_ = e[13];
            std::memset(longUnits_, 0, sizeof longUnits_);
        } else if (longCount_ == 0 || seq != longNext_ || e[13] != longSum_) {
            longCount_ = 0;
            return;
        }
        static constexpr int32_t kUnitOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (int32_t i = 0; i < 13; ++i) {
            longUnits_[(seq - 1) * 13 + i] = static_cast<uint16_t>(le16(e + kUnitOffsets[i]));
        }
        --longNext_;
    }

    // What recognise learnt.
    bool bpb_ = false;
    int32_t bps_ = 512, n_ = 2, spt_ = 9, heads_ = 2;
    uint8_t media_ = 0;
    int32_t reserved_ = 1, fats_ = 2, spf_ = 1, rootEntries_ = 16, spc_ = 1, totalSectors_ = 0;
    int32_t rootStart_ = 0, rootSectors_ = 0, dataStart_ = 0, clusters_ = 0;

    // The buffers are not cleared when the object is made: each is written
    // before it is read (loadFat writes the whole table), and the object
    // lives in static storage, so a disk that is no FAT disk never touches
    // their pages.
    SectorRecord records_[kMaxTrackRecords];
    uint8_t sector_[kMaxSectorBytes];
    // The table in use (one byte beyond its last entry for the 16-bit reads).
    bool fatLoaded_ = false;
    uint8_t fat_[kMaxFatBytes + 1];
    uint8_t fatCopy_[kMaxFatBytes];
    RunReport fatRun_;
    RunReport bestRun_;
    RunReport scratch_;
    ClusterSet chain_;
    ClusterSet dirClusters_;
    // Each frame is set up by open before it is used; kept as bare room, so
    // that no frame is made (nor its pointer relocated) at start-up.
    Room<Frame, kMaxFolderDepth + 1> frames_;
    int32_t longCount_ = 0, longNext_ = 0;
    uint8_t longSum_ = 0;
    uint16_t longUnits_[kMaxLongUnits];
    char name_[kMaxNameBytes];
};

}  // namespace

FileSystem& fat12FileSystem() {
    // cppcheck-suppress unassignedVariable
    static Fat12 fileSystem;
    return fileSystem;
}

}  // namespace imgpry::fs
