#include "file_system.h"

#include <cstdio>
#include <cstring>

namespace imgpry::fs {

namespace {

constexpr uint8_t kPad = 0x20;

void note(RunReport& report, const ShortSector& s) {
    if (report.shortCount < kMaxRunSectors) report.shorts[report.shortCount] = s;
    ++report.shortCount;
}

void noteMark(RunReport& report, const MarkedSector& m) {
    if (report.markCount < kMaxRunSectors) report.marks[report.markCount] = m;
    ++report.markCount;
}

}  // namespace

int32_t entryName(const uint8_t* entry, char* out) {
    int32_t k = 0;
    for (int32_t i = 1; i <= 8 && entry[i] != kPad; ++i) out[k++] = static_cast<char>(entry[i]);
    if (entry[9] != kPad) out[k++] = '.';
    for (int32_t i = 9; i <= 11 && entry[i] != kPad; ++i) out[k++] = static_cast<char>(entry[i]);
    out[k] = '\0';
    return static_cast<int32_t>(std::strlen(out));
}

Entry decodeEntry(const uint8_t* entry) {
    Entry e{};
    e.status = entry[0];
    (void)entryName(entry, e.name);
    e.track = entry[12];
    e.sector = entry[13];
    e.size = entry[14] * kSectorBytes;
    return e;
}

bool selectDisk(DiskImage& image, int32_t index) {
    const bool selected = image.selectDisk(index);
    image.setSectorRange(kFirstSector, kLastSector);
    return selected;
}

void readRun(DiskImage& image, int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, uint8_t* out, int32_t total,
             RunMode mode, RunReport& report) {
    report.wanted = total < 0 ? 0 : total;
    report.got = 0;
    report.shortCount = 0;
    report.markCount = 0;
    if (n < 0 || n > 23 || total <= 0) return;
    const int32_t chunk = 128 << n;
    int32_t got = 0;
    // One step per chunk: the loop ends after total / chunk rounded up steps,
    // whatever the image holds.
    for (int32_t sum = 0; sum < total; sum += chunk) {
        const int32_t want = total - sum < chunk ? total - sum : chunk;
        SectorRecord record;
        const int32_t held = image.readSector(t, c, h, r, n, out + sum, want, record);
        if (held < want) {
            note(report, ShortSector{t, r, held, image.readError()});
            // Nothing is read of a run whose first sector falls short, and a
            // run read as readSectors reads ends at its first short sector.
            if (sum == 0 && mode == RunMode::kRecover) return;
            if (mode == RunMode::kStopAtShort) break;
            std::memset(out + sum + held, 0, static_cast<size_t>(want - held));
        }
        if (held > 0 && (record.status != 0 || record.deleted != 0)) {
            noteMark(report, MarkedSector{t, r, record.status, record.deleted});
        }
        got += held;
        // r stays a byte here or the next read finds nothing; t and c grow
        // by one per track at most, far from overflowing.
        image.stepSector(t, c, h, r);
    }
    report.got = got;
}

void readFile(DiskImage& image, const Entry& entry, uint8_t* out, RunReport& report) {
    readRun(image, entry.track, entry.track >> 1, entry.track & 1, entry.sector, kSizeCode, out, entry.size,
            RunMode::kRecover, report);
}

void readDirectory(DiskImage& image, uint8_t* out, RunReport& report) {
    readRun(image, kDirTrack, 0, 1, kFirstSector, kSizeCode, out, kDirBytes, RunMode::kStopAtShort, report);
}

const char* describeShort(const ShortSector& s, char* buf, size_t size) {
    const auto tt = static_cast<unsigned>(s.track);
    const auto ss = static_cast<unsigned>(s.sector);
    if (s.error != 0) {
        (void)std::snprintf(buf, size, "trk=%02x sec=%02x could not be read: %s", tt, ss, std::strerror(s.error));
    } else if (s.held == 0) {
        (void)std::snprintf(buf, size, "trk=%02x sec=%02x is missing", tt, ss);
    } else {
        (void)std::snprintf(buf, size, "trk=%02x sec=%02x holds only %d bytes", tt, ss, static_cast<int>(s.held));
    }
    return buf;
}

const char* markMeaning(uint8_t status, uint8_t deleted, char* buf, size_t size) {
    const char* words = nullptr;
    switch (status) {
        case 0xA0:
            words = "ID CRC error";
            break;
        case 0xB0:
            words = "data CRC error";
            break;
        case 0xE0:
            words = "no address mark";
            break;
        case 0xF0:
            words = "no data mark";
            break;
        case 0x10:
            words = "deleted data";
            break;
        case 0x00:
            words = deleted != 0 ? "deleted data" : "no mark";
            break;
        default:
            break;
    }
    if (words != nullptr) {
        (void)std::snprintf(buf, size, "%s", words);
    } else {
        (void)std::snprintf(buf, size, "status 0x%02x", static_cast<unsigned>(status));
    }
    return buf;
}

}  // namespace imgpry::fs
