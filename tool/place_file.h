// Puts an extracted file in place under its name in the current directory,
// so that only that name ever changes and it never holds half a file:
//
// - A name where nothing stands is created as a new file that cannot
//   already exist and cannot be a link (O_CREAT | O_EXCL | O_NOFOLLOW;
//   CREATE_NEW on Windows), mode 0666 less the umask.
// - Where something stands (a file, a link, a FIFO, a device), the data is
//   written to a new temporary file in the same directory, created the same
//   exclusive way, which is then renamed over the name. What stood there is
//   replaced as a whole and never opened: a link is replaced, not followed.
//   A directory at the name is not replaced.
// - On SIGINT, SIGTERM, SIGHUP and SIGXFSZ (Ctrl-C and Ctrl-Break on
//   Windows) the file being written is removed, new or temporary, and the
//   process ends by the signal. After a kill that cannot be caught, at most
//   one temporary file remains, named ".imgpry-PID-N.tmp".
//
// Every file placed is remembered by its identity (device and inode; volume
// serial and file index on Windows) with the disk it came from, so that a
// later file replacing it is known whatever name the file system folded the
// two to.
#pragma once

#include <cstdint>

#if defined(_WIN32)
using FileHandle = void*;  // a HANDLE
#else
using FileHandle = int;  // a file descriptor
#endif

// The output file while it is being written; invalid otherwise.
extern FileHandle outFile;

inline constexpr int32_t kMaxPlacedFiles = 64 * 128;

// What placeFile did.
struct Placed {
    bool ok = false;
    int error = 0;              // when !ok: the system's error number
    int32_t replacedDisk = -1;  // the disk of the file this run placed there before, or -1
};

// Writes size bytes of data as the file name, from disk (0-based). name is
// the exact bytes; on Windows they are read as Shift_JIS (code page 932),
// falling back to the ANSI code page where they are not valid Shift_JIS.
Placed placeFile(const char* name, const uint8_t* data, int32_t size, int32_t disk);

// Forgets the files placed so far (a new run).
void forgetPlacedFiles();

// Makes the signals above remove the file being written. Signals that were
// ignored when the program started stay ignored.
void removePartialFilesOnSignals();
