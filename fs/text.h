// Names from an image as Unicode text (UTF-8), for reports that must be
// valid text whatever the bytes are. The disks come from Japanese systems,
// so names are read as Shift_JIS, as Windows reads it (code page 932); the
// same table serves every host.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imgpry::fs {

// Decodes the NUL-terminated bytes as Shift_JIS into out (room for size
// bytes; 3 per input byte and a NUL always suffice): ASCII as it is,
// half-width katakana (0xA1-0xDF) and double-byte characters as their
// letters, and each byte that is not part of a character as U+FFFD.
// Returns out.
const char* shiftJisToUtf8(const char* bytes, char* out, size_t size);

// Decodes the NUL-terminated bytes as Shift_JIS into out (room for size
// bytes) only when every byte belongs to a character and the whole text
// fits: then true. Otherwise false, and out holds the bytes unchanged (as
// far as they fit), so a name is never half converted.
bool shiftJisToUtf8Whole(const char* bytes, char* out, size_t size);

// Whether the NUL-terminated bytes decode as Shift_JIS to themselves: they
// are ASCII alone. length gets their count.
bool decodesToItself(const char* bytes, size_t& length);

// The columns text in UTF-8 takes on a terminal: two for a wide character
// (CJK ideographs, kana, full-width forms, and every character that
// Shift_JIS writes with two bytes), one for anything else, half-width
// katakana included.
int32_t displayColumns(const char* utf8);

// Whether the C library's character set, as the environment sets it
// (LC_ALL, LC_CTYPE, LANG), is UTF-8. Never on Windows, which names files
// in UTF-16.
bool localeIsUtf8();

// Copies the NUL-terminated bytes into out (room for size bytes; 3 per input
// byte and a NUL always suffice), keeping valid UTF-8 as it is and writing
// U+FFFD for each byte that is not. Returns out.
const char* utf8OrReplacement(const char* bytes, char* out, size_t size);

}  // namespace imgpry::fs
