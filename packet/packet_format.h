// Layout of an outbound packet: a FidoNet type-2 packet with the type-2+
// fields. All words are 16-bit little-endian and are read and written byte
// by byte, so the layout holds on any host.
//
// PacketHeader, the first 58 bytes of the file (offsets in decimal):
//
//    0 origNode     2 destNode     4 year   6 month   8 day   10 hour
//   12 minute      14 second      16 baud  18 packetType
//   20 origNet     22 destNet     24 productCodeLow (1)  25 revisionMajor (1)
//   26 password (8)
//   34 qOrigZone   36 qDestZone   38 auxNet   40 capabilityValidation
//   42 productCodeHigh (1)  43 revisionMinor (1)  44 capabilityWord
//   46 origZone    48 destZone    50 origPoint   52 destPoint
//   54 productData (4)
//
// The message area follows: packed messages, then a zero word as its last
// two bytes. A packed message is a 14-byte fixed part
//
//    0 messageType (must be 2)   2 origNode   4 destNode   6 origNet
//    8 destNet   10 attribute   12 cost
//
// followed by five NUL-terminated strings: dateTime, toUserName,
// fromUserName, subject and text. A packed message carries no zone or point.
#pragma once

#include <cstddef>
#include <cstdint>

#include "address/node_address.h"

constexpr std::size_t kPacketHeaderSize = 58;

namespace header_offset {
constexpr std::size_t kOrigNode = 0;
constexpr std::size_t kDestNode = 2;
constexpr std::size_t kOrigNet = 20;
constexpr std::size_t kDestNet = 22;
constexpr std::size_t kQOrigZone = 34;
constexpr std::size_t kAuxNet = 38;
constexpr std::size_t kOrigZone = 46;
constexpr std::size_t kDestZone = 48;
constexpr std::size_t kOrigPoint = 50;
constexpr std::size_t kDestPoint = 52;
}  // namespace header_offset

namespace message_offset {
constexpr std::size_t kMessageType = 0;
constexpr std::size_t kOrigNode = 2;
constexpr std::size_t kOrigNet = 6;
constexpr std::size_t kStrings = 14;
}  // namespace message_offset

constexpr std::uint16_t kPackedMessageType = 2;

struct PacketHeader {
  unsigned char bytes[kPacketHeaderSize] = {};
};
static_assert(sizeof(PacketHeader) == kPacketHeaderSize, "the header is read and written whole");

std::uint16_t readWord(const unsigned char* at);
void writeWord(unsigned char* at, std::uint16_t value);

NodeAddress headerDestination(const PacketHeader& header);
NodeAddress headerOrigin(const PacketHeader& header);
// Puts the zone into origZone and qOrigZone, the net into origNet and auxNet,
// the node into origNode and the point into origPoint; nothing else changes.
void setHeaderOrigin(PacketHeader* header, const NodeAddress& origin);
