#include <imgpry/detail/image_file.h>
#include <imgpry/detail/record_index.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "sector_header.h"

namespace imgpry::detail {

namespace {
constexpr uint32_t kNone = UINT32_MAX;
// A common track (five 1 KiB sectors, or sixteen of 256 bytes) is read whole
// by one fill of the window before it is walked, and its data is then read
// from it.
constexpr int32_t kTypicalTrack = 8 * 1024;

// The walk of a search from the record at start, record by record, reading
// headers in place where the window holds them: visit(header bytes, the
// record, the offset of its data) for each record it passes, at most limit
// of them. False when the walk would go on past limit.
template <typename Visit>
bool walkRecords(ImageFile& file, int64_t start, int32_t limit, Visit visit) {
    int64_t pos = start;
    uint8_t header[SectorHeader::kSize];
    for (int32_t i = 0; i < RecordIndex::kMaxWalk; ++i) {
        if (i == limit) return false;
        const uint8_t* bytes = file.held(pos, SectorHeader::kSize);
        if (bytes == nullptr) {
            if (file.readAt(pos, header, SectorHeader::kSize) < SectorHeader::kSize) return true;
            bytes = header;
        }
        const SectorHeader record = SectorHeader::decode(bytes);
        if (record.count == 0) return true;
        visit(bytes, record, pos + SectorHeader::kSize);
        pos += SectorHeader::kSize + int64_t{record.dataSize};
        if (i == record.count - 1) return true;
    }
    return true;
}
}  // namespace

void RecordIndex::drop() {
    // Clear only the slots the last disk used: none when its tracks were
    // all short.
    if (slotsClear && used > 0) std::memset(slots, 0, sizeof(uint32_t) << slotBits);
    slotBits = kFirstSlotBits;
    used = 0;
    segmentCount = 0;
    summariesMade = 0;
    summaryCursor = 0;
    // Every answer kept so far belongs to an older generation now.
    if (generation != 0) ++generation;
    if (generation == UINT32_MAX) generation = 0;
}

uint32_t RecordIndex::lookup(int64_t offset) const {
    // No record kept: the slots are not even cleared yet.
    if (used == 0) return kNone;
    const uint32_t mask = (1U << slotBits) - 1;
    for (uint32_t s = slotOf(offset);; s = (s + 1) & mask) {
        if (slots[s] == 0) return kNone;
        if (records[slots[s] - 1].offset == offset) return slots[s] - 1;
    }
}

void RecordIndex::insert(uint32_t g) {
    if (!slotsClear) {
        std::memset(slots, 0, sizeof(uint32_t) << slotBits);
        slotsClear = true;
    }
    // At most half full, so probes stay short: past that, double the table
    // and place every record again.
    if (2 * (g + 1) > (1U << slotBits)) {
        ++slotBits;
        std::memset(slots, 0, sizeof(uint32_t) << slotBits);
        for (uint32_t k = 0; k < g; ++k) place(k);
    }
    place(g);
}

void RecordIndex::place(uint32_t g) {
    const uint32_t mask = (1U << slotBits) - 1;
    uint32_t s = slotOf(records[g].offset);
    while (slots[s] != 0) s = (s + 1) & mask;
    slots[s] = g + 1;
}

uint32_t RecordIndex::segmentOf(uint32_t g) const {
    // Segments are made in order, so their begins increase.
    const Segment* it = std::upper_bound(segments, segments + segmentCount, g,
                                         [](uint32_t v, const Segment& s) { return v < s.begin; });
    return static_cast<uint32_t>(it - segments) - 1;
}

uint32_t RecordIndex::firstWithId(const Segment& s, uint32_t from, uint32_t id) const {
    // Sorted by (ID, index): the first entry at or after (id, from).
    const uint32_t* it = std::lower_bound(byId + s.begin, byId + s.end, from, [&](uint32_t a, uint32_t g) {
        return std::pair{records[a].id, a} < std::pair{id, g};
    });
    return it != byId + s.end && records[*it].id == id ? *it : kNone;
}

uint32_t RecordIndex::firstWithKey(const Segment& s, uint32_t from, int64_t key) const {
    const uint32_t* it = std::lower_bound(byKey + s.begin, byKey + s.end, from, [&](uint32_t a, uint32_t g) {
        return std::pair{keyOf(a), a} < std::pair{key, g};
    });
    return it != byKey + s.end && keyOf(*it) == key ? *it : kNone;
}

RecordIndex::Step RecordIndex::enter(ImageFile& file, int64_t offset, int32_t walked, uint32_t& at) {
    at = lookup(offset);
    if (at != kNone) return Step::kRecord;

    file.reach(offset, kTypicalTrack);
    uint8_t header[SectorHeader::kSize];
    if (file.readAt(offset, header, SectorHeader::kSize) < SectorHeader::kSize) return Step::kStop;
    SectorHeader record = SectorHeader::decode(header);
    if (record.count == 0) return Step::kStop;
    // A new segment must have room for a whole walk.
    if (used > kCapacity - static_cast<uint32_t>(kMaxWalk) || segmentCount == kMaxSegments) return Step::kFull;

    Segment& seg = segments[segmentCount++];
    seg.begin = used;
    seg.kind = End::kOpen;
    int64_t pos = offset;
    for (int32_t k = walked;; ++k) {
        const uint32_t g = used++;
        records[g] = Record{pos, packId(record.c, record.h, record.r, record.n), static_cast<uint16_t>(record.count),
                            record.dataSize};
        insert(g);
        // The walk that explores stops here; a later one may go on.
        if (k == record.count - 1 || k == kMaxWalk - 1) break;
        pos += SectorHeader::kSize + int64_t{record.dataSize};
        const uint32_t known = lookup(pos);
        if (known != kNone) {
            seg.kind = End::kLink;
            seg.next = known;
            break;
        }
        if (file.readAt(pos, header, SectorHeader::kSize) < SectorHeader::kSize) {
            seg.kind = End::kChainEnds;
            break;
        }
        record = SectorHeader::decode(header);
        if (record.count == 0) {
            seg.kind = End::kChainEnds;
            break;
        }
    }
    seg.end = used;
    // Both orders sort (value, index) pairs packed into one 64-bit word, so
    // the sort compares plain integers rather than records. A segment holds
    // at most one walk, so the scratch space always suffices.
    const uint32_t n = seg.end - seg.begin;
    for (uint32_t k = 0; k < n; ++k) {
        const uint32_t g = seg.begin + k;
        scratch[k] = uint64_t{records[g].id} << 32U | g;
    }
    std::sort(scratch, scratch + n);
    for (uint32_t k = 0; k < n; ++k) byId[seg.begin + k] = static_cast<uint32_t>(scratch[k]);
    for (uint32_t k = 0; k < n; ++k) {
        const uint32_t g = seg.begin + k;
        // Keys lie in (-2^21, 2^16): shifted by 2^31 they are unsigned 32-bit
        // values in the same order.
        const auto key = static_cast<uint32_t>(keyOf(g) + (int64_t{1} << 31));
        scratch[k] = uint64_t{key} << 32U | g;
    }
    std::sort(scratch, scratch + n);
    for (uint32_t k = 0; k < n; ++k) byKey[seg.begin + k] = static_cast<uint32_t>(scratch[k]);
    at = seg.begin;
    return Step::kRecord;
}

RecordIndex::InSegment RecordIndex::walkSegment(const Segment& seg, uint32_t g, int32_t walked, uint32_t id,
                                                uint32_t& match) const {
    // The walk visits g, g + 1, ... up to the first of: the segment's last
    // record, its 65,535th record, the record whose count ends it.
    const int64_t capLast = int64_t{g} + (kMaxWalk - walked) - 1;
    const int64_t segmentLast = int64_t{seg.end} - 1;
    int64_t last = std::min(segmentLast, capLast);
    bool ends = capLast <= segmentLast;
    // Record m ends the walk when count(m) == (walked + m - g) + 1.
    const int64_t stopKey = static_cast<int64_t>(walked) - static_cast<int64_t>(g) + 1;
    const uint32_t stop = firstWithKey(seg, g, stopKey);
    if (stop != kNone && stop <= last) {
        last = stop;
        ends = true;
    }
    match = firstWithId(seg, g, id);
    if (match != kNone && match <= last) return InSegment::kFound;
    return ends ? InSegment::kEnds : InSegment::kPasses;
}

bool RecordIndex::search(ImageFile& file, int64_t start, uint32_t id, Found& found, bool& full) {
    uint32_t g = 0;
    Step step = enter(file, start, 0, g);
    int32_t walked = 0;  // records the walk visited before g
    while (step == Step::kRecord) {
        Segment& seg = segments[segmentOf(g)];
        uint32_t match = kNone;
        const InSegment there = walkSegment(seg, g, walked, id, match);
        if (there == InSegment::kFound) {
            found = Found{records[match].offset + SectorHeader::kSize, records[match].dataSize, nullptr};
            return true;
        }
        if (there == InSegment::kEnds) return false;
        walked += static_cast<int32_t>(seg.end - g);
        if (seg.kind == End::kChainEnds) return false;
        if (seg.kind == End::kLink) {
            g = seg.next;
            continue;
        }
        const Record& tail = records[seg.end - 1];
        step = enter(file, tail.offset + SectorHeader::kSize + tail.dataSize, walked, g);
        // What follows this segment is the same for every walk: note it.
        if (step == Step::kRecord) {
            seg.kind = End::kLink;
            seg.next = g;
        } else if (step == Step::kStop) {
            seg.kind = End::kChainEnds;
        }
    }
    full = step == Step::kFull;
    return false;
}

const RecordIndex::Summary* RecordIndex::summaryOf(int64_t start) const {
    const uint32_t n = std::min(summariesMade, kMaxSummaries);
    for (uint32_t k = 0; k < n; ++k) {
        if (summaries[k].live && summaries[k].start == start) return &summaries[k];
    }
    return nullptr;
}

const RecordIndex::Summary& RecordIndex::summarise(ImageFile& file, int64_t start) {
    // The walk of a search: at most 65,535 records.
    uint32_t n = 0;
    (void)walkRecords(file, start, kMaxWalk, [&](const uint8_t*, const SectorHeader& record, int64_t data) {
        scratch[n] = uint64_t{packId(record.c, record.h, record.r, record.n)} << 32U | n;
        walkOffsets[n] = data;
        walkSizes[n] = record.dataSize;
        ++n;
    });
    // Sorted by (ID, position), the first of each ID is the one a search
    // finds; keep only those, in place.
    std::sort(scratch, scratch + n);
    uint32_t distinct = 0;
    for (uint32_t k = 0; k < n; ++k) {
        if (k == 0 || scratch[k] >> 32U != scratch[distinct - 1] >> 32U) scratch[distinct++] = scratch[k];
    }

    // Room in the ring: the entries go at the cursor, or at the ring's start
    // when they do not fit before its end; the summaries they overwrite, and
    // the one whose slot the new summary takes, are dropped.
    uint32_t begin = summaryCursor;
    if (distinct > kSummaryCapacity - begin) begin = 0;
    const uint32_t end = begin + distinct;
    for (Summary& s : summaries) {
        if (s.live && s.size > 0 && s.begin < end && begin < s.begin + s.size) s.live = false;
    }
    Summary& made = summaries[summariesMade % kMaxSummaries];
    ++summariesMade;
    // Keep the count of summaries made from wrapping: it only matters
    // whether it reached the number of slots.
    if (summariesMade == 2 * kMaxSummaries) summariesMade = kMaxSummaries;
    made = Summary{start, begin, distinct, true};
    for (uint32_t k = 0; k < distinct; ++k) {
        const auto at = static_cast<uint32_t>(scratch[k]);
        summaryIds[begin + k] = static_cast<uint32_t>(scratch[k] >> 32U);
        summaryOffsets[begin + k] = walkOffsets[at];
        summarySizes[begin + k] = walkSizes[at];
    }
    summaryCursor = end;
    return made;
}

bool RecordIndex::fromSummary(const Summary& s, uint32_t id, Found& found) const {
    const uint32_t* first = summaryIds + s.begin;
    const uint32_t* last = first + s.size;
    const uint32_t* it = std::lower_bound(first, last, id);
    if (it == last || *it != id) return false;
    const auto k = static_cast<uint32_t>(it - summaryIds);
    found = Found{summaryOffsets[k], summarySizes[k], nullptr};
    return true;
}

const RecordIndex::ShortTrack* RecordIndex::keptShortTrack(int64_t start) const {
    const ShortTrack& t = shortTracks[shortTrackSlot(start)];
    return t.generation == generation && t.start == start ? &t : nullptr;
}

const RecordIndex::ShortTrack& RecordIndex::shortTrack(ImageFile& file, int64_t start) {
    ShortTrack& t = shortTracks[shortTrackSlot(start)];
    t.start = start;
    t.generation = generation;
    // The walk of a search, for at most the records kept: a walk that goes
    // on past them is the index's.
    file.reach(start, kTypicalTrack);
    int32_t n = 0;
    const bool ended =
        walkRecords(file, start, kShortTrack, [&](const uint8_t* bytes, const SectorHeader& record, int64_t data) {
            t.ids[n] = packId(record.c, record.h, record.r, record.n);
            t.dataOffsets[n] = data;
            t.dataSizes[n] = record.dataSize;
            std::memcpy(t.headers[n], bytes, SectorHeader::kSize);
            ++n;
        });
    if (!ended) n = -1;
    t.count = n;
    return t;
}

bool RecordIndex::fromShortTrack(const ShortTrack& t, uint32_t id, Found& found) {
    for (int32_t k = 0; k < t.count; ++k) {
        if (t.ids[k] == id) {
            found = Found{t.dataOffsets[k], t.dataSizes[k], t.headers[k]};
            return true;
        }
    }
    return false;
}

bool RecordIndex::heldWalk(int64_t start, HeldWalk& walk) const {
    // Before the first search the short tracks are not even cleared.
    if (generation == 0) return false;
    const ShortTrack* track = keptShortTrack(start);
    if (track == nullptr || track->count < 0) return false;
    walk = HeldWalk{track->count, track->ids, track->dataOffsets, track->dataSizes, track->headers};
    return true;
}

bool RecordIndex::find(ImageFile& file, int64_t start, uint32_t id, Found& found) {
    if (generation == 0) {
        std::memset(shortTracks, 0, sizeof shortTracks);
        answersClear = false;
        generation = 1;
    }
    const ShortTrack* track = keptShortTrack(start);
    if (track != nullptr && track->count >= 0) return fromShortTrack(*track, id, found);
    // A start that the index or a summary holds was walked past the bound
    // before (or its entry here gave way to another start): it is theirs,
    // and is not walked again here.
    if (track == nullptr && (summariesMade == 0 || summaryOf(start) == nullptr) && lookup(start) == kNone) {
        track = &shortTrack(file, start);
        if (track->count >= 0) return fromShortTrack(*track, id, found);
    }
    // The answers serve only the long walks: a disk of short tracks never
    // touches (nor clears) their 160 KiB.
    if (!answersClear) {
        std::memset(answers, 0, sizeof answers);
        answersClear = true;
    }
    Answer& answer = answers[answerSlot(start, id)];
    if (answer.generation == generation && answer.start == start && answer.id == id) {
        found = answer.found;
        return answer.hit;
    }
    bool hit = false;
    const Summary* summary = summariesMade == 0 ? nullptr : summaryOf(start);
    if (summary != nullptr) {
        hit = fromSummary(*summary, id, found);
    } else {
        bool full = false;
        hit = search(file, start, id, found, full);
        // Out of room for segments: summarise the start instead.
        if (!hit && full) hit = fromSummary(summarise(file, start), id, found);
    }
    answer = Answer{start, id, generation, hit ? found : Found{}, hit};
    return hit;
}

}  // namespace imgpry::detail
