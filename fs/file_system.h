// The one interface to every file system the imgpry programs read. For each
// disk a program asks recogniseDisk which file system the disk carries, then
// asks that file system for the disk's catalogue (every file and folder with
// its path, size, first sector and date), for a file's data with the report
// of what could not be recovered, and for the sectors of its own areas
// (boot, FAT, directory) to draw. Neither program reads an entry's bytes or
// decides what is damaged by itself.
//
// Everything is held in fixed storage: a catalogue is one static object of
// known size (see the bounds below), and no walk allocates.
#pragma once

#include <imgpry/disk_image.h>

#include <cstddef>
#include <cstdint>

#include "builtin.h"
#include "room.h"
#include "sectors.h"

namespace imgpry::fs {

// Bounds of one disk's catalogue. Entries: files and folders together, all
// directories of the disk (a FAT12 2HD root holds 192, a built-in directory
// 128; subdirectories add to that); past this the rest of the disk is not
// listed and a problem says so. Names: every name's bytes with their NULs.
// Depth: folders within folders.
inline constexpr int32_t kMaxCatalogueEntries = 8192;
inline constexpr int32_t kMaxCatalogueNameBytes = 1 << 20;
inline constexpr int32_t kMaxFolderDepth = 32;
inline constexpr int32_t kMaxProblems = 64;
// The largest file any file system here can hold: a disk of 80 × 2 × 18
// sectors of 512 bytes (1,474,560 bytes) and then some.
inline constexpr int32_t kMaxFileBytes = 2 * 1024 * 1024;
// One name (one part of a path) in bytes: a long FAT name of 255 UTF-16
// units is at most 765 bytes of UTF-8.
inline constexpr int32_t kMaxNameBytes = 768;

enum class EntryKind : uint8_t { kFile, kFolder };

// How a name's bytes are to be read: as the disk holds them (Shift_JIS
// for the Japanese systems), or UTF-8 (a long FAT name, decoded from its
// UTF-16).
enum class NameEncoding : uint8_t { kShiftJis, kUtf8 };

// A date as the file system records it, in local time; year 0 when the
// entry records none.
struct FileDate {
    int16_t year = 0;
    uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct CatalogueEntry {
    EntryKind kind = EntryKind::kFile;
    NameEncoding encoding = NameEncoding::kShiftJis;
    int32_t parent = -1;     // index of the folder it stands in; -1 at the disk's top
    int32_t nameOffset = 0;  // its name's bytes in Catalogue::names, NUL-terminated
    int32_t nameLength = 0;
    int32_t size = 0;         // bytes, as the file system gives it
    int32_t firstTrack = 0;   // the first sector's linear track and ID R, as listed;
    int32_t firstSector = 0;  // both 0 for a file that has no data
    FileDate date;
    uint32_t start = 0;  // the file system's own: start cluster, block, entry slot
    uint32_t extra = 0;  // the file system's own
};

// Something about the disk's own structures that a program must say.
enum class ProblemKind : uint8_t {
    // An area (what: "the directory", "the FAT") that did not read whole
    // or whose sectors are marked: run says how. entry is the folder whose
    // directory it is, -1 for the disk's top or an area of the disk.
    kArea,
    // A sentence of its own (what), about folder or file entry (-1: the
    // disk): "the FAT copies disagree; the first one is used", "more than
    // 8192 entries; the rest are not listed".
    kNote,
};

struct Problem {
    ProblemKind kind = ProblemKind::kNote;
    int32_t entry = -1;
    const char* what = "";  // static text, never taken from the image
    // kArea: what the read gave; the first short and marked sectors.
    int32_t wanted = 0;
    int32_t got = 0;
    int32_t shortCount = 0;
    ShortSector firstShort{};
    int32_t markCount = 0;
    MarkedSector firstMark{};
};

// The note a full catalogue leaves, once.
inline constexpr const char* kCatalogueFull = "more entries than imgpry keeps for a disk; the rest are not listed";

struct Catalogue {
    int32_t count = 0;
    // Written only as entries are added: a disk of 100 files touches the
    // room of 100, not of all.
    Room<CatalogueEntry, kMaxCatalogueEntries> entries;
    int32_t namesUsed = 0;
    char names[kMaxCatalogueNameBytes];
    int32_t problemCount = 0;
    Room<Problem, kMaxProblems> problems;

    void clear();
    // Adds an entry named by length bytes at name (a NUL among them ends it
    // early); returns its index, or -1 when the catalogue is full (a problem
    // then says so, once).
    int32_t add(const CatalogueEntry& entry, const char* name, int32_t length);
    const char* name(int32_t index) const { return names + entries[index].nameOffset; }
    // Notes a problem; past kMaxProblems they are dropped.
    void note(const Problem& problem);
    // Notes an area's run report as a kArea problem when it fell short or
    // holds marked sectors.
    void noteArea(const char* what, int32_t entry, const RunReport& run);
};

// The path of entry index as the listing shows it: the names of the folders
// it stands in and its own, joined by '/', bytes as the catalogue holds
// them. Writes into buf (room for size bytes; truncated to fit) and returns
// it.
const char* entryPath(const Catalogue& catalogue, int32_t index, char* buf, size_t size);

// The areas a file system keeps for itself.
enum class AreaKind : uint8_t { kBoot, kFat, kDirectory, kSystem };
// "boot", "FAT", "directory", "system".
const char* areaName(AreaKind kind);

class AreaVisitor {
public:
    virtual void area(AreaKind kind, const SectorId& sector) = 0;

protected:
    AreaVisitor() = default;
    ~AreaVisitor() = default;
    AreaVisitor(const AreaVisitor&) = default;
    AreaVisitor& operator=(const AreaVisitor&) = default;
    AreaVisitor(AreaVisitor&&) = default;
    AreaVisitor& operator=(AreaVisitor&&) = default;
};

// A parameter of a file system as recognised on a disk, for reports.
struct Parameter {
    const char* key;  // "sectorBytes", "sectorsPerTrack", "heads", "media", ...
    int64_t value;
};

// Stores the parameters of all, at most max of them, into out; returns how
// many were stored.
template <size_t N>
int32_t storeParameters(const Parameter (&all)[N], Parameter* out, int32_t max) {
    int32_t n = 0;
    for (const Parameter& p : all) {
        if (n < max) out[n++] = p;
    }
    return n;
}
inline constexpr int32_t kMaxParameters = 16;

// The sectors a file system's tracks hold, for drawing a disk: IDs first..last,
// size code n, on heads heads.
struct Geometry {
    int32_t firstSector = 1;
    int32_t lastSector = 5;
    int32_t sizeCode = 3;
    int32_t heads = 2;
};

class FileSystem {
public:
    // "FAT12", "built-in", "Hu-BASIC", "N88-BASIC", "CP/M".
    virtual const char* name() const = 0;
    // With the disk selected: whether it carries this file system, judged
    // by reading a handful of sectors at most. When true, the object keeps
    // what it learnt (geometry, parameters) for the calls below until the
    // next recognise.
    virtual bool recognise(DiskImage& image) = 0;
    // The sentence imgpry-info gives: "FAT12, 1024-byte sectors, 8 per
    // track, 2 heads, media 0xFE". Writes into buf and returns it.
    virtual const char* describe(char* buf, size_t size) const = 0;
    // The parameters of that sentence; returns how many were stored.
    virtual int32_t parameters(Parameter* out, int32_t max) const = 0;
    virtual Geometry geometry() const = 0;
    // Reads the disk's catalogue: every file and folder, in directory order,
    // a folder before what it holds; with the problems its areas met.
    virtual void readCatalogue(DiskImage& image, Catalogue& catalogue) = 0;
    // Reads file entry index's data into out (room for capacity bytes;
    // kMaxFileBytes holds any file) and reports it: wanted the entry's size,
    // got the bytes the sectors gave, every short and marked sector, and
    // whether its chain broke. Every sector read is shown to visitor when
    // there is one. Returns whether the file is to be written: false when
    // nothing could be read of a file that has data (its first sector gave
    // nothing), or when the file system writes no file for an entry like
    // this (a built-in entry of length 0).
    virtual bool readFile(DiskImage& image, const Catalogue& catalogue, int32_t index, uint8_t* out, int32_t capacity,
                          RunReport& report, SectorVisitor* visitor) = 0;
    // Shows every sector of the file system's own areas to visitor.
    virtual void visitAreas(DiskImage& image, AreaVisitor& visitor) = 0;

protected:
    FileSystem() = default;
    ~FileSystem() = default;
    FileSystem(const FileSystem&) = default;
    FileSystem& operator=(const FileSystem&) = default;
    FileSystem(FileSystem&&) = default;
    FileSystem& operator=(FileSystem&&) = default;
};

// With disk index selected by selectDisk: the first file system, in the
// order FAT12, built-in, Hu-BASIC, N88-BASIC, CP/M, that recognises it.
// When none does, the built-in one, with recognised false: reading it then
// says what it always said of such a disk.
FileSystem& recogniseDisk(DiskImage& image, bool& recognised);

}  // namespace imgpry::fs
