#include "place_file.h"

#include <atomic>
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

bool operator==(const Identity& a, const Identity& b) { return a.device == b.device && a.file == b.file; }

// A file this run placed: the folder it is in, its name in the name pool
// (while its identity is not known), and its identity once known, kept
// apart in placedIds: that table is touched only once identities are
// sought (at the first name found taken), so a run without one costs a
// few bytes per file.
struct PlacedFile {
    uint32_t nameAt;     // cppcheck-suppress unusedStructMember ; offset in namePool while !known (POSIX)
    uint16_t folderRun;  // index in folderRuns (kMaxPlacedFiles of them at most)
    uint8_t disk;
    bool known : 1;
    bool gone : 1;  // its name no longer held a file when its identity was sought
};
static_assert(kMaxPlacedFiles <= 65536, "a folder run's index is 16 bits");

PlacedFile placedFiles[kMaxPlacedFiles];
Identity placedIds[kMaxPlacedFiles];
int32_t placedCount = 0;
// The folders files were placed in, one entry per run of files placed in
// the same folder one after another.
Identity folderRuns[kMaxPlacedFiles];
uint32_t folderRunCount = 0;
// Names of files whose identity is not known yet, NUL-terminated one after
// another. When it is full, a file's identity is taken as it is written.
constexpr uint32_t kNamePoolBytes = uint32_t{kMaxPlacedFiles} * 32U;
[[maybe_unused]] char namePool[kNamePoolBytes];
uint32_t namePoolUsed = 0;
// The longest name a file is placed under, its NUL included.
constexpr uint32_t kLongestName = 261;

bool keepOld = false;
bool imageProtected = false;
Identity imageId{};

// The temporary names are ".imgpry-PID-N.tmp": a new N for every try.
unsigned temporaryCounter = 0;
constexpr int kTemporaryTries = 100;
// Tries of the exclusive create when what stood at the name vanished
// before it could be looked at.
constexpr int kCreateTries = 100;
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

// What the signal handler does with the file being written: nothing while
// none is (kIdle); while one is being created it only notes the signal,
// which the creating code takes once the file is known (kCreating); while
// one is written it removes it when it is still this run's (kWriting).
enum : int { kIdle = 0, kCreating = 1, kWriting = 2 };
volatile std::sig_atomic_t signalState = kIdle;
volatile std::sig_atomic_t deferredSignal = 0;

}  // namespace

void forgetPlacedFiles() {
    placedCount = 0;
    folderRunCount = 0;
    namePoolUsed = 0;
}

void keepOldFiles(bool keep) { keepOld = keep; }

// The primitives of each system: paths, exclusive creation, what stands at
// a name, writing, renaming, removing, and the removal on signals.
#if !defined(_WIN32)

FileHandle outFile = -1;

namespace {

using PathChar = char;

// The folder being written in.
int folderFd = AT_FDCWD;
Identity folderId{};

// The file the signal handler removes, in the folder removeFolderFd: by
// its open descriptor removeFd, or by removeId once it is closed.
char removePath[kPathRoom];
int removeFolderFd = AT_FDCWD;
volatile int removeFd = -1;
Identity removeId{};
volatile std::sig_atomic_t removeIdKnown = 0;

// Removes the file at removePath when it is still the one this run
// created. Only async-signal-safe calls.
void removeIfOurs() {
    Identity ours{};
    struct stat st {};
    if (removeIdKnown != 0) {
        ours = removeId;
    } else if (removeFd >= 0 && fstat(removeFd, &st) == 0) {
        ours = Identity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    } else {
        return;
    }
    if (fstatat(removeFolderFd, removePath, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (Identity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)} == ours) {
        (void)unlinkat(removeFolderFd, removePath, 0);
    }
}

void endBySignal(int sig) {
    (void)std::signal(sig, SIG_DFL);
    (void)std::raise(sig);
}

extern "C" void onSignal(int sig) {
    if (signalState == kCreating) {
        deferredSignal = sig;
        return;
    }
    if (signalState == kWriting) removeIfOurs();
    endBySignal(sig);
}

// On POSIX a name is its exact bytes.
bool toPath(const char* name, char* out, size_t room) {
    const size_t length = std::strlen(name);
    if (length >= room) return false;
    std::memcpy(out, name, length + 1);
    return true;
}

Identity identityOf(const struct stat& st) {
    return Identity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// Creates path exclusively as outFile. The signal handler knows the file
// from the moment it exists: a signal that arrives meanwhile is taken
// here, once the descriptor is known.
Create create(const char* path, int& error) {
    (void)toPath(path, removePath, sizeof removePath);
    removeFolderFd = folderFd;
    removeIdKnown = 0;
    removeFd = -1;
    signalState = kCreating;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const int fd = ::openat(folderFd, path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    error = fd < 0 ? errno : 0;
    outFile = fd;
    removeFd = fd;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    signalState = fd >= 0 ? kWriting : kIdle;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (deferredSignal != 0) {
        if (fd >= 0) removeIfOurs();
        endBySignal(deferredSignal);
    }
    if (fd >= 0) return Create::kMade;
    return error == EEXIST ? Create::kExists : Create::kFailed;
}

int inspect(const char* path, Standing& there) {
    struct stat st {};
    if (fstatat(folderFd, path, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    there.directory = S_ISDIR(st.st_mode);
    there.known = true;
    there.id = identityOf(st);
    return 0;
}

void makeTemporaryName(char* out, size_t room) {
    (void)std::snprintf(out, room, ".imgpry-%ld-%u.tmp", static_cast<long>(getpid()), temporaryCounter++);
}

// The moment a disk's date means as local time, or -1. Disks give most of
// their files one of a few dates, and mktime reads the time zone afresh on
// every call, so the answers are kept by date (the zone is set once per run).
time_t localTime(const imgpry::fs::FileDate& date) {
    struct Known {
        uint64_t key = 0;  // 0: empty (a date's key is never 0: its year is not)
        time_t when = 0;
    };
    static Known known[64];
    const uint64_t key = static_cast<uint64_t>(static_cast<uint16_t>(date.year)) << 40U | uint64_t{date.month} << 32U |
                         uint64_t{date.day} << 24U | uint64_t{date.hour} << 16U | uint64_t{date.minute} << 8U |
                         date.second;
    Known& slot = known[(key * 0x9E3779B97F4A7C15ULL) >> 58U];
    if (slot.key == key) return slot.when;
    struct tm local {};
    local.tm_year = date.year - 1900;
    local.tm_mon = date.month - 1;
    local.tm_mday = date.day;
    local.tm_hour = date.hour;
    local.tm_min = date.minute;
    local.tm_sec = date.second;
    local.tm_isdst = -1;
    slot = Known{key, mktime(&local)};
    return slot.when;
}

// Writes size bytes and the date to the open outFile; the error number of
// the first failure, or 0.
int writeData(const uint8_t* data, int32_t size, const imgpry::fs::FileDate& date) {
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
        const time_t when = localTime(date);
        if (when != static_cast<time_t>(-1)) {
            const struct timespec times[2] = {{when, 0}, {when, 0}};
            (void)futimens(outFile, times);
        }
    }
    return error;
}

// The identity of the open outFile.
bool openIdentity(Identity& id) {
    struct stat st {};
    if (fstat(outFile, &st) != 0) return false;
    id = identityOf(st);
    return true;
}

// Removes the file being written when it is still this run's (it could not
// be written whole), before its descriptor is closed.
void discardOpen() { removeIfOurs(); }

// Closes outFile; the signal handler lets go of it first, so it never
// looks at a closed descriptor.
int closeOut() {
    signalState = kIdle;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    removeFd = -1;
    const int error = ::close(outFile) != 0 ? errno : 0;
    outFile = -1;
    return error;
}

// Closes the temporary file, whose identity is id, and keeps it in the
// signal handler's care by that identity until it is renamed or removed.
int closeTemporary(const char* /*temporary*/, const Identity& id) {
    removeId = id;
    removeIdKnown = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    removeFd = -1;
    const int error = ::close(outFile) != 0 ? errno : 0;
    outFile = -1;
    return error;
}

// Removes the closed temporary file when it is still this run's.
void removeTemporary() { removeIfOurs(); }

// Removes path, a new file already closed whose close failed. Its identity
// was not taken (that would cost every file a call), so it goes by name.
void removeClosed(const char* path) { (void)unlinkat(folderFd, path, 0); }

void letGo() {
    signalState = kIdle;
    removeIdKnown = 0;
}

int replaceWith(const char* temporary, const char* path, const Standing& /*there*/) {
    return renameat(folderFd, temporary, folderFd, path) == 0 ? 0 : errno;
}

// Names the folder being written in for the record of files placed: by its
// identity, or as the working directory (which does not change during a
// run, and needs no look to be told apart).
constexpr Identity kWorkingDirectoryKey{~uint64_t{0}, ~uint64_t{0}};
void useFolder(const Folder& folder) {
    folderId = folder.identified ? Identity{folder.device, folder.inode} : kWorkingDirectoryKey;
}

void setFolder(const Folder& folder) { folderFd = folder.fd; }

// Keeps name to learn its identity later; false when the pool is full.
bool keepName(PlacedFile& f, const char* name) {
    const size_t length = std::strlen(name) + 1;
    if (length > kNamePoolBytes - namePoolUsed) return false;
    std::memcpy(namePool + namePoolUsed, name, length);
    f.nameAt = namePoolUsed;
    f.known = false;
    namePoolUsed += static_cast<uint32_t>(length);
    return true;
}

// Learns the identities of the files placed in the folder being written
// in whose identity is not known yet.
void learnIdentities() {
    for (int32_t i = 0; i < placedCount; ++i) {
        PlacedFile& f = placedFiles[i];
        if (f.known || f.gone || !(folderRuns[f.folderRun] == folderId)) continue;
        struct stat st {};
        if (fstatat(folderFd, namePool + f.nameAt, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            placedIds[i] = identityOf(st);
            f.known = true;
        } else {
            f.gone = true;
        }
    }
}

}  // namespace

namespace {

int openDirectory(int parent, const char* path, int flags, Folder& out) {
    const int fd = openat(parent, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | flags);
    if (fd < 0) return errno;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        (void)::close(fd);
        return error;
    }
    out.fd = fd;
    out.identified = true;
    out.device = static_cast<uint64_t>(st.st_dev);
    out.inode = static_cast<uint64_t>(st.st_ino);
    return 0;
}

}  // namespace

int openFolder(const Folder& parent, const char* name, Folder& out) {
    if (mkdirat(parent.fd, name, 0777) != 0 && errno != EEXIST) return errno;
    const int error = openDirectory(parent.fd, name, O_NOFOLLOW, out);
    return error == ELOOP ? ENOTDIR : error;
}

int openExistingFolder(const char* path, Folder& out) { return openDirectory(AT_FDCWD, path, 0, out); }

void closeFolder(Folder& folder) {
    if (folder.fd >= 0) (void)::close(folder.fd);
    folder = Folder{};
}

void protectImage(const char* path) {
    imageProtected = false;
    struct stat st {};
    if (path == nullptr || stat(path, &st) != 0) return;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return;
    imageId = Identity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    imageProtected = true;
}

void removePartialFilesOnSignals() {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        // One handler at a time: a second signal waits for the first.
        for (const int other : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) sigaddset(&sa.sa_mask, other);
        (void)sigaction(sig, &sa, nullptr);
    }
}

#else  // Windows

FileHandle outFile = INVALID_HANDLE_VALUE;

namespace {

using PathChar = wchar_t;

// The temporary file the console handler removes by name once its handle
// is closed (until it is renamed).
wchar_t removePath[kPathRoom];
volatile LONG temporaryClosed = 0;
// The folder being written in: its path, empty for the working directory.
const wchar_t* folderPath = L"";

// Deletes the file open as handle h when it is closed: the name that was
// created goes with the handle, whatever now stands at a name.
void deleteThroughHandle(HANDLE h) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    (void)SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition);
}

BOOL WINAPI onConsoleSignal(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    // The handler runs in a thread of its own: a file being created is
    // waited for (a bounded while) until its handle is known.
    for (int i = 0; i < 2000 && signalState == kCreating; ++i) Sleep(1);
    if (signalState == kWriting) {
        const HANDLE h = outFile;
        if (h != INVALID_HANDLE_VALUE) deleteThroughHandle(h);
        if (temporaryClosed != 0) (void)DeleteFileW(removePath);
    }
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

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
        case ERROR_DIRECTORY:
            return ENOTDIR;
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
    temporaryClosed = 0;
    signalState = kCreating;
    const HANDLE h = CreateFileW(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    outFile = h;
    signalState = h != INVALID_HANDLE_VALUE ? kWriting : kIdle;
    if (h != INVALID_HANDLE_VALUE) return Create::kMade;
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

int writeData(const uint8_t* data, int32_t size, const imgpry::fs::FileDate& date) {
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
    return error;
}

bool openIdentity(Identity& id) {
    bool ok = false;
    id = identityOf(outFile, ok);
    return ok;
}

void discardOpen() { deleteThroughHandle(outFile); }

int closeOut() {
    const HANDLE h = outFile;
    signalState = kIdle;
    outFile = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != 0 ? 0 : errnoOf(GetLastError());
}

int closeTemporary(const wchar_t* temporary, const Identity& /*id*/) {
    (void)_snwprintf(removePath, sizeof removePath / sizeof removePath[0] - 1, L"%ls", temporary);
    const HANDLE h = outFile;
    temporaryClosed = 1;
    outFile = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != 0 ? 0 : errnoOf(GetLastError());
}

void removeTemporary() { (void)DeleteFileW(removePath); }

void removeClosed(const wchar_t* path) { (void)DeleteFileW(path); }

void letGo() {
    signalState = kIdle;
    temporaryClosed = 0;
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

// On Windows every file's identity is taken as it is written, so there is
// nothing to learn later.
Identity folderId{};
void useFolder(const Folder& folder) { folderPath = folder.path; }
void setFolder(const Folder& folder) { folderPath = folder.path; }
bool keepName(PlacedFile& /*f*/, const char* /*name*/) { return false; }
void learnIdentities() {}

// Makes out a folder path: path and a backslash.
int finishFolderPath(Folder& out) {
    const DWORD attributes = GetFileAttributesW(out.path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return errnoOf(GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ENOTDIR;
    const size_t length = wcslen(out.path);
    if (length + 2 > static_cast<size_t>(kFolderPathRoom)) return ENAMETOOLONG;
    if (length > 0 && out.path[length - 1] != L'\\' && out.path[length - 1] != L'/') {
        out.path[length] = L'\\';
        out.path[length + 1] = L'\0';
    }
    return 0;
}

void protectHandle(HANDLE h) {
    imageProtected = false;
    if (h == INVALID_HANDLE_VALUE) return;
    bool ok = false;
    if (GetFileType(h) == FILE_TYPE_DISK) imageId = identityOf(h, ok);
    imageProtected = ok;
    (void)CloseHandle(h);
}

}  // namespace

int openFolder(const Folder& parent, const char* name, Folder& out) {
    folderPath = parent.path;
    if (!toPath(name, out.path, kFolderPathRoom - 1)) return ENAMETOOLONG;
    if (CreateDirectoryW(out.path, nullptr) == 0 && GetLastError() != ERROR_ALREADY_EXISTS) {
        return errnoOf(GetLastError());
    }
    const DWORD attributes = GetFileAttributesW(out.path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return errnoOf(GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return ENOTDIR;
    }
    return finishFolderPath(out);
}

int openExistingFolder(const wchar_t* path, Folder& out) {
    if (wcslen(path) + 2 > static_cast<size_t>(kFolderPathRoom)) return ENAMETOOLONG;
    (void)_snwprintf(out.path, kFolderPathRoom - 1, L"%ls", path);
    out.path[kFolderPathRoom - 1] = L'\0';
    return finishFolderPath(out);
}

int openExistingFolder(const char* path, Folder& out) {
    static wchar_t wide[kFolderPathRoom];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, kFolderPathRoom) == 0) return ENAMETOOLONG;
    return openExistingFolder(wide, out);
}

void closeFolder(Folder& folder) { folder.path[0] = L'\0'; }

void protectImage(const wchar_t* path) {
    imageProtected = false;
    if (path == nullptr) return;
    protectHandle(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

void protectImage(const char* path) {
    imageProtected = false;
    if (path == nullptr) return;
    protectHandle(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

void removePartialFilesOnSignals() { (void)SetConsoleCtrlHandler(onConsoleSignal, TRUE); }

#endif

namespace {

// Remembers the file just written at name (identity id when known) in
// slot, or in a new slot when slot is -1.
void remember(int32_t slot, const char* name, bool known, const Identity& id, int32_t disk) {
    if (slot < 0) {
        if (placedCount >= kMaxPlacedFiles) return;
        slot = placedCount++;
    }
    // The folder's run: the last one or a new one. A file whose identity is
    // known needs none (the table can be full only then: see identityNow).
    uint32_t run = 0;
    if (folderRunCount > 0 && folderRuns[folderRunCount - 1] == folderId) {
        run = folderRunCount - 1;
    } else if (folderRunCount < static_cast<uint32_t>(kMaxPlacedFiles)) {
        run = folderRunCount;
        folderRuns[folderRunCount++] = folderId;
    }
    PlacedFile& f = placedFiles[slot];
    f = PlacedFile{0, static_cast<uint16_t>(run), static_cast<uint8_t>(disk), known, false};
    if (known) placedIds[slot] = id;
    if (!known && !keepName(f, name)) f.gone = true;
}

int32_t findPlaced(const Identity& id) {
    for (int32_t i = 0; i < placedCount; ++i) {
        if (placedFiles[i].known && !placedFiles[i].gone && placedIds[i] == id) return i;
    }
    return -1;
}

// Whether identities must be taken as files are written: when the name
// pool or the table of folders is full (or on Windows, where taking one is
// no extra cost here).
bool identityNow() {
#if defined(_WIN32)
    return true;
#else
    return namePoolUsed + kLongestName > kNamePoolBytes || folderRunCount >= static_cast<uint32_t>(kMaxPlacedFiles);
#endif
}

}  // namespace

Placed placeFile(const Folder& folder, const char* name, const uint8_t* data, int32_t size, int32_t disk,
                 const imgpry::fs::FileDate& date) {
    Placed placed;
    setFolder(folder);
    static PathChar path[kPathRoom];
    if (!toPath(name, path, sizeof path / sizeof path[0])) {
        placed.error = ENAMETOOLONG;
        return placed;
    }
    int error = 0;
    Identity id{};
    Standing there;
    // The common case: nothing stands at the name. Where something stood
    // but is gone before it can be looked at, the create is tried again.
    for (int tries = 0; tries < kCreateTries; ++tries) {
        const Create made = create(path, error);
        if (made == Create::kFailed) {
            letGo();
            placed.error = error;
            return placed;
        }
        if (made == Create::kMade) {
            const bool known = identityNow() && openIdentity(id);
            error = writeData(data, size, date);
            if (error != 0) discardOpen();
            const int closed = closeOut();
            if (error == 0 && closed != 0) {
                // The data may not have reached the file (a network file
                // system says so only now): the name this run created goes.
                error = closed;
                removeClosed(path);
            }
            if (error != 0) {
                placed.error = error;
                return placed;
            }
            useFolder(folder);
            remember(-1, name, known, id, disk);
            placed.ok = true;
            return placed;
        }
        error = inspect(path, there);
        if (error != ENOENT) break;
    }
    if (error != 0 || there.directory) {
        placed.error = error != 0 ? error : EISDIR;
        return placed;
    }

    // Something stands there: never the image itself, and with keepOld
    // only a file this run placed is replaced.
    if (imageProtected && there.known && there.id == imageId) {
        placed.why = NotPlaced::kImage;
        return placed;
    }
    int32_t slot = -1;
    if (there.known) {
        useFolder(folder);
        learnIdentities();
        slot = findPlaced(there.id);
    }
    if (keepOld && slot < 0) {
        placed.why = NotPlaced::kKept;
        return placed;
    }

    // A new file under a temporary name, renamed over it once it is whole.
    static PathChar temporary[kPathRoom];
    Create temp = Create::kExists;
    for (int tries = 0; tries < kTemporaryTries && temp == Create::kExists; ++tries) {
        makeTemporaryName(temporary, sizeof temporary / sizeof temporary[0]);
        temp = create(temporary, error);
    }
    if (temp != Create::kMade) {
        letGo();
        if (temp == Create::kExists) {
            placed.why = NotPlaced::kNoTemporaryName;
        } else {
            placed.error = error;
        }
        return placed;
    }
    error = writeData(data, size, date);
    const bool known = openIdentity(id);
    if (error == 0 && !known) error = EIO;
    if (error != 0) {
        discardOpen();
        (void)closeOut();
        letGo();
        placed.error = error;
        return placed;
    }
    error = closeTemporary(temporary, id);
    if (error == 0) error = replaceWith(temporary, path, there);
    if (error != 0) removeTemporary();
    letGo();
    if (error != 0) {
        placed.error = error;
        return placed;
    }
    placed.replacedDisk = slot >= 0 ? placedFiles[slot].disk : -1;
    remember(slot, name, true, id, disk);
    placed.ok = true;
    return placed;
}
