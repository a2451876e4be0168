#include "basic_disk.h"

#include <cstring>

namespace imgpry::fs {

namespace {

int32_t trimmedLength(const uint8_t* bytes, int32_t length) {
    while (length > 0 && bytes[length - 1] == ' ') --length;
    return length;
}

}  // namespace

int32_t paddedName(const uint8_t* base, int32_t baseBytes, const uint8_t* ext, int32_t extBytes, char* out) {
    if (baseBytes > 13) baseBytes = 13;
    if (extBytes > 3) extBytes = 3;
    const int32_t b = trimmedLength(base, baseBytes);
    const int32_t e = trimmedLength(ext, extBytes);
    int32_t k = 0;
    for (int32_t i = 0; i < b; ++i) out[k++] = static_cast<char>(base[i]);
    if (e > 0) out[k++] = '.';
    for (int32_t i = 0; i < e; ++i) out[k++] = static_cast<char>(ext[i]);
    out[k] = '\0';
    return k;
}

void ChainWalk::start(const uint8_t* fat, const ChainRules& rules, uint32_t first) {
    fat_ = fat;
    rules_ = &rules;
    current_ = first;
    done_ = false;
    broken_ = false;
    std::memset(seen_, 0, sizeof seen_);
}

bool ChainWalk::next(int32_t& cluster, int32_t& sectors) {
    if (done_) return false;
    const uint32_t c = current_;
    const auto limit =
        static_cast<uint32_t>(rules_->clusters < kMaxChainClusters ? rules_->clusters : kMaxChainClusters);
    if (c < static_cast<uint32_t>(rules_->firstCluster) || c >= limit || (seen_[c >> 3U] & (1U << (c & 7U))) != 0) {
        done_ = true;
        broken_ = true;
        return false;
    }
    seen_[c >> 3U] = static_cast<uint8_t>(seen_[c >> 3U] | (1U << (c & 7U)));
    const ClusterLink link = rules_->link(fat_[c]);
    cluster = static_cast<int32_t>(c);
    switch (link.kind) {
        case ClusterLink::Kind::kNext:
            sectors = rules_->clusterSectors;
            current_ = static_cast<uint32_t>(link.next);
            return true;
        case ClusterLink::Kind::kLast:
            sectors = link.sectors;
            done_ = true;
            return true;
        case ClusterLink::Kind::kBroken:
            break;
    }
    done_ = true;
    broken_ = true;
    return false;
}

int32_t chainSectors(const uint8_t* fat, const ChainRules& rules, uint32_t first, bool& broken) {
    ChainWalk walk;
    walk.start(fat, rules, first);
    int32_t total = 0;
    int32_t cluster = 0;
    int32_t sectors = 0;
    while (walk.next(cluster, sectors)) total += sectors;
    broken = walk.broken();
    return total;
}

bool readChain(DiskImage& image, const uint8_t* fat, const ChainRules& rules, uint32_t first, int32_t size,
               uint8_t* out, int32_t capacity, RunReport& report, SectorVisitor* visitor) {
    startReport(report, size);
    if (size <= 0 || size > capacity) return false;
    ChainWalk walk;
    walk.start(fat, rules, first);
    int32_t sum = 0;
    int32_t lastTrack = 0;
    int32_t lastSector = 0;
    int32_t cluster = 0;
    int32_t sectors = 0;
    // Nothing is read of a file whose first sector holds nothing; a visitor
    // still sees the rest of its chain.
    static RunReport rest;  // takes the reads no one counts
    RunReport* into = &report;
    while (sum < size && walk.next(cluster, sectors)) {
        for (int32_t k = 0; k < sectors && sum < size; ++k) {
            const SectorId id = rules.sector(cluster, k);
            const int32_t want = size - sum < kChainSectorBytes ? size - sum : kChainSectorBytes;
            const int32_t held = readChunk(image, id, out + sum, want, *into, visitor);
            if (sum == 0 && held == 0) {
                if (visitor == nullptr) return false;
                into = &rest;
            }
            sum += want;
            lastTrack = id.track;
            lastSector = id.r;
        }
    }
    if (into != &report) {
        report.got = 0;
        return false;
    }
    if (sum >= size) return true;
    // The chain ended or broke before the size: nothing past its last
    // sector belongs to the file.
    report.chainBroken = true;
    report.breakTrack = lastTrack;
    report.breakSector = lastSector;
    std::memset(out + sum, 0, static_cast<size_t>(size - sum));
    return sum > 0;
}

}  // namespace imgpry::fs
