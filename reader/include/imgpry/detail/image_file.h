// Where the reader's bytes come from: an image file, read through a window
// of its bytes, or a buffer in the caller's memory. Every read of the
// reader goes through readAt, so both give the very same results.
//
// Reads that fall in the window are served from memory, so walking a
// track's records costs one kernel read, not one per record. No memory is
// allocated. Internal to the reader; its layout may change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace imgpry::detail {

class ImageFile {
public:
    static constexpr int32_t kWindowSize = 128 * 1024;

    // The window is left uninitialized on purpose: only what a read put there
    // is ever read back.
    // cppcheck-suppress uninitMemberVar
    ImageFile() noexcept = default;
    ~ImageFile() { close(); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    ImageFile(ImageFile&&) = delete;
    ImageFile& operator=(ImageFile&&) = delete;

    // Opens path for binary reading (no lock is taken); false on failure.
    bool open(const char* path);
#if defined(_WIN32)
    // The same for a path given as UTF-16, as Windows names files.
    bool open(const wchar_t* path);
#endif
    // Reads from size bytes at data, which the caller keeps unchanged and
    // alive until close. endError, when not 0, is the system's error number
    // of the read that ended the bytes (a pipe that failed): reads reaching
    // past them fail with it rather than meet the end.
    void openMemory(const uint8_t* data, size_t size, int endError = 0);
    void close();
    bool isOpen() const { return file != nullptr || memory != nullptr; }

    // Copies up to len bytes from offset on into dst; fewer at the end of the
    // file or on a read error. Returns the bytes copied.
    int32_t readAt(int64_t offset, uint8_t* dst, int32_t len);
    // The bytes [offset, offset + len) where the window (or the memory read
    // from) holds them already, else nullptr: a read of them without a
    // copy, valid until the next read.
    const uint8_t* held(int64_t offset, int32_t len) const {
        if (offset < 0 || len < 0) return nullptr;
        if (memory != nullptr) return offset <= memorySize - len ? memory + offset : nullptr;
        const bool inWindow = file != nullptr && offset >= windowStart && offset + len <= windowStart + windowLength;
        return inWindow ? window + (offset - windowStart) : nullptr;
    }
    // The same, but what the file gives goes straight into dst and the
    // window is left as it is: for a few bytes far from where reading goes
    // on (a disk's header), which would otherwise cost a window's worth.
    int32_t readAside(int64_t offset, uint8_t* dst, int32_t len);
    // Makes the window hold [offset, offset + ahead) where the file has those
    // bytes, refilling it from offset if it does not: a walk over a track's
    // records followed by reads of their data then stays in the window.
    void reach(int64_t offset, int32_t ahead);
    // True once a read failed with an error rather than at the end of the
    // file (a directory opened for reading fails like that).
    bool failed() const { return readError; }
    // The system's error number of the latest read that failed since
    // clearError (0: none failed), and the file offset that read began at.
    int lastError() const { return errorCode; }
    int64_t lastErrorOffset() const { return errorOffset; }
    void clearError() {
        errorCode = 0;
        errorOffset = -1;
    }
    // Forgets the window, so the next read goes to the file again.
    void dropWindow() {
        windowLength = 0;
        endKnown = false;
    }

private:
    bool seekTo(int64_t offset);
    // Makes the window start at offset, keeping what it already holds from
    // there on and reading only the rest.
    void fill(int64_t offset);
    // Reads len bytes at offset straight from the file; sets *failedNow when
    // the read failed with an error.
    int32_t readFile(int64_t offset, uint8_t* dst, int32_t len, bool* failedNow = nullptr);

    bool adopt(FILE* opened);

    FILE* file = nullptr;
    const uint8_t* memory = nullptr;  // the caller's bytes, when reading from memory
    int64_t memorySize = 0;
    int memoryEndError = 0;
    int64_t filePosition = -1;  // where the next fread starts; -1 when unknown
    int64_t windowStart = 0;
    int32_t windowLength = 0;
    bool endKnown = false;  // a short fill showed the end is at windowStart + windowLength
    bool readError = false;
    int errorCode = 0;
    int64_t errorOffset = -1;
    uint8_t window[kWindowSize];  // only [0, windowLength) is ever read
};

}  // namespace imgpry::detail
