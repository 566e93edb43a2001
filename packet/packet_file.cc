#include "packet/packet_file.h"

#include "driver/platform.h"

bool readFully(std::FILE* file, void* buffer, std::size_t size) {
  unsigned char* at = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    std::size_t got = std::fread(at, 1, size, file);
    if (got == 0) return false;
    at += got;
    size -= got;
  }
  return true;
}

bool writeFullyAt(std::FILE* file, std::int64_t offset, const void* buffer, std::size_t size) {
  if (!seekFile(file, offset)) return false;
  const unsigned char* at = static_cast<const unsigned char*>(buffer);
  while (size > 0) {
    std::size_t put = std::fwrite(at, 1, size, file);
    if (put == 0) return false;
    at += put;
    size -= put;
  }
  return true;
}
