#include "packet/outbound_scan.h"

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

bool readHeader(FileHandle file, const std::string& path, PacketHeader* header) {
  if (readFullyAt(file, 0, header->bytes, kPacketHeaderSize)) return true;
  reportMessage("Error: cannot read %s\n", path.c_str());
  closeFile(file);
  return false;
}

// Message area first, header last: a packet stopped between the two writes
// still carries its old origin in the header, so the next run finishes it.
// An interruption waits for both, so that the packet is whole again before
// the flag goes and a mailer may take it.
bool rewritePacket(FileHandle file, const std::string& path, PacketHeader header, Scan* scan) {
  NodeAddress oldOrigin = headerOrigin(header);
  int changedCount = 0;
  if (scan->preview) {
    if (!countMessagesToRewrite(file, oldOrigin, &scan->area, &changedCount)) {
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

// Takes the flag of the packet's node before the packet is rewritten, and
// reads the header again under it: a tosser may have added to the packet,
// or a mailer sent it, in the meantime. A packet left (its node busy, or
// gone) is closed; a failure is reported.
Taking takeNodeFor(FileHandle file, const std::string& path, const std::string& name,
                   PacketHeader* header, Scan* scan) {
  if (scan->preview) {
    // A preview takes no flag: the packet stays as read.
    if (nodeLooksBusy(scan->flags, name)) return leaveBusyPacket(file, path, scan);
    return Taking::Taken;
  }
  switch (takeNodeFlag(&scan->flags, name)) {
    case NodeFlag::Held: break;
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
  // Sent and removed by the mailer before the flag was ours.
  if (!pathStillNamesFile(path, file)) {
    return closePacket(file, path) ? Taking::PacketLeft : Taking::Failed;
  }
  return readHeader(file, path, header) ? Taking::Taken : Taking::Failed;
}

// Handles one packet file completely and reports every line about it.
// False after reporting its failure.
bool processPacket(const std::string& name, Scan* scan) {
  const std::string path = joinPath(scan->outboundDir, name);
  FileHandle file = kNoFile;
  switch (openPacketFile(path, &file)) {
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
  if (!readHeader(file, path, &header)) return false;
  Verdict verdict = judge(*scan, header);
  if (verdict == Verdict::Rewrite && !holdsNodeFlag(scan->flags, name)) {
    switch (takeNodeFor(file, path, name, &header, scan)) {
      case Taking::Taken: verdict = judge(*scan, header); break;
      case Taking::PacketLeft: return true;
      case Taking::Failed: return false;
    }
  }
  NodeAddress destination = headerDestination(header);
  NodeAddress origin = headerOrigin(header);
  switch (verdict) {
    case Verdict::Unlisted: return closePacket(file, path);
    case Verdict::AlreadyFrom:
      reportMessage("%s to " NODE_ADDRESS_FORMAT " already from " NODE_ADDRESS_FORMAT "\n",
                    path.c_str(), NODE_ADDRESS_ARGS(destination), NODE_ADDRESS_ARGS(origin));
      return closePacket(file, path);
    case Verdict::Rewrite: break;
  }
  reportMessage("%s to " NODE_ADDRESS_FORMAT " from " NODE_ADDRESS_FORMAT "\n", path.c_str(),
                NODE_ADDRESS_ARGS(destination), NODE_ADDRESS_ARGS(origin));
  return rewritePacket(file, path, header, scan);
}

bool isPacketEntry(const DirectoryEntry& entry) {
  // A link named like a packet could lead to any file of the system.
  return entry.kind == EntryKind::RegularFile && isPacketName(entry.name);
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
  std::vector<DirectoryEntry> entries;
  if (listDirectory(outboundDir, &entries) == ListingOutcome::Failed) {
    reportMessage("Error: cannot read %s\n", outboundDir.c_str());
    return ScanOutcome::Failed;
  }
  Scan scan;
  scan.outboundDir = outboundDir;
  scan.newOrigin = newOrigin;
  scan.destinations = &destinations;
  scan.flags = busyFlagsOf(outboundDir, entries);
  scan.preview = mode == ScanMode::Preview;
  bool completed = processPackets(sortedNames(entries, isPacketEntry), &scan);
  // Also after a failure: no flag of ours outlives the run.
  if (!releaseFlagsOf(&scan) || !completed) return ScanOutcome::Failed;
  if (!scan.preview) removeDeadRunsFiles(scan.flags);
  return scan.busyNodeLeft ? ScanOutcome::BusyNodeLeft : ScanOutcome::Completed;
}
