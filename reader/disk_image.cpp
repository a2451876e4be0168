#include <imgpry/disk_image.h>

#include <cstring>

#include "sector_header.h"

namespace imgpry {

using detail::le32;
using detail::SectorHeader;

namespace {

constexpr int32_t kNameOffset = 0x00;
constexpr int32_t kNameLength = 16;
constexpr int32_t kWriteProtectOffset = 0x1A;
constexpr int32_t kMediaTypeOffset = 0x1B;
constexpr int32_t kDiskSizeOffset = 0x1C;
constexpr int32_t kTrackTableOffset = 0x20;

// Sizes and offsets are unsigned 32-bit in the image and held as signed
// 32-bit values; values of 2^31 or more become negative.
int32_t asInt32(uint32_t v) {
    return v > static_cast<uint32_t>(INT32_MAX) ? static_cast<int32_t>(static_cast<int64_t>(v) - (int64_t{1} << 32))
                                                : static_cast<int32_t>(v);
}

bool isByte(int32_t v) { return v >= 0 && v <= 255; }

SectorRecord recordOf(const SectorHeader& h) {
    return SectorRecord{h.c, h.h, h.r, h.n, static_cast<uint16_t>(h.count), h.density, h.deleted, h.status, h.dataSize};
}

}  // namespace

DiskImage::DiskImage() noexcept = default;

DiskImage::~DiskImage() { close(); }

bool DiskImage::open(const char* path) {
    if (path == nullptr) return close();
    close();
    return imageFile.open(path) && scan();
}

#if defined(_WIN32)
bool DiskImage::open(const wchar_t* path) {
    if (path == nullptr) return close();
    close();
    return imageFile.open(path) && scan();
}
#endif

bool DiskImage::openMemory(const uint8_t* data, size_t size, int endError) {
    close();
    imageFile.openMemory(data, size, endError);
    return scan();
}

bool DiskImage::scan() {
    uint8_t header[kDiskHeaderSize];
    int64_t total = 0;
    scanErrno = 0;
    scanErrorAt = -1;
    imageFile.clearError();
    while (numDisks < kMaxDisks) {
        diskOffsets[numDisks] = static_cast<int32_t>(total);
        if (imageFile.readAside(total, header, kDiskHeaderSize) < kDiskHeaderSize) {
            // A read error before anything was read means the path is no
            // readable file at all: on some systems a directory opens for
            // reading and fails only here.
            if (imageFile.failed() && numDisks == 0 && imageFile.lastErrorOffset() == 0) {
                close();
                return false;
            }
            scanErrno = imageFile.lastError();
            scanErrorAt = imageFile.lastErrorOffset();
            break;
        }
        const int64_t size = le32(header + kDiskSizeOffset);
        ++numDisks;
        // The next disk's offset must stay a signed 32-bit value; a disk
        // that would start past it is not read, and that is said.
        if (total + size > INT32_MAX) {
            if (numDisks < kMaxDisks && imageFile.readAt(total + size, header, kDiskHeaderSize) == kDiskHeaderSize) {
                beyondBound = numDisks;
            }
            imageFile.clearError();
            imageFile.dropWindow();
            return true;
        }
        total += size;
    }
    // Stopped by the limit: is there a 65th disk that is not read?
    moreDisks = numDisks == kMaxDisks && imageFile.readAt(total, header, kDiskHeaderSize) == kDiskHeaderSize;
    if (numDisks == kMaxDisks && !moreDisks && imageFile.lastError() != 0) {
        scanErrno = imageFile.lastError();
        scanErrorAt = imageFile.lastErrorOffset();
    }
    imageFile.dropWindow();
    return true;
}

bool DiskImage::close() {
    imageFile.close();
    forgetTrack();
    numDisks = 0;
    moreDisks = false;
    beyondBound = -1;
    mediaTypeCode = -1;
    writeProtectCode = -1;
    scanErrno = 0;
    scanErrorAt = -1;
    lastReadErrno = 0;
    return true;
}

int64_t DiskImage::diskOffsetOf(int32_t index) const {
    return index >= 0 && index < numDisks ? int64_t{diskOffsets[index]} : -1;
}

bool DiskImage::selectDisk(int32_t index) {
    lastReadErrno = 0;
    if (!imageFile.isOpen()) return false;

    forgetTrack();
    diskOffset = -1;
    mediaTypeCode = -1;
    writeProtectCode = -1;
    diskSize = 0;
    diskNameText[0] = '\0';
    if (index < 0 || index >= numDisks) return false;

    // Read the header afresh from the file, not from what an earlier read
    // left in the window.
    imageFile.dropWindow();
    uint8_t header[kDiskHeaderSize];
    beginRead();
    const bool whole = imageFile.readAt(diskOffsets[index], header, kDiskHeaderSize) == kDiskHeaderSize;
    endRead();
    if (!whole) return false;

    diskOffset = diskOffsets[index];
    for (int32_t t = 0; t < kNumTracks; ++t) {
        const size_t entry = kTrackTableOffset + 4 * static_cast<size_t>(t);
        trackOffsets[t] = asInt32(le32(header + entry));
    }
    mediaTypeCode = header[kMediaTypeOffset];
    writeProtectCode = header[kWriteProtectOffset];
    diskSize = asInt32(le32(header + kDiskSizeOffset));
    int32_t k = 0;
    for (; k < kNameLength && header[kNameOffset + k] != 0; ++k) {
        diskNameText[k] = static_cast<char>(header[kNameOffset + k]);
    }
    for (; k < kNameLength; ++k) diskNameText[k] = '\0';
    return true;
}

void DiskImage::setSectorRange(int32_t first, int32_t last) {
    firstSector = first;
    lastSector = last;
}

// A track is absent when its offset is 0, negative as a signed 32-bit value,
// or beyond the disk's size.
int64_t DiskImage::trackStart(int32_t t) const {
    if (!imageFile.isOpen()) return -1;
    if (t < 0 || t >= kNumTracks) return -1;
    const int32_t off = trackOffsets[t];
    if (off <= 0 || off > diskSize) return -1;
    return int64_t{diskOffset} + off;
}

int64_t DiskImage::trackOffset(int32_t t) const {
    const int64_t start = trackStart(t);
    return start < 0 ? -1 : start - diskOffset;
}

void DiskImage::endRead() {
    lastReadErrno = imageFile.lastError();
    if (lastReadErrno != 0) {
        forgetTrack();
        imageFile.dropWindow();
    }
}

int32_t DiskImage::readSector(int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, uint8_t* out, int32_t maxLen) {
    SectorRecord ignored;
    return readSector(t, c, h, r, n, out, maxLen, ignored);
}

int32_t DiskImage::readSector(int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, uint8_t* out, int32_t maxLen,
                              SectorRecord& record) {
    lastReadErrno = 0;
    if (maxLen < 0) return 0;
    const int64_t start = trackStart(t);
    if (start < 0) return 0;
    // Stored IDs are bytes: any other value is never found.
    if (!isByte(c) || !isByte(h) || !isByte(r) || !isByte(n)) return 0;
    beginRead();
    detail::RecordIndex::Found found{};
    int32_t got = 0;
    if (recordIndex.find(imageFile, start,
                         detail::RecordIndex::packId(static_cast<uint32_t>(c), static_cast<uint32_t>(h),
                                                     static_cast<uint32_t>(r), static_cast<uint32_t>(n)),
                         found)) {
        // The header was read whole when the record was indexed, so it is
        // there to be read again where the index did not keep it.
        uint8_t header[kSectorHeaderSize];
        if (found.header != nullptr) {
            record = recordOf(SectorHeader::decode(found.header));
        } else if (imageFile.readAt(found.dataOffset - kSectorHeaderSize, header, kSectorHeaderSize) ==
                   kSectorHeaderSize) {
            record = recordOf(SectorHeader::decode(header));
        }
        const int32_t len = found.dataSize < maxLen ? found.dataSize : maxLen;
        const uint8_t* bytes = imageFile.held(found.dataOffset, len);
        if (bytes != nullptr) {
            std::memcpy(out, bytes, static_cast<size_t>(len));
            got = len;
        } else {
            got = imageFile.readAt(found.dataOffset, out, len);
        }
    }
    endRead();
    return got;
}

int32_t DiskImage::readHeldSectors(int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, uint8_t* out, int32_t total,
                                   SectorRecord* records, int32_t max) {
    lastReadErrno = 0;
    const int64_t start = trackStart(t);
    if (start < 0 || total <= 0 || n < 0 || n > 23) return 0;
    if (!isByte(c) || !isByte(h) || !isByte(r)) return 0;
    detail::RecordIndex::HeldWalk walk{};
    if (!recordIndex.heldWalk(start, walk)) return 0;
    const int32_t chunk = 128 << n;
    const uint32_t track = detail::RecordIndex::packId(static_cast<uint32_t>(c), static_cast<uint32_t>(h), 0, 0);
    int32_t k = 0;
    // One sector a round, at most max of them and none past the range's
    // last sector (or R 255); each a scan of at most 64 IDs.
    for (int32_t done = 0; done < total && k < max && r + k <= lastSector && r + k <= 255; ++k) {
        const uint32_t id = track | static_cast<uint32_t>(r + k) << 8U | static_cast<uint32_t>(n);
        int32_t j = 0;
        while (j < walk.count && walk.ids[j] != id) ++j;
        if (j == walk.count) break;
        const int32_t want = total - done < chunk ? total - done : chunk;
        if (walk.dataSizes[j] < want) break;
        const uint8_t* bytes = imageFile.held(walk.dataOffsets[j], want);
        if (bytes == nullptr) break;
        std::memcpy(out + done, bytes, static_cast<size_t>(want));
        records[k] = recordOf(SectorHeader::decode(walk.headers[j]));
        done += want;
    }
    return k;
}

int32_t DiskImage::readSectors(int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, uint8_t* out, int32_t total) {
    if (n < 0 || n > 23) return 0;
    int32_t sum = 0;
    int32_t chunk = 128 << n;
    while (sum < total) {
        if (total - sum < chunk) chunk = total - sum;
        const int32_t got = readSector(t, c, h, r, n, out, chunk);
        if (got < chunk) return sum;
        out += chunk;
        sum += chunk;
        // A sector was found, so c, h, r and t are all small here and the
        // step cannot overflow.
        stepSector(t, c, h, r);
    }
    return sum;
}

void DiskImage::stepSector(int32_t& t, int32_t& c, int32_t& h, int32_t& r) const {
    if (r == lastSector) {
        ++t;
        if (h == 0) {
            h = 1;
        } else {
            h = 0;
            ++c;
        }
        r = firstSector;
    } else {
        ++r;
    }
}

int32_t DiskImage::readTrackIds(int32_t t, uint8_t* out, int32_t len) {
    lastReadErrno = 0;
    int64_t pos = trackStart(t);
    if (pos < 0) return 0;
    beginRead();
    int32_t stored = 0;
    uint8_t header[kSectorHeaderSize];
    for (int32_t i = 0; i < kMaxRecordsPerWalk && stored + 4 <= len; ++i) {
        if (imageFile.readAt(pos, header, kSectorHeaderSize) < kSectorHeaderSize) break;
        std::memcpy(out + stored, header, 4);
        stored += 4;
        const SectorHeader record = SectorHeader::decode(header);
        pos += SectorHeader::kSize + int64_t{record.dataSize};
        if (i == record.count - 1) break;
    }
    endRead();
    return stored;
}

int32_t DiskImage::readTrackRecords(int32_t t, SectorRecord* out, int32_t max, bool& more) {
    lastReadErrno = 0;
    more = false;
    int64_t pos = trackStart(t);
    if (pos < 0) return 0;
    beginRead();
    int32_t stored = 0;
    uint8_t header[kSectorHeaderSize];
    // The walk of a sector search: at most 65,535 records, each visited once,
    // so this loop ends whatever the image holds.
    for (int32_t i = 0; i < kMaxRecordsPerWalk; ++i) {
        if (imageFile.readAt(pos, header, kSectorHeaderSize) < kSectorHeaderSize) break;
        const SectorHeader h16 = SectorHeader::decode(header);
        if (h16.count == 0) break;
        if (stored == max) {
            more = true;
            break;
        }
        out[stored++] = recordOf(h16);
        pos += SectorHeader::kSize + int64_t{h16.dataSize};
        if (i == h16.count - 1) break;
    }
    endRead();
    return stored;
}

}  // namespace imgpry
