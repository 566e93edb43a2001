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

// Reads the new origin as a sysop writes it: zone:net/node or
// zone:net/node.point, optionally followed by @domain (withoutDomain), each
// number decimal digits only from 0 to 65535 (addressNumber). Nothing else
// passes: no sign, no white space, no text after the address. Three
// numbers give point 0. Returns false, leaving the target alone, for
// anything else.
bool parseNodeAddress(std::string_view text, NodeAddress* address);

// Reads an address exactly as nodeAddressText writes it: four signed
// 16-bit numbers. False for anything else.
bool readNodeAddressText(std::string_view text, NodeAddress* address);

// True when all four fields are equal; point 0 equals only point 0.
bool sameNodeAddress(const NodeAddress& a, const NodeAddress& b);

// The number a field's text stands for: decimal digits only, at least one,
// from 0 to 65535, kept as its low 16 bits read as signed (65535 is -1).
// False for any other text.
bool addressNumber(std::string_view text, std::int16_t* value);

// The text without an "@domain" at its end: an "@" followed by letters,
// digits, '-', '_' and '.', at least one. The text itself when it has no
// "@"; false when what follows its first "@" is no domain.
bool withoutDomain(std::string_view text, std::string_view* address);

// The address as every message writes it, with NODE_ADDRESS_FORMAT.
std::string nodeAddressText(const NodeAddress& address);

// The fragment "%hd:%hd/%hd.%hd" that every message uses for an address.
#define NODE_ADDRESS_FORMAT "%hd:%hd/%hd.%hd"
#define NODE_ADDRESS_ARGS(a) (a).zone, (a).net, (a).node, (a).point
