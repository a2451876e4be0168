#include "extract.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif

imgpry::DiskImage gImage;
uint8_t dirBuffer[kDirBytes];
char outName[kNameBufferSize];
uint8_t fileBuffer[kFileBufferSize];
FILE* outFile = nullptr;

namespace {

constexpr uint8_t kStatusFile = 0x00;
constexpr uint8_t kStatusEnd = 0xFF;
constexpr uint8_t kPad = 0x20;

// Shift_JIS for "the file cannot be opened".
constexpr char kOpenFailed[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1"
    "\n";

char failureText[128];
const char* failure = nullptr;
int32_t readBytes = 0;

void setFailure(const char* reason) {
    (void)std::snprintf(failureText, sizeof failureText, "%s", reason);
    failure = failureText;
}

// The system's word for errno value err; some failures leave errno unset.
const char* reasonOf(int err) { return err != 0 ? std::strerror(err) : "input/output error"; }

}  // namespace

void formatEntryName(const uint8_t* entry) {
    int32_t k = 0;
    for (int32_t i = 1; i <= 8 && entry[i] != kPad; ++i) outName[k++] = static_cast<char>(entry[i]);
    if (entry[9] != kPad) outName[k++] = '.';
    for (int32_t i = 9; i <= 11 && entry[i] != kPad; ++i) outName[k++] = static_cast<char>(entry[i]);
    outName[k] = '\0';
}

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

int32_t extractedBytes() { return readBytes; }

bool extractFile(const char* name, int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, int32_t skip, int32_t size) {
    failure = nullptr;
    readBytes = 0;
    if (skip < 0 || size < 0 || skip > kFileBufferSize - size) return false;
    const int32_t want = skip + size;
    const int32_t got = gImage.readSectors(t, c, h, r, n, fileBuffer, want);
    readBytes = got;
    if (got == 0) return false;
    // What could not be read is written as zeros, never as what an earlier
    // file left in the buffer.
    if (got < want) std::memset(fileBuffer + got, 0, static_cast<size_t>(want - got));

    if (isUnsafeName(name, kHostNameRules)) {
        setFailure("unsafe file name");
        return false;
    }
    errno = 0;
    outFile = std::fopen(name, "wb");
    if (outFile == nullptr) {
        setFailure(reasonOf(errno));
        return false;
    }
    // Unbuffered, the whole file goes out in one write.
    (void)std::setvbuf(outFile, nullptr, _IONBF, 0);
    const size_t written = std::fwrite(fileBuffer + skip, 1, static_cast<size_t>(size), outFile);
    const int writeErrno = errno;
    const bool flushed = std::fflush(outFile) == 0;
    const int flushErrno = errno;
    const bool closed = std::fclose(outFile) == 0;
    const int closeErrno = errno;
    outFile = nullptr;
    if (written < static_cast<size_t>(size)) {
        setFailure(reasonOf(writeErrno));
        return false;
    }
    if (!flushed || !closed) {
        setFailure(reasonOf(!flushed ? flushErrno : closeErrno));
        return false;
    }
    (void)std::fputs(" ... cutted.", stdout);
    return true;
}

namespace {

// Says which sector ended a run from (t, c, h, r) that delivered got
// bytes: the sector the run had stepped to, and whether it is missing or
// holds less than a whole sector.
void describeStop(char* where, size_t size, int32_t got, int32_t t, int32_t c, int32_t h, int32_t r) {
    for (int32_t k = got / kSectorBytes; k > 0; --k) gImage.stepSector(t, c, h, r);
    uint8_t probe[kSectorBytes];
    const int32_t held = gImage.readSector(t, c, h, r, kSizeCode, probe, kSectorBytes);
    const auto tt = static_cast<unsigned>(t);
    const auto ss = static_cast<unsigned>(r);
    if (held == 0) {
        (void)std::snprintf(where, size, "trk=%02x sec=%02x is missing", tt, ss);
    } else {
        (void)std::snprintf(where, size, "trk=%02x sec=%02x holds only %d bytes", tt, ss, static_cast<int>(held));
    }
}

// A line on standard error, after everything listed so far, so that it
// never lands inside a listing line.
template <typename... Args>
void report(const char* format, Args... args) {
    (void)std::fflush(stdout);
    (void)std::fprintf(stderr, format, args...);
}

// Exactly one argument, or the usage line.
bool argumentsFit(int argc) {
    if (argc == 2) return true;
    (void)std::fputs("Usage: imgpry image\n", stderr);
    return false;
}

// The listing and the messages go to the standard streams unchecked: a
// console that cannot be written to leaves nobody to tell.
int finishRun(bool opened, int openErrno, const char* shownPath) {
    if (!opened) {
        (void)std::fputs(kOpenFailed, stderr);
        // The Shift_JIS line is garbage on most terminals: say it in words
        // there too. A pipe or a file gets the one line as it always has.
        if (isTerminal(stderr))
            (void)std::fprintf(stderr, "imgpry: cannot open %s: %s\n", shownPath, reasonOf(openErrno));
        return 1;
    }
    return listImage(shownPath);
}

}  // namespace

int runImgpry(int argc, char** argv) {
    if (!argumentsFit(argc)) return 1;
    errno = 0;
    const bool opened = gImage.open(argv[1]);
    return finishRun(opened, errno, argv[1]);
}

#if defined(_WIN32)
int runImgpryWide(int argc, wchar_t** argv) {
    if (!argumentsFit(argc)) return 1;
    errno = 0;
    const bool opened = gImage.open(argv[1]);
    const int openErrno = errno;
    // Messages name the image as the console can show it: in its output code
    // page when standard error is a console, in the ANSI code page
    // otherwise; what the code page lacks becomes '?'.
    static char shownPath[4 * 32768];
    const UINT codePage = isTerminal(stderr) ? GetConsoleOutputCP() : CP_ACP;
    if (WideCharToMultiByte(codePage, 0, argv[1], -1, shownPath, sizeof shownPath, nullptr, nullptr) == 0) {
        (void)std::snprintf(shownPath, sizeof shownPath, "the image");
    }
    return finishRun(opened, openErrno, shownPath);
}
#endif

int listImage(const char* shownPath) {
    const bool outTerminal = isTerminal(stdout);
    const bool errTerminal = isTerminal(stderr);
    char where[64];
    char shown[kNameBufferSize];

    const int32_t count = gImage.diskCount();
    if (count == 0) report("imgpry: no disk found in %s\n", shownPath);
    if (gImage.hasMoreDisks()) {
        const int limit = imgpry::DiskImage::kMaxDisks;
        report("imgpry: more than %d disks in %s; only the first %d are read\n", limit, shownPath, limit);
    }
    for (int32_t i = 0; i < count; ++i) {
        gImage.selectDisk(i);
        gImage.setSectorRange(kFirstSector, kLastSector);
        // Only entries that the read delivered in whole belong to this disk.
        const int32_t got = gImage.readSectors(kDirTrack, 0, 1, kFirstSector, kSizeCode, dirBuffer, kDirBytes);
        if (got < kDirBytes) {
            describeStop(where, sizeof where, got, kDirTrack, 0, 1, kFirstSector);
            if (got == 0) {
                report("imgpry: disk %d: cannot read the directory: %s\n", static_cast<int>(i + 1), where);
            } else {
                report("imgpry: disk %d: partly read the directory: %d of %d bytes, %s\n", static_cast<int>(i + 1),
                       static_cast<int>(got), static_cast<int>(kDirBytes), where);
            }
        }
        const int32_t entries = got / kDirEntrySize;
        for (int32_t j = 0; j < entries; ++j) {
            const uint8_t* e = dirBuffer + static_cast<std::ptrdiff_t>(kDirEntrySize) * j;
            if (e[0] == kStatusEnd) break;
            if (e[0] != kStatusFile) continue;
            formatEntryName(e);
            const int32_t track = e[12];
            const int32_t sector = e[13];
            const int32_t size = e[14] * kSectorBytes;
            char listing[kListingLength];
            const int32_t length =
                formatListing(listing, showName(outName, outTerminal, shown, sizeof shown), size, track, sector);
            (void)std::fwrite(listing, 1, static_cast<size_t>(length), stdout);
            const bool written = extractFile(outName, track, track >> 1, track & 1, sector, kSizeCode, 0, size);
            (void)std::fputs("\n", stdout);

            const int32_t read = extractedBytes();
            const char* name = showName(outName, errTerminal, shown, sizeof shown);
            if (const char* reason = extractFailure()) {
                report("imgpry: cannot write %s: %s\n", name, reason);
            } else if (size > 0 && read == 0) {
                describeStop(where, sizeof where, 0, track, track >> 1, track & 1, sector);
                report("imgpry: cannot read %s: %s\n", name, where);
            } else if (written && read < size) {
                describeStop(where, sizeof where, read, track, track >> 1, track & 1, sector);
                report("imgpry: partly read %s: %d of %d bytes, %s; the rest is zeros\n", name, static_cast<int>(read),
                       static_cast<int>(size), where);
            }
        }
    }
    return 0;
}
