// Names from an image as Unicode text (UTF-8), for reports that must be
// valid text whatever the bytes are. The disks come from Japanese systems,
// so names are read as Shift_JIS, as Windows reads it (code page 932); the
// same table serves every host.
#pragma once

#include <cstddef>

namespace imgpry::fs {

// Decodes the NUL-terminated bytes as Shift_JIS into out (room for size
// bytes; 3 per input byte and a NUL always suffice): ASCII as it is,
// half-width katakana (0xA1-0xDF) and double-byte characters as their
// letters, and each byte that is not part of a character as U+FFFD.
// Returns out.
const char* shiftJisToUtf8(const char* bytes, char* out, size_t size);

// Copies the NUL-terminated bytes into out (room for size bytes; 3 per input
// byte and a NUL always suffice), keeping valid UTF-8 as it is and writing
// U+FFFD for each byte that is not. Returns out.
const char* utf8OrReplacement(const char* bytes, char* out, size_t size);

}  // namespace imgpry::fs
