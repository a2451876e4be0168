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

// The whole tool: command line, disk walk, listing and extraction. Returns
// the exit status.
int runImgpry(int argc, char** argv);
#if defined(_WIN32)
// The same with the arguments as Windows holds them, in UTF-16: the image is
// opened under its exact name, whatever the ANSI code page can show.
int runImgpryWide(int argc, wchar_t** argv);
#endif

// Lists and extracts every disk of the image open in gImage into the
// working directory; shownPath is how messages name the image. Returns the
// exit status (0).
int listImage(const char* shownPath);

// Lists disk index (0-based) of the image open in gImage and writes its
// files into top, its folders as folders within top: the disk's file
// system is recognised, its catalogue read, and every file read and placed
// through it. Messages go to standard error as listImage gives them.
void listDisk(int32_t index, const Folder& top);
