// CP/M 2.2 disks. A disk is reserved tracks (the system) followed by the
// data area, cut into blocks of whole sectors taken in sector-ID order along
// the linear tracks; the directory fills the first blocks. Each 32-byte
// directory entry is one piece of a file: user number, name, extent number,
// record count and the file's blocks for that piece.
//
// The formats read are rows of kFormats: a second format is one more row.
//
// Bounds (fixed storage): a format's directory holds at most
// kMaxDirEntries entries, its data area at most kMaxBlocks blocks, its
// tracks at most kMaxSectorsPerTrack sectors; the rows are checked against
// them when compiled. A disk's catalogue is at most kMaxDirEntries files
// and 15 folders.
#include <cstdio>
#include <cstring>

#include "file_system.h"
#include "file_systems.h"

namespace imgpry::fs {

namespace {

struct Format {
    const char* label;
    int32_t sizeCode;         // sectors of 128 << sizeCode bytes
    int32_t sectorsPerTrack;  // IDs 1..sectorsPerTrack
    int32_t heads;
    int32_t tracks;  // linear tracks: cylinders × heads
    int32_t reservedTracks;
    int32_t blockBytes;
    int32_t dirEntries;
};

// One row per format. X1 turbo 2D: 40 cylinders, 2 heads, 16 sectors of 256
// bytes; 4 system tracks; 2048-byte blocks; 64 entries in block 0.
constexpr Format kFormats[] = {
    {"X1 turbo 2D", 1, 16, 2, 80, 4, 2048, 64},
};

constexpr int32_t kMaxDirEntries = 512;
constexpr int32_t kMaxBlocks = 4096;
constexpr int32_t kMaxSectorsPerTrack = 64;
constexpr int32_t kEntryBytes = 32;
constexpr int32_t kRecordBytes = 128;
constexpr int32_t kRecordsPerExtent = 128;  // one logical extent: 16 KiB
constexpr int32_t kExtentBytes = kRecordBytes * kRecordsPerExtent;
constexpr int32_t kUsers = 16;
constexpr uint8_t kErased = 0xE5;

constexpr int32_t sectorBytes(const Format& f) { return 128 << f.sizeCode; }
constexpr int32_t sectorsPerBlock(const Format& f) { return f.blockBytes / sectorBytes(f); }
constexpr int32_t blockCount(const Format& f) {
    return (f.tracks - f.reservedTracks) * f.sectorsPerTrack / sectorsPerBlock(f);
}
constexpr int32_t dirBlocks(const Format& f) { return (f.dirEntries * kEntryBytes + f.blockBytes - 1) / f.blockBytes; }
// Block pointers are one byte while every block number fits in one.
constexpr bool widePointers(const Format& f) { return blockCount(f) > 256; }
constexpr int32_t pointersPerEntry(const Format& f) { return widePointers(f) ? 8 : 16; }
// The logical extents of 16 KiB one entry spans.
constexpr int32_t extentsPerEntry(const Format& f) { return pointersPerEntry(f) * f.blockBytes / kExtentBytes; }
constexpr int32_t dataBytes(const Format& f) { return (blockCount(f) - dirBlocks(f)) * f.blockBytes; }

constexpr bool fits(const Format& f) {
    return f.sizeCode >= 0 && f.sizeCode <= 6 && f.sectorsPerTrack >= 1 && f.sectorsPerTrack <= kMaxSectorsPerTrack &&
           f.heads >= 1 && f.heads <= 2 && f.reservedTracks >= 0 && f.tracks > f.reservedTracks &&
           f.tracks <= DiskImage::kNumTracks && f.blockBytes % sectorBytes(f) == 0 && f.blockBytes >= 1024 &&
           f.dirEntries >= 1 && f.dirEntries <= kMaxDirEntries && blockCount(f) <= kMaxBlocks &&
           dirBlocks(f) < blockCount(f) && extentsPerEntry(f) >= 1 &&
           (pointersPerEntry(f) * f.blockBytes) % kExtentBytes == 0 && dataBytes(f) <= kMaxFileBytes;
}

constexpr bool allFit() {
    for (const Format& f : kFormats) {
        if (!fits(f)) return false;
    }
    return true;
}
static_assert(allFit(), "a CP/M format exceeds the bounds of fs/cpm.cpp");

// Where a sector of the disk is: sector index L counted in ID order along
// the linear tracks from track 0.
SectorId sectorAt(const Format& f, int32_t index) {
    const int32_t t = index / f.sectorsPerTrack;
    return SectorId{t, t / f.heads, t % f.heads, index % f.sectorsPerTrack + 1, f.sizeCode};
}

// The sector index of block b's sector s.
int32_t blockSector(const Format& f, int32_t block, int32_t s) {
    return f.reservedTracks * f.sectorsPerTrack + block * sectorsPerBlock(f) + s;
}

class Cpm final : public FileSystem {
public:
    const char* name() const override { return "CP/M"; }

    bool recognise(DiskImage& image) override {
        for (const Format& f : kFormats) {
            format_ = &f;
            recognised_ = judge(image);
            if (recognised_) return true;
        }
        format_ = &kFormats[0];
        fileCount_ = 0;
        return false;
    }

    const char* describe(char* buf, size_t size) const override {
        const Format& f = *format_;
        (void)std::snprintf(buf, size, "CP/M, %d-byte sectors, %d per track, %d heads, %d-byte blocks",
                            static_cast<int>(sectorBytes(f)), static_cast<int>(f.sectorsPerTrack),
                            static_cast<int>(f.heads), static_cast<int>(f.blockBytes));
        return buf;
    }

    int32_t parameters(Parameter* out, int32_t max) const override {
        const Format& f = *format_;
        const Parameter all[] = {{"sectorBytes", sectorBytes(f)},
                                 {"sectorsPerTrack", f.sectorsPerTrack},
                                 {"heads", f.heads},
                                 {"tracks", f.tracks},
                                 {"reservedTracks", f.reservedTracks},
                                 {"blockBytes", f.blockBytes},
                                 {"blocks", blockCount(f)},
                                 {"directoryEntries", f.dirEntries}};
        return storeParameters(all, out, max);
    }

    Geometry geometry() const override {
        return Geometry{1, format_->sectorsPerTrack, format_->sizeCode, format_->heads};
    }

    void readCatalogue(DiskImage& /*image*/, Catalogue& catalogue) override {
        catalogue.clear();
        if (!recognised_) return;
        catalogue.noteArea("the directory", -1, run_);
        // User 0 at the disk's top, then a folder per other user that has
        // files, each followed by its files; files in directory order.
        for (int32_t user = 0; user < kUsers; ++user) {
            int32_t parent = -1;
            bool folderTried = false;
            for (int32_t i = 0; i < fileCount_; ++i) {
                if (files_[i].user != user) continue;
                if (user > 0 && !folderTried) {
                    folderTried = true;
                    char folder[8];
                    (void)std::snprintf(folder, sizeof folder, "user%d", static_cast<int>(user));
                    CatalogueEntry c;
                    c.kind = EntryKind::kFolder;
                    c.start = static_cast<uint32_t>(user);
                    parent = catalogue.add(c, folder, static_cast<int32_t>(sizeof folder));
                }
                if (user > 0 && parent < 0) break;
                addFile(catalogue, i, parent);
            }
        }
    }

    bool readFile(DiskImage& image, const Catalogue& catalogue, int32_t index, uint8_t* out, int32_t capacity,
                  RunReport& report, SectorVisitor* visitor) override {
        startReport(report, 0);
        if (index < 0 || index >= catalogue.count) return false;
        const CatalogueEntry& e = catalogue.entries[index];
        if (e.kind != EntryKind::kFile || e.extra >= static_cast<uint32_t>(fileCount_)) return false;
        const Format& f = *format_;
        const auto file = static_cast<int32_t>(e.extra);
        const int32_t size = files_[file].size;
        startReport(report, size);
        if (size > capacity) return false;
        if (size == 0) return true;
        const int32_t bytes = sectorBytes(f);
        const int32_t perEntry = pointersPerEntry(f) * f.blockBytes;
        int32_t lastTrack = 0;
        int32_t lastSector = 0;
        // Nothing is read of a file whose first sector falls short; a
        // visitor still sees the rest of its blocks.
        static RunReport rest;  // takes the reads no one counts
        RunReport* into = &report;
        // One step per block the size spans: at most the data area's blocks.
        for (int32_t at = 0; at < size; at += f.blockBytes) {
            const int32_t block = blockOf(file, at / perEntry, (at % perEntry) / f.blockBytes);
            if (block == 0 && into != &report) return false;
            if (block == 0) {
                // A piece of the file is missing: nothing further belongs to it.
                std::memset(out + at, 0, static_cast<size_t>(size - at));
                report.chainBroken = true;
                report.breakTrack = lastTrack;
                report.breakSector = lastSector;
                return at > 0;
            }
            for (int32_t s = 0; s < sectorsPerBlock(f) && at + s * bytes < size; ++s) {
                const int32_t pos = at + s * bytes;
                const int32_t want = size - pos < bytes ? size - pos : bytes;
                const SectorId id = sectorAt(f, blockSector(f, block, s));
                const int32_t held = readChunk(image, id, out + pos, want, *into, visitor);
                if (pos == 0 && held < want) {
                    report.got = 0;
                    if (visitor == nullptr) return false;
                    into = &rest;
                }
                lastTrack = id.track;
                lastSector = id.r;
            }
        }
        return into == &report;
    }

    void visitAreas(DiskImage& /*image*/, AreaVisitor& visitor) override {
        const Format& f = *format_;
        for (int32_t i = 0; i < f.reservedTracks * f.sectorsPerTrack; ++i)
            visitor.area(AreaKind::kSystem, sectorAt(f, i));
        for (int32_t b = 0; b < dirBlocks(f); ++b) {
            for (int32_t s = 0; s < sectorsPerBlock(f); ++s) {
                visitor.area(AreaKind::kDirectory, sectorAt(f, blockSector(f, b, s)));
            }
        }
    }

private:
    struct File {
        uint8_t user;
        uint8_t name[11];  // low 7 bits
        int32_t size;
        int32_t firstBlock;  // 0: none
    };

    // Whether the disk fits format_: every data track holds only sectors of
    // its size with IDs in range, and the directory reads as a CP/M
    // directory (see readDirectory). Keeps the directory and its files.
    bool judge(DiskImage& image) {
        const Format& f = *format_;
        fileCount_ = 0;
        startReport(run_, 0);
        // The directory's track first: most disks that are not this format
        // fail there.
        const int32_t dirTrack = f.reservedTracks;
        if (!trackFits(image, dirTrack)) return false;
        for (int32_t t = f.reservedTracks; t < f.tracks; ++t) {
            if (t != dirTrack && !trackFits(image, t)) return false;
        }
        return readDirectory(image);
    }

    // A track that is absent or empty is damage, not another format; one
    // with records must hold only this format's sectors.
    bool trackFits(DiskImage& image, int32_t t) {
        const Format& f = *format_;
        bool more = false;
        const int32_t count = image.readTrackRecords(t, records_, kMaxSectorsPerTrack, more);
        if (more) return false;
        for (int32_t i = 0; i < count; ++i) {
            if (records_[i].n != f.sizeCode || records_[i].r < 1 || records_[i].r > f.sectorsPerTrack) return false;
        }
        return true;
    }

    // Reads the directory sector by sector and judges every entry the
    // sectors delivered in whole: erased (user byte 0xE5), or user 0..15
    // with a name whose low 7 bits are printable (the high bits are
    // attributes), a record count of at most 128, a size within the data
    // area and block pointers inside it, no block claimed twice.
    //
    // A directory with no entry in use is no evidence of CP/M: every
    // formatted disk of this geometry whose fourth track is free (the real
    // Hu-BASIC disk's is 0xE5 throughout) would pass, and a damaged disk of
    // another system would then list as an empty CP/M disk. Such a directory
    // is CP/M only on a disk that holds nothing else: every directory and
    // reserved-track sector reads whole and holds only 0xE5, as a freshly
    // formatted CP/M disk does.
    bool readDirectory(DiskImage& image) {
        const Format& f = *format_;
        const int32_t bytes = sectorBytes(f);
        const int32_t sectors = f.dirEntries * kEntryBytes / bytes + (f.dirEntries * kEntryBytes % bytes != 0 ? 1 : 0);
        startReport(run_, f.dirEntries * kEntryBytes);
        std::memset(used_, 0, sizeof used_);
        int32_t whole = 0;
        int32_t inUse = 0;
        bool blank = true;
        for (int32_t s = 0; s < sectors; ++s) {
            const int32_t at = s * bytes;
            const int32_t want = run_.wanted - at < bytes ? run_.wanted - at : bytes;
            const int32_t held =
                readChunk(image, sectorAt(f, blockSector(f, 0, 0) + s), directory_ + at, want, run_, nullptr);
            if (held == want) ++whole;
            for (int32_t k = 0; k < want; ++k) blank = blank && directory_[at + k] == kErased;
            held_[s] = held;
        }
        if (whole == 0) return false;
        for (int32_t j = 0; j < f.dirEntries; ++j) {
            entryFile_[j] = -1;
            if (!delivered(j)) continue;
            const uint8_t* e = entry(j);
            if (e[0] == kErased) continue;
            if (!entryFits(e)) return false;
            ++inUse;
            addEntry(j);
        }
        for (int32_t i = 0; i < fileCount_; ++i) files_[i].firstBlock = blockOf(i, 0, 0);
        if (inUse > 0) return true;
        return blank && whole == sectors && reservedBlank(image);
    }

    bool reservedBlank(DiskImage& image) {
        const Format& f = *format_;
        const int32_t bytes = sectorBytes(f);
        RunReport& scratch = scratchReport_;
        startReport(scratch, 0);
        for (int32_t i = 0; i < f.reservedTracks * f.sectorsPerTrack; ++i) {
            if (readChunk(image, sectorAt(f, i), sector_, bytes, scratch, nullptr) != bytes) return false;
            for (int32_t k = 0; k < bytes; ++k) {
                if (sector_[k] != kErased) return false;
            }
        }
        return true;
    }

    bool delivered(int32_t j) const {
        const int32_t bytes = sectorBytes(*format_);
        const int32_t at = j * kEntryBytes;
        return held_[at / bytes] >= at % bytes + kEntryBytes;
    }

    const uint8_t* entry(int32_t j) const { return directory_ + static_cast<ptrdiff_t>(j) * kEntryBytes; }

    static int32_t extentOf(const uint8_t* e) { return e[12] + 32 * e[14]; }

    int32_t pointer(const uint8_t* e, int32_t k) const {
        if (widePointers(*format_)) return e[16 + 2 * k] | (e[17 + 2 * k] << 8);
        return e[16 + k];
    }

    bool entryFits(const uint8_t* e) {
        const Format& f = *format_;
        if (e[0] >= kUsers) return false;
        for (int32_t k = 1; k <= 11; ++k) {
            const int32_t c = e[k] & 0x7F;
            if (c < 0x20 || c > 0x7E) return false;
        }
        if (e[15] > kRecordsPerExtent) return false;
        const int64_t size = (static_cast<int64_t>(extentOf(e)) * kRecordsPerExtent + e[15]) * kRecordBytes;
        if (size > dataBytes(f)) return false;
        for (int32_t k = 0; k < pointersPerEntry(f); ++k) {
            const int32_t b = pointer(e, k);
            if (b == 0) continue;
            if (b < dirBlocks(f) || b >= blockCount(f)) return false;
            const auto bit = static_cast<uint8_t>(1U << (b & 7));
            if ((used_[b >> 3] & bit) != 0) return false;
            used_[b >> 3] = static_cast<uint8_t>(used_[b >> 3] | bit);
        }
        return true;
    }

    // Gives entry j to its file, made when it is the file's first entry;
    // the size follows the entry with the highest extent number.
    void addEntry(int32_t j) {
        const uint8_t* e = entry(j);
        uint8_t name[11];
        for (int32_t k = 0; k < 11; ++k) name[k] = static_cast<uint8_t>(e[1 + k] & 0x7F);
        int32_t i = 0;
        while (i < fileCount_ && (files_[i].user != e[0] || std::memcmp(files_[i].name, name, sizeof name) != 0)) ++i;
        if (i == fileCount_) {
            File& fresh = files_[fileCount_++];
            fresh.user = e[0];
            std::memcpy(fresh.name, name, sizeof name);
            fresh.size = -1;
            fresh.firstBlock = 0;
            topExtent_[i] = -1;
        }
        File& file = files_[i];
        const int32_t x = extentOf(e);
        if (x > topExtent_[i]) {
            topExtent_[i] = x;
            file.size = (x * kRecordsPerExtent + e[15]) * kRecordBytes;
        }
        entryFile_[j] = i;
    }

    // Block k of file i's piece `piece` (the entry whose extent number, in
    // units of one entry's span, is piece; the highest such extent when the
    // directory holds several); 0 when there is none.
    int32_t blockOf(int32_t file, int32_t piece, int32_t k) const {
        const Format& f = *format_;
        int32_t best = -1;
        int32_t bestExtent = -1;
        for (int32_t j = 0; j < f.dirEntries; ++j) {
            if (entryFile_[j] != file) continue;
            const int32_t x = extentOf(entry(j));
            if (x / extentsPerEntry(f) == piece && x > bestExtent) {
                best = j;
                bestExtent = x;
            }
        }
        return best < 0 ? 0 : pointer(entry(best), k);
    }

    void addFile(Catalogue& catalogue, int32_t i, int32_t parent) const {
        const File& file = files_[i];
        char name[13];
        int32_t n = 0;
        int32_t end = 8;
        while (end > 0 && file.name[end - 1] == ' ') --end;
        for (int32_t k = 0; k < end; ++k) name[n++] = static_cast<char>(file.name[k]);
        end = 11;
        while (end > 8 && file.name[end - 1] == ' ') --end;
        if (end > 8) name[n++] = '.';
        for (int32_t k = 8; k < end; ++k) name[n++] = static_cast<char>(file.name[k]);
        CatalogueEntry c;
        c.parent = parent;
        c.size = file.size;
        if (file.size > 0 && file.firstBlock != 0) {
            const SectorId first = sectorAt(*format_, blockSector(*format_, file.firstBlock, 0));
            c.firstTrack = first.track;
            c.firstSector = first.r;
        }
        c.start = static_cast<uint32_t>(file.firstBlock);
        c.extra = static_cast<uint32_t>(i);
        (void)catalogue.add(c, name, n);
    }

    const Format* format_ = &kFormats[0];
    SectorRecord records_[kMaxSectorsPerTrack];
    uint8_t directory_[kMaxDirEntries * kEntryBytes] = {};
    int32_t held_[kMaxDirEntries * kEntryBytes / 128] = {};
    uint8_t used_[kMaxBlocks / 8] = {};
    uint8_t sector_[128 << 6] = {};
    int32_t entryFile_[kMaxDirEntries] = {};
    File files_[kMaxDirEntries] = {};
    int32_t topExtent_[kMaxDirEntries] = {};
    int32_t fileCount_ = 0;
    bool recognised_ = false;
    RunReport run_;
    RunReport scratchReport_;
};

}  // namespace

FileSystem& cpmFileSystem() {
    static Cpm fileSystem;
    return fileSystem;
}

}  // namespace imgpry::fs
