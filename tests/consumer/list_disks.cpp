// Prints the number, name and media type of every disk in a container.
#include <imgpry/disk_image.h>

#include <cstdio>

namespace {
imgpry::DiskImage image;  // large: static storage, not the stack
}

int main(int argc, char** argv) {
    if (argc != 2 || !image.open(argv[1])) return 1;
    for (int32_t i = 0; i < image.diskCount(); ++i) {
        if (!image.selectDisk(i)) return 1;
        std::printf("%d %s %d\n", i, image.diskName(), image.mediaType());
    }
    return 0;
}
