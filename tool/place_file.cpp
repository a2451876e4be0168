#include "place_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <initializer_list>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

struct Identity {
    uint64_t device;
    uint64_t file;
};

struct PlacedFile {
    Identity id;
    int32_t disk;
};

PlacedFile placedFiles[kMaxPlacedFiles];
int32_t placedCount = 0;

int32_t findPlaced(const Identity& id) {
    for (int32_t i = 0; i < placedCount; ++i) {
        if (placedFiles[i].id.device == id.device && placedFiles[i].id.file == id.file) return i;
    }
    return -1;
}

void remember(int32_t slot, const Identity& id, int32_t disk) {
    if (slot >= 0) {
        placedFiles[slot] = PlacedFile{id, disk};
    } else if (placedCount < kMaxPlacedFiles) {
        placedFiles[placedCount++] = PlacedFile{id, disk};
    }
}

// The temporary names are ".imgpry-PID-N.tmp": a new N for every try.
unsigned temporaryCounter = 0;
constexpr int kTemporaryTries = 100;
// Room for a path: a folder of up to 32,768 units and a name of the tool's
// 260-byte buffer, 4 units a byte.
constexpr size_t kPathRoom = size_t{32768} + size_t{4} * 260;

// What an exclusive create did.
enum class Create : uint8_t { kMade, kExists, kFailed };

// What stands at a name, seen without following a link.
struct Standing {
    bool directory = false;
    bool known = false;  // whether its identity could be had
    Identity id{};
    uint32_t attributes = 0;  // Windows: its attributes
};

}  // namespace

void forgetPlacedFiles() { placedCount = 0; }

// The primitives of each system: paths, exclusive creation, what stands at
// a name, writing, renaming, removing, and the removal on signals.
#if !defined(_WIN32)

FileHandle outFile = -1;

namespace {

using PathChar = char;

// The folder being written in.
int folderFd = AT_FDCWD;

// The file the signal handler removes: set only while it is being written.
char removePath[kPathRoom];
int removeFolderFd = AT_FDCWD;
volatile std::sig_atomic_t removeOnSignal = 0;

extern "C" void onSignal(int sig) {
    if (removeOnSignal != 0) (void)unlinkat(removeFolderFd, removePath, 0);
    (void)std::signal(sig, SIG_DFL);
    (void)std::raise(sig);
}

void watch(const char* path) {
    (void)std::snprintf(removePath, sizeof removePath, "%s", path);
    removeFolderFd = folderFd;
    removeOnSignal = 1;
}

void unwatch() { removeOnSignal = 0; }

// On POSIX a name is its exact bytes.
bool toPath(const char* name, char* out, size_t room) {
    return std::snprintf(out, room, "%s", name) < static_cast<int>(room);
}

Create create(const char* path, int& error) {
    outFile = ::openat(folderFd, path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (outFile >= 0) return Create::kMade;
    error = errno;
    return error == EEXIST ? Create::kExists : Create::kFailed;
}

int inspect(const char* path, Standing& there) {
    struct stat st {};
    if (fstatat(folderFd, path, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    there.directory = S_ISDIR(st.st_mode);
    there.known = true;
    there.id = Identity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return 0;
}

void makeTemporaryName(char* out, size_t room) {
    (void)std::snprintf(out, room, ".imgpry-%ld-%u.tmp", static_cast<long>(getpid()), temporaryCounter++);
}

// Writes size bytes to the open outFile and closes it; the error number of
// the first failure, or 0.
int writeAndClose(const uint8_t* data, int32_t size, const imgpry::fs::FileDate& date, Identity& id) {
    int error = 0;
    size_t done = 0;
    const auto total = static_cast<size_t>(size);
    // Each write is retried for what is left until all is written or one
    // fails, so the loop ends after a bounded number of rounds.
    while (done < total && error == 0) {
        const ssize_t n = ::write(outFile, data + done, total - done);
        if (n < 0) {
            if (errno != EINTR) error = errno;
        } else if (n == 0) {
            error = EIO;
        } else {
            done += static_cast<size_t>(n);
        }
    }
    if (error == 0 && date.year != 0) {
        struct tm local {};
        local.tm_year = date.year - 1900;
        local.tm_mon = date.month - 1;
        local.tm_mday = date.day;
        local.tm_hour = date.hour;
        local.tm_min = date.minute;
        local.tm_sec = date.second;
        local.tm_isdst = -1;
        const time_t when = mktime(&local);
        if (when != static_cast<time_t>(-1)) {
            const struct timespec times[2] = {{when, 0}, {when, 0}};
            (void)futimens(outFile, times);
        }
    }
    struct stat st {};
    if (error == 0 && fstat(outFile, &st) != 0) error = errno;
    id = Identity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    if (::close(outFile) != 0 && error == 0) error = errno;
    outFile = -1;
    return error;
}

int replaceWith(const char* temporary, const char* path, const Standing& /*there*/) {
    return renameat(folderFd, temporary, folderFd, path) == 0 ? 0 : errno;
}

void removeFile(const char* path) { (void)unlinkat(folderFd, path, 0); }

void useFolder(const Folder& folder) { folderFd = folder.fd; }

}  // namespace

int openFolder(const Folder& parent, const char* name, Folder& out) {
    if (mkdirat(parent.fd, name, 0777) != 0 && errno != EEXIST) return errno;
    const int fd = openat(parent.fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP ? ENOTDIR : errno;
    out.fd = fd;
    return 0;
}

void closeFolder(Folder& folder) {
    if (folder.fd >= 0) (void)::close(folder.fd);
    folder.fd = kWorkingDirectory;
}

namespace {

}  // namespace

void removePartialFilesOnSignals() {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        (void)sigaction(sig, &sa, nullptr);
    }
}

#else  // Windows

FileHandle outFile = INVALID_HANDLE_VALUE;

namespace {

using PathChar = wchar_t;

wchar_t removePath[kPathRoom];
// The folder being written in: its path, empty for the working directory.
const wchar_t* folderPath = L"";
volatile LONG removeOnSignal = 0;

BOOL WINAPI onConsoleSignal(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    // The file is open with FILE_SHARE_DELETE: it goes when the process
    // closes its handle on the way out.
    if (removeOnSignal != 0) (void)DeleteFileW(removePath);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

void watch(const wchar_t* path) {
    (void)_snwprintf(removePath, sizeof removePath / sizeof removePath[0] - 1, L"%ls", path);
    removeOnSignal = 1;
}

void unwatch() { removeOnSignal = 0; }

// The C library's word for a Windows error.
int errnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_DRIVE:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        default:
            return EIO;
    }
}

// The name as Windows holds it: Shift_JIS where the bytes are valid
// Shift_JIS, otherwise as the ANSI code page reads them.
bool toName(const char* name, wchar_t* out, size_t room) {
    if (name[0] == '\0') {
        out[0] = L'\0';
        return true;
    }
    const int n = static_cast<int>(room);
    if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, name, -1, out, n) > 0) return true;
    return MultiByteToWideChar(CP_ACP, 0, name, -1, out, n) > 0;
}

// The folder's path and then the name.
bool toPath(const char* name, wchar_t* out, size_t room) {
    const size_t prefix = wcslen(folderPath);
    if (prefix >= room) return false;
    wmemcpy(out, folderPath, prefix);
    return toName(name, out + prefix, room - prefix);
}

Create create(const wchar_t* path, int& error) {
    outFile = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (outFile != INVALID_HANDLE_VALUE) return Create::kMade;
    const DWORD last = GetLastError();
    error = errnoOf(last);
    // A directory or a read-only file at the name may answer "access denied".
    const bool stands = GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
    if (last == ERROR_FILE_EXISTS || last == ERROR_ALREADY_EXISTS || (stands && last == ERROR_ACCESS_DENIED)) {
        return Create::kExists;
    }
    return Create::kFailed;
}

Identity identityOf(HANDLE h, bool& ok) {
    BY_HANDLE_FILE_INFORMATION info{};
    ok = GetFileInformationByHandle(h, &info) != 0;
    return Identity{info.dwVolumeSerialNumber,
                    (static_cast<uint64_t>(info.nFileIndexHigh) << 32U) | info.nFileIndexLow};
}

int inspect(const wchar_t* path, Standing& there) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return errnoOf(GetLastError());
    there.attributes = attributes;
    there.directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    // Its identity, without following a link.
    const HANDLE existing =
        CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        there.id = identityOf(existing, there.known);
        (void)CloseHandle(existing);
    }
    return 0;
}

void makeTemporaryName(wchar_t* out, size_t room) {
    (void)_snwprintf(out, room - 1, L"%ls.imgpry-%lu-%u.tmp", folderPath,
                     static_cast<unsigned long>(GetCurrentProcessId()), temporaryCounter++);
    out[room - 1] = L'\0';
}

int writeAndClose(const uint8_t* data, int32_t size, const imgpry::fs::FileDate& date, Identity& id) {
    int error = 0;
    DWORD written = 0;
    if (size > 0 && (WriteFile(outFile, data, static_cast<DWORD>(size), &written, nullptr) == 0 ||
                     written != static_cast<DWORD>(size))) {
        error =
            written != static_cast<DWORD>(size) && GetLastError() == ERROR_SUCCESS ? ENOSPC : errnoOf(GetLastError());
    }
    if (error == 0 && date.year != 0) {
        SYSTEMTIME local{};
        local.wYear = static_cast<WORD>(date.year);
        local.wMonth = date.month;
        local.wDay = date.day;
        local.wHour = date.hour;
        local.wMinute = date.minute;
        local.wSecond = date.second;
        SYSTEMTIME universal{};
        FILETIME when{};
        if (TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) != 0 &&
            SystemTimeToFileTime(&universal, &when) != 0) {
            (void)SetFileTime(outFile, nullptr, &when, &when);
        }
    }
    bool known = false;
    id = identityOf(outFile, known);
    if (CloseHandle(outFile) == 0 && error == 0) error = errnoOf(GetLastError());
    outFile = INVALID_HANDLE_VALUE;
    return error;
}

int replaceWith(const wchar_t* temporary, const wchar_t* path, const Standing& there) {
    // A read-only file is replaced like any other.
    const bool readOnly = (there.attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) (void)SetFileAttributesW(path, there.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    if (MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING) != 0) return 0;
    const int error = errnoOf(GetLastError());
    if (readOnly) (void)SetFileAttributesW(path, there.attributes);
    return error;
}

void removeFile(const wchar_t* path) { (void)DeleteFileW(path); }

void useFolder(const Folder& folder) { folderPath = folder.path; }

}  // namespace

int openFolder(const Folder& parent, const char* name, Folder& out) {
    // The name within parent, whatever folder a file was last placed in.
    useFolder(parent);
    if (!toPath(name, out.path, kFolderPathRoom - 1)) return ENAMETOOLONG;
    if (CreateDirectoryW(out.path, nullptr) == 0 && GetLastError() != ERROR_ALREADY_EXISTS) {
        return errnoOf(GetLastError());
    }
    const DWORD attributes = GetFileAttributesW(out.path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return errnoOf(GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return ENOTDIR;
    }
    const size_t length = wcslen(out.path);
    out.path[length] = L'\\';
    out.path[length + 1] = L'\0';
    return 0;
}

void closeFolder(Folder& folder) { folder.path[0] = L'\0'; }

namespace {

}  // namespace

void removePartialFilesOnSignals() { (void)SetConsoleCtrlHandler(onConsoleSignal, TRUE); }

#endif

namespace {

// Writes the file just created at path; a file that cannot be written whole
// is removed.
int writeCreated(const PathChar* path, const uint8_t* data, int32_t size, const imgpry::fs::FileDate& date,
                 Identity& id) {
    watch(path);
    const int error = writeAndClose(data, size, date, id);
    if (error != 0) removeFile(path);
    unwatch();
    return error;
}

}  // namespace

Placed placeFile(const Folder& folder, const char* name, const uint8_t* data, int32_t size, int32_t disk,
                 const imgpry::fs::FileDate& date) {
    Placed placed;
    useFolder(folder);
    static PathChar path[kPathRoom];
    if (!toPath(name, path, sizeof path / sizeof path[0])) {
        placed.error = ENAMETOOLONG;
        return placed;
    }
    int error = 0;
    Identity id{};
    // The common case: nothing stands at the name.
    const Create made = create(path, error);
    if (made == Create::kFailed) {
        placed.error = error;
        return placed;
    }
    if (made == Create::kMade) {
        placed.error = writeCreated(path, data, size, date, id);
        if (placed.error == 0) {
            remember(-1, id, disk);
            placed.ok = true;
        }
        return placed;
    }

    // Something stands there: a new file under a temporary name, renamed
    // over it once it is whole.
    Standing there;
    error = inspect(path, there);
    if (error != 0 || there.directory) {
        placed.error = error != 0 ? error : EISDIR;
        return placed;
    }
    const int32_t slot = there.known ? findPlaced(there.id) : -1;
    static PathChar temporary[kPathRoom];
    Create temp = Create::kExists;
    for (int tries = 0; tries < kTemporaryTries && temp == Create::kExists; ++tries) {
        makeTemporaryName(temporary, sizeof temporary / sizeof temporary[0]);
        temp = create(temporary, error);
    }
    if (temp != Create::kMade) {
        placed.error = error;
        return placed;
    }
    watch(temporary);
    error = writeAndClose(data, size, date, id);
    if (error == 0) error = replaceWith(temporary, path, there);
    if (error != 0) removeFile(temporary);
    unwatch();
    if (error != 0) {
        placed.error = error;
        return placed;
    }
    placed.replacedDisk = slot >= 0 ? placedFiles[slot].disk : -1;
    remember(slot, id, disk);
    placed.ok = true;
    return placed;
}
