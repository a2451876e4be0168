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

#include "file_system.h"

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

// A folder files are placed in: an open directory on POSIX (the working
// directory when fd is kWorkingDirectory), the folder's path in UTF-16 on
// Windows (empty for the working directory, otherwise ending in '\\').
#if defined(_WIN32)
inline constexpr int32_t kFolderPathRoom = 32768;
struct Folder {
    wchar_t path[kFolderPathRoom] = L"";
};
#else
inline constexpr int kWorkingDirectory = -100;  // AT_FDCWD
struct Folder {
    int fd = kWorkingDirectory;
};
#endif

// Opens the folder name in parent as out, creating it when nothing stands
// there, never through a link (mkdirat, then openat with O_DIRECTORY |
// O_NOFOLLOW; CreateDirectoryW on Windows); a folder already there is
// reused. Returns 0, or the system's error number (ENOTDIR when something
// other than a folder stands at the name).
int openFolder(const Folder& parent, const char* name, Folder& out);
// Closes a folder opened by openFolder.
void closeFolder(Folder& folder);

// Writes size bytes of data as the file name in folder, from disk
// (0-based), with date (local time) as its modification time when it
// records one. name is the exact bytes; on Windows they are read as
// Shift_JIS (code page 932), falling back to the ANSI code page where they
// are not valid Shift_JIS.
Placed placeFile(const Folder& folder, const char* name, const uint8_t* data, int32_t size, int32_t disk,
                 const imgpry::fs::FileDate& date);

// Forgets the files placed so far (a new run).
void forgetPlacedFiles();

// Makes the signals above remove the file being written. Signals that were
// ignored when the program started stay ignored.
void removePartialFilesOnSignals();
