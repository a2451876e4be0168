// The browser page's side of the code: a handful of functions exported to
// JavaScript over the very code the programs run. The page hands over the
// image's bytes; the functions give back imgpry-info's report, JSON and map,
// a manifest of every disk and file (what imgpry would write, and in what
// state), each file's bytes, and the pieces of a zip archive of them.
//
// Results are bytes in the module's memory: a pointer and a length that
// stay valid until the next call. Names stay bytes throughout; the page
// decodes the manifest (UTF-8 JSON) and shows text with TextDecoder.
#include <emscripten.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "file_system.h"
#include "info.h"
#include "names.h"
#include "text.h"
#include "zip.h"

namespace fs = imgpry::fs;

namespace {

imgpry::DiskImage image;
fs::Catalogue catalogue;
uint8_t fileBuffer[fs::kMaxFileBytes];
fs::RunReport run;

const uint8_t* imageData = nullptr;
size_t imageSize = 0;

// What the last call gave.
std::vector<uint8_t> output;

void give(const std::string& text) { output.assign(text.begin(), text.end()); }

// The disk whose catalogue is held, and its file system.
int32_t catalogueDisk = -1;
fs::FileSystem* fileSystem = nullptr;
bool recognised = false;

// Reads disk d's catalogue unless it is the one held.
void loadDisk(int32_t d) {
    if (catalogueDisk == d) return;
    catalogueDisk = d;
    catalogue.clear();
    fileSystem = nullptr;
    recognised = false;
    if (!image.selectDisk(d)) return;
    fileSystem = &fs::recogniseDisk(image, recognised);
    fileSystem->readCatalogue(image, catalogue);
}

// Every file of every disk, in the order imgpry meets them.
struct FileRef {
    int32_t disk;
    int32_t entry;
    bool written;
    std::string zipName;
};
std::vector<FileRef> files;
int32_t loadedFile = -1;
int32_t loadedSize = 0;
bool loadedOk = false;

// Reads file k's data into fileBuffer; returns whether imgpry writes it.
bool loadFile(int32_t k) {
    if (k == loadedFile) return loadedOk;
    const FileRef& f = files[static_cast<size_t>(k)];
    loadDisk(f.disk);
    loadedFile = k;
    loadedOk = fileSystem != nullptr &&
               fileSystem->readFile(image, catalogue, f.entry, fileBuffer, fs::kMaxFileBytes, run, nullptr);
    loadedSize = catalogue.entries[f.entry].size;
    return loadedOk;
}

// --- Text ----------------------------------------------------------------

void jsonString(std::string& out, const std::string& utf8) {
    out += '"';
    for (const char ch : utf8) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += ch;
        } else if (b < 0x20 || b == 0x7F) {
            char esc[8];
            (void)std::snprintf(esc, sizeof esc, "\\u%04x", b);
            out += esc;
        } else {
            out += ch;
        }
    }
    out += '"';
}

std::string hex(const char* bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string h;
    for (const char* p = bytes; *p != '\0'; ++p) {
        const auto b = static_cast<unsigned char>(*p);
        h += kHex[b >> 4];
        h += kHex[b & 0xF];
    }
    return h;
}

// A name from the image as text: decoded as its entry says, control bytes
// shown as '?' (the terminal rule), so that it is safe in any text.
std::string nameText(const char* bytes, fs::NameEncoding encoding) {
    std::vector<char> decoded(std::strlen(bytes) * 3 + 1);
    if (encoding == fs::NameEncoding::kUtf8) {
        (void)fs::utf8OrReplacement(bytes, decoded.data(), decoded.size());
    } else {
        (void)fs::shiftJisToUtf8(bytes, decoded.data(), decoded.size());
    }
    std::vector<char> shown(decoded.size());
    return fs::showName(decoded.data(), true, shown.data(), shown.size());
}

// The parts of entry index's path, its top folder first; bounded by the
// folder depth a catalogue holds.
std::vector<int32_t> pathParts(int32_t index) {
    std::vector<int32_t> chain;
    for (int32_t i = index; i >= 0 && i < catalogue.count && chain.size() <= fs::kMaxFolderDepth;
         i = catalogue.entries[i].parent) {
        chain.insert(chain.begin(), i);
    }
    return chain;
}

std::string sector(int32_t track, int32_t id) {
    char buf[32];
    return fs::sectorName(track, id, buf, sizeof buf);
}

std::string shortText(const fs::ShortSector& s) {
    char buf[160];
    return fs::describeShort(s, buf, sizeof buf);
}

std::string markText(int32_t count, const fs::MarkedSector& m, const char* whose) {
    char meaning[32];
    char buf[200];
    (void)std::snprintf(buf, sizeof buf, "the image marks %d of %s sectors bad, the first %s: %s",
                        static_cast<int>(count), whose, sector(m.track, m.sector).c_str(),
                        fs::markMeaning(m.status, m.deleted, meaning, sizeof meaning));
    return buf;
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

// The display path of entry index.
std::string displayPath(int32_t index) {
    std::string path;
    for (const int32_t i : pathParts(index)) {
        if (!path.empty()) path += '/';
        path += nameText(catalogue.name(i), catalogue.entries[i].encoding);
    }
    return path;
}

// Whether any part of entry index's path may not be written: imgpry's rule
// on its bytes, and, because the zip may be unpacked on any system, the
// Windows rule on the text it is unpacked as.
bool unsafePath(int32_t index) {
    for (const int32_t i : pathParts(index)) {
        const char* bytes = catalogue.name(i);
        const std::string text = nameText(bytes, catalogue.entries[i].encoding);
        if (bytes[0] == '\0' || fs::isUnsafeName(bytes, fs::kHostNameRules) ||
            fs::isUnsafeName(text.c_str(), fs::NameRules::kWindows)) {
            return true;
        }
    }
    return false;
}

// The sentences a disk's catalogue gives of its own structures.
std::vector<std::string> problemLines() {
    std::vector<std::string> lines;
    for (int32_t i = 0; i < catalogue.problemCount; ++i) {
        const fs::Problem& p = catalogue.problems[i];
        std::string line;
        if (p.entry >= 0) line = displayPath(p.entry) + ": ";
        if (p.kind == fs::ProblemKind::kNote) {
            lines.push_back(line + p.what);
            continue;
        }
        char buf[96];
        if (p.got == 0 && p.shortCount > 0) {
            lines.push_back(line + "cannot read " + p.what + ": " + shortText(p.firstShort));
        } else if (p.got < p.wanted && p.shortCount > 0) {
            (void)std::snprintf(buf, sizeof buf, ": %d of %d bytes, ", static_cast<int>(p.got),
                                static_cast<int>(p.wanted));
            lines.push_back(line + "partly read " + p.what + buf + shortText(p.firstShort));
        }
        if (p.markCount > 0)
            lines.push_back(line + markText(p.markCount, p.firstMark, (std::string(p.what) + "'s").c_str()));
    }
    return lines;
}

// A file's state: a key for the page and the words for people.
struct State {
    const char* key;
    std::string words;
};

State fileState(const fs::CatalogueEntry& e, bool unsafe, bool read, bool replaced) {
    if (unsafe) return {"unsafe", "unsafe name: not written"};
    if (!read) {
        if (e.size == 0) return {"unwritten", "empty: not written"};
        if (run.shortCount > 0) return {"unwritten", "not written: cannot read it: " + shortText(run.shorts[0])};
        return {"unwritten", "not written: nothing of it can be read"};
    }
    if (replaced) return {"unwritten", "not written: a later file on this disk has the same name"};
    State s{"whole", ""};
    if (run.got < run.wanted) {
        s.key = "partly";
        char buf[64];
        (void)std::snprintf(buf, sizeof buf, "partly read %d of %d bytes, ", static_cast<int>(run.got),
                            static_cast<int>(run.wanted));
        s.words = buf;
        if (run.chainBroken) {
            s.words += "the allocation chain breaks after " + sector(run.breakTrack, run.breakSector);
        } else if (run.shortCount > 0) {
            s.words += shortText(run.shorts[0]);
            if (run.shortCount > 1) {
                (void)std::snprintf(buf, sizeof buf, " (%d sectors short in all)", static_cast<int>(run.shortCount));
                s.words += buf;
            }
        }
        s.words += "; the rest is zeros";
    }
    if (run.markCount > 0) {
        if (s.words.empty()) s.key = "marked";
        if (!s.words.empty()) s.words += "; ";
        s.words += "marked: " + markText(run.markCount, run.marks[0], "its");
    }
    if (s.words.empty()) s.words = "whole";
    return s;
}

}  // namespace

extern "C" {

// The image to read: size bytes at data, kept by the caller until the next
// open. Returns the number of disks.
EMSCRIPTEN_KEEPALIVE int32_t imgpry_open(const uint8_t* data, size_t size) {
    imageData = data;
    imageSize = size;
    (void)image.openMemory(data, size);
    catalogueDisk = -1;
    loadedFile = -1;
    files.clear();
    return image.diskCount();
}

EMSCRIPTEN_KEEPALIVE const uint8_t* imgpry_output() { return output.data(); }
EMSCRIPTEN_KEEPALIVE size_t imgpry_output_size() { return output.size(); }

// imgpry-info's output on the image (mode "", "--tracks", "--json" or
// "--map"), the image named shownPath; returns its exit status.
EMSCRIPTEN_KEEPALIVE int imgpry_report(const char* mode, const char* shownPath) {
    char* text = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&text, &length);
    if (out == nullptr) {
        output.clear();
        return 2;
    }
    const int status = reportMemoryTo(out, imageData, imageSize, mode, shownPath);
    (void)std::fclose(out);
    output.assign(text, text + length);
    std::free(text);
    return status;
}

// The manifest, as JSON: every disk with its name, media, file system and
// the state of its structures, and every file imgpry meets with its path
// (text and bytes), size, state and whether it is written. Returns the
// number of files.
EMSCRIPTEN_KEEPALIVE int32_t imgpry_manifest() {
    files.clear();
    loadedFile = -1;
    std::string out = "{\"diskCount\":";
    const int32_t disks = image.diskCount();
    out += std::to_string(disks);
    out += ",\"moreDisks\":";
    out += image.hasMoreDisks() ? "true" : "false";
    out += ",\"disks\":[";
    for (int32_t d = 0; d < disks; ++d) {
        loadDisk(d);
        const size_t first = files.size();
        // Which files of this disk imgpry writes, and in what state.
        std::vector<State> states;
        std::vector<int32_t> got;
        for (int32_t i = 0; i < catalogue.count; ++i) {
            const fs::CatalogueEntry& e = catalogue.entries[i];
            if (e.kind != fs::EntryKind::kFile) continue;
            const bool read = fileSystem != nullptr &&
                              fileSystem->readFile(image, catalogue, i, fileBuffer, fs::kMaxFileBytes, run, nullptr);
            const bool unsafe = unsafePath(i);
            files.push_back(FileRef{d, i, read && !unsafe, ""});
            states.push_back(fileState(e, unsafe, read, false));
            got.push_back(run.got);
        }
        // A later file of the same path replaces an earlier one, as in imgpry.
        std::unordered_map<std::string, size_t> later;
        char raw[4 * fs::kMaxNameBytes];
        for (size_t k = files.size(); k > first; --k) {
            FileRef& f = files[k - 1];
            if (!f.written) continue;
            const std::string path = fs::entryPath(catalogue, f.entry, raw, sizeof raw);
            if (later.count(path) != 0) {
                f.written = false;
                states[k - 1 - first] = State{"unwritten", "not written: a later file on this disk has the same name"};
            } else {
                later[path] = k - 1;
            }
        }
        char number[8];
        (void)std::snprintf(number, sizeof number, "disk%02d/", static_cast<int>(d + 1));
        out += d == 0 ? "{" : ",{";
        out += "\"disk\":" + std::to_string(d + 1) + ",\"name\":";
        jsonString(out, nameText(image.diskName(), fs::NameEncoding::kShiftJis));
        out += ",\"media\":";
        const char* media = mediaName(image.mediaType());
        char other[32];
        (void)std::snprintf(other, sizeof other, "media type 0x%02x", static_cast<unsigned>(image.mediaType() & 0xFF));
        jsonString(out, media != nullptr ? media : other);
        out += ",\"fileSystem\":";
        if (fileSystem != nullptr && recognised) {
            char described[160];
            jsonString(out, fileSystem->describe(described, sizeof described));
        } else {
            out += "null";
        }
        out += ",\"lines\":[";
        const std::vector<std::string> lines = problemLines();
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i > 0) out += ',';
            jsonString(out, lines[i]);
        }
        out += "],\"files\":[";
        for (size_t k = first; k < files.size(); ++k) {
            FileRef& f = files[k];
            const fs::CatalogueEntry& e = catalogue.entries[f.entry];
            const std::string path = displayPath(f.entry);
            f.zipName = std::string(number) + path;
            out += k == first ? "{" : ",{";
            out += "\"index\":" + std::to_string(k) + ",\"path\":";
            jsonString(out, path);
            out += ",\"pathBytes\":\"" + hex(fs::entryPath(catalogue, f.entry, raw, sizeof raw)) + "\"";
            out += ",\"size\":" + std::to_string(e.size) + ",\"read\":" + std::to_string(got[k - first]);
            out += ",\"state\":\"" + std::string(states[k - first].key) + "\",\"words\":";
            jsonString(out, states[k - first].words);
            out += ",\"written\":";
            out += f.written ? "true" : "false";
            out += ",\"zipName\":";
            jsonString(out, f.zipName);
            out += "}";
        }
        out += "]}";
    }
    out += "]}";
    give(out);
    return static_cast<int32_t>(files.size());
}

// File k of the manifest: its bytes at imgpry_file_data(); returns their
// count, or -1 when imgpry does not write it.
EMSCRIPTEN_KEEPALIVE int32_t imgpry_file(int32_t k) {
    if (k < 0 || static_cast<size_t>(k) >= files.size() || !files[static_cast<size_t>(k)].written) return -1;
    return loadFile(k) ? loadedSize : -1;
}
EMSCRIPTEN_KEEPALIVE const uint8_t* imgpry_file_data() { return fileBuffer; }

imgpry::web::ZipWriter zip;

// Starts a new zip archive.
EMSCRIPTEN_KEEPALIVE void imgpry_zip_begin() { zip = imgpry::web::ZipWriter{}; }

// Adds written file k to the archive as diskDD/PATH: its local header is the
// output, to be followed by the file's bytes. Returns the header's length,
// or -1 when the file is not written or the archive is full.
EMSCRIPTEN_KEEPALIVE int32_t imgpry_zip_add(int32_t k) {
    output.clear();
    if (imgpry_file(k) < 0) return -1;
    if (!zip.add(files[static_cast<size_t>(k)].zipName, fileBuffer, static_cast<size_t>(loadedSize), output)) return -1;
    return static_cast<int32_t>(output.size());
}

// The end of the archive (central directory and end record) as the output;
// returns its length.
EMSCRIPTEN_KEEPALIVE int32_t imgpry_zip_finish() {
    output = zip.finish();
    return static_cast<int32_t>(output.size());
}

}  // extern "C"
