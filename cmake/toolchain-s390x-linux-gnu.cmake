# Cross-compiles for 64-bit IBM Z Linux, a big-endian machine, tested under
# qemu-s390x:
#   cmake --preset s390x   (Debian: apt-get install g++-s390x-linux-gnu qemu-user)
set(CROSS_TARGET s390x-linux-gnu)
set(QEMU_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
