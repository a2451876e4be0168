// An index of the sector records one walk from a track's start visits.
//
// A search for a sector walks the track's chain of records from its start
// until a record's count is 0, record i carries the count i + 1, the records
// run out, or 65,535 records were visited; the first record with the wanted
// ID ends it early. Which records a walk visits from a given start does not
// depend on the ID sought, so the first record with an ID in the whole walk
// is exactly the one a search for that ID stops at. The index walks once and
// keeps, for every ID, that first record; searches are then a hash lookup.
//
// Storage is fixed (room for every record a walk can visit) and only the
// part a track uses is touched.
#pragma once

#include <cstdint>

namespace imgpry::detail {

class ImageFile;

class TrackIndex {
public:
    static constexpr int32_t kMaxRecords = 65535;

    TrackIndex() noexcept;

    struct Record {
        int64_t dataOffset;  // file offset of the record's data
        uint32_t id;         // C, H, R, N packed high to low
        uint16_t dataSize;
    };

    static constexpr uint32_t packId(uint32_t c, uint32_t h, uint32_t r, uint32_t n) {
        return c << 24U | h << 16U | r << 8U | n;
    }

    // Whether the index holds the walk from this file offset.
    bool covers(int64_t start) const { return valid && start == trackStart; }
    // Walks the records from start and indexes them, replacing what was there.
    void build(ImageFile& file, int64_t start);
    // The first record the walk met with this ID, or null.
    const Record* find(uint32_t id) const;
    void drop();

private:
    static constexpr uint32_t kSlotBits = 17;  // twice the records, so probes stay short
    static constexpr uint32_t kSlots = 1U << kSlotBits;
    static uint32_t slotOf(uint32_t id) { return (id * 0x9E3779B1U) >> (32U - kSlotBits); }

    bool isTaken(uint32_t s) const { return ((taken[s / 64] >> (s % 64)) & 1U) != 0; }
    void setTaken(uint32_t s, bool on) {
        const uint64_t bit = uint64_t{1} << (s % 64);
        taken[s / 64] = on ? taken[s / 64] | bit : taken[s / 64] & ~bit;
    }

    bool valid = false;
    int64_t trackStart = 0;
    int32_t used = 0;
    // Only the bitmap of taken slots needs clearing up front; the records and
    // the slots are read only where it says so. That keeps the large arrays
    // out of the program file and untouched until a track needs them.
    uint64_t taken[kSlots / 64];
    uint16_t slots[kSlots];  // index into records, where taken
    Record records[kMaxRecords];
};

}  // namespace imgpry::detail
