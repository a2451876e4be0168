#include "extract.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <cwchar>

#include "image_input.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fs = imgpry::fs;

imgpry::DiskImage gImage;
uint8_t dirBuffer[kDirBytes];
char outName[kNameBufferSize];
uint8_t fileBuffer[kFileBufferSize];

namespace {

// Shift_JIS for "the file cannot be opened".
constexpr char kOpenFailed[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1"
    "\n";

char failureText[128];
const char* failure = nullptr;
fs::RunReport runReport;
fs::RunReport dirReport;
int32_t replacedDisk = -1;
// The disk being listed (0-based), for the record of files placed.
int32_t currentDisk = -1;
// The first error writing the listing to standard output.
int listingErrno = 0;

void setFailure(const char* reason) {
    (void)std::snprintf(failureText, sizeof failureText, "%s", reason);
    failure = failureText;
}

// The system's word for errno value err; some failures leave errno unset.
const char* reasonOf(int err) { return err != 0 ? std::strerror(err) : "input/output error"; }

void noteListingError() {
    if (listingErrno == 0 && std::ferror(stdout) != 0) listingErrno = errno != 0 ? errno : EIO;
}

void listingWrite(const char* text, size_t length) {
    errno = 0;
    (void)std::fwrite(text, 1, length, stdout);
    noteListingError();
}

void flushListing() {
    errno = 0;
    if (std::fflush(stdout) != 0 && listingErrno == 0) listingErrno = errno != 0 ? errno : EIO;
    noteListingError();
}

}  // namespace

void formatEntryName(const uint8_t* entry) { (void)fs::entryName(entry, outName); }

int32_t formatListing(char* line, const char* name, int32_t size, int32_t track, int32_t sector) {
    static constexpr char kHex[] = "0123456789abcdef";
    int32_t k = 0;
    for (; k < 12 && name[k] != '\0'; ++k) line[k] = name[k];
    for (; k < 12; ++k) line[k] = ' ';
    line[k++] = ' ';
    char digits[8];
    int32_t n = 0;
    auto v = static_cast<uint32_t>(size);
    do {
        digits[n++] = static_cast<char>('0' + v % 10U);
        v /= 10U;
    } while (v != 0 && n < 8);
    for (int32_t pad = 8 - n; pad > 0; --pad) line[k++] = ' ';
    while (n > 0) line[k++] = digits[--n];
    const char* tail[] = {"  trk=", " sec="};
    const int32_t values[] = {track, sector};
    for (int32_t i = 0; i < 2; ++i) {
        for (const char* p = tail[i]; *p != '\0'; ++p) line[k++] = *p;
        line[k++] = kHex[(values[i] >> 4) & 0xF];
        line[k++] = kHex[values[i] & 0xF];
    }
    return k;
}

const char* extractFailure() { return failure; }

const fs::RunReport& extractReport() { return runReport; }

int32_t extractReplacedDisk() { return replacedDisk; }

bool extractFile(const char* name, int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, int32_t skip, int32_t size) {
    failure = nullptr;
    replacedDisk = -1;
    runReport.got = 0;
    runReport.shortCount = 0;
    runReport.markCount = 0;
    if (skip < 0 || size < 0 || skip > kFileBufferSize - size) return false;
    // Every sector is read on its own; what could not be read is zeros,
    // never what an earlier file left in the buffer.
    fs::readRun(gImage, t, c, h, r, n, fileBuffer, skip + size, fs::RunMode::kRecover, runReport);
    if (runReport.got == 0) return false;

    if (isUnsafeName(name, kHostNameRules)) {
        setFailure("unsafe file name");
        return false;
    }
    static const Folder workingFolder;
    const Placed placed = placeFile(workingFolder, name, fileBuffer + skip, size, currentDisk, fs::FileDate{});
    if (!placed.ok) {
        setFailure(reasonOf(placed.error));
        return false;
    }
    replacedDisk = placed.replacedDisk;
    listingWrite(" ... cutted.", 12);
    return true;
}

namespace {

// A line on standard error, after everything listed so far, so that it
// never lands inside a listing line.
template <typename... Args>
void report(const char* format, Args... args) {
    flushListing();
    (void)std::fprintf(stderr, format, args...);
}

// The first marked sector of a report, and its meaning.
struct FirstMark {
    unsigned track, sector;
    char meaning[32];
};
FirstMark firstMark(const fs::RunReport& r) {
    FirstMark m{static_cast<unsigned>(r.marks[0].track), static_cast<unsigned>(r.marks[0].sector), {}};
    (void)fs::markMeaning(r.marks[0].status, r.marks[0].deleted, m.meaning, sizeof m.meaning);
    return m;
}

// Exactly one argument, or the usage line.
bool argumentsFit(int argc) {
    if (argc == 2) return true;
    (void)std::fputs("Usage: imgpry image\n", stderr);
    return false;
}

// --help and --version, only as the one argument; true when arg was one.
bool answeredOption(const char* arg) {
    if (std::strcmp(arg, "--help") == 0) {
        (void)std::fputs(
            "Usage: imgpry image\n"
            "Lists the files of every disk in a D88 disk image container and writes each\n"
            "file into the current directory, under the name the disk's directory gives it.\n"
            "Standard output is the listing; standard error says what could not be read or\n"
            "written. A file that already stands under a name is replaced as a whole, and a\n"
            "link there is replaced, never followed.\n"
            "\n"
            "See man imgpry for the listing, the messages and the exit status.\n",
            stdout);
        return true;
    }
    if (std::strcmp(arg, "--version") == 0) {
        (void)std::fputs("imgpry " IMGPRY_VERSION
                         "\n"
                         "MIT License: free to use, copy, change and pass on; no warranty.\n",
                         stdout);
        return true;
    }
    return false;
}

// Says what reading the image as a whole met with: the container's lines.
void reportInput(const fs::ImageInput& input, const char* shownPath) {
    if (input.readError() != 0) {
        report("imgpry: cannot read %s at byte %lld: %s\n", shownPath, static_cast<long long>(input.readErrorOffset()),
               reasonOf(input.readError()));
    }
    if (input.overLimit()) {
        const auto limit = static_cast<long long>(input.limit());
        report("imgpry: %s is longer than %lld bytes; only the first %lld bytes are read\n", shownPath, limit, limit);
    }
}

// The listing and the messages go to the standard streams; a failure to
// write the listing is said once at the end.
int finishRun(bool opened, const fs::ImageInput& input, const char* shownPath) {
    if (!opened) {
        if (input.outOfMemory()) {
            (void)std::fprintf(stderr, "imgpry: cannot read %s: %s\n", shownPath, reasonOf(input.openError()));
            return 1;
        }
        (void)std::fputs(kOpenFailed, stderr);
        // The Shift_JIS line is garbage on most terminals: say it in words
        // there too. A pipe or a file gets the one line as it always has.
        if (fs::isTerminal(stderr))
            (void)std::fprintf(stderr, "imgpry: cannot open %s: %s\n", shownPath, reasonOf(input.openError()));
        return 1;
    }
    reportInput(input, shownPath);
    removePartialFilesOnSignals();
    return listImage(shownPath);
}

fs::ImageInput imageInput;

}  // namespace

int runImgpry(int argc, char** argv) {
    if (argc == 2 && answeredOption(argv[1])) return 0;
    if (!argumentsFit(argc)) return 1;
    static char shownPath[4 * 4096];
    (void)showName(argv[1], true, shownPath, sizeof shownPath);
    const bool opened = imageInput.open(gImage, argv[1]);
    return finishRun(opened, imageInput, shownPath);
}

#if defined(_WIN32)
int runImgpryWide(int argc, wchar_t** argv) {
    if (argc == 2 && (std::wcscmp(argv[1], L"--help") == 0 || std::wcscmp(argv[1], L"--version") == 0)) {
        return answeredOption(argv[1][2] == L'h' ? "--help" : "--version") ? 0 : 1;
    }
    if (!argumentsFit(argc)) return 1;
    const bool opened = imageInput.open(gImage, argv[1]);
    // Messages name the image as the console can show it: in its output code
    // page when standard error is a console, in the ANSI code page
    // otherwise; what the code page lacks becomes '?'.
    static char converted[4 * 32768];
    static char shownPath[4 * 32768];
    const UINT codePage = fs::isTerminal(stderr) ? GetConsoleOutputCP() : CP_ACP;
    if (WideCharToMultiByte(codePage, 0, argv[1], -1, converted, sizeof converted, nullptr, nullptr) == 0) {
        (void)std::snprintf(converted, sizeof converted, "the image");
    }
    (void)showName(converted, true, shownPath, sizeof shownPath);
    return finishRun(opened, imageInput, shownPath);
}
#endif

int listImage(const char* shownPath) {
    const bool outTerminal = fs::isTerminal(stdout);
    char where[128];
    char shown[kNameBufferSize];
    listingErrno = 0;
    forgetPlacedFiles();

    const int32_t count = gImage.diskCount();
    if (gImage.scanError() != 0) {
        report("imgpry: cannot read %s at byte %lld: %s\n", shownPath, static_cast<long long>(gImage.scanErrorOffset()),
               reasonOf(gImage.scanError()));
    }
    if (count == 0) report("imgpry: no disk found in %s\n", shownPath);
    if (gImage.hasMoreDisks()) {
        const int limit = imgpry::DiskImage::kMaxDisks;
        report("imgpry: more than %d disks in %s; only the first %d are read\n", limit, shownPath, limit);
    }
    for (int32_t i = 0; i < count; ++i) {
        const int d = static_cast<int>(i + 1);
        currentDisk = i;
        // Only entries that the read delivered in whole belong to this disk;
        // a disk whose header could not be read has none.
        if (fs::selectDisk(gImage, i) || gImage.readError() == 0) {
            fs::readDirectory(gImage, dirBuffer, dirReport);
        } else {
            dirReport = fs::RunReport{};
            dirReport.shortCount = 1;
            dirReport.shorts[0] = fs::ShortSector{kDirTrack, kFirstSector, 0, gImage.readError()};
        }
        const int32_t got = dirReport.got;
        if (got < kDirBytes) {
            fs::describeShort(dirReport.shorts[0], where, sizeof where);
            if (got == 0) {
                report("imgpry: disk %d: cannot read the directory: %s\n", d, where);
            } else {
                report("imgpry: disk %d: partly read the directory: %d of %d bytes, %s\n", d, static_cast<int>(got),
                       static_cast<int>(kDirBytes), where);
            }
        }
        if (dirReport.markCount > 0) {
            const FirstMark m = firstMark(dirReport);
            report(
                "imgpry: disk %d: the image marks %d of the directory's sectors bad, the first trk=%02x "
                "sec=%02x: %s\n",
                d, static_cast<int>(dirReport.markCount), m.track, m.sector, m.meaning);
        }
        const int32_t entries = got / kDirEntrySize;
        for (int32_t j = 0; j < entries; ++j) {
            const uint8_t* e = dirBuffer + static_cast<std::ptrdiff_t>(kDirEntrySize) * j;
            if (e[0] == fs::kStatusEnd) break;
            if (e[0] != fs::kStatusFile) continue;
            formatEntryName(e);
            const int32_t track = e[12];
            const int32_t sector = e[13];
            const int32_t size = e[14] * kSectorBytes;
            char listing[kListingLength];
            const int32_t length =
                formatListing(listing, showName(outName, outTerminal, shown, sizeof shown), size, track, sector);
            listingWrite(listing, static_cast<size_t>(length));
            const bool written = extractFile(outName, track, track >> 1, track & 1, sector, kSizeCode, 0, size);
            listingWrite("\n", 1);

            const fs::RunReport& run = extractReport();
            const char* name = showName(outName, true, shown, sizeof shown);
            if (const char* reason = extractFailure()) {
                report("imgpry: disk %d: cannot write %s: %s\n", d, name, reason);
                continue;
            }
            if (size > 0 && run.got == 0) {
                fs::describeShort(run.shorts[0], where, sizeof where);
                report("imgpry: disk %d: cannot read %s: %s\n", d, name, where);
                continue;
            }
            if (!written) continue;
            if (run.got < size) {
                fs::describeShort(run.shorts[0], where, sizeof where);
                char more[40] = "";
                if (run.shortCount > 1)
                    (void)std::snprintf(more, sizeof more, " (short sectors: %d)", static_cast<int>(run.shortCount));
                report("imgpry: disk %d: partly read %s: %d of %d bytes, %s%s; the rest is zeros\n", d, name,
                       static_cast<int>(run.got), static_cast<int>(size), where, more);
            }
            if (run.markCount > 0) {
                const FirstMark m = firstMark(run);
                report("imgpry: disk %d: %s: the image marks %d of its sectors bad, the first trk=%02x sec=%02x: %s\n",
                       d, name, static_cast<int>(run.markCount), m.track, m.sector, m.meaning);
            }
            if (extractReplacedDisk() >= 0) {
                report("imgpry: disk %d: %s replaces the file written from disk %d\n", d, name,
                       static_cast<int>(extractReplacedDisk() + 1));
            }
        }
    }
    flushListing();
    if (listingErrno != 0) (void)std::fprintf(stderr, "imgpry: cannot write the listing: %s\n", reasonOf(listingErrno));
    return 0;
}
