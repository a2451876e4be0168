// Writes the benchmark images:
//   full: 64 disks of 164 tracks, 127 files on each (1 to 12 KiB, names
//         unique across the container), laid out from track 2 on;
//   walk: one disk whose 164 track offsets all point at one chain of 64,715
//         empty records followed by the 820 real sectors of all tracks,
//         every record carrying the count 65,535, with a directory of 128
//         files of 255 sectors each;
//   walkref: the same file system as walk, laid out plainly, whose
//         extraction is the reference for walk's;
//   worst: walk, but track t starts at the chain's record t, so that no two
//         tracks share a walk and a literal walk costs 65,535 records for
//         every sector;
//   worstids: worst, with an ID of its own on every empty record, so that a
//         per-walk index has 65,535 entries to hold;
//   nested: 64 disks in one chain of 65,535 records: the header of disk
//         k + 1 is the data of a record of the chain, disk k's size field
//         reaches it, and disk k's 164 track starts are the 164 records
//         after its header (10,496 starts into one chain); every disk lists
//         the same 128 files as walk;
//   worstids64: 64 copies of worstids back to back;
//   fat12 OUTPUT RAW...: the raw PC-98 2HD FAT12 images (77 × 2 × 8
//         sectors of 1024 bytes, bench/run writes them with mtools) as
//         the disks of one container;
//   fatcrafted: one PC-98 2HD FAT12 disk made to cost its reader: every
//         cluster links to the next and the last back to the first (one
//         chain of all 1,221 clusters, then a loop), 32 files that start
//         it with a size past the disk, and folders within folders deeper
//         than the reader follows, each the next cluster of the chain.
//   chains20, chains60: tracks 0..N-1 present (N = 20 or 60), each its own
//         chain of 65,535 records: 65,530 empty records, then the track's
//         five real sectors, every count 65,535; the 128 files of 255
//         sectors start on tracks 2..N-1 in turn, so every run ends at the
//         first absent track (about 21 and 63 MB: more records than the
//         index holds, each track's chain apart from the others);
//   chainsids60: chains60 with an ID of its own on every empty record of
//         a chain, so that nothing of a chain's IDs repeats;
//   chainsref20, chainsref60: the same file system laid out plainly, with
//         the same tracks present, whose extraction is the reference.
// Contents are deterministic, so runs on different days compare.
#include <cstdio>
#include <cstring>
#include <string>

#include "image_builder.h"

using fixture::Bytes;
using fixture::Disk;
using fixture::FileSystemDisk;

namespace {

constexpr int kTracks = 164;
constexpr int kFilesPerDisk = 127;

Bytes fullCorpus() {
    std::vector<Bytes> disks;
    uint32_t rng = 12345;
    for (int d = 0; d < 64; ++d) {
        char diskName[17];
        std::snprintf(diskName, sizeof diskName, "BENCH %02d", d);
        FileSystemDisk disk(kTracks, diskName);
        int track = 2;
        int sector = 1;
        int free = (kTracks - 2) * 5;
        for (int f = 0; f < kFilesPerDisk; ++f) {
            rng = rng * 1103515245U + 12345U;
            int sectors = 1 + static_cast<int>((rng >> 16U) % 12U);
            const int reserve = kFilesPerDisk - f - 1;  // at least one sector for each file still to come
            if (sectors > free - reserve) sectors = free - reserve;
            char base[9];
            std::snprintf(base, sizeof base, "D%02dF%03d", d, f);
            disk.addFile(base, "BIN", track, sector,
                         fixture::pattern(static_cast<size_t>(sectors) * 1024, static_cast<uint32_t>(d * 1000 + f)));
            free -= sectors;
            const int linear = (track * 5 + sector - 1) + sectors;
            track = linear / 5;
            sector = linear % 5 + 1;
        }
        disks.push_back(disk.build());
    }
    return fixture::container(disks);
}

// Files start on tracks 2 .. 2 + startTracks - 1 in turn.
FileSystemDisk walkFileSystem(int startTracks = 100) {
    FileSystemDisk fs(kTracks, "WALK");
    // 128 files of 255 sectors (51 tracks) each; they overlap, which is fine
    // for a reader that only reads.
    for (int j = 0; j < 128; ++j) {
        char base[9];
        std::snprintf(base, sizeof base, "WALK%03d", j);
        const int track = 2 + j % startTracks;
        fs.setEntry(j, fixture::dirEntry(0x00, base, "BIN", static_cast<uint8_t>(track), 1, 255));
    }
    // Fill every real sector with a pattern of its own.
    for (int t = 0; t < kTracks; ++t) {
        if (t == 1) continue;  // the directory
        for (int r = 1; r <= 5; ++r) fs.poke(t, r, 0, fixture::pattern(1024, static_cast<uint32_t>(t * 8 + r)));
    }
    for (int r = 3; r <= 5; ++r) fs.poke(1, r, 0, fixture::pattern(1024, static_cast<uint32_t>(8 + r)));
    return fs;
}

constexpr int kChainRecords = 65535;
constexpr int kRealSectors = kTracks * 5;

// An empty record of the chain; with an ID of its own when distinctIds, one
// that no read of the tool asks for either way.
fixture::Sector emptyRecord(int i, bool distinctIds) {
    fixture::Sector s;
    s.c = distinctIds ? static_cast<uint8_t>(i >> 8) : 0xFF;
    s.h = distinctIds ? static_cast<uint8_t>(i) : 0xFF;
    s.r = 0xFF;
    s.n = 0xFE;
    s.count = 65535;
    return s;
}

void appendRealSectors(std::vector<fixture::Sector>& chain, const FileSystemDisk& fs) {
    for (int t = 0; t < kTracks; ++t) {
        for (fixture::Sector s : fs.tracks().at(t)) {
            s.count = 65535;
            chain.push_back(s);
        }
    }
}

Bytes nested() {
    constexpr size_t kDisks = 64;
    constexpr size_t kHeader = 0x2B0;
    const FileSystemDisk fs = walkFileSystem();
    // Disk 0's header, then the chain: for every disk 164 records (its
    // track starts), and after them a record whose data is the next disk's
    // header; then empty records and the real sectors.
    Disk first;
    first.name = "NEST 00";
    auto& chain = first.tracks[0];
    std::vector<size_t> startRecord(kDisks);  // chain index of each disk's track 0
    std::vector<size_t> hostRecord(kDisks);   // chain index of the record holding disk k's header
    for (size_t k = 0; k < kDisks; ++k) {
        if (k > 0) {
            hostRecord[k] = chain.size();
            fixture::Sector host = emptyRecord(0, false);
            host.data.assign(kHeader, 0);
            chain.push_back(host);
        }
        startRecord[k] = chain.size();
        for (int t = 0; t < kTracks; ++t) chain.push_back(emptyRecord(0, false));
    }
    while (static_cast<int>(chain.size()) < kChainRecords - kRealSectors) chain.push_back(emptyRecord(0, false));
    appendRealSectors(chain, fs);
    Bytes image = first.build();
    // Offsets of the chain's records in the image.
    std::vector<size_t> at;
    for (size_t pos = fixture::trackOffset(image, 0); at.size() < chain.size();
         pos += 16 + (image[pos + 14] | static_cast<size_t>(image[pos + 15]) << 8U)) {
        at.push_back(pos);
    }
    std::vector<size_t> diskAt(kDisks, 0);
    for (size_t k = 1; k < kDisks; ++k) diskAt[k] = at[hostRecord[k]] + 16;
    for (size_t k = 0; k < kDisks; ++k) {
        const size_t d = diskAt[k];
        if (k > 0) {
            char name[17];
            std::snprintf(name, sizeof name, "NEST %02zu", k);
            std::memcpy(image.data() + d, name, std::strlen(name));
        }
        const size_t next = k + 1 < kDisks ? diskAt[k + 1] : image.size();
        fixture::patchLe32(image, d + 0x1C, static_cast<uint32_t>(next - d));
        for (int t = 0; t < kTracks; ++t) {
            const size_t track = at[startRecord[k] + static_cast<size_t>(t)];
            fixture::patchLe32(image, d + 0x20 + 4 * static_cast<size_t>(t), static_cast<uint32_t>(track - d));
        }
    }
    return image;
}

Bytes walkHeavy(bool distinctStarts, bool distinctIds = false) {
    constexpr int kEmpty = kChainRecords - kRealSectors;
    const FileSystemDisk fs = walkFileSystem();
    // One chain: the empty records, then every track's real sectors.
    Disk disk;
    disk.name = "WALK";
    auto& chain = disk.tracks[0];
    for (int i = 0; i < kEmpty; ++i) chain.push_back(emptyRecord(i, distinctIds));
    appendRealSectors(chain, fs);
    Bytes image = disk.build();
    const uint32_t start = fixture::trackOffset(image, 0);
    for (int t = 1; t < kTracks; ++t) {
        const uint32_t offset = distinctStarts ? start + 16U * static_cast<uint32_t>(t) : start;
        fixture::patchLe32(image, 0x20 + 4 * static_cast<size_t>(t), offset);
    }
    return image;
}

Bytes fatCrafted() {
    constexpr size_t kBps = 1024;
    constexpr uint32_t kClusters = 1221;
    Bytes raw(1232 * kBps, 0);
    const Bytes bpb = {0xEB, 0x3C, 0x90, 'B', 'E', 'N',  'C',  'H',  ' ', ' ', ' ', 0x00, 0x04, 1,
                       1,    0,    2,    192, 0,   0xD0, 0x04, 0xFE, 2,   0,   8,   0,    2,    0};
    std::copy(bpb.begin(), bpb.end(), raw.begin());
    for (size_t copy = 0; copy < 2; ++copy) {
        const size_t fat = (1 + 2 * copy) * kBps;
        for (uint32_t c = 0; c < kClusters + 2; ++c) {
            const uint32_t link = c == 0 ? 0xFFE : c == 1 ? 0xFFF : c == kClusters + 1 ? 2 : c + 1;
            const size_t at = fat + c + c / 2;
            const uint32_t v = raw[at] | static_cast<uint32_t>(raw[at + 1]) << 8U;
            fixture::patchLe16(
                raw, at, static_cast<uint16_t>((c & 1U) != 0 ? (v & 0x000FU) | link << 4U : (v & 0xF000U) | link));
        }
    }
    const auto entry = [&](size_t at, const std::string& name11, uint8_t attr, uint32_t cluster, uint32_t size) {
        std::copy(name11.begin(), name11.end(), raw.begin() + static_cast<std::ptrdiff_t>(at));
        raw[at + 11] = attr;
        fixture::patchLe16(raw, at + 24, 0x5A21);
        fixture::patchLe16(raw, at + 26, static_cast<uint16_t>(cluster));
        fixture::patchLe32(raw, at + 28, size);
    };
    const size_t root = 5 * kBps;
    const size_t data = 11 * kBps;
    for (int f = 0; f < 32; ++f) {
        char name[12];
        std::snprintf(name, sizeof name, "LOOP%02d  BIN", f);
        entry(root + 32 * static_cast<size_t>(f), name, 0x20, 2, 2000000);
    }
    // Folder D at cluster 1000 holds D at 1001, and so on, 40 deep.
    entry(root + 32 * 32, "D          ", 0x10, 1000, 0);
    for (uint32_t k = 0; k < 40; ++k) {
        entry(data + (1000 + k - 2) * kBps, "D          ", 0x10, 1001 + k, 0);
    }
    return fixture::rawDisk(raw, 77, 2, 8, 3, "FAT CRAFTED").build();
}

// Tracks 0..present-1 of walk's file system, the rest absent.
FileSystemDisk chainsFileSystem(int present) {
    FileSystemDisk fs = walkFileSystem(present - 2);
    for (int t = present; t < kTracks; ++t) fs.disk().tracks.erase(t);
    return fs;
}

Bytes chains(int present, bool distinctIds = false) {
    constexpr int kEmpty = kChainRecords - 5;
    const FileSystemDisk fs = chainsFileSystem(present);
    Disk disk;
    disk.name = "CHAINS";
    for (int t = 0; t < present; ++t) {
        auto& chain = disk.tracks[t];
        for (int i = 0; i < kEmpty; ++i) chain.push_back(emptyRecord(i, distinctIds));
        for (fixture::Sector s : fs.tracks().at(t)) {
            s.count = 65535;
            chain.push_back(s);
        }
    }
    return disk.build();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "fat12") {
        std::vector<Bytes> disks;
        for (int i = 3; i < argc; ++i)
            disks.push_back(fixture::rawDisk(fixture::readFile(argv[i]), 77, 2, 8, 3).build());
        return fixture::writeFile(argv[2], fixture::container(disks)) ? 0 : 1;
    }
    const std::string kind = argc == 3 ? argv[1] : "";
    Bytes image;
    if (kind == "fatcrafted") {
        image = fatCrafted();
    } else if (kind == "full") {
        image = fullCorpus();
    } else if (kind == "walk") {
        image = walkHeavy(false);
    } else if (kind == "worst") {
        image = walkHeavy(true);
    } else if (kind == "worstids") {
        image = walkHeavy(true, true);
    } else if (kind == "nested") {
        image = nested();
    } else if (kind == "worstids64") {
        const Bytes one = walkHeavy(true, true);
        image = fixture::container(std::vector<Bytes>(64, one));
    } else if (kind == "chains20" || kind == "chains60") {
        image = chains(kind == "chains20" ? 20 : 60);
    } else if (kind == "chainsids60") {
        image = chains(60, true);
    } else if (kind == "chainsref20" || kind == "chainsref60") {
        image = chainsFileSystem(kind == "chainsref20" ? 20 : 60).build();
    } else if (kind == "walkref") {
        image = walkFileSystem().build();
    } else {
        std::fputs(
            "usage: make_corpus full|walk|walkref|worst|worstids|nested|worstids64|fatcrafted|chains20|chains60|"
            "chainsids60|chainsref20|chainsref60 OUTPUT\n"
            "       make_corpus fat12 OUTPUT RAW...\n",
            stderr);
        return 2;
    }
    if (!fixture::writeFile(argv[2], image)) {
        std::fprintf(stderr, "make_corpus: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
