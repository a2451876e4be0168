// Fuzzes the whole tool: the input is an image, read from memory, listed
// and extracted by the real flow into a private working directory. Checks that nothing is
// created outside it and that every file written has the size its listing
// line gives.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "extract.h"
#include "fuzz_util.h"

namespace fs = std::filesystem;

namespace {

// One listing line: the name padded to 12 columns (names never hold a
// space), a space, the size in 8 columns, "  trk=XX sec=XX", then either the
// line end or " ... cutted." and the line end. Names may hold any other
// byte, a line end among them, so the listing is read by its fixed widths.
constexpr size_t kFixed = 36;
constexpr std::string_view kCutted = " ... cutted.\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path& box = fuzzutil::sandbox();
    const fs::path work = box / "work";
    const fs::path listing = box / "listing.txt";
    std::error_code ec;
    fs::remove_all(work, ec);
    fs::create_directory(work);

    const fs::path before = fs::current_path();
    fs::current_path(work);
    if (std::freopen(listing.string().c_str(), "wb", stdout) == nullptr) std::abort();
    // The tool's own walk over the input, read from memory.
    if (!gImage.openMemory(data, size)) std::abort();
    const int status = listImage("input");
    if (std::fflush(stdout) != 0) std::abort();
    fs::current_path(before);
    if (status != 0) std::abort();  // an image that opens always lists with status 0

    // Nothing but our own files beside the working directory, and nothing
    // but regular files in it.
    for (const auto& entry : fs::directory_iterator(box)) {
        const fs::path name = entry.path().filename();
        if (name != "work" && name != "listing.txt") std::abort();
    }
    std::map<std::string, uintmax_t> written;
    for (const auto& entry : fs::directory_iterator(work)) {
        if (!entry.is_regular_file() || entry.is_symlink()) std::abort();
        written[entry.path().filename().string()] = entry.file_size();
    }

    // The last written line of each name gives that file's size.
    const std::string out = fuzzutil::readAll(listing.string());
    std::map<std::string, uintmax_t> listed;
    size_t pos = 0;
    while (pos < out.size()) {
        if (out.size() - pos < kFixed + 1) std::abort();
        const std::string line = out.substr(pos, kFixed);
        const size_t nameEnd = line.find(' ');
        const std::string name = line.substr(0, nameEnd > 12 ? 12 : nameEnd);
        const uintmax_t fileSize = std::strtoul(line.substr(13, 8).c_str(), nullptr, 10);
        pos += kFixed;
        if (out.compare(pos, kCutted.size(), kCutted) == 0) {
            listed[name] = fileSize;
            pos += kCutted.size();
        } else if (out[pos] == '\n') {
            ++pos;
        } else {
            std::abort();
        }
    }
    if (listed != written) std::abort();
    return 0;
}
