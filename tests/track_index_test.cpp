// Pins the indexed sector lookup to the literal walk over a track's records:
// every read through DiskImage must deliver what walking the records from
// the track's start, record by record, would deliver.
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

uint32_t le16(const Bytes& b, size_t p) { return static_cast<uint32_t>(b[p]) | static_cast<uint32_t>(b[p + 1]) << 8U; }

// The walk as a reference: from the record at start, stop at a count of 0,
// after record i whose count is i + 1, at the end of the bytes, or after
// 65,535 records; the first record with the ID wins.
int32_t walkReadSector(const Bytes& image, size_t start, const std::array<uint8_t, 4>& id, int32_t maxLen,
                       uint8_t* out) {
    size_t pos = start;
    for (int32_t i = 0; i < 65535; ++i) {
        if (pos + 16 > image.size()) return 0;
        const auto count = static_cast<int32_t>(le16(image, pos + 4));
        if (count == 0) return 0;
        const size_t dataSize = le16(image, pos + 14);
        if (std::equal(id.begin(), id.end(), image.begin() + static_cast<std::ptrdiff_t>(pos))) {
            const size_t want = std::min<size_t>(dataSize, static_cast<size_t>(maxLen));
            const size_t have = pos + 16 > image.size() ? 0 : std::min(want, image.size() - pos - 16);
            std::memcpy(out, image.data() + pos + 16, have);
            return static_cast<int32_t>(have);
        }
        pos += 16 + dataSize;
        if (i == count - 1) return 0;
    }
    return 0;
}

class TrackIndexTest : public ::testing::Test {
protected:
    void open(const Bytes& image) {
        bytes = image;
        const std::string path = dir.file("image.d88");
        ASSERT_TRUE(fixture::writeFile(path, image));
        ASSERT_TRUE(img->open(path.c_str()));
        ASSERT_TRUE(img->selectDisk(0));
    }
    // Reads id from track t and checks the result and the bytes against the
    // walk from that track's start.
    void expectLikeTheWalk(int32_t t, const std::array<uint8_t, 4>& id, int32_t maxLen = 2048) {
        SCOPED_TRACE(testing::Message() << "track " << t << " id " << int{id[0]} << "," << int{id[1]} << ","
                                        << int{id[2]} << "," << int{id[3]});
        std::vector<uint8_t> want(4096, 0xCC);
        std::vector<uint8_t> got(4096, 0xCC);
        const int32_t expected = walkReadSector(bytes, fixture::trackOffset(bytes, t), id, maxLen, want.data());
        ASSERT_EQ(img->readSector(t, id[0], id[1], id[2], id[3], got.data(), maxLen), expected);
        EXPECT_EQ(got, want);
    }

    testutil::TempDir dir;
    std::unique_ptr<imgpry::DiskImage> img = std::make_unique<imgpry::DiskImage>();
    Bytes bytes;
};

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

TEST_F(TrackIndexTest, RandomChainsReadLikeTheWalk) {
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

TEST_F(TrackIndexTest, AMatchBeyondACountOfZeroIsFoundOnlyFromALaterStart) {
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

TEST_F(TrackIndexTest, TracksSharingOneChainAndTheCap) {
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

TEST_F(TrackIndexTest, SelectingAnotherDiskOrReopeningReadsThatDisk) {
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

}  // namespace
