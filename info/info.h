// imgpry-info: shows what a D88 image holds, disk by disk, file by file and
// sector by sector, judging every file by the same file system layer as
// imgpry (fs/), without writing anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The whole program: command line, report, exit status (0: every listed
// file whole, unmarked and not replaced; 1: anything damaged or lost; 2: a
// usage error or an image that cannot be opened).
int runInfo(int argc, char** argv);
#if defined(_WIN32)
int runInfoWide(int argc, wchar_t** argv);
#endif

// The report on an image held in memory, as the program would write it for
// a file of these bytes (mode: "" for the report, "--tracks", "--json" or
// "--map"); shownPath names it. Returns the exit status.
int reportMemory(const uint8_t* data, size_t size, const char* mode, const char* shownPath);
// The same, written to out instead of standard output.
int reportMemoryTo(FILE* out, const uint8_t* data, size_t size, const char* mode, const char* shownPath);
