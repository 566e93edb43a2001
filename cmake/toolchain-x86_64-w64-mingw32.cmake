# Cross-compiles the Windows console program with MinGW-w64:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake
set(MINGW_TARGET x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
