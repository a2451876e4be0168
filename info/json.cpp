// The facts as one JSON document, UTF-8 throughout: names decoded as their
// file system encodes them, their exact bytes beside them in hexadecimal.
// A fact that could not be read is null.
#include <cstring>

#include "output.h"
#include "text.h"
#include "writers.h"

namespace imgpry::info {

namespace {

const char* boolean(bool b) { return b ? "true" : "false"; }

void shortSector(FILE* out, const fs::ShortSector& s) {
    put(out, "{\"track\":%d,\"sector\":%d,\"held\":%d", static_cast<int>(s.track), static_cast<int>(s.sector),
        static_cast<int>(s.held));
    if (s.error != 0) {
        put(out, ",\"reason\":");
        jsonString(out, std::strerror(s.error));
    }
    put(out, "}");
}

void markedSector(FILE* out, const fs::MarkedSector& m) {
    char meaning[32];
    put(out, "{\"track\":%d,\"sector\":%d,\"status\":%u,\"deleted\":%u,\"meaning\":", static_cast<int>(m.track),
        static_cast<int>(m.sector), static_cast<unsigned>(m.status), static_cast<unsigned>(m.deleted));
    jsonString(out, fs::markMeaning(m.status, m.deleted, meaning, sizeof meaning));
    put(out, "}");
}

void tracks(FILE* out, const Facts& f, const DiskFacts& d) {
    put(out, "[");
    bool first = true;
    for (int32_t t = 0; t < kNumTracks; ++t) {
        const TrackFacts& tf = d.tracks[t];
        if (tf.offset < 0) continue;
        put(out, "%s{\"track\":%d,\"offset\":%lld,\"pastEnd\":%s,\"records\":[", first ? "" : ",", static_cast<int>(t),
            static_cast<long long>(tf.offset), boolean(tf.pastEnd));
        first = false;
        for (int32_t i = 0; i < tf.records.count; ++i) {
            const SectorRecord& rec = f.records[tf.records.at + i];
            put(out, "%s{\"c\":%u,\"h\":%u,\"r\":%u,\"n\":%u,\"size\":%u,\"density\":%u,\"deleted\":%u,\"status\":%u}",
                i == 0 ? "" : ",", rec.c, rec.h, rec.r, rec.n, static_cast<unsigned>(rec.dataSize), rec.density,
                rec.deleted, rec.status);
        }
        put(out, "],\"more\":%s,\"readError\":", boolean(tf.more));
        if (tf.error != 0) {
            jsonString(out, std::strerror(tf.error));
        } else {
            put(out, "null");
        }
        put(out, "}");
    }
    put(out, "]");
}

void file(FILE* out, const Facts& f, const FileFacts& file, bool first) {
    char state[256];
    put(out, "%s{\"entry\":%d,\"path\":", first ? "" : ",", static_cast<int>(file.entry));
    jsonString(out, f.at(file.pathTextAt));
    put(out, ",\"pathBytes\":");
    jsonHex(out, f.at(file.pathAt));
    put(out, ",\"name\":");
    jsonString(out, f.at(file.nameTextAt));
    put(out, ",\"nameBytes\":");
    jsonHex(out, f.at(file.nameAt));
    put(out, ",\"size\":%d,\"track\":%d,\"sector\":%d,\"read\":%d,\"state\":", static_cast<int>(file.size),
        static_cast<int>(file.firstTrack), static_cast<int>(file.firstSector), static_cast<int>(file.got));
    jsonString(out, fileState(f, file, state, sizeof state));
    put(out, ",\"short\":[");
    for (int32_t i = 0; i < file.shorts.count; ++i) {
        if (i > 0) put(out, ",");
        shortSector(out, f.shorts[file.shorts.at + i]);
    }
    put(out, "],\"shortCount\":%d,\"marked\":[", static_cast<int>(file.shortCount));
    for (int32_t i = 0; i < file.marks.count; ++i) {
        if (i > 0) put(out, ",");
        markedSector(out, f.marks[file.marks.at + i]);
    }
    put(out, "],\"markCount\":%d,\"chainBroken\":", static_cast<int>(file.markCount));
    if (file.chainBroken) {
        put(out, "{\"track\":%d,\"sector\":%d}", static_cast<int>(file.breakTrack), static_cast<int>(file.breakSector));
    } else {
        put(out, "null");
    }
    put(out, ",\"unsafe\":%s,\"written\":%s,\"replacedBy\":", boolean(file.unsafe), boolean(file.writes));
    if (file.replacedBy >= 0) {
        const FileFacts& later = f.files[file.replacedBy];
        put(out, "{\"disk\":%d,\"entry\":%d,\"path\":", static_cast<int>(later.disk + 1),
            static_cast<int>(later.entry));
        jsonString(out, f.at(later.pathTextAt));
        put(out, "}");
    } else {
        put(out, "null");
    }
    put(out, "}");
}

void problems(FILE* out, const Facts& f, const DiskFacts& d) {
    put(out, "[");
    for (int32_t i = 0; i < d.problemCount; ++i) {
        const fs::Problem& p = d.problems[i];
        put(out, "%s{\"kind\":\"%s\",\"what\":", i == 0 ? "" : ",", p.kind == fs::ProblemKind::kArea ? "area" : "note");
        jsonString(out, p.what);
        put(out, ",\"path\":");
        if (d.problemPath[i] >= 0) {
            jsonString(out, f.at(d.problemPathText[i]));
        } else {
            put(out, "null");
        }
        if (p.kind == fs::ProblemKind::kArea) {
            put(out, ",\"wanted\":%d,\"read\":%d,\"stop\":", static_cast<int>(p.wanted), static_cast<int>(p.got));
            if (p.shortCount > 0) {
                shortSector(out, p.firstShort);
            } else {
                put(out, "null");
            }
            put(out, ",\"markCount\":%d,\"firstMarked\":", static_cast<int>(p.markCount));
            if (p.markCount > 0) {
                markedSector(out, p.firstMark);
            } else {
                put(out, "null");
            }
        }
        put(out, "}");
    }
    put(out, "]");
}

void areas(FILE* out, const Facts& f, const DiskFacts& d) {
    put(out, "[");
    for (int32_t i = 0; i < d.areas.count; ++i) {
        const AreaSector& a = f.areas[d.areas.at + i];
        put(out, "%s{\"area\":\"%s\",\"track\":%d,\"sector\":%d,\"held\":%d,\"wanted\":%d}", i == 0 ? "" : ",",
            fs::areaName(a.kind), static_cast<int>(a.visit.id.track), static_cast<int>(a.visit.id.r),
            static_cast<int>(a.visit.held), static_cast<int>(a.visit.wanted));
    }
    put(out, "]");
}

void directory(FILE* out, const Facts& f, const DiskFacts& d) {
    put(out, "{\"read\":%d,\"stop\":", static_cast<int>(d.directoryRead));
    if (d.directoryWhole) {
        put(out, "null");
    } else {
        shortSector(out, d.directoryStop);
    }
    put(out, ",\"marked\":[");
    bool first = true;
    for (int32_t i = 0; i < d.areas.count; ++i) {
        const AreaSector& a = f.areas[d.areas.at + i];
        if (a.kind != fs::AreaKind::kDirectory || a.visit.held == 0 || !fs::isMarked(a.visit.record)) continue;
        if (!first) put(out, ",");
        first = false;
        markedSector(out,
                     fs::MarkedSector{a.visit.id.track, a.visit.id.r, a.visit.record.status, a.visit.record.deleted});
    }
    put(out, "]}");
}

void disk(FILE* out, const Facts& f, const DiskFacts& d, bool first) {
    char text[3 * 17 + 1];
    put(out, "%s{\"disk\":%d,\"offset\":%lld,\"selected\":%s,\"selectError\":", first ? "" : ",",
        static_cast<int>(d.number), static_cast<long long>(d.offset), boolean(d.selected));
    if (!d.selected) {
        jsonString(out, d.selectError != 0 ? std::strerror(d.selectError) : "the header could not be read");
        put(out,
            ",\"sizeField\":null,\"name\":null,\"nameBytes\":null,\"mediaType\":null,\"media\":null,"
            "\"writeProtected\":null,\"truncatedBy\":null,\"tracksPresent\":null,\"markedRecords\":null,"
            "\"tracks\":null,\"fileSystem\":null,\"directory\":null,\"problems\":[],\"areas\":[],\"files\":[],"
            "\"summary\":");
        jsonString(out, d.status);
        put(out, "}");
        return;
    }
    put(out, "null,\"sizeField\":%u,\"name\":", static_cast<unsigned>(d.sizeField));
    jsonString(out, fs::shiftJisToUtf8(d.name, text, sizeof text));
    put(out, ",\"nameBytes\":");
    jsonHex(out, d.name);
    const char* media = mediaName(d.mediaType);
    put(out, ",\"mediaType\":%d,\"media\":", static_cast<int>(d.mediaType));
    if (media != nullptr) {
        put(out, "\"%s\"", media);
    } else {
        put(out, "null");
    }
    put(out, ",\"writeProtected\":%s,\"truncatedBy\":%lld,\"tracksPresent\":%d,\"markedRecords\":%d,\"tracks\":",
        boolean(d.writeProtect != 0), static_cast<long long>(d.truncatedBy), static_cast<int>(d.present),
        static_cast<int>(d.markedRecords));
    tracks(out, f, d);
    put(out, ",\"fileSystem\":");
    if (d.recognised) {
        put(out, "{\"name\":");
        jsonString(out, d.fileSystem);
        put(out, ",\"description\":");
        jsonString(out, d.description);
        for (int32_t i = 0; i < d.parameterCount; ++i) {
            put(out, ",");
            jsonString(out, d.parameters[i].key);
            put(out, ":%lld", static_cast<long long>(d.parameters[i].value));
        }
        put(out, "}");
    } else {
        put(out, "null,\"trackOne\":");
        jsonString(out, d.foreign);
    }
    put(out, ",\"directory\":");
    directory(out, f, d);
    put(out, ",\"problems\":");
    problems(out, f, d);
    put(out, ",\"areas\":");
    areas(out, f, d);
    put(out, ",\"files\":[");
    for (int32_t k = 0; k < d.files.count; ++k) file(out, f, f.files[d.files.at + k], k == 0);
    put(out, "],\"summary\":");
    jsonString(out, d.status);
    put(out, "}");
}

}  // namespace

void writeJson(FILE* out, const Facts& f, const Request& request) {
    put(out, "{\"image\":");
    jsonString(out, request.pathText);
    put(out, ",\"size\":%lld,\"diskCount\":%d,\"bytesAfterLastDisk\":", static_cast<long long>(f.imageSize),
        static_cast<int>(f.diskCount));
    if (f.bytesAfterLastDisk >= 0) {
        put(out, "%lld", static_cast<long long>(f.bytesAfterLastDisk));
    } else {
        put(out, "null");
    }
    put(out, ",\"moreDisks\":%s,\"readError\":", boolean(f.moreDisks));
    if (f.readError != 0) {
        put(out, "{\"offset\":%lld,\"reason\":", static_cast<long long>(f.readErrorAt));
        jsonString(out, std::strerror(f.readError));
        put(out, "}");
    } else {
        put(out, "null");
    }
    put(out, ",\"readLimit\":");
    if (f.overLimit) {
        put(out, "%lld", static_cast<long long>(f.limit));
    } else {
        put(out, "null");
    }
    put(out, ",\"beyondOffsets\":%s,\"tooManyFiles\":%s,\"disks\":[", boolean(f.beyondOffsets), boolean(f.filesFull));
    for (int32_t d = 0; d < f.diskCount; ++d) disk(out, f, f.disks[d], d == 0);
    put(out, "],\"status\":%d}\n", f.status);
}

}  // namespace imgpry::info
