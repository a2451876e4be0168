#include "place_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
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

}  // namespace

void forgetPlacedFiles() { placedCount = 0; }

#if !defined(_WIN32)

FileHandle outFile = -1;

namespace {

// The file the signal handler removes: set only while it is being written.
char removePath[64 + 260];
volatile std::sig_atomic_t removeOnSignal = 0;

extern "C" void onSignal(int sig) {
    if (removeOnSignal != 0) (void)unlink(removePath);
    (void)std::signal(sig, SIG_DFL);
    (void)std::raise(sig);
}

void watch(const char* path) {
    (void)std::snprintf(removePath, sizeof removePath, "%s", path);
    removeOnSignal = 1;
}

void unwatch() { removeOnSignal = 0; }

int createExclusive(const char* path) {
    return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

// Writes size bytes to the open outFile and closes it; the error number of
// the first failure, or 0.
int writeAndClose(const uint8_t* data, int32_t size, Identity& id) {
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
    struct stat st {};
    if (error == 0 && fstat(outFile, &st) != 0) error = errno;
    id = Identity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    if (::close(outFile) != 0 && error == 0) error = errno;
    outFile = -1;
    return error;
}

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

Placed placeFile(const char* name, const uint8_t* data, int32_t size, int32_t disk) {
    Placed placed;
    outFile = createExclusive(name);
    if (outFile >= 0) {
        watch(name);
        Identity id{};
        const int error = writeAndClose(data, size, id);
        if (error != 0) (void)unlink(name);
        unwatch();
        if (error != 0) {
            placed.error = error;
            return placed;
        }
        remember(-1, id, disk);
        placed.ok = true;
        return placed;
    }
    if (errno != EEXIST) {
        placed.error = errno;
        return placed;
    }
    // Something stands at the name: what is it?
    struct stat there {};
    if (lstat(name, &there) != 0) {
        placed.error = errno;
        return placed;
    }
    if (S_ISDIR(there.st_mode)) {
        placed.error = EISDIR;
        return placed;
    }
    const int32_t slot = findPlaced(Identity{static_cast<uint64_t>(there.st_dev), static_cast<uint64_t>(there.st_ino)});

    char temporary[64];
    for (int tries = 0; tries < kTemporaryTries; ++tries) {
        (void)std::snprintf(temporary, sizeof temporary, ".imgpry-%ld-%u.tmp", static_cast<long>(getpid()),
                            temporaryCounter++);
        outFile = createExclusive(temporary);
        if (outFile >= 0 || errno != EEXIST) break;
    }
    if (outFile < 0) {
        placed.error = errno;
        return placed;
    }
    watch(temporary);
    Identity id{};
    int error = writeAndClose(data, size, id);
    if (error == 0 && std::rename(temporary, name) != 0) error = errno;
    if (error != 0) (void)unlink(temporary);
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

#else  // Windows

FileHandle outFile = INVALID_HANDLE_VALUE;

namespace {

wchar_t removePath[64 + 4 * 260];
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

// The C library's word for the last Windows error.
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
bool wideName(const char* name, wchar_t* out, int room) {
    if (name[0] == '\0') {
        out[0] = L'\0';
        return true;
    }
    if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, name, -1, out, room) > 0) return true;
    return MultiByteToWideChar(CP_ACP, 0, name, -1, out, room) > 0;
}

HANDLE createExclusive(const wchar_t* path) {
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

Identity identityOf(HANDLE h, bool& ok) {
    BY_HANDLE_FILE_INFORMATION info{};
    ok = GetFileInformationByHandle(h, &info) != 0;
    return Identity{info.dwVolumeSerialNumber,
                    (static_cast<uint64_t>(info.nFileIndexHigh) << 32U) | info.nFileIndexLow};
}

int writeAndClose(const uint8_t* data, int32_t size, Identity& id) {
    int error = 0;
    DWORD written = 0;
    if (size > 0 && (WriteFile(outFile, data, static_cast<DWORD>(size), &written, nullptr) == 0 ||
                     written != static_cast<DWORD>(size))) {
        error =
            written != static_cast<DWORD>(size) && GetLastError() == ERROR_SUCCESS ? ENOSPC : errnoOf(GetLastError());
    }
    bool known = false;
    id = identityOf(outFile, known);
    if (CloseHandle(outFile) == 0 && error == 0) error = errnoOf(GetLastError());
    outFile = INVALID_HANDLE_VALUE;
    return error;
}

}  // namespace

void removePartialFilesOnSignals() { (void)SetConsoleCtrlHandler(onConsoleSignal, TRUE); }

Placed placeFile(const char* name, const uint8_t* data, int32_t size, int32_t disk) {
    Placed placed;
    static wchar_t wide[4 * 260];
    if (!wideName(name, wide, static_cast<int>(sizeof wide / sizeof wide[0]))) {
        placed.error = ENOENT;
        return placed;
    }
    outFile = createExclusive(wide);
    if (outFile != INVALID_HANDLE_VALUE) {
        watch(wide);
        Identity id{};
        const int error = writeAndClose(data, size, id);
        if (error != 0) (void)DeleteFileW(wide);
        unwatch();
        if (error != 0) {
            placed.error = error;
            return placed;
        }
        remember(-1, id, disk);
        placed.ok = true;
        return placed;
    }
    const DWORD createError = GetLastError();
    const DWORD attributes = GetFileAttributesW(wide);
    if (createError != ERROR_FILE_EXISTS && createError != ERROR_ALREADY_EXISTS &&
        !(attributes != INVALID_FILE_ATTRIBUTES && createError == ERROR_ACCESS_DENIED)) {
        placed.error = errnoOf(createError);
        return placed;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        placed.error = EISDIR;
        return placed;
    }
    // What stands there, without following a link.
    int32_t slot = -1;
    const HANDLE existing =
        CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        bool known = false;
        const Identity there = identityOf(existing, known);
        (void)CloseHandle(existing);
        if (known) slot = findPlaced(there);
    }

    wchar_t temporary[64];
    for (int tries = 0; tries < kTemporaryTries; ++tries) {
        (void)_snwprintf(temporary, sizeof temporary / sizeof temporary[0] - 1, L".imgpry-%lu-%u.tmp",
                         static_cast<unsigned long>(GetCurrentProcessId()), temporaryCounter++);
        temporary[sizeof temporary / sizeof temporary[0] - 1] = L'\0';
        outFile = createExclusive(temporary);
        if (outFile != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (outFile == INVALID_HANDLE_VALUE) {
        placed.error = errnoOf(GetLastError());
        return placed;
    }
    watch(temporary);
    Identity id{};
    int error = writeAndClose(data, size, id);
    if (error == 0) {
        // A read-only file is replaced like any other.
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            (void)SetFileAttributesW(wide, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        }
        if (MoveFileExW(temporary, wide, MOVEFILE_REPLACE_EXISTING) == 0) {
            error = errnoOf(GetLastError());
            if (attributes != INVALID_FILE_ATTRIBUTES) (void)SetFileAttributesW(wide, attributes);
        }
    }
    if (error != 0) (void)DeleteFileW(temporary);
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

#endif
