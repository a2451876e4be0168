#include "builtin.h"

#include <cstdio>
#include <cstring>

#include "file_system.h"
#include "file_systems.h"

namespace imgpry::fs {

namespace {

constexpr uint8_t kPad = 0x20;

}  // namespace

int32_t entryName(const uint8_t* entry, char* out) {
    int32_t k = 0;
    for (int32_t i = 1; i <= 8 && entry[i] != kPad; ++i) out[k++] = static_cast<char>(entry[i]);
    if (entry[9] != kPad) out[k++] = '.';
    for (int32_t i = 9; i <= 11 && entry[i] != kPad; ++i) out[k++] = static_cast<char>(entry[i]);
    out[k] = '\0';
    return static_cast<int32_t>(std::strlen(out));
}

Entry decodeEntry(const uint8_t* entry) {
    Entry e{};
    e.status = entry[0];
    (void)entryName(entry, e.name);
    e.track = entry[12];
    e.sector = entry[13];
    e.size = entry[14] * kSectorBytes;
    return e;
}

bool selectDisk(DiskImage& image, int32_t index) {
    const bool selected = image.selectDisk(index);
    image.setSectorRange(kFirstSector, kLastSector);
    return selected;
}

void readFile(DiskImage& image, const Entry& entry, uint8_t* out, RunReport& report) {
    readRun(image, entry.track, entry.track >> 1, entry.track & 1, entry.sector, kSizeCode, out, entry.size,
            RunMode::kRecover, report);
}

void readDirectory(DiskImage& image, uint8_t* out, RunReport& report) {
    readRun(image, kDirTrack, 0, 1, kFirstSector, kSizeCode, out, kDirBytes, RunMode::kStopAtShort, report);
}

void unreadableDisk(Catalogue& catalogue, int error) {
    catalogue.clear();
    static RunReport run;
    startReport(run, kDirBytes);
    run.shortCount = 1;
    run.shorts[0] = ShortSector{kDirTrack, kFirstSector, 0, error};
    catalogue.noteArea("the directory", -1, run);
}

}  // namespace imgpry::fs

namespace imgpry::fs {

namespace {

// The built-in file system as the programs see it through the interface.
class Builtin final : public FileSystem {
public:
    const char* name() const override { return "built-in"; }

    // Track 1 holds the directory's two sectors, R = 1 and 2 with N = 3.
    bool recognise(DiskImage& image) override {
        image.setSectorRange(kFirstSector, kLastSector);
        bool more = false;
        const int32_t count = image.readTrackRecords(kDirTrack, records_, kMaxRecords, more);
        bool first = false;
        bool second = false;
        for (int32_t i = 0; i < count; ++i) {
            if (records_[i].n != kSizeCode) continue;
            first = first || records_[i].r == kFirstSector;
            second = second || records_[i].r == kFirstSector + 1;
        }
        return first && second;
    }

    const char* describe(char* buf, size_t size) const override {
        (void)std::snprintf(buf, size, "built-in, %d-byte sectors, %d per track, 2 heads",
                            static_cast<int>(kSectorBytes), static_cast<int>(kLastSector - kFirstSector + 1));
        return buf;
    }

    int32_t parameters(Parameter* out, int32_t max) const override {
        const Parameter all[] = {{"sectorBytes", kSectorBytes},
                                 {"sectorsPerTrack", kLastSector - kFirstSector + 1},
                                 {"heads", 2},
                                 {"directoryEntries", kDirEntries}};
        return storeParameters(all, out, max);
    }

    Geometry geometry() const override { return Geometry{kFirstSector, kLastSector, kSizeCode, 2}; }

    void readCatalogue(DiskImage& image, Catalogue& catalogue) override {
        catalogue.clear();
        image.setSectorRange(kFirstSector, kLastSector);
        readDirectory(image, directory_, run_);
        catalogue.noteArea("the directory", -1, run_);
        // Only entries that the read delivered in whole belong to the disk.
        const int32_t entries = run_.got / kDirEntrySize;
        for (int32_t j = 0; j < entries; ++j) {
            const uint8_t* e = directory_ + static_cast<ptrdiff_t>(kDirEntrySize) * j;
            if (e[0] == kStatusEnd) break;
            if (e[0] != kStatusFile) continue;
            const Entry d = decodeEntry(e);
            CatalogueEntry c;
            c.size = d.size;
            c.firstTrack = d.track;
            c.firstSector = d.sector;
            c.start = static_cast<uint32_t>(j);
            (void)catalogue.add(c, d.name, kMaxNameLength);
        }
    }

    bool readFile(DiskImage& image, const Catalogue& catalogue, int32_t index, uint8_t* out, int32_t capacity,
                  RunReport& report, SectorVisitor* visitor) override {
        const CatalogueEntry& e = catalogue.entries[index];
        startReport(report, e.size);
        if (e.size <= 0 || e.size > capacity) return false;
        image.setSectorRange(kFirstSector, kLastSector);
        // Every sector on its own, stepping as the file's run steps; nothing
        // is read of a file whose first sector falls short, though a visitor
        // still sees the rest of its sectors.
        static RunReport rest;  // takes the reads no one counts
        RunReport* into = &report;
        int32_t t = e.firstTrack;
        int32_t c = t >> 1;
        int32_t h = t & 1;
        int32_t r = e.firstSector;
        // What the reader holds already is taken a track's run at a time (a
        // visitor sees each sector on its own): at the file's first sector,
        // and after each sector searched on the same track. A track just
        // stepped onto is searched first (it is not walked yet), and one
        // still not held after a search (a walk too long to keep) is not
        // asked again.
        bool ask = visitor == nullptr;
        int32_t notHeld = -1;
        for (int32_t sum = 0; sum < e.size; sum += kSectorBytes) {
            if (ask && t != notHeld) {
                const int32_t k =
                    readHeldChunks(image, SectorId{t, c, h, r, kSizeCode}, out + sum, e.size - sum, report);
                if (k == 0 && sum > 0) notHeld = t;
                for (int32_t i = 0; i < k; ++i) {
                    sum += kSectorBytes;
                    image.stepSector(t, c, h, r);
                }
                if (sum >= e.size) break;
            }
            const int32_t want = e.size - sum < kSectorBytes ? e.size - sum : kSectorBytes;
            const int32_t held = readChunk(image, SectorId{t, c, h, r, kSizeCode}, out + sum, want, *into, visitor);
            if (sum == 0 && held < want) {
                report.got = 0;
                if (visitor == nullptr) return false;
                into = &rest;
            }
            const int32_t searched = t;
            image.stepSector(t, c, h, r);
            ask = visitor == nullptr && t == searched;
        }
        return into == &report;
    }

    void visitAreas(DiskImage& /*image*/, AreaVisitor& visitor) override {
        for (int32_t s = 0; s < kDirSectors; ++s) {
            visitor.area(AreaKind::kDirectory, SectorId{kDirTrack, 0, 1, kFirstSector + s, kSizeCode});
        }
    }

private:
    static constexpr int32_t kMaxRecords = 64;
    SectorRecord records_[kMaxRecords];
    uint8_t directory_[kDirBytes] = {};
    RunReport run_;
};

}  // namespace

FileSystem& builtinFileSystem() {
    static Builtin fileSystem;
    return fileSystem;
}

}  // namespace imgpry::fs
