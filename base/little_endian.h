// Little-endian numbers in byte buffers, read and written byte by byte so
// that the layout holds on any host.
#pragma once

#include <cstdint>

inline std::uint16_t readLittle16(const unsigned char* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

inline std::uint32_t readLittle32(const unsigned char* at) {
  return static_cast<std::uint32_t>(readLittle16(at)) |
         (static_cast<std::uint32_t>(readLittle16(at + 2)) << 16);
}

inline void writeLittle16(unsigned char* at, std::uint16_t value) {
  at[0] = static_cast<unsigned char>(value & 0xFF);
  at[1] = static_cast<unsigned char>(value >> 8);
}

inline void writeLittle32(unsigned char* at, std::uint32_t value) {
  writeLittle16(at, static_cast<std::uint16_t>(value & 0xFFFF));
  writeLittle16(at + 2, static_cast<std::uint16_t>(value >> 16));
}
