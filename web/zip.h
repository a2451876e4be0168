// A zip archive writer that stores files as they are (no compression), for
// handing every file of an image out as one download. The archive is the
// same bytes for the same files: every entry carries one fixed date
// (1980-01-01 00:00), names are UTF-8 (general purpose flag bit 11).
//
// It writes the archive in pieces so that a caller can keep the files'
// bytes where they already are: for each file a local header, which the
// file's bytes follow unchanged, and at the end the central directory with
// the end record. Without ZIP64 an archive holds at most 65,535 entries and
// 4 GiB - 1 bytes; past that add refuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace imgpry::web {

// CRC-32 (the zip and PNG polynomial, reflected 0xEDB88320) of size bytes,
// continuing from crc (0 for the first piece).
uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

class ZipWriter {
public:
    // Appends the local header of a file named name (UTF-8, '/' between
    // folders) holding size bytes of data to header, replacing what header
    // held; the file's bytes come next in the archive. False, with header
    // empty, when the archive would exceed what it can hold.
    bool add(const std::string& name, const uint8_t* data, size_t size, std::vector<uint8_t>& header);
    // The central directory and the end record, which close the archive.
    std::vector<uint8_t> finish() const;
    size_t count() const { return entries_.size(); }

private:
    struct Entry {
        std::string name;
        uint32_t crc;
        uint32_t size;
        uint32_t offset;
    };
    std::vector<Entry> entries_;
    uint64_t offset_ = 0;
};

struct ZipFile {
    std::string name;
    std::vector<uint8_t> data;
};
// The whole archive of files, in order, in memory; empty when it cannot
// hold them.
std::vector<uint8_t> zipArchive(const std::vector<ZipFile>& files);

}  // namespace imgpry::web
