#include "options.h"

#include <cstddef>

namespace {

// Whether the argument a is exactly the ASCII text s.
template <typename Char>
bool is(const Char* a, const char* s) {
    size_t i = 0;
    for (; s[i] != '\0'; ++i) {
        if (a[i] != static_cast<Char>(static_cast<unsigned char>(s[i]))) return false;
    }
    return a[i] == 0;
}

// Whether a starts with the ASCII text s; its length then goes to length.
template <typename Char>
bool startsWith(const Char* a, const char* s, int& length) {
    int i = 0;
    for (; s[i] != '\0'; ++i) {
        if (a[i] != static_cast<Char>(static_cast<unsigned char>(s[i]))) return false;
    }
    length = i;
    return true;
}

// The code of one unit of an argument.
unsigned long unitOf(char c) { return static_cast<unsigned char>(c); }
[[maybe_unused]] unsigned long unitOf(wchar_t c) { return static_cast<unsigned long>(c); }

// Keeps the option a (up to any '=', at most count units) for the message.
template <typename Char>
void keepUnknown(Options& o, const Char* a, size_t count) {
    size_t k = 0;
    for (size_t i = 0; i < count && a[i] != 0 && a[i] != static_cast<Char>('=') && k + 1 < sizeof o.unknown; ++i) {
        const unsigned long c = unitOf(a[i]);
        o.unknown[k++] = c < 0x80 ? static_cast<char>(c) : (sizeof(Char) == 1 ? static_cast<char>(a[i]) : '?');
    }
    o.unknown[k] = '\0';
}

template <typename Char>
Options parse(int argc, const Char* const* argv) {
    Options o;
    if (argc < 2) {
        o.action = Options::Action::kUsage;
        return o;
    }
    if (argc == 2) {
        if (is(argv[1], "--help")) {
            o.action = Options::Action::kHelp;
        } else if (is(argv[1], "--version")) {
            o.action = Options::Action::kVersion;
        } else {
            o.image = 1;
            o.firstPattern = 2;
        }
        return o;
    }
    int i = 1;
    // Each round takes one argument, or two for "-C DIR": the loop ends by
    // argc.
    for (; i < argc; ++i) {
        const Char* a = argv[i];
        if (is(a, "--")) {
            ++i;
            break;
        }
        if (a[0] != static_cast<Char>('-') || a[1] == 0) break;
        if (a[1] == static_cast<Char>('-')) {
            int length = 0;
            if (is(a, "--list")) {
                o.list = true;
            } else if (is(a, "--keep-old-files")) {
                o.keep = true;
            } else if (is(a, "--per-disk")) {
                o.perDisk = true;
            } else if (is(a, "--help")) {
                o.action = Options::Action::kHelp;
                return o;
            } else if (is(a, "--version")) {
                o.action = Options::Action::kVersion;
                return o;
            } else if (startsWith(a, "--directory=", length)) {
                o.directory = i;
                o.directoryOffset = length;
            } else if (is(a, "--directory")) {
                if (i + 1 >= argc) {
                    o.action = Options::Action::kMissingValue;
                    keepUnknown(o, a, sizeof o.unknown);
                    return o;
                }
                o.directory = ++i;
                o.directoryOffset = 0;
            } else {
                o.action = Options::Action::kUnknownOption;
                keepUnknown(o, a, sizeof o.unknown);
                return o;
            }
            continue;
        }
        // A cluster of short options: -l, -k, and -C with its value.
        for (int k = 1; a[k] != 0; ++k) {
            const Char c = a[k];
            if (c == static_cast<Char>('l')) {
                o.list = true;
            } else if (c == static_cast<Char>('k')) {
                o.keep = true;
            } else if (c == static_cast<Char>('C')) {
                if (a[k + 1] != 0) {
                    o.directory = i;
                    o.directoryOffset = k + 1;
                } else if (i + 1 < argc) {
                    o.directory = ++i;
                    o.directoryOffset = 0;
                } else {
                    o.action = Options::Action::kMissingValue;
                    o.unknown[0] = '-';
                    o.unknown[1] = 'C';
                    o.unknown[2] = '\0';
                    return o;
                }
                break;
            } else {
                o.action = Options::Action::kUnknownOption;
                const Char shortOption[3] = {static_cast<Char>('-'), c, 0};
                keepUnknown(o, shortOption, 2);
                return o;
            }
        }
    }
    if (i >= argc) {
        o.action = Options::Action::kUsage;
        return o;
    }
    o.image = i;
    o.firstPattern = i + 1;
    o.patternCount = argc - i - 1;
    return o;
}

unsigned char lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

bool same(unsigned char a, unsigned char b, bool fold) { return a == b || (fold && lower(a) == lower(b)); }

// Whether the byte c is in the set that starts at p (just past '['); the
// set's length, its ']' included, goes to length. False with length 0
// when the set has no closing ']' (the '[' is then an ordinary byte).
bool inSet(const unsigned char* p, unsigned char c, bool fold, size_t& length) {
    size_t i = 0;
    const bool negate = p[0] == '!' || p[0] == '^';
    if (negate) ++i;
    bool found = false;
    bool first = true;
    // Each round takes a byte, an escaped byte or a range: the loop ends at
    // ']' or at the pattern's end.
    while (p[i] != '\0' && (first || p[i] != ']')) {
        first = false;
        unsigned char low = p[i];
        if (low == '\\' && p[i + 1] != '\0') low = p[++i];
        ++i;
        unsigned char high = low;
        if (p[i] == '-' && p[i + 1] != ']' && p[i + 1] != '\0') {
            ++i;
            high = p[i];
            if (high == '\\' && p[i + 1] != '\0') high = p[++i];
            ++i;
        }
        if (low <= c && c <= high) found = true;
        if (fold) {
            const unsigned char lc = lower(c);
            const unsigned char uc = lc >= 'a' && lc <= 'z' ? static_cast<unsigned char>(lc - 32) : lc;
            if ((low <= lc && lc <= high) || (low <= uc && uc <= high)) found = true;
        }
    }
    if (p[i] != ']') {
        length = 0;
        return false;
    }
    length = i + 1;
    return found != negate;
}

// Whether the pattern element at p matches the byte c; its length goes to
// length.
bool matchOne(const unsigned char* p, unsigned char c, bool fold, size_t& length) {
    if (p[0] == '?') {
        length = 1;
        return true;
    }
    if (p[0] == '[') {
        size_t set = 0;
        const bool in = inSet(p + 1, c, fold, set);
        if (set > 0) {
            length = set + 1;
            return in;
        }
        length = 1;
        return c == '[';
    }
    if (p[0] == '\\' && p[1] != '\0') {
        length = 2;
        return same(p[1], c, fold);
    }
    length = 1;
    return same(p[0], c, fold);
}

}  // namespace

Options parseOptions(int argc, const char* const* argv) { return parse(argc, argv); }

#if defined(_WIN32)
Options parseOptions(int argc, const wchar_t* const* argv) { return parse(argc, argv); }
#endif

bool matchPattern(const char* pattern, const char* text, bool foldCase) {
    const auto* p = reinterpret_cast<const unsigned char*>(pattern);
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    // The last '*' seen, and where in the text it is tried to end next:
    // each failure past a '*' moves that end on by one byte, so the loop
    // runs at most strlen(pattern) times per byte of the text.
    const unsigned char* starP = nullptr;
    const unsigned char* starS = nullptr;
    while (*s != '\0') {
        if (*p == '*') {
            while (*p == '*') ++p;
            if (*p == '\0') return true;
            starP = p;
            starS = s;
            continue;
        }
        size_t length = 0;
        if (*p != '\0' && matchOne(p, *s, foldCase, length)) {
            p += length;
            ++s;
            continue;
        }
        if (starP == nullptr) return false;
        p = starP;
        s = ++starS;
    }
    while (*p == '*') ++p;
    return *p == '\0';
}
