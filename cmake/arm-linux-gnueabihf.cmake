# Cross-compiles for 32-bit ARM with hardware floating point, armhf
# (Debian: g++-arm-linux-gnueabihf), and runs the tests under qemu-arm
# (Debian: qemu-user): 32-bit size_t and long, 64-bit file offsets.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(IMGPRY_CROSS_TRIPLET arm-linux-gnueabihf)
set(IMGPRY_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
