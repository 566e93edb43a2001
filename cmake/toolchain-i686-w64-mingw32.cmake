# Cross-compiles the Windows console program with MinGW-w64:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
set(MINGW_TARGET i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
