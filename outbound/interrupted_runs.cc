#include "outbound/interrupted_runs.h"

#include <algorithm>

#include "base/ascii.h"
#include "base/messages.h"
#include "outbound/flow_files.h"

namespace {

// A packet of the node: one of the directory, or one a flow file of the
// node lists.
struct NodePacket {
  std::string name;      // in the directory, or the path as the flow file writes it
  std::string flowName;  // empty for a packet of the directory
};

std::vector<NodePacket> packetsOfNode(const std::vector<std::string>& packetNames,
                                      const std::vector<std::string>& flowNames,
                                      const std::string& base, const Scan& scan) {
  std::vector<NodePacket> packets;
  for (const std::string& name : packetNames) {
    if (nodeBaseOf(name) == base) packets.push_back(NodePacket{name, ""});
  }
  for (const std::string& flowName : flowNames) {
    std::string content;
    if (nodeBaseOf(flowName) != base ||
        !readFlowFile(joinPath(scan.directoryPath, flowName), &content)) {
      continue;
    }
    for (const ListedFile& listed : listedMail(content)) {
      FileStatus status;
      if (listed.kind == ListedKind::Packet && listedFileCounts(listed, &status)) {
        packets.push_back(NodePacket{listed.path, flowName});
      }
    }
  }
  return packets;
}

std::string pathOf(const NodePacket& packet, const Scan& scan) {
  return packet.flowName.empty() ? joinPath(scan.directoryPath, packet.name) : packet.name;
}

bool finishPackets(const std::vector<NodePacket>& packets, const NodeAddress& origin,
                   Scan* scan) {
  Work work;
  work.origin = origin;
  for (const NodePacket& packet : packets) {
    if (!(packet.flowName.empty()
              ? processPacket(packet.name, work, scan)
              : processAttachedPacket(packet.name, packet.flowName, work, scan))) {
      return false;
    }
  }
  return true;
}

enum class Taken { Finishing, Passed, Failed };

// The flag, taken over by a real run, or judged from its line by a preview.
Taken takeOver(const std::string& flagName, Scan* scan, NodeAddress* origin) {
  if (scan->run->preview) {
    if (!looksLeftFlag(scan->flags, flagName, origin)) return Taken::Passed;
    holdInPreview(&scan->flags, flagName);
    return Taken::Finishing;
  }
  switch (takeLeftFlag(&scan->flags, flagName, origin)) {
    case LeftFlag::Finishing: return Taken::Finishing;
    case LeftFlag::Removed:
    case LeftFlag::NotLeft: return Taken::Passed;
    case LeftFlag::NotRemoved:
      reportNotRemoved(joinPath(scan->flags.directory, flagName));
      return Taken::Failed;
  }
  return Taken::Failed;
}

bool finishNode(const std::string& flagName, const std::vector<std::string>& packetNames,
                const std::vector<std::string>& flowNames, Scan* scan) {
  NodeAddress origin;
  switch (takeOver(flagName, scan, &origin)) {
    case Taken::Finishing: break;
    case Taken::Passed: return true;
    case Taken::Failed: return false;
  }
  const std::string flagPath = joinPath(scan->flags.directory, flagName);
  reportMessage("%s left by an interrupted run: finishing it, From: " NODE_ADDRESS_FORMAT "\n",
                flagPath.c_str(), NODE_ADDRESS_ARGS(origin));
  const std::string base = nodeBaseOf(flagName);
  const std::vector<NodePacket> packets = packetsOfNode(packetNames, flowNames, base, *scan);
  if (anotherProgramFlagsNode(scan->flags, flagName)) {
    leaveNodeFlag(&scan->flags);
    scan->busyWhileFinishing.insert(base);
    for (const NodePacket& packet : packets) reportBusyPacket(pathOf(packet, *scan), scan);
    return true;
  }
  if (!finishPackets(packets, origin, scan)) {
    leaveNodeFlag(&scan->flags);
    return false;
  }
  if (!scan->run->preview) return releaseNodeFlagOf(scan);
  scan->finishedInPreview[base] = origin;
  leaveNodeFlag(&scan->flags);
  return true;
}

}  // namespace

bool finishInterruptedRuns(const std::vector<std::string>& packetNames,
                           const std::vector<std::string>& flowNames, Scan* scan) {
  std::vector<std::string> flagNames = scan->flags.ownSpellingFlags;
  std::sort(flagNames.begin(), flagNames.end(), asciiNameLess);
  for (const std::string& flagName : flagNames) {
    if (scan->flags.busyInListing.count(nodeBaseOf(flagName)) != 0) continue;
    if (!finishNode(flagName, packetNames, flowNames, scan)) return false;
  }
  return true;
}
