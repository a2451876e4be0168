// Fuzzes the disk image reader: the input is an image, read through every
// operation, with tracks, sector IDs and sector ranges drawn from the
// input's last bytes. Besides checking bounds, it compares every sector
// read with a literal reading of the same bytes: the scan, the track lookup
// and the walk over the records done plainly, record by record.
#include <fuzzer/FuzzedDataProvider.h>
#include <imgpry/disk_image.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

imgpry::DiskImage image;       // static, as the tool's reader is
uint8_t out[400 * 1024 + 16];  // the largest run read below, plus a guard
uint8_t want[400 * 1024 + 16];
constexpr uint8_t kGuard = 0xA5;

void checkGuard(int32_t limit) {
    for (size_t i = static_cast<size_t>(limit); i < static_cast<size_t>(limit) + 16; ++i) {
        if (out[i] != kGuard) std::abort();  // a read wrote past what it was given
    }
}

// The image format read literally.
class Literal {
public:
    Literal(const uint8_t* d, size_t n) : data(d), size(n) {}

    // Disk offsets as the scan finds them: up to 64 whole headers, each at
    // the previous one plus its size field, the last one where the next
    // offset would pass 2^31 - 1.
    int32_t scan() {
        int32_t count = 0;
        int64_t total = 0;
        while (count < 64) {
            if (total + 0x2B0 > static_cast<int64_t>(size)) break;
            disks[count++] = total;
            const int64_t next = total + le(total + 0x1C, 4);
            if (next > INT32_MAX) break;
            total = next;
        }
        return count;
    }

    void select(int32_t disk) { diskOffset = disks[disk]; }
    void setSectorRange(int32_t f, int32_t l) {
        first = f;
        last = l;
    }

    // File offset of track t's first record, or -1 when the track is absent.
    int64_t trackStart(int32_t t) const {
        if (t < 0 || t > 163) return -1;
        const auto diskSize = static_cast<int32_t>(static_cast<uint32_t>(le(diskOffset + 0x1C, 4)));
        const auto off = static_cast<int32_t>(static_cast<uint32_t>(le(diskOffset + 0x20 + 4 * int64_t{t}, 4)));
        if (off <= 0 || off > diskSize) return -1;
        return diskOffset + off;
    }

    // The ID of the k-th record of the chain from start, following data
    // sizes alone; false when the chain leaves the bytes first.
    bool idAt(int64_t start, int32_t k, int32_t id[4]) const {
        int64_t pos = start;
        for (int32_t i = 0; i < k && pos + 16 <= static_cast<int64_t>(size); ++i) pos += 16 + le(pos + 14, 2);
        if (pos < 0 || pos + 16 > static_cast<int64_t>(size)) return false;
        for (int i = 0; i < 4; ++i) id[i] = at(pos + i);
        return true;
    }

    // The record a search for an ID finds, as its header's bytes say.
    imgpry::SectorRecord record(int64_t pos) const {
        return imgpry::SectorRecord{static_cast<uint8_t>(at(pos)),         static_cast<uint8_t>(at(pos + 1)),
                                    static_cast<uint8_t>(at(pos + 2)),     static_cast<uint8_t>(at(pos + 3)),
                                    static_cast<uint16_t>(le(pos + 4, 2)), static_cast<uint8_t>(at(pos + 6)),
                                    static_cast<uint8_t>(at(pos + 7)),     static_cast<uint8_t>(at(pos + 8)),
                                    static_cast<uint16_t>(le(pos + 14, 2))};
    }

    // The records a search on track t walks, at most max; more when the walk
    // goes on past them.
    int32_t trackRecords(int32_t t, imgpry::SectorRecord* dst, int32_t max, bool& more) const {
        more = false;
        int64_t pos = trackStart(t);
        if (pos < 0) return 0;
        int32_t stored = 0;
        for (int32_t i = 0; i < 65535; ++i) {
            if (pos + 16 > static_cast<int64_t>(size)) break;
            const int64_t count = le(pos + 4, 2);
            if (count == 0) break;
            if (stored == max) {
                more = true;
                break;
            }
            dst[stored++] = record(pos);
            pos += 16 + le(pos + 14, 2);
            if (i == count - 1) break;
        }
        return stored;
    }

    int32_t readSector(int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, uint8_t* dst, int32_t maxLen,
                       imgpry::SectorRecord* found = nullptr) const {
        if (maxLen < 0) return 0;
        int64_t pos = trackStart(t);
        if (pos < 0) return 0;
        for (int32_t i = 0; i < 65535; ++i) {
            if (pos + 16 > static_cast<int64_t>(size)) return 0;
            const int64_t count = le(pos + 4, 2);
            if (count == 0) return 0;
            const int64_t dataSize = le(pos + 14, 2);
            if (at(pos) == c && at(pos + 1) == h && at(pos + 2) == r && at(pos + 3) == n) {
                if (found != nullptr) *found = record(pos);
                const int64_t len = std::min<int64_t>(dataSize, maxLen);
                const int64_t have =
                    std::max<int64_t>(0, std::min<int64_t>(len, static_cast<int64_t>(size) - pos - 16));
                std::memcpy(dst, data + pos + 16, static_cast<size_t>(have));
                return static_cast<int32_t>(have);
            }
            pos += 16 + dataSize;
            if (i == count - 1) return 0;
        }
        return 0;
    }

    int32_t readSectors(int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, uint8_t* dst, int32_t total) const {
        if (n < 0 || n > 23) return 0;
        int32_t sum = 0;
        int32_t chunk = 128 << n;
        while (sum < total) {
            chunk = std::min(chunk, total - sum);
            if (readSector(t, c, h, r, n, dst, chunk) < chunk) return sum;
            dst += chunk;
            sum += chunk;
            if (r == last) {
                ++t;
                if (h == 0) {
                    h = 1;
                } else {
                    h = 0;
                    ++c;
                }
                r = first;
            } else {
                ++r;
            }
        }
        return sum;
    }

private:
    int32_t at(int64_t p) const { return data[p]; }
    int64_t le(int64_t p, int bytes) const {
        int64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i) v = v << 8 | data[p + i];
        return v;
    }

    const uint8_t* data;
    size_t size;
    int64_t disks[64] = {};
    int64_t diskOffset = 0;
    int32_t first = 1;
    int32_t last = 16;
};

bool sameRecord(const imgpry::SectorRecord& a, const imgpry::SectorRecord& b) {
    return a.c == b.c && a.h == b.h && a.r == b.r && a.n == b.n && a.count == b.count && a.density == b.density &&
           a.deleted == b.deleted && a.status == b.status && a.dataSize == b.dataSize;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The last 128 bytes (or fewer) steer the reads; the rest is the image.
    const size_t steer = size < 128 ? size : 128;
    FuzzedDataProvider params(data + size - steer, steer);
    if (!image.openMemory(data, size - steer)) std::abort();
    Literal literal(data, size - steer);
    const int32_t disks = image.diskCount();
    if (disks != literal.scan()) std::abort();
    if (image.selectDisk(disks)) std::abort();

    for (int32_t d = 0; d < disks && d < 4; ++d) {
        if (!image.selectDisk(d)) std::abort();
        literal.select(d);
        const auto first = params.ConsumeIntegralInRange<int32_t>(-1, 20);
        const auto last = params.ConsumeIntegralInRange<int32_t>(-1, 20);
        image.setSectorRange(first, last);
        literal.setSectorRange(first, last);
        for (int round = 0; round < 4; ++round) {
            const auto t = params.ConsumeIntegralInRange<int32_t>(-2, 165);
            const auto c = params.ConsumeIntegralInRange<int32_t>(-1, 256);
            const auto h = params.ConsumeIntegralInRange<int32_t>(-1, 2);
            const auto r = params.ConsumeIntegralInRange<int32_t>(-1, 256);
            const auto n = params.ConsumeIntegralInRange<int32_t>(0, 8);
            const auto len = params.ConsumeIntegralInRange<int32_t>(0, 400 * 1024);

            // Each read must deliver what the literal reading does, byte for
            // byte, including what a short last sector left in the buffer,
            // and nothing past its length.
            auto compare = [](int32_t limit, auto&& real, auto&& plain) {
                std::fill(out, out + limit + 16, kGuard);
                std::fill(want, want + limit + 16, kGuard);
                if (real(out, limit) != plain(want, limit)) std::abort();
                if (std::memcmp(out, want, static_cast<size_t>(limit) + 16) != 0) std::abort();
                checkGuard(limit);
            };
            compare(
                len % 4096, [&](uint8_t* o, int32_t l) { return image.readSector(t, c, h, r, n, o, l); },
                [&](uint8_t* o, int32_t l) { return literal.readSector(t, c, h, r, n, o, l); });
            compare(
                len, [&](uint8_t* o, int32_t l) { return image.readSectors(t, c, h, r, n, o, l); },
                [&](uint8_t* o, int32_t l) { return literal.readSectors(t, c, h, r, n, o, l); });

            const int32_t idLen = 4 * (len % 300);
            std::fill(out, out + idLen + 16, kGuard);
            const int32_t ids = image.readTrackIds(t, out, idLen);
            if (ids < 0 || ids > idLen || ids % 4 != 0) std::abort();
            checkGuard(idLen);
        }
    }
    // Reads of IDs that the chains hold, from the tracks there are, many on
    // the same tracks and in any order: where walks stop, join and run on,
    // a search must still find what the literal walk finds.
    for (int32_t d = 0; d < disks && d < 4; ++d) {
        if (!image.selectDisk(d)) std::abort();
        literal.select(d);
        int32_t present[164];
        int32_t count = 0;
        for (int32_t t = 0; t < 164; ++t) {
            if (literal.trackStart(t) >= 0) present[count++] = t;
        }
        if (count == 0) continue;
        for (int read = 0; read < 12; ++read) {
            const int32_t t = present[params.ConsumeIntegral<uint8_t>() % count];
            const int32_t from = present[params.ConsumeIntegral<uint8_t>() % count];
            int32_t id[4];
            if (!literal.idAt(literal.trackStart(from), params.ConsumeIntegral<uint8_t>() % 24, id)) continue;
            std::fill(out, out + 1024 + 16, kGuard);
            std::fill(want, want + 1024 + 16, kGuard);
            imgpry::SectorRecord got{};
            imgpry::SectorRecord expected{};
            if (image.readSector(t, id[0], id[1], id[2], id[3], out, 1024, got) !=
                literal.readSector(t, id[0], id[1], id[2], id[3], want, 1024, &expected)) {
                std::abort();
            }
            if (std::memcmp(out, want, 1024 + 16) != 0) std::abort();
            if (!sameRecord(got, expected)) std::abort();
            if (image.readError() != 0) std::abort();  // memory never fails

            // The sectors from there on that the reader now holds read as
            // they read one by one, each whole.
            const auto total = static_cast<int32_t>(params.ConsumeIntegral<uint16_t>() % 8192);
            imgpry::SectorRecord held[8];
            std::fill(out, out + total + 16, kGuard);
            const int32_t k = image.readHeldSectors(t, id[0], id[1], id[2], id[3], out, total, held, 8);
            if (k < 0 || k > 8 || (id[3] > 23 && k != 0)) std::abort();
            int32_t done = 0;
            for (int32_t i = 0; i < k; ++i) {
                const int32_t chunk = std::min(128 << id[3], total - done);
                imgpry::SectorRecord one{};
                if (literal.readSector(t, id[0], id[1], id[2] + i, id[3], want + done, chunk, &one) != chunk) {
                    std::abort();
                }
                if (!sameRecord(held[i], one)) std::abort();
                done += chunk;
            }
            if (std::memcmp(out, want, static_cast<size_t>(done)) != 0) std::abort();
            checkGuard(done);
            if (image.readError() != 0) std::abort();
        }
        // The records the searches walk, as listed for a report.
        for (int read = 0; read < 4; ++read) {
            const int32_t t = present[params.ConsumeIntegral<uint8_t>() % count];
            const auto max = static_cast<int32_t>(params.ConsumeIntegral<uint8_t>() % 70);
            imgpry::SectorRecord got[70];
            imgpry::SectorRecord expected[70];
            bool moreGot = false;
            bool moreExpected = false;
            const int32_t n = image.readTrackRecords(t, got, max, moreGot);
            if (n != literal.trackRecords(t, expected, max, moreExpected) || moreGot != moreExpected) std::abort();
            for (int32_t i = 0; i < n; ++i) {
                if (!sameRecord(got[i], expected[i])) std::abort();
            }
        }
    }
    image.close();
    if (image.readSector(0, 0, 0, 1, 3, out, 16) != 0) std::abort();
    return 0;
}
