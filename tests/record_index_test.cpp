// Pins the record index to the literal walk over a track's records: every
// read through DiskImage must deliver what walking the records from the
// track's start, record by record, would deliver, whatever order the reads
// come in and however the tracks' chains run into each other.
#include <gtest/gtest.h>
#include <imgpry/disk_image.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image_builder.h"
#include "test_util.h"

using fixture::Bytes;
using fixture::Disk;
using fixture::Sector;

namespace {

using Id = std::array<uint8_t, 4>;

uint32_t le16(const Bytes& b, size_t p) { return static_cast<uint32_t>(b[p]) | static_cast<uint32_t>(b[p + 1]) << 8U; }
uint32_t le32(const Bytes& b, size_t p) { return le16(b, p) | le16(b, p + 2) << 16U; }

// Track t of the disk at diskOffset as the reader finds it: the offset of
// its first record, or -1 when the track is absent (offset 0, negative as a
// signed value, or beyond the disk's size).
int64_t referenceTrackStart(const Bytes& image, size_t diskOffset, int t) {
    const auto size = static_cast<int32_t>(le32(image, diskOffset + 0x1C));
    const auto off = static_cast<int32_t>(le32(image, diskOffset + 0x20 + 4 * static_cast<size_t>(t)));
    if (off <= 0 || off > size) return -1;
    return static_cast<int64_t>(diskOffset) + off;
}

// The walk as a reference: from the record at start, stop at a count of 0,
// after record i whose count is i + 1, at the end of the bytes, or after
// 65,535 records; the first record with the ID wins.
int32_t walkReadSector(const Bytes& image, int64_t start, const Id& id, int32_t maxLen, uint8_t* out) {
    if (start < 0) return 0;
    auto pos = static_cast<size_t>(start);
    for (int32_t i = 0; i < 65535; ++i) {
        if (pos + 16 > image.size()) return 0;
        const auto count = static_cast<int32_t>(le16(image, pos + 4));
        if (count == 0) return 0;
        const size_t dataSize = le16(image, pos + 14);
        if (std::equal(id.begin(), id.end(), image.begin() + static_cast<std::ptrdiff_t>(pos))) {
            const size_t want = std::min<size_t>(dataSize, static_cast<size_t>(maxLen));
            const size_t have = std::min(want, image.size() - pos - 16);
            std::memcpy(out, image.data() + pos + 16, have);
            return static_cast<int32_t>(have);
        }
        pos += 16 + dataSize;
        if (i == count - 1) return 0;
    }
    return 0;
}

class RecordIndexTest : public ::testing::Test {
protected:
    void open(const Bytes& image, int32_t disk = 0) {
        bytes = image;
        const std::string path = dir.file("image.d88");
        ASSERT_TRUE(fixture::writeFile(path, image));
        ASSERT_TRUE(img->open(path.c_str()));
        ASSERT_TRUE(img->selectDisk(disk));
    }
    // Reads id from track t of the selected disk, which starts at diskOffset,
    // and checks the result and the bytes against the walk from that
    // track's start.
    void expectLikeTheWalk(int32_t t, const Id& id, int32_t maxLen = 2048, size_t diskOffset = 0) {
        SCOPED_TRACE(testing::Message() << "disk at " << diskOffset << " track " << t << " id " << int{id[0]} << ","
                                        << int{id[1]} << "," << int{id[2]} << "," << int{id[3]});
        std::vector<uint8_t> want(4096, 0xCC);
        std::vector<uint8_t> got(4096, 0xCC);
        const int32_t expected =
            walkReadSector(bytes, referenceTrackStart(bytes, diskOffset, t), id, maxLen, want.data());
        ASSERT_EQ(img->readSector(t, id[0], id[1], id[2], id[3], got.data(), maxLen), expected);
        EXPECT_EQ(got, want);
    }

    testutil::TempDir dir;
    std::unique_ptr<imgpry::DiskImage> img = std::make_unique<imgpry::DiskImage>();
    Bytes bytes;
};

// A raw record: header and data, with every field given.
void appendRecord(Bytes& image, const Id& id, uint16_t count, const Bytes& data) {
    image.insert(image.end(), id.begin(), id.end());
    image.push_back(static_cast<uint8_t>(count));
    image.push_back(static_cast<uint8_t>(count >> 8U));
    image.insert(image.end(), 8, 0);
    image.push_back(static_cast<uint8_t>(data.size()));
    image.push_back(static_cast<uint8_t>(data.size() >> 8U));
    image.insert(image.end(), data.begin(), data.end());
}

Sector record(uint8_t c, uint8_t h, uint8_t r, uint8_t n, uint8_t fill, size_t size, std::optional<uint16_t> count) {
    Sector s;
    s.c = c;
    s.h = h;
    s.r = r;
    s.n = n;
    s.data.assign(size, fill);
    s.count = count;
    return s;
}

TEST_F(RecordIndexTest, RandomChainsReadLikeTheWalk) {
    std::mt19937 rng(20261209);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        Disk d;
        // Tracks 0..3 hold chains; IDs come from a small pool so that they
        // repeat, counts are drawn so that every way of ending shows up.
        for (int t = 0; t < 4; ++t) {
            auto& chain = d.tracks[t];
            const uint32_t length = 1 + pick(12);
            for (uint32_t i = 0; i < length; ++i) {
                const std::array<std::optional<uint16_t>, 6> counts = {
                    std::nullopt,    uint16_t{0}, static_cast<uint16_t>(i + 1), static_cast<uint16_t>(i + 2),
                    uint16_t{65535}, uint16_t{1}};
                chain.push_back(record(static_cast<uint8_t>(pick(2)), static_cast<uint8_t>(pick(2)),
                                       static_cast<uint8_t>(1 + pick(4)), 3, static_cast<uint8_t>(rng()),
                                       std::array<size_t, 4>{0, 100, 1024, 2000}[pick(4)],
                                       pick(3) == 0 ? counts[pick(6)] : std::nullopt));
            }
        }
        Bytes image = d.build();
        // Some tracks start inside another track's chain; some images end early.
        if (pick(2) == 0) {
            const uint32_t from = fixture::trackOffset(image, static_cast<int>(pick(4)));
            fixture::patchLe32(image, 0x20 + 4 * pick(4), from + 16 + le16(image, from + 14));
        }
        if (pick(3) == 0) image.resize(image.size() - pick(3000));
        fixture::patchLe32(image, 0x1C, 0x7FFFFFFF);  // every track offset lies within the disk
        open(image);
        for (int pass = 0; pass < 2; ++pass) {
            for (int t = 0; t < 4; ++t) {
                for (uint8_t c = 0; c < 2; ++c) {
                    for (uint8_t h = 0; h < 2; ++h) {
                        for (uint8_t r = 1; r <= 5; ++r) {
                            expectLikeTheWalk(static_cast<int32_t>((t + pass) % 4), {c, h, r, 3},
                                              static_cast<int32_t>(pick(2100)));
                        }
                    }
                }
            }
        }
    }
}

// Short walks are kept whole and longer ones go to the index: chains of
// 60 to 70 records, IDs repeating, some ended by a count right around the
// bound, read from every start in both orders.
TEST_F(RecordIndexTest, WalksAroundTheShortTrackBoundReadLikeTheWalk) {
    std::mt19937 rng(20261211);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    for (uint32_t length = 60; length <= 70; ++length) {
        SCOPED_TRACE(length);
        Disk d;
        for (int t = 0; t < 4; ++t) {
            auto& chain = d.tracks[t];
            // Track 0 runs its whole length; the others end by a count at
            // record 62 + t (the 63rd to the 65th record).
            for (uint32_t i = 0; i < length; ++i) {
                const bool stop = t > 0 && i == 62 + static_cast<uint32_t>(t - 1);
                chain.push_back(record(0, 0, static_cast<uint8_t>(1 + pick(40)), 1, static_cast<uint8_t>(i), 256,
                                       stop ? std::optional<uint16_t>(static_cast<uint16_t>(i + 1)) : std::nullopt));
            }
        }
        const Bytes image = d.build();
        for (int pass = 0; pass < 2; ++pass) {
            open(image);
            for (int k = 0; k < 4; ++k) {
                const int t = pass == 0 ? k : 3 - k;
                for (uint8_t r = 1; r <= 41; ++r) expectLikeTheWalk(t, {0, 0, r, 1}, 300);
            }
        }
    }
}

TEST_F(RecordIndexTest, AMatchBeyondACountOfZeroIsFoundOnlyFromALaterStart) {
    Disk d;
    d.tracks[0] = {record(0, 0, 1, 3, 0x11, 1024, 9), record(0, 0, 2, 3, 0x22, 1024, 0),
                   record(0, 0, 3, 3, 0x33, 1024, 9), record(0, 0, 1, 3, 0x44, 1024, 9)};
    Bytes image = d.build();
    const uint32_t start = fixture::trackOffset(image, 0);
    fixture::patchLe32(image, 0x20 + 4, start + 2 * (16 + 1024));  // track 1 starts at R = 3
    open(image);
    for (int round = 0; round < 2; ++round) {
        expectLikeTheWalk(1, {0, 0, 3, 3});
        expectLikeTheWalk(0, {0, 0, 3, 3});  // hidden behind the count of 0
        expectLikeTheWalk(1, {0, 0, 1, 3});  // track 1's own first R = 1 is the later duplicate
        expectLikeTheWalk(0, {0, 0, 1, 3});
        expectLikeTheWalk(0, {0, 0, 2, 3});
    }
}

TEST_F(RecordIndexTest, TracksSharingOneChainAndTheCap) {
    // Every track points at one chain longer than a walk may go.
    Disk d;
    auto& chain = d.tracks[0];
    for (int i = 0; i < 65600; ++i) chain.push_back(record(0xFF, 0xFF, static_cast<uint8_t>(i % 7), 0xFF, 0, 0, 65535));
    chain[65534] = record(0, 0, 1, 3, 0x5A, 1024, 65535);
    chain[65535] = record(0, 0, 2, 3, 0xA5, 1024, 65535);
    Bytes image = d.build();
    for (int t = 1; t < 164; ++t)
        fixture::patchLe32(image, 0x20 + 4 * static_cast<size_t>(t), fixture::trackOffset(image, 0));
    open(image);
    for (int32_t t : {0, 163, 0}) {
        expectLikeTheWalk(t, {0, 0, 1, 3});
        expectLikeTheWalk(t, {0, 0, 2, 3});
        expectLikeTheWalk(t, {0xFF, 0xFF, 6, 0xFF});
    }
}

TEST_F(RecordIndexTest, SelectingAnotherDiskOrReopeningReadsThatDisk) {
    // Two disks with identical layouts but different data: nothing read from
    // one may answer a read from the other.
    Disk a;
    a.tracks[0] = {fixture::sector(0, 0, 1, 3, 0xAA)};
    Disk b = a;
    b.tracks[0][0].data.assign(1024, 0xBB);
    Disk c;  // another layout: R = 1 is the second record
    c.tracks[0] = {fixture::sector(0, 0, 9, 3, 0x99), fixture::sector(0, 0, 1, 3, 0xCC)};
    const std::string path = dir.file("two.d88");
    ASSERT_TRUE(fixture::writeFile(path, fixture::container({a.build(), b.build()})));
    ASSERT_TRUE(img->open(path.c_str()));
    std::array<uint8_t, 1024> buf{};
    for (int32_t disk : {0, 1, 0}) {
        ASSERT_TRUE(img->selectDisk(disk));
        ASSERT_EQ(img->readSector(0, 0, 0, 1, 3, buf.data(), 1024), 1024);
        EXPECT_EQ(buf[0], disk == 0 ? 0xAA : 0xBB);
    }
    // The file is rewritten in place: selecting the disk again reads it anew.
    ASSERT_TRUE(fixture::writeFile(path, fixture::container({c.build(), b.build()})));
    ASSERT_TRUE(img->selectDisk(0));
    ASSERT_EQ(img->readSector(0, 0, 0, 1, 3, buf.data(), 1024), 1024);
    EXPECT_EQ(buf[0], 0xCC);

    const std::string other = dir.file("other.d88");
    ASSERT_TRUE(fixture::writeFile(other, a.build()));
    ASSERT_TRUE(img->open(other.c_str()));
    ASSERT_TRUE(img->selectDisk(0));
    ASSERT_EQ(img->readSector(0, 0, 0, 1, 3, buf.data(), 1024), 1024);
    EXPECT_EQ(buf[0], 0xAA);
}

// Records laid down as one soup of bytes, with track starts at record
// boundaries and at arbitrary bytes (so chains run through the same bytes
// in other phases), counts that end walks early, late, at 0 or never, IDs
// that repeat, and images cut short; read in random order.
TEST_F(RecordIndexTest, RandomLayoutsReadLikeTheWalk) {
    std::mt19937 rng(20261210);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    std::vector<Id> pool;
    for (uint8_t c = 0; c < 2; ++c)
        for (uint8_t h = 0; h < 2; ++h)
            for (uint8_t r = 1; r <= 4; ++r) pool.push_back({c, h, r, 3});
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        Bytes image(0x2B0, 0);
        fixture::patchLe32(image, 0x1C, 0x7FFFFFFF);
        std::vector<size_t> boundaries;
        const uint32_t records = 20 + pick(300);
        for (uint32_t i = 0; i < records; ++i) {
            boundaries.push_back(image.size());
            const uint32_t kind = pick(10);
            const auto count = static_cast<uint16_t>(kind == 0 ? 0 : kind < 3 ? 65535 : 1 + pick(24));
            Bytes data(std::array<size_t, 5>{0, 3, 16, 40, 1024}[pick(5)]);
            for (uint8_t& b : data) b = pick(4) == 0 ? static_cast<uint8_t>(pick(3)) : static_cast<uint8_t>(rng());
            appendRecord(image, pool[pick(static_cast<uint32_t>(pool.size()))], count, data);
        }
        const size_t records_end = image.size();
        for (size_t t = 0; t < 164; ++t) {
            const uint32_t kind = pick(8);
            uint32_t off = 0;  // absent
            if (kind < 5) off = static_cast<uint32_t>(boundaries[pick(static_cast<uint32_t>(boundaries.size()))]);
            if (kind == 5 || kind == 6) off = 0x2B0 + pick(static_cast<uint32_t>(records_end - 0x2B0));
            fixture::patchLe32(image, 0x20 + 4 * t, off);
        }
        if (pick(3) == 0) image.resize(image.size() - pick(static_cast<uint32_t>(records_end - 0x2B0) / 2));
        open(image);
        for (int q = 0; q < 600; ++q) {
            const Id id = pick(20) == 0 ? Id{9, 9, 9, 9} : pool[pick(static_cast<uint32_t>(pool.size()))];
            expectLikeTheWalk(static_cast<int32_t>(pick(164)), id, static_cast<int32_t>(pick(1100)));
            if (HasFatalFailure()) return;
        }
    }
}

// Unique IDs along a chain longer than a walk may go, entered at many
// records: each start sees exactly 65,535 records, the last one included.
TEST_F(RecordIndexTest, TheCapSeenFromManyStarts) {
    constexpr uint32_t kRecords = 66000;
    auto idOf = [](uint32_t i) {
        return Id{static_cast<uint8_t>(i >> 16U), static_cast<uint8_t>(i >> 8U), static_cast<uint8_t>(i), 7};
    };
    Bytes image(0x2B0, 0);
    fixture::patchLe32(image, 0x1C, 0x7FFFFFFF);
    // Far from every start the counts are 3, which ends no walk there: only
    // the cap does. Nearer, 65,535 ends none before it either.
    for (uint32_t i = 0; i < kRecords; ++i)
        appendRecord(image, idOf(i), i >= 60000 ? 3 : 65535, Bytes(i % 3 == 0 ? 1 : 0, 0x5A));
    std::vector<size_t> boundaries;
    for (size_t pos = 0x2B0; pos < image.size(); pos += 16 + le16(image, pos + 14)) boundaries.push_back(pos);
    const std::vector<uint32_t> starts = {300, 0, 1, 2, 465, 299, 301, 464, 466, 0, 17};
    for (size_t t = 0; t < starts.size(); ++t)
        fixture::patchLe32(image, 0x20 + 4 * t, static_cast<uint32_t>(boundaries[starts[t]]));
    open(image);
    std::mt19937 rng(7);
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t t = 0; t < starts.size(); ++t) {
            const uint32_t k = starts[t];
            for (uint32_t i : {k, k + 1, k + 65533, k + 65534, k + 65535, static_cast<uint32_t>(rng() % kRecords)})
                expectLikeTheWalk(static_cast<int32_t>(t), idOf(i));
        }
    }
}

// Disks whose headers lie in the data of another disk's records, with
// tracks that lead into that disk's chain: selecting one after another
// reads each exactly as its own walks do.
TEST_F(RecordIndexTest, DisksWhoseHeadersSitInsideAnotherDisksChain) {
    std::mt19937 rng(42);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    Bytes image(0x2B0, 0);
    std::vector<size_t> boundaries;
    const std::vector<uint32_t> hosts = {40, 90};  // records whose data holds disks 1 and 2
    for (uint32_t i = 0; i < 160; ++i) {
        boundaries.push_back(image.size());
        const bool host = std::find(hosts.begin(), hosts.end(), i) != hosts.end();
        const auto count = static_cast<uint16_t>(pick(5) == 0 ? 1 + pick(30) : 65535);
        appendRecord(image, Id{0, static_cast<uint8_t>(pick(2)), static_cast<uint8_t>(1 + pick(5)), 3}, count,
                     Bytes(host ? 0x2B0 : 8 + pick(40), static_cast<uint8_t>(i)));
    }
    std::vector<size_t> disks = {0};
    for (uint32_t h : hosts) disks.push_back(boundaries[h] + 16);
    for (size_t d = 0; d < disks.size(); ++d) {
        const size_t at = disks[d];
        const size_t next = d + 1 < disks.size() ? disks[d + 1] : at + 0x7FFFFFF0;
        fixture::patchLe32(image, at + 0x1C, static_cast<uint32_t>(next - at));
        for (size_t t = 0; t < 164; ++t) {
            // Records before the disk cannot be reached: offsets are positive.
            const auto first =
                static_cast<uint32_t>(std::upper_bound(boundaries.begin(), boundaries.end(), at) - boundaries.begin());
            const size_t target = boundaries[first + pick(static_cast<uint32_t>(boundaries.size()) - first)];
            fixture::patchLe32(image, at + 0x20 + 4 * t, static_cast<uint32_t>(target - at));
        }
    }
    open(image);
    ASSERT_EQ(img->diskCount(), 3);
    for (int32_t disk : {0, 1, 2, 1, 0, 2}) {
        ASSERT_TRUE(img->selectDisk(disk));
        for (int q = 0; q < 200; ++q) {
            expectLikeTheWalk(static_cast<int32_t>(pick(164)),
                              Id{0, static_cast<uint8_t>(pick(2)), static_cast<uint8_t>(1 + pick(6)), 3}, 2048,
                              disks[static_cast<size_t>(disk)]);
        }
    }
}

// More records than the index holds (18 separate chains of 65,535): it
// empties itself and starts again, and every read stays exact.
TEST_F(RecordIndexTest, AnImageLargerThanTheIndexReadsExactly) {
    constexpr uint32_t kChains = 18;
    Bytes image(0x2B0, 0);
    fixture::patchLe32(image, 0x1C, 0x7FFFFFFF);
    std::vector<size_t> starts;
    for (uint32_t chain = 0; chain < kChains; ++chain) {
        starts.push_back(image.size());
        for (uint32_t i = 0; i < 65535; ++i) {
            // The last record of every chain ends it, so chains stay apart.
            const uint16_t count = i == 65534 ? 0 : 65535;
            const Id id = i == 65533 ? Id{1, 0, static_cast<uint8_t>(chain), 3} : Id{0, 0, 0, 0};
            appendRecord(image, id, count, {});
        }
    }
    for (size_t t = 0; t < kChains; ++t) fixture::patchLe32(image, 0x20 + 4 * t, static_cast<uint32_t>(starts[t]));
    open(image);
    for (int pass = 0; pass < 2; ++pass) {
        for (uint32_t t = 0; t < kChains; ++t) {
            expectLikeTheWalk(static_cast<int32_t>(t), Id{1, 0, static_cast<uint8_t>(t), 3});
            expectLikeTheWalk(static_cast<int32_t>(t), Id{1, 0, static_cast<uint8_t>((t + 1) % kChains), 3});
        }
    }
}

// Chains of 65,535 records that all differ, one per track: more than the
// segments hold and more than the summaries hold together, read in an order
// that keeps making new summaries and dropping old ones.
TEST_F(RecordIndexTest, ChainsBeyondEveryStoreReadExactly) {
    constexpr uint32_t kChains = 34;
    auto idOf = [](uint32_t chain, uint32_t i) {
        return Id{static_cast<uint8_t>(chain), static_cast<uint8_t>(i >> 8U), static_cast<uint8_t>(i), 0x10};
    };
    Bytes image(0x2B0, 0);
    fixture::patchLe32(image, 0x1C, 0x7FFFFFFF);
    std::vector<size_t> starts;
    for (uint32_t chain = 0; chain < kChains; ++chain) {
        starts.push_back(image.size());
        // Every count is 65,535, so each walk ends at the cap, on its own
        // chain's last record. A byte of data tells the records apart.
        for (uint32_t i = 0; i < 65535; ++i)
            appendRecord(image, idOf(chain, i), 65535, Bytes{static_cast<uint8_t>(i ^ chain)});
    }
    for (size_t t = 0; t < kChains; ++t) fixture::patchLe32(image, 0x20 + 4 * t, static_cast<uint32_t>(starts[t]));
    open(image);
    std::mt19937 rng(34);
    for (int pass = 0; pass < 3; ++pass) {
        for (uint32_t k = 0; k < kChains; ++k) {
            const uint32_t t = (k * 7 + static_cast<uint32_t>(pass) * 5) % kChains;
            for (const Id& id : {idOf(t, 0), idOf(t, 65534), idOf(t, static_cast<uint32_t>(rng() % 65535)),
                                 idOf((t + 1) % kChains, 3), Id{0xEE, 0, 0, 0x10}}) {
                expectLikeTheWalk(static_cast<int32_t>(t), id);
            }
        }
    }
}

// Once the segments are full, every new track start is summarised: random
// chains read there must still end and match as the walk does (counts of
// 0, count stops, duplicate IDs, headers cut by the end of the file, starts
// at arbitrary bytes).
TEST_F(RecordIndexTest, SummarisedStartsReadLikeTheWalk) {
    std::mt19937 rng(20261211);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    std::vector<Id> pool;
    for (uint8_t h = 0; h < 2; ++h)
        for (uint8_t r = 1; r <= 4; ++r) pool.push_back({0, h, r, 3});
    // Tracks 100..115 are separate chains of 65,535 records: read first,
    // they fill the segments.
    Bytes filler;
    for (uint32_t i = 0; i < 16U * 65535U; ++i) appendRecord(filler, Id{9, 9, 9, 9}, 65535, {});
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        Bytes image(0x2B0, 0);
        fixture::patchLe32(image, 0x1C, 0x7FFFFFFF);
        for (size_t t = 100; t < 116; ++t)
            fixture::patchLe32(image, 0x20 + 4 * t, static_cast<uint32_t>(image.size() + (t - 100) * 16 * 65535));
        image.insert(image.end(), filler.begin(), filler.end());
        const size_t soup = image.size();
        std::vector<size_t> boundaries;
        const uint32_t records = 20 + pick(300);
        for (uint32_t i = 0; i < records; ++i) {
            boundaries.push_back(image.size());
            const uint32_t kind = pick(10);
            const auto count = static_cast<uint16_t>(kind == 0 ? 0 : kind < 3 ? 65535 : 1 + pick(24));
            Bytes data(std::array<size_t, 5>{0, 3, 16, 40, 1024}[pick(5)]);
            for (uint8_t& b : data) b = pick(4) == 0 ? static_cast<uint8_t>(pick(3)) : static_cast<uint8_t>(rng());
            appendRecord(image, pool[pick(static_cast<uint32_t>(pool.size()))], count, data);
        }
        const size_t soupEnd = image.size();
        for (size_t t = 0; t < 100; ++t) {
            const uint32_t kind = pick(8);
            uint32_t off = 0;  // absent
            if (kind < 5) off = static_cast<uint32_t>(boundaries[pick(static_cast<uint32_t>(boundaries.size()))]);
            if (kind == 5 || kind == 6) off = static_cast<uint32_t>(soup + pick(static_cast<uint32_t>(soupEnd - soup)));
            fixture::patchLe32(image, 0x20 + 4 * t, off);
        }
        if (pick(2) == 0) image.resize(image.size() - pick(static_cast<uint32_t>(soupEnd - soup) / 2));
        open(image);
        for (int32_t t = 100; t < 116; ++t) expectLikeTheWalk(t, {9, 9, 9, 9});
        for (int q = 0; q < 400; ++q) {
            const Id id = pick(20) == 0 ? Id{9, 9, 9, 9} : pool[pick(static_cast<uint32_t>(pool.size()))];
            expectLikeTheWalk(static_cast<int32_t>(pick(100)), id, static_cast<int32_t>(pick(1100)));
            if (HasFatalFailure()) return;
        }
    }
}

}  // namespace
