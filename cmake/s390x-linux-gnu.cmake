# Cross-compiles for s390x, a big-endian host (Debian: g++-s390x-linux-gnu),
# and runs the tests under qemu-s390x (Debian: qemu-user).
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(IMGPRY_CROSS_TRIPLET s390x-linux-gnu)
set(IMGPRY_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
