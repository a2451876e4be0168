// Names taken from a disk's directory are untrusted bytes. Two rules decide
// what becomes of them: which names may be written as files (a name must
// only ever make a file in the current directory), and how a name is shown
// (on a terminal, bytes that would drive it are shown as '?').
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace imgpry::fs {

// Which names are never written as files: on every system ".", ".." and
// names holding "/"; on Windows also names holding "\\" or ":" and the
// device names (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, in any case, alone
// or with an extension).
enum class NameRules { kPosix, kWindows };
#if defined(_WIN32)
inline constexpr NameRules kHostNameRules = NameRules::kWindows;
#else
inline constexpr NameRules kHostNameRules = NameRules::kPosix;
#endif
bool isUnsafeName(const char* name, NameRules rules);

// How a byte taken from an image is shown on a terminal: control bytes
// (below 0x20) and DEL as '?', every other byte as it is, Shift_JIS
// included. One byte for one, so column widths stay.
inline char shownOnTerminal(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F ? '?' : c;
}

// Copies name into shown (room for size bytes, NUL included) as it is to be
// shown: unchanged for a stream that is not a terminal, with shownOnTerminal
// applied to every byte for one that is. Returns shown.
const char* showName(const char* name, bool terminal, char* shown, size_t size);

// Whether stream is a terminal (a console on Windows).
bool isTerminal(FILE* stream);

// Whether two names make the same file on a host of these rules, as far as
// the names alone tell: the exact bytes on POSIX, ASCII letters folded to
// one case on Windows.
bool sameFileName(const char* a, const char* b, NameRules rules);

}  // namespace imgpry::fs
