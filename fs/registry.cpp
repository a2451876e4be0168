#include "file_system.h"
#include "file_systems.h"

namespace imgpry::fs {

namespace {

// The file systems in the order a disk is tried against them: the first
// that recognises it wins.
FileSystem& (*const kFileSystems[])() = {
    fat12FileSystem, builtinFileSystem, huBasicFileSystem, n88BasicFileSystem, cpmFileSystem,
};

}  // namespace

FileSystem& recogniseDisk(DiskImage& image, bool& recognised) {
    for (FileSystem& (*const get)() : kFileSystems) {
        FileSystem& candidate = get();
        if (candidate.recognise(image)) {
            recognised = true;
            return candidate;
        }
    }
    recognised = false;
    FileSystem& fallback = builtinFileSystem();
    (void)fallback.recognise(image);
    return fallback;
}

}  // namespace imgpry::fs
