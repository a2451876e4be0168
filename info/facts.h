// What imgpry-info knows of an image: one pass over the disks, each disk
// selected once, gathers every fact the writers (report, JSON, map) use;
// the writers only read them. Whether a file is replaced depends on the
// disks after it, so it is settled once the pass has seen them all.
//
// Everything is held in one Facts object in fixed storage, with the bounds
// below; past a bound the rest is counted, not kept, and a note says so.
#pragma once

#include <imgpry/disk_image.h>

#include <cstddef>
#include <cstdint>
#include <new>

#include "file_system.h"
#include "image_input.h"
#include "room.h"
#include "sectors.h"

namespace imgpry::info {

inline constexpr int32_t kMaxDisks = DiskImage::kMaxDisks;
inline constexpr int32_t kNumTracks = DiskImage::kNumTracks;
// Files of a whole container (eight FAT disks full of the smallest files).
inline constexpr int32_t kMaxFiles = 1 << 16;
// Bytes of the files' paths and names, raw and as UTF-8, NUL-terminated.
inline constexpr int32_t kMaxTextBytes = 1 << 23;
// Short and marked sectors kept one by one, over all files.
inline constexpr int32_t kMaxKeptSectors = 1 << 18;
// Records of one track kept (as many as a sector search shows at once),
// and of the whole container.
inline constexpr int32_t kMaxTrackRecords = 64;
inline constexpr int32_t kMaxRecords = 1 << 19;
// Sectors of the file systems' own areas, over all disks.
inline constexpr int32_t kMaxAreaSectors = 1 << 14;
// Cells of the map: a track's grid of sectors and its records of other IDs.
inline constexpr int32_t kMaxGridColumns = 64;
inline constexpr int32_t kMaxCells = 1 << 19;
// Bytes of a disk's status line and of a sentence about it.
inline constexpr size_t kLineBytes = 320;

struct Span {
    int32_t at = 0;
    int32_t count = 0;
};

// A track as the reader walks it.
struct TrackFacts {
    int64_t offset = -1;   // from the disk's start; -1: absent
    Span records;          // in Facts::records
    bool more = false;     // the walk goes on past the records kept
    bool pastEnd = false;  // the offset lies past the end of the image
    int error = 0;         // a read of the image failed walking it
};

// One sector of a file system's area, as reading it met it.
struct AreaSector {
    fs::AreaKind kind = fs::AreaKind::kDirectory;
    fs::SectorVisit visit;
};

// How a cell of the map was met: by which owner, what its read gave.
inline constexpr int32_t kNoOwner = -1;
struct Cell {
    int16_t record = -1;        // in the track's records; -1: no record has the ID
    uint8_t area = 0;           // AreaKind + 1 when an area's; 0 none
    uint8_t visited = 0;        // a read of its owner met it
    int32_t owner = kNoOwner;   // the first file to claim it, or kNoOwner
    int32_t second = kNoOwner;  // a second file that claims it too
    uint16_t held = 0;
    uint16_t wanted = 0;
    int16_t error = 0;
    uint8_t r = 0;  // the sector ID R this cell stands for
};

// A track's cells: the grid of the file system's sector IDs, then the
// records of other IDs.
struct TrackCells {
    Span cells;
    int32_t grid = 0;
};

struct DiskFacts {
    int32_t number = 0;  // 1-based
    int64_t offset = 0;
    bool selected = false;
    int selectError = 0;  // why it could not be selected (0: no read failed)
    uint32_t sizeField = 0;
    int32_t mediaType = -1;
    int32_t writeProtect = -1;
    char name[17] = {};
    int64_t truncatedBy = 0;  // bytes of the disk past the end of the image
    int32_t present = 0;
    int32_t markedRecords = 0;
    TrackFacts tracks[kNumTracks];
    int32_t trackErrorTrack = -1;  // the first track whose walk failed
    int trackError = 0;

    // The file system: recognised, or the built-in one as the fallback.
    const char* fileSystem = nullptr;
    bool recognised = false;
    char description[kLineBytes] = {};
    fs::Parameter parameters[fs::kMaxParameters] = {};
    int32_t parameterCount = 0;
    fs::Geometry geometry;
    char foreign[kLineBytes] = {};  // what the disk holds when no system reads it

    fs::Problem problems[fs::kMaxProblems] = {};
    int32_t problemPath[fs::kMaxProblems] = {};      // in Facts::text; -1 for the disk
    int32_t problemPathText[fs::kMaxProblems] = {};  // the same as UTF-8
    int32_t problemCount = 0;
    Span areas;  // in Facts::areas
    // The directory at the disk's top: its bytes, what was read, where it stopped.
    int32_t directoryBytes = 0;
    int32_t directoryRead = 0;
    bool directoryWhole = true;
    fs::ShortSector directoryStop{};

    Span files;  // in Facts::files
    bool damaged = false;
    char status[kLineBytes] = {};  // the disk's status line

    // The map, when gathered.
    TrackCells cells[kNumTracks];
    int32_t cylinders = 0;
    int32_t widestExtras[2] = {0, 0};  // records of other IDs beside a row, per head
};

struct FileFacts {
    int32_t disk = 0;    // 0-based
    int32_t entry = 0;   // the catalogue's index
    int32_t number = 0;  // 1-based on its disk
    int32_t pathAt = 0;  // raw bytes, as the catalogue holds them
    int32_t pathTextAt = 0;
    int32_t nameAt = 0;  // the entry's own name
    int32_t nameTextAt = 0;
    fs::NameEncoding encoding = fs::NameEncoding::kShiftJis;  // of its name's bytes
    int32_t size = 0;
    int32_t firstTrack = 0;
    int32_t firstSector = 0;
    int32_t got = 0;
    bool read = false;    // the file system gives a file for it
    bool unsafe = false;  // a part of its path is never written
    bool emptyName = false;
    bool writes = false;  // imgpry writes it
    bool chainBroken = false;
    int32_t breakTrack = 0;
    int32_t breakSector = 0;
    Span shorts;
    Span marks;
    int32_t shortCount = 0;
    int32_t markCount = 0;
    int32_t replacedBy = -1;  // the later file written under its name
    bool damaged = false;
};

struct Facts {
    int64_t imageSize = 0;
    int32_t diskCount = 0;
    bool moreDisks = false;
    int readError = 0;  // the scan or a pipe's read stopped at readErrorAt
    int64_t readErrorAt = -1;
    bool overLimit = false;  // a pipe held more than limit bytes
    int64_t limit = 0;
    bool beyondOffsets = false;       // a disk starts past the reader's offsets
    int64_t bytesAfterLastDisk = -1;  // -1: not known (the scan stopped)
    bool filesFull = false;           // more files than kMaxFiles
    int status = 0;                   // 0 every file whole, 2 damage or loss

    DiskFacts disks[kMaxDisks];
    int32_t fileCount = 0;
    fs::Room<FileFacts, kMaxFiles> files;
    int32_t textUsed = 0;
    char text[kMaxTextBytes];
    int32_t shortsUsed = 0;
    fs::Room<fs::ShortSector, kMaxKeptSectors> shorts;
    int32_t marksUsed = 0;
    fs::Room<fs::MarkedSector, kMaxKeptSectors> marks;
    int32_t recordsUsed = 0;
    fs::Room<SectorRecord, kMaxRecords> records;
    int32_t areasUsed = 0;
    fs::Room<AreaSector, kMaxAreaSectors> areas;
    int32_t cellsUsed = 0;
    fs::Room<Cell, kMaxCells> cells;

    const char* at(int32_t offset) const { return text + offset; }
};

// Gathers the facts of the image open in image (input: how it was opened;
// imageSize its bytes), with the map's cells when withMap.
void gatherFacts(Facts& facts, DiskImage& image, const fs::ImageInput* input, int64_t imageSize, bool withMap);

// "2D", "2DD", ... or nullptr for a byte of no known type.
const char* mediaName(int32_t code);

// A disk's file's state in the report's words, for titles and legends:
// "whole", "partly read: 700 of 1024 bytes", "unreadable: ...", "empty".
const char* fileState(const Facts& facts, const FileFacts& file, char* buf, size_t size);

}  // namespace imgpry::info
