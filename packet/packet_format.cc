#include "packet/packet_format.h"

#include "base/little_endian.h"

namespace {

std::int16_t readField(const PacketHeader& header, std::size_t offset) {
  return static_cast<std::int16_t>(readWord(header.bytes + offset));
}

void writeField(PacketHeader* header, std::size_t offset, std::int16_t value) {
  writeWord(header->bytes + offset, static_cast<std::uint16_t>(value));
}

}  // namespace

std::uint16_t readWord(const unsigned char* at) { return readLittle16(at); }

void writeWord(unsigned char* at, std::uint16_t value) { writeLittle16(at, value); }

NodeAddress headerDestination(const PacketHeader& header) {
  using namespace header_offset;
  return NodeAddress{readField(header, kDestZone), readField(header, kDestNet),
                     readField(header, kDestNode), readField(header, kDestPoint)};
}

NodeAddress headerOrigin(const PacketHeader& header) {
  using namespace header_offset;
  return NodeAddress{readField(header, kOrigZone), readField(header, kOrigNet),
                     readField(header, kOrigNode), readField(header, kOrigPoint)};
}

void setHeaderOrigin(PacketHeader* header, const NodeAddress& origin) {
  using namespace header_offset;
  writeField(header, kOrigZone, origin.zone);
  writeField(header, kQOrigZone, origin.zone);
  writeField(header, kOrigNet, origin.net);
  writeField(header, kAuxNet, origin.net);
  writeField(header, kOrigNode, origin.node);
  writeField(header, kOrigPoint, origin.point);
}
