#include "image_input.h"

#include <cerrno>
#include <cstdlib>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace imgpry::fs {

namespace {

// Whether the file can seek: a pipe, a FIFO or a socket cannot. /dev/stdin
// redirected from a file, or a device such as /dev/zero, can, and is read
// in place.
// size is the file's length when regular says it has one.
bool canSeek(FILE* file, int64_t& size, bool& regular) {
#if defined(_WIN32)
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) == FILE_TYPE_PIPE) return false;
    LARGE_INTEGER length{};
    regular = GetFileType(handle) == FILE_TYPE_DISK && GetFileSizeEx(handle, &length) != 0;
    size = regular ? static_cast<int64_t>(length.QuadPart) : 0;
    return true;
#else
    const int fd = fileno(file);
    if (lseek(fd, 0, SEEK_CUR) < 0) return false;
    struct stat st {};
    regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    size = regular ? static_cast<int64_t>(st.st_size) : 0;
    return true;
#endif
}

constexpr int64_t kFirstCapacity = int64_t{1} << 20;

}  // namespace

ImageInput::~ImageInput() { release(); }

void ImageInput::release() {
    std::free(buffer);
    buffer = nullptr;
    capacity = 0;
}

namespace {

FILE* openForReading(const char* path) { return std::fopen(path, "rb"); }
#if defined(_WIN32)
FILE* openForReading(const wchar_t* path) { return _wfopen(path, L"rb"); }
#endif

}  // namespace

template <typename Char>
bool ImageInput::openPath(DiskImage& image, const Char* path, int64_t limit) {
    release();
    bound = limit;
    bytes = 0;
    readErrno = 0;
    readErrorAt = -1;
    noMemory = false;
    beyondLimit = false;
    knownSize = false;
    errno = 0;
    FILE* file = openForReading(path);
    if (file == nullptr) {
        openErrno = errno;
        return false;
    }
    int64_t length = 0;
    bool regular = false;
    if (!canSeek(file, length, regular)) return finish(image, file);
    // A file that seeks is read in place, by the reader itself.
    (void)std::fclose(file);
    bytes = length;
    knownSize = regular;
    errno = 0;
    const bool opened = image.open(path);
    openErrno = opened ? 0 : errno;
    return opened;
}

bool ImageInput::open(DiskImage& image, const char* path, int64_t limit) { return openPath(image, path, limit); }

#if defined(_WIN32)
bool ImageInput::open(DiskImage& image, const wchar_t* path, int64_t limit) { return openPath(image, path, limit); }
#endif

bool ImageInput::finish(DiskImage& image, FILE* file) {
    const bool read = slurp(file);
    (void)std::fclose(file);
    if (!read) {
        release();
        noMemory = true;
        openErrno = ENOMEM;
        return false;
    }
    knownSize = true;
    // Past a read that failed, the image's bytes are not missing but
    // unread: reads there fail with the same error. A source whose first
    // read failed cannot be opened, for that reason.
    const bool opened = image.openMemory(buffer, static_cast<size_t>(bytes), readErrno);
    openErrno = opened ? 0 : readErrno;
    return opened;
}

int64_t ImageInput::bytesMissing(int64_t diskOffset, uint32_t sizeField) const {
    if (!sizeKnown() || diskOffset < 0) return 0;
    return bytesPastEnd(bytes, diskOffset, sizeField, -1);
}

bool ImageInput::slurp(FILE* file) {
    (void)std::setvbuf(file, nullptr, _IONBF, 0);
    bytes = 0;
    // Each round doubles the buffer or fills it, so the loop ends once the
    // source ends, fails or reaches the bound.
    while (bytes < bound) {
        if (bytes == capacity) {
            int64_t next = capacity == 0 ? kFirstCapacity : capacity * 2;
            if (next > bound) next = bound;
            if (static_cast<uint64_t>(next) > SIZE_MAX) return false;
            void* grown = std::realloc(buffer, static_cast<size_t>(next));
            if (grown == nullptr) return false;
            buffer = static_cast<uint8_t*>(grown);
            capacity = next;
        }
        errno = 0;
        const size_t got = std::fread(buffer + bytes, 1, static_cast<size_t>(capacity - bytes), file);
        bytes += static_cast<int64_t>(got);
        if (std::ferror(file) != 0) {
            readErrno = errno != 0 ? errno : EIO;
            readErrorAt = bytes;
            return true;
        }
        if (std::feof(file) != 0) return true;
    }
    // At the bound: is there more?
    uint8_t probe = 0;
    beyondLimit = std::fread(&probe, 1, 1, file) == 1;
    return true;
}

int64_t bytesPastEnd(int64_t imageSize, int64_t diskOffset, uint32_t sizeField, int64_t readErrorAt) {
    const int64_t end = diskOffset + static_cast<int64_t>(sizeField);
    if (end <= imageSize) return 0;
    if (readErrorAt >= 0 && readErrorAt < end) return 0;
    return end - imageSize;
}

}  // namespace imgpry::fs
