// Puts an extracted file in place under its name in a folder, so that only
// that name ever changes and a file that stood there is never half
// replaced:
//
// - A name where nothing stands is created as a new file that cannot
//   already exist and cannot be a link (O_CREAT | O_EXCL | O_NOFOLLOW;
//   CREATE_NEW on Windows), mode 0666 less the umask. Such a file costs
//   its open, its writes and its close: no other system call.
// - Where something stands (a file, a link, a FIFO, a device), the data is
//   written to a new temporary file in the same folder, created the same
//   exclusive way, which is then renamed over the name. What stood there is
//   replaced as a whole and never opened: a link is replaced, not followed.
//   A directory at the name is not replaced; neither is the image being
//   read (protectImage), nor, when keepOldFiles is on, a file that stood
//   there before the run.
// - A file that cannot be written whole is removed, and so is the file
//   being written on SIGINT, SIGTERM, SIGHUP and SIGXFSZ (Ctrl-C and
//   Ctrl-Break on Windows), after which the process ends by the signal. It
//   is removed only while what stands at its name is still the file this
//   run created (same identity; on Windows it is deleted through its own
//   handle), so a file someone else put there meanwhile stays. A signal
//   that arrives while a file is being created is taken once the file is
//   known, so it never leaves an empty file behind. After a kill that
//   cannot be caught, the file being created may be left partial under its
//   name (a rerun replaces it), or a temporary ".imgpry-PID-N.tmp" remains.
//
// The files placed are remembered with the disk they came from, so that a
// later file replacing one of them is known by its identity (device and
// inode; volume serial and file index on Windows), whatever name the file
// system folded the two to. On POSIX only the names are kept as files are
// written; their identities are fetched at the first name found occupied.
#pragma once

#include <cstdint>

#include "file_system.h"

#if defined(_WIN32)
using FileHandle = void*;  // a HANDLE
#else
using FileHandle = int;                         // a file descriptor
#endif

// The output file while it is being written; invalid otherwise.
extern FileHandle outFile;

inline constexpr int32_t kMaxPlacedFiles = 64 * 128;

// Why placeFile did not write a file.
enum class NotPlaced : uint8_t {
    kError,            // error holds the system's error number
    kKept,             // keepOldFiles: a file that stood before the run is kept
    kImage,            // the image being read stands at the name
    kNoTemporaryName,  // every temporary name tried was taken
};

// What placeFile did.
struct Placed {
    bool ok = false;
    int error = 0;  // when !ok and why is kError: the system's error number
    NotPlaced why = NotPlaced::kError;
    int32_t replacedDisk = -1;  // the disk of the file this run placed there before, or -1
};

// A folder files are placed in: an open directory on POSIX (the working
// directory when fd is kWorkingDirectory) with its identity, the folder's
// path in UTF-16 on Windows (empty for the working directory, otherwise
// ending in '\\').
#if defined(_WIN32)
inline constexpr int32_t kFolderPathRoom = 32768;
// cppcheck-suppress ctuOneDefinitionRuleViolation ; one definition per host
struct Folder {
    wchar_t path[kFolderPathRoom] = L"";
};
#else
inline constexpr int kWorkingDirectory = -100;  // AT_FDCWD
// cppcheck-suppress ctuOneDefinitionRuleViolation ; one definition per host
struct Folder {
    int fd = kWorkingDirectory;
    // The directory's device and inode, when openFolder opened it.
    bool identified = false;
    uint64_t device = 0;
    uint64_t inode = 0;
};
#endif

// Opens the folder name in parent as out, creating it when nothing stands
// there, never through a link (mkdirat, then openat with O_DIRECTORY |
// O_NOFOLLOW; CreateDirectoryW on Windows); a folder already there is
// reused. Returns 0, or the system's error number (ENOTDIR when something
// other than a folder stands at the name).
int openFolder(const Folder& parent, const char* name, Folder& out);
// Opens the existing directory at path (relative to the working directory,
// links followed) as out. Returns 0 or the system's error number.
int openExistingFolder(const char* path, Folder& out);
#if defined(_WIN32)
int openExistingFolder(const wchar_t* path, Folder& out);
#endif
// Closes a folder opened by openFolder or openExistingFolder.
void closeFolder(Folder& folder);

// Writes size bytes of data as the file name in folder, from disk
// (0-based), with date (local time) as its modification time when it
// records one. name is the exact bytes; on Windows they are read as
// Shift_JIS (code page 932), falling back to the ANSI code page where they
// are not valid Shift_JIS.
Placed placeFile(const Folder& folder, const char* name, const uint8_t* data, int32_t size, int32_t disk,
                 const imgpry::fs::FileDate& date);

// Forgets the files placed so far (a new run); the settings below stay.
void forgetPlacedFiles();

// When on, a file that stood at a name before the run is kept (placeFile
// says kKept); files this run placed are still replaced.
void keepOldFiles(bool keep);

// Never writes over the file at path (the image being read): placeFile
// says kImage where it stands. A pipe, a FIFO or a socket is not
// protected: nothing of it can be lost. A null path protects nothing.
void protectImage(const char* path);
#if defined(_WIN32)
void protectImage(const wchar_t* path);
#endif

// Makes the signals above remove the file being written. Signals that were
// ignored when the program started stay ignored.
void removePartialFilesOnSignals();
