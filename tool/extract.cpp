#include "extract.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <cwchar>

#include "image_input.h"
#include "options.h"
#include "text.h"

#if defined(_WIN32)
#include <windows.h>

#include <string>
#include <vector>
#endif

namespace fs = imgpry::fs;

imgpry::DiskImage gImage;

namespace {

// Shift_JIS for "the file cannot be opened".
constexpr char kOpenFailed[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1"
    "\n";

// The first error writing the listing to standard output.
int listingErrno = 0;

// The system's word for errno value err; some failures leave errno unset.
const char* reasonOf(int err) { return err != 0 ? std::strerror(err) : "input/output error"; }

void noteListingError() {
    if (listingErrno == 0 && std::ferror(stdout) != 0) listingErrno = errno != 0 ? errno : EIO;
}

void listingWrite(const char* text, size_t length) {
    errno = 0;
    (void)std::fwrite(text, 1, length, stdout);
    noteListingError();
}

void flushListing() {
    errno = 0;
    if (std::fflush(stdout) != 0 && listingErrno == 0) listingErrno = errno != 0 ? errno : EIO;
    noteListingError();
}

}  // namespace

int32_t formatListing(char* line, const char* name, int32_t size, int32_t track, int32_t sector) {
    return formatListing(line, name, static_cast<int32_t>(std::strlen(name)), size, track, sector);
}

int32_t formatListing(char* line, const char* name, int32_t columns, int32_t size, int32_t track, int32_t sector) {
    static constexpr char kHex[] = "0123456789abcdef";
    const size_t length = std::strlen(name);
    std::copy_n(name, length, line);
    auto k = static_cast<int32_t>(length);
    // The name to 12 columns, then the space before the size.
    const int32_t pad = (columns < 12 ? 12 - columns : 0) + 1;
    std::memset(line + k, ' ', static_cast<size_t>(pad));
    k += pad;
    // The size's digits, lowest first, and its sign; 10 digits hold any
    // int32_t. Right-aligned in 8 columns.
    char digits[11];
    int32_t n = 0;
    const bool negative = size < 0;
    uint32_t v = negative ? 0U - static_cast<uint32_t>(size) : static_cast<uint32_t>(size);
    do {
        digits[n++] = static_cast<char>('0' + v % 10U);
        v /= 10U;
    } while (v != 0);
    if (negative) digits[n++] = '-';
    if (n < 8) {
        std::memset(line + k, ' ', static_cast<size_t>(8 - n));
        k += 8 - n;
    }
    while (n > 0) line[k++] = digits[--n];
    std::copy_n("  trk=", 6, line + k);
    line[k + 6] = kHex[(track >> 4) & 0xF];
    line[k + 7] = kHex[track & 0xF];
    std::copy_n(" sec=", 5, line + k + 8);
    line[k + 13] = kHex[(sector >> 4) & 0xF];
    line[k + 14] = kHex[sector & 0xF];
    return k + 15;
}

namespace {

// Whether this run wrote any line to standard error: then it ends with
// status 2 (or 1, where it could not start).
bool saidAnything = false;

// Every line on standard error goes through here: after everything listed
// so far, so that it never lands inside a listing line.
template <typename... Args>
void report(const char* format, Args... args) {
    saidAnything = true;
    flushListing();
    (void)std::fprintf(stderr, format, args...);
}

void report(const char* line) { report("%s", line); }

constexpr char kUsage[] = "Usage: imgpry image\n";

constexpr char kHelp[] =
    "Usage: imgpry image\n"
    "       imgpry [OPTION]... [--] image [PATTERN]...\n"
    "Lists the files of every disk in a D88 disk image container and writes each\n"
    "file into the current directory, under the name the disk's directory gives it.\n"
    "Standard output is the listing; standard error says what could not be read or\n"
    "written. A file that already stands under a name is replaced as a whole, and a\n"
    "link there is replaced, never followed; the image itself is never written over.\n"
    "\n"
    "One argument alone is always the image. With more, options come first:\n"
    "  -C DIR, --directory=DIR  write into DIR (it must exist) instead of the\n"
    "                           current directory\n"
    "      --per-disk           put disk D's files into diskDD/ (01..64)\n"
    "  -l, --list               list the files and read them, but write nothing\n"
    "  -k, --keep-old-files     keep a file that stood before the run\n"
    "      --help               print this help and exit\n"
    "      --version            print the version and exit\n"
    "  --                       end the options (for an image named -x.d88)\n"
    "PATTERNs select the files whose listed path matches one of them (* ? [...],\n"
    "as in a shell, '*' crossing '/'; ASCII case ignored on Windows).\n"
    "\n"
    "Exit status: 0 when nothing went to standard error; 1 a usage error, or an\n"
    "image or a -C directory that cannot be opened; 2 the run went on and wrote\n"
    "a line to standard error (a file not written whole, a read error, a mark...).\n"
    "See man imgpry for the listing, the messages and the exit status.\n";

constexpr char kVersion[] = "imgpry " IMGPRY_VERSION
                            "\n"
                            "MIT License: free to use, copy, change and pass on; no warranty.\n";

// Answers the actions that end the run before any image is read; true when
// it did, with the exit status in status.
bool answeredAction(const Options& o, int& status) {
    char shown[sizeof o.unknown];
    switch (o.action) {
        case Options::Action::kRun:
            return false;
        case Options::Action::kHelp:
            (void)std::fputs(kHelp, stdout);
            status = 0;
            return true;
        case Options::Action::kVersion:
            (void)std::fputs(kVersion, stdout);
            status = 0;
            return true;
        case Options::Action::kUsage:
            report(kUsage);
            break;
        case Options::Action::kUnknownOption:
            report("imgpry: unknown option '%s'; imgpry --help lists the options\n",
                   showName(o.unknown, true, shown, sizeof shown));
            break;
        case Options::Action::kMissingValue:
            report("imgpry: option '%s' needs a directory; imgpry --help lists the options\n",
                   showName(o.unknown, true, shown, sizeof shown));
            break;
    }
    status = 1;
    return true;
}

// More patterns than a run keeps count of is a usage error.
bool patternsFit(const Options& o) {
    if (o.patternCount <= kMaxPatterns) return true;
    report("imgpry: more than %d patterns\n", static_cast<int>(kMaxPatterns));
    return false;
}

// The listing and the messages go to the standard streams; a failure to
// write the listing is said once at the end.
int finishRun(bool opened, const fs::ImageInput& input, const char* shownPath, const ListOptions& options) {
    if (!opened) {
        if (input.outOfMemory()) {
            report("imgpry: cannot read %s: %s\n", shownPath, reasonOf(input.openError()));
            return 1;
        }
        // The Shift_JIS line is what it always was; the words that follow
        // it say which path and why, for a log as for a terminal.
        report(kOpenFailed);
        report("imgpry: cannot open %s: %s\n", shownPath, reasonOf(input.openError()));
        return 1;
    }
    removePartialFilesOnSignals();
    ListOptions withInput = options;
    withInput.input = &input;
    return listImage(shownPath, withInput);
}

// The options for listImage from the command line.
ListOptions listOptions(const Options& o, const char* const* patterns) {
    ListOptions options;
    options.perDisk = o.perDisk;
    options.listOnly = o.list;
    options.patterns = patterns;
    options.patternCount = o.patternCount;
    keepOldFiles(o.keep);
    return options;
}

// The folder -C names, once opened.
Folder directoryFolder;

fs::ImageInput imageInput;

// Makes the folder -C names (shown as messages show it) the run's target;
// false when it cannot be used, which is said.
template <typename Char>
bool useDirectory(const Char* directory, const char* shown, ListOptions& options) {
    const int error = openExistingFolder(directory, directoryFolder);
    if (error != 0) {
        report("imgpry: cannot use %s: %s\n", shown, reasonOf(error));
        return false;
    }
    options.target = &directoryFolder;
    options.targetShown = shown;
    return true;
}

}  // namespace

int runImgpry(int argc, char** argv) {
    const Options o = parseOptions(argc, argv);
    int status = 0;
    if (answeredAction(o, status)) return status;
    if (!patternsFit(o)) return 1;
    ListOptions options = listOptions(o, argv + o.firstPattern);
    // Paths are taken from the directory the run started in, whatever -C
    // says: nothing changes the working directory.
    if (o.directory >= 0) {
        static char shownDirectory[4 * 4096];
        const char* directory = argv[o.directory] + o.directoryOffset;
        (void)showName(directory, true, shownDirectory, sizeof shownDirectory);
        if (!useDirectory(directory, shownDirectory, options)) return 1;
    }
    const char* image = argv[o.image];
    static char shownPath[4 * 4096];
    (void)showName(image, true, shownPath, sizeof shownPath);
    protectImage(image);
    const bool opened = imageInput.open(gImage, image);
    return finishRun(opened, imageInput, shownPath, options);
}

#if defined(_WIN32)
namespace {

// A wide argument as messages show it: in the console's output code page
// when standard error is a console, in the ANSI code page otherwise; what
// the code page lacks becomes '?'.
void showWide(const wchar_t* arg, const char* fallback, char* shown, size_t room) {
    static char converted[4 * 32768];
    const UINT codePage = fs::isTerminal(stderr) ? GetConsoleOutputCP() : CP_ACP;
    if (WideCharToMultiByte(codePage, 0, arg, -1, converted, sizeof converted, nullptr, nullptr) == 0) {
        (void)std::snprintf(converted, sizeof converted, "%s", fallback);
    }
    (void)showName(converted, true, shown, room);
}

}  // namespace

int runImgpryWide(int argc, wchar_t** argv) {
    const Options o = parseOptions(argc, argv);
    int status = 0;
    if (answeredAction(o, status)) return status;
    if (!patternsFit(o)) return 1;
    // Patterns match names as the disks hold them: Shift_JIS bytes.
    static std::vector<std::string> patternBytes;
    static std::vector<const char*> patterns;
    for (int i = 0; i < o.patternCount; ++i) {
        const wchar_t* w = argv[o.firstPattern + i];
        const int n = WideCharToMultiByte(932, 0, w, -1, nullptr, 0, nullptr, nullptr);
        std::string bytes(n > 0 ? static_cast<size_t>(n) : 1U, '\0');
        if (n > 0) (void)WideCharToMultiByte(932, 0, w, -1, bytes.data(), n, nullptr, nullptr);
        patternBytes.push_back(bytes.c_str());
    }
    patterns.resize(patternBytes.size());
    std::transform(patternBytes.begin(), patternBytes.end(), patterns.begin(),
                   [](const std::string& p) { return p.c_str(); });
    ListOptions options = listOptions(o, patterns.data());
    if (o.directory >= 0) {
        static char shownDirectory[4 * 32768];
        const wchar_t* directory = argv[o.directory] + o.directoryOffset;
        showWide(directory, "the directory", shownDirectory, sizeof shownDirectory);
        if (!useDirectory(directory, shownDirectory, options)) return 1;
    }
    const wchar_t* image = argv[o.image];
    protectImage(image);
    const bool opened = imageInput.open(gImage, image);
    static char shownPath[4 * 32768];
    showWide(image, "the image", shownPath, sizeof shownPath);
    return finishRun(opened, imageInput, shownPath, options);
}
#endif

namespace {

// Room for a path as the listing shows it: every folder a catalogue can
// nest and the name, each part a name of at most kMaxNameBytes and a '/'.
constexpr size_t kPathRoom = static_cast<size_t>(fs::kMaxFolderDepth + 1) * (fs::kMaxNameBytes + 1);

// The disk being listed: its catalogue, the file system that read it (none
// when its header could not be read again), and where its files go.
fs::Catalogue catalogue;
fs::FileSystem* fileSystem = nullptr;
int32_t currentDisk = -1;
bool outTerminal = false;

// What this run lists and writes, and how it ends.
ListOptions settings;
bool writing = true;
bool patternMatched[kMaxPatterns];
#if defined(_WIN32)
constexpr bool kFoldCase = true;
#else
constexpr bool kFoldCase = false;
#endif

// With --per-disk, the disk's own folder under the target: made when the
// disk's first file or folder is to be written.
enum class TopState : uint8_t { kGiven, kUnmade, kMade, kFailed };
TopState topState = TopState::kGiven;
const Folder* topParent = nullptr;
Folder diskFolder;
char diskFolderName[16];

// One file's data and what reading it gave.
uint8_t fileData[fs::kMaxFileBytes];
fs::RunReport fileReport;

// What became of each folder of the disk: a folder that could not be made
// is said once, and nothing is written under it.
enum class FolderState : uint8_t { kUntried, kMade, kFailed };
FolderState folderStates[fs::kMaxCatalogueEntries];

// The folders open now, each within the one before: level 0 is the disk's
// top folder (the caller's), level i its catalogue entry entries[i] opened
// as folders[i].
struct OpenFolders {
    const Folder* top = nullptr;
    Folder folders[fs::kMaxFolderDepth + 1];
    int32_t entries[fs::kMaxFolderDepth + 1] = {};
    int32_t depth = 0;

    const Folder& current() const { return depth == 0 ? *top : folders[depth]; }
    void closeTo(int32_t level) {
        for (; depth > level; --depth) closeFolder(folders[depth]);
    }
};
OpenFolders openFolders;

// Paths of entries, as the catalogue holds them and as lines show them.
char pathText[kPathRoom];
char shownText[kPathRoom];
char whatText[kPathRoom + 64];

int32_t entryCount() {
    const int32_t n = catalogue.count;
    return n < 0 ? 0 : (n > fs::kMaxCatalogueEntries ? fs::kMaxCatalogueEntries : n);
}

bool isEntry(int32_t index) { return index >= 0 && index < entryCount(); }

// Names as this run writes and shows them. On a system whose character
// set is UTF-8, a name the disk holds in Shift_JIS is decoded to UTF-8 when
// it is valid Shift_JIS as a whole, and keeps its bytes otherwise; names
// already in UTF-8 (long FAT names) stay. Elsewhere (the C locale,
// Windows, which reads the bytes as code page 932 itself) names are the
// disk's exact bytes.
bool decodeNames = false;
// The decoded names of the disk's catalogue, at most 3 bytes for each byte
// of the catalogue's names (a NUL included).
char decodedNames[3 * static_cast<size_t>(fs::kMaxCatalogueNameBytes)];
int32_t decodedAt[fs::kMaxCatalogueEntries];

void decodeCatalogueNames() {
    if (!decodeNames) return;
    const int32_t count = catalogue.count < fs::kMaxCatalogueEntries ? catalogue.count : fs::kMaxCatalogueEntries;
    size_t used = 0;
    for (int32_t j = 0; j < count; ++j) {
        const char* name = catalogue.name(j);
        decodedAt[j] = -1;
        if (catalogue.entries[j].encoding != fs::NameEncoding::kShiftJis) continue;
        // A name that decodes to itself is used as it stands.
        size_t length = 0;
        if (fs::decodesToItself(name, length)) continue;
        const size_t room = 3 * length + 1;
        if (used + room > sizeof decodedNames) continue;
        decodedAt[j] = static_cast<int32_t>(used);
        (void)fs::shiftJisToUtf8Whole(name, decodedNames + used, room);
        used += std::strlen(decodedNames + used) + 1;
    }
}

// The name of entry index as it is written and shown.
const char* nameOf(int32_t index) {
    if (decodeNames && decodedAt[index] >= 0) return decodedNames + decodedAt[index];
    return catalogue.name(index);
}

// The path of entry index as the listing gives it: the names of the
// folders it stands in and its own, joined by '/'; truncated to fit
// pathText. The chain is bounded by the folder depth and the entry count.
const char* rawPath(int32_t index) {
    pathText[0] = '\0';
    if (!isEntry(index)) return pathText;
    int32_t chain[fs::kMaxFolderDepth + 1];
    int32_t depth = 0;
    for (int32_t i = index; isEntry(i) && depth <= fs::kMaxFolderDepth; i = catalogue.entries[i].parent) {
        chain[depth++] = i;
    }
    size_t used = 0;
    for (int32_t k = depth - 1; k >= 0; --k) {
        const char* part = nameOf(chain[k]);
        const size_t length = std::strlen(part);
        const size_t room = sizeof pathText - 1 - used;
        const size_t take = length < room ? length : room;
        std::memcpy(pathText + used, part, take);
        used += take;
        if (k > 0 && used < sizeof pathText - 1) pathText[used++] = '/';
    }
    pathText[used] = '\0';
    return pathText;
}

// The path as a line on standard error shows it.
const char* shownPath(int32_t index) { return showName(rawPath(index), true, shownText, sizeof shownText); }

// Says a problem the file system met with the disk's own structures.
void sayProblem(int d, const fs::Problem& p) {
    const bool aboutEntry = isEntry(p.entry);
    if (p.kind == fs::ProblemKind::kNote) {
        if (aboutEntry) {  // NOLINT(bugprone-branch-clone): the branches say different lines
            report("imgpry: disk %d: %s: %s\n", d, shownPath(p.entry), p.what);
        } else {
            report("imgpry: disk %d: %s\n", d, p.what);
        }
        return;
    }
    // An area: "the directory", or "the directory DIR" of a folder.
    const char* what = p.what;
    if (aboutEntry && catalogue.entries[p.entry].kind == fs::EntryKind::kFolder) {
        (void)std::snprintf(whatText, sizeof whatText, "%s %s", p.what, shownPath(p.entry));
        what = whatText;
    }
    char where[160] = "";
    if (p.shortCount > 0) (void)fs::describeShort(p.firstShort, where, sizeof where);
    const char* gap = p.shortCount > 0 ? ", " : "";
    if (p.got <= 0 && p.wanted > 0) {  // NOLINT(bugprone-branch-clone): the branches say different lines
        report("imgpry: disk %d: cannot read %s%s%s\n", d, what, p.shortCount > 0 ? ": " : "", where);
    } else if (p.got < p.wanted) {
        report("imgpry: disk %d: partly read %s: %d of %d bytes%s%s\n", d, what, static_cast<int>(p.got),
               static_cast<int>(p.wanted), gap, where);
    }
    if (p.markCount > 0) {
        char sector[32];
        char meaning[32];
        report("imgpry: disk %d: the image marks %d of %s's sectors bad, the first %s: %s\n", d,
               static_cast<int>(p.markCount), what,
               fs::sectorName(p.firstMark.track, p.firstMark.sector, sector, sizeof sector),
               fs::markMeaning(p.firstMark.status, p.firstMark.deleted, meaning, sizeof meaning));
    }
}

// Says the problems about entry index.
void sayProblemsOf(int d, int32_t index) {
    for (int32_t i = 0; i < catalogue.problemCount && i < fs::kMaxProblems; ++i) {
        if (catalogue.problems[i].entry == index) sayProblem(d, catalogue.problems[i]);
    }
}

// Marks folder index as not made and says why, once.
void folderFailed(int d, int32_t index, const char* reason) {
    if (folderStates[index] == FolderState::kFailed) return;
    folderStates[index] = FolderState::kFailed;
    report("imgpry: disk %d: cannot write %s: %s\n", d, shownPath(index), reason);
}

// Makes the disk's top folder when it is its own (--per-disk); false when it
// could not be made, which is said once.
bool makeTop(int d) {
    if (topState == TopState::kUnmade) {
        const int error = openFolder(*topParent, diskFolderName, diskFolder);
        topState = error == 0 ? TopState::kMade : TopState::kFailed;
        if (error != 0) report("imgpry: disk %d: cannot write %s: %s\n", d, diskFolderName, reasonOf(error));
    }
    return topState != TopState::kFailed;
}

// Makes folder index (-1: the disk's top) the current folder, opening the
// folders it stands in as needed; false when it or one of them could not be
// made. Every name part is checked, and each folder is opened within its
// parent, never through a link.
bool enterFolder(int d, int32_t folder) {
    if (!makeTop(d)) return false;
    // The folders from the top down to folder; a chain that is not one of
    // folders, or deeper than a catalogue holds, is not followed.
    int32_t chain[fs::kMaxFolderDepth] = {};
    int32_t k = 0;
    for (int32_t p = folder; p != -1; p = catalogue.entries[p].parent) {
        if (!isEntry(p) || catalogue.entries[p].kind != fs::EntryKind::kFolder) return false;
        if (k == fs::kMaxFolderDepth) {
            char reason[48];
            (void)std::snprintf(reason, sizeof reason, "more than %d folders deep", static_cast<int>(k));
            folderFailed(d, folder, reason);
            return false;
        }
        chain[k++] = p;
    }
    for (int32_t i = 0, j = k - 1; i < j; ++i, --j) {
        const int32_t t = chain[i];
        chain[i] = chain[j];
        chain[j] = t;
    }
    int32_t same = 0;
    while (same < openFolders.depth && same < k && openFolders.entries[same + 1] == chain[same]) ++same;
    openFolders.closeTo(same);
    for (int32_t i = same; i < k; ++i) {
        const int32_t index = chain[i];
        if (folderStates[index] == FolderState::kFailed) return false;
        const char* name = nameOf(index);
        if (name[0] == '\0' || isUnsafeName(name, kHostNameRules)) {
            folderFailed(d, index, "unsafe folder name");
            return false;
        }
        const int32_t level = openFolders.depth + 1;
        const int error = openFolder(openFolders.current(), name, openFolders.folders[level]);
        if (error != 0) {
            folderFailed(d, index, reasonOf(error));
            return false;
        }
        openFolders.entries[level] = index;
        openFolders.depth = level;
        folderStates[index] = FolderState::kMade;
    }
    return true;
}

// Where a file's allocation chain broke: after the last sector that belongs
// to the file, or before its first when none does.
const char* chainBreak(const fs::RunReport& run, char* buf, size_t size) {
    if (run.got == 0 && run.breakSector == 0) {
        (void)std::snprintf(buf, size, "the allocation chain breaks before the file's first sector");
    } else {
        char sector[32];
        (void)std::snprintf(buf, size, "the allocation chain breaks after %s",
                            fs::sectorName(run.breakTrack, run.breakSector, sector, sizeof sector));
    }
    return buf;
}

// Says that file index could only be read in part: its sectors that fell
// short, and where its allocation chain broke.
void sayPartlyRead(int d, const char* name, int32_t size) {
    const fs::RunReport& run = fileReport;
    const int got = static_cast<int>(run.got);
    if (run.shortCount > 0 || (!run.chainBroken && run.got < size)) {
        char where[160] = "";
        char more[40] = "";
        if (run.shortCount > 0) {
            where[0] = ',';
            where[1] = ' ';
            (void)fs::describeShort(run.shorts[0], where + 2, sizeof where - 2);
        }
        if (run.shortCount > 1)
            (void)std::snprintf(more, sizeof more, " (%d sectors short in all)", static_cast<int>(run.shortCount));
        report("imgpry: disk %d: partly read %s: %d of %d bytes%s%s; the rest is zeros\n", d, name, got,
               static_cast<int>(size), where, more);
    }
    if (run.chainBroken) {
        char where[96];
        report("imgpry: disk %d: partly read %s: %d of %d bytes, %s; the rest is zeros\n", d, name, got,
               static_cast<int>(size), chainBreak(run, where, sizeof where));
    }
}

// The folder that files of folder entry parent (-1: the disk's top) go
// into, as messages show it.
const char* folderShown(int32_t parent) {
    static char text[2 * kPathRoom + size_t{4} * 4096];
    int n = std::snprintf(text, sizeof text, "%s", settings.targetShown);
    if (settings.perDisk && n >= 0 && static_cast<size_t>(n) < sizeof text) {
        n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "/%s", diskFolderName);
    }
    if (isEntry(parent) && n >= 0 && static_cast<size_t>(n) < sizeof text) {
        (void)std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "/%s", shownPath(parent));
    }
    return text;
}

// The reason a file of folder entry parent could not be written when no
// temporary name was free.
const char* noTemporaryName(int32_t parent) {
    static char text[sizeof "no free temporary name in " + 2 * kPathRoom + size_t{4} * 4096];
    (void)std::snprintf(text, sizeof text, "no free temporary name in %s", folderShown(parent));
    return text;
}

// Whether entry index is selected: every entry when there are no patterns,
// otherwise one whose listed path matches a pattern (each pattern that
// matches is marked).
bool selected(int32_t index) {
    if (settings.patternCount == 0) return true;
    const char* path = rawPath(index);
    bool any = false;
    for (int32_t k = 0; k < settings.patternCount; ++k) {
        if (matchPattern(settings.patterns[k], path, kFoldCase)) {
            patternMatched[k] = true;
            any = true;
        }
    }
    return any;
}

// Lists file index, reads it through the file system and places it in the
// current folder (folderOpen false: its folder could not be made).
void listFile(int d, int32_t index, bool folderOpen) {
    const fs::CatalogueEntry& e = catalogue.entries[index];
    // The path, its padding, the tail, " ... cutted." and the newline.
    static char line[kPathRoom + 12 + kListingTail + 12 + 1];
    // Bytes that would act on a terminal are shown as '?' there; elsewhere
    // the path goes out as it is.
    const char* path = rawPath(index);
    const char* listed = outTerminal ? showName(path, true, shownText, sizeof shownText) : path;
    // Padded by the columns the name takes where names are UTF-8, by its
    // bytes where they are the disk's (one column each on a Shift_JIS
    // terminal).
    const int32_t columns = decodeNames ? fs::displayColumns(listed) : static_cast<int32_t>(std::strlen(listed));
    int32_t length = formatListing(line, listed, columns, e.size, e.firstTrack, e.firstSector);

    const int32_t size = e.size;
    bool toWrite = fileSystem != nullptr &&
                   fileSystem->readFile(gImage, catalogue, index, fileData, fs::kMaxFileBytes, fileReport, nullptr);
    // The file system gives at most the buffer; a size past it is never
    // taken from the buffer.
    if (size < 0 || size > fs::kMaxFileBytes) toWrite = false;
    const char* failure = nullptr;
    Placed placed;
    bool notWritten = false;  // kept, or the image at its name: said below
    if (toWrite && writing) {
        const char* name = nameOf(index);
        if (!folderOpen) {
            failure = "its folder could not be made";
        } else if (isUnsafeName(name, kHostNameRules)) {
            failure = "unsafe file name";
        } else {
            placed = placeFile(openFolders.current(), name, fileData, size, currentDisk, e.date);
            if (placed.ok) {
                std::copy_n(" ... cutted.", 12, line + length);
                length += 12;
            } else if (placed.why == NotPlaced::kKept || placed.why == NotPlaced::kImage) {
                notWritten = true;
            } else if (placed.why == NotPlaced::kNoTemporaryName) {
                failure = noTemporaryName(e.parent);
            } else {
                failure = reasonOf(placed.error);
            }
        }
    }
    // The whole line at once, before any line about the file on standard
    // error.
    line[length++] = '\n';
    listingWrite(line, static_cast<size_t>(length));
    sayProblemsOf(d, index);

    // The path as the lines on standard error show it, made only for one.
    auto name = [index] { return shownPath(index); };
    if (failure != nullptr) {
        report("imgpry: disk %d: cannot write %s: %s\n", d, name(), failure);
        return;
    }
    if (notWritten && placed.why == NotPlaced::kKept) {
        report("imgpry: disk %d: %s exists; kept\n", d, name());
        return;
    }
    if (notWritten) {
        report("imgpry: disk %d: %s is the image being read; not written\n", d, name());
        return;
    }
    const fs::RunReport& run = fileReport;
    if (!toWrite) {
        const bool tooLarge = size > fs::kMaxFileBytes;
        if (!tooLarge && (size <= 0 || run.got > 0)) return;
        char where[160];
        if (tooLarge) {  // NOLINT(bugprone-branch-clone): the branches say different lines
            (void)std::snprintf(where, sizeof where, "more than %d bytes", static_cast<int>(fs::kMaxFileBytes));
        } else if (run.shortCount > 0) {
            (void)fs::describeShort(run.shorts[0], where, sizeof where);
        } else if (run.chainBroken) {
            (void)chainBreak(run, where, sizeof where);
        } else {
            (void)std::snprintf(where, sizeof where, "nothing could be read");
        }
        report("imgpry: disk %d: cannot read %s: %s\n", d, name(), where);
        return;
    }
    if (run.got < size || run.chainBroken) sayPartlyRead(d, name(), size);
    if (run.markCount > 0) {
        char sector[32];
        char meaning[32];
        report("imgpry: disk %d: %s: the image marks %d of its sectors bad, the first %s: %s\n", d, name(),
               static_cast<int>(run.markCount),
               fs::sectorName(run.marks[0].track, run.marks[0].sector, sector, sizeof sector),
               fs::markMeaning(run.marks[0].status, run.marks[0].deleted, meaning, sizeof meaning));
    }
    if (placed.replacedDisk >= 0) {
        report("imgpry: disk %d: %s replaces the file written from disk %d\n", d, name(),
               static_cast<int>(placed.replacedDisk + 1));
    }
}

}  // namespace

namespace {

// Lists disk index into top, or with top null into its own folder under
// topParent.
void listDiskIn(int32_t index, const Folder* top) {
    const int d = static_cast<int>(index + 1);
    currentDisk = index;
    // A disk whose header cannot be read again is asked of no file system.
    const bool selectedDisk = fs::selectDisk(gImage, index);
    if (selectedDisk && settings.input != nullptr) {
        const fs::ImageInput& input = *settings.input;
        const int64_t missing = input.bytesMissing(gImage.diskOffsetOf(index), gImage.diskSizeField());
        if (missing > 0) {
            report("imgpry: disk %d: the image ends at byte %lld, %lld bytes before the end of this disk\n", d,
                   static_cast<long long>(input.size()), static_cast<long long>(missing));
        }
    }
    if (!selectedDisk && gImage.readError() != 0) {
        fileSystem = nullptr;
        fs::unreadableDisk(catalogue, gImage.readError());
    } else {
        bool recognised = false;
        fileSystem = &fs::recogniseDisk(gImage, recognised);
        fileSystem->readCatalogue(gImage, catalogue);
    }
    decodeCatalogueNames();
    const int32_t count = entryCount();
    for (int32_t i = 0; i < catalogue.problemCount && i < fs::kMaxProblems; ++i) {
        if (!isEntry(catalogue.problems[i].entry)) sayProblem(d, catalogue.problems[i]);
    }
    for (int32_t j = 0; j < count; ++j) folderStates[j] = FolderState::kUntried;
    if (top != nullptr) {
        topState = TopState::kGiven;
        openFolders.top = top;
    } else {
        topState = TopState::kUnmade;
        (void)std::snprintf(diskFolderName, sizeof diskFolderName, "disk%02d", d);
        openFolders.top = &diskFolder;
    }
    openFolders.depth = 0;
    // In catalogue order: a folder is made when it is met, even when it holds
    // nothing (with patterns only the folders of selected files are), and a
    // file goes into the folder it stands in.
    for (int32_t j = 0; j < count; ++j) {
        const fs::CatalogueEntry& e = catalogue.entries[j];
        if (e.kind == fs::EntryKind::kFolder) {
            sayProblemsOf(d, j);
            if (writing && settings.patternCount == 0) (void)enterFolder(d, j);
            continue;
        }
        if (!selected(j)) continue;
        listFile(d, j, !writing || enterFolder(d, e.parent));
    }
    openFolders.closeTo(0);
    if (topState == TopState::kMade) closeFolder(diskFolder);
}

}  // namespace

void listDisk(int32_t index, const Folder& top) {
    outTerminal = fs::isTerminal(stdout);
    listDiskIn(index, &top);
}

namespace {

// Says what reading the image as a whole met with: the container's lines,
// before any disk's.
void reportContainer(const char* shownPath, int32_t count) {
    const fs::ImageInput* input = settings.input;
    // A source read into memory whose read failed: the scan meets the same
    // failure where the bytes end, and it is said once.
    const bool inputFailed = input != nullptr && input->readError() != 0;
    if (inputFailed) {
        report("imgpry: cannot read %s at byte %lld: %s\n", shownPath, static_cast<long long>(input->readErrorOffset()),
               reasonOf(input->readError()));
    }
    if (input != nullptr && input->overLimit()) {
        const auto limit = static_cast<long long>(input->limit());
        report("imgpry: %s is longer than %lld bytes; only the first %lld bytes are read\n", shownPath, limit, limit);
    }
    if (gImage.scanError() != 0 && !(inputFailed && input->inMemory())) {
        report("imgpry: cannot read %s at byte %lld: %s\n", shownPath, static_cast<long long>(gImage.scanErrorOffset()),
               reasonOf(gImage.scanError()));
    }
    if (count == 0) {
        constexpr int32_t kHeader = imgpry::DiskImage::kDiskHeaderSize;
        if (input != nullptr && input->sizeKnown() && input->size() < kHeader) {
            report("imgpry: no disk found: %s holds %lld bytes, less than a %d-byte disk header\n", shownPath,
                   static_cast<long long>(input->size()), static_cast<int>(kHeader));
        } else {
            report("imgpry: no disk found in %s\n", shownPath);
        }
    }
    if (gImage.hasMoreDisks()) {
        const int limit = imgpry::DiskImage::kMaxDisks;
        report("imgpry: more than %d disks in %s; only the first %d are read\n", limit, shownPath, limit);
    }
    if (gImage.diskBeyondOffsetBound() >= 0) {
        report("imgpry: disk %d: starts beyond byte 2147483647; it and the disks after it are not read\n",
               static_cast<int>(gImage.diskBeyondOffsetBound() + 1));
    }
}

}  // namespace

int listImage(const char* shownPath, const ListOptions& options) {
    listingErrno = 0;
    forgetPlacedFiles();
    settings = options;
    writing = !options.listOnly;
    outTerminal = fs::isTerminal(stdout);
    saidAnything = false;
    decodeNames = fs::localeIsUtf8();
    for (int32_t k = 0; k < settings.patternCount && k < kMaxPatterns; ++k) patternMatched[k] = false;
    if (settings.patternCount > kMaxPatterns) settings.patternCount = kMaxPatterns;

    const int32_t count = gImage.diskCount();
    reportContainer(shownPath, count);
    static const Folder workingFolder{};
    const Folder& target = options.target != nullptr ? *options.target : workingFolder;
    topParent = &target;
    for (int32_t i = 0; i < count; ++i) listDiskIn(i, options.perDisk ? nullptr : &target);
    for (int32_t k = 0; k < settings.patternCount; ++k) {
        if (patternMatched[k]) continue;
        char shown[4 * 4096];
        report("imgpry: %s: not in the image\n", showName(settings.patterns[k], true, shown, sizeof shown));
    }
    flushListing();
    if (listingErrno != 0) report("imgpry: cannot write the listing: %s\n", reasonOf(listingErrno));
    return saidAnything ? 2 : 0;
}

int listImage(const char* shownPath) { return listImage(shownPath, ListOptions{}); }
