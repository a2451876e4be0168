#include "output.h"

#include <cstdarg>
#include <cstring>

#include "names.h"
#include "text.h"

namespace imgpry::info {

// printf-style on purpose: the format is checked by the compiler.
void put(FILE* out, const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
    va_list args;
    va_start(args, format);
    // va_start has set args; clang-tidy's analyzer loses that when it checks
    // several files in one run.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    (void)std::vfprintf(out, format, args);
    va_end(args);
}

void append(Line& line, const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
    if (line.size == 0 || line.used + 1 >= line.size) return;
    va_list args;
    va_start(args, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): set by va_start, as above.
    const int n = std::vsnprintf(line.buf + line.used, line.size - line.used, format, args);
    va_end(args);
    if (n > 0)
        line.used = line.used + static_cast<size_t>(n) < line.size ? line.used + static_cast<size_t>(n) : line.size - 1;
}

void jsonString(FILE* out, const char* utf8) {
    (void)std::fputc('"', out);
    for (const char* p = utf8; *p != '\0'; ++p) {
        const auto b = static_cast<unsigned char>(*p);
        if (b == '"' || b == '\\') {
            put(out, "\\%c", b);
        } else if (b < 0x20 || b == 0x7F) {
            put(out, "\\u%04x", b);
        } else {
            (void)std::fputc(b, out);
        }
    }
    (void)std::fputc('"', out);
}

void jsonHex(FILE* out, const char* bytes) {
    (void)std::fputc('"', out);
    for (const char* p = bytes; *p != '\0'; ++p)
        put(out, "%02x", static_cast<unsigned>(static_cast<unsigned char>(*p)));
    (void)std::fputc('"', out);
}

void putShown(FILE* out, const char* bytes, size_t width) {
    size_t n = 0;
    for (; bytes[n] != '\0'; ++n) (void)std::fputc(fs::shownOnTerminal(bytes[n]), out);
    for (; n < width; ++n) (void)std::fputc(' ', out);
}

void putName(FILE* out, const char* bytes, fs::NameEncoding encoding, bool utf8, size_t width) {
    if (!utf8) {
        putShown(out, bytes, width);
        return;
    }
    // Three UTF-8 bytes at most for each Shift_JIS byte of the longest path.
    static char decoded[3 * 4 * 4096 + 1];
    const char* text = bytes;
    if (encoding == fs::NameEncoding::kShiftJis && fs::shiftJisToUtf8Whole(bytes, decoded, sizeof decoded))
        text = decoded;
    putShown(out, text);
    for (auto n = static_cast<size_t>(fs::displayColumns(text)); n < width; ++n) (void)std::fputc(' ', out);
}

void xmlText(FILE* out, const char* utf8) {
    for (const char* p = utf8; *p != '\0'; ++p) {
        const auto b = static_cast<unsigned char>(*p);
        switch (b) {
            case '&':
                (void)std::fputs("&amp;", out);
                break;
            case '<':
                (void)std::fputs("&lt;", out);
                break;
            case '>':
                (void)std::fputs("&gt;", out);
                break;
            case '"':
                (void)std::fputs("&quot;", out);
                break;
            case '\'':
                (void)std::fputs("&apos;", out);
                break;
            default:
                (void)std::fputc(b < 0x20 || b == 0x7F ? '?' : b, out);
        }
    }
}

}  // namespace imgpry::info
