// Helpers for tests that make FAT disks with mtools: whether it is there,
// running it quietly, and files with a given modification time.
#pragma once

#if !defined(_WIN32)
#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "image_builder.h"

namespace testutil {

inline bool haveMtools() {
    return std::system(
               "command -v mformat >/dev/null 2>&1 && command -v mcopy >/dev/null 2>&1 && "
               "command -v mmd >/dev/null 2>&1 && command -v mshowfat >/dev/null 2>&1") == 0;
}

// Runs cmd in the shell with its output dropped; returns its status.
inline int sh(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

// mtools with no user configuration and no geometry checks; local time in
// one zone, so that dates on both sides compare without summer-time gaps.
inline void mtoolsEnvironment() {
    setenv("TZ", "UTC", 1);
    tzset();
    setenv("MTOOLSRC", "/dev/null", 1);
    setenv("MTOOLS_SKIP_CHECK", "1", 1);
    setenv("LC_ALL", "C", 1);
}

// Writes data to path and sets its modification time (local time).
inline bool writeWithTime(const std::filesystem::path& path, const fixture::Bytes& data, int year, int month, int day,
                          int hour, int minute, int second) {
    if (!fixture::writeFile(path.string(), data)) return false;
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    utimbuf times{};
    times.actime = times.modtime = std::mktime(&t);
    return utime(path.c_str(), &times) == 0;
}

inline time_t mtimeOf(const std::filesystem::path& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

}  // namespace testutil
#endif
