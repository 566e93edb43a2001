#include "packet/interrupted_runs.h"

#include <algorithm>

#include "base/ascii.h"
#include "base/messages.h"

namespace {

std::vector<std::string> packetsOfNode(const std::vector<std::string>& packetNames,
                                       const std::string& base) {
  std::vector<std::string> names;
  for (const std::string& name : packetNames) {
    if (nodeBaseOf(name) == base) names.push_back(name);
  }
  return names;
}

bool finishPackets(const std::vector<std::string>& names, const NodeAddress& origin,
                   Scan* scan) {
  Work work;
  work.origin = origin;
  for (const std::string& name : names) {
    if (!processPacket(name, work, scan)) return false;
  }
  return true;
}

enum class Taken { Finishing, Passed, Failed };

// The flag, taken over by a real run, or judged from its line by a preview.
Taken takeOver(const std::string& flagName, Scan* scan, NodeAddress* origin) {
  if (scan->preview) {
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
                Scan* scan) {
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
  const std::vector<std::string> names = packetsOfNode(packetNames, base);
  if (otherNodeFlagExists(scan->flags, flagName)) {
    leaveNodeFlag(&scan->flags);
    scan->busyWhileFinishing.insert(base);
    for (const std::string& name : names) {
      reportBusyPacket(joinPath(scan->directoryPath, name), scan);
    }
    return true;
  }
  if (!finishPackets(names, origin, scan)) {
    leaveNodeFlag(&scan->flags);
    return false;
  }
  if (!scan->preview) return releaseNodeFlagOf(scan);
  scan->finishedInPreview[base] = origin;
  leaveNodeFlag(&scan->flags);
  return true;
}

}  // namespace

bool finishInterruptedRuns(const std::vector<std::string>& packetNames, Scan* scan) {
  std::vector<std::string> flagNames = scan->flags.ownSpellingFlags;
  std::sort(flagNames.begin(), flagNames.end(), asciiNameLess);
  for (const std::string& flagName : flagNames) {
    if (scan->flags.busyInListing.count(nodeBaseOf(flagName)) != 0) continue;
    if (!finishNode(flagName, packetNames, scan)) return false;
  }
  return true;
}
