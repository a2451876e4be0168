// The file system the imgpry programs serve, on top of the disk image
// reader: its fixed geometry, its directory, the names of its files and
// the rule by which a file's sectors are recovered. imgpry and imgpry-info
// both judge a disk through this layer alone.
//
// Geometry: five sectors of 1024 bytes per track (R = 1..5, N = 3) on two
// heads, a directory of 128 entries of 16 bytes in sectors 1 and 2 of track
// 1 (cylinder 0, head 1), and every file one run of sectors from a start
// track and sector, stepping from sector 5 to sector 1 of the next track.
#pragma once

#include <imgpry/disk_image.h>

#include <cstddef>
#include <cstdint>

namespace imgpry::fs {

inline constexpr int32_t kFirstSector = 1;
inline constexpr int32_t kLastSector = 5;
inline constexpr int32_t kSizeCode = 3;  // 1024-byte sectors
inline constexpr int32_t kSectorBytes = 128 << kSizeCode;
inline constexpr int32_t kDirTrack = 1;  // cylinder 0, head 1
inline constexpr int32_t kDirEntries = 128;
inline constexpr int32_t kDirEntrySize = 16;
inline constexpr int32_t kDirBytes = kDirEntries * kDirEntrySize;
inline constexpr int32_t kDirSectors = kDirBytes / kSectorBytes;
// Entry status bytes: a file, and the end of the directory; any other value
// is an entry not in use.
inline constexpr uint8_t kStatusFile = 0x00;
inline constexpr uint8_t kStatusEnd = 0xFF;
// A name is NAME.EXT: at most 8 + 1 + 3 characters.
inline constexpr int32_t kMaxNameLength = 12;
// How many short and marked sectors a run report keeps one by one (a run of
// the tool's 409,600-byte buffer in 1024-byte sectors); past that they are
// only counted.
inline constexpr int32_t kMaxRunSectors = 400;

// One directory entry as the programs use it.
struct Entry {
    uint8_t status;
    char name[kMaxNameLength + 1];  // NAME.EXT, NUL-terminated
    int32_t track;                  // start track, linear (cylinder × 2 + head)
    int32_t sector;                 // start sector R
    int32_t size;                   // length × 1024
};

// Writes the name of the 16-byte entry as NAME.EXT into out (room for
// kMaxNameLength + 1 bytes): the base name and the extension each end at
// their first space, and the dot is there only when the extension's first
// byte is not a space. Bytes are copied as they are, so a NUL ends the name
// early. Returns the name's length.
int32_t entryName(const uint8_t* entry, char* out);
Entry decodeEntry(const uint8_t* entry);

// Selects disk index and sets the sector range the file system steps by.
bool selectDisk(DiskImage& image, int32_t index);

// A sector of a run that gave fewer bytes than its chunk: held of them
// (0 when it is missing), error the system's error number when a read of
// the image failed there (0 when the image itself lacks the bytes).
struct ShortSector {
    int32_t track;
    int32_t sector;
    int32_t held;
    int error;
};

// A sector that gave bytes to what was used and whose record carries a
// non-zero status or a deleted-data mark.
struct MarkedSector {
    int32_t track;
    int32_t sector;
    uint8_t status;
    uint8_t deleted;
};

// What reading a run gave.
struct RunReport {
    int32_t wanted = 0;      // bytes asked for
    int32_t got = 0;         // bytes the sectors gave (0: nothing was read); in kStopAtShort the
                             // whole chunks before the first short one, as readSectors counts
    int32_t shortCount = 0;  // sectors that gave less than their chunk
    int32_t markCount = 0;   // marked sectors among those that gave bytes
    ShortSector shorts[kMaxRunSectors];
    MarkedSector marks[kMaxRunSectors];
};

// How a run is read.
enum class RunMode : uint8_t {
    // Every sector on its own: a whole one gives its bytes at its place, one
    // that holds K bytes gives those and zeros, a missing one zeros. Nothing
    // is read unless the first sector gives its whole chunk.
    kRecover,
    // As readSectors reads: the first sector that falls short ends the run,
    // and only the whole chunks before it count.
    kStopAtShort,
};

// Reads total bytes as a run from track t, ID (c, h, r, n), by the image's
// sector range, into out (room for total bytes), and reports it. N must be
// 0..23; any other reads nothing.
void readRun(DiskImage& image, int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, uint8_t* out, int32_t total,
             RunMode mode, RunReport& report);

// Reads a file's run (kRecover): size bytes from (track, sector).
void readFile(DiskImage& image, const Entry& entry, uint8_t* out, RunReport& report);

// Reads the selected disk's directory into out (kDirBytes): a run read as
// readSectors reads it. Only the entries wholly within report.got
// belong to the disk.
void readDirectory(DiskImage& image, uint8_t* out, RunReport& report);

// Names a sector that fell short, as the listing writes tracks and sectors:
// "trk=TT sec=SS is missing", "... holds only K bytes" or "... could not be
// read: REASON" (a read of the image failed there). Writes into buf (room
// for size bytes) and returns it.
const char* describeShort(const ShortSector& s, char* buf, size_t size);

// Names a sector that fell short, as the listing writes tracks and sectors:
// "trk=TT sec=SS is missing", "... holds only K bytes" or "... could not be
// read: REASON" (a read of the image failed there). Writes into buf (room
// for size bytes) and returns it.
const char* describeShort(const ShortSector& s, char* buf, size_t size);

// What a sector's status and deleted mark mean, in words: "ID CRC error"
// (0xA0), "data CRC error" (0xB0), "no address mark" (0xE0), "no data mark"
// (0xF0), "deleted data" (0x10, or status 0 with a deleted mark), otherwise
// "status 0xXX". Writes into buf (room for size bytes) and returns it.
const char* markMeaning(uint8_t status, uint8_t deleted, char* buf, size_t size);

}  // namespace imgpry::fs
