// Helpers shared by the tests: a scratch directory that removes itself.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

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

// One read a traced run made: its place among all the run's reads (1-based,
// as strace's inject=read:when=N counts them) and, for reads of the image,
// where in the image it began and what it returned.
struct ImageRead {
    int index;
    long long offset;
    long long length;
};

// The reads of the file at path in an strace log of openat, read and lseek
// (`strace -s 0 -e trace=openat,read,lseek`).
inline std::vector<ImageRead> imageReadsInLog(const std::string& log, const std::string& path) {
    std::ifstream in(log);
    std::string line;
    int fd = -1;
    int reads = 0;
    long long pos = 0;
    std::vector<ImageRead> found;
    const std::regex open("^openat\\(.*\"" + path + "\".*\\)\\s*= ([0-9]+)");
    const std::regex seek("^lseek\\(([0-9]+), ([0-9]+), SEEK_SET\\)\\s*= ([0-9]+)");
    const std::regex read("^read\\(([0-9]+), .*\\)\\s*= (-?[0-9]+)");
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, open)) {
            fd = std::stoi(m[1]);
        } else if (std::regex_search(line, m, seek) && std::stoi(m[1]) == fd) {
            pos = std::stoll(m[3]);
        } else if (std::regex_search(line, m, read)) {
            ++reads;
            if (std::stoi(m[1]) != fd) continue;
            const long long n = std::stoll(m[2]);
            found.push_back(ImageRead{reads, pos, n});
            if (n > 0) pos += n;
        }
    }
    return found;
}

}  // namespace testutil
