#include <imgpry/detail/image_file.h>
#include <imgpry/detail/track_index.h>

#include "sector_header.h"

namespace imgpry::detail {

// The slots and the records are left uninitialized on purpose: a slot is
// read only where the bitmap says it is taken, a record only once stored.
// cppcheck-suppress uninitMemberVar
TrackIndex::TrackIndex() noexcept : taken{} {}

void TrackIndex::drop() {
    // Free exactly the slots in use, so a small track costs a few bytes.
    for (int32_t i = 0; i < used; ++i) {
        uint32_t s = slotOf(records[i].id);
        while (!isTaken(s) || slots[s] != i) s = (s + 1) & (kSlots - 1);
        setTaken(s, false);
    }
    used = 0;
    valid = false;
}

void TrackIndex::build(ImageFile& file, int64_t start) {
    drop();
    // A common track (five 1 KiB sectors, or sixteen of 256 bytes) is read
    // whole by one fill of the window, and its data is then read from it.
    constexpr int32_t kTypicalTrack = 8 * 1024;
    file.reach(start, kTypicalTrack);
    int64_t pos = start;
    uint8_t header[SectorHeader::kSize];
    for (int32_t i = 0; i < kMaxRecords; ++i) {
        if (file.readAt(pos, header, SectorHeader::kSize) < SectorHeader::kSize) break;
        const SectorHeader record = SectorHeader::decode(header);
        if (record.count == 0) break;
        const uint32_t id = packId(record.c, record.h, record.r, record.n);
        uint32_t s = slotOf(id);
        while (isTaken(s) && records[slots[s]].id != id) s = (s + 1) & (kSlots - 1);
        if (!isTaken(s)) {
            records[used] = Record{pos + SectorHeader::kSize, id, record.dataSize};
            slots[s] = static_cast<uint16_t>(used++);
            setTaken(s, true);
        }
        pos += SectorHeader::kSize + int64_t{record.dataSize};
        if (i == record.count - 1) break;
    }
    trackStart = start;
    valid = true;
}

const TrackIndex::Record* TrackIndex::find(uint32_t id) const {
    for (uint32_t s = slotOf(id); isTaken(s); s = (s + 1) & (kSlots - 1)) {
        if (records[slots[s]].id == id) return &records[slots[s]];
    }
    return nullptr;
}

}  // namespace imgpry::detail
