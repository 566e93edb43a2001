#include "packet/outbound_scan.h"

#include <utility>

#include "base/ascii.h"
#include "base/directory_listing.h"
#include "base/file_io.h"
#include "base/messages.h"
#include "base/platform.h"
#include "packet/busy_flags.h"
#include "packet/message_rewrite.h"
#include "packet/packet_format.h"

namespace {

// What lives for the whole pass over the outbound.
struct Scan {
  std::string outboundDir;
  FileHandle directory = kNoFile;  // the outbound, open, to open packets in
  NodeAddress newOrigin;
  const DestinationList* destinations = nullptr;
  MessageArea area;  // one buffer, grown to the largest area read
  BusyFlags flags;
  bool preview = false;
  bool busyNodeLeft = false;
};

enum class Verdict { Unlisted, AlreadyFrom, Rewrite };

Verdict judge(const Scan& scan, const PacketHeader& header) {
  if (!destinationListMatches(*scan.destinations, headerDestination(header))) {
    return Verdict::Unlisted;
  }
  return sameNodeAddress(headerOrigin(header), scan.newOrigin) ? Verdict::AlreadyFrom
                                                               : Verdict::Rewrite;
}

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

// True for a file that took a packet's place but is none: a FIFO, a device.
bool isNoPacket(FileHandle file) {
  FileStatus status;
  return fileStatus(file, &status) && !status.regular;
}

enum class Reading { Read, NoPacket, Failed };

// Reads the header; a file that is no packet (its read fails) is closed
// and passed over.
Reading readHeader(FileHandle file, const std::string& path, PacketHeader* header) {
  if (readFullyAt(file, 0, header->bytes, kPacketHeaderSize)) return Reading::Read;
  if (isNoPacket(file)) {
    closeFile(file);
    return Reading::NoPacket;
  }
  reportMessage("Error: cannot read %s\n", path.c_str());
  closeFile(file);
  return Reading::Failed;
}

// Message area first, header last: a packet stopped between the two writes
// still carries its old origin in the header, so the next run finishes it.
// An interruption waits for both, so that the packet is whole again before
// the flag goes and a mailer may take it.
bool rewritePacket(FileHandle file, const std::string& path, PacketHeader header,
                   std::int64_t fileLength, Scan* scan) {
  NodeAddress oldOrigin = headerOrigin(header);
  int changedCount = 0;
  if (!readMessageArea(file, fileLength, &scan->area)) return failPacket(file, path);
  if (scan->preview) {
    if (!countMessagesToRewrite(&scan->area, oldOrigin, &changedCount)) {
      return failPacket(file, path);
    }
    reportMessage("Changed Messages: %d\n", changedCount);
    return closePacket(file, path);
  }
  deferInterruptions();
  bool written = rewriteMessages(file, oldOrigin, scan->newOrigin, &scan->area, &changedCount);
  if (written) {
    setHeaderOrigin(&header, scan->newOrigin);
    written = writeFullyAt(file, 0, header.bytes, kPacketHeaderSize);
  }
  allowInterruptions();
  if (!written) return failPacket(file, path);
  reportMessage("Changed Messages: %d\n", changedCount);
  return closePacket(file, path);
}

void reportNotRemoved(const std::string& path) {
  reportMessage("Error: cannot remove %s\n", path.c_str());
}

bool releaseNodeFlagOf(Scan* scan) {
  if (releaseNodeFlag(&scan->flags)) return true;
  reportNotRemoved(scan->flags.held.path);
  return false;
}

// Every flag of the run goes, and the file they were written in.
bool releaseFlagsOf(Scan* scan) {
  if (!releaseNodeFlagOf(scan)) return false;
  if (dropFlagFile(scan->flags)) return true;
  reportNotRemoved(scan->flags.temporary);
  return false;
}

enum class Taking { Taken, PacketLeft, Failed };

Taking leaveBusyPacket(FileHandle file, const std::string& path, Scan* scan) {
  reportMessage("%s busy, left for the next run\n", path.c_str());
  scan->busyNodeLeft = true;
  return closePacket(file, path) ? Taking::PacketLeft : Taking::Failed;
}

// Takes the flag of the packet's node before the packet is rewritten. A
// packet left (its node busy) is closed; a failure is reported.
Taking takeNodeFor(FileHandle file, const std::string& path, const std::string& name,
                   Scan* scan) {
  if (scan->preview) {
    // A preview takes no flag.
    if (nodeLooksBusy(scan->flags, name)) return leaveBusyPacket(file, path, scan);
    return Taking::Taken;
  }
  switch (takeNodeFlag(&scan->flags, name)) {
    case NodeFlag::Held: return Taking::Taken;
    case NodeFlag::Busy: return leaveBusyPacket(file, path, scan);
    case NodeFlag::Failed:
      reportMessage("Error: cannot open %s\n", path.c_str());
      closeFile(file);
      return Taking::Failed;
    case NodeFlag::NotRemoved:
      closeFile(file);
      reportNotRemoved(scan->flags.held.path);
      return Taking::Failed;
  }
  return Taking::Failed;
}

void reportFrom(const std::string& path, const PacketHeader& header) {
  NodeAddress destination = headerDestination(header);
  NodeAddress origin = headerOrigin(header);
  reportMessage("%s to " NODE_ADDRESS_FORMAT " from " NODE_ADDRESS_FORMAT "\n", path.c_str(),
                NODE_ADDRESS_ARGS(destination), NODE_ADDRESS_ARGS(origin));
}

// Learns the length of a packet to be rewritten, under its node's flag; a
// length that cannot be learned stays 0, which the area's read reports. A
// packet sent and removed by the mailer before the flag was ours is passed
// over, and so is anything but a regular file: nothing else is ever written.
Reading statusUnderFlag(FileHandle file, const std::string& path, FileStatus* status) {
  if (fileStatus(file, status) && (status->removed || !status->regular)) {
    return closePacket(file, path) ? Reading::NoPacket : Reading::Failed;
  }
  return Reading::Read;
}

// Handles one packet file completely and reports every line about it.
// False after reporting its failure.
bool processPacket(const std::string& name, Scan* scan) {
  const std::string path = joinPath(scan->outboundDir, name);
  FileHandle file = kNoFile;
  switch (openPacketFile(scan->directory, name, path, &file)) {
    case OpenOutcome::Opened: break;
    // Swapped for a link, a FIFO or a directory since the listing, or sent
    // and removed by the mailer: passed over as the listing passes over
    // what is no packet.
    case OpenOutcome::NotRegularFile:
    case OpenOutcome::Vanished: return true;
    case OpenOutcome::Failed:
      reportMessage("Error: cannot open %s\n", path.c_str());
      return false;
  }
  PacketHeader header;
  switch (readHeader(file, path, &header)) {
    case Reading::Read: break;
    case Reading::NoPacket: return true;
    case Reading::Failed: return false;
  }
  Verdict verdict = judge(*scan, header);
  FileStatus status;
  if (verdict == Verdict::Rewrite) {
    const bool heldAlready = holdsNodeFlag(scan->flags, name);
    if (!heldAlready) {
      switch (takeNodeFor(file, path, name, scan)) {
        case Taking::Taken: break;
        case Taking::PacketLeft: return true;
        case Taking::Failed: return false;
      }
    }
    // A header read before the node's flag was taken is read again under
    // it: a tosser may have added to the packet in the meantime. A preview
    // takes no flag, so its first reading stands.
    const bool readAgain = !heldAlready && !scan->preview;
    Reading reading = statusUnderFlag(file, path, &status);
    if (reading == Reading::Read && readAgain) reading = readHeader(file, path, &header);
    switch (reading) {
      case Reading::Read: verdict = judge(*scan, header); break;
      case Reading::NoPacket: return true;
      case Reading::Failed: return false;
    }
  }
  switch (verdict) {
    case Verdict::Unlisted: return closePacket(file, path);
    case Verdict::AlreadyFrom:
      reportMessage("%s to " NODE_ADDRESS_FORMAT " already from " NODE_ADDRESS_FORMAT "\n",
                    path.c_str(), NODE_ADDRESS_ARGS(headerDestination(header)),
                    NODE_ADDRESS_ARGS(headerOrigin(header)));
      return closePacket(file, path);
    case Verdict::Rewrite: break;
  }
  reportFrom(path, header);
  return rewritePacket(file, path, header, status.length, scan);
}

bool isPacketEntry(const DirectoryEntry& entry) {
  // A link named like a packet could lead to any file of the system.
  return entry.kind == EntryKind::RegularFile && isPacketName(entry.name);
}

// The packets' names, sorted, and the flags of the outbound. The listing
// itself is let go before the packets are handled. False when the directory
// cannot be listed completely; a path that is no directory has neither.
bool listOutbound(const std::string& outboundDir, std::vector<std::string>* names,
                  BusyFlags* flags) {
  std::vector<DirectoryEntry> entries;
  if (listDirectory(outboundDir, &entries) == ListingOutcome::Failed) return false;
  *flags = busyFlagsOf(outboundDir, entries);
  *names = sortedNames(std::move(entries), isPacketEntry);
  return true;
}

bool processPackets(const std::vector<std::string>& names, Scan* scan) {
  for (const std::string& name : names) {
    // A node's flag goes before the packets of the next node are looked at.
    if (!holdsNodeFlag(scan->flags, name) && !releaseNodeFlagOf(scan)) return false;
    if (!processPacket(name, scan)) return false;
  }
  return true;
}

}  // namespace

bool isPacketName(const std::string& name) {
  std::size_t n = name.size();
  if (n < 4 || name[n - 4] != '.') return false;
  if (!asciiEqualIgnoringCase(std::string_view(name).substr(n - 2), "ut")) return false;
  char flavour = asciiToUpper(name[n - 3]);
  return flavour == 'C' || flavour == 'D' || flavour == 'H' || flavour == 'O';
}

ScanOutcome scanOutbound(const std::string& outboundDir, const NodeAddress& newOrigin,
                         const DestinationList& destinations, ScanMode mode) {
  Scan scan;
  std::vector<std::string> names;
  if (!listOutbound(outboundDir, &names, &scan.flags)) {
    reportMessage("Error: cannot read %s\n", outboundDir.c_str());
    return ScanOutcome::Failed;
  }
  scan.outboundDir = outboundDir;
  scan.newOrigin = newOrigin;
  scan.destinations = &destinations;
  scan.preview = mode == ScanMode::Preview;
  scan.directory = openDirectory(outboundDir);
  bool completed = processPackets(names, &scan);
  if (scan.directory != kNoFile) closeFile(scan.directory);
  // Also after a failure: no flag of ours outlives the run.
  if (!releaseFlagsOf(&scan) || !completed) return ScanOutcome::Failed;
  if (!scan.preview) removeDeadRunsFiles(scan.flags);
  return scan.busyNodeLeft ? ScanOutcome::BusyNodeLeft : ScanOutcome::Completed;
}
