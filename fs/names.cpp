#include "names.h"

#include <cstring>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace imgpry::fs {

namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9, in any case, alone or
// followed by an extension: Windows opens a device for these, not a file.
bool isWindowsDeviceName(const char* name) {
    size_t stem = 0;
    while (name[stem] != '\0' && name[stem] != '.') ++stem;
    char u[5] = {};
    if (stem < 3 || stem > 4) return false;
    for (size_t i = 0; i < stem; ++i) u[i] = upper(name[i]);
    if (stem == 3) {
        return std::strcmp(u, "CON") == 0 || std::strcmp(u, "PRN") == 0 || std::strcmp(u, "AUX") == 0 ||
               std::strcmp(u, "NUL") == 0;
    }
    return (std::strncmp(u, "COM", 3) == 0 || std::strncmp(u, "LPT", 3) == 0) && u[3] >= '1' && u[3] <= '9';
}

}  // namespace

bool isUnsafeName(const char* name, NameRules rules) {
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return true;
    if (std::strchr(name, '/') != nullptr) return true;
    if (rules == NameRules::kWindows) {
        return std::strchr(name, '\\') != nullptr || std::strchr(name, ':') != nullptr || isWindowsDeviceName(name);
    }
    return false;
}

const char* showName(const char* name, bool terminal, char* shown, size_t size) {
    size_t k = 0;
    for (; k + 1 < size && name[k] != '\0'; ++k) shown[k] = terminal ? shownOnTerminal(name[k]) : name[k];
    if (size > 0) shown[k] = '\0';
    return shown;
}

bool isTerminal(FILE* stream) {
#if defined(_WIN32)
    // A console, not merely a character device (NUL is one too).
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

bool sameFileName(const char* a, const char* b, NameRules rules) {
    if (rules == NameRules::kPosix) return std::strcmp(a, b) == 0;
    // Windows reads names as Shift_JIS and folds their case: ASCII letters
    // fold, the bytes of a double-byte character stand as they are (its
    // second byte may look like a letter).
    while (*a != '\0' && *b != '\0') {
        const auto lead = static_cast<unsigned char>(*a);
        const bool pair = ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) && a[1] != '\0';
        if (pair) {
            if (a[0] != b[0] || a[1] != b[1]) return false;
            a += 2;
            b += 2;
            continue;
        }
        if (upper(*a) != upper(*b)) return false;
        ++a;
        ++b;
    }
    return *a == *b;
}

}  // namespace imgpry::fs
