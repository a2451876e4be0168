// Writes the fuzzers' seed corpus: small well-formed containers and the
// damaged shapes the tests use, each a file in the output directory.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "image_builder.h"

using fixture::Bytes;
using fixture::dirEntry;
using fixture::Disk;
using fixture::Sector;

namespace {

// A disk of the tool's geometry with only the tracks it needs: the
// directory's two sectors on track 1 and the files' sectors from track 2 on.
Disk smallDisk(const std::vector<Bytes>& entries, int dataTracks, const std::string& name = "SEED") {
    Disk d;
    d.name = name;
    for (uint8_t r = 1; r <= 2; ++r) d.tracks[1].push_back(fixture::sector(0, 1, r, 3, 0));
    for (size_t j = 0; j < entries.size(); ++j) {
        auto& data = d.tracks[1][j / 64].data;
        std::copy(entries[j].begin(), entries[j].end(), data.begin() + static_cast<std::ptrdiff_t>((j % 64) * 16));
    }
    if (entries.size() < 128) d.tracks[1][entries.size() / 64].data[(entries.size() % 64) * 16] = 0xFF;
    for (int t = 2; t < 2 + dataTracks; ++t) {
        for (uint8_t r = 1; r <= 5; ++r) {
            Sector s = fixture::sector(static_cast<uint8_t>(t >> 1), static_cast<uint8_t>(t & 1), r, 3, 0);
            s.data = fixture::pattern(1024, static_cast<uint32_t>(t * 8 + r));
            d.tracks[t].push_back(s);
        }
    }
    return d;
}

// A small FAT12 disk of 128-byte sectors, eight per track on two heads and
// four cylinders: a boot sector with its parameter block, two FAT copies of
// one sector, a root of 16 entries, 57 clusters of one sector. It holds a
// file over two clusters, an empty file, a folder with a file and a long
// name. crafted turns it against its reader: chains that loop, a folder
// whose chain leads back to itself, a size far past the disk, and a
// parameter block that claims more sectors than the disk has.
Disk fatDisk(bool crafted) {
    constexpr size_t kBps = 128;
    Bytes raw(64 * kBps, 0);
    const Bytes bpb = {0xEB, 0x3C, 0x90, 'S', 'E', 'E', 'D', ' ',  ' ', ' ', ' ', 0x80, 0x00, 1,
                       1,    0,    2,    16,  0,   64,  0,   0xF0, 1,   0,   8,   0,    2,    0};
    std::copy(bpb.begin(), bpb.end(), raw.begin());
    if (crafted) fixture::patchLe16(raw, 19, 0xFFFF);
    // Links: 2 -> 3 -> end, folder 4 -> end, 5 -> end (or 3 -> 2, 4 -> 4).
    const std::vector<uint16_t> links = {
        0xFF0, 0xFFF, 3, crafted ? uint16_t{2} : uint16_t{0xFFF}, crafted ? uint16_t{4} : uint16_t{0xFFF}, 0xFFF};
    for (size_t copy = 0; copy < 2; ++copy) {
        const size_t fat = (1 + copy) * kBps;
        for (size_t c = 0; c < links.size(); ++c) {
            const size_t at = fat + c + c / 2;
            const uint32_t v = raw[at] | static_cast<uint32_t>(raw[at + 1]) << 8U;
            fixture::patchLe16(raw, at,
                               (c & 1U) != 0
                                   ? static_cast<uint16_t>((v & 0x000FU) | static_cast<uint32_t>(links[c]) << 4U)
                                   : static_cast<uint16_t>((v & 0xF000U) | links[c]));
        }
    }
    const auto entry = [&](size_t at, const char* name11, uint8_t attr, uint16_t cluster, uint32_t size) {
        std::copy(name11, name11 + 11, raw.begin() + static_cast<std::ptrdiff_t>(at));
        raw[at + 11] = attr;
        fixture::patchLe16(raw, at + 24, 0x5A21);  // 2025-01-01
        fixture::patchLe16(raw, at + 26, cluster);
        fixture::patchLe32(raw, at + 28, size);
    };
    const size_t root = 3 * kBps;
    // A long name "Long name" before its short entry, with the checksum of
    // LONGNA~1.
    Bytes lfn(32, 0xFF);
    lfn[0] = 0x41;
    lfn[11] = 0x0F;
    lfn[12] = 0;
    const char* longName = "Long name";
    const size_t units[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (size_t i = 0; i < 13; ++i) {
        const uint16_t u = i < 9 ? static_cast<uint16_t>(longName[i]) : i == 9 ? uint16_t{0} : uint16_t{0xFFFF};
        lfn[units[i]] = static_cast<uint8_t>(u);
        lfn[units[i] + 1] = static_cast<uint8_t>(u >> 8U);
    }
    lfn[26] = lfn[27] = 0;
    uint8_t sum = 0;
    for (const char c : std::string("LONGNA~1   "))
        sum = static_cast<uint8_t>(((sum & 1U) << 7U) + (sum >> 1U) + static_cast<uint8_t>(c));
    lfn[13] = sum;
    std::copy(lfn.begin(), lfn.end(), raw.begin() + static_cast<std::ptrdiff_t>(root));
    entry(root + 32, "LONGNA~1   ", 0x20, 5, 10);
    entry(root + 64, "HELLO   TXT", 0x20, 2, crafted ? 0x10000U : 200U);
    if (crafted) entry(root + 160, "HUGE       ", 0x20, 2, 0xFFFFFFFFU);
    entry(root + 96, "EMPTY      ", 0x20, 0, 0);
    entry(root + 128, "SUB        ", 0x10, 4, 0);
    const size_t sub = (7 + 2) * kBps;
    entry(sub, ".          ", 0x10, 4, 0);
    entry(sub + 32, "..         ", 0x10, 0, 0);
    entry(sub + 64, "SELF       ", 0x10, crafted ? 4 : 0, 0);
    entry(sub + 96, "INNER   DAT", 0x20, 5, 100);
    const Bytes text = fixture::pattern(2 * kBps, 7);
    std::copy(text.begin(), text.end(), raw.begin() + static_cast<std::ptrdiff_t>(7 * kBps));
    return fixture::rawDisk(raw, 4, 2, 8, 0, crafted ? "FAT LOOP" : "FAT");
}

// Keeps of disk only the sectors listed (track: its IDs R; none listed:
// all of it), so that a seed of a 2D disk stays small.
Bytes keep(fixture::Disk disk, const std::map<int, std::vector<int>>& wanted) {
    std::map<int, std::vector<Sector>> kept;
    for (const auto& [t, rs] : wanted) {
        for (const Sector& s : disk.tracks.at(t)) {
            if (rs.empty() || std::find(rs.begin(), rs.end(), s.r) != rs.end()) kept[t].push_back(s);
        }
    }
    disk.tracks = kept;
    return disk.build();
}

Bytes steer() { return fixture::pattern(64, 99); }

Bytes withSteer(Bytes image) {
    const Bytes s = steer();
    image.insert(image.end(), s.begin(), s.end());
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_seeds DIR\n", stderr);
        return 2;
    }
    std::vector<std::pair<std::string, Bytes>> seeds;
    const Disk two = smallDisk({dirEntry(0, "GAME", "BIN", 2, 4, 3), dirEntry(0, "README", "TXT", 3, 1, 1),
                                dirEntry(0xE5, "GONE", "", 2, 1, 1), dirEntry(0, "EMPTY", "", 2, 1, 0)},
                               2);
    seeds.emplace_back("one-disk", two.build());
    seeds.emplace_back(
        "two-disks",
        fixture::container({two.build(), smallDisk({dirEntry(0, "SAME", "TXT", 2, 1, 2)}, 1, "B").build()}));

    Disk unsafe =
        smallDisk({dirEntry(0, "..", "", 2, 1, 1), dirEntry(0, "A/B", "", 2, 1, 1), dirEntry(0, ".", "", 2, 1, 1),
                   dirEntry(0, "", "", 2, 1, 1), dirEntry(0, "", "DAT", 2, 1, 1)},
                  1);
    seeds.emplace_back("unsafe-names", unsafe.build());

    Disk partial = smallDisk({dirEntry(0, "PART", "BIN", 2, 1, 8)}, 2);
    partial.tracks[2][2].data.resize(300);
    partial.tracks[3].erase(partial.tracks[3].begin() + 1);
    seeds.emplace_back("partial-file", partial.build());

    Disk counts = smallDisk({dirEntry(0, "F", "", 2, 1, 5)}, 2);
    counts.tracks[2][1].count = 0;
    counts.tracks[2][3].count = 4;
    counts.tracks[3][0].count = 9;
    seeds.emplace_back("odd-counts", counts.build());

    Disk dup = smallDisk({dirEntry(0, "DUP", "", 2, 1, 2)}, 1);
    dup.tracks[2][1] = dup.tracks[2][0];
    seeds.emplace_back("duplicate-ids", dup.build());

    Disk shared = smallDisk({dirEntry(0, "S", "", 2, 1, 10)}, 1);
    shared.trackOffsetOverrides[3] = 0x2B0 + 2 * 1040;
    shared.trackOffsetOverrides[4] = 0x80000000U;
    seeds.emplace_back("shared-and-negative-tracks", shared.build());

    Disk zeroSize = smallDisk({dirEntry(0, "Z", "", 2, 1, 1)}, 1);
    zeroSize.sizeField = 0;
    seeds.emplace_back("size-field-zero", zeroSize.build());

    Disk smallSize = smallDisk({}, 0);
    smallSize.sizeField = 0x10;
    seeds.emplace_back("size-field-small", smallSize.build());

    Bytes truncated = two.build();
    truncated.resize(truncated.size() - 1500);
    seeds.emplace_back("truncated", truncated);
    seeds.emplace_back("short-header", Bytes(600, 0));

    Disk realLike;  // sixteen 256-byte sectors, as the real disks in the tests
    for (uint8_t r = 1; r <= 16; ++r) realLike.tracks[0].push_back(fixture::sector(0, 0, r, 1, 0xE5));
    seeds.emplace_back("sixteen-sectors", realLike.build());

    seeds.emplace_back("fat12-small", fatDisk(false).build());
    seeds.emplace_back("fat12-crafted", fatDisk(true).build());
    // The BASIC disk systems: a Hu-BASIC disk with a subdirectory, a file
    // over two clusters and an ASCII file without a size, one whose FAT
    // loops and whose folders lead into each other, and an N88-BASIC disk
    // with a file over three clusters and FAT copies that disagree.
    fixture::HuBasicDisk hu("HU");
    hu.entry(1, 0, fixture::huBasicEntry(0x01, "BIG", "BIN", 5000, 2, {0x86, 0x43, 0x17, 0x09, 0x05, 0x59}))
        .entry(1, 1, fixture::huBasicEntry(0x80, "SUB", "", 0, 4))
        .entry(1, 2, fixture::huBasicEntry(0x00, "GONE", "", 10, 9))
        .entry(1, 3, fixture::huBasicEntry(0x04, "TEXT", "ASC", 0, 6))
        .store({2, 3}, fixture::pattern(5000, 1))
        .directory(4)
        .entry(4, 0, fixture::huBasicEntry(0x02, "INNER", "BAS", 300, 5))
        .store({5}, fixture::pattern(300, 2))
        .store({6, 7}, fixture::pattern(4500, 3));
    seeds.emplace_back(
        "hu-basic",
        keep(hu.disk(),
             {{0, {15}}, {1, {1}}, {2, {}}, {3, {1, 2, 3, 4}}, {4, {1}}, {5, {1, 2}}, {6, {}}, {7, {1, 2}}}));
    fixture::HuBasicDisk huLoops("HU LOOPS");
    huLoops.entry(1, 0, fixture::huBasicEntry(0x01, "LOOP", "BIN", 60000, 2))
        .entry(1, 1, fixture::huBasicEntry(0x80, "A", "", 0, 4))
        .fat(2, 3)
        .fat(3, 2)
        .directory(4)
        .entry(4, 0, fixture::huBasicEntry(0x80, "B", "", 0, 5))
        .directory(5)
        .entry(5, 0, fixture::huBasicEntry(0x80, "A", "", 0, 4))
        .fat(5, 4);
    seeds.emplace_back("hu-basic-loops",
                       keep(huLoops.disk(), {{0, {15}}, {1, {1}}, {2, {1, 2}}, {3, {1}}, {4, {1}}, {5, {1}}}));
    fixture::N88BasicDisk n88("N88");
    n88.entry(0, fixture::n88BasicEntry("GAME", "BAS", 0x80, 0x10))
        .entry(1, fixture::n88BasicEntry("GONE", "", 0x00, 0x30))
        .entry(2, fixture::n88BasicEntry("NOTE", "TXT", 0x01, 0x21))
        .store({0x10, 0x11, 0x30}, fixture::pattern(20 * 256, 4))
        .store({0x21}, fixture::pattern(100, 5))
        .fat(2, 0x21, 0xC8);
    n88.entry(1, Bytes(16, 0x00));
    seeds.emplace_back("n88-basic",
                       keep(n88.disk(), {{8, {}}, {16, {9}}, {24, {1, 2, 3, 4}}, {37, {1, 13, 14, 15, 16}}}));
    // A CP/M disk of the X1 turbo format with only tracks 4 and 5: the
    // directory (block 0) and blocks 1..3, sectors stored interleaved; a
    // file of two entries whose later blocks lie on absent tracks, a file of
    // user 3 and an erased entry.
    Disk cpm;
    for (int t = 4; t <= 5; ++t) {
        for (int k = 0; k < 16; ++k) {
            const auto r = static_cast<uint8_t>(1 + (k * 13) % 16);
            Sector s = fixture::sector(2, static_cast<uint8_t>(t - 4), r, 1, 0xE5);
            if (t == 5 || r > 8) s.data = fixture::pattern(256, static_cast<uint32_t>(t * 16 + r));
            cpm.tracks[t].push_back(s);
        }
    }
    const auto cpmEntry = [&](int slot, uint8_t user, const char* name11, uint8_t ex, uint8_t rc,
                              const std::vector<uint8_t>& blocks) {
        const int r = 1 + slot / 8;
        for (Sector& s : cpm.tracks[4]) {
            if (s.r != r) continue;
            uint8_t* e = s.data.data() + (slot % 8) * 32;
            std::fill(e, e + 32, 0);
            e[0] = user;
            std::copy(name11, name11 + 11, e + 1);
            e[12] = ex;
            e[15] = rc;
            std::copy(blocks.begin(), blocks.end(), e + 16);
        }
    };
    cpmEntry(0, 0, "HOGE    TXT", 0, 1, {1});
    cpmEntry(1, 0, "LONG    COM", 1, 0x80, {2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18});
    cpmEntry(2, 3, "NOTE       ", 0, 8, {3});
    cpmEntry(3, 0xE5, "GONE    TXT", 0, 1, {3});
    cpmEntry(9, 0, "LONG    COM", 2, 4, {19});
    seeds.emplace_back("cpm-x1turbo", cpm.build());

    int failures = 0;
    for (const auto& [name, bytes] : seeds) {
        const std::string path = std::string(argv[1]) + "/" + name;
        if (!fixture::writeFile(path, withSteer(bytes))) ++failures;
    }
    return failures == 0 ? 0 : 1;
}
