#include "builtin.h"

#include <cstdio>
#include <cstring>

namespace imgpry::fs {

namespace {

constexpr uint8_t kPad = 0x20;

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

void readFile(DiskImage& image, const Entry& entry, uint8_t* out, RunReport& report) {
    readRun(image, entry.track, entry.track >> 1, entry.track & 1, entry.sector, kSizeCode, out, entry.size,
            RunMode::kRecover, report);
}

void readDirectory(DiskImage& image, uint8_t* out, RunReport& report) {
    readRun(image, kDirTrack, 0, 1, kFirstSector, kSizeCode, out, kDirBytes, RunMode::kStopAtShort, report);
}

}  // namespace imgpry::fs
