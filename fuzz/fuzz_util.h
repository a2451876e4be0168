// Shared by the fuzz targets: a private scratch directory for the process.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace fuzzutil {

// A directory of this process's own below the system's temporary folder,
// made on first use.
inline const std::filesystem::path& sandbox() {
    static const std::filesystem::path dir = [] {
        std::filesystem::path p = std::filesystem::temp_directory_path() / ("imgpry-fuzz-" + std::to_string(getpid()));
        std::error_code ec;
        std::filesystem::remove_all(p, ec);
        std::filesystem::create_directories(p);
        if (std::atexit([] {
                std::error_code ignored;
                std::filesystem::remove_all(sandbox(), ignored);
            }) != 0) {
            std::abort();
        }
        return p;
    }();
    return dir;
}

// The whole content of the file at path.
inline std::string readAll(const std::string& path) {
    std::string s;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) std::abort();
    char buf[65536];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    (void)std::fclose(f);
    return s;
}

}  // namespace fuzzutil
