// An index of the sector records that walks from a disk's track starts
// reach, each record read and kept once.
//
// A search for a sector walks a chain of records from a track's start until
// a record's count is 0, the header cannot be read whole, record i carries
// the count i + 1, or 65,535 records were visited; the first record with the
// wanted ID ends it early. The chain itself depends only on where it is
// entered: each record's header gives the offset of the next, always further
// on, so walks from different starts that reach one record go on through
// the same records from there.
//
// A walk that ends within 64 records (every ordinary track) is kept whole
// in a small table by its start, and a search of it is a scan of its IDs.
// Longer walks go to the index proper.
//
// The index keeps every record any walk reached, in segments: runs of
// records in chain order, explored once, each ending where the chain ends
// (end of the file, a count of 0), where it joins a record already kept
// (a link), or where the walk that explored it stopped (open: a later walk
// that goes further explores on from there). In a segment, record g is at
// walk position j + (g - p) for a walk that entered it at g = p after j
// records, so "record i has count i + 1" reads count(g) - g = j - p + 1: a
// key of the record alone. Per segment the records are sorted by ID and by
// that key, and a search is a binary search for the first match and the
// first stop at or after p, segment by segment along the chain.
//
// Cost: each record is read once per disk and sorted twice; a search costs
// O(log n) per segment it passes. A segment begins only at a track start or
// right after the record where the walk from one stopped, and the walk from
// a start stops at one place whatever the ID, so a disk has at most two
// segments per track start. Storage is fixed: room for kCapacity records
// and kMaxSegments segments. Only the part in use is touched, so a small
// disk costs a few kilobytes.
//
// When a new segment might not fit, the segments stay as they are (they go
// on serving the starts they cover) and the start is summarised instead:
// one walk from it, record by record, gives every ID it passes with the
// first record that carries it, sorted by ID. A summary is made once per
// start and answers any ID by one binary search, found or not. Summaries
// live in a ring of kSummaryCapacity entries and kMaxSummaries starts; the
// oldest give way to new ones. Either way a search costs at most one walk
// of 65,535 records and one sort of them, plus O(log n) per segment or
// summary it consults, whatever the image holds; a track whose chain
// repeats a few IDs (however long it is) costs a few entries.
#pragma once

#include <cstdint>

namespace imgpry::detail {

class ImageFile;

class RecordIndex {
public:
    static constexpr int32_t kMaxWalk = 65535;              // records one walk visits at most
    static constexpr uint32_t kCapacity = 1U << 20;         // records kept at most
    static constexpr uint32_t kMaxSegments = 1024;          // more than the 2 × 164 a disk can have
    static constexpr uint32_t kSummaryCapacity = 1U << 20;  // entries of all summaries together
    static constexpr uint32_t kMaxSummaries = 256;          // more than the 164 starts a disk has

    // The slots, records, sort orders and summaries are left uninitialized
    // on purpose: each is read only once written.
    // cppcheck-suppress uninitMemberVar
    RecordIndex() noexcept = default;

    static constexpr uint32_t packId(uint32_t c, uint32_t h, uint32_t r, uint32_t n) {
        return c << 24U | h << 16U | r << 8U | n;
    }

    struct Found {
        int64_t dataOffset;  // file offset of the record's data
        int32_t dataSize;    // as its header gives it
        // The record's 16 header bytes where the index holds them (until
        // its next search), else nullptr: then they are read from the file.
        const uint8_t* header;
    };

    // The record with ID id where the walk from file offset start stops, as
    // walking the chain record by record would find it. False when the walk
    // ends without one.
    bool find(ImageFile& file, int64_t start, uint32_t id, Found& found);
    // The records of the walk from start, in walk order, where they are held
    // whole already (a short track walked before); valid until the next
    // search. The first with an ID is the one find gives.
    struct HeldWalk {
        int32_t count;
        const uint32_t* ids;
        const int64_t* dataOffsets;
        const uint16_t* dataSizes;
        const uint8_t (*headers)[16];
    };
    // False when the walk from start is not held so. Never reads the file.
    bool heldWalk(int64_t start, HeldWalk& walk) const;
    // Forgets every record (another disk, another image).
    void drop();

private:
    // The answers to recent searches, by start and ID: a disk whose files
    // share sectors asks for the same sector many times, and each answer
    // would otherwise cost a binary search per segment passed.
    struct Answer {
        int64_t start;
        uint32_t id;
        uint32_t generation;  // valid only while it equals the index's
        Found found;
        bool hit;
    };
    static constexpr uint32_t kAnswerBits = 12;
    uint32_t answerSlot(int64_t start, uint32_t id) const {
        const uint64_t key =
            static_cast<uint64_t>(start) * 0x9E3779B97F4A7C15ULL ^ (uint64_t{id} * 0xC2B2AE3D27D4EB4FULL);
        return static_cast<uint32_t>(key >> (64U - kAnswerBits));
    }
    Answer answers[1U << kAnswerBits];
    uint32_t generation = 0;    // 0: the short tracks are not cleared yet
    bool answersClear = false;  // whether the answers are cleared for use

    // Short tracks, the common case, are kept whole: the records of the
    // walk from a start, in walk order, when it ends within kShortTrack
    // records. A search is then a scan of a few IDs, with no lookup in the
    // index; a longer walk is marked so (count -1) and left to the index.
    static constexpr int32_t kShortTrack = 64;
    static constexpr uint32_t kShortTrackBits = 4;
    struct ShortTrack {
        int64_t start;
        uint32_t generation;  // valid only while it equals the index's
        int32_t count;        // records of the walk; -1: more than kShortTrack
        uint32_t ids[kShortTrack];
        int64_t dataOffsets[kShortTrack];
        uint16_t dataSizes[kShortTrack];
        uint8_t headers[kShortTrack][16];
    };
    ShortTrack shortTracks[1U << kShortTrackBits];
    static uint32_t shortTrackSlot(int64_t start) {
        return static_cast<uint32_t>((static_cast<uint64_t>(start) * 0x9E3779B97F4A7C15ULL) >> (64U - kShortTrackBits));
    }
    // The entry kept for start, or nullptr.
    const ShortTrack* keptShortTrack(int64_t start) const;
    // Walks from start and keeps what it finds in start's entry.
    const ShortTrack& shortTrack(ImageFile& file, int64_t start);
    // The first record of t's walk with the ID.
    static bool fromShortTrack(const ShortTrack& t, uint32_t id, Found& found);

    // The summaries: per start, the distinct IDs of its walk in increasing
    // order, each with the first record that carries it, held in a ring.
    struct Summary {
        int64_t start;
        uint32_t begin;  // entries [begin, begin + size) of the ring
        uint32_t size;
        bool live;
    };
    // The summary of start, or nullptr when there is none.
    const Summary* summaryOf(int64_t start) const;
    // Walks from start record by record and keeps what it finds as a new
    // summary, making room in the ring when needed.
    const Summary& summarise(ImageFile& file, int64_t start);
    bool fromSummary(const Summary& s, uint32_t id, Found& found) const;

    uint32_t summariesMade = 0;  // since the last drop; the newest is at (made - 1) % kMaxSummaries
    uint32_t summaryCursor = 0;  // where the next summary's entries go
    Summary summaries[kMaxSummaries];
    uint32_t summaryIds[kSummaryCapacity];
    int64_t summaryOffsets[kSummaryCapacity];  // of the record's data
    uint16_t summarySizes[kSummaryCapacity];
    int64_t walkOffsets[kMaxWalk];  // the records of the walk being summarised
    uint16_t walkSizes[kMaxWalk];

    struct Record {
        int64_t offset;  // of the header
        uint32_t id;
        uint16_t count;
        uint16_t dataSize;
    };
    enum class End : uint8_t { kChainEnds, kLink, kOpen };
    struct Segment {
        uint32_t begin;  // records [begin, end)
        uint32_t end;
        uint32_t next;  // for kLink: the record the chain goes on with
        End kind;
    };
    enum class Step : uint8_t { kRecord, kStop, kFull };

    bool search(ImageFile& file, int64_t start, uint32_t id, Found& found, bool& full);
    // What a walk that reached record g of seg after `walked` records does
    // in seg: finds the ID (match), ends there, or passes its end.
    enum class InSegment : uint8_t { kFound, kEnds, kPasses };
    InSegment walkSegment(const Segment& seg, uint32_t g, int32_t walked, uint32_t id, uint32_t& match) const;
    // Positions a walk at the record at offset: one kept already, or the
    // first of a new segment explored from there for a walk that has
    // visited `walked` records before it. kStop when the walk ends there.
    Step enter(ImageFile& file, int64_t offset, int32_t walked, uint32_t& at);
    uint32_t segmentOf(uint32_t g) const;
    // First record in [from, segment end) with the ID, or with the key;
    // UINT32_MAX when there is none.
    uint32_t firstWithId(const Segment& s, uint32_t from, uint32_t id) const;
    uint32_t firstWithKey(const Segment& s, uint32_t from, int64_t key) const;
    int64_t keyOf(uint32_t g) const { return int64_t{records[g].count} - int64_t{g}; }

    // Open addressing from a record's offset to its index + 1 (0: free).
    // The table grows within its fixed storage as records are added.
    static constexpr uint32_t kSlotBits = 21;
    static constexpr uint32_t kFirstSlotBits = 12;
    uint32_t slotOf(int64_t offset) const {
        return static_cast<uint32_t>((static_cast<uint64_t>(offset) * 0x9E3779B97F4A7C15ULL) >> (64U - slotBits));
    }
    uint32_t lookup(int64_t offset) const;  // index, or UINT32_MAX
    void insert(uint32_t g);                // growing the table when needed
    void place(uint32_t g);                 // into the table as it is

    uint32_t used = 0;
    uint32_t segmentCount = 0;
    uint32_t slotBits = kFirstSlotBits;
    bool slotsClear = false;  // whether slots [0, 2^slotBits) are cleared for use (at the first insert)
    uint32_t slots[1U << kSlotBits];
    Record records[kCapacity];
    uint32_t byId[kCapacity];    // per segment: its records sorted by (id, index)
    uint32_t byKey[kCapacity];   // per segment: its records sorted by (key, index)
    uint64_t scratch[kMaxWalk];  // the packed pairs of the segment being sorted
    Segment segments[kMaxSegments];
};

}  // namespace imgpry::detail
