# Cross-compiles for 32-bit ARM with hardware floating point, armhf
# (Debian: g++-arm-linux-gnueabihf), and runs the tests under qemu-arm
# (Debian: qemu-user): 32-bit size_t and long, 64-bit file offsets.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Statically linked, so qemu needs no armhf system libraries at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
find_program(IMGPRY_QEMU qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${IMGPRY_QEMU})
