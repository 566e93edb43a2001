// The floor for unlisted packets: open each file named on standard input,
// read its first 58 bytes, close it. Prints how many files were read.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

int main() {
  std::string path;
  long files = 0;
  unsigned char header[58];
  while (std::getline(std::cin, path)) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    if (read(fd, header, sizeof header) == static_cast<ssize_t>(sizeof header)) ++files;
    close(fd);
  }
  std::printf("%ld\n", files);
  return 0;
}
