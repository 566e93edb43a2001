# Cross-compiles for 32-bit ARM Linux with hardware floating point (Raspberry
# Pi OS 32-bit), tested under qemu-arm:
#   cmake --preset armhf   (Debian: apt-get install g++-arm-linux-gnueabihf qemu-user)
set(CROSS_TARGET arm-linux-gnueabihf)
set(QEMU_PROCESSOR arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
