// The floor of the benchmark: the least any extractor must do to put a tree
// of files in place.
//
//   floor pack DIR PACK   (once, untimed) writes every folder and file under
//                         DIR, folders before what they hold, into PACK: per
//                         entry a kind byte ('d' or 'f'), the path's length
//                         and the data's length (4 bytes each, little
//                         endian), the relative path, the data;
//   floor PACK            (timed) reads PACK into memory with one read, then
//                         creates the tree in the working directory: mkdir
//                         per folder, and per file exactly one
//                         open(O_CREAT|O_EXCL|O_WRONLY), one write and one
//                         close.
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

int unpack(const char* packPath) {
    const int fd = open(packPath, O_RDONLY);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        std::perror(packPath);
        return 1;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    auto* buf = static_cast<unsigned char*>(std::malloc(size + 1));
    std::size_t got = 0;
    while (buf != nullptr && got < size) {
        const ssize_t n = read(fd, buf + got, size - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    if (buf == nullptr || got != size) {
        std::fprintf(stderr, "floor: cannot read %s\n", packPath);
        return 1;
    }
    char name[4096];
    std::size_t at = 0;
    int status = 0;
    while (at + 9 <= size) {
        const char kind = static_cast<char>(buf[at]);
        const std::size_t nameLen = getLength(buf + at + 1);
        const std::size_t dataLen = getLength(buf + at + 5);
        at += 9;
        if (nameLen >= sizeof name || at + nameLen + dataLen > size) {
            std::fprintf(stderr, "floor: %s is not a pack\n", packPath);
            return 1;
        }
        std::memcpy(name, buf + at, nameLen);
        name[nameLen] = '\0';
        at += nameLen;
        if (kind == 'd') {
            if (mkdir(name, 0777) != 0) status = 1;
            continue;
        }
        const int out = open(name, O_CREAT | O_EXCL | O_WRONLY, 0666);
        if (out < 0 || write(out, buf + at, dataLen) != static_cast<ssize_t>(dataLen)) status = 1;
        if (out >= 0) close(out);
        at += dataLen;
    }
    std::free(buf);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "pack") == 0) return pack(argv[2], argv[3]);
    if (argc == 2) return unpack(argv[1]);
    std::fprintf(stderr, "usage: floor pack DIR PACK | floor PACK\n");
    return 1;
}
