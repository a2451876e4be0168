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

// Every entry imgpry lists, with whether it would write it: a later entry
// of the same name replaces it.
struct Listed {
    char name[fs::kMaxNameLength + 1];
    bool writes;
    int16_t disk;
    int16_t entry;
};
Listed listed[imgpry::DiskImage::kMaxDisks * fs::kDirEntries];
int32_t listedCount = 0;

int status = 0;  // the exit status so far
void damaged() { status = 1; }

// The report goes to standard output.
void out(const char* text) { (void)std::fputs(text, stdout); }
template <typename... Args>
void out(const char* format, Args... args) {
    (void)std::printf(format, args...);
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

const char* sjisToUtf8(const char* bytes, char* buf, size_t size) { return fs::shiftJisToUtf8(bytes, buf, size); }

void jsonString(const char* utf8) {
    (void)std::fputc('"', stdout);
    for (const char* p = utf8; *p != '\0'; ++p) {
        const auto b = static_cast<unsigned char>(*p);
        if (b == '"' || b == '\\') {
            out("\\%c", b);
        } else if (b < 0x20 || b == 0x7F) {
            out("\\u%04x", b);
        } else {
            (void)std::fputc(b, stdout);
        }
    }
    (void)std::fputc('"', stdout);
}

void jsonHex(const char* bytes) {
    (void)std::fputc('"', stdout);
    for (const char* p = bytes; *p != '\0'; ++p) out("%02x", static_cast<unsigned>(static_cast<unsigned char>(*p)));
    (void)std::fputc('"', stdout);
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
                (void)std::fputc(b < 0x20 || b == 0x7F ? '?' : b, stdout);
        }
    }
}

// --- Facts ---------------------------------------------------------------

void describeShort(const fs::ShortSector& s, char* buf, size_t size) {
    if (s.error != 0) {
        (void)std::snprintf(buf, size, "trk=%02x sec=%02x could not be read: %s", static_cast<unsigned>(s.track),
                            static_cast<unsigned>(s.sector), std::strerror(s.error));
    } else if (s.held == 0) {
        (void)std::snprintf(buf, size, "trk=%02x sec=%02x is missing", static_cast<unsigned>(s.track),
                            static_cast<unsigned>(s.sector));
    } else {
        (void)std::snprintf(buf, size, "trk=%02x sec=%02x holds only %d bytes", static_cast<unsigned>(s.track),
                            static_cast<unsigned>(s.sector), static_cast<int>(s.held));
    }
}

// The next later entry imgpry would write under the same name as entry k.
const Listed* replacedBy(int32_t k) {
    for (int32_t i = k + 1; i < listedCount; ++i) {
        if (listed[i].writes && fs::sameFileName(listed[i].name, listed[k].name, fs::kHostNameRules)) return &listed[i];
    }
    return nullptr;
}

// First pass: every entry imgpry lists, and whether it would write it.
void collectListed() {
    listedCount = 0;
    for (int32_t d = 0; d < image.diskCount(); ++d) {
        fs::selectDisk(image, d);
        fs::readDirectory(image, dirBuffer, dirReport);
        const int32_t entries = dirReport.delivered / fs::kDirEntrySize;
        for (int32_t j = 0; j < entries; ++j) {
            const uint8_t* e = dirBuffer + static_cast<std::ptrdiff_t>(fs::kDirEntrySize) * j;
            if (e[0] == fs::kStatusEnd) break;
            if (e[0] != fs::kStatusFile) continue;
            const fs::Entry entry = fs::decodeEntry(e);
            Listed& l = listed[listedCount++];
            std::memcpy(l.name, entry.name, sizeof l.name);
            l.disk = static_cast<int16_t>(d);
            l.entry = static_cast<int16_t>(j);
            const bool firstWhole =
                entry.size > 0 && image.readSector(entry.track, entry.track >> 1, entry.track & 1, entry.sector,
                                                   fs::kSizeCode, sectorBuffer, fs::kSectorBytes) == fs::kSectorBytes;
            l.writes = firstWhole && entry.name[0] != '\0' && !fs::isUnsafeName(entry.name, fs::kHostNameRules);
        }
    }
}

// What track 1 holds when the directory cannot be read.
void describeTrackOne(char* buf, size_t size) {
    bool more = false;
    const int32_t n = image.readTrackRecords(fs::kDirTrack, trackRecords, kMaxTrackRecords, more);
    if (n == 0) {
        (void)std::snprintf(buf, size, "track 1 is not there");
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
    int16_t file;  // for kFile: the file's number on the disk
};
CellState cells[imgpry::DiskImage::kNumTracks][fs::kLastSector];
int32_t owner[imgpry::DiskImage::kNumTracks][fs::kLastSector];  // -1 none, -2 directory, k file

const char* fileColour(int32_t k, char* buf, size_t size) {
    (void)std::snprintf(buf, size, "hsl(%d,65%%,62%%)", static_cast<int>((k * 137) % 360));
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
    o = o == -1 ? who : -3;  // -3: used twice
}

// --- The report ----------------------------------------------------------

struct DiskFacts {
    int32_t present = 0;
    int32_t markedRecords = 0;
};

DiskFacts countTracks() {
    DiskFacts f;
    for (int32_t t = 0; t < imgpry::DiskImage::kNumTracks; ++t) {
        if (image.trackOffset(t) < 0) continue;
        ++f.present;
        bool more = false;
        const int32_t n = image.readTrackRecords(t, trackRecords, kMaxTrackRecords, more);
        for (int32_t i = 0; i < n; ++i) {
            if (trackRecords[i].status != 0 || trackRecords[i].deleted != 0) ++f.markedRecords;
        }
    }
    return f;
}

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

void jsonShorts(const fs::RunReport& r) {
    out("[");
    const int32_t n = r.shortCount < fs::kMaxRunSectors ? r.shortCount : fs::kMaxRunSectors;
    for (int32_t i = 0; i < n; ++i) {
        const fs::ShortSector& s = r.shorts[i];
        out("%s{\"track\":%d,\"sector\":%d,\"held\":%d", i == 0 ? "" : ",", static_cast<int>(s.track),
            static_cast<int>(s.sector), static_cast<int>(s.held));
        if (s.error != 0) {
            out(",\"reason\":");
            jsonString(std::strerror(s.error));
        }
        out("}");
    }
    out("]");
}

void jsonMarks(const fs::RunReport& r) {
    out("[");
    const int32_t n = r.markCount < fs::kMaxRunSectors ? r.markCount : fs::kMaxRunSectors;
    char meaning[32];
    for (int32_t i = 0; i < n; ++i) {
        const fs::MarkedSector& m = r.marks[i];
        out("%s{\"track\":%d,\"sector\":%d,\"status\":%u,\"deleted\":%u,\"meaning\":\"%s\"}", i == 0 ? "" : ",",
            static_cast<int>(m.track), static_cast<int>(m.sector), m.status, m.deleted,
            fs::markMeaning(m.status, m.deleted, meaning, sizeof meaning));
    }
    out("]");
}

void textMarks(const fs::RunReport& r) {
    char meaning[32];
    const int32_t n = r.markCount < fs::kMaxRunSectors ? r.markCount : fs::kMaxRunSectors;
    for (int32_t i = 0; i < n; ++i) {
        out("%s trk=%02x sec=%02x (%s)", i == 0 ? "" : ",", static_cast<unsigned>(r.marks[i].track),
            static_cast<unsigned>(r.marks[i].sector),
            fs::markMeaning(r.marks[i].status, r.marks[i].deleted, meaning, sizeof meaning));
    }
}

void mapPanel(int32_t d, int32_t& y);

// One disk: its facts, its directory and its files, in the chosen format.
void reportDisk(int32_t d, const Options& o, int32_t& listedIndex, int32_t& mapY) {
    fs::selectDisk(image, d);
    const DiskFacts facts = countTracks();
    fs::readDirectory(image, dirBuffer, dirReport);
    const bool dirWhole = dirReport.delivered == fs::kDirBytes;
    if (!dirWhole) damaged();
    const char* name = image.diskName();
    const char* media = mediaName(image.mediaType());
    char utf8[4 * 64];
    char where[160];
    char track1[128] = "";
    if (!dirWhole) describeTrackOne(track1, sizeof track1);

    if (o.format == Format::kMap) {
        mapPanel(d, mapY);
        return;
    }
    if (o.format == Format::kJson) {
        out("%s{\"disk\":%d,\"offset\":%lld,\"sizeField\":%u,\"name\":", d == 0 ? "" : ",", static_cast<int>(d + 1),
            static_cast<long long>(image.diskOffsetOf(d)), static_cast<unsigned>(image.diskSizeField()));
        jsonString(sjisToUtf8(name, utf8, sizeof utf8));
        out(",\"nameBytes\":");
        jsonHex(name);
        out(",\"mediaType\":%d,\"media\":", static_cast<int>(image.mediaType()));
        if (media != nullptr) {
            out("\"%s\"", media);
        } else {
            out("null");
        }
        out(",\"writeProtected\":%s,\"tracksPresent\":%d,\"markedRecords\":%d,",
            image.writeProtect() != 0 ? "true" : "false", static_cast<int>(facts.present),
            static_cast<int>(facts.markedRecords));
        jsonTracks();
        out(",\"directory\":{\"read\":%d,\"stop\":", static_cast<int>(dirReport.delivered));
        if (dirWhole) {
            out("null");
        } else {
            const fs::ShortSector& s = dirReport.shorts[0];
            out("{\"track\":%d,\"sector\":%d,\"held\":%d", static_cast<int>(s.track), static_cast<int>(s.sector),
                static_cast<int>(s.held));
            if (s.error != 0) {
                out(",\"reason\":");
                jsonString(std::strerror(s.error));
            }
            out("}");
        }
        out(",\"marked\":");
        jsonMarks(dirReport);
        if (!dirWhole) {
            out(",\"trackOne\":");
            jsonString(track1);
        }
        out("},\"files\":[");
    } else {
        out("disk %d at offset %lld: \"%s\", %s", static_cast<int>(d + 1),
            static_cast<long long>(image.diskOffsetOf(d)), shown(name), media != nullptr ? media : "");
        if (media == nullptr) out("media type 0x%02x", static_cast<unsigned>(image.mediaType()));
        out(", size field %u, %s\n", static_cast<unsigned>(image.diskSizeField()),
            image.writeProtect() != 0 ? "write-protected" : "not write-protected");
        out("  tracks: %d present, %d records marked\n", static_cast<int>(facts.present),
            static_cast<int>(facts.markedRecords));
        if (dirWhole) {
            out("  directory: read whole");
        } else {
            describeShort(dirReport.shorts[0], where, sizeof where);
            out("  directory: %s %d of 2048 bytes, %s; %s", dirReport.delivered == 0 ? "not read," : "partly read,",
                static_cast<int>(dirReport.delivered), where, track1);
        }
        if (dirReport.markCount > 0) {
            out("; marked:");
            textMarks(dirReport);
        }
        out("\n");
        if (o.tracks) textTracks();
    }
    if (dirReport.markCount > 0) damaged();

    const int32_t entries = dirReport.delivered / fs::kDirEntrySize;
    bool firstFile = true;
    static uint8_t dir[fs::kDirBytes];
    std::memcpy(dir, dirBuffer, sizeof dir);
    for (int32_t j = 0; j < entries; ++j) {
        const uint8_t* e = dir + static_cast<std::ptrdiff_t>(fs::kDirEntrySize) * j;
        if (e[0] == fs::kStatusEnd) break;
        if (e[0] != fs::kStatusFile) continue;
        const fs::Entry entry = fs::decodeEntry(e);
        fs::readFile(image, entry, fileBuffer, fileReport);
        const int32_t k = listedIndex++;
        const Listed* later = replacedBy(k);
        const bool unsafe = fs::isUnsafeName(entry.name, fs::kHostNameRules);
        const bool written = listed[k].writes;
        const bool whole = entry.size == 0 || fileReport.got == entry.size;
        if (!whole || fileReport.markCount > 0 || unsafe || later != nullptr || (entry.size > 0 && !written)) damaged();
        if (o.format == Format::kJson) {
            out("%s{\"entry\":%d,\"name\":", firstFile ? "" : ",", static_cast<int>(j));
            jsonString(sjisToUtf8(entry.name, utf8, sizeof utf8));
            out(",\"nameBytes\":");
            jsonHex(entry.name);
            out(",\"size\":%d,\"track\":%d,\"sector\":%d,\"read\":%d,\"short\":", static_cast<int>(entry.size),
                static_cast<int>(entry.track), static_cast<int>(entry.sector), static_cast<int>(fileReport.got));
            jsonShorts(fileReport);
            out(",\"marked\":");
            jsonMarks(fileReport);
            out(",\"unsafe\":%s,\"written\":%s,\"replacedBy\":", unsafe ? "true" : "false", written ? "true" : "false");
            if (later != nullptr) {
                out("{\"disk\":%d,\"entry\":%d}", later->disk + 1, later->entry);
            } else {
                out("null");
            }
            out("}");
        } else {
            out("  %-12s %8d  trk=%02x sec=%02x  ", shown(entry.name), static_cast<int>(entry.size),
                static_cast<unsigned>(entry.track), static_cast<unsigned>(entry.sector));
            if (entry.size == 0) {
                out("empty");
            } else if (fileReport.got == 0) {
                describeShort(fileReport.shorts[0], where, sizeof where);
                out("unreadable: %s", where);
            } else if (!whole) {
                out("partly read: %d of %d bytes; short:", static_cast<int>(fileReport.got),
                    static_cast<int>(entry.size));
                const int32_t n =
                    fileReport.shortCount < fs::kMaxRunSectors ? fileReport.shortCount : fs::kMaxRunSectors;
                for (int32_t i = 0; i < n; ++i) {
                    out("%s trk=%02x sec=%02x (%d bytes)", i == 0 ? "" : ",",
                        static_cast<unsigned>(fileReport.shorts[i].track),
                        static_cast<unsigned>(fileReport.shorts[i].sector),
                        static_cast<int>(fileReport.shorts[i].held));
                }
            } else {
                out("whole");
            }
            if (fileReport.markCount > 0) {
                out("; marked:");
                textMarks(fileReport);
            }
            if (unsafe) out("; unsafe name");
            if (later != nullptr) out("; replaced by disk %d entry %d", later->disk + 1, later->entry);
            out("\n");
        }
        firstFile = false;
    }
    if (o.format == Format::kJson) out("]}");
}

void mapPanel(int32_t d, int32_t& y) {
    // Who uses which sector.
    for (auto& row : owner) std::fill(std::begin(row), std::end(row), -1);
    if (dirReport.delivered > 0) {
        for (int32_t r = 1; r <= dirReport.delivered / fs::kSectorBytes; ++r) claim(fs::kDirTrack, r, -2);
    }
    static char names[fs::kDirEntries][fs::kMaxNameLength + 1];
    int32_t files = 0;
    const int32_t entries = dirReport.delivered / fs::kDirEntrySize;
    for (int32_t j = 0; j < entries; ++j) {
        const uint8_t* e = dirBuffer + static_cast<std::ptrdiff_t>(fs::kDirEntrySize) * j;
        if (e[0] == fs::kStatusEnd) break;
        if (e[0] != fs::kStatusFile) continue;
        const fs::Entry entry = fs::decodeEntry(e);
        std::memcpy(names[files], entry.name, sizeof names[files]);
        int32_t t = entry.track;
        int32_t c = t >> 1;
        int32_t h = t & 1;
        int32_t r = entry.sector;
        // One step per sector of the file: at most 255.
        for (int32_t s = 0; s < entry.size / fs::kSectorBytes; ++s) {
            claim(t, r, files);
            image.stepSector(t, c, h, r);
        }
        ++files;
    }
    int32_t lastTrack = -1;
    for (int32_t t = 0; t < imgpry::DiskImage::kNumTracks; ++t) {
        if (image.trackOffset(t) >= 0) lastTrack = t;
    }
    for (int32_t t = 0; t <= lastTrack; ++t) {
        for (int32_t r = 1; r <= fs::kLastSector; ++r) {
            imgpry::SectorRecord rec;
            const int32_t held =
                image.readSector(t, t >> 1, t & 1, r, fs::kSizeCode, sectorBuffer, fs::kSectorBytes, rec);
            const int32_t o = owner[t][r - 1];
            const Cell kind = cellKind(o, held, rec);
            cells[t][r - 1] = CellState{kind, static_cast<int16_t>(o)};
        }
    }
    constexpr int32_t kCell = 14;
    constexpr int32_t kLeft = 40;
    char utf8[4 * 64];
    char colour[32];
    out("<g transform=\"translate(10,%d)\">\n<text x=\"0\" y=\"16\" font-size=\"14\" font-weight=\"bold\">disk %d: ",
        static_cast<int>(y), static_cast<int>(d + 1));
    xmlText(sjisToUtf8(image.diskName(), utf8, sizeof utf8));
    const char* media = mediaName(image.mediaType());
    if (media != nullptr) {
        out(" (%s)", media);
    } else {
        out(" (media type 0x%02x)", static_cast<unsigned>(image.mediaType()));
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
            const CellState& cs = cells[t][r - 1];
            const char* fill = "#e8e8e8";
            switch (cs.kind) {
                case kAbsent:
                    fill = "#ffffff";
                    break;
                case kUnused:
                    fill = "#d0d0d0";
                    break;
                case kDirectory:
                    fill = "#303030";
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
    const Kind kinds[] = {{"#303030", "directory"},  {"#d0d0d0", "present, used by no file"},
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
    for (int32_t f = 0; f < files; ++f) {
        out("<rect x=\"%d\" y=\"%d\" width=\"12\" height=\"12\" fill=\"%s\" stroke=\"#999\"/><text x=\"%d\" y=\"%d\" "
            "font-size=\"11\">",
            static_cast<int>(lx), static_cast<int>(ly), fileColour(f, colour, sizeof colour), static_cast<int>(lx + 18),
            static_cast<int>(ly + 10));
        xmlText(sjisToUtf8(names[f], utf8, sizeof utf8));
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
    collectListed();
    int64_t after = input.size();
    if (disks > 0) {
        image.selectDisk(disks - 1);
        after = input.size() - (image.diskOffsetOf(disks - 1) + static_cast<int64_t>(image.diskSizeField()));
        if (after < 0) after = 0;
    }
    char utf8[4 * 4096 * 3];
    int32_t listedIndex = 0;
    int32_t mapY = 40;
    if (o.format == Format::kJson) {
        out("{\"image\":");
        jsonString(fs::utf8OrReplacement(o.path, utf8, sizeof utf8));
        out(",\"size\":%lld,\"diskCount\":%d,\"bytesAfterLastDisk\":%lld,\"moreDisks\":%s,\"disks\":[",
            static_cast<long long>(input.size()), static_cast<int>(disks), static_cast<long long>(after),
            image.hasMoreDisks() ? "true" : "false");
    } else if (o.format == Format::kMap) {
        out("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" "
            "width=\"%d\" height=\"%d\" font-family=\"sans-serif\">\n<rect width=\"100%%\" height=\"100%%\" "
            "fill=\"#fff\"/>\n"
            "<text x=\"10\" y=\"24\" font-size=\"16\" font-weight=\"bold\">",
            420, 40 + disks * (28 + 164 * 14 + 20) + 40);
        xmlText(fs::utf8OrReplacement(shownPath, utf8, sizeof utf8));
        out("</text>\n");
    } else {
        out("image: %s\n  %lld bytes, %d disk%s, %lld bytes after the last disk%s\n", shownPath,
            static_cast<long long>(input.size()), static_cast<int>(disks), disks == 1 ? "" : "s",
            static_cast<long long>(after), image.hasMoreDisks() ? ", more than 64 disks (only 64 are read)" : "");
    }
    for (int32_t d = 0; d < disks; ++d) reportDisk(d, o, listedIndex, mapY);
    if (o.format == Format::kJson) out("],\"status\":%d}\n", status);
    if (o.format == Format::kMap) out("</svg>\n");
    if (o.format == Format::kText)
        out("status: %s\n", status == 0 ? "every file whole" : "damage or loss (exit status 1)");
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
    return report(o, opened, shownPath);
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
    return report(o, opened, shownPath);
}
#endif
