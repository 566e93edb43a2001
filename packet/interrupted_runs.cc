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
    return looksLeftFlag(scan->flags, flagName, origin) ? Taken::Finishing : Taken::Passed;
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
  reportMessage("%s left by an interrupted run: finishing it\n", flagPath.c_str());
  const std::vector<std::string> names = packetsOfNode(packetNames, nodeBaseOf(flagName));
  if (otherNodeFlagExists(scan->flags, flagName)) {
    if (!scan->preview) leaveNodeFlag(&scan->flags);
    for (const std::string& name : names) {
      reportBusyPacket(joinPath(scan->directoryPath, name), scan);
    }
    return true;
  }
  if (!finishPackets(names, origin, scan)) {
    if (!scan->preview) leaveNodeFlag(&scan->flags);
    return false;
  }
  if (scan->preview) {
    scan->finishedInPreview[nodeBaseOf(flagName)] = origin;
    return true;
  }
  return releaseNodeFlagOf(scan);
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
