// The four-part FidoNet node address zone:net/node.point.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct NodeAddress {
  std::int16_t zone = 0;
  std::int16_t net = 0;
  std::int16_t node = 0;
  std::int16_t point = 0;  // 0: the node itself
};

// Reads zone:net/node or zone:net/node.point as "%hd:%hd/%hd.%hd" would:
// white space may stand before a number but not before a separator, and
// whatever follows the last number read is ignored. Returns false when fewer
// than three numbers can be read; three numbers give point 0.
bool parseNodeAddress(std::string_view text, NodeAddress* address);

// True when all four fields are equal; point 0 equals only point 0.
bool sameNodeAddress(const NodeAddress& a, const NodeAddress& b);

// Reads white space, an optional sign and decimal digits from the front of
// text, keeping the low 16 bits of the exact value as a signed number (65535
// reads as -1, 65536 as 0) however many digits there are. Returns the number
// of characters consumed, or 0 when no digit was found (value is then 0).
std::size_t readAddressNumber(std::string_view text, std::int16_t* value);

// The address as every message writes it, with NODE_ADDRESS_FORMAT.
std::string nodeAddressText(const NodeAddress& address);

// The fragment "%hd:%hd/%hd.%hd" that every message uses for an address.
#define NODE_ADDRESS_FORMAT "%hd:%hd/%hd.%hd"
#define NODE_ADDRESS_ARGS(a) (a).zone, (a).net, (a).node, (a).point
