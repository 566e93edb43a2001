#include "packet/outbound_scan.h"

#include "driver/ascii.h"
#include "driver/directory_listing.h"
#include "driver/messages.h"
#include "driver/platform.h"
#include "driver/run.h"
#include "packet/message_rewrite.h"
#include "packet/packet_file.h"
#include "packet/packet_format.h"

namespace {

// Closes the packet and turns a failed close into the run's failure.
int closePacket(int file, const std::string& path) {
  if (!closePacketFile(file)) {
    reportMessage("Error: cannot close %s\n", path.c_str());
    return kExitPacketError;
  }
  return 0;
}

int failPacket(int file, const std::string& path) {
  reportMessage("Error in %s\n", path.c_str());
  closePacketFile(file);
  return kExitPacketError;
}

// Message area first, header last: a packet stopped between the two writes
// still carries its old origin in the header, so the next run finishes it.
int rewritePacket(int file, const std::string& path, PacketHeader header,
                  const NodeAddress& newOrigin, MessageArea* area) {
  NodeAddress oldOrigin = headerOrigin(header);
  int changedCount = 0;
  if (!rewriteMessages(file, oldOrigin, newOrigin, area, &changedCount)) {
    return failPacket(file, path);
  }
  setHeaderOrigin(&header, newOrigin);
  if (!writeFullyAt(file, 0, header.bytes, kPacketHeaderSize)) return failPacket(file, path);
  reportMessage("Changed Messages: %d\n", changedCount);
  return closePacket(file, path);
}

}  // namespace

bool isPacketName(const std::string& name) {
  std::size_t n = name.size();
  if (n < 4 || name[n - 4] != '.') return false;
  if (!asciiEqualIgnoringCase(std::string_view(name).substr(n - 2), "ut")) return false;
  char flavour = asciiToUpper(name[n - 3]);
  return flavour == 'C' || flavour == 'D' || flavour == 'H' || flavour == 'O';
}

std::vector<std::string> listPacketNames(const std::string& outboundDir) {
  return listRegularFiles(outboundDir, isPacketName);
}

int processPacket(const std::string& path, const NodeAddress& newOrigin,
                  const DestinationList& destinations, MessageArea* area) {
  int file = openPacketFile(path);
  if (file < 0) {
    reportMessage("Error: cannot open %s\n", path.c_str());
    return kExitPacketError;
  }
  PacketHeader header;
  if (!readFully(file, header.bytes, kPacketHeaderSize)) {
    reportMessage("Error: cannot read %s\n", path.c_str());
    closePacketFile(file);
    return kExitPacketError;
  }
  NodeAddress destination = headerDestination(header);
  if (!destinationListMatches(destinations, destination)) return closePacket(file, path);
  NodeAddress origin = headerOrigin(header);
  if (sameNodeAddress(origin, newOrigin)) {
    reportMessage("%s to " NODE_ADDRESS_FORMAT " already from " NODE_ADDRESS_FORMAT "\n",
                  path.c_str(), NODE_ADDRESS_ARGS(destination), NODE_ADDRESS_ARGS(origin));
    return closePacket(file, path);
  }
  reportMessage("%s to " NODE_ADDRESS_FORMAT " from " NODE_ADDRESS_FORMAT "\n", path.c_str(),
                NODE_ADDRESS_ARGS(destination), NODE_ADDRESS_ARGS(origin));
  return rewritePacket(file, path, header, newOrigin, area);
}

int scanOutbound(const std::string& outboundDir, const NodeAddress& newOrigin,
                 const DestinationList& destinations) {
  MessageArea area;
  for (const std::string& name : listPacketNames(outboundDir)) {
    std::string path = outboundDir + pathSeparator() + name;
    int status = processPacket(path, newOrigin, destinations, &area);
    if (status != 0) return status;
  }
  return 0;
}
