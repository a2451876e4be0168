// The command line of imgpry, read into Options, and the matching of
// patterns against listed paths.
//
//   imgpry IMAGE                   one argument is always the image
//   imgpry --help | --version
//   imgpry [OPTION]... [--] IMAGE [PATTERN]...
//
// With more than one argument the options come first; the first argument
// that is not an option (or the one after "--") is the image, and the rest
// are patterns. "-" alone is an argument, not an option. Short options may
// be joined (-lk), and -C takes its directory joined (-Cout) or as the next
// argument.
#pragma once

#include <cstdint>

struct Options {
    enum class Action : uint8_t {
        kRun,            // list (and write) image
        kHelp,           // --help
        kVersion,        // --version
        kUsage,          // no image given
        kUnknownOption,  // unknown holds the option
        kMissingValue,   // unknown holds the option that needs a value
    };
    Action action = Action::kRun;
    // Indexes into the argument vector; -1 when absent.
    int image = -1;
    int directory = -1;       // the argument that holds -C's directory
    int directoryOffset = 0;  // where the directory starts in it
    int firstPattern = 0;     // patterns are arguments firstPattern .. argc-1
    int patternCount = 0;
    bool perDisk = false;  // --per-disk
    bool list = false;     // -l, --list
    bool keep = false;     // -k, --keep-old-files
    // The option not understood, as given up to any "=" (its bytes below
    // 0x80; on Windows others are '?'), NUL-terminated.
    char unknown[64] = "";
};

// Reads the arguments (argv[0] is the program). Never fails: what is wrong
// is said by the action.
Options parseOptions(int argc, const char* const* argv);
#if defined(_WIN32)
Options parseOptions(int argc, const wchar_t* const* argv);
#endif

// Whether text matches pattern as fnmatch(3) without flags has it: '*'
// matches any bytes ('/' too), '?' one byte, "[...]" one byte of a set
// (ranges a-z, '!' or '^' first to negate, ']' first to include it), '\'
// takes the next byte as it is; a '[' without its ']' is itself. With
// foldCase, ASCII letters match either case. Bytes, not characters: a
// Shift_JIS letter is two of them. Costs at most about
// strlen(pattern) * strlen(text) steps.
bool matchPattern(const char* pattern, const char* text, bool foldCase);
