// Reader for containers of floppy disk images stored back to back (the D88
// multi-disk layout). Each disk starts with a 688-byte header carrying its
// name, media type, size and a table of 164 track offsets; a track is a
// chain of sector records, each a 16-byte ID header followed by its data.
//
// The reader finds sectors by their ID (C, H, R, N) within a track and steps
// through runs of sectors by the sector range its user sets. It never
// allocates memory, never throws and never logs: every operation reports
// failure as false or as a byte count of 0.
//
// Sector reads are served from an index of the records that walks from the
// selected disk's track starts reach, each record read once, and, when that
// is full, from per-track summaries made in one walk each (see
// detail/record_index.h); the file is read through a window of 128 KiB.
// Both are held in the object, which is therefore large (about 48 MiB, of
// which only the part an image needs is ever touched): give it static
// storage or allocate it, never put it on the stack. No search costs more
// than one walk of 65,535 records and one sort of them, whatever the image
// holds; measured, the costliest layouts found (every track its own chain
// of 65,535 records) take 7 to 12 ms of extraction per megabyte of image
// (bench/README.md).
#pragma once

#include <imgpry/detail/image_file.h>
#include <imgpry/detail/record_index.h>

#include <cstddef>
#include <cstdint>

namespace imgpry {

// What a sector record says of itself: its ID, the track's sector count,
// the density, the deleted-data mark and the status the floppy controller
// reported when the disk was dumped, and the length of its data.
struct SectorRecord {
    uint8_t c = 0, h = 0, r = 0, n = 0;
    uint16_t count = 0;
    uint8_t density = 0;  // header byte 6: 0x00 double density, 0x40 single
    uint8_t deleted = 0;  // header byte 7: non-zero for a deleted-data mark
    uint8_t status = 0;   // header byte 8: 0x00 when the sector read correctly
    uint16_t dataSize = 0;
};

class DiskImage {
public:
    static constexpr int32_t kMaxDisks = 64;
    static constexpr int32_t kNumTracks = 164;
    static constexpr int32_t kDiskHeaderSize = 0x2B0;  // 688
    static constexpr int32_t kSectorHeaderSize = 16;
    // The sector count field is 16 bits wide, so no well-formed track holds
    // more records than this; every walk over a track stops after this many.
    static constexpr int32_t kMaxRecordsPerWalk = 65535;

    DiskImage() noexcept;
    ~DiskImage();
    DiskImage(const DiskImage&) = delete;
    DiskImage& operator=(const DiskImage&) = delete;
    DiskImage(DiskImage&&) = delete;
    DiskImage& operator=(DiskImage&&) = delete;

    // Opens the image at path for binary reading and indexes up to 64 disks.
    // An image already open is closed first. A null path closes the image.
    // Returns false when the file cannot be opened or read (a directory, for
    // instance); true otherwise, also when it holds no complete disk header.
    bool open(const char* path);
    bool open(std::nullptr_t) { return close(); }
#if defined(_WIN32)
    // The same for a path in UTF-16, so that any file name Windows can hold
    // opens, whatever the ANSI code page.
    bool open(const wchar_t* path);
#endif
    // Reads the image from size bytes at data instead of a file, with the
    // very same results. The caller keeps the bytes unchanged and alive until
    // close, the next open or the reader's end; they are not copied. An
    // image already open is closed first. endError, when not 0, is the
    // system's error number of the read that ended the bytes (a pipe whose
    // read failed): a read reaching past them then fails with that error,
    // as it would on the file, instead of finding the end. Always true.
    bool openMemory(const uint8_t* data, size_t size, int endError = 0);
    // Closes the image; always true. The last selection's name, size and
    // track table stay readable, but every sector read fails until the next
    // open.
    bool close();
    int32_t diskCount() const { return numDisks; }
    // True when the scan stopped at its limit of 64 disks and a whole disk
    // header follows the 64th: the image holds disks that are not read.
    bool hasMoreDisks() const { return moreDisks; }
    // Why the scan of the last open stopped before it reached the end of the
    // disks: the system's error number of a read that failed (0 when the
    // scan ended normally), and the file offset that read began at.
    int scanError() const { return scanErrno; }
    // The index of the first disk that is not read because it would start
    // past byte 2,147,483,647 (offsets are signed 32-bit), when a whole
    // disk header stands there; -1 otherwise.
    int32_t diskBeyondOffsetBound() const { return beyondBound; }
    int64_t scanErrorOffset() const { return scanErrorAt; }
    // File offset of disk index's header, as the scan found it; -1 outside
    // 0..diskCount()-1.
    int64_t diskOffsetOf(int32_t index) const;
    // Loads the header of disk index (0-based, in file order). On failure the
    // previous selection is dropped (unless no image is open at all).
    bool selectDisk(int32_t index);
    // The sector numbers R of a track's first and last sector; runs read by
    // readSectors step from last to the next track's first. Until it is
    // called the range is 1..16.
    void setSectorRange(int32_t first, int32_t last);
    // Name of the selected disk, at most 16 characters, NUL-terminated.
    const char* diskName() const { return diskNameText; }
    // Media type byte of the selected disk, or -1 when none is selected.
    int32_t mediaType() const { return mediaTypeCode; }
    // Media type codes as the header stores them.
    static constexpr int32_t kMedia2D = 0x00;
    static constexpr int32_t kMedia2DD = 0x10;
    static constexpr int32_t kMedia2HD = 0x20;
    static constexpr int32_t kMedia1D = 0x30;
    static constexpr int32_t kMedia1DD = 0x40;
    // Write-protect byte (header offset 0x1A) of the selected disk: non-zero
    // when the disk is marked write-protected; -1 when none is selected.
    int32_t writeProtect() const { return writeProtectCode; }
    // The selected disk's size field as stored (unsigned 32-bit).
    uint32_t diskSizeField() const { return static_cast<uint32_t>(diskSize); }
    // Offset of track t's first record from the start of the selected disk,
    // as its track table gives it, when the reader accepts it (not 0, not
    // negative, not beyond the disk's size); -1 when the track is absent.
    int64_t trackOffset(int32_t t) const;

    // Reads the first sector of track t whose ID is (c, h, r, n) into out,
    // at most maxLen bytes. Returns the bytes copied; 0 when not found.
    int32_t readSector(int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, uint8_t* out, int32_t maxLen);
    // The same, and fills record with what the record found says of itself
    // (left as it was when none is found).
    int32_t readSector(int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, uint8_t* out, int32_t maxLen,
                       SectorRecord& record);
    // The system's error number when a read of the image failed during the
    // last sector operation (readSector, readSectors, readTrackIds,
    // readTrackRecords) or selectDisk, 0 when none did. A count cut short by a read error is
    // not the image's doing: the same read may succeed when tried again.
    int readError() const { return lastReadErrno; }
    // Reads total bytes as a run of sectors of 128 << n bytes each, starting
    // at ID (c, h, r, n) on track t. Returns the bytes delivered, counted in
    // whole chunks: a sector that is missing or shorter than its chunk ends
    // the run.
    int32_t readSectors(int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, uint8_t* out, int32_t total);
    // Reads sectors R = r, r + 1, ... of track t, IDs (c, h, R, n), up to the
    // range's last sector, as readSector reads each: total bytes in chunks
    // of 128 << n (the last one shorter when total ends within it), every
    // sector's record in records (room for max). It goes on only while the
    // reader holds a sector whole without reading the image (its track
    // walked before, its bytes in the window, at least its chunk of them):
    // it stops before the first sector it cannot serve so, and never reads
    // the image. Returns the sectors read; readError() is then 0.
    int32_t readHeldSectors(int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, uint8_t* out, int32_t total,
                            SectorRecord* records, int32_t max);
    // The step readSectors takes from one sector to the next: R + 1, or
    // after the last sector of the range the next track (head 0 to head 1 of
    // the same cylinder, head 1 to head 0 of the next), from the range's
    // first sector. Callers use it to name the sector a run stopped at.
    void stepSector(int32_t& t, int32_t& c, int32_t& h, int32_t& r) const;
    // Stores the IDs of track t's records, in stored order, as 4-byte
    // entries C, H, R, N; at most len bytes. Returns the bytes stored.
    int32_t readTrackIds(int32_t t, uint8_t* out, int32_t len);
    // Stores the records that a sector search on track t walks, in stored
    // order, at most max of them: the walk stops before a record whose count
    // is 0, after record i whose count is i + 1, where a header cannot be
    // read whole, or after 65,535 records. Returns the records stored; more
    // is set when the walk goes on past them.
    int32_t readTrackRecords(int32_t t, SectorRecord* out, int32_t max, bool& more);

private:
    // Indexes the disks of the image just opened; false when it cannot be
    // read at all.
    bool scan();
    // File offset of track t's first record; -1 when the track is absent.
    int64_t trackStart(int32_t t) const;
    void forgetTrack() { recordIndex.drop(); }
    // Bracket every sector operation: a read error is noted, and what the
    // index and the window learnt from the failed read is forgotten, so that
    // a later read tries the image again.
    void beginRead() { imageFile.clearError(); }
    void endRead();

    detail::ImageFile imageFile;
    int32_t numDisks = 0;
    int32_t firstSector = 1;
    int32_t lastSector = 16;
    int32_t diskOffsets[kMaxDisks] = {};
    int32_t diskSize = 0;
    int32_t diskOffset = 0;
    int32_t trackOffsets[kNumTracks] = {};
    int32_t mediaTypeCode = -1;
    char diskNameText[17] = {};
    int32_t writeProtectCode = -1;
    bool moreDisks = false;
    int32_t beyondBound = -1;
    int scanErrno = 0;
    int64_t scanErrorAt = -1;
    int lastReadErrno = 0;
    detail::RecordIndex recordIndex;
};

}  // namespace imgpry
