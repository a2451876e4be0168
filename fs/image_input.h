// Opens an image for the reader from wherever it comes. A file that can
// seek is read in place; a source that cannot (a pipe, a FIFO, a socket:
// `imgpry <(unzip -p game.zip game.d88)`) is first read whole into memory,
// so that every result is that of the same bytes as a regular file.
//
// The memory is one buffer that grows as the source is read, up to
// kMemoryLimit bytes; it is the only memory the programs allocate.
#pragma once

#include <imgpry/disk_image.h>

#include <cstdint>
#include <cstdio>

namespace imgpry::fs {

class ImageInput {
public:
    // The most bytes read from a source that cannot seek: 1 GiB, far more
    // than 64 disks of any floppy format hold.
    static constexpr int64_t kMemoryLimit = int64_t{1} << 30;

    ImageInput() noexcept = default;
    ~ImageInput();
    ImageInput(const ImageInput&) = delete;
    ImageInput& operator=(const ImageInput&) = delete;
    ImageInput(ImageInput&&) = delete;
    ImageInput& operator=(ImageInput&&) = delete;

    // Opens path into image. False when the path cannot be opened (openError
    // says why) or when memory ran out reading it (outOfMemory, openError).
    // limit is the bound for a source read into memory.
    bool open(DiskImage& image, const char* path, int64_t limit = kMemoryLimit);
#if defined(_WIN32)
    bool open(DiskImage& image, const wchar_t* path, int64_t limit = kMemoryLimit);
#endif

    int openError() const { return openErrno; }
    bool outOfMemory() const { return noMemory; }
    // Whether the image was read into memory.
    bool inMemory() const { return buffer != nullptr; }
    // Bytes of the image: the file's size, or the bytes read into memory.
    int64_t size() const { return bytes; }
    // Whether size() is the image's whole length: a regular file, or a
    // source read into memory to its end. A device that seeks has no size;
    // past a read that failed, or past the bound, the bytes are unread, not
    // missing.
    bool sizeKnown() const { return knownSize && readErrno == 0 && !beyondLimit; }
    // The bytes a disk lacks at the end of the image: by how much the disk
    // at diskOffset, whose header's size field is sizeField, reaches past
    // the image's last byte. 0 when the disk ends within the image, or when
    // the image's size is not known (sizeKnown).
    int64_t bytesMissing(int64_t diskOffset, uint32_t sizeField) const;
    // A read error that stopped reading the source into memory: its error
    // number (0: none) and the offset where the failing read began.
    int readError() const { return readErrno; }
    int64_t readErrorOffset() const { return readErrorAt; }
    // Whether the source held more than the limit (only the first limit
    // bytes are read).
    bool overLimit() const { return beyondLimit; }
    int64_t limit() const { return bound; }

private:
    // Opens path: in place when it can seek, otherwise read whole into memory.
    template <typename Char>
    bool openPath(DiskImage& image, const Char* path, int64_t limit);
    bool finish(DiskImage& image, FILE* file);
    // Reads file whole into buffer; false when memory runs out.
    bool slurp(FILE* file);
    void release();

    uint8_t* buffer = nullptr;
    int64_t capacity = 0;
    int64_t bytes = 0;
    int64_t bound = kMemoryLimit;
    int openErrno = 0;
    int readErrno = 0;
    int64_t readErrorAt = -1;
    bool noMemory = false;
    bool beyondLimit = false;
    bool knownSize = false;
};

// How many bytes of a disk starting at diskOffset with the size field
// sizeField lie past the end of an image of imageSize bytes: 0 when it
// ends within the image. Bytes a failed read of the source left unread
// (readErrorAt, -1 for none, before the disk's end) are not missing from
// the image and count as 0 too.
int64_t bytesPastEnd(int64_t imageSize, int64_t diskOffset, uint32_t sizeField, int64_t readErrorAt);

}  // namespace imgpry::fs
