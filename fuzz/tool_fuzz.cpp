// Fuzzes the whole tool: the input is an image, read from memory, listed
// and extracted by the real flow into a private working directory. Checks
// that nothing is created outside it, that nothing but files and folders is
// made in it, and that every file written has the size its listing line
// gives.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "extract.h"
#include "fuzz_util.h"
#include "text.h"

namespace fs = std::filesystem;

namespace {

// One listing line: the path padded to 12 columns (its bytes; on a UTF-8
// system the columns its characters take), a space, the size in 8
// columns or more, "  trk=XX sec=XX", then either the line end or
// " ... cutted." and the line end. Paths may hold any byte, a line end and
// spaces among them, so a line is found by its tail: the first
// "  trk=XX sec=XX" that ends a line, with the size's digits before it.
constexpr std::string_view kTrack = "  trk=";
constexpr std::string_view kCutted = " ... cutted.\n";

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// Whether a listing line's tail starts at t: the track and sector, and the
// line end, with " ... cutted." (cutted) or without. Gives the line's end.
bool tailAt(const std::string& out, size_t t, bool& cutted, size_t& end) {
    // "  trk=XX sec=XX" is 15 bytes.
    if (out.size() - t < 16 || out.compare(t, kTrack.size(), kTrack) != 0) return false;
    if (!isHex(out[t + 6]) || !isHex(out[t + 7]) || out.compare(t + 8, 5, " sec=") != 0 || !isHex(out[t + 13]) ||
        !isHex(out[t + 14])) {
        return false;
    }
    if (out[t + 15] == '\n') {
        cutted = false;
        end = t + 16;
        return true;
    }
    if (out.compare(t + 15, kCutted.size(), kCutted) == 0) {
        cutted = true;
        end = t + 15 + kCutted.size();
        return true;
    }
    return false;
}

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
    // Whether the tool padded names by their columns.
    const bool utf8 = imgpry::fs::localeIsUtf8();
    if (std::fflush(stdout) != 0) std::abort();
    fs::current_path(before);
    // An image that opens lists with 0, or with 2 after any line on
    // standard error: never the 1 of a usage error or an image not opened.
    if (status != 0 && status != 2) std::abort();

    // Nothing but our own files beside the working directory, and nothing
    // but regular files and folders in it.
    for (const auto& entry : fs::directory_iterator(box)) {
        const fs::path name = entry.path().filename();
        if (name != "work" && name != "listing.txt") std::abort();
    }
    std::map<std::string, uintmax_t> written;
    for (const auto& entry : fs::recursive_directory_iterator(work)) {
        if (entry.is_symlink()) std::abort();
        if (entry.is_directory()) continue;
        if (!entry.is_regular_file()) std::abort();
        written[entry.path().lexically_relative(work).generic_string()] = entry.file_size();
    }

    // The last written line of each path gives that file's size.
    const std::string out = fuzzutil::readAll(listing.string());
    std::map<std::string, uintmax_t> listed;
    size_t pos = 0;
    while (pos < out.size()) {
        // The path takes 12 columns at least and the size 8 after a space.
        size_t t = pos + 21;
        bool cutted = false;
        size_t end = 0;
        while (t < out.size() && !tailAt(out, t, cutted, end)) ++t;
        if (t >= out.size()) std::abort();
        size_t digits = t;
        while (digits > pos && out[digits - 1] >= '0' && out[digits - 1] <= '9') --digits;
        if (digits > pos && out[digits - 1] == '-') --digits;
        const size_t width = t - digits < 8 ? 8 : t - digits;
        const size_t field = t - width;
        if (digits == t || field < pos + 13 || out[field - 1] != ' ') std::abort();
        // A field of exactly 12 columns may end in padding, and a name may
        // end in spaces itself: of the readings that fit (the whole field,
        // or each many spaces taken off as the padding the rest would get),
        // the one written is taken, else the shortest.
        std::string name = out.substr(pos, field - 1 - pos);
        auto columnsOf = [utf8](const std::string& text) {
            return utf8 ? imgpry::fs::displayColumns(text.c_str()) : static_cast<int32_t>(text.size());
        };
        if (columnsOf(name) == 12 && written.count(name) == 0) {
            std::string reading = name;
            while (!reading.empty() && reading.back() == ' ') {
                reading.pop_back();
                if (12 - columnsOf(reading) != static_cast<int32_t>(name.size() - reading.size())) continue;
                if (written.count(reading) != 0) {
                    name = reading;
                    break;
                }
                if (reading.empty() || reading.back() != ' ') name = reading;
            }
        }
        const uintmax_t fileSize = std::strtoul(out.substr(digits, t - digits).c_str(), nullptr, 10);
        if (cutted) listed[name] = fileSize;
        pos = end;
    }
    if (listed != written) std::abort();
    return 0;
}
