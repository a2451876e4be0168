// The floor of the benchmark: the least any extractor must do to put a tree
// of files in place.
//
//   floor pack DIR PACK   (once, untimed) writes every folder and file under
//                         DIR, folders before what they hold, into PACK: per
//                         entry a kind byte ('d' or 'f'), the path's length
//                         and the data's length (4 bytes each, little
//                         endian), the relative path, the data;
//   floor PACK            (timed) reads PACK through a 1 MiB window and
//                         creates the tree in the working directory: mkdir
//                         per folder, and per file exactly one
//                         open(O_CREAT|O_EXCL|O_WRONLY), one write and one
//                         close;
//   floor -t PACK         the same, and each file's modification time set
//                         (one futimens before the close), as an extractor
//                         that keeps the dates a disk gives must.
//
// An extractor reads its image and writes the same bytes, so reading the
// pack is part of the floor as reading the image is part of the extractor.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

void putLength(std::string& out, std::size_t n) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
}

std::size_t getLength(const unsigned char* p) {
    return static_cast<std::size_t>(p[0]) | static_cast<std::size_t>(p[1]) << 8 | static_cast<std::size_t>(p[2]) << 16 |
           static_cast<std::size_t>(p[3]) << 24;
}

int pack(const char* dir, const char* packPath) {
    namespace fs = std::filesystem;
    std::vector<fs::path> paths;
    for (const auto& e : fs::recursive_directory_iterator(dir)) paths.push_back(e.path());
    // Sorted paths put every folder before what it holds.
    std::sort(paths.begin(), paths.end());
    std::string out;
    for (const auto& p : paths) {
        const std::string rel = fs::relative(p, dir).generic_string();
        std::string data;
        const bool folder = fs::is_directory(p);
        if (!folder) {
            std::ifstream in(p, std::ios::binary);
            data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        out.push_back(folder ? 'd' : 'f');
        putLength(out, rel.size());
        putLength(out, data.size());
        out += rel;
        out += data;
    }
    std::ofstream o(packPath, std::ios::binary);
    o.write(out.data(), static_cast<std::streamsize>(out.size()));
    return o ? 0 : 1;
}

// Reads the pack through one reused window (grown only for an entry larger
// than it), so that the floor pays for reading its input as an extractor
// reading its image through a buffer does, and not for faulting in a copy of
// the whole tree.
int unpack(const char* packPath, bool times) {
    const int fd = open(packPath, O_RDONLY);
    if (fd < 0) {
        std::perror(packPath);
        return 1;
    }
    std::vector<unsigned char> window(std::size_t{1} << 20);
    std::size_t begin = 0;  // the window holds bytes [begin, end) of what is unread
    std::size_t end = 0;
    bool atEnd = false;
    // Makes at least `need` bytes stand in the window from `begin`; false at
    // the end of the pack.
    auto fill = [&](std::size_t need) {
        if (end - begin >= need) return true;
        std::memmove(window.data(), window.data() + begin, end - begin);
        end -= begin;
        begin = 0;
        if (need > window.size()) window.resize(need);
        while (!atEnd && end < need) {
            const ssize_t n = read(fd, window.data() + end, window.size() - end);
            if (n <= 0) {
                atEnd = true;
                break;
            }
            end += static_cast<std::size_t>(n);
        }
        return end - begin >= need;
    };
    char name[4096];
    int status = 0;
    while (fill(9)) {
        const char kind = static_cast<char>(window[begin]);
        const std::size_t nameLen = getLength(window.data() + begin + 1);
        const std::size_t dataLen = getLength(window.data() + begin + 5);
        if (nameLen >= sizeof name || !fill(9 + nameLen + dataLen)) {
            std::fprintf(stderr, "floor: %s is not a pack\n", packPath);
            return 1;
        }
        std::memcpy(name, window.data() + begin + 9, nameLen);
        name[nameLen] = '\0';
        const unsigned char* data = window.data() + begin + 9 + nameLen;
        begin += 9 + nameLen + dataLen;
        if (kind == 'd') {
            if (mkdir(name, 0777) != 0) status = 1;
            continue;
        }
        const int out = open(name, O_CREAT | O_EXCL | O_WRONLY, 0666);
        if (out < 0 || write(out, data, dataLen) != static_cast<ssize_t>(dataLen)) status = 1;
        if (out >= 0 && times) {
            const struct timespec when[2] = {{1700000000, 0}, {1700000000, 0}};
            if (futimens(out, when) != 0) status = 1;
        }
        if (out >= 0) close(out);
    }
    close(fd);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "pack") == 0) return pack(argv[2], argv[3]);
    if (argc == 2) return unpack(argv[1], false);
    if (argc == 3 && std::strcmp(argv[1], "-t") == 0) return unpack(argv[2], true);
    std::fprintf(stderr, "usage: floor pack DIR PACK | floor [-t] PACK\n");
    return 1;
}
