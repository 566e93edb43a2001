#include "address/node_address.h"

#include <cstdio>

namespace {

bool isCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::int16_t lowSixteenBitsAsSigned(std::uint32_t value) {
  value &= 0xFFFFu;
  return static_cast<std::int16_t>(value >= 0x8000u ? static_cast<std::int32_t>(value) - 0x10000
                                                    : static_cast<std::int32_t>(value));
}

}  // namespace

std::size_t readAddressNumber(std::string_view text, std::int16_t* value) {
  *value = 0;
  std::size_t i = 0;
  while (i < text.size() && isCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::size_t firstDigit = i;
  // Accumulating modulo 65536 keeps exactly the low 16 bits of any length of
  // number, where a clamping conversion would saturate.
  std::uint32_t magnitude = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    magnitude = (magnitude * 10u + static_cast<std::uint32_t>(text[i] - '0')) & 0xFFFFu;
    ++i;
  }
  if (i == firstDigit) return 0;
  *value = lowSixteenBitsAsSigned(negative ? 0x10000u - magnitude : magnitude);
  return i;
}

bool parseNodeAddress(std::string_view text, NodeAddress* address) {
  const char separators[3] = {':', '/', '.'};
  NodeAddress read;
  std::int16_t* const readFields[4] = {&read.zone, &read.net, &read.node, &read.point};
  int count = 0;
  std::size_t pos = 0;
  while (count < 4) {
    if (count > 0) {
      if (pos >= text.size() || text[pos] != separators[count - 1]) break;
      ++pos;
    }
    std::size_t used = readAddressNumber(text.substr(pos), readFields[count]);
    if (used == 0) break;
    pos += used;
    ++count;
  }
  if (count < 3) return false;
  *address = read;
  return true;
}

bool sameNodeAddress(const NodeAddress& a, const NodeAddress& b) {
  return a.zone == b.zone && a.net == b.net && a.node == b.node && a.point == b.point;
}

std::string nodeAddressText(const NodeAddress& address) {
  char text[32];
  std::snprintf(text, sizeof text, NODE_ADDRESS_FORMAT, NODE_ADDRESS_ARGS(address));
  return text;
}
