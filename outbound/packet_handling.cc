#include "outbound/packet_handling.h"

#include "base/failure.h"
#include "base/file_io.h"
#include "base/messages.h"
#include "packet/packet_format.h"

namespace {

// Closes the packet; a failed close is the packet's failure.
bool closePacket(FileHandle file, const std::string& path) {
  if (closeFile(file)) return true;
  reportFailure("Error: cannot close %s\n", path.c_str());
  return false;
}

bool failPacket(FileHandle file, const std::string& path) {
  reportFailure("Error in %s\n", path.c_str());
  closeFile(file);
  return false;
}

// The packet file at hand.
struct Packet {
  std::string name;  // whose base names its node: its own, or its flow file's
  std::string path;
  std::string shown;  // as the lines name it
  bool rewritten = false;  // given the origin (in a preview: would be)
  bool inDirectory = true;  // named `name` in the scan's directory, or only by `path`
  // Another program holds it open denying writes: open for reading only.
  bool inUse = false;
  FileHandle file = kNoFile;
  PacketHeader header;
};

enum class Reading {
  Read,
  PassedOver,  // no packet (any more): closed, without a line
  Left,        // another program's work in progress: reported and closed
  Failed,      // reported
};

Reading leaveBusy(const Packet& packet, Scan* scan) {
  reportBusyPacket(packet.shown, scan);
  return closePacket(packet.file, packet.shown) ? Reading::Left : Reading::Failed;
}

// Reads the header of the open packet. A file that is no packet (a FIFO or
// device, whose read fails) is passed over; a file too short for a header
// is the packet of a tosser still writing it when another program has a
// flag of its node or holds it open, and an error otherwise.
Reading readHeader(Packet* packet, Scan* scan) {
  if (readFullyAt(packet->file, 0, packet->header.bytes, kPacketHeaderSize)) return Reading::Read;
  FileStatus status;
  if (fileStatus(packet->file, &status)) {
    if (!status.regular) {
      closeFile(packet->file);
      return Reading::PassedOver;
    }
    if (status.length < static_cast<std::int64_t>(kPacketHeaderSize) &&
        (packet->inUse || anotherProgramFlagsNode(scan->flags, packet->name))) {
      return leaveBusy(*packet, scan);
    }
    if (status.length < static_cast<std::int64_t>(kPacketHeaderSize)) {
      noteShorterThanAHeader(status.length);
    }
  }
  reportFailure("Error: cannot read %s\n", packet->shown.c_str());
  closeFile(packet->file);
  return Reading::Failed;
}

// A packet another program holds open denying writes (a Windows mailer
// sending it) is read, to tell whether it needs rewriting; one that cannot
// even be read is that program's work in progress.
Reading openInUse(Packet* packet, Scan* scan) {
  packet->inUse = true;
  switch (openFileForReading(packet->path, &packet->file)) {
    case OpenOutcome::Opened: return readHeader(packet, scan);
    case OpenOutcome::NotRegularFile:
    case OpenOutcome::Vanished: return Reading::PassedOver;
    case OpenOutcome::InUse:
    case OpenOutcome::Failed: break;
  }
  reportBusyPacket(packet->shown, scan);
  return Reading::Left;
}

Reading openPacket(Packet* packet, Scan* scan) {
  const FileHandle directory = packet->inDirectory ? scan->directory : kNoFile;
  switch (openPacketFile(directory, packet->name, packet->path, &packet->file)) {
    case OpenOutcome::Opened: break;
    // Swapped for a link, a FIFO or a directory since the listing, or sent
    // and removed by the mailer: passed over as the listing passes over
    // what is no packet.
    case OpenOutcome::NotRegularFile:
    case OpenOutcome::Vanished: return Reading::PassedOver;
    case OpenOutcome::InUse: return openInUse(packet, scan);
    case OpenOutcome::Failed:
      // A tosser's attached packet, while it writes it under its flag.
      if (!packet->inDirectory && anotherProgramFlagsNode(scan->flags, packet->name)) {
        reportBusyPacket(packet->shown, scan);
        return Reading::Left;
      }
      reportFailure("Error: cannot open %s\n", packet->shown.c_str());
      return Reading::Failed;
  }
  return readHeader(packet, scan);
}

// The packet as its name has it now that the node's flag is ours: a tosser
// may have added to it since it was read, or written a new copy and renamed
// it over the name.
Reading packetUnderFlag(Packet* packet, Scan* scan) {
  if (nameStandsFor(packet->path, packet->file)) return readHeader(packet, scan);
  closeFile(packet->file);
  return openPacket(packet, scan);
}

// In a preview, a packet of a node whose interrupted work a real run
// finishes first is judged as that run would leave it: the header and the
// messages that still had the header's origin get the origin of that work.
// Gives the origin the preview took away, if any.
bool finishInPreview(const Scan& scan, const Work& work, Packet* packet, NodeAddress* takenAway) {
  if (!scan.run->preview || work.destinations == nullptr) return false;
  auto finished = scan.finishedInPreview.find(nodeBaseOf(packet->name));
  if (finished == scan.finishedInPreview.end()) return false;
  *takenAway = headerOrigin(packet->header);
  if (sameNodeAddress(*takenAway, finished->second)) return false;
  setHeaderOrigin(&packet->header, finished->second);
  return true;
}

// A packet stopped between its writes keeps its node's flag, whose line
// tells the next run which origin it was getting; the interruption that
// waits for both writes lets the packet be whole again before the flag goes
// and a mailer may take it.
bool rewritePacket(const Packet& packet, std::int64_t fileLength, const Work& work,
                   const NodeAddress* takenAway, Scan* scan) {
  const NodeAddress oldOrigin = headerOrigin(packet.header);
  int changedCount = 0;
  if (!readMessageArea(packet.file, fileLength, &scan->run->area)) {
    return failPacket(packet.file, packet.shown);
  }
  if (scan->run->preview) {
    if (takenAway != nullptr) rewriteMessageArea(&scan->run->area, *takenAway, oldOrigin);
    if (!countMessagesToRewrite(&scan->run->area, oldOrigin, &changedCount)) {
      return failPacket(packet.file, packet.shown);
    }
    reportChangedMessages(changedCount, scan);
    return closePacket(packet.file, packet.shown);
  }
  const AreaRewrite rewrite = rewritePacketBytes(packet.file, packet.header, work.origin,
                                                 &scan->run->area, &changedCount);
  if (rewrite == AreaRewrite::Malformed) return failPacket(packet.file, packet.shown);
  const bool written = rewrite == AreaRewrite::Written;
  if (written) reportChangedMessages(changedCount, scan);
  if (written ? closePacket(packet.file, packet.shown) : failPacket(packet.file, packet.shown)) {
    return true;
  }
  // The packet may be half rewritten: its node's flag stays, as a kill here
  // leaves it, and its line tells the next run which origin to finish with.
  leaveNodeFlag(&scan->flags);
  return false;
}

// Takes the flag of the packet's node before the packet is rewritten, and
// reads the packet again under it. A preview takes no flag, so its first
// reading stands.
Reading takeNodeFor(Packet* packet, Scan* scan) {
  switch (takeNodeOf(packet->name, packet->shown, scan)) {
    case NodeTaking::Held:
      return scan->run->preview ? Reading::Read : packetUnderFlag(packet, scan);
    case NodeTaking::Busy:
      return closePacket(packet->file, packet->shown) ? Reading::Left : Reading::Failed;
    case NodeTaking::Failed: break;
  }
  closeFile(packet->file);
  return Reading::Failed;
}

bool handlePacket(Packet* packet, const Work& work, Scan* scan) {
  Reading reading = openPacket(packet, scan);
  NodeAddress takenAway;
  bool finishedFirst = false;
  if (reading == Reading::Read) finishedFirst = finishInPreview(*scan, work, packet, &takenAway);
  Verdict verdict = reading == Reading::Read ? judgePacket(work, packet->header) : Verdict::Unlisted;
  if (verdict == Verdict::Rewrite && packet->inUse) {
    reading = leaveBusy(*packet, scan);
  } else if (verdict == Verdict::Rewrite && !holdsNodeFlag(scan->flags, packet->name)) {
    reading = takeNodeFor(packet, scan);
    if (reading == Reading::Read) verdict = judgePacket(work, packet->header);
  }
  switch (reading) {
    case Reading::Read: break;
    case Reading::PassedOver:
    case Reading::Left: return true;
    case Reading::Failed: return false;
  }
  switch (verdict) {
    case Verdict::Unlisted: return closePacket(packet->file, packet->shown);
    case Verdict::AlreadyFrom:
      if (work.destinations != nullptr) reportAlreadyFrom(packet->shown, packet->header, scan);
      return closePacket(packet->file, packet->shown);
    case Verdict::Rewrite: break;
  }
  // Only a regular file is ever written; a length that cannot be learned
  // stays 0, which the area's read reports.
  FileStatus status;
  if (fileStatus(packet->file, &status) && !status.regular) {
    return closePacket(packet->file, packet->shown);
  }
  reportFrom(packet->shown, packet->header);
  packet->rewritten =
      rewritePacket(*packet, status.length, work, finishedFirst ? &takenAway : nullptr, scan);
  return packet->rewritten;
}

}  // namespace

bool processPacket(const std::string& name, const Work& work, Scan* scan) {
  Packet packet;
  packet.name = name;
  packet.path = packet.shown = joinPath(scan->directoryPath, name);
  return handlePacket(&packet, work, scan);
}

bool processAttachedPacket(const std::string& path, const std::string& flowName,
                           const Work& work, Scan* scan) {
  Packet packet;
  packet.name = flowName;
  packet.path = packet.shown = path;
  packet.inDirectory = false;
  return handlePacket(&packet, work, scan);
}

bool processUnpackedPacket(const std::string& path, const std::string& shown,
                           const std::string& flowName, const Work& work, Scan* scan,
                           bool* rewritten) {
  Packet packet;
  packet.name = flowName;
  packet.path = path;
  packet.shown = shown;
  packet.inDirectory = false;
  const bool handled = handlePacket(&packet, work, scan);
  *rewritten = packet.rewritten;
  return handled;
}

NodeTaking takeNodeOf(const std::string& name, const std::string& path, Scan* scan) {
  if (scan->run->preview) {
    if (!anotherProgramFlagsNode(scan->flags, name)) return NodeTaking::Held;
    reportBusyPacket(path, scan);
    return NodeTaking::Busy;
  }
  switch (takeNodeFlag(&scan->flags, name)) {
    case NodeFlag::Held: return NodeTaking::Held;
    case NodeFlag::Busy: reportBusyPacket(path, scan); return NodeTaking::Busy;
    case NodeFlag::Failed: reportFailure("Error: cannot open %s\n", path.c_str()); break;
    case NodeFlag::NotRemoved: reportNotRemoved(scan->flags.held.path); break;
  }
  return NodeTaking::Failed;
}

void reportFrom(const std::string& path, const PacketHeader& header) {
  reportMessage("%s to " NODE_ADDRESS_FORMAT " from " NODE_ADDRESS_FORMAT "\n", path.c_str(),
                NODE_ADDRESS_ARGS(headerDestination(header)), NODE_ADDRESS_ARGS(headerOrigin(header)));
}

void noteShorterThanAHeader(std::int64_t length) {
  noteFailure(std::to_string(length) + " bytes, shorter than a packet header");
}

void reportChangedMessages(int changedCount, Scan* scan) {
  reportMessage("Changed Messages: %d\n", changedCount);
  RunTally& tally = scan->run->tally;
  ++tally.rewritten;
  tally.changedMessages += changedCount;
}

void reportAlreadyFrom(const std::string& path, const PacketHeader& header, Scan* scan) {
  reportMessage("%s to " NODE_ADDRESS_FORMAT " already from " NODE_ADDRESS_FORMAT "\n",
                path.c_str(), NODE_ADDRESS_ARGS(headerDestination(header)),
                NODE_ADDRESS_ARGS(headerOrigin(header)));
  ++scan->run->tally.alreadyFrom;
}

void reportBusyPacket(const std::string& path, Scan* scan) {
  reportMessage("%s busy, left for the next run\n", path.c_str());
  ++scan->run->tally.busy;
}

void reportChangedWhileRead(const std::string& path, Scan* scan) {
  reportMessage("%s changed while it was read, left for the next run\n", path.c_str());
  ++scan->run->tally.busy;
}

void reportLeftAsItIs(const std::string& path, const std::string& why, Scan* scan) {
  reportMessage("%s %s, left as it is\n", path.c_str(), why.c_str());
  ++scan->run->tally.leftAsItIs;
}

void reportNotRemoved(const std::string& path) {
  reportFailure("Error: cannot remove %s\n", path.c_str());
}

bool releaseNodeFlagOf(Scan* scan) {
  if (releaseNodeFlag(&scan->flags)) return true;
  reportNotRemoved(scan->flags.held.path);
  return false;
}
