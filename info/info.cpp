#include "info.h"

#include <imgpry/disk_image.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "file_system.h"
#include "image_input.h"
#include "names.h"
#include "text.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fs = imgpry::fs;

namespace {

imgpry::DiskImage image;
fs::ImageInput input;
uint8_t dirBuffer[fs::kDirBytes];
uint8_t fileBuffer[255 * fs::kSectorBytes];
uint8_t sectorBuffer[fs::kSectorBytes];
fs::RunReport dirReport;
fs::RunReport fileReport;

constexpr int32_t kMaxTrackRecords = 64;
imgpry::SectorRecord trackRecords[kMaxTrackRecords];

enum class Format : uint8_t { kText, kJson, kMap };

struct Options {
    bool tracks = false;
    Format format = Format::kText;
    const char* path = nullptr;
};

int status = 0;         // the exit status so far
int64_t imageSize = 0;  // bytes of the image
void damaged() { status = 1; }

// The report goes to standard output, or where reportMemoryTo sends it.
FILE* reportOut = stdout;
void out(const char* text) { (void)std::fputs(text, reportOut); }
template <typename... Args>
void out(const char* format, Args... args) {
    (void)std::fprintf(reportOut, format, args...);
}

const char* mediaName(int32_t code) {
    switch (code) {
        case imgpry::DiskImage::kMedia2D:
            return "2D";
        case imgpry::DiskImage::kMedia2DD:
            return "2DD";
        case imgpry::DiskImage::kMedia2HD:
            return "2HD";
        case imgpry::DiskImage::kMedia1D:
            return "1D";
        case imgpry::DiskImage::kMedia1DD:
            return "1DD";
        default:
            return nullptr;
    }
}

// Text for people: the terminal rule, byte for byte.
const char* shown(const char* bytes) {
    static char buf[4 * 4096];
    return fs::showName(bytes, true, buf, sizeof buf);
}

// --- Text as UTF-8, for JSON and SVG ------------------------------------

// A name from the image (a disk's or a file's, at most 16 bytes) as text.
const char* nameText(const char* bytes) {
    static char buf[3 * 16 + 1];
    return fs::shiftJisToUtf8(bytes, buf, sizeof buf);
}

void jsonString(const char* utf8) {
    (void)std::fputc('"', reportOut);
    for (const char* p = utf8; *p != '\0'; ++p) {
        const auto b = static_cast<unsigned char>(*p);
        if (b == '"' || b == '\\') {
            out("\\%c", b);
        } else if (b < 0x20 || b == 0x7F) {
            out("\\u%04x", b);
        } else {
            (void)std::fputc(b, reportOut);
        }
    }
    (void)std::fputc('"', reportOut);
}

void jsonHex(const char* bytes) {
    (void)std::fputc('"', reportOut);
    for (const char* p = bytes; *p != '\0'; ++p) out("%02x", static_cast<unsigned>(static_cast<unsigned char>(*p)));
    (void)std::fputc('"', reportOut);
}

// XML text: escaped, control bytes as '?', names decoded as Shift_JIS.
void xmlText(const char* utf8) {
    for (const char* p = utf8; *p != '\0'; ++p) {
        const auto b = static_cast<unsigned char>(*p);
        switch (b) {
            case '&':
                out("&amp;");
                break;
            case '<':
                out("&lt;");
                break;
            case '>':
                out("&gt;");
                break;
            case '"':
                out("&quot;");
                break;
            case '\'':
                out("&apos;");
                break;
            default:
                (void)std::fputc(b < 0x20 || b == 0x7F ? '?' : b, reportOut);
        }
    }
}

// --- Facts ---------------------------------------------------------------
//
// One pass over the disks gathers every fact, each disk selected once (so
// its record index is built once); a second pass writes the report from
// them, since whether a file is replaced depends on the disks after it.

using fs::describeShort;

constexpr int32_t kMaxDisks = imgpry::DiskImage::kMaxDisks;
constexpr int32_t kMaxFiles = kMaxDisks * fs::kDirEntries;
// Every sector of every file of a full container: the most short or marked
// sectors there can be. The pools are touched only as far as an image
// fills them.
constexpr int32_t kPoolSize = kMaxFiles * 255;

// A short or marked sector, as kept for the report.
struct PoolShort {
    uint8_t track, sector;
    uint16_t held;
    int32_t error;
};
struct PoolMark {
    uint8_t track, sector, status, deleted;
};
PoolShort shortPool[kPoolSize];
PoolMark markPool[kPoolSize + kMaxDisks * fs::kDirSectors];
int32_t shortsUsed = 0;
int32_t marksUsed = 0;

struct Span {
    int32_t at, count;
};

Span keepShorts(const fs::RunReport& r) {
    const Span s{shortsUsed, r.shortCount < fs::kMaxRunSectors ? r.shortCount : fs::kMaxRunSectors};
    for (int32_t i = 0; i < s.count && shortsUsed < kPoolSize; ++i) {
        const fs::ShortSector& x = r.shorts[i];
        shortPool[shortsUsed++] = PoolShort{static_cast<uint8_t>(x.track), static_cast<uint8_t>(x.sector),
                                            static_cast<uint16_t>(x.held), x.error};
    }
    return Span{s.at, shortsUsed - s.at};
}

Span keepMarks(const fs::RunReport& r) {
    const int32_t n = r.markCount < fs::kMaxRunSectors ? r.markCount : fs::kMaxRunSectors;
    const int32_t at = marksUsed;
    for (int32_t i = 0; i < n && marksUsed < static_cast<int32_t>(sizeof markPool / sizeof markPool[0]); ++i) {
        const fs::MarkedSector& m = r.marks[i];
        markPool[marksUsed++] =
            PoolMark{static_cast<uint8_t>(m.track), static_cast<uint8_t>(m.sector), m.status, m.deleted};
    }
    return Span{at, marksUsed - at};
}

fs::ShortSector shortAt(int32_t i) {
    const PoolShort& p = shortPool[i];
    return fs::ShortSector{p.track, p.sector, p.held, p.error};
}

struct FileFacts {
    fs::Entry entry;
    int16_t disk;
    int16_t index;  // in the directory
    int32_t got;    // bytes the sectors gave
    Span shorts;
    Span marks;
    bool unsafe;
    bool writes;  // imgpry would create it
};
FileFacts files[kMaxFiles];
int32_t fileCount = 0;

struct DiskFacts {
    int64_t offset;
    uint32_t sizeField;
    int32_t mediaType;
    int32_t writeProtect;
    char name[17];
    int32_t present;
    int32_t markedRecords;
    int32_t dirRead;
    fs::ShortSector dirStop;
    Span dirMarks;
    char trackOne[128];
    int32_t firstFile;
    int32_t files;
};
DiskFacts diskFacts[kMaxDisks];

// The next later entry imgpry would write under the same name as file k.
const FileFacts* replacedBy(int32_t k) {
    for (int32_t i = k + 1; i < fileCount; ++i) {
        if (files[i].writes && fs::sameFileName(files[i].entry.name, files[k].entry.name, fs::kHostNameRules)) {
            return &files[i];
        }
    }
    return nullptr;
}

// What track 1 holds when the directory cannot be read.
void describeTrackOne(char* buf, size_t size) {
    bool more = false;
    const int32_t n = image.readTrackRecords(fs::kDirTrack, trackRecords, kMaxTrackRecords, more);
    if (n == 0) {
        (void)std::snprintf(buf, size, "track 1 holds no sector");
        return;
    }
    bool sameSize = true;
    for (int32_t i = 1; i < n; ++i) sameSize = sameSize && trackRecords[i].dataSize == trackRecords[0].dataSize;
    const bool ours = n == 5 && trackRecords[0].dataSize == fs::kSectorBytes && trackRecords[0].n == fs::kSizeCode;
    if (sameSize) {
        (void)std::snprintf(buf, size, "track 1 holds %d%s sectors of %d bytes%s", static_cast<int>(n), more ? "+" : "",
                            static_cast<int>(trackRecords[0].dataSize), ours ? "" : ": not this file system");
    } else {
        (void)std::snprintf(buf, size, "track 1 holds %d%s sectors of differing sizes: not this file system",
                            static_cast<int>(n), more ? "+" : "");
    }
}

// --- The map -------------------------------------------------------------

enum Cell : uint8_t { kAbsent, kUnused, kDirectory, kFile, kShort, kMarked, kShared };
struct CellState {
    Cell kind;
    int16_t file;  // for kFile: the file's number on its disk
};
CellState cells[kMaxDisks][imgpry::DiskImage::kNumTracks][fs::kLastSector];
int32_t lastTracks[kMaxDisks];
int32_t owner[imgpry::DiskImage::kNumTracks][fs::kLastSector];  // -1 none, -2 directory, -3 two users, k file

const char* fileColour(int32_t k, char* buf, size_t size) {
    (void)std::snprintf(buf, size, "hsl(%d,65%%,68%%)", static_cast<int>((k * 137 + 210) % 360));
    return buf;
}

// What a sector is on the map: who uses it, what it held, its record.
Cell cellKind(int32_t owned, int32_t held, const imgpry::SectorRecord& rec) {
    if (owned == -3) return kShared;
    if (held > 0 && (rec.status != 0 || rec.deleted != 0)) return kMarked;
    if (held == 0) return kAbsent;
    if (held < fs::kSectorBytes) return kShort;
    if (owned == -2) return kDirectory;
    if (owned >= 0) return kFile;
    return kUnused;
}

void claim(int32_t t, int32_t r, int32_t who) {
    if (t < 0 || t >= imgpry::DiskImage::kNumTracks || r < fs::kFirstSector || r > fs::kLastSector) return;
    int32_t& o = owner[t][r - 1];
    o = o == -1 ? who : -3;
}

// The selected disk's map: who uses each sector of its tracks, and what the
// sector is. Bounded: 164 × 5 reads, and one step per sector of a file.
void mapDisk(int32_t d, const DiskFacts& f) {
    for (auto& row : owner) std::fill(std::begin(row), std::end(row), -1);
    for (int32_t r = 1; r <= f.dirRead / fs::kSectorBytes; ++r) claim(fs::kDirTrack, r, -2);
    for (int32_t k = 0; k < f.files; ++k) {
        const fs::Entry& e = files[f.firstFile + k].entry;
        int32_t t = e.track;
        int32_t c = t >> 1;
        int32_t h = t & 1;
        int32_t r = e.sector;
        for (int32_t s = 0; s < e.size / fs::kSectorBytes; ++s) {
            claim(t, r, k);
            image.stepSector(t, c, h, r);
        }
    }
    int32_t lastTrack = -1;
    for (int32_t t = 0; t < imgpry::DiskImage::kNumTracks; ++t) {
        if (image.trackOffset(t) >= 0) lastTrack = t;
    }
    lastTracks[d] = lastTrack;
    for (int32_t t = 0; t <= lastTrack; ++t) {
        for (int32_t r = 1; r <= fs::kLastSector; ++r) {
            imgpry::SectorRecord rec;
            const int32_t held =
                image.readSector(t, t >> 1, t & 1, r, fs::kSizeCode, sectorBuffer, fs::kSectorBytes, rec);
            const int32_t o = owner[t][r - 1];
            cells[d][t][r - 1] = CellState{cellKind(o, held, rec), static_cast<int16_t>(o)};
        }
    }
}

// Gathers the facts of disk d, which it selects.
void analyseDisk(int32_t d, bool withMap) {
    DiskFacts& f = diskFacts[d];
    fs::selectDisk(image, d);
    f.offset = image.diskOffsetOf(d);
    f.sizeField = image.diskSizeField();
    f.mediaType = image.mediaType();
    f.writeProtect = image.writeProtect();
    std::memcpy(f.name, image.diskName(), sizeof f.name);
    f.present = 0;
    f.markedRecords = 0;
    for (int32_t t = 0; t < imgpry::DiskImage::kNumTracks; ++t) {
        if (image.trackOffset(t) < 0) continue;
        ++f.present;
        bool more = false;
        const int32_t n = image.readTrackRecords(t, trackRecords, kMaxTrackRecords, more);
        for (int32_t i = 0; i < n; ++i) {
            if (trackRecords[i].status != 0 || trackRecords[i].deleted != 0) ++f.markedRecords;
        }
    }
    fs::readDirectory(image, dirBuffer, dirReport);
    f.dirRead = dirReport.got;
    f.dirStop = dirReport.shortCount > 0 ? dirReport.shorts[0] : fs::ShortSector{};
    f.dirMarks = keepMarks(dirReport);
    f.trackOne[0] = '\0';
    if (f.dirRead < fs::kDirBytes) describeTrackOne(f.trackOne, sizeof f.trackOne);
    f.firstFile = fileCount;
    f.files = 0;
    const int32_t entries = f.dirRead / fs::kDirEntrySize;
    for (int32_t j = 0; j < entries; ++j) {
        const uint8_t* e = dirBuffer + static_cast<std::ptrdiff_t>(fs::kDirEntrySize) * j;
        if (e[0] == fs::kStatusEnd) break;
        if (e[0] != fs::kStatusFile) continue;
        FileFacts& ff = files[fileCount++];
        ++f.files;
        ff.entry = fs::decodeEntry(e);
        ff.disk = static_cast<int16_t>(d);
        ff.index = static_cast<int16_t>(j);
        fs::readFile(image, ff.entry, fileBuffer, fileReport);
        ff.got = fileReport.got;
        ff.shorts = keepShorts(fileReport);
        ff.marks = keepMarks(fileReport);
        ff.unsafe = fs::isUnsafeName(ff.entry.name, fs::kHostNameRules);
        ff.writes = ff.got > 0 && ff.entry.name[0] != '\0' && !ff.unsafe;
    }
    if (withMap) mapDisk(d, f);
}

// --- The report ----------------------------------------------------------

const char* density(uint8_t d) { return d == 0x40 ? "single" : d == 0x00 ? "double" : "other"; }

void textTracks() {
    for (int32_t t = 0; t < imgpry::DiskImage::kNumTracks; ++t) {
        const int64_t off = image.trackOffset(t);
        if (off < 0) continue;
        bool more = false;
        const int32_t n = image.readTrackRecords(t, trackRecords, kMaxTrackRecords, more);
        out("  track %d at offset %lld: %d%s records\n", static_cast<int>(t), static_cast<long long>(off),
            static_cast<int>(n), more ? "+" : "");
        for (int32_t i = 0; i < n; ++i) {
            const imgpry::SectorRecord& rec = trackRecords[i];
            out("    C=%02x H=%02x R=%02x N=%02x  %5u bytes  %s density%s  status 0x%02x\n", rec.c, rec.h, rec.r, rec.n,
                static_cast<unsigned>(rec.dataSize), density(rec.density), rec.deleted != 0 ? "  deleted" : "",
                rec.status);
        }
    }
}

void jsonTracks() {
    out("\"tracks\":[");
    bool firstTrack = true;
    for (int32_t t = 0; t < imgpry::DiskImage::kNumTracks; ++t) {
        const int64_t off = image.trackOffset(t);
        if (off < 0) continue;
        bool more = false;
        const int32_t n = image.readTrackRecords(t, trackRecords, kMaxTrackRecords, more);
        out("%s{\"track\":%d,\"offset\":%lld,\"records\":[", firstTrack ? "" : ",", static_cast<int>(t),
            static_cast<long long>(off));
        firstTrack = false;
        for (int32_t i = 0; i < n; ++i) {
            const imgpry::SectorRecord& rec = trackRecords[i];
            out("%s{\"c\":%u,\"h\":%u,\"r\":%u,\"n\":%u,\"size\":%u,\"density\":%u,\"deleted\":%u,\"status\":%u}",
                i == 0 ? "" : ",", rec.c, rec.h, rec.r, rec.n, static_cast<unsigned>(rec.dataSize), rec.density,
                rec.deleted, rec.status);
        }
        out("],\"more\":%s}", more ? "true" : "false");
    }
    out("]");
}

void jsonShort(const fs::ShortSector& s) {
    out("{\"track\":%d,\"sector\":%d,\"held\":%d", static_cast<int>(s.track), static_cast<int>(s.sector),
        static_cast<int>(s.held));
    if (s.error != 0) {
        out(",\"reason\":");
        jsonString(std::strerror(s.error));
    }
    out("}");
}

void jsonShorts(const Span& s) {
    out("[");
    for (int32_t i = 0; i < s.count; ++i) {
        if (i > 0) out(",");
        jsonShort(shortAt(s.at + i));
    }
    out("]");
}

void jsonMarks(const Span& s) {
    out("[");
    char meaning[32];
    for (int32_t i = 0; i < s.count; ++i) {
        const PoolMark& m = markPool[s.at + i];
        out("%s{\"track\":%d,\"sector\":%d,\"status\":%u,\"deleted\":%u,\"meaning\":\"%s\"}", i == 0 ? "" : ",",
            static_cast<int>(m.track), static_cast<int>(m.sector), m.status, m.deleted,
            fs::markMeaning(m.status, m.deleted, meaning, sizeof meaning));
    }
    out("]");
}

void textMarks(const Span& s) {
    char meaning[32];
    for (int32_t i = 0; i < s.count; ++i) {
        const PoolMark& m = markPool[s.at + i];
        out("%s trk=%02x sec=%02x (%s)", i == 0 ? "" : ",", static_cast<unsigned>(m.track),
            static_cast<unsigned>(m.sector), fs::markMeaning(m.status, m.deleted, meaning, sizeof meaning));
    }
}

void jsonFile(int32_t k, bool first) {
    const FileFacts& f = files[k];
    const FileFacts* later = replacedBy(k);
    out("%s{\"entry\":%d,\"name\":", first ? "" : ",", static_cast<int>(f.index));
    jsonString(nameText(f.entry.name));
    out(",\"nameBytes\":");
    jsonHex(f.entry.name);
    out(",\"size\":%d,\"track\":%d,\"sector\":%d,\"read\":%d,\"short\":", static_cast<int>(f.entry.size),
        static_cast<int>(f.entry.track), static_cast<int>(f.entry.sector), static_cast<int>(f.got));
    jsonShorts(f.shorts);
    out(",\"marked\":");
    jsonMarks(f.marks);
    out(",\"unsafe\":%s,\"written\":%s,\"replacedBy\":", f.unsafe ? "true" : "false", f.writes ? "true" : "false");
    if (later != nullptr) {
        out("{\"disk\":%d,\"entry\":%d}", later->disk + 1, later->index);
    } else {
        out("null");
    }
    out("}");
}

void textFile(int32_t k) {
    const FileFacts& f = files[k];
    const FileFacts* later = replacedBy(k);
    char where[160];
    out("  %-12s %8d  trk=%02x sec=%02x  ", shown(f.entry.name), static_cast<int>(f.entry.size),
        static_cast<unsigned>(f.entry.track), static_cast<unsigned>(f.entry.sector));
    if (f.entry.size == 0) {
        out("empty");
    } else if (f.got == 0) {
        describeShort(shortAt(f.shorts.at), where, sizeof where);
        out("unreadable: %s", where);
    } else if (f.got < f.entry.size) {
        out("partly read: %d of %d bytes; short:", static_cast<int>(f.got), static_cast<int>(f.entry.size));
        for (int32_t i = 0; i < f.shorts.count; ++i) {
            const fs::ShortSector s = shortAt(f.shorts.at + i);
            out("%s trk=%02x sec=%02x (%d bytes%s%s)", i == 0 ? "" : ",", static_cast<unsigned>(s.track),
                static_cast<unsigned>(s.sector), static_cast<int>(s.held), s.error != 0 ? ", " : "",
                s.error != 0 ? std::strerror(s.error) : "");
        }
    } else {
        out("whole");
    }
    if (f.marks.count > 0) {
        out("; marked:");
        textMarks(f.marks);
    }
    if (f.unsafe) out("; unsafe name");
    if (later != nullptr) out("; replaced by disk %d entry %d", later->disk + 1, later->index);
    out("\n");
}

bool fileDamaged(int32_t k) {
    const FileFacts& f = files[k];
    const bool whole = f.entry.size == 0 || f.got == f.entry.size;
    return !whole || f.marks.count > 0 || f.unsafe || replacedBy(k) != nullptr || (f.entry.size > 0 && !f.writes);
}

void mapPanel(int32_t d, int32_t& y);
void jsonDisk(int32_t d);
void textDisk(int32_t d, bool tracks);

void renderDisk(int32_t d, const Options& o, int32_t& mapY) {
    if (o.format == Format::kMap) {
        mapPanel(d, mapY);
        return;
    }
    // The track listings come from the image, as the reader walks it.
    fs::selectDisk(image, d);
    if (o.format == Format::kJson) {
        jsonDisk(d);
    } else {
        textDisk(d, o.tracks);
    }
}

void jsonDisk(int32_t d) {
    const DiskFacts& f = diskFacts[d];
    const char* media = mediaName(f.mediaType);
    const bool dirWhole = f.dirRead == fs::kDirBytes;
    out("%s{\"disk\":%d,\"offset\":%lld,\"sizeField\":%u,\"name\":", d == 0 ? "" : ",", static_cast<int>(d + 1),
        static_cast<long long>(f.offset), static_cast<unsigned>(f.sizeField));
    jsonString(nameText(f.name));
    out(",\"nameBytes\":");
    jsonHex(f.name);
    out(",\"mediaType\":%d,\"media\":", static_cast<int>(f.mediaType));
    if (media != nullptr) {
        out("\"%s\"", media);
    } else {
        out("null");
    }
    out(",\"writeProtected\":%s,\"tracksPresent\":%d,\"markedRecords\":%d,", f.writeProtect != 0 ? "true" : "false",
        static_cast<int>(f.present), static_cast<int>(f.markedRecords));
    jsonTracks();
    out(",\"directory\":{\"read\":%d,\"stop\":", static_cast<int>(f.dirRead));
    if (dirWhole) {
        out("null");
    } else {
        jsonShort(f.dirStop);
    }
    out(",\"marked\":");
    jsonMarks(f.dirMarks);
    if (!dirWhole) {
        out(",\"trackOne\":");
        jsonString(f.trackOne);
    }
    out("},\"files\":[");
    for (int32_t k = 0; k < f.files; ++k) jsonFile(f.firstFile + k, k == 0);
    out("]}");
}

void textDisk(int32_t d, bool tracks) {
    const DiskFacts& f = diskFacts[d];
    const char* media = mediaName(f.mediaType);
    const bool dirWhole = f.dirRead == fs::kDirBytes;
    out("disk %d at offset %lld: \"%s\", ", static_cast<int>(d + 1), static_cast<long long>(f.offset), shown(f.name));
    if (media != nullptr) {
        out("%s", media);
    } else {
        out("media type 0x%02x", static_cast<unsigned>(f.mediaType));
    }
    out(", size field %u, %s\n", static_cast<unsigned>(f.sizeField),
        f.writeProtect != 0 ? "write-protected" : "not write-protected");
    out("  tracks: %d present, %d records marked\n", static_cast<int>(f.present), static_cast<int>(f.markedRecords));
    if (dirWhole) {
        out("  directory: read whole");
    } else {
        char where[160];
        describeShort(f.dirStop, where, sizeof where);
        out("  directory: %s %d of 2048 bytes, %s; %s", f.dirRead == 0 ? "not read," : "partly read,",
            static_cast<int>(f.dirRead), where, f.trackOne);
    }
    if (f.dirMarks.count > 0) {
        out("; marked:");
        textMarks(f.dirMarks);
    }
    out("\n");
    if (tracks) textTracks();
    for (int32_t k = 0; k < f.files; ++k) textFile(f.firstFile + k);
}

void mapPanel(int32_t d, int32_t& y) {
    const DiskFacts& f = diskFacts[d];
    const int32_t lastTrack = lastTracks[d];
    constexpr int32_t kCell = 14;
    constexpr int32_t kLeft = 40;
    char colour[32];
    out("<g transform=\"translate(10,%d)\">\n<text x=\"0\" y=\"16\" font-size=\"14\" font-weight=\"bold\">disk %d: ",
        static_cast<int>(y), static_cast<int>(d + 1));
    xmlText(nameText(f.name));
    const char* media = mediaName(f.mediaType);
    if (media != nullptr) {
        out(" (%s)", media);
    } else {
        out(" (media type 0x%02x)", static_cast<unsigned>(f.mediaType));
    }
    out("</text>\n");
    const int32_t top = 28;
    for (int32_t r = 1; r <= fs::kLastSector; ++r) {
        out("<text x=\"%d\" y=\"%d\" font-size=\"9\">%d</text>\n", static_cast<int>(kLeft + (r - 1) * kCell + 3),
            top - 2, static_cast<int>(r));
    }
    for (int32_t t = 0; t <= lastTrack; ++t) {
        const int32_t cy = top + t * kCell;
        if (t % 10 == 0) {
            out("<text x=\"0\" y=\"%d\" font-size=\"9\">trk %d</text>\n", static_cast<int>(cy + 10),
                static_cast<int>(t));
        }
        for (int32_t r = 1; r <= fs::kLastSector; ++r) {
            const CellState& cs = cells[d][t][r - 1];
            const char* fill = "#e8e8e8";
            switch (cs.kind) {
                case kAbsent:
                    fill = "#ffffff";
                    break;
                case kUnused:
                    fill = "#d0d0d0";
                    break;
                case kDirectory:
                    fill = "#404040";
                    break;
                case kFile:
                    fill = fileColour(cs.file, colour, sizeof colour);
                    break;
                case kShort:
                    fill = "#ff9900";
                    break;
                case kMarked:
                    fill = "#d00000";
                    break;
                case kShared:
                    fill = "#000000";
                    break;
            }
            out("<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\" stroke=\"#999\" "
                "stroke-width=\"0.5\"/>\n",
                static_cast<int>(kLeft + (r - 1) * kCell), static_cast<int>(cy), kCell, kCell, fill);
        }
    }
    // The legend: the kinds, then every file in its colour.
    const int32_t lx = kLeft + fs::kLastSector * kCell + 20;
    struct Kind {
        const char* fill;
        const char* text;
    };
    const Kind kinds[] = {{"#404040", "directory"},  {"#d0d0d0", "present, used by no file"},
                          {"#ffffff", "missing"},    {"#ff9900", "short"},
                          {"#d00000", "marked bad"}, {"#000000", "used by two files"}};
    int32_t ly = top;
    for (const Kind& k : kinds) {
        out("<rect x=\"%d\" y=\"%d\" width=\"12\" height=\"12\" fill=\"%s\" stroke=\"#999\"/><text x=\"%d\" y=\"%d\" "
            "font-size=\"11\">%s</text>\n",
            static_cast<int>(lx), static_cast<int>(ly), k.fill, static_cast<int>(lx + 18), static_cast<int>(ly + 10),
            k.text);
        ly += 16;
    }
    for (int32_t k = 0; k < f.files; ++k) {
        out("<rect x=\"%d\" y=\"%d\" width=\"12\" height=\"12\" fill=\"%s\" stroke=\"#999\"/><text x=\"%d\" y=\"%d\" "
            "font-size=\"11\">",
            static_cast<int>(lx), static_cast<int>(ly), fileColour(k, colour, sizeof colour), static_cast<int>(lx + 18),
            static_cast<int>(ly + 10));
        xmlText(nameText(files[f.firstFile + k].entry.name));
        out("</text>\n");
        ly += 16;
    }
    out("</g>\n");
    const int32_t gridBottom = top + (lastTrack + 1) * kCell;
    y += (gridBottom > ly ? gridBottom : ly) + 20;
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (o.path == nullptr && std::strcmp(a, "--tracks") == 0) {
            o.tracks = true;
        } else if (o.path == nullptr && std::strcmp(a, "--json") == 0 && o.format == Format::kText) {
            o.format = Format::kJson;
        } else if (o.path == nullptr && std::strcmp(a, "--map") == 0 && o.format == Format::kText) {
            o.format = Format::kMap;
        } else if (o.path == nullptr &&
                   !(a[0] == '-' && a[1] == '-' && a[2] != '\0' && std::strchr(a, '/') == nullptr)) {
            o.path = a;
        } else {
            return false;
        }
    }
    return o.path != nullptr && !(o.tracks && o.format != Format::kText);
}

constexpr char kUsage[] = "Usage: imgpry-info [--tracks] [--json | --map] IMAGE\n";

int report(const Options& o, bool opened, const char* shownPath) {
    if (!opened) {
        (void)std::fprintf(stderr, "imgpry-info: cannot %s %s: %s\n", input.outOfMemory() ? "read" : "open", shownPath,
                           std::strerror(input.openError()));
        return 2;
    }
    const int32_t disks = image.diskCount();
    if (disks == 0 || image.hasMoreDisks() || image.scanError() != 0 || input.readError() != 0 || input.overLimit()) {
        damaged();
    }
    fileCount = 0;
    shortsUsed = 0;
    marksUsed = 0;
    for (int32_t d = 0; d < disks; ++d) analyseDisk(d, o.format == Format::kMap);
    for (int32_t d = 0; d < disks; ++d) {
        if (diskFacts[d].dirRead < fs::kDirBytes || diskFacts[d].dirMarks.count > 0) damaged();
    }
    for (int32_t k = 0; k < fileCount; ++k) {
        if (fileDamaged(k)) damaged();
    }
    int64_t after = imageSize;
    if (disks > 0) {
        after = imageSize - (diskFacts[disks - 1].offset + static_cast<int64_t>(diskFacts[disks - 1].sizeField));
        if (after < 0) after = 0;
    }
    static char utf8[4 * 4096 * 3];
    int32_t mapY = 40;
    if (o.format == Format::kJson) {
        out("{\"image\":");
        jsonString(fs::utf8OrReplacement(o.path, utf8, sizeof utf8));
        out(",\"size\":%lld,\"diskCount\":%d,\"bytesAfterLastDisk\":%lld,\"moreDisks\":%s,\"disks\":[",
            static_cast<long long>(imageSize), static_cast<int>(disks), static_cast<long long>(after),
            image.hasMoreDisks() ? "true" : "false");
    } else if (o.format == Format::kMap) {
        int32_t height = 60;
        for (int32_t d = 0; d < disks; ++d) {
            const int32_t grid = 28 + (lastTracks[d] + 1) * 14;
            const int32_t legend = 28 + (6 + diskFacts[d].files) * 16;
            height += (grid > legend ? grid : legend) + 20;
        }
        out("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" "
            "width=\"480\" height=\"%d\" font-family=\"sans-serif\">\n<rect width=\"100%%\" height=\"100%%\" "
            "fill=\"#fff\"/>\n<text x=\"10\" y=\"24\" font-size=\"16\" font-weight=\"bold\">",
            static_cast<int>(height));
        xmlText(fs::utf8OrReplacement(shownPath, utf8, sizeof utf8));
        out("</text>\n");
    } else {
        out("image: %s\n  %lld bytes, %d disk%s, %lld bytes after the last disk%s\n", shownPath,
            static_cast<long long>(imageSize), static_cast<int>(disks), disks == 1 ? "" : "s",
            static_cast<long long>(after), image.hasMoreDisks() ? ", more than 64 disks (only 64 are read)" : "");
    }
    for (int32_t d = 0; d < disks; ++d) renderDisk(d, o, mapY);
    if (o.format == Format::kJson) out("],\"status\":%d}\n", status);
    if (o.format == Format::kMap) out("</svg>\n");
    if (o.format == Format::kText) {
        out("status: %s\n", status == 0 ? "every file whole" : "damage or loss (exit status 1)");
    }
    return status;
}

bool answered(const char* arg) {
    if (std::strcmp(arg, "--help") == 0) {
        (void)std::fputs(kUsage, stdout);
        (void)std::fputs(
            "Shows what a D88 image container holds: its disks, their directories, every file's state\n"
            "(whole, partly read, unreadable, marked bad by the dumping drive, unsafe name, replaced\n"
            "by a later file) and, with --tracks, every track's sector records. --json gives the\n"
            "same facts as one JSON document, --map an SVG picture of every disk's sectors.\n"
            "Exit status: 0 when every file is whole, 1 when anything is damaged or lost, 2 for a\n"
            "usage error or an image that cannot be opened. See man imgpry-info.\n",
            stdout);
        return true;
    }
    if (std::strcmp(arg, "--version") == 0) {
        (void)std::fputs("imgpry-info " IMGPRY_VERSION
                         "\nMIT License: free to use, copy, change and pass on; no warranty.\n",
                         stdout);
        return true;
    }
    return false;
}

}  // namespace

int runInfo(int argc, char** argv) {
    if (argc == 2 && answered(argv[1])) return 0;
    Options o;
    if (!parse(argc, argv, o)) {
        (void)std::fputs(kUsage, stderr);
        return 2;
    }
    static char shownPath[4 * 4096];
    (void)fs::showName(o.path, true, shownPath, sizeof shownPath);
    const bool opened = input.open(image, o.path);
    imageSize = input.size();
    return report(o, opened, shownPath);
}

int reportMemory(const uint8_t* data, size_t size, const char* mode, const char* shownPath) {
    Options o;
    o.path = shownPath;
    o.tracks = std::strcmp(mode, "--tracks") == 0;
    if (std::strcmp(mode, "--json") == 0) o.format = Format::kJson;
    if (std::strcmp(mode, "--map") == 0) o.format = Format::kMap;
    status = 0;
    imageSize = static_cast<int64_t>(size);
    return report(o, image.openMemory(data, size), shownPath);
}

int reportMemoryTo(FILE* out, const uint8_t* data, size_t size, const char* mode, const char* shownPath) {
    reportOut = out;
    const int result = reportMemory(data, size, mode, shownPath);
    reportOut = stdout;
    return result;
}

#if defined(_WIN32)
int runInfoWide(int argc, wchar_t** argv) {
    // Options are ASCII; the path is opened through the wide call.
    static char narrow[8][4 * 4096];
    static char* args[8];
    if (argc > 8) {
        (void)std::fputs(kUsage, stderr);
        return 2;
    }
    for (int i = 0; i < argc; ++i) {
        if (WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, narrow[i], sizeof narrow[i], nullptr, nullptr) == 0)
            narrow[i][0] = '\0';
        args[i] = narrow[i];
    }
    if (argc == 2 && answered(args[1])) return 0;
    Options o;
    if (!parse(argc, args, o)) {
        (void)std::fputs(kUsage, stderr);
        return 2;
    }
    int pathIndex = argc - 1;
    static char shownPath[4 * 4096];
    (void)fs::showName(o.path, true, shownPath, sizeof shownPath);
    const bool opened = input.open(image, argv[pathIndex]);
    imageSize = input.size();
    return report(o, opened, shownPath);
}
#endif
