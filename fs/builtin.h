// The built-in file system: five sectors of 1024 bytes per track (R = 1..5,
// N = 3) on two heads, a directory of 128 entries of 16 bytes in sectors 1
// and 2 of track 1 (cylinder 0, head 1), and every file one run of sectors
// from a start track and sector, stepping from sector 5 to sector 1 of the
// next track.
#pragma once

#include <imgpry/disk_image.h>

#include <cstddef>
#include <cstdint>

#include "sectors.h"

namespace imgpry::fs {

struct Catalogue;

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

// Reads a file's run (kRecover): size bytes from (track, sector).
void readFile(DiskImage& image, const Entry& entry, uint8_t* out, RunReport& report);

// The catalogue of a disk whose header could not be read again, error the
// system's error number: no entry, and the directory's first sector named
// as not read, since no file system could be asked about the disk.
void unreadableDisk(Catalogue& catalogue, int error);

// Reads the selected disk's directory into out (kDirBytes): a run read as
// readSectors reads it. Only the entries wholly within report.got
// belong to the disk.
void readDirectory(DiskImage& image, uint8_t* out, RunReport& report);

}  // namespace imgpry::fs
