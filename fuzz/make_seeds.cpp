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

    int failures = 0;
    for (const auto& [name, bytes] : seeds) {
        const std::string path = std::string(argv[1]) + "/" + name;
        if (!fixture::writeFile(path, withSteer(bytes))) ++failures;
    }
    return failures == 0 ? 0 : 1;
}
