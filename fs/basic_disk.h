// What the two BASIC disk systems (Hu-BASIC, N88-BASIC) share: 256-byte
// sectors, names of a space-padded base and extension, and cluster chains
// of a one-byte FAT: one byte per cluster, each naming the cluster that
// follows or saying that its cluster is the last and how many of its
// sectors are in use. The systems differ in what a value means and where a
// cluster's sectors lie; the walk is the same, and it is bounded by the
// cluster count: every step takes a cluster not taken before.
#pragma once

#include <imgpry/disk_image.h>

#include <cstdint>

#include "sectors.h"

namespace imgpry::fs {

// A one-byte FAT names at most 256 clusters.
inline constexpr int32_t kMaxChainClusters = 256;
// Every cluster holds 256-byte sectors (N = 1).
inline constexpr int32_t kChainSizeCode = 1;
inline constexpr int32_t kChainSectorBytes = 128 << kChainSizeCode;

// What a FAT value says of the cluster it belongs to: that it is followed
// by another (named whatever its number: the walk judges it), that it is
// the last, or that it belongs to no chain (free or reserved), so that a
// chain reaching it breaks before it.
struct ClusterLink {
    enum class Kind : uint8_t { kNext, kLast, kBroken };
    Kind kind = Kind::kBroken;
    int32_t next = 0;     // kNext: the cluster that follows
    int32_t sectors = 0;  // kLast: the sectors of the cluster in use
};

struct ChainRules {
    int32_t clusters;        // clusters 0..clusters-1 exist
    int32_t firstCluster;    // those below it belong to the system, never to a chain
    int32_t clusterSectors;  // the sectors of a cluster that is not the last
    ClusterLink (*link)(uint8_t value);
    // The index-th sector (0-based) of cluster.
    SectorId (*sector)(int32_t cluster, int32_t index);
};

// The longest name: a base of 13 bytes, a dot and an extension of 3.
inline constexpr int32_t kMaxBasicName = 13 + 1 + 3;

// Writes the name of an entry whose base (baseBytes, space padded) and
// extension (extBytes, space padded) stand at base and ext into out (room
// for kMaxBasicName + 1 bytes): the base without its trailing spaces, and a
// dot and the extension without its trailing spaces when the extension is
// not blank. Returns the name's length.
int32_t paddedName(const uint8_t* base, int32_t baseBytes, const uint8_t* ext, int32_t extBytes, char* out);

// Walks one chain from its start cluster.
class ChainWalk {
public:
    void start(const uint8_t* fat, const ChainRules& rules, uint32_t first);
    // Gives the chain's next cluster and the sectors of it in use; false at
    // the chain's end, and broken() then says whether it ended by breaking
    // (a free, reserved or out-of-range cluster, or one seen twice) rather
    // than at a last cluster.
    bool next(int32_t& cluster, int32_t& sectors);
    bool broken() const { return broken_; }

private:
    const uint8_t* fat_ = nullptr;
    const ChainRules* rules_ = nullptr;
    uint32_t current_ = 0;
    bool done_ = true;
    bool broken_ = false;
    uint8_t seen_[kMaxChainClusters / 8] = {};
};

// The sectors a chain holds in use, up to where it ends or breaks; broken
// says whether it broke.
int32_t chainSectors(const uint8_t* fat, const ChainRules& rules, uint32_t first, bool& broken);

// Reads size bytes of the chain from first into out, sector by sector with
// readChunk, and reports it (wanted size): when the chain ends or breaks
// before size, chainBroken with the last sector read, and the rest zeros.
// Returns false when nothing could be read (the first sector gave nothing,
// or the chain breaks at once), or size is not 1..capacity.
bool readChain(DiskImage& image, const uint8_t* fat, const ChainRules& rules, uint32_t first, int32_t size,
               uint8_t* out, int32_t capacity, RunReport& report, SectorVisitor* visitor);

}  // namespace imgpry::fs
