// The imgpry command-line tool: walks every disk of an image, lists each
// disk's directory and writes every listed file into the current directory.
//
// The disks, their directory, the names and the recovery of a file's
// sectors are the file system layer's (fs/file_system.h); this part holds
// the command line, the listing, the messages and the writing of files.
#pragma once

#include <imgpry/disk_image.h>

#include <cstdint>
#include <cstdio>

#include "file_system.h"
#include "names.h"
#include "place_file.h"

using imgpry::fs::isUnsafeName;
using imgpry::fs::kDirBytes;
using imgpry::fs::kDirEntries;
using imgpry::fs::kDirEntrySize;
using imgpry::fs::kDirTrack;
using imgpry::fs::kFirstSector;
using imgpry::fs::kHostNameRules;
using imgpry::fs::kLastSector;
using imgpry::fs::kSectorBytes;
using imgpry::fs::kSizeCode;
using imgpry::fs::NameRules;
using imgpry::fs::showName;

inline constexpr int32_t kNameBufferSize = 260;
inline constexpr int32_t kFileBufferSize = 400 * 1024;

extern imgpry::DiskImage gImage;
extern uint8_t dirBuffer[kDirBytes];
extern char outName[kNameBufferSize];
extern uint8_t fileBuffer[kFileBufferSize];

// Writes the name of a directory entry as NAME.EXT into outName: the base
// name and the extension each end at their first space, and the dot is
// there only when the extension's first byte is not a space.
void formatEntryName(const uint8_t* entry);

// Writes the listing text of one entry into line, as printf would with
// "%-12s %8d  trk=%02x sec=%02x" for a name of at most 12 characters, a size
// of 0..99,999,999 and a track and sector of 0..255, and returns its length
// (at most kListingLength). It is formatted by hand because printf's
// format parsing costs more than the rest of listing a file.
inline constexpr int32_t kListingLength = 12 + 1 + 8 + 2 + 6 + 7;
int32_t formatListing(char* line, const char* name, int32_t size, int32_t track, int32_t sector);

// Reads skip + size bytes as a run of sectors starting at track t, ID
// (c, h, r, n), recovering every sector it can (see imgpry::fs::RunMode),
// and writes size of them, from skip on, to a file called name (see
// place_file.h). Returns false when nothing could be read (nothing is
// printed, no file is created) or when the file could not be written
// (extractFailure() then says why); true when the file was written and
// " ... cutted." printed.
bool extractFile(const char* name, int32_t t, int32_t c, int32_t h, int32_t r, int32_t n, int32_t skip, int32_t size);

// Why the last extractFile call could not write its file, or null when it
// wrote it (or read nothing, so there was nothing to write).
const char* extractFailure();
// What the last extractFile call read (skip included).
const imgpry::fs::RunReport& extractReport();
// The disk (0-based) of the file the last extractFile call replaced, when
// this run had written it; -1 otherwise.
int32_t extractReplacedDisk();

// The whole tool: command line, disk walk, listing and extraction. Returns
// the exit status.
int runImgpry(int argc, char** argv);
#if defined(_WIN32)
// The same with the arguments as Windows holds them, in UTF-16: the image is
// opened under its exact name, whatever the ANSI code page can show.
int runImgpryWide(int argc, wchar_t** argv);
#endif

// Lists and extracts every disk of the image open in gImage; shownPath is
// how messages name the image. Returns the exit status (0).
int listImage(const char* shownPath);
