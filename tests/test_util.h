// Helpers shared by the tests: a scratch directory that removes itself.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>

namespace testutil {

#if defined(_WIN32)
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

// A path the build wrote in as a host path, usable by the running tests. A
// Windows build run under wine sees the host's root as drive Z:.
inline std::string hostPath(const std::string& path) {
#if defined(_WIN32)
    if (!path.empty() && path[0] == '/') {
        std::string p = "Z:" + path;
        for (char& c : p) {
            if (c == '/') c = '\\';
        }
        return p;
    }
#endif
    return path;
}

// What a text stream makes of text that ends its lines with "\n": CR LF on
// Windows, unchanged elsewhere.
inline std::string text(const std::string& lf) {
#if defined(_WIN32)
    std::string out;
    for (char c : lf) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
#else
    return lf;
#endif
}

class TempDir {
public:
    TempDir() {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = std::filesystem::temp_directory_path() /
                ("imgpry-test-" + std::to_string(stamp) + "-" + std::to_string(std::random_device{}()) + "-" +
                 std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace testutil
