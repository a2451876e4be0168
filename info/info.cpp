// imgpry-info's command line: the options, opening the image, gathering
// its facts and handing them to the one writer asked for.
#include "info.h"

#include <imgpry/disk_image.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "facts.h"
#include "image_input.h"
#include "names.h"
#include "text.h"
#include "writers.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fs = imgpry::fs;
namespace info = imgpry::info;

namespace {

// The writers, by the option that asks for each; the first is the default.
struct Writer {
    const char* option;
    void (*write)(FILE* out, const info::Facts& facts, const info::Request& request);
    bool map;  // needs the map's cells
};
constexpr Writer kWriters[] = {
    {"", info::writeReport, false},
    {"--json", info::writeJson, false},
    {"--map", info::writeMap, true},
};

struct Options {
    bool tracks = false;
    const Writer* writer = &kWriters[0];
    const char* path = nullptr;
};

enum class Parsed : uint8_t { kOk, kUsage, kTracksRefused };

constexpr char kUsage[] = "Usage: imgpry-info [--tracks] [--json | --map] IMAGE\n";
constexpr char kTracksRefused[] = "imgpry-info: --tracks goes with the text report; --json always holds the tracks\n";

const Writer* writerFor(const char* option) {
    for (const Writer& w : kWriters) {
        if (w.option[0] != '\0' && std::strcmp(option, w.option) == 0) return &w;
    }
    return nullptr;
}

Parsed parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const Writer* w = o.path == nullptr ? writerFor(a) : nullptr;
        if (o.path == nullptr && std::strcmp(a, "--tracks") == 0) {
            o.tracks = true;
        } else if (w != nullptr && o.writer == &kWriters[0]) {
            o.writer = w;
        } else if (o.path == nullptr &&
                   !(a[0] == '-' && a[1] == '-' && a[2] != '\0' && std::strchr(a, '/') == nullptr)) {
            o.path = a;
        } else {
            return Parsed::kUsage;
        }
    }
    if (o.path == nullptr) return Parsed::kUsage;
    return o.tracks && o.writer != &kWriters[0] ? Parsed::kTracksRefused : Parsed::kOk;
}

int refuse(Parsed p) {
    (void)std::fputs(p == Parsed::kTracksRefused ? kTracksRefused : kUsage, stderr);
    return 1;
}

// The image and what is known of it: one of each for the whole run.
struct Run {
    imgpry::DiskImage image;
    fs::ImageInput input;
    info::Facts facts;
};
Run& theRun() {
    static Run run;
    return run;
}

// The failures of reading the image itself, on standard error: the report
// says them too.
void sayReadFailures(const info::Facts& f, const char* shownPath) {
    if (f.readError != 0) {
        (void)std::fprintf(stderr, "imgpry-info: cannot read %s at byte %lld: %s\n", shownPath,
                           static_cast<long long>(f.readErrorAt), std::strerror(f.readError));
    }
    if (f.overLimit) {
        (void)std::fprintf(stderr, "imgpry-info: %s is longer than %lld bytes; only the first %lld bytes are read\n",
                           shownPath, static_cast<long long>(f.limit), static_cast<long long>(f.limit));
    }
    for (int32_t d = 0; d < f.diskCount; ++d) {
        const info::DiskFacts& disk = f.disks[d];
        if (!disk.selected) {
            (void)std::fprintf(stderr, "imgpry-info: disk %d: cannot read the disk's header: %s\n",
                               static_cast<int>(disk.number),
                               disk.selectError != 0 ? std::strerror(disk.selectError) : "input/output error");
        } else if (disk.trackError != 0) {
            char name[32];
            (void)fs::sectorName(disk.trackErrorTrack, 0, name, sizeof name);
            name[6] = '\0';
            (void)std::fprintf(stderr, "imgpry-info: disk %d: cannot read %s: %s\n", static_cast<int>(disk.number),
                               name, std::strerror(disk.trackError));
        }
    }
}

// Writes the report on the open image to out; the exit status.
int report(FILE* out, Run& run, const Options& o, const fs::ImageInput* input, int64_t size, const char* shownPath) {
    info::gatherFacts(run.facts, run.image, input, size, o.writer->map);
    sayReadFailures(run.facts, shownPath);
    static char pathText[3 * 4 * 4096 + 1];
    const info::Request request{fs::utf8OrReplacement(o.path, pathText, sizeof pathText), shownPath, o.tracks,
                                fs::localeIsUtf8()};
    errno = 0;
    o.writer->write(out, run.facts, request);
    const bool flushed = std::fflush(out) == 0;
    if (!flushed || std::ferror(out) != 0) {
        const int err = errno != 0 ? errno : EIO;
        (void)std::fprintf(stderr, "imgpry-info: cannot write the report: %s\n", std::strerror(err));
        return 1;
    }
    return run.facts.status;
}

int openAndReport(Run& run, const Options& o, bool opened, const char* shownPath) {
    if (!opened) {
        const int err = run.input.openError() != 0 ? run.input.openError() : EIO;
        (void)std::fprintf(stderr, "imgpry-info: cannot %s %s: %s\n", run.input.outOfMemory() ? "read" : "open",
                           shownPath, std::strerror(err));
        return 1;
    }
    return report(stdout, run, o, &run.input, run.input.size(), shownPath);
}

bool answered(const char* arg) {
    if (std::strcmp(arg, "--help") == 0) {
        (void)std::fputs(kUsage, stdout);
        (void)std::fputs(
            "Shows what a D88 image container holds: its disks, the file system of each, every file's\n"
            "state (whole, partly read, unreadable, marked bad by the dumping drive, chain broken,\n"
            "unsafe name, not written, replaced by a later file) and, with --tracks, every track's\n"
            "sector records. --json gives the same facts and every track as one JSON document, --map\n"
            "an SVG picture of every disk's sectors. It writes no file.\n"
            "Exit status: 0 when every file is whole; 1 for a usage error, an image that cannot be\n"
            "opened or a report that cannot be written; 2 when anything is damaged or lost.\n"
            "See man imgpry-info.\n",
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
    const Parsed parsed = parse(argc, argv, o);
    if (parsed != Parsed::kOk) return refuse(parsed);
    static char shownPath[4 * 4096];
    (void)fs::showName(o.path, true, shownPath, sizeof shownPath);
    Run& run = theRun();
    const bool opened = run.input.open(run.image, o.path);
    return openAndReport(run, o, opened, shownPath);
}

int reportMemoryTo(FILE* out, const uint8_t* data, size_t size, const char* mode, const char* shownPath) {
    Options o;
    o.path = shownPath;
    if (std::strcmp(mode, "--tracks") == 0) {
        o.tracks = true;
    } else if (mode[0] != '\0') {
        o.writer = writerFor(mode);
        if (o.writer == nullptr) return refuse(Parsed::kUsage);
    }
    Run& run = theRun();
    (void)run.image.openMemory(data, size);
    return report(out, run, o, nullptr, static_cast<int64_t>(size), shownPath);
}

int reportMemory(const uint8_t* data, size_t size, const char* mode, const char* shownPath) {
    return reportMemoryTo(stdout, data, size, mode, shownPath);
}

#if defined(_WIN32)
int runInfoWide(int argc, wchar_t** argv) {
    // Options are ASCII; the path is opened through the wide call.
    static char narrow[8][4 * 4096];
    static char* args[8];
    if (argc > 8) return refuse(Parsed::kUsage);
    for (int i = 0; i < argc; ++i) {
        if (WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, narrow[i], sizeof narrow[i], nullptr, nullptr) == 0)
            narrow[i][0] = '\0';
        args[i] = narrow[i];
    }
    if (argc == 2 && answered(args[1])) return 0;
    Options o;
    const Parsed parsed = parse(argc, args, o);
    if (parsed != Parsed::kOk) return refuse(parsed);
    static char shownPath[4 * 4096];
    (void)fs::showName(o.path, true, shownPath, sizeof shownPath);
    Run& run = theRun();
    const bool opened = run.input.open(run.image, argv[argc - 1]);
    return openAndReport(run, o, opened, shownPath);
}
#endif
