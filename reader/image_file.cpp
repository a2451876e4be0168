#include <imgpry/detail/image_file.h>

#include <cerrno>
#include <cstring>

namespace imgpry::detail {

bool ImageFile::open(const char* path) {
    close();
    return adopt(std::fopen(path, "rb"));
}

#if defined(_WIN32)
bool ImageFile::open(const wchar_t* path) {
    close();
    return adopt(_wfopen(path, L"rb"));
}
#endif

void ImageFile::openMemory(const uint8_t* data, size_t size, int endError) {
    close();
    // An empty buffer is still an open (empty) image.
    static const uint8_t kNothing = 0;
    memory = data != nullptr ? data : &kNothing;
    const uint64_t length = data != nullptr ? size : 0;
    memorySize = length > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(length);
    memoryEndError = endError;
    readError = false;
}

bool ImageFile::adopt(FILE* opened) {
    file = opened;
    if (file == nullptr) return false;
    // The window is the buffer: unbuffered, each fread is one read of the
    // file straight into it.
    (void)std::setvbuf(file, nullptr, _IONBF, 0);
    filePosition = 0;
    readError = false;
    clearError();
    return true;
}

void ImageFile::close() {
    if (file != nullptr) (void)std::fclose(file);  // nothing was written to it
    file = nullptr;
    memory = nullptr;
    memorySize = 0;
    memoryEndError = 0;
    filePosition = -1;
    dropWindow();
}

// Positions in an image can pass 2^31 (a disk near the end of a large
// container, a long chain of records), so seek with a 64-bit offset on every
// platform.
bool ImageFile::seekTo(int64_t offset) {
    if (offset == filePosition) return true;
#if defined(_WIN32)
    const bool ok = _fseeki64(file, offset, SEEK_SET) == 0;
#else
    const bool ok = fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
    filePosition = ok ? offset : -1;
    return ok;
}

int32_t ImageFile::readFile(int64_t offset, uint8_t* dst, int32_t len, bool* failedNow) {
    if (!seekTo(offset)) {
        if (failedNow != nullptr) *failedNow = true;
        // A source that cannot seek cannot be read at this offset either.
        errorCode = errno != 0 ? errno : EIO;
        errorOffset = offset;
        return 0;
    }
    errno = 0;
    const size_t got = std::fread(dst, 1, static_cast<size_t>(len), file);
    if (std::ferror(file) != 0) {
        readError = true;
        if (failedNow != nullptr) *failedNow = true;
        errorCode = errno != 0 ? errno : EIO;
        errorOffset = offset + static_cast<int64_t>(got);
        std::clearerr(file);
        filePosition = -1;
    } else {
        filePosition = offset + static_cast<int64_t>(got);
    }
    return static_cast<int32_t>(got);
}

int32_t ImageFile::readAt(int64_t offset, uint8_t* dst, int32_t len) {
    if (memory != nullptr) {
        if (offset < 0 || len <= 0) return 0;
        const int64_t left = offset < memorySize ? memorySize - offset : 0;
        const int32_t n = left < len ? static_cast<int32_t>(left) : len;
        if (n > 0) std::memcpy(dst, memory + offset, static_cast<size_t>(n));
        // Bytes the source could not give because its read failed: an
        // error, as a file's failing read would be.
        if (n < len && memoryEndError != 0) {
            readError = true;
            errorCode = memoryEndError;
            errorOffset = offset;
        }
        return n;
    }
    if (file == nullptr || offset < 0 || len <= 0) return 0;
    int32_t done = 0;
    while (done < len) {
        const int64_t pos = offset + done;
        const int64_t windowEnd = windowStart + windowLength;
        if (pos >= windowStart && pos < windowEnd) {
            const int64_t inWindow = windowEnd - pos;
            const int32_t n = inWindow < len - done ? static_cast<int32_t>(inWindow) : len - done;
            std::memcpy(dst + done, window + (pos - windowStart), static_cast<size_t>(n));
            done += n;
            continue;
        }
        if (endKnown && pos >= windowEnd) return done;
        if (len - done >= kWindowSize) return done + readFile(pos, dst + done, len - done);
        fill(pos);
        if (windowLength == 0) return done;
    }
    return done;
}

int32_t ImageFile::readAside(int64_t offset, uint8_t* dst, int32_t len) {
    // Memory, bytes the window holds, and reads that give nothing go as
    // any read does.
    if (file == nullptr || offset < 0 || len <= 0 || held(offset, len) != nullptr) return readAt(offset, dst, len);
    return readFile(offset, dst, len);
}

void ImageFile::reach(int64_t offset, int32_t ahead) {
    if (file == nullptr || offset < 0) return;
    const int64_t windowEnd = windowStart + windowLength;
    const bool covered = offset >= windowStart && (offset + ahead <= windowEnd || (endKnown && offset <= windowEnd));
    if (!covered) fill(offset);
}

void ImageFile::fill(int64_t offset) {
    const int64_t windowEnd = windowStart + windowLength;
    int32_t keep = 0;
    if (offset >= windowStart && offset < windowEnd) {
        keep = static_cast<int32_t>(windowEnd - offset);
        std::memmove(window, window + (offset - windowStart), static_cast<size_t>(keep));
    }
    windowStart = offset;
    bool failedNow = false;
    const int32_t got = readFile(offset + keep, window + keep, kWindowSize - keep, &failedNow);
    windowLength = keep + got;
    // A fill cut short by a read error says nothing of where the file ends.
    endKnown = got < kWindowSize - keep && !failedNow;
}

}  // namespace imgpry::detail
