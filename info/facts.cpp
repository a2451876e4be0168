#include "facts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "builtin.h"
#include "names.h"
#include "text.h"

namespace imgpry::info {

namespace {

// The catalogue of the disk being gathered, a file's bytes and an area
// sector's: one of each, reused disk after disk.
fs::Catalogue catalogue;
uint8_t fileBuffer[fs::kMaxFileBytes];
uint8_t sectorBuffer[1 << 16];
fs::RunReport run;

// Keeps a NUL-terminated text in the pool; offset 0 (the empty text) when
// the pool is full.
int32_t keepText(Facts& f, const char* s) {
    const size_t length = std::strlen(s);
    if (length + 1 > static_cast<size_t>(kMaxTextBytes - f.textUsed)) return 0;
    const int32_t at = f.textUsed;
    std::memcpy(f.text + at, s, length + 1);
    f.textUsed += static_cast<int32_t>(length) + 1;
    return at;
}

// A name's bytes as UTF-8, as its encoding says.
const char* nameAsText(const char* bytes, fs::NameEncoding encoding, char* out, size_t size) {
    return encoding == fs::NameEncoding::kUtf8 ? fs::utf8OrReplacement(bytes, out, size)
                                               : fs::shiftJisToUtf8(bytes, out, size);
}

// The parents of entry index, innermost first; bounded by the folder depth.
int32_t chainOf(const fs::Catalogue& c, int32_t index, int32_t* chain) {
    int32_t depth = 0;
    for (int32_t i = index; i >= 0 && i < c.count && depth <= fs::kMaxFolderDepth; i = c.entries[i].parent) {
        chain[depth++] = i;
    }
    return depth;
}

// The path of entry index as UTF-8, each part decoded by its encoding.
void pathText(const fs::Catalogue& c, int32_t index, char* out, size_t size) {
    int32_t chain[fs::kMaxFolderDepth + 1];
    const int32_t depth = chainOf(c, index, chain);
    static char part[3 * fs::kMaxNameBytes + 1];
    size_t used = 0;
    out[0] = '\0';
    for (int32_t k = depth - 1; k >= 0; --k) {
        nameAsText(c.name(chain[k]), c.entries[chain[k]].encoding, part, sizeof part);
        const int n = std::snprintf(out + used, size - used, "%s%s", part, k > 0 ? "/" : "");
        if (n < 0 || static_cast<size_t>(n) >= size - used) return;
        used += static_cast<size_t>(n);
    }
}

bool unsafePath(const fs::Catalogue& c, int32_t index) {
    int32_t chain[fs::kMaxFolderDepth + 1];
    const int32_t depth = chainOf(c, index, chain);
    for (int32_t k = 0; k < depth; ++k) {
        if (fs::isUnsafeName(c.name(chain[k]), fs::kHostNameRules)) return true;
    }
    return false;
}

Span keepShorts(Facts& f, const fs::RunReport& r) {
    const int32_t n = r.shortCount < fs::kMaxRunSectors ? r.shortCount : fs::kMaxRunSectors;
    const Span s{f.shortsUsed, 0};
    for (int32_t i = 0; i < n && f.shortsUsed < kMaxKeptSectors; ++i) f.shorts[f.shortsUsed++] = r.shorts[i];
    return Span{s.at, f.shortsUsed - s.at};
}

Span keepMarks(Facts& f, const fs::RunReport& r) {
    const int32_t n = r.markCount < fs::kMaxRunSectors ? r.markCount : fs::kMaxRunSectors;
    const Span s{f.marksUsed, 0};
    for (int32_t i = 0; i < n && f.marksUsed < kMaxKeptSectors; ++i) f.marks[f.marksUsed++] = r.marks[i];
    return Span{s.at, f.marksUsed - s.at};
}

// What a disk that no file system reads holds on the built-in system's
// directory track, in the words the report has always used.
void describeForeign(const Facts& f, const DiskFacts& d, char* buf, size_t size) {
    const TrackFacts& t = d.tracks[fs::kDirTrack];
    const int track = static_cast<int>(fs::kDirTrack);
    if (t.records.count == 0) {
        (void)std::snprintf(buf, size, "not a file system imgpry reads: track %d holds no sector", track);
        return;
    }
    const SectorRecord* r = f.records.data() + t.records.at;
    bool sameSize = true;
    for (int32_t i = 1; i < t.records.count; ++i) sameSize = sameSize && r[i].dataSize == r[0].dataSize;
    if (sameSize) {
        (void)std::snprintf(buf, size, "not a file system imgpry reads: track %d holds %d%s sector%s of %d bytes",
                            track, static_cast<int>(t.records.count), t.more ? "+" : "",
                            t.records.count == 1 && !t.more ? "" : "s", static_cast<int>(r[0].dataSize));
    } else {
        (void)std::snprintf(buf, size, "not a file system imgpry reads: track %d holds %d%s sectors of differing sizes",
                            track, static_cast<int>(t.records.count), t.more ? "+" : "");
    }
}

// The geometry to draw a disk no file system reads by: the IDs the
// directory track (or else the first present track) holds.
fs::Geometry foreignGeometry(const Facts& f, const DiskFacts& d) {
    const TrackFacts* t = &d.tracks[fs::kDirTrack];
    for (int32_t k = 0; k < kNumTracks && t->records.count == 0; ++k) t = &d.tracks[k];
    fs::Geometry g;
    if (t->records.count == 0) return g;
    const SectorRecord* r = f.records.data() + t->records.at;
    g.sizeCode = r[0].n;
    g.firstSector = r[0].r;
    g.lastSector = r[0].r;
    for (int32_t i = 0; i < t->records.count; ++i) {
        if (r[i].n != g.sizeCode) continue;
        if (r[i].r < g.firstSector) g.firstSector = r[i].r;
        if (r[i].r > g.lastSector) g.lastSector = r[i].r;
    }
    return g;
}

// --- The map's cells -----------------------------------------------------

void layOutCells(Facts& f, DiskFacts& d) {
    int32_t columns = d.geometry.lastSector - d.geometry.firstSector + 1;
    if (columns < 0) columns = 0;
    if (columns > kMaxGridColumns) columns = kMaxGridColumns;
    int32_t lastTrack = -1;
    for (int32_t t = 0; t < kNumTracks; ++t) {
        if (d.tracks[t].offset >= 0) lastTrack = t;
    }
    d.cylinders = lastTrack < 0 ? 0 : lastTrack / 2 + 1;
    bool used[kMaxTrackRecords];
    for (int32_t t = 0; t <= lastTrack; ++t) {
        const TrackFacts& tf = d.tracks[t];
        TrackCells& tc = d.cells[t];
        tc = TrackCells{};
        if (tf.offset < 0) continue;
        const int32_t need = columns + tf.records.count;
        if (need > kMaxCells - f.cellsUsed) return;  // the map draws no more tracks
        tc.cells.at = f.cellsUsed;
        tc.grid = columns;
        const SectorRecord* recs = f.records.data() + tf.records.at;
        for (int32_t i = 0; i < tf.records.count; ++i) used[i] = false;
        for (int32_t k = 0; k < columns; ++k) {
            Cell& cell = f.cells[f.cellsUsed++];
            cell = Cell{};
            const int32_t r = d.geometry.firstSector + k;
            cell.r = static_cast<uint8_t>(r);
            // The record a search by this ID finds: the one of this track's
            // C and H first, else any of this R and N.
            int32_t found = -1;
            for (int32_t i = 0; i < tf.records.count && found < 0; ++i) {
                if (!used[i] && recs[i].r == r && recs[i].n == d.geometry.sizeCode && recs[i].c == t >> 1 &&
                    recs[i].h == (t & 1))
                    found = i;
            }
            for (int32_t i = 0; i < tf.records.count && found < 0; ++i) {
                if (!used[i] && recs[i].r == r && recs[i].n == d.geometry.sizeCode) found = i;
            }
            if (found >= 0) {
                used[found] = true;
                cell.record = static_cast<int16_t>(found);
            }
        }
        int32_t extras = 0;
        for (int32_t i = 0; i < tf.records.count; ++i) {
            if (used[i]) continue;
            Cell& cell = f.cells[f.cellsUsed++];
            cell = Cell{};
            cell.record = static_cast<int16_t>(i);
            cell.r = recs[i].r;
            ++extras;
        }
        tc.cells.count = columns + extras;
        int32_t& widest = d.widestExtras[t & 1];
        if (extras > widest) widest = extras;
    }
}

// The cell a sector of track id.track stands in; nullptr when the map has
// none for it.
Cell* cellOf(Facts& f, DiskFacts& d, const fs::SectorId& id) {
    if (id.track < 0 || id.track >= kNumTracks) return nullptr;
    const TrackCells& tc = d.cells[id.track];
    if (tc.cells.count == 0) return nullptr;
    Cell* cells = f.cells.data() + tc.cells.at;
    const int32_t k = id.r - d.geometry.firstSector;
    if (id.n == d.geometry.sizeCode && k >= 0 && k < tc.grid) return &cells[k];
    const SectorRecord* recs = f.records.data() + d.tracks[id.track].records.at;
    for (int32_t i = tc.grid; i < tc.cells.count; ++i) {
        const SectorRecord& rec = recs[cells[i].record];
        if (rec.c == id.c && rec.h == id.h && rec.r == id.r && rec.n == id.n) return &cells[i];
    }
    return nullptr;
}

void noteVisit(Cell& cell, const fs::SectorVisit& v) {
    cell.visited = 1;
    cell.held = static_cast<uint16_t>(v.held < 0xFFFF ? v.held : 0xFFFF);
    cell.wanted = static_cast<uint16_t>(v.wanted < 0xFFFF ? v.wanted : 0xFFFF);
    cell.error = static_cast<int16_t>(v.error);
}

// Marks each sector a file's read meets as the file's.
class FileCells final : public fs::SectorVisitor {
public:
    FileCells(Facts& f, DiskFacts& d, int32_t file) : facts(f), disk(d), owner(file) {}
    void visit(const fs::SectorVisit& v) override {
        Cell* cell = cellOf(facts, disk, v.id);
        if (cell == nullptr) return;
        if (cell->owner == kNoOwner) {
            cell->owner = owner;
        } else if (cell->owner != owner && cell->second == kNoOwner) {
            cell->second = owner;
        }
        noteVisit(*cell, v);
    }

private:
    Facts& facts;
    DiskFacts& disk;
    int32_t owner;
};

// Collects the sectors of a file system's areas.
class AreaList final : public fs::AreaVisitor {
public:
    explicit AreaList(Facts& f) : facts(f) {}
    void area(fs::AreaKind kind, const fs::SectorId& sector) override {
        if (facts.areasUsed >= kMaxAreaSectors) return;
        AreaSector& a = facts.areas[facts.areasUsed++];
        a.kind = kind;
        a.visit = fs::SectorVisit{};
        a.visit.id = sector;
    }

private:
    Facts& facts;
};

// Keeps the visit of one sector.
class OneVisit final : public fs::SectorVisitor {
public:
    void visit(const fs::SectorVisit& v) override { seen = v; }
    fs::SectorVisit seen;
};

// --- A disk --------------------------------------------------------------

void gatherTracks(Facts& f, DiskImage& image, DiskFacts& d) {
    for (int32_t t = 0; t < kNumTracks; ++t) {
        TrackFacts& tf = d.tracks[t];
        tf = TrackFacts{};
        tf.offset = image.trackOffset(t);
        if (tf.offset < 0) continue;
        ++d.present;
        tf.pastEnd = d.offset + tf.offset >= f.imageSize;
        const int32_t room =
            kMaxRecords - f.recordsUsed < kMaxTrackRecords ? kMaxRecords - f.recordsUsed : kMaxTrackRecords;
        bool more = false;
        const int32_t n = image.readTrackRecords(t, f.records.data() + f.recordsUsed, room, more);
        tf.records = Span{f.recordsUsed, n};
        f.recordsUsed += n;
        tf.more = more;
        tf.error = image.readError();
        if (tf.error != 0 && d.trackError == 0) {
            d.trackError = tf.error;
            d.trackErrorTrack = t;
        }
        for (int32_t i = 0; i < n; ++i) {
            if (fs::isMarked(f.records[tf.records.at + i])) ++d.markedRecords;
        }
    }
}

void gatherAreas(Facts& f, DiskImage& image, fs::FileSystem& system, DiskFacts& d, bool withMap) {
    d.areas.at = f.areasUsed;
    AreaList list(f);
    system.visitAreas(image, list);
    d.areas.count = f.areasUsed - d.areas.at;
    for (int32_t i = 0; i < d.areas.count; ++i) {
        AreaSector& a = f.areas[d.areas.at + i];
        const fs::SectorId id = a.visit.id;
        const int32_t want = id.n >= 0 && id.n <= 8 ? 128 << id.n : 0;
        OneVisit one;
        fs::startReport(run, want);
        (void)fs::readChunk(image, id, sectorBuffer, want, run, &one);
        one.seen.id = id;
        a.visit = one.seen;
        if (a.kind == fs::AreaKind::kDirectory) d.directoryBytes += want;
        if (!withMap) continue;
        if (Cell* cell = cellOf(f, d, id)) {
            if (cell->area == 0) cell->area = static_cast<uint8_t>(static_cast<int>(a.kind) + 1);
            noteVisit(*cell, a.visit);
        }
    }
}

void gatherFiles(Facts& f, DiskImage& image, fs::FileSystem& system, DiskFacts& d, bool withMap) {
    static char path[4 * 4096];
    static char text[3 * 4 * 4096 + 1];
    static char name[3 * fs::kMaxNameBytes + 1];
    d.files.at = f.fileCount;
    int32_t number = 0;
    for (int32_t i = 0; i < catalogue.count; ++i) {
        const fs::CatalogueEntry& e = catalogue.entries[i];
        if (e.kind != fs::EntryKind::kFile) continue;
        if (f.fileCount >= kMaxFiles) {
            f.filesFull = true;
            break;
        }
        const int32_t index = f.fileCount++;
        FileFacts& file = f.files[index];
        file = FileFacts{};
        file.disk = d.number - 1;
        file.entry = i;
        file.number = ++number;
        file.pathAt = keepText(f, fs::entryPath(catalogue, i, path, sizeof path));
        pathText(catalogue, i, text, sizeof text);
        file.pathTextAt = keepText(f, text);
        file.nameAt = keepText(f, catalogue.name(i));
        file.nameTextAt = keepText(f, nameAsText(catalogue.name(i), e.encoding, name, sizeof name));
        file.encoding = e.encoding;
        file.size = e.size;
        file.firstTrack = e.firstTrack;
        file.firstSector = e.firstSector;
        FileCells cells(f, d, index);
        file.read =
            system.readFile(image, catalogue, i, fileBuffer, fs::kMaxFileBytes, run, withMap ? &cells : nullptr);
        file.got = run.got;
        file.chainBroken = run.chainBroken;
        file.breakTrack = run.breakTrack;
        file.breakSector = run.breakSector;
        file.shorts = keepShorts(f, run);
        file.marks = keepMarks(f, run);
        file.shortCount = run.shortCount;
        file.markCount = run.markCount;
        file.unsafe = unsafePath(catalogue, i);
        file.emptyName = catalogue.name(i)[0] == '\0';
        file.writes = file.read && !file.unsafe && !file.emptyName;
    }
    d.files.count = f.fileCount - d.files.at;
}

void gatherDisk(Facts& f, DiskImage& image, int32_t index, bool withMap) {
    DiskFacts& d = f.disks[index];
    d = DiskFacts{};
    d.number = index + 1;
    d.offset = image.diskOffsetOf(index);
    d.files.at = f.fileCount;
    d.selected = image.selectDisk(index);
    if (!d.selected) {
        d.selectError = image.readError();
        return;
    }
    d.sizeField = image.diskSizeField();
    d.mediaType = image.mediaType();
    d.writeProtect = image.writeProtect();
    std::memcpy(d.name, image.diskName(), sizeof d.name);
    d.truncatedBy = fs::bytesPastEnd(f.imageSize, d.offset, d.sizeField, f.readError != 0 ? f.readErrorAt : -1);
    gatherTracks(f, image, d);

    bool recognised = false;
    fs::FileSystem& system = fs::recogniseDisk(image, recognised);
    d.fileSystem = system.name();
    d.recognised = recognised;
    if (recognised) {
        (void)system.describe(d.description, sizeof d.description);
        d.parameterCount = system.parameters(d.parameters, fs::kMaxParameters);
        d.geometry = system.geometry();
    } else {
        describeForeign(f, d, d.foreign, sizeof d.foreign);
        d.geometry = foreignGeometry(f, d);
    }
    if (withMap) layOutCells(f, d);

    system.readCatalogue(image, catalogue);
    d.problemCount = catalogue.problemCount;
    static char path[4 * 4096];
    static char text[3 * 4 * 4096 + 1];
    for (int32_t i = 0; i < d.problemCount; ++i) {
        const fs::Problem& p = catalogue.problems[i];
        d.problems[i] = p;
        d.problemPath[i] = -1;
        d.problemPathText[i] = -1;
        if (p.entry >= 0 && p.entry < catalogue.count) {
            d.problemPath[i] = keepText(f, fs::entryPath(catalogue, p.entry, path, sizeof path));
            pathText(catalogue, p.entry, text, sizeof text);
            d.problemPathText[i] = keepText(f, text);
        }
    }
    gatherAreas(f, image, system, d, withMap);
    d.directoryRead = d.directoryBytes;
    for (int32_t i = 0; i < d.problemCount; ++i) {
        const fs::Problem& p = d.problems[i];
        if (p.kind != fs::ProblemKind::kArea || p.entry >= 0 || std::strcmp(p.what, "the directory") != 0) continue;
        if (p.got < p.wanted) {
            d.directoryWhole = false;
            d.directoryRead = p.got;
            d.directoryBytes = p.wanted;
            d.directoryStop = p.firstShort;
        }
    }
    gatherFiles(f, image, system, d, withMap);
}

// --- Judging -------------------------------------------------------------

uint32_t foldedHash(const char* s) {
    uint32_t h = 2166136261U;
    for (; *s != '\0'; ++s) {
        char c = *s;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        h = (h ^ static_cast<unsigned char>(c)) * 16777619U;
    }
    return h;
}

// Which later file replaces each file on the host: the next one written
// under the same path. One walk from the last file back, with a table of
// the nearest written file of each path.
void settleReplacements(Facts& f) {
    constexpr uint32_t kSlots = 2U * kMaxFiles;
    static int32_t slots[kSlots];
    std::fill(slots, slots + kSlots, -1);
    for (int32_t k = f.fileCount - 1; k >= 0; --k) {
        FileFacts& file = f.files[k];
        if (!file.writes) continue;
        const char* path = f.at(file.pathAt);
        uint32_t s = foldedHash(path) % kSlots;
        // At most kMaxFiles slots are ever taken, so a free one is found.
        while (slots[s] >= 0 && !fs::sameFileName(f.at(f.files[slots[s]].pathAt), path, fs::kHostNameRules)) {
            s = (s + 1) % kSlots;
        }
        file.replacedBy = slots[s];
        slots[s] = k;
    }
}

void add(char* buf, size_t size, const char* text) {
    size_t used = std::strlen(buf);
    // Parts after the first are joined by ", "; what does not fit is cut.
    const char* parts[] = {used == 0 ? "" : ", ", text};
    for (const char* p : parts) {
        for (; *p != '\0' && used + 1 < size; ++p) buf[used++] = *p;
    }
    buf[used] = '\0';
}

void addCount(char* buf, size_t size, int32_t n, const char* one, const char* many) {
    if (n == 0) return;
    char part[96];
    (void)std::snprintf(part, sizeof part, "%d %s", static_cast<int>(n), n == 1 ? one : many);
    add(buf, size, part);
}

void judgeDisk(Facts& f, DiskFacts& d) {
    char* s = d.status;
    const size_t size = sizeof d.status;
    s[0] = '\0';
    char where[160];
    if (!d.selected) {
        (void)std::snprintf(s, size, "not read: its header could not be read%s%s", d.selectError != 0 ? ": " : "",
                            d.selectError != 0 ? std::strerror(d.selectError) : "");
        d.damaged = true;
        return;
    }
    if (d.truncatedBy > 0) {
        char part[96];
        (void)std::snprintf(part, sizeof part, "%lld bytes cut off", static_cast<long long>(d.truncatedBy));
        add(s, size, part);
    }
    if (d.trackError != 0) {
        char part[160];
        (void)std::snprintf(part, sizeof part, "trk=%02x could not be read: %s",
                            static_cast<unsigned>(d.trackErrorTrack), std::strerror(d.trackError));
        add(s, size, part);
    }
    if (!d.recognised) {
        add(s, size, d.foreign);
    } else {
        for (int32_t i = 0; i < d.problemCount; ++i) {
            const fs::Problem& p = d.problems[i];
            char part[256];
            if (p.kind == fs::ProblemKind::kNote) {
                (void)std::snprintf(part, sizeof part, "%s", p.what);
            } else {
                // "the directory" names the area: "directory not read: ...".
                const char* what = std::strncmp(p.what, "the ", 4) == 0 ? p.what + 4 : p.what;
                if (p.got < p.wanted) {
                    (void)fs::describeShort(p.firstShort, where, sizeof where);
                    (void)std::snprintf(part, sizeof part, "%s %s: %s", what, p.got == 0 ? "not read" : "partly read",
                                        where);
                } else {
                    (void)std::snprintf(part, sizeof part, "%s: %d sector%s marked", what,
                                        static_cast<int>(p.markCount), p.markCount == 1 ? "" : "s");
                }
            }
            add(s, size, part);
        }
    }
    int32_t partly = 0, unreadable = 0, marked = 0, unsafe = 0, unnamed = 0, replaced = 0, broken = 0;
    for (int32_t k = 0; k < d.files.count; ++k) {
        FileFacts& file = f.files[d.files.at + k];
        const bool lost = file.size > 0 && file.got < file.size;
        if (lost && file.got == 0) {
            ++unreadable;
        } else if (lost) {
            ++partly;
        }
        if (file.chainBroken) ++broken;
        if (file.markCount > 0) ++marked;
        if (file.unsafe) ++unsafe;
        if (file.emptyName && file.size > 0) ++unnamed;
        if (file.replacedBy >= 0) ++replaced;
        file.damaged = lost || file.chainBroken || file.markCount > 0 || file.unsafe || file.replacedBy >= 0 ||
                       (file.size > 0 && !file.writes);
        d.damaged = d.damaged || file.damaged;
    }
    addCount(s, size, partly, "file partly read", "files partly read");
    addCount(s, size, unreadable, "file unreadable", "files unreadable");
    addCount(s, size, broken, "chain broken", "chains broken");
    addCount(s, size, marked, "file marked", "files marked");
    addCount(s, size, unsafe, "unsafe name", "unsafe names");
    addCount(s, size, unnamed, "file with no name", "files with no name");
    addCount(s, size, replaced, "file replaced", "files replaced");
    d.damaged = d.damaged || d.truncatedBy > 0 || d.trackError != 0 || !d.recognised || d.problemCount > 0;
    if (s[0] == '\0') (void)std::snprintf(s, size, "%s", d.files.count == 0 ? "no files" : "every file whole");
}

void reset(Facts& f) {
    f.diskCount = 0;
    f.moreDisks = false;
    f.readError = 0;
    f.readErrorAt = -1;
    f.overLimit = false;
    f.limit = 0;
    f.beyondOffsets = false;
    f.bytesAfterLastDisk = -1;
    f.filesFull = false;
    f.status = 0;
    f.fileCount = 0;
    f.text[0] = '\0';
    f.textUsed = 1;
    f.shortsUsed = 0;
    f.marksUsed = 0;
    f.recordsUsed = 0;
    f.areasUsed = 0;
    f.cellsUsed = 0;
}

}  // namespace

const char* mediaName(int32_t code) {
    switch (code) {
        case DiskImage::kMedia2D:
            return "2D";
        case DiskImage::kMedia2DD:
            return "2DD";
        case DiskImage::kMedia2HD:
            return "2HD";
        case DiskImage::kMedia1D:
            return "1D";
        case DiskImage::kMedia1DD:
            return "1DD";
        default:
            return nullptr;
    }
}

void gatherFacts(Facts& f, DiskImage& image, const fs::ImageInput* input, int64_t imageSize, bool withMap) {
    reset(f);
    f.imageSize = imageSize;
    f.diskCount = image.diskCount();
    f.moreDisks = image.hasMoreDisks();
    // A pipe whose read failed is the first failure; the scan meets it
    // again at the next disk header, and that is not a second one.
    if (input != nullptr && input->readError() != 0) {
        f.readError = input->readError();
        f.readErrorAt = input->readErrorOffset();
    } else if (image.scanError() != 0) {
        f.readError = image.scanError();
        f.readErrorAt = image.scanErrorOffset();
    }
    if (input != nullptr && input->overLimit()) {
        f.overLimit = true;
        f.limit = input->limit();
    }
    for (int32_t d = 0; d < f.diskCount; ++d) gatherDisk(f, image, d, withMap);
    settleReplacements(f);
    bool damaged = f.diskCount == 0 || f.moreDisks || f.readError != 0 || f.overLimit || f.filesFull;
    for (int32_t d = 0; d < f.diskCount; ++d) {
        judgeDisk(f, f.disks[d]);
        damaged = damaged || f.disks[d].damaged;
    }
    if (f.diskCount > 0 && f.readError == 0) {
        const DiskFacts& last = f.disks[f.diskCount - 1];
        // A disk ending where the reader's offsets end leaves the rest unread.
        const int64_t end = last.offset + static_cast<int64_t>(last.sizeField);
        f.beyondOffsets = last.selected && !f.moreDisks && f.diskCount < kMaxDisks && end > INT32_MAX &&
                          f.imageSize >= end + DiskImage::kDiskHeaderSize;
        f.bytesAfterLastDisk = f.imageSize > end ? f.imageSize - end : 0;
        damaged = damaged || f.beyondOffsets;
    } else if (f.diskCount == 0 && f.readError == 0) {
        f.bytesAfterLastDisk = f.imageSize;
    }
    f.status = damaged ? 2 : 0;
}

const char* fileState(const Facts& facts, const FileFacts& file, char* buf, size_t size) {
    char where[160];
    if (file.size == 0) {
        (void)std::snprintf(buf, size, "empty");
    } else if (file.got == 0) {
        if (file.shorts.count > 0) {
            (void)fs::describeShort(facts.shorts[file.shorts.at], where, sizeof where);
            (void)std::snprintf(buf, size, "unreadable: %s", where);
        } else {
            (void)std::snprintf(buf, size, "unreadable");
        }
    } else if (file.got < file.size) {
        (void)std::snprintf(buf, size, "partly read: %d of %d bytes", static_cast<int>(file.got),
                            static_cast<int>(file.size));
    } else {
        (void)std::snprintf(buf, size, "whole");
    }
    return buf;
}

}  // namespace imgpry::info
