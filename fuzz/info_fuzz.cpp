// Fuzzes imgpry-info: the input is an image, read from memory and reported
// in one of its formats. Checks that the exit status is 0 (every file whole) or 2
// (damage or loss): an image in memory is always opened and the report
// always written. Checks too that the JSON
// and the SVG are valid UTF-8 holding no control byte but the line end, so
// that whatever names an image holds, the documents stay well-formed text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_util.h"
#include "info.h"

namespace {

// Valid UTF-8, and no control byte but '\n'.
bool cleanText(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            if ((b < 0x20 && b != '\n') || b == 0x7F) return false;
            ++i;
            continue;
        }
        const size_t len = (b & 0xE0) == 0xC0 && b >= 0xC2   ? 2
                           : (b & 0xF0) == 0xE0              ? 3
                           : (b & 0xF8) == 0xF0 && b <= 0xF4 ? 4
                                                             : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += len;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string out = (fuzzutil::sandbox() / "report").string();
    // One format per input, chosen by its length, so that each runs often.
    const char* const modes[] = {"", "--tracks", "--json", "--map"};
    const char* mode = modes[size % 4];
    if (std::freopen(out.c_str(), "wb", stdout) == nullptr) std::abort();
    const int status = reportMemory(data, size, mode, "input");
    if (std::fflush(stdout) != 0) std::abort();
    if (status != 0 && status != 2) std::abort();
    if (size % 4 >= 2 && !cleanText(fuzzutil::readAll(out))) std::abort();
    return 0;
}
