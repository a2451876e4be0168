// Fuzzes the disk image reader: the input is an image file, read through
// every operation, with tracks, sector IDs and sector ranges drawn from the
// input's last bytes.
#include <fuzzer/FuzzedDataProvider.h>
#include <imgpry/disk_image.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

imgpry::DiskImage image;       // static, as the tool's reader is
uint8_t out[400 * 1024 + 16];  // the largest run read below, plus a guard
constexpr uint8_t kGuard = 0xA5;

void checkGuard(int32_t limit) {
    for (size_t i = static_cast<size_t>(limit); i < static_cast<size_t>(limit) + 16; ++i) {
        if (out[i] != kGuard) std::abort();  // a read wrote past what it was given
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The last 64 bytes (or fewer) steer the reads; the rest is the image.
    const size_t steer = size < 64 ? size : 64;
    FuzzedDataProvider params(data + size - steer, steer);
    if (!image.openMemory(data, size - steer)) std::abort();
    const int32_t disks = image.diskCount();
    if (disks < 0 || disks > imgpry::DiskImage::kMaxDisks) std::abort();
    if (image.selectDisk(disks)) std::abort();

    for (int32_t d = 0; d < disks && d < 4; ++d) {
        if (!image.selectDisk(d)) continue;
        image.setSectorRange(params.ConsumeIntegralInRange<int32_t>(-1, 20),
                             params.ConsumeIntegralInRange<int32_t>(-1, 20));
        for (int round = 0; round < 4; ++round) {
            const auto t = params.ConsumeIntegralInRange<int32_t>(-2, 165);
            const auto c = params.ConsumeIntegralInRange<int32_t>(-1, 256);
            const auto h = params.ConsumeIntegralInRange<int32_t>(-1, 2);
            const auto r = params.ConsumeIntegralInRange<int32_t>(-1, 256);
            const auto n = params.ConsumeIntegralInRange<int32_t>(0, 8);
            const auto len = params.ConsumeIntegralInRange<int32_t>(0, 400 * 1024);

            std::fill(out, out + sizeof out, kGuard);
            const int32_t one = image.readSector(t, c, h, r, n, out, len % 4096);
            if (one < 0 || one > len % 4096) std::abort();
            checkGuard(len % 4096);

            std::fill(out, out + sizeof out, kGuard);
            const int32_t run = image.readSectors(t, c, h, r, n, out, len);
            if (run < 0 || run > len) std::abort();
            checkGuard(len);

            const int32_t idLen = 4 * (len % 300);
            std::fill(out, out + sizeof out, kGuard);
            const int32_t ids = image.readTrackIds(t, out, idLen);
            if (ids < 0 || ids > idLen || ids % 4 != 0) std::abort();
            checkGuard(idLen);
        }
    }
    image.close();
    if (image.readSector(0, 0, 0, 1, 3, out, 16) != 0) std::abort();
    return 0;
}
