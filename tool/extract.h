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
#include "image_input.h"
#include "names.h"
#include "place_file.h"

using imgpry::fs::isUnsafeName;
using imgpry::fs::kHostNameRules;
using imgpry::fs::NameRules;
using imgpry::fs::showName;

extern imgpry::DiskImage gImage;

// Writes the listing text of one file into line, as printf would with
// "%-12s %8d  trk=%02x sec=%02x" for a path of any length, any size and a
// track and sector of 0..255, and returns its length: the path's length
// (at least 12) plus at most kListingTail. line needs room for that. It is
// formatted by hand because printf's format parsing costs more than the
// rest of listing a file.
inline constexpr int32_t kListingTail = 1 + 11 + 2 + 6 + 7;
inline constexpr int32_t kListingLength = 12 + kListingTail;
int32_t formatListing(char* line, const char* name, int32_t size, int32_t track, int32_t sector);
// The same for a name that takes columns columns on a terminal (its UTF-8
// characters, wide ones two each): the name is padded to 12 columns, not 12
// bytes. line needs room for the name's bytes, 12 and kListingTail.
int32_t formatListing(char* line, const char* name, int32_t columns, int32_t size, int32_t track, int32_t sector);

// The whole tool: command line, disk walk, listing and extraction. Returns
// the exit status.
int runImgpry(int argc, char** argv);
#if defined(_WIN32)
// The same with the arguments as Windows holds them, in UTF-16: the image is
// opened under its exact name, whatever the ANSI code page can show.
int runImgpryWide(int argc, wchar_t** argv);
#endif

// Where and what listImage writes.
struct ListOptions {
    const Folder* target = nullptr;  // null: the working directory
    const char* targetShown = ".";   // how messages name the target
    bool perDisk = false;            // disk D's files go into diskDD/ under the target
    bool listOnly = false;           // list and read, but write nothing
    // Only entries whose listed path matches one of these (see
    // matchPattern) are listed and written; none: every entry.
    const char* const* patterns = nullptr;
    int32_t patternCount = 0;
    // How the image was read: its size and what reading it met with, for
    // the container's lines and the disks the image cuts short. None: not
    // known.
    const imgpry::fs::ImageInput* input = nullptr;
};
inline constexpr int32_t kMaxPatterns = 4096;

// Lists and extracts every disk of the image open in gImage as options say
// (the working directory by default); shownPath is how messages name the
// image. Returns the exit status: 2 when it wrote any line to standard
// error (a file not written whole, a read error, a mark, a pattern that
// matched nothing...), 0 when it wrote none.
int listImage(const char* shownPath, const ListOptions& options);
int listImage(const char* shownPath);

// Lists disk index (0-based) of the image open in gImage and writes its
// files into top, its folders as folders within top: the disk's file
// system is recognised, its catalogue read, and every file read and placed
// through it. Messages go to standard error as listImage gives them.
void listDisk(int32_t index, const Folder& top);
