// The command line read into Options, and patterns matched as fnmatch does.
#include "options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#if !defined(_WIN32)
#include <fnmatch.h>
#endif

namespace {

using Action = Options::Action;

struct Case {
    std::vector<const char*> args;
    Action action;
    int image;  // index of the image argument, or -1
    std::string directory;
    bool perDisk, list, keep;
    int patterns;
    std::string unknown;
};

TEST(Options, ReadsEveryFormOfTheCommandLine) {
    const Case cases[] = {
        {{}, Action::kUsage, -1, "", false, false, false, 0, ""},
        // One argument is the image, whatever it looks like.
        {{"-l"}, Action::kRun, 1, "", false, false, false, 0, ""},
        {{"--"}, Action::kRun, 1, "", false, false, false, 0, ""},
        {{"--per-disk"}, Action::kRun, 1, "", false, false, false, 0, ""},
        {{"--help"}, Action::kHelp, -1, "", false, false, false, 0, ""},
        {{"--version"}, Action::kVersion, -1, "", false, false, false, 0, ""},
        {{"a.d88"}, Action::kRun, 1, "", false, false, false, 0, ""},
        // Options, the image, patterns.
        {{"-l", "a.d88"}, Action::kRun, 2, "", false, true, false, 0, ""},
        {{"--list", "a.d88", "*.TXT", "-k"}, Action::kRun, 2, "", false, true, false, 2, ""},
        {{"-lk", "a.d88"}, Action::kRun, 2, "", false, true, true, 0, ""},
        {{"-k", "--keep-old-files", "a.d88"}, Action::kRun, 3, "", false, false, true, 0, ""},
        {{"-C", "out", "a.d88"}, Action::kRun, 3, "out", false, false, false, 0, ""},
        {{"-Cout", "a.d88"}, Action::kRun, 2, "out", false, false, false, 0, ""},
        {{"-lCout", "a.d88"}, Action::kRun, 2, "out", false, true, false, 0, ""},
        {{"--directory=out", "--per-disk", "a.d88", "X"}, Action::kRun, 3, "out", true, false, false, 1, ""},
        {{"--directory", "-l", "a.d88"}, Action::kRun, 3, "-l", false, false, false, 0, ""},
        {{"-C", "a", "-C", "b", "a.d88"}, Action::kRun, 5, "b", false, false, false, 0, ""},
        // "--" ends the options; "-" is an argument.
        {{"--", "-x.d88"}, Action::kRun, 2, "", false, false, false, 0, ""},
        {{"-l", "--", "-x.d88", "--", "-k"}, Action::kRun, 3, "", false, true, false, 2, ""},
        {{"-l", "-"}, Action::kRun, 2, "", false, true, false, 0, ""},
        {{"--per-disk", "--help"}, Action::kHelp, -1, "", true, false, false, 0, ""},
        // What is wrong.
        {{"-l", "--"}, Action::kUsage, -1, "", false, true, false, 0, ""},
        {{"-l", "-k"}, Action::kUsage, -1, "", false, true, true, 0, ""},
        {{"-x", "a.d88"}, Action::kUnknownOption, -1, "", false, false, false, 0, "-x"},
        {{"-lx", "a.d88"}, Action::kUnknownOption, -1, "", false, true, false, 0, "-x"},
        {{"--lis", "a.d88"}, Action::kUnknownOption, -1, "", false, false, false, 0, "--lis"},
        {{"--list=yes", "a.d88"}, Action::kUnknownOption, -1, "", false, false, false, 0, "--list"},
        {{"-l", "-C"}, Action::kMissingValue, -1, "", false, true, false, 0, "-C"},
        {{"-l", "--directory"}, Action::kMissingValue, -1, "", false, true, false, 0, "--directory"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const char* a : c.args) line += std::string(" ") + a;
        SCOPED_TRACE("imgpry" + line);
        std::vector<const char*> args = c.args;
        args.insert(args.begin(), "imgpry");
        const Options o = parseOptions(static_cast<int>(args.size()), args.data());
        EXPECT_EQ(o.action, c.action);
        EXPECT_EQ(o.image, c.image);
        EXPECT_EQ(o.directory >= 0 ? std::string(args[static_cast<size_t>(o.directory)] + o.directoryOffset) : "",
                  c.directory);
        EXPECT_EQ(o.perDisk, c.perDisk);
        EXPECT_EQ(o.list, c.list);
        EXPECT_EQ(o.keep, c.keep);
        EXPECT_EQ(o.image >= 0 ? o.patternCount : 0, c.patterns);
        if (o.image >= 0) {
            EXPECT_EQ(o.firstPattern, o.image + 1);
        }
        EXPECT_EQ(std::string(o.unknown), c.unknown);
    }
}

#if defined(_WIN32)
TEST(Options, ReadsWideArguments) {
    const wchar_t* args[] = {L"imgpry", L"-l", L"-C\u3042", L"\u3042.d88", L"*"};
    const Options o = parseOptions(5, args);
    EXPECT_EQ(o.action, Action::kRun);
    EXPECT_TRUE(o.list);
    EXPECT_EQ(o.directory, 2);
    EXPECT_EQ(o.directoryOffset, 2);
    EXPECT_EQ(o.image, 3);
    EXPECT_EQ(o.patternCount, 1);
    const wchar_t* bad[] = {L"imgpry", L"--\u3042", L"a.d88"};
    EXPECT_EQ(std::string(parseOptions(3, bad).unknown), "--?");
}
#endif

struct MatchCase {
    const char* pattern;
    const char* text;
    bool match;
    bool folded;  // with ASCII case folded
};

TEST(Options, PatternsMatchAsFnmatchDoes) {
    const MatchCase cases[] = {
        {"*", "", true, true},
        {"*", "README.TXT", true, true},
        {"*.TXT", "README.TXT", true, true},
        {"*.txt", "README.TXT", false, true},
        {"*.TXT", "DIR/README.TXT", true, true},  // '*' crosses '/'
        {"DIR/*", "DIR/A", true, true},
        {"DIR/*", "DIRA", false, false},
        {"?", "", false, false},
        {"?", "A", true, true},
        {"???.BIN", "GAME.BIN", false, false},
        {"????.BIN", "GAME.BIN", true, true},
        {"G*E*N", "GAME.BIN", true, true},
        {"*A*A*A*", "AAA", true, true},
        {"*A*A*A*A", "AAA", false, false},
        {"[A-C]*", "BIG", true, true},
        {"[A-C]*", "big", false, true},
        {"[a-c]*", "BIG", false, true},
        {"[!A-C]*", "DOG", true, true},
        {"[^A-C]*", "BIG", false, false},
        {"[]]", "]", true, true},
        {"[!]]", "]", false, false},
        {"[A-]", "-", true, true},
        {"[", "[", true, true},
        {"[AB", "[AB", true, true},
        {"\\*", "*", true, true},
        {"\\*", "A", false, false},
        {"[\\]]", "]", true, true},
        {"EMPTY", "EMPTY", true, true},
        {"EMPTY", "EMPTY2", false, false},
        {"EMPTY*", "EMPTY", true, true},
        {"Readme.Txt", "README.TXT", false, true},
        {"\x83*", "\x83\x51\x81\x5B", true, true},  // bytes: a Shift_JIS lead byte
        {".*", ".HIDDEN", true, true},
        {"*", "A\nB", true, true},
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.text);
        EXPECT_EQ(matchPattern(c.pattern, c.text, false), c.match);
        EXPECT_EQ(matchPattern(c.pattern, c.text, true), c.folded);
#if !defined(_WIN32)
        EXPECT_EQ(fnmatch(c.pattern, c.text, 0) == 0, c.match);
        EXPECT_EQ(fnmatch(c.pattern, c.text, FNM_CASEFOLD) == 0, c.folded);
#endif
    }
}

// A pattern made to backtrack costs steps bounded by the lengths.
TEST(Options, ABacktrackingPatternEnds) {
    const std::string text(4000, 'A');
    const std::string pattern = std::string(50, '*') + "A*A*A*A*A*A*A*A*A*A*B";
    EXPECT_FALSE(matchPattern(pattern.c_str(), text.c_str(), false));
}

}  // namespace
