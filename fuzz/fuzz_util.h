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

}  // namespace fuzzutil
