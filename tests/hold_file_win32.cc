// Test helper for the Windows build: holds a file open as a running pelorin
// holds its status log (appending, deny-write share mode) until the marker
// file it creates is removed again, or a minute has passed.
#include <windows.h>

#include <cstdio>
#include <share.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::FILE* held = _fsopen(argv[1], "a", _SH_DENYWR);
  if (held == nullptr) return 1;
  std::FILE* marker = std::fopen(argv[2], "w");
  if (marker == nullptr) return 1;
  std::fclose(marker);
  for (int waited = 0; waited < 3000; ++waited) {
    if (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES) break;
    Sleep(20);
  }
  std::fclose(held);
  return 0;
}
