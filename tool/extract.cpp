#include "extract.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

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

void setFailure(const char* reason) {
    (void)std::snprintf(failureText, sizeof failureText, "%s", reason);
    failure = failureText;
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9, in any case, alone or
// followed by an extension: Windows opens a device for these, not a file.
bool isWindowsDeviceName(const char* name) {
    size_t stem = 0;
    while (name[stem] != '\0' && name[stem] != '.') ++stem;
    char u[5] = {};
    if (stem < 3 || stem > 4) return false;
    for (size_t i = 0; i < stem; ++i) u[i] = upper(name[i]);
    if (stem == 3) {
        return std::strcmp(u, "CON") == 0 || std::strcmp(u, "PRN") == 0 || std::strcmp(u, "AUX") == 0 ||
               std::strcmp(u, "NUL") == 0;
    }
    return (std::strncmp(u, "COM", 3) == 0 || std::strncmp(u, "LPT", 3) == 0) && u[3] >= '1' && u[3] <= '9';
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

bool isUnsafeName(const char* name, NameRules rules) {
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return true;
    if (std::strchr(name, '/') != nullptr) return true;
    if (rules == NameRules::kWindows) {
        return std::strchr(name, '\\') != nullptr || std::strchr(name, ':') != nullptr || isWindowsDeviceName(name);
    }
    return false;
}

const char* extractFailure() { return failure; }

bool extractFile(const char* name, int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, int32_t skip, int32_t size) {
    failure = nullptr;
    if (skip < 0 || size < 0 || skip > kFileBufferSize - size) return false;
    const int32_t want = skip + size;
    const int32_t got = gImage.readSectors(t, c, h, r, n, fileBuffer, want);
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

// The listing and the messages go to the standard streams unchecked: a
// console that cannot be written to leaves nobody to tell.
int runImgpry(int argc, char** argv) {
    if (argc != 2) {
        (void)std::fputs("Usage: imgpry image\n", stderr);
        return 1;
    }
    if (!gImage.open(argv[1])) {
        (void)std::fputs(kOpenFailed, stderr);
        return 1;
    }

    const int32_t count = gImage.diskCount();
    for (int32_t i = 0; i < count; ++i) {
        gImage.selectDisk(i);
        gImage.setSectorRange(kFirstSector, kLastSector);
        // Only entries that the read delivered in whole belong to this disk.
        const int32_t got = gImage.readSectors(kDirTrack, 0, 1, kFirstSector, kSizeCode, dirBuffer, kDirBytes);
        const int32_t entries = got / kDirEntrySize;
        for (int32_t j = 0; j < entries; ++j) {
            const uint8_t* e = dirBuffer + static_cast<std::ptrdiff_t>(kDirEntrySize) * j;
            if (e[0] == kStatusEnd) break;
            if (e[0] != kStatusFile) continue;
            formatEntryName(e);
            const int32_t track = e[12];
            const int32_t sector = e[13];
            const int32_t size = e[14] * kSectorBytes;
            char line[kListingLength];
            const int32_t length = formatListing(line, outName, size, track, sector);
            (void)std::fwrite(line, 1, static_cast<size_t>(length), stdout);
            extractFile(outName, track, track >> 1, track & 1, sector, kSizeCode, 0, size);
            (void)std::fputs("\n", stdout);
            if (const char* reason = extractFailure()) {
                // Keep the message out of the listing line.
                (void)std::fflush(stdout);
                (void)std::fprintf(stderr, "imgpry: cannot write %s: %s\n", outName, reason);
            }
        }
    }
    return 0;
}
