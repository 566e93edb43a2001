#include "address/node_address.h"

#include <algorithm>
#include <cstdio>

#include "base/ascii.h"

namespace {

bool isDomainCharacter(char c) {
  return asciiIsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
         c == '_' || c == '.';
}

// The text up to the first of `separator`, and what follows it; false when
// the separator is missing.
bool splitAt(std::string_view text, char separator, std::string_view* before,
             std::string_view* after) {
  const std::size_t at = text.find(separator);
  if (at == std::string_view::npos) return false;
  *before = text.substr(0, at);
  *after = text.substr(at + 1);
  return true;
}

}  // namespace

bool addressNumber(std::string_view text, std::int16_t* value) {
  if (text.empty()) return false;
  std::uint32_t number = 0;
  for (char c : text) {
    if (!asciiIsDigit(c)) return false;
    // Held just past the largest, however many digits follow.
    number = std::min<std::uint32_t>(number * 10 + static_cast<std::uint32_t>(c - '0'), 0x10000);
  }
  if (number > 0xFFFF) return false;
  *value = static_cast<std::int16_t>(number >= 0x8000 ? static_cast<std::int32_t>(number) - 0x10000
                                                      : static_cast<std::int32_t>(number));
  return true;
}

bool withoutDomain(std::string_view text, std::string_view* address) {
  const std::size_t at = text.find('@');
  *address = text.substr(0, at);
  if (at == std::string_view::npos) return true;
  const std::string_view domain = text.substr(at + 1);
  if (domain.empty()) return false;
  for (char c : domain) {
    if (!isDomainCharacter(c)) return false;
  }
  return true;
}

bool parseNodeAddress(std::string_view text, NodeAddress* address) {
  std::string_view rest, zone, net, node, point;
  if (!withoutDomain(text, &rest) || !splitAt(rest, ':', &zone, &rest) ||
      !splitAt(rest, '/', &net, &rest)) {
    return false;
  }
  if (!splitAt(rest, '.', &node, &point)) node = rest;
  NodeAddress read;
  if (!addressNumber(zone, &read.zone) || !addressNumber(net, &read.net) ||
      !addressNumber(node, &read.node) ||
      (node.size() != rest.size() && !addressNumber(point, &read.point))) {
    return false;
  }
  *address = read;
  return true;
}

namespace {

// Takes a signed number, as nodeAddressText writes one, from the front of
// the text; false when there is none in range.
bool takeWrittenNumber(std::string_view* text, std::int16_t* value) {
  const std::size_t start = !text->empty() && text->front() == '-' ? 1 : 0;
  std::size_t end = start;
  std::int32_t magnitude = 0;
  while (end < text->size() && end - start < 6 && asciiIsDigit((*text)[end])) {
    magnitude = magnitude * 10 + ((*text)[end++] - '0');
  }
  const std::int32_t number = start == 1 ? -magnitude : magnitude;
  if (end == start || number < -32768 || number > 32767) return false;
  *value = static_cast<std::int16_t>(number);
  text->remove_prefix(end);
  return true;
}

bool takeSeparator(std::string_view* text, char separator) {
  if (text->empty() || text->front() != separator) return false;
  text->remove_prefix(1);
  return true;
}

}  // namespace

bool readNodeAddressText(std::string_view text, NodeAddress* address) {
  NodeAddress read;
  std::string_view rest = text;
  if (!takeWrittenNumber(&rest, &read.zone) || !takeSeparator(&rest, ':') ||
      !takeWrittenNumber(&rest, &read.net) || !takeSeparator(&rest, '/') ||
      !takeWrittenNumber(&rest, &read.node) || !takeSeparator(&rest, '.') ||
      !takeWrittenNumber(&rest, &read.point) || !rest.empty() ||
      // Only the form nodeAddressText gives: no leading zeros, no "-0".
      nodeAddressText(read) != text) {
    return false;
  }
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
