// Writes the fuzzers' seed corpus: small well-formed containers and the
// damaged shapes the tests use, each a file in the output directory.
#include <algorithm>
#include <cstdio>
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
