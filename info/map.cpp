// The map: an SVG 1.1 picture of every disk, one panel each. Cylinders are
// rows, head 0 and head 1 side by side, a column per sector ID the file
// system uses and the records of other IDs beside their row. Every sector a
// file owns is in the file's colour, the file system's own areas in theirs;
// what reading a sector met (short, missing, marked bad, deleted-data mark,
// read error) is a mark the legend explains; every cell names itself in a
// <title>, as the listing names sectors.
#include <cmath>
#include <cstring>

#include "output.h"
#include "text.h"
#include "writers.h"

namespace imgpry::info {

namespace {

// The layout, in one place: sizes in pixels.
constexpr int32_t kMargin = 10;
constexpr int32_t kCell = 14;
constexpr int32_t kRowLabel = 44;   // "trk=0a" left of a row
constexpr int32_t kHeadGap = 24;    // between the heads' blocks
constexpr int32_t kExtraGap = 6;    // between a row's grid and its other records
constexpr int32_t kLegendGap = 24;  // between the grid and the legend
constexpr int32_t kLegendLine = 16;
constexpr int32_t kPanelGap = 24;
constexpr int32_t kTitleSize = 16, kHeadingSize = 14, kLineSize = 12, kSmallSize = 9, kLegendSize = 11;
constexpr int32_t kTopTitle = 34;              // the image's name, above the panels
constexpr int32_t kPanelHead = 66;             // heading, file system, status, head labels
constexpr int32_t kGridTop = kPanelHead + 14;  // below the sector IDs

// Colours, all #rrggbb.
constexpr const char* kUnusedFill = "#dcdcdc";
constexpr const char* kAbsentFill = "#ffffff";
constexpr const char* kSharedFill = "#000000";
constexpr const char* kGridLine = "#9a9a9a";
constexpr const char* kMarkedBad = "#d00000";
constexpr const char* kDeletedMark = "#0050d0";
constexpr const char* kReadError = "#ff7f00";
constexpr const char* kMissingMark = "#333333";
const char* areaColour(fs::AreaKind kind) {
    switch (kind) {
        case fs::AreaKind::kBoot:
            return "#6b4a12";
        case fs::AreaKind::kFat:
            return "#8c2d04";
        case fs::AreaKind::kDirectory:
            return "#3b4cc0";
        case fs::AreaKind::kSystem:
            return "#5a5a5a";
    }
    return "#5a5a5a";
}

// A file's colour: hues stepped by the golden angle from blue, at two
// lightness levels in turn, so that neighbours in the legend differ.
const char* fileColour(int32_t number, char* buf, size_t size) {
    const double k = number - 1;
    const double hue = std::fmod(210.0 + k * 137.50776, 360.0) / 360.0;
    const double light = (number - 1) % 2 == 0 ? 0.74 : 0.56;
    const double sat = 0.62;
    const double q = light < 0.5 ? light * (1 + sat) : light + sat - light * sat;
    const double p = 2 * light - q;
    auto channel = [&](double t) {
        t = t < 0 ? t + 1 : t > 1 ? t - 1 : t;
        double v = p;
        if (t < 1.0 / 6) {
            v = p + (q - p) * 6 * t;
        } else if (t < 0.5) {
            v = q;
        } else if (t < 2.0 / 3) {
            v = p + (q - p) * (2.0 / 3 - t) * 6;
        }
        return static_cast<unsigned>(std::lround(v * 255));
    };
    (void)std::snprintf(buf, size, "#%02x%02x%02x", channel(hue + 1.0 / 3), channel(hue), channel(hue - 1.0 / 3));
    return buf;
}

// The estimated width of UTF-8 text at a font size: 0.62 em for a
// character of one byte, 1 em for any other.
int32_t textWidth(const char* s, int32_t size) {
    double em = 0;
    for (const char* p = s; *p != '\0'; ++p) {
        const auto b = static_cast<unsigned char>(*p);
        if (b < 0x80) {
            em += 0.62;
        } else if ((b & 0xC0) != 0x80) {
            em += 1.0;
        }
    }
    return static_cast<int32_t>(std::ceil(em * size));
}

void text(FILE* out, int32_t x, int32_t y, int32_t size, const char* s, bool bold = false) {
    put(out, "<text x=\"%d\" y=\"%d\" font-size=\"%d\"%s>", static_cast<int>(x), static_cast<int>(y),
        static_cast<int>(size), bold ? " font-weight=\"bold\"" : "");
    xmlText(out, s);
    put(out, "</text>\n");
}

// --- What a panel shows, measured before it is drawn ---------------------

struct Panel {
    int32_t heads = 2;
    int32_t columns = 0;
    int32_t blockWidth[2] = {0, 0};
    int32_t gridWidth = 0;
    int32_t legendX = 0;
    int32_t legendLines = 0;
    int32_t width = 0;
    int32_t height = 0;
};

void heading(const DiskFacts& d, char* buf, size_t size) {
    if (!d.selected) {
        (void)std::snprintf(buf, size, "disk %d", static_cast<int>(d.number));
        return;
    }
    char name[3 * 17 + 1];
    const char* media = mediaName(d.mediaType);
    char type[24];
    if (media != nullptr) {
        (void)std::snprintf(type, sizeof type, "%s", media);
    } else {
        (void)std::snprintf(type, sizeof type, "media type 0x%02x", static_cast<unsigned>(d.mediaType));
    }
    (void)std::snprintf(buf, size, "disk %d: \"%s\" (%s)", static_cast<int>(d.number),
                        fs::shiftJisToUtf8(d.name, name, sizeof name), type);
}

void systemLine(const DiskFacts& d, char* buf, size_t size) {
    if (!d.selected) {
        buf[0] = '\0';
    } else if (d.recognised) {
        (void)std::snprintf(buf, size, "file system: %s", d.description);
    } else {
        (void)std::snprintf(buf, size, "file system: none imgpry reads");
    }
}

void statusLine(const DiskFacts& d, char* buf, size_t size) { (void)std::snprintf(buf, size, "status: %s", d.status); }

// The legend's kinds: a sample cell and its words.
enum class Sample : uint8_t { kArea, kUnused, kAbsent, kShared, kShort, kMissing, kMarked, kDeleted, kError };
struct LegendKind {
    Sample sample;
    fs::AreaKind area;
    const char* words;
};
constexpr LegendKind kKinds[] = {
    {Sample::kArea, fs::AreaKind::kBoot, "boot"},
    {Sample::kArea, fs::AreaKind::kFat, "FAT"},
    {Sample::kArea, fs::AreaKind::kDirectory, "directory"},
    {Sample::kArea, fs::AreaKind::kSystem, "system"},
    {Sample::kUnused, fs::AreaKind::kSystem, "present, used by no file"},
    {Sample::kAbsent, fs::AreaKind::kSystem, "absent: no record, used by nothing"},
    {Sample::kShared, fs::AreaKind::kSystem, "used by two files or areas"},
    {Sample::kShort, fs::AreaKind::kSystem, "short: holds fewer bytes than its size"},
    {Sample::kMissing, fs::AreaKind::kSystem, "missing: a file's or area's sector not in the image"},
    {Sample::kMarked, fs::AreaKind::kSystem, "marked bad by the dumping drive"},
    {Sample::kDeleted, fs::AreaKind::kSystem, "deleted-data mark"},
    {Sample::kError, fs::AreaKind::kSystem, "read error"},
};

// Which area kinds a disk has, so that the legend lists only those.
bool hasArea(const Facts& f, const DiskFacts& d, fs::AreaKind kind) {
    for (int32_t i = 0; i < d.areas.count; ++i) {
        if (f.areas[d.areas.at + i].kind == kind) return true;
    }
    return false;
}

void legendLine(const Facts& f, const FileFacts& file, char* buf, size_t size) {
    char state[256];
    (void)fileState(f, file, state, sizeof state);
    buf[0] = '\0';
    Line line{buf, size};
    append(line, "%d %s", static_cast<int>(file.number), f.at(file.pathTextAt));
    if (std::strcmp(state, "whole") != 0) append(line, ", %s", state);
    if (file.chainBroken) append(line, ", chain broken");
    if (file.markCount > 0)
        append(line, ", %d sector%s marked", static_cast<int>(file.markCount), file.markCount == 1 ? "" : "s");
    if (file.unsafe) {
        append(line, " (not written: unsafe name)");
    } else if (file.emptyName && file.size > 0) {
        append(line, " (not written: no name)");
    } else if (file.replacedBy >= 0) {
        const FileFacts& later = f.files[file.replacedBy];
        append(line, " (not written: replaced by disk %d %s)", static_cast<int>(later.disk + 1),
               f.at(later.pathTextAt));
    } else if (!file.writes && file.size > 0) {
        append(line, " (not written)");
    }
}

Panel measure(const Facts& f, const DiskFacts& d) {
    Panel p;
    p.heads = d.geometry.heads == 1 ? 1 : 2;
    if (!d.selected) p.heads = 0;
    p.columns = d.geometry.lastSector - d.geometry.firstSector + 1;
    if (p.columns < 0) p.columns = 0;
    if (p.columns > kMaxGridColumns) p.columns = kMaxGridColumns;
    int32_t x = 0;
    for (int32_t h = 0; h < p.heads; ++h) {
        const int32_t extras = d.widestExtras[h];
        p.blockWidth[h] = kRowLabel + p.columns * kCell + (extras > 0 ? kExtraGap + extras * kCell : 0);
        x += p.blockWidth[h] + (h + 1 < p.heads ? kHeadGap : 0);
    }
    p.gridWidth = x;
    p.legendX = p.gridWidth + (p.gridWidth > 0 ? kLegendGap : 0);
    int32_t widest = 0;
    int32_t lines = 0;
    for (const LegendKind& k : kKinds) {
        if (!d.selected || (k.sample == Sample::kArea && !hasArea(f, d, k.area))) continue;
        ++lines;
        const int32_t w = kCell + 6 + textWidth(k.words, kLegendSize);
        if (w > widest) widest = w;
    }
    char line[4096];
    for (int32_t k = 0; k < d.files.count; ++k) {
        legendLine(f, f.files[d.files.at + k], line, sizeof line);
        ++lines;
        const int32_t w = kCell + 6 + textWidth(line, kLegendSize);
        if (w > widest) widest = w;
    }
    p.legendLines = lines;
    p.width = p.legendX + widest;
    char head[kLineBytes + 64];
    heading(d, head, sizeof head);
    if (textWidth(head, kHeadingSize) > p.width) p.width = textWidth(head, kHeadingSize);
    systemLine(d, head, sizeof head);
    if (textWidth(head, kLineSize) > p.width) p.width = textWidth(head, kLineSize);
    statusLine(d, head, sizeof head);
    if (textWidth(head, kLineSize) > p.width) p.width = textWidth(head, kLineSize);
    const int32_t grid = kGridTop + d.cylinders * kCell;
    const int32_t legend = kGridTop + lines * kLegendLine;
    p.height = (grid > legend ? grid : legend) + kPanelGap;
    return p;
}

// --- Drawing -------------------------------------------------------------

struct CellLook {
    const char* fill;
    bool isShort, missing, marked, deleted, error;
};

void overlay(FILE* out, int32_t x, int32_t y, const CellLook& look) {
    const int32_t e = x + kCell;
    const int32_t b = y + kCell;
    if (look.isShort) {
        put(out, "<polygon points=\"%d,%d %d,%d %d,%d\" fill=\"#ffffff\" fill-opacity=\"0.8\"/>", static_cast<int>(e),
            static_cast<int>(y), static_cast<int>(e), static_cast<int>(b), static_cast<int>(x), static_cast<int>(b));
    }
    if (look.missing || look.error) {
        put(out, "<path d=\"M%d %dL%d %dM%d %dL%d %d\" stroke=\"%s\" stroke-width=\"%s\"/>", static_cast<int>(x + 2),
            static_cast<int>(y + 2), static_cast<int>(e - 2), static_cast<int>(b - 2), static_cast<int>(e - 2),
            static_cast<int>(y + 2), static_cast<int>(x + 2), static_cast<int>(b - 2),
            look.error ? kReadError : kMissingMark, look.error ? "2.5" : "1");
    }
    if (look.marked) {
        put(out,
            "<rect x=\"%d.5\" y=\"%d.5\" width=\"%d\" height=\"%d\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\"/>",
            static_cast<int>(x + 1), static_cast<int>(y + 1), kCell - 3, kCell - 3, kMarkedBad);
    }
    if (look.deleted) {
        put(out, "<circle cx=\"%d\" cy=\"%d\" r=\"2.5\" fill=\"%s\"/>", static_cast<int>(e - 4),
            static_cast<int>(y + 4), kDeletedMark);
    }
}

void sampleCell(FILE* out, int32_t x, int32_t y, const LegendKind& k) {
    CellLook look{kUnusedFill, false, false, false, false, false};
    switch (k.sample) {
        case Sample::kArea:
            look.fill = areaColour(k.area);
            break;
        case Sample::kAbsent:
            look.fill = kAbsentFill;
            break;
        case Sample::kShared:
            look.fill = kSharedFill;
            break;
        case Sample::kShort:
            look.isShort = true;
            break;
        case Sample::kMissing:
            look.missing = true;
            break;
        case Sample::kMarked:
            look.marked = true;
            break;
        case Sample::kDeleted:
            look.deleted = true;
            break;
        case Sample::kError:
            look.error = true;
            break;
        case Sample::kUnused:
            break;
    }
    put(out, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\" stroke=\"%s\" stroke-width=\"0.5\"/>",
        static_cast<int>(x), static_cast<int>(y), kCell, kCell, look.fill, kGridLine);
    overlay(out, x, y, look);
    put(out, "\n");
}

// Who a cell belongs to, in the words of its title.
void ownerWords(const Facts& f, const Cell& c, char* buf, size_t size) {
    const char* area = c.area != 0 ? fs::areaName(static_cast<fs::AreaKind>(c.area - 1)) : nullptr;
    const char* first = c.owner >= 0 ? f.at(f.files[c.owner].pathTextAt) : nullptr;
    const char* second = c.second >= 0 ? f.at(f.files[c.second].pathTextAt) : nullptr;
    if (area != nullptr && first != nullptr) {
        (void)std::snprintf(buf, size, "used by %s and %s", area, first);
    } else if (first != nullptr && second != nullptr) {
        (void)std::snprintf(buf, size, "used by %s and %s", first, second);
    } else if (area != nullptr) {
        (void)std::snprintf(buf, size, "%s", area);
    } else if (first != nullptr) {
        (void)std::snprintf(buf, size, "%s", first);
    } else {
        (void)std::snprintf(buf, size, "used by no file");
    }
}

void drawCell(FILE* out, const Facts& f, const DiskFacts& d, int32_t t, int32_t k, int32_t x, int32_t y) {
    const TrackCells& tc = d.cells[t];
    const Cell& c = f.cells[tc.cells.at + k];
    const SectorRecord* rec = c.record >= 0 ? &f.records[d.tracks[t].records.at + c.record] : nullptr;
    const bool owned = c.owner >= 0 || c.area != 0;
    const bool shared = (c.owner >= 0 && c.second >= 0) || (c.owner >= 0 && c.area != 0);
    char colour[8];
    CellLook look{kUnusedFill, false, false, false, false, false};
    if (shared) {
        look.fill = kSharedFill;
    } else if (c.owner >= 0) {
        look.fill = fileColour(f.files[c.owner].number, colour, sizeof colour);
    } else if (c.area != 0) {
        look.fill = areaColour(static_cast<fs::AreaKind>(c.area - 1));
    } else if (rec == nullptr) {
        look.fill = kAbsentFill;
    }
    const int32_t full = rec != nullptr && rec->n <= 8 ? 128 << rec->n : 0;
    look.error = c.visited != 0 && c.error != 0;
    look.missing = !look.error && (rec == nullptr || (c.visited != 0 && c.held == 0)) && owned;
    look.isShort =
        !look.error && !look.missing && rec != nullptr && (c.visited != 0 ? c.held < c.wanted : rec->dataSize < full);
    look.marked = rec != nullptr && rec->status != 0 && rec->status != 0x10;
    look.deleted = rec != nullptr && (rec->deleted != 0 || rec->status == 0x10);

    char title[4096];
    char name[32];
    title[0] = '\0';
    Line line{title, sizeof title};
    append(line, "%s", fs::sectorName(t, c.r, name, sizeof name));
    if (k >= tc.grid && rec != nullptr) append(line, " (C=%02x H=%02x N=%02x)", rec->c, rec->h, rec->n);
    char who[2048];
    ownerWords(f, c, who, sizeof who);
    append(line, ": %s", who);
    if (look.error) {
        append(line, ", could not be read: %s", std::strerror(c.error));
    } else if (rec == nullptr) {
        append(line, ", %s", owned ? "missing" : "no record");
    } else if (look.missing) {
        append(line, ", missing");
    } else if (look.isShort) {
        if (c.visited != 0) {
            append(line, ", holds only %d of %d bytes", static_cast<int>(c.held), static_cast<int>(c.wanted));
        } else {
            append(line, ", holds only %d of %d bytes", static_cast<int>(rec->dataSize), static_cast<int>(full));
        }
    }
    if (look.marked || look.deleted) {
        char meaning[32];
        append(line, ", marked: %s", fs::markMeaning(rec->status, rec->deleted, meaning, sizeof meaning));
    }
    if (!look.error && !look.missing && !look.isShort && !look.marked && !look.deleted && rec != nullptr)
        append(line, ", whole");

    put(out, "<g><title>");
    xmlText(out, title);
    put(out,
        "</title><rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\" stroke=\"%s\" stroke-width=\"0.5\"/>",
        static_cast<int>(x), static_cast<int>(y), kCell, kCell, look.fill, kGridLine);
    overlay(out, x, y, look);
    // The file's number, small, in its first cell.
    if (c.owner >= 0 && !shared) {
        const FileFacts& file = f.files[c.owner];
        if (file.firstTrack == t && file.firstSector == c.r && k < tc.grid) {
            put(out, "<text x=\"%d\" y=\"%d\" font-size=\"7\">%d</text>", static_cast<int>(x + 1),
                static_cast<int>(y + 8), static_cast<int>(file.number));
        }
    }
    put(out, "</g>\n");
}

void drawPanel(FILE* out, const Facts& f, const DiskFacts& d, const Panel& p, int32_t top) {
    put(out, "<g transform=\"translate(%d,%d)\">\n", kMargin, static_cast<int>(top));
    char line[kLineBytes + 64];
    heading(d, line, sizeof line);
    text(out, 0, 16, kHeadingSize, line, true);
    systemLine(d, line, sizeof line);
    text(out, 0, 33, kLineSize, line);
    statusLine(d, line, sizeof line);
    text(out, 0, 49, kLineSize, line);
    char name[32];
    int32_t bx = 0;
    for (int32_t h = 0; h < p.heads; ++h) {
        (void)std::snprintf(line, sizeof line, "head %d", static_cast<int>(h));
        text(out, bx + kRowLabel, kPanelHead - 2, kLegendSize, line);
        for (int32_t k = 0; k < p.columns; ++k) {
            (void)std::snprintf(line, sizeof line, "%02x", static_cast<unsigned>(d.geometry.firstSector + k));
            text(out, bx + kRowLabel + k * kCell + 2, kGridTop - 3, 8, line);
        }
        for (int32_t cyl = 0; cyl < d.cylinders; ++cyl) {
            const int32_t t = cyl * 2 + h;
            const int32_t y = kGridTop + cyl * kCell;
            (void)fs::sectorName(t, 0, name, sizeof name);
            name[6] = '\0';
            text(out, bx, y + 10, kSmallSize, name);
            const TrackCells& tc = d.cells[t];
            if (tc.cells.count == 0) {
                put(out,
                    "<g><title>%s: not in the image</title><rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" "
                    "fill=\"%s\" stroke=\"%s\" stroke-width=\"0.5\" stroke-dasharray=\"2,2\"/></g>\n",
                    name, static_cast<int>(bx + kRowLabel), static_cast<int>(y), static_cast<int>(p.columns * kCell),
                    kCell, kAbsentFill, kGridLine);
                continue;
            }
            for (int32_t k = 0; k < tc.cells.count; ++k) {
                const int32_t x = bx + kRowLabel + (k < tc.grid ? k * kCell : kExtraGap + k * kCell);
                drawCell(out, f, d, t, k, x, y);
            }
        }
        bx += p.blockWidth[h] + kHeadGap;
    }
    // The legend: the kinds this disk can show, then every file.
    int32_t ly = kGridTop;
    for (const LegendKind& k : kKinds) {
        if (!d.selected || (k.sample == Sample::kArea && !hasArea(f, d, k.area))) continue;
        sampleCell(out, p.legendX, ly, k);
        text(out, p.legendX + kCell + 6, ly + 11, kLegendSize, k.words);
        ly += kLegendLine;
    }
    char colour[8];
    char entry[4096];
    for (int32_t k = 0; k < d.files.count; ++k) {
        const FileFacts& file = f.files[d.files.at + k];
        put(out,
            "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\" stroke=\"%s\" stroke-width=\"0.5\"/>\n",
            static_cast<int>(p.legendX), static_cast<int>(ly), kCell, kCell,
            fileColour(file.number, colour, sizeof colour), kGridLine);
        legendLine(f, file, entry, sizeof entry);
        text(out, p.legendX + kCell + 6, ly + 11, kLegendSize, entry);
        ly += kLegendLine;
    }
    put(out, "</g>\n");
}

}  // namespace

void writeMap(FILE* out, const Facts& f, const Request& request) {
    int32_t width = textWidth(request.pathText, kTitleSize);
    int32_t height = kTopTitle;
    for (int32_t d = 0; d < f.diskCount; ++d) {
        const Panel p = measure(f, f.disks[d]);
        if (p.width > width) width = p.width;
        height += p.height;
    }
    width += 2 * kMargin;
    height += kMargin;
    put(out,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" "
        "width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" font-family=\"sans-serif\">\n<rect width=\"%d\" "
        "height=\"%d\" fill=\"#ffffff\"/>\n",
        static_cast<int>(width), static_cast<int>(height), static_cast<int>(width), static_cast<int>(height),
        static_cast<int>(width), static_cast<int>(height));
    text(out, kMargin, 24, kTitleSize, request.pathText, true);
    int32_t top = kTopTitle;
    for (int32_t d = 0; d < f.diskCount; ++d) {
        const Panel p = measure(f, f.disks[d]);
        drawPanel(out, f, f.disks[d], p, top);
        top += p.height;
    }
    put(out, "</svg>\n");
}

}  // namespace imgpry::info
