#include "sectors.h"

#include <cstdio>
#include <cstring>

#include "room.h"

namespace imgpry::fs {

namespace {

void note(RunReport& report, const ShortSector& s) {
    if (report.shortCount < kMaxRunSectors) report.shorts[report.shortCount] = s;
    ++report.shortCount;
}

void noteMark(RunReport& report, const MarkedSector& m) {
    if (report.markCount < kMaxRunSectors) report.marks[report.markCount] = m;
    ++report.markCount;
}

}  // namespace

void startReport(RunReport& report, int32_t wanted) {
    report.wanted = wanted < 0 ? 0 : wanted;
    report.got = 0;
    report.shortCount = 0;
    report.markCount = 0;
    report.chainBroken = false;
    report.breakTrack = 0;
    report.breakSector = 0;
}

int32_t readChunk(DiskImage& image, const SectorId& id, uint8_t* out, int32_t want, RunReport& report,
                  SectorVisitor* visitor) {
    if (want <= 0) return 0;
    SectorRecord record;
    record.n = 0xFF;  // stays so when no record has the ID (a found one has N <= 23)
    int32_t held = 0;
    if (id.n >= 0 && id.n <= 23) held = image.readSector(id.track, id.c, id.h, id.r, id.n, out, want, record);
    const int error = image.readError();
    if (held < want) {
        note(report, ShortSector{id.track, id.r, held, error});
        std::memset(out + held, 0, static_cast<size_t>(want - held));
    }
    if (held > 0 && isMarked(record)) noteMark(report, MarkedSector{id.track, id.r, record.status, record.deleted});
    report.got += held;
    if (visitor != nullptr) {
        SectorVisit v;
        v.id = id;
        v.wanted = want;
        v.held = held;
        v.error = error;
        v.found = record.n != 0xFF;
        v.record = record;
        visitor->visit(v);
    }
    return held;
}

int32_t readHeldChunks(DiskImage& image, const SectorId& id, uint8_t* out, int32_t total, RunReport& report) {
    if (id.n < 0 || id.n > 23 || total <= 0) return 0;
    constexpr int32_t kMost = 64;
    Room<SectorRecord, kMost> records;  // made as the reader fills them
    const int32_t k = image.readHeldSectors(id.track, id.c, id.h, id.r, id.n, out, total, records.data(), kMost);
    const int32_t chunk = 128 << id.n;
    for (int32_t i = 0; i < k; ++i) {
        if (isMarked(records[i])) {
            noteMark(report, MarkedSector{id.track, id.r + i, records[i].status, records[i].deleted});
        }
    }
    const int32_t whole = k * chunk;
    report.got += whole < total ? whole : total;
    return k;
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

const char* sectorName(int32_t track, int32_t sector, char* buf, size_t size) {
    (void)std::snprintf(buf, size, "trk=%02x sec=%02x", static_cast<unsigned>(track), static_cast<unsigned>(sector));
    return buf;
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
