# What the Linux cross builds share; the toolchain file that includes this
# sets IMGPRY_CROSS_TRIPLET (the Debian triplet of the compiler) and
# IMGPRY_CROSS_QEMU (the qemu-user program that runs the tests).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${IMGPRY_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${IMGPRY_CROSS_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${IMGPRY_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Statically linked, so qemu needs no system libraries of the target at run
# time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
find_program(IMGPRY_QEMU ${IMGPRY_CROSS_QEMU} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${IMGPRY_QEMU})
