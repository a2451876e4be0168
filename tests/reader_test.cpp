#include <gtest/gtest.h>
#include <imgpry/disk_image.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "image_builder.h"
#include "test_util.h"

using fixture::Bytes;
using fixture::Disk;
using fixture::FileSystemDisk;
using fixture::Sector;

namespace {

// A track of five 1024-byte sectors R = 1..5 whose data is filled with
// fill + R, so every sector is recognisable.
std::vector<Sector> track5(uint8_t c, uint8_t h, uint8_t fill = 0x10) {
    std::vector<Sector> records;
    for (uint8_t r = 1; r <= 5; ++r) records.push_back(fixture::sector(c, h, r, 3, static_cast<uint8_t>(fill + r)));
    return records;
}

Disk namedDisk(const std::string& name, uint8_t mediaType) {
    Disk d;
    d.name = name;
    d.mediaType = mediaType;
    return d;
}

// Where a test's image bytes come from: a file, or the test's own memory.
enum class Source { kFile, kMemory };

class ReaderBase : public ::testing::Test {
protected:
    virtual Source source() const { return Source::kFile; }
    // Opens bytes written to a scratch file, or held in memory.
    bool openBytes(const Bytes& bytes) {
        if (source() == Source::kMemory) {
            held = bytes;
            return img->openMemory(held.data(), held.size());
        }
        const std::string path = dir.file("image.d88");
        EXPECT_TRUE(fixture::writeFile(path, bytes));
        return img->open(path.c_str());
    }
    void openDisk(const Disk& d) {
        ASSERT_TRUE(openBytes(d.build()));
        ASSERT_TRUE(img->selectDisk(0));
    }

    testutil::TempDir dir;
    Bytes held;
    // The reader is large; keep it off the stack.
    std::unique_ptr<imgpry::DiskImage> img = std::make_unique<imgpry::DiskImage>();
    std::array<uint8_t, 16384> buf{};
};

// Every case here runs twice: reading a file and reading memory.
class ReaderTest : public ReaderBase, public ::testing::WithParamInterface<Source> {
protected:
    Source source() const override { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Sources, ReaderTest, ::testing::Values(Source::kFile, Source::kMemory),
                         [](const ::testing::TestParamInfo<Source>& p) {
                             return p.param == Source::kFile ? std::string("File") : std::string("Memory");
                         });

// Cases about files as such: paths, sizes past 2 GiB, a file that changes.
using FileReaderTest = ReaderBase;

// ---- container and disk selection ----

TEST_F(FileReaderTest, MemoryCutByAFailedReadFailsPastItsEnd) {
    // The bytes of a pipe whose read failed halfway through a sector: the
    // rest of that sector is an error, not a short sector of the image.
    Disk d;
    d.tracks[0] = track5(0, 0);
    Bytes bytes = d.build();
    const uint32_t end = fixture::trackOffset(bytes, 0) + 16 + 300;
    bytes.resize(end);
    ASSERT_TRUE(img->openMemory(bytes.data(), bytes.size(), EIO));
    ASSERT_TRUE(img->selectDisk(0));
    EXPECT_EQ(img->readSector(0, 0, 0, 1, 3, buf.data(), 1024), 300);
    EXPECT_EQ(img->readError(), EIO);
    EXPECT_EQ(img->diskBeyondOffsetBound(), -1);
    // Without an error the same bytes simply end.
    ASSERT_TRUE(img->openMemory(bytes.data(), bytes.size()));
    ASSERT_TRUE(img->selectDisk(0));
    EXPECT_EQ(img->readSector(0, 0, 0, 1, 3, buf.data(), 1024), 300);
    EXPECT_EQ(img->readError(), 0);
}

TEST_P(ReaderTest, FreshReaderHasNoDiskAndRefusesEverything) {
    EXPECT_EQ(img->diskCount(), 0);
    EXPECT_EQ(img->mediaType(), -1);
    EXPECT_STREQ(img->diskName(), "");
    EXPECT_FALSE(img->selectDisk(0));
    EXPECT_EQ(img->readSector(0, 0, 0, 1, 3, buf.data(), 1024), 0);
    EXPECT_EQ(img->readTrackIds(0, buf.data(), 64), 0);
}

TEST_P(ReaderTest, IndexesDisksInFileOrderAndIgnoresATrailingFragment) {
    Bytes image = fixture::container({namedDisk("FIRST", 0x10).build(), namedDisk("SECOND", 0x20).build()});
    image.insert(image.end(), 687, 0xAA);  // one byte short of a header
    ASSERT_TRUE(openBytes(image));
    EXPECT_EQ(img->diskCount(), 2);

    ASSERT_TRUE(img->selectDisk(1));
    EXPECT_STREQ(img->diskName(), "SECOND");
    EXPECT_EQ(img->mediaType(), 0x20);
    ASSERT_TRUE(img->selectDisk(0));
    EXPECT_STREQ(img->diskName(), "FIRST");
    EXPECT_EQ(img->mediaType(), 0x10);

    // An index outside the disks drops the selection.
    for (int32_t bad : {2, -1}) {
        ASSERT_TRUE(img->selectDisk(0));
        EXPECT_FALSE(img->selectDisk(bad));
        EXPECT_STREQ(img->diskName(), "");
        EXPECT_EQ(img->mediaType(), -1);
    }
}

TEST_P(ReaderTest, ScanCountsDisksByTheirSizeFields) {
    struct Case {
        const char* what;
        Bytes image;
        int32_t count;
        bool more;  // a whole header where the 65th disk would start
    };
    std::vector<Bytes> many(70, Disk{}.build());
    std::vector<Bytes> exactly(64, Disk{}.build());
    Bytes fragmentAfter64 = fixture::container(exactly);
    fragmentAfter64.resize(fragmentAfter64.size() + 687, 0);
    Disk zero;
    zero.sizeField = 0;  // every slot finds the same header again
    Disk small = namedDisk("OUTER", 0);
    small.sizeField = 0x10;                    // the next header starts inside this one
    small.trackOffsetOverrides[3] = 0x100000;  // ... and its own size field points past the end
    Bytes smallImage = small.build();
    smallImage.resize(0x10 + 688, 0);
    Disk huge;
    huge.sizeField = 0x80000000U;  // would carry the next offset past 2^31-1
    Bytes hugeThenMore = fixture::container({huge.build(), Disk{}.build()});
    std::vector<Case> cases = {
        {"empty file", {}, 0, false},
        {"shorter than a header", Bytes(687, 0), 0, false},
        {"a bare header", Disk{}.build(), 1, false},
        {"more than 64 disks", fixture::container(many), 64, true},
        {"exactly 64 disks and a fragment", fragmentAfter64, 64, false},
        {"size field 0", zero.build(), 64, true},
        {"size field inside the header", smallImage, 2, false},
        {"size field of 2^31", hugeThenMore, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(openBytes(c.image));
        EXPECT_EQ(img->diskCount(), c.count);
        EXPECT_EQ(img->hasMoreDisks(), c.more);
    }
    img->close();
    EXPECT_FALSE(img->hasMoreDisks());
}

TEST_F(FileReaderTest, ScanStopsBeforeOffsetsPassTwoToTheThirtyFirst) {
    // Disk 1 starts just below 2^31 and its size carries the next offset past
    // 2^31 - 1: it is the last disk indexed, though a header follows.
    Disk zeroth;
    zeroth.sizeField = 0x7FFFFF00U;
    Disk first = namedDisk("FAR", 0);
    first.sizeField = 0x200;
    first.trackOffsetOverrides[0] = 0x100;  // its track lies past 2^31 in the file
    Bytes firstBytes = first.build();
    Bytes record = fixture::sector(0, 0, 1, 0, 0x42).data;
    fixture::patch(firstBytes, 0x100, {0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 128, 0});
    fixture::patch(firstBytes, 0x110, record);
    const std::string path = dir.file("large.d88");
    ASSERT_TRUE(
        fixture::writeSparse(path, {{0, zeroth.build()}, {0x7FFFFF00U, firstBytes}, {0x80000100U, Disk{}.build()}}));
    ASSERT_TRUE(img->open(path.c_str()));
    EXPECT_EQ(img->diskCount(), 2);
    EXPECT_EQ(img->diskBeyondOffsetBound(), 2);  // the header at 0x80000100 is not read, and that is known
    ASSERT_TRUE(img->selectDisk(1));
    EXPECT_STREQ(img->diskName(), "FAR");
    ASSERT_EQ(img->readSector(0, 0, 0, 1, 0, buf.data(), 128), 128);
    EXPECT_EQ(buf[127], 0x42);
}

TEST_P(ReaderTest, NameOfSixteenBytesIsTerminatedAndShorterNamesStopAtNul) {
    Bytes a = namedDisk("ABCDEFGHIJKLMNOP", 0).build();
    Bytes b = namedDisk("", 0).build();
    fixture::patch(b, 0, {'X', 'Y', 0, 'Z'});
    ASSERT_TRUE(openBytes(fixture::container({a, b})));
    ASSERT_TRUE(img->selectDisk(0));
    EXPECT_STREQ(img->diskName(), "ABCDEFGHIJKLMNOP");
    ASSERT_TRUE(img->selectDisk(1));
    EXPECT_STREQ(img->diskName(), "XY");
}

TEST_F(FileReaderTest, OpenFailsOnMissingFilesAndDirectories) {
    EXPECT_FALSE(img->open(dir.file("missing.d88").c_str()));
    EXPECT_FALSE(img->open(dir.path().string().c_str()));
    EXPECT_EQ(img->diskCount(), 0);
    EXPECT_FALSE(img->selectDisk(0));
}

TEST_P(ReaderTest, CloseKeepsTheLastNameButEndsSectorAccess) {
    Disk d = namedDisk("KEPT", 7);
    d.tracks[0] = track5(0, 0);
    openDisk(d);
    ASSERT_EQ(img->readSector(0, 0, 0, 1, 3, buf.data(), 1024), 1024);

    EXPECT_TRUE(img->close());
    EXPECT_EQ(img->diskCount(), 0);
    EXPECT_EQ(img->mediaType(), -1);
    EXPECT_FALSE(img->selectDisk(0));
    EXPECT_STREQ(img->diskName(), "KEPT");
    EXPECT_EQ(img->readSector(0, 0, 0, 1, 3, buf.data(), 1024), 0);
    EXPECT_EQ(img->readSectors(0, 0, 0, 1, 3, buf.data(), 1024), 0);
    EXPECT_EQ(img->readTrackIds(0, buf.data(), 64), 0);
    EXPECT_TRUE(img->open(nullptr));
}

TEST_P(ReaderTest, OpenAgainReplacesTheImage) {
    ASSERT_TRUE(openBytes(fixture::container({Disk{}.build(), Disk{}.build()})));
    EXPECT_EQ(img->diskCount(), 2);
    const std::string other = dir.file("other.d88");
    ASSERT_TRUE(fixture::writeFile(other, namedDisk("OTHER", 0).build()));
    ASSERT_TRUE(img->open(other.c_str()));
    EXPECT_EQ(img->diskCount(), 1);
    ASSERT_TRUE(img->selectDisk(0));
    EXPECT_STREQ(img->diskName(), "OTHER");
}

TEST_F(FileReaderTest, SelectDiskFailsWhenTheHeaderIsNoLongerThere) {
    const std::string path = dir.file("shrinking.d88");
    // The first disk is large enough that the second header is not still
    // held in a read buffer.
    ASSERT_TRUE(
        fixture::writeFile(path, fixture::container({FileSystemDisk(164, "A").build(), namedDisk("B", 0).build()})));
    ASSERT_TRUE(img->open(path.c_str()));
    ASSERT_TRUE(img->selectDisk(0));
    ASSERT_TRUE(fixture::writeFile(path, Bytes(1000, 0)));  // the file shrinks under the reader
    EXPECT_FALSE(img->selectDisk(1));
    EXPECT_STREQ(img->diskName(), "");
    EXPECT_EQ(img->mediaType(), -1);
}

// ---- sector access ----

TEST_P(ReaderTest, ReadSectorCopiesAtMostMaxLen) {
    Disk d;
    d.tracks[0] = track5(0, 0);
    openDisk(d);
    EXPECT_EQ(img->readSector(0, 0, 0, 3, 3, buf.data(), 100), 100);
    EXPECT_EQ(buf[99], 0x13);
    EXPECT_EQ(buf[100], 0x00);
    EXPECT_EQ(img->readSector(0, 0, 0, 5, 3, buf.data(), 5000), 1024);
    EXPECT_EQ(buf[1023], 0x15);
    EXPECT_EQ(img->readSector(0, 0, 0, 6, 3, buf.data(), 1024), 0);  // no such R
    EXPECT_EQ(img->readSector(0, 0, 0, 1, 2, buf.data(), 1024), 0);  // N differs
}

TEST_P(ReaderTest, TrackLookupRejectsAbsentAndOutOfRangeTracks) {
    Disk d;
    d.tracks[0] = track5(0, 0);
    d.tracks[1] = track5(0, 1);
    d.tracks[2] = track5(1, 0);
    d.trackOffsetOverrides[1] = 0x7FFFFFFF;  // beyond the disk's size
    d.trackOffsetOverrides[2] = 0x80000010;  // negative as a signed value
    openDisk(d);
    for (int32_t t : {-1, 1, 2, 3, 163, 164}) {
        SCOPED_TRACE(t);
        EXPECT_EQ(img->readSector(t, 0, 0, 1, 3, buf.data(), 1024), 0);
        EXPECT_EQ(img->readTrackIds(t, buf.data(), 64), 0);
    }
}

TEST_P(ReaderTest, TrackOffsetEqualToTheDiskSizeIsStillRead) {
    // The record found there is the first bytes of the next disk's header.
    Disk d;
    d.tracks[0] = track5(0, 0);
    Bytes first = d.build();
    const uint32_t size = static_cast<uint32_t>(first.size());
    fixture::patchLe32(first, 0x20, size);
    Bytes second = Disk{}.build();
    fixture::patch(second, 0, {7, 0, 1, 3, 1, 0});
    fixture::patchLe16(second, 14, 4);
    ASSERT_TRUE(openBytes(fixture::container({first, second})));
    ASSERT_TRUE(img->selectDisk(0));
    EXPECT_EQ(img->readSector(0, 7, 0, 1, 3, buf.data(), 1024), 4);
}

TEST_P(ReaderTest, DiskSizeOfTwoToTheThirtyFirstLeavesEveryTrackAbsent) {
    Disk d;
    d.tracks[0] = track5(0, 0);
    d.sizeField = 0x80000000U;
    openDisk(d);
    EXPECT_EQ(img->readSector(0, 0, 0, 1, 3, buf.data(), 1024), 0);
}

TEST_P(ReaderTest, WalkFindsTheFirstMatchWithinTrackTOnly) {
    Disk d;
    d.tracks[0] = track5(0, 0);
    d.tracks[0][3] = fixture::sector(0, 0, 2, 3, 0xEE);        // a second R = 2, after the first
    d.tracks[0].push_back(fixture::sector(9, 1, 7, 3, 0x77));  // C/H unlike the track's own
    d.tracks[1] = track5(0, 1, 0x40);
    openDisk(d);
    ASSERT_EQ(img->readSector(0, 0, 0, 2, 3, buf.data(), 1024), 1024);
    EXPECT_EQ(buf[0], 0x12);
    ASSERT_EQ(img->readSector(0, 9, 1, 7, 3, buf.data(), 1024), 1024);
    EXPECT_EQ(buf[0], 0x77);
    EXPECT_EQ(img->readSector(1, 9, 1, 7, 3, buf.data(), 1024), 0);
    EXPECT_EQ(img->readSector(0, 0, 1, 1, 3, buf.data(), 1024), 0);  // that ID lives on track 1
}

TEST_P(ReaderTest, SectorCountsEndTheWalk) {
    struct Case {
        const char* what;
        std::vector<std::optional<uint16_t>> counts;  // per record; nullopt keeps the track's count
        uint8_t wanted;
        int32_t result;
    };
    const std::vector<Case> cases = {
        {"first header has count 0", {0, {}, {}, {}, {}}, 1, 0},
        {"count 0 hides later records", {{}, {}, 0, {}, {}}, 4, 0},
        {"count 0 on the wanted record", {{}, {}, 0, {}, {}}, 3, 0},
        {"record i with count i+1 ends the walk", {{}, 2, {}, {}, {}}, 3, 0},
        {"the ending record itself is still compared", {{}, 2, {}, {}, {}}, 2, 1024},
        {"count larger than the records runs on", {9, 9, 9, 9, 9}, 5, 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Disk d;
        d.tracks[0] = track5(0, 0);
        for (size_t i = 0; i < c.counts.size(); ++i) d.tracks[0][i].count = c.counts[i];
        openDisk(d);
        EXPECT_EQ(img->readSector(0, 0, 0, c.wanted, 3, buf.data(), 1024), c.result);
    }
}

TEST_P(ReaderTest, WalkRunsIntoTheNextTrackWhenCountsDisagree) {
    Disk d;
    d.tracks[0] = track5(0, 0);
    for (auto& s : d.tracks[0]) s.count = 6;  // promises one record more than it holds
    d.tracks[1] = track5(0, 1, 0x40);
    openDisk(d);
    // The sixth record visited is track 1's first; as no later count ends
    // the walk, it goes on through track 1 and stops at the end of the file.
    ASSERT_EQ(img->readSector(0, 0, 1, 1, 3, buf.data(), 1024), 1024);
    EXPECT_EQ(buf[0], 0x41);
    ASSERT_EQ(img->readSector(0, 0, 1, 5, 3, buf.data(), 1024), 1024);
    EXPECT_EQ(buf[0], 0x45);
    EXPECT_EQ(img->readSector(0, 0, 1, 6, 3, buf.data(), 1024), 0);
}

TEST_P(ReaderTest, WalkStopsAfter65535Records) {
    // Counts that never equal i + 1 would let the walk run on forever.
    Disk d;
    auto& records = d.tracks[0];
    records.resize(65537);
    for (size_t i = 0; i < records.size(); ++i) {
        records[i].c = 0xFF;
        records[i].count = i == 0 ? 2 : 1;
    }
    records[65534] = fixture::sector(0, 0, 1, 3, 0xA1);
    records[65534].count = 1;
    records[65535] = fixture::sector(0, 0, 2, 3, 0xA2);
    records[65535].count = 1;
    openDisk(d);
    EXPECT_EQ(img->readSector(0, 0, 0, 1, 3, buf.data(), 1024), 1024);  // record 65,535
    EXPECT_EQ(img->readSector(0, 0, 0, 2, 3, buf.data(), 1024), 0);     // record 65,536
    EXPECT_EQ(img->readTrackIds(0, buf.data(), 4 * 10), 40);
}

TEST_P(ReaderTest, TruncatedImageEndsTheWalk) {
    Disk d;
    d.tracks[0] = track5(0, 0);
    for (auto& s : d.tracks[0]) s.count = 9;  // the walk would go on past the file's end
    const Bytes whole = d.build();
    const size_t track = fixture::trackOffset(whole, 0);
    struct Case {
        const char* what;
        size_t keep;
        uint8_t wanted;
        int32_t result;
    };
    const std::vector<Case> cases = {
        {"all five records, walk runs off the end", whole.size(), 9, 0},
        {"header of record 3 cut short", track + 2 * 1040 + 10, 3, 0},
        {"data of record 3 cut short", track + 2 * 1040 + 16 + 300, 3, 300},
        {"data of record 3 gone", track + 2 * 1040 + 16, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(openBytes(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(c.keep))));
        ASSERT_TRUE(img->selectDisk(0));
        EXPECT_EQ(img->readSector(0, 0, 0, c.wanted, 3, buf.data(), 1024), c.result);
    }
    // A run stops at the short sector without counting it.
    ASSERT_TRUE(
        openBytes(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(track + 2 * 1040 + 16 + 300))));
    ASSERT_TRUE(img->selectDisk(0));
    EXPECT_EQ(img->readSectors(0, 0, 0, 1, 3, buf.data(), 5 * 1024), 2048);
    EXPECT_EQ(img->readTrackIds(0, buf.data(), 64), 12);
}

TEST_P(ReaderTest, RunsStepThroughTheSectorRangeAcrossTracks) {
    Disk d;
    for (int t = 0; t < 6; ++t)
        d.tracks[t] = track5(static_cast<uint8_t>(t >> 1), static_cast<uint8_t>(t & 1), static_cast<uint8_t>(0x10 * t));
    openDisk(d);
    img->setSectorRange(1, 5);

    // From R = 4 of track 1 (head 1): 4, 5, then track 2 (cylinder 1, head 0) 1..5, then track 3.
    ASSERT_EQ(img->readSectors(1, 0, 1, 4, 3, buf.data(), 8 * 1024), 8 * 1024);
    const std::vector<uint8_t> firstBytes = {0x14, 0x15, 0x21, 0x22, 0x23, 0x24, 0x25, 0x31};
    for (size_t i = 0; i < firstBytes.size(); ++i) EXPECT_EQ(buf[i * 1024], firstBytes[i]) << i;

    // A remainder is read from the start of the next sector.
    buf.fill(0);
    ASSERT_EQ(img->readSectors(0, 0, 0, 5, 3, buf.data(), 1024 + 10), 1034);
    EXPECT_EQ(buf[1024 + 9], 0x11);
    EXPECT_EQ(buf[1024 + 10], 0x00);

    EXPECT_EQ(img->readSectors(0, 0, 0, 1, 3, buf.data(), 0), 0);
    // A range narrower than the track moves on early: R = 3 is last.
    img->setSectorRange(2, 3);
    ASSERT_EQ(img->readSectors(0, 0, 0, 3, 3, buf.data(), 3 * 1024), 3 * 1024);
    EXPECT_EQ(buf[1024], 0x12);  // track 1, R = 2
    EXPECT_EQ(buf[2048], 0x13);
    // Starting above the last sector the run never changes track.
    img->setSectorRange(1, 2);
    EXPECT_EQ(img->readSectors(0, 0, 0, 3, 3, buf.data(), 5 * 1024), 3 * 1024);
}

TEST_P(ReaderTest, ShortSectorEndsARunUncounted) {
    Disk d;
    d.tracks[0] = track5(0, 0);
    d.tracks[0][2].data.resize(512);  // R = 3 holds only half its bytes
    openDisk(d);
    img->setSectorRange(1, 5);
    EXPECT_EQ(img->readSectors(0, 0, 0, 1, 3, buf.data(), 5 * 1024), 2048);
    EXPECT_EQ(buf[2048 + 511], 0x13);  // copied, though not counted
    EXPECT_EQ(img->readSectors(0, 0, 0, 3, 3, buf.data(), 512), 512);
}

TEST_P(ReaderTest, ReadTrackIdsListsIdsInStoredOrder) {
    Disk d;
    d.tracks[0] = track5(0, 0);
    openDisk(d);
    struct Case {
        int32_t len;
        int32_t stored;
    };
    for (const Case& c : std::vector<Case>{{64, 20}, {8, 8}, {0, 0}, {6, 4}}) {
        SCOPED_TRACE(c.len);
        buf.fill(0xCC);
        EXPECT_EQ(img->readTrackIds(0, buf.data(), c.len), c.stored);
        for (int32_t i = 0; i < c.stored / 4; ++i) {
            EXPECT_EQ(buf[static_cast<size_t>(4 * i) + 2], i + 1);
            EXPECT_EQ(buf[static_cast<size_t>(4 * i) + 3], 3);
        }
        EXPECT_EQ(buf[static_cast<size_t>(c.stored)], 0xCC);
    }
    // A count of 0 does not end the listing.
    d.tracks[0][0].count = 0;
    d.tracks[0][4].count = 0;
    d.tracks[1] = track5(0, 1);
    openDisk(d);
    EXPECT_EQ(img->readTrackIds(0, buf.data(), 28), 28);
    EXPECT_EQ(buf[20], 0);  // track 1's first record: C 0, H 1, R 1
    EXPECT_EQ(buf[21], 1);
    EXPECT_EQ(buf[22], 1);
}

TEST_P(ReaderTest, FieldsAreLittleEndian) {
    Disk d;
    Sector big = fixture::sector(0, 0, 1, 6, 0x5A);  // 8192 bytes: data size 0x2000
    d.tracks[0] = {big, fixture::sector(0, 0, 2, 3, 0x33)};
    d.tracks[0][0].count = 0x0102;  // high byte set: count 258
    d.tracks[0][1].count = 0x0102;
    openDisk(d);
    EXPECT_EQ(img->readSector(0, 0, 0, 1, 6, buf.data(), 16384), 8192);
    EXPECT_EQ(img->readSector(0, 0, 0, 2, 3, buf.data(), 1024), 1024);
    EXPECT_EQ(buf[0], 0x33);
}

TEST_P(ReaderTest, ReadsRealImagesWrittenByOtherTools) {
    const std::string data = testutil::hostPath(IMGPRY_TEST_DATA);
    const std::string hu = data + "/real-d88/HuBASIC_Format_2D.d88";
    const std::string cpm = data + "/real-d88/CPM_Format_2D_turboCPM_X1turbo.d88";
    ASSERT_TRUE(img->open(hu.c_str()));
    ASSERT_EQ(img->diskCount(), 1);
    ASSERT_TRUE(img->selectDisk(0));
    EXPECT_STREQ(img->diskName(), "by_github_ORYZAP");
    EXPECT_EQ(img->mediaType(), 0);
    for (int32_t t : {0, 1, 79}) {
        SCOPED_TRACE(t);
        ASSERT_EQ(img->readTrackIds(t, buf.data(), 256), 64);
        for (int32_t i = 0; i < 16; ++i) {
            EXPECT_EQ(buf[static_cast<size_t>(4 * i)], t >> 1);
            EXPECT_EQ(buf[static_cast<size_t>(4 * i) + 1], t & 1);
            EXPECT_EQ(buf[static_cast<size_t>(4 * i) + 2], i + 1);
            EXPECT_EQ(buf[static_cast<size_t>(4 * i) + 3], 1);
        }
    }
    EXPECT_EQ(img->readTrackIds(80, buf.data(), 256), 0);
    img->setSectorRange(1, 16);
    EXPECT_EQ(img->readSectors(0, 0, 0, 1, 1, buf.data(), 40 * 256), 40 * 256);

    // Both real disks in one container, with one of ours between them.
    const Bytes mixed =
        fixture::container({fixture::readFile(hu), FileSystemDisk(4, "OURS").build(), fixture::readFile(cpm)});
    ASSERT_TRUE(openBytes(mixed));
    ASSERT_EQ(img->diskCount(), 3);
    ASSERT_TRUE(img->selectDisk(1));
    EXPECT_STREQ(img->diskName(), "OURS");
    ASSERT_TRUE(img->selectDisk(2));
    EXPECT_STREQ(img->diskName(), "");
    EXPECT_EQ(img->readSector(79, 39, 1, 16, 1, buf.data(), 256), 256);
}

}  // namespace

namespace {

// What a record says of itself reaches the caller, for the record a search
// finds; the track's records come in the order a search walks them.
// A run of sectors the reader already holds reads as sector by sector
// reads would, and stops before the first one it cannot give whole.
TEST_P(ReaderTest, HeldSectorsReadAsSectorBySectorAndStopAtTheFirstThatFallsShort) {
    Disk d;
    d.tracks[0] = track5(0, 0);
    d.tracks[0][1].status = 0xB0;
    Sector laterTwo = fixture::sector(0, 0, 2, 3, 0xEE);  // a second R = 2: never the one read
    d.tracks[0].push_back(laterTwo);
    d.tracks[0][3].dataSize = 512;  // R = 4 holds half its chunk
    d.tracks[0][3].data.resize(512);
    for (Sector& s : d.tracks[0]) s.count = 6;
    d.tracks[1] = track5(0, 1, 0x40);
    openDisk(d);
    img->setSectorRange(1, 5);
    imgpry::SectorRecord records[8];
    std::array<uint8_t, 8192> one{};
    // Nothing is held before the track is walked.
    EXPECT_EQ(img->readHeldSectors(0, 0, 0, 1, 3, buf.data(), 5120, records, 8), 0);
    ASSERT_EQ(img->readSector(0, 0, 0, 5, 3, one.data(), 1024), 1024);

    struct Case {
        const char* what;
        uint8_t r;
        int32_t total;
        int32_t max;
        int32_t sectors;
    };
    const Case cases[] = {
        {"up to the short sector", 1, 5120, 8, 3},
        {"a total that ends within a chunk", 1, 1500, 8, 2},
        {"at most max", 1, 5120, 2, 2},
        {"a short sector that holds what is wanted", 4, 512, 8, 1},
        {"the range's last sector ends it", 5, 5120, 8, 1},
        {"a sector the track lacks", 6, 1024, 8, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        buf.fill(0);
        const int32_t k = img->readHeldSectors(0, 0, 0, c.r, 3, buf.data(), c.total, records, c.max);
        ASSERT_EQ(k, c.sectors);
        EXPECT_EQ(img->readError(), 0);
        for (int32_t i = 0; i < k; ++i) {
            const int32_t want = c.total - i * 1024 < 1024 ? c.total - i * 1024 : 1024;
            imgpry::SectorRecord rec;
            one.fill(0);
            ASSERT_EQ(img->readSector(0, 0, 0, c.r + i, 3, one.data(), want, rec), want);
            EXPECT_TRUE(std::equal(one.begin(), one.begin() + want, buf.begin() + i * 1024));
            EXPECT_EQ(records[i].r, rec.r);
            EXPECT_EQ(records[i].status, rec.status);
            EXPECT_EQ(records[i].dataSize, rec.dataSize);
        }
    }
    // The first R = 2 is the one read, with its mark.
    ASSERT_EQ(img->readHeldSectors(0, 0, 0, 2, 3, buf.data(), 1024, records, 8), 1);
    EXPECT_EQ(buf[0], 0x12);
    EXPECT_EQ(records[0].status, 0xB0);
    // The range set ends a run before its own last sector.
    img->setSectorRange(1, 2);
    EXPECT_EQ(img->readHeldSectors(0, 0, 0, 1, 3, buf.data(), 5120, records, 8), 2);
    // Another track is its own: not held until it is walked.
    EXPECT_EQ(img->readHeldSectors(1, 0, 1, 1, 3, buf.data(), 1024, records, 8), 0);
}

TEST_P(ReaderTest, RecordsTellTheirStatusMarkAndDensity) {
    Disk d = namedDisk("MARKS", 0x10);
    d.tracks[2] = track5(1, 0);
    d.tracks[2][1].status = 0xB0;
    d.tracks[2][1].density = 0x40;
    d.tracks[2][2].deleted = 0x10;
    Sector laterTwo = d.tracks[2][1];
    laterTwo.status = 0xA0;
    d.tracks[2].push_back(laterTwo);
    for (Sector& s : d.tracks[2]) s.count = 6;
    Bytes image = d.build();
    image[0x1A] = 0x10;  // write-protected
    ASSERT_TRUE(openBytes(image));
    ASSERT_TRUE(img->selectDisk(0));
    EXPECT_EQ(img->writeProtect(), 0x10);
    EXPECT_EQ(img->mediaType(), imgpry::DiskImage::kMedia2DD);
    EXPECT_EQ(img->diskSizeField(), image.size());
    EXPECT_EQ(img->diskOffsetOf(0), 0);
    EXPECT_EQ(img->diskOffsetOf(1), -1);
    EXPECT_EQ(img->trackOffset(2), fixture::trackOffset(image, 2));
    EXPECT_EQ(img->trackOffset(3), -1);

    imgpry::SectorRecord rec;
    EXPECT_EQ(img->readSector(2, 1, 0, 2, 3, buf.data(), 1024, rec), 1024);
    EXPECT_EQ(rec.status, 0xB0);  // the first sector 2, not the later one
    EXPECT_EQ(rec.density, 0x40);
    EXPECT_EQ(rec.deleted, 0);
    EXPECT_EQ(rec.dataSize, 1024);
    EXPECT_EQ(rec.count, 6);
    EXPECT_EQ(img->readSector(2, 1, 0, 3, 3, buf.data(), 1024, rec), 1024);
    EXPECT_EQ(rec.status, 0);
    EXPECT_EQ(rec.deleted, 0x10);
    EXPECT_EQ(img->readError(), 0);

    imgpry::SectorRecord records[8];
    bool more = false;
    ASSERT_EQ(img->readTrackRecords(2, records, 8, more), 6);
    EXPECT_FALSE(more);
    EXPECT_EQ(records[5].r, 2);
    EXPECT_EQ(records[5].status, 0xA0);
    ASSERT_EQ(img->readTrackRecords(2, records, 4, more), 4);
    EXPECT_TRUE(more);
    EXPECT_EQ(img->readTrackRecords(3, records, 8, more), 0);
}

TEST_P(ReaderTest, TrackRecordsStopWhereASearchStops) {
    Disk d = namedDisk("STOPS", 0);
    d.tracks[0] = track5(0, 0);
    d.tracks[0][3].count = 0;  // a search never looks past a count of 0
    d.tracks[1] = track5(0, 1);
    for (Sector& s : d.tracks[1]) s.count = 2;  // record 1 has count 2: the walk ends after it
    openDisk(d);
    imgpry::SectorRecord records[8];
    bool more = true;
    EXPECT_EQ(img->readTrackRecords(0, records, 8, more), 3);
    EXPECT_FALSE(more);
    EXPECT_EQ(img->readTrackRecords(1, records, 8, more), 2);
    EXPECT_EQ(img->readTrackRecords(1, records, 2, more), 2);
    EXPECT_FALSE(more);  // the walk ends there anyway
}

}  // namespace
