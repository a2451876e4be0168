#include "zip.h"

namespace imgpry::web {

namespace {

constexpr uint16_t kVersion = 20;  // 2.0: stored entries with folders
constexpr uint16_t kMadeByUnix = 3 << 8;
constexpr uint32_t kRegularFile = 0100644;   // a regular file, rw-r--r--
constexpr uint16_t kUtf8Names = 0x0800;      // general purpose flag bit 11
constexpr uint16_t kDosTime = 0;             // 00:00:00
constexpr uint16_t kDosDate = (1 << 5) | 1;  // 1980-01-01: year 0 (bits 9-15), month 1, day 1
constexpr size_t kLocalHeaderSize = 30;
constexpr uint64_t kMaxOffset = 0xFFFFFFFFULL;
constexpr size_t kMaxEntries = 0xFFFF;

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFFU));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFFU));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFFU);
    put16(out, v >> 16);
}

void putName(std::vector<uint8_t>& out, const std::string& name) { out.insert(out.end(), name.begin(), name.end()); }

// The fields local and central headers share, from "version needed" to the
// extra field's length.
void putCommon(std::vector<uint8_t>& out, uint32_t crc, uint32_t size, size_t nameLength) {
    put16(out, kVersion);
    put16(out, kUtf8Names);
    put16(out, 0);  // stored
    put16(out, kDosTime);
    put16(out, kDosDate);
    put32(out, crc);
    put32(out, size);  // compressed size: stored, the same
    put32(out, size);
    put16(out, static_cast<uint32_t>(nameLength));
    put16(out, 0);  // no extra field
}

struct CrcTable {
    uint32_t v[256];
    CrcTable() : v{} {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
            v[i] = c;
        }
    }
};

}  // namespace

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc) {
    static const CrcTable table;
    uint32_t c = ~crc;
    for (size_t i = 0; i < size; ++i) c = table.v[(c ^ data[i]) & 0xFFU] ^ (c >> 8);
    return ~c;
}

bool ZipWriter::add(const std::string& name, const uint8_t* data, size_t size, std::vector<uint8_t>& header) {
    header.clear();
    const uint64_t end = offset_ + kLocalHeaderSize + name.size() + size;
    // The central directory must start below 4 GiB too.
    if (entries_.size() >= kMaxEntries || name.size() > 0xFFFF || end > kMaxOffset) return false;
    const Entry e{name, crc32(data, size), static_cast<uint32_t>(size), static_cast<uint32_t>(offset_)};
    put32(header, 0x04034B50U);
    putCommon(header, e.crc, e.size, name.size());
    putName(header, name);
    entries_.push_back(e);
    offset_ = end;
    return true;
}

std::vector<uint8_t> ZipWriter::finish() const {
    std::vector<uint8_t> out;
    for (const Entry& e : entries_) {
        put32(out, 0x02014B50U);
        // Made by: Unix, version 2.0. Readers take the names of archives
        // made on MS-DOS for its code page and ignore the UTF-8 flag there.
        put16(out, kMadeByUnix | kVersion);
        putCommon(out, e.crc, e.size, e.name.size());
        put16(out, 0);                   // no comment
        put16(out, 0);                   // disk 0
        put16(out, 0);                   // internal attributes
        put32(out, kRegularFile << 16);  // external attributes: the file's mode
        put32(out, e.offset);
        putName(out, e.name);
    }
    const auto entryCount = static_cast<uint32_t>(entries_.size());
    const auto directoryBytes = static_cast<uint32_t>(out.size());
    put32(out, 0x06054B50U);
    put16(out, 0);  // this disk
    put16(out, 0);  // the disk the central directory starts on
    put16(out, entryCount);
    put16(out, entryCount);
    put32(out, directoryBytes);
    put32(out, static_cast<uint32_t>(offset_));
    put16(out, 0);  // no comment
    return out;
}

std::vector<uint8_t> zipArchive(const std::vector<ZipFile>& files) {
    ZipWriter writer;
    std::vector<uint8_t> out;
    std::vector<uint8_t> header;
    for (const ZipFile& f : files) {
        if (!writer.add(f.name, f.data.data(), f.data.size(), header)) return {};
        out.insert(out.end(), header.begin(), header.end());
        out.insert(out.end(), f.data.begin(), f.data.end());
    }
    const std::vector<uint8_t> tail = writer.finish();
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

}  // namespace imgpry::web
