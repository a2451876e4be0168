// Reading sectors the way every file system here reads them: one sector at
// a time, by its ID, recovering whatever part of it the image holds, and
// keeping count of what fell short and of what the dump marked bad.
#pragma once

#include <imgpry/disk_image.h>

#include <cstddef>
#include <cstdint>

namespace imgpry::fs {

// Disk structures are little-endian whatever the host's byte order: their
// fields are assembled from single bytes.
inline uint32_t le16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8U; }
inline uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16U; }

// Where a sector is: the linear track of the container (cylinder × 2 +
// head) and the ID (C, H, R, N) its record carries.
struct SectorId {
    int32_t track = 0;
    int32_t c = 0, h = 0, r = 0, n = 0;
};

// How many short and marked sectors a run report keeps one by one; past
// that they are only counted.
inline constexpr int32_t kMaxRunSectors = 400;

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

// What reading a run (a file, a directory, a FAT) gave.
struct RunReport {
    int32_t wanted = 0;      // bytes asked for
    int32_t got = 0;         // bytes the sectors gave (0: nothing was read); in kStopAtShort the
                             // whole chunks before the first short one, as readSectors counts
    int32_t shortCount = 0;  // sectors that gave less than their chunk
    int32_t markCount = 0;   // marked sectors among those that gave bytes
    // The file's allocation chain broke (a free, reserved or out-of-range
    // cluster, or one seen twice) after the sector breakTrack/breakSector:
    // nothing past it belongs to the file.
    bool chainBroken = false;
    int32_t breakTrack = 0;
    int32_t breakSector = 0;
    ShortSector shorts[kMaxRunSectors];
    MarkedSector marks[kMaxRunSectors];
};

// Clears a report for a new run of wanted bytes.
void startReport(RunReport& report, int32_t wanted);

// One sector as a read met it, for those who draw or count sectors (the
// inspector's map): where, how many bytes were wanted and held, the read
// error, and the record found (found false: no record has the ID).
struct SectorVisit {
    SectorId id;
    int32_t wanted = 0;
    int32_t held = 0;
    int error = 0;
    bool found = false;
    SectorRecord record;
};

class SectorVisitor {
public:
    virtual void visit(const SectorVisit& sector) = 0;

protected:
    SectorVisitor() = default;
    ~SectorVisitor() = default;
    SectorVisitor(const SectorVisitor&) = default;
    SectorVisitor& operator=(const SectorVisitor&) = default;
    SectorVisitor(SectorVisitor&&) = default;
    SectorVisitor& operator=(SectorVisitor&&) = default;
};

// Reads want bytes of sector id into out, recovering what it can: a whole
// sector gives its bytes, one that holds K < want bytes gives those and
// zeros, a missing one zeros. Notes a short sector and a marked one (a
// record with a non-zero status or a deleted-data mark that gave bytes) in
// report, adds the bytes held to report.got, and shows the sector to
// visitor when there is one. Returns the bytes held.
int32_t readChunk(DiskImage& image, const SectorId& id, uint8_t* out, int32_t want, RunReport& report,
                  SectorVisitor* visitor);

// Reads the sectors from id.r on of id's track as readChunk reads each,
// as long as the reader holds them whole without reading the image (see
// DiskImage::readHeldSectors): chunks of 128 << id.n bytes into out, total
// bytes in all, the last chunk shorter when total ends within it. Notes
// the marked ones in report and adds their bytes to report.got. Returns
// the sectors read (0 when the next one must go through readChunk); the
// caller steps past them.
int32_t readHeldChunks(DiskImage& image, const SectorId& id, uint8_t* out, int32_t total, RunReport& report);

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

// Names a sector that fell short, as the listing writes tracks and sectors:
// "trk=TT sec=SS is missing", "... holds only K bytes" or "... could not be
// read: REASON" (a read of the image failed there). Writes into buf (room
// for size bytes) and returns it.
const char* describeShort(const ShortSector& s, char* buf, size_t size);

// Names a sector as the listing does: "trk=TT sec=SS", lower-case hex.
const char* sectorName(int32_t track, int32_t sector, char* buf, size_t size);

// What a sector's status and deleted mark mean, in words: "ID CRC error"
// (0xA0), "data CRC error" (0xB0), "no address mark" (0xE0), "no data mark"
// (0xF0), "deleted data" (0x10, or status 0 with a deleted mark), otherwise
// "status 0xXX". Writes into buf (room for size bytes) and returns it.
const char* markMeaning(uint8_t status, uint8_t deleted, char* buf, size_t size);

// Whether a record that gave bytes counts as marked.
inline bool isMarked(const SectorRecord& record) { return record.status != 0 || record.deleted != 0; }

}  // namespace imgpry::fs
