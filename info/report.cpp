// The text report: the container, then every disk with its file system,
// its tracks, its areas and every file's state, in the words imgpry uses.
#include <cstring>

#include "output.h"
#include "writers.h"

namespace imgpry::info {

namespace {

const char* density(uint8_t d) { return d == 0x40 ? "single" : d == 0x00 ? "double" : "other"; }

void marks(FILE* out, const fs::MarkedSector* m, int32_t count, int32_t total) {
    char name[32];
    char meaning[32];
    for (int32_t i = 0; i < count; ++i) {
        put(out, "%s %s (%s)", i == 0 ? "" : ",", fs::sectorName(m[i].track, m[i].sector, name, sizeof name),
            fs::markMeaning(m[i].status, m[i].deleted, meaning, sizeof meaning));
    }
    if (total > count) put(out, " and %d more", static_cast<int>(total - count));
}

void tracks(FILE* out, const Facts& f, const DiskFacts& d) {
    char name[32];
    for (int32_t t = 0; t < kNumTracks; ++t) {
        const TrackFacts& tf = d.tracks[t];
        if (tf.offset < 0) continue;
        (void)fs::sectorName(t, 0, name, sizeof name);
        name[6] = '\0';  // "trk=TT"
        put(out, "  %s at offset %lld: ", name, static_cast<long long>(tf.offset));
        if (tf.pastEnd) {
            put(out, "past the end of the image\n");
            continue;
        }
        put(out, "%d%s record%s", static_cast<int>(tf.records.count), tf.more ? "+" : "",
            tf.records.count == 1 && !tf.more ? "" : "s");
        if (tf.error != 0) put(out, "; could not be read further: %s", std::strerror(tf.error));
        put(out, "\n");
        for (int32_t i = 0; i < tf.records.count; ++i) {
            const SectorRecord& rec = f.records[tf.records.at + i];
            put(out, "    C=%02x H=%02x R=%02x N=%02x  %5u bytes  %s density%s  status 0x%02x\n", rec.c, rec.h, rec.r,
                rec.n, static_cast<unsigned>(rec.dataSize), density(rec.density), rec.deleted != 0 ? "  deleted" : "",
                rec.status);
        }
    }
}

void file(FILE* out, const Facts& f, const FileFacts& file, bool utf8Names) {
    char state[256];
    char name[32];
    put(out, "  ");
    putName(out, f.at(file.pathAt), file.encoding, utf8Names, 12);
    put(out, " %8d  %s  %s", static_cast<int>(file.size),
        fs::sectorName(file.firstTrack, file.firstSector, name, sizeof name), fileState(f, file, state, sizeof state));
    if (file.got > 0 && file.got < file.size && file.shorts.count > 0) {
        put(out, "; short:");
        char where[160];
        for (int32_t i = 0; i < file.shorts.count; ++i) {
            put(out, "%s %s", i == 0 ? "" : ",", fs::describeShort(f.shorts[file.shorts.at + i], where, sizeof where));
        }
        if (file.shortCount > file.shorts.count) {
            put(out, " and %d more", static_cast<int>(file.shortCount - file.shorts.count));
        }
    }
    if (file.chainBroken) {
        put(out, "; the allocation chain breaks after %s",
            fs::sectorName(file.breakTrack, file.breakSector, name, sizeof name));
    }
    if (file.markCount > 0) {
        put(out, "; marked:");
        marks(out, f.marks.data() + file.marks.at, file.marks.count, file.markCount);
    }
    if (file.unsafe) put(out, "; unsafe name");
    if (file.emptyName && file.size > 0) put(out, "; no name, not written");
    if (!file.unsafe && !file.emptyName && !file.read && file.got > 0) put(out, "; not written");
    if (file.replacedBy >= 0) {
        const FileFacts& later = f.files[file.replacedBy];
        put(out, "; replaced by disk %d ", static_cast<int>(later.disk + 1));
        putName(out, f.at(later.pathAt), later.encoding, utf8Names);
    }
    put(out, "\n");
}

void areas(FILE* out, const Facts& f, const DiskFacts& d) {
    char where[160];
    if (d.directoryWhole) {
        put(out, "  directory: read whole");
    } else {
        put(out, "  directory: %s %d of %d bytes, %s", d.directoryRead == 0 ? "not read," : "partly read,",
            static_cast<int>(d.directoryRead), static_cast<int>(d.directoryBytes),
            fs::describeShort(d.directoryStop, where, sizeof where));
    }
    // The directory's marked sectors, as reading them met them.
    fs::MarkedSector marked[fs::kMaxRunSectors];
    int32_t count = 0;
    int32_t total = 0;
    for (int32_t i = 0; i < d.areas.count; ++i) {
        const AreaSector& a = f.areas[d.areas.at + i];
        if (a.kind != fs::AreaKind::kDirectory || a.visit.held == 0 || !fs::isMarked(a.visit.record)) continue;
        if (count < fs::kMaxRunSectors) {
            marked[count++] =
                fs::MarkedSector{a.visit.id.track, a.visit.id.r, a.visit.record.status, a.visit.record.deleted};
        }
        ++total;
    }
    if (total > 0) {
        put(out, "; marked:");
        marks(out, marked, count, total);
    }
    put(out, "\n");
    // Every other problem of the disk's own structures.
    for (int32_t i = 0; i < d.problemCount; ++i) {
        const fs::Problem& p = d.problems[i];
        const bool directory =
            p.kind == fs::ProblemKind::kArea && p.entry < 0 && std::strcmp(p.what, "the directory") == 0;
        if (directory) continue;
        put(out, "  ");
        if (d.problemPath[i] >= 0) {
            putShown(out, f.at(d.problemPath[i]));
            put(out, ": ");
        }
        if (p.kind == fs::ProblemKind::kNote) {
            put(out, "%s\n", p.what);
            continue;
        }
        put(out, "%s:", p.what);
        if (p.got < p.wanted) {
            put(out, " %s %d of %d bytes, %s", p.got == 0 ? "not read," : "partly read,", static_cast<int>(p.got),
                static_cast<int>(p.wanted), fs::describeShort(p.firstShort, where, sizeof where));
        }
        if (p.markCount > 0) {
            put(out, "%s marked:", p.got < p.wanted ? ";" : "");
            marks(out, &p.firstMark, 1, p.markCount);
        }
        put(out, "\n");
    }
}

void disk(FILE* out, const Facts& f, const DiskFacts& d, bool withTracks, bool utf8Names) {
    const int n = static_cast<int>(d.number);
    put(out, "disk %d at offset %lld: ", n, static_cast<long long>(d.offset));
    if (!d.selected) {
        put(out, "its header could not be read%s%s\n", d.selectError != 0 ? ": " : "",
            d.selectError != 0 ? std::strerror(d.selectError) : "");
        put(out, "  status: %s\n", d.status);
        return;
    }
    const char* media = mediaName(d.mediaType);
    put(out, "\"");
    putName(out, d.name, fs::NameEncoding::kShiftJis, utf8Names);
    put(out, "\", ");
    if (media != nullptr) {
        put(out, "%s", media);
    } else {
        put(out, "media type 0x%02x", static_cast<unsigned>(d.mediaType));
    }
    put(out, ", size field %u, %s\n", static_cast<unsigned>(d.sizeField),
        d.writeProtect != 0 ? "write-protected" : "not write-protected");
    if (d.truncatedBy > 0) {
        put(out, "  disk %d: the image ends at byte %lld, %lld bytes before the end of this disk\n", n,
            static_cast<long long>(f.imageSize), static_cast<long long>(d.truncatedBy));
    }
    if (d.recognised) {
        put(out, "  file system: %s\n", d.description);
    } else {
        put(out, "  %s\n", d.foreign);
    }
    put(out, "  tracks: %d present, %d record%s marked\n", static_cast<int>(d.present),
        static_cast<int>(d.markedRecords), d.markedRecords == 1 ? "" : "s");
    if (d.trackError != 0) {
        char name[32];
        (void)fs::sectorName(d.trackErrorTrack, 0, name, sizeof name);
        name[6] = '\0';
        put(out, "  %s could not be read: %s\n", name, std::strerror(d.trackError));
    }
    areas(out, f, d);
    if (withTracks) tracks(out, f, d);
    for (int32_t k = 0; k < d.files.count; ++k) file(out, f, f.files[d.files.at + k], utf8Names);
    put(out, "  status: %s\n", d.status);
}

}  // namespace

void writeReport(FILE* out, const Facts& f, const Request& request) {
    const int disks = static_cast<int>(f.diskCount);
    put(out, "image: %s\n  %lld bytes, %d disk%s", request.shownPath, static_cast<long long>(f.imageSize), disks,
        disks == 1 ? "" : "s");
    if (f.bytesAfterLastDisk >= 0)
        put(out, ", %lld bytes after the last disk", static_cast<long long>(f.bytesAfterLastDisk));
    if (f.moreDisks) {
        put(out, ", more than %d disks (only %d are read)", static_cast<int>(kMaxDisks), static_cast<int>(kMaxDisks));
    }
    put(out, "\n");
    if (f.readError != 0) {
        put(out, "  cannot read %s at byte %lld: %s; nothing after it is read\n", request.shownPath,
            static_cast<long long>(f.readErrorAt), std::strerror(f.readError));
    }
    if (f.overLimit) {
        put(out, "  %s is longer than %lld bytes; only the first %lld bytes are read\n", request.shownPath,
            static_cast<long long>(f.limit), static_cast<long long>(f.limit));
    }
    if (f.diskCount == 0 && f.readError == 0) {
        if (f.imageSize < DiskImage::kDiskHeaderSize) {
            put(out, "  no disk found: %s holds %lld bytes, less than a %d-byte disk header\n", request.shownPath,
                static_cast<long long>(f.imageSize), static_cast<int>(DiskImage::kDiskHeaderSize));
        } else {
            put(out, "  no disk found\n");
        }
    }
    if (f.beyondOffsets) {
        put(out, "  disk %d: starts beyond byte %d; it and the disks after it are not read\n", disks + 1, INT32_MAX);
    }
    if (f.filesFull) put(out, "  more files than imgpry-info keeps (%d); the rest are not listed\n", kMaxFiles);
    for (int32_t d = 0; d < f.diskCount; ++d) disk(out, f, f.disks[d], request.tracks, request.utf8Names);
    put(out, "status: %s\n", f.status == 0 ? "every file whole" : "damage or loss (exit status 2)");
}

}  // namespace imgpry::info
