# Shared part of the toolchain files for Linux on another processor, built
# with Debian's cross compilers and run under qemu-user; CROSS_TARGET (the
# Debian triplet) and QEMU_PROCESSOR are set by each. Without binfmt_misc the
# kernel cannot start a foreign program itself, so tests, and the programs
# the end-to-end tests start, go through the emulator; it finds the target's
# C library in Debian's sysroot for the triplet.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${QEMU_PROCESSOR})
set(CMAKE_C_COMPILER ${CROSS_TARGET}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_TARGET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${QEMU_PROCESSOR} -L /usr/${CROSS_TARGET})
