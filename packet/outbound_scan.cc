#include "packet/outbound_scan.h"

#include "base/ascii.h"
#include "base/directory_listing.h"
#include "base/file_io.h"
#include "base/messages.h"
#include "base/platform.h"
#include "packet/message_rewrite.h"
#include "packet/packet_format.h"

namespace {

// Closes the packet; a failed close is the packet's failure.
bool closePacket(FileHandle file, const std::string& path) {
  if (closeFile(file)) return true;
  reportMessage("Error: cannot close %s\n", path.c_str());
  return false;
}

bool failPacket(FileHandle file, const std::string& path) {
  reportMessage("Error in %s\n", path.c_str());
  closeFile(file);
  return false;
}

// Message area first, header last: a packet stopped between the two writes
// still carries its old origin in the header, so the next run finishes it.
bool rewritePacket(FileHandle file, const std::string& path, PacketHeader header,
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

// Handles one packet file completely, reading its message area into `area`,
// and reports every line about it. False after reporting its failure.
bool processPacket(const std::string& path, const NodeAddress& newOrigin,
                   const DestinationList& destinations, MessageArea* area) {
  FileHandle file = kNoFile;
  switch (openPacketFile(path, &file)) {
    case OpenOutcome::Opened: break;
    // Swapped for a link, a FIFO or a directory since the listing: passed
    // over as the listing passes such entries over.
    case OpenOutcome::NotRegularFile: return true;
    case OpenOutcome::Failed:
      reportMessage("Error: cannot open %s\n", path.c_str());
      return false;
  }
  PacketHeader header;
  if (!readFullyAt(file, 0, header.bytes, kPacketHeaderSize)) {
    reportMessage("Error: cannot read %s\n", path.c_str());
    closeFile(file);
    return false;
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

ListingOutcome listPacketNames(const std::string& outboundDir, std::vector<std::string>* names) {
  return listNames(
      outboundDir,
      [](const DirectoryEntry& entry) {
        // A link named like a packet could lead to any file of the system.
        return entry.kind == EntryKind::RegularFile && isPacketName(entry.name);
      },
      names);
}

}  // namespace

bool isPacketName(const std::string& name) {
  std::size_t n = name.size();
  if (n < 4 || name[n - 4] != '.') return false;
  if (!asciiEqualIgnoringCase(std::string_view(name).substr(n - 2), "ut")) return false;
  char flavour = asciiToUpper(name[n - 3]);
  return flavour == 'C' || flavour == 'D' || flavour == 'H' || flavour == 'O';
}

bool scanOutbound(const std::string& outboundDir, const NodeAddress& newOrigin,
                  const DestinationList& destinations) {
  std::vector<std::string> names;
  if (listPacketNames(outboundDir, &names) == ListingOutcome::Failed) {
    reportMessage("Error: cannot read %s\n", outboundDir.c_str());
    return false;
  }
  MessageArea area;
  for (const std::string& name : names) {
    if (!processPacket(joinPath(outboundDir, name), newOrigin, destinations, &area)) return false;
  }
  return true;
}
