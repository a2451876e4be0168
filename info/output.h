// Writing the report's text to the stream a writer is handed: printf-style,
// JSON strings and XML text.
#pragma once

#include <cstddef>
#include <cstdio>

#include "file_system.h"

namespace imgpry::info {

[[gnu::format(printf, 2, 3)]] void put(FILE* out, const char* format, ...);

// Text built up in a buffer; what does not fit is cut.
struct Line {
    char* buf;
    size_t size;
    size_t used = 0;
};
[[gnu::format(printf, 2, 3)]] void append(Line& line, const char* format, ...);

// A JSON string of UTF-8 text: quotes, backslashes and control bytes escaped.
void jsonString(FILE* out, const char* utf8);
// A JSON string of the bytes in lower-case hexadecimal.
void jsonHex(FILE* out, const char* bytes);
// Bytes from an image as a terminal may show them (fs::shownOnTerminal),
// padded with spaces to width bytes.
void putShown(FILE* out, const char* bytes, size_t width = 0);
// A name from a disk as putShown writes it, padded to width display
// columns: in a UTF-8 locale (utf8) a Shift_JIS name that decodes whole is
// written decoded, a UTF-8 one as it is; otherwise its exact bytes.
void putName(FILE* out, const char* bytes, fs::NameEncoding encoding, bool utf8, size_t width = 0);
// XML character data or attribute text: escaped, control bytes as '?'.
void xmlText(FILE* out, const char* utf8);

}  // namespace imgpry::info
