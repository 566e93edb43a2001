#include "packet/packet_file.h"

#include "driver/platform.h"

bool readFully(int packet, void* buffer, std::size_t size) {
  unsigned char* at = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    std::int64_t got = readPacketBytes(packet, at, size);
    if (got <= 0) return false;
    at += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool writeFullyAt(int packet, std::int64_t offset, const void* buffer, std::size_t size) {
  if (!seekPacketFile(packet, offset)) return false;
  const unsigned char* at = static_cast<const unsigned char*>(buffer);
  while (size > 0) {
    std::int64_t put = writePacketBytes(packet, at, size);
    if (put <= 0) return false;
    at += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}
