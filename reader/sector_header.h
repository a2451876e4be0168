// Decoding of the image's little-endian fields and of the 16-byte header
// that starts every sector record. Internal to the reader.
#pragma once

#include <cstdint>

namespace imgpry::detail {

// Image fields are little-endian whatever the host's byte order: assemble
// them from single bytes.
inline uint32_t le16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8U; }

inline uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8U | static_cast<uint32_t>(p[2]) << 16U |
           static_cast<uint32_t>(p[3]) << 24U;
}

// A sector record: C, H, R, N, the track's sector count, the density, the
// deleted-data mark, the controller's status when the disk was dumped and
// the number of data bytes that follow the header.
struct SectorHeader {
    static constexpr int32_t kSize = 16;

    uint8_t c, h, r, n;
    int32_t count;
    uint16_t dataSize;
    uint8_t density, deleted, status;

    static SectorHeader decode(const uint8_t* p) {
        return SectorHeader{
            p[0], p[1], p[2], p[3], static_cast<int32_t>(le16(p + 4)), static_cast<uint16_t>(le16(p + 14)),
            p[6], p[7], p[8]};
    }
};

}  // namespace imgpry::detail
