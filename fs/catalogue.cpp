#include <cstdio>
#include <cstring>

#include "file_system.h"

namespace imgpry::fs {

void Catalogue::clear() {
    count = 0;
    namesUsed = 0;
    problemCount = 0;
}

int32_t Catalogue::add(const CatalogueEntry& entry, const char* name, int32_t length) {
    int32_t n = 0;
    while (n < length && name[n] != '\0') ++n;
    if (count >= kMaxCatalogueEntries || n + 1 > kMaxCatalogueNameBytes - namesUsed) {
        bool said = false;
        for (int32_t i = 0; i < problemCount; ++i) said = said || problems[i].what == kCatalogueFull;
        if (!said) {
            Problem p;
            p.what = kCatalogueFull;
            note(p);
        }
        return -1;
    }
    CatalogueEntry& e = entries[count];
    e = entry;
    e.nameOffset = namesUsed;
    e.nameLength = n;
    std::memcpy(names + namesUsed, name, static_cast<size_t>(n));
    names[namesUsed + n] = '\0';
    namesUsed += n + 1;
    return count++;
}

void Catalogue::note(const Problem& problem) {
    if (problemCount < kMaxProblems) problems[problemCount++] = problem;
}

void Catalogue::noteArea(const char* what, int32_t entry, const RunReport& run) {
    if (run.got >= run.wanted && run.markCount == 0 && run.shortCount == 0) return;
    Problem p;
    p.kind = ProblemKind::kArea;
    p.entry = entry;
    p.what = what;
    p.wanted = run.wanted;
    p.got = run.got;
    p.shortCount = run.shortCount;
    if (run.shortCount > 0) p.firstShort = run.shorts[0];
    p.markCount = run.markCount;
    if (run.markCount > 0) p.firstMark = run.marks[0];
    note(p);
}

const char* entryPath(const Catalogue& catalogue, int32_t index, char* buf, size_t size) {
    if (size == 0) return buf;
    buf[0] = '\0';
    if (index < 0 || index >= catalogue.count) return buf;
    // The chain of parents, innermost first; bounded by the folder depth
    // (a catalogue never holds deeper folders) and by the entry count.
    int32_t chain[kMaxFolderDepth + 1];
    int32_t depth = 0;
    for (int32_t i = index; i >= 0 && i < catalogue.count && depth <= kMaxFolderDepth;
         i = catalogue.entries[i].parent) {
        chain[depth++] = i;
    }
    size_t used = 0;
    for (int32_t k = depth - 1; k >= 0; --k) {
        const char* part = catalogue.name(chain[k]);
        const size_t length = std::strlen(part);
        const size_t room = size - 1 - used;
        const size_t take = length < room ? length : room;
        std::memcpy(buf + used, part, take);
        used += take;
        if (k > 0 && used < size - 1) buf[used++] = '/';
    }
    buf[used] = '\0';
    return buf;
}

const char* areaName(AreaKind kind) {
    switch (kind) {
        case AreaKind::kBoot:
            return "boot";
        case AreaKind::kFat:
            return "FAT";
        case AreaKind::kDirectory:
            return "directory";
        case AreaKind::kSystem:
            return "system";
    }
    return "system";
}

}  // namespace imgpry::fs
